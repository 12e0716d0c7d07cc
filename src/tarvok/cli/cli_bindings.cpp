// tarvok._cli: the `tarvok` command (also `python -m tarvok`).
//
//   tarvok solve "description or @file.txt" -m out.mod -d out.dat [--execution-check] [options]
//   tarvok feedback "question" -m model.mod -d data.dat [--apply] [options]
//   tarvok models [--provider NAME] [--model NAME]
//   tarvok check model.mod data.dat
//   tarvok run model.mod data.dat [--json] [--time-limit S] [--mip-gap G] [--threads N] [--write FILE] [--verbose]
//   tarvok emit model.mod data.dat -o script.py
//   tarvok rank your problem description
//   tarvok eval [DATASET] --out DIR [--provider P] [--model M] [--jobs N] [--iterations K] [--execution-check]
//               [--rel-tol T] [--limit N] [--json]        (tarvok.evaluation.main)
//
// Progress goes to stderr as it happens, results to stdout. Failures end with
// one line on stderr and status 1; Ctrl-C ends with status 130. `run` exits 0
// for an optimal solution, 1 when the model does not compile, 2 when a file
// cannot be read and 3 for every other outcome of the solve. `emit` exits 1
// when the model does not compile and 2 when a file cannot be read or written.
#include "generative/providers/providers.hpp"
#include "host/host.hpp"

#include <string>
#include <vector>

namespace py = pybind11;
namespace host = tarvok::host;

namespace {

py::module_ generative() { return py::module_::import("tarvok.tarvok_generative"); }

void write_to(const char* stream, const std::string& line) {
    py::object out = py::module_::import("sys").attr(stream);
    out.attr("write")(host::text(line + "\n"));
    out.attr("flush")();
}

void say(const std::string& line) { write_to("stdout", line); }
void warn(const std::string& line) { write_to("stderr", line); }

py::object json_dumps(py::handle value) {
    return py::module_::import("json").attr("dumps")(value, py::arg("indent") = 2, py::arg("ensure_ascii") = false);
}

/// Progress lines of the library, printed to stderr as they arrive.
py::cpp_function progress_printer() {
    return py::cpp_function([](py::object msg) { warn(host::str_of(msg)); });
}

/// "@path" reads the description from a file; anything else is the text itself.
py::object description_text(py::object arg) {
    std::string s = host::str_of(arg);
    if (s.size() > 1 && s[0] == '@') {
        return host::read_file(host::text(s.substr(1)), "r", "utf-8");
    }
    return arg;
}

py::object grammar_mode(py::object name) {
    return generative().attr("Grammar").attr(py::str(name).attr("upper")());
}

py::object absolute(py::object path) { return py::module_::import("os").attr("path").attr("abspath")(path); }

void add_llm_options(py::object parser, bool with_grammar) {
    namespace pv = tarvok::generative::providers;
    std::vector<std::string_view> names;
    for (const pv::Provider& p : pv::kProviders) names.push_back(p.value);
    parser.attr("add_argument")("--model", py::arg("dest") = "model_name", py::arg("metavar") = "NAME",
                                py::arg("help") = "LLM model name (default: the library's MODEL_NAME)");
    parser.attr("add_argument")(
        "--provider", py::arg("metavar") = "NAME",
        py::arg("help") = pv::spoken_list(names, "or") + " (default: inferred from the model name)");
    if (with_grammar) {
        parser.attr("add_argument")("--grammar", py::arg("choices") = py::make_tuple("none", "bnf", "code"),
                                    py::arg("default") = "bnf",
                                    py::arg("help") = "grammar reference pasted into the prompts (default: bnf)");
        parser.attr("add_argument")("--temperature", py::arg("type") = py::module_::import("builtins").attr("float"),
                                    py::arg("metavar") = "T");
    }
    parser.attr("add_argument")("--json", py::arg("action") = "store_true",
                                py::arg("help") = "print a machine-readable result");
}

py::object build_parser() {
    py::module_ argparse = py::module_::import("argparse");
    py::object parser = argparse.attr("ArgumentParser")(
        py::arg("prog") = "tarvok",
        py::arg("description") = "Generate, check and discuss Tarvok optimisation models with an LLM.");
    py::object commands = parser.attr("add_subparsers")(py::arg("dest") = "command", py::arg("metavar") = "COMMAND");
    commands.attr("required") = true;

    py::object solve = commands.attr("add_parser")(
        "solve", py::arg("help") = "generate a model and data file from a problem description");
    solve.attr("add_argument")("description", py::arg("help") = "the problem in plain words, or @file.txt");
    solve.attr("add_argument")("-m", "--model-file", py::arg("required") = true, py::arg("metavar") = "FILE.mod");
    solve.attr("add_argument")("-d", "--data-file", py::arg("required") = true, py::arg("metavar") = "FILE.dat");
    add_llm_options(solve, true);
    solve.attr("add_argument")("--iterations", py::arg("type") = py::module_::import("builtins").attr("int"),
                               py::arg("metavar") = "N");
    solve.attr("add_argument")("--no-alignment", py::arg("action") = "store_true",
                               py::arg("help") = "skip the alignment check");
    solve.attr("add_argument")("--no-few-shot", py::arg("action") = "store_true",
                               py::arg("help") = "do not put worked examples into the prompts");
    solve.attr("add_argument")("--examples", py::arg("metavar") = "DIR",
                               py::arg("help") = "example library (default: ./tvl_models, else the shipped one)");
    solve.attr("add_argument")("--stats", py::arg("action") = "store_true",
                               py::arg("help") = "print iterations and remaining errors too");
    solve.attr("add_argument")("--run", py::arg("action") = "store_true",
                               py::arg("help") = "solve the final model with HiGHS and print the solution too");
    solve.attr("add_argument")("--emit", py::arg("metavar") = "SCRIPT.py",
                               py::arg("help") = "also write a SciPy script that solves the final model");
    solve.attr("add_argument")("--execution-check", py::arg("action") = "store_true",
                               py::arg("help") = "solve every compiling model with HiGHS and revise one that is "
                                                 "infeasible or unbounded (the solve extra)");

    py::object feedback = commands.attr("add_parser")(
        "feedback", py::arg("help") = "ask a question about an existing model and data file");
    feedback.attr("add_argument")("question", py::arg("help") = "the question, or @file.txt");
    feedback.attr("add_argument")("-m", "--model-file", py::arg("required") = true, py::arg("metavar") = "FILE.mod");
    feedback.attr("add_argument")("-d", "--data-file", py::arg("required") = true, py::arg("metavar") = "FILE.dat");
    add_llm_options(feedback, true);
    feedback.attr("add_argument")("--apply", py::arg("action") = "store_true",
                                  py::arg("help") = "write a proposed revision to the files once it compiles");

    py::object models = commands.attr("add_parser")("models", py::arg("help") = "list a provider's models");
    add_llm_options(models, false);

    py::object check = commands.attr("add_parser")("check", py::arg("help") = "compile a model and data file");
    check.attr("add_argument")("model", py::arg("metavar") = "MODEL.mod");
    check.attr("add_argument")("data", py::arg("metavar") = "DATA.dat");

    py::object builtins = py::module_::import("builtins");
    py::object run = commands.attr("add_parser")(
        "run", py::arg("help") = "solve a model and data file with HiGHS and print the solution");
    run.attr("add_argument")("model", py::arg("metavar") = "MODEL.mod");
    run.attr("add_argument")("data", py::arg("metavar") = "DATA.dat");
    run.attr("add_argument")("--json", py::arg("action") = "store_true",
                             py::arg("help") = "print one JSON object: status, objective, values, ...");
    run.attr("add_argument")("--time-limit", py::arg("type") = builtins.attr("float"), py::arg("metavar") = "S",
                             py::arg("help") = "stop the solver after S seconds");
    run.attr("add_argument")("--mip-gap", py::arg("type") = builtins.attr("float"), py::arg("metavar") = "G",
                             py::arg("help") = "relative MIP gap at which to stop");
    run.attr("add_argument")("--threads", py::arg("type") = builtins.attr("int"), py::arg("metavar") = "N");
    run.attr("add_argument")("--write", py::arg("metavar") = "FILE",
                             py::arg("help") = "also write the expanded model as FILE.mps or FILE.lp");
    run.attr("add_argument")("--verbose", py::arg("action") = "store_true",
                             py::arg("help") = "solver log and sizes on stderr");

    py::object emit = commands.attr("add_parser")(
        "emit", py::arg("help") = "write a Python script that states and solves a model with SciPy");
    emit.attr("add_argument")("model", py::arg("metavar") = "MODEL.mod");
    emit.attr("add_argument")("data", py::arg("metavar") = "DATA.dat");
    emit.attr("add_argument")("-o", "--output", py::arg("required") = true, py::arg("metavar") = "SCRIPT.py",
                              py::arg("help") = "the script; a large model's numbers go to SCRIPT.npz beside it");

    // `eval` has its own parser in tarvok.evaluation (main dispatches to it first); listed here for --help.
    commands.attr("add_parser")("eval", py::arg("help") = "measure answer accuracy on a benchmark set of word problems",
                                py::arg("add_help") = false);

    py::object rank = commands.attr("add_parser")(
        "rank", py::arg("help") = "rank the example library against a problem description");
    rank.attr("add_argument")("query", py::arg("nargs") = "*");
    return parser;
}

/// Runs `body` from a folder whose `tvl_models` is the example library chosen
/// for this run, and restores the working directory afterwards.
template <typename Body>
py::object with_examples_folder(py::object examples, Body body) {
    py::module_ os = py::module_::import("os");
    py::object here = os.attr("getcwd")();
    py::object temporary = py::none();
    py::object folder = here;
    if (!examples.is_none()) {
        py::object library = absolute(examples);
        if (PyObject_IsTrue(os.attr("path").attr("isdir")(library).ptr()) != 1) {
            host::raise(PyExc_FileNotFoundError, "Examples directory not found: " + host::str_of(library));
        }
        temporary = py::module_::import("tempfile").attr("TemporaryDirectory")(py::arg("prefix") = "tarvok-");
        folder = temporary.attr("name");
        os.attr("symlink")(library, os.attr("path").attr("join")(folder, "tvl_models"));
        warn("Few-shot examples from " + host::str_of(library));
    } else if (PyObject_IsTrue(os.attr("path").attr("isdir")("tvl_models").ptr()) == 1) {
        warn("Few-shot examples from " + host::str_of(absolute(py::str("tvl_models"))));
    } else {
        folder = os.attr("path").attr("dirname")(py::module_::import("tarvok").attr("__file__"));
        warn("Few-shot examples from the shipped library " +
             host::str_of(os.attr("path").attr("join")(folder, "tvl_models")));
    }
    os.attr("chdir")(folder);
    try {
        py::object result = body();
        os.attr("chdir")(here);
        if (!temporary.is_none()) temporary.attr("cleanup")();
        return result;
    } catch (...) {
        os.attr("chdir")(here);
        if (!temporary.is_none()) temporary.attr("cleanup")();
        throw;
    }
}

py::object provider_or_none(py::object args) { return args.attr("provider"); }

py::object model_or_default(py::object args) {
    py::object name = args.attr("model_name");
    return name.is_none() ? generative().attr("MODEL_NAME") : name;
}

py::module_ solver() { return py::module_::import("tarvok.solver"); }

/// Outcome of solving one model and data pair, for `run` and `solve --run`.
struct RunOutcome {
    int status = 0;          ///< exit status
    py::object result;       ///< the SolveResult, when there is one
    std::string diagnostics; ///< compile errors
};

RunOutcome solve_files(py::object model_text, py::object data_text, py::object args, bool with_options) {
    RunOutcome out;
    py::object sm = solver();
    py::dict options;
    if (with_options) {
        options["time_limit"] = args.attr("time_limit");
        options["mip_gap"] = args.attr("mip_gap");
        options["threads"] = args.attr("threads");
        options["log"] = py::bool_(host::truthy(args.attr("verbose")));
    }
    try {
        if (with_options && !args.attr("write").is_none())
            sm.attr("write_model")(model_text, data_text, args.attr("write"));
        out.result = sm.attr("solve_model")(model_text, data_text, **options);
    } catch (py::error_already_set& e) {
        if (!e.matches(sm.attr("SemanticError"))) throw;
        out.diagnostics = host::str_of(e.value());
        out.status = 1;
        return out;
    }
    bool optimal = out.result.attr("status").is(sm.attr("Status").attr("OPTIMAL"));
    out.status = optimal ? 0 : 3;
    return out;
}

/// The readable report of a SolveResult, without its final newline.
std::string summary_of(py::handle result) {
    std::string text = host::str_of(result.attr("summary")());
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

/// Why `path` cannot take a script, or "" when it can: its folder must exist
/// and it must not be a folder or end in .npz (the name of a script's data).
std::string unusable_script_path(py::object path) {
    py::object os_path = py::module_::import("os").attr("path");
    std::string name = host::str_of(path);
    std::string lower;
    for (char ch : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".npz") == 0)
        return name + " ends in .npz, the suffix of a script's data file";
    if (host::truthy(os_path.attr("isdir")(path))) return name + " is a folder";
    py::object folder = os_path.attr("dirname")(absolute(path));
    if (!host::truthy(os_path.attr("isdir")(folder))) return "no folder " + host::str_of(folder);
    return "";
}

/// Outcome of writing a script for one model and data pair.
struct EmitOutcome {
    int status = 0;           ///< exit status
    py::object written;       ///< the paths written, when there are some
    std::string diagnostics;  ///< compile errors
    std::string failure;      ///< why a file could not be written
};

EmitOutcome emit_files(py::object model_text, py::object data_text, py::object path) {
    EmitOutcome out;
    py::module_ emitter = py::module_::import("tarvok.scipy_emitter");
    try {
        out.written = emitter.attr("write_script")(model_text, data_text, path);
    } catch (py::error_already_set& e) {
        if (e.matches(emitter.attr("SemanticError"))) {
            out.diagnostics = host::str_of(e.value());
            out.status = 1;
        } else if (e.matches(PyExc_OSError)) {
            out.failure = "cannot write " + host::str_of(path) + ": " + host::str_of(e.value());
            out.status = 2;
        } else {
            throw;
        }
    }
    return out;
}

std::string written_line(py::handle written) {
    std::string line = "Wrote";
    size_t k = 0;
    for (py::handle path : written) line += (k++ ? " and " : " ") + host::str_of(path);
    return line;
}

/// Reads the MODEL and DATA files of `command`; false (after saying why)
/// when one cannot be read.
bool read_pair(py::object args, const char* command, py::object (&texts)[2]) {
    py::object paths[2] = {args.attr("model"), args.attr("data")};
    for (size_t i = 0; i < 2; ++i) {
        try {
            texts[i] = host::read_file(paths[i], "r", "utf-8");
        } catch (py::error_already_set& e) {
            if (!e.matches(PyExc_OSError) && !e.matches(PyExc_UnicodeDecodeError)) throw;
            warn(std::string("tarvok ") + command + ": cannot read " + host::str_of(paths[i]) + ": " +
                 host::str_of(e.value()));
            return false;
        }
    }
    return true;
}

int run_emit(py::object args) {
    py::object texts[2];
    if (!read_pair(args, "emit", texts)) return 2;
    std::string unusable = unusable_script_path(args.attr("output"));
    if (!unusable.empty()) {
        warn("tarvok emit: cannot write a script there: " + unusable);
        return 2;
    }
    EmitOutcome emit = emit_files(texts[0], texts[1], args.attr("output"));
    if (emit.status == 1) say(emit.diagnostics);
    if (emit.status == 2) warn("tarvok emit: " + emit.failure);
    if (emit.status == 0) say(written_line(emit.written));
    return emit.status;
}

int run_run(py::object args) {
    py::object texts[2];
    if (!read_pair(args, "run", texts)) return 2;
    bool as_json = host::truthy(args.attr("json"));
    RunOutcome run = solve_files(texts[0], texts[1], args, true);
    if (run.status == 1) {
        if (as_json) warn(run.diagnostics);
        else say(run.diagnostics);
        return 1;
    }
    if (host::truthy(args.attr("verbose"))) {
        py::dict stats = run.result.attr("statistics");
        std::string line;
        for (auto item : stats) line += (line.empty() ? "" : ", ") + host::str_of(item.first) + " " + host::str_of(item.second);
        warn(line);
    }
    if (as_json) say(host::str_of(json_dumps(run.result.attr("to_dict")())));
    else say(summary_of(run.result));
    return run.status;
}

int run_solve(py::object args) {
    py::object tg = generative();
    py::object description = description_text(args.attr("description"));
    py::object model_file = absolute(args.attr("model_file"));
    py::object data_file = absolute(args.attr("data_file"));
    bool few_shot = PyObject_IsTrue(args.attr("no_few_shot").ptr()) != 1;
    py::object temperature = args.attr("temperature");
    py::object iterations = args.attr("iterations");
    if (iterations.is_none()) iterations = tg.attr("MAX_ITERATIONS");

    py::object script = args.attr("emit");
    if (!script.is_none()) {
        std::string unusable = unusable_script_path(script);
        if (!unusable.empty()) {  // refused before any request is made
            warn("tarvok solve: cannot write a script there: " + unusable);
            return 2;
        }
    }

    py::object alignment_check = py::none();
    if (PyObject_IsTrue(args.attr("no_alignment").ptr()) == 1) alignment_check = py::bool_(false);

    auto call = [&]() -> py::object {
        return tg.attr("generative_solve")(
            description, model_file, data_file, py::arg("model_name") = model_or_default(args),
            py::arg("mode") = grammar_mode(args.attr("grammar")), py::arg("iterations") = iterations,
            py::arg("return_statistics") = true,
            py::arg("alignment_check") = alignment_check,
            py::arg("temperature") = temperature, py::arg("llm_provider") = provider_or_none(args),
            py::arg("progress") = progress_printer(), py::arg("few_shot") = few_shot);
    };
    // The execution check is a library setting; the command turns it on for its one run.
    bool execution_check = host::truthy(args.attr("execution_check"));
    py::object saved_check = tg.attr("EXECUTION_CHECK");
    if (execution_check) tg.attr("EXECUTION_CHECK") = true;
    py::object stats;
    try {
        stats = few_shot ? with_examples_folder(args.attr("examples"), call) : call();
    } catch (...) {
        tg.attr("EXECUTION_CHECK") = saved_check;
        throw;
    }
    tg.attr("EXECUTION_CHECK") = saved_check;

    RunOutcome run;
    bool with_run = host::truthy(args.attr("run"));
    if (with_run) run = solve_files(host::read_file(model_file, "r"), host::read_file(data_file, "r"), args, false);
    EmitOutcome emit;
    bool with_emit = !script.is_none();
    if (with_emit) emit = emit_files(host::read_file(model_file, "r"), host::read_file(data_file, "r"), script);
    // A run that did not end optimal says more than the script's fate.
    int status = run.status != 0 ? run.status : emit.status;
    if (PyObject_IsTrue(args.attr("json").ptr()) == 1) {
        py::dict out;
        out["model_file"] = model_file;
        out["data_file"] = data_file;
        out["iterations"] = stats["iterations"];
        out["syntax_errors"] = stats["syntax_errors"];
        out["assessment"] = stats["assessment"];
        if (execution_check) {
            out["solver_status"] = stats["solver_status"];
            out["objective"] = stats["objective"];
        }
        if (with_run) out["run"] = run.status == 1 ? py::object(py::none()) : run.result.attr("to_dict")();
        if (with_emit) out["emitted"] = emit.status == 0 ? emit.written : py::object(py::none());
        say(host::str_of(json_dumps(out)));
        if (run.status == 1) warn(run.diagnostics);
        else if (emit.status == 1) warn(emit.diagnostics);
        if (emit.status == 2) warn("tarvok solve: " + emit.failure);
        return status;
    }
    if (PyObject_IsTrue(args.attr("stats").ptr()) == 1) {
        say("iterations: " + host::str_of(stats["iterations"]));
        say("syntax errors: " + std::to_string(py::len(stats["syntax_errors"])));
        for (auto error : stats["syntax_errors"]) say(host::str_of(error));
        if (execution_check) {
            say("solver status: " + host::str_of(stats["solver_status"]));
            say("objective: " + host::str_of(stats["objective"]));
        }
        say("model: " + host::str_of(model_file));
        say("data: " + host::str_of(data_file));
        say("");
    }
    say(host::str_of(stats["assessment"]));
    if (with_run) {
        say("");
        say(run.status == 1 ? run.diagnostics : summary_of(run.result));
    }
    if (with_emit) {
        if (emit.status == 0) warn(written_line(emit.written));
        else if (emit.status == 2) warn("tarvok solve: " + emit.failure);
        else if (!with_run) say("\n" + emit.diagnostics);
    }
    return status;
}

int run_feedback(py::object args) {
    py::object tg = generative();
    py::object reply = tg.attr("generative_feedback")(
        description_text(args.attr("question")), args.attr("model_file"), args.attr("data_file"),
        py::arg("model_name") = model_or_default(args), py::arg("mode") = grammar_mode(args.attr("grammar")),
        py::arg("temperature") = args.attr("temperature"), py::arg("llm_provider") = provider_or_none(args),
        py::arg("progress") = progress_printer());
    bool as_json = PyObject_IsTrue(args.attr("json").ptr()) == 1;
    if (reply.is_none() || !PyDict_Check(reply.ptr())) {
        if (as_json) {
            say(host::str_of(json_dumps(reply)));
        } else {
            say("The model gave no feedback.");
        }
        return 0;
    }
    py::dict answer = reply;
    bool revised = answer.contains("revised_model") || answer.contains("revised_data");
    if (as_json) {
        say(host::str_of(json_dumps(answer)));
    } else {
        say(answer.contains("feedback") ? host::str_of(answer["feedback"]) : std::string("(no feedback text)"));
    }
    if (!revised) return 0;
    if (PyObject_IsTrue(args.attr("apply").ptr()) != 1) {
        if (!as_json) warn("A revised model and data are proposed; run again with --apply to write them.");
        return 0;
    }
    // A revision is written only when it compiles; a missing half keeps the file's text.
    py::object model = answer.contains("revised_model") ? answer["revised_model"] : host::read_file(args.attr("model_file"), "r");
    py::object data = answer.contains("revised_data") ? answer["revised_data"] : host::read_file(args.attr("data_file"), "r");
    if (!PyUnicode_Check(model.ptr()) || !PyUnicode_Check(data.ptr())) {
        host::raise(PyExc_RuntimeError, "The proposed revision is not text; nothing was written.");
    }
    try {
        tg.attr("TVLCompiler")().attr("compile_model")(model, data);
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e)) throw;
        warn(host::str_of(e.value()));
        warn("tarvok: the proposed revision does not compile; the files are unchanged");
        return 1;
    }
    py::module_ pathlib = py::module_::import("pathlib");
    pathlib.attr("Path")(args.attr("model_file")).attr("write_text")(model);
    pathlib.attr("Path")(args.attr("data_file")).attr("write_text")(data);
    warn("Applied the revision to " + host::str_of(args.attr("model_file")) + " and " + host::str_of(args.attr("data_file")));
    return 0;
}

int run_models(py::object args) {
    py::object names =
        generative().attr("list_models")(provider_or_none(args), model_or_default(args));
    if (PyObject_IsTrue(args.attr("json").ptr()) == 1) {
        say(host::str_of(json_dumps(names)));
    } else {
        for (auto name : names) say(host::str_of(name));
    }
    return 0;
}

int exit_status(py::handle result) {
    if (result.is_none()) return 0;
    return result.cast<int>();
}

int run_check(py::object args) {
    py::list argv;
    argv.append(args.attr("model"));
    argv.append(args.attr("data"));
    return exit_status(py::module_::import("tarvok.tarvok_core").attr("main")(argv));
}

int run_rank(py::object args) {
    return exit_status(py::module_::import("tarvok.example_ranker").attr("main")(args.attr("query")));
}

/// The message of an error, on one line.
std::string one_line(py::handle error) {
    std::string message = host::str_of(error);
    auto newline = message.find('\n');
    if (newline != std::string::npos) message = message.substr(0, newline) + " ...";
    if (message.empty()) message = host::type_name(error);
    return message;
}

int main_impl(py::object argv) {
    try {
        if (argv.is_none()) argv = py::module_::import("sys").attr("argv")[py::slice(1, std::nullopt, std::nullopt)];
        argv = py::list(argv);
        if (py::len(argv) > 0 && host::equals(argv[py::int_(0)], py::str("eval"))) {
            py::object rest = argv[py::slice(1, std::nullopt, std::nullopt)];
            return exit_status(py::module_::import("tarvok.evaluation").attr("main")(rest));
        }
        py::object parser = build_parser();
        py::object args = parser.attr("parse_args")(argv);
        std::string command = host::str_of(args.attr("command"));
        if (command == "solve") return run_solve(args);
        if (command == "feedback") return run_feedback(args);
        if (command == "models") return run_models(args);
        if (command == "check") return run_check(args);
        if (command == "run") return run_run(args);
        if (command == "emit") return run_emit(args);
        return run_rank(args);
    } catch (py::error_already_set& e) {
        if (e.matches(PyExc_KeyboardInterrupt)) {
            warn("tarvok: interrupted");
            return 130;
        }
        if (e.matches(PyExc_SystemExit)) throw;  // argparse's usage errors and --help
        if (!host::is_ordinary(e)) throw;
        warn("tarvok: error: " + one_line(e.value()));
        return 1;
    }
}

}  // namespace

PYBIND11_MODULE(_cli, m, py::mod_gil_not_used()) {
    py::options options;
    options.disable_function_signatures();
    m.doc() = "The tarvok command.";
    host::def(m, "main", "argv=None",
              "Run the tarvok command with argv (default: sys.argv[1:]) and return its exit status.",
              &main_impl, py::arg("argv") = py::none());
}
