// A problem's record as the run's workers pass it on and a problem as they
// get it: one table of fields per struct, which the binding walks to read a
// host's map, and which value_of walks to shape the plain value the host is
// handed. Beside them, the shaping of one problem's record from its samples.
#pragma once

#include "compiler/data_values.hpp"
#include "evaluation/dataset.hpp"
#include "evaluation/results.hpp"
#include "evaluation/runner.hpp"

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
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
    visit("what_if", r.what_if);
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

/// A solve of the what-if table as the generation result's table holds it
/// (model_file and data_file as the binding made them relative).
template <Of<TableReading> A, typename Visit>
void each_field(A& a, Visit&& visit) {
    visit("index", a.index);
    visit("alternative", a.alternative);
    visit("status", a.status);
    visit("objective", a.objective);
    visit("answer", a.answer);
    visit("model_file", a.model_file);
    visit("data_file", a.data_file);
    visit("same_answer", a.same_answer);
}

template <Of<WhatIfTable> A, typename Visit>
void each_field(A& a, Visit&& visit) {
    visit("main", a.main);
    visit("alternatives", a.alternatives);
    visit("unexplored", a.unexplored);
}

/// A problem as a worker gets it; `folder` is the folder of this run
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

template <typename T>
struct IsOptional : std::false_type {};
template <typename T>
struct IsOptional<std::optional<T>> : std::true_type {};
template <typename T>
struct IsVector : std::false_type {};
template <typename T>
struct IsVector<std::vector<T>> : std::true_type {};

template <typename T>
concept HasFields = requires(T& plain) {
    each_field(plain, [](const char*, auto&) {});
};

/// A plain value as the host is handed it: a struct as an object through
/// its table of fields, an empty optional as null, a number as an integer
/// or a float as its type says.
template <typename T>
data::Value value_of(const T& v) {
    if constexpr (IsOptional<T>::value) {
        return v ? value_of(*v) : data::Value::null();
    } else if constexpr (IsVector<T>::value) {
        data::Value out = data::Value::array();
        for (const auto& one : v) out.items().push_back(value_of(one));
        return out;
    } else if constexpr (HasFields<T>) {
        data::Value out = data::Value::object();
        each_field(v, [&](const char* key, const auto& field) { out.members().emplace_back(key, value_of(field)); });
        return out;
    } else if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, bool>) {
        return data::Value::of(v);
    } else if constexpr (std::is_integral_v<T>) {
        return data::Value::of(static_cast<std::int64_t>(v));
    } else {
        return data::Value::of(static_cast<double>(v));
    }
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

/// Marks each reading the what-if table explored (by its index) with its answer.
void explore(std::vector<Reading>& readings, const WhatIfTable& table);

}  // namespace tarvok::evaluation
