// `tarvok run MODEL DATA`: solve a pair with HiGHS and print the solution.
// Exit statuses: 0 optimal, 1 does not compile, 2 unreadable file, 3 any
// other outcome of the solve.
#include "cli/command.hpp"

namespace tarvok::cli {

namespace {

py::module_ solver() { return py::module_::import("tarvok.solver"); }

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
}

int run_run(py::object args) {
    py::object texts[2];
    py::object paths[2] = {args.attr("model"), args.attr("data")};
    for (size_t i = 0; i < 2; ++i) {
        try {
            texts[i] = host::read_file(paths[i], "r", "utf-8");
        } catch (py::error_already_set& e) {
            if (!e.matches(PyExc_OSError) && !e.matches(PyExc_UnicodeDecodeError)) throw;
            warn("tarvok run: cannot read " + host::str_of(paths[i]) + ": " + host::str_of(e.value()));
            return 2;
        }
    }
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
        say(host::str_of(json_dumps(run.result.attr("to_dict")())));
    else
        say(summary_of(run.result));
    return run.status;
}

}  // namespace tarvok::cli
