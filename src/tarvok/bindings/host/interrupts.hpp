// Telling Ctrl-C apart from the errors it can hide behind.
#pragma once

#include "bindings/host/host.hpp"

#include <pybind11/pybind11.h>

namespace tarvok::host {

namespace py = pybind11;

/// True for Ctrl-C: KeyboardInterrupt, or an ImportError it caused. An
/// extension module whose initialisation Ctrl-C stopped reports "initialization
/// failed" with the interrupt as its cause, and a wrapper may chain that again.
inline bool is_interrupt(const py::error_already_set& error) {
    if (error.matches(PyExc_KeyboardInterrupt)) return true;
    return error.matches(PyExc_ImportError) && behind_an_interrupt(error.value().ptr());
}

}  // namespace tarvok::host
