// A program written out as a model file: the .mps text is ours; the .lp file
// is a solver library's, written by path, then given the names it lacks and
// moved into place only when it is complete.
#pragma once

#include "solver/program.hpp"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tarvok::solver {

/// Writes an .lp file of the program with these column and row names at
/// `path`; false when the library reports a failure.
using LpWriter = std::function<bool(const std::vector<std::string>& columns, const std::vector<std::string>& rows,
                                    const std::filesystem::path& path)>;

/// Writes `program` at `target` in `format`, whole or not at all; 0, or the
/// error number of what failed.
int write_model_file(const Program& program, const std::filesystem::path& target, NameFormat format,
                     const LpWriter& write_lp);

}  // namespace tarvok::solver
