#include "generative/result_values.hpp"

namespace tarvok::generative::workflow {

namespace {

using data::Value;

Value texts(const std::vector<std::string>& items) {
    Value out = Value::array();
    for (const std::string& item : items) out.items().push_back(Value::of(item));
    return out;
}

Value integer(long long n) { return Value::of(static_cast<int64_t>(n)); }

template <typename T>
Value optional_of(const std::optional<T>& value) {
    if (!value) return Value::null();
    if constexpr (std::is_same_v<T, double>)
        return Value::of(*value);
    else
        return integer(*value);
}

/// `entry` with the members of a reading added, null for the host to fill in.
void add_reading(Value& entry) {
    for (const char* member : kReadingMembers) entry.members().emplace_back(member, Value::null());
}

}  // namespace

Value assumption_value(const Assumption& a) {
    return Value::object({{"assumption", Value::of(a.assumption)},
                          {"alternative", Value::of(a.alternative)},
                          {"where", Value::of(a.where)},
                          {"kind", Value::of(a.kind)}});
}

Value assumptions_value(const Result& result) {
    if (!result.assumptions_asked) return Value::null();
    Value out = Value::array();
    for (const Assumption& a : result.assumptions) out.items().push_back(assumption_value(a));
    return out;
}

bool alternative_written(const WhatIf& what_if) { return what_if.pair.host != nullptr && what_if.not_written.empty(); }

Value what_if_value(const Result& result) {
    Value main = Value::object();
    add_reading(main);
    Value alternatives = Value::array();
    for (const WhatIf& w : result.what_if) {
        Value one = assumption_value(result.assumptions.at(w.assumption));
        one.members().emplace_back("index", integer(w.index));
        one.members().emplace_back("model_file", Value::null());
        one.members().emplace_back("data_file", Value::null());
        one.members().emplace_back("compiled", Value::of(w.compiled));
        one.members().emplace_back("adopted", Value::of(w.adopted));
        one.members().emplace_back("same_answer", Value::of(w.same_answer));
        one.members().emplace_back("errors", texts(w.errors));
        add_reading(one);
        alternatives.items().push_back(std::move(one));
    }
    return Value::object(
        {{"main", main}, {"alternatives", alternatives}, {"unexplored", integer(result.what_if_unexplored)}});
}

Value statistics_value(const Result& result, StatisticsShape shape) {
    Value out = Value::object({{"iterations", integer(result.iterations)},
                               {"assessment", Value::of(result.assessment)},
                               {"syntax_errors", texts(result.syntax_errors)}});
    if (shape.execution_check) {
        out.members().emplace_back("solver_status", Value::null());
        out.members().emplace_back("objective", Value::null());
    }
    if (shape.assumptions) {
        out.members().emplace_back("assumptions", assumptions_value(result));
        out.members().emplace_back("what_if", Value::null());
    }
    return out;
}

Value event_value(const Event& e, const std::string& provider) {
    Value out = Value::object({{"kind", Value::of(std::string(event_name(e.kind)))},
                               {"text", e.text.empty() ? Value::null() : Value::of(e.text)},
                               {"iteration", integer(e.iteration)}});
    if (e.step) out.members().emplace_back("step", Value::of(std::string(step_name(*e.step))));
    if (e.kind == EventKind::Request) {
        out.members().emplace_back("provider", Value::of(provider));
        out.members().emplace_back("model", Value::null());
    }
    if (e.kind == EventKind::Reply) out.members().emplace_back("seconds", Value::of(e.seconds));
    if (e.errors) out.members().emplace_back("errors", texts(*e.errors));
    if (e.assessment) out.members().emplace_back("assessment", Value::of(*e.assessment));
    if (e.execution) out.members().emplace_back("execution", Value::null());
    return out;
}

Value unexpandable_outcome(const std::string& diagnostics, bool with_answer) {
    Value out = Value::object({{"status", Value::of("error")},
                               {"objective", Value::null()},
                               {"message", Value::of(diagnostics)},
                               {"infeasible_constraints", Value::array()}});
    if (with_answer) out.members().emplace_back("answer", Value::null());
    return out;
}

std::optional<Value> result_field_value(const Result& r, ResultField field, bool alignment) {
    switch (field) {
    case ResultField::Iterations: return integer(r.iterations);
    case ResultField::Compiled: return Value::of(r.compiled);
    case ResultField::SyntaxErrors: return texts(r.syntax_errors);
    case ResultField::Aligned: return alignment ? Value::of(r.aligned) : Value::null();
    case ResultField::Assessment: return Value::of(r.assessment);
    case ResultField::LlmCalls: return integer(r.llm_calls);
    case ResultField::RepairRounds: return integer(r.repair_rounds);
    case ResultField::TokensIn: return optional_of(r.usage.tokens_in);
    case ResultField::TokensOut: return optional_of(r.usage.tokens_out);
    case ResultField::Assumptions: return assumptions_value(r);
    case ResultField::AssumptionsError:
        return r.assumptions_failure.empty() ? Value::null() : Value::of(r.assumptions_failure);
    default: return std::nullopt;  // the host's
    }
}

Value exchange_value(const Exchange& e) {
    return Value::object({{"provider", Value::of(e.provider)},
                          {"model", Value::of(e.model)},
                          {"step", Value::of(std::string(step_name(e.step)))},
                          {"prompt", Value::of(e.prompt)},
                          {"reply", Value::of(e.reply)},
                          {"temperature", optional_of(e.temperature)},
                          {"tokens_in", optional_of(e.usage.tokens_in)},
                          {"tokens_out", optional_of(e.usage.tokens_out)},
                          {"seconds", Value::of(e.seconds)}});
}

}  // namespace tarvok::generative::workflow
