// `tarvok feedback QUESTION -m MODEL -d DATA [--apply]`: a question about an
// existing pair. A proposed revision is shown as a unified diff; one that
// compiles is kept beside the model, so that the same command with --apply
// writes exactly that revision instead of asking the LLM again. Applying
// keeps the old files as <file>.bak and moves the new pair into place as one
// change.
#include "bindings/cli/command.hpp"
#include "bindings/host/json.hpp"
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

/// `feedback` on the host: the question and the files read, the reply held as it came.
class HostFeedback : public FeedbackHost {
  public:
    explicit HostFeedback(py::object args) : args_(args), in_(read_feedback_inputs(args)) {
        if (host::truthy(args.attr("apply"))) pair_.emplace(in_.model_file, in_.data_file);
    }
    FeedbackOptions options() const {
        return {pair_.has_value(), host::truthy(args_.attr("json")), host::str_of(in_.model_file),
                host::str_of(in_.data_file)};
    }

    bool take_kept_reply() override {
        answer_ = kept_answer(in_);
        return !answer_.is_none();
    }
    void ask() override { answer_ = ask_for_feedback(args_, in_); }
    data::Value reply() override { return host::from_python(answer_, kPlain); }

    ProposedRevision revise() override {
        py::dict reply = answer_;
        model_ = reply.contains("revised_model") ? reply["revised_model"] : in_.model_text;
        data_ = reply.contains("revised_data") ? reply["revised_data"] : in_.data_text;
        if (!PyUnicode_Check(model_.ptr()) || !PyUnicode_Check(data_.ptr()))
            fail(ExitStatus::LlmFailure, "the proposed revision is not text; nothing was written");
        ProposedRevision revision{host::str_of(host::unified_diff(in_.model_text, model_, in_.model_file) +
                                               host::unified_diff(in_.data_text, data_, in_.data_file)),
                                  ""};
        try {
            generative().attr("TVLCompiler")().attr("compile_model")(model_, data_);
        } catch (py::error_already_set& e) {
            if (!host::is_ordinary(e)) throw;
            revision.diagnostics = host::str_of(e.value());
        }
        return revision;
    }

    Backups write_revision() override {
        host::replace_files({{pair_->staged_model(), encoded(model_)}, {pair_->staged_data(), encoded(data_)}});
        std::string error;
        Pair backups = files::back_up(pair_->target(), error);
        if (!error.empty()) fail(ExitStatus::Usage, error);
        pair_->place();
        py::module_ os = py::module_::import("os");
        if (host::truthy(os.attr("path").attr("exists")(in_.proposal_file))) os.attr("remove")(in_.proposal_file);
        return {shown_path(backups.model), shown_path(backups.data)};
    }

    void keep_reply() override {
        py::dict saved = in_.base;
        saved["answer"] = answer_;
        host::replace_files({{in_.proposal_file, encoded(json_dumps(saved)), files::Existing::Replace}});
    }

    void say_reply_json() override { say_json(answer_); }

  private:
    py::object args_;
    FeedbackInputs in_;
    std::optional<StagedPair> pair_;  ///< with --apply
    py::object answer_ = py::none();
    py::object model_, data_;  ///< the revised pair
};

}  // namespace

int run_feedback(py::object args) {
    check_llm_options(args);
    HostFeedback feedback(args);
    HostOutput out;
    return answer_feedback(feedback, out, feedback.options());
}

const Registration registration{"feedback", run_feedback};

}  // namespace tarvok::cli
