#include "evaluation/command_run.hpp"

#include "common/interrupt.hpp"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

using namespace tarvok::evaluation;
using tarvok::ExitStatus;

namespace {

/// The host's own kind of error, which a step throws as StepError.
struct HostError {
    std::string text;
};

/// A host whose steps record their order and throw what a test arms them with.
class FakeHost final : public CommandHost {
  public:
    std::vector<std::string> log;
    /// What a step or call throws, by its name: what it raised, or (none) Ctrl-C.
    std::map<std::string, std::optional<std::pair<Raised, std::string>>> throws;
    Dataset data;
    RunOutcome out;
    std::size_t still_running = 0;

    CommandNames make_settings() override {
        step("settings");
        return {"set.jsonl", "out", "out/results.jsonl", "out/summary.json"};
    }
    const Dataset& load_dataset() override { return step("dataset"), data; }
    void check_provider() override { step("provider"); }
    void check_solver() override { step("solver"); }
    void prepare() override { step("prepare"); }
    const RunOutcome& run() override { return step("run"), out; }
    void say(const std::string& text) override { log.push_back("say " + text); }
    void tell(const std::string& line) override { log.push_back("tell " + line); }
    std::size_t running() override { return still_running; }
    void join() override { step("join"); }
    void quit(ExitStatus) override { log.push_back("quit"); }

  private:
    void step(const std::string& name) {
        log.push_back(name);
        auto armed = throws.find(name);
        if (armed == throws.end()) return;
        if (!armed->second) throw tarvok::Interrupted{};
        auto [kind, text] = *armed->second;
        throw StepError{kind, text, std::make_exception_ptr(HostError{text})};
    }
};

CommandOptions usable() {
    CommandOptions o;
    o.provider_choices = "openai or replay";
    return o;
}

FakeHost with_problem() {
    FakeHost host;
    host.data.problems.push_back(Problem{.id = "p"});
    return host;
}

}  // namespace

TEST(EvalCommand, RefusedOptionsRunNoStep) {
    FakeHost host;
    CommandOptions o = usable();
    o.rel_tol = -1;
    EXPECT_EQ(run_command(host, o, false), 2);
    EXPECT_EQ(host.log, std::vector<std::string>{"tell tarvok eval: --rel-tol must be at least 0"});
    EXPECT_EQ(run_command(host, o, true), 2);  // with --json, an object on stdout
    EXPECT_EQ(host.log.back(), "say {\"error\": \"--rel-tol must be at least 0\", \"status\": 2}\n");
}

TEST(EvalCommand, EachStepsFailureEndsTheCommandWithItsStatus) {
    FakeHost host = with_problem();
    host.throws["provider"] = std::pair{Raised::Other, std::string("OPENAI_API_KEY environment variable not set.")};
    EXPECT_EQ(run_command(host, usable(), false), 5);
    EXPECT_EQ(host.log, (std::vector<std::string>{"settings", "dataset", "provider",
                                                  "tell tarvok eval: OPENAI_API_KEY environment variable not set."}));

    FakeHost writing = with_problem();
    writing.throws["run"] = std::pair{Raised::OS, std::string("disk full")};
    EXPECT_EQ(run_command(writing, usable(), false), 2);
    EXPECT_EQ(writing.log.back(), "tell tarvok eval: " + cannot_write("out", "disk full"));

    FakeHost down = with_problem();
    down.out.provider_down = "the first 3 problems failed";
    EXPECT_EQ(run_command(down, usable(), false), 5);
    EXPECT_EQ(down.log.back(), "tell tarvok eval: the first 3 problems failed");

    FakeHost empty;
    empty.data.bad.push_back({1, 1, "'description' is not a text"});
    EXPECT_EQ(run_command(empty, usable(), false), 2);
    EXPECT_EQ(empty.log, (std::vector<std::string>{"settings", "dataset",
                                                   "tell " + bad_record_line("set.jsonl", empty.data.bad[0]),
                                                   "tell tarvok eval: no usable problem in set.jsonl"}));

    // What the command does not turn into a failure goes on to the caller.
    FakeHost solver = with_problem();
    solver.throws["solver"] = std::pair{Raised::Runtime, std::string("odd")};
    EXPECT_THROW(run_command(solver, usable(), false), HostError);
    FakeHost other = with_problem();
    other.throws["settings"] =
        std::pair{Raised::Value, std::string("bad")};  // without --replay no settings fault is the user's
    EXPECT_THROW(run_command(other, usable(), false), HostError);
}

TEST(EvalCommand, AFinishedRunPrintsItsSummaryAndWhereItIs) {
    FakeHost host = with_problem();
    host.out.summary_text = "{\"total\": 1}";
    EXPECT_EQ(run_command(host, usable(), true), 0);
    ASSERT_EQ(host.log.size(), 8u);
    EXPECT_EQ(host.log[6], "say {\"total\": 1}");
    EXPECT_EQ(host.log[7], "tell " + results_line("out/results.jsonl", "out/summary.json"));
}

TEST(EvalCommand, AnInterruptWaitsForTheRunningProblemsAndASecondQuits) {
    FakeHost host = with_problem();
    host.throws["run"] = std::nullopt;
    host.still_running = 2;
    EXPECT_EQ(run_command(host, usable(), false), 130);
    EXPECT_EQ(std::vector<std::string>(host.log.end() - 3, host.log.end()),
              (std::vector<std::string>{"tell " + std::string(kInterruptedLine), "tell " + stopping_line(2), "join"}));

    FakeHost twice = with_problem();
    twice.throws["run"] = twice.throws["join"] = std::nullopt;
    EXPECT_EQ(run_command(twice, usable(), false), 130);
    EXPECT_EQ(twice.log.back(), "quit");
    EXPECT_EQ(twice.log.end()[-2], "join");  // none running: nothing to tell
}
