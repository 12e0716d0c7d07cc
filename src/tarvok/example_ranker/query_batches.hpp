// Queries from many workers encoded in batches by one owner of the model.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace tarvok::example_ranker {

/// Most queries encoded in one call: the model's own batch size.
inline constexpr std::size_t kQueryBatch = 32;

/// The queries waiting for their model. A worker adds its query, then waits
/// for the model's turn (one encoding at a time). Whoever gets the turn and
/// finds its query not yet encoded takes every query waiting for that model
/// (its own first, then the oldest, at most kQueryBatch) and encodes them in
/// one call: the model's fixed cost per call (and each wait for the
/// interpreter between its steps) is paid once for all of them, and the
/// others find theirs done when their turn comes. `Query` holds the text and,
/// once encoded, the vector; its state changes only within the model's turn.
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

    Ticket add(const void* model, Query query) {
        auto entry = std::make_shared<Entry>(Entry{model, std::move(query)});
        std::lock_guard lock(mutex_);
        waiting_.push_back(entry);
        return entry;
    }

    /// The batch for `mine` once it has the turn: none when another took it
    /// (Done, or Failed: then it is encoded alone), else `mine` and the
    /// others waiting for its model, all marked Taken.
    std::vector<Ticket> take(const Ticket& mine) {
        std::lock_guard lock(mutex_);
        std::vector<Ticket> batch;
        if (mine->state != State::Waiting) return batch;
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

    /// Takes `mine` out of the queue when it is left without being encoded.
    void drop(const Ticket& mine) {
        std::lock_guard lock(mutex_);
        for (auto it = waiting_.begin(); it != waiting_.end(); ++it)
            if (*it == mine) {
                waiting_.erase(it);
                return;
            }
    }

  private:
    std::mutex mutex_;
    std::deque<Ticket> waiting_;
};

}  // namespace tarvok::example_ranker
