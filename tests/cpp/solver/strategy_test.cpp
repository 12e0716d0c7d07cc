#include "solver/backend.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

namespace tarvok::solver {
namespace {

const char* kLp = "dvar float+ x;\ndvar float+ y;\nmaximize 3*x + 2*y;\nsubject to {\n  cap: x + y <= 4;\n}\n";
const char* kMip = "dvar int+ n;\ndvar float+ y;\nminimize n + y;\nsubject to {\n  need: n + 2*y >= 3;\n}\n";

/// What the fake solver answers, per kind of load, run by run.
struct Script {
    std::map<std::string, std::vector<RunEnd>> runs;  ///< by role: main, relaxed, feasibility, fixed
    Incumbent incumbent;
    std::map<std::string, std::vector<Culprit>> subsets;
    bool has_figures = true;
    double clock = 0;              ///< the clock the strategy reads
    double seconds_per_run = 0;    ///< how far each run moves it
    std::vector<std::string> log;  ///< "load ROLE", "run ROLE presolve|no-presolve LIMIT"
    LoadRequest fixed_request;
};

class FakeLoaded : public LoadedProgram {
  public:
    FakeLoaded(Script& s, std::string role) : s_(s), role_(std::move(role)) {}
    RunEnd run(bool presolve, double limit) override {
        s_.log.push_back("run " + role_ + (presolve ? " presolve" : " no-presolve") +
                         (std::isnan(limit) ? "" : " " + std::to_string(static_cast<int>(limit))));
        s_.clock += s_.seconds_per_run;
        std::vector<RunEnd>& queue = s_.runs[role_];
        if (queue.empty()) return {Status::Optimal, false, ""};
        RunEnd end = queue.front();
        queue.erase(queue.begin());
        return end;
    }
    Incumbent incumbent() override { return s_.incumbent; }
    std::vector<Culprit> infeasible_subset() override { return s_.subsets[role_]; }
    std::optional<SolverFigures> figures(bool ranging) override {
        s_.log.push_back("figures " + role_ + (ranging ? " ranging" : ""));
        if (!s_.has_figures) return std::nullopt;
        SolverFigures f;
        f.row_dual = {2};
        f.column_dual = {0, 0};
        return f;
    }
    RunCounts counts() override { return {7, role_ == "main" ? std::optional<int64_t>(3) : std::nullopt, 2}; }

  private:
    Script& s_;
    std::string role_;
};

class FakeBackend : public SolverBackend {
  public:
    explicit FakeBackend(Script& s) : s_(s) {}
    std::string name() const override { return "Fake"; }
    std::unique_ptr<LoadedProgram> load(const Program&, const LoadRequest& r) override {
        std::string role = !r.fixed_columns.empty() ? "fixed"
                           : r.relaxed              ? "relaxed"
                           : r.feasibility          ? "feasibility"
                                                    : "main";
        if (role == "fixed") s_.fixed_request = r;
        s_.log.push_back("load " + role);
        return std::make_unique<FakeLoaded>(s_, role);
    }

  private:
    Script& s_;
};

SolveReport solve(const char* model, Script& script, SolveSettings settings = {}) {
    auto p = instantiate(model, "");
    settings.clock = [&script] { return script.clock; };
    FakeBackend backend(script);
    return solve_with(*p, backend, settings);
}

Incumbent at(std::vector<double> x, double objective) {
    Incumbent in;
    in.has_solution = true;
    in.x = std::move(x);
    in.objective = objective;
    in.best_bound = objective;
    in.gap = 0;
    return in;
}

using Log = std::vector<std::string>;

RunEnd ended(Status status, bool interrupted = false) { return {status, interrupted, ""}; }

TEST(Strategy, AnOptimalLpTakesItsSolutionFromOneRun) {
    Script s;
    s.incumbent = at({4, 0}, 12);
    SolveReport r = solve(kLp, s);
    EXPECT_EQ(r.outcome.status, Status::Optimal);
    EXPECT_TRUE(r.outcome.has_solution);
    EXPECT_DOUBLE_EQ(r.outcome.objective, 12);
    EXPECT_EQ(r.outcome.x, (std::vector<double>{4, 0}));
    EXPECT_EQ(r.outcome.message, "");
    EXPECT_TRUE(std::isnan(r.outcome.best_bound));  // an LP has no bound to show
    EXPECT_FALSE(r.mip_gap.has_value());
    EXPECT_FALSE(r.sensitivity.has_value());
    EXPECT_EQ(r.counts.simplex_iterations, 7);
    EXPECT_EQ(s.log, (Log{"load main", "run main presolve"}));
}

TEST(Strategy, AProgramInfeasibleOnItsFaceNeedsNoSolver) {
    Script s;
    auto p = instantiate("dvar float+ x;\nminimize x;\nsubject to {\n  c: x <= -1;\n}\n", "");
    FakeBackend backend(s);
    SolveReport r = solve_with(*p, backend, {});
    EXPECT_EQ(r.outcome.status, Status::Infeasible);
    EXPECT_FALSE(r.used_solver);
    EXPECT_TRUE(s.log.empty());
}

TEST(Strategy, TheBackEndIsMadeOnlyForAProgramThatNeedsASolver) {
    Script s;
    FakeBackend backend(s);
    int made = 0;
    auto make = [&]() -> SolverBackend& {
        ++made;
        return backend;
    };
    auto settled = instantiate("dvar float+ x;\nminimize x;\nsubject to {\n  c: x <= -1;\n}\n", "");
    EXPECT_EQ(solve_with(*settled, make, {}).outcome.status, Status::Infeasible);
    EXPECT_EQ(solve_with(*instantiate("minimize 0;\n", ""), make, {}).outcome.status, Status::Optimal);
    EXPECT_EQ(made, 0);
    s.incumbent = at({4, 0}, 12);
    EXPECT_EQ(solve_with(*instantiate(kLp, ""), make, {}).outcome.status, Status::Optimal);
    EXPECT_EQ(made, 1);
    EXPECT_EQ(s.log, (Log{"load main", "run main presolve"}));
}

TEST(Strategy, InfeasibleProgramsNameTheirSubsetWhereOneIsFound) {
    Culprit cap{"cap", 5, Culprit::Kind::Constraint};
    {  // an LP: the subset of the run itself
        Script s;
        s.runs["main"] = {ended(Status::Infeasible)};
        s.subsets["main"] = {cap};
        SolveReport r = solve(kLp, s);
        EXPECT_EQ(r.outcome.status, Status::Infeasible);
        EXPECT_EQ(r.outcome.message, "No solution satisfies all constraints.");
        ASSERT_EQ(r.outcome.culprits.size(), 1u);
        EXPECT_EQ(r.outcome.culprits[0].name, "cap");
        EXPECT_FALSE(r.outcome.has_solution);
    }
    {  // a MIP: the subset of its relaxation, run without presolve
        Script s;
        s.runs["main"] = {ended(Status::Infeasible)};
        s.runs["relaxed"] = {ended(Status::Infeasible)};
        s.subsets["relaxed"] = {cap};
        s.subsets["main"] = {Culprit{"wrong", 1, Culprit::Kind::Bound}};
        SolveReport r = solve(kMip, s);
        ASSERT_EQ(r.outcome.culprits.size(), 1u);
        EXPECT_EQ(r.outcome.culprits[0].name, "cap");
        EXPECT_EQ(s.log, (Log{"load main", "run main presolve", "load relaxed", "run relaxed no-presolve"}));
    }
    {  // a MIP whose relaxation is feasible: the status alone
        Script s;
        s.runs["main"] = {ended(Status::Infeasible)};
        s.subsets["relaxed"] = {cap};
        SolveReport r = solve(kMip, s);
        EXPECT_EQ(r.outcome.status, Status::Infeasible);
        EXPECT_TRUE(r.outcome.culprits.empty());
    }
}

TEST(Strategy, StatusesWithoutSolutionCarryTheirMessages) {
    Script unbounded;
    unbounded.runs["main"] = {ended(Status::Unbounded)};
    EXPECT_EQ(solve(kLp, unbounded).outcome.message, "The objective can improve without limit.");
    Script error;
    error.runs["main"] = {{Status::Error, false, "Iteration limit reached"}};
    SolveReport r = solve(kLp, error);
    EXPECT_EQ(r.outcome.status, Status::Error);
    EXPECT_EQ(r.outcome.message, "Fake stopped without a result: Iteration limit reached");
    EXPECT_FALSE(r.outcome.has_solution);
}

TEST(Strategy, AnOpenStatusIsSettledByFurtherRuns) {
    {  // without presolve the solver tells the two apart; the limit left goes with it
        Script s;
        s.runs["main"] = {ended(Status::InfeasibleOrUnbounded), ended(Status::Unbounded)};
        s.seconds_per_run = 3;
        SolveSettings settings;
        settings.time_limit = 10;
        SolveReport r = solve(kLp, s, settings);
        EXPECT_EQ(r.outcome.status, Status::Unbounded);
        EXPECT_EQ(s.log, (Log{"load main", "run main presolve 10", "run main no-presolve 7"}));
    }
    {  // a MIP with an infeasible relaxation is infeasible, and the relaxation names why
        Script s;
        s.runs["main"] = {ended(Status::InfeasibleOrUnbounded), ended(Status::InfeasibleOrUnbounded)};
        s.runs["relaxed"] = {ended(Status::Infeasible)};
        s.subsets["relaxed"] = {Culprit{"need", 5, Culprit::Kind::Constraint}};
        SolveReport r = solve(kMip, s);
        EXPECT_EQ(r.outcome.status, Status::Infeasible);
        ASSERT_EQ(r.outcome.culprits.size(), 1u);
        EXPECT_EQ(s.log, (Log{"load main", "run main presolve", "run main no-presolve", "load relaxed",
                              "run relaxed no-presolve"}));
    }
    {  // a feasible point makes it unbounded
        Script s;
        s.runs["main"] = {ended(Status::InfeasibleOrUnbounded), ended(Status::InfeasibleOrUnbounded)};
        s.runs["feasibility"] = {ended(Status::Optimal)};
        EXPECT_EQ(solve(kLp, s).outcome.status, Status::Unbounded);
        EXPECT_EQ(s.log.back(), "run feasibility presolve");
    }
    {  // no time left: the status stays open, and says so
        Script s;
        s.runs["main"] = {ended(Status::InfeasibleOrUnbounded)};
        s.seconds_per_run = 5;
        SolveSettings settings;
        settings.time_limit = 5;
        SolveReport r = solve(kLp, s, settings);
        EXPECT_EQ(r.outcome.status, Status::InfeasibleOrUnbounded);
        EXPECT_EQ(r.outcome.message, "The model is infeasible or unbounded.");
        EXPECT_EQ(s.log.size(), 2u);
    }
}

TEST(Strategy, AMipStoppedByItsTimeLimitShowsItsIncumbentBoundAndGap) {
    Script s;
    s.runs["main"] = {ended(Status::TimeLimit)};
    s.incumbent = at({3, 0}, 3);
    s.incumbent.best_bound = 2;
    s.incumbent.gap = 1.0 / 3;
    SolveReport r = solve(kMip, s);
    EXPECT_EQ(r.outcome.status, Status::TimeLimit);
    EXPECT_TRUE(r.outcome.has_solution);
    EXPECT_EQ(r.outcome.message, "");
    EXPECT_DOUBLE_EQ(r.outcome.best_bound, 2);
    EXPECT_DOUBLE_EQ(r.outcome.gap, 1.0 / 3);
    EXPECT_DOUBLE_EQ(*r.mip_gap, 1.0 / 3);

    Script none;
    none.runs["main"] = {ended(Status::TimeLimit)};
    none.incumbent.best_bound = 2;
    SolveReport empty = solve(kMip, none);
    EXPECT_FALSE(empty.outcome.has_solution);
    EXPECT_EQ(empty.outcome.message, "No feasible solution was found within the time limit.");
    EXPECT_DOUBLE_EQ(empty.outcome.best_bound, 2);
    EXPECT_TRUE(std::isnan(empty.outcome.gap));
}

TEST(Strategy, CtrlCEndsTheSolveWithTheRunSoFar) {
    {  // in the first run: the incumbent with its bound
        Script s;
        s.runs["main"] = {ended(Status::Error, true)};
        s.incumbent = at({3, 0}, 3);
        s.incumbent.best_bound = 1.5;
        SolveReport r = solve(kMip, s);
        EXPECT_TRUE(r.interrupted);
        EXPECT_EQ(r.outcome.status, Status::Error);
        EXPECT_EQ(r.outcome.message, "Stopped by Ctrl-C.");
        EXPECT_TRUE(r.outcome.has_solution);
        EXPECT_DOUBLE_EQ(r.outcome.best_bound, 1.5);
    }
    {  // in a further run: no more runs follow
        Script s;
        s.runs["main"] = {ended(Status::InfeasibleOrUnbounded), ended(Status::Error, true)};
        SolveReport r = solve(kMip, s);
        EXPECT_TRUE(r.interrupted);
        EXPECT_EQ(r.outcome.message, "Stopped by Ctrl-C.");
        EXPECT_EQ(s.log.size(), 3u);
    }
}

TEST(Strategy, SensitivityOfAMipComesFromItsLpWithTheIntegersFixed) {
    Script s;
    s.incumbent = at({1.0000001, 1}, 2);
    SolveSettings settings;
    settings.sensitivity = 2;
    SolveReport r = solve(kMip, s, settings);
    ASSERT_TRUE(r.sensitivity.has_value());
    EXPECT_TRUE(r.sensitivity->fixed_integers);
    EXPECT_EQ(s.fixed_request.fixed_columns, (std::vector<int32_t>{0}));
    EXPECT_EQ(s.fixed_request.fixed_values, (std::vector<double>{1}));  // rounded to the integer
    EXPECT_TRUE(s.fixed_request.relaxed);
    EXPECT_EQ(s.log.back(), "figures fixed ranging");

    Script lp;
    lp.incumbent = at({4, 0}, 12);
    settings.sensitivity = 1;
    SolveReport duals = solve(kLp, lp, settings);
    ASSERT_TRUE(duals.sensitivity.has_value());
    EXPECT_FALSE(duals.sensitivity->fixed_integers);
    EXPECT_DOUBLE_EQ(duals.sensitivity->rows[0].dual, 2);
    EXPECT_EQ(lp.log.back(), "figures main");

    Script without;  // a solver without duals: no figures, the solution stands
    without.incumbent = at({4, 0}, 12);
    without.has_figures = false;
    SolveReport plain = solve(kLp, without, settings);
    EXPECT_FALSE(plain.sensitivity.has_value());
    EXPECT_EQ(plain.outcome.status, Status::Optimal);

    Script stuck;  // the fixed LP not optimal: no figures
    stuck.incumbent = at({1, 1}, 2);
    stuck.runs["fixed"] = {ended(Status::Infeasible)};
    settings.sensitivity = 1;
    EXPECT_FALSE(solve(kMip, stuck, settings).sensitivity.has_value());
}

TEST(Strategy, ColumnsWithoutRowsOrCostSettleNearestZero) {
    auto p = instantiate("dvar float+ x;\ndvar float z;\ndvar float y in 2..5;\nminimize x;\n", "");
    std::vector<double> x = {7, -3, 4};
    settle_free_columns(*p, p->col_lower, p->col_upper, false, x);
    EXPECT_EQ(x, (std::vector<double>{7, 0, 2}));  // x has a cost: left as found
    x = {7, -3, 4};
    settle_free_columns(*p, p->col_lower, p->col_upper, true, x);
    EXPECT_EQ(x, (std::vector<double>{0, 0, 2}));
}

TEST(Strategy, StatusMapsOfEachSolver) {
    EXPECT_EQ(status_from_scip("optimal"), Status::Optimal);
    EXPECT_EQ(status_from_scip("gaplimit"), Status::Optimal);
    EXPECT_EQ(status_from_scip("inforunbd"), Status::InfeasibleOrUnbounded);
    EXPECT_EQ(status_from_scip("timelimit"), Status::TimeLimit);
    EXPECT_EQ(status_from_scip("nodelimit"), Status::Error);
    EXPECT_EQ(status_from_scip("userinterrupt"), Status::Error);
    EXPECT_EQ(status_from_highs("kModelEmpty"), Status::Optimal);
    EXPECT_EQ(status_from_highs("kIterationLimit"), Status::Error);
}

}  // namespace
}  // namespace tarvok::solver
