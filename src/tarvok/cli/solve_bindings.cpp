// `tarvok solve DESCRIPTION -m MODEL -d DATA`: the generation loop.
#include "cli/command.hpp"

namespace tarvok::cli {

namespace {

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
        if (!host::truthy(os.attr("path").attr("isdir")(library))) {
            host::raise(PyExc_FileNotFoundError, "Examples directory not found: " + host::str_of(library));
        }
        temporary = py::module_::import("tempfile").attr("TemporaryDirectory")(py::arg("prefix") = "tarvok-");
        folder = temporary.attr("name");
        os.attr("symlink")(library, os.attr("path").attr("join")(folder, "tvl_models"));
        warn("Few-shot examples from " + host::str_of(library));
    } else if (host::truthy(os.attr("path").attr("isdir")("tvl_models"))) {
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

}  // namespace

void add_solve(py::object commands) {
    py::object solve = commands.attr("add_parser")(
        "solve", py::arg("help") = "generate a model and data file from a problem description");
    solve.attr("add_argument")("description", py::arg("help") = "the problem in plain words, or @file.txt");
    solve.attr("add_argument")("-m", "--model-file", py::arg("required") = true, py::arg("metavar") = "FILE.mod");
    solve.attr("add_argument")("-d", "--data-file", py::arg("required") = true, py::arg("metavar") = "FILE.dat");
    add_llm_options(solve, true);
    solve.attr("add_argument")("--iterations", py::arg("type") = builtin("int"), py::arg("metavar") = "N");
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
}

int run_solve(py::object args) {
    py::object tg = generative();
    py::object description = description_text(args.attr("description"));
    py::object model_file = absolute(args.attr("model_file"));
    py::object data_file = absolute(args.attr("data_file"));
    bool few_shot = !host::truthy(args.attr("no_few_shot"));
    py::object iterations = args.attr("iterations");
    if (iterations.is_none()) iterations = tg.attr("MAX_ITERATIONS");

    py::object alignment_check = py::none();
    if (host::truthy(args.attr("no_alignment"))) alignment_check = py::bool_(false);

    auto call = [&]() -> py::object {
        return tg.attr("generative_solve")(
            description, model_file, data_file, py::arg("model_name") = model_or_default(args),
            py::arg("mode") = grammar_mode(args.attr("grammar")), py::arg("iterations") = iterations,
            py::arg("return_statistics") = true, py::arg("alignment_check") = alignment_check,
            py::arg("temperature") = args.attr("temperature"), py::arg("llm_provider") = args.attr("provider"),
            py::arg("progress") = progress_printer(), py::arg("few_shot") = few_shot);
    };
    py::object stats = few_shot ? with_examples_folder(args.attr("examples"), call) : call();

    RunOutcome run;
    bool with_run = host::truthy(args.attr("run"));
    if (with_run) run = solve_files(host::read_file(model_file, "r"), host::read_file(data_file, "r"), args, false);
    if (host::truthy(args.attr("json"))) {
        py::dict out;
        out["model_file"] = model_file;
        out["data_file"] = data_file;
        out["iterations"] = stats["iterations"];
        out["syntax_errors"] = stats["syntax_errors"];
        out["assessment"] = stats["assessment"];
        if (with_run) out["run"] = run.status == 1 ? py::object(py::none()) : run.result.attr("to_dict")();
        say(host::str_of(json_dumps(out)));
        if (run.status == 1) warn(run.diagnostics);
        return run.status;
    }
    if (host::truthy(args.attr("stats"))) {
        say("iterations: " + host::str_of(stats["iterations"]));
        say("syntax errors: " + std::to_string(py::len(stats["syntax_errors"])));
        for (auto error : stats["syntax_errors"]) say(host::str_of(error));
        say("model: " + host::str_of(model_file));
        say("data: " + host::str_of(data_file));
        say("");
    }
    say(host::str_of(stats["assessment"]));
    if (!with_run) return 0;
    say("");
    say(run.status == 1 ? run.diagnostics : summary_of(run.result));
    return run.status;
}

}  // namespace tarvok::cli
