// Replies answered from recorded conversations: the book of recorded
// exchanges, looked up by the exact prompt, and the message for a prompt
// that was never recorded.
#pragma once

#include "generative/workflow.hpp"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::generative::replay {

/// A recorded reply and what its provider reported of it.
struct Recorded {
    std::string reply;
    workflow::Usage usage;
    std::string model;
    std::string step;  ///< the step that asked it, as the transcript names it ("" when not given)
};

/// The recorded exchanges, keyed by their exact prompt; a later record of a
/// prompt replaces an earlier one (the last recorded answer wins).
class Book {
  public:
    void add(std::string prompt, Recorded recorded) {
        if (!recorded.model.empty()) models_.insert(recorded.model);
        by_prompt_[std::move(prompt)] = std::move(recorded);
    }
    const Recorded* find(const std::string& prompt) const {
        auto found = by_prompt_.find(prompt);
        return found == by_prompt_.end() ? nullptr : &found->second;
    }
    std::size_t size() const { return by_prompt_.size(); }
    /// The recorded prompt nearest to `prompt`: of the same step if any is, then the one
    /// sharing the longest beginning with it; nullptr for an empty book.
    const std::pair<const std::string, Recorded>* nearest(std::string_view prompt, std::string_view step) const;
    /// The model names every record holds (also those a later record replaced), in order.
    const std::set<std::string>& models() const { return models_; }

  private:
    std::map<std::string, Recorded, std::less<>> by_prompt_;
    std::set<std::string> models_;
};

/// The first line of a prompt (without its line end), cut to `limit` characters.
std::string first_line(std::string_view prompt, std::size_t limit = 120);

/// "no recorded reply for the generate request (first line: '...', SHA-256 ...) in PATH".
/// `step` is empty when the request's step is not known.
std::string missing_reply(std::string_view step, std::string_view prompt, std::string_view sha256_hex,
                          std::string_view where);

/// What sets `prompt` apart from the nearest recorded prompt of `book`, so that a miss says
/// what changed: "; the nearest recorded prompt (a repair request, of 12) has the grammar
/// reference where this has none, 3 few-shot examples where this has 0, and differs first at
/// line 9: recorded '...', asked '...'"; "" for an empty book.
std::string nearest_difference(const Book& book, std::string_view step, std::string_view prompt);

}  // namespace tarvok::generative::replay
