// Long C++ work run without the GIL, stopped by Ctrl-C, with memory running
// out raised as the host's MemoryError.
#pragma once

#include "bindings/host/errors.hpp"
#include "common/interrupt.hpp"

#include <pybind11/pybind11.h>

#include <exception>
#include <memory>
#include <new>
#include <utility>

namespace tarvok::host {

namespace py = pybind11;

/// Runs `work(Interrupt*)` with the GIL released, interruptible by Ctrl-C:
/// every few milliseconds the work briefly takes the GIL back and lets the
/// host run its signal handlers. When one raises (KeyboardInterrupt), the
/// work unwinds, freeing what it holds, and that error is raised here.
template <typename Work>
auto interruptible(Work&& work) {
    std::unique_ptr<py::error_already_set> raised;
    Interrupt interrupt([&raised] {
        py::gil_scoped_acquire gil;
        if (PyErr_CheckSignals() == 0) return false;
        raised = std::make_unique<py::error_already_set>();  // takes the pending error
        return true;
    });
    try {
        py::gil_scoped_release release;
        return work(&interrupt);
    } catch (const Interrupted&) {
        if (raised) throw py::error_already_set(std::move(*raised));
        PyErr_SetNone(PyExc_KeyboardInterrupt);  // the work's own Interrupted: what Ctrl-C ended elsewhere
        throw py::error_already_set();
    }
}

/// Runs `work(Interrupt*)` as `interruptible` does; memory running out
/// raises MemoryError saying what `out_of_memory()` returns.
template <typename Work, typename Message>
auto watched(Work&& work, Message&& out_of_memory) {
    // The C++ runtime keeps its exception state in thread-local storage that
    // it allocates on first use; were that first use a failed allocation,
    // the process would abort instead of raising MemoryError.
    static thread_local volatile int touched = 0;
    touched = std::uncaught_exceptions();  // declared pure: without a use the call would be dropped
    try {
        return interruptible(std::forward<Work>(work));
    } catch (const std::bad_alloc&) {
        raise(PyExc_MemoryError, out_of_memory());
    }
}

}  // namespace tarvok::host
