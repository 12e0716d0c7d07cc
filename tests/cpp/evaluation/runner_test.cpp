#include "evaluation/runner.hpp"

#include <gtest/gtest.h>

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
}

TEST(CommandOptions, ReplayAndProviderMustAgree) {
    CommandOptions o = usable();
    o.replay = "talks";
    o.replay_exists = true;
    o.provider = " OpenAI";
    o.provider_key = "openai";
    EXPECT_EQ(command_option_fault(o), "--replay answers requests itself; it cannot go with --provider  OpenAI");
    o.provider = "Replay";
    o.provider_key = "replay";
    EXPECT_FALSE(command_option_fault(o));
    o.replay_exists = false;
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
}

namespace {

/// Samples answered from a script, recording what the runner asked.
class ScriptedSamples : public SampleRunner {
  public:
    explicit ScriptedSamples(std::vector<SampleOutcome> script) : script_(std::move(script)) {}
    SampleOutcome generate(const std::string& folder) override {
        folders.push_back(folder);
        return script_.at(folders.size() - 1);
    }
    void progress(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> folders, lines;

  private:
    std::vector<SampleOutcome> script_;
};

SampleOutcome optimal(double objective, long long repairs = 0) { return {false, false, "optimal", objective, repairs}; }

}  // namespace

TEST(Samples, RunStopsAtAProviderErrorAndNamesEachSample) {
    ScriptedSamples one({optimal(1)});
    EXPECT_EQ(run_samples(1, one).size(), 1u);
    EXPECT_TRUE(one.lines.empty());  // a single sample says nothing of samples

    ScriptedSamples failing({optimal(1), {true, true, {}, {}, {}}, optimal(1)});
    std::vector<SampleOutcome> got = run_samples(3, failing);
    EXPECT_EQ(got.size(), 2u);
    EXPECT_EQ(failing.folders, (std::vector<std::string>{"", "sample-2"}));
    EXPECT_EQ(failing.lines, (std::vector<std::string>{"Sample 1/3", "Sample 2/3"}));
}

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
    auto number = [](double v) { return std::to_string(static_cast<int>(v)) + ".0"; };
    EXPECT_EQ(tally.finished_line(r, number), "[1/2] p: correct (optimal, objective 10.0); accuracy so far 1/1");

    Record failed;
    failed.id = "q";
    failed.repeat = 2;
    failed.compiled = false;
    tally.finish(failed);
    EXPECT_EQ(tally.finished_line(failed, number).substr(0, 7), "[2/2] q");
    EXPECT_NE(tally.finished_line(failed, number).find("(not compiled); accuracy so far 1/1"), std::string::npos);
}
