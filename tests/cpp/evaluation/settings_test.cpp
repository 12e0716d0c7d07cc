#include "evaluation/settings.hpp"
#include "evaluation/folder.hpp"
#include "evaluation/record_map.hpp"
#include "scratch_folder.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

using namespace tarvok::evaluation;

namespace {

Arguments usable() {
    Arguments a;
    a.solver = "highs";
    a.solvers = {"highs", "scip"};
    a.solver_choices = "'highs' or 'scip'";
    return a;
}

std::optional<std::string> refused(Arguments a) {
    auto refusal = check_arguments(a);
    if (!refusal) return std::nullopt;
    return refusal_text(*refusal, "X");
}

}  // namespace

TEST(Arguments, TheFirstValueRefusedInArgumentOrderIsReported) {
    Arguments a = usable();
    a.settings.iterations = 0;
    a.settings.samples = 0;
    EXPECT_EQ(refused(a), "run_evaluation() argument 'iterations' must be at least 1, not X");
    a.settings.iterations.reset();
    EXPECT_EQ(refused(a), "run_evaluation() argument 'samples' must be at least 1, not X");
    a = usable();
    a.settings.rel_tol = std::nan("");
    EXPECT_EQ(refused(a), "run_evaluation() argument 'rel_tol' must be a finite number, at least 0, not X");
    a = usable();
    a.settings.stop_after_errors = -1;
    EXPECT_EQ(refused(a), "run_evaluation() argument 'stop_after_errors' must be at least 0, not X");
    a = usable();
    a.fields = {{"answer", "y"}, {"question", ""}};
    EXPECT_EQ(refused(a), "run_evaluation() argument 'fields' must be a map of field names (non-empty texts), not X");
    a.fields = {{"answer", std::nullopt}};
    EXPECT_EQ(refused(a), "run_evaluation() argument 'fields' must be a map of field names (non-empty texts), not X");
    a.fields = {{"reference", "y"}};
    EXPECT_EQ(refused(a),
              "run_evaluation() argument 'fields' must be a map with the keys 'question', 'answer', 'id' and 'class', "
              "not X");
    a = usable();
    a.solver = "glpk";
    EXPECT_EQ(refused(a), "run_evaluation() argument 'solver' must be 'highs' or 'scip', not X");
    a.solver.reset();  // not a text
    EXPECT_TRUE(refused(a));
}

TEST(Arguments, ReplayMustLieApartFromTheOutputFolderEitherWay) {
    Arguments a = usable();
    a.replay = {{"/runs/old", "/runs/new", "/runs"}};
    EXPECT_FALSE(refused(a));
    a.replay = {{"/runs/out/talks", "/runs/out", "/runs/out"}};
    EXPECT_TRUE(refused(a));
    a.replay = {{"/runs", "/runs/out", "/runs"}};
    EXPECT_TRUE(refused(a));
}

TEST(Arguments, CheckedSettingsAreCompleted) {
    Arguments a = usable();
    a.settings.what_if = true;
    a.solver = "scip";
    a.fields = {{"class", "kind"}, {"id", "name"}};
    ASSERT_FALSE(check_arguments(a));
    EXPECT_TRUE(a.settings.assumptions);  // what-if needs the listed assumptions
    EXPECT_EQ(a.settings.solver, "scip");
    EXPECT_EQ(a.settings.fields.problem_class, "kind");
    EXPECT_EQ(a.settings.fields.id, "name");
}

TEST(Dataset, TheExtensionAloneSaysCsv) {
    EXPECT_EQ(format_of("sets/a.CSV"), Format::Csv);
    EXPECT_EQ(format_of("a.csv.jsonl"), Format::Json);
    EXPECT_EQ(format_of("csv.d/.csv"), Format::Json);  // a hidden file has no extension
    EXPECT_EQ(format_of("plain"), Format::Json);
    Settings s;
    s.limit = 1;
    s.repeat = 2;
    Dataset d = load_dataset("id,question\na,Q1\nb,Q2\n", "set.csv", s);
    ASSERT_EQ(d.problems.size(), 2u);
    EXPECT_EQ(d.problems[1].repeat, 2);
    EXPECT_THROW(
        {
            try {
                load_dataset("[{", "set.json", s);
            } catch (const DatasetError& e) {
                EXPECT_EQ(std::string(e.what()).rfind("cannot use data set set.json: ", 0), 0u);
                throw;
            }
        },
        DatasetError);
}

TEST(CommandFailures, EachStepMapsOnlyWhatItExpects) {
    using enum Raised;
    EXPECT_FALSE(command_failure(Step::Settings, Value, "v", "/o", std::nullopt));
    EXPECT_EQ(command_failure(Step::Settings, Value, "v", "/o", "r")->message,
              "--replay r and --out must not hold one another: the run rewrites the transcripts of --out");
    EXPECT_EQ(command_failure(Step::Provider, Other, "no key", "/o", {})->status, tarvok::ExitStatus::LlmFailure);
    EXPECT_FALSE(command_failure(Step::Provider, NotOrdinary, "", "/o", {}));
    EXPECT_FALSE(command_failure(Step::Solver, Runtime, "", "/o", {}));
    EXPECT_EQ(command_failure(Step::Prepare, OS, "denied", "/o", {})->message, "cannot write to /o: denied");
    EXPECT_EQ(command_failure(Step::Prepare, Runtime, "busy", "/o", {})->message, "busy");
    EXPECT_FALSE(command_failure(Step::Run, Value, "", "/o", {}));
}

TEST(RecordMap, VotingSumsTheCountsAndKeepsAProviderErrorAsItIs) {
    Record a, b;
    a.llm_calls = 2;
    b.llm_calls = 3;
    b.tokens_in = 40;
    b.status = "optimal";
    b.objective = 5;
    Record picked = voted({a, b}, {1, 0.5});
    EXPECT_EQ(picked.llm_calls, 5);
    EXPECT_EQ(picked.tokens_in, 40);
    EXPECT_FALSE(picked.repair_rounds);
    EXPECT_EQ(picked.samples, 2);
    EXPECT_EQ(picked.sample, 2);
    EXPECT_EQ(picked.confidence, 0.5);
    b.llm_calls = LLONG_MAX;
    EXPECT_EQ(voted({a, b}, {1, 0.5}).llm_calls, LLONG_MAX);  // saturates
    a.error = "ConnectionError: down";
    a.provider_error = true;
    EXPECT_EQ(voted({a, b}, {0, 0}).samples, 1);

    EXPECT_EQ(sample_outcome(b).objective, 5);
    b.status = "infeasible";
    EXPECT_FALSE(sample_outcome(b).objective);

    Record read;
    read.provider_error = true;  // without an error it says nothing
    read.sample = 3;
    read.confidence = 1;
    settle(read);
    EXPECT_FALSE(read.provider_error);
    EXPECT_EQ(read.sample, 1);
    EXPECT_FALSE(read.confidence);
}

TEST(RecordMap, TheWhatIfAnswersGoToTheReadingsTheyExplored) {
    std::vector<Reading> readings(3);
    WhatIfTable table;
    table.alternatives.resize(3);
    table.alternatives[0].index = 3;  // changes the answer: listed first
    table.alternatives[0].objective = 7;
    table.alternatives[1].index = 1;
    table.alternatives[1].status = "infeasible";
    table.alternatives[2].index = 9;  // names no listed reading
    explore(readings, table);
    EXPECT_TRUE(readings[0].explored && readings[2].explored);
    EXPECT_FALSE(readings[1].explored);
    EXPECT_EQ(readings[2].objective, 7);
    EXPECT_EQ(readings[0].status, "infeasible");
}

using Folder = tarvok::testing::ScratchFolder;

TEST_F(Folder, APreparedFolderIsLockedAndItsRecordsWeighed) {
    Problem p;
    p.id = "a";
    p.expected = 1;
    RunKey key{"openai", "m", 3};
    Settings s;
    std::filesystem::path out = root_ / "out";
    std::filesystem::create_directories(out);
    {
        AppendedFile results(out / kResultsFile);
        Record r;
        r.id = "a";
        r.run = RunKey{"openai", "other", 3};
        results.append(record_line(r));
    }
    EXPECT_THROW(prepare_folder(out, "OUT", {p}, key, s, root_ / "set.jsonl"), FolderConflict);
    s.force = true;
    Prepared ready = prepare_folder(out, "OUT", {p}, key, s, root_ / "set.jsonl");
    EXPECT_EQ(ready.plan.todo.size(), 1u);
    try {
        prepare_folder(out, "OUT", {p}, key, s, root_ / "set.jsonl");
        ADD_FAILURE() << "a second run took the folder";
    } catch (const FolderBusy& e) {
        EXPECT_NE(std::string(e.what()).find("OUT/.tarvok-eval.lock"), std::string::npos);
    }
    EXPECT_THROW(AppendedFile(root_ / "missing" / kResultsFile), std::filesystem::filesystem_error);
}

TEST_F(Folder, NothingIsWrittenThroughALinkInTheOutputFolder) {
    namespace fs = std::filesystem;
    fs::path out = root_ / "out", outside = root_ / "outside";
    fs::create_directories(outside);
    fs::create_directories(out / "p1");
    fs::create_symlink(outside / "results.jsonl", out / kResultsFile);
    Settings s;
    EXPECT_THROW(prepare_folder(out, "OUT", {}, RunKey{}, s, root_ / "set.jsonl"), fs::filesystem_error);
    EXPECT_THROW(AppendedFile{out / kResultsFile}, fs::filesystem_error);
    // A problem's folder is the run's own: the links in it go, its files stay.
    fs::create_symlink(outside / "model.mod", out / "p1" / kModelFile);
    write(out / "p1" / kProgressLog, "kept");
    own_folder(out / "p1");
    EXPECT_FALSE(fs::exists(fs::symlink_status(out / "p1" / kModelFile)));
    EXPECT_EQ(read(out / "p1" / kProgressLog), "kept");
    EXPECT_TRUE(fs::is_empty(outside));
}

TEST(Parser, KindsBecomeKeywordsAndTheSolversTheChoice) {
    auto keywords = [](const std::string& name) {
        for (const ParserArgument& a : parser_arguments("a or b", {"highs", "scip"}))
            if (a.name == name) return a.keywords;
        return std::vector<ParserKeyword>{};
    };
    auto value = [&](const std::string& name, const std::string& key) {
        for (const ParserKeyword& k : keywords(name))
            if (k.key == key) return k.value;
        return ParserKeyword{}.value;
    };
    EXPECT_EQ(std::get<std::vector<std::string>>(value("--solver", "choices")).size(), 2u);
    EXPECT_EQ(std::get<std::string>(value("--solver", "default")), "highs");
    EXPECT_NE(std::get<std::string>(value("--solver", "help")).find("highs, scip"), std::string::npos);
    EXPECT_EQ(std::get<std::string>(value("--provider", "help")).rfind("a or b", 0), 0u);
    EXPECT_EQ(std::get<long long>(value("--jobs", "default")), 1);
    EXPECT_EQ(std::get<double>(value("--rel-tol", "default")), 1e-4);
    EXPECT_EQ(std::get<std::string>(value("--json", "action")), "store_true");
    for (const ParserKeyword& k : keywords("--limit")) EXPECT_NE(k.key, "default");  // none: no limit
}

TEST(Arguments, ProblemsGetTheSolverAndAssumptionOptionsOnlyWhenNotTheDefault) {
    auto keys = [](const Settings& s) {
        std::string out;
        each_problem_setting(s, [&](const char* key, const auto&) { out += std::string(key) + " "; });
        return out;
    };
    Settings s;
    EXPECT_EQ(keys(s), "model provider iterations execution_check timeout alignment_check samples rel_tol ");
    s.solver = "scip";
    s.assumptions = true;
    EXPECT_EQ(keys(s).substr(82), "solver assumptions what_if what_if_max ");
}

TEST(Command, OptionsMakeTheRunsArgumentsAsRunEvaluationTakesThem) {
    for (const char* name : {"dataset", "--rel-tol", "--no-retry-errors"})
        EXPECT_EQ(parsed_name(name).find('-'), std::string::npos);
    EXPECT_EQ(parsed_name("--field-question"), "field_question");

    ParsedArguments plain{{"jobs", 2LL},
                          {"rel_tol", 1e-4},
                          {"stop_after_errors", 3LL},
                          {"what_if_max", 3LL},
                          {"solver", std::string("highs")}};
    Arguments a = command_arguments(plain);
    EXPECT_FALSE(a.settings.provider);
    EXPECT_FALSE(a.settings.execution_check);  // the library's own, as the flags leave them
    EXPECT_FALSE(a.settings.alignment_check);
    EXPECT_TRUE(a.settings.retry_errors);
    EXPECT_TRUE(a.settings.progress);
    EXPECT_EQ(a.settings.jobs, 2);
    EXPECT_EQ(a.solver, "highs");

    ParsedArguments flags = plain;
    flags.insert({{"replay", std::string("talks")},
                  {"provider", std::string("openai")},
                  {"execution_check", true},
                  {"no_alignment", true},
                  {"no_retry_errors", true},
                  {"field_answer", std::string("y")},
                  {"timeout", 2.5}});
    a = command_arguments(flags);
    EXPECT_EQ(a.settings.provider, "replay");  // --replay answers every request
    EXPECT_EQ(a.settings.execution_check, true);
    EXPECT_EQ(a.settings.alignment_check, false);
    EXPECT_FALSE(a.settings.retry_errors);
    EXPECT_EQ(a.settings.timeout, 2.5);
    ASSERT_EQ(a.fields.size(), 1u);
    EXPECT_EQ(a.fields[0].first, "answer");

    CommandOptions o = command_options(flags);
    EXPECT_EQ(o.provider, "openai");
    EXPECT_EQ(o.replay, "talks");
    ASSERT_EQ(o.counts.size(), std::size(kCountOptions));
    EXPECT_EQ(o.counts[0], (std::pair<std::string, std::optional<long long>>{"--jobs", 2}));
    EXPECT_FALSE(o.counts[1].second);  // --iterations not given
    EXPECT_EQ(o.fields, (std::vector<std::pair<std::string, std::string>>{{"answer", "y"}}));
}

namespace {

const tarvok::data::Value& member(const tarvok::data::Value& object, const std::string& key) {
    for (const auto& [name, value] : object.members())
        if (name == key) return value;
    throw std::out_of_range(key);
}

}  // namespace

TEST(RecordMap, ARecordIsHandedOverWithItsFieldsInOrderAndItsNumbersOfTheirKind) {
    Record r;
    r.id = "p1";
    r.seconds = 2;
    r.assumptions = std::vector<Assumption>{{"7", 3, "cap = 7;"}};
    tarvok::data::Value v = value_of(r);
    ASSERT_EQ(v.kind(), tarvok::data::Value::Kind::Object);
    EXPECT_EQ(v.members().front().first, "id");
    EXPECT_EQ(v.members().back().first, "seconds");
    EXPECT_EQ(member(v, "seconds").kind(), tarvok::data::Value::Kind::Number);  // 2.0, not 2
    EXPECT_EQ(member(v, "samples").kind(), tarvok::data::Value::Kind::Integer);
    EXPECT_EQ(member(v, "objective").kind(), tarvok::data::Value::Kind::Null);
    EXPECT_EQ(member(v, "compile_errors").kind(), tarvok::data::Value::Kind::Array);
    EXPECT_EQ(member(member(v, "assumptions").items().at(0), "text").text(), "cap = 7;");
}

TEST(RunPlan, TheStartIsToldOnlyWhenTheProgressShowsAndTheSummaryShowsTheHiddenNames) {
    RunConfig c;
    c.provider_name = "openai";
    c.iterations = 4;
    c.progress = false;
    c.dataset_name = c.dataset_shown = "set.jsonl";
    c.model = "gpt-secret";
    c.model_shown = "gpt-****";
    c.results_name = "out/results.jsonl";
    c.execution_check_made = true;
    Dataset dataset;
    dataset.problems.resize(2);
    Prepared prepared;
    RunPlan quiet = run_plan(c, dataset, prepared);
    EXPECT_FALSE(quiet.start);
    EXPECT_EQ(quiet.settings.model, "gpt-****");
    EXPECT_EQ(quiet.settings.iterations, 4);
    EXPECT_TRUE(quiet.settings.execution_check);

    c.progress = true;
    RunPlan told = run_plan(c, dataset, prepared);
    ASSERT_TRUE(told.start);
    EXPECT_EQ(told.start->problems, 2u);
    EXPECT_EQ(told.start->model, "gpt-secret");
    EXPECT_EQ(told.start->results_path, "out/results.jsonl");
}
