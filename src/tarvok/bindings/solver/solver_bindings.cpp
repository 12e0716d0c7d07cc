// tarvok.solver: runs Tarvok models. Compiles and expands a model into a
// sparse program (the core), solves it through a back-end (HiGHS by default;
// the adapters are the other *_bindings.cpp files here) under the core's
// strategy, and reports the outcome as Python values. The solver library and
// numpy are imported on first use, so that the module itself needs neither.
#include "bindings/host/compile.hpp"
#include "bindings/host/data_values.hpp"
#include "bindings/host/host.hpp"
#include "bindings/host/json.hpp"
#include "bindings/host/module_start.hpp"
#include "bindings/host/packed_data.hpp"
#include "bindings/host/solvers.hpp"
#include "bindings/solver/entries.hpp"
#include "bindings/solving/solving.hpp"
#include "compiler/model_tree.hpp"
#include "solver/backend.hpp"
#include "solver/compiled_model.hpp"
#include "solver/model_file.hpp"
#include "solver/mps.hpp"
#include "solver/options.hpp"
#include "solver/outcome.hpp"
#include "solver/program.hpp"
#include "solver/sensitivity.hpp"
#include "solver/solver_face.hpp"
#include "solver/views.hpp"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

namespace py = pybind11;
namespace host = tarvok::host;
using namespace tarvok::solver;

namespace {

using bind::doubles;
using bind::import_extra;
using bind::owned;
using bind::view;

host::Kept status_enum(host::modules::solver);

[[noreturn]] void raise_semantic_error(const std::string& report) {
    host::raise_new(host::semantic_error_class(), report);
}

using host::to_python;

/// What the core accepted; what it refused with is raised (TypeError or ValueError).
template <typename T>
T accepted(std::variant<T, tarvok::Error> checked) {
    if (tarvok::Error* no = std::get_if<tarvok::Error>(&checked)) throw *no;
    return std::get<T>(std::move(checked));
}

// ------------------------------------------------------------- Program

/// `expand(interrupt)` with Ctrl-C watched; MemoryError when memory runs out.
std::unique_ptr<Program> watched_expansion(const std::function<std::unique_ptr<Program>(tarvok::Interrupt*)>& expand) {
    return host::watched(expand, [] { return out_of_memory_message(0, true); });
}

}  // namespace

std::shared_ptr<Program> tarvok::solver::bind::instantiate_texts(py::object model_text, py::object data_text,
                                                                 const char* function) {
    host::require(model_text, function, "model_text", host::Kind::Str);
    // Read once for the call: both attempts below expand within the same limit.
    tarvok::compiler::SizeLimits sizes = host::size_setting();
    std::string failure;
    auto attempt = [&](std::string data, tarvok::compiler::DataOrigin origin,
                       std::vector<tarvok::compiler::GivenArray> arrays) {
        std::string model(host::Utf8(model_text).view());
        return watched_expansion([&](tarvok::Interrupt* interrupt) {
            return expand_texts(std::move(model), std::move(data), sizes, std::move(origin), std::move(arrays),
                                interrupt, failure);
        });
    };
    // The numeric arrays of a mapping are read packed; should anything fail
    // so, the data written whole as text is read instead, and says why.
    if (std::optional<host::PackedData> packed = host::packed_data_of(model_text, data_text, function))
        if (std::unique_ptr<Program> program = attempt(std::move(packed->text), packed->origin, packed->arrays))
            return std::shared_ptr<Program>(std::move(program));
    host::WrittenData written = host::written_data_of(model_text, data_text, function);
    std::unique_ptr<Program> program = attempt(std::string(host::Utf8(written.text).view()), written.origin, {});
    if (!program) raise_semantic_error(failure);
    return std::shared_ptr<Program>(std::move(program));
}

namespace {

/// The program `instantiate` makes of the texts (its errors name it).
std::shared_ptr<Program> program_from(py::object model_text, py::object data_text) {
    return bind::instantiate_texts(model_text, data_text, "instantiate");
}

// ------------------------------------------------------------ solving

struct SolveResult {
    Solved solved;
    py::dict statistics;  ///< made once: every look at it, and to_dict, gives this dict
};

/// The library of a solver, imported, or an ImportError saying what needed
/// it (`purpose`) and which extra installs it (its own unless `extra` names
/// one). The one availability check of the package: the evaluation and the
/// execution check call it through the module.
py::object check_solver(py::object solver, py::object purpose, py::object extra) {
    const SolverLibrary& entry =
        kSolverLibraries[accepted(solver_choice("_check_solver", bind::argument(solver), solver_names()))];
    std::string from = extra.is_none() ? std::string(entry.extra) : host::str_of(extra);
    return host::import_solver(entry, host::str_of(purpose), from.c_str());
}

/// `cancel` as a solve takes it: None or a callable, asked while the run goes on.
std::function<bool()> cancel_of(py::object cancel, const char* function) {
    if (cancel.is_none()) return {};
    if (!PyCallable_Check(cancel.ptr()))
        throw py::type_error(std::string(function) + "() argument 'cancel' must be callable or None, not " +
                             host::type_name(cancel));
    // Shared, so that copies of the function leave the host's reference counts alone.
    auto asked = std::make_shared<py::object>(std::move(cancel));
    return [asked] { return host::truthy((*asked)()); };
}

/// Solves through the one solve (bind::solve). On Ctrl-C the run so far
/// rides on the exception, for a caller that shows it.
py::object solve(std::shared_ptr<Program> program, const SolveChoice& options, std::function<bool()> cancel) {
    bind::SolveRun run = bind::solve(std::move(program), options, std::move(cancel));
    SolveResult result{std::move(run.solved), {}};
    result.statistics = to_python(result.solved.statistics);
    if (!run.interrupt) return py::cast(std::move(result));
    run.interrupt->value().attr("result") = py::cast(std::move(result));
    throw std::move(*run.interrupt);
}
py::object solve_model(py::object model_text, py::object data_text, py::object time_limit, py::object mip_gap,
                       py::object threads, py::object log, py::object sensitivity, py::object solver,
                       py::object cancel) {
    host::require(model_text, "solve_model", "model_text", host::Kind::Str);
    // A mapping goes to `instantiate` as it is, which names its entries in messages.
    if (!PyUnicode_Check(data_text.ptr())) host::written_data_of(model_text, data_text, "solve_model");
    SolveChoice options = bind::solve_options("solve_model", time_limit, mip_gap, threads, log, sensitivity, solver);
    std::function<bool()> stop = cancel_of(cancel, "solve_model");
    return solve(program_from(model_text, data_text), options, stop);
}

py::object solve_program(py::object program, py::object time_limit, py::object mip_gap, py::object threads,
                         py::object log, py::object sensitivity, py::object solver, py::object cancel) {
    auto p = host::cast_or_refuse<std::shared_ptr<Program>>(program,
                                                            "solve_program() argument 'program' must be Program, not ");
    SolveChoice options = bind::solve_options("solve_program", time_limit, mip_gap, threads, log, sensitivity, solver);
    return solve(std::move(p), options, cancel_of(cancel, "solve_program"));
}

// ------------------------------------------------------- CompiledModel

/// Names the files (and rows of tables) that data written from them came from, in messages.
void name_data_sources(CompiledModel& c, py::int_ base, py::handle values, py::dict files, py::dict rows) {
    tarvok::data::DataSources sources;
    sources.base = base.cast<size_t>();
    sources.values = host::values_of(values, "_name_data_sources");
    for (auto [name, file] : files) sources.files[host::str_of(name)] = host::str_of(file);
    for (auto [name, table] : rows)
        for (auto [path, row] : py::reinterpret_borrow<py::dict>(table))
            sources.rows[host::str_of(name)][host::str_of(path)] = host::str_of(row);
    c.name_data_sources(std::move(sources));
}

/// The program, made on first use; SemanticError when the model does not
/// compile or its data make it impossible to expand.
std::shared_ptr<Program> compiled_program(CompiledModel& c) {
    std::string failure;
    std::shared_ptr<Program> program = bind::program_of(c, failure);
    if (!program) raise_semantic_error(failure);
    return program;
}

std::shared_ptr<CompiledModel> compile_pair(py::object model_text, py::object data_text) {
    return host::compile_pair(std::move(model_text), std::move(data_text), "compile", host::size_setting());
}

void write_model(py::object model_text, py::object data_text, py::object path) {
    py::object fspath =
        host::text_path(path, "write_model() argument 'path' must be a str or os.PathLike path to text, not ");
    std::string file = host::str_of(fspath);
    NameFormat format = accepted(model_file_format(file));

    host::highs::write_program(program_from(model_text, data_text), fspath, file, format);
}

// ------------------------------------------------------------ the face

using host::def;  // as the face shows the function

/// Adds to `cls` the method its face shows, its docstring signed.
template <typename Class, typename Func, typename... Extra>
void def_method(Class& cls, const tarvok::Face& face, Func&& f, const Extra&... extra) {
    cls.def(face.name, std::forward<Func>(f), extra..., host::signed_doc(face.name, face.params, face.doc).c_str());
}

/// Status: an enum.Enum of the JSON words.
void define_status(py::module_& m) {
    py::list members;
    for (const auto& [name, word] : status_members()) members.append(py::make_tuple(name, word));
    host::def_enum(m, status_enum, "Status", members, kStatusDoc);
}

/// A property of Program: the core's view as Python values, or a read-only
/// numpy view of one of its arrays.
void define_properties(py::class_<Program, std::shared_ptr<Program>>& program,
                       const std::vector<ProgramProperty>& properties) {
    for (const ProgramProperty& p : properties) {
        py::cpp_function get([p](py::object self) -> py::object {
            const Program& program = self.cast<const Program&>();
            if (p.shape) return to_python(p.shape(program));
            std::optional<ArrayMemory> memory;
            {
                py::gil_scoped_release released;  // the transpose, on first use
                memory = array_memory(program, p.array);
            }
            if (!memory) return py::none();
            return std::visit([&](auto data) { return py::object(view(*data, self)); }, *memory);
        });
        program.def_property_readonly(p.name, get, p.doc);
    }
}

void define_program(py::module_& m) {
    py::class_<Program, std::shared_ptr<Program>> program(m, "Program", kProgramDoc);
    define_properties(program, program_sizes_and_arrays());
    def_method(program, kCscFace, [](const Program& p) {
        CscMatrix c = p.csc();
        return py::make_tuple(owned(std::move(c.starts)), owned(std::move(c.rows)), owned(std::move(c.values)));
    });
    def_method(program, kCooFace, [](const Program& p) {
        return py::make_tuple(owned(nonzero_rows(p)), owned(p.col_indices), owned(p.values));
    });
    define_properties(program, program_views());
    def_method(
        program, kSolutionValuesFace,
        [](const Program& p, py::object x) { return to_python(solution_values(p, doubles(x, p.columns(), "x"))); },
        py::arg("x"));
    program.def("__repr__", [](const Program& p) { return program_repr(p); });
}

/// What the host itself answers for a property of SolveResult.
py::object host_view(const SolveResult& r, HostView view) {
    switch (view) {
    case HostView::Status: return status_enum.get()(status_word(r.solved.outcome.status));
    case HostView::Statistics: return r.statistics;
    case HostView::Program: return py::cast(r.solved.program);
    case HostView::Keyed:
    case HostView::None: break;
    }
    return py::none();
}

/// A view of (key, value) pairs per indexed variable, each made a dict.
py::object keyed(const tarvok::json::Value& view) {
    py::object out = to_python(view);
    if (!PyDict_Check(out.ptr())) return out;
    for (auto [name, value] : py::reinterpret_borrow<py::dict>(out))
        if (PyList_Check(value.ptr())) out[name] = py::dict(py::reinterpret_borrow<py::object>(value));
    return out;
}

/// The values as pandas objects (see kToPandasFace).
py::dict to_pandas(const SolveResult& r) {
    py::module_ pandas = host::import_extra("pandas", "SolveResult.to_pandas", "pandas");
    py::dict values = keyed(r.solved.element_values()), out;
    std::unordered_map<std::string, size_t> dims;
    for (const VariableBlock& b : r.solved.program->variables) dims[b.name] = b.dims.size();
    for (auto [name, value] : values) {
        auto found = dims.find(host::str_of(name));
        if (found == dims.end() || found->second == 0) {
            out[name] = value;
            continue;
        }
        py::list keys(value.attr("keys")()), cells(value.attr("values")());
        py::object index = found->second > 1 && py::len(keys) > 0
                               ? pandas.attr("MultiIndex").attr("from_tuples")(keys)
                               : pandas.attr("Index")(keys, py::arg("tupleize_cols") = false);
        // An empty variable's Series holds floats, as a solved one does.
        py::object dtype = py::len(cells) ? py::object(py::none()) : py::object(py::str("float64"));
        out[name] =
            pandas.attr("Series")(cells, py::arg("index") = index, py::arg("name") = name, py::arg("dtype") = dtype);
    }
    return out;
}

/// One variable's values as a DataFrame (see kToFrameFace).
py::object to_frame(const SolveResult& r, py::object name) {
    py::module_ pandas = host::import_extra("pandas", "SolveResult.to_frame", "pandas");
    py::dict values = keyed(r.solved.element_values());
    if (!values.contains(name))
        host::raise(PyExc_KeyError, "no variable or dexpr named " + host::str_of(py::repr(name)));
    py::object value = values[name];
    size_t dims = 0;
    for (const VariableBlock& b : r.solved.program->variables)
        if (b.name == host::str_of(name)) dims = b.dims.size();
    py::list columns, rows;
    for (size_t k = 1; k <= dims; ++k) columns.append("index " + std::to_string(k));
    columns.append("value");
    if (dims == 0) {
        rows.append(py::make_tuple(value));
    } else {
        for (auto [key, cell] : py::reinterpret_borrow<py::dict>(value)) {
            py::list row;
            if (dims > 1)
                for (py::handle element : key) row.append(element);
            else
                row.append(key);
            row.append(cell);
            rows.append(row);
        }
    }
    return pandas.attr("DataFrame")(rows, py::arg("columns") = columns);
}

void define_solve_result(py::module_& m) {
    py::class_<SolveResult> result(m, "SolveResult", kSolveResultDoc);
    for (const ResultProperty& p : result_properties()) {
        result.def_property_readonly(
            p.name,
            [p](const SolveResult& r) {
                if (p.host == HostView::Keyed) return keyed((r.solved.*p.shape)());
                return p.shape ? to_python((r.solved.*p.shape)()) : host_view(r, p.host);
            },
            p.doc);
    }
    def_method(
        result, kToDictFace,
        [](const SolveResult& r, bool nested) {
            py::dict d = to_python(r.solved.to_dict(nested));
            d["statistics"] = r.statistics;
            return d;
        },
        py::kw_only(), py::arg("nested") = false);
    def_method(result, kToPandasFace, &to_pandas);
    def_method(result, kToFrameFace, &to_frame, py::arg("name"));
    result.def("_repr_html_", [](const SolveResult& r) { return host::text(r.solved.html()); });
    def_method(result, kSummaryFace, [](const SolveResult& r) { return host::text(r.solved.summary()); });
    result.def("__repr__",
               [](const SolveResult& r) { return r.solved.repr(host::str_of(to_python(r.solved.objective()))); });
}

void define_compiled_model(py::module_& m) {
    py::class_<CompiledModel, std::shared_ptr<CompiledModel>> cls(m, "CompiledModel", kCompiledModelDoc);
    for (const SourceText& t : source_texts())
        cls.def_property_readonly(
            t.face.name, [t](const CompiledModel& c) { return host::text(t.text(c.source())); }, t.face.doc);
    cls.def_property_readonly(kOkFace.name, &CompiledModel::ok, kOkFace.doc);
    def_method(
        cls, kReportForFace,
        [](const CompiledModel& c, py::object model, py::object data) {
            return host::text(report_for_files(c.source(), std::string(host::Utf8(model).view()),
                                               std::string(host::Utf8(data).view())));
        },
        py::arg("model_name"), py::arg("data_name"));
    cls.def(kNameDataSourcesFace.name, &name_data_sources, py::arg("base"), py::arg("values"), py::arg("files"),
            py::arg("rows"), kNameDataSourcesFace.doc)
        .def_property_readonly(
            kDiagnosticsFace.name,
            [](const CompiledModel& c) {
                return to_python(tarvok::compiler::tree::diagnostic_record_tree(*c.source().compilation, true));
            },
            kDiagnosticsFace.doc)
        .def_property_readonly(kProgramFace.name, &compiled_program, kProgramFace.doc)
        .def("__repr__", &CompiledModel::repr);
}

void define_functions(py::module_& m) {
    def(m, kCompileFace, &compile_pair, py::arg("model_text"), py::arg("data_text"));
    def(m, kSolveProgramFace, &solve_program, py::arg("program"), py::kw_only(), py::arg("time_limit") = py::none(),
        py::arg("mip_gap") = py::none(), py::arg("threads") = py::none(), py::arg("log") = false,
        py::arg("sensitivity") = false, py::arg("solver") = "highs", py::arg("cancel") = py::none());
    def(m, kCheckSolverFace, &check_solver, py::arg("solver") = "highs", py::arg("purpose") = "solving a model",
        py::arg("extra") = py::none());
    def(
        m, kInstantiateFace,
        [](py::object model_text, py::object data_text) {
            return bind::instantiate_texts(model_text, data_text, "instantiate");
        },
        py::arg("model_text"), py::arg("data_text"));
    def(m, kSolveModelFace, &solve_model, py::arg("model_text"), py::arg("data_text"), py::kw_only(),
        py::arg("time_limit") = py::none(), py::arg("mip_gap") = py::none(), py::arg("threads") = py::none(),
        py::arg("log") = false, py::arg("sensitivity") = false, py::arg("solver") = "highs",
        py::arg("cancel") = py::none());
    def(m, kWriteModelFace, &write_model, py::arg("model_text"), py::arg("data_text"), py::arg("path"));
}

}  // namespace

void tarvok_start_solver(pybind11::module_& m) {
    host::ModuleStart start(m, tarvok::host::modules::solver, kModuleDoc);
    m.attr("SemanticError") = host::semantic_error_class();
    define_status(m);
    define_program(m);
    define_solve_result(m);
    define_compiled_model(m);
    define_functions(m);
    // The names solver= takes, the default first, for the command's --solver.
    py::tuple solvers(std::size(kSolverLibraries));
    for (size_t k = 0; k < std::size(kSolverLibraries); ++k) solvers[k] = kSolverLibraries[k].name;
    m.attr("_SOLVERS") = solvers;
}
