// What the command calls of the language server module, in C++.
#pragma once

#include <pybind11/pybind11.h>

namespace tarvok::language_server::bind {

/// `serve()`: the server on stdin and stdout until its client goes.
pybind11::object serve();

}  // namespace tarvok::language_server::bind
