// A new model and data pair staged beside its targets for a command and moved
// into place together (common/pair_placement.hpp), with the command's
// refusals and warnings.
#pragma once

#include "cli/output.hpp"
#include "common/pair_placement.hpp"

#include <filesystem>
#include <string>
#include <vector>

namespace tarvok::cli {

namespace fs = std::filesystem;
using files::Pair;

/// A new model and data pair written beside its targets and moved into place
/// together; the staging folders are removed when it goes.
class PairStage {
  public:
    /// Refuses (status 2) targets that are folders or read-only files,
    /// finishes a move that an earlier run left half done (saying so on
    /// `out`), and makes the staging folders: one per folder of the targets,
    /// a fresh ".tarvok-*" folder (made with its parents when missing; one
    /// that cannot be made fails with status 2).
    PairStage(Pair target, const Output& out);
    PairStage(const PairStage&) = delete;
    PairStage& operator=(const PairStage&) = delete;
    ~PairStage();

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

  private:
    Pair staged_, target_;
    const Output& out_;
    std::vector<fs::path> folders_;
};

/// A path as the host names it: its bytes as UTF-8, each byte that is not
/// UTF-8 standing for the lone surrogate U+DC00 + byte.
std::string shown_path(const fs::path& path);

}  // namespace tarvok::cli
