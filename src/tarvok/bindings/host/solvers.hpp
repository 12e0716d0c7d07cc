// The package's one availability check of a solver library, which every
// module makes in C++: the solver module before a solve, `tarvok run` and
// `solve --run`, the generation loop's execution check, and eval.
#pragma once

#include "bindings/host/extras.hpp"
#include "solver/options.hpp"

#include <pybind11/pybind11.h>

#include <stdexcept>
#include <string>
#include <string_view>

namespace tarvok::host {

namespace py = pybind11;

/// The library of `solver`, imported, or an ImportError saying what needed it
/// (`purpose`) and which extra installs it (its own unless `extra` names one).
inline py::module_ import_solver(const solver::SolverLibrary& solver, const std::string& purpose,
                                 const char* extra = nullptr) {
    return import_extra(solver.library, purpose.c_str(), extra != nullptr ? extra : solver.extra);
}

/// The same for a solver by the name its options already accepted.
inline py::module_ import_solver(std::string_view name, const std::string& purpose, const char* extra = nullptr) {
    for (const solver::SolverLibrary& entry : solver::kSolverLibraries)
        if (entry.name == name) return import_solver(entry, purpose, extra);
    throw std::logic_error("no solver is named " + std::string(name));
}

}  // namespace tarvok::host
