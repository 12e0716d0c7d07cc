#include "cli/feedback_outcome.hpp"

namespace tarvok::cli {

RevisionStep revision_step(bool apply, bool compiles, bool changes) {
    if (!compiles || !changes) return RevisionStep::Nothing;
    return apply ? RevisionStep::Write : RevisionStep::KeepProposal;
}

FeedbackClosing feedback_closing(const FeedbackEnd& end, const std::string& diagnostics) {
    FeedbackClosing out;
    if (!end.compiles) {
        out.warnings = {diagnostics, std::string("tarvok: the proposed revision does not compile") +
                                         (end.apply ? "; the files are unchanged" : "; it cannot be applied")};
        out.status = end.apply ? ExitStatus::DoesNotCompile : ExitStatus::Success;
        return out;
    }
    if (end.applied) {
        std::string line = "Applied the revision to " + end.model_file + " and " + end.data_file;
        if (end.backups) line += "; the previous files are in " + end.backups->first + " and " + end.backups->second;
        out.warnings.push_back(line);
    } else if (!end.apply && end.changes) {
        out.warnings.push_back("To write exactly this revision, run the same command with --apply.");
    }
    return out;
}

std::string feedback_text(const std::optional<std::string>& feedback) {
    return feedback ? *feedback : std::string("(no feedback text)");
}

std::string shown_diff(const std::string& diff) {
    if (diff.empty()) return "(the revision changes nothing)";
    std::string shown = diff;
    while (!shown.empty() && shown.back() == '\n') shown.pop_back();
    return shown;
}

}  // namespace tarvok::cli
