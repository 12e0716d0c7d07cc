#include "evaluation/results.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>

using namespace tarvok::evaluation;
namespace json = tarvok::json;

namespace {

Record finished(std::string id, std::optional<double> objective, std::optional<std::string> status, bool correct) {
    Record r;
    r.id = std::move(id);
    r.objective = objective;
    r.status = std::move(status);
    r.correct = correct;
    r.compiled = true;
    r.iterations = 2;
    r.seconds = 1.5;
    return r;
}

std::vector<Problem> problems(std::initializer_list<std::pair<const char*, std::optional<double>>> items) {
    std::vector<Problem> out;
    for (auto& [id, expected] : items) out.push_back({id, id, "d", expected, out.size() + 1});
    return out;
}

}  // namespace

TEST(Results, RecordLinesReadBackWhole) {
    Record full = finished("b\"1\n\xED\xA0\xBD", 190.25, "optimal", true);
    full.expected = 190.25;
    full.compile_errors = {"model:1:2: bad\n    x", "second"};
    full.error = "RuntimeError: boom";
    Record bare;
    bare.id = "plain";
    std::string line = record_line(full);
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1);  // one line per record
    EXPECT_EQ(record_line(bare),
              "{\"id\": \"plain\", \"expected\": null, \"objective\": null, \"status\": null, \"correct\": false, "
              "\"compiled\": null, \"iterations\": null, \"compile_errors\": [], \"seconds\": 0, \"error\": null, "
              "\"provider_error\": false, \"verdict\": \"no_reference\"}\n");

    RecordedResults back = read_results(line + record_line(bare));
    ASSERT_EQ(back.by_id.size(), 2u);
    const Record& r = back.by_id.at(full.id);
    EXPECT_EQ(r.expected, 190.25);
    EXPECT_EQ(r.objective, 190.25);
    EXPECT_EQ(r.status, "optimal");
    EXPECT_TRUE(r.correct);
    EXPECT_EQ(r.compiled, true);
    EXPECT_EQ(r.iterations, 2);
    EXPECT_EQ(r.compile_errors, full.compile_errors);
    EXPECT_EQ(r.seconds, 1.5);
    EXPECT_EQ(r.error, "RuntimeError: boom");
    EXPECT_EQ(back.by_id.at("plain").compiled, std::nullopt);
    EXPECT_TRUE(back.ends_in_newline);
}

TEST(Results, AKilledWriteLosesOnlyItsOwnLine) {
    std::string text = record_line(finished("a", 1, "optimal", true)) + "not json\n" +
                       record_line(finished("a", 2, "infeasible", false)) + "{\"no id\": 1}\n" +
                       record_line(finished("b", 3, "optimal", true));
    text.resize(text.size() - 10);  // the last line cut while it was written
    RecordedResults back = read_results(text);
    EXPECT_EQ(back.by_id.size(), 1u);
    EXPECT_EQ(back.by_id.at("a").objective, 2.0);  // the later record of an id wins
    EXPECT_EQ(back.unreadable, 3u);
    EXPECT_FALSE(back.ends_in_newline);
    EXPECT_TRUE(read_results("").ends_in_newline);
}

TEST(Results, Correctness) {
    std::optional<std::string> optimal = "optimal";
    EXPECT_TRUE(is_correct(optimal, 190.0 + 0.018, 190.0, 1e-4));
    EXPECT_FALSE(is_correct(optimal, 190.0 + 0.02, 190.0, 1e-4));
    // Near zero the tolerance is absolute: rel_tol * max(1, |expected|).
    EXPECT_TRUE(is_correct(optimal, 0.00009, 0.0, 1e-4));
    EXPECT_FALSE(is_correct(optimal, -0.00011, 0.0, 1e-4));
    EXPECT_TRUE(is_correct(optimal, -1e6 - 99, -1e6, 1e-4));
    EXPECT_FALSE(is_correct(optimal, 1e6, -1e6, 1e-4));  // the sign counts
    EXPECT_FALSE(is_correct(std::string("time_limit"), 190.0, 190.0, 1e-4));
    EXPECT_FALSE(is_correct(std::nullopt, 190.0, 190.0, 1e-4));
    EXPECT_FALSE(is_correct(optimal, std::nullopt, 190.0, 1e-4));
    EXPECT_FALSE(is_correct(optimal, 190.0, std::nullopt, 1e-4));
    EXPECT_FALSE(is_correct(optimal, NAN, NAN, 1e-4));
}

TEST(Results, SummaryCountsOnlyTheDataSetsProblems) {
    auto set = problems({{"a", 1.0}, {"b", 2.0}, {"c", std::nullopt}, {"d", 4.0}});
    std::map<std::string, Record> by_id;
    by_id["a"] = finished("a", 1.0, "optimal", true);
    by_id["b"] = finished("b", std::nullopt, "infeasible", false);
    Record raised;
    raised.id = "c";
    raised.error = "RuntimeError: Empty model response.";
    raised.seconds = 3;
    by_id["c"] = raised;
    by_id["gone"] = finished("gone", 9.0, "optimal", true);  // recorded by an earlier run of another set

    Summary s = summarize(set, by_id, 2);
    EXPECT_EQ(s.total, 4u);
    EXPECT_EQ(s.attempted, 3u);
    EXPECT_EQ(s.correct, 1u);
    EXPECT_DOUBLE_EQ(s.accuracy, 1.0 / 3);  // the problem without a reference is left out
    EXPECT_EQ(s.compiled, 2u);
    EXPECT_EQ(s.solved, 1u);
    EXPECT_EQ(s.errors, 1u);
    EXPECT_EQ(s.without_reference, 1u);
    EXPECT_EQ(s.skipped_records, 2u);
    EXPECT_DOUBLE_EQ(*s.mean_iterations, 2.0);  // the raised run has no count
    EXPECT_DOUBLE_EQ(*s.mean_seconds, 2.0);     // (1.5 + 1.5 + 3) / 3

    auto todo = pending(set, by_id);
    ASSERT_EQ(todo.size(), 1u);
    EXPECT_EQ(todo[0]->id, "d");

    Summary empty = summarize({}, {}, 0);
    EXPECT_EQ(empty.accuracy, 0.0);
    EXPECT_FALSE(empty.mean_seconds.has_value());
}

TEST(Results, SummaryJsonAndTable) {
    auto set = problems({{"bakery", 190.0}, {"a-much-longer-problem-name-than-the-others-by-far", 2.5}});
    std::map<std::string, Record> by_id;
    by_id["bakery"] = finished("bakery", 190.0, "optimal", true);
    Summary s = summarize(set, by_id, 0);
    std::string text = summary_json(s, {"sample.jsonl", "openai", "gpt \"x\"", 5, true, 1e-4});
    json::Value v = json::parse(text);
    EXPECT_EQ(v.find("total")->number(), 2);
    EXPECT_EQ(v.find("accuracy")->number(), 0.5);
    EXPECT_EQ(v.find("model")->text(), "gpt \"x\"");
    EXPECT_TRUE(v.find("execution_check")->boolean());
    EXPECT_EQ(v.find("rel_tol")->number(), 1e-4);
    EXPECT_EQ(v.find("mean_iterations")->number(), 2);

    std::string table = results_table(set, by_id, s);
    EXPECT_EQ(
        table.substr(0, table.find('\n')),
        "id                                        expected  objective  status   correct  iterations  calls  assumed  "
        "seconds");
    EXPECT_NE(
        table.find(
            "\nbakery                                         190        190  optimal  yes               2      -        -      "
            "1.5\n"),
        std::string::npos)
        << table;
    EXPECT_NE(
        table.find(
            "\na-much-longer-problem-name-than-the-o...       2.5          -  not run  -                 -      -        -        "
            "-\n"),
        std::string::npos)
        << table;
    EXPECT_NE(table.find("Correct 1 of 2 (accuracy 50.0%); compiled 1, solved 1, errors 0, not run 1."),
              std::string::npos);
}

TEST(Results, ResumeReusesOnlyRecordsOfTheSameQuestionAndJudgesThemAgain) {
    auto set = problems({{"same", 10.0}, {"changed", 20.0}, {"old", 30.0}, {"new", 1.0}});
    for (Problem& p : set) p.question_hash = "h-" + p.id;
    RunKey run{"openai", "gpt-test", 3, false};
    std::map<std::string, Record> by_id;
    by_id["same"] = finished("same", 10.0005, "optimal", false);  // judged wrong under a tighter tolerance
    by_id["same"].expected = 10.0;
    by_id["same"].question_hash = "h-same";
    by_id["same"].run = run;
    by_id["changed"] = finished("changed", 20.0, "optimal", true);
    by_id["changed"].question_hash = "h-the-question-as-it-was";
    by_id["changed"].run = run;
    by_id["old"] = finished("old", 31.0, "optimal", true);  // an older file: no hash, no run, another reference
    by_id["old"].expected = 31.0;

    ResumePlan plan = plan_resume(set, by_id, run, 1e-4, false);
    EXPECT_FALSE(plan.conflict);
    ASSERT_EQ(plan.todo.size(), 2u);
    EXPECT_EQ(plan.todo[0]->id, "changed");
    EXPECT_EQ(plan.todo[1]->id, "new");
    EXPECT_EQ(plan.rerun, 1u);
    ASSERT_EQ(plan.reused.size(), 2u);
    EXPECT_TRUE(plan.reused.at("same").correct);  // 0.0005 off 10 is within 1e-4 * 10
    EXPECT_FALSE(plan.reused.at("old").correct);  // 31 is not the reference 30 any more
    EXPECT_EQ(plan.reused.at("old").expected, 30.0);
    EXPECT_EQ(plan.rejudged, (std::vector<std::string>{"same", "old"}));  // in data-set order

    // The same records under a stricter tolerance: judged wrong again, nothing to run again.
    EXPECT_FALSE(plan_resume(set, by_id, run, 1e-6, false).reused.at("same").correct);
}

TEST(Results, RecordsOfAnotherRunAreAConflictOrRunAgainWhenForced) {
    auto set = problems({{"a", 1.0}, {"b", 2.0}});
    std::map<std::string, Record> by_id;
    by_id["a"] = finished("a", 1.0, "optimal", true);
    by_id["a"].run = RunKey{"openai", "gpt-test", 3, false};
    by_id["b"] = finished("b", 2.0, "optimal", true);  // no run key: an older record, reused
    by_id["z"] = finished("z", 2.0, "optimal", true);  // not in this data set, but in the folder
    by_id["z"].run = RunKey{"openai", "gpt-test", 3, false};

    EXPECT_EQ(plan_resume(set, by_id, {"openai", "gpt-test", 3, false}, 1e-4, false).conflict, std::nullopt);
    struct Case {
        RunKey now;
        const char* says;
    } cases[] = {
        {{"ollama", "gpt-test", 3, false}, "provider 'openai' instead of 'ollama' (record 'a')"},
        {{"openai", "gpt-5", 3, false}, "model 'gpt-test' instead of 'gpt-5' (record 'a')"},
        {{"openai", "gpt-test", 5, false}, "3 iterations instead of 5 (record 'a')"},
        {{"openai", "gpt-test", 3, true}, "the execution check off instead of on (record 'a')"},
    };
    for (const Case& c : cases) {
        ResumePlan plan = plan_resume(set, by_id, c.now, 1e-4, false);
        EXPECT_EQ(plan.conflict, c.says);
        ResumePlan forced = plan_resume(set, by_id, c.now, 1e-4, true);
        ASSERT_EQ(forced.todo.size(), 1u);
        EXPECT_EQ(forced.todo[0]->id, "a");
        EXPECT_EQ(forced.rerun, 1u);
        EXPECT_EQ(forced.reused.count("b"), 1u);
    }
}

TEST(Results, QuestionHashAndRunKeyReadBack) {
    Record r = finished("a", 1.0, "optimal", true);
    r.question_hash = "0123abcd";
    r.run = RunKey{"google", "gemini \"x\"", 4, true};
    std::string line = record_line(r);
    EXPECT_NE(
        line.find(
            ", \"error\": null, \"provider_error\": false, \"verdict\": \"no_reference\", \"question_sha256\": \"0123abcd\", "
            "\"run\": {\"provider\": \"google\""),
        std::string::npos)
        << line;
    RecordedResults read = read_results(line);
    const Record& back = read.by_id.at("a");
    EXPECT_EQ(back.question_hash, "0123abcd");
    ASSERT_TRUE(back.run);
    EXPECT_TRUE(*back.run == *r.run);
}

TEST(Results, AssumptionOptionsAndSolverAreOfTheRunKey) {
    auto set = problems({{"a", 1.0}});
    Record r = finished("a", 1.0, "optimal", true);
    r.run = RunKey{"openai", "m", 2, false};
    // A record written without these options says nothing of them and
    // resumes a run without them.
    std::string plain = record_line(r);
    EXPECT_EQ(plain.find("assumptions\": true"), std::string::npos);
    EXPECT_EQ(plain.find("solver"), std::string::npos);
    RecordedResults old = read_results(plain);
    EXPECT_FALSE(plan_resume(set, old.by_id, *r.run, 1e-4, false).conflict);
    EXPECT_EQ(plan_resume(set, old.by_id, *r.run, 1e-4, false).reused.count("a"), 1u);

    struct Case {
        void (*change)(RunKey&);
        const char* says;  // what a resume without the change is told
    } cases[] = {
        {[](RunKey& k) { k.assumptions = true; }, "the assumptions step on instead of off (record 'a')"},
        {[](RunKey& k) { k.what_if = k.assumptions = true; }, "the assumptions step on instead of off (record 'a')"},
        {[](RunKey& k) { k.what_if_max = 5; }, "5 what-if requests instead of 3 (record 'a')"},
        {[](RunKey& k) { k.solver = "scip"; }, "solver 'scip' instead of 'highs' (record 'a')"},
    };
    for (const Case& c : cases) {
        Record changed = r;
        c.change(*changed.run);
        RecordedResults back = read_results(record_line(changed));
        const Record& read = back.by_id.at("a");
        ASSERT_TRUE(read.run);
        EXPECT_TRUE(*read.run == *changed.run) << record_line(changed);
        EXPECT_EQ(plan_resume(set, back.by_id, *r.run, 1e-4, false).conflict, c.says);
        ResumePlan forced = plan_resume(set, back.by_id, *r.run, 1e-4, true);
        EXPECT_EQ(forced.todo.size(), 1u);  // forced: run again, never reused
        EXPECT_TRUE(forced.reused.empty());
        EXPECT_FALSE(plan_resume(set, back.by_id, *changed.run, 1e-4, false).conflict);
    }
}

TEST(Results, ProviderErrorsAreNoAnswers) {
    auto set = problems({{"down", 1.0}, {"kept", 2.0}});
    std::map<std::string, Record> by_id;
    for (const char* id : {"down", "kept"}) {
        by_id[id] = finished(id, 0, "optimal", false);
        by_id[id].error = "RuntimeError: OpenAI request failed";
    }
    by_id["down"].provider_error = true;
    RunKey run{"openai", "gpt-test", 3, false};
    ResumePlan retried = plan_resume(set, by_id, run, 1e-4, false);
    ASSERT_EQ(retried.todo.size(), 1u);
    EXPECT_EQ(retried.todo[0]->id, "down");
    EXPECT_EQ(retried.retried, 1u);
    EXPECT_EQ(retried.reused.count("kept"), 1u);  // an error that is not the provider's is an outcome
    EXPECT_TRUE(plan_resume(set, by_id, run, 1e-4, false, false).todo.empty());

    // The flag survives a round trip and only goes with an error.
    RecordedResults back = read_results(record_line(by_id["down"]) + record_line(finished("fine", 1, "optimal", true)));
    EXPECT_TRUE(back.by_id.at("down").provider_error);
    EXPECT_FALSE(back.by_id.at("fine").provider_error);

    Summary s = summarize(set, by_id, 0, 0, 1);
    EXPECT_EQ(s.provider_errors, 1u);
    std::string table = results_table(set, by_id, s);
    std::string row = table.substr(table.find("\ndown") + 1);
    row = row.substr(0, row.find('\n'));
    EXPECT_NE(row.find(" error "), std::string::npos) << row;
}

TEST(Results, TheProviderIsDownOnlyWhenTheFirstRecordsAllSaySo) {
    Record down = finished("a", 0, "optimal", false), fine = finished("b", 0, "optimal", true);
    down.error = "ConnectionError";
    down.provider_error = true;
    EXPECT_TRUE(provider_is_down({down, down, down}, 3));
    EXPECT_FALSE(provider_is_down({down, down}, 3));        // not enough yet
    EXPECT_FALSE(provider_is_down({down, fine, down}, 3));  // one answer: the provider works
    EXPECT_FALSE(provider_is_down({fine, down, down}, 3));
    EXPECT_FALSE(provider_is_down({down, down, down}, 0));  // never
    EXPECT_TRUE(provider_is_down({down}, 1));
}

TEST(Results, RepeatsClassesCountsAndAssumptionsReadBack) {
    Record r = finished("p", 5, "optimal", true);
    r.expected = 5;
    r.repeat = 3;
    r.problem_class = "MILP";
    r.llm_calls = 4;
    r.repair_rounds = 2;
    r.tokens_in = 900;
    r.assumptions = std::vector<Assumption>{{"700", 5, "rent = 700;"}};
    r.samples = 3;
    r.sample = 2;
    r.confidence = 2.0 / 3;
    RecordedResults back = read_results(record_line(r));
    ASSERT_EQ(back.by_id.count("p#3"), 1u);
    const Record& b = back.by_id.at("p#3");
    EXPECT_EQ(b.repeat, 3);
    EXPECT_EQ(b.problem_class, "MILP");
    EXPECT_EQ(b.llm_calls, 4);
    EXPECT_EQ(b.repair_rounds, 2);
    EXPECT_EQ(b.tokens_in, 900);
    EXPECT_EQ(b.tokens_out, std::nullopt);
    EXPECT_EQ(b.samples, 3);
    EXPECT_EQ(b.sample, 2);
    EXPECT_EQ(b.confidence, 2.0 / 3);
    std::vector<Problem> one(1);
    one[0].id = "p";
    one[0].repeat = 3;
    one[0].expected = 5;
    EXPECT_EQ(summarize(one, back.by_id, 0).by_agreement.at("majority").correct, 1u);
    // A run without the alignment check is another run; records that do not say had it on.
    r.run = RunKey{"openai", "m", 2, false, false};
    Record off = read_results(record_line(r)).by_id.at("p#3");
    EXPECT_FALSE(off.run->alignment);
    ResumePlan plan = plan_resume({}, {{"p#3", off}}, RunKey{"openai", "m", 2, false, true}, 1e-4, false);
    EXPECT_EQ(plan.conflict, "the alignment check off instead of on (record 'p#3')");
    ASSERT_TRUE(b.assumptions);
    ASSERT_EQ(b.assumptions->size(), 1u);
    EXPECT_EQ((*b.assumptions)[0].line_text, "rent = 700;");
    EXPECT_NE(record_line(r).find("\"verdict\": \"correct\""), std::string::npos);
}

TEST(Summary, NoReferenceClassesRepeatsAndAssumptions) {
    // Two problems run twice; "c" has no reference.
    std::vector<Problem> ps;
    for (long long repeat : {1, 2}) {
        for (auto [id, expected, kind] :
             {std::tuple{"a", std::optional<double>(1.0), "LP"}, std::tuple{"b", std::optional<double>(2.0), "IP"},
              std::tuple{"c", std::optional<double>(), "IP"}}) {
            Problem p{id, id, "d", expected, ps.size() + 1};
            p.problem_class = kind;
            p.repeat = repeat;
            ps.push_back(p);
        }
    }
    std::map<std::string, Record> by_id;
    auto add = [&](const char* id, long long repeat, bool correct, bool assumed, long long calls) {
        Record r = finished(id, 1, correct ? "optimal" : "infeasible", correct);
        r.repeat = repeat;
        r.llm_calls = calls;
        r.repair_rounds = calls - 1;
        r.tokens_out = 10;
        r.assumptions = std::vector<Assumption>(assumed ? 1 : 0);
        by_id[r.key()] = r;
    };
    add("a", 1, true, false, 1);
    add("b", 1, true, true, 3);
    add("c", 1, false, false, 2);
    add("a", 2, true, false, 2);
    add("b", 2, false, true, 2);
    add("c", 2, false, true, 2);
    Summary s = summarize(ps, by_id, 0);
    EXPECT_EQ(s.total, 6u);
    EXPECT_EQ(s.without_reference, 2u);
    EXPECT_DOUBLE_EQ(s.accuracy, 0.75);  // 3 of the 4 runs with a reference
    EXPECT_EQ(s.repeats, 2u);
    EXPECT_EQ(s.accuracy_by_repeat, (std::vector<double>{1.0, 0.5}));
    EXPECT_NEAR(*s.accuracy_std, std::sqrt(0.125), 1e-12);
    EXPECT_EQ(s.by_class.at("LP").correct, 2u);
    EXPECT_EQ(s.by_class.at("IP").total, 2u);  // "c" is not judged
    EXPECT_EQ(s.with_assumptions.total, 2u);
    EXPECT_EQ(s.with_assumptions.correct, 1u);
    EXPECT_EQ(s.without_assumptions.correct, 2u);
    EXPECT_DOUBLE_EQ(*s.execution_rate, 0.5);  // the three optimal runs
    EXPECT_DOUBLE_EQ(*s.mean_llm_calls, 2.0);
    EXPECT_DOUBLE_EQ(*s.mean_repair_rounds, 1.0);
    EXPECT_EQ(s.tokens_out, 60);
    EXPECT_EQ(s.tokens_in, std::nullopt);
    std::string table = results_table(ps, by_id, s);
    EXPECT_NE(table.find("Correct 3 of 4 (accuracy 75.0%)"), std::string::npos) << table;
    EXPECT_NE(table.find("Accuracy over 2 repeats: 75.0% +- 35.4%"), std::string::npos) << table;
    EXPECT_NE(table.find("no_reference"), std::string::npos);
    EXPECT_NE(table.find("a#2"), std::string::npos);
}

// --------------------------------------------- readings of the assumptions step

TEST(Readings, TheAnswerIsJudgedAndTheReadingsCountWhenOneMatches) {
    // Three problems with known alternatives: the main answer is right; only an
    // alternative is; none is. A fourth listed nothing and is right.
    auto listed = [](std::optional<double> alternative, std::optional<double> answer = std::nullopt) {
        Reading one{"off at the start", "on at the start", "model line 4", "boundary_condition"};
        one.explored = true;
        one.status = "optimal";
        one.objective = alternative;
        one.answer = answer;
        Reading unexplored{"35 per unit", "", "data line 2", "invented_data"};
        return std::vector<Reading>{one, unexplored};
    };
    std::vector<Problem> set = problems({{"right", 7500}, {"shown", 7000}, {"missed", 1}, {"plain", 3}, {"old", 3}});
    std::map<std::string, Record> by_id;
    by_id["right"] = finished("right", 7500, "optimal", false);
    by_id["right"].readings = listed(7000);
    by_id["shown"] = finished("shown", 7500, "optimal", false);
    by_id["shown"].readings = listed(1234, 7000);  // an asked quantity: its answer is what counts
    TableReading changed{1, "on at the start", "optimal", 1234, 7000, "shown/model.alt1.mod", "shown/data.alt1.dat"};
    TableReading same{2, "per hour", "optimal", 7500, std::nullopt, std::nullopt, std::nullopt, true};
    by_id["shown"].what_if = WhatIfTable{{0, "", "optimal", 7500}, {changed, same}, 1};
    by_id["missed"] = finished("missed", 7500, "optimal", false);
    by_id["missed"].readings = listed(std::nullopt);
    by_id["missed"].readings->front().status = std::nullopt;  // the alternative did not compile
    by_id["plain"] = finished("plain", 9, "optimal", false);
    by_id["plain"].answer = 3;  // judged in place of the objective
    by_id["plain"].readings.emplace();
    by_id["old"] = finished("old", 3, "optimal", false);  // no assumptions step: not counted among the readings
    for (const Problem& p : set) {
        by_id[p.id].expected = p.expected;
        judge(by_id[p.id], 1e-4);
    }
    EXPECT_TRUE(by_id["right"].correct && !by_id["right"].readings->front().matches);
    EXPECT_TRUE(!by_id["shown"].correct && by_id["shown"].readings->front().matches);
    EXPECT_TRUE(by_id["plain"].correct && by_id["old"].correct);
    EXPECT_FALSE(right_among_readings(by_id["missed"]));
    EXPECT_TRUE(by_id["shown"].what_if->alternatives[0].matches && !by_id["shown"].what_if->main.matches);

    // Read back as written, then judged again as a resumed run does.
    std::string lines;
    for (const auto& [id, r] : by_id) lines += record_line(r);
    RecordedResults back = read_results(lines);
    EXPECT_EQ(back.by_id.at("shown").readings->front().answer, 7000);
    EXPECT_FALSE(back.by_id.at("shown").readings->back().explored);
    EXPECT_EQ(back.by_id.at("plain").answer, 3);
    EXPECT_FALSE(back.by_id.at("old").readings);
    EXPECT_EQ(record_line(back.by_id.at("shown")), record_line(by_id["shown"]));
    ResumePlan plan = plan_resume(set, back.by_id, RunKey{}, 1e-4, false);
    EXPECT_TRUE(plan.rejudged.empty());

    Summary s = summarize(set, plan.reused, 0);
    EXPECT_EQ(s.correct, 3u);  // right, plain, old
    EXPECT_EQ(s.among_readings.total, 4u);
    EXPECT_EQ(s.among_readings.correct, 3u);  // right, shown, plain
    std::string json = summary_json(s, RunSettings{});
    EXPECT_NE(json.find("\"readings_changing_answer\": {\"total\": 1, \"problems\": 1, \"per_problem\": 1}"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"right_among_readings\": {\"total\": 4, \"correct\": 3, \"accuracy\": 0.75}"),
              std::string::npos);
    EXPECT_NE(results_table(set, plan.reused, s).find("Right answer among the shown readings: 3 of 4 (75.0%).\n"),
              std::string::npos);
    // A run without the step writes neither.
    Summary none = summarize(set, {{"old", by_id["old"]}}, 0);
    EXPECT_EQ(summary_json(none, RunSettings{}).find("right_among_readings"), std::string::npos);
}
