#include "generative/providers/deadline.hpp"

#include "generative/providers/back_end_texts.hpp"

#include <algorithm>
#include <chrono>
#include <utility>

namespace tarvok::generative::providers {

namespace {

/// The watch of the call running on this thread, and whether one runs.
thread_local std::shared_ptr<Watch> current;
thread_local int calls_running = 0;
/// The run this thread's requests belong to.
thread_local std::shared_ptr<RunBound> current_run;

}  // namespace

double steady_now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void Watch::on_finish(std::function<void()> stop_timer) {
    std::lock_guard<std::mutex> guard(lock_);
    stop_timer_ = std::move(stop_timer);
}

void Watch::expire() {
    expired_ = true;
    std::function<void()> cut;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (finished_) return;
        cut = cut_;
    }
    if (cut) cut();
}

void Watch::abandon() {
    abandoned_ = true;
    expire();
}

void Watch::connected(std::function<void()> cut) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        cut_ = std::move(cut);
    }
    if (expired_) expire();  // connected after the time was up
}

void Watch::finish() {
    std::function<void()> stop, dropped;
    {
        std::lock_guard<std::mutex> guard(lock_);
        finished_ = true;
        stop = stop_timer_;
        dropped = std::exchange(cut_, nullptr);
    }
    if (stop) stop();
}

std::optional<std::string> Watch::timed_out(double now) const {
    if (abandoned_) return std::string(abandoned_text());
    if (!expired_ && now < deadline_) return std::nullopt;
    return timed_out_text(seconds_);
}

BoundedCall::BoundedCall() {
    ++calls_running;
    current.reset();
}

BoundedCall::~BoundedCall() {
    --calls_running;
    if (std::shared_ptr<Watch> watch = std::exchange(current, nullptr)) watch->finish();
}

std::optional<std::string> BoundedCall::timed_out() const { return current ? current->timed_out() : std::nullopt; }

RequestWatch watch_for_request(const std::function<std::shared_ptr<Watch>()>& start) {
    const bool owned = calls_running > 0;
    if (owned && current && !current->finished()) return {current, true};
    std::shared_ptr<Watch> watch = start();
    if (owned) current = watch;
    if (current_run) current_run->watch(watch);
    return {watch, owned};
}

void RunBound::abandon() {
    abandoned_ = true;
    std::vector<std::weak_ptr<Watch>> watched;
    {
        std::lock_guard<std::mutex> guard(lock_);
        watched.swap(watches_);
    }
    // Cut outside the lock: a cut may wait for the requesting thread.
    for (const std::weak_ptr<Watch>& weak : watched)
        if (std::shared_ptr<Watch> watch = weak.lock()) watch->abandon();
}

void RunBound::watch(const std::shared_ptr<Watch>& watch) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        // The finished ones go, so that a long run keeps only its live requests.
        std::erase_if(watches_, [](const std::weak_ptr<Watch>& w) {
            std::shared_ptr<Watch> held = w.lock();
            return !held || held->finished();
        });
        watches_.push_back(watch);
    }
    if (abandoned_) watch->abandon();
}

RunScope::RunScope(std::shared_ptr<RunBound> run) : previous_(std::exchange(current_run, std::move(run))) {}

RunScope::~RunScope() { current_run = std::move(previous_); }

bool run_over_here(double now) { return current_run && current_run->over(now); }

std::optional<double> timeout_within_run(std::optional<double> timeout, double now) {
    if (!current_run) return timeout;
    constexpr double kLeast = 0.001;
    double left = std::max(current_run->remaining(now), kLeast);
    return timeout ? std::min(*timeout, left) : left;
}

void back_off(double seconds, const std::function<void(double)>& sleep) {
    if (!current_run) return sleep(seconds);
    constexpr double kPiece = 0.1;
    for (double left = seconds; left > 0 && !current_run->over(); left -= kPiece) sleep(std::min(left, kPiece));
}

}  // namespace tarvok::generative::providers
