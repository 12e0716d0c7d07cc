#include "evaluation/runner.hpp"

#include "common/files.hpp"
#include "common/json.hpp"
#include "evaluation/folder.hpp"
#include "evaluation/settings.hpp"
#include "evaluation/vote.hpp"
#include "evaluation/work_queue.hpp"

#include <algorithm>
#include <cmath>

namespace tarvok::evaluation {

std::optional<std::string> command_option_fault(const CommandOptions& o) {
    for (const auto& [option, value] : o.counts)
        if (value && *value < 1) return option + " must be at least 1";
    if (!(o.rel_tol >= 0) || !std::isfinite(o.rel_tol)) return "--rel-tol must be at least 0";
    if (o.timeout && !(*o.timeout > 0 && std::isfinite(*o.timeout))) return "--timeout must be a positive number";
    bool replay_named = o.provider_key && *o.provider_key == "replay";
    if (o.replay && o.provider && !replay_named)
        return "--replay answers requests itself; it cannot go with --provider " + *o.provider;
    if (!o.replay && replay_named && !o.replay_configured)
        return "--provider replay needs --replay PATH (a transcript or a folder of them)";
    if (o.replay && o.replay_refusal) return o.replay_refusal;
    if (o.stop_after_errors < 0) return "--stop-after-errors must be at least 0";
    if (o.what_if_max < 0) return "--what-if-max must be at least 0";
    if (o.provider && !o.provider_known)
        return "unknown provider '" + *o.provider + "' (choose " + o.provider_choices + ")";
    for (const auto& [key, field] : o.fields)
        if (field.empty()) return "--field-" + key + " must name a field";
    return std::nullopt;
}

const std::vector<ArgumentSpec>& eval_arguments() {
    using K = ArgumentSpec::Kind;
    static const std::vector<ArgumentSpec> arguments{
        {"dataset", K::Positional, "DATASET", 0,
         "a JSON Lines file, a JSON array of records or a .csv file with a header row (default: the shipped "
         "sample set)"},
        {"--out", K::Required, "DIR", 0,
         "folder for each problem's files, results.jsonl and summary.json; a second run with the same folder "
         "resumes"},
        {"--provider", K::Text, "NAME", 0, "{providers} (default: inferred from the model name)"},
        {"--model", K::Text, "NAME", 0, "LLM model name (default: the library's MODEL_NAME)"},
        {"--jobs", K::Int, "N", 1, "problems run at once (default: 1)"},
        {"--iterations", K::Int, "K", NAN, "iterations of the loop per problem (default: MAX_ITERATIONS)"},
        {"--execution-check", K::Flag, nullptr, 0,
         "solve every compiling model inside the loop and revise one that is infeasible or unbounded"},
        {"--rel-tol", K::Float, "T", 1e-4, "an answer is correct within T * max(1, |reference|) (default: 1e-4)"},
        {"--limit", K::Int, "N", NAN, "run only the first N problems"},
        {"--timeout", K::Float, "SECONDS", NAN,
         "most seconds one LLM request may take (default: the library's REQUEST_TIMEOUT)"},
        {"--json", K::Flag, nullptr, 0, "print the summary as JSON instead of the table"},
        {"--max-size", K::Int, "N", NAN,
         "refuse a model that would expand to more than N columns or rows, or 10 N nonzeros "
         "(default: tarvok_core.MAX_SIZE)"},
        {"--replay", K::Text, "PATH", 0,
         "answer every request with the reply recorded for its prompt in PATH (a transcript, or a folder "
         "searched for *.jsonl, such as the --out of an earlier run); implies --provider replay"},
        {"--no-retry-errors", K::Flag, nullptr, 0,
         "keep the records of problems that provider errors ended (default: run them again)"},
        {"--stop-after-errors", K::Int, "N", 3,
         "stop with status 5 when the first N problems all fail with provider errors (default: 3; 0: never)"},
        {"--field-question", K::Text, "NAME", 0,
         "the field that holds each problem's description (default: the first of description, question, "
         "en_question, problem)"},
        {"--field-answer", K::Text, "NAME", 0,
         "the field that holds the reference optimum (default: the first of objective, answer, en_answer, "
         "optimal_value)"},
        {"--field-id", K::Text, "NAME", 0, "the field that holds each problem's id (default: id)"},
        {"--field-class", K::Text, "NAME", 0,
         "the field that holds each problem's class, for accuracy per class (default: the first of "
         "problem_class, class, category)"},
        {"--no-alignment", K::Flag, nullptr, 0, "skip the alignment check (a compiling pair is then the answer)"},
        {"--repeat", K::Int, "K", 1,
         "run each problem K times and report the mean and standard deviation of the accuracy (default: 1)"},
        {"--samples", K::Int, "N", 1,
         "generate each problem N times and answer with the objective most of them reach (ties: fewer "
         "repairs); the share that agrees is its confidence (default: 1)"},
        {"--force", K::Flag, nullptr, 0,
         "run in an --out that holds a run with another provider, model or settings; its problems run again"},
        {"--assumptions", K::Flag, nullptr, 0,
         "ask which assumptions each final model makes; records keep them, and a model's answer is judged"},
        {"--what-if", K::Flag, nullptr, 0,
         "also solve each alternative reading; the summary says how often the reference was among the shown "
         "readings"},
        {"--what-if-max", K::Int, "K", 3, "at most K what-if requests per problem (default: 3)"},
        {"--solver", K::Choice, nullptr, 0,
         "the solver of every solve: {solvers} (default: highs; scip needs the scip extra)"},
    };
    return arguments;
}

std::vector<ParserArgument> parser_arguments(const std::string& providers, const std::vector<std::string>& solvers) {
    using K = ArgumentSpec::Kind;
    std::vector<ParserArgument> out;
    for (const ArgumentSpec& a : eval_arguments()) {
        std::string help = a.help;
        if (auto at = help.find("{providers}"); at != std::string::npos) help.replace(at, 11, providers);
        std::vector<ParserKeyword> k;
        if (a.kind == K::Choice) {
            // The solver module's names, the first the default (as `tarvok run --solver`).
            std::string listed;
            for (const std::string& name : solvers) listed += (listed.empty() ? "" : ", ") + name;
            help.replace(help.find("{solvers}"), 9, listed);
            k.push_back({"choices", solvers});
            if (!solvers.empty()) k.push_back({"default", solvers.front()});
        }
        if (a.metavar) k.push_back({"metavar", std::string(a.metavar)});
        if (a.kind == K::Positional) k.push_back({"nargs", std::string("?")});
        if (a.kind == K::Required) k.push_back({"required", true});
        if (a.kind == K::Flag) k.push_back({"action", std::string("store_true")});
        if (a.kind == K::Int || a.kind == K::Float)
            k.push_back({"type", std::string(a.kind == K::Int ? "int" : "float"), true});
        if (a.kind == K::Int && !std::isnan(a.default_value))
            k.push_back({"default", static_cast<long long>(a.default_value)});
        if (a.kind == K::Float && !std::isnan(a.default_value)) k.push_back({"default", a.default_value});
        k.push_back({"help", help});
        out.push_back({a.name, std::move(k)});
    }
    return out;
}

bool assign_field(Fields& fields, const std::string& key, const std::string& field) {
    if (key == "question")
        fields.question = field;
    else if (key == "answer")
        fields.answer = field;
    else if (key == "id")
        fields.id = field;
    else if (key == "class")
        fields.problem_class = field;
    else
        return false;
    return true;
}

void cut_and_repeat(std::vector<Problem>& problems, std::optional<long long> limit, long long repeat) {
    if (limit && static_cast<long long>(problems.size()) > *limit) problems.resize(static_cast<std::size_t>(*limit));
    if (repeat <= 1) return;
    std::vector<Problem> repeated;
    repeated.reserve(problems.size() * static_cast<std::size_t>(repeat));
    for (long long r = 1; r <= repeat; ++r) {
        for (const Problem& p : problems) {
            repeated.push_back(p);
            repeated.back().repeat = r;
        }
    }
    problems = std::move(repeated);
}

std::string problem_folder(const Problem& problem) {
    if (problem.repeat > 1) return problem.folder + "/repeat-" + std::to_string(problem.repeat);
    return problem.folder;
}

std::string sample_folder(long long k) { return k == 1 ? "" : "sample-" + std::to_string(k); }

std::string bad_record_line(const std::string& dataset, const BadRecord& bad) {
    std::string where = "record " + std::to_string(bad.record);
    if (bad.line) where += " (line " + std::to_string(bad.line) + ")";
    return "tarvok eval: skipped " + where + " of " + dataset + ": " + bad.reason;
}

std::string cut_text(std::string text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;  // a whole character
    return text.substr(0, cut) + "...";
}

std::string raised_text(const std::string& type, const std::string& message) {
    return cut_text(type + (message.empty() ? "" : ": " + message), 4000);
}

SamplePick pick_sample(const std::vector<SampleOutcome>& samples, double rel_tol) {
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (samples[i].provider_error) return {i, 0};
    std::vector<Candidate> candidates;
    for (const SampleOutcome& one : samples) {
        Candidate c;
        if (!one.raised && one.status == "optimal" && one.objective) c.objective = one.objective;
        if (one.repairs) c.repairs = *one.repairs;
        candidates.push_back(c);
    }
    Vote vote = evaluation::vote(candidates, rel_tol);
    SamplePick pick{samples.size() - 1, vote.confidence};
    if (vote.chosen) {
        pick.index = *vote.chosen;
        return pick;
    }
    for (std::size_t i = samples.size(); i-- > 0;)
        if (!samples[i].raised) {
            pick.index = i;
            break;
        }
    return pick;
}

std::string start_line(const StartFacts& f) {
    std::string line =
        "tarvok eval: " + std::to_string(f.problems) + " problems from " + f.dataset + ", model " + f.model;
    if (f.recorded) line += "; " + std::to_string(f.recorded) + " already recorded in " + f.results_path;
    if (f.rerun) line += "; " + std::to_string(f.rerun) + " recorded for another question or run, to run again";
    if (f.retried) line += "; " + std::to_string(f.retried) + " ended by provider errors, to try again";
    return line;
}

RunTally::RunTally(std::map<std::string, Record> reused, std::size_t total, long long stop_after_errors)
    : records_(std::move(reused)), total_(total),
      stop_after_(static_cast<std::size_t>(std::max(0LL, stop_after_errors))) {
    done_ = records_.size();
    for (const auto& [key, r] : records_) {
        correct_ += r.correct;
        judged_ += r.expected.has_value();
    }
}

std::optional<std::string> RunTally::finish(const Record& record) {
    ++done_;
    correct_ += record.correct;
    judged_ += record.expected.has_value();
    if (first_finished_.size() < stop_after_) first_finished_.push_back(record);
    records_[record.key()] = record;
    if (!provider_is_down(first_finished_, stop_after_)) return std::nullopt;
    // One line: the last error's first line, cut short.
    std::string last = first_finished_.back().error.value_or("");
    std::size_t cut = std::min(last.find('\n'), std::size_t{300});
    while (cut < last.size() && cut > 0 && (static_cast<unsigned char>(last[cut]) & 0xC0) == 0x80) --cut;
    last = last.substr(0, cut);
    return "the first " + std::to_string(first_finished_.size()) +
           " problems failed with provider errors (the last: " + last +
           "); stopped; a run with the same --out tries them again";
}

std::string RunTally::finished_line(const Record& r) const {
    std::string outcome = r.error ? (r.provider_error ? "provider error " : "raised ") + *r.error : verdict(r);
    if (!r.error) {
        outcome += " (" + r.status.value_or(r.compiled && !*r.compiled ? "not compiled" : "not solved");
        if (r.objective) outcome += ", objective " + json::float_repr(*r.objective);
        outcome += ")";
    }
    return "[" + std::to_string(done_) + "/" + std::to_string(total_) + "] " + (r.repeat > 1 ? r.key() : r.id) + ": " +
           outcome + "; accuracy so far " + std::to_string(correct_) + "/" + std::to_string(judged_);
}

std::string busy_message(const std::string& out_dir, const std::string& lock_path) {
    return "another tarvok eval is running with the output folder " + out_dir + " (it holds " + lock_path +
           "); wait for it to end, or choose another folder";
}

std::string conflict_message(const std::string& out_dir, const std::string& conflict) {
    return out_dir + " holds a run made with other settings: " + conflict +
           "; choose another folder, or force this run there (--force, force=True), which runs "
           "the problems recorded with other settings again";
}

std::string stopping_line(std::size_t running) {
    return "tarvok eval: stopping " + std::to_string(running) + " running problem" + (running == 1 ? "" : "s") +
           " (Ctrl-C again to quit at once)";
}

const char* const kInterruptedLine =
    "tarvok eval: interrupted; finished problems are recorded, and a second run with the same --out resumes";

RunOutcome run_problems(RunHost& host, const RunPlan& plan, std::shared_ptr<WorkQueue>& queue, Interrupt* interrupt) {
    const ResumePlan& resume = *plan.resume;
    AppendedFile results(plan.folder / kResultsFile);
    if (!plan.results_end_in_newline) results.append("\n");
    // A reused record judged otherwise now (another reference or tolerance)
    // is written again, so that the file's last word on it is this run's.
    for (const std::string& id : resume.rejudged) results.append(record_line(resume.reused.at(id)));
    RunTally tally(resume.reused, plan.problems->size(), plan.stop_after_errors);
    RunOutcome out;
    auto finish = [&] {
        out.records = tally.records();
        out.summary = summarize(*plan.problems, out.records, plan.bad_records, resume.rerun, resume.retried);
        out.summary_text = summary_json(out.summary, plan.settings);
        if (plan.progress) host.show(tally, true);
        files::write_file_atomically(plan.folder / kSummaryFile, out.summary_text, files::Existing::Replace);
    };
    if (plan.start) {
        StartFacts facts = *plan.start;
        for (const BadRecord& bad : *plan.bad) host.write(true, bad_record_line(facts.dataset, bad));
        facts.recorded = tally.done();
        facts.rerun = resume.rerun;
        facts.retried = resume.retried;
        host.write(true, start_line(facts));
    }
    // No further problem starts; the running ones end at their next step.
    auto stop = [&] {
        if (queue) queue->stop();
    };
    try {
        WorkerPlan workers = plan_workers(resume.todo, plan.jobs);
        queue = std::make_shared<WorkQueue>(resume.todo.size(), workers.names.size());
        host.start(queue, workers, tally);
        for (std::size_t remaining = resume.todo.size(); remaining > 0 && !out.provider_down; --remaining) {
            Finished done = queue->next(interrupt);
            const Problem& problem = *resume.todo.at(done.index);
            Record& r = done.record;
            r.id = problem.id;
            r.repeat = problem.repeat;
            r.problem_class = problem.problem_class;
            r.expected = problem.expected;
            judge(r, plan.rel_tol);
            r.question_hash = problem.question_hash;
            r.run = plan.key;
            results.append(record_line(r));
            out.provider_down = tally.finish(r);
            if (plan.progress && !host.show(tally, false)) host.write(true, tally.finished_line(r));
        }
        if (out.provider_down) stop();
    } catch (...) {
        stop();
        try {
            finish();
        } catch (...) {  // the first failure is the one raised
        }
        throw;
    }
    results.close();
    finish();
    if (out.provider_down) queue->wait_for_workers(interrupt);  // their records are not kept
    return out;
}

const Face kRunEvaluationFace{
    "run_evaluation",
    "dataset, out_dir, *, provider=None, model=None, jobs=1, iterations=None, execution_check=None, "
    "rel_tol=0.0001, limit=None, progress=True, force=False, replay=None, retry_errors=True, "
    "stop_after_errors=3, fields=None, alignment_check=None, repeat=1, samples=1, assumptions=False, "
    "what_if=False, what_if_max=3, solver='highs'",
    "Run the generation loop on every problem of a data set and measure answer accuracy.\n\n"
    "dataset is a JSON Lines file, a JSON array of records or a .csv file whose header names the\n"
    "fields (None: the shipped sample set); fields maps 'question', 'answer', 'id' and 'class' to the\n"
    "record fields that hold them, where the usual names do not fit. A reference that is not a number\n"
    "(a number, a numeric text with thousands separators or a list of one) is 'no_reference', left\n"
    "out of the accuracy. alignment_check, when not None, is the loop's alignment check for the run;\n"
    "repeat runs each problem that many times (the summary gives the accuracy's standard deviation);\n"
    "samples generates each problem that many times and answers with the objective most samples\n"
    "reach (ties: fewer repairs), keeping the agreeing share as the record's 'confidence'.\n"
    "assumptions asks, once each final model compiles, which assumptions it makes; the record keeps\n"
    "them ('listed_assumptions') and the model's 'answer', which is judged in place of the objective.\n"
    "what_if (implying assumptions) also solves each alternative reading, at most what_if_max\n"
    "requests per problem; the summary's 'right_among_readings' counts the problems whose reference\n"
    "is the main answer or one of those. solver ('highs' or 'scip') makes every solve of the run.\n"
    "Each record keeps the LLM calls, repair rounds and tokens of its run, and the numbers of its\n"
    "data file that the description does not give ('assumptions'); each problem's\n"
    "problem's files go to out_dir/<id>/, one record per finished problem is appended to\n"
    "out_dir/results.jsonl, and ids recorded there are skipped, so a stopped run resumes: a record is\n"
    "reused only for the same question (its hash is kept) and judged again against the current reference\n"
    "and rel_tol. Returns the summary (also written to out_dir/summary.json). jobs problems run at once\n"
    "on threads; iterations and model default to the loop's settings; execution_check, when not None,\n"
    "is the loop's execution check for the run (None: EXECUTION_CHECK). An answer is correct when the\n"
    "final model solves to optimality within rel_tol * max(1, |reference|) of the reference. The\n"
    "provider's client is made before any problem starts, so a missing key or library fails at once.\n"
    "Raises RuntimeError while another run uses out_dir, and ValueError when out_dir holds a run with\n"
    "another provider, model, iterations, execution check, assumption options or solver, unless force is\n"
    "true (those problems then run again).\n\n"
    "Each problem's conversation is written to out_dir/<id>/transcript.jsonl (one JSON line per\n"
    "exchange); replay, a path outside out_dir, is where the provider 'replay' finds transcripts. A\n"
    "problem that a provider error ended (the provider down, slow or unreachable) is recorded with\n"
    "'provider_error' true and runs again on resume unless retry_errors is false; when the first\n"
    "stop_after_errors problems of a run (0: never) all end so, the run stops and raises\n"
    "ConnectionError."};

const Face kAddArgumentsFace{"_add_arguments", "parser", "Add the arguments of `tarvok eval` to an argparse parser."};
const Face kRunCommandFace{"_run_command", "args",
                           "Run `tarvok eval` from the parsed arguments and return its exit status."};

const Face kMainFace{
    "main", "argv=None",
    "Run `tarvok eval` with argv (default: sys.argv[1:]) and return its exit status.\n\n"
    "0 when the run finished (whatever its accuracy), 2 for a bad argument, an unreadable data set or\n"
    "output folder, or a missing solver library, 5 when the provider cannot be used or the first\n"
    "problems all failed with provider errors, 130 when interrupted."};

const char* const kEvalDescription =
    "Measure answer accuracy on a benchmark set of word problems: run the generation loop on each problem, "
    "solve the final model (with HiGHS unless --solver says otherwise) and compare its optimum with the reference.";

}  // namespace tarvok::evaluation
