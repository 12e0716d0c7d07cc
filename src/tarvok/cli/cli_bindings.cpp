// tarvok._cli: the `tarvok` command (also `python -m tarvok`).
//
//   tarvok solve "description or @file.txt" -m out.mod -d out.dat [options]
//   tarvok feedback "question" -m model.mod -d data.dat [--apply] [options]
//   tarvok models [--provider NAME] [--model NAME]
//   tarvok check model.mod data.dat
//   tarvok run model.mod data.dat [--json] [--time-limit S] [--mip-gap G] [--threads N] [--write FILE] [--verbose]
//   tarvok rank your problem description
//
// Progress goes to stderr as it happens, results to stdout. Failures end with
// one line on stderr and status 1; Ctrl-C ends with status 130. `run` exits 0
// for an optimal solution, 1 when the model does not compile, 2 when a file
// cannot be read and 3 for every other outcome of the solve.
//
// Each subcommand lives in its own file (solve_bindings.cpp, ...); a new one
// is a file and a line in kSubcommands.
#include "cli/command.hpp"

#include <array>
#include <string>

namespace py = pybind11;
namespace host = tarvok::host;
namespace cli = tarvok::cli;

namespace {

constexpr std::array<cli::Subcommand, 6> kSubcommands{{
    {"solve", cli::add_solve, cli::run_solve},
    {"feedback", cli::add_feedback, cli::run_feedback},
    {"models", cli::add_models, cli::run_models},
    {"check", cli::add_check, cli::run_check},
    {"run", cli::add_run, cli::run_run},
    {"rank", cli::add_rank, cli::run_rank},
}};

py::object build_parser() {
    py::module_ argparse = py::module_::import("argparse");
    py::object parser = argparse.attr("ArgumentParser")(
        py::arg("prog") = "tarvok",
        py::arg("description") = "Generate, check and discuss Tarvok optimisation models with an LLM.");
    py::object commands = parser.attr("add_subparsers")(py::arg("dest") = "command", py::arg("metavar") = "COMMAND");
    commands.attr("required") = true;
    for (const cli::Subcommand& subcommand : kSubcommands) subcommand.add(commands);
    return parser;
}

/// The message of an error, on one line.
std::string one_line(py::handle error) {
    std::string message = host::str_of(error);
    auto newline = message.find('\n');
    if (newline != std::string::npos) message = message.substr(0, newline) + " ...";
    if (message.empty()) message = host::type_name(error);
    return message;
}

int main_impl(py::object argv) {
    try {
        py::object parser = build_parser();
        py::object args = parser.attr("parse_args")(argv);
        std::string command = host::str_of(args.attr("command"));
        for (const cli::Subcommand& subcommand : kSubcommands) {
            if (command == subcommand.name) return subcommand.run(args);
        }
        return 2;
    } catch (py::error_already_set& e) {
        if (e.matches(PyExc_KeyboardInterrupt)) {
            cli::warn("tarvok: interrupted");
            return 130;
        }
        if (e.matches(PyExc_SystemExit)) throw;  // argparse's usage errors and --help
        if (!host::is_ordinary(e)) throw;
        cli::warn("tarvok: error: " + one_line(e.value()));
        return 1;
    }
}

}  // namespace

PYBIND11_MODULE(_cli, m, py::mod_gil_not_used()) {
    py::options options;
    options.disable_function_signatures();
    m.doc() = "The tarvok command.";
    host::def(m, "main", "argv=None",
              "Run the tarvok command with argv (default: sys.argv[1:]) and return its exit status.", &main_impl,
              py::arg("argv") = py::none());
}
