// What the command calls of the compiler module, in C++: its own command-line
// check of a model (the module's `main`).
#pragma once

#include <pybind11/pybind11.h>

namespace tarvok::compiler::bind {

/// `main(argv)`: checks a model file with its data file; returns the exit status.
int check_main(pybind11::object argv);

}  // namespace tarvok::compiler::bind
