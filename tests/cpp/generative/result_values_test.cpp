#include "generative/result_values.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace wf = tarvok::generative::workflow;
using tarvok::data::Value;

namespace {

std::vector<std::string> names(const Value& object) {
    std::vector<std::string> out;
    for (const auto& [name, member] : object.members()) out.push_back(name);
    return out;
}

/// The member `name` of an object (the value's own lookup lives in the compiler core).
const Value& at(const Value& object, const std::string& name) {
    for (const auto& [key, member] : object.members())
        if (key == name) return member;
    throw std::out_of_range(name);
}

struct Kept : wf::Attachment {};

wf::Result explored() {
    wf::Result r;
    r.assumptions_asked = true;
    r.assumptions = {{"unit cost", "cost per batch", "c", "reading"}, {"no overtime", "overtime", "", "reading"}};
    wf::WhatIf written;
    written.assumption = 1;
    written.index = 2;
    written.pair.host = std::make_shared<Kept>();
    written.compiled = true;
    wf::WhatIf refused = written;
    refused.not_written = "plan.alt2.mod is one of the run's own files";
    wf::WhatIf no_reply;
    no_reply.errors = {"the reply gave no pair"};
    r.what_if = {written, refused, no_reply};
    r.what_if_unexplored = 4;
    return r;
}

TEST(ResultValues, TheWhatIfTableLeavesTheHostsMembersInTheirPlaces) {
    wf::Result r = explored();
    Value table = wf::what_if_value(r);
    EXPECT_EQ(names(table), (std::vector<std::string>{"main", "alternatives", "unexplored"}));
    EXPECT_EQ(names(at(table, "main")), (std::vector<std::string>{"status", "objective", "answer"}));
    EXPECT_EQ(at(table, "unexplored").integer(), 4);
    const Value& first = at(table, "alternatives").items().at(0);
    EXPECT_EQ(names(first), (std::vector<std::string>{"assumption", "alternative", "where", "kind", "index",
                                                      "model_file", "data_file", "compiled", "adopted", "same_answer",
                                                      "errors", "status", "objective", "answer"}));
    EXPECT_EQ(at(first, "assumption").text(), "no overtime");  // the entry of its own assumption
    EXPECT_EQ(at(first, "index").integer(), 2);
    EXPECT_EQ(at(first, "model_file").kind(), Value::Kind::Null);
    EXPECT_EQ(at(at(table, "alternatives").items().at(2), "errors").items().at(0).text(), "the reply gave no pair");
    // Files are named only for an alternative that gave a pair and was written.
    EXPECT_TRUE(wf::alternative_written(r.what_if[0]));
    EXPECT_FALSE(wf::alternative_written(r.what_if[1]));
    EXPECT_FALSE(wf::alternative_written(r.what_if[2]));
}

TEST(ResultValues, StatisticsAndAssumptionsFollowTheStepsTaken) {
    wf::Result r = explored();
    r.iterations = 3;
    r.syntax_errors = {"model.mod:1:1: error: x"};
    EXPECT_EQ(names(wf::statistics_value(r, {})),
              (std::vector<std::string>{"iterations", "assessment", "syntax_errors"}));
    Value all = wf::statistics_value(r, {.execution_check = true, .assumptions = true});
    EXPECT_EQ(names(all), (std::vector<std::string>{"iterations", "assessment", "syntax_errors", "solver_status",
                                                    "objective", "assumptions", "what_if"}));
    EXPECT_EQ(at(all, "assumptions").items().size(), 2u);
    r.assumptions_asked = false;
    EXPECT_EQ(wf::assumptions_value(r).kind(), Value::Kind::Null);
}

TEST(ResultValues, EventsCarryOnlyWhatTheirKindHas) {
    wf::Event request{.kind = wf::EventKind::Request, .iteration = 1, .step = wf::Step::Repair};
    EXPECT_EQ(names(wf::event_value(request, "openai")),
              (std::vector<std::string>{"kind", "text", "iteration", "step", "provider", "model"}));
    EXPECT_EQ(at(wf::event_value(request, "openai"), "text").kind(), Value::Kind::Null);
    std::vector<std::string> errors{"e"};
    wf::ExecutionOutcome solved;
    wf::Event failed{.kind = wf::EventKind::CompileFailed, .text = "Compile failed", .errors = &errors};
    Value shown = wf::event_value(failed, "openai");
    EXPECT_EQ(names(shown), (std::vector<std::string>{"kind", "text", "iteration", "errors"}));
    EXPECT_EQ(at(shown, "kind").text(), "compile_failed");
    wf::Event passed{.kind = wf::EventKind::ExecutionPassed, .text = "ok", .execution = &solved};
    EXPECT_EQ(names(wf::event_value(passed, "")).back(), "execution");
}

TEST(ResultValues, ATranscriptLineHasEveryMemberAndNullsWhereNothingWasReported) {
    wf::Exchange e{.provider = "ollama", .model = "m", .step = wf::Step::WhatIf, .prompt = "p", .reply = "r"};
    e.usage.tokens_in = 12;
    e.seconds = 0.5;
    Value line = wf::exchange_value(e);
    EXPECT_EQ(names(line), (std::vector<std::string>{"provider", "model", "step", "prompt", "reply", "temperature",
                                                     "tokens_in", "tokens_out", "seconds"}));
    EXPECT_EQ(at(line, "step").text(), "what_if");
    EXPECT_EQ(at(line, "temperature").kind(), Value::Kind::Null);
    EXPECT_EQ(at(line, "tokens_in").kind(), Value::Kind::Integer);
    EXPECT_EQ(at(line, "tokens_out").kind(), Value::Kind::Null);
    EXPECT_EQ(at(line, "seconds").number(), 0.5);
}

TEST(ResultValues, ResultFieldsAreThePlainValuesOrLeftToTheHost) {
    wf::Result r;
    r.iterations = 2;
    r.syntax_errors = {"line 3: ';' expected"};
    r.usage.tokens_out = 40;
    auto field = [&](tarvok::generative::ResultField f, bool alignment = true) {
        return wf::result_field_value(r, f, alignment);
    };
    using F = tarvok::generative::ResultField;
    EXPECT_EQ(field(F::Iterations)->integer(), 2);
    EXPECT_EQ(field(F::SyntaxErrors)->items().at(0).text(), "line 3: ';' expected");
    EXPECT_EQ(field(F::TokensIn)->kind(), Value::Kind::Null);  // not reported
    EXPECT_EQ(field(F::TokensOut)->integer(), 40);
    // Aligned is false while the check is on, null when it is off.
    EXPECT_EQ(field(F::Aligned)->kind(), Value::Kind::Boolean);
    EXPECT_EQ(field(F::Aligned, false)->kind(), Value::Kind::Null);
    // No failure and no assumptions step: both null.
    EXPECT_EQ(field(F::AssumptionsError)->kind(), Value::Kind::Null);
    EXPECT_EQ(field(F::Assumptions)->kind(), Value::Kind::Null);
    r.assumptions_failure = "not JSON";
    EXPECT_EQ(field(F::AssumptionsError)->text(), "not JSON");
    for (F host : {F::ModelText, F::DataText, F::ModelFile, F::DataFile, F::Diagnostics, F::CompiledModel, F::Execution,
                   F::Statistics, F::WhatIf})
        EXPECT_FALSE(field(host).has_value());
}

TEST(ResultValues, AnUnexpandablePairIsAnErrorOutcomeWithItsDiagnostics) {
    Value plain = wf::unexpandable_outcome("line 4: index 9 out of range", false);
    EXPECT_EQ(names(plain), (std::vector<std::string>{"status", "objective", "message", "infeasible_constraints"}));
    EXPECT_EQ(at(plain, "status").text(), "error");
    EXPECT_EQ(at(plain, "message").text(), "line 4: index 9 out of range");
    EXPECT_TRUE(at(plain, "infeasible_constraints").items().empty());
    EXPECT_EQ(at(wf::unexpandable_outcome("", true), "answer").kind(), Value::Kind::Null);
}

}  // namespace
