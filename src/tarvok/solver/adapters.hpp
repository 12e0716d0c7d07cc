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
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tarvok::solver {

/// HiGHS's ranging record as read: per side (cost up, cost down, row bound
/// up, row bound down, column bound up, column bound down) its arrays of
/// values, objectives, entering and leaving columns, as HiGHS hands them
/// (they may be longer than the program).
using RangingArrays = std::array<std::array<std::vector<double>, 4>, 6>;

/// Puts the ranging into `figures`: the cost and column bound sides per
/// column, the row bound sides per row; a value past the end of an array is
/// NaN, and an entering or leaving column given as NaN is none.
void take_ranging(const RangingArrays& arrays, size_t columns, size_t rows, SolverFigures& figures);

/// The ranging of a program without rows at `x`, its columns within `lower`
/// and `upper` as loaded, which HiGHS refuses: each column stands alone,
/// held by the bound its reduced cost (in `figures`) points to until that
/// bound meets the other (a fixed column moves with both), and its cost may
/// move until the reduced cost reaches zero (a fixed column's anywhere).
void ranging_without_rows(const Program& p, const std::vector<double>& lower, const std::vector<double>& upper,
                          const std::vector<double>& x, SolverFigures& figures);

/// What a HiGHS run asks of the worker pool of its thread. HiGHS keeps one
/// pool per calling thread, sized by that thread's first run; a later run on
/// the same thread that asks for another size fails. The pool belongs to
/// that thread alone and no run of it is going on then, so it may be
/// replaced by one of the size asked for.
struct PoolPlan {
    bool replace = false;  ///< make the thread's pool anew before the run
    int threads = 0;       ///< HiGHS's threads option; 0: whatever the pool has
};

/// The plan for a run asking for `threads` (nullopt: HiGHS's choice);
/// `size` is the pool the thread made (0: none yet, or HiGHS chose), and
/// becomes the one it has after the run.
PoolPlan plan_pool(std::optional<int> threads, long long& size);

/// The HiGHS callbacks a run starts: its log lines when `log`, its checks
/// for an interrupt when `watch` (a run on the thread signals arrive on).
std::vector<const char*> highs_callbacks(bool log, bool watch);

/// A parameter of a solver library and the value it is set to.
struct LibraryParameter {
    const char* name;
    std::variant<bool, int, double> value;
};

/// SCIP's parameters for a load as `request` asks: the gap and the LP's
/// threads when given.
std::vector<LibraryParameter> scip_parameters(const LoadRequest& request);

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

/// The column bounds of `p` loaded as `request` asks: its fixed columns at their values.
void loaded_bounds(const Program& p, const LoadRequest& request, std::vector<double>& lower,
                   std::vector<double>& upper);

/// The plan for loading `p` as `request` asks: fixed columns at their
/// values, integrality dropped when relaxed, no objective for feasibility.
ModelPlan plan_model(const Program& p, const LoadRequest& request);

/// The column or row of a name the plan gave ("c12", "r3").
uint32_t planned_index(const std::string& name);

}  // namespace tarvok::solver
