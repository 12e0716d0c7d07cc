// The interrupt hook: polled every few milliseconds of work, not more often.
#include "common/interrupt.hpp"

#include <gtest/gtest.h>

#include <chrono>

using namespace std::chrono_literals;

TEST(Interrupt, PollsOnlyAfterTheInterval) {
    int polls = 0;
    tarvok::Interrupt interrupt([&] { return ++polls, false; }, 1h);
    for (int i = 0; i < 100'000; ++i) interrupt.tick();
    EXPECT_EQ(polls, 0);
    tarvok::Interrupt eager([&] { return ++polls, false; }, 0us);
    for (int i = 0; i < 4096; ++i) eager.tick();
    EXPECT_EQ(polls, 4);  // once in 1024 ticks
}
