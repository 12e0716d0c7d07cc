// The loop's decisions, driven by scripted fakes of its services.
#include "generative/workflow.hpp"

#include "common/json.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace tarvok::generative;
using namespace tarvok::generative::workflow;

namespace {

/// Replies in turn; records what was asked.
struct ScriptedLlm : LlmClient {
    std::deque<std::string> replies;
    std::vector<std::pair<std::string, RequestOptions>> asked;

    std::string generate(const std::string& prompt, const RequestOptions& options) override {
        asked.emplace_back(prompt, options);
        if (replies.empty()) throw std::runtime_error("no reply scripted");
        std::string reply = replies.front();
        replies.pop_front();
        return reply;
    }
    std::vector<std::string> prompts() const {
        std::vector<std::string> out;
        for (const auto& [prompt, options] : asked) out.push_back(prompt);
        return out;
    }
};

/// A compiled model as a fake compiler keeps it.
struct Kept : Attachment {
    std::string model;
    explicit Kept(std::string m) : model(std::move(m)) {}
};

/// Each compile takes the next outcome: "" compiles, anything else is the error.
struct ScriptedCompiler : Compiler {
    std::deque<std::string> errors;
    std::vector<std::string> compiled;

    CompileOutcome compile(const Pair& pair) override {
        compiled.push_back(pair.model);
        std::string error = errors.empty() ? "" : errors.front();
        if (!errors.empty()) errors.pop_front();
        CompileOutcome out;
        out.ok = error.empty();
        if (!out.ok) out.errors = {error};
        out.diagnosed = true;
        out.compiled = last = std::make_shared<Kept>(pair.model);
        return out;
    }
    Attached last;  ///< what the latest compile kept
};

/// Each solve takes the next status.
struct ScriptedExecutor : Executor {
    std::deque<std::string> statuses;
    std::vector<std::string> solved;  ///< the model the compile kept

    ExecutionOutcome execute(const Pair&, const Attachment* compiled) override {
        auto kept = dynamic_cast<const Kept*>(compiled);
        solved.push_back(kept != nullptr ? kept->model : "?");
        ExecutionOutcome out;
        out.verdict.status = statuses.front();
        statuses.pop_front();
        if (out.verdict.status == "optimal") out.objective = 4.0;
        out.objective_text = out.objective ? "4.0" : "none";
        if (out.verdict.status == "infeasible") out.verdict.infeasible_subset = {{"need", 2, false}};
        return out;
    }
};

/// Replies are "model|data"; verdicts "yes:text" or "no:text".
struct FakeSteps : Steps {
    std::vector<std::string> written;
    std::vector<std::string> final_errors;

    int gathered = 0;
    void gather_examples() override { ++gathered; }
    /// The prompts name their step and the arguments the loop gave, in the builder's order.
    std::string prompt(const PromptRequest& r) override {
        auto text = [&](std::size_t i) -> std::string {
            const PromptValue& v = r.arguments.at(i);
            if (const auto* p = std::get_if<PairText>(&v)) return p->data ? p->pair->data : p->pair->model;
            if (const auto* outcome = std::get_if<const ExecutionOutcome*>(&v)) return (*outcome)->verdict.status;
            if (const auto* t = std::get_if<std::string>(&v)) return *t;
            return std::get<std::vector<std::string>>(v).at(0);
        };
        switch (r.step) {
        case Step::Generate: return "GEN" + std::string(gathered == 1 ? "" : "?");
        case Step::Repair: return "FIX:" + text(0) + ":" + text(2);
        case Step::Realign: return "REALIGN:" + text(1) + ":" + text(0);
        case Step::Execution: return "EXEC:" + text(0) + ":" + text(2);
        case Step::Align: return "JUDGE:" + text(0);
        case Step::Assess:
            final_errors = std::get<std::vector<std::string>>(r.arguments.at(2));
            return "FINAL:" + text(0);
        case Step::Feedback: return "FEEDBACK:" + text(0) + ":" + text(1);
        case Step::Assumptions: return "ASSUME:" + text(0);
        case Step::WhatIf: return "WHATIF:" + text(0) + ":" + text(4) + ":" + text(3);
        }
        return "";
    }

    ParsedPair read_pair(const std::string& reply) override {
        ParsedPair out;
        size_t bar = reply.find('|');
        if (bar == std::string::npos) {
            out.failure = "no bar";
            return out;
        }
        out.pair = Pair{reply.substr(0, bar), reply.substr(bar + 1), nullptr};
        return out;
    }
    Verdict read_verdict(const std::string& reply) override {
        if (reply == "throw") throw std::runtime_error("not JSON");
        Verdict v;
        if (reply.rfind("yes:", 0) == 0) v.shape = Verdict::Shape::Aligned;
        if (reply.rfind("no:", 0) == 0) v.shape = Verdict::Shape::NotAligned;
        v.assessment = reply.substr(reply.find(':') + 1);
        return v;
    }
    ParsedFeedback read_feedback(const std::string& reply) override {
        ParsedFeedback out;
        out.ok = reply.front() == '{';
        out.failure = "Expecting value";
        if (out.ok) out.value = std::make_shared<Kept>(reply);
        return out;
    }
    Pair write_pair(const Pair& pair) override {
        written.push_back(pair.model);
        Pair back = pair;
        for (size_t at; (at = back.model.find("\r\n")) != std::string::npos;) back.model.erase(at, 1);
        return back;
    }
};

struct RecordingProgress : Progress {
    std::vector<Event> events;
    std::vector<std::string> logs;
    std::vector<std::string> seen_assessments, seen_errors;

    void event(const Event& e) override {
        events.push_back(e);
        if (e.assessment) seen_assessments.push_back(*e.assessment);
        if (e.errors) seen_errors.insert(seen_errors.end(), e.errors->begin(), e.errors->end());
        events.back().assessment = nullptr;  // valid only during the call
        events.back().errors = nullptr;
        events.back().execution = nullptr;
    }
    void log(const std::string& line) override { logs.push_back(line); }

    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        for (const Event& e : events)
            if (!e.text.empty()) out.push_back(e.text);
        return out;
    }
    std::vector<EventKind> kinds() const {
        std::vector<EventKind> out;
        for (const Event& e : events) out.push_back(e.kind);
        return out;
    }
};

struct LoopTest : ::testing::Test {
    ScriptedLlm llm;
    ScriptedCompiler compiler;
    ScriptedExecutor executor;
    FakeSteps steps;
    RecordingProgress progress;
    workflow::Run settings;

    LoopTest() {
        settings.provider = "openai";
        settings.model = "gpt-5";
        settings.iterations = 5;
        settings.model_file = "m.mod";
        settings.data_file = "d.dat";
    }
    Result go() { return generate(settings, Services{llm, compiler, executor, steps, progress}); }
    void script(std::vector<std::string> replies, std::vector<std::string> compile_errors = {}) {
        llm.replies.assign(replies.begin(), replies.end());
        compiler.errors.assign(compile_errors.begin(), compile_errors.end());
    }
};

// ------------------------------------------------------- terminal outcomes

TEST_F(LoopTest, AlignedFirstTimeStopsWithTheVerdict) {
    script({"m1|d1", "yes:  Good model.\n"});
    Result r = go();
    EXPECT_EQ(llm.prompts(), (std::vector<std::string>{"GEN", "JUDGE:m1"}));
    EXPECT_TRUE(r.aligned && r.compiled);
    EXPECT_EQ(r.assessment, "Good model.");
    EXPECT_EQ(r.iterations, 1);
    EXPECT_EQ(r.pair.model, "m1");
    EXPECT_EQ(progress.lines(), (std::vector<std::string>{
                                    "Generating with provider=openai model=gpt-5 iterations=5 alignment=on",
                                    "Iteration 1/5: prompting model",
                                    "LLM response parsed (model + data)",
                                    "Compiling model and data",
                                    "Wrote files: m.mod \u2022 d.dat",
                                    "Checking alignment with original prompt...",
                                    "Aligned \u2713 Stopping.",
                                    "Generation complete",
                                }));
    EXPECT_EQ(progress.seen_assessments, (std::vector<std::string>{"Good model."}));
    // The compiled model the final compile kept is the result's.
    ASSERT_NE(dynamic_cast<const Kept*>(r.compiled_model.get()), nullptr);
    EXPECT_EQ(dynamic_cast<const Kept*>(r.compiled_model.get())->model, "m1");
}

TEST_F(LoopTest, NeverAlignedKeepsTheLastVerdictWithoutAFinalAssessment) {
    settings.iterations = 2;
    script({"m1|d", "no:miss 1", "m2|d", "no: miss 2 "});
    Result r = go();
    EXPECT_EQ(llm.prompts(), (std::vector<std::string>{"GEN", "JUDGE:m1", "REALIGN:m1:miss 1", "JUDGE:m2"}));
    EXPECT_FALSE(r.aligned);
    EXPECT_TRUE(r.compiled);
    EXPECT_EQ(r.assessment, "miss 2");
    EXPECT_EQ(r.iterations, 2);
    EXPECT_EQ(llm.asked[2].second.step, Step::Realign);
}

TEST_F(LoopTest, DoesNotCompileAfterTheLastIterationAsksForTheFinalAssessment) {
    settings.iterations = 2;
    script({"m1|d", "m2\r\nx|d", "  assessed\n"}, {"model:1:1: first", "model:2:1: second"});
    Result r = go();
    EXPECT_EQ(llm.prompts(), (std::vector<std::string>{"GEN", "FIX:m1:model:1:1: first", "FINAL:m2\nx"}));
    EXPECT_EQ(llm.asked[1].second.step, Step::Repair);
    EXPECT_EQ(llm.asked[2].second.step, Step::Assess);
    EXPECT_FALSE(r.compiled);
    EXPECT_EQ(r.syntax_errors, (std::vector<std::string>{"model:2:1: second"}));
    EXPECT_EQ(steps.final_errors, r.syntax_errors);
    EXPECT_EQ(r.assessment, "assessed");
    EXPECT_EQ(r.pair.model, "m2\r\nx");  // as written; the prompt has it as the file reads back
    EXPECT_EQ(steps.written, (std::vector<std::string>{"m1", "m2\r\nx"}));
    EXPECT_EQ(progress.seen_errors, (std::vector<std::string>{"model:1:1: first", "model:2:1: second"}));
    EXPECT_EQ(progress.logs[2], "Semantic error in model: model:1:1: first");
}

TEST_F(LoopTest, AlignmentOffStopsAtTheFirstCompilingPairAndAssesses) {
    settings.alignment = false;
    script({"m1|d", ""});
    Result r = go();
    EXPECT_EQ(llm.prompts(), (std::vector<std::string>{"GEN", "FINAL:m1"}));
    EXPECT_TRUE(r.compiled && !r.aligned);
    EXPECT_EQ(r.assessment, "");  // an empty final assessment is no error
    EXPECT_TRUE(steps.final_errors.empty());
    EXPECT_EQ(progress.lines()[5], "Syntax OK; alignment check disabled. Stopping.");
}

TEST_F(LoopTest, RepairThenRealignThenAligned) {
    script({"m1|d", "m2|d", "no:no fixed cost", "m3|d", "yes:done"}, {"undeclared 'x'"});
    Result r = go();
    EXPECT_EQ(llm.prompts(), (std::vector<std::string>{"GEN", "FIX:m1:undeclared 'x'", "JUDGE:m2",
                                                       "REALIGN:m2:no fixed cost", "JUDGE:m3"}));
    EXPECT_EQ(r.iterations, 3);
    EXPECT_EQ(progress.logs, (std::vector<std::string>{
                                 "Iteration 1/5",
                                 "Model and data generated.",
                                 "Semantic error in model: undeclared 'x'",
                                 "Model or data has syntax errors; revising...",
                                 "Iteration 2/5",
                                 "Model and data generated.",
                                 "Checking alignment with original prompt...",
                                 "Model and data are syntactically valid but NOT aligned with the prompt. "
                                 "Assessment: no fixed cost",
                                 "Iteration 3/5",
                                 "Model and data generated.",
                                 "Checking alignment with original prompt...",
                                 "Model and data are syntactically valid and aligned with the prompt.",
                             }));
}

// ---------------------------------------------------------------- failures

TEST_F(LoopTest, AReplyPastTheLimitEndsTheRunUnread) {
    script({"m|d", std::string(kMaxReplyBytes + 1, 'x')});  // the alignment reply is the long one
    try {
        go();
        FAIL();
    } catch (const Failure& f) {
        EXPECT_EQ(f.kind(), Failure::Kind::UnreadableReply);
        EXPECT_EQ(f.message(), reply_too_long(kMaxReplyBytes + 1));
    }
    EXPECT_EQ(reply_too_long(20000000),
              "The LLM's reply has 20000000 bytes, more than the 16777216 a reply may have (the limit of a model or "
              "data text); it was not read.");
}

TEST_F(LoopTest, EmptyRepliesEndTheRun) {
    script({""});
    try {
        go();
        FAIL();
    } catch (const Failure& f) {
        EXPECT_EQ(f.kind(), Failure::Kind::EmptyReply);
        EXPECT_STREQ(f.what(), "Empty model response.");
    }
    script({"m|d", ""});
    EXPECT_THROW(
        {
            try {
                go();
            } catch (const Failure& f) {
                EXPECT_STREQ(f.what(), "Empty alignment response.");
                throw;
            }
        },
        Failure);
}

TEST_F(LoopTest, AnUnreadableReplyNamesTheReaderErrorAndTheReplyWithoutKeys) {
    settings.keys = {"sk-live-0123456789abcdef"};
    script({"no json here sk-live-0123456789abcdef"});
    try {
        go();
        FAIL();
    } catch (const Failure& f) {
        EXPECT_EQ(f.kind(), Failure::Kind::UnreadableReply);
        EXPECT_STREQ(f.what(), "Failed to parse model response as JSON: no bar\nResponse: no json here [key hidden]");
    }
    EXPECT_TRUE(compiler.compiled.empty() && steps.written.empty());
}

TEST_F(LoopTest, AnInvalidVerdictEndsTheRunAndAReaderErrorPropagates) {
    script({"m|d", "maybe"});
    try {
        go();
        FAIL();
    } catch (const Failure& f) {
        EXPECT_EQ(f.kind(), Failure::Kind::InvalidVerdict);
        EXPECT_STREQ(f.what(), "Invalid alignment response JSON: maybe");
    }
    script({"m|d", "throw"});
    EXPECT_THROW(go(), std::runtime_error);
}

// ------------------------------------------------------- the execution check

TEST_F(LoopTest, AFailedExecutionIsRevisedBeforeAlignment) {
    settings.execution_check = true;
    settings.time_limit_text = "7";
    script({"m1|d", "m2|d", "yes:fine"});
    executor.statuses = {"infeasible", "optimal"};
    Result r = go();
    EXPECT_EQ(llm.prompts(), (std::vector<std::string>{"GEN", "EXEC:m1:infeasible", "JUDGE:m2"}));
    EXPECT_EQ(llm.asked[1].second.step, Step::Execution);
    EXPECT_EQ(executor.solved, (std::vector<std::string>{"m1", "m2"}));  // the pair's own compile
    ASSERT_TRUE(r.execution.has_value());
    EXPECT_EQ(r.execution->verdict.status, "optimal");
    EXPECT_FALSE(r.execution_failed);
    std::vector<std::string> lines = progress.lines();
    EXPECT_EQ(lines[1], "Execution check on: every compiling model is solved (time limit 7 s)");
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "Execution check failed: the solver's verdict is infeasible; revising..."),
              lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Execution check passed: optimal, objective 4.0"), lines.end());
}

TEST_F(LoopTest, AnInfeasibleOrUnboundedVerdictIsRevisedToo) {
    settings.execution_check = true;
    script({"m1|d", "m2|d", "yes:fine"});
    executor.statuses = {"infeasible_or_unbounded", "optimal"};
    go();
    EXPECT_EQ(llm.prompts(), (std::vector<std::string>{"GEN", "EXEC:m1:infeasible_or_unbounded", "JUDGE:m2"}));
}

TEST_F(LoopTest, ATimeLimitGoesOnToTheAlignmentCheck) {
    settings.execution_check = true;
    script({"m1|d", "yes:ok"});
    executor.statuses = {"time_limit"};
    Result r = go();
    EXPECT_EQ(llm.prompts(), (std::vector<std::string>{"GEN", "JUDGE:m1"}));
    EXPECT_TRUE(r.aligned);
    EXPECT_EQ(progress.lines()[1], "Execution check on: every compiling model is solved (time limit none)");
    EXPECT_EQ(progress.events[progress.events.size() - 6].kind, EventKind::ExecutionInconclusive);
    EXPECT_NE(std::find(progress.lines().begin(), progress.lines().end(),
                        "Execution check: time_limit (objective none); not a fault of the model, going on"),
              progress.lines().end());
}

TEST_F(LoopTest, ExhaustedOnAFailedExecutionIsAssessedWithTheSolversVerdict) {
    settings.execution_check = true;
    settings.iterations = 1;
    script({"x\nneed: x >= 5;|d", "It cannot be solved."});
    executor.statuses = {"infeasible"};
    Result r = go();
    EXPECT_TRUE(r.compiled && r.execution_failed);
    EXPECT_EQ(llm.asked.back().second.step, Step::Assess);
    ASSERT_EQ(steps.final_errors.size(), 1u);
    EXPECT_EQ(steps.final_errors[0], solver_verdict_text(r.execution->verdict, "x\nneed: x >= 5;"));
    EXPECT_NE(steps.final_errors[0].find("need: x >= 5;"), std::string::npos);
    EXPECT_EQ(r.assessment, "It cannot be solved.");
}

TEST_F(LoopTest, TheOutcomeDescribesTheFinalPairOnly) {
    settings.execution_check = true;
    settings.iterations = 2;
    script({"m1|d", "no:no", "m2|d", "assessed"}, {"", "broken"});
    executor.statuses = {"optimal"};
    Result r = go();
    EXPECT_FALSE(r.execution.has_value());
    EXPECT_FALSE(r.compiled);
}

// --------------------------------------------------------------- requests

TEST_F(LoopTest, TemperaturesAndStopSequencesPerStep) {
    settings.iterations = 2;
    settings.temperature = 0.7;
    settings.stop = {"END"};
    script({"m1|d", "no:x", "m2|d", "final"}, {"", "e"});
    go();
    std::vector<std::optional<double>> temperatures;
    for (const auto& [prompt, options] : llm.asked) {
        temperatures.push_back(options.temperature);
        EXPECT_EQ(options.stop, settings.stop);
    }
    EXPECT_EQ(temperatures, (std::vector<std::optional<double>>{0.7, 0.0, 0.7, 0.2}));

    settings.temperature.reset();
    script({"m1|d", "no:x", "m2|d", "final"}, {"", "e"});
    llm.asked.clear();
    go();
    for (const auto& [prompt, options] : llm.asked) EXPECT_FALSE(options.temperature.has_value());
}

TEST_F(LoopTest, EveryRequestIsBetweenARequestAndAReplyEvent) {
    script({"m1|d", "yes:ok"});
    go();
    std::vector<EventKind> kinds = progress.kinds();
    std::vector<Step> steps_seen;
    for (size_t k = 0; k < kinds.size(); ++k) {
        if (kinds[k] != EventKind::Request) continue;
        ASSERT_EQ(kinds.at(k + 1), EventKind::Reply);
        steps_seen.push_back(*progress.events[k].step);
        EXPECT_EQ(progress.events[k].iteration, 1);
    }
    EXPECT_EQ(steps_seen, (std::vector<Step>{Step::Generate, Step::Align}));
}

TEST_F(LoopTest, ACancelledRunStopsBetweenSteps) {
    int asked = 0;
    settings.cancelled = [&] { return ++asked > 2; };  // after the first request and compile
    script({"m1|d", "yes:ok"});
    EXPECT_THROW(go(), Cancelled);
    EXPECT_EQ(llm.asked.size(), 1u);
    EXPECT_EQ(compiler.compiled.size(), 1u);
}

// --------------------------------------------------------------- feedback

TEST(Feedback, OneRequestAtJudgingTemperature) {
    ScriptedLlm llm;
    FakeSteps steps;
    RecordingProgress progress;
    llm.replies = {"{\"feedback\": \"ok\"}"};
    const Pair files{"m", "d", nullptr};
    workflow::Run judged;
    judged.temperature = 0.9;
    Attached value = feedback(judged, files, llm, steps, progress);
    EXPECT_EQ(dynamic_cast<const Kept*>(value.get())->model, "{\"feedback\": \"ok\"}");
    EXPECT_EQ(llm.asked.at(0).first, "FEEDBACK:m:d");  // the files' model, then their data
    EXPECT_EQ(llm.asked.at(0).second.temperature, 0.0);
    EXPECT_EQ(llm.asked.at(0).second.step, Step::Feedback);
    EXPECT_EQ(progress.lines(),
              (std::vector<std::string>{"Generating feedback from LLM", "Feedback received; parsing"}));

    llm.replies = {"plain prose"};
    try {
        feedback({}, files, llm, steps, progress);
        FAIL();
    } catch (const Failure& f) {
        EXPECT_STREQ(f.what(), "Failed to parse feedback response as JSON: Expecting value\nResponse: plain prose");
    }
    EXPECT_FALSE(llm.asked.at(1).second.temperature.has_value());
    llm.replies = {""};
    EXPECT_THROW(feedback({}, files, llm, steps, progress), Failure);
}

TEST(PromptRequests, NameTheirBuilderAndShowExamplesOnlyWhereAPairIsAskedFor) {
    for (Step step : {Step::Generate, Step::Repair, Step::Realign, Step::Execution})
        EXPECT_TRUE(prompt_request(step, {}).few_shots) << step_name(step);
    for (Step step : {Step::Align, Step::Assess, Step::Feedback, Step::Assumptions, Step::WhatIf})
        EXPECT_FALSE(prompt_request(step, {}).few_shots) << step_name(step);
    EXPECT_EQ(prompt_request(Step::Repair, {}).builder, "_build_revision_prompt_syntax");
    EXPECT_EQ(prompt_request(Step::Assess, {}).builder, "_build_final_assessment_prompt");
    EXPECT_EQ(prompt_request(Step::WhatIf, {"a"}).arguments.size(), 1u);
}

TEST(Trimmed, StripsTheHostsWhiteSpace) {
    EXPECT_EQ(trimmed("  a b \n"), "a b");
    EXPECT_EQ(trimmed("\u3000\u00a0x\u2003\u0085"), "x");
    EXPECT_EQ(trimmed(" \t\n"), "");
    EXPECT_EQ(trimmed("\xed\xa0\x80 "), "\xed\xa0\x80");  // a lone surrogate is no space
}

}  // namespace

// ------------------------------------------------------------ recording

namespace {

/// Reports usage for every request but the judge's.
struct CountingLlm : ScriptedLlm {
    Usage usage;
    std::string generate(const std::string& prompt, const RequestOptions& options) override {
        usage = options.step == Step::Align ? Usage{} : Usage{static_cast<long long>(prompt.size()), 7};
        return ScriptedLlm::generate(prompt, options);
    }
    Usage last_usage() override { return usage; }
};

}  // namespace

TEST(FinalSolve, TheExecutionChecksSolveComesFirstThenTheWhatIfSteps) {
    Result r;
    EXPECT_EQ(final_solve(r), nullptr);
    r.main_execution = ExecutionOutcome{};
    EXPECT_EQ(final_solve(r), &*r.main_execution);
    r.execution = ExecutionOutcome{};
    EXPECT_EQ(final_solve(r), &*r.execution);
}

TEST(CompileRefusals, ADiagnosedPairShowsTheReportElseWhatWasRaisedIsNamed) {
    CompileOutcome diagnosed = refused_compile(true, "SemanticError", "line 2: unknown set 'J'");
    EXPECT_FALSE(diagnosed.ok);
    EXPECT_TRUE(diagnosed.diagnosed);
    EXPECT_EQ(diagnosed.errors, (std::vector<std::string>{"line 2: unknown set 'J'"}));
    CompileOutcome failed = refused_compile(false, "RecursionError", "too deep");
    EXPECT_FALSE(failed.diagnosed);
    EXPECT_EQ(failed.errors, (std::vector<std::string>{"RecursionError: too deep"}));
}

TEST_F(LoopTest, ARecordingClientKeepsEveryExchangeWithItsStep) {
    CountingLlm counting;
    counting.replies = {"m1|d1", "m2|d2", "no:Off.", "m3|d3", "yes:Fine."};
    compiler.errors = {"bad", "", ""};
    std::filesystem::path folder = std::filesystem::temp_directory_path() / ("recording_" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    Transcript transcript(folder / "run" / "talk.jsonl");  // its folder is made with the first line
    settings.provider = "openai";
    settings.model = "gpt-5";
    settings.temperature = 0.5;
    Result r = generate(settings, Services{counting, compiler, executor, steps, progress}, &transcript);
    EXPECT_TRUE(r.aligned);
    auto recorded = [&] {
        std::vector<tarvok::json::Value> lines;
        std::ifstream in(transcript.file());
        for (std::string line; std::getline(in, line);) lines.push_back(tarvok::json::parse(line));
        return lines;
    };
    std::vector<std::string> steps_seen, replies;
    for (const tarvok::json::Value& e : recorded()) {
        steps_seen.push_back(e.find("step")->text());
        replies.push_back(e.find("reply")->text());
        EXPECT_EQ(e.find("provider")->text(), "openai");
        EXPECT_EQ(e.find("model")->text(), "gpt-5");
        EXPECT_GE(e.find("seconds")->number(), 0);
        if (steps_seen.back() == "align") {
            EXPECT_EQ(e.find("temperature")->number(), 0.0);
            EXPECT_TRUE(e.find("tokens_in")->is_null());
        } else {
            EXPECT_EQ(e.find("temperature")->number(), 0.5);
            EXPECT_EQ(e.find("tokens_in")->integer(), static_cast<long long>(e.find("prompt")->text().size()));
            EXPECT_EQ(e.find("tokens_out")->integer(), 7);
        }
    }
    EXPECT_EQ(steps_seen, (std::vector<std::string>{"generate", "repair", "align", "realign", "align"}));
    EXPECT_EQ(replies, (std::vector<std::string>{"m1|d1", "m2|d2", "no:Off.", "m3|d3", "yes:Fine."}));
    // A request that fails leaves no record.
    RecordingClient recorder(counting, transcript, "openai", "gpt-5");
    counting.replies.clear();
    EXPECT_THROW(recorder.generate("GEN", {}), std::runtime_error);
    EXPECT_EQ(recorded().size(), 5u);
    std::filesystem::remove_all(folder);
}

// ------------------------------------------------------ the assumptions step

namespace {

/// The loop's steps with the assumptions requests: "ASSUME:model" and
/// "WHATIF:model:kind:alternative"; alternatives are written by index.
struct AssumingSteps : FakeSteps {
    std::vector<std::pair<long long, std::string>> alternatives;
    std::string write_alternative(const Pair& pair, long long index) override {
        alternatives.emplace_back(index, pair.model);
        return "";
    }
};

/// Solves every pair to optimality; the objective is the number after 'm' in the model.
struct ObjectiveExecutor : Executor {
    std::vector<std::string> solved;
    ExecutionOutcome execute(const Pair& pair, const Attachment*) override {
        solved.push_back(pair.model);
        ExecutionOutcome out;
        out.verdict.status = "optimal";
        out.objective = std::stod(pair.model.substr(1));
        out.objective_text = pair.model.substr(1);
        if (pair.model.find("answer") != std::string::npos) out.answer = 1.5;
        return out;
    }
};

struct AssumptionsTest : LoopTest {
    AssumingSteps assuming;
    ObjectiveExecutor objectives;
    AssumptionsTest() {
        settings.alignment = false;
        settings.assumptions = true;
    }
    Result run_assuming() { return generate(settings, Services{llm, compiler, objectives, assuming, progress}); }
    std::vector<std::string> asked() const {
        std::vector<std::string> out;
        for (const auto& [prompt, options] : llm.asked) out.emplace_back(step_name(options.step));
        return out;
    }
};

const std::string kTwo =
    "Here they are:\n```json\n[{\"assumption\": \"off at start\", \"alternative\": \"on at start\", \"where\": "
    "[\"line 3\", 4], \"kind\": \"boundary_condition\"},\n {\"assumption\": \"cost\", \"alternative\": \"profit\", "
    "\"kind\": \"asked_quantity\"}]\n```";

}  // namespace

TEST_F(AssumptionsTest, NoAssumptionsListedLeavesTheAnswerAndAddsTheDataNumbers) {
    settings.what_if = true;
    settings.description = "Make at most 10 units.";
    script({"m7|cap = 10; cost = 35;", "FINAL", "[]"});
    Result r = run_assuming();
    EXPECT_EQ(asked(), (std::vector<std::string>{"generate", "assess", "assumptions"}));
    EXPECT_EQ(llm.prompts().back(), "ASSUME:m7");
    EXPECT_TRUE(r.assumptions_asked && r.compiled);
    EXPECT_TRUE(r.assumptions_failure.empty());
    // Nothing the LLM listed: nothing to explore, not even the main solve.
    EXPECT_TRUE(r.what_if.empty());
    EXPECT_FALSE(r.main_execution);
    ASSERT_EQ(r.assumptions.size(), 1u);
    EXPECT_EQ(r.assumptions[0].kind, "invented_data");
    EXPECT_NE(r.assumptions[0].assumption.find("35"), std::string::npos);
    EXPECT_EQ(r.assumptions[0].where, "data line 1: cap = 10; cost = 35;");
    EXPECT_EQ(progress.lines().at(progress.lines().size() - 2), "Assumptions listed: 0");
    EXPECT_EQ(progress.lines().back(), "Generation complete");
}

TEST_F(AssumptionsTest, SeveralAlternativesAreSolvedAndWrittenBesideTheMainPair) {
    settings.what_if = true;
    script({"m7|d", "FINAL", kTwo, "m9|d", "m8answer|d"});
    Result r = run_assuming();
    EXPECT_EQ(asked(), (std::vector<std::string>{"generate", "assess", "assumptions", "what_if", "what_if"}));
    EXPECT_EQ(llm.prompts()[3], "WHATIF:m7:boundary_condition:on at start");
    EXPECT_EQ(llm.prompts()[4], "WHATIF:m7:asked_quantity:profit");
    ASSERT_EQ(r.assumptions.size(), 2u);
    EXPECT_EQ(r.assumptions[0].where, "line 3, 4");
    EXPECT_EQ(r.assumptions[1].where, "");
    // The main pair is solved once for the table; each alternative once.
    EXPECT_EQ(objectives.solved, (std::vector<std::string>{"m7", "m9", "m8answer"}));
    ASSERT_TRUE(r.main_execution);
    EXPECT_EQ(r.main_execution->objective, 7.0);
    ASSERT_EQ(r.what_if.size(), 2u);
    EXPECT_EQ(r.what_if[0].index, 1);
    EXPECT_EQ(r.what_if[0].execution->objective, 9.0);
    EXPECT_EQ(r.what_if[1].assumption, 1u);
    EXPECT_EQ(r.what_if[1].execution->answer, 1.5);
    EXPECT_EQ(assuming.alternatives, (std::vector<std::pair<long long, std::string>>{{1, "m9"}, {2, "m8answer"}}));
    // The run's own pair is never replaced by an alternative.
    EXPECT_EQ(r.pair.model, "m7");
    EXPECT_EQ(assuming.written, (std::vector<std::string>{"m7"}));
    EXPECT_EQ(r.what_if_unexplored, 0);
    EXPECT_EQ(progress.lines()[progress.lines().size() - 2], "Alternative 2/2: optimal, objective 8answer");
}

TEST_F(AssumptionsTest, AReplyThatIsNoListIsReportedAndTheRunKeepsItsPair) {
    settings.what_if = true;
    for (const std::string& reply : std::vector<std::string>{"I think the model is fine.", "{\"assumptions\": 3}",
                                                             "[{\"alternative\": \"x\"}]", ""}) {
        llm.asked.clear();
        script({"m7|d", "FINAL", reply});
        Result r = run_assuming();
        EXPECT_TRUE(r.compiled);
        EXPECT_EQ(r.pair.model, "m7");
        EXPECT_TRUE(r.assumptions.empty());
        EXPECT_TRUE(r.what_if.empty());
        EXPECT_EQ(r.assumptions_failure.rfind("Invalid assumptions response JSON: ", 0), 0u) << reply;
        EXPECT_NE(r.assumptions_failure.find("\nResponse: " + reply), std::string::npos);
        EXPECT_EQ(asked().back(), "assumptions");
    }
    EXPECT_EQ(progress.kinds()[progress.kinds().size() - 2], EventKind::AssumptionsInvalid);
}

TEST_F(AssumptionsTest, AnAlternativeThatDoesNotCompileIsReportedAndTheNextIsStillTried) {
    settings.what_if = true;
    script({"m7|d", "FINAL", kTwo, "m9|d", "m8|d"}, {"", "bad alternative", ""});
    Result r = run_assuming();
    ASSERT_EQ(r.what_if.size(), 2u);
    // The one that changes the answer comes first, then the one that gave none.
    EXPECT_EQ(r.what_if[0].execution->objective, 8.0);
    EXPECT_FALSE(r.what_if[1].compiled);
    EXPECT_EQ(r.what_if[1].index, 1);
    EXPECT_EQ(r.what_if[1].errors, (std::vector<std::string>{"bad alternative"}));
    EXPECT_FALSE(r.what_if[1].execution);
    // Kept for a look, still beside the main pair, which stands with its answer.
    EXPECT_EQ(assuming.alternatives.size(), 2u);
    EXPECT_EQ(r.main_execution->objective, 7.0);
    EXPECT_TRUE(r.compiled);
    auto lines = progress.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Alternative 1/2 does not compile; the main answer stands"),
              lines.end());
}

TEST_F(AssumptionsTest, AReadingWithTheMainAnswerIsMarkedAndGoesLast) {
    settings.what_if = true;
    script({"m7|d", "FINAL", kTwo, "m7|d", "m9|d"});
    Result r = run_assuming();
    ASSERT_EQ(r.what_if.size(), 2u);
    EXPECT_EQ(r.what_if[0].index, 2);
    EXPECT_FALSE(r.what_if[0].same_answer);
    EXPECT_EQ(r.what_if[1].index, 1);
    EXPECT_TRUE(r.what_if[1].same_answer);

    ExecutionOutcome a, b;
    a.verdict.status = b.verdict.status = "optimal";
    a.objective = 7;
    b.objective = 7 + 1e-9;
    EXPECT_TRUE(same_answer(a, b));
    b.answer = 3;  // the answer, where there is one, is what is compared
    EXPECT_FALSE(same_answer(a, b));
    a.objective = b.objective = b.answer = std::nullopt;
    a.verdict.status = "infeasible";
    EXPECT_FALSE(same_answer(a, b));
    b.verdict.status = "infeasible";
    EXPECT_TRUE(same_answer(a, b));
}

TEST_F(AssumptionsTest, TheReadingsOfAGivenPair) {
    settings.what_if = true;
    script({kTwo, "m9|d", "m8|d"});
    Result r = readings(settings, Services{llm, compiler, objectives, assuming, progress}, Pair{"m7", "d", nullptr},
                        std::nullopt);
    EXPECT_EQ(asked(), (std::vector<std::string>{"assumptions", "what_if", "what_if"}));
    EXPECT_EQ(r.what_if.size(), 2u);
    EXPECT_TRUE(assuming.written.empty());  // the given pair is read, never written

    llm.asked.clear();
    script({"m5|d"});
    Assumption one{"cost", "profit", "", "interpretation"};
    r = readings(settings, Services{llm, compiler, objectives, assuming, progress}, Pair{"m7", "d", nullptr}, one);
    EXPECT_EQ(asked(), (std::vector<std::string>{"what_if"}));
    ASSERT_EQ(r.what_if.size(), 1u);
    EXPECT_EQ(r.what_if[0].execution->objective, 5.0);
    EXPECT_EQ(r.main_execution->objective, 7.0);
}

TEST_F(AssumptionsTest, AReplyWithoutAPairIsReportedAsTheAlternativesFault) {
    settings.what_if = true;
    script({"m7|d", "FINAL", kTwo, "no pair here", ""});
    Result r = run_assuming();
    ASSERT_EQ(r.what_if.size(), 2u);
    EXPECT_EQ(r.what_if[0].errors, (std::vector<std::string>{"the reply holds no model and data pair: no bar"}));
    EXPECT_EQ(r.what_if[1].errors,
              (std::vector<std::string>{"the reply holds no model and data pair: the reply is empty"}));
    EXPECT_TRUE(assuming.alternatives.empty());
}

TEST_F(AssumptionsTest, TheBudgetBoundsTheWhatIfRequests) {
    settings.what_if = true;
    settings.what_if_max = 1;
    script({"m7|d", "FINAL", kTwo, "m9|d"});
    Result r = run_assuming();
    EXPECT_EQ(asked(), (std::vector<std::string>{"generate", "assess", "assumptions", "what_if"}));
    EXPECT_EQ(r.what_if.size(), 1u);
    EXPECT_EQ(r.what_if_unexplored, 1);
    EXPECT_EQ(progress.lines()[progress.lines().size() - 2],
              "What-if budget reached (1 requests); 1 alternatives not explored");
    settings.what_if_max = 0;
    script({"m7|d", "FINAL", kTwo});
    r = run_assuming();
    EXPECT_TRUE(r.what_if.empty());
    EXPECT_EQ(r.what_if_unexplored, 2);
}

TEST_F(AssumptionsTest, TakenOnlyForAFinalPairThatCompilesAndSolves) {
    // Without what-if nothing is solved; a pair that never compiles is not examined.
    script({"m7|d", "FINAL", kTwo});
    Result r = run_assuming();
    EXPECT_EQ(r.assumptions.size(), 2u);
    EXPECT_TRUE(objectives.solved.empty() && r.what_if.empty());

    settings.iterations = 1;
    script({"m7|d", "FINAL"}, {"broken"});
    r = run_assuming();
    EXPECT_FALSE(r.assumptions_asked);
    EXPECT_EQ(asked().back(), "assess");

    // With the execution check, its solve of the final pair is the main answer, and one
    // that found the pair infeasible ends the run without the step.
    settings.execution_check = true;
    settings.what_if = true;
    script({"m7|d", "FINAL", kTwo, "m9|d", "m8|d"});
    r = run_assuming();
    EXPECT_EQ(objectives.solved, (std::vector<std::string>{"m7", "m9", "m8"}));
    EXPECT_EQ(r.main_execution->objective, 7.0);
    llm.asked.clear();
    script({"m7|d", "FINAL"});
    executor.statuses = {"infeasible"};
    r = generate(settings, Services{llm, compiler, executor, assuming, progress});
    EXPECT_FALSE(r.assumptions_asked);
}

TEST_F(AssumptionsTest, AnAskedQuantityThatKeepsTheObjectiveBecomesTheFinalPair) {
    settings.what_if = true;
    // "m7answer" solves to 7 with an answer; "m9answer" changes the objective and is only a reading.
    const std::string asked = "[{\"assumption\": \"cost\", \"alternative\": \"profit\", \"kind\": \"asked_quantity\"}]";
    script({"m7|d", "FINAL", asked, "m7answer|d"});
    Result r = run_assuming();
    ASSERT_EQ(r.what_if.size(), 1u);
    EXPECT_TRUE(r.what_if[0].adopted);
    EXPECT_EQ(r.pair.model, "m7answer");
    EXPECT_EQ(assuming.written, (std::vector<std::string>{"m7", "m7answer"}));
    EXPECT_EQ(r.main_execution->answer, 1.5);
    EXPECT_EQ(r.compiled_model.get(), compiler.last.get());

    script({"m7|d", "FINAL", asked, "m9answer|d"});
    r = run_assuming();
    EXPECT_FALSE(r.what_if[0].adopted);
    EXPECT_EQ(r.pair.model, "m7");
    EXPECT_FALSE(r.main_execution->answer);
}

TEST(AlternativePaths, TheIndexGoesBeforeTheLastExtension) {
    EXPECT_EQ(alternative_path("plan.mod", 1), "plan.alt1.mod");
    EXPECT_EQ(alternative_path("out/v1.2/plan.dat", 12), "out/v1.2/plan.alt12.dat");
    EXPECT_EQ(alternative_path("out.d/plan", 2), "out.d/plan.alt2");
    EXPECT_EQ(alternative_path("dir/.hidden", 3), "dir/.hidden.alt3");
    EXPECT_EQ(alternative_path("a.b.mod", 1), "a.b.alt1.mod");
}
