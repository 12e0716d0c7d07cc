// `tarvok run MODEL [DATA]`: solve a pair with HiGHS and print the solution.
// Exit statuses: 0 optimal, 1 does not compile, 2 a usage fault (an option's
// value, an output path, a missing extra), 3 any other outcome of the solve,
// 130 Ctrl-C (after the best solution found so far).
#include "cli/command.hpp"
#include "common/files.hpp"
#include "compiler/data_values.hpp"
#include "host/data_values.hpp"

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
    run.attr("add_argument")("data", py::arg("metavar") = "DATA", py::arg("nargs") = "*",
                             py::arg("help") =
                                 "the data: a .dat file, a .json object {name: value}, or a folder of NAME.csv files; "
                                 "several merge (leave it out when the model needs none)");
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
    run.attr("add_argument")("--solution", py::arg("metavar") = "FILE",
                             py::arg("help") = "also write the solution as FILE.json or FILE.csv");
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
    std::map<std::string, std::string> origin;
    std::vector<py::object> inputs;  ///< every file read, so that no output replaces one
};

void add_value(GatheredData& data, const std::string& name, py::object value, const std::string& where) {
    auto known = data.origin.find(name);
    if (known != data.origin.end())
        fail(ExitStatus::DoesNotCompile,
             "data '" + name + "' is given twice: in " + known->second + " and in " + where);
    data.origin[name] = where;
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

/// A folder of NAME.csv files: a set's file lists its elements (a row each,
/// tuple fields as columns); a parameter's file has its index columns in the
/// order of the declaration's index sets and the value last. The first row
/// names the columns.
void gather_csv_folder(GatheredData& data, py::object folder, std::string_view model_text) {
    std::map<std::string, tarvok::data::Declared> declared = tarvok::data::declared_names(model_text);
    py::object os = py::module_::import("os");
    py::list names = builtin("sorted")(os.attr("listdir")(folder));
    py::object csv = py::module_::import("csv"), io = py::module_::import("io");
    for (py::handle entry : names) {
        std::string file = host::str_of(entry);
        if (file.size() <= 4 || file.compare(file.size() - 4, 4, ".csv") != 0) continue;
        std::string name = file.substr(0, file.size() - 4);
        py::object path = os.attr("path").attr("join")(folder, entry);
        data.inputs.push_back(path);
        std::string where = host::str_of(path);
        auto found = declared.find(name);
        if (found == declared.end())
            fail(ExitStatus::DoesNotCompile, where + ":1: the model declares no set or parameter '" + name + "'");
        py::list rows = builtin("list")(csv.attr("reader")(io.attr("StringIO")(read_input(path))));
        const tarvok::data::Declared& d = found->second;
        py::list elements;
        py::dict keyed;
        py::object single = py::none();
        size_t line = 1;
        for (size_t r = 1; r < rows.size(); ++r) {
            ++line;
            py::list row = rows[r];
            if (row.size() == 0) continue;
            std::vector<py::object> cells;
            for (py::handle cell : row) cells.push_back(cell_value(host::str_of(cell)));
            std::string at = where + ":" + std::to_string(line) + ": ";
            if (d.is_set) {
                if (cells.size() == 1) {
                    elements.append(cells[0]);
                } else {
                    py::tuple fields(cells.size());
                    for (size_t i = 0; i < cells.size(); ++i) fields[i] = cells[i];
                    elements.append(fields);
                }
                continue;
            }
            if (cells.size() != d.dims + 1)
                fail(ExitStatus::DoesNotCompile, at + "'" + name + "' takes " + std::to_string(d.dims) +
                                                     " index column(s) and a value, but the row has " +
                                                     std::to_string(cells.size()) + " column(s)");
            if (d.dims == 0) {
                if (!single.is_none()) fail(ExitStatus::DoesNotCompile, at + "'" + name + "' takes one value");
                single = cells[0];
                continue;
            }
            py::object key;
            if (d.dims == 1) {
                key = cells[0];
            } else {
                py::tuple fields(d.dims);
                for (size_t i = 0; i < d.dims; ++i) fields[i] = cells[i];
                key = fields;
            }
            if (keyed.contains(key)) fail(ExitStatus::DoesNotCompile, at + "'" + name + "' has this key twice");
            keyed[key] = cells[d.dims];
        }
        py::object value = d.is_set ? py::object(elements) : d.dims == 0 ? single : py::object(keyed);
        if (value.is_none()) fail(ExitStatus::DoesNotCompile, where + ": '" + name + "' has no value");
        add_value(data, name, value, where);
    }
}

GatheredData gather_data(py::object paths, std::string_view model_text) {
    GatheredData data;
    py::object os_path = py::module_::import("os").attr("path");
    for (py::handle p : paths) {
        py::object path = py::reinterpret_borrow<py::object>(p);
        std::string lower = host::str_of(py::str(path).attr("lower")());
        if (host::truthy(os_path.attr("isdir")(path))) {
            gather_csv_folder(data, path, model_text);
        } else if (lower.size() >= 5 && lower.compare(lower.size() - 5, 5, ".json") == 0) {
            data.inputs.push_back(path);
            gather_json(data, path);
        } else {
            data.inputs.push_back(path);
            std::string text = host::str_of(read_input(path));
            if (!data.dat_text.empty() && data.dat_text.back() != '\n') data.dat_text += '\n';
            data.dat_text += text;
        }
    }
    return data;
}

/// The solution's rows for a CSV file: name, the index keys, the value.
void solution_rows(py::handle value, std::vector<std::string>& keys, const std::string& name,
                   std::vector<std::vector<std::string>>& rows) {
    if (PyDict_Check(value.ptr())) {
        for (auto item : py::reinterpret_borrow<py::dict>(value)) {
            keys.push_back(host::str_of(item.first));
            solution_rows(item.second, keys, name, rows);
            keys.pop_back();
        }
        return;
    }
    if (PyList_Check(value.ptr())) {
        size_t i = 0;
        for (py::handle item : value) {
            keys.push_back(std::to_string(i++));
            solution_rows(item, keys, name, rows);
            keys.pop_back();
        }
        return;
    }
    std::vector<std::string> row{name};
    row.insert(row.end(), keys.begin(), keys.end());
    row.push_back(value.is_none() ? std::string() : host::str_of(value));
    rows.push_back(std::move(row));
}

/// The solution as FILE.json (the result's dictionary) or FILE.csv (a row per
/// value: name, index keys, value), written whole.
void write_solution(py::object path, py::object result) {
    std::string lower = host::str_of(py::str(path).attr("lower")());
    bool csv = lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".csv") == 0;
    std::string text;
    py::dict solved = result.attr("to_dict")();
    if (csv) {
        std::vector<std::vector<std::string>> rows;
        std::vector<std::string> keys;
        if (solved.contains("objective")) solution_rows(solved["objective"], keys, "objective", rows);
        if (solved.contains("values"))
            for (auto item : py::reinterpret_borrow<py::dict>(solved["values"]))
                solution_rows(item.second, keys, host::str_of(item.first), rows);
        // Sensitivity figures, once the result carries them, go here as rows of their own.
        py::object buffer = py::module_::import("io").attr("StringIO")();
        py::object writer = py::module_::import("csv").attr("writer")(buffer, py::arg("lineterminator") = "\n");
        for (const auto& row : rows) {
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

int run_run(py::object args) {
    TemporarySettings settings;
    apply_size_option(settings, args);
    check_solve_options(args);
    py::object model_path = args.attr("model"), data_paths = args.attr("data");
    py::object written = args.attr("write"), solution = args.attr("solution");
    py::object model_text = read_input(model_path);
    GatheredData gathered = gather_data(data_paths, host::Utf8(model_text).view());
    // One data file names itself in diagnostics; data merged from several is "data".
    py::object data_path = py::none();
    if (py::len(data_paths) == 1 && gathered.values.empty()) data_path = data_paths[py::int_(0)];
    auto refuse_over_inputs = [&](py::object output, const std::string& what) {
        refuse_output_over_inputs(output, {model_path}, what);
        for (const py::object& input : gathered.inputs) refuse_output_over_inputs(output, {input}, what);
    };
    if (!written.is_none()) {
        std::string unusable = unusable_model_path(written);
        if (!unusable.empty()) fail(ExitStatus::Usage, "--write cannot write the model there: " + unusable);
        refuse_over_inputs(written, "--write");
    }
    if (!solution.is_none()) {
        std::string lower = host::str_of(py::str(solution).attr("lower")());
        auto ends = [&](const std::string& suffix) {
            return lower.size() >= suffix.size() &&
                   lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0;
        };
        if (!ends(".json") && !ends(".csv"))
            fail(ExitStatus::Usage, "--solution writes FILE.json or FILE.csv, not " + host::str_of(solution));
        refuse_over_inputs(solution, "--solution");
    }
    std::string data_string = gathered.dat_text;
    if (!gathered.values.empty()) {
        try {
            std::string from_values = host::str_of(host::data_text_of(model_text, gathered.values, "run"));
            if (!data_string.empty() && data_string.back() != '\n') data_string += '\n';
            data_string += from_values;
        } catch (py::error_already_set& e) {
            if (!e.matches(py::module_::import("tarvok.semantic_error").attr("SemanticError"))) throw;
            std::string message = host::str_of(e.value());
            // Said of a name: at the file that gave it.
            for (const auto& [name, where] : gathered.origin)
                if (message.find("'" + name + "'") != std::string::npos) {
                    message = where + ": " + message;
                    break;
                }
            fail(ExitStatus::DoesNotCompile, message);
        }
    }
    py::object data_text = host::text(data_string);
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
                // A program that cannot hold has no faithful file; the solve still says why.
                if (e.matches(PyExc_ValueError)) {
                    warn("tarvok run: warning: " + host::str_of(e.value()));
                    return py::object(py::none());
                }
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
            py::object answer = answer_of(solved);
            if (!answer.is_none()) out["answer"] = answer;
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
    if (!solution.is_none()) write_solution(solution, result);
    bool optimal = result.attr("status").is(sm.attr("Status").attr("OPTIMAL"));
    return code(optimal ? ExitStatus::Success : ExitStatus::NotOptimal);
}

}  // namespace tarvok::cli
