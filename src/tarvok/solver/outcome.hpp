// What solving a Program produced, independent of the solver's own types: the
// status words, the values as they are reported, and the readable report.
#pragma once

#include "solver/program.hpp"

#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::solver {

enum class Status : uint8_t { Optimal, Infeasible, Unbounded, InfeasibleOrUnbounded, TimeLimit, Error };

/// "optimal", "infeasible", "unbounded", "infeasible_or_unbounded", "time_limit", "error".
const char* status_word(Status status);

/// All statuses, in the order above.
inline constexpr Status kStatuses[] = {Status::Optimal,   Status::Infeasible,
                                       Status::Unbounded, Status::InfeasibleOrUnbounded,
                                       Status::TimeLimit, Status::Error};

/// Our status for a HiGHS model status, given by its name ("kOptimal",
/// "kTimeLimit", ...). Anything that is not one of the outcomes we name
/// (iteration limits, interrupts, load errors) is an error.
Status status_from_highs(std::string_view model_status);

/// Our status for a SCIP status, as PySCIPOpt names it ("optimal",
/// "timelimit", ...). A gap limit reached is an optimum within the gap asked
/// for, as HiGHS reports it; other limits and interrupts are errors.
Status status_from_scip(std::string_view status);

/// Further solves that can settle a program a solver left infeasible or
/// unbounded: the same program without presolve, its relaxation (integrality
/// dropped), and the search for any feasible point (objective zero).
enum class Attempt : uint8_t { WithoutPresolve, Relaxation, FeasiblePoint };

/// The status of a program whose first solve ended in `first`: the same
/// unless it is InfeasibleOrUnbounded, which the attempts settle where they
/// can. Without presolve the solver may tell the two apart; a MIP whose
/// relaxation is infeasible is infeasible; otherwise a feasible point makes
/// the program unbounded (the solver found a direction of unlimited
/// improvement, and with rational data a feasible MIP along with it is
/// unbounded), and none makes it infeasible. `attempt` runs one solve and
/// returns the status it ended in, or nullopt when it could not run (no time
/// left).
Status settle_open_status(Status first, bool integer, const std::function<std::optional<Status>(Attempt)>& attempt);

struct Outcome {
    Status status = Status::Error;
    bool has_solution = false;  ///< `x` holds a feasible point
    double objective = 0;
    std::vector<double> x;  ///< per column, when has_solution
    std::vector<Culprit> culprits;
    std::string message;  ///< what went wrong, for Error and for statuses without a solution
    /// For a MIP that stopped before proving its solution optimal: the best
    /// bound on the objective and the relative gap to it (NaN when unknown).
    double best_bound = std::numeric_limits<double>::quiet_NaN();
    double gap = std::numeric_limits<double>::quiet_NaN();
};

/// A solver value as reported: integers rounded, and values within 1e-9 of
/// zero (including -0) made 0.
double reported_value(double v, bool integer);

/// The outcome without a solver: a program that is infeasible on its face
/// (see Program::conflicts), or one without columns, whose objective is its
/// constant. nullopt when a solver is needed.
std::optional<Outcome> settle_without_solver(const Program& program);

/// The readable report: status, objective, the nonzero values grouped by
/// variable with one column per index, the dexprs, and what makes an
/// infeasible program infeasible.
std::string solution_report(const Program& program, const Outcome& outcome);

/// Rows of cells as aligned columns, indented by two spaces; the cells after
/// the first `text_columns` (numbers) aligned right. Shared by the reports.
std::string table(const std::vector<std::vector<std::string>>& rows,
                  size_t text_columns = std::numeric_limits<size_t>::max());

/// The header of a variable's dimension k: its set or range as written.
std::string dimension_header(const Program& program, const VariableBlock& block, size_t k);

}  // namespace tarvok::solver
