// What an .lp file written through HiGHS lacks of the model's names: HiGHS
// calls every objective "obj", and a constraint folded into a bound leaves no
// row to carry its label.
#pragma once

#include "solver/program.hpp"

#include <filesystem>
#include <string>
#include <vector>

namespace tarvok::solver {

/// The objective's label ("" when it has none) and one comment line per
/// folded bound ("\ x[1]: upper bound from cap[1] (line 6)"), each a single
/// line whatever the names hold.
struct LpLabels {
    std::string objective;
    std::vector<std::string> bound_comments;
};

LpLabels lp_labels(const Program& program, const std::vector<std::string>& column_names);

/// Puts `labels` into the .lp file at `file`, as HiGHS wrote it: the comments
/// after its first line, the label in place of "obj". The file is replaced
/// through a sibling temporary; false when that fails (the file is then as
/// HiGHS left it). A file that is no regular file is left alone.
bool label_lp_file(const std::filesystem::path& file, const LpLabels& labels);

}  // namespace tarvok::solver
