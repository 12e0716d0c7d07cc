// What a generated script says about the model it came from: the model's
// opening comment, where each variable and constraint is written, and how
// the solution is reported. The numbers are not part of it.
#pragma once

#include "scipy_emitter/script.hpp"
#include "solver/program.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace tarvok::scipy_emitter {

/// Fills the descriptive parts of `input` (preamble, objective note, family
/// notes, reported variables and dexprs, folded bounds) from `program`.
void describe_program(const solver::Program& program, ScriptInput& input);

/// The comment that opens a model text (`//` lines or one `/* */` block),
/// without its comment marks; at most `max_lines` lines.
std::vector<std::string> opening_comment(std::string_view model_text, size_t max_lines = 40);

/// The source line around byte `offset`, trimmed, with white space runs made
/// single spaces and cut to `max_length` bytes (ending in "...").
std::string source_line(std::string_view text, size_t offset, size_t max_length = 160);

}  // namespace tarvok::scipy_emitter
