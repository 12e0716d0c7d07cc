// What the subcommands of the `tarvok` command share: output, argument
// helpers and the table of subcommands. Each subcommand lives in its own
// <name>_bindings.cpp with an `add_<name>` that builds its parser and a
// `run_<name>` that returns the exit status.
#pragma once

#include "host/host.hpp"

#include <string>

namespace tarvok::cli {

namespace py = pybind11;

py::module_ generative();

void say(const std::string& line);   ///< one line on stdout
void warn(const std::string& line);  ///< one line on stderr

py::object json_dumps(py::handle value);

/// Progress lines of the library, printed to stderr as they arrive.
py::cpp_function progress_printer();

/// "@path" reads the text from a file; anything else is the text itself.
py::object description_text(py::object arg);

py::object grammar_mode(py::object name);
py::object absolute(py::object path);
py::object builtin(const char* name);

/// --model, --provider, --json and, with `with_grammar`, --grammar and --temperature.
void add_llm_options(py::object parser, bool with_grammar);

py::object model_or_default(py::object args);

/// The readable report of a SolveResult, without its final newline.
std::string summary_of(py::handle result);

/// Outcome of solving one model and data pair, for `run` and `solve --run`.
struct RunOutcome {
    int status = 0;           ///< exit status
    py::object result;        ///< the SolveResult, when there is one
    std::string diagnostics;  ///< compile errors
};

RunOutcome solve_files(py::object model_text, py::object data_text, py::object args, bool with_options);

/// A subcommand: `add` makes its parser under `commands`, `run` carries it out.
struct Subcommand {
    const char* name;
    void (*add)(py::object commands);
    int (*run)(py::object args);
};

void add_solve(py::object commands);
int run_solve(py::object args);
void add_feedback(py::object commands);
int run_feedback(py::object args);
void add_models(py::object commands);
int run_models(py::object args);
void add_check(py::object commands);
int run_check(py::object args);
void add_run(py::object commands);
int run_run(py::object args);
void add_rank(py::object commands);
int run_rank(py::object args);

}  // namespace tarvok::cli
