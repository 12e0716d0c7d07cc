// `tarvok feedback QUESTION -m MODEL -d DATA [--apply]`: a question about an
// existing pair. A proposed revision is shown as a unified diff; one that
// compiles is kept beside the model, so that the same command with --apply
// writes exactly that revision instead of asking the LLM again. Applying
// keeps the old files as <file>.bak and moves the new pair into place as one
// change.
#include "cli/command.hpp"

namespace tarvok::cli {

namespace {

py::object sha256(py::handle text) {
    return py::module_::import("hashlib")
        .attr("sha256")(text.attr("encode")("utf-8", "surrogatepass"))
        .attr("hexdigest")();
}

py::object unified_diff(py::object before, py::object after, py::object path) {
    auto lines = [&](py::object text) -> py::object { return text.attr("splitlines")(py::arg("keepends") = true); };
    py::object diff =
        py::module_::import("difflib").attr("unified_diff")(lines(before), lines(after), py::arg("fromfile") = path,
                                                            py::arg("tofile") = py::str(path) + py::str(" (revised)"));
    py::list out;
    for (py::handle line : diff) {
        py::str text = py::reinterpret_borrow<py::str>(line);
        out.append(host::truthy(text.attr("endswith")("\n"))
                       ? text
                       : py::str(text + py::str("\n\\ No newline at end of file\n")));
    }
    return py::str("").attr("join")(out);
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

void add_feedback(py::object commands) {
    py::object feedback =
        add_command(commands, "feedback", "ask a question about an existing model and data file", providers_help());
    feedback.attr("add_argument")("question", py::arg("help") = "the question, or @file.txt");
    feedback.attr("add_argument")("-m", "--model-file", py::arg("required") = true, py::arg("metavar") = "FILE.mod");
    feedback.attr("add_argument")("-d", "--data-file", py::arg("required") = true, py::arg("metavar") = "FILE.dat");
    add_llm_options(feedback, true);
    feedback.attr("add_argument")("--apply", py::arg("action") = "store_true",
                                  py::arg("help") =
                                      "write the proposed revision once it compiles (the one shown by the same command "
                                      "without --apply, when there was one); the old files are kept as FILE.bak");
}

int run_feedback(py::object args) {
    py::module_ tg = generative();
    check_llm_options(args);
    py::object question = required_text(args.attr("question"), "question");
    py::object model_file = absolute(args.attr("model_file"));
    py::object data_file = absolute(args.attr("data_file"));
    refuse_same_file(model_file, data_file);
    py::object model_text = read_input(model_file);
    py::object data_text = read_input(data_file);
    bool apply = host::truthy(args.attr("apply"));
    bool as_json = host::truthy(args.attr("json"));
    std::optional<StagedPair> pair;
    if (apply) pair.emplace(model_file, data_file);

    // A revision shown earlier for this question and these very files.
    py::object proposal_file = py::str(model_file) + py::str(".proposed.json");
    py::dict base;
    base["question"] = question;
    base["model_sha256"] = sha256(model_text);
    base["data_sha256"] = sha256(data_text);
    py::object answer = py::none();
    py::object path = py::module_::import("os").attr("path");
    if (apply && host::truthy(path.attr("isfile")(proposal_file))) {
        try {
            py::object saved = py::module_::import("json").attr("loads")(read_input(proposal_file));
            bool same = PyDict_Check(saved.ptr());
            for (auto item : base) same = same && host::equals(saved.attr("get")(item.first), item.second);
            if (same) {
                answer = saved["answer"];
                warn("Applying the revision shown earlier (kept in " + host::str_of(proposal_file) + ")");
            }
        } catch (py::error_already_set& e) {
            if (!host::is_ordinary(e)) throw;  // an unreadable proposal is asked for again
        }
    }
    if (answer.is_none()) {
        TemporarySettings settings;
        apply_llm_options(settings, args);
        py::cpp_function printer = progress_printer();
        answer = llm_phase([&] {
            return tg.attr("generative_feedback")(
                question, model_file, data_file, py::arg("model_name") = model_or_default(args),
                py::arg("mode") = grammar_mode(args.attr("grammar")), py::arg("temperature") = args.attr("temperature"),
                py::arg("llm_provider") = args.attr("provider"), py::arg("progress") = printer);
        });
    }
    if (answer.is_none() || !PyDict_Check(answer.ptr())) {
        if (as_json)
            say_json(answer);
        else
            say("The model gave no feedback.");
        return 0;
    }
    py::dict reply = answer;
    bool revised = reply.contains("revised_model") || reply.contains("revised_data");
    if (!revised) {
        if (as_json)
            say_json(reply);
        else
            say(reply.contains("feedback") ? host::str_of(reply["feedback"]) : std::string("(no feedback text)"));
        return 0;
    }

    // A missing half keeps the file's text.
    py::object new_model = reply.contains("revised_model") ? reply["revised_model"] : model_text;
    py::object new_data = reply.contains("revised_data") ? reply["revised_data"] : data_text;
    if (!PyUnicode_Check(new_model.ptr()) || !PyUnicode_Check(new_data.ptr())) {
        fail(ExitStatus::LlmFailure, "the proposed revision is not text; nothing was written");
    }
    py::object diff = unified_diff(model_text, new_model, model_file) + unified_diff(data_text, new_data, data_file);
    std::string diagnostics;
    try {
        tg.attr("TVLCompiler")().attr("compile_model")(new_model, new_data);
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e)) throw;
        diagnostics = host::str_of(e.value());
    }
    bool compiles = diagnostics.empty();

    Pair backups;
    bool applied = false;
    if (apply && compiles && host::truthy(diff)) {
        write_new(pair->staged_model(), new_model);
        write_new(pair->staged_data(), new_data);
        backups = back_up(pair->target());
        pair->place();
        applied = true;
        if (host::truthy(path.attr("exists")(proposal_file))) py::module_::import("os").attr("remove")(proposal_file);
    } else if (!apply && compiles && host::truthy(diff)) {
        py::dict saved = base;
        saved["answer"] = reply;
        py::object draft = proposal_file + py::str(".tmp");
        write_new(draft, json_dumps(saved));
        py::module_::import("os").attr("replace")(draft, proposal_file);
    }

    if (as_json) {
        py::dict out = reply.attr("copy")();
        out["diff"] = diff;
        out["compiles"] = py::bool_(compiles);
        out["applied"] = py::bool_(applied);
        if (applied) {
            out["backup_model_file"] = backups.model.empty() ? py::object(py::none()) : host_path(backups.model);
            out["backup_data_file"] = backups.data.empty() ? py::object(py::none()) : host_path(backups.data);
        }
        say_json(out);
    } else {
        say(reply.contains("feedback") ? host::str_of(reply["feedback"]) : std::string("(no feedback text)"));
        say("");
        say(host::truthy(diff) ? host::str_of(diff.attr("rstrip")("\n"))
                               : std::string("(the revision changes nothing)"));
    }
    if (!compiles) {
        warn(diagnostics);
        warn(std::string("tarvok: the proposed revision does not compile") +
             (apply ? "; the files are unchanged" : "; it cannot be applied"));
        return apply ? code(ExitStatus::DoesNotCompile) : 0;
    }
    if (applied) {
        std::string line = "Applied the revision to " + host::str_of(model_file) + " and " + host::str_of(data_file);
        if (!backups.model.empty() || !backups.data.empty()) {
            line += "; the previous files are in " + host::str_of(host_path(backups.model)) + " and " +
                    host::str_of(host_path(backups.data));
        }
        warn(line);
    } else if (!apply && host::truthy(diff)) {
        warn("To write exactly this revision, run the same command with --apply.");
    }
    return 0;
}

}  // namespace tarvok::cli
