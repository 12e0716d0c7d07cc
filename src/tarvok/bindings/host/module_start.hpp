// What every extension module does first, in one place.
#pragma once

#include "bindings/host/error_translator.hpp"
#include "bindings/host/modules.hpp"

#include <pybind11/pybind11.h>

#include <exception>

namespace tarvok::host {

namespace py = pybind11;

/// Records the module in its slot, registers the one error translator (once
/// for all modules) and sets the
/// docstring (when the module does not make it later); while it lives, functions defined keep the signatures their
/// docstrings give (pybind11's own are turned off).
class ModuleStart {
  public:
    ModuleStart(py::module_& m, ModuleSlot& slot, const char* doc = nullptr) : slot_(slot) {
        options_.disable_function_signatures();
        slot.hold(m);
        translate_errors();
        if (doc != nullptr) m.doc() = doc;
    }
    ModuleStart(const ModuleStart&) = delete;
    ModuleStart& operator=(const ModuleStart&) = delete;

    /// A start that raised leaves the slot to the next import.
    ~ModuleStart() {
        if (std::uncaught_exceptions() == raising_) slot_.started();
    }

  private:
    py::options options_;
    ModuleSlot& slot_;
    int raising_ = std::uncaught_exceptions();
};

}  // namespace tarvok::host
