#include "generative/providers/deadline.hpp"

#include "generative/providers/back_end_texts.hpp"

#include <chrono>
#include <utility>

namespace tarvok::generative::providers {

namespace {

/// The watch of the call running on this thread, and whether one runs.
thread_local std::shared_ptr<Watch> current;
thread_local int calls_running = 0;

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
    return {watch, owned};
}

}  // namespace tarvok::generative::providers
