// The sizes pass: what a model's expansion would hold, counted from the data
// before anything is built, and the refusal of a model past the size limit.
#include "compiler/compiler.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using namespace tarvok::compiler;

namespace {

/// The errors of compiling `model` under `limits` (default: the standard ones).
std::vector<std::string> refusals(const std::string& model, SizeLimits limits = {}, uint64_t steps = 20'000'000) {
    CompileOptions options;
    options.sizes = limits;
    options.size_steps = steps;
    auto c = compile(model, "", options);
    std::vector<std::string> out;
    for (const Diagnostic& d : c->diagnostics.items())
        out.push_back(std::to_string(d.at.line) + ":" + std::to_string(d.at.column) + " " +
                      std::string(code_info(d.code).id) + " " + d.message);
    return out;
}

SizeLimits limits(uint64_t columns, uint64_t rows, uint64_t nonzeros) { return {columns, rows, nonzeros}; }

}  // namespace

TEST(Sizes, CountsAreShownWholeAndShort) {
    EXPECT_EQ(size_count(999'999), "999999");
    EXPECT_EQ(size_count(1'600'000'000), "1600000000 (1.6e9)");
    EXPECT_EQ(size_count(50'000'000), "50000000 (5e7)");
    EXPECT_EQ(size_count(99'999'999), "99999999 (1e8)");
    EXPECT_EQ(size_count(UINT64_MAX), "18446744073709551615 (1.8e19)");
    EXPECT_EQ(SizeLimits::of_size(7).max_nonzeros, 70u);
    EXPECT_EQ(SizeLimits::of_size(UINT64_MAX / 2).max_nonzeros, UINT64_MAX);
}

TEST(Sizes, AVariablePastTheLimitIsRefusedAtItsDeclarationBeforeAnythingIsBuilt) {
    auto start = std::chrono::steady_clock::now();
    auto found = refusals(
        "dvar float+ x[1..40000][1..40000];\nminimize sum(i in 1..40000) x[i][i];\n"
        "subject to { forall(i in 1..40000, j in 1..40000) x[i][j] >= 0; }");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));  // counted, not enumerated
    EXPECT_EQ(found, (std::vector<std::string>{
                         "1:13 T0707 decision variable 'x' would have 1600000000 (1.6e9) elements, more than the size "
                         "limit of 50000000 (5e7) columns; use smaller sets, or raise the size limit"}));
    // Variables that are each small enough but not together: the one that takes the model past it.
    EXPECT_EQ(refusals("dvar float a[1..60];\ndvar float b[1..30][1..2];\nminimize sum(i in 1..60) a[i];",
                       limits(100, 100, 1000)),
              (std::vector<std::string>{"2:12 T0707 decision variable 'b' would have 60 elements, bringing the "
                                        "model's columns from 60 to 120, more than the size limit of 100 columns; "
                                        "use smaller sets, or raise the size limit"}));
}

TEST(Sizes, FamiliesCountTheirMembersExactlyWhereTheConditionsDecide) {
    const SizeLimits small = limits(1000, 1000, 100'000);
    // 100 x 100 members: past the limit of rows; multiplied, not enumerated.
    EXPECT_EQ(refusals("range I = 1..100;\ndvar float x[I];\nsubject to {\n"
                       "  forall(i in I, j in I) pairs: x[i] <= j;\n}",
                       small),
              (std::vector<std::string>{"4:26 T0707 the constraint 'pairs' would have 10000 instances, more than the "
                                        "size limit of 1000 rows; use smaller sets, or raise the size limit"}));
    // A condition that keeps few of them: the bound (10000) is too large, the exact count (100) is not.
    EXPECT_EQ(refusals("range I = 1..100;\ndvar float x[I];\nsubject to {\n"
                       "  forall(i in I, j in I: i == j) diagonal: x[i] <= j;\n}",
                       small),
              std::vector<std::string>{});
    // One that keeps many: refused with the exact count, 4950.
    auto half = refusals(
        "range I = 1..100;\ndvar float x[I];\nsubject to {\n  forall(i in I) { forall(j in I: i < j) x[i] <= x[j]; }\n}",
        small);
    ASSERT_EQ(half.size(), 1u);
    EXPECT_NE(half[0].find("the constraint on line 4 would have 4950 instances"), std::string::npos) << half[0];
    // A set that depends on an outer binding: i..100 has 101 - i members, 5050 in all.
    auto triangle =
        refusals("dvar float x[1..100];\nsubject to {\n  forall(i in 1..100, j in i..100) t: x[j] >= i;\n}", small);
    ASSERT_EQ(triangle.size(), 1u);
    EXPECT_NE(triangle[0].find("'t' would have 5050 instances"), std::string::npos) << triangle[0];
}

TEST(Sizes, ACountTheBudgetCutsShortRefusesNothingItIsNotSureOf) {
    const std::string model =
        "range I = 1..1000;\ndvar float x[I];\nsubject to {\n  forall(i in I, j in I: i <= j) c: x[i] <= j;\n}";
    // Bounded by 1e6, counted exactly within the budget: 500500 members.
    auto counted = refusals(model, limits(10'000, 100'000, 100'000'000));
    ASSERT_EQ(counted.size(), 1u) << ::testing::PrintToString(counted);
    EXPECT_NE(counted[0].find("'c' would have 500500 instances"), std::string::npos) << counted[0];
    // A budget too small to tell: nothing is refused here (the instantiation stops at the limit itself).
    EXPECT_EQ(refusals(model, limits(10'000, 600'000, 100'000'000), 50'000), std::vector<std::string>{});
    // A budget that ends past the limit: what was counted is enough to be sure.
    auto sure = refusals(model, limits(10'000, 1'000, 100'000'000), 50'000);
    ASSERT_EQ(sure.size(), 1u);
    EXPECT_NE(sure[0].find("'c' would have at least "), std::string::npos) << sure[0];
}

TEST(Sizes, NonzerosAreRowsTimesTheTermsEachRowSums) {
    const SizeLimits small = limits(10'000, 10'000, 50'000);
    // 300 rows of 300 terms each: 90000 nonzeros.
    auto dense = refusals(
        "range I = 1..300;\ndvar float x[I];\nsubject to {\n"
        "  forall(i in I) dense: sum(j in I) x[j] >= i;\n}",
        small);
    EXPECT_EQ(dense, (std::vector<std::string>{"4:18 T0707 the constraint 'dense' would have about 90000 nonzero "
                                               "coefficients (300 instances of 300 terms), more than the size limit "
                                               "of 50000 nonzeros; use smaller sets, or raise the size limit"}));
    // A sum with a condition counts its body once: its members are not known here.
    EXPECT_EQ(refusals("range I = 1..300;\ndvar float x[I];\nsubject to {\n"
                       "  forall(i in I) near: sum(j in I: j <= i + 1 && j >= i - 1) x[j] >= 1;\n}",
                       small),
              std::vector<std::string>{});
    // A dexpr's terms count where it is used (a row has at most one term per column), and once for its own form.
    auto via_dexpr = refusals(
        "range I = 1..300;\ndvar float x[I];\ndexpr float total = sum(j in I) 2 * x[j];\n"
        "subject to {\n  forall(i in I) d: total + x[i] >= i;\n}",
        limits(10'000, 10'000, 90'200));
    ASSERT_EQ(via_dexpr.size(), 1u) << ::testing::PrintToString(via_dexpr);
    EXPECT_NE(via_dexpr[0].find("about 90000 nonzero coefficients (300 instances of 300 terms), bringing the model's "
                                "nonzeros from 300 to 90300"),
              std::string::npos)
        << via_dexpr[0];
    auto huge_dexpr = refusals("dvar float x[1..9000];\ndexpr float s = sum(i in 1..9000, j in 1..9000) x[i];",
                               limits(10'000, 10'000, 50'000));
    ASSERT_EQ(huge_dexpr.size(), 1u);
    EXPECT_NE(huge_dexpr[0].find("dexpr 's' would have about 81000000 (8.1e7) terms"), std::string::npos)
        << huge_dexpr[0];
}

TEST(Sizes, TheCountsAreKeptPerFamilyForTheBuilderToReserveRoom) {
    auto c = compile(
        "range I = 1..30;\nrange J = 1..4;\ndvar float x[I][J];\nsubject to {\n"
        "  forall(i in I, j in J) x[i][j] >= 0;\n"
        "  forall(i in I) sum(j in J) x[i][j] <= 1;\n"
        "  forall(i in I : i > 10) x[i][1] + x[i][2] == 0;\n"
        "  x[1][1] + 2 * x[2][2] - x[3][3] >= 4;\n}\n",
        "");
    ASSERT_TRUE(c->ok()) << c->report();
    ASSERT_EQ(c->family_sizes.size(), 4u);
    EXPECT_EQ(c->family_sizes[0].rows, 120u);
    EXPECT_EQ(c->family_sizes[0].terms, 1u);
    EXPECT_EQ(c->family_sizes[1].rows, 30u);
    EXPECT_EQ(c->family_sizes[1].terms, 4u);
    EXPECT_EQ(c->family_sizes[2].rows, 0u);  // a condition decides: not counted, nothing reserved
    EXPECT_EQ(c->family_sizes[3].rows, 1u);
    EXPECT_EQ(c->family_sizes[3].terms, 3u);
}
