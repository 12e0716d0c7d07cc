// What the command and the page call of the MCP server module, in C++.
#pragma once

#include <pybind11/pybind11.h>

namespace tarvok::mcp_server::bind {

namespace py = pybind11;

/// `serve()`: the server on stdin and stdout until its client goes.
py::object serve();

/// `call_tool(name, arguments)`: one tool's answer as a dict (content,
/// structured, is_error), without a client.
py::object call_tool(py::object name, py::object arguments);

}  // namespace tarvok::mcp_server::bind
