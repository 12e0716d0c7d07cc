// `tarvok run MODEL [DATA]`: solve a pair with HiGHS and print the solution.
// Exit statuses: 0 optimal, 1 does not compile, 2 a usage fault (an option's
// value, an output path, a missing extra), 3 any other outcome of the solve,
// 130 Ctrl-C (after the best solution found so far).
#include "cli/command.hpp"

#include <cmath>
#include <cstdio>

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

RunOutcome solve_expanded(const Expanded& expanded) {
    RunOutcome out;
    if (expanded.program.is_none()) {
        out.diagnostics = expanded.diagnostics;
        out.status = code(ExitStatus::DoesNotCompile);
        return out;
    }
    out.result = solver().attr("solve_program")(expanded.program);
    out.status = status_of(out.result);
    return out;
}

void add_run(py::object commands) {
    py::object run = add_command(commands, "run", "solve a model and data file with HiGHS and print the solution");
    run.attr("add_argument")("model", py::arg("metavar") = "MODEL.mod");
    run.attr("add_argument")("data", py::arg("metavar") = "DATA.dat", py::arg("nargs") = "?",
                             py::arg("help") = "the data file (leave it out when the model needs none)");
    run.attr("add_argument")("--json", py::arg("action") = "store_true",
                             py::arg("help") = "print one JSON object: status, objective, values, ...");
    run.attr("add_argument")("--time-limit", py::arg("type") = builtin("float"), py::arg("metavar") = "S",
                             py::arg("help") = "stop the solver after S seconds");
    run.attr("add_argument")("--mip-gap", py::arg("type") = builtin("float"), py::arg("metavar") = "G",
                             py::arg("help") = "relative MIP gap at which to stop");
    run.attr("add_argument")("--threads", py::arg("type") = builtin("int"), py::arg("metavar") = "N");
    run.attr("add_argument")("--duals", py::arg("action") = "store_true",
                             py::arg("help") =
                                 "also print duals, reduced costs, row activities and slacks (a MIP: "
                                 "those of its LP with the integer columns fixed at the solution)");
    run.attr("add_argument")("--sensitivity", py::arg("action") = "store_true",
                             py::arg("help") = "as --duals, with the ranges of costs and right-hand sides");
    run.attr("add_argument")("--write", py::arg("metavar") = "FILE",
                             py::arg("help") = "also write the expanded model as FILE.mps or FILE.lp");
    run.attr("add_argument")("--verbose", py::arg("action") = "store_true",
                             py::arg("help") = "solver log and sizes on stderr");
    add_size_option(run);
}

/// Why `path` cannot take the expanded model, or "" when it can: it ends in
/// .mps or .lp, is no folder, and its folder exists.
std::string unusable_model_path(py::object path) {
    py::object os_path = py::module_::import("os").attr("path");
    std::string name = host::str_of(path);
    std::string lower = host::str_of(py::str(path).attr("lower")());
    auto ends = [&](const std::string& suffix) {
        return lower.size() >= suffix.size() && lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    if (!ends(".mps") && !ends(".lp")) return name + " ends in neither .mps nor .lp";
    if (host::truthy(os_path.attr("isdir")(path))) return name + " is a folder";
    py::object folder = os_path.attr("dirname")(absolute(path));
    if (!host::truthy(os_path.attr("isdir")(folder))) return "no folder " + host::str_of(folder);
    return "";
}

namespace {

/// Refuses (status 2) option values the solver cannot take, naming the option.
void check_solve_options(py::object args) {
    py::object limit = args.attr("time_limit");
    if (!limit.is_none() && !(limit.cast<double>() > 0))  // NaN too
        fail(ExitStatus::Usage, "--time-limit must be a number of seconds greater than 0, not " + host::str_of(limit));
    py::object gap = args.attr("mip_gap");
    if (!gap.is_none()) {
        double g = gap.cast<double>();
        if (!(g >= 0) || !std::isfinite(g))
            fail(ExitStatus::Usage, "--mip-gap must be a number at least 0, not " + host::str_of(gap));
    }
    py::object threads = args.attr("threads");
    if (!threads.is_none() && (threads < py::int_(1) || threads > py::int_(1 << 16)))
        fail(ExitStatus::Usage, "--threads must be at least 1 and at most 65536, not " + host::str_of(threads));
}

/// Calls `body`; a missing optional library (ImportError) is a usage fault
/// (status 2) in one line that says which extra to install.
template <typename Body>
py::object needing_extras(Body body) {
    try {
        return body();
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_ImportError)) throw;
        fail(ExitStatus::Usage, one_line(e.value()));
    }
}

/// The diagnostic records with the path of the file each is in, as `check --json` gives them.
py::list records_with_paths(py::object records, py::object model_path, py::object data_path) {
    py::list out;
    for (py::handle record : records) {
        py::dict r = py::reinterpret_borrow<py::dict>(record);
        bool model = host::str_of(r["file"]) == "model";
        r["path"] = model                 ? host::text(host::str_of(model_path))
                    : data_path.is_none() ? py::object(py::none())
                                          : host::text(host::str_of(data_path));
        out.append(r);
    }
    return out;
}

/// "3 columns (1 integer), 2 rows, 4 nonzeros; compile 0.001 s, expansion 0.000 s, solve 0.012 s".
std::string sizes_and_times(py::dict statistics) {
    auto count = [&](const char* key, const char* one, const char* many) {
        return host::str_of(statistics[key]) + " " + (host::str_of(statistics[key]) == "1" ? one : many);
    };
    auto seconds = [&](const char* key) {
        char text[32];
        std::snprintf(text, sizeof text, "%.3f s", statistics.contains(key) ? statistics[key].cast<double>() : 0.0);
        return std::string(text);
    };
    std::string line = count("columns", "column", "columns");
    if (statistics.contains("integer_columns") && statistics["integer_columns"].cast<long long>() > 0)
        line += " (" + count("integer_columns", "integer", "integer") + ")";
    return line + ", " + count("rows", "row", "rows") + ", " + count("nonzeros", "nonzero", "nonzeros") + "; compile " +
           seconds("compile_seconds") + ", expansion " + seconds("instantiation_seconds") + ", solve " +
           seconds("solve_seconds");
}

}  // namespace

int run_run(py::object args) {
    TemporarySettings settings;
    apply_size_option(settings, args);
    check_solve_options(args);
    py::object model_path = args.attr("model"), data_path = args.attr("data");
    py::object written = args.attr("write");
    if (!written.is_none()) {
        std::string unusable = unusable_model_path(written);
        if (!unusable.empty()) fail(ExitStatus::Usage, "--write cannot write the model there: " + unusable);
        if (data_path.is_none())
            refuse_output_over_inputs(written, {model_path}, "--write");
        else
            refuse_output_over_inputs(written, {model_path, data_path}, "--write");
    }
    py::object model_text = read_input(model_path);
    py::object data_text = data_path.is_none() ? py::object(py::str("")) : read_input(data_path);
    if (fs::exists(journal_path(host::file_system_path(absolute(model_path))))) {
        warn("tarvok run: warning: " + host::str_of(model_path) +
             " may not belong with its data: an earlier move into place stopped part way (see " +
             host::str_of(host_path(journal_path(host::file_system_path(absolute(model_path))))) + ")");
    }
    bool as_json = host::truthy(args.attr("json"));
    py::module_ sm = py::module_::import("tarvok.solver");

    // Compiled and expanded as `check` does, its diagnostics shown as `check` shows them.
    py::object compiled = sm.attr("compile")(model_text, data_text);
    Expanded expanded = expand(compiled);
    py::object report = compiled.attr("report_for")(
        host::text(host::str_of(model_path)),
        data_path.is_none() ? py::object(py::str("data")) : host::text(host::str_of(data_path)));
    py::list diagnostics = records_with_paths(compiled.attr("diagnostics"), model_path, data_path);
    if (expanded.program.is_none()) {
        if (as_json) {
            py::dict failure;
            failure["error"] = "the model does not compile";
            failure["status"] = code(ExitStatus::DoesNotCompile);
            failure["diagnostics"] = diagnostics;
            say_json(failure);
        } else {
            say(host::str_of(report));
        }
        return code(ExitStatus::DoesNotCompile);
    }
    if (!as_json && host::truthy(report)) say(host::str_of(report));

    if (!written.is_none()) {
        needing_extras([&] {
            try {
                return sm.attr("write_model")(model_text, data_text, written);
            } catch (py::error_already_set& e) {
                if (!e.matches(PyExc_OSError)) throw;
                fail(ExitStatus::Usage, "--write cannot write " + host::str_of(written) + ": " + os_reason(e.value()));
            }
        });
    }
    py::dict options;
    options["time_limit"] = args.attr("time_limit");
    options["mip_gap"] = args.attr("mip_gap");
    options["threads"] = args.attr("threads");
    options["log"] = py::bool_(host::truthy(args.attr("verbose")));
    if (host::truthy(args.attr("sensitivity")))
        options["sensitivity"] = true;
    else if (host::truthy(args.attr("duals")))
        options["sensitivity"] = "duals";
    py::object result;
    auto show = [&](py::object solved) {
        if (as_json) {
            py::dict out = solved.attr("to_dict")();
            out["diagnostics"] = diagnostics;
            say_json(out);
        } else {
            say(summary_of(solved));
            say(sizes_and_times(solved.attr("statistics")));
        }
    };
    try {
        result = needing_extras([&] { return sm.attr("solve_program")(expanded.program, **options); });
    } catch (py::error_already_set& e) {
        // Ctrl-C: the best solution found so far, then the interrupt.
        if (!e.matches(PyExc_KeyboardInterrupt) || !py::hasattr(e.value(), "result")) throw;
        show(e.value().attr("result"));
        warn("tarvok: interrupted");
        return code(ExitStatus::Interrupted);
    }
    if (host::truthy(args.attr("verbose"))) {
        py::dict stats = result.attr("statistics");
        std::string line;
        for (auto item : stats)
            line += (line.empty() ? "" : ", ") + host::str_of(item.first) + " " + host::str_of(item.second);
        warn(line);
    }
    show(result);
    bool optimal = result.attr("status").is(sm.attr("Status").attr("OPTIMAL"));
    return code(optimal ? ExitStatus::Success : ExitStatus::NotOptimal);
}

}  // namespace tarvok::cli
