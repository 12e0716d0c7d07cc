// What other modules call of the solver module, in C++: its instantiation.
#pragma once

#include "solver/program.hpp"

#include <pybind11/pybind11.h>

#include <memory>

namespace tarvok::solver::bind {

/// `instantiate(model_text, data_text)`: the expanded program, or
/// SemanticError; argument errors name `function`.
std::shared_ptr<Program> instantiate_texts(pybind11::object model_text, pybind11::object data_text,
                                           const char* function);

}  // namespace tarvok::solver::bind
