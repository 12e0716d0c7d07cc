// `tarvok serve`: the local page for the whole loop (describe, watch, read,
// solve, ask and revise, download) and its JSON API, served by tarvok.web.
#include "cli/command.hpp"

namespace tarvok::cli {

void add_serve(py::object commands) {
    py::object serve = add_command(
        commands, "serve", "serve a local page to describe, generate, read, solve and revise models (the web extra)",
        "The page reads the provider's key from this process's environment; it never asks for one. Every file "
        "it writes goes under --workdir.");
    serve.attr("add_argument")("--host", py::arg("default") = "127.0.0.1",
                               py::arg("help") = "the address to listen on (default: 127.0.0.1, this machine only)");
    serve.attr("add_argument")("--port", py::arg("type") = builtin("int"), py::arg("default") = 8000,
                               py::arg("help") = "the port (default: 8000)");
    serve.attr("add_argument")("--open", py::arg("action") = "store_true",
                               py::arg("help") = "open the page in a browser");
    serve.attr("add_argument")("--workdir", py::arg("metavar") = "DIR",
                               py::arg("help") =
                                   "the folder the server writes in (default: a new folder under the "
                                   "user's data folder)");
}

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
    try {
        host::import_extra("starlette", "tarvok serve", "web");
        host::import_extra("uvicorn", "tarvok serve", "web");
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_ImportError)) throw;
        fail(ExitStatus::Usage, host::str_of(e.value()));
    }
    py::module_::import("tarvok.web")
        .attr("serve")(args.attr("host"), port, py::bool_(host::truthy(args.attr("open"))), workdir);
    return 0;
}

}  // namespace tarvok::cli
