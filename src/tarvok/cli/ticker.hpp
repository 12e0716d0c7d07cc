// A line that shows how long the command has been waiting for an answer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace tarvok::cli {

/// Elapsed time as a person reads it: "0.4s", "12s", "3m 05s".
std::string elapsed_text(double seconds);

/// The waiting line for tick number `tick`: a turning mark, what is awaited
/// and the elapsed time.
std::string waiting_line(std::string_view what, double seconds, unsigned long tick);

/// Calls `tick(seconds_elapsed, tick_number)` every `interval` on a thread of
/// its own until stop(). The first call comes after one interval, so a quick
/// answer shows nothing.
class Ticker {
  public:
    using Tick = std::function<void(double, unsigned long)>;
    Ticker(Tick tick, std::chrono::milliseconds interval);
    Ticker(const Ticker&) = delete;
    Ticker& operator=(const Ticker&) = delete;
    ~Ticker();

    /// Ends the ticking and waits for the thread; no tick starts afterwards.
    void stop();

  private:
    void run();

    Tick tick_;
    std::chrono::milliseconds interval_;
    std::chrono::steady_clock::time_point start_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace tarvok::cli
