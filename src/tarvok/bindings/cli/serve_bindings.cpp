// `tarvok serve`: the local page for the whole loop (describe, watch, read,
// solve, ask and revise, download) and its JSON API, served by tarvok.web.
#include "bindings/cli/command.hpp"

namespace tarvok::cli {

int run_serve(py::object args) {
    py::object port = args.attr("port");
    if (port < py::int_(0) || port > py::int_(65535)) fail(ExitStatus::Usage, "--port must be from 0 to 65535");
    py::object workdir = args.attr("workdir");
    if (!workdir.is_none()) {
        workdir = absolute(workdir);
        py::object path = py::module_::import("os").attr("path");
        if (host::truthy(path.attr("exists")(workdir)) && !host::truthy(path.attr("isdir")(workdir)))
            fail(ExitStatus::Usage, "--workdir " + host::str_of(workdir) + " is not a folder");
    }
    require_extra("starlette", "tarvok serve", "web");
    require_extra("uvicorn", "tarvok serve", "web");
    py::module_::import("tarvok.web")
        .attr("serve")(args.attr("host"), port, py::bool_(host::truthy(args.attr("open"))), workdir);
    return 0;
}

const Registration registration{"serve", run_serve};

}  // namespace tarvok::cli
