// The instantiation core: layout, names, bounds, folding, conflicts and the
// faults only the data reveals.
#include "solver/outcome.hpp"
#include "solver/program.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace tarvok::solver;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

std::unique_ptr<Program> build(const std::string& model, const std::string& data = "",
                               InstantiateOptions options = {}) {
    try {
        return instantiate(model, data, options);
    } catch (const tarvok::Error& e) {
        ADD_FAILURE() << e.message();
        throw;
    }
}

std::string failure(const std::string& model, const std::string& data = "", InstantiateOptions options = {}) {
    try {
        instantiate(model, data, options);
    } catch (const tarvok::Error& e) {
        return e.message();
    }
    return "(no error)";
}

/// Row `i` as column name -> coefficient.
std::map<std::string, double> row(const Program& p, uint32_t i) {
    std::map<std::string, double> out;
    for (int32_t k = p.row_starts[i]; k < p.row_starts[i + 1]; ++k) out[p.column_name(p.col_indices[k])] = p.values[k];
    return out;
}

std::vector<std::string> row_names(const Program& p) {
    std::vector<std::string> out;
    for (uint32_t i = 0; i < p.rows(); ++i) out.push_back(p.row_name(i));
    return out;
}

const char* kTransport = R"(
{string} Plants = ...;
{string} Markets = ...;
float capacity[Plants] = ...;
float demand[Markets] = ...;
float cost[Plants][Markets] = ...;
dvar float+ ship[Plants][Markets];
dvar int+ trucks[Plants] in 1..4;
dvar boolean open[Plants];
minimize sum(p in Plants, m in Markets) cost[p][m] * ship[p][m] + 100;
subject to {
  forall(p in Plants)
    plantCapacity: sum(m in Markets) ship[p][m] <= capacity[p] * open[p];
  forall(m in Markets)
    demand[m] <= sum(p in Plants) ship[p][m];
}
)";

const char* kTransportData = R"(
Plants = {"Aalborg", "Bergen"};
Markets = {"Copenhagen", "Oslo", "Kiel"};
capacity = [350, 600];
demand = [325, 300, 275];
cost = [[2.5, 1.7, 1.8], [2.5, 1.8, 1.4]];
)";

}  // namespace

TEST(Layout, ColumnsFollowDeclarationsRowByRow) {
    auto p = build(kTransport, kTransportData);
    ASSERT_EQ(p->columns(), 6u + 2u + 2u);
    EXPECT_EQ(p->column_name(0), "ship[Aalborg][Copenhagen]");
    EXPECT_EQ(p->column_name(1), "ship[Aalborg][Oslo]");
    EXPECT_EQ(p->column_name(3), "ship[Bergen][Copenhagen]");
    EXPECT_EQ(p->column_name(7), "trucks[Bergen]");
    EXPECT_EQ(p->column_name(9), "open[Bergen]");
    // Bounds from the domains: float+, int+ within 1..4, boolean.
    EXPECT_EQ(p->col_lower[0], 0);
    EXPECT_EQ(p->col_upper[0], kInf);
    EXPECT_EQ(p->col_lower[6], 1);
    EXPECT_EQ(p->col_upper[6], 4);
    EXPECT_EQ(p->col_lower[8], 0);
    EXPECT_EQ(p->col_upper[8], 1);
    EXPECT_EQ(std::vector<uint8_t>(p->integrality.begin(), p->integrality.end()),
              (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 1, 1, 1, 1}));
    EXPECT_EQ(p->integer_columns(), 4u);
    EXPECT_EQ(p->cost[1], 1.7);
    EXPECT_EQ(p->cost[6], 0);
    EXPECT_EQ(p->offset, 100);
    EXPECT_EQ(p->sense, Sense::Minimize);
}

TEST(Layout, RowsAreNamedAndOrientedForReading) {
    auto p = build(kTransport, kTransportData);
    EXPECT_EQ(row_names(*p), (std::vector<std::string>{"plantCapacity[Aalborg]", "plantCapacity[Bergen]",
                                                       "c15[Copenhagen]", "c15[Oslo]", "c15[Kiel]"}));
    // The capacity term moves to the left: ship - 350 open <= 0.
    EXPECT_EQ(row(*p, 0), (std::map<std::string, double>{{"ship[Aalborg][Copenhagen]", 1},
                                                         {"ship[Aalborg][Oslo]", 1},
                                                         {"ship[Aalborg][Kiel]", 1},
                                                         {"open[Aalborg]", -350}}));
    EXPECT_EQ(p->row_lower[0], -kInf);
    EXPECT_EQ(p->row_upper[0], 0);
    // `demand <= sum` is turned around into `sum >= demand`.
    EXPECT_EQ(row(*p, 4), (std::map<std::string, double>{{"ship[Aalborg][Kiel]", 1}, {"ship[Bergen][Kiel]", 1}}));
    EXPECT_EQ(p->row_lower[4], 275);
    EXPECT_EQ(p->row_upper[4], kInf);
    EXPECT_EQ(p->row_line(0), 13u);
    EXPECT_EQ(p->row_line(2), 15u);

    CscMatrix m = p->csc();
    ASSERT_EQ(m.starts.size(), p->columns() + 1);
    EXPECT_EQ(m.starts.back(), static_cast<int32_t>(p->nonzeros()));
    // ship[Bergen][Kiel] (column 5): plantCapacity[Bergen] and the Kiel demand row.
    EXPECT_EQ(std::vector<int32_t>(m.rows.begin() + m.starts[5], m.rows.begin() + m.starts[6]),
              (std::vector<int32_t>{1, 4}));
    // The kept transpose is that matrix, made once however many threads ask.
    std::vector<const CscMatrix*> seen(4);
    std::vector<std::thread> readers;
    for (size_t t = 0; t < seen.size(); ++t) readers.emplace_back([&, t] { seen[t] = &p->columnwise(); });
    for (std::thread& t : readers) t.join();
    for (const CscMatrix* kept : seen) EXPECT_EQ(kept, &p->columnwise());
    EXPECT_EQ(p->columnwise().starts, m.starts);
    EXPECT_EQ(p->columnwise().rows, m.rows);
    EXPECT_EQ(p->columnwise().values, m.values);
}

TEST(Layout, RepeatedTermsAreSummedAndZerosDropped) {
    auto p = build(
        "dvar float x;\ndvar float y;\ndvar float z[1..3];\nsubject to {\n"
        "  total: x + x + 2 * y - y * 2 + sum(i in 1..3) (i - 2) * z[i] <= 4 - x;\n"
        "  2 <= 0.5 * (x + y) + 1 <= 7;\n}");
    ASSERT_EQ(p->rows(), 2u);
    EXPECT_EQ(row(*p, 0), (std::map<std::string, double>{{"x", 3}, {"z[1]", -1}, {"z[3]", 1}}));
    EXPECT_EQ(p->row_upper[0], 4);
    // A range is one row with both sides, the constant moved out.
    EXPECT_EQ(row(*p, 1), (std::map<std::string, double>{{"x", 0.5}, {"y", 0.5}}));
    EXPECT_EQ(p->row_lower[1], 1);
    EXPECT_EQ(p->row_upper[1], 6);
    EXPECT_EQ(p->row_name(1), "c6");
}

TEST(Layout, UnlabelledConstraintsSharingALineGetTheirColumn) {
    auto p = build("dvar float x;\ndvar float y;\nsubject to {\n x + y >= 1; x - y <= 2;\n c5: x + 2 * y <= 9;\n}");
    EXPECT_EQ(row_names(*p), (std::vector<std::string>{"c4_2", "c4_14", "c5"}));
}

TEST(Layout, TupleAndNumberKeysInNames) {
    auto p = build(
        "tuple Arc { string from; string to; float cost; }\n{Arc} Arcs = ...;\n{float} Sizes = {0.5, 2};\n"
        "dvar float+ flow[Arcs];\ndvar float pick[Sizes];\n"
        "minimize sum(a in Arcs) a.cost * flow[a];\nsubject to {\n"
        "  forall(a in Arcs, s in Sizes: a.cost > 1) link: flow[a] + pick[s] <= s;\n}",
        "Arcs = {<\"A\", \"B\", 2>, <\"B\", \"C\", 0.5>};");
    EXPECT_EQ(p->column_name(0), "flow[<A,B,2.0>]");
    EXPECT_EQ(p->column_name(2), "pick[0.5]");
    EXPECT_EQ(row_names(*p), (std::vector<std::string>{"link[<A,B,2.0>][0.5]", "link[<A,B,2.0>][2.0]"}));
    EXPECT_EQ(p->cost[0], 2);
    EXPECT_EQ(p->cost[1], 0.5);
}

TEST(Layout, InstancesOverDeclaredSetsAreToldByPosition) {
    // The same families, once over declared sets alone (told by position,
    // no values stored) and once behind a condition that always holds (values
    // stored): names of rows, of folded bounds' sources and of conflicts agree.
    const std::string model =
        "tuple Arc { string from; string to; }\n{Arc} Arcs = ...;\n{string} Kinds = {\"a\", \"b\", \"c\"};\n"
        "range R = 2..4;\n{float} Sizes = {0.5, 2};\n"
        "dvar float+ flow[Arcs][Kinds];\ndvar float pick[R][Sizes];\nminimize sum(a in Arcs, k in Kinds) flow[a][k];\n"
        "subject to {\n"
        "  forall(a in Arcs, k in Kinds WHEN) forall(r in R WHEN) link: flow[a][k] + pick[r][0.5] <= r;\n"
        "  forall(r in R, s in Sizes WHEN) cap: 2 * pick[r][s] <= r + s;\n"
        "  forall(r in R WHEN) never: 0 * pick[r][2] >= r;\n}";
    auto with = [&](const std::string& when) {
        std::string text = model;
        for (size_t at; (at = text.find("WHEN")) != std::string::npos;) text.replace(at, 4, when);
        return build(text, "Arcs = {<\"A\", \"B\">, <\"B\", \"C\">};");
    };
    auto told = with(""), stored = with(": 1 == 1");
    ASSERT_TRUE(told->positional(0) && told->positional(1) && told->positional(2));
    ASSERT_FALSE(stored->positional(0));
    EXPECT_TRUE(told->keys.empty());
    EXPECT_FALSE(stored->keys.empty());
    ASSERT_EQ(told->rows(), 2u * 3 * 3 + 3);  // the false constants stay as empty rows
    EXPECT_EQ(row_names(*told), row_names(*stored));
    EXPECT_EQ(told->row_name(0), "link[<A,B>][a][2]");
    EXPECT_EQ(told->row_name(17), "link[<B,C>][c][4]");
    EXPECT_EQ(told->instance_keys(told->row_origin[5]), (std::vector<std::string>{"<A,B>", "b", "4"}));
    ASSERT_EQ(told->folded.size(), 6u);
    for (uint32_t k = 0; k < 6; ++k)
        EXPECT_EQ(told->instance_name(told->folded[k].origin), stored->instance_name(stored->folded[k].origin));
    EXPECT_EQ(told->instance_name(told->folded[3].origin), "cap[3][2.0]");
    ASSERT_EQ(told->conflicts.size(), 3u);
    for (uint32_t k = 0; k < 3; ++k) EXPECT_EQ(told->conflicts[k].name, stored->conflicts[k].name);
    EXPECT_EQ(told->conflicts[2].name, "never[4]");
}

TEST(Dexprs, ExpandedWhereUsedAndKeptForReporting) {
    auto p = build(
        "dvar float x;\ndvar float y;\ndexpr float k = 3;\ndexpr float total = k * x + 2 * y + 1;\n"
        "dexpr float twice = 2 * total - x;\n"
        "maximize twice;\nsubject to {\n total <= 10;\n}");
    ASSERT_EQ(p->dexprs.size(), 3u);
    const LinearForm& twice = p->dexprs[2].form;
    double x[] = {1, 2};
    EXPECT_EQ(p->dexprs[1].form.value(x), 3 + 4 + 1);
    EXPECT_EQ(twice.value(x), 2 * 8 - 1);
    EXPECT_EQ(p->sense, Sense::Maximize);
    EXPECT_EQ(p->cost, (std::vector<double>{5, 4}));
    EXPECT_EQ(p->offset, 2);
    EXPECT_EQ(row(*p, 0), (std::map<std::string, double>{{"x", 3}, {"y", 2}}));
    EXPECT_EQ(p->row_upper[0], 9);
}

TEST(Bounds, SingleColumnConstraintsBecomeBoundsThatRememberTheirSource) {
    auto p = build(
        "float u[1..3] = [4, 5, 6];\ndvar float+ x[1..3];\nminimize sum(i in 1..3) x[i];\nsubject to {\n"
        "  forall(i in 1..3) cap: 2 * x[i] <= u[i];\n  low: -x[2] <= -1;\n  x[1] + x[2] >= 1;\n}");
    EXPECT_EQ(p->rows(), 1u);
    EXPECT_EQ(p->col_upper, (std::vector<double>{2, 2.5, 3}));
    EXPECT_EQ(p->col_lower, (std::vector<double>{0, 1, 0}));
    // An irreducible subset naming x[2]'s bounds names the constraints that set them.
    auto culprits = p->explain({0}, {1, 0}, {4, 2});
    ASSERT_EQ(culprits.size(), 4u);
    EXPECT_EQ(culprits[0].name, "c7");
    EXPECT_EQ(culprits[1].name, "low");
    EXPECT_EQ(culprits[2].name, "cap[2]");
    EXPECT_EQ(culprits[2].line, 5u);
    EXPECT_EQ(culprits[3].name, "x[1]");
    EXPECT_EQ(culprits[3].kind, Culprit::Kind::Bound);

    InstantiateOptions keep;
    keep.fold_bounds = false;
    EXPECT_EQ(build("dvar float x;\nsubject to {\n x <= 3;\n}", "", keep)->rows(), 1u);
}

TEST(Conflicts, FalseConstantsAndCrossingBoundsAreNamed) {
    auto p = build(
        "int n = 2;\ndvar float+ x;\ndvar int y in 0..5;\nsubject to {\n"
        "  forall(i in 1..3) enough: i * n - x + x >= 5;\n  top: y >= 7;\n  x + y <= 1;\n}");
    // enough[1] and enough[2] are false; enough[3] holds and is dropped.
    ASSERT_EQ(p->conflicts.size(), 4u);
    EXPECT_EQ(p->conflicts[0].name, "enough[1]");
    EXPECT_EQ(p->conflicts[1].name, "enough[2]");
    EXPECT_EQ(p->conflicts[0].line, 5u);
    // y's lower bound 7 from `top` against its declared upper bound 5.
    EXPECT_EQ(p->conflicts[2].name, "top");
    EXPECT_EQ(p->conflicts[3].name, "y");
    EXPECT_EQ(p->conflicts[3].kind, Culprit::Kind::Bound);
    // The false constants stay as empty rows, so a written file is infeasible too.
    ASSERT_EQ(p->rows(), 3u);
    EXPECT_EQ(p->row_starts[1], 0);
    EXPECT_EQ(p->row_lower[0], 3);
    auto settled = settle_without_solver(*p);
    ASSERT_TRUE(settled);
    EXPECT_EQ(settled->status, Status::Infeasible);
}

TEST(Conflicts, BoundsThatCrossOnlyByRoundingAreFixed) {
    auto p = build("dvar float x;\nsubject to {\n x >= 0.1 + 0.2;\n 10 * x <= 3;\n}");
    EXPECT_EQ(p->rows(), 0u);
    EXPECT_TRUE(p->conflicts.empty());
    EXPECT_EQ(p->col_lower[0], p->col_upper[0]);
}

TEST(EdgeCases, EmptySetsUnusedVariablesAndConstantObjectives) {
    auto p = build(
        "{string} None = {};\ndvar float x[None];\ndvar float unused[1..2];\nfloat k = 4;\n"
        "minimize k * 2;\nsubject to {\n forall(s in None) x[s] >= 1;\n sum(s in None) x[s] <= 3;\n}");
    EXPECT_EQ(p->columns(), 2u);
    EXPECT_EQ(p->rows(), 0u);
    EXPECT_EQ(p->offset, 8);
    EXPECT_TRUE(p->conflicts.empty());
    auto empty = build("float k = 1;\nminimize k + 1;");
    auto settled = settle_without_solver(*empty);
    ASSERT_TRUE(settled);
    EXPECT_EQ(settled->status, Status::Optimal);
    EXPECT_EQ(settled->objective, 2);
}

TEST(DataFaults, IndexFaultsReadAsTheCompilersOwn) {
    // With its checks cut short the compiler lets the model through; the
    // instantiation finds the fault and words it exactly as the full check.
    const std::string model =
        "range I = 1..3;\nfloat w[I] = [1, 2, 3];\ndvar float x[I];\nminimize sum(i in I) x[i];\n"
        "subject to {\n  forall(i in I) step: x[i + 1] - x[i] >= w[i];\n}";
    auto full = tarvok::compiler::compile(model, "");
    ASSERT_FALSE(full->ok());
    InstantiateOptions unchecked;
    unchecked.compile.check_instance = false;
    EXPECT_EQ(failure(model, "", unchecked), full->report());
    EXPECT_NE(full->report().find("model:6:26: index 'i + 1' = 4 of 'x' is outside 'I' (1..3), when i = 3"),
              std::string::npos)
        << full->report();
}

TEST(DataFaults, ZeroDivisorsAndNumbersTooLargeAreLocated) {
    const std::string model =
        "float d[1..2] = [2, 0];\ndvar float x[1..2];\nsubject to {\n"
        "  forall(i in 1..2) x[i] / d[i] <= 1;\n}";
    auto full = tarvok::compiler::compile(model, "");
    InstantiateOptions unchecked;
    unchecked.compile.check_instance = false;
    EXPECT_EQ(failure(model, "", unchecked), full->report());
    EXPECT_NE(full->report().find("division by zero in data: the divisor 'd[i]' is 0, when i = 2"), std::string::npos);

    // Past the largest float, and (long before) at the solver's infinity.
    std::string factors;
    for (int k = 0; k < 17; ++k) factors += "h * ";
    std::string inf = failure("float h = 1e19;\ndvar float x;\nminimize " + factors + "x;");
    EXPECT_NE(inf.find("model:3:10: the coefficient of 'x' in 'h * h * h"), std::string::npos) << inf;
    EXPECT_NE(inf.find("is too large for a float"), std::string::npos) << inf;
    std::string big = failure("float h = 1e19;\ndvar float x;\nminimize h * h * x;");
    EXPECT_NE(big.find("model:3:10: the coefficient of 'x' in 'h * h * x' is at or beyond 1e20, which the solver "
                       "reads as infinity"),
              std::string::npos)
        << big;
    std::string sum = failure("float h = 6e19;\ndvar float x;\nsubject to {\n h * x + h * x <= 1;\n}");
    EXPECT_NE(sum.find("model:4:2: the coefficient of 'x' in 'h * x + h * x' is at or beyond 1e20"), std::string::npos)
        << sum;
    std::string constant = failure("float h = 6e19;\ndvar float x;\nsubject to {\n x + h <= -h;\n}");
    EXPECT_NE(constant.find("model:4:2: the constant part of 'x + h' is at or beyond 1e20"), std::string::npos)
        << constant;
    std::string side = failure("float h = 6e19;\ndvar float x;\nsubject to {\n -h <= x + h <= 1;\n}");
    EXPECT_NE(side.find("model:4:2: a side of '-h' is at or beyond 1e20"), std::string::npos) << side;
    // A bound from a row over one variable that would reach the solver's infinity stays a row.
    auto folded = build("dvar float x;\nsubject to {\n 1e-10 * x <= 1e11;\n}");
    EXPECT_EQ(folded->rows(), 1u);
    EXPECT_EQ(folded->col_upper[0], kInf);
}

TEST(DataFaults, CompileErrorsAndRunawaySizesStopWithAReport) {
    try {
        instantiate("dvar float x;\nminimize y;", "");
        FAIL();
    } catch (const tarvok::Error& e) {
        EXPECT_FALSE(e.compiled());
        EXPECT_NE(e.message().find("undeclared name 'y'"), std::string::npos) << e.message();
    }
    InstantiateOptions small;
    small.max_steps = 1000;
    std::string slow =
        failure("dvar float x[1..100];\nsubject to {\n forall(i in 1..100, j in 1..100) x[i] <= j;\n}", "", small);
    EXPECT_NE(slow.find("model:3:35: expanding the model takes too long"), std::string::npos) << slow;
    small = {};
    small.max_columns = 50;
    std::string wide = failure("dvar float x[1..10][1..6];", "", small);
    EXPECT_NE(wide.find("model:1:12: decision variable 'x' would have 60 elements, more than the size limit of 50 "
                        "columns"),
              std::string::npos)
        << wide;
}

TEST(Export, NamesFitTheFormatAndStayUnique) {
    InstantiateOptions keep;
    keep.fold_bounds = false;
    auto p = build(
        "{string} S = {\"a b\", \"a_b\", \"x-y\"};\ndvar float v[S];\nsubject to {\n"
        "  forall(s in S) pair: v[s] + v[\"a b\"] <= 1;\n}",
        "", keep);
    EXPECT_EQ(p->export_column_names(NameFormat::Lp), (std::vector<std::string>{"v(a_b)", "v(a_b)~2", "v(x_y)"}));
    EXPECT_EQ(p->export_column_names(NameFormat::Mps), (std::vector<std::string>{"v[a_b]", "v[a_b]~2", "v[x-y]"}));
    EXPECT_EQ(p->export_row_names(NameFormat::Lp)[2], "pair(x_y)");
}

TEST(Report, ValuesGroupedByVariable) {
    auto p = build(kTransport, kTransportData);
    Outcome o;
    o.status = Status::Optimal;
    o.has_solution = true;
    o.objective = 1234.5;
    o.x = {0, 300, 25, 325, 0, 275, 2.0000001, 1, 1, -1e-12};
    std::string text = solution_report(*p, o);
    EXPECT_NE(text.find("Status: optimal\nObjective: 1234.5\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nship\n  Plants  Markets    value\n  Aalborg Oslo       300\n  Aalborg Kiel       25\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\ntrucks\n  Plants  value\n  Aalborg 2\n  Bergen  1\n"), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.rfind("\nopen\n")), "\nopen\n  Plants  value\n  Aalborg 1\n");
}

TEST(Statuses, HighsStatusesMapToOurWords) {
    EXPECT_STREQ(status_word(status_from_highs("kOptimal")), "optimal");
    EXPECT_STREQ(status_word(status_from_highs("kUnboundedOrInfeasible")), "infeasible_or_unbounded");
    EXPECT_STREQ(status_word(status_from_highs("kTimeLimit")), "time_limit");
    EXPECT_STREQ(status_word(status_from_highs("kIterationLimit")), "error");
    EXPECT_STREQ(status_word(status_from_highs("kInterrupt")), "error");
    EXPECT_EQ(reported_value(-1e-12, false), 0);
    EXPECT_EQ(reported_value(2.9999999, true), 3);
}

TEST(Limits, TheSizeLimitHoldsWhileBuilding) {
    // A family the compiler cannot count in its steps: building stops at the limit, with the compiler's message.
    InstantiateOptions options;
    options.compile.sizes = {10'000, 1'000, 100'000};
    options.compile.size_steps = 1'000;
    std::string rows = failure(
        "range I = 1..100;\ndvar float x[I];\nsubject to {\n  forall(i in I, j in I: i < j) c: x[i] <= x[j];\n}", "",
        options);
    EXPECT_NE(rows.find(": the constraint 'c' would have at least 1001 instances, bringing the model's rows to 1001, "
                        "more than the size limit of 1000 rows; use smaller sets, or raise the size limit"),
              std::string::npos)
        << rows;
    // Nonzeros the compiler's estimate cannot see (a sum with a condition), stopped as they pass the limit.
    options.compile.sizes = {10'000, 10'000, 2'000};
    std::string nonzeros = failure(
        "range I = 1..100;\ndvar float x[I];\nsubject to {\n  forall(i in I) s: sum(j in I: j != i) x[j] >= 1;\n}", "",
        options);
    EXPECT_NE(nonzeros.find("the constraint 's' would have at least 2079 nonzero coefficients, bringing the model's "
                            "nonzeros to 2079, more than the size limit of 2000 nonzeros"),
              std::string::npos)
        << nonzeros;
}

TEST(Normalised, IntegerBoundsRoundInwardWithinOneRule) {
    EXPECT_EQ(inward_integer_bound(0.5, true), 1);
    EXPECT_EQ(inward_integer_bound(10.5, false), 10);
    EXPECT_EQ(inward_integer_bound(-0.5, true), 0);
    EXPECT_FALSE(std::signbit(inward_integer_bound(-0.5, true)));
    EXPECT_EQ(inward_integer_bound(-2.5, false), -3);
    // Within rounding of an integer: that integer, whichever side it lies on.
    EXPECT_EQ(inward_integer_bound(3 - 1e-12, true), 3);
    EXPECT_EQ(inward_integer_bound(3 + 1e-12, false), 3);
    EXPECT_EQ(inward_integer_bound(3 + 1e-7, true), 4);
    // The tolerance stops at 1e-6, so large bounds never round outward.
    EXPECT_EQ(inward_integer_bound(1e12 + 0.5, true), 1e12 + 1);
    EXPECT_EQ(inward_integer_bound(-kInf, true), -kInf);

    auto p = build(
        "dvar int m in 0.5..10.5;\ndvar float f in 0.5..10.5;\ndvar boolean b;\n"
        "subject to {\n  half: b >= 0.5;\n  m + f + b <= 30;\n}");
    EXPECT_EQ(p->col_lower[0], 1);
    EXPECT_EQ(p->col_upper[0], 10);
    EXPECT_EQ(p->col_lower[1], 0.5);  // a float column keeps its bounds
    EXPECT_EQ(p->col_lower[2], 1);
    EXPECT_TRUE(p->conflicts.empty());

    // Bounds with no integer between them make the program infeasible, by name.
    auto q = build("dvar int m in 3.6..3.9;\ndvar int k in 0..9;\nsubject to {\n  cap: 2 * k <= 1.5;\n  k >= 0.2;\n}");
    ASSERT_EQ(q->conflicts.size(), 3u);
    EXPECT_EQ(q->conflicts[0].name, "m");
    EXPECT_EQ(q->conflicts[0].kind, Culprit::Kind::Bound);
    EXPECT_EQ(q->conflicts[0].line, 1u);
    EXPECT_EQ(q->conflicts[1].name, "c5");
    EXPECT_EQ(q->conflicts[2].name, "cap");
}

TEST(Normalised, CrossingRowSidesAreConflicts) {
    auto p = build(
        "dvar float x in 0..10;\ndvar float y in 0..10;\nsubject to {\n  5 <= x + y <= 3;\n"
        "  forall(i in 1..2) r: i <= x - y <= 1.5;\n  0.1 + 0.2 <= x + 2 * y <= 0.3;\n}");
    ASSERT_EQ(p->conflicts.size(), 2u);
    EXPECT_EQ(p->conflicts[0].name, "c4");
    EXPECT_EQ(p->conflicts[0].line, 4u);
    EXPECT_EQ(p->conflicts[1].name, "r[2]");
    EXPECT_EQ(p->conflicts[1].line, 5u);
    // Sides that cross only by rounding make an equation.
    EXPECT_EQ(p->row_lower[3], p->row_upper[3]);
    auto settled = settle_without_solver(*p);
    ASSERT_TRUE(settled);
    EXPECT_EQ(settled->status, Status::Infeasible);
}

TEST(OpenStatus, FurtherSolvesSettleInfeasibleOrUnbounded) {
    // A fake solver: the status each attempt reaches, and the attempts made.
    auto settle = [](Status first, bool integer, std::map<Attempt, std::optional<Status>> reached) {
        std::vector<Attempt> made;
        Status s = settle_open_status(first, integer, [&](Attempt a) {
            made.push_back(a);
            return reached.count(a) ? reached[a] : std::optional<Status>(Status::InfeasibleOrUnbounded);
        });
        return std::make_pair(s, made);
    };
    using A = Attempt;
    EXPECT_EQ(settle(Status::Optimal, true, {}).second.size(), 0u);
    auto [s1, made1] = settle(Status::InfeasibleOrUnbounded, false, {{A::WithoutPresolve, Status::Unbounded}});
    EXPECT_EQ(s1, Status::Unbounded);
    EXPECT_EQ(made1, std::vector<Attempt>{A::WithoutPresolve});
    auto [s2, made2] = settle(Status::InfeasibleOrUnbounded, true, {{A::Relaxation, Status::Infeasible}});
    EXPECT_EQ(s2, Status::Infeasible);
    EXPECT_EQ(made2, (std::vector<Attempt>{A::WithoutPresolve, A::Relaxation}));
    // A feasible point with a direction of unlimited improvement: unbounded.
    auto [s3, made3] = settle(Status::InfeasibleOrUnbounded, true,
                              {{A::Relaxation, Status::Unbounded}, {A::FeasiblePoint, Status::Optimal}});
    EXPECT_EQ(s3, Status::Unbounded);
    EXPECT_EQ(made3.back(), A::FeasiblePoint);
    EXPECT_EQ(settle(Status::InfeasibleOrUnbounded, false, {{A::FeasiblePoint, Status::Infeasible}}).first,
              Status::Infeasible);
    // Out of time, or no answer: the status stays open.
    EXPECT_EQ(settle(Status::InfeasibleOrUnbounded, true, {{A::WithoutPresolve, std::nullopt}}).first,
              Status::InfeasibleOrUnbounded);
    EXPECT_EQ(settle(Status::InfeasibleOrUnbounded, false, {{A::FeasiblePoint, Status::TimeLimit}}).first,
              Status::InfeasibleOrUnbounded);
}

TEST(Check, AFaultOnlyTheExpansionMeetsLandsInTheCompilationWhenExpanding) {
    const std::string model = "float h = 1e19;\ndvar float x;\nminimize h * h * x;";
    for (bool expand : {false, true}) {
        bool compiled = false;
        std::shared_ptr<Source> s = check_source(model, "", {}, expand, compiled);
        EXPECT_TRUE(compiled);
        EXPECT_EQ(s->compilation->ok(), !expand) << s->compilation->report();
    }
    std::string why;
    EXPECT_EQ(instantiate_or_explain(compile_source(model, ""), {}, why), nullptr);
    EXPECT_EQ(why, failure(model));
    EXPECT_NE(instantiate_or_explain(compile_source("dvar float x;", ""), {}, why), nullptr);
    // Memory running out says which step it stopped.
    EXPECT_EQ(out_of_memory_message(3 << 10, false), "not enough memory to compile the model and data (3 KB of text)");
    EXPECT_EQ(out_of_memory_message(3 << 10, true), "not enough memory to expand the model into a program");
}
