// Queries from many workers encoded in batches by one owner of the model.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace tarvok::example_ranker {

/// Most queries encoded in one call: the model's own batch size.
inline constexpr std::size_t kQueryBatch = 32;

/// The queries waiting for their model. A worker adds its query and waits.
/// When no one is encoding for that model, the first waiter to see it
/// becomes the owner: it takes every query waiting for the model (its own
/// first, then the oldest, at most kQueryBatch), encodes them in one call and
/// hands each waiter its vector. The model's fixed cost per call (and each
/// wait for the interpreter between its steps) is paid once for all of them,
/// and a waiter whose query was encoded wakes on its own, holding nothing the
/// others need. `Query` holds the text and, once encoded, the vector.
template <typename Query>
class QueryBatches {
  public:
    enum class State { Waiting, Taken, Done, Failed };
    struct Entry {
        const void* model;
        Query query;
        State state = State::Waiting;
    };
    using Ticket = std::shared_ptr<Entry>;
    using Batch = std::vector<Ticket>;

    Ticket add(const void* model, Query query) {
        auto entry = std::make_shared<Entry>(Entry{model, std::move(query)});
        std::lock_guard lock(mutex_);
        waiting_.push_back(entry);
        return entry;
    }

    /// Waits until `mine` is encoded (Done, or Failed: then it is encoded
    /// alone) and returns no batch, or until it may encode: then returns the
    /// batch it owns, `mine` first, which it must hand back to finish().
    /// Called without the interpreter.
    Batch wait(const Ticket& mine) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] {
            return mine->state == State::Done || mine->state == State::Failed || !owned_.contains(mine->model);
        });
        Batch batch;
        if (mine->state != State::Waiting) return batch;
        owned_.insert(mine->model);
        batch.push_back(mine);
        for (auto it = waiting_.begin(); it != waiting_.end();) {
            bool join = *it == mine || ((*it)->model == mine->model && batch.size() < kQueryBatch);
            if (!join) {
                ++it;
                continue;
            }
            if (*it != mine) batch.push_back(*it);
            it = waiting_.erase(it);
        }
        for (const Ticket& entry : batch) entry->state = State::Taken;
        return batch;
    }

    /// The owner's batch encoded (`ok`: each query holds its vector) or not;
    /// its waiters wake.
    void finish(const Batch& batch, bool ok) {
        {
            std::lock_guard lock(mutex_);
            for (const Ticket& entry : batch) entry->state = ok ? State::Done : State::Failed;
            owned_.erase(batch.front()->model);
        }
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Ticket> waiting_;
    std::set<const void*> owned_;  ///< models a batch is being encoded for
};

}  // namespace tarvok::example_ranker
