// What a Program and a solve show their callers, shaped here as JSON values:
// values nested over the index sets, figures nested by the forall values,
// statistics, culprits, the JSON form of a result. The host turns a value into
// its own lists, tuples and dicts, so every shape and
// every rounding is decided in this file.
#pragma once

#include "common/json.hpp"
#include "solver/backend.hpp"
#include "solver/outcome.hpp"
#include "solver/program.hpp"
#include "solver/sensitivity.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarvok::solver {

/// The diagnostics of `source` as the check command prints them, the texts
/// named `model_name` and `data_name` (see compiler::render_for_files).
std::string report_for_files(const Source& source, std::string model_name, std::string data_name);

/// A number as a value is reported: an int for an integer variable (rounded),
/// a float otherwise; near-zero values are 0.
json::Value reported_number(double v, bool integer);

/// A figure as JSON carries it: None for no limit (an infinity or NaN).
json::Value figure(double v);

/// How an indexed variable's values are labelled. Every front end shows the
/// one labelled form decided here: JSON, the CSV rows and the page take
/// `Texts`, Python's mappings `Elements`; `Positions` is the nested lists
/// callers read before values were labelled.
enum class Labels : uint8_t {
    Positions,  ///< lists nested in index-set order
    Texts,      ///< dicts nested over the index sets, keyed by the elements as names write them
    Elements,   ///< (key, value) pairs in column order: the element, or the tuple of elements for several indices
};

/// Variable and dexpr name -> value at `x` (one value per column): a scalar
/// for a scalar variable, an indexed one's values shaped as `form` says.
json::Value solution_values(const Program& p, const std::vector<double>& x, Labels form = Labels::Positions);

/// Sizes and times of the program.
json::Value program_statistics(const Program& p);

/// Sizes and times of a solve, with the solver's counters when one ran.
json::Value solve_statistics(const Program& p, const SolveReport& r);

/// Dicts with name, line and kind ('constraint' or 'bound').
json::Value culprit_list(const std::vector<Culprit>& culprits);

/// One dict per decision variable: name, first_column, shape, integer, line.
json::Value variable_list(const Program& p);
/// One dict per dexpr: name, columns, coefficients, constant, line.
json::Value dexpr_list(const Program& p);
/// Per column, its index keys as a tuple of texts.
json::Value column_key_list(const Program& p);
json::Value column_name_list(const Program& p);
json::Value row_name_list(const Program& p);
json::Value row_line_list(const Program& p);

/// A Program solved: what its result shows, each view built on demand.
struct Solved {
    std::shared_ptr<Program> program;
    Outcome outcome;
    std::optional<Sensitivity> sensitivity;
    json::Value statistics;

    json::Value objective() const;
    json::Value values(Labels form) const;
    json::Value labelled_values() const { return values(Labels::Texts); }
    json::Value element_values() const { return values(Labels::Elements); }
    json::Value nested_values() const { return values(Labels::Positions); }
    json::Value infeasible() const;
    json::Value message() const;
    /// Constraint label -> figure, dicts nested by the forall values for an
    /// indexed constraint; None without sensitivity figures.
    json::Value duals() const;
    json::Value activities() const;
    json::Value slacks() const;
    /// Variable name -> figure, shaped as values are; None without figures.
    json::Value reduced_costs(Labels form) const;
    json::Value element_reduced_costs() const { return reduced_costs(Labels::Elements); }
    /// {'costs': per variable, 'rhs': per constraint} of range dicts; None
    /// unless ranging was asked for and given.
    json::Value ranging() const;
    json::Value sensitivity_basis() const;
    /// The JSON form: status, objective, values, infeasible_constraints,
    /// message, statistics, then the sensitivity views when there are any;
    /// per-variable views labelled by element texts, or `nested` in
    /// index-set order.
    json::Value to_dict(bool nested = false) const;
    /// The number the values hold under `answer` (the decision expression
    /// naming the quantity a question asks for); null when there is none.
    json::Value answer() const;
    /// An HTML table for notebooks: the status and objective, then a row per
    /// value (name, its elements, value), at most `max_rows` of them.
    std::string html(size_t max_rows = 200) const;
    /// The readable report: the solution, then the sensitivity figures when there are any.
    std::string summary() const;
    /// `<SolveResult optimal objective=12.0>`; `objective` is the host's own
    /// spelling of the objective.
    std::string repr(const std::string& objective) const;
};

/// `program` solved as `report` says, with the statistics of the solve.
Solved solved(std::shared_ptr<Program> program, SolveReport report);

/// `<Program 2 columns (0 integer), 1 rows, 2 nonzeros, maximize>`.
std::string program_repr(const Program& p);

}  // namespace tarvok::solver
