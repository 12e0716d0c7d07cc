// Sensitivity figures of a solved linear program, mapped back from rows and
// columns to the model's constraints and variables: duals, reduced costs,
// activities, slacks, which rows bind, and the ranges over which the basis
// stays optimal. The solver's arrays come in; what they mean for the model
// comes out.
//
// Conventions:
//   dual          the change of the optimal objective per unit increase of
//                 the constraint's right-hand side (its active side), in the
//                 model's own sense: a maximisation gains what a positive dual says
//   reduced cost  the change of the optimal objective per unit increase of
//                 the column's value away from its bound
//   slack         the distance of the activity from the nearer side, never
//                 negative beyond rounding; none for a row without sides
// A constraint folded into a bound of one column keeps its place among the
// constraints, with the figures it would have as a row: its own activity,
// sides, slack, dual and range. Its dual is the column's reduced cost over
// its coefficient when its bound is the one that holds the column (the first
// of equal bounds, the declaration's before any), and zero otherwise.
// A range is where the reported dual holds: the solver's ranging for a side
// that holds the optimum, and for one that does not (a basic row) from its
// activity outwards.
#pragma once

#include "solver/program.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvok::solver {

/// One end of a range as the solver reports it: how far the figure can go
/// with the basis unchanged, the objective there, and the variables that
/// enter and leave the basis past it (columns first, then rows; -1 for none).
struct RangeEnd {
    double value = 0;
    double objective = 0;
    int64_t entering = -1;
    int64_t leaving = -1;
};

/// The solver's own arrays, per row and column of the program solved.
struct SolverFigures {
    std::vector<double> row_dual;
    std::vector<double> column_dual;
    bool has_ranging = false;
    std::vector<RangeEnd> cost_up, cost_down;                  ///< per column
    std::vector<RangeEnd> bound_up, bound_down;                ///< per row
    std::vector<RangeEnd> column_bound_up, column_bound_down;  ///< per column: its bound at which it sits
    /// Per row, whether it is basic; empty when the solver does not say.
    std::vector<uint8_t> row_basic;
};

/// A range with its ends named; a name is empty where the solver gives none.
struct Range {
    double low = 0, high = 0;
    double objective_at_low = 0, objective_at_high = 0;
    std::string entering_at_low, leaving_at_low, entering_at_high, leaving_at_high;
};

struct RowFigures {
    uint32_t constraint = kNone;    ///< the model constraint
    uint32_t instance = 0;          ///< orders the constraint's instances as the model states them
    std::vector<std::string> keys;  ///< its forall values, outermost first
    std::string name;
    uint32_t line = 0;
    double activity = 0;
    double lower = 0, upper = 0;
    double slack = 0;  ///< +inf for a row without sides
    double dual = 0;
    bool binding = false;
    std::string bound_of;  ///< the column whose bound it became, when folded
    std::optional<Range> rhs;
};

struct ColumnFigures {
    uint32_t column = 0;
    double value = 0;
    double reduced_cost = 0;
    std::optional<Range> cost;
};

struct Sensitivity {
    /// The figures are those of the LP with the integer columns fixed at the
    /// solution, not of the program itself.
    bool fixed_integers = false;
    bool has_ranging = false;
    /// The rows in program order, then the folded constraints in theirs.
    std::vector<RowFigures> rows;
    std::vector<ColumnFigures> columns;  ///< one per column
};

/// A row or bound side within this of its activity binds.
double binding_tolerance(double side);

/// The figures of `program` at `x` from what the solver reported: any
/// optimal point of the LP the duals belong to, so that the activities
/// are those of the values a caller sees.
Sensitivity shape_sensitivity(const Program& program, const std::vector<double>& x, const SolverFigures& figures,
                              bool fixed_integers);

/// Tables grouped by constraint (binding rows first) and by variable.
std::string sensitivity_report(const Program& program, const Sensitivity& sensitivity);

}  // namespace tarvok::solver
