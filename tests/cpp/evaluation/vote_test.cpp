#include "evaluation/vote.hpp"

#include <gtest/gtest.h>

using namespace tarvok::evaluation;

TEST(Vote, TheMostCommonObjectiveWinsAndTiesGoToFewerRepairs) {
    // 100 and 100.005 agree within 1e-4 * 100; 90 stands alone; one run gave no answer.
    Vote v = vote({{90.0, 0}, {100.005, 3}, {std::nullopt, 0}, {100.0, 1}}, 1e-4);
    ASSERT_TRUE(v.chosen);
    EXPECT_EQ(*v.chosen, 3u);  // of the two agreeing, the one with fewer repairs
    EXPECT_EQ(v.agreeing, 2u);
    EXPECT_DOUBLE_EQ(v.confidence, 0.5);
    EXPECT_EQ(agreement(v, 4), "split");

    Vote tie = vote({{5.0, 2}, {7.0, 1}}, 1e-4);
    EXPECT_EQ(tie.chosen, 1u);
    Vote all = vote({{5.0, 0}, {5.0, 0}, {5.0, 0}}, 0);
    EXPECT_EQ(all.chosen, 0u);
    EXPECT_EQ(agreement(all, 3), "all_agree");
    EXPECT_EQ(agreement(vote({{5.0, 0}, {5.0, 0}, {6.0, 0}}, 0), 3), "majority");

    Vote none = vote({{std::nullopt, 0}, {std::nullopt, 1}}, 1e-4);
    EXPECT_FALSE(none.chosen);
    EXPECT_EQ(none.confidence, 0);
    EXPECT_EQ(agreement(none, 2), "split");
}
