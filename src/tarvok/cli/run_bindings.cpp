// `tarvok run MODEL [DATA]`: solve a pair with HiGHS and print the solution.
// Exit statuses: 0 optimal, 1 does not compile, 2 a usage fault (an option's
// value, an output path, a missing extra), 3 any other outcome of the solve,
// 130 Ctrl-C (after the best solution found so far).
#include "cli/command.hpp"
#include "cli/run_inputs.hpp"
#include "common/files.hpp"
#include "compiler/data_values.hpp"
#include "host/data_values.hpp"

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
    RunOutcome out;
    if (expanded.program.is_none()) {
        out.diagnostics = expanded.diagnostics;
        out.status = code(ExitStatus::DoesNotCompile);
        return out;
    }
    py::dict options;
    if (!solver_name.is_none()) options["solver"] = solver_name;
    out.result = solver().attr("solve_program")(expanded.program, **options);
    out.status = status_of(out.result);
    return out;
}

void require_solver(py::object solver_name, const std::string& purpose) {
    needing_extras([&] { return solver().attr("_check_solver")(solver_name, purpose); });
}

namespace {

/// Refuses (status 2) option values the solver cannot take, naming the option.
void check_solve_options(py::object args) {
    SolveOptions options;
    py::object limit = args.attr("time_limit"), gap = args.attr("mip_gap"), threads = args.attr("threads");
    if (!limit.is_none()) options.time_limit = limit.cast<double>(), options.time_limit_shown = host::str_of(limit);
    if (!gap.is_none()) options.mip_gap = gap.cast<double>(), options.mip_gap_shown = host::str_of(gap);
    if (!threads.is_none()) {
        // Any int: one past either end stands for every value beyond it.
        py::object clamped = builtin("max")(builtin("min")(threads, py::int_(1 << 17)), py::int_(0));
        options.threads = clamped.cast<long long>(), options.threads_shown = host::str_of(threads);
    }
    options.solver = host::str_of(args.attr("solver"));
    options.ranging = host::truthy(args.attr("sensitivity"));
    if (auto refused = refused_solve_option(options)) fail(ExitStatus::Usage, *refused);
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

/// The solver's statistics as the line after the summary.
std::string sizes_and_times_of(py::dict statistics) {
    auto text = [&](const char* key) { return statistics.contains(key) ? host::str_of(statistics[key]) : ""; };
    auto seconds = [&](const char* key) { return statistics.contains(key) ? statistics[key].cast<double>() : 0.0; };
    return sizes_and_times({text("columns"), text("integer_columns"), text("rows"), text("nonzeros"),
                            seconds("compile_seconds"), seconds("instantiation_seconds"), seconds("solve_seconds")});
}

/// A cell of a CSV file: a whole number, a number, or a text.
py::object cell_value(const std::string& cell) {
    std::string_view s = cell;
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    if (!s.empty()) {
        try {
            return builtin("int")(host::text(s));
        } catch (py::error_already_set&) {
        }
        try {
            return builtin("float")(host::text(s));
        } catch (py::error_already_set&) {
        }
    }
    return host::text(s);
}

/// Data gathered from the DATA arguments: `.dat` texts as they are, values
/// from JSON objects and CSV folders by name, each name's source remembered.
struct GatheredData {
    std::string dat_text;
    py::dict values;
    DataOrigins origins;
    py::dict rows;                   ///< per table name: the key path of each row -> "file:row"
    std::vector<py::object> inputs;  ///< every file read, so that no output replaces one
};

void add_value(GatheredData& data, const std::string& name, py::object value, const std::string& where) {
    if (auto twice = data.origins.add(name, where)) fail(ExitStatus::DoesNotCompile, *twice);
    data.values[host::text(name)] = value;
}

void gather_json(GatheredData& data, py::object path) {
    py::object text = read_input(path);
    std::string where = host::str_of(path);
    py::object parsed;
    try {
        parsed = py::module_::import("json").attr("loads")(text);
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_ValueError)) throw;
        fail(ExitStatus::DoesNotCompile, where + ": " + one_line(e.value()));
    }
    if (!PyDict_Check(parsed.ptr())) fail(ExitStatus::DoesNotCompile, where + ": the data must be a JSON object");
    for (auto item : py::reinterpret_borrow<py::dict>(parsed))
        add_value(data, host::str_of(item.first), py::reinterpret_borrow<py::object>(item.second), where);
}

/// The rows of a CSV file as its cells' texts, read by the host's CSV reader.
std::vector<std::vector<std::string>> csv_rows(py::object path) {
    py::object reader =
        py::module_::import("csv").attr("reader")(py::module_::import("io").attr("StringIO")(read_input(path)));
    std::vector<std::vector<std::string>> rows;
    for (py::handle row : reader) {
        rows.emplace_back();
        for (py::handle cell : row) rows.back().push_back(host::str_of(cell));
    }
    return rows;
}

/// The value of one CSV file (see read_csv_table), its cells made values;
/// `places` gets the place of each row's value as messages name it
/// (`["Aalborg"]`, `[2]` for a set's element) -> "file:line".
py::object csv_value(const CsvTable& table, const std::string& where, const std::string& name, py::dict& places) {
    py::list elements;
    py::dict keyed;
    py::object single = py::none();
    auto values = [](const std::vector<std::string>& cells, std::size_t from, std::size_t to) -> py::object {
        if (to - from == 1) return cell_value(cells[from]);
        py::tuple fields(to - from);
        for (std::size_t i = from; i < to; ++i) fields[i - from] = cell_value(cells[i]);
        return fields;
    };
    for (const CsvEntry& entry : table.entries) {
        py::str place(where + ":" + std::to_string(entry.line));
        if (table.is_set) {
            places[host::text("[" + std::to_string(py::len(elements)) + "]")] = place;
            elements.append(values(entry.cells, 0, entry.cells.size()));
        } else if (table.dims == 0) {
            single = cell_value(entry.cells[0]);
            places[host::text("")] = place;
        } else {
            py::object key = values(entry.cells, 0, table.dims);
            if (keyed.contains(key)) fail(ExitStatus::DoesNotCompile, repeated_key(where, entry.line, name));
            keyed[key] = cell_value(entry.cells[table.dims]);
            std::string path;
            for (std::size_t i = 0; i < table.dims; ++i)
                path += "[\"" + host::detail::key_text(cell_value(entry.cells[i])) + "\"]";
            places[host::text(path)] = place;
        }
    }
    if (!table.error.empty()) fail(ExitStatus::DoesNotCompile, table.error);
    return table.is_set ? py::object(elements) : table.dims == 0 ? single : py::object(keyed);
}

/// A folder of NAME.csv files, in the order of their names.
void gather_csv_folder(GatheredData& data, py::object folder, std::string_view model_text) {
    std::map<std::string, tarvok::data::Declared> declared = tarvok::data::declared_names(model_text);
    py::object os = py::module_::import("os");
    for (py::handle entry : builtin("sorted")(os.attr("listdir")(folder))) {
        std::optional<std::string> name = csv_data_name(host::str_of(entry));
        if (!name) continue;
        py::object path = os.attr("path").attr("join")(folder, entry);
        data.inputs.push_back(path);
        std::string where = host::str_of(path);
        std::vector<std::vector<std::string>> rows;
        if (declared.contains(*name)) rows = csv_rows(path);
        py::dict places;
        add_value(data, *name, csv_value(read_csv_table(where, *name, declared, rows), where, *name, places), where);
        data.rows[host::text(*name)] = places;
    }
}

GatheredData gather_data(py::object paths, std::string_view model_text) {
    GatheredData data;
    py::object os_path = py::module_::import("os").attr("path");
    for (py::handle p : paths) {
        py::object path = py::reinterpret_borrow<py::object>(p);
        DataSource source = data_source(host::str_of(path), host::truthy(os_path.attr("isdir")(path)));
        if (source == DataSource::CsvFolder) {
            gather_csv_folder(data, path, model_text);
            continue;
        }
        data.inputs.push_back(path);
        if (source == DataSource::JsonObject)
            gather_json(data, path);
        else
            append_on_new_line(data.dat_text, host::str_of(read_input(path)));
    }
    return data;
}

/// A value of the host's solution dictionary, as the core reads it.
SolutionValue solution_value(py::handle value) {
    SolutionValue out;
    out.none = value.is_none();
    if (PyDict_Check(value.ptr())) {
        out.nested = true;
        for (auto item : py::reinterpret_borrow<py::dict>(value))
            out.items.emplace_back(host::str_of(item.first), solution_value(item.second));
    } else if (PyList_Check(value.ptr())) {
        out.nested = true;
        std::size_t i = 0;
        for (py::handle item : value) out.items.emplace_back(std::to_string(i++), solution_value(item));
    } else if (!out.none) {
        out.text = host::str_of(value);
    }
    return out;
}

/// The solution as FILE.json (the result's dictionary) or FILE.csv (a row per
/// value: name, index keys, value), written whole.
void write_solution(py::object path, py::object result) {
    bool csv = solution_is_csv(host::str_of(path));
    std::string text;
    py::dict solved = result.attr("to_dict")();
    if (csv) {
        py::object buffer = py::module_::import("io").attr("StringIO")();
        py::object writer = py::module_::import("csv").attr("writer")(buffer, py::arg("lineterminator") = "\n");
        for (const auto& row : solution_csv_rows(solution_value(solved))) {
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
/// text made from every DATA argument, and the name diagnostics give the data.
struct RunInputs {
    py::object model_path, model_text, data_text;
    py::object data_path = py::none();  ///< one data file names itself; data merged from several is "data"
    py::object sources = py::none();    ///< for data from JSON and CSV: how messages name its files and rows
};

/// Refuses (status 2) --write and --solution paths that cannot take their file or would replace an input.
void check_outputs(py::object args, const GatheredData& gathered) {
    py::object model_path = args.attr("model"), written = args.attr("write"), solution = args.attr("solution");
    auto refuse_over_inputs = [&](py::object output, const std::string& what) {
        refuse_output_over_inputs(output, {model_path}, what);
        for (const py::object& input : gathered.inputs) refuse_output_over_inputs(output, {input}, what);
    };
    if (!written.is_none()) {
        std::string name = host::str_of(written);
        bool mps_or_lp = ends_with_ignoring_case(name, ".mps") || ends_with_ignoring_case(name, ".lp");
        std::string unusable = unusable_output_path(written, mps_or_lp ? "" : name + " ends in neither .mps nor .lp");
        if (!unusable.empty()) fail(ExitStatus::Usage, "--write cannot write the model there: " + unusable);
        refuse_over_inputs(written, "--write");
    }
    if (!solution.is_none()) {
        if (auto refused = refused_solution_name(host::str_of(solution))) fail(ExitStatus::Usage, *refused);
        refuse_over_inputs(solution, "--solution");
    }
}

/// The data's text: the .dat texts, then the values of JSON objects and CSV folders written as data.
/// `values_at` gets where the text written from the values starts.
py::object data_text_of(py::object model_text, const GatheredData& gathered, size_t& values_at) {
    std::string data_string = gathered.dat_text;
    if (gathered.values.empty()) return host::text(data_string);
    try {
        append_on_new_line(data_string, "");
        values_at = data_string.size();
        data_string += host::str_of(host::data_text_of(model_text, gathered.values, "run"));
    } catch (py::error_already_set& e) {
        if (!e.matches(py::module_::import("tarvok.semantic_error").attr("SemanticError"))) throw;
        fail(ExitStatus::DoesNotCompile, gathered.origins.placed(host::str_of(e.value())));
    }
    return host::text(data_string);
}

RunInputs read_run_inputs(py::object args) {
    RunInputs in;
    py::object data_paths = args.attr("data");
    in.model_path = args.attr("model");
    in.model_text = read_input(in.model_path);
    GatheredData gathered = gather_data(data_paths, host::Utf8(in.model_text).view());
    if (py::len(data_paths) == 1 && gathered.values.empty()) in.data_path = data_paths[py::int_(0)];
    check_outputs(args, gathered);
    size_t values_at = 0;
    in.data_text = data_text_of(in.model_text, gathered, values_at);
    if (!gathered.values.empty()) {
        py::dict files, sources;
        for (const auto& [name, where] : gathered.origins.names()) files[host::text(name)] = host::text(where);
        sources["base"] = values_at;
        sources["values"] = gathered.values;
        sources["files"] = files;
        sources["rows"] = gathered.rows;
        in.sources = sources;
    }
    fs::path journal = journal_path(host::file_system_path(absolute(in.model_path)));
    if (fs::exists(journal)) {
        warn("tarvok run: warning: " + host::str_of(in.model_path) +
             " may not belong with its data: an earlier move into place stopped part way (see " +
             host::str_of(host_path(journal)) + ")");
    }
    return in;
}

/// --write: the expanded model as a file; a program that cannot hold has no faithful file, and the solve says why.
void write_expanded_model(py::object written, const RunInputs& in) {
    needing_extras([&] {
        try {
            return solver().attr("write_model")(in.model_text, in.data_text, written);
        } catch (py::error_already_set& e) {
            if (e.matches(PyExc_ValueError)) {
                warn("tarvok run: warning: " + host::str_of(e.value()));
                return py::object(py::none());
            }
            if (!e.matches(PyExc_OSError)) throw;
            fail(ExitStatus::Usage, "--write cannot write " + host::str_of(written) + ": " + os_reason(e.value()));
        }
    });
}

py::dict solver_options(py::object args) {
    py::dict options;
    options["time_limit"] = args.attr("time_limit");
    options["mip_gap"] = args.attr("mip_gap");
    options["threads"] = args.attr("threads");
    options["log"] = py::bool_(host::truthy(args.attr("verbose")));
    options["solver"] = args.attr("solver");
    if (host::truthy(args.attr("sensitivity")))
        options["sensitivity"] = true;
    else if (host::truthy(args.attr("duals")))
        options["sensitivity"] = "duals";
    return options;
}

/// The solver's statistics on one line of stderr, for --verbose.
void warn_statistics(py::object result) {
    py::dict stats = result.attr("statistics");
    std::string line;
    for (auto item : stats)
        line += (line.empty() ? "" : ", ") + host::str_of(item.first) + " " + host::str_of(item.second);
    warn(line);
}

/// Solves the program and shows the result; Ctrl-C shows the best solution found so far, then the interrupt.
int solve_and_show(py::object args, py::object program, py::list diagnostics) {
    bool as_json = host::truthy(args.attr("json"));
    auto show = [&](py::object solved) {
        if (as_json) {
            py::dict out = solved.attr("to_dict")();
            out["diagnostics"] = diagnostics;
            py::object answer = answer_of(solved);
            if (!answer.is_none()) out["answer"] = answer;
            say_json(out);
        } else {
            say(summary_of(solved));
            say(sizes_and_times_of(solved.attr("statistics")));
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
    if (host::truthy(args.attr("verbose"))) warn_statistics(result);
    show(result);
    if (!args.attr("solution").is_none()) write_solution(args.attr("solution"), result);
    return status_of(result);
}

}  // namespace

int run_run(py::object args) {
    TemporarySettings settings;
    apply_size_option(settings, args);
    check_solve_options(args);
    RunInputs in = read_run_inputs(args);
    bool as_json = host::truthy(args.attr("json"));

    // Compiled and expanded as `check` does, its diagnostics shown as `check` shows them.
    py::object compiled = solver().attr("compile")(in.model_text, in.data_text);
    if (!in.sources.is_none()) compiled.attr("_name_data_sources")(**py::reinterpret_borrow<py::dict>(in.sources));
    Expanded expanded = expand(compiled);
    py::object report = compiled.attr("report_for")(
        host::text(host::str_of(in.model_path)),
        in.data_path.is_none() ? py::object(py::str("data")) : host::text(host::str_of(in.data_path)));
    py::list diagnostics = records_with_paths(compiled.attr("diagnostics"), in.model_path, in.data_path);
    if (expanded.program.is_none()) {
        if (as_json) {
            py::dict failure = error_json(py::str("the model does not compile"), ExitStatus::DoesNotCompile);
            failure["diagnostics"] = diagnostics;
            say_json(failure);
        } else {
            say(host::str_of(report));
        }
        return code(ExitStatus::DoesNotCompile);
    }
    if (!as_json && host::truthy(report)) say(host::str_of(report));
    if (!args.attr("write").is_none()) write_expanded_model(args.attr("write"), in);
    return solve_and_show(args, expanded.program, diagnostics);
}

const Registration registration{"run", run_run};

}  // namespace tarvok::cli
