#include "evaluation/problem_run.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace tarvok::evaluation;

namespace {

/// Thrown by the fake host as the host's ordinary error; anything else is not.
struct Ordinary : std::runtime_error {
    using std::runtime_error::runtime_error;
};

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

    void enter(const std::string& folder) override { folders.push_back(folder); }
    bool generate(Record& record) override {
        const Generation& g = now();
        if (g.raises) throw Ordinary(*g.raises);
        record.compiled = g.compiled;
        record.repair_rounds = 1;
        return true;
    }
    std::vector<Assumption> assumptions() override { return {{"7", 2, "cap = 7;"}}; }
    FinalSolve solve(Record& record, bool readings) override {
        record.status = now().status;
        record.objective = now().objective;
        if (readings) record.readings = std::vector<Reading>(2);
        return {now().status, now().objective ? std::to_string(static_cast<int>(*now().objective)) : "None"};
    }
    std::optional<WhatIfTable> what_if_table() override {
        TableReading r;
        r.index = 2;
        r.status = "optimal";
        r.objective = 9;
        return WhatIfTable{{}, {r}, 0};
    }
    void progress(const std::string& line) override { lines.push_back(line); }
    std::string problem_id() override { return "p1"; }
    GenerationError caught() override {
        try {
            throw;
        } catch (const Ordinary& e) {
            return {std::string("RuntimeError: ") + e.what(), now().provider_down};
        }
    }

    std::vector<std::string> folders, lines;

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

Generation not_compiled() {
    Generation g;
    g.compiled = false;
    return g;
}

Generation raising(std::string text, bool provider_down) {
    Generation g;
    g.raises = std::move(text);
    g.provider_down = provider_down;
    return g;
}

}  // namespace

TEST(Generation, ACompilingModelIsSolvedLoggedAndItsReadingsExplored) {
    ScriptedProblem host({Generation{}});
    Record r = generation_record(host, "", {1, 1e-4, true});
    EXPECT_EQ(r.id, "p1");
    EXPECT_EQ(r.status, "optimal");
    ASSERT_TRUE(r.assumptions);
    EXPECT_EQ(r.assumptions->at(0).value, "7");
    EXPECT_EQ(host.lines, (std::vector<std::string>{"Final model: optimal, objective 5"}));
    ASSERT_TRUE(r.readings);
    EXPECT_FALSE(r.readings->at(0).explored);  // one answer for two readings: the second's
    EXPECT_EQ(r.readings->at(1).objective, 9);
    ASSERT_TRUE(r.what_if);

    ScriptedProblem unsolved({not_compiled()});
    Record not_compiled = generation_record(unsolved, "", {});
    EXPECT_FALSE(not_compiled.status);  // nothing to solve, nothing logged
    EXPECT_TRUE(unsolved.lines.empty());
    EXPECT_FALSE(not_compiled.readings);
}

TEST(Generation, WhatTheLoopRaisesIsKeptAndOnlyTheHostsOrdinaryErrorsAre) {
    ScriptedProblem host({raising("bad reply", true)});
    Record r = generation_record(host, "sample-2", {});
    EXPECT_EQ(r.error, "RuntimeError: bad reply");
    EXPECT_TRUE(r.provider_error);
    EXPECT_EQ(r.id, "p1");
    EXPECT_EQ(host.lines, (std::vector<std::string>{"RuntimeError: bad reply"}));
    EXPECT_EQ(host.folders, (std::vector<std::string>{"sample-2"}));

    class Failing : public ScriptedProblem {
      public:
        Failing() : ScriptedProblem({Generation{}}) {}
        bool generate(Record&) override { throw std::logic_error("not the host's"); }
    } failing;
    EXPECT_THROW(generation_record(failing, "", {}), std::logic_error);
}

TEST(Problem, SamplesAreVotedOnAndTheirCountsAdded) {
    ScriptedProblem host({solved(3), solved(5), solved(5)});
    Record r = problem_record(host, {3, 1e-4, false});
    EXPECT_EQ(host.folders, (std::vector<std::string>{"", "sample-2", "sample-3"}));
    EXPECT_EQ(r.objective, 5);
    EXPECT_EQ(r.samples, 3);
    EXPECT_EQ(r.sample, 2);
    EXPECT_EQ(r.repair_rounds, 3);
    EXPECT_NEAR(*r.confidence, 2.0 / 3, 1e-12);
    EXPECT_GE(r.seconds, 0);

    ScriptedProblem single({solved(3)});
    Record one = problem_record(single, {1, 1e-4, false});
    EXPECT_EQ(one.samples, 1);
    EXPECT_FALSE(one.confidence);
}
