// `tarvok lsp [--stdio]`: the language server for .mod and .dat files, which
// an editor starts and talks to on stdin and stdout.
#include "cli/command.hpp"

namespace tarvok::cli {

void add_lsp(py::object commands) {
    py::object lsp = add_command(commands, "lsp", "run the language server for .mod and .dat files (the lsp extra)",
                                 "Editors start it and talk to it on stdin and stdout; docs/editors.md shows how.");
    lsp.attr("add_argument")("--stdio", py::arg("action") = "store_true",
                             py::arg("help") =
                                 "talk on stdin and stdout (the only transport; accepted because "
                                 "editors pass it)");
}

int run_lsp(py::object args) {
    try {
        host::import_extra("pygls", "tarvok lsp", "lsp");
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_ImportError)) throw;
        fail(ExitStatus::Usage, host::str_of(e.value()));
    }
    // stdout carries the protocol from here on; messages go to stderr.
    py::module_::import("tarvok.language_server").attr("serve")();
    return 0;
}

}  // namespace tarvok::cli
