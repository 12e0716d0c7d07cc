// The package's extension modules. The code of all of them is the one library
// of binding code (libtarvok_bindings, beside the modules, one copy per
// process), so one module calls another's code in C++; each module's own
// shared object is only the start the host's import runs, which calls the
// module's start below (bindings/module_start.cpp.in).
#pragma once

#include "bindings/host/module.hpp"

#include <pybind11/pybind11.h>

/// What the library of binding code exports: the starts the modules call.
#define TARVOK_BINDINGS_API __attribute__((visibility("default")))

namespace tarvok::host {

namespace py = pybind11;

/// Each module's slot (see ModuleSlot).
namespace modules {
extern ModuleSlot semantic_error;
extern ModuleSlot tarvok_core;
extern ModuleSlot solver;
extern ModuleSlot tarvok_generative;
extern ModuleSlot example_ranker;
extern ModuleSlot scipy_emitter_base;
extern ModuleSlot scipy_emitter;
extern ModuleSlot evaluation;
extern ModuleSlot language_server;
extern ModuleSlot mcp_server;
extern ModuleSlot web;
extern ModuleSlot cli;  // tarvok._cli
}  // namespace modules

}  // namespace tarvok::host

/// Each module's start: defines its names on `m` (each in its module's folder).
/// They live outside namespace tarvok, as the module bodies they replace did,
/// so that a name of a module's own file is never taken for one of the house.
TARVOK_BINDINGS_API void tarvok_start_semantic_error(pybind11::module_& m);
TARVOK_BINDINGS_API void tarvok_start_tarvok_core(pybind11::module_& m);
TARVOK_BINDINGS_API void tarvok_start_solver(pybind11::module_& m);
TARVOK_BINDINGS_API void tarvok_start_tarvok_generative(pybind11::module_& m);
TARVOK_BINDINGS_API void tarvok_start_example_ranker(pybind11::module_& m);
TARVOK_BINDINGS_API void tarvok_start_scipy_emitter_base(pybind11::module_& m);
TARVOK_BINDINGS_API void tarvok_start_scipy_emitter(pybind11::module_& m);
TARVOK_BINDINGS_API void tarvok_start_evaluation(pybind11::module_& m);
TARVOK_BINDINGS_API void tarvok_start_language_server(pybind11::module_& m);
TARVOK_BINDINGS_API void tarvok_start_mcp_server(pybind11::module_& m);
TARVOK_BINDINGS_API void tarvok_start_web(pybind11::module_& m);
TARVOK_BINDINGS_API void tarvok_start_cli(pybind11::module_& m);
