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
void write_solution(py::object path, const solver::Solved& result, bool nested) {
    bool csv = solution_is_csv(host::str_of(path));
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
void write_expanded_model(py::object written, const std::shared_ptr<solver::Program>& program) {
    std::string file = host::str_of(written);
    std::variant<solver::NameFormat, tarvok::Error> format = solver::model_file_format(file);
    if (const tarvok::Error* no = std::get_if<tarvok::Error>(&format))
        fail(ExitStatus::Usage, "--write: " + std::string(no->what()));
    needing_extras([&] {
        try {
            host::highs::write_program(program, written, file, std::get<solver::NameFormat>(format));
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

solver::SolveChoice solver_options(py::object args) {
    py::object sensitivity = py::bool_(false);
    if (host::truthy(args.attr("sensitivity")))
        sensitivity = py::bool_(true);
    else if (host::truthy(args.attr("duals")))
        sensitivity = py::str("duals");
    return solver::bind::solve_options("solve_program", args.attr("time_limit"), args.attr("mip_gap"),
                                       args.attr("threads"), py::bool_(host::truthy(args.attr("verbose"))), sensitivity,
                                       args.attr("solver"));
}

/// Solves the program and shows the result; Ctrl-C shows the best solution found so far, then the interrupt.
int solve_and_show(py::object args, std::shared_ptr<solver::Program> program, const data::Value& diagnostics) {
    bool as_json = host::truthy(args.attr("json")), nested = host::truthy(args.attr("nested_values"));
    auto show = [&](const solver::Solved& solved) {
        if (as_json) {
            data::Value out = solved.to_dict(nested);
            out.add("diagnostics", diagnostics);
            data::Value answer = solved.answer();
            if (!answer.is_null()) out.add("answer", std::move(answer));
            HostOutput().say_json(out);
        } else {
            say(summary_of(solved));
            say(sizes_and_times(solved.statistics));
        }
    };
    solver::SolveChoice options = solver_options(args);
    solver::bind::SolveRun run = needing_extras([&] { return solver::bind::solve(std::move(program), options); });
    if (run.interrupt) {
        if (!run.interrupt->matches(PyExc_KeyboardInterrupt)) throw std::move(*run.interrupt);
        show(run.solved);
        warn("tarvok: interrupted");
        return code(ExitStatus::Interrupted);
    }
    if (host::truthy(args.attr("verbose"))) warn(statistics_line(run.solved.statistics));
    // The file asked for first: a reader that closes stdout early must not cost it.
    if (!args.attr("solution").is_none()) write_solution(args.attr("solution"), run.solved, nested);
    show(run.solved);
    return status_of(run.solved);
}

}  // namespace

int run_run(py::object args) {
    compiler::SizeLimits sizes = command_sizes(args);
    check_solve_options(args);
    RunInputs in = read_run_inputs(args);
    bool as_json = host::truthy(args.attr("json"));

    // Compiled and expanded as `check` does, its diagnostics shown as `check` shows them.
    std::shared_ptr<solver::CompiledModel> compiled = compiled_with_sources(in.model_text, in.data, sizes);
    Expanded expanded = expand(*compiled);
    std::string report = solver::report_for_files(compiled->source(), in.model_shown, in.data.shown.value_or("data"));
    data::Value records = records_with_paths(
        compiler::tree::diagnostic_record_tree(*compiled->source().compilation, true), in.model_shown, in.data.shown);
    if (!expanded.program) {
        if (as_json) {
            HostOutput().say_json(does_not_compile_json(std::move(records)));
        } else {
            say(report);
        }
        return code(ExitStatus::DoesNotCompile);
    }
    if (!as_json && !report.empty()) say(report);
    if (!args.attr("write").is_none()) write_expanded_model(args.attr("write"), expanded.program);
    return solve_and_show(args, expanded.program, records);
}

const Registration registration{"run", run_run};

}  // namespace tarvok::cli
