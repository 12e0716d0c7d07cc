#include "scipy_emitter/script.hpp"

#include <gtest/gtest.h>

using namespace tarvok::scipy_emitter;

TEST(InputChecks, ReportedColumnsMustFitTheColumnsGiven) {
    ScriptInput in;
    in.variables.push_back({"x", 2, {2, 3}, false});  // columns 2..7
    in.dexprs.push_back({"total", {0, 7}, {1, 1}, 0, false});
    EXPECT_FALSE(column_fault(in, 8));
    EXPECT_EQ(column_fault(in, 7), "variable 'x' needs columns up to 8; var_names has 7");
    in.variables.clear();
    EXPECT_EQ(column_fault(in, 7), "dexpr 'total' uses column 7; var_names has 7");
}

TEST(InputChecks, DataFileSuffixAndDifferingKeys) {
    EXPECT_TRUE(names_data_file("plan.NpZ"));
    EXPECT_TRUE(names_data_file(".npz"));
    EXPECT_FALSE(names_data_file("plan.py"));
    EXPECT_FALSE(names_data_file("npz"));
    EXPECT_EQ(differing_keys({}), "");
    EXPECT_EQ(differing_keys({"a", "b"}), " (in 'a', 'b')");
    EXPECT_EQ(differing_keys({"a", "b", "c", "d", "e", "f", "g"}), " (in 'a', 'b', 'c', 'd', 'e' and 2 more)");
}
