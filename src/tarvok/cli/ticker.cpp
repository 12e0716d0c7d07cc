#include "cli/ticker.hpp"

#include <cmath>
#include <cstdio>

namespace tarvok::cli {

std::string elapsed_text(double seconds) {
    if (!(seconds >= 0)) seconds = 0;
    char buffer[64];
    if (seconds < 10) {
        std::snprintf(buffer, sizeof buffer, "%.1fs", std::floor(seconds * 10) / 10);
    } else if (seconds < 60) {
        std::snprintf(buffer, sizeof buffer, "%ds", static_cast<int>(seconds));
    } else {
        long long whole = static_cast<long long>(seconds);
        std::snprintf(buffer, sizeof buffer, "%lldm %02llds", whole / 60, whole % 60);
    }
    return buffer;
}

std::string waiting_line(std::string_view what, double seconds, unsigned long tick) {
    static constexpr char kMarks[] = {'|', '/', '-', '\\'};
    std::string line(1, kMarks[tick % 4]);
    line += " waiting for ";
    line += what;
    line += " ";
    line += elapsed_text(seconds);
    return line;
}

Ticker::Ticker(Tick tick, std::chrono::milliseconds interval)
    : tick_(std::move(tick)), interval_(interval), start_(std::chrono::steady_clock::now()) {
    thread_ = std::thread([this] { run(); });
}

Ticker::~Ticker() { stop(); }

void Ticker::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void Ticker::run() {
    unsigned long count = 0;
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, interval_, [this] { return stopping_; })) {
        lock.unlock();
        std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
        tick_(elapsed.count(), count++);
        lock.lock();
    }
}

WaitLine::WaitLine(std::string what, Draw draw, std::chrono::milliseconds interval)
    : what_(std::move(what)), draw_(std::move(draw)), ticker_(
                                                          [this](double seconds, unsigned long tick) {
                                                              if (stopped_) return;
                                                              if (!draw_(waiting_line(what_, seconds, tick), stopped_))
                                                                  stopped_ = true;
                                                          },
                                                          interval) {}

bool WaitLine::stop() {
    if (!running_) return false;
    running_ = false;
    stopped_ = true;
    ticker_.stop();
    return true;
}

}  // namespace tarvok::cli
