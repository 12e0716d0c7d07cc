// The script of a Program taken straight from the program, without a
// generator's attributes in between: what SciPyCodeGenerator writes for a
// fresh generator of the same model.
#pragma once

#include "scipy_emitter/script.hpp"
#include "solver/program.hpp"

#include <string>

namespace tarvok::scipy_emitter {

/// The script's input for `program`: its columns (bounds with no finite
/// value as none), its objective and its rows in standard form, each row's
/// columns in order, and what describe_program says about it.
ScriptInput program_script_input(const solver::Program& program);

/// The script's text: each line indented four spaces per step, every line
/// ending in a line feed.
std::string script_text(const Script& script);

}  // namespace tarvok::scipy_emitter
