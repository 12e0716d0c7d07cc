#include "solver/adapters.hpp"
#include "solver/solver_face.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <string>

namespace tarvok::solver {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

/// max 3x + 2y + 5 over integer x in [0, 4], y in [-inf, 7], with x + y <= 6 and 1 <= x - y.
Program small_program() {
    Program p;
    p.sense = Sense::Maximize;
    p.offset = 5;
    p.cost = {3, 2};
    p.col_lower = {0, -kInf};
    p.col_upper = {4, 7};
    p.integrality = {1, 0};
    p.row_lower = {-kInf, 1};
    p.row_upper = {6, kInf};
    p.row_starts = {0, 2, 4};
    p.col_indices = {0, 1, 0, 1};
    p.values = {1, 1, 1, -1};
    return p;
}

TEST(ModelPlan, NamesVariablesAndConstraintsByPositionWithTheirBoundsTypesAndCosts) {
    Program p = small_program();
    ModelPlan plan = plan_model(p, {});
    ASSERT_EQ(plan.columns.size(), 2u);
    EXPECT_EQ(plan.columns[0].name, "c0");
    EXPECT_TRUE(plan.columns[0].integer);
    EXPECT_FALSE(plan.columns[1].integer);
    EXPECT_EQ(plan.columns[1].lower, -kInf);
    EXPECT_EQ(plan.columns[1].cost, 2);
    ASSERT_EQ(plan.rows.size(), 2u);
    EXPECT_EQ(plan.rows[1].name, "r1");
    EXPECT_EQ(plan.rows[1].lower, 1);
    EXPECT_EQ(plan.rows[0].upper, 6);
    EXPECT_EQ(plan.offset, 5);
    EXPECT_TRUE(plan.maximize);
    EXPECT_EQ(plan.dual_sign, -1);
    EXPECT_EQ(planned_index(plan.columns[1].name), 1u);
    EXPECT_EQ(planned_index("r12"), 12u);
}

TEST(ModelPlan, RelaxedFixedAndFeasibilityLoadsChangeOnlyWhatTheyAskFor) {
    Program p = small_program();
    LoadRequest r;
    r.relaxed = true;
    r.feasibility = true;
    r.fixed_columns = {1};
    r.fixed_values = {2.5};
    ModelPlan plan = plan_model(p, r);
    EXPECT_FALSE(plan.columns[0].integer);
    EXPECT_EQ(plan.columns[1].lower, 2.5);
    EXPECT_EQ(plan.columns[1].upper, 2.5);
    EXPECT_EQ(plan.upper[1], 2.5);  // as loaded, for settling free columns
    EXPECT_EQ(plan.columns[0].cost, 0);
    EXPECT_EQ(plan.offset, 0);
    EXPECT_FALSE(plan.maximize);  // no objective: nothing to maximise
    EXPECT_EQ(plan.dual_sign, -1);
    EXPECT_EQ(p.col_upper[1], 7);  // the program itself is untouched
}

TEST(Ranging, ArraysLongerOrShorterThanTheProgramAndMissingNamesAreRead) {
    RangingArrays a;
    a[0] = {{{1, 2, 99}, {10, 20, 99}, {1, std::nan("")}, {std::nan(""), 0}}};  // cost up: longer than 2 columns
    a[1] = {{{-1}, {-10}, {}, {}}};                                             // cost down: shorter
    a[2] = {{{6}, {30}, {0}, {1}}};
    a[3] = {{{0}, {5}, {1}, {0}}};
    SolverFigures f;
    take_ranging(a, 2, 1, f);
    EXPECT_TRUE(f.has_ranging);
    ASSERT_EQ(f.cost_up.size(), 2u);
    EXPECT_EQ(f.cost_up[1].value, 2);
    EXPECT_EQ(f.cost_up[0].entering, 1);
    EXPECT_EQ(f.cost_up[1].entering, -1);
    EXPECT_EQ(f.cost_up[0].leaving, -1);
    EXPECT_TRUE(std::isnan(f.cost_down[1].value));
    EXPECT_EQ(f.cost_down[0].entering, -1);
    ASSERT_EQ(f.bound_down.size(), 1u);
    EXPECT_EQ(f.bound_down[0].objective, 5);
}

TEST(Ranging, WithoutRowsEachColumnStandsAlone) {
    // max 3x + 2y + 5 without its rows, at x = 4 (upper), y = -1 fixed there; then x free of cost.
    Program p = small_program();
    SolverFigures f;
    f.column_dual = {3, 2};
    std::vector<double> lower = {0, -1}, upper = {4, -1};
    ranging_without_rows(p, lower, upper, {4, -1}, f);
    ASSERT_TRUE(f.has_ranging);
    // x's upper bound holds it: down to its lower bound at 3 a unit, up without end.
    EXPECT_EQ(f.column_bound_down[0].value, 0);
    EXPECT_EQ(f.column_bound_down[0].objective, 15 - 12);
    EXPECT_EQ(f.column_bound_up[0].value, kInf);
    // Its cost may fall to 0 before another x is as good.
    EXPECT_EQ(f.cost_down[0].value, 0);
    EXPECT_EQ(f.cost_down[0].objective, 15 - 12);
    EXPECT_EQ(f.cost_up[0].value, kInf);
    // A fixed column moves with both bounds, and any cost keeps it.
    EXPECT_EQ(f.column_bound_down[1].value, -kInf);
    EXPECT_EQ(f.column_bound_up[1].value, kInf);
    EXPECT_EQ(f.cost_down[1].value, -kInf);
    f.column_dual = {0, 2};
    ranging_without_rows(p, {0, -1}, {4, -1}, {2, -1}, f);
    EXPECT_TRUE(std::isnan(f.column_bound_up[0].value));  // no bound holds it
    EXPECT_EQ(f.cost_down[0].value, 3);
    EXPECT_EQ(f.cost_up[0].value, 3);
}

TEST(SolverFace, PropertiesHaveDocsAndExactlyOneSource) {
    Program p = small_program();
    for (const auto* table : {&program_sizes_and_arrays(), &program_views()})
        for (const ProgramProperty& prop : *table) {
            EXPECT_TRUE(prop.doc && *prop.doc) << prop.name;
            EXPECT_NE(prop.shape == nullptr, prop.array.index() == 0) << prop.name;
        }
    for (const ResultProperty& prop : result_properties()) {
        if (prop.host == HostView::Keyed)  // the core shapes, the host keys the mapping by elements
            EXPECT_NE(prop.shape, nullptr) << prop.name;
        else
            EXPECT_NE(prop.shape == nullptr, prop.host == HostView::None) << prop.name;
    }
    EXPECT_EQ(program_sizes_and_arrays()[0].shape(p).text(), "maximize");
    EXPECT_EQ(nonzero_rows(p), (std::vector<int32_t>{0, 0, 1, 1}));
    auto members = status_members();
    ASSERT_FALSE(members.empty());
    EXPECT_EQ(members[0], (std::pair<std::string, std::string>{"OPTIMAL", "optimal"}));
}

TEST(SolverFace, ArrayPropertiesViewTheProgramsOwnMemoryTheColumnwiseOnesBuiltOnFirstUse) {
    Program p = small_program();
    std::map<std::string, ArrayMemory> memory;
    for (const ProgramProperty& prop : program_sizes_and_arrays())
        if (std::optional<ArrayMemory> m = array_memory(p, prop.array)) memory.emplace(prop.name, *m);
    EXPECT_EQ(memory.size(), 12u);  // the sizes have no array
    EXPECT_EQ(std::get<const std::vector<double>*>(memory.at("cost")), &p.cost);
    EXPECT_EQ(std::get<const std::vector<uint8_t>*>(memory.at("integrality")), &p.integrality);
    const std::vector<int32_t>* rows = std::get<const std::vector<int32_t>*>(memory.at("row_indices"));
    EXPECT_EQ(rows, &p.columnwise().rows);
    EXPECT_EQ(*rows, (std::vector<int32_t>{0, 1, 0, 1}));
    EXPECT_EQ(*std::get<const std::vector<double>*>(memory.at("column_values")), (std::vector<double>{1, 1, 1, -1}));
}

TEST(HighsPool, AThreadKeepsItsPoolUntilARunAsksForAnotherSize) {
    long long size = 0;  // no pool made on this thread yet
    PoolPlan first = plan_pool(4, size);
    EXPECT_TRUE(first.replace);
    EXPECT_EQ(first.threads, 4);
    EXPECT_EQ(size, 4);
    EXPECT_FALSE(plan_pool(4, size).replace);
    PoolPlan chosen = plan_pool(std::nullopt, size);  // HiGHS's choice: whatever the pool has
    EXPECT_FALSE(chosen.replace);
    EXPECT_EQ(chosen.threads, 0);
    EXPECT_EQ(size, 4);
    PoolPlan other = plan_pool(2, size);
    EXPECT_TRUE(other.replace);
    EXPECT_EQ(other.threads, 2);
    EXPECT_EQ(size, 2);
}

TEST(ScipParameters, OnlyWhatIsAskedForIsSet) {
    EXPECT_TRUE(scip_parameters({}).empty());
    LoadRequest r;
    r.mip_gap = 0.01;
    r.threads = 3;
    std::vector<LibraryParameter> asked = scip_parameters(r);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_STREQ(asked[0].name, "limits/gap");
    EXPECT_EQ(asked[0].value, (std::variant<bool, int, double>(0.01)));
    EXPECT_STREQ(asked[1].name, "lp/threads");
    EXPECT_EQ(asked[1].value, (std::variant<bool, int, double>(3)));
}

}  // namespace
}  // namespace tarvok::solver
