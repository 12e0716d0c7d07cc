#include "cli/ticker.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
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

TEST(WaitLine, DrawsTheWaitingLineUntilStoppedOrItsStreamCloses) {
    std::atomic<int> drawn{0};
    std::string first;
    std::mutex lock;
    WaitLine line(
        "ollama llama3",
        [&](const std::string& text, const std::atomic<bool>& stopped) {
            std::lock_guard held(lock);
            if (drawn++ == 0) first = text;
            EXPECT_FALSE(stopped);
            return true;
        },
        2ms);
    while (drawn < 2) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(line.stop());
    EXPECT_FALSE(line.stop());  // once: nothing left to clear the second time
    int seen = drawn;
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(drawn, seen);
    std::lock_guard held(lock);
    EXPECT_EQ(first.rfind("| waiting for ollama llama3 ", 0), 0u) << first;

    std::atomic<int> tries{0};
    WaitLine closed(
        "x", [&](const std::string&, const std::atomic<bool>&) { return ++tries, false; }, 1ms);
    while (tries == 0) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(tries, 1);         // a closed stream is not written again
    EXPECT_TRUE(closed.stop());  // the line may still need clearing
}
