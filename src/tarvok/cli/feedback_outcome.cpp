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

ReplyKind reply_kind(const data::Value& reply) {
    if (reply.kind() != data::Value::Kind::Object) return ReplyKind::NoFeedback;
    return reply.find("revised_model") || reply.find("revised_data") ? ReplyKind::Revision : ReplyKind::FeedbackOnly;
}

std::optional<std::string> feedback_of(const data::Value& reply) {
    const data::Value* feedback = reply.find("feedback");
    return feedback ? std::optional(feedback->text()) : std::nullopt;
}

std::vector<std::string> reply_lines(const data::Value& reply, const std::string& diff) {
    switch (reply_kind(reply)) {
    case ReplyKind::NoFeedback: return {"The model gave no feedback."};
    case ReplyKind::FeedbackOnly: return {feedback_text(feedback_of(reply))};
    case ReplyKind::Revision: return {feedback_text(feedback_of(reply)), "", shown_diff(diff)};
    }
    return {};
}

data::Value revision_json(data::Value reply, const std::string& diff, bool compiles,
                          const std::optional<std::pair<std::string, std::string>>& applied_backups) {
    using data::Value;
    // A key the reply has already keeps its place and takes the new value, as in the host's dict.
    auto set = [&](const char* key, Value value) {
        for (auto& [name, held] : reply.members())
            if (name == key) return void(held = std::move(value));
        reply.members().emplace_back(key, std::move(value));
    };
    auto path = [](const std::string& p) { return p.empty() ? Value::null() : Value::of(p); };
    set("diff", Value::of(diff));
    set("compiles", Value::of(compiles));
    set("applied", Value::of(applied_backups.has_value()));
    if (applied_backups) {
        set("backup_model_file", path(applied_backups->first));
        set("backup_data_file", path(applied_backups->second));
    }
    return reply;
}

RevisionStep feedback_step(const FeedbackOptions& run, const ProposedRevision& revision) {
    return revision_step(run.apply, revision.diagnostics.empty(), !revision.diff.empty());
}

int tell_feedback(const Output& out, const FeedbackOptions& run, data::Value reply,
                  const std::optional<ProposedRevision>& revision, const std::optional<Backups>& applied) {
    if (!revision) {
        if (run.json)
            out.say_json(reply);
        else
            out.say(reply_lines(reply, "").front());
        return code(ExitStatus::Success);
    }
    FeedbackEnd end{
        run.apply,    revision->diagnostics.empty(), !revision->diff.empty(), applied.has_value(), run.model_file,
        run.data_file};
    if (applied && (!applied->first.empty() || !applied->second.empty())) end.backups = applied;
    if (run.json) {
        out.say_json(revision_json(std::move(reply), revision->diff, end.compiles, applied));
    } else {
        for (const std::string& line : reply_lines(reply, revision->diff)) out.say(line);
    }
    FeedbackClosing closing = feedback_closing(end, revision->diagnostics);
    for (const std::string& line : closing.warnings) out.warn(line);
    return code(closing.status);
}

}  // namespace tarvok::cli
