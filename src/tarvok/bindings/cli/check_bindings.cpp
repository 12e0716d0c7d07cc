// `tarvok check MODEL [DATA] [--json]`: the compiler's own command-line entry.
#include "bindings/cli/command.hpp"

namespace tarvok::cli {

int run_check(py::object args) {
    py::list argv;
    argv.append(args.attr("model"));
    if (!args.attr("data").is_none()) argv.append(args.attr("data"));
    if (host::truthy(args.attr("json"))) argv.append(py::str("--json"));
    if (!args.attr("max_size").is_none()) {
        require_at_least("--max-size", args.attr("max_size"), 1);
        argv.append(py::str("--max-size"));
        argv.append(py::str(args.attr("max_size")));
    }
    py::object status = py::module_::import("tarvok.tarvok_core").attr("main")(argv);
    return status.is_none() ? 0 : status.cast<int>();
}

const Registration registration{"check", run_check};

}  // namespace tarvok::cli
