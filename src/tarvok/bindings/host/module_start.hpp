// What every extension module does first, in one place.
#pragma once

#include "bindings/host/error_translator.hpp"
#include "bindings/host/modules.hpp"

#include <pybind11/pybind11.h>

namespace tarvok::host {

namespace py = pybind11;

/// Records the module in its slot, registers the one error translator (once
/// for all modules) and sets the
/// docstring (when the module does not make it later); while it lives, functions defined keep the signatures their
/// docstrings give (pybind11's own are turned off).
class ModuleStart {
  public:
    ModuleStart(py::module_& m, ModuleSlot& slot, const char* doc = nullptr) {
        options_.disable_function_signatures();
        slot.hold(m);
        translate_errors();
        if (doc != nullptr) m.doc() = doc;
    }

  private:
    py::options options_;
};

}  // namespace tarvok::host
