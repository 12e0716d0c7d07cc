// `tarvok feedback QUESTION -m MODEL -d DATA [--apply]`: a question about an
// existing pair. A proposed revision is shown as a unified diff; one that
// compiles is kept beside the model, so that the same command with --apply
// writes exactly that revision instead of asking the LLM again. Applying
// keeps the old files as <file>.bak and moves the new pair into place as one
// change.
#include "cli/command.hpp"
#include "cli/feedback_outcome.hpp"
#include "host/json_value.hpp"

namespace tarvok::cli {

namespace {

py::object sha256(py::handle text) {
    return py::module_::import("hashlib")
        .attr("sha256")(text.attr("encode")("utf-8", "surrogatepass"))
        .attr("hexdigest")();
}

void write_new(py::object path, py::object text) {
    py::object file = builtin("open")(path, "w", py::arg("encoding") = "utf-8");
    try {
        file.attr("write")(text);
    } catch (...) {
        file.attr("close")();
        throw;
    }
    file.attr("close")();
}

}  // namespace

namespace {

/// The files and question of one run, read and checked.
struct FeedbackInputs {
    py::object question, model_file, data_file, model_text, data_text;
    py::object proposal_file;  ///< where a shown revision is kept for --apply
    py::dict base;             ///< what a kept revision must match: the question and the files' hashes
};

FeedbackInputs read_feedback_inputs(py::object args) {
    FeedbackInputs in;
    in.question = required_text(args.attr("question"), "question");
    in.model_file = absolute(args.attr("model_file"));
    in.data_file = absolute(args.attr("data_file"));
    refuse_same_file(in.model_file, in.data_file);
    in.model_text = read_input(in.model_file);
    in.data_text = read_input(in.data_file);
    in.proposal_file = py::str(in.model_file) + py::str(".proposed.json");
    in.base["question"] = in.question;
    in.base["model_sha256"] = sha256(in.model_text);
    in.base["data_sha256"] = sha256(in.data_text);
    return in;
}

/// The revision shown earlier for this question and these very files, else None.
py::object kept_answer(const FeedbackInputs& in) {
    if (!host::truthy(py::module_::import("os").attr("path").attr("isfile")(in.proposal_file))) return py::none();
    try {
        py::object saved = py::module_::import("json").attr("loads")(read_input(in.proposal_file));
        bool same = PyDict_Check(saved.ptr());
        for (auto item : in.base) same = same && host::equals(saved.attr("get")(item.first), item.second);
        if (!same) return py::none();
        warn("Applying the revision shown earlier (kept in " + host::str_of(in.proposal_file) + ")");
        return saved["answer"];
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e)) throw;  // an unreadable proposal is asked for again
        return py::none();
    }
}

py::object ask_for_feedback(py::object args, const FeedbackInputs& in) {
    TemporarySettings settings;
    apply_llm_options(settings, args);
    py::cpp_function printer = progress_printer();
    return llm_phase([&] {
        return generative().attr("generative_feedback")(
            in.question, in.model_file, in.data_file, py::arg("model_name") = model_or_default(args),
            py::arg("mode") = grammar_mode(args.attr("grammar")), py::arg("temperature") = args.attr("temperature"),
            py::arg("llm_provider") = args.attr("provider"), py::arg("progress") = printer);
    });
}

/// A revision and what became of it.
struct Revision {
    py::object model, data, diff;
    std::string diagnostics;  ///< the compiler's report when it does not compile
    bool applied = false;
    Pair backups;
};

/// The revised pair (a missing half keeps the file's text), its diff and whether it compiles.
Revision revision_of(py::dict reply, const FeedbackInputs& in) {
    Revision r;
    r.model = reply.contains("revised_model") ? reply["revised_model"] : in.model_text;
    r.data = reply.contains("revised_data") ? reply["revised_data"] : in.data_text;
    if (!PyUnicode_Check(r.model.ptr()) || !PyUnicode_Check(r.data.ptr()))
        fail(ExitStatus::LlmFailure, "the proposed revision is not text; nothing was written");
    r.diff = host::unified_diff(in.model_text, r.model, in.model_file) +
             host::unified_diff(in.data_text, r.data, in.data_file);
    try {
        generative().attr("TVLCompiler")().attr("compile_model")(r.model, r.data);
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e)) throw;
        r.diagnostics = host::str_of(e.value());
    }
    return r;
}

/// Writes the revision into place (keeping backups), or keeps it for --apply, as revision_step says.
void settle_revision(Revision& r, py::dict reply, const FeedbackInputs& in, std::optional<StagedPair>& pair,
                     bool apply) {
    py::module_ os = py::module_::import("os");
    switch (revision_step(apply, r.diagnostics.empty(), host::truthy(r.diff))) {
    case RevisionStep::Write: {
        write_new(pair->staged_model(), r.model);
        write_new(pair->staged_data(), r.data);
        std::string error;
        r.backups = back_up(pair->target(), error);
        if (!error.empty()) fail(ExitStatus::Usage, error);
        pair->place();
        r.applied = true;
        if (host::truthy(os.attr("path").attr("exists")(in.proposal_file))) os.attr("remove")(in.proposal_file);
        break;
    }
    case RevisionStep::KeepProposal: {
        py::dict saved = in.base;
        saved["answer"] = reply;
        py::object draft = in.proposal_file + py::str(".tmp");
        write_new(draft, json_dumps(saved));
        os.attr("replace")(draft, in.proposal_file);
        break;
    }
    case RevisionStep::Nothing: break;
    }
}

void show_revision(const Revision& r, py::dict reply, bool as_json) {
    if (!as_json) {
        say(feedback_text(feedback_of(plain_value(reply))));
        say("");
        say(shown_diff(host::str_of(r.diff)));
        return;
    }
    auto shown = [](const fs::path& p) { return p.empty() ? std::string() : host::str_of(host_path(p)); };
    say_json(host::object_of(revision_json(
        plain_value(reply), host::str_of(r.diff), r.diagnostics.empty(),
        r.applied ? std::optional(std::pair(shown(r.backups.model), shown(r.backups.data))) : std::nullopt)));
}

int close_revision(const Revision& r, const FeedbackInputs& in, bool apply) {
    FeedbackEnd end{apply,     r.diagnostics.empty(),       host::truthy(r.diff),
                    r.applied, host::str_of(in.model_file), host::str_of(in.data_file)};
    if (!r.backups.model.empty() || !r.backups.data.empty())
        end.backups = {host::str_of(host_path(r.backups.model)), host::str_of(host_path(r.backups.data))};
    FeedbackClosing closing = feedback_closing(end, r.diagnostics);
    for (const std::string& line : closing.warnings) warn(line);
    return code(closing.status);
}

}  // namespace

int run_feedback(py::object args) {
    check_llm_options(args);
    FeedbackInputs in = read_feedback_inputs(args);
    bool apply = host::truthy(args.attr("apply"));
    bool as_json = host::truthy(args.attr("json"));
    std::optional<StagedPair> pair;
    if (apply) pair.emplace(in.model_file, in.data_file);

    py::object answer = apply ? kept_answer(in) : py::object(py::none());
    if (answer.is_none()) answer = ask_for_feedback(args, in);
    ReplyKind kind = reply_kind(plain_value(answer));
    if (kind != ReplyKind::Revision) {
        if (as_json)
            say_json(answer);
        else
            say(kind == ReplyKind::NoFeedback ? "The model gave no feedback."
                                              : feedback_text(feedback_of(plain_value(answer))));
        return code(ExitStatus::Success);
    }
    py::dict reply = answer;
    Revision revision = revision_of(reply, in);
    settle_revision(revision, reply, in, pair, apply);
    show_revision(revision, reply, as_json);
    return close_revision(revision, in, apply);
}

const Registration registration{"feedback", run_feedback};

}  // namespace tarvok::cli
