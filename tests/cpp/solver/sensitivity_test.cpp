#include "solver/sensitivity.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tarvok::solver {
namespace {

// max 3x + 2y: cap x + y <= 4, lim x <= 3 (a bound of x), two[i] x + i y <= 10.
// At x = 3, y = 1: cap binds with dual 2, x sits at its bound with reduced cost 1.
const char* kModel =
    "dvar float+ x;\ndvar float+ y;\nmaximize profit: 3*x + 2*y;\nsubject to {\n  cap: x + y <= 4;\n"
    "  lim: x <= 3;\n  forall(i in 1..2) two: x + i*y <= 10;\n}\n";

SolverFigures figures_at_optimum() {
    SolverFigures f;
    f.row_dual = {2, 0, 0};
    f.column_dual = {1, 0};
    return f;
}

TEST(Sensitivity, RowsAndFoldedBoundsMapBackToTheirConstraints) {
    auto p = instantiate(kModel, "");
    ASSERT_EQ(p->rows(), 3u);
    Sensitivity s = shape_sensitivity(*p, {3, 1}, figures_at_optimum(), false);
    ASSERT_EQ(s.rows.size(), 4u);
    EXPECT_EQ(s.rows[0].name, "cap");
    EXPECT_TRUE(s.rows[0].binding);
    EXPECT_DOUBLE_EQ(s.rows[0].slack, 0);
    EXPECT_DOUBLE_EQ(s.rows[0].dual, 2);
    EXPECT_EQ(s.rows[2].keys, (std::vector<std::string>{"2"}));
    EXPECT_FALSE(s.rows[2].binding);
    EXPECT_DOUBLE_EQ(s.rows[2].slack, 5);
    // The folded constraint: x's bound, binding, its dual x's reduced cost.
    const RowFigures& lim = s.rows[3];
    EXPECT_EQ(lim.name, "lim");
    EXPECT_EQ(lim.bound_of, "x");
    EXPECT_TRUE(lim.binding);
    EXPECT_DOUBLE_EQ(lim.dual, 1);
    EXPECT_TRUE(std::isinf(lim.lower));
    EXPECT_DOUBLE_EQ(lim.upper, 3);
}

TEST(Sensitivity, AFoldedBoundAwayFromTheColumnHasNoDual) {
    auto p = instantiate(kModel, "");
    SolverFigures f = figures_at_optimum();
    f.column_dual = {0.5, 0};  // a stray figure for a column inside its bounds
    Sensitivity s = shape_sensitivity(*p, {2, 2}, f, false);
    EXPECT_FALSE(s.rows[3].binding);
    EXPECT_DOUBLE_EQ(s.rows[3].dual, 0);
    EXPECT_DOUBLE_EQ(s.rows[3].slack, 1);
}

TEST(Sensitivity, RangesNameTheirVariablesAndLooseRowsRangeToTheirActivity) {
    auto p = instantiate(kModel, "");
    SolverFigures f = figures_at_optimum();
    f.has_ranging = true;
    f.cost_up = {{1e300, 1e300, -1, -1}, {3, 12, 0, 3}};  // entering x, leaving row 1 (two[1])
    f.cost_down = {{2, 8, 0, 0}, {0, 9, 2, 1}};
    f.bound_up = {{6.5, 16, 2, 4}, {4, 11, -1, -1}, {8, 8, 0, 0}};
    f.bound_down = {{3, 9, 0, 1}, {3, 9, 2, 1}, {3, 9, 2, 1}};
    Sensitivity s = shape_sensitivity(*p, {3, 1}, f, false);
    ASSERT_TRUE(s.rows[0].rhs);
    EXPECT_DOUBLE_EQ(s.rows[0].rhs->high, 6.5);
    EXPECT_EQ(s.rows[0].rhs->entering_at_high, "cap");
    EXPECT_EQ(s.rows[0].rhs->leaving_at_high, "two[2]");
    EXPECT_EQ(s.rows[0].rhs->leaving_at_low, "y");
    // two[2] does not bind: its side may fall to the activity and rise without limit.
    ASSERT_TRUE(s.rows[2].rhs);
    EXPECT_DOUBLE_EQ(s.rows[2].rhs->low, 5);
    EXPECT_TRUE(std::isinf(s.rows[2].rhs->high));
    EXPECT_DOUBLE_EQ(s.rows[2].rhs->objective_at_low, 11);
    EXPECT_TRUE(s.rows[2].rhs->entering_at_low.empty());
    EXPECT_TRUE(std::isinf(s.columns[0].cost->high));  // past HiGHS's infinity is none
    EXPECT_EQ(s.columns[1].cost->leaving_at_high, "two[1]");
    EXPECT_FALSE(s.rows[3].rhs);  // x's bound holds, but no bound was ranged
}

// max 2x - 3y over x in 0..10, y in 0..4; every constraint folds into a bound.
const char* kBounds =
    "dvar float x in 0..10;\ndvar float y in 0..4;\nmaximize c: 2*x - 3*y;\nsubject to {\n  loose: x <= 20;\n"
    "  twice: 2*x <= 10;\n  once: x <= 5;\n  need: -2*y <= -2;\n  zero: 0*y <= 1;\n}\n";

TEST(Sensitivity, FoldedConstraintsHaveTheirOwnFiguresAndEqualBoundsOneDual) {
    auto p = instantiate(kBounds, "");
    ASSERT_EQ(p->rows(), 0u);
    ASSERT_EQ(p->folded.size(), 5u);
    EXPECT_EQ(p->upper_source[0], 1u);  // the first of the equal bounds
    EXPECT_EQ(p->declared_upper[0], 10);
    // At x = 5, y = 1: raising x's bound gains 2 per unit, y's costs 3.
    SolverFigures f;
    f.column_dual = {2, -3};
    f.has_ranging = true;
    f.cost_up = f.cost_down = {{}, {}};
    double inf = std::numeric_limits<double>::infinity();
    f.column_bound_up = {{inf, inf}, {inf, -inf}};
    f.column_bound_down = {{-inf, -inf}, {-inf, inf}};
    Sensitivity s = shape_sensitivity(*p, {5, 1}, f, false);
    const RowFigures &twice = s.rows[1], &once = s.rows[2], &need = s.rows[3], &zero = s.rows[4];
    // 2x <= 10 takes the dual, in its own units, from the declared 0 up to where `once` takes over.
    EXPECT_DOUBLE_EQ(twice.activity, 10);
    EXPECT_DOUBLE_EQ(twice.dual, 1);
    EXPECT_DOUBLE_EQ(once.dual, 0);
    ASSERT_TRUE(twice.rhs && once.rhs);
    EXPECT_DOUBLE_EQ(twice.rhs->low, 0);
    EXPECT_DOUBLE_EQ(twice.rhs->high, 10);
    EXPECT_DOUBLE_EQ(once.rhs->low, 5);
    // -2y <= -2 holds y at its lower bound 1: a negative coefficient turns
    // the range, which runs from y's bounds 4 and 0.
    EXPECT_DOUBLE_EQ(need.activity, -2);
    EXPECT_DOUBLE_EQ(need.dual, 1.5);
    ASSERT_TRUE(need.rhs);
    EXPECT_DOUBLE_EQ(need.rhs->low, -8);
    EXPECT_DOUBLE_EQ(need.rhs->high, 0);
    EXPECT_DOUBLE_EQ(need.rhs->objective_at_low, 7 - 9);
    EXPECT_DOUBLE_EQ(need.rhs->objective_at_high, 7 + 3);
    EXPECT_EQ(zero.bound_of, "");
    EXPECT_DOUBLE_EQ(zero.slack, 1);
    // With y's bound holding it in a MIP's fixed LP, the fixing holds it instead.
    p->integrality[1] = 1;
    EXPECT_DOUBLE_EQ(shape_sensitivity(*p, {5, 1}, f, true).rows[3].dual, 0);
}

TEST(Sensitivity, ABasicRowAtItsSideHoldsItsZeroDualOnlyOutwards) {
    // min -x - y over x, y in 0..2 with x + y <= 4: the row binds at a degenerate vertex, basic.
    auto p = instantiate(
        "dvar float x in 0..2;\ndvar float y in 0..2;\nminimize c: -x - y;\nsubject to {\n  both: x + y <= 4;\n}\n",
        "");
    SolverFigures f;
    f.row_dual = {0};
    f.column_dual = {-1, -1};
    f.has_ranging = true;
    f.cost_up = f.cost_down = {{}, {}};
    f.bound_up = {{4, -4}};
    f.bound_down = {{2, -2}};  // moving the side to 3 would change the optimum
    f.row_basic = {1};
    Sensitivity s = shape_sensitivity(*p, {2, 2}, f, false);
    ASSERT_TRUE(s.rows[0].binding && s.rows[0].rhs);
    EXPECT_DOUBLE_EQ(s.rows[0].rhs->low, 4);
    EXPECT_TRUE(std::isinf(s.rows[0].rhs->high));
    f.row_basic = {0};
    EXPECT_DOUBLE_EQ(shape_sensitivity(*p, {2, 2}, f, false).rows[0].rhs->low, 2);
}

TEST(Sensitivity, TheReportGroupsByConstraintWithBindingRowsFirst) {
    auto p = instantiate(
        "dvar float+ x[1..2];\nminimize c: x[1] + x[2];\nsubject to {\n  forall(i in 1..2) need: x[1] + x[2] >= i;\n}\n",
        "");
    ASSERT_EQ(p->rows(), 2u);
    SolverFigures f;
    f.row_dual = {0, 1};
    f.column_dual = {0, 0};
    std::string report = sensitivity_report(*p, shape_sensitivity(*p, {0, 2}, f, true));
    EXPECT_NE(report.find("integer columns fixed"), std::string::npos);
    size_t second = report.find("\n  2 "), first = report.find("\n  1 ");
    ASSERT_NE(second, std::string::npos);
    ASSERT_NE(first, std::string::npos);
    EXPECT_LT(second, first) << report;
    EXPECT_NE(report.find("binding"), std::string::npos);
    EXPECT_NE(report.find("constraint need (line 4)\n  i activity"), std::string::npos) << report;
    EXPECT_NE(report.find("variable x\n  1..2 value reduced cost\n"), std::string::npos) << report;
}

}  // namespace
}  // namespace tarvok::solver
