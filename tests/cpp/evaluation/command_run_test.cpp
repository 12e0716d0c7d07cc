#include "evaluation/command_run.hpp"

#include "common/interrupt.hpp"
#include "scratch_folder.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

using namespace tarvok::evaluation;

namespace {

/// The host's own kind of error, which a step throws as StepError.
struct HostError {
    std::string text;
};

StepError raised(Raised kind, const std::string& text) {
    return {kind, text, std::make_exception_ptr(HostError{text})};
}

/// A host whose checks record their order and throw what a test arms them
/// with, and whose workers finish every problem with a scripted record.
class FakeHost final : public RunHost {
  public:
    std::vector<std::string> log;
    /// What a step throws, by its name: what it raised, or (none) Ctrl-C.
    std::map<std::string, std::optional<std::pair<Raised, std::string>>> throws;
    RunConfig config;
    Record record;
    bool end_workers = true;
    std::size_t finish = 1000;  ///< problems its workers finish
    std::shared_ptr<WorkQueue> queue;

    void write(bool error, const std::string& text) override { log.push_back((error ? "tell " : "say ") + text); }
    std::string check_provider(const Settings&) override { return step("provider"), "openai"; }
    void check_solver(const std::string&) override { step("solver"); }
    void start(const std::shared_ptr<WorkQueue>& q, const WorkerPlan& workers, const RunTally&) override {
        step("start");
        queue = q;
        for (std::size_t i = 0; i < workers.problems.size() && i < finish; ++i) q->put(i, record);
        if (end_workers) q->worker_ended();
    }
    bool show(const RunTally&, bool) override { return true; }

  private:
    void step(const std::string& name) {
        log.push_back(name);
        auto armed = throws.find(name);
        if (armed == throws.end()) return;
        if (!armed->second) throw tarvok::Interrupted{};
        auto [kind, text] = *armed->second;
        throw raised(kind, text);
    }
};

CommandOptions usable() {
    CommandOptions o;
    o.provider_choices = "openai or replay";
    return o;
}

class EvalCommand : public tarvok::testing::ScratchFolder {
  protected:
    /// A host whose run reads `records` (JSON Lines) into the folder "out".
    FakeHost host(const std::string& records = "{\"id\": \"p\", \"description\": \"d\", \"objective\": 1}\n") {
        FakeHost h;
        h.config.dataset = write("set.jsonl", records);
        h.config.dataset_name = "set.jsonl";
        h.config.out_dir = root_ / "out";
        h.config.out_name = "out";
        h.config.results_name = "out/results.jsonl";
        h.config.summary_name = "out/summary.json";
        h.config.model = "m";
        h.config.progress = false;
        h.record.status = "optimal";
        h.record.objective = 1;
        return h;
    }
};

}  // namespace

TEST_F(EvalCommand, RefusedOptionsRunNoStepAndComeBeforeASettingsError) {
    FakeHost h = host();
    CommandOptions o = usable();
    o.rel_tol = -1;
    EXPECT_EQ(run_command(h, o, std::make_exception_ptr(raised(Raised::Other, "bad")), false, nullptr).status, 2);
    EXPECT_EQ(h.log, std::vector<std::string>{"tell tarvok eval: --rel-tol must be at least 0"});
    EXPECT_EQ(run_command(h, o, h.config, true, nullptr).status, 2);  // with --json, an object on stdout
    EXPECT_EQ(h.log.back(), "say {\"error\": \"--rel-tol must be at least 0\", \"status\": 2}\n");
}

TEST_F(EvalCommand, EachStepsFailureEndsTheCommandWithItsStatus) {
    FakeHost h = host();
    h.throws["provider"] = std::pair{Raised::Other, std::string("OPENAI_API_KEY environment variable not set.")};
    EXPECT_EQ(run_command(h, usable(), h.config, false, nullptr).status, 5);
    EXPECT_EQ(h.log,
              (std::vector<std::string>{"provider", "tell tarvok eval: OPENAI_API_KEY environment variable not set."}));
    EXPECT_FALSE(std::filesystem::exists(root_ / "out"));  // nothing written before the checks pass

    FakeHost writing = host();
    writing.throws["start"] = std::pair{Raised::OS, std::string("disk full")};
    EXPECT_EQ(run_command(writing, usable(), writing.config, false, nullptr).status, 2);
    EXPECT_EQ(writing.log.back(), "tell tarvok eval: " + cannot_write("out", "disk full"));

    FakeHost down = host();
    down.config.stop_after_errors = 1;
    down.record.error = "ConnectionError: refused";
    down.record.provider_error = true;
    EXPECT_EQ(run_command(down, usable(), down.config, false, nullptr).status, 5);
    EXPECT_NE(down.log.back().find("the first 1 problems failed with provider errors"), std::string::npos);

    FakeHost empty = host("{\"objective\": 1}\n");
    EXPECT_EQ(run_command(empty, usable(), empty.config, false, nullptr).status, 2);
    ASSERT_EQ(empty.log.size(), 2u);
    EXPECT_EQ(empty.log[0].substr(0, 38), "tell tarvok eval: skipped record 1 (li");
    EXPECT_EQ(empty.log[1], "tell tarvok eval: no usable problem in set.jsonl");

    FakeHost missing = host();  // the cores' errors are told as the host says them
    missing.config.dataset = root_ / "none.jsonl";
    EXPECT_EQ(run_command(missing, usable(), missing.config, false, nullptr).status, 2);
    EXPECT_EQ(missing.log.back(),
              "tell tarvok eval: [Errno 2] No such file or directory: '" + (root_ / "none.jsonl").string() + "'");

    // What the command does not turn into a failure goes on to the caller.
    FakeHost solver = host();
    solver.throws["solver"] = std::pair{Raised::Runtime, std::string("odd")};
    EXPECT_THROW(run_command(solver, usable(), solver.config, false, nullptr), HostError);
    FakeHost other = host();  // a settings error without --replay is not the user's
    EXPECT_THROW(run_command(other, usable(), std::make_exception_ptr(raised(Raised::Value, "bad")), false, nullptr),
                 HostError);
}

TEST_F(EvalCommand, AFinishedRunPrintsItsSummaryAndWhereItIs) {
    FakeHost h = host();
    EXPECT_EQ(run_command(h, usable(), h.config, true, nullptr).status, 0);
    ASSERT_EQ(h.log.size(), 5u);
    EXPECT_EQ(h.log[3], "say " + read(root_ / "out" / kSummaryFile));
    EXPECT_EQ(h.log[4], "tell " + results_line("out/results.jsonl", "out/summary.json"));
}

TEST_F(EvalCommand, AnInterruptWaitsForTheRunningProblemsAndASecondQuits) {
    tarvok::Interrupt interrupt([] { return true; }, std::chrono::microseconds(0));  // Ctrl-C at every wait
    FakeHost h = host();
    h.finish = 0;  // its worker ends without finishing
    CommandEnd end = run_command(h, usable(), h.config, false, &interrupt);
    EXPECT_EQ(end.status, 130);
    EXPECT_FALSE(end.quit);
    EXPECT_EQ(h.log.back(), "tell " + std::string(kInterruptedLine));

    FakeHost twice = host();
    twice.finish = 0;
    twice.end_workers = false;  // still running: told, waited for, and the second Ctrl-C quits
    end = run_command(twice, usable(), twice.config, false, &interrupt);
    EXPECT_EQ(end.status, 130);
    EXPECT_TRUE(end.quit);
    EXPECT_EQ(twice.log.back(), "tell " + stopping_line(1));
}
