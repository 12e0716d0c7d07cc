// `tarvok mcp`: the Model Context Protocol server, which an agent (a coding
// assistant or chat client) starts and talks to on stdin and stdout.
#include "cli/command.hpp"

namespace tarvok::cli {

void add_mcp(py::object commands) {
    add_command(commands, "mcp",
                "run the MCP server for agents: check, run, emit, find and generate models (the mcp extra)",
                "MCP clients start it and talk to it on stdin and stdout; docs/editors.md shows the configuration. "
                "generate_model reads the provider's key from this process's environment.");
}

int run_mcp(py::object) {
    try {
        host::import_extra("mcp", "tarvok mcp", "mcp");
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_ImportError)) throw;
        fail(ExitStatus::Usage, host::str_of(e.value()));
    }
    // stdout carries the protocol from here on; messages go to stderr.
    py::module_::import("tarvok.mcp_server").attr("serve")();
    return 0;
}

}  // namespace tarvok::cli
