#include "evaluation/problem_run.hpp"

#include "common/interrupt.hpp"

#include "scratch_folder.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

using namespace tarvok::evaluation;

namespace {

/// A loop whose generations follow a script, one entry per sample.
class ScriptedProblem : public Generation {
  public:
    struct Scripted {
        bool compiled = true;
        std::string status = "optimal";
        std::optional<double> objective = 5;
        std::optional<std::string> raises;  ///< the loop raises this (an ordinary error)
        bool provider_down = false;
    };
    explicit ScriptedProblem(std::vector<Scripted> script) : script_(std::move(script)) {}

    void generate(const std::filesystem::path& folder, Record& record, bool readings, Generated& made) override {
        folders.push_back(folder);
        const Scripted& g = script_.at(folders.size() - 1);
        if (g.raises) throw GenerationFailed{"RuntimeError: " + *g.raises, g.provider_down};
        record.compiled = g.compiled;
        record.repair_rounds = 1;
        made.data = "cap = 7;\n";
        if (!g.compiled) return;
        record.status = g.status;
        record.objective = g.objective;
        made.solved =
            FinalSolve{g.status, g.objective ? std::to_string(static_cast<int>(*g.objective)) : "None", std::nullopt};
        if (!readings) return;
        record.readings = std::vector<Reading>(2);
        TableReading r;
        r.index = 2;
        r.status = "optimal";
        r.objective = 9;
        made.solved->what_if = WhatIfTable{{}, {r}, 0};
    }

    std::vector<std::filesystem::path> folders;

  private:
    std::vector<Scripted> script_;
};

using Scripted = ScriptedProblem::Scripted;

Scripted solved(double objective) {
    Scripted g;
    g.objective = objective;
    return g;
}

Scripted raising(std::string text, bool provider_down) {
    Scripted g;
    g.raises = std::move(text);
    g.provider_down = provider_down;
    return g;
}

class ProblemRun : public tarvok::testing::ScratchFolder {
  protected:
    /// The problem's log as the run left it, a line each.
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        std::string all = read(root_ / kProgressLog);
        for (std::size_t at = 0, end; (end = all.find('\n', at)) != std::string::npos; at = end + 1)
            out.push_back(all.substr(at, end - at));
        return out;
    }
    ProblemLog log() const { return ProblemLog(root_ / kProgressLog, nullptr); }
    ProblemOptions options(long long samples, bool readings = false) const {
        return {"p1", "Each crate holds some units.", root_, samples, 1e-4, readings};
    }
};

}  // namespace

TEST_F(ProblemRun, ACompilingModelIsSolvedLoggedAndItsReadingsExplored) {
    write(kTranscriptFile, "an earlier run's conversation");
    ScriptedProblem host({Scripted{}});
    ProblemLog log = this->log();
    Record r = generation_record(host, log, "", options(1, true));
    EXPECT_FALSE(std::filesystem::exists(root_ / kTranscriptFile));  // this run's conversation only
    EXPECT_EQ(r.id, "p1");
    EXPECT_EQ(r.status, "optimal");
    ASSERT_TRUE(r.assumptions);  // the data's 7 is not in the description
    EXPECT_EQ(r.assumptions->at(0).value, "7");
    EXPECT_EQ(r.assumptions->at(0).line, 1u);
    EXPECT_EQ(lines(), (std::vector<std::string>{"Final model: optimal, objective 5"}));
    ASSERT_TRUE(r.readings);
    EXPECT_FALSE(r.readings->at(0).explored);  // one answer for two readings: the second's
    EXPECT_EQ(r.readings->at(1).objective, 9);
    ASSERT_TRUE(r.what_if);

    Scripted not_compiled;
    not_compiled.compiled = false;
    ScriptedProblem unsolved({not_compiled});
    ProblemLog empty = this->log();
    Record none = generation_record(unsolved, empty, "", options(1));
    EXPECT_FALSE(none.status);  // nothing to solve, nothing logged
    EXPECT_TRUE(lines().empty());
    EXPECT_FALSE(none.readings);
}

TEST_F(ProblemRun, WhatTheLoopRaisesIsKeptAndTheRunsStopEndsIt) {
    write("sample-2", "a file where the sample's folder goes");
    ScriptedProblem host({raising("bad reply", true)});
    ProblemLog log = this->log();
    Record r = generation_record(host, log, "sample-2", options(1));
    EXPECT_TRUE(std::filesystem::is_directory(root_ / "sample-2"));
    EXPECT_EQ(r.error, "RuntimeError: bad reply");
    EXPECT_TRUE(r.provider_error);
    EXPECT_EQ(r.id, "p1");
    EXPECT_EQ(lines(), (std::vector<std::string>{"RuntimeError: bad reply"}));
    EXPECT_EQ(host.folders, (std::vector<std::filesystem::path>{root_ / "sample-2"}));

    auto run = std::make_shared<WorkQueue>(1, 1);
    run->stop();
    ProblemLog stopped(root_ / kProgressLog, run);
    ScriptedProblem next({solved(1), solved(1)});
    EXPECT_THROW(problem_record(next, stopped, options(2)), tarvok::Interrupted);  // at its next line
    EXPECT_TRUE(next.folders.empty());
    EXPECT_EQ(lines(), std::vector<std::string>{"Sample 1/2"});
}

TEST_F(ProblemRun, SamplesAreVotedOnUntilAProviderErrorAndTheirCountsAdded) {
    ScriptedProblem host({solved(3), solved(5), solved(5)});
    ProblemLog log = this->log();
    Record r = problem_record(host, log, options(3));
    EXPECT_EQ(host.folders, (std::vector<std::filesystem::path>{root_, root_ / "sample-2", root_ / "sample-3"}));
    EXPECT_EQ(lines()[0], "Sample 1/3");
    EXPECT_EQ(r.objective, 5);
    EXPECT_EQ(r.samples, 3);
    EXPECT_EQ(r.sample, 2);
    EXPECT_EQ(r.repair_rounds, 3);
    EXPECT_NEAR(*r.confidence, 2.0 / 3, 1e-12);
    EXPECT_GE(r.seconds, 0);

    ScriptedProblem failing({solved(1), raising("down", true), solved(1)});
    Record down = problem_record(failing, log, options(3));
    EXPECT_EQ(failing.folders.size(), 2u);  // the provider is failing: no use going on
    EXPECT_TRUE(down.provider_error);

    ScriptedProblem single({solved(3)});
    ProblemLog one_log = this->log();
    Record one = problem_record(single, one_log, options(1));
    EXPECT_EQ(one.samples, 1);
    EXPECT_FALSE(one.confidence);
    EXPECT_EQ(lines(), (std::vector<std::string>{"Final model: optimal, objective 3"}));  // nothing of samples
}
