// A Program as a free-format MPS file. Every column is declared in the
// COLUMNS section (one without entries by a zero in the objective row), in
// column order, with each run of integer columns between one pair of
// INTORG/INTEND markers, so that integrality never depends on where a reader
// places an empty column. Every column gets explicit bounds (readers differ
// on the default bounds of integer columns); a row with two different finite
// sides is the only one with a RANGES entry, always positive.
#pragma once

#include "solver/program.hpp"

#include <string>

namespace tarvok::solver {

/// Why no file may state `program`, or "" when one may: a program with
/// conflicts (sides or bounds that cross, false constant constraints) has
/// no faithful file in formats whose readers take such rows for others.
std::string unwritable_reason(const Program& program);

/// The free MPS text of `program`, names as export_*_names(Mps) gives them,
/// the objective row named apart from every row. The program must be
/// writable (see unwritable_reason).
std::string mps_text(const Program& program);

}  // namespace tarvok::solver
