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
//
// A journal is a file anyone who can write the folder could have planted, so
// it is followed only when it records the very pair it sits beside and staged
// files of that pair: each in a staging folder this package makes beside its
// target (`.tarvok-XXXX`), named as its target, no link, no '..', owned by
// the user; anything else is refused and left alone.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace tarvok::cli {

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
enum class Pending {
    None,        ///< no journal
    Finished,    ///< the move it recorded is complete now
    Unreadable,  ///< a journal of this pair whose move cannot be completed
    Refused,     ///< no journal to follow: it records other files, or is a link or another's file
};

/// Whether `name` is one that a staging folder of this package has: ".tarvok-" and 1 to 64 letters, digits or '_'.
bool staging_folder_name(const std::string& name);

/// A new staging folder `.tarvok-XXXXXXXX` in `parent`, for the user alone;
/// empty, with `error` set, when it cannot be made.
fs::path make_staging_folder(const fs::path& parent, std::error_code& error);

/// Why a journal recording the move of `staged` onto `recorded` may not be
/// followed for `target` (see above); nothing when it may.
std::optional<std::string> journal_refusal(const Pair& staged, const Pair& recorded, const Pair& target);

/// Completes a move that the journal beside `target.model` records, if any
/// and if it may be followed; `why` says why not (Unreadable, Refused).
Pending finish_pending(const Pair& target, std::string& why);

/// Renames each staged file that exists to `<target>.failed`, replacing an
/// older one; returns the pair of paths now holding the attempt (empty paths
/// for a file that was never written).
Pair keep_failed(const Pair& staged, const Pair& target, std::error_code& error);

/// Copies each existing target to `<target>.bak`, both written whole or
/// neither; whatever is at a `.bak` name (an older copy, a link) is replaced,
/// never written through. The paths of the copies (empty for a file that
/// does not exist); when it fails, none, with `error` saying which file and why.
Pair back_up(const Pair& target, std::string& error);

/// `path` with `suffix` appended to its file name.
fs::path with_suffix(const fs::path& path, const std::string& suffix);

/// Why `target` cannot take a new file: "<shown> is a folder", or "<shown> is
/// not writable" for an existing file (or link) that cannot be written;
/// nothing when it can.
std::optional<std::string> unwritable_target(const fs::path& target, const std::string& shown);

/// A new model and data pair written beside its targets and moved into place
/// together; the staging folders are removed when it goes. What speaks to the
/// host (how a path is shown, a line on stderr, a folder made, the move run
/// without the host's lock) is the subclass's.
class PairStage {
  public:
    explicit PairStage(Pair target) : target_(std::move(target)) {}
    PairStage(const PairStage&) = delete;
    PairStage& operator=(const PairStage&) = delete;
    virtual ~PairStage();

    const Pair& staged() const { return staged_; }
    const Pair& target() const { return target_; }

    /// Moves the staged pair onto the targets; fails (status 2) saying why
    /// and where the move is recorded when it cannot.
    void place();
    /// Keeps what was staged as <target>.failed (see keep_failed); the paths
    /// it is kept under. A failure to keep it is a warning.
    Pair keep_failed();
    /// Where a kept attempt is, for a message: "A and B", one of them, or ""
    /// when nothing was written.
    std::string kept_text(const Pair& kept) const;
    /// "A and B" for the targets.
    std::string targets_text() const;
    /// A progress line with the staged files named as their targets, which is where
    /// they will be: the hidden staging folder is no place a user looks.
    std::string as_targets(std::string line) const;

  protected:
    /// Refuses (status 2) targets that are folders or read-only files,
    /// finishes a move that an earlier run left half done (saying so), and
    /// makes the staging folders: one per folder of the targets. Called by
    /// the subclass's constructor, once its hooks work.
    void stage();

    virtual std::string shown(const fs::path& path) const = 0;
    virtual void warn(const std::string& line) = 0;
    /// A new, empty staging folder in `parent` (made first when missing);
    /// fails (status 2) when it cannot be made.
    virtual fs::path make_folder(const fs::path& parent) = 0;
    virtual std::error_code move(const Pair& staged, const Pair& target) { return place_pair(staged, target); }

  private:
    Pair staged_, target_;
    std::vector<fs::path> folders_;
};

}  // namespace tarvok::cli
