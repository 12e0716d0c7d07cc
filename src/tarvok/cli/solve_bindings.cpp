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
        std::string kept = pair.kept_text(pair.keep_failed());
        if (!kept.empty()) failure.message += "; the last attempt is kept in " + kept;
        throw;
    } catch (py::error_already_set&) {
        std::string kept = pair.kept_text(pair.keep_failed());
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
                                     o.compiled ? "" : pair.kept_text(o.kept), o.compiled ? pair.targets_text() : ""});
    return o;
}

/// What `solve` reports, gathered once for either form.
SolveReport report_of(py::object args, const SolveRequest& r, const SolveOutcome& o) {
    auto shown_path = [](const fs::path& p) { return p.empty() ? std::string() : host::str_of(host_path(p)); };
    SolveReport report{
        .facts = o.facts,
        .status = o.status,
        .outcome = o.outcome,
        .model_file = host::str_of(r.model_file),
        .data_file = host::str_of(r.data_file),
        .model_file_given = host::str_of(py::module_::import("os").attr("fsdecode")(args.attr("model_file"))),
        .kept_model = shown_path(o.kept.model),
        .kept_data = shown_path(o.kept.data),
        .statistics = plain_value(o.result.attr("statistics")),
        .syntax_errors = plain_value(o.result.attr("syntax_errors")),
        .assessment = host::str_of(o.result.attr("assessment")),
        .stats = host::truthy(args.attr("stats")),
        .with_assumptions = r.assumptions,
        .what_if = r.what_if,
        .what_if_max = r.what_if_max,
        .grounding = o.grounding};
    if (r.assumptions) {
        report.assumptions = plain_value(o.result.attr("assumptions"));
        report.assumptions_error = plain_value(o.result.attr("assumptions_error"));
        report.what_if_table = plain_value(o.what_if);
    }
    if (o.samples > 1) {
        report.vote = {host::str_of(builtin("round")(o.vote.confidence, 2)), static_cast<long long>(o.vote.agreeing),
                       o.samples, o.voted ? std::optional(host::str_of(py::float_(*o.voted))) : std::nullopt};
        report.confidence = o.vote.confidence;
        report.voted = o.voted;
    }
    if (host::truthy(args.attr("run")))
        report.run_json = o.with_run && o.run.status != 1 ? plain_value(o.run.result.attr("to_dict")()) : data::Value();
    if (o.with_run) report.run = o.run.status == 1 ? o.run.diagnostics : summary_of(o.run.result);
    if (!r.script.is_none())
        report.emitted = o.with_emit && o.emit.status == 0 ? plain_value(o.emit.written) : data::Value();
    if (o.with_emit)
        report.emit = {o.emit.status, o.emit.status == 0 ? written_line(o.emit.written) : "", o.emit.failure,
                       o.emit.diagnostics};
    return report;
}

/// The report on stdout and stderr, as JSON with --json.
int report(py::object args, const SolveRequest& r, const SolveOutcome& o) {
    SolveReport shown = report_of(args, r, o);
    if (host::truthy(args.attr("json"))) {
        std::vector<std::string> warnings;
        say_json(host::object_of(solve_json(shown, warnings)));
        for (const std::string& line : warnings) warn(line);
    } else {
        for (const ReportLine& line : solve_report(shown)) line.to_stderr ? warn(line.text) : say(line.text);
    }
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
    return report(args, r, o);
}

const Registration registration{"solve", run_solve};

}  // namespace tarvok::cli
