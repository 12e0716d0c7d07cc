#include "cli/ticker.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace tarvok::cli;
using namespace std::chrono_literals;

TEST(ElapsedText, TenthsThenSecondsThenMinutes) {
    EXPECT_EQ(elapsed_text(0.0), "0.0s");
    EXPECT_EQ(elapsed_text(0.46), "0.4s");
    EXPECT_EQ(elapsed_text(9.99), "9.9s");
    EXPECT_EQ(elapsed_text(12.7), "12s");
    EXPECT_EQ(elapsed_text(185), "3m 05s");
    EXPECT_EQ(elapsed_text(-1), "0.0s");
    EXPECT_EQ(waiting_line("openai gpt-5", 3.21, 5), "/ waiting for openai gpt-5 3.2s");
}

TEST(Ticker, TicksUntilStoppedAndNeverAfter) {
    std::atomic<int> ticks{0};
    std::atomic<double> last{0};
    Ticker ticker([&](double seconds, unsigned long) { ++ticks, last = seconds; }, 5ms);
    while (ticks < 3) std::this_thread::sleep_for(1ms);
    ticker.stop();
    int seen = ticks;
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(ticks, seen);
    EXPECT_GT(last.load(), 0.0);
}

TEST(Ticker, AQuickAnswerShowsNothing) {
    std::atomic<int> ticks{0};
    {
        Ticker ticker([&](double, unsigned long) { ++ticks; }, 10s);
    }  // stops at once, without waiting out the interval
    EXPECT_EQ(ticks, 0);
}
