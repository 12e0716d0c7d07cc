// `tarvok solve DESCRIPTION -m MODEL -d DATA`: the generation loop, run on a
// staged pair beside the targets. The pair replaces the targets only when it
// compiles; a broken last attempt is kept as <target>.failed. What the loop
// found comes back as one result (run_generation); --run and --emit use the
// loop's own compile of the final pair.
#include "cli/command.hpp"
#include "cli/solve_outcome.hpp"
#include "cli/what_if_report.hpp"
#include "evaluation/vote.hpp"
#include "generative/grounding.hpp"
#include "generative/workflow.hpp"
#include "host/json_value.hpp"

#include <memory>
#include <optional>

namespace tarvok::cli {

namespace grounding = tarvok::generative::grounding;

namespace {

/// The example library for this run: ./tvl_models when it exists, else
/// --examples DIR, else the shipped one; as an absolute path.
py::object example_library(py::object examples) {
    py::object path = py::module_::import("os").attr("path");
    if (!examples.is_none()) return examples_folder(examples);
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
    bool assumptions = false, what_if = false;
    long long what_if_max = 3;
};

/// The file of alternative `index` beside `target` (plan.mod -> plan.alt1.mod).
py::object alternative_of(py::handle target, long long index) {
    std::string text = host::str_of(py::module_::import("os").attr("fsdecode")(target));
    return host::text(generative::workflow::alternative_path(text, index));
}

/// --assumptions, --what-if and --what-if-max, checked; the alternatives'
/// files may not fall on the command's other files.
void check_assumption_options(py::object args, SolveRequest& r) {
    r.what_if = host::truthy(args.attr("what_if"));
    r.assumptions = r.what_if || host::truthy(args.attr("assumptions"));
    require_at_least("--what-if-max", args.attr("what_if_max"), 0);
    r.what_if_max = args.attr("what_if_max").cast<long long>();
    if (!r.what_if) return;
    for (long long k = 1; k <= r.what_if_max; ++k) {
        for (py::object target : {r.model_file, r.data_file}) {
            py::object alt = alternative_of(target, k);
            refuse_output_over_inputs(alt, {r.model_file, r.data_file}, "the alternative " + host::str_of(alt));
            if (!r.record.is_none()) refuse_output_over_inputs(alt, {r.record}, "the alternative");
            if (!r.script.is_none()) refuse_output_over_inputs(alt, {r.script}, "the alternative");
        }
    }
}

SolveRequest checked_request(py::object args) {
    SolveRequest r;
    check_llm_options(args);
    r.iterations = args.attr("iterations");
    require_at_least("--iterations", r.iterations, 1);
    if (r.iterations.is_none()) r.iterations = generative().attr("MAX_ITERATIONS");
    if (host::truthy(args.attr("run")))
        require_solver(args.attr("solver"), "--run --solver " + host::str_of(args.attr("solver")));
    require_at_least("--samples", args.attr("samples"), 1);
    r.samples = args.attr("samples").cast<long long>();
    require_at_least("--rel-tol", args.attr("rel_tol"), 0);
    r.rel_tol = args.attr("rel_tol").cast<double>();
    r.description = required_text(args.attr("description"), "description");
    r.model_file = absolute(args.attr("model_file"));
    r.data_file = absolute(args.attr("data_file"));
    refuse_same_file(r.model_file, r.data_file);
    r.script = args.attr("emit");
    if (!r.script.is_none()) {
        refuse_script_path(r.script, r.model_file, r.data_file);
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
    check_assumption_options(args, r);
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
    if (auto purpose = solver_needed_for(r.execution_check, r.what_if, r.samples))
        require_solver(py::str("highs"), *purpose);
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
    if (r.assumptions) {
        options["assumptions"] = true;
        options["what_if"] = py::bool_(r.what_if);
        options["what_if_max"] = r.what_if_max;
    }
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
    std::string outcome;              ///< the closing line, when there is one
    grounding::Report grounding;      ///< the final data's numbers that the description does not give as written
    long long samples = 1;            ///< generations voted on
    evaluation::Vote vote;            ///< their vote, when there were several
    std::optional<double> voted;      ///< the objective the vote chose
    py::object what_if = py::none();  ///< the what-if table, its alternatives' files beside the targets
    SolveFacts facts;                 ///< what the loop left, as the command judges it
};

/// Moves the alternatives the loop wrote beside the staged pair to their
/// places beside the targets (each pair whole or not at all); the what-if
/// table naming them there.
py::object keep_alternatives(StagedPair& pair, py::object table) {
    if (table.is_none()) return table;
    py::object copied = py::module_::import("copy").attr("deepcopy")(table);
    for (py::handle alt : copied["alternatives"]) {
        if (alt["model_file"].is_none()) continue;
        long long index = alt["index"].cast<long long>();
        py::object model = host_path(pair.target().model), data = host_path(pair.target().data);
        py::object model_to = alternative_of(model, index), data_to = alternative_of(data, index);
        py::bytes model_bytes = host::read_file(alt["model_file"], "rb"),
                  data_bytes = host::read_file(alt["data_file"], "rb");
        host::replace_files({{model_to, model_bytes}, {data_to, data_bytes}});
        alt["model_file"] = model_to;
        alt["data_file"] = data_to;
    }
    return copied;
}

/// The final pair's compiled model: the loop's own; a compiler put in place
/// of the library's keeps none, and the final texts are compiled once.
py::object compiled_model_of(py::object result) {
    py::object compiled = result.attr("compiled_model");
    if (!compiled.is_none()) return compiled;
    return py::module_::import("tarvok.solver").attr("compile")(result.attr("model_text"), result.attr("data_text"));
}

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
    if (o.compiled) {
        pair.place();
        if (r.what_if) o.what_if = keep_alternatives(pair, result.attr("what_if"));
    } else {
        o.kept = pair.keep_failed();
    }
    py::object execution = result.attr("execution");
    SolveFacts& facts = o.facts;
    facts = {o.compiled, r.execution_check, execution.is_none() ? "" : host::str_of(execution["status"]), r.alignment,
             o.aligned};
    o.status = loop_status(facts);
    o.with_run = host::truthy(args.attr("run")) && o.compiled;
    o.with_emit = !r.script.is_none() && o.compiled;
    if (o.with_run || o.with_emit) {
        Expanded expanded = expand(compiled_model_of(result));
        if (o.with_run) o.run = solve_expanded(expanded, args.attr("solver"));
        if (o.with_emit) o.emit = emit_expanded(expanded, r.script);
    }
    o.status = with_run_and_emit(o.status, o.with_run ? std::optional(o.run.status) : std::nullopt,
                                 o.with_emit ? std::optional(o.emit.status) : std::nullopt);
    o.outcome = closing_line(facts, {host::str_of(r.model_file), host::str_of(r.data_file), o.existed,
                                     o.compiled ? "" : kept_text(o.kept), o.compiled ? both(pair.target()) : ""});
    return o;
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
    if (r.assumptions) {
        out["assumptions"] = o.result.attr("assumptions");
        out["assumptions_error"] = o.result.attr("assumptions_error");
        if (r.what_if) out["what_if"] = o.what_if;
    } else {
        out["assumptions"] =
            o.compiled ? py::object(host::object_of(findings_value(o.grounding.assumptions))) : py::none();
    }
    out["conversions"] = o.compiled ? py::object(host::object_of(findings_value(o.grounding.conversions))) : py::none();
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

std::string text_of(py::handle value) { return value.is_none() ? "" : host::str_of(value); }

ShownReading shown_reading(py::handle entry) {
    return {text_of(entry["status"]), text_of(entry["objective"]), text_of(entry["answer"])};
}

/// The assumptions listed and, with --what-if, the answer under each reading.
void shown_assumptions(py::object args, const SolveRequest& r, const SolveOutcome& o, SolveText& t) {
    py::object listed = o.result.attr("assumptions");
    py::object error = o.result.attr("assumptions_error");
    if (!error.is_none()) t.assumptions_error = host::str_of(py::str(error).attr("split")("\n")[0]);
    if (listed.is_none()) return;
    t.assumptions.emplace();
    for (py::handle a : listed)
        t.assumptions->push_back(
            {text_of(a["assumption"]), text_of(a["alternative"]), text_of(a["where"]), text_of(a["kind"])});
    if (o.what_if.is_none()) return;
    ShownTable& table = t.what_if.emplace();
    table.main = shown_reading(o.what_if["main"]);
    table.unexplored = o.what_if["unexplored"].cast<long long>();
    table.budget = r.what_if_max;
    for (py::handle alt : o.what_if["alternatives"]) {
        py::list errors = alt["errors"];
        std::string first = py::len(errors) > 0 ? host::str_of(errors[0]) : "";
        first = first.substr(0, first.find('\n'));
        table.alternatives.push_back(
            {text_of(alt["alternative"]), host::truthy(alt["compiled"]), first, shown_reading(alt),
             // named as the user named the model file
             alt["model_file"].is_none()
                 ? std::string()
                 : host::str_of(alternative_of(args.attr("model_file"), alt["index"].cast<long long>()))});
    }
}

SolveStatistics statistics_of(const SolveRequest& r, const SolveOutcome& o) {
    py::dict stats = o.result.attr("statistics");
    SolveStatistics shown{host::str_of(stats["iterations"]),
                          {},
                          "",
                          "",
                          host::str_of(o.compiled ? r.model_file : host_path(o.kept.model)),
                          host::str_of(o.compiled ? r.data_file : host_path(o.kept.data))};
    for (auto error : stats["syntax_errors"]) shown.syntax_errors.push_back(host::str_of(error));
    if (r.execution_check) {
        shown.solver_status = host::str_of(stats["solver_status"]);
        shown.objective = host::str_of(stats["objective"]);
    }
    return shown;
}

int report_text(py::object args, const SolveRequest& r, const SolveOutcome& o) {
    SolveText t{.facts = o.facts,
                .assessment = host::str_of(o.result.attr("assessment")),
                .with_assumptions = r.assumptions,
                .grounding = o.grounding,
                .outcome = o.outcome};
    if (host::truthy(args.attr("stats"))) t.statistics = statistics_of(r, o);
    if (o.samples > 1)
        t.vote = {host::str_of(builtin("round")(o.vote.confidence, 2)), static_cast<long long>(o.vote.agreeing),
                  o.samples, o.voted ? std::optional(host::str_of(py::float_(*o.voted))) : std::nullopt};
    if (r.assumptions) shown_assumptions(args, r, o, t);
    if (o.with_run) t.run = o.run.status == 1 ? o.run.diagnostics : summary_of(o.run.result);
    if (o.with_emit)
        t.emit = {o.emit.status, o.emit.status == 0 ? written_line(o.emit.written) : "", o.emit.failure,
                  o.emit.diagnostics};
    py::list errors = o.compiled ? py::list() : py::list(o.result.attr("syntax_errors"));
    if (py::len(errors) > 0) t.final_errors = host::str_of(errors[0]);
    for (const ReportLine& line : solve_report(t)) line.to_stderr ? warn(line.text) : say(line.text);
    return code(o.status);
}

/// The objective the final model of a generation reaches with the solver's
/// defaults; none when it does not compile or does not solve to optimality.
std::optional<double> objective_of(py::object result) {
    if (!host::truthy(result.attr("compiled"))) return std::nullopt;
    RunOutcome run = solve_expanded(expand(compiled_model_of(result)));
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

const Registration registration{"solve", run_solve};

}  // namespace tarvok::cli
