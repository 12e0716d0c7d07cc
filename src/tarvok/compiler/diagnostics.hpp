// The compiler's error reports: collected by every pass, rendered as
// `model:4:18: message` followed by the offending line and a caret.
#pragma once

#include "compiler/ast.hpp"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::compiler {

struct Diagnostic {
    Location at;
    std::string message;
};

/// Collects errors up to a cap. Passes keep going after an error so that one
/// repair round can fix everything; once the cap is reached they may stop.
class Diagnostics {
  public:
    explicit Diagnostics(size_t cap = 20) : cap_(cap == 0 ? 1 : cap) {}

    /// Records an error; repeats of the same message at the same place and
    /// errors beyond the cap are dropped.
    void error(Location at, std::string message);

    bool empty() const { return items_.empty(); }
    bool full() const { return items_.size() >= cap_; }
    /// Errors recorded so far (the kept ones); passes compare it before and
    /// after a statement to tell whether that statement is sound.
    size_t size() const { return items_.size(); }
    bool truncated() const { return truncated_; }
    const std::vector<Diagnostic>& items() const { return items_; }

  private:
    size_t cap_;
    bool truncated_ = false;
    std::vector<Diagnostic> items_;
};

/// All diagnostics in source order (model first), each as
/// `file:line:column: message`, then the source line and a caret under the
/// column. The result is valid UTF-8 whatever the texts hold.
std::string render(const Diagnostics& diagnostics, std::string_view model_text, std::string_view data_text);

/// Levenshtein distance, for "did you mean" suggestions.
size_t edit_distance(std::string_view a, std::string_view b);

/// The candidate closest to `name` when it is close enough to be a likely
/// typo (or differs only in letter case); empty when none is.
std::string_view closest_name(std::string_view name, const std::vector<std::string_view>& candidates);

/// " (did you mean 'x'?)" for a close candidate, else the empty text.
std::string did_you_mean(std::string_view name, const std::vector<std::string_view>& candidates);

/// `text` cut to at most `limit` characters with "..." in the middle, and
/// made printable; for quoting source in messages.
std::string quote_source(std::string_view text, size_t limit = 60);

}  // namespace tarvok::compiler
