// Telling Ctrl-C apart from the errors it can hide behind.
#pragma once

#include <pybind11/pybind11.h>

namespace tarvok::host {

namespace py = pybind11;

/// True for Ctrl-C: KeyboardInterrupt, or an ImportError it caused. An
/// extension module whose initialisation Ctrl-C stopped reports "initialization
/// failed" with the interrupt as its cause, and a wrapper may chain that again.
inline bool is_interrupt(const py::error_already_set& error) {
    if (error.matches(PyExc_KeyboardInterrupt)) return true;
    if (!error.matches(PyExc_ImportError)) return false;
    py::object cause = py::reinterpret_borrow<py::object>(error.value());
    for (int depth = 0; depth < 8; ++depth) {
        PyObject* next = PyException_GetCause(cause.ptr());
        if (!next) next = PyException_GetContext(cause.ptr());
        if (!next) return false;
        cause = py::reinterpret_steal<py::object>(next);
        if (PyErr_GivenExceptionMatches(cause.ptr(), PyExc_KeyboardInterrupt)) return true;
    }
    return false;
}

}  // namespace tarvok::host
