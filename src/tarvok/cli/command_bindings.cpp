// Helpers every subcommand of the `tarvok` command uses.
#include "cli/command.hpp"
#include "generative/providers/providers.hpp"

#include <vector>

namespace tarvok::cli {

py::module_ generative() { return py::module_::import("tarvok.tarvok_generative"); }

namespace {

void write_to(const char* stream, const std::string& line) {
    py::object out = py::module_::import("sys").attr(stream);
    out.attr("write")(host::text(line + "\n"));
    out.attr("flush")();
}

}  // namespace

void say(const std::string& line) { write_to("stdout", line); }
void warn(const std::string& line) { write_to("stderr", line); }

py::object json_dumps(py::handle value) {
    return py::module_::import("json").attr("dumps")(value, py::arg("indent") = 2, py::arg("ensure_ascii") = false);
}

py::cpp_function progress_printer() {
    return py::cpp_function([](py::object msg) { warn(host::str_of(msg)); });
}

py::object description_text(py::object arg) {
    std::string s = host::str_of(arg);
    if (s.size() > 1 && s[0] == '@') {
        return host::read_file(host::text(s.substr(1)), "r", "utf-8");
    }
    return arg;
}

py::object grammar_mode(py::object name) { return generative().attr("Grammar").attr(py::str(name).attr("upper")()); }

py::object absolute(py::object path) { return py::module_::import("os").attr("path").attr("abspath")(path); }

py::object builtin(const char* name) { return py::module_::import("builtins").attr(name); }

void add_llm_options(py::object parser, bool with_grammar) {
    namespace pv = tarvok::generative::providers;
    std::vector<std::string_view> names;
    for (const pv::Provider& p : pv::kProviders) names.push_back(p.value);
    parser.attr("add_argument")("--model", py::arg("dest") = "model_name", py::arg("metavar") = "NAME",
                                py::arg("help") = "LLM model name (default: the library's MODEL_NAME)");
    parser.attr("add_argument")(
        "--provider", py::arg("metavar") = "NAME",
        py::arg("help") = pv::spoken_list(names, "or") + " (default: inferred from the model name)");
    if (with_grammar) {
        parser.attr("add_argument")("--grammar", py::arg("choices") = py::make_tuple("none", "bnf", "code"),
                                    py::arg("default") = "bnf",
                                    py::arg("help") = "grammar reference pasted into the prompts (default: bnf)");
        parser.attr("add_argument")("--temperature", py::arg("type") = builtin("float"), py::arg("metavar") = "T");
    }
    parser.attr("add_argument")("--json", py::arg("action") = "store_true",
                                py::arg("help") = "print a machine-readable result");
}

py::object model_or_default(py::object args) {
    py::object name = args.attr("model_name");
    return name.is_none() ? generative().attr("MODEL_NAME") : name;
}

std::string summary_of(py::handle result) {
    std::string text = host::str_of(result.attr("summary")());
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

}  // namespace tarvok::cli
