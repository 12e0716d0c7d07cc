// `tarvok mcp`: the Model Context Protocol server, which an agent (a coding
// assistant or chat client) starts and talks to on stdin and stdout.
#include "bindings/cli/command.hpp"
#include "bindings/mcp_server/entries.hpp"

namespace tarvok::cli {

int run_mcp(const CommandLine&) {
    require_extra("mcp", "tarvok mcp", "mcp");
    // stdout carries the protocol from here on; messages go to stderr.
    mcp_server::bind::serve();
    // The client has gone and its calls were told to stop: nothing is left to answer or save. The
    // interpreter's teardown would wait on the solver's thread pool (most of a second) or tear a call's
    // thread still inside a solver, so the process ends here.
    py::module_ sys = py::module_::import("sys");
    sys.attr("stdout").attr("flush")();
    sys.attr("stderr").attr("flush")();
    py::module_::import("os").attr("_exit")(code(ExitStatus::Success));
    return 0;
}

const Registration registration{"mcp", run_mcp};

}  // namespace tarvok::cli
