// A new model and data pair staged beside its targets for a command and moved
// into place together (common/pair_placement.hpp), with the command's
// refusals and warnings.
#pragma once

#include "common/pair_placement.hpp"

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace tarvok::cli {

namespace fs = std::filesystem;
using files::Pair;

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
