#include "solver/lp_labels.hpp"
#include "scratch_folder.hpp"

#include <gtest/gtest.h>

namespace tarvok::solver {
namespace {

using LpLabelsTest = tarvok::testing::ScratchFolder;

const char* kWritten =
    "\\ File written by HiGHS .lp file handler\nmax\n obj: +3 x +2 y \nst\n obj: +1 x <= 1\nbounds\n x <= 3\nend\n";

TEST_F(LpLabelsTest, TheLabelAndTheCommentsGoInAndTheRestStaysAsItWas) {
    auto file = write("plan.lp", kWritten);
    ASSERT_TRUE(label_lp_file(file, {"profit", {"\\ x: upper bound from top (line 6)"}}));
    // Only the objective is renamed, not a row that happens to be called obj.
    EXPECT_EQ(read(file),
              "\\ File written by HiGHS .lp file handler\n\\ Constraints that became bounds of one column:\n"
              "\\ x: upper bound from top (line 6)\nmax\n profit: +3 x +2 y \nst\n obj: +1 x <= 1\nbounds\n"
              " x <= 3\nend\n");
    EXPECT_FALSE(std::filesystem::exists(root_ / "plan.lp.labels"));
}

TEST_F(LpLabelsTest, NothingToAddLeavesTheFileUntouched) {
    auto file = write("plan.lp", kWritten);
    ASSERT_TRUE(label_lp_file(file, {}));
    EXPECT_EQ(read(file), kWritten);
    ASSERT_TRUE(label_lp_file(file, {"", {"\\ x: lower bound from low (line 2)"}}));
    EXPECT_NE(read(file).find(" obj: +3 x"), std::string::npos);
}

TEST_F(LpLabelsTest, NamesInCommentsStayOnOneLine) {
    auto program = instantiate(
        "{string} S = ...;\ndvar float+ x[S];\nminimize cost: sum(s in S) x[s];\nsubject to {\n"
        "  forall(s in S) low: x[s] >= 1;\n}\n",
        "S = {\"a\\nst\\n evil: x >= 9\"};\n");
    LpLabels labels = lp_labels(*program, program->export_column_names(NameFormat::Lp));
    EXPECT_EQ(labels.objective, "cost");
    ASSERT_EQ(labels.bound_comments.size(), 1u);
    EXPECT_EQ(labels.bound_comments[0].find('\n'), std::string::npos);
    EXPECT_NE(labels.bound_comments[0].find(": lower bound from low["), std::string::npos);
}

}  // namespace
}  // namespace tarvok::solver
