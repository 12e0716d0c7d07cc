// `tarvok solve DESCRIPTION -m MODEL -d DATA`: the generation loop, run on a
// staged pair beside the targets. The pair replaces the targets only when it
// compiles; a broken last attempt is kept as <target>.failed.
#include "cli/command.hpp"

namespace tarvok::cli {

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
    solve.attr("add_argument")("--emit", py::arg("metavar") = "SCRIPT.py",
                               py::arg("help") = "also write a SciPy script that solves the final model");
    solve.attr("add_argument")("--execution-check", py::arg("action") = "store_true",
                               py::arg("help") =
                                   "solve every compiling model with HiGHS and revise one that is "
                                   "infeasible or unbounded (the solve extra)");
}

int run_solve(py::object args) {
    py::module_ tg = generative();
    // Everything that can be refused is refused before the first request.
    check_llm_options(args);
    py::object iterations = args.attr("iterations");
    if (!iterations.is_none() && iterations.cast<long long>() < 1) {
        fail(ExitStatus::Usage, "--iterations must be at least 1");
    }
    if (iterations.is_none()) iterations = tg.attr("MAX_ITERATIONS");
    py::object description = required_text(args.attr("description"), "description");
    py::object model_file = absolute(args.attr("model_file"));
    py::object data_file = absolute(args.attr("data_file"));
    refuse_same_file(model_file, data_file);
    py::object script = args.attr("emit");
    if (!script.is_none()) {
        std::string unusable = unusable_script_path(script);
        if (!unusable.empty()) fail(ExitStatus::Usage, "cannot write a script there: " + unusable);
    }
    bool few_shot = !host::truthy(args.attr("no_few_shot"));
    py::object library = few_shot ? example_library(args.attr("examples")) : py::none();
    StagedPair pair(model_file, data_file);

    TemporarySettings settings;
    apply_llm_options(settings, args);
    bool execution_check = host::truthy(args.attr("execution_check"));
    if (execution_check) {
        try {
            host::import_extra("highspy", "--execution-check solves models with HiGHS and", "solve");
        } catch (py::error_already_set& e) {
            if (!e.matches(PyExc_ImportError)) throw;
            fail(ExitStatus::Usage, host::str_of(e.value()));
        }
        settings.set(tg, "EXECUTION_CHECK", py::bool_(true));
    }
    if (few_shot) {
        py::object name = embedding_model(args);
        if (auto problem = load_embedding_model(name)) {
            warn("tarvok: " + *problem + "; going on without worked examples");
            few_shot = false;
        } else {
            py::module_ ranker = py::module_::import("tarvok.example_ranker");
            if (!host::equals(name, ranker.attr("DEFAULT_MODEL_NAME"))) {
                settings.set(
                    tg, "rag_rank",
                    py::module_::import("functools")
                        .attr("partial")(ranker.attr("rank_problem_descriptions"), py::arg("model_name") = name));
            }
            settings.set(tg, "FEW_SHOT_LIBRARY", library);
            warn("Few-shot examples from " + host::str_of(library));
        }
    }
    bool alignment = !host::truthy(args.attr("no_alignment")) && host::truthy(tg.attr("ALIGNMENT_CHECK"));
    py::object alignment_check = host::truthy(args.attr("no_alignment")) ? py::object(py::bool_(false)) : py::none();

    ProgressPrinter printer = progress_printer();
    py::object stats;
    try {
        stats = llm_phase([&] {
            return tg.attr("generative_solve")(
                description, pair.staged_model(), pair.staged_data(), py::arg("model_name") = model_or_default(args),
                py::arg("mode") = grammar_mode(args.attr("grammar")), py::arg("iterations") = iterations,
                py::arg("return_statistics") = true, py::arg("alignment_check") = alignment_check,
                py::arg("temperature") = args.attr("temperature"), py::arg("llm_provider") = args.attr("provider"),
                py::arg("progress") = printer.callback, py::arg("few_shot") = few_shot);
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

    // The pair as it stands on disk decides, not the loop's last note.
    std::string diagnostics;
    bool compiled = true;
    try {
        tg.attr("TVLCompiler")().attr("compile_model")(read_input(pair.staged_model()), read_input(pair.staged_data()));
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e)) throw;
        compiled = false;
        diagnostics = host::str_of(e.value());
    }
    bool aligned = *printer.saw_aligned;
    Pair kept;
    bool existed = fs::exists(pair.target().model) || fs::exists(pair.target().data);
    if (compiled)
        pair.place();
    else
        kept = pair.keep_failed();

    ExitStatus status = !compiled                 ? ExitStatus::DoesNotCompile
                        : (alignment && !aligned) ? ExitStatus::NotAligned
                                                  : ExitStatus::Success;
    RunOutcome run;
    bool with_run = host::truthy(args.attr("run")) && compiled;
    if (with_run) run = solve_files(read_input(model_file), read_input(data_file), args, false);
    EmitOutcome emit;
    bool with_emit = !script.is_none() && compiled;
    if (with_emit) emit = emit_files(read_input(model_file), read_input(data_file), script);
    // A run that did not end optimal says more than the script's fate, and both more than alignment.
    if (with_run && run.status != 0)
        status = static_cast<ExitStatus>(run.status);
    else if (with_emit && emit.status != 0)
        status = static_cast<ExitStatus>(emit.status);

    std::string outcome;
    if (!compiled) {
        outcome = std::string("the final model does not compile; ") + host::str_of(model_file) + " and " +
                  host::str_of(data_file) + (existed ? " are unchanged" : " were not written") +
                  "; the last attempt is in " + kept_text(kept);
    } else if (alignment && !aligned) {
        outcome =
            "the model compiles but was never judged aligned with the description; it is in " + both(pair.target());
    }

    if (host::truthy(args.attr("json"))) {
        py::dict out;
        out["model_file"] = model_file;
        out["data_file"] = data_file;
        out["iterations"] = stats["iterations"];
        out["syntax_errors"] = stats["syntax_errors"];
        out["assessment"] = stats["assessment"];
        out["compiled"] = py::bool_(compiled);
        if (execution_check) {
            out["solver_status"] = stats["solver_status"];
            out["objective"] = stats["objective"];
        }
        out["aligned"] = alignment ? py::object(py::bool_(aligned)) : py::object(py::none());
        out["status"] = code(status);
        if (!compiled) {
            out["failed_model_file"] = kept.model.empty() ? py::object(py::none()) : host_path(kept.model);
            out["failed_data_file"] = kept.data.empty() ? py::object(py::none()) : host_path(kept.data);
        }
        if (host::truthy(args.attr("run"))) {
            out["run"] = with_run && run.status != 1 ? run.result.attr("to_dict")() : py::object(py::none());
        }
        if (!script.is_none()) out["emitted"] = with_emit && emit.status == 0 ? emit.written : py::object(py::none());
        say(host::str_of(json_dumps(out)));
        if (with_emit && emit.status == code(ExitStatus::Usage)) warn("tarvok: " + emit.failure);
        if (!outcome.empty()) warn("tarvok: " + outcome);
        return code(status);
    }
    bool with_stats = host::truthy(args.attr("stats"));
    if (with_stats) {
        say("iterations: " + host::str_of(stats["iterations"]));
        say("syntax errors: " + std::to_string(py::len(stats["syntax_errors"])));
        for (auto error : stats["syntax_errors"]) say(host::str_of(error));
        say(std::string("compiled: ") + (compiled ? "yes" : "no"));
        if (execution_check) {
            say("solver status: " + host::str_of(stats["solver_status"]));
            say("objective: " + host::str_of(stats["objective"]));
        }
        say(std::string("aligned: ") + (!alignment ? "not checked" : aligned ? "yes" : "no"));
        say("model: " + host::str_of(compiled ? model_file : host_path(kept.model)));
        say("data: " + host::str_of(compiled ? data_file : host_path(kept.data)));
        say("");
    }
    say(host::str_of(stats["assessment"]));
    if (with_run) {
        say("");
        say(run.status == 1 ? run.diagnostics : summary_of(run.result));
    }
    if (with_emit) {
        if (emit.status == 0)
            warn(written_line(emit.written));
        else if (emit.status == code(ExitStatus::Usage))
            warn("tarvok: " + emit.failure);
        else if (!with_run)
            say("\n" + emit.diagnostics);
    }
    if (!compiled && !with_stats) say("\n" + diagnostics);  // as `check` and `run` print them
    if (!outcome.empty()) warn("tarvok: " + outcome);
    return code(status);
}

}  // namespace tarvok::cli
