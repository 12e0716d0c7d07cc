#include "evaluation/problem_run.hpp"

#include "scratch_folder.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace tarvok::evaluation;

namespace {

/// A host whose generations follow a script, one entry per sample.
class ScriptedProblem : public ProblemHost {
  public:
    struct Generation {
        bool compiled = true;
        std::string status = "optimal";
        std::optional<double> objective = 5;
        std::optional<std::string> raises;  ///< the loop raises this (an ordinary error)
        bool provider_down = false;
    };
    explicit ScriptedProblem(std::vector<Generation> script) : script_(std::move(script)) {}

    std::optional<std::string> generate(const std::filesystem::path& folder, Record& record) override {
        folders.push_back(folder);
        const Generation& g = now();
        if (g.raises) throw GenerationFailed{"RuntimeError: " + *g.raises, g.provider_down};
        record.compiled = g.compiled;
        record.repair_rounds = 1;
        return "cap = 7;\n";
    }
    FinalSolve solve(Record& record, bool readings) override {
        record.status = now().status;
        record.objective = now().objective;
        FinalSolve solved{now().status, now().objective ? std::to_string(static_cast<int>(*now().objective)) : "None",
                          std::nullopt};
        if (!readings) return solved;
        record.readings = std::vector<Reading>(2);
        TableReading r;
        r.index = 2;
        r.status = "optimal";
        r.objective = 9;
        solved.what_if = WhatIfTable{{}, {r}, 0};
        return solved;
    }
    void progress(const std::string& line) override { lines.push_back(line); }

    std::vector<std::filesystem::path> folders;
    std::vector<std::string> lines;

  private:
    const Generation& now() const { return script_.at(folders.size() - 1); }
    std::vector<Generation> script_;
};

using Generation = ScriptedProblem::Generation;

Generation solved(double objective) {
    Generation g;
    g.objective = objective;
    return g;
}

Generation raising(std::string text, bool provider_down) {
    Generation g;
    g.raises = std::move(text);
    g.provider_down = provider_down;
    return g;
}

class ProblemRun : public tarvok::testing::ScratchFolder {
  protected:
    ProblemOptions options(long long samples, bool readings = false) const {
        return {"p1", "Each crate holds some units.", root_, samples, 1e-4, readings};
    }
};

}  // namespace

TEST_F(ProblemRun, ACompilingModelIsSolvedLoggedAndItsReadingsExplored) {
    write(kTranscriptFile, "an earlier run's conversation");
    ScriptedProblem host({Generation{}});
    Record r = generation_record(host, "", options(1, true));
    EXPECT_FALSE(std::filesystem::exists(root_ / kTranscriptFile));  // this run's conversation only
    EXPECT_EQ(r.id, "p1");
    EXPECT_EQ(r.status, "optimal");
    ASSERT_TRUE(r.assumptions);  // the data's 7 is not in the description
    EXPECT_EQ(r.assumptions->at(0).value, "7");
    EXPECT_EQ(r.assumptions->at(0).line, 1u);
    EXPECT_EQ(host.lines, (std::vector<std::string>{"Final model: optimal, objective 5"}));
    ASSERT_TRUE(r.readings);
    EXPECT_FALSE(r.readings->at(0).explored);  // one answer for two readings: the second's
    EXPECT_EQ(r.readings->at(1).objective, 9);
    ASSERT_TRUE(r.what_if);

    Generation not_compiled;
    not_compiled.compiled = false;
    ScriptedProblem unsolved({not_compiled});
    Record none = generation_record(unsolved, "", options(1));
    EXPECT_FALSE(none.status);  // nothing to solve, nothing logged
    EXPECT_TRUE(unsolved.lines.empty());
    EXPECT_FALSE(none.readings);
}

TEST_F(ProblemRun, WhatTheLoopRaisesIsKeptAndOnlyTheHostsOrdinaryErrorsAre) {
    write("sample-2", "a file where the sample's folder goes");
    ScriptedProblem host({raising("bad reply", true)});
    Record r = generation_record(host, "sample-2", options(1));
    EXPECT_TRUE(std::filesystem::is_directory(root_ / "sample-2"));
    EXPECT_EQ(r.error, "RuntimeError: bad reply");
    EXPECT_TRUE(r.provider_error);
    EXPECT_EQ(r.id, "p1");
    EXPECT_EQ(host.lines, (std::vector<std::string>{"RuntimeError: bad reply"}));
    EXPECT_EQ(host.folders, (std::vector<std::filesystem::path>{root_ / "sample-2"}));

    class Failing : public ScriptedProblem {
      public:
        Failing() : ScriptedProblem({Generation{}}) {}
        std::optional<std::string> generate(const std::filesystem::path&, Record&) override {
            throw std::logic_error("not the host's");
        }
    } failing;
    EXPECT_THROW(generation_record(failing, "", options(1)), std::logic_error);
}

TEST_F(ProblemRun, SamplesAreVotedOnUntilAProviderErrorAndTheirCountsAdded) {
    ScriptedProblem host({solved(3), solved(5), solved(5)});
    Record r = problem_record(host, options(3));
    EXPECT_EQ(host.folders, (std::vector<std::filesystem::path>{root_, root_ / "sample-2", root_ / "sample-3"}));
    EXPECT_EQ(host.lines[0], "Sample 1/3");
    EXPECT_EQ(r.objective, 5);
    EXPECT_EQ(r.samples, 3);
    EXPECT_EQ(r.sample, 2);
    EXPECT_EQ(r.repair_rounds, 3);
    EXPECT_NEAR(*r.confidence, 2.0 / 3, 1e-12);
    EXPECT_GE(r.seconds, 0);

    ScriptedProblem failing({solved(1), raising("down", true), solved(1)});
    Record down = problem_record(failing, options(3));
    EXPECT_EQ(failing.folders.size(), 2u);  // the provider is failing: no use going on
    EXPECT_TRUE(down.provider_error);

    ScriptedProblem single({solved(3)});
    Record one = problem_record(single, options(1));
    EXPECT_EQ(one.samples, 1);
    EXPECT_FALSE(one.confidence);
    EXPECT_EQ(single.lines, (std::vector<std::string>{"Final model: optimal, objective 3"}));  // nothing of samples
}
