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
    ASSERT_EQ(shown.items().size(), 2u);
    std::vector<std::string> keys;
    for (const auto& [key, value] : shown.items()[1].members()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"value", "line", "text", "kind", "source", "power"}));
    EXPECT_EQ(shown.items()[0].members().size(), 3u);
    EXPECT_EQ(shown.items()[1].members()[3].second.text(), "scaled");
    EXPECT_EQ(shown.items()[1].members()[5].second.integer(), -3);
    EXPECT_EQ(solver_needed_for(false, false, 1), std::nullopt);
    EXPECT_EQ(solver_needed_for(true, true, 5)->rfind("--execution-check", 0), 0u);
    EXPECT_EQ(solver_needed_for(false, false, 2)->rfind("--samples", 0), 0u);
}

namespace {

using tarvok::data::Value;

/// A scalar as the binding hands it over; what the host writes for it is its str().
Value shown(Value v, const std::string& text) {
    EXPECT_EQ(tarvok::json::str(v), text);
    return v;
}

std::vector<std::string> keys_of(const Value& object) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : object.members()) keys.push_back(key);
    return keys;
}

SolveReport failed_report() {
    SolveReport r{.facts = {.compiled = false, .execution_check = true, .alignment = true},
                  .status = ExitStatus::DoesNotCompile,
                  .outcome = "the final model does not compile",
                  .model_file = "/w/m.mod",
                  .data_file = "/w/m.dat",
                  .model_file_given = "m.mod",
                  .kept_model = "/w/m.mod.failed"};
    r.statistics = Value::object({{"iterations", shown(Value::of(int64_t{3}), "3")},
                                  {"syntax_errors", Value::array({shown(Value::of("e1"), "e1")})},
                                  {"assessment", shown(Value::null(), "None")},
                                  {"solver_status", shown(Value::null(), "None")},
                                  {"objective", shown(Value::of(1.5), "1.5")}});
    r.syntax_errors = Value::array({shown(Value::of("m.mod:1:1: error: x\nmore"), "m.mod:1:1: error: x\nmore")});
    return r;
}

}  // namespace

TEST(SolveJson, KeysInTheirOrderAndOnlyThoseTheRunAskedFor) {
    SolveReport r = failed_report();
    std::vector<std::string> warnings;
    Value out = solve_json(r, warnings);
    EXPECT_EQ(keys_of(out),
              (std::vector<std::string>{"model_file", "data_file", "iterations", "syntax_errors", "assessment",
                                        "compiled", "solver_status", "objective", "aligned", "assumptions",
                                        "conversions", "status", "failed_model_file", "failed_data_file"}));
    EXPECT_EQ(out.find("failed_model_file")->text(), "/w/m.mod.failed");
    EXPECT_EQ(out.find("failed_data_file")->kind(), Value::Kind::Null);  // never written
    EXPECT_EQ(out.find("aligned")->kind(), Value::Kind::Boolean);
    EXPECT_EQ(out.find("status")->integer(), 1);
    EXPECT_EQ(warnings, std::vector<std::string>{"tarvok: the final model does not compile"});

    // Voting replaces the execution check's objective where it stands; --run and --emit add theirs.
    r.facts.compiled = true;
    r.facts.alignment = false;
    r.vote = ShownVote{"0.5", 1, 2, std::nullopt};
    r.confidence = 0.5;
    r.run_json = Value::null();
    r.emitted = Value::array({Value::of("s.py"), Value::of("s.npz")});
    r.emit = ShownEmit{.status = 2, .failure = "cannot write s.py: denied"};
    warnings.clear();
    out = solve_json(r, warnings);
    EXPECT_EQ(keys_of(out),
              (std::vector<std::string>{"model_file", "data_file", "iterations", "syntax_errors", "assessment",
                                        "compiled", "solver_status", "objective", "aligned", "assumptions",
                                        "conversions", "samples", "confidence", "status", "run", "emitted"}));
    EXPECT_EQ(out.find("objective")->kind(), Value::Kind::Null);
    EXPECT_EQ(out.find("aligned")->kind(), Value::Kind::Null);  // alignment was not checked
    EXPECT_EQ(warnings.front(), "tarvok: cannot write s.py: denied");
}

TEST(SolveReport, ReadsStatisticsAndTheWhatIfTableFromTheLoopsValues) {
    SolveReport r = failed_report();
    r.stats = true;
    std::vector<ReportLine> lines = solve_report(r);
    std::string all;
    for (const ReportLine& line : lines) all += line.text + "\n";
    EXPECT_NE(all.find("/w/m.mod.failed"), std::string::npos) << all;      // where the failed pair is
    EXPECT_NE(all.find("None"), std::string::npos) << all;                 // the host's word for no status
    EXPECT_EQ(all.find("m.mod:1:1: error: x"), std::string::npos) << all;  // --stats lists errors instead

    r = failed_report();
    r.facts = {.compiled = true};
    r.with_assumptions = r.what_if = true;
    r.what_if_max = 2;
    r.assumptions = Value::array({Value::object({{"assumption", shown(Value::of("units start off"), "units start off")},
                                                 {"kind", shown(Value::of("boundary"), "boundary")}})});
    r.assumptions_error = shown(Value::of("first\nsecond"), "first\nsecond");
    Value reading = Value::object({{"status", shown(Value::of("optimal"), "optimal")},
                                   {"objective", shown(Value::of(12.0), "12.0")},
                                   {"answer", shown(Value::null(), "None")}});
    Value alternative = Value::object({{"index", Value::of(int64_t{1})},
                                       {"alternative", shown(Value::of("units may run"), "units may run")},
                                       {"compiled", Value::of(true)},
                                       {"errors", Value::array()},
                                       {"model_file", shown(Value::of("/w/m.alt1.mod"), "/w/m.alt1.mod")},
                                       {"status", shown(Value::of("optimal"), "optimal")},
                                       {"objective", shown(Value::of(9.5), "9.5")}});
    r.what_if_table = Value::object(
        {{"main", reading}, {"alternatives", Value::array({alternative})}, {"unexplored", Value::of(int64_t{0})}});
    all.clear();
    for (const ReportLine& line : solve_report(r)) all += line.text + "\n";
    EXPECT_NE(all.find("tarvok: first\n"), std::string::npos) << all;  // the first line of why
    EXPECT_NE(all.find("units start off"), std::string::npos) << all;
    EXPECT_NE(all.find("9.5"), std::string::npos) << all;
    EXPECT_NE(all.find("m.alt1.mod"), std::string::npos) << all;  // named after the model file as given
    EXPECT_EQ(all.find("/w/m.alt1.mod"), std::string::npos) << all;
}
