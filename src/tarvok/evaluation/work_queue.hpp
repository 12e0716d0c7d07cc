// The problems of a run handed out to its workers one at a time, and the
// problems they finish handed back to the thread that records them, in the
// order they finish. The queue decides when no problem is taken any more
// (the run stops) and carries what a worker threw to the waiting thread;
// the host only runs the workers and gives the wait a way to be interrupted.
#pragma once

#include "common/interrupt.hpp"
#include "evaluation/runner.hpp"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tarvok::evaluation {

/// What a run's workers start with: the problems as they are handed out
/// (each with the folder of its run, see problem_folder) and the names of
/// the workers, at most `jobs` of them and no more than there are problems.
struct WorkerPlan {
    std::vector<Problem> problems;
    std::vector<std::string> names;  ///< tarvok-eval-1, tarvok-eval-2, ...
};
WorkerPlan plan_workers(const std::vector<const Problem*>& todo, long long jobs);

class WorkQueue {
  public:
    /// `tasks` problems to run on `workers` workers (each calls worker_ended once).
    WorkQueue(std::size_t tasks, std::size_t workers) : tasks_(tasks), running_(workers) {}

    /// The next problem for a worker; none when every one is taken or the run stops.
    std::optional<std::size_t> take();
    /// A worker finished the problem `index` with `record`.
    void put(std::size_t index, Record record);
    /// A worker failed: what it threw is thrown again by next().
    void fail(std::exception_ptr error);
    /// A worker's last call, however it ends.
    void worker_ended();

    /// No problem is taken any more; the running ones end at their next step.
    void stop();
    bool stopping() const;
    /// The workers that have not ended.
    std::size_t running() const;

    /// Waits for the next finished problem, in short steps so that
    /// `interrupt` (when given) can end the wait; throws what a worker threw.
    Finished next(Interrupt* interrupt);
    /// Waits until every worker has ended, as interruptible as next().
    void wait_for_workers(Interrupt* interrupt);

  private:
    /// Waits until `ready` holds (checked with the lock held), checking
    /// `interrupt` between steps with the lock released: the host's check
    /// may wait for a worker that is about to take the lock.
    template <typename Ready>
    void wait_until(Ready&& ready, Interrupt* interrupt);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t tasks_, next_ = 0, running_;
    bool stopped_ = false;
    /// What the workers handed back, in the order they did: a finished
    /// problem, or (`error` set) what a worker threw.
    struct Handed {
        Finished done;
        std::exception_ptr error;
    };
    std::deque<Handed> handed_;
};

}  // namespace tarvok::evaluation
