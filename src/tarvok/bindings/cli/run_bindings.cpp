// `tarvok run MODEL [DATA]`: solve a pair with HiGHS and print the solution.
// Exit statuses: 0 optimal, 1 does not compile, 2 a usage fault (an option's
// value, an output path, a missing extra), 3 any other outcome of the solve,
// 130 Ctrl-C (after the best solution found so far).
#include "bindings/cli/command.hpp"
#include "bindings/host/highs.hpp"
#include "bindings/host/json.hpp"
#include "bindings/host/solvers.hpp"
#include "cli/run_inputs.hpp"
#include "common/files.hpp"
#include "solver/options.hpp"

namespace tarvok::cli {

namespace {

py::module_ solver() { return py::module_::import("tarvok.solver"); }

/// 0 for an optimal solution, 3 for any other end of the solve.
int status_of(py::handle result) {
    bool optimal = result.attr("status").is(solver().attr("Status").attr("OPTIMAL"));
    return code(optimal ? ExitStatus::Success : ExitStatus::NotOptimal);
}

}  // namespace

Expanded expand(py::object compiled_model) {
    py::object sm = solver();
    try {
        return {compiled_model.attr("program"), ""};
    } catch (py::error_already_set& e) {
        if (!e.matches(sm.attr("SemanticError"))) throw;
        return {py::none(), host::str_of(e.value())};
    }
}

RunOutcome solve_expanded(const Expanded& expanded, py::object solver_name) {
    if (expanded.program.is_none()) return {code(ExitStatus::DoesNotCompile), py::none(), expanded.diagnostics};
    RunOutcome out;
    py::dict options;
    if (!solver_name.is_none()) options["solver"] = solver_name;
    out.result = solver().attr("solve_program")(expanded.program, **options);
    out.status = status_of(out.result);
    return out;
}

void require_solver(py::object solver_name, const std::string& purpose) {
    needing_extras([&] { return py::object(host::import_solver(host::str_of(solver_name), purpose)); });
}

namespace {

/// Refuses (status 2) option values the solver cannot take, naming the option.
void check_solve_options(py::object args) {
    SolveOptions options;
    py::object limit = args.attr("time_limit"), gap = args.attr("mip_gap"), threads = args.attr("threads");
    if (!limit.is_none()) options.time_limit = limit.cast<double>(), options.time_limit_shown = host::str_of(limit);
    if (!gap.is_none()) options.mip_gap = gap.cast<double>(), options.mip_gap_shown = host::str_of(gap);
    // Any int: a value beyond long long stands at its end, still out of range.
    if (!threads.is_none()) options.threads = host::saturated(threads), options.threads_shown = host::str_of(threads);
    options.solver = host::str_of(args.attr("solver"));
    options.ranging = host::truthy(args.attr("sensitivity"));
    if (auto refused = refused_solve_option(options)) fail(ExitStatus::Usage, *refused);
}

/// The solution as FILE.json (the result's dictionary) or FILE.csv (a row per
/// value: name, the set elements of its keys, value), written whole.
void write_solution(py::object path, py::object result, bool nested) {
    bool csv = solution_is_csv(host::str_of(path));
    std::string text;
    py::dict solved = result.attr("to_dict")(py::arg("nested") = nested && !csv);
    if (csv) {
        py::object buffer = py::module_::import("io").attr("StringIO")();
        py::object writer = py::module_::import("csv").attr("writer")(buffer, py::arg("lineterminator") = "\n");
        for (const auto& row : solution_csv_rows(solution_of(host::from_python(solved)))) {
            py::list cells;
            for (const auto& cell : row) cells.append(host::text(cell));
            writer.attr("writerow")(cells);
        }
        text = host::str_of(buffer.attr("getvalue")());
    } else {
        text = host::str_of(json_dumps(solved)) + "\n";
    }
    try {
        tarvok::files::write_file_atomically(host::file_system_path(path), text);
    } catch (const std::exception& e) {
        fail(ExitStatus::Usage, "--solution cannot write " + host::str_of(path) + ": " + e.what());
    }
}

}  // namespace

namespace {

/// The pair `run` solves, read and checked: the model's text, the data's
/// text made from every DATA argument, and the names diagnostics give both.
struct RunInputs {
    py::object model_path, model_text;
    std::string model_shown;
    DataInputs data;
};

/// Refuses (status 2) --write and --solution paths that cannot take their file or would replace an input.
void check_outputs(py::object args, const GatheredData& gathered) {
    py::object written = args.attr("write"), solution = args.attr("solution");
    std::vector<GivenPath> inputs{given_path(args.attr("model"))};
    for (const std::string& input : gathered.inputs) inputs.push_back(given_path(host::text(input)));
    if (!written.is_none()) {
        std::string unusable =
            unusable_output_path(written, refused_model_file_name(host::str_of(written)).value_or(""));
        if (!unusable.empty()) fail(ExitStatus::Usage, "--write cannot write the model there: " + unusable);
        refuse_output_over(given_path(written), inputs, "--write");
    }
    if (!solution.is_none()) {
        if (auto refused = refused_solution_name(host::str_of(solution))) fail(ExitStatus::Usage, *refused);
        refuse_output_over(given_path(solution), inputs, "--solution");
    }
}

RunInputs read_run_inputs(py::object args) {
    RunInputs in;
    in.model_path = args.attr("model");
    in.model_shown = host::str_of(in.model_path);
    in.model_text = read_input(in.model_path);
    std::string model_text(host::Utf8(in.model_text).view());
    std::vector<std::string> paths = strings_of(args.attr("data"));
    GatheredData gathered = gather_data_arguments(paths, model_text);
    check_outputs(args, gathered);
    in.data = data_inputs(model_text, gathered, paths);
    fs::path journal = files::journal_path(host::file_system_path(absolute(in.model_path)));
    if (fs::exists(journal)) warn(unfinished_move_warning(in.model_shown, shown_path(journal)));
    return in;
}

/// --write: the expanded model as a file (the program this run solves, so
/// expanded once, within the run's size limit); a program that cannot hold
/// has no faithful file, and the solve says why.
void write_expanded_model(py::object written, py::object program) {
    std::string file = host::str_of(written);
    std::variant<solver::NameFormat, tarvok::Error> format = solver::model_file_format(file);
    if (const tarvok::Error* no = std::get_if<tarvok::Error>(&format))
        fail(ExitStatus::Usage, "--write: " + std::string(no->what()));
    needing_extras([&] {
        try {
            host::highs::write_program(program.cast<std::shared_ptr<solver::Program>>(), written, file,
                                       std::get<solver::NameFormat>(format));
        } catch (py::error_already_set& e) {
            if (e.matches(PyExc_ValueError)) {
                warn("tarvok run: warning: " + host::str_of(e.value()));
                return py::object(py::none());
            }
            if (!e.matches(PyExc_OSError)) throw;
            fail(ExitStatus::Usage, "--write cannot write " + file + ": " + os_reason(e.value()));
        }
        return py::object(py::none());
    });
}

py::dict solver_options(py::object args) {
    py::dict options;
    for (const char* name : {"time_limit", "mip_gap", "threads", "solver"}) options[name] = args.attr(name);
    options["log"] = py::bool_(host::truthy(args.attr("verbose")));
    if (host::truthy(args.attr("sensitivity")))
        options["sensitivity"] = true;
    else if (host::truthy(args.attr("duals")))
        options["sensitivity"] = "duals";
    return options;
}

/// Solves the program and shows the result; Ctrl-C shows the best solution found so far, then the interrupt.
int solve_and_show(py::object args, py::object program, py::object diagnostics) {
    bool as_json = host::truthy(args.attr("json")), nested = host::truthy(args.attr("nested_values"));
    auto show = [&](py::object solved) {
        if (as_json) {
            py::dict out = solved.attr("to_dict")(py::arg("nested") = nested);
            out["diagnostics"] = diagnostics;
            py::object answer = answer_of(solved);
            if (!answer.is_none()) out["answer"] = answer;
            say_json(out);
        } else {
            say(summary_of(solved));
            say(sizes_and_times(host::from_python(solved.attr("statistics"), kPlain)));
        }
    };
    py::dict options = solver_options(args);
    py::object result;
    try {
        result = needing_extras([&] { return solver().attr("solve_program")(program, **options); });
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_KeyboardInterrupt) || !py::hasattr(e.value(), "result")) throw;
        show(e.value().attr("result"));
        warn("tarvok: interrupted");
        return code(ExitStatus::Interrupted);
    }
    if (host::truthy(args.attr("verbose"))) warn(statistics_line(host::from_python(result.attr("statistics"))));
    // The file asked for first: a reader that closes stdout early must not cost it.
    if (!args.attr("solution").is_none()) write_solution(args.attr("solution"), result, nested);
    show(result);
    return status_of(result);
}

}  // namespace

int run_run(py::object args) {
    compiler::SizeLimits sizes = command_sizes(args);
    check_solve_options(args);
    RunInputs in = read_run_inputs(args);
    bool as_json = host::truthy(args.attr("json"));

    // Compiled and expanded as `check` does, its diagnostics shown as `check` shows them.
    py::object compiled = compile_with_sources(in.model_text, in.data, sizes);
    Expanded expanded = expand(compiled);
    py::object report =
        compiled.attr("report_for")(host::text(in.model_shown), host::text(in.data.shown.value_or("data")));
    data::Value records =
        records_with_paths(host::from_python(compiled.attr("diagnostics")), in.model_shown, in.data.shown);
    if (expanded.program.is_none()) {
        if (as_json) {
            say_json(host::to_python(does_not_compile_json(std::move(records))));
        } else {
            say(host::str_of(report));
        }
        return code(ExitStatus::DoesNotCompile);
    }
    if (!as_json && host::truthy(report)) say(host::str_of(report));
    if (!args.attr("write").is_none()) write_expanded_model(args.attr("write"), expanded.program);
    return solve_and_show(args, expanded.program, host::to_python(records));
}

const Registration registration{"run", run_run};

}  // namespace tarvok::cli
