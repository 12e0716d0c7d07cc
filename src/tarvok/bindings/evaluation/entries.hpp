// What the command calls of the evaluation module, in C++: `tarvok eval`'s
// arguments and its run.
#pragma once

#include <pybind11/pybind11.h>

namespace tarvok::evaluation::bind {

/// Adds the arguments of `tarvok eval` to its argparse subparser.
void add_arguments(pybind11::object parser);

/// Runs `tarvok eval` with its parsed arguments; returns the exit status.
int run_command(pybind11::object args);

}  // namespace tarvok::evaluation::bind
