// Raising the host's exceptions from binding code: a class with a message,
// chained to a cause, an object already made, an OSError from errno.
#pragma once

#include "bindings/host/text.hpp"

#include <pybind11/pybind11.h>

#include <cerrno>
#include <string>

namespace tarvok::host {

namespace py = pybind11;

/// True for errors of the host's ordinary family (`Exception`); interrupts and
/// exits are not in it and must pass through.
/// An error raised while an interrupt was in flight (an extension's ImportError
/// over a Ctrl-C during its import) stands for that interrupt.
inline bool behind_an_interrupt(PyObject* error) {
    for (int link = 0; error != nullptr && link < 32; ++link) {
        if (PyErr_GivenExceptionMatches(error, PyExc_KeyboardInterrupt)) return true;
        py::object cause = py::reinterpret_steal<py::object>(PyException_GetCause(error));
        if (cause.is_none() || !cause) cause = py::reinterpret_steal<py::object>(PyException_GetContext(error));
        if (!cause || cause.is_none()) return false;
        error = cause.ptr();  // kept alive by the chain that holds it
    }
    return false;
}

inline bool is_ordinary(const py::error_already_set& error) {
    return error.matches(PyExc_Exception) && !behind_an_interrupt(error.value().ptr());
}

/// Raises a host exception of the given class with `message`.
[[noreturn]] inline void raise(PyObject* type, const std::string& message) {
    PyErr_SetObject(type, text(message).ptr());  // the message may hold NULs (LLM replies do)
    throw py::error_already_set();
}

/// Raises `type` with `message`, chained to the error being handled
/// (`raise ... from cause`).
[[noreturn]] inline void raise_from(py::error_already_set& cause, PyObject* type, const std::string& message) {
    py::object error = py::reinterpret_borrow<py::object>(type)(text(message));
    PyException_SetCause(error.ptr(), cause.value().inc_ref().ptr());
    PyException_SetContext(error.ptr(), cause.value().inc_ref().ptr());
    PyErr_SetObject(type, error.ptr());
    throw py::error_already_set();
}

/// Raises an exception object already made (its attributes set by the caller).
[[noreturn]] inline void raise_object(py::handle error) {
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
    throw py::error_already_set();
}

/// Raises `cls(message)`: an error class the caller looked up at call time
/// (a module's SemanticError, which a host may replace).
[[noreturn]] inline void raise_new(py::handle cls, const std::string& message) {
    py::object error = py::reinterpret_borrow<py::object>(cls)(text(message));
    PyErr_SetObject(cls.ptr(), error.ptr());
    throw py::error_already_set();
}

}  // namespace tarvok::host
