// `tarvok check MODEL DATA`: the compiler's own command-line entry.
#include "cli/command.hpp"

namespace tarvok::cli {

void add_check(py::object commands) {
    py::object check = add_command(commands, "check", "compile a model and data file");
    check.attr("add_argument")("model", py::arg("metavar") = "MODEL.mod");
    check.attr("add_argument")("data", py::arg("metavar") = "DATA.dat");
}

int run_check(py::object args) {
    py::list argv;
    argv.append(args.attr("model"));
    argv.append(args.attr("data"));
    py::object status = py::module_::import("tarvok.tarvok_core").attr("main")(argv);
    return status.is_none() ? 0 : status.cast<int>();
}

}  // namespace tarvok::cli
