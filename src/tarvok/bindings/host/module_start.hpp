// What every extension module does first, in one place.
#pragma once

#include "bindings/host/error_translator.hpp"
#include "bindings/host/module.hpp"

#include <pybind11/pybind11.h>

namespace tarvok::host {

namespace py = pybind11;

/// Records the module, registers the one error translator and sets the
/// docstring (when the module does not make it later); while it lives, functions defined keep the signatures their
/// docstrings give (pybind11's own are turned off).
class ModuleStart {
  public:
    explicit ModuleStart(py::module_& m, const char* doc = nullptr) {
        options_.disable_function_signatures();
        hold_module(m);
        translate_errors();
        if (doc != nullptr) m.doc() = doc;
    }

  private:
    py::options options_;
};

}  // namespace tarvok::host
