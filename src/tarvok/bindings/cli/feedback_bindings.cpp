// `tarvok feedback QUESTION -m MODEL -d DATA [--apply]`: a question about an
// existing pair. A proposed revision is shown as a unified diff; one that
// compiles is kept beside the model, so that the same command with --apply
// writes exactly that revision instead of asking the LLM again. Applying
// keeps the old files as <file>.bak and moves the new pair into place as one
// change.
#include "bindings/cli/command.hpp"
#include "bindings/host/json.hpp"
#include "bindings/tarvok_generative/bindings.hpp"
#include "cli/feedback_outcome.hpp"

namespace tarvok::cli {

namespace {

py::object sha256(py::handle text) {
    return py::module_::import("hashlib")
        .attr("sha256")(text.attr("encode")("utf-8", "surrogatepass"))
        .attr("hexdigest")();
}

/// A text as the bytes of a file: UTF-8, and a text the host cannot encode is its UnicodeEncodeError.
std::string encoded(py::handle text) { return text.attr("encode")("utf-8").cast<std::string>(); }

}  // namespace

namespace {

/// The files and question of one run, read and checked.
struct FeedbackInputs {
    py::object question, model_text, data_text;
    std::string model_file, data_file;  ///< absolute
    std::string proposal_file;          ///< where a shown revision is kept for --apply
    py::dict base;                      ///< what a kept revision must match: the question and the files' hashes
};

FeedbackInputs read_feedback_inputs(const CommandLine& line) {
    FeedbackInputs in;
    in.question = required_text(line.given("question"), "question");
    in.model_file = absolute(line.given("model_file"));
    in.data_file = absolute(line.given("data_file"));
    refuse_same_file(in.model_file, in.data_file);
    in.model_text = read_input(in.model_file);
    in.data_text = read_input(in.data_file);
    in.proposal_file = in.model_file + ".proposed.json";
    in.base["question"] = in.question;
    in.base["model_sha256"] = sha256(in.model_text);
    in.base["data_sha256"] = sha256(in.data_text);
    return in;
}

/// The revision shown earlier for this question and these very files, else None.
py::object kept_answer(const FeedbackInputs& in) {
    std::error_code error;
    if (!fs::is_regular_file(files::named_path(in.proposal_file), error)) return py::none();
    try {
        py::object saved = py::module_::import("json").attr("loads")(read_input(in.proposal_file));
        bool same = PyDict_Check(saved.ptr());
        for (auto item : in.base) same = same && host::equals(saved.attr("get")(item.first), item.second);
        if (!same) return py::none();
        warn("Applying the revision shown earlier (kept in " + in.proposal_file + ")");
        return saved["answer"];
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e)) throw;  // an unreadable proposal is asked for again
        return py::none();
    }
}

py::object ask_for_feedback(const LlmOptions& llm, const FeedbackInputs& in) {
    py::cpp_function printer = progress_printer();
    py::object temperature = llm.temperature ? py::object(py::float_(*llm.temperature)) : py::none();
    py::object provider = llm.provider ? py::object(host::text(*llm.provider)) : py::none();
    py::object events = wait_line_events();
    return llm_phase([&] {
        return generative::bind::generative_feedback(in.question, host::text(in.model_file), host::text(in.data_file),
                                                     host::text(llm.model_name), grammar_mode(llm.grammar), temperature,
                                                     py::none(), provider, printer, events, llm_call_options(llm));
    });
}

/// The pair a reply proposes (a half it leaves out keeps its file's text), its diff and whether it compiles.
struct RevisedPair {
    py::object model, data;
    ProposedRevision revision;
};

RevisedPair revised_pair(py::dict reply, const FeedbackInputs& in) {
    RevisedPair out{reply.contains("revised_model") ? reply["revised_model"] : in.model_text,
                    reply.contains("revised_data") ? reply["revised_data"] : in.data_text,
                    {}};
    if (!PyUnicode_Check(out.model.ptr()) || !PyUnicode_Check(out.data.ptr()))
        fail(ExitStatus::LlmFailure, "the proposed revision is not text; nothing was written");
    out.revision.diff = host::str_of(host::unified_diff(in.model_text, out.model, host::text(in.model_file)) +
                                     host::unified_diff(in.data_text, out.data, host::text(in.data_file)));
    try {
        generative().attr("TVLCompiler")().attr("compile_model")(out.model, out.data);
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e)) throw;
        out.revision.diagnostics = host::str_of(e.value());
    }
    return out;
}

/// Writes the revised pair into place, keeping the previous files, and drops a kept reply.
Backups write_revision(PairStage& stage, const RevisedPair& pair, const FeedbackInputs& in) {
    host::replace_files(
        {{host_path(stage.staged().model), encoded(pair.model)}, {host_path(stage.staged().data), encoded(pair.data)}});
    std::string error;
    Pair backups = files::back_up(stage.target(), error);
    if (!error.empty()) fail(ExitStatus::Usage, error);
    place_unlocked(stage);
    std::error_code removing;
    fs::path proposal = files::named_path(in.proposal_file);
    if (fs::exists(proposal, removing) && !fs::remove(proposal, removing) && removing)
        host::raise_os_error(removing.value(), host::text(in.proposal_file));
    return {shown_path(backups.model), shown_path(backups.data)};
}

/// Keeps the reply beside the model, so that --apply writes exactly this revision.
void keep_reply(py::object answer, const FeedbackInputs& in) {
    py::dict saved = in.base;
    saved["answer"] = answer;
    host::replace_files({{host::text(in.proposal_file), encoded(json_dumps(saved)), files::Existing::Replace}});
}

}  // namespace

int run_feedback(const CommandLine& line) {
    LlmOptions llm = check_llm_options(line);
    FeedbackInputs in = read_feedback_inputs(line);
    FeedbackOptions run{line.flag("apply"), line.flag("json"), in.model_file, in.data_file};
    std::unique_ptr<PairStage> stage;
    if (run.apply) stage = stage_pair(in.model_file, in.data_file);
    py::object answer = run.apply ? kept_answer(in) : py::none();
    if (answer.is_none()) answer = ask_for_feedback(llm, in);
    data::Value reply = host::from_python(answer, kPlain);
    std::optional<ProposedRevision> revision;
    std::optional<Backups> applied;
    if (reply_kind(reply) == ReplyKind::Revision) {
        RevisedPair pair = revised_pair(answer, in);
        switch (feedback_step(run, pair.revision)) {
        case RevisionStep::Write: applied = write_revision(*stage, pair, in); break;
        case RevisionStep::KeepProposal: keep_reply(answer, in); break;
        case RevisionStep::Nothing: break;
        }
        revision = std::move(pair.revision);
    }
    return tell_feedback(host_output(), run, std::move(reply), revision, applied);
}

const Registration registration{"feedback", run_feedback};

}  // namespace tarvok::cli
