// `tarvok mcp`: the Model Context Protocol server, which an agent (a coding
// assistant or chat client) starts and talks to on stdin and stdout.
#include "bindings/cli/command.hpp"

namespace tarvok::cli {

int run_mcp(py::object) {
    require_extra("mcp", "tarvok mcp", "mcp");
    // stdout carries the protocol from here on; messages go to stderr.
    py::module_::import("tarvok.mcp_server").attr("serve")();
    return 0;
}

const Registration registration{"mcp", run_mcp};

}  // namespace tarvok::cli
