// A problem's record as the run's workers pass it on (the map that
// `_run_problem` returns) and a problem as they get it: one table of fields
// per struct, which the binding walks to convert either way. Beside them,
// the shaping of one problem's record from its samples.
#pragma once

#include "evaluation/dataset.hpp"
#include "evaluation/results.hpp"
#include "evaluation/runner.hpp"

#include <concepts>
#include <type_traits>
#include <vector>

namespace tarvok::evaluation {

template <typename T, typename Plain>
concept Of = std::same_as<std::remove_const_t<T>, Plain>;

/// The fields of the record map, in its order. The run's own facts of a
/// record (its repeat, class, reference, judgement, hash and key) are not in
/// it: the run adds them.
template <Of<Record> R, typename Visit>
void each_field(R& r, Visit&& visit) {
    visit("id", r.id);
    visit("objective", r.objective);
    visit("status", r.status);
    visit("compiled", r.compiled);
    visit("iterations", r.iterations);
    visit("compile_errors", r.compile_errors);
    visit("error", r.error);
    visit("provider_error", r.provider_error);
    visit("llm_calls", r.llm_calls);
    visit("repair_rounds", r.repair_rounds);
    visit("tokens_in", r.tokens_in);
    visit("tokens_out", r.tokens_out);
    visit("assumptions", r.assumptions);
    visit("answer", r.answer);
    visit("listed_assumptions", r.readings);
    visit("samples", r.samples);
    visit("sample", r.sample);
    visit("confidence", r.confidence);
    visit("seconds", r.seconds);
}

/// The facts of the generation loop's result that a record keeps: the
/// result's attribute and the record's field (the loop's syntax errors are
/// the record's compile errors).
template <Of<Record> R, typename Visit>
void each_loop_fact(R& r, Visit&& visit) {
    visit("llm_calls", r.llm_calls);
    visit("repair_rounds", r.repair_rounds);
    visit("tokens_in", r.tokens_in);
    visit("tokens_out", r.tokens_out);
    visit("iterations", r.iterations);
    visit("compiled", r.compiled);
    visit("syntax_errors", r.compile_errors);
}

template <Of<Assumption> A, typename Visit>
void each_field(A& a, Visit&& visit) {
    visit("value", a.value);
    visit("line", a.line);
    visit("text", a.line_text);
}

/// A reading as the assumptions step lists it (assumption, alternative,
/// where, kind) and as the what-if step answers it (status, objective, answer).
template <Of<Reading> A, typename Visit>
void each_field(A& a, Visit&& visit) {
    visit("assumption", a.assumption);
    visit("alternative", a.alternative);
    visit("where", a.where);
    visit("kind", a.kind);
    visit("explored", a.explored);
    visit("status", a.status);
    visit("objective", a.objective);
    visit("answer", a.answer);
}

/// A problem as `_run_problem` gets it; `folder` is the folder of this run
/// of it (see problem_folder).
template <Of<Problem> P, typename Visit>
void each_field(P& p, Visit&& visit) {
    visit("id", p.id);
    visit("description", p.description);
    visit("expected", p.expected);
    visit("record", p.record);
    visit("class", p.problem_class);
    visit("repeat", p.repeat);
    visit("folder", p.folder);
}

/// A record read back from a map: a provider error only with an error, and
/// the samples' fields only when more than one was voted on.
void settle(Record& record);

/// What voting needs of one sample's record.
SampleOutcome sample_outcome(const Record& record);

/// The record of a problem generated several times: the picked sample's,
/// with the calls and tokens of all of them, the agreement and the samples.
/// A picked provider error is kept as it is, to be tried again.
Record voted(const std::vector<Record>& samples, const SamplePick& pick);

/// Marks the first readings explored with the what-if step's answers, in order.
void explore(std::vector<Reading>& readings, const std::vector<Reading>& alternatives);

}  // namespace tarvok::evaluation
