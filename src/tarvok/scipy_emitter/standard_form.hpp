// A program in SciPy's standard form, the form scipy.optimize.linprog and
// milp are written for:
//
//     minimize    c @ x
//     subject to  A_ub @ x <= b_ub,   A_eq @ x == b_eq,   lower <= x <= upper
//
// A maximized objective is minimized negated. A row whose two sides are
// equal is an equation; any other row gives one <= row per finite side, its
// >= side negated, so a range lo <= e <= hi becomes e <= hi and -e <= -lo.
#pragma once

#include "solver/program.hpp"

#include <cstdint>
#include <vector>

namespace tarvok::scipy_emitter {

/// A sparse matrix row by row: row i holds columns/values[starts[i] ..
/// starts[i+1]).
struct SparseRows {
    std::vector<int64_t> starts{0};
    std::vector<int32_t> columns;
    std::vector<double> values;

    size_t rows() const { return starts.size() - 1; }
    size_t nonzeros() const { return columns.size(); }
    void end_row() { starts.push_back(static_cast<int64_t>(columns.size())); }

    /// Adds a row given as (column, value) entries in any order: its columns
    /// end up in order, each once (repeats summed), without zeros. `entries`
    /// is left empty for the next row.
    void add_row(std::vector<std::pair<int32_t, double>>& entries);
};

/// Which program row a standard-form row stands for.
struct RowOrigin {
    uint32_t row = 0;
    bool negated = false;  ///< the >= side of the row, multiplied by -1
};

struct StandardRows {
    SparseRows matrix;
    std::vector<double> rhs;
    std::vector<RowOrigin> origin;
};

struct StandardObjective {
    bool maximize = false;
    double offset = 0;      ///< the model's constant term, never negated
    std::vector<double> c;  ///< per column; the negated costs when maximizing
};

struct StandardConstraints {
    StandardRows upper;  ///< A_ub, b_ub
    StandardRows equal;  ///< A_eq, b_eq
};

StandardObjective standard_objective(const solver::Program& program);

/// The rows in program order; a range row gives its upper side first. Rows
/// with no finite side constrain nothing and are left out.
StandardConstraints standard_constraints(const solver::Program& program);

}  // namespace tarvok::scipy_emitter
