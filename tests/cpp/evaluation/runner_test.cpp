#include "evaluation/runner.hpp"

#include "common/files.hpp"
#include "evaluation/settings.hpp"
#include "evaluation/work_queue.hpp"
#include "scratch_folder.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace tarvok::evaluation;

namespace {

CommandOptions usable() {
    CommandOptions o;
    o.counts = {{"--jobs", 1}, {"--limit", std::nullopt}};
    o.provider_choices = "openai, google, ollama or replay";
    return o;
}

}  // namespace

TEST(CommandOptions, TheFirstFaultInCheckingOrderIsTheOneReported) {
    EXPECT_FALSE(command_option_fault(usable()));

    CommandOptions o = usable();
    o.counts = {{"--jobs", 0}, {"--limit", -3}};
    o.rel_tol = -1;
    EXPECT_EQ(command_option_fault(o), "--jobs must be at least 1");  // before the tolerance
    o.counts = {};
    EXPECT_EQ(command_option_fault(o), "--rel-tol must be at least 0");
    o.rel_tol = std::numeric_limits<double>::infinity();
    EXPECT_EQ(command_option_fault(o), "--rel-tol must be at least 0");
    o.rel_tol = 0;
    o.timeout = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(command_option_fault(o), "--timeout must be a positive number");
    o.timeout = 0;
    EXPECT_EQ(command_option_fault(o), "--timeout must be a positive number");

    CommandOptions fields = usable();
    fields.fields = {{"question", "q"}, {"answer", ""}};
    EXPECT_EQ(command_option_fault(fields), "--field-answer must name a field");
    fields.stop_after_errors = -1;
    EXPECT_EQ(command_option_fault(fields), "--stop-after-errors must be at least 0");
    fields.stop_after_errors = 0;
    fields.what_if_max = -1;
    EXPECT_EQ(command_option_fault(fields), "--what-if-max must be at least 0");
}

TEST(CommandOptions, ReplayAndProviderMustAgree) {
    CommandOptions o = usable();
    o.replay = "talks";
    o.provider = " OpenAI";
    o.provider_key = "openai";
    EXPECT_EQ(command_option_fault(o), "--replay answers requests itself; it cannot go with --provider  OpenAI");
    o.provider = "Replay";
    o.provider_key = "replay";
    EXPECT_FALSE(command_option_fault(o));
    o.replay_refusal = "replay path not found: talks";
    EXPECT_EQ(command_option_fault(o), "replay path not found: talks");

    CommandOptions named = usable();
    named.provider = named.provider_key = "replay";
    EXPECT_EQ(command_option_fault(named), "--provider replay needs --replay PATH (a transcript or a folder of them)");
    named.replay_configured = true;  // the library's own setting answers
    EXPECT_FALSE(command_option_fault(named));

    CommandOptions unknown = usable();
    unknown.provider = unknown.provider_key = "acme";
    unknown.provider_known = false;
    EXPECT_EQ(command_option_fault(unknown), "unknown provider 'acme' (choose openai, google, ollama or replay)");
}

TEST(Problems, LimitCutsBeforeRepeatsAndEachRepeatHasItsFolder) {
    std::vector<Problem> problems(3);
    for (int i = 0; i < 3; ++i) problems[i].id = problems[i].folder = "p" + std::to_string(i);
    cut_and_repeat(problems, 2, 3);
    ASSERT_EQ(problems.size(), 6u);
    EXPECT_EQ(problems[1].id, "p1");
    EXPECT_EQ(problems[2].id, "p0");  // every problem once before a second run
    EXPECT_EQ(problems[2].repeat, 2);
    EXPECT_EQ(problem_folder(problems[0]), "p0");
    EXPECT_EQ(problem_folder(problems[5]), "p1/repeat-3");
    EXPECT_EQ(sample_folder(1), "");
    EXPECT_EQ(sample_folder(4), "sample-4");

    std::vector<Problem> few(1);
    cut_and_repeat(few, 5, 1);
    EXPECT_EQ(few.size(), 1u);

    EXPECT_EQ(bad_record_line("set.jsonl", {4, 9, "no question"}),
              "tarvok eval: skipped record 4 (line 9) of set.jsonl: no question");
    EXPECT_EQ(bad_record_line("set.csv", {2, 0, "x"}), "tarvok eval: skipped record 2 of set.csv: x");
}

TEST(Problems, CutTextKeepsWholeCharacters) {
    EXPECT_EQ(cut_text("short", 10), "short");
    EXPECT_EQ(cut_text("abc\xC3\xA9z", 4), "abc...");  // é would be split at byte 4
    EXPECT_EQ(cut_text("abcdef", 3), "abc...");
    EXPECT_EQ(raised_text("KeyError", ""), "KeyError");
    EXPECT_EQ(raised_text("RuntimeError", std::string(5000, 'x')).size(), 4003u);
}

namespace {

SampleOutcome optimal(double objective, long long repairs = 0) { return {false, false, "optimal", objective, repairs}; }

}  // namespace

TEST(Samples, PickPrefersProviderErrorsThenTheVoteThenTheLastThatDidNotRaise) {
    SampleOutcome raised{true, false, {}, {}, {}};
    SampleOutcome down{true, true, {}, {}, {}};
    EXPECT_EQ(pick_sample({optimal(5), down, optimal(5)}, 1e-4).index, 1u);

    SamplePick voted = pick_sample({optimal(7), optimal(5, 2), optimal(5, 1)}, 1e-4);
    EXPECT_EQ(voted.index, 2u);  // the agreeing pair, fewer repairs
    EXPECT_NEAR(voted.confidence, 2.0 / 3, 1e-12);

    SampleOutcome infeasible{false, false, "infeasible", std::nullopt, 0};
    SampleOutcome raised_optimal{true, false, "optimal", 3.0, 0};  // raised after solving: no answer
    EXPECT_EQ(pick_sample({infeasible, raised, raised_optimal}, 1e-4).index, 0u);
    EXPECT_EQ(pick_sample({raised, raised}, 1e-4).index, 1u);
}

TEST(RunTally, CountsReusedRecordsAndStopsWhenTheFirstProblemsMeetProviderErrors) {
    Record reused;
    reused.id = "a";
    reused.expected = 1;
    reused.correct = true;
    RunTally tally({{"a", reused}}, 4, 2);
    EXPECT_EQ(tally.done(), 1u);
    EXPECT_EQ(tally.correct(), 1u);

    Record down;
    down.id = "b";
    down.error = "ConnectionError: refused\nmore";
    down.provider_error = true;
    EXPECT_FALSE(tally.finish(down));
    down.id = "c";
    std::optional<std::string> stop = tally.finish(down);
    ASSERT_TRUE(stop);
    EXPECT_EQ(*stop,
              "the first 2 problems failed with provider errors (the last: ConnectionError: refused); stopped; a "
              "run with the same --out tries them again");
    EXPECT_EQ(tally.records().size(), 3u);
    EXPECT_EQ(tally.done(), 3u);

    RunTally never({}, 2, 0);
    EXPECT_FALSE(never.finish(down));
}

TEST(RunTally, FinishedLineTellsTheOutcomeAndTheAccuracySoFar) {
    RunTally tally({}, 2, 3);
    Record r;
    r.id = "p";
    r.expected = 10;
    r.status = "optimal";
    r.objective = 10;
    r.correct = true;
    tally.finish(r);
    EXPECT_EQ(tally.finished_line(r), "[1/2] p: correct (optimal, objective 10.0); accuracy so far 1/1");

    Record failed;
    failed.id = "q";
    failed.repeat = 2;
    failed.compiled = false;
    tally.finish(failed);
    EXPECT_EQ(tally.finished_line(failed).substr(0, 7), "[2/2] q");
    EXPECT_NE(tally.finished_line(failed).find("(not compiled); accuracy so far 1/1"), std::string::npos);
}

namespace {

/// A host whose workers finish the problems in a scripted order, each with
/// a scripted record, then die (a worker's failure) when the script runs
/// out; it keeps what the run asked of it.
class ScriptedRun final : public RunHost {
  public:
    std::vector<Finished> script;
    std::vector<std::string> calls;
    bool bar = true;

    void write(bool, const std::string& line) override { calls.push_back("tell " + line); }
    std::string check_provider(const Settings&) override { return "openai"; }
    void check_solver(const std::string&) override {}
    void start(const std::shared_ptr<WorkQueue>& queue, const WorkerPlan& workers, const RunTally&) override {
        calls.push_back("start " + std::to_string(workers.problems.size()));
        for (const Finished& f : script) queue->put(f.index, f.record);
        if (script.size() < workers.problems.size()) queue->fail(std::make_exception_ptr(std::runtime_error("died")));
        for (std::size_t i = 0; i < workers.names.size(); ++i) queue->worker_ended();
    }
    bool show(const RunTally& tally, bool closing) override {
        calls.push_back(closing ? "close" : "show " + std::to_string(tally.done()));
        return bar;
    }
};

Finished answered(std::size_t index, double objective) {
    Finished f{index, {}};
    f.record.status = "optimal";
    f.record.objective = objective;
    f.record.compiled = true;
    return f;
}

Finished provider_down(std::size_t index) {
    Finished f{index, {}};
    f.record.error = "ConnectionError: refused";
    f.record.provider_error = true;
    return f;
}

std::vector<Problem> three_problems() {
    std::vector<Problem> out;
    for (const char* id : {"a", "b", "c"}) {
        Problem p;
        p.id = p.folder = id;
        p.description = "d";
        p.expected = 10;
        p.question_hash = std::string("hash-") + id;
        out.push_back(p);
    }
    return out;
}

using RunProblems = tarvok::testing::ScratchFolder;

/// The lines of results.jsonl as the run left them.
std::vector<std::string> lines_of(const std::string& bytes) {
    std::vector<std::string> out;
    for (std::size_t at = 0; at < bytes.size();) {
        std::size_t end = bytes.find('\n', at);
        out.push_back(bytes.substr(at, end - at));
        at = end == std::string::npos ? bytes.size() : end + 1;
    }
    return out;
}

}  // namespace

TEST_F(RunProblems, JudgesStampsAndAppendsEachRecordAsItArrivesThenWritesTheSummary) {
    std::vector<Problem> problems = three_problems();
    Record kept;  // reused, but judged against another reference before
    kept.id = "a";
    kept.status = "optimal";
    kept.objective = 10;
    kept.expected = 11;
    ResumePlan resume = plan_resume(problems, {{"a", kept}}, RunKey{"openai", "m", 2}, 1e-4, false);
    ASSERT_EQ(resume.rejudged, std::vector<std::string>{"a"});
    RunPlan plan{&problems, &resume, RunKey{"openai", "m", 2}, {}, 1, 1e-4, 3, false};
    plan.folder = root_;
    plan.progress = true;
    write(kResultsFile, "{\"id\": \"a\", \"cut");  // a line cut off by a kill
    ScriptedRun host;
    host.script = {answered(1, 10), answered(0, 9)};  // "c" finishes first, wrongly

    std::shared_ptr<WorkQueue> queue;
    RunOutcome out = run_problems(host, plan, queue, nullptr);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"start 2", "show 2", "show 3", "close"}));
    std::vector<std::string> lines = lines_of(read(root_ / kResultsFile));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "{\"id\": \"a\", \"cut");  // ended, and left as it was
    EXPECT_NE(lines[1].find("\"id\": \"a\", \"expected\": 10"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("\"id\": \"c\""), std::string::npos);
    EXPECT_NE(lines[2].find("\"question_sha256\": \"hash-c\", \"run\": {\"provider\": \"openai\""), std::string::npos);
    EXPECT_FALSE(out.records.at("b").correct);
    EXPECT_TRUE(out.records.at("c").correct && out.records.at("a").correct);
    EXPECT_EQ(out.summary.correct, 2u);
    EXPECT_EQ(out.summary.skipped_records, 1u);
    EXPECT_EQ(read(root_ / kSummaryFile), out.summary_text);
    EXPECT_FALSE(out.provider_down);
}

TEST_F(RunProblems, StopsWhenTheProviderIsDownAndWritesTheSummaryWhateverEndsTheRun) {
    std::vector<Problem> problems = three_problems();
    ResumePlan resume = plan_resume(problems, {}, RunKey{}, 1e-4, false);
    RunPlan plan{&problems, &resume, RunKey{}, {}, 0, 1e-4, 2, true};
    plan.folder = root_ / "down";
    plan.progress = true;
    std::shared_ptr<WorkQueue> queue;
    std::filesystem::create_directory(plan.folder);
    ScriptedRun down;
    down.script = {provider_down(0), provider_down(1), answered(2, 10)};
    down.bar = false;  // a line for each finished problem
    RunOutcome out = run_problems(down, plan, queue, nullptr);
    ASSERT_TRUE(out.provider_down);
    EXPECT_TRUE(queue->stopping());
    ASSERT_EQ(down.calls.size(), 6u);
    EXPECT_EQ(down.calls[2].substr(0, 17), "tell [1/3] a: pro");
    EXPECT_EQ(down.calls.back(), "close");
    EXPECT_EQ(lines_of(read(plan.folder / kResultsFile)).size(), 2u);  // "c" is not waited for
    EXPECT_EQ(out.summary.provider_errors, 2u);

    plan.folder = root_;
    ScriptedRun failing;  // a worker's failure: the summary of what finished, then the failure
    failing.script = {answered(0, 10)};
    EXPECT_THROW(run_problems(failing, plan, queue, nullptr), std::runtime_error);
    EXPECT_EQ(failing.calls, (std::vector<std::string>{"start 3", "show 1", "close"}));
    EXPECT_TRUE(queue->stopping());
    std::string summary = read(root_ / kSummaryFile);
    EXPECT_NE(summary.find("\"correct\": 1"), std::string::npos) << summary;

    std::filesystem::remove(root_ / kSummaryFile);
    std::filesystem::create_directories(root_ / kSummaryFile / "x");  // a folder at the summary's name: said so
    ScriptedRun blocked;
    blocked.script = {answered(0, 10), answered(1, 10), answered(2, 10)};
    EXPECT_THROW(run_problems(blocked, plan, queue, nullptr), tarvok::files::FileError);
}

TEST_F(RunProblems, WithItsProgressShownARunTellsItsStartBeforeAnyWorkerStarts) {
    std::vector<Problem> problems = three_problems();
    Record kept;
    kept.id = "a";
    kept.status = "optimal";
    kept.objective = 10;
    ResumePlan resume = plan_resume(problems, {{"a", kept}}, RunKey{}, 1e-4, false);
    std::vector<BadRecord> bad = {{4, 5, "no description"}};
    RunPlan plan{&problems, &resume, RunKey{}, {}, 1, 1e-4, 3, true, StartFacts{3, "set.jsonl", "m", "out/r.jsonl"},
                 &bad,      root_};
    ScriptedRun host;
    host.script = {answered(0, 10), answered(1, 10)};
    std::shared_ptr<WorkQueue> queue;
    run_problems(host, plan, queue, nullptr);
    ASSERT_GE(host.calls.size(), 3u);
    EXPECT_EQ(host.calls[0], "tell " + bad_record_line("set.jsonl", bad[0]));
    EXPECT_EQ(host.calls[1], "tell tarvok eval: 3 problems from set.jsonl, model m; 1 already recorded in out/r.jsonl");
    EXPECT_EQ(host.calls[2], "start 2");
}
