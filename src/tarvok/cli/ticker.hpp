// A line that shows how long the command has been waiting for an answer.
#pragma once

#include <atomic>
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

/// The waiting line of one request, drawn on every tick from the first on
/// until stop(). `draw(text, stopped)` writes it under the host's lock, where
/// it reads `stopped` again: a tick that waited for the lock while stop()
/// began draws nothing. A `draw` that returns false (its stream is closed)
/// ends the drawing.
class WaitLine {
  public:
    using Draw = std::function<bool(const std::string& text, const std::atomic<bool>& stopped)>;
    WaitLine(std::string what, Draw draw, std::chrono::milliseconds interval = std::chrono::milliseconds(200));
    WaitLine(const WaitLine&) = delete;
    WaitLine& operator=(const WaitLine&) = delete;

    /// Ends the drawing and waits for a tick under way; true the first time,
    /// when a line may be left to clear.
    bool stop();

  private:
    std::string what_;
    Draw draw_;
    std::atomic<bool> stopped_ = false;
    bool running_ = true;
    Ticker ticker_;  ///< last: its thread starts once the rest is made
};

}  // namespace tarvok::cli
