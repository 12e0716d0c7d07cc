// The plain values a run hands its caller: the assumptions, the what-if
// table, the statistics map, the events and the transcript lines, each shaped
// here as a JSON value. Where a value holds what only the host has (a solver
// outcome map, a file path as the caller gave it, the model name as given),
// the shape carries a null in that member's place and the binding fills it in;
// the members keep the order they have here.
#pragma once

#include "compiler/data_values.hpp"
#include "generative/module_face.hpp"
#include "generative/workflow.hpp"

#include <optional>

namespace tarvok::generative::workflow {

/// {assumption, alternative, where, kind}.
data::Value assumption_value(const Assumption& assumption);

/// The assumptions as a list; null when the step was not taken.
data::Value assumptions_value(const Result& result);

/// The members a solve shows in the what-if table, left for the host's outcome.
inline constexpr const char* kReadingMembers[] = {"status", "objective", "answer"};

/// The what-if table: {main: a reading, alternatives: [...], unexplored: n}.
/// Each alternative is its assumption, then index, model_file, data_file
/// (null: for the host's paths), compiled, adopted, same_answer, errors and a
/// reading; in the order of Result::what_if.
data::Value what_if_value(const Result& result);

/// Whether an explored alternative's files were written (and so are named).
bool alternative_written(const WhatIf& what_if);

/// Which members the statistics map has beyond iterations, assessment and syntax_errors.
struct StatisticsShape {
    bool execution_check = false;  ///< solver_status and objective (null: the host's)
    bool assumptions = false;      ///< assumptions, and what_if (null: the host's)
};

data::Value statistics_value(const Result& result, StatisticsShape shape);

/// An event as `on_event` receives it; a Request's model and an execution
/// event's "execution" are null for the host's own values.
data::Value event_value(const Event& event, const std::string& provider);

/// The solver outcome map of a pair that cannot be expanded with its data, as
/// `_execute_model` gives it: status "error", the diagnostics as its message,
/// no objective and no infeasible constraints (and no answer, `with_answer`).
data::Value unexpandable_outcome(const std::string& diagnostics, bool with_answer);

/// A field of GenerationResult that the result holds as a plain value
/// (`alignment`: the alignment check was on; off, `aligned` is null). None
/// for the fields only the host holds: the pair's texts and files, the
/// diagnostics records, the compiled model, the solver outcome, the
/// statistics and the what-if table.
std::optional<data::Value> result_field_value(const Result& result, ResultField field, bool alignment);

/// One line of a transcript file.
data::Value exchange_value(const Exchange& exchange);

}  // namespace tarvok::generative::workflow
