// Queries known before they are ranked, encoded ahead in order by one encoder.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tarvok::example_ranker {

/// How far past the furthest query ranked the encoder goes: a run of 10^5
/// problems holds a few hundred vectors at a time, not all of them.
inline constexpr std::size_t kQueriesAhead = 256;
/// Most queries the encoder encodes in one call. A query costs about as much
/// in a batch of 8 as in one of 32 (the model pads a batch to its longest
/// text), and a small batch lets the rankings waiting for it go sooner.
inline constexpr std::size_t kAheadBatch = 8;

/// The queries of a run, known before it starts (an evaluation's
/// descriptions in the order its workers take them), encoded ahead in
/// batches by one encoder while the workers wait on their requests: a
/// ranking claims its query's position and finds the vector ready, or waits
/// for its own batch only. A query that is not among them, or that the
/// encoder will not reach (it failed or stopped, or the query was left far
/// behind), is encoded by its ranking as any other. `Vector` is one query's
/// encoding; the encoder's hand-over and close() may destroy vectors (the
/// binding calls them holding the interpreter), waiting does not.
template <typename Vector>
class QueriesAhead {
  public:
    /// `keys[i]`: a hash of the i-th query's text.
    explicit QueriesAhead(const std::vector<std::int64_t>& keys, std::size_t ahead = kQueriesAhead,
                          std::size_t batch = kAheadBatch)
        : count_(keys.size()), ahead_(ahead), batch_(std::max<std::size_t>(batch, 1)) {
        for (std::size_t i = 0; i < keys.size(); ++i) unclaimed_[keys[i]].push_back(i);
    }

    /// The first unclaimed position of the query with `key` whose text
    /// `same(position)` confirms, now claimed; none when there is no such.
    template <typename Same>
    std::optional<std::size_t> claim(std::int64_t key, Same&& same) {
        std::lock_guard lock(mutex_);
        auto found = unclaimed_.find(key);
        if (found == unclaimed_.end()) return std::nullopt;
        auto& positions = found->second;
        auto it = std::find_if(positions.begin(), positions.end(), same);
        if (it == positions.end()) return std::nullopt;
        std::size_t position = *it;
        positions.erase(it);
        if (positions.empty()) unclaimed_.erase(found);
        furthest_ = std::max(furthest_, position + 1);
        changed_.notify_all();  // the encoder may go further now
        return position;
    }

    /// The vector of the claimed `position`, once its batch is encoded; none
    /// when it will not be here (the encoder failed or stopped, or the vector
    /// was let go). Called without the interpreter.
    std::optional<Vector> wait(std::size_t position) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stopped_ || done_ > position; });
        auto found = vectors_.find(position);
        if (found == vectors_.end()) return std::nullopt;
        std::optional<Vector> vector(std::move(found->second));
        vectors_.erase(found);
        return vector;
    }

    /// For the encoder: waits for room ahead and returns the next positions
    /// to encode (the first and how many: at most a batch, and no further
    /// than the furthest claimed while that is not encoded, so that its
    /// rankings, which wait, go first); none when all are encoded or the
    /// encoding stopped. Called without the interpreter.
    std::optional<std::pair<std::size_t, std::size_t>> next_batch() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stopped_ || next_ >= count_ || next_ < furthest_ + ahead_; });
        if (stopped_ || next_ >= count_) return std::nullopt;
        std::size_t wanted = furthest_ > next_ ? furthest_ - next_ : batch_;
        std::size_t first = next_, size = std::min({batch_, wanted, count_ - next_});
        next_ += size;
        return std::pair{first, size};
    }

    /// The batch from `first` encoded: one vector a position, or none when
    /// it failed (then nothing more is encoded ahead). Vectors that no
    /// ranking claimed while the encoder went a full distance past them are
    /// let go (their problems did not rank, or rank late and encode alone).
    void encoded(std::size_t first, std::vector<Vector> vectors) {
        std::lock_guard lock(mutex_);
        if (vectors.empty()) {
            stopped_ = true;
        } else {
            for (std::size_t i = 0; i < vectors.size(); ++i) vectors_[first + i] = std::move(vectors[i]);
            done_ = first + vectors.size();
        }
        if (furthest_ > ahead_) vectors_.erase(vectors_.begin(), vectors_.lower_bound(furthest_ - ahead_));
        changed_.notify_all();
    }

    /// Encodes no more: the encoder ends and waiting rankings encode their own.
    void close() {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        vectors_.clear();
        changed_.notify_all();
    }

    /// Vectors held now (encoded and not yet taken).
    std::size_t held() {
        std::lock_guard lock(mutex_);
        return vectors_.size();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::unordered_map<std::int64_t, std::deque<std::size_t>> unclaimed_;  ///< positions by key, in order
    std::map<std::size_t, Vector> vectors_;                                ///< encoded, not yet taken
    std::size_t count_, ahead_, batch_;
    std::size_t next_ = 0;      ///< first position not yet handed to the encoder
    std::size_t done_ = 0;      ///< positions below are encoded
    std::size_t furthest_ = 0;  ///< one past the furthest position claimed
    bool stopped_ = false;
};

}  // namespace tarvok::example_ranker
