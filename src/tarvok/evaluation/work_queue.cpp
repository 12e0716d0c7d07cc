#include "evaluation/work_queue.hpp"

#include <algorithm>
#include <chrono>
#include <utility>

namespace tarvok::evaluation {

WorkerPlan plan_workers(const std::vector<const Problem*>& todo, long long jobs) {
    WorkerPlan plan;
    for (const Problem* p : todo) {
        plan.problems.push_back(*p);
        plan.problems.back().folder = problem_folder(*p);
    }
    std::size_t workers = std::min(static_cast<std::size_t>(std::max(jobs, 1LL)), todo.size());
    for (std::size_t i = 1; i <= workers; ++i) plan.names.push_back("tarvok-eval-" + std::to_string(i));
    return plan;
}

namespace {

/// How long a wait sleeps before it checks for an interrupt again.
constexpr auto kWaitStep = std::chrono::milliseconds(20);

}  // namespace

std::optional<std::size_t> WorkQueue::take() {
    std::lock_guard lock(mutex_);
    if (stopped_ || next_ >= tasks_) return std::nullopt;
    return next_++;
}

void WorkQueue::put(std::size_t index, Record record) {
    {
        std::lock_guard lock(mutex_);
        handed_.push_back({{index, std::move(record)}, nullptr});
    }
    changed_.notify_all();
}

void WorkQueue::fail(std::exception_ptr error) {
    {
        std::lock_guard lock(mutex_);
        handed_.push_back({{}, std::move(error)});
    }
    changed_.notify_all();
}

void WorkQueue::worker_ended() {
    {
        std::lock_guard lock(mutex_);
        if (running_ > 0) --running_;
    }
    changed_.notify_all();
}

void WorkQueue::stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
}

bool WorkQueue::stopping() const {
    std::lock_guard lock(mutex_);
    return stopped_;
}

std::size_t WorkQueue::running() const {
    std::lock_guard lock(mutex_);
    return running_;
}

template <typename Ready>
void WorkQueue::wait_until(Ready&& ready, Interrupt* interrupt) {
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            if (changed_.wait_for(lock, kWaitStep, ready)) return;
        }
        if (interrupt) interrupt->check();
    }
}

Finished WorkQueue::next(Interrupt* interrupt) {
    wait_until([this] { return !handed_.empty(); }, interrupt);
    Handed first;
    {
        std::lock_guard lock(mutex_);
        first = std::move(handed_.front());
        handed_.pop_front();
    }
    if (first.error) std::rethrow_exception(first.error);
    return std::move(first.done);
}

void WorkQueue::wait_for_workers(Interrupt* interrupt) {
    wait_until([this] { return running_ == 0; }, interrupt);
}

}  // namespace tarvok::evaluation
