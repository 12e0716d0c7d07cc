// `tarvok run MODEL DATA`: solve a pair with HiGHS and print the solution.
// Exit statuses: 0 optimal, 1 does not compile, 2 unreadable file, 3 any
// other outcome of the solve.
#include "cli/command.hpp"

namespace tarvok::cli {

namespace {

py::module_ solver() { return py::module_::import("tarvok.solver"); }

/// 0 for an optimal solution, 3 for any other end of the solve.
int status_of(py::handle result) {
    bool optimal = result.attr("status").is(solver().attr("Status").attr("OPTIMAL"));
    return code(optimal ? ExitStatus::Success : ExitStatus::NotOptimal);
}

}  // namespace

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
        py::object written = with_options ? py::object(args.attr("write")) : py::object(py::none());
        if (!written.is_none()) {
            try {
                sm.attr("write_model")(model_text, data_text, written);
            } catch (py::error_already_set& e) {
                // A program that cannot hold has no faithful file; the solve still says why.
                if (e.matches(PyExc_ValueError)) {
                    warn("tarvok run: warning: " + host::str_of(e.value()));
                } else {
                    if (!e.matches(PyExc_OSError)) throw;
                    fail(ExitStatus::Usage, "cannot write " + host::str_of(written) + ": " + os_reason(e.value()));
                }
            }
        }
        out.result = sm.attr("solve_model")(model_text, data_text, **options);
    } catch (py::error_already_set& e) {
        if (!e.matches(sm.attr("SemanticError"))) throw;
        out.diagnostics = host::str_of(e.value());
        out.status = 1;
        return out;
    }
    out.status = status_of(out.result);
    return out;
}

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
    run.attr("add_argument")("data", py::arg("metavar") = "DATA.dat");
    run.attr("add_argument")("--json", py::arg("action") = "store_true",
                             py::arg("help") = "print one JSON object: status, objective, values, ...");
    run.attr("add_argument")("--time-limit", py::arg("type") = builtin("float"), py::arg("metavar") = "S",
                             py::arg("help") = "stop the solver after S seconds");
    run.attr("add_argument")("--mip-gap", py::arg("type") = builtin("float"), py::arg("metavar") = "G",
                             py::arg("help") = "relative MIP gap at which to stop");
    run.attr("add_argument")("--threads", py::arg("type") = builtin("int"), py::arg("metavar") = "N");
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

int run_run(py::object args) {
    TemporarySettings settings;
    apply_size_option(settings, args);
    py::object paths[2] = {args.attr("model"), args.attr("data")};
    py::object written = args.attr("write");
    if (!written.is_none()) {
        std::string unusable = unusable_model_path(written);
        if (!unusable.empty()) fail(ExitStatus::Usage, "cannot write the model there: " + unusable);
        refuse_output_over_inputs(written, {paths[0], paths[1]}, "--write");
    }
    py::object texts[2] = {read_input(paths[0]), read_input(paths[1])};
    if (fs::exists(journal_path(host::file_system_path(absolute(paths[0]))))) {
        warn("tarvok run: warning: " + host::str_of(paths[0]) +
             " may not belong with its data: an earlier move into place stopped part way (see " +
             host::str_of(host_path(journal_path(host::file_system_path(absolute(paths[0]))))) + ")");
    }
    bool as_json = host::truthy(args.attr("json"));
    RunOutcome run = solve_files(texts[0], texts[1], args, true);
    if (run.status == 1) {
        if (as_json)
            warn(run.diagnostics);
        else
            say(run.diagnostics);
        return 1;
    }
    if (host::truthy(args.attr("verbose"))) {
        py::dict stats = run.result.attr("statistics");
        std::string line;
        for (auto item : stats)
            line += (line.empty() ? "" : ", ") + host::str_of(item.first) + " " + host::str_of(item.second);
        warn(line);
    }
    if (as_json)
        say_json(run.result.attr("to_dict")());
    else
        say(summary_of(run.result));
    return run.status;
}

}  // namespace tarvok::cli
