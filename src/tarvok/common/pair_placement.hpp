// Moving a new model and data pair into place as one change.
//
// The pair is first written to a staging folder beside its targets (so each
// rename stays on one file system). Two renames cannot be one atomic step, so
// a journal beside the model target records the move before it starts and is
// removed once both files are in place:
//
//   1. write the journal (to a temporary name, then renamed into place);
//   2. rename the staged data onto the data target;
//   3. rename the staged model onto the model target;
//   4. remove the journal.
//
// A crash between 2 and 3 leaves a new data file beside the old model, and the
// journal says so: its text explains it to a person, and finish_pending()
// completes the move (each step is repeatable: a staged file already moved is
// skipped). The model goes last because it is the file people and tools open
// first; while the journal exists the pair is known to be incomplete.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace tarvok::files {

namespace fs = std::filesystem;

struct Pair {
    fs::path model;
    fs::path data;
};

/// The journal that guards a move onto `model_target`.
fs::path journal_path(const fs::path& model_target);

/// The journal's text for moving `staged` onto `target`.
std::string journal_text(const Pair& staged, const Pair& target);

/// The staged and target pairs a journal text records; nothing when the text
/// is not a journal.
std::optional<std::pair<Pair, Pair>> parse_journal(const std::string& text);

/// Moves `staged` onto `target` in the order above. On an error before the
/// first rename nothing has changed and the journal is gone again; after it,
/// the journal stays so that the half-finished move is not missed.
std::error_code place_pair(const Pair& staged, const Pair& target);

/// What finish_pending() found.
enum class Pending { None, Finished, Unreadable };

/// Completes a move that the journal beside `model_target` records, if any.
Pending finish_pending(const fs::path& model_target, std::error_code& error);

/// Renames each staged file that exists to `<target>.failed`, replacing an
/// older one; returns the pair of paths now holding the attempt (empty paths
/// for a file that was never written).
Pair keep_failed(const Pair& staged, const Pair& target, std::error_code& error);

/// Copies each existing target to `<target>.bak`, replacing an older copy;
/// the paths of the copies (empty for a file that does not exist). A copy
/// that fails ends the backing up, with `error` saying which file and why.
Pair back_up(const Pair& target, std::string& error);

/// `path` with `suffix` appended to its file name.
fs::path with_suffix(const fs::path& path, const std::string& suffix);

/// Why `target` cannot take a new file: "<shown> is a folder", or "<shown> is
/// not writable" for an existing file (or link) that cannot be written;
/// nothing when it can.
std::optional<std::string> unwritable_target(const fs::path& target, const std::string& shown);

}  // namespace tarvok::files
