// `tarvok solve DESCRIPTION -m MODEL -d DATA`: the generation loop, run on a
// staged pair beside the targets. The pair replaces the targets only when it
// compiles; a broken last attempt is kept as <target>.failed. What the loop
// found comes back as one result (run_generation); --run and --emit use the
// loop's own compile of the final pair.
#include "cli/command.hpp"
#include "cli/solve_outcome.hpp"
#include "evaluation/vote.hpp"
#include "generative/grounding.hpp"

#include <cmath>
#include <memory>
#include <optional>

namespace tarvok::cli {

namespace grounding = tarvok::generative::grounding;

namespace {

/// The example library for this run: ./tvl_models when it exists, else
/// --examples DIR, else the shipped one; as an absolute path.
py::object example_library(py::object examples) {
    py::object path = py::module_::import("os").attr("path");
    if (!examples.is_none()) {
        py::object library = absolute(examples);
        if (!host::truthy(path.attr("isdir")(library))) {
            fail(ExitStatus::Usage, "examples folder not found: " + host::str_of(library));
        }
        return library;
    }
    if (host::truthy(path.attr("isdir")("tvl_models"))) return absolute(py::str("tvl_models"));
    py::object package = path.attr("dirname")(py::module_::import("tarvok").attr("__file__"));
    return path.attr("join")(package, "tvl_models");
}

std::string both(const Pair& pair) {
    return host::str_of(host_path(pair.model)) + " and " + host::str_of(host_path(pair.data));
}

/// Where the kept attempt is, for a message; empty when nothing was written.
std::string kept_text(const Pair& kept) {
    if (kept.model.empty() && kept.data.empty()) return "";
    if (kept.model.empty()) return host::str_of(host_path(kept.data));
    if (kept.data.empty()) return host::str_of(host_path(kept.model));
    return both(kept);
}

}  // namespace

void add_solve(py::object commands) {
    py::object solve =
        add_command(commands, "solve", "generate a model and data file from a problem description", providers_help());
    solve.attr("add_argument")("description", py::arg("help") = "the problem in plain words, or @file.txt");
    solve.attr("add_argument")("-m", "--model-file", py::arg("required") = true, py::arg("metavar") = "FILE.mod");
    solve.attr("add_argument")("-d", "--data-file", py::arg("required") = true, py::arg("metavar") = "FILE.dat");
    add_llm_options(solve, true);
    solve.attr("add_argument")("--iterations", py::arg("type") = builtin("int"), py::arg("metavar") = "N",
                               py::arg("help") = "at most N generate/compile rounds (default: " +
                                                 host::str_of(generative().attr("MAX_ITERATIONS")) + ")");
    solve.attr("add_argument")("--no-alignment", py::arg("action") = "store_true",
                               py::arg("help") = "skip the alignment check (a compiling pair is then success)");
    solve.attr("add_argument")("--no-few-shot", py::arg("action") = "store_true",
                               py::arg("help") = "do not put worked examples into the prompts");
    solve.attr("add_argument")("--examples", py::arg("metavar") = "DIR",
                               py::arg("help") = "example library (default: ./tvl_models, else the shipped one)");
    add_embedding_option(solve);
    solve.attr("add_argument")("--stats", py::arg("action") = "store_true",
                               py::arg("help") = "print iterations and remaining errors too");
    solve.attr("add_argument")("--run", py::arg("action") = "store_true",
                               py::arg("help") = "solve the final model with HiGHS and print the solution too");
    add_solver_option(solve);
    solve.attr("add_argument")("--emit", py::arg("metavar") = "SCRIPT.py",
                               py::arg("help") = "also write a SciPy script that solves the final model");
    solve.attr("add_argument")("--execution-check", py::arg("action") = "store_true",
                               py::arg("help") =
                                   "solve every compiling model with HiGHS and revise one that is "
                                   "infeasible or unbounded (the solve extra)");
    solve.attr("add_argument")("--record", py::arg("metavar") = "FILE.jsonl",
                               py::arg("help") =
                                   "append one JSON line per LLM request and reply to FILE.jsonl (provider, model, "
                                   "step, prompt, reply, temperature, tokens, seconds); --replay answers from it");
    solve.attr("add_argument")("--samples", py::arg("type") = builtin("int"), py::arg("default") = 1,
                               py::arg("metavar") = "N",
                               py::arg("help") =
                                   "generate N times, one after another, solve every final model that compiles and "
                                   "keep the one whose objective most samples reach (ties: fewer repairs); the "
                                   "share that agrees is printed as its confidence (default: 1)");
    solve.attr("add_argument")(
        "--rel-tol", py::arg("type") = builtin("float"), py::arg("default") = 1e-4, py::arg("metavar") = "T",
        py::arg("help") = "with --samples, objectives within T * max(1, |objective|) agree (default: 1e-4)");
    add_size_option(solve);
}

namespace {

/// What `solve` was asked, checked: everything that can be refused is
/// refused before the first request.
struct SolveRequest {
    py::object description, model_file, data_file, script, iterations;
    py::object record = py::none();           ///< the transcript file, absolute
    py::object library = py::none();          ///< the example library, when few-shot is on
    py::object embedding_model = py::none();  ///< one other than the ranker's default
    bool few_shot = true, execution_check = false, alignment = true;
    long long samples = 1;  ///< generations voted on
    double rel_tol = 1e-4;  ///< how near two voted objectives must be to agree
};

SolveRequest checked_request(py::object args) {
    SolveRequest r;
    check_llm_options(args);
    r.iterations = args.attr("iterations");
    if (!r.iterations.is_none() && r.iterations.cast<long long>() < 1) {
        fail(ExitStatus::Usage, "--iterations must be at least 1");
    }
    if (r.iterations.is_none()) r.iterations = generative().attr("MAX_ITERATIONS");
    if (host::truthy(args.attr("run")))
        require_solver(args.attr("solver"), "--run --solver " + host::str_of(args.attr("solver")));
    r.samples = args.attr("samples").cast<long long>();
    if (r.samples < 1) fail(ExitStatus::Usage, "--samples must be at least 1");
    r.rel_tol = args.attr("rel_tol").cast<double>();
    if (!(r.rel_tol >= 0) || !std::isfinite(r.rel_tol)) fail(ExitStatus::Usage, "--rel-tol must be at least 0");
    r.description = required_text(args.attr("description"), "description");
    r.model_file = absolute(args.attr("model_file"));
    r.data_file = absolute(args.attr("data_file"));
    refuse_same_file(r.model_file, r.data_file);
    r.script = args.attr("emit");
    if (!r.script.is_none()) {
        std::string unusable = unusable_script_path(r.script);
        if (!unusable.empty()) fail(ExitStatus::Usage, "cannot write a script there: " + unusable);
        refuse_output_over_inputs(r.script, {r.model_file, r.data_file}, "the script");
        refuse_output_over_inputs(script_data_path(r.script), {r.model_file, r.data_file}, "the script's data file");
    }
    if (!args.attr("record").is_none()) {
        r.record = absolute(args.attr("record"));
        if (host::truthy(py::module_::import("os").attr("path").attr("isdir")(r.record)))
            fail(ExitStatus::Usage, "--record " + host::str_of(r.record) + " is a folder");
        refuse_output_over_inputs(r.record, {r.model_file, r.data_file}, "--record");
        if (!r.script.is_none()) refuse_output_over_inputs(r.record, {r.script}, "--record");
    }
    r.few_shot = !host::truthy(args.attr("no_few_shot"));
    if (r.few_shot) r.library = example_library(args.attr("examples"));
    return r;
}

/// The solver for --execution-check and the embedding model for the
/// examples, loaded before the loop starts.
void load_what_the_loop_needs(py::object args, SolveRequest& r) {
    // The provider's client first: a missing key or library ends the command before any loading.
    py::object replay = args.attr("replay").is_none() ? py::object(py::none()) : absolute(args.attr("replay"));
    llm_phase(
        [&] { return generative().attr("_check_provider")(args.attr("provider"), model_or_default(args), replay); });
    r.execution_check = host::truthy(args.attr("execution_check"));
    if (r.execution_check || r.samples > 1) {
        require_solver(py::str("highs"), r.execution_check ? "--execution-check solves models with HiGHS and"
                                                           : "--samples solves every final model with HiGHS and");
    }
    if (!r.few_shot) return;
    py::object name = embedding_model(args);
    // Without it the loop ranks the examples by the words they share with the
    // description (BM25), and says so.
    if (auto problem = load_embedding_model(name)) {
        warn("tarvok: " + *problem + "; ranking worked examples by word overlap (BM25) instead");
    }
    if (!host::equals(name, py::module_::import("tarvok.example_ranker").attr("DEFAULT_MODEL_NAME"))) {
        r.embedding_model = name;
    }
    warn("Few-shot examples from " + host::str_of(r.library));
}

/// The loop on the staged pair, with this command's options for this call
/// only. An attempt that ends in a failure is kept as <target>.failed.
py::object generate_staged(py::object args, const SolveRequest& r, StagedPair& pair) {
    py::dict options;
    options["model_name"] = model_or_default(args);
    options["mode"] = grammar_mode(args.attr("grammar"));
    options["iterations"] = r.iterations;
    options["alignment_check"] = host::truthy(args.attr("no_alignment")) ? py::object(py::bool_(false)) : py::none();
    options["temperature"] = args.attr("temperature");
    options["llm_provider"] = args.attr("provider");
    options["progress"] = progress_printer();
    options["few_shot"] = py::bool_(r.few_shot);
    options["few_shot_library"] = r.library;
    options["embedding_model"] = r.embedding_model;
    options["execution_check"] = r.execution_check ? py::object(py::bool_(true)) : py::none();
    options["timeout"] = args.attr("timeout").is_none() ? py::none() : builtin("float")(args.attr("timeout"));
    options["on_event"] = wait_line_events();
    options["record"] = r.record;
    options["replay"] = args.attr("replay").is_none() ? py::object(py::none()) : absolute(args.attr("replay"));
    try {
        return llm_phase([&] {
            return generative().attr("run_generation")(r.description, pair.staged_model(), pair.staged_data(),
                                                       **options);
        });
    } catch (Failure& failure) {
        std::string kept = kept_text(pair.keep_failed());
        if (!kept.empty()) failure.message += "; the last attempt is kept in " + kept;
        throw;
    } catch (py::error_already_set&) {
        std::string kept = kept_text(pair.keep_failed());
        if (!kept.empty()) warn("tarvok: the last attempt is kept in " + kept);
        throw;
    }
}

/// Where the loop left things, and what --run and --emit made of the final pair.
struct SolveOutcome {
    py::object result;  ///< the GenerationResult
    bool compiled = false, aligned = false, existed = false;
    Pair kept;  ///< where a pair that does not compile is kept
    ExitStatus status = ExitStatus::Success;
    bool with_run = false, with_emit = false;
    RunOutcome run;
    EmitOutcome emit;
    std::string outcome;          ///< the closing line, when there is one
    grounding::Report grounding;  ///< the final data's numbers that the description does not give as written
    long long samples = 1;        ///< generations voted on
    evaluation::Vote vote;        ///< their vote, when there were several
    std::optional<double> voted;  ///< the objective the vote chose
};

/// Moves a compiling pair into place (else keeps it as .failed), then runs
/// and writes out its one Program, expanded from the loop's own compile.
SolveOutcome place_and_use(py::object args, const SolveRequest& r, StagedPair& pair, py::object result) {
    SolveOutcome o;
    o.result = result;
    o.compiled = host::truthy(result.attr("compiled"));
    o.aligned = r.alignment && host::truthy(result.attr("aligned"));
    o.existed = fs::exists(pair.target().model) || fs::exists(pair.target().data);
    if (o.compiled) {
        std::string description = host::str_of(r.description), data = host::str_of(result.attr("data_text"));
        py::gil_scoped_release unlocked;
        o.grounding = grounding::ground(description, data);
    }
    if (o.compiled)
        pair.place();
    else
        o.kept = pair.keep_failed();
    py::object execution = result.attr("execution");
    SolveFacts facts{o.compiled, r.execution_check, execution.is_none() ? "" : host::str_of(execution["status"]),
                     r.alignment, o.aligned};
    o.status = loop_status(facts);
    o.with_run = host::truthy(args.attr("run")) && o.compiled;
    o.with_emit = !r.script.is_none() && o.compiled;
    if (o.with_run || o.with_emit) {
        py::object compiled = result.attr("compiled_model");
        // A compiler put in place of the library's keeps no compiled model: compile the final texts once.
        if (compiled.is_none())
            compiled = py::module_::import("tarvok.solver")
                           .attr("compile")(result.attr("model_text"), result.attr("data_text"));
        Expanded expanded = expand(compiled);
        if (o.with_run) o.run = solve_expanded(expanded, args.attr("solver"));
        if (o.with_emit) o.emit = emit_expanded(expanded, r.script);
    }
    o.status = with_run_and_emit(o.status, o.with_run ? std::optional(o.run.status) : std::nullopt,
                                 o.with_emit ? std::optional(o.emit.status) : std::nullopt);
    o.outcome = closing_line(facts, {host::str_of(r.model_file), host::str_of(r.data_file), o.existed,
                                     o.compiled ? "" : kept_text(o.kept), o.compiled ? both(pair.target()) : ""});
    return o;
}

py::list findings_json(const std::vector<grounding::Finding>& findings) {
    py::list out;
    for (const grounding::Finding& f : findings) {
        py::dict one;
        one["value"] = host::text(f.text);
        one["line"] = f.line;
        one["text"] = host::text(f.line_text);
        if (f.match != grounding::Match::Assumed) {
            one["kind"] = f.match == grounding::Match::Percentage ? "percentage" : "scaled";
            one["source"] = host::text(f.source);
            one["power"] = f.power;
        }
        out.append(one);
    }
    return out;
}

/// The grounding report under the assessment: numbers the LLM supplied, then
/// those it took from the description in another form.
void say_grounding(const grounding::Report& report) {
    if (!report.assumptions.empty()) {
        say("\nAssumptions (numbers of the data file that the description does not give):");
        for (const grounding::Finding& f : report.assumptions) say("  " + grounding::finding_text(f));
    }
    if (!report.conversions.empty()) {
        say("\nNumbers of the description in another form:");
        for (const grounding::Finding& f : report.conversions) say("  " + grounding::finding_text(f));
    }
}

int report_json(py::object args, const SolveRequest& r, const SolveOutcome& o) {
    py::dict stats = o.result.attr("statistics");
    py::dict out;
    out["model_file"] = r.model_file;
    out["data_file"] = r.data_file;
    out["iterations"] = stats["iterations"];
    out["syntax_errors"] = stats["syntax_errors"];
    out["assessment"] = stats["assessment"];
    out["compiled"] = py::bool_(o.compiled);
    if (r.execution_check) {
        out["solver_status"] = stats["solver_status"];
        out["objective"] = stats["objective"];
    }
    out["aligned"] = r.alignment ? py::object(py::bool_(o.aligned)) : py::object(py::none());
    out["assumptions"] = o.compiled ? py::object(findings_json(o.grounding.assumptions)) : py::none();
    out["conversions"] = o.compiled ? py::object(findings_json(o.grounding.conversions)) : py::none();
    if (o.samples > 1) {
        out["samples"] = o.samples;
        out["confidence"] = o.vote.confidence;
        out["objective"] = o.voted ? py::object(py::float_(*o.voted)) : py::object(py::none());
    }
    out["status"] = code(o.status);
    if (!o.compiled) {
        out["failed_model_file"] = o.kept.model.empty() ? py::object(py::none()) : host_path(o.kept.model);
        out["failed_data_file"] = o.kept.data.empty() ? py::object(py::none()) : host_path(o.kept.data);
    }
    if (host::truthy(args.attr("run"))) {
        out["run"] = o.with_run && o.run.status != 1 ? o.run.result.attr("to_dict")() : py::object(py::none());
    }
    if (!r.script.is_none())
        out["emitted"] = o.with_emit && o.emit.status == 0 ? o.emit.written : py::object(py::none());
    say_json(out);
    if (o.with_emit && o.emit.status == code(ExitStatus::Usage)) warn("tarvok: " + o.emit.failure);
    if (!o.outcome.empty()) warn("tarvok: " + o.outcome);
    return code(o.status);
}

void say_statistics(const SolveRequest& r, const SolveOutcome& o) {
    py::dict stats = o.result.attr("statistics");
    say("iterations: " + host::str_of(stats["iterations"]));
    say("syntax errors: " + std::to_string(py::len(stats["syntax_errors"])));
    for (auto error : stats["syntax_errors"]) say(host::str_of(error));
    say(std::string("compiled: ") + (o.compiled ? "yes" : "no"));
    if (r.execution_check) {
        say("solver status: " + host::str_of(stats["solver_status"]));
        say("objective: " + host::str_of(stats["objective"]));
    }
    say(std::string("aligned: ") + (!r.alignment ? "not checked" : o.aligned ? "yes" : "no"));
    say("model: " + host::str_of(o.compiled ? r.model_file : host_path(o.kept.model)));
    say("data: " + host::str_of(o.compiled ? r.data_file : host_path(o.kept.data)));
    say("");
}

std::string confidence_line(const SolveOutcome& o) {
    std::string share = host::str_of(builtin("round")(o.vote.confidence, 2));
    if (!o.voted) return "\nconfidence: 0 (no sample's final model solved to optimality)";
    return "\nconfidence: " + share + " (" + std::to_string(o.vote.agreeing) + " of " + std::to_string(o.samples) +
           " samples reach the objective " + host::str_of(py::float_(*o.voted)) + ")";
}

int report_text(py::object args, const SolveRequest& r, const SolveOutcome& o) {
    bool with_stats = host::truthy(args.attr("stats"));
    if (with_stats) say_statistics(r, o);
    say(host::str_of(o.result.attr("assessment")));
    if (o.samples > 1) say(confidence_line(o));
    say_grounding(o.grounding);
    if (o.with_run) {
        say("");
        say(o.run.status == 1 ? o.run.diagnostics : summary_of(o.run.result));
    }
    if (o.with_emit) {
        if (o.emit.status == 0)
            warn(written_line(o.emit.written));
        else if (o.emit.status == code(ExitStatus::Usage))
            warn("tarvok: " + o.emit.failure);
        else if (!o.with_run)
            say("\n" + o.emit.diagnostics);
    }
    if (!o.compiled && !with_stats) {
        // The final pair's diagnostics, as `check` and `run` print them.
        py::list errors = o.result.attr("syntax_errors");
        if (py::len(errors) > 0) say("\n" + host::str_of(errors[0]));
    }
    if (!o.outcome.empty()) warn("tarvok: " + o.outcome);
    return code(o.status);
}

/// The objective the final model of a generation reaches with the solver's
/// defaults; none when it does not compile or does not solve to optimality.
std::optional<double> objective_of(py::object result) {
    if (!host::truthy(result.attr("compiled"))) return std::nullopt;
    py::object compiled = result.attr("compiled_model");
    if (compiled.is_none())
        compiled =
            py::module_::import("tarvok.solver").attr("compile")(result.attr("model_text"), result.attr("data_text"));
    RunOutcome run = solve_expanded(expand(compiled));
    if (run.status != 0 || run.result.is_none() || run.result.attr("objective").is_none()) return std::nullopt;
    return run.result.attr("objective").cast<double>();
}

struct Voted {
    std::vector<py::object> results;  ///< each generation's GenerationResult
    std::vector<evaluation::Candidate> candidates;
    evaluation::Vote vote;
    std::size_t pick = 0;  ///< the one whose pair is placed
};

/// --samples N: the loop run N times, one after another (they share this
/// process's progress lines and the GIL), each on a pair of its own staged
/// beside the targets; only the voted pair is placed.
Voted generate_voted(py::object args, const SolveRequest& r, std::vector<std::unique_ptr<StagedPair>>& pairs) {
    Voted voted;
    for (long long k = 1; k <= r.samples; ++k) {
        if (k > 1) pairs.push_back(std::make_unique<StagedPair>(r.model_file, r.data_file));
        warn("Sample " + std::to_string(k) + "/" + std::to_string(r.samples));
        py::object result = generate_staged(args, r, *pairs.back());
        voted.candidates.push_back({objective_of(result), result.attr("repair_rounds").cast<long long>()});
        voted.results.push_back(result);
    }
    voted.vote = evaluation::vote(voted.candidates, r.rel_tol);
    // Without an answer among them the last generation tells why, as in eval.
    voted.pick = voted.vote.chosen.value_or(voted.results.size() - 1);
    return voted;
}

}  // namespace

int run_solve(py::object args) {
    SolveRequest r = checked_request(args);
    // The compiler's size limit is a setting of its module: set for this command, put back after it.
    TemporarySettings settings;
    apply_size_option(settings, args);
    std::vector<std::unique_ptr<StagedPair>> pairs;
    pairs.push_back(std::make_unique<StagedPair>(r.model_file, r.data_file));
    load_what_the_loop_needs(args, r);
    r.alignment = !host::truthy(args.attr("no_alignment")) && host::truthy(generative().attr("ALIGNMENT_CHECK"));
    SolveOutcome o;
    if (r.samples == 1) {
        o = place_and_use(args, r, *pairs.front(), generate_staged(args, r, *pairs.front()));
    } else {
        Voted voted = generate_voted(args, r, pairs);
        o = place_and_use(args, r, *pairs[voted.pick], voted.results[voted.pick]);
        o.samples = r.samples;
        o.vote = voted.vote;
        o.voted = voted.candidates[voted.pick].objective;
    }
    return host::truthy(args.attr("json")) ? report_json(args, r, o) : report_text(args, r, o);
}

}  // namespace tarvok::cli
