#include "cli/solve_outcome.hpp"

#include <gtest/gtest.h>

using namespace tarvok::cli;
using tarvok::ExitStatus;

TEST(SolveStatus, TheGravestFindingGivesTheStatus) {
    EXPECT_EQ(loop_status({.compiled = false, .alignment = true}), ExitStatus::DoesNotCompile);
    SolveFacts infeasible{.compiled = true, .execution_check = true, .solver_status = "infeasible", .alignment = true};
    EXPECT_EQ(loop_status(infeasible), ExitStatus::NotOptimal);
    infeasible.execution_check = false;  // a status the check was not asked for decides nothing
    EXPECT_EQ(loop_status(infeasible), ExitStatus::NotAligned);
    EXPECT_EQ(loop_status({.compiled = true, .execution_check = true, .solver_status = "optimal"}),
              ExitStatus::Success);
    EXPECT_EQ(with_run_and_emit(ExitStatus::NotAligned, 3, 2), ExitStatus::NotOptimal);
    EXPECT_EQ(with_run_and_emit(ExitStatus::NotAligned, 0, 2), ExitStatus::Usage);
    EXPECT_EQ(with_run_and_emit(ExitStatus::NotAligned, 0, std::nullopt), ExitStatus::NotAligned);
}

TEST(SolveClosingLine, SaysWhereThePairIs) {
    SolvePlaces places{"m.mod", "m.dat", false, "m.mod.failed and m.dat.failed", "m.mod and m.dat"};
    EXPECT_EQ(closing_line({.compiled = false}, places),
              "the final model does not compile; m.mod and m.dat were not written; the last attempt is in "
              "m.mod.failed and m.dat.failed");
    places.existed = true;
    EXPECT_NE(closing_line({.compiled = false}, places).find("are unchanged"), std::string::npos);
    EXPECT_EQ(closing_line({.compiled = true, .execution_check = true, .solver_status = "unbounded"}, places),
              "the final model compiles but the execution check found it unbounded; it is in m.mod and m.dat");
    EXPECT_EQ(closing_line({.compiled = true, .alignment = true, .aligned = true}, places), "");
}

TEST(SolveReport, PrintsEachPartInItsPlaceAndStream) {
    SolveText t{.facts = {.compiled = true}, .assessment = "The model matches."};
    t.vote = ShownVote{"0.67", 2, 3, "12.0"};
    t.run = "Objective: 12";
    t.emit = ShownEmit{.status = 0, .written = "Wrote s.py"};
    t.outcome = "the model compiles but was never judged aligned";
    std::vector<ReportLine> expected{{"The model matches."},
                                     {"\nconfidence: 0.67 (2 of 3 samples reach the objective 12.0)"},
                                     {""},
                                     {"Objective: 12"},
                                     {"Wrote s.py", true},
                                     {"tarvok: the model compiles but was never judged aligned", true}};
    EXPECT_EQ(solve_report(t), expected);

    // No optimum among the samples; a script that could not be written; a
    // script whose model does not expand says why only when --run did not.
    t.vote->objective.reset();
    EXPECT_EQ(solve_report(t)[1].text, "\nconfidence: 0 (no sample's final model solved to optimality)");
    t.emit = ShownEmit{.status = 2, .failure = "cannot write s.py: denied"};
    EXPECT_EQ(solve_report(t)[4], (ReportLine{"tarvok: cannot write s.py: denied", true}));
    t.emit = ShownEmit{.status = 1, .diagnostics = "m.mod:1:1: error: x"};
    EXPECT_EQ(solve_report(t).size(), 5u);
    t.run.reset();
    EXPECT_EQ(solve_report(t)[2].text, "\nm.mod:1:1: error: x");
}

TEST(SolveReport, FinalErrorsOnlyForAFailedPairWithoutStatistics) {
    SolveText t{
        .facts = {.compiled = false}, .assessment = "No compiling model.", .final_errors = "m.mod:2:3: error: y"};
    EXPECT_EQ(solve_report(t).back().text, "\nm.mod:2:3: error: y");
    t.statistics = SolveStatistics{.iterations = "3", .model_file = "m.mod.failed", .data_file = "m.dat.failed"};
    std::vector<ReportLine> lines = solve_report(t);
    EXPECT_EQ(lines.front().text, "iterations: 3");
    EXPECT_EQ(lines.back().text, "No compiling model.");
}

TEST(SolveReport, AssumptionsComeAfterTheAssessmentAndTheirFailureOnStderr) {
    SolveText t{.facts = {.compiled = true}, .assessment = "ok", .with_assumptions = true};
    t.assumptions_error = "the reply was not JSON";
    EXPECT_EQ(solve_report(t), (std::vector<ReportLine>{{"ok"}, {"tarvok: the reply was not JSON", true}}));
    t.assumptions_error.reset();
    t.assumptions.emplace();
    EXPECT_EQ(solve_report(t).back().text, "\nAssumptions: none listed");
    t.assumptions->push_back({"every unit is off at the start", "", "", "boundary_condition"});
    t.what_if = ShownTable{.main = {"optimal", "1500.0", ""}};
    std::vector<ReportLine> lines = solve_report(t);
    EXPECT_EQ(lines[1].text, "\nAssumptions (where the description is silent or ambiguous):");
    EXPECT_EQ(lines[2].text, "  1. [boundary_condition] every unit is off at the start");
    EXPECT_EQ(lines[3].text, "\nWhat if (the answer under each reading):");
}

TEST(SolveJson, FindingsSayWhereANumberCameFrom) {
    namespace grounding = tarvok::generative::grounding;
    grounding::Finding assumed{.text = "0.9", .value = 0.9, .line = 4, .line_text = "param eff := 0.9;"};
    grounding::Finding scaled = assumed;
    scaled.match = grounding::Match::Scaled;
    scaled.source = "900";
    scaled.power = -3;
    tarvok::data::Value shown = findings_value({assumed, scaled});
    ASSERT_EQ(shown.items.size(), 2u);
    std::vector<std::string> keys;
    for (const auto& [key, value] : shown.items[1].members) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"value", "line", "text", "kind", "source", "power"}));
    EXPECT_EQ(shown.items[0].members.size(), 3u);
    EXPECT_EQ(shown.items[1].members[3].second.text, "scaled");
    EXPECT_EQ(shown.items[1].members[5].second.integer, -3);
    EXPECT_EQ(solver_needed_for(false, false, 1), std::nullopt);
    EXPECT_EQ(solver_needed_for(true, true, 5)->rfind("--execution-check", 0), 0u);
    EXPECT_EQ(solver_needed_for(false, false, 2)->rfind("--samples", 0), 0u);
}
