// The compiler's error reports: collected by every pass, rendered as
// `model:4:18: message` followed by the offending line and a caret.
#pragma once

#include "compiler/ast.hpp"
#include "compiler/diagnostic_codes.hpp"

#include <cstddef>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::compiler {

/// "Up to the end of the word at the start": the end of a diagnostic that
/// names no end of its own.
inline constexpr uint32_t kWordEnd = std::numeric_limits<uint32_t>::max();

/// A remark attached to a diagnostic, such as where a name was first declared.
struct Note {
    Location at;
    std::string message;
};

struct Diagnostic {
    Location at;
    std::string message;
    Code code = Code::Other;
    Severity severity = Severity::Error;
    uint32_t end = kWordEnd;  ///< byte offset just past the span, in the file of `at`
    std::vector<Note> notes;
    std::optional<std::string> fix;  ///< text that replaces the span and mends the fault
};

/// Collects errors up to a cap, and warnings apart from them. Passes keep
/// going after an error so that one repair round can fix everything; once
/// the cap is reached they may stop.
class Diagnostics {
  public:
    explicit Diagnostics(size_t cap = 20) : cap_(cap == 0 ? 1 : cap) {}

    /// Records an error; repeats of the same message at the same place and
    /// errors beyond the cap are dropped (the result is then null).
    Diagnostic* error(Code code, Location at, std::string message, uint32_t end = kWordEnd);
    /// An error of a pass outside the compiler, under the code `Other`.
    Diagnostic* error(Location at, std::string message) { return error(Code::Other, at, std::move(message)); }

    /// The error of `code` recorded at `at`, or null: for a pass that learns
    /// more about a fault another pass reported there, and rewords it.
    Diagnostic* recorded(Code code, const Location& at);

    /// Records a warning (warnings never make a compilation fail); capped
    /// like errors.
    Diagnostic* warning(Code code, Location at, std::string message, uint32_t end = kWordEnd);

    /// Whether an error at `at` would be kept, so that a caller can skip
    /// composing a message that would be dropped. Past the cap it notes the
    /// drop, exactly as `error` would.
    bool accepting(const Location& at);

    /// True when there is no error (warnings do not count).
    bool empty() const { return items_.empty(); }
    bool full() const { return items_.size() >= cap_; }
    /// Errors recorded so far (the kept ones); passes compare it before and
    /// after a statement to tell whether that statement is sound.
    size_t size() const { return items_.size(); }
    bool truncated() const { return truncated_; }
    const std::vector<Diagnostic>& items() const { return items_; }
    const std::vector<Diagnostic>& warnings() const { return warnings_; }

  private:
    size_t cap_;
    bool truncated_ = false;
    std::vector<Diagnostic> items_;
    std::vector<Diagnostic> warnings_;
};

/// `items` in source order: the model before the data, then by line and column.
std::vector<const Diagnostic*> in_source_order(const std::vector<Diagnostic>& items);

/// All errors in source order (model first), each as
/// `file:line:column: message`, then the source line and a caret under the
/// column. The result is valid UTF-8 whatever the texts hold. This is the
/// text of the compiler's error that the generation loop feeds back.
/// Names where the byte at an offset of a data text written from other data
/// (a JSON object, a folder of tables, a mapping) came from, or "" for a
/// place of the text itself.
using DataOrigin = std::function<std::string(uint32_t offset)>;

/// A data diagnostic whose place `origin` names is headed by that name in
/// place of `data:line:column`, without the written line the reader never saw.
std::string render(const Diagnostics& diagnostics, std::string_view model_text, std::string_view data_text,
                   const DataOrigin& origin = {});

/// How `render_for_files` names the two texts.
struct FileNames {
    std::string model = "model";
    std::string data = "data";
    DataOrigin data_origin;  ///< as for `render`
};

/// Errors, then warnings, each as `path:line:column: error: message` (or
/// `warning:`), with the source line and a caret, and its notes as
/// `path:line:column: note: ...`: the form terminals and editors link.
std::string render_for_files(const Diagnostics& diagnostics, std::string_view model_text, std::string_view data_text,
                             const FileNames& names);

/// A place as line and column (1-based, columns in characters).
struct Position {
    uint32_t line = 1;
    uint32_t column = 1;
};

/// The byte offset just past the span of `d` in `text` (the text of its
/// file): its own end, or the end of the word (else the character) at its start.
size_t end_offset(const Diagnostic& d, std::string_view text);

/// Where the span of `d` ends in `text` (the text of its file).
Position end_position(const Diagnostic& d, std::string_view text);

/// Levenshtein distance, for "did you mean" suggestions.
size_t edit_distance(std::string_view a, std::string_view b);

/// The candidate closest to `name` when it is close enough to be a likely
/// typo (or differs only in letter case); empty when none is.
std::string_view closest_name(std::string_view name, const std::vector<std::string_view>& candidates);

/// " (did you mean 'x'?)" for a close candidate, else the empty text.
std::string did_you_mean(std::string_view name, const std::vector<std::string_view>& candidates);

/// `text` cut to at most `limit` characters with "..." in the middle, and
/// made printable; for quoting source in messages. Reads only the parts it
/// shows, so quoting a huge expression costs no more than a short one.
std::string quote_source(std::string_view text, size_t limit = 60);

/// The solver reads every number at or beyond this magnitude as infinite, so
/// such a number in a model or its data is refused where it appears.
inline constexpr double kSolverInfinity = 1e20;

/// The message of BeyondSolverInfinity for `what` ("the number 1e25", "the
/// value of 'a * b'").
inline std::string beyond_solver_infinity(const std::string& what) {
    return what + " is at or beyond 1e20, which the solver reads as infinity; choose units that make it smaller";
}

/// A name as messages show it: whole when it is of ordinary length, else cut
/// in the middle, so that no name makes a message long.
std::string shown_name(std::string_view name);

}  // namespace tarvok::compiler
