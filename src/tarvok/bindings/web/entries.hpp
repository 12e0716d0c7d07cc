// What the command calls of the page's module, in C++.
#pragma once

#include <pybind11/pybind11.h>

namespace tarvok::web::bind {

namespace py = pybind11;

/// `serve(host, port, open_page, workdir)`: the page until the process is stopped.
py::object serve(py::object host_name, py::object port, py::object open_page, py::object workdir);

}  // namespace tarvok::web::bind
