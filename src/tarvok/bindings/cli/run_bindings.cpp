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

void require_solver(const std::string& solver_name, const std::string& purpose) {
    needing_extras([&] { return py::object(host::import_solver(solver_name, purpose)); });
}

namespace {

/// Refuses (status 2) option values the solver cannot take, naming the option.
void check_solve_options(const CommandLine& line) {
    SolveOptions options;
    options.time_limit = line.number("time_limit"), options.time_limit_shown = line.shown("time_limit");
    options.mip_gap = line.number("mip_gap"), options.mip_gap_shown = line.shown("mip_gap");
    // Any int: a value beyond long long stands at its end, still out of range.
    options.threads = line.integer("threads"), options.threads_shown = line.shown("threads");
    options.solver = line.given("solver");
    options.ranging = line.flag("sensitivity");
    if (auto refused = refused_solve_option(options)) fail(ExitStatus::Usage, *refused);
}

/// The solution as FILE.json (the result's dictionary) or FILE.csv (a row per
/// value: name, the set elements of its keys, value), written whole.
void write_solution(const std::string& path, py::object result, bool nested) {
    bool csv = solution_is_csv(path);
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
        tarvok::files::write_file_atomically(files::named_path(path), text);
    } catch (const std::exception& e) {
        fail(ExitStatus::Usage, "--solution cannot write " + path + ": " + e.what());
    }
}

}  // namespace

namespace {

/// The pair `run` solves, read and checked: the model's text, the data's
/// text made from every DATA argument, and the names diagnostics give both.
struct RunInputs {
    py::object model_text;
    std::string model_shown;
    DataInputs data;
};

/// Refuses (status 2) --write and --solution paths that cannot take their file or would replace an input.
void check_outputs(const CommandLine& line, const GatheredData& gathered) {
    std::optional<std::string> written = line.text("write"), solution = line.text("solution");
    std::vector<GivenPath> inputs{given_path(line.given("model"))};
    for (const std::string& input : gathered.inputs) inputs.push_back(given_path(input));
    if (written) {
        std::string unusable = unusable_output_path(*written, refused_model_file_name(*written).value_or(""));
        if (!unusable.empty()) fail(ExitStatus::Usage, "--write cannot write the model there: " + unusable);
        refuse_output_over(given_path(*written), inputs, "--write");
    }
    if (solution) {
        if (auto refused = refused_solution_name(*solution)) fail(ExitStatus::Usage, *refused);
        refuse_output_over(given_path(*solution), inputs, "--solution");
    }
}

RunInputs read_run_inputs(const CommandLine& line) {
    RunInputs in;
    in.model_shown = line.given("model");
    in.model_text = read_input(in.model_shown);
    std::string model_text(host::Utf8(in.model_text).view());
    std::vector<std::string> paths = line.texts("data");
    GatheredData gathered = gather_data_arguments(paths, model_text);
    check_outputs(line, gathered);
    in.data = data_inputs(model_text, gathered, paths);
    fs::path journal = files::journal_path(files::named_path(absolute(in.model_shown)));
    if (fs::exists(journal)) warn(unfinished_move_warning(in.model_shown, shown_path(journal)));
    return in;
}

/// --write: the expanded model as a file (the program this run solves, so
/// expanded once, within the run's size limit); a program that cannot hold
/// has no faithful file, and the solve says why.
void write_expanded_model(const std::string& file, py::object program) {
    std::variant<solver::NameFormat, tarvok::Error> format = solver::model_file_format(file);
    if (const tarvok::Error* no = std::get_if<tarvok::Error>(&format))
        fail(ExitStatus::Usage, "--write: " + std::string(no->what()));
    needing_extras([&] {
        try {
            host::highs::write_program(program.cast<std::shared_ptr<solver::Program>>(), host::text(file), file,
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

py::dict solver_options(const CommandLine& line) {
    py::dict options;
    auto number = [](std::optional<double> v) { return v ? py::object(py::float_(*v)) : py::object(py::none()); };
    options["time_limit"] = number(line.number("time_limit"));
    options["mip_gap"] = number(line.number("mip_gap"));
    std::optional<long long> threads = line.integer("threads");
    options["threads"] = threads ? py::object(py::int_(*threads)) : py::object(py::none());
    options["solver"] = host::text(line.given("solver"));
    options["log"] = py::bool_(line.flag("verbose"));
    if (line.flag("sensitivity"))
        options["sensitivity"] = true;
    else if (line.flag("duals"))
        options["sensitivity"] = "duals";
    return options;
}

/// Solves the program and shows the result; Ctrl-C shows the best solution found so far, then the interrupt.
int solve_and_show(const CommandLine& line, py::object program, py::object diagnostics) {
    bool as_json = line.flag("json"), nested = line.flag("nested_values");
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
    py::dict options = solver_options(line);
    py::object result;
    try {
        result = needing_extras([&] { return solver().attr("solve_program")(program, **options); });
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_KeyboardInterrupt) || !py::hasattr(e.value(), "result")) throw;
        show(e.value().attr("result"));
        warn("tarvok: interrupted");
        return code(ExitStatus::Interrupted);
    }
    if (line.flag("verbose")) warn(statistics_line(host::from_python(result.attr("statistics"))));
    // The file asked for first: a reader that closes stdout early must not cost it.
    if (std::optional<std::string> solution = line.text("solution")) write_solution(*solution, result, nested);
    show(result);
    return status_of(result);
}

}  // namespace

int run_run(const CommandLine& line) {
    compiler::SizeLimits sizes = command_sizes(line);
    check_solve_options(line);
    RunInputs in = read_run_inputs(line);
    bool as_json = line.flag("json");

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
    if (std::optional<std::string> written = line.text("write")) write_expanded_model(*written, expanded.program);
    return solve_and_show(line, expanded.program, host::to_python(records));
}

const Registration registration{"run", run_run};

}  // namespace tarvok::cli
