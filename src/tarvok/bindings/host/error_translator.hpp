// The one translation of the cores' Error (common/error.hpp) into the host's
// exceptions, registered once for all modules by the first one imported.
#pragma once

#include "bindings/host/json.hpp"
#include "bindings/host/text.hpp"
#include "common/error.hpp"
#include "common/json.hpp"

#include <pybind11/pybind11.h>

#include <cstring>
#include <exception>

namespace tarvok::host {

namespace py = pybind11;

/// The package's SemanticError, which a model's error is raised as (held by
/// the semantic_error module's start, which this imports when it has not run).
py::object semantic_error_class();

namespace detail {

inline PyObject* class_of(Error::Kind kind) {
    switch (kind) {
    case Error::Kind::Value: return PyExc_ValueError;
    case Error::Kind::Type: return PyExc_TypeError;
    case Error::Kind::File: return PyExc_OSError;
    case Error::Kind::Provider: return PyExc_ConnectionError;
    case Error::Kind::Interrupted: return PyExc_KeyboardInterrupt;
    case Error::Kind::Memory: return PyExc_MemoryError;
    case Error::Kind::NotImplemented: return PyExc_NotImplementedError;
    case Error::Kind::Runtime:
    case Error::Kind::Model: break;
    }
    return PyExc_RuntimeError;
}

}  // namespace detail

/// Sets the host's exception for `e`: ValueError, TypeError, the package's
/// SemanticError with the diagnostic records of its details, the OSError of
/// its error number naming its path (FileNotFoundError for ENOENT, as the
/// host picks), ConnectionError (TimeoutError for a provider that did not
/// answer in time), KeyboardInterrupt, MemoryError, NotImplementedError or
/// RuntimeError; with the message callers see.
inline void set_error(const Error& e) {
    const json::Value& details = e.details();
    py::object error;
    if (e.kind() == Error::Kind::Model) {
        error = semantic_error_class()(text(e.message()));
        if (const json::Value* records = details.find("diagnostics")) error.attr("diagnostics") = to_python(*records);
    } else if (e.kind() == Error::Kind::File && details.find("errno")) {
        const json::Value* path = details.find("path");
        int number = static_cast<int>(details.find("errno")->integer());
        error = py::reinterpret_borrow<py::object>(PyExc_OSError)(number, py::str(std::strerror(number)),
                                                                  path ? text(path->text()) : py::object(py::none()));
    } else {
        PyObject* cls = detail::class_of(e.kind());
        const json::Value* timeout = details.find("timeout");
        if (e.kind() == Error::Kind::Provider && timeout && timeout->boolean()) cls = PyExc_TimeoutError;
        error = py::reinterpret_borrow<py::object>(cls)(text(e.message()));
    }
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
}

/// Raises the host's exception for `e` (see set_error).
[[noreturn]] inline void raise_error(const Error& e) {
    set_error(e);
    throw py::error_already_set();
}

/// Registers the translation of an Error thrown out of any function of the
/// library of binding code; the first module's start does it for all.
inline void translate_errors() {
    static bool registered = false;
    if (registered) return;
    registered = true;
    py::register_local_exception_translator([](std::exception_ptr raised) {
        try {
            if (raised) std::rethrow_exception(raised);
        } catch (const Error& e) {
            set_error(e);
        }
    });
}

}  // namespace tarvok::host
