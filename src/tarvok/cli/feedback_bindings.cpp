// `tarvok feedback QUESTION -m MODEL -d DATA [--apply]`: a question about an
// existing pair, and optionally the revision the answer proposes.
#include "cli/command.hpp"

namespace tarvok::cli {

void add_feedback(py::object commands) {
    py::object feedback = commands.attr("add_parser")(
        "feedback", py::arg("help") = "ask a question about an existing model and data file");
    feedback.attr("add_argument")("question", py::arg("help") = "the question, or @file.txt");
    feedback.attr("add_argument")("-m", "--model-file", py::arg("required") = true, py::arg("metavar") = "FILE.mod");
    feedback.attr("add_argument")("-d", "--data-file", py::arg("required") = true, py::arg("metavar") = "FILE.dat");
    add_llm_options(feedback, true);
    feedback.attr("add_argument")("--apply", py::arg("action") = "store_true",
                                  py::arg("help") = "write a proposed revision to the files once it compiles");
}

int run_feedback(py::object args) {
    py::object tg = generative();
    py::object reply = tg.attr("generative_feedback")(
        description_text(args.attr("question")), args.attr("model_file"), args.attr("data_file"),
        py::arg("model_name") = model_or_default(args), py::arg("mode") = grammar_mode(args.attr("grammar")),
        py::arg("temperature") = args.attr("temperature"), py::arg("llm_provider") = args.attr("provider"),
        py::arg("progress") = progress_printer());
    bool as_json = host::truthy(args.attr("json"));
    if (reply.is_none() || !PyDict_Check(reply.ptr())) {
        if (as_json) {
            say(host::str_of(json_dumps(reply)));
        } else {
            say("The model gave no feedback.");
        }
        return 0;
    }
    py::dict answer = reply;
    bool revised = answer.contains("revised_model") || answer.contains("revised_data");
    if (as_json) {
        say(host::str_of(json_dumps(answer)));
    } else {
        say(answer.contains("feedback") ? host::str_of(answer["feedback"]) : std::string("(no feedback text)"));
    }
    if (!revised) return 0;
    if (!host::truthy(args.attr("apply"))) {
        if (!as_json) warn("A revised model and data are proposed; run again with --apply to write them.");
        return 0;
    }
    // A revision is written only when it compiles; a missing half keeps the file's text.
    py::object model =
        answer.contains("revised_model") ? answer["revised_model"] : host::read_file(args.attr("model_file"), "r");
    py::object data =
        answer.contains("revised_data") ? answer["revised_data"] : host::read_file(args.attr("data_file"), "r");
    if (!PyUnicode_Check(model.ptr()) || !PyUnicode_Check(data.ptr())) {
        host::raise(PyExc_RuntimeError, "The proposed revision is not text; nothing was written.");
    }
    try {
        tg.attr("TVLCompiler")().attr("compile_model")(model, data);
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e)) throw;
        warn(host::str_of(e.value()));
        warn("tarvok: the proposed revision does not compile; the files are unchanged");
        return 1;
    }
    py::module_ pathlib = py::module_::import("pathlib");
    pathlib.attr("Path")(args.attr("model_file")).attr("write_text")(model);
    pathlib.attr("Path")(args.attr("data_file")).attr("write_text")(data);
    warn("Applied the revision to " + host::str_of(args.attr("model_file")) + " and " +
         host::str_of(args.attr("data_file")));
    return 0;
}

}  // namespace tarvok::cli
