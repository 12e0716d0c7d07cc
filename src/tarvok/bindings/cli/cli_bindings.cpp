// tarvok._cli: the `tarvok` command (also `python -m tarvok`).
//
//   tarvok solve "description or @file.txt" -m out.mod -d out.dat [options]
//   tarvok feedback "question" -m model.mod -d data.dat [--apply] [options]
//   tarvok models [--provider NAME] [--model NAME] [--prefix TEXT | --all]
//   tarvok check model.mod [data.dat] [--json] [--max-size N]
//   tarvok run model.mod [data.dat] [--json] [--time-limit S] [--mip-gap G] [--threads N] [--write FILE] [--verbose]
//              [--max-size N]
//   tarvok emit model.mod data.dat -o script.py [--max-size N]
//   tarvok rank your problem description [--embedding-model M]
//   tarvok eval [DATASET] --out DIR [--provider P] [--model M] [--jobs N] [--iterations K] [--execution-check]
//               [--rel-tol T] [--limit N] [--timeout S] [--max-size N] [--force] [--json]
//   tarvok lsp [--stdio]
//   tarvok mcp
//
// Progress goes to stderr as it happens, results to stdout. Every subcommand
// ends with a status from the one table in common/exit_status.hpp; a failure says
// so in one line on stderr (or as a JSON object on stdout with --json).
//
// Each subcommand lives in its own file (solve_bindings.cpp, ...), where it
// registers how it runs; a new one is that file and a row in the subcommand
// table of command_options.cpp.
#include "bindings/cli/command.hpp"
#include "bindings/host/interrupts.hpp"
#include "bindings/host/module_start.hpp"

#include <string>

namespace py = pybind11;
namespace host = tarvok::host;
namespace cli = tarvok::cli;

namespace {

py::object build_parser() {
    py::module_ argparse = py::module_::import("argparse");
    std::string epilog = cli::main_epilog(host::str_of(cli::generative().attr("MODEL_NAME")));
    py::object parser = argparse.attr("ArgumentParser")(
        py::arg("prog") = "tarvok",
        py::arg("description") = "Generate, check and discuss Tarvok optimisation models with an LLM.",
        py::arg("epilog") = epilog, py::arg("formatter_class") = argparse.attr("RawDescriptionHelpFormatter"));
    cli::use_command_errors(parser);
    parser.attr("add_argument")(
        "--version", py::arg("action") = "version",
        py::arg("version") = "tarvok " + host::str_of(py::module_::import("tarvok").attr("__version__")));
    py::object commands = parser.attr("add_subparsers")(py::arg("dest") = "command", py::arg("metavar") = "COMMAND");
    commands.attr("required") = true;
    cli::add_subcommands(commands);
    return parser;
}

/// Runs the subcommand; what it ends in, told on stderr (stdout with --json), and its status.
int run_and_tell(py::object argv, bool json) {
    try {
        py::object parser = build_parser();
        py::object args = parser.attr("parse_args")(argv);
        return cli::run_subcommand(args);
    } catch (const cli::Failure& failure) {
        return cli::tell(cli::host_output(), failure, json);
    } catch (py::error_already_set& e) {
        if (host::is_interrupt(e)) return cli::tell_interrupt(cli::host_output(), json);
        // A reader that stops reading (`| head`) is no fault of the model: quiet, as SIGPIPE would end it.
        if (e.matches(PyExc_BrokenPipeError)) return cli::code(cli::ExitStatus::ClosedOutput);
        if (e.matches(PyExc_SystemExit)) {  // argparse: --help, --version and usage errors
            py::object status = e.value().attr("code");
            if (status.is_none()) return 0;
            if (PyLong_Check(status.ptr())) return status.cast<int>();
            cli::warn(host::str_of(status));
            return cli::code(cli::ExitStatus::Usage);
        }
        if (!host::is_ordinary(e)) throw;
        bool memory = e.matches(PyExc_MemoryError);
        return cli::tell(cli::host_output(),
                         cli::unhandled(memory, memory ? cli::out_of_memory(e.value()) : cli::one_line(e.value())),
                         json);
    }
}

int main_impl(py::object argv) {
    if (argv.is_none()) argv = py::module_::import("sys").attr("argv")[py::slice(1, std::nullopt, std::nullopt)];
    bool json = false;
    for (py::handle arg : argv) json = json || host::equals(arg, py::str("--json"));
    cli::request_json(json);
    try {
        return run_and_tell(argv, json);
    } catch (py::error_already_set& e) {
        // Telling a failure on stdout (--json) whose reader has gone is as quiet as the rest.
        if (e.matches(PyExc_BrokenPipeError)) return cli::code(cli::ExitStatus::ClosedOutput);
        throw;
    }
}

py::dict exit_statuses() {
    py::dict table;
    for (const tarvok::ExitStatusRow& row : tarvok::kExitStatuses)
        table[py::int_(cli::code(row.status))] = host::text(row.meaning);
    return table;
}

}  // namespace

void tarvok_start_cli(pybind11::module_& m) {
    tarvok::host::ModuleStart start(m, tarvok::host::modules::cli, "The tarvok command.");
    m.attr("EXIT_STATUSES") = exit_statuses();
    host::def(m, "main", "argv=None",
              "Run the tarvok command with argv (default: sys.argv[1:]) and return its exit status.", &main_impl,
              py::arg("argv") = py::none());
}
