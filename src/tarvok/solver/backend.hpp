// The seam between the solve strategy and a solver. A back-end loads a
// Program into its solver as asked (relaxed, without objective, some columns
// fixed) and runs it; the strategy (solve_with below) decides which runs
// to make and what their statuses mean: the retry without presolve, the
// relaxation that names an infeasible subset, the figures of the fixed LP.
#pragma once

#include "solver/outcome.hpp"
#include "solver/program.hpp"
#include "solver/sensitivity.hpp"

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvok::solver {

/// How a program is loaded for one run.
struct LoadRequest {
    bool relaxed = false;      ///< integrality dropped
    bool feasibility = false;  ///< objective dropped, so that any feasible point is optimal
    bool log = false;          ///< the solver's log goes wherever the host sends it
    double mip_gap = std::numeric_limits<double>::quiet_NaN();
    std::optional<int> threads;  ///< nullopt: the solver's choice
    /// Columns fixed at a value (for the LP of a MIP at its solution).
    std::vector<int32_t> fixed_columns;
    std::vector<double> fixed_values;
};

/// What one run ended in.
struct RunEnd {
    Status status = Status::Error;
    bool interrupted = false;  ///< stopped by Ctrl-C; the host holds what it raised
    std::string stop_reason;   ///< the solver's own words, for a status we call an error
};

/// The best point a run found, with the bound of a MIP.
struct Incumbent {
    bool has_solution = false;
    double objective = 0;
    std::vector<double> x;
    double best_bound = std::numeric_limits<double>::quiet_NaN();
    double gap = std::numeric_limits<double>::quiet_NaN();
};

/// Counters of a run, where the solver keeps them.
struct RunCounts {
    std::optional<int64_t> simplex_iterations;
    std::optional<int64_t> mip_nodes;
    std::optional<int64_t> threads;  ///< the pool the run had, when known
};

/// A program loaded into a solver.
class LoadedProgram {
  public:
    virtual ~LoadedProgram() = default;
    /// Runs (again) with presolve on or off and a time limit (NaN: none).
    virtual RunEnd run(bool presolve, double time_limit) = 0;
    virtual Incumbent incumbent() = 0;
    /// The rows and bounds of an irreducible infeasible subset, when the
    /// solver finds one; empty otherwise.
    virtual std::vector<Culprit> infeasible_subset() = 0;
    /// Duals, activities and reduced costs of an optimal LP run, and the
    /// ranging when asked; nullopt when the solver gives no dual solution.
    virtual std::optional<SolverFigures> figures(bool ranging) = 0;
    virtual RunCounts counts() = 0;
};

class SolverBackend {
  public:
    virtual ~SolverBackend() = default;
    /// The solver's name as messages show it ("HiGHS").
    virtual std::string name() const = 0;
    virtual std::unique_ptr<LoadedProgram> load(const Program& program, const LoadRequest& request) = 0;
};

struct SolveSettings {
    double time_limit = std::numeric_limits<double>::quiet_NaN();  ///< seconds; NaN for none
    double mip_gap = std::numeric_limits<double>::quiet_NaN();
    std::optional<int> threads;
    bool log = false;
    /// 0 none, 1 duals, reduced costs, activities and slacks, 2 also ranging.
    int sensitivity = 0;
    /// Seconds since some fixed start; the steady clock unless a test sets it.
    std::function<double()> clock;
};

/// Everything a solve produced, before the host shapes it.
struct SolveReport {
    Outcome outcome;
    std::optional<Sensitivity> sensitivity;
    bool interrupted = false;  ///< Ctrl-C ended it; `outcome` holds the run so far
    bool used_solver = false;  ///< false when the program settled without one
    double solve_seconds = 0;
    std::optional<double> mip_gap;  ///< of a MIP's solution
    RunCounts counts;
};

/// Puts each column that is in no row and has no cost (every such column when
/// `without_objective`) at the value nearest zero within `lower`..`upper`:
/// any value there is optimal, and a solver may leave it anywhere.
void settle_free_columns(const Program& program, const std::vector<double>& lower, const std::vector<double>& upper,
                         bool without_objective, std::vector<double>& x);

/// What an infeasible subset is asked about the bounds of its variables:
/// whether a variable has a (finite) lower or upper one, and whether the
/// subset stays infeasible without it; a bound found unneeded stays out, a
/// needed one is put back.
struct BoundTrials {
    std::function<bool(size_t variable, bool lower)> has_bound;
    std::function<bool(size_t variable, bool lower)> infeasible_without;
};

/// Per variable of an infeasible subset, the bounds it needs, as
/// Program::explain numbers them (2 lower, 3 upper, 4 both, 0 none): each
/// bound is left out in turn and kept only when the subset turns feasible
/// without it. Past `most_trials` trials a large subset keeps its bounds.
std::vector<int> needed_bounds(size_t variables, const BoundTrials& trials, int most_trials = 200);

/// Solves `program` with `backend` as `settings` ask.
SolveReport solve_with(const Program& program, SolverBackend& backend, const SolveSettings& settings);

/// solve_with, the back-end made by `make` only when the program needs a
/// solver (so that a program that settles without one needs no solver library).
SolveReport solve_with(const Program& program, const std::function<SolverBackend&()>& make,
                       const SolveSettings& settings);

}  // namespace tarvok::solver
