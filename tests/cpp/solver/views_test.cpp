#include "solver/views.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

namespace tarvok::solver {
namespace {

/// A value written compactly: dicts as {k: v}, lists [..], tuples (..), ints
/// bare, floats with a point, None, texts quoted.
std::string show(const json::Value& t) {
    std::ostringstream out;
    switch (t.kind()) {
    case json::Value::Kind::Null: out << "None"; break;
    case json::Value::Kind::Boolean: out << (t.boolean() ? "True" : "False"); break;
    case json::Value::Kind::Integer: out << t.integer(); break;
    case json::Value::Kind::Number: out << t.number() << (t.number() == std::floor(t.number()) ? ".0" : ""); break;
    case json::Value::Kind::String: out << "'" << t.text() << "'"; break;
    case json::Value::Kind::Array: {
        bool tuple = t.shape() == json::Value::Shape::Tuple;
        out << (tuple ? "(" : "[");
        for (size_t k = 0; k < t.items().size(); ++k) out << (k ? ", " : "") << show(t.items()[k]);
        out << (tuple ? ")" : "]");
        break;
    }
    case json::Value::Kind::Object: {
        out << "{";
        for (size_t k = 0; k < t.members().size(); ++k)
            out << (k ? ", " : "") << t.members()[k].first << ": " << show(t.members()[k].second);
        out << "}";
        break;
    }
    }
    return out.str();
}

std::vector<std::string> keys(const json::Value& t) {
    std::vector<std::string> out;
    for (const auto& [key, value] : t.members()) out.push_back(key);
    return out;
}

const char* kIndexed =
    "dvar int+ n[1..2][1..3];\ndvar float+ y;\ndexpr int both = n[1][1] + n[2][3];\nminimize y;\n"
    "subject to {\n  lim: y <= 4;\n  forall(i in 1..2, j in 1..3) pair: n[i][j] <= i + j;\n"
    "  forall(i in 1..2) row: y + n[i][1] >= 1;\n}\n";

TEST(Views, ValuesNestOverTheIndexSetsAndRoundWhatIsInteger) {
    auto p = instantiate(kIndexed, "");
    std::vector<double> x = {1.0000000001, 2, 3, 4, 5, 5.9999999999, -1e-12};
    EXPECT_EQ(show(solution_values(*p, x)), "{n: [[1, 2, 3], [4, 5, 6]], y: 0.0, both: 7}");
    EXPECT_EQ(show(variable_list(*p)),
              "[{name: 'n', first_column: 0, shape: (2, 3), integer: True, line: 1}, "
              "{name: 'y', first_column: 6, shape: (), integer: False, line: 2}]");
    EXPECT_EQ(show(column_key_list(*p).items()[5]), "('2', '3')");
    EXPECT_EQ(show(column_key_list(*p).items()[6]), "()");
}

TEST(Views, NumbersAsReported) {
    EXPECT_EQ(show(reported_number(-0.0, false)), "0.0");
    EXPECT_EQ(show(reported_number(2.6, true)), "3");
    // Beyond the integers a float holds exactly, an integer stays a float.
    EXPECT_EQ(reported_number(1e16, true).kind(), json::Value::Kind::Number);
    EXPECT_EQ(show(figure(std::numeric_limits<double>::infinity())), "None");
    EXPECT_EQ(show(figure(std::nan(""))), "None");
}

Solved solved_with_figures(const char* model, const std::vector<double>& x, const SolverFigures& f) {
    Solved s;
    s.program = instantiate(model, "");
    s.outcome.status = Status::Optimal;
    s.outcome.has_solution = true;
    s.outcome.x = x;
    s.sensitivity = shape_sensitivity(*s.program, x, f, false);
    return s;
}

TEST(Views, FiguresNestByTheForallValuesInModelOrder) {
    SolverFigures f;
    // Rows: pair[1][1..3], pair[2][1..3], row[1], row[2]; lim folds into y's bound.
    f.row_dual = {0, 0, 0, 0, 0, 0, 1, 2};
    f.column_dual = {0, 0, 0, 0, 0, 0, 0.5};
    Solved s = solved_with_figures(kIndexed, {1, 2, 3, 4, 5, 6, 0}, f);
    // Each row's dual its place among the figures: the rows row[1] and row[2],
    // then lim and pair, which became bounds; the view lists them in model order.
    for (size_t k = 0; k < s.sensitivity->rows.size(); ++k) s.sensitivity->rows[k].dual = 10.0 * k;
    EXPECT_EQ(
        show(s.duals()),
        "{lim: 20.0, pair: {1: {1: 30.0, 2: 40.0, 3: 50.0}, 2: {1: 60.0, 2: 70.0, 3: 80.0}}, row: {1: 0.0, 2: 10.0}}");
    EXPECT_EQ(show(s.activities()).substr(0, 30), "{lim: 0.0, pair: {1: {1: 1.0, ");
    EXPECT_EQ(show(s.reduced_costs(Labels::Positions)), "{n: [[0.0, 0.0, 0.0], [0.0, 0.0, 0.0]], y: 0.5}");
    EXPECT_EQ(s.ranging().kind(), json::Value::Kind::Null);  // not asked for
    EXPECT_EQ(show(s.sensitivity_basis()), "'lp'");
    EXPECT_EQ(keys(s.to_dict()), (std::vector<std::string>{"status", "objective", "values", "infeasible_constraints",
                                                           "message", "statistics", "sensitivity_basis", "duals",
                                                           "reduced_costs", "activities", "slacks", "ranging"}));
    // Nested, values and reduced costs keep their places in index-set order.
    json::Value nested = s.to_dict(true);
    EXPECT_EQ(keys(nested), keys(s.to_dict()));
    EXPECT_EQ(show(*nested.find("reduced_costs")), show(s.reduced_costs(Labels::Positions)));
    EXPECT_EQ(show(*nested.find("values")), show(s.nested_values()));
}

TEST(Views, TheAnswerIsAScalarNumberNamedAnswerOnly) {
    auto solution = [](const char* model, std::vector<double> x) {
        Solved s;
        s.program = instantiate(model, "");
        s.outcome.status = Status::Optimal;
        s.outcome.has_solution = true;
        s.outcome.x = std::move(x);
        return s;
    };
    const char* named = "dvar float+ x;\ndexpr float answer = 2 * x;\nmaximize x;\nsubject to {\n  x <= 4;\n}\n";
    EXPECT_EQ(show(solution(named, {4}).answer()), "8.0");
    EXPECT_TRUE(solution(kIndexed, {1, 2, 3, 4, 5, 6, 0}).answer().is_null());  // `both`, no `answer`
    Solved none = solution(named, {});
    none.outcome.has_solution = false;
    EXPECT_TRUE(none.answer().is_null());
}

TEST(Views, ARangeNamesItsEndsAndLeavesOpenEndsNone) {
    SolverFigures f;
    f.row_dual = {2};
    f.column_dual = {0};
    f.has_ranging = true;
    double inf = std::numeric_limits<double>::infinity();
    f.cost_up = {{inf, inf, -1, -1}};
    f.cost_down = {{1, 4, 1, 0}};  // entering: the row, leaving: the column
    f.bound_up = {{inf, inf, -1, -1}};
    f.bound_down = {{0, 0, -1, -1}};
    Solved s = solved_with_figures("dvar float+ x;\nmaximize x;\nsubject to {\n  cap: x <= 4;\n}\n", {4}, f);
    std::string costs =
        show(s.ranging().find("costs")->find("x") ? *s.ranging().find("costs")->find("x") : json::Value());
    EXPECT_NE(costs.find("high: None"), std::string::npos) << costs;
    EXPECT_NE(costs.find("entering_at_high: None"), std::string::npos) << costs;
    // The one constraint became x's bound; the reduced cost says it holds
    // nothing, so its dual (zero) holds from its activity up.
    EXPECT_EQ(show(*s.ranging().find("rhs")).substr(0, 27), "{cap: {low: 4.0, high: None");
}

TEST(Views, AConstraintStatedPartlyAsRowsPartlyAsBoundsKeepsItsOrder) {
    SolverFigures f;
    f.row_dual = {0};
    f.column_dual = {0, 0, 0};
    // mix[1] has no columns left, mix[2] is a bound of x[2], mix[3] a row.
    Solved s = solved_with_figures(
        "dvar float+ x[1..3];\nminimize x[1];\nsubject to {\n  forall(i in 1..3) mix: x[i] + (i - 2) * x[1] <= 5;\n}\n",
        {1, 1, 1}, f);
    ASSERT_EQ(s.program->rows(), 1u);
    EXPECT_EQ(show(s.slacks()), "{mix: {1: 5.0, 2: 4.0, 3: 3.0}}");
}

TEST(Views, ResultsWithoutASolutionOrFiguresShowNone) {
    Solved s;
    s.program = instantiate("dvar float+ x;\nminimize x;\nsubject to {\n  c: x <= -1;\n}\n", "");
    s.outcome = *settle_without_solver(*s.program);
    EXPECT_EQ(show(s.objective()), "None");
    EXPECT_EQ(show(s.nested_values()), "{}");
    EXPECT_EQ(show(s.duals()), "None");
    EXPECT_EQ(show(s.infeasible()).substr(0, 30), "[{name: 'x', line: 1, kind: 'b");
    EXPECT_EQ(keys(s.to_dict()).size(), 6u);  // no sensitivity keys
    EXPECT_EQ(s.repr("None"), "<SolveResult infeasible>");
}

TEST(Views, StatisticsNameTheSolversCountersOnlyWhenOneRan) {
    auto p = instantiate(kIndexed, "");
    SolveReport settled;
    EXPECT_EQ(keys(solve_statistics(*p, settled)).back(), "mip_gap");
    SolveReport ran;
    ran.used_solver = true;
    ran.counts.simplex_iterations = 9;
    ran.counts.mip_nodes = 4;
    json::Value s = solve_statistics(*p, ran);
    EXPECT_EQ(s.find("best_bound"), nullptr);  // NaN: no bound to show
    EXPECT_EQ(show(*s.find("mip_nodes")), "4");
    EXPECT_EQ(show(*s.find("threads")), "None");
    auto lp = instantiate("dvar float+ x;\nminimize x;\nsubject to {\n  c: x >= 1;\n}\n", "");
    ran.outcome.best_bound = 1;
    json::Value t = solve_statistics(*lp, ran);
    EXPECT_EQ(show(*t.find("mip_nodes")), "None");  // an LP has no nodes
    EXPECT_EQ(show(*t.find("best_bound")), "1.0");
}

}  // namespace
}  // namespace tarvok::solver
