// What `tarvok feedback` does with a proposed revision, and what it says at
// the end: the decisions of the command over plain values; the binding reads
// the files, asks the LLM, diffs and compiles.
#pragma once

#include "cli/output.hpp"
#include "common/exit_status.hpp"
#include "compiler/data_values.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarvok::cli {

/// What becomes of a revision that was shown: written into place (--apply),
/// kept beside the model so that --apply writes exactly it, or neither.
enum class RevisionStep { Write, KeepProposal, Nothing };

/// Only a revision that compiles and changes something is written or kept.
RevisionStep revision_step(bool apply, bool compiles, bool changes);

/// The end of a run that showed a revision.
struct FeedbackEnd {
    bool apply = false;     ///< --apply was given
    bool compiles = false;  ///< the revision compiles
    bool changes = false;   ///< the diff is not empty
    bool applied = false;   ///< the revision is in place
    std::string model_file, data_file;
    std::optional<std::pair<std::string, std::string>> backups;  ///< where the previous files are kept
};

/// The lines for stderr and the exit status.
struct FeedbackClosing {
    std::vector<std::string> warnings;
    ExitStatus status = ExitStatus::Success;
};

/// `diagnostics` is the compiler's report on a revision that does not compile.
FeedbackClosing feedback_closing(const FeedbackEnd& end, const std::string& diagnostics);

/// The text of the feedback a reply gives, or its stand-in.
std::string feedback_text(const std::optional<std::string>& feedback);

/// The diff shown to a reader ("" when the revision changes nothing).
std::string shown_diff(const std::string& diff);

/// What the LLM's reply to a question holds: nothing to show (it is no
/// object), feedback alone, or a revision (revised_model, revised_data or both).
enum class ReplyKind { NoFeedback, FeedbackOnly, Revision };
ReplyKind reply_kind(const data::Value& reply);

/// The reply's "feedback" as the host writes it, when it has one.
std::optional<std::string> feedback_of(const data::Value& reply);

/// What `feedback` says of a reply without --json: its feedback (or that
/// the model gave none); for a revision also an empty line, then the diff
/// as shown_diff shows it.
std::vector<std::string> reply_lines(const data::Value& reply, const std::string& diff);

/// A shown revision as `feedback --json` prints it: the reply, then its
/// diff, whether it compiles, whether it was applied and, when it was, where
/// the previous files are kept ("" for a file there was none of).
data::Value revision_json(data::Value reply, const std::string& diff, bool compiles,
                          const std::optional<std::pair<std::string, std::string>>& applied_backups);

/// A revision the reply proposes, as the host found it.
struct ProposedRevision {
    std::string diff;         ///< of both files ("" when it changes nothing)
    std::string diagnostics;  ///< the compiler's report ("" when it compiles)
};

/// Where the previous files of an applied revision are kept ("" for a file there was none of).
using Backups = std::pair<std::string, std::string>;

/// What `feedback` was asked: --apply, --json, and the files as messages name them.
struct FeedbackOptions {
    bool apply = false, json = false;
    std::string model_file, data_file;
};

/// What becomes of the revision a reply proposes (see revision_step), from
/// its diff and verdict.
RevisionStep feedback_step(const FeedbackOptions& run, const ProposedRevision& revision);

/// `feedback` once the reply is held (with --apply the kept one, else the
/// LLM's) and a revision it proposes (`revision`: its diff and verdict) was
/// written (`applied`: where the previous files are kept), kept or neither:
/// a reply without a revision is shown and ends well; a revision's reply is
/// shown with its diff, then the closing lines say what became of it. Gives
/// the exit status.
int tell_feedback(const Output& out, const FeedbackOptions& run, data::Value reply,
                  const std::optional<ProposedRevision>& revision, const std::optional<Backups>& applied);

}  // namespace tarvok::cli
