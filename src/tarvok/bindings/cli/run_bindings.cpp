// `tarvok run MODEL [DATA]`: solve a pair with HiGHS and print the solution.
// Exit statuses: 0 optimal, 1 does not compile, 2 a usage fault (an option's
// value, an output path, a missing extra), 3 any other outcome of the solve,
// 130 Ctrl-C (after the best solution found so far).
#include "bindings/cli/command.hpp"
#include "bindings/host/highs.hpp"
#include "bindings/host/json.hpp"
#include "bindings/host/solvers.hpp"
#include "bindings/solving/solving.hpp"
#include "cli/run_inputs.hpp"
#include "common/files.hpp"
#include "compiler/model_tree.hpp"
#include "solver/options.hpp"

namespace tarvok::cli {

namespace {

/// 0 for an optimal solution, 3 for any other end of the solve.
int status_of(const solver::Solved& result) {
    return code(result.outcome.status == solver::Status::Optimal ? ExitStatus::Success : ExitStatus::NotOptimal);
}

}  // namespace

Expanded expand(solver::CompiledModel& compiled) {
    Expanded out;
    out.program = solver::bind::program_of(compiled, out.diagnostics);
    return out;
}

RunOutcome solve_expanded(const Expanded& expanded, py::object solver_name) {
    if (!expanded.program) return {code(ExitStatus::DoesNotCompile), std::nullopt, expanded.diagnostics};
    py::object none = py::none(), off = py::bool_(false);
    solver::SolveChoice options = solver::bind::solve_options("solve_program", none, none, none, off, off,
                                                              solver_name.is_none() ? py::str("highs") : solver_name);
    solver::bind::SolveRun run = solver::bind::solve(expanded.program, options);
    if (run.interrupt) throw std::move(*run.interrupt);
    RunOutcome out;
    out.status = status_of(run.solved);
    out.result = std::move(run.solved);
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
void write_solution(const std::string& path, const solver::Solved& result, bool nested) {
    bool csv = solution_is_csv(path);
    std::string text;
    data::Value solved = result.to_dict(nested && !csv);
    if (csv) {
        py::object buffer = py::module_::import("io").attr("StringIO")();
        py::object writer = py::module_::import("csv").attr("writer")(buffer, py::arg("lineterminator") = "\n");
        for (const auto& row : solution_csv_rows(solution_of(solved))) {
            py::list cells;
            for (const auto& cell : row) cells.append(host::text(cell));
            writer.attr("writerow")(cells);
        }
        text = host::str_of(buffer.attr("getvalue")());
    } else {
        text = json_text(solved) + "\n";
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
void write_expanded_model(const std::string& file, const std::shared_ptr<solver::Program>& program) {
    std::variant<solver::NameFormat, tarvok::Error> format = solver::model_file_format(file);
    if (const tarvok::Error* no = std::get_if<tarvok::Error>(&format))
        fail(ExitStatus::Usage, "--write: " + std::string(no->what()));
    needing_extras([&] {
        try {
            host::highs::write_program(program, host::text(file), file, std::get<solver::NameFormat>(format));
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

solver::SolveChoice solver_options(const CommandLine& line) {
    auto number = [](std::optional<double> v) { return v ? py::object(py::float_(*v)) : py::object(py::none()); };
    std::optional<long long> threads = line.integer("threads");
    py::object sensitivity = py::bool_(false);
    if (line.flag("sensitivity"))
        sensitivity = py::bool_(true);
    else if (line.flag("duals"))
        sensitivity = py::str("duals");
    return solver::bind::solve_options("solve_program", number(line.number("time_limit")),
                                       number(line.number("mip_gap")),
                                       threads ? py::object(py::int_(*threads)) : py::object(py::none()),
                                       py::bool_(line.flag("verbose")), sensitivity, host::text(line.given("solver")));
}

/// Solves the program and shows the result; Ctrl-C shows the best solution found so far, then the interrupt.
int solve_and_show(const CommandLine& line, std::shared_ptr<solver::Program> program, const data::Value& diagnostics) {
    bool as_json = line.flag("json"), nested = line.flag("nested_values");
    auto show = [&](const solver::Solved& solved) {
        if (as_json) {
            data::Value out = solved.to_dict(nested);
            out.add("diagnostics", diagnostics);
            data::Value answer = solved.answer();
            if (!answer.is_null()) out.add("answer", std::move(answer));
            host_output().say_json(out);
        } else {
            say(summary_of(solved));
            say(sizes_and_times(solved.statistics));
        }
    };
    solver::SolveChoice options = solver_options(line);
    solver::bind::SolveRun run = needing_extras([&] { return solver::bind::solve(std::move(program), options); });
    if (run.interrupt) {
        if (!run.interrupt->matches(PyExc_KeyboardInterrupt)) throw std::move(*run.interrupt);
        show(run.solved);
        warn("tarvok: interrupted");
        return code(ExitStatus::Interrupted);
    }
    if (line.flag("verbose")) warn(statistics_line(run.solved.statistics));
    // The file asked for first: a reader that closes stdout early must not cost it.
    if (std::optional<std::string> solution = line.text("solution")) write_solution(*solution, run.solved, nested);
    show(run.solved);
    return status_of(run.solved);
}

}  // namespace

int run_run(const CommandLine& line) {
    compiler::SizeLimits sizes = command_sizes(line);
    check_solve_options(line);
    RunInputs in = read_run_inputs(line);
    bool as_json = line.flag("json");

    // Compiled and expanded as `check` does, its diagnostics shown as `check` shows them.
    std::shared_ptr<solver::CompiledModel> compiled = compiled_with_sources(in.model_text, in.data, sizes);
    Expanded expanded = expand(*compiled);
    std::string report = solver::report_for_files(compiled->source(), in.model_shown, in.data.shown.value_or("data"));
    data::Value records = records_with_paths(
        compiler::tree::diagnostic_record_tree(*compiled->source().compilation, true), in.model_shown, in.data.shown);
    if (!expanded.program) {
        if (as_json) {
            host_output().say_json(does_not_compile_json(std::move(records)));
        } else {
            say(report);
        }
        return code(ExitStatus::DoesNotCompile);
    }
    if (!as_json && !report.empty()) say(report);
    if (std::optional<std::string> written = line.text("write")) write_expanded_model(*written, expanded.program);
    return solve_and_show(line, expanded.program, records);
}

const Registration registration{"run", run_run};

}  // namespace tarvok::cli
