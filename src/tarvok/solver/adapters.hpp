// What the solver adapters hand the solver libraries and take back from
// them, shaped here so that an adapter only reads and writes the library's
// objects: HiGHS's ranging arrays become ranges, and a Program becomes the
// plan of a model built one variable and one constraint at a time (SCIP).
#pragma once

#include "solver/backend.hpp"
#include "solver/program.hpp"
#include "solver/sensitivity.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvok::solver {

/// HiGHS's ranging record as read: per side (cost up, cost down, bound up,
/// bound down) its arrays of values, objectives, entering and leaving
/// columns, as HiGHS hands them (they may be longer than the program).
using RangingArrays = std::array<std::array<std::vector<double>, 4>, 4>;

/// Puts the ranging into `figures`: the cost sides per column, the bound
/// sides per row; a value past the end of an array is NaN, and an entering
/// or leaving column given as NaN is none.
void take_ranging(const RangingArrays& arrays, size_t columns, size_t rows, SolverFigures& figures);

/// A variable of a planned model.
struct PlannedColumn {
    std::string name;
    bool integer = false;
    double lower = 0, upper = 0, cost = 0;
};

/// A constraint of a planned model; its terms are the program's row.
struct PlannedRow {
    std::string name;
    double lower = 0, upper = 0;
};

/// A program as a model built one variable and one constraint at a time:
/// column j is variable "c<j>", row i constraint "r<i>", so that what the
/// library names maps back (see planned_index).
struct ModelPlan {
    std::vector<PlannedColumn> columns;
    std::vector<PlannedRow> rows;
    double offset = 0;  ///< the constant to add to the objective; 0 for none
    bool maximize = false;
    /// The sign that turns the library's duals (of a minimisation) into the program's sense.
    double dual_sign = 1;
    std::vector<double> lower, upper;  ///< the column bounds as loaded
};

/// The plan for loading `p` as `request` asks: fixed columns at their
/// values, integrality dropped when relaxed, no objective for feasibility.
ModelPlan plan_model(const Program& p, const LoadRequest& request);

/// The column or row of a name the plan gave ("c12", "r3").
uint32_t planned_index(const std::string& name);

}  // namespace tarvok::solver
