// The assumptions and what-if lines of `solve`.
#include "cli/what_if_report.hpp"

#include <gtest/gtest.h>

using namespace tarvok::cli;

TEST(WhatIfReport, AssumptionsNumberedWithTheirAlternative) {
    EXPECT_TRUE(assumption_lines({}).empty());
    auto lines = assumption_lines({{"off at the start", "on at the start", "model line 12", "boundary_condition"},
                                   {"35 per unit", "", "", "invented_data"}});
    EXPECT_EQ(lines,
              (std::vector<std::string>{"  1. [boundary_condition] off at the start", "     where: model line 12",
                                        "     instead: on at the start", "  2. [invented_data] 35 per unit"}));
}

TEST(WhatIfReport, EachReadingAnswersOrSaysWhyNot) {
    ShownTable table;
    table.main = {"optimal", "1500.0", ""};
    table.alternatives.push_back({"units run at the start", true, "", {"optimal", "800.0", ""}, "p.alt1.mod"});
    table.alternatives.push_back({"profit is asked", true, "", {"optimal", "3.0", "14.5"}, "p.alt2.mod"});
    table.alternatives.push_back({"tens", false, "p.alt3.mod:2:1: error: bad", {}, "p.alt3.mod"});
    table.alternatives.push_back({"no cap", true, "", {"unbounded", "", ""}, ""});
    table.alternatives.push_back({"per hour", true, "", {"optimal", "1500.0", ""}, "", true});
    table.unexplored = 1;
    table.budget = 4;
    EXPECT_EQ(
        what_if_lines(table),
        (std::vector<std::string>{"  as modelled, the answer is 1500.0",
                                  "  1. if instead units run at the start, the answer is 800.0 [p.alt1.mod]",
                                  "  2. if instead profit is asked, the answer is 14.5 (objective 3.0) [p.alt2.mod]",
                                  "  3. if instead tens, no answer: p.alt3.mod:2:1: error: bad [p.alt3.mod]",
                                  "  4. if instead no cap, the answer is none (unbounded)",
                                  "  5. if instead per hour, the answer is 1500.0, same answer",
                                  "  1 alternative not explored (--what-if-max 4)"}));
    EXPECT_EQ(reading_text({"time_limit", "12.0", ""}), "12.0 (time_limit)");
    EXPECT_EQ(reading_text({}), "not solved");
}
