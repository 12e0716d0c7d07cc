// What `tarvok feedback` does with a proposed revision, and what it says at
// the end: the decisions of the command, apart from the host that reads the
// files, asks the LLM and compiles.
#pragma once

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

/// A shown revision as `feedback --json` prints it: the reply, then its
/// diff, whether it compiles, whether it was applied and, when it was, where
/// the previous files are kept ("" for a file there was none of).
data::Value revision_json(data::Value reply, const std::string& diff, bool compiles,
                          const std::optional<std::pair<std::string, std::string>>& applied_backups);

}  // namespace tarvok::cli
