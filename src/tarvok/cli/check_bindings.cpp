// `tarvok check MODEL [DATA] [--json]`: the compiler's own command-line entry.
#include "cli/command.hpp"

namespace tarvok::cli {

void add_check(py::object commands) {
    py::object check =
        add_command(commands, "check", "compile a model and data file; print the errors and warnings, or OK");
    check.attr("add_argument")("model", py::arg("metavar") = "MODEL.mod");
    check.attr("add_argument")("data", py::arg("metavar") = "DATA.dat", py::arg("nargs") = "?",
                               py::arg("help") = "the data file (leave it out when the model needs none)");
    check.attr("add_argument")("--json", py::arg("action") = "store_true",
                               py::arg("help") = "print the diagnostic records as JSON");
    add_size_option(check);
}

int run_check(py::object args) {
    py::list argv;
    argv.append(args.attr("model"));
    if (!args.attr("data").is_none()) argv.append(args.attr("data"));
    if (host::truthy(args.attr("json"))) argv.append(py::str("--json"));
    if (!args.attr("max_size").is_none()) {
        if (args.attr("max_size").cast<long long>() < 1) fail(ExitStatus::Usage, "--max-size must be at least 1");
        argv.append(py::str("--max-size"));
        argv.append(py::str(args.attr("max_size")));
    }
    py::object status = py::module_::import("tarvok.tarvok_core").attr("main")(argv);
    return status.is_none() ? 0 : status.cast<int>();
}

}  // namespace tarvok::cli
