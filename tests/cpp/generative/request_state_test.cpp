// What a back-end reports to the loop about the request it just sent.
#include "generative/request_state.hpp"

#include <gtest/gtest.h>

#include <thread>

using namespace tarvok::generative;

TEST(RequestState, UsageIsTakenOnceAndStaysOnItsThread) {
    report_usage({3, std::nullopt});
    std::thread other([] {
        EXPECT_FALSE(take_usage().tokens_in);  // another thread's report is not this one's
        report_usage({7, 8});
    });
    other.join();
    workflow::Usage taken = take_usage();
    EXPECT_EQ(taken.tokens_in, 3);
    EXPECT_FALSE(taken.tokens_out);
    EXPECT_FALSE(take_usage().tokens_in);  // an earlier request's counts never reach a later one
}

TEST(RequestState, TheStepOfARequestNestsAndIsRestored) {
    EXPECT_EQ(request_step(), "");
    {
        StepOfRequest outer("generate");
        {
            StepOfRequest inner("repair");
            EXPECT_EQ(request_step(), "repair");
        }
        EXPECT_EQ(request_step(), "generate");
    }
    EXPECT_EQ(request_step(), "");
}
