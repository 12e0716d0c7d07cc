// `tarvok solve DESCRIPTION -m MODEL -d DATA`: the generation loop, run on a
// staged pair beside the targets. The pair replaces the targets only when it
// compiles; a broken last attempt is kept as <target>.failed. What the loop
// found comes back as one result (run_generation); --run and --emit use the
// loop's own compile of the final pair.
#include "bindings/cli/command.hpp"
#include "bindings/host/compile.hpp"
#include "bindings/host/json.hpp"
#include "bindings/host/package.hpp"
#include "bindings/tarvok_generative/bindings.hpp"
#include "cli/solve_outcome.hpp"
#include "cli/what_if_report.hpp"
#include "evaluation/vote.hpp"
#include "example_ranker/ranking.hpp"
#include "generative/grounding.hpp"

#include <memory>
#include <optional>

namespace tarvok::cli {

namespace grounding = tarvok::generative::grounding;
using generative::ResultField, generative::bind::result_field, generative::bind::result_value;
/// What one run of the loop handed back.
using Generation = generative::bind::GenerationResult;

namespace {

/// The example library for this run: ./tvl_models when it exists, else
/// --examples DIR, else the shipped one; as an absolute path.
py::object example_library(const std::optional<std::string>& examples) {
    if (examples) return host::text(examples_folder(*examples));
    std::error_code error;
    if (fs::is_directory("tvl_models", error)) return host::text(absolute("tvl_models"));
    return host_path(host::package_folder() / "tvl_models");
}

/// What `solve` was asked, checked: everything that can be refused is
/// refused before the first request.
struct SolveRequest {
    LlmOptions llm;
    py::object description;
    std::string model_file, data_file;  ///< absolute
    std::string model_file_given;       ///< -m as given
    std::optional<std::string> script;  ///< --emit as given
    std::optional<std::string> record;  ///< the transcript file, absolute
    py::object iterations;
    py::object library = py::none();          ///< the example library, when few-shot is on
    py::object embedding_model = py::none();  ///< one other than the ranker's default
    bool few_shot = true, execution_check = false, run = false, stats = false, as_json = false;
    bool alignment_asked = true;  ///< not --no-alignment
    bool alignment = true;        ///< asked, and the library's ALIGNMENT_CHECK on
    std::string solver;           ///< --solver
    long long samples = 1;        ///< generations voted on
    double rel_tol = 1e-4;        ///< how near two voted objectives must be to agree
    bool assumptions = false, what_if = false;
    long long what_if_max = 3;
    compiler::SizeLimits sizes;  ///< of every compile, the loop's included
};

/// --assumptions, --what-if and --what-if-max, checked; the alternatives'
/// files may not fall on the command's other files.
void check_assumption_options(const CommandLine& line, SolveRequest& r) {
    r.what_if = line.flag("what_if");
    r.assumptions = r.what_if || line.flag("assumptions");
    require_at_least(line, "what_if_max", "--what-if-max", 0);
    r.what_if_max = *line.integer("what_if_max");
    if (!r.what_if) return;
    auto optional = [](const std::optional<std::string>& path) {
        return path ? std::optional(given_path(*path)) : std::nullopt;
    };
    refuse_alternatives_over(
        {given_path(r.model_file), given_path(r.data_file), optional(r.record), optional(r.script), r.what_if_max},
        [](const std::string& text) { return files::named_path(text); });
}

SolveRequest checked_request(const CommandLine& line) {
    SolveRequest r;
    r.llm = check_llm_options(line);
    require_at_least(line, "iterations", "--iterations", 1);
    r.iterations = whole_number(line, "iterations");
    if (r.iterations.is_none()) r.iterations = generative().attr("MAX_ITERATIONS");
    r.run = line.flag("run");
    r.solver = line.given("solver");
    if (r.run) require_solver(r.solver, "--run --solver " + r.solver);
    require_at_least(line, "samples", "--samples", 1);
    r.samples = *line.integer("samples");
    require_at_least(line, "rel_tol", "--rel-tol", 0);
    r.rel_tol = *line.number("rel_tol");
    r.description = required_text(line.given("description"), "description");
    r.model_file_given = line.given("model_file");
    r.model_file = absolute(r.model_file_given);
    r.data_file = absolute(line.given("data_file"));
    refuse_same_file(r.model_file, r.data_file);
    r.script = line.text("emit");
    if (r.script) refuse_script_path(*r.script, r.model_file, r.data_file);
    if (std::optional<std::string> record = line.text("record")) {
        r.record = absolute(*record);
        std::error_code error;
        if (fs::is_directory(files::named_path(*r.record), error))
            fail(ExitStatus::Usage, "--record " + *r.record + " is a folder");
        refuse_output_over_inputs(*r.record, {r.model_file, r.data_file}, "--record");
        if (r.script) refuse_output_over_inputs(*r.record, {*r.script}, "--record");
    }
    r.few_shot = !line.flag("no_few_shot");
    if (r.few_shot) r.library = example_library(line.text("examples"));
    check_assumption_options(line, r);
    r.execution_check = line.flag("execution_check");
    r.alignment_asked = !line.flag("no_alignment");
    r.stats = line.flag("stats");
    r.as_json = line.flag("json");
    return r;
}

/// A text option for the library: None when not given.
py::object text_or_none(const std::optional<std::string>& text) {
    return text ? py::object(host::text(*text)) : py::object(py::none());
}

/// The solver for --execution-check and the embedding model for the
/// examples, loaded before the loop starts.
void load_what_the_loop_needs(const CommandLine& line, SolveRequest& r) {
    // The provider's client first: a missing key or library ends the command before any loading.
    llm_phase([&] {
        return generative::bind::check_provider(text_or_none(r.llm.provider), host::text(r.llm.model_name),
                                                text_or_none(r.llm.replay));
    });
    if (auto purpose = solver_needed_for(r.execution_check, r.what_if, r.samples)) require_solver("highs", *purpose);
    if (!r.few_shot) return;
    py::object name = embedding_model(line);
    // Without it the loop ranks the examples by the words they share with the
    // description (BM25), and says so.
    if (auto problem = load_embedding_model(name)) {
        warn("tarvok: " + *problem + "; ranking worked examples by word overlap (BM25) instead");
    }
    if (host::str_of(name) != tarvok::example_ranker::kDefaultModel) {
        r.embedding_model = name;
    }
    warn("Few-shot examples from " + host::str_of(r.library));
}

/// The loop on the staged pair, with this command's options for this call
/// only. An attempt that ends in a failure is kept as <target>.failed.
Generation generate_staged(const SolveRequest& r, PairStage& pair) {
    py::dict options;
    options["model_name"] = host::text(r.llm.model_name);
    options["mode"] = grammar_mode(r.llm.grammar);
    options["iterations"] = r.iterations;
    options["alignment_check"] = r.alignment_asked ? py::object(py::none()) : py::object(py::bool_(false));
    options["temperature"] = r.llm.temperature ? py::object(py::float_(*r.llm.temperature)) : py::none();
    options["llm_provider"] = text_or_none(r.llm.provider);
    options["progress"] = py::cpp_function([&pair](py::object line) { warn(pair.as_targets(host::str_of(line))); });
    options["few_shot"] = py::bool_(r.few_shot);
    options["few_shot_library"] = r.library;
    options["embedding_model"] = r.embedding_model;
    options["execution_check"] = r.execution_check ? py::object(py::bool_(true)) : py::none();
    options["timeout"] = r.llm.timeout ? py::object(py::float_(*r.llm.timeout)) : py::none();
    options["on_event"] = wait_line_events();
    options["record"] = text_or_none(r.record);
    options["replay"] = text_or_none(r.llm.replay);
    options["max_size"] = host::max_size_of(r.sizes);
    if (r.assumptions) {
        options["assumptions"] = true;
        options["what_if"] = py::bool_(r.what_if);
        options["what_if_max"] = r.what_if_max;
    }
    try {
        return llm_phase([&] {
            return generative::bind::run_generation(r.description, host_path(pair.staged().model),
                                                    host_path(pair.staged().data), options);
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

/// Moves the alternatives the loop wrote beside the staged pair to their
/// places beside the targets (each pair whole or not at all); the what-if
/// table naming them there.
data::Value keep_alternatives(PairStage& pair, const data::Value& table) {
    KeptAlternatives kept = kept_alternatives(table, shown_path(pair.target().model), shown_path(pair.target().data));
    for (const AlternativeMove& move : kept.moves) {
        std::string model = host::read_file(host::text(move.model_from), "rb").cast<std::string>(),
                    data = host::read_file(host::text(move.data_from), "rb").cast<std::string>();
        // New files only: a name taken while the loop ran is left alone, never written through.
        files::FileContent pair[] = {
            {host::file_system_path(host::text(move.model_to)), model, files::Existing::Refuse},
            {host::file_system_path(host::text(move.data_to)), data, files::Existing::Refuse}};
        try {
            py::gil_scoped_release unlocked;
            files::replace_files(pair);
        } catch (const files::FileError& e) {
            warn("tarvok: the alternative " + shown_path(e.path()) +
                 " was not kept: " + std::generic_category().message(e.error_number()));
            kept.unwritten(move);
        }
    }
    return kept.table;
}

/// The final pair's compiled model: the loop's own; a compiler put in place
/// of the library's keeps none, and the final texts are compiled once.
std::shared_ptr<solver::CompiledModel> compiled_model_of(const Generation& g, const compiler::SizeLimits& sizes) {
    py::object kept = result_field(g, ResultField::CompiledModel);
    if (!kept.is_none()) return kept.cast<std::shared_ptr<solver::CompiledModel>>();
    return compiled_with_sources(result_field(g, ResultField::ModelText), {result_field(g, ResultField::DataText)},
                                 sizes);
}

/// What the loop handed back, as the report reads it.
SolveReport loop_report(const SolveRequest& r, const Generation& g) {
    const generative::workflow::Result& loop = g.result;
    SolveReport o{.facts = {loop.compiled, r.execution_check, loop.execution ? loop.execution->verdict.status : "",
                            r.alignment, r.alignment && loop.aligned},
                  .model_file = r.model_file,
                  .data_file = r.data_file,
                  .model_file_given = r.model_file_given,
                  .statistics = result_value(g, ResultField::Statistics),
                  .syntax_errors = result_value(g, ResultField::SyntaxErrors),
                  .assessment = loop.assessment,
                  .stats = r.stats,
                  .with_assumptions = r.assumptions,
                  .what_if = r.what_if,
                  .what_if_max = r.what_if_max};
    if (r.assumptions) {
        o.assumptions = result_value(g, ResultField::Assumptions);
        o.assumptions_error = result_value(g, ResultField::AssumptionsError);
    }
    return o;
}

/// --run and --emit on the final pair's one Program, expanded from the loop's
/// own compile; the exit status with theirs.
void run_and_emit(const SolveRequest& r, const Generation& g, SolveReport& o) {
    bool compiled = o.facts.compiled;
    bool with_run = r.run && compiled, with_emit = r.script && compiled;
    RunOutcome run;
    EmitOutcome emit;
    if (with_run || with_emit) {
        Expanded expanded = expand(*compiled_model_of(g, r.sizes));
        if (with_run) run = solve_expanded(expanded, host::text(r.solver));
        if (with_emit) emit = emit_expanded(expanded, *r.script);
    }
    o.status = with_run_and_emit(loop_status(o.facts), with_run ? std::optional(run.status) : std::nullopt,
                                 with_emit ? std::optional(emit.status) : std::nullopt);
    if (r.run) o.run_json = with_run && run.status != 1 ? run.result->to_dict() : data::Value();
    if (with_run) o.run = run.status == 1 ? run.diagnostics : summary_of(*run.result);
    if (r.script) o.emitted = with_emit && emit.status == 0 ? host::from_python(emit.written, kPlain) : data::Value();
    if (with_emit)
        o.emit = {emit.status, emit.status == 0 ? written_line(strings_of(emit.written)) : "", emit.failure,
                  emit.diagnostics};
}

/// Moves a compiling pair into place (else keeps it as .failed), then runs
/// and writes out its one Program.
SolveReport place_and_use(const SolveRequest& r, PairStage& pair, const Generation& g) {
    SolveReport o = loop_report(r, g);
    bool compiled = o.facts.compiled;
    bool existed = fs::exists(pair.target().model) || fs::exists(pair.target().data);
    Pair kept;
    if (compiled) {
        std::string description = host::str_of(r.description),
                    data = host::str_of(result_field(g, ResultField::DataText));
        {
            py::gil_scoped_release unlocked;
            o.grounding = grounding::ground(description, data);
        }
        place_unlocked(pair);
        if (r.what_if) o.what_if_table = keep_alternatives(pair, result_value(g, ResultField::WhatIf));
    } else {
        kept = pair.keep_failed();
        o.kept_model = shown_path(kept.model), o.kept_data = shown_path(kept.data);
    }
    run_and_emit(r, g, o);
    o.outcome = closing_line(o.facts, {o.model_file, o.data_file, existed, compiled ? "" : pair.kept_text(kept),
                                       compiled ? pair.targets_text() : ""});
    return o;
}

/// The report on stdout and stderr, as JSON with --json.
int report(const SolveRequest& r, const SolveReport& shown) { return show_solve(host_output(), shown, r.as_json); }

/// The objective the final model of a generation reaches with the solver's
/// defaults; none when it does not compile or does not solve to optimality.
std::optional<double> objective_of(const Generation& g, const compiler::SizeLimits& sizes) {
    if (!g.result.compiled) return std::nullopt;
    RunOutcome run = solve_expanded(expand(*compiled_model_of(g, sizes)));
    if (run.status != 0 || !run.result || !run.result->objective().is_numeric()) return std::nullopt;
    return run.result->objective().number();
}

struct Voted {
    std::vector<Generation> results;  ///< each generation's
    std::vector<evaluation::Candidate> candidates;
    evaluation::Vote vote;
    std::size_t pick = 0;  ///< the one whose pair is placed
};

/// --samples N: the loop run N times, one after another (they share this
/// process's progress lines and the GIL), each on a pair of its own staged
/// beside the targets; only the voted pair is placed.
Voted generate_voted(const SolveRequest& r, std::vector<std::unique_ptr<PairStage>>& pairs) {
    Voted voted;
    for (long long k = 1; k <= r.samples; ++k) {
        if (k > 1) pairs.push_back(stage_pair(r.model_file, r.data_file));
        warn("Sample " + std::to_string(k) + "/" + std::to_string(r.samples));
        Generation g = generate_staged(r, *pairs.back());
        voted.candidates.push_back({objective_of(g, r.sizes), g.result.repair_rounds});
        voted.results.push_back(std::move(g));
    }
    voted.vote = evaluation::vote(voted.candidates, r.rel_tol);
    // Without an answer among them the last generation tells why, as in eval.
    voted.pick = voted.vote.chosen.value_or(voted.results.size() - 1);
    return voted;
}

}  // namespace

int run_solve(const CommandLine& line) {
    SolveRequest r = checked_request(line);
    r.sizes = command_sizes(line);
    std::vector<std::unique_ptr<PairStage>> pairs;
    pairs.push_back(stage_pair(r.model_file, r.data_file));
    load_what_the_loop_needs(line, r);
    r.alignment = r.alignment_asked && host::truthy(generative().attr("ALIGNMENT_CHECK"));
    if (r.samples == 1) return report(r, place_and_use(r, *pairs.front(), generate_staged(r, *pairs.front())));
    Voted voted = generate_voted(r, pairs);
    SolveReport o = place_and_use(r, *pairs[voted.pick], voted.results[voted.pick]);
    std::optional<double> objective = voted.candidates[voted.pick].objective;
    o.vote = {host::str_of(builtin("round")(voted.vote.confidence, 2)), static_cast<long long>(voted.vote.agreeing),
              r.samples, objective ? std::optional(host::str_of(py::float_(*objective))) : std::nullopt};
    o.confidence = voted.vote.confidence;
    o.voted = objective;
    return report(r, o);
}

const Registration registration{"solve", run_solve};

}  // namespace tarvok::cli
