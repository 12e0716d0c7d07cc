// tarvok.solver: runs Tarvok models. Compiles and expands a model into a
// sparse program (the core), solves it through a back-end (HiGHS by default;
// the adapters are the other *_bindings.cpp files here) under the core's
// strategy, and reports the outcome as Python values. The solver library and
// numpy are imported on first use, so that the module itself needs neither.
#include "compiler/diagnostic_records.hpp"
#include "host/data_values.hpp"
#include "host/host.hpp"
#include "solver/backend.hpp"
#include "solver/bindings.hpp"
#include "solver/lp_labels.hpp"
#include "solver/mps.hpp"
#include "solver/options.hpp"
#include "solver/outcome.hpp"
#include "solver/program.hpp"
#include "solver/sensitivity.hpp"
#include "solver/views.hpp"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace py = pybind11;
namespace host = tarvok::host;
using namespace tarvok::solver;

namespace tarvok::solver::bind {

std::vector<double> doubles(py::handle sequence, size_t expected, const char* what) {
    py::object fast = py::reinterpret_steal<py::object>(PySequence_Fast(sequence.ptr(), what));
    if (!fast) throw py::error_already_set();
    Py_ssize_t n = PySequence_Fast_GET_SIZE(fast.ptr());
    if (static_cast<size_t>(n) != expected)
        host::raise(PyExc_ValueError, std::string(what) + " has " + std::to_string(n) + " values; the program has " +
                                          std::to_string(expected) + " columns");
    std::vector<double> out(static_cast<size_t>(n));
    PyObject** items = PySequence_Fast_ITEMS(fast.ptr());
    for (Py_ssize_t i = 0; i < n; ++i) {
        out[i] = PyFloat_AsDouble(items[i]);
        if (out[i] == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    }
    return out;
}

py::error_already_set HostBackend::take_interrupt() {
    if (interrupt_) return std::move(*interrupt_);
    PyErr_SetNone(PyExc_KeyboardInterrupt);
    return py::error_already_set();
}

void HostBackend::hold_interrupt(py::error_already_set raised) {
    interrupt_ = std::make_unique<py::error_already_set>(std::move(raised));
}

}  // namespace tarvok::solver::bind

namespace {

using bind::doubles;
using bind::import_extra;
using bind::owned;
using bind::view;

/// This module, for looking up its functions and classes at call time.
py::module_ self() { return host::this_module(); }

[[noreturn]] void raise_semantic_error(const std::string& report) {
    py::object cls = self().attr("SemanticError");
    PyErr_SetObject(cls.ptr(), cls(host::text(report)).ptr());
    throw py::error_already_set();
}

/// A view the core shaped, as Python values: one node at a time.
py::object to_python(const Tree& t) {
    switch (t.kind) {
    case Tree::Kind::None: return py::none();
    case Tree::Kind::Bool: return py::bool_(t.boolean);
    case Tree::Kind::Int: return py::int_(t.integer);
    case Tree::Kind::Float: return py::float_(t.number);
    case Tree::Kind::Text: return host::text(t.text);
    case Tree::Kind::List:
    case Tree::Kind::Tuple: {
        py::list items(t.items.size());
        for (size_t k = 0; k < t.items.size(); ++k) items[k] = to_python(t.items[k]);
        return t.kind == Tree::Kind::List ? py::object(std::move(items)) : py::object(py::tuple(items));
    }
    case Tree::Kind::Dict: {
        py::dict out;
        for (const auto& [key, value] : t.members) out[host::text(key)] = to_python(value);
        return out;
    }
    }
    return py::none();
}

/// An argument as the option checks of the core read it. Only exact
/// built-in kinds are spelt, so no caller's own __str__ or __repr__ runs.
Argument argument(py::handle v) {
    Argument a;
    a.type_name = host::type_name(v);
    if (v.is_none()) {
        a.kind = Argument::Kind::None;
    } else if (host::is_exact(v, host::Kind::Bool)) {
        a.kind = Argument::Kind::Bool;
        a.flag = v.ptr() == Py_True;
    } else if (host::is_exact(v, host::Kind::Int)) {
        a.kind = Argument::Kind::Int;
        a.whole = host::saturated(v);
        a.number = v.cast<double>();
        a.text = host::str_of(v);
    } else if (host::is_exact(v, host::Kind::Float)) {
        a.kind = Argument::Kind::Float;
        a.number = v.cast<double>();
        a.text = host::str_of(v);
    } else if (host::is_exact(v, host::Kind::Str)) {
        a.kind = Argument::Kind::Str;
        a.text = host::str_of(v);
        a.repr = host::str_of(py::repr(v));
    }
    return a;
}

/// What the core accepted, or the TypeError or ValueError it refused with.
template <typename T>
T accepted(std::variant<T, Refusal> checked) {
    if (Refusal* no = std::get_if<Refusal>(&checked)) {
        if (no->type_error) throw py::type_error(no->message);
        host::raise(PyExc_ValueError, no->message);
    }
    return std::get<T>(std::move(checked));
}

// ------------------------------------------------------------- Program

/// The compiler's size limit, as its module's MAX_SIZE stands now.
tarvok::compiler::SizeLimits size_limits() {
    // tarvok_core's own reading of its setting, so that both modules refuse alike.
    py::tuple limits = py::module_::import("tarvok.tarvok_core").attr("_size_limits")();
    auto limit = [&](size_t k) { return limits[k].is_none() ? UINT64_MAX : limits[k].cast<uint64_t>(); };
    return {limit(0), limit(1), limit(2)};
}

/// Runs `work` with Ctrl-C watched; MemoryError saying `out_of_memory` when memory runs out.
template <typename Work>
auto watched(Work&& work, const std::string& out_of_memory) {
    // The C++ runtime allocates its exception state on first use; were that
    // first use a failed allocation, the process would abort.
    static thread_local volatile int touched = 0;
    touched = std::uncaught_exceptions();
    try {
        return host::interruptible(std::forward<Work>(work));
    } catch (const std::bad_alloc&) {
        host::raise(PyExc_MemoryError, out_of_memory);
    }
}

/// The program `make` expands with these options, or nullptr and in
/// `failure` why the model cannot be expanded.
template <typename Make>
std::unique_ptr<Program> expand(Make make, InstantiateOptions options, std::string& failure) {
    return watched(
        [&](tarvok::Interrupt* interrupt) {
            options.compile.interrupt = interrupt;
            try {
                return make(options);
            } catch (const ModelError& e) {
                failure = e.report();
                return std::unique_ptr<Program>();
            }
        },
        "not enough memory to expand the model into a program");
}

std::shared_ptr<Program> instantiate_texts(py::object model_text, py::object data_text, const char* function) {
    host::require(model_text, function, "model_text", host::Kind::Str);
    host::WrittenData written = host::written_data_of(model_text, data_text, function);
    std::string model(host::Utf8(model_text).view());
    std::string data(host::Utf8(written.text).view());
    InstantiateOptions options;
    options.compile.sizes = size_limits();
    options.compile.data_origin = written.origin;
    std::string failure;
    std::unique_ptr<Program> program =
        expand([&](const InstantiateOptions& o) { return instantiate(std::move(model), std::move(data), o); }, options,
               failure);
    if (!program) raise_semantic_error(failure);
    return std::shared_ptr<Program>(std::move(program));
}

/// The program `instantiate` (as the module has it now) returns.
std::shared_ptr<Program> program_from(py::object model_text, py::object data_text) {
    py::object program = self().attr("instantiate")(model_text, data_text);
    return program.cast<std::shared_ptr<Program>>();
}

// ------------------------------------------------------------ solving

struct SolveResult {
    Solved solved;
    py::dict statistics;  ///< made once: every look at it, and to_dict, gives this dict
};

}  // namespace

/// The adapters, one per *_bindings.cpp file beside this one.
namespace tarvok::solver::bind {
std::unique_ptr<HostBackend> make_highs_backend(py::module_ highspy, py::handle owner);
std::unique_ptr<HostBackend> make_scip_backend(py::module_ pyscipopt, py::handle owner);
}  // namespace tarvok::solver::bind

namespace {

/// The solvers the module offers, the default first.
const bind::SolverEntry kSolvers[] = {
    {"highs", "highspy", "solve", &bind::make_highs_backend},
    {"scip", "pyscipopt", "scip", &bind::make_scip_backend},
};

const std::vector<std::string>& solver_names() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        for (const bind::SolverEntry& entry : kSolvers) out.push_back(entry.name);
        return out;
    }();
    return names;
}

/// The library of a solver, imported, or an ImportError saying what needed
/// it (`purpose`) and which extra installs it (its own unless `extra` names
/// one). The one availability check of the package: the evaluation and the
/// execution check call it through the module.
py::object check_solver(py::object solver, py::object purpose, py::object extra) {
    const bind::SolverEntry& entry =
        kSolvers[accepted(solver_choice("_check_solver", argument(solver), solver_names()))];
    std::string why = host::str_of(purpose);
    std::string from = extra.is_none() ? std::string(entry.extra) : host::str_of(extra);
    return host::import_extra(entry.library, why.c_str(), from.c_str());
}

SolveChoice solve_options(const char* function, py::handle time_limit, py::handle mip_gap, py::handle threads,
                          py::handle log, py::handle sensitivity, py::handle solver) {
    SolveArguments arguments{argument(time_limit), argument(mip_gap),     argument(threads),
                             argument(log),        argument(sensitivity), argument(solver)};
    return accepted(check_solve_options(function, arguments, solver_names()));
}

/// Solves through the chosen back-end under the core's strategy. On Ctrl-C
/// the run so far rides on the exception, for a caller that shows it.
py::object solve(std::shared_ptr<Program> program, const SolveChoice& options) {
    SolveResult result;
    const Program& p = *program;
    SolveReport report;
    std::unique_ptr<bind::HostBackend> backend;
    if (std::optional<Outcome> settled = settle_without_solver(p)) {
        report.outcome = std::move(*settled);
    } else {
        const bind::SolverEntry& entry = kSolvers[options.solver];
        py::object library = self().attr("_check_solver")(entry.name, "solving a model", py::none());
        backend = entry.make(py::reinterpret_borrow<py::module_>(library), py::cast(program));
        report = solve_with(p, *backend, options.settings);
    }
    result.solved = {std::move(program), std::move(report.outcome), std::move(report.sensitivity),
                     solve_statistics(p, report)};
    result.statistics = to_python(result.solved.statistics);
    if (!report.interrupted) return py::cast(std::move(result));
    py::error_already_set raised = backend->take_interrupt();
    raised.value().attr("result") = py::cast(std::move(result));
    throw raised;
}
py::object solve_model(py::object model_text, py::object data_text, py::object time_limit, py::object mip_gap,
                       py::object threads, py::object log, py::object sensitivity, py::object solver) {
    host::require(model_text, "solve_model", "model_text", host::Kind::Str);
    // A mapping goes to `instantiate` as it is, which names its entries in messages.
    if (!PyUnicode_Check(data_text.ptr())) host::written_data_of(model_text, data_text, "solve_model");
    SolveChoice options = solve_options("solve_model", time_limit, mip_gap, threads, log, sensitivity, solver);
    return solve(program_from(model_text, data_text), options);
}

py::object solve_program(py::object program, py::object time_limit, py::object mip_gap, py::object threads,
                         py::object log, py::object sensitivity, py::object solver) {
    std::shared_ptr<Program> p;
    try {
        p = program.cast<std::shared_ptr<Program>>();
    } catch (py::cast_error&) {
        throw py::type_error("solve_program() argument 'program' must be Program, not " + host::type_name(program));
    }
    return solve(std::move(p), solve_options("solve_program", time_limit, mip_gap, threads, log, sensitivity, solver));
}

// ------------------------------------------------------- CompiledModel

/// A model compiled with its data, kept for running: expanded into its
/// Program on first use, once.
class CompiledModel {
  public:
    CompiledModel(std::shared_ptr<Source> source, tarvok::compiler::SizeLimits sizes)
        : source_(std::move(source)), sizes_(sizes) {}

    const Source& source() const { return *source_; }
    bool ok() const { return source_->compilation->ok(); }

    /// Names the files (and rows of tables) that data written from them came from, in messages.
    void name_data_sources(py::int_ base, py::handle values, py::dict files, py::dict rows) {
        auto sources = std::make_shared<tarvok::data::DataSources>();
        sources->base = base.cast<size_t>();
        sources->model_text = source_->model_text;
        sources->values = host::values_of(values, "_name_data_sources");
        for (auto [name, file] : files) sources->files[host::str_of(name)] = host::str_of(file);
        for (auto [name, table] : rows)
            for (auto [path, row] : py::reinterpret_borrow<py::dict>(table))
                sources->rows[host::str_of(name)][host::str_of(path)] = host::str_of(row);
        source_->compilation->data_origin = [sources](uint32_t offset) {
            return tarvok::data::describe_source(*sources, offset);
        };
    }

    /// The program, made on first use; SemanticError when the model does not
    /// compile or its data make it impossible to expand.
    std::shared_ptr<Program> program() {
        std::unique_lock<std::mutex> lock(made_, std::defer_lock);
        {
            py::gil_scoped_release unlocked;  // the one making it may need the GIL to watch for Ctrl-C
            lock.lock();
        }
        if (!program_ && failure_.empty()) {
            InstantiateOptions options;
            options.compile.sizes = sizes_;  // the limit it was compiled within
            program_ = expand([&](const InstantiateOptions& o) { return instantiate(source_, o); }, options, failure_);
        }
        if (!program_) raise_semantic_error(failure_);
        return program_;
    }

  private:
    std::shared_ptr<Source> source_;
    tarvok::compiler::SizeLimits sizes_;
    std::mutex made_;
    std::shared_ptr<Program> program_;
    std::string failure_;  ///< why the program could not be made
};

std::shared_ptr<CompiledModel> compile_pair(py::object model_text, py::object data_text) {
    host::require(model_text, "compile", "model_text", host::Kind::Str);
    host::WrittenData written = host::written_data_of(model_text, data_text, "compile");
    data_text = written.text;
    std::string model(host::Utf8(model_text).view()), data(host::Utf8(data_text).view());
    size_t kilobytes = (model.size() + data.size()) >> 10;
    tarvok::compiler::SizeLimits sizes = size_limits();
    std::shared_ptr<Source> source = watched(
        [&](tarvok::Interrupt* interrupt) {
            tarvok::compiler::CompileOptions options;
            options.interrupt = interrupt;
            options.sizes = sizes;
            options.data_origin = written.origin;
            return compile_source(std::move(model), std::move(data), options);
        },
        "not enough memory to compile the model and data (" + std::to_string(kilobytes) + " KB of text)");
    return std::make_shared<CompiledModel>(std::move(source), sizes);
}

/// OSError for `path`, from errno `error`.
[[noreturn]] void raise_os_error(int error, py::handle path) {
    errno = error;
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path.ptr());
    throw py::error_already_set();
}

void write_model(py::object model_text, py::object data_text, py::object path) {
    py::object fspath = py::module_::import("os").attr("fspath")(path);
    if (!PyUnicode_Check(fspath.ptr()))
        throw py::type_error("write_model() argument 'path' must be a str or os.PathLike path to text, not " +
                             host::type_name(path));
    std::string file = host::str_of(fspath);
    NameFormat format = accepted(model_file_format(file));

    std::shared_ptr<Program> program = program_from(model_text, data_text);
    std::string unwritable = unwritable_reason(*program);
    if (!unwritable.empty()) host::raise(PyExc_ValueError, "cannot write " + file + ": " + unwritable);
    try {
        if (format == NameFormat::Mps) {
            std::string text = mps_text(*program);
            tarvok::files::write_file_atomically(host::file_system_path(fspath), text);
            return;
        }
        // The .lp file is HiGHS's. It writes by the path and does not notice
        // a full disk; it writes a temporary beside the target, which moves
        // into place only when HiGHS reports success and the file ends as a
        // complete one does.
        std::vector<std::string> columns = program->export_column_names(format);
        std::vector<std::string> rows = program->export_row_names(format);
        tarvok::files::FileWrittenByPath out(host::file_system_path(fspath));
        if (!bind::write_lp_with_highs(*program, py::cast(program), columns, rows, host::host_path(out.path())))
            raise_os_error(EIO, fspath);
        // HiGHS names no objective and knows nothing of folded rows; the .lp file gets both afterwards.
        if (!label_lp_file(out.path(), lp_labels(*program, columns))) raise_os_error(EIO, fspath);
        out.commit("end\n");
    } catch (const tarvok::files::FileError& e) {
        raise_os_error(e.error_number(), fspath);
    }
}

// ------------------------------------------------------------ the face

using ProgramClass = py::class_<Program, std::shared_ptr<Program>>;

/// Status: an enum.Enum of the JSON words.
void define_status(py::module_& m) {
    std::string module_name = py::str(m.attr("__name__")).cast<std::string>();
    py::list words;
    for (Status s : kStatuses) {
        std::string word = status_word(s);
        std::string member;
        for (char ch : word) member += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        words.append(py::make_tuple(member, word));
    }
    py::object Status = py::module_::import("enum").attr("Enum")("Status", words, py::arg("module") = module_name,
                                                                 py::arg("qualname") = "Status");
    Status.attr("__doc__") = "How a solve ended; the value is the word the JSON output uses.";
    m.attr("Status") = Status;
}

/// A view of the program the core shapes, as a Python value.
template <Tree (*Shape)(const Program&)>
py::object program_view(py::object self) {
    return to_python(Shape(self.cast<const Program&>()));
}

/// A read-only numpy view of one of the program's arrays.
template <auto Member>
py::object program_array(py::object self) {
    return view(self.cast<const Program&>().*Member, self);
}

/// A read-only numpy view of one of the arrays of the matrix column by
/// column, transposed on first use without the GIL.
template <auto Member>
py::object columnwise_array(py::object self) {
    const Program& program = self.cast<const Program&>();
    const CscMatrix* matrix = nullptr;
    {
        py::gil_scoped_release released;
        matrix = &program.columnwise();
    }
    return view(matrix->*Member, self);
}

/// A read-only property and its docstring.
template <typename Owner>
struct Property {
    const char* name;
    py::object (*get)(Owner);
    const char* doc;
};

/// Program: its sizes and arrays.
ProgramClass define_program(py::module_& m) {
    static const Property<py::object> kSizesAndArrays[] = {
        {"sense",
         [](py::object s) -> py::object {
             return py::str(s.cast<const Program&>().sense == Sense::Maximize ? "maximize" : "minimize");
         },
         "\"minimize\" or \"maximize\"."},
        {"objective_offset", [](py::object s) -> py::object { return py::float_(s.cast<const Program&>().offset); },
         "The constant term of the objective."},
        {"num_columns", [](py::object s) -> py::object { return py::int_(s.cast<const Program&>().columns()); },
         "Number of columns (variable elements)."},
        {"num_rows", [](py::object s) -> py::object { return py::int_(s.cast<const Program&>().rows()); },
         "Number of rows (constraint instances)."},
        {"num_nonzeros", [](py::object s) -> py::object { return py::int_(s.cast<const Program&>().nonzeros()); },
         "Number of nonzero coefficients."},
        {"cost", &program_array<&Program::cost>, "Objective coefficient per column (float64)."},
        {"column_lower", &program_array<&Program::col_lower>, "Lower bound per column; -inf when there is none."},
        {"column_upper", &program_array<&Program::col_upper>, "Upper bound per column; inf when there is none."},
        {"integrality", &program_array<&Program::integrality>,
         "1 for integer (int and boolean) columns, 0 for continuous ones (uint8)."},
        {"row_lower", &program_array<&Program::row_lower>, "Lower side per row; -inf when there is none."},
        {"row_upper", &program_array<&Program::row_upper>,
         "Upper side per row; inf when there is none (equal sides: an equation)."},
        {"row_starts", &program_array<&Program::row_starts>,
         "CSR: row i holds column_indices/values[row_starts[i]:row_starts[i+1]] (int32)."},
        {"column_indices", &program_array<&Program::col_indices>, "CSR column index of each nonzero (int32)."},
        {"values", &program_array<&Program::values>, "CSR value of each nonzero (float64)."},
        {"column_starts", &columnwise_array<&CscMatrix::starts>,
         "CSC: column j holds row_indices/column_values[column_starts[j]:column_starts[j+1]] (int32); built on "
         "first use."},
        {"row_indices", &columnwise_array<&CscMatrix::rows>,
         "CSC row index of each nonzero, ascending within a column (int32)."},
        {"column_values", &columnwise_array<&CscMatrix::values>, "CSC value of each nonzero (float64)."},
    };
    ProgramClass program(
        m, "Program",
        "A model expanded into a sparse linear or mixed-integer program.\n\n"
        "Columns are the elements of the decision variables, in declaration order and row by row over each\n"
        "variable's index sets; rows are the constraint instances. Arrays are read-only numpy views.\n"
        "Names: 'ship[Aalborg][Copenhagen]' for a column, 'label[index values]' for a row; an unlabelled\n"
        "constraint is named c<line> (c<line>_<column> when several start on one line).");
    for (const auto& p : kSizesAndArrays) program.def_property_readonly(p.name, p.get, p.doc);
    return program;
}

/// Program: its matrix forms, names and what a solution means for it.
void define_program_views(ProgramClass& program) {
    static const Property<py::object> kViews[] = {
        {"column_names", &program_view<&column_name_list>, "Name of each column, e.g. 'ship[Aalborg][Copenhagen]'."},
        {"column_keys", &program_view<&column_key_list>,
         "The index keys of each column, a tuple with one text per dimension of its variable, e.g.\n"
         "('Aalborg', 'Copenhagen'); () for a scalar variable."},
        {"row_names", &program_view<&row_name_list>, "Name of each row, e.g. 'plantCapacity[Aalborg]'."},
        {"row_lines", &program_view<&row_line_list>, "The model line each row's constraint starts on."},
        {"variables", &program_view<&variable_list>,
         "One dict per decision variable: name, first_column, shape, integer, line; its columns are first_column "
         "onwards, row by row over shape."},
        {"dexprs", &program_view<&dexpr_list>,
         "One dict per dexpr: name, columns, coefficients, constant, line (its linear form)."},
        {"conflicts", [](py::object s) { return to_python(culprit_list(s.cast<const Program&>().conflicts)); },
         "Constraints and bounds that cannot hold whatever the variables are (name, line, kind)."},
        {"statistics", &program_view<&program_statistics>,
         "Sizes and times: columns, rows, nonzeros, integer_columns, folded_bounds, compile_seconds, "
         "instantiation_seconds."},
    };
    program
        .def(
            "csc",
            [](const Program& p) {
                CscMatrix c = p.csc();
                return py::make_tuple(owned(std::move(c.starts)), owned(std::move(c.rows)), owned(std::move(c.values)));
            },
            host::signed_doc("csc", "self", "The matrix column by column: (starts, row_indices, values).").c_str())
        .def(
            "coo",
            [](const Program& p) {
                std::vector<int32_t> rows(p.nonzeros());
                for (uint32_t i = 0; i < p.rows(); ++i)
                    std::fill(rows.begin() + p.row_starts[i], rows.begin() + p.row_starts[i + 1],
                              static_cast<int32_t>(i));
                return py::make_tuple(owned(std::move(rows)), owned(p.col_indices), owned(p.values));
            },
            host::signed_doc("coo", "self", "The matrix as coordinates: (row_indices, column_indices, values).")
                .c_str());
    for (const auto& v : kViews) program.def_property_readonly(v.name, v.get, v.doc);
    program
        .def(
            "solution_values",
            [](const Program& p, py::object x) { return to_python(solution_values(p, doubles(x, p.columns(), "x"))); },
            py::arg("x"),
            host::signed_doc("solution_values", "self, x",
                             "Map a value per column to {variable or dexpr name: value}.\n\n"
                             "A scalar for a scalar variable, nested lists in index-set order for an indexed one;\n"
                             "int and boolean variables come back as rounded ints.")
                .c_str())
        .def("__repr__", [](const Program& p) { return program_repr(p); });
}

/// A view of a solve the core shapes, as a Python value.
template <Tree (Solved::*Shape)() const>
py::object result_view(const SolveResult& r) {
    return to_python((r.solved.*Shape)());
}

void define_solve_result(py::module_& m) {
    static const Property<const SolveResult&> kViews[] = {
        {"status", [](const SolveResult& r) { return self().attr("Status")(status_word(r.solved.outcome.status)); },
         "A Status member."},
        {"objective", &result_view<&Solved::objective>, "The objective value, or None when there is no solution."},
        {"values", &result_view<&Solved::values>, "Variable and dexpr name -> value ({} when there is no solution)."},
        {"statistics", [](const SolveResult& r) -> py::object { return r.statistics; },
         "Sizes, times (compile, instantiation, solve), mip_gap, best_bound (a MIP stopped before its optimum\n"
         "was proved), simplex_iterations, mip_nodes."},
        {"infeasible_constraints", &result_view<&Solved::infeasible>,
         "For an infeasible model: dicts with name, line and kind ('constraint' or 'bound') of what cannot hold "
         "together."},
        {"message", &result_view<&Solved::message>, "Why there is no solution, or None."},
        {"duals", &result_view<&Solved::duals>,
         "Constraint label -> dual (the objective's change per unit increase of the active side),\ndicts nested by "
         "the forall values (as names write them) for an indexed one; None unless\nsolved with sensitivity."},
        {"reduced_costs", &result_view<&Solved::reduced_costs>,
         "Variable name -> reduced cost, shaped as values are; None unless solved with sensitivity."},
        {"activities", &result_view<&Solved::activities>,
         "Constraint label -> the value of its linear side, shaped as duals are."},
        {"slacks", &result_view<&Solved::slacks>,
         "Constraint label -> distance of the activity from the nearer side (None: no side), shaped as duals are."},
        {"ranging", &result_view<&Solved::ranging>,
         "{'costs': per variable, 'rhs': per constraint} of dicts low, high, objective_at_low,\nobjective_at_high, "
         "entering_at_low, leaving_at_low, entering_at_high, leaving_at_high (None: no\nlimit, or no name); None "
         "unless solved with sensitivity=True."},
        {"sensitivity_basis", &result_view<&Solved::sensitivity_basis>,
         "'lp' for the program's own figures, 'fixed_integers' for those of a MIP's LP with the integer\ncolumns "
         "fixed at the solution; None without sensitivity figures."},
        {"program", [](const SolveResult& r) { return py::cast(r.solved.program); }, "The solved Program."},
    };
    py::class_<SolveResult> result(m, "SolveResult", "The outcome of solve_model.");
    for (const auto& v : kViews) result.def_property_readonly(v.name, v.get, v.doc);
    result
        .def(
            "to_dict",
            [](const SolveResult& r) {
                py::dict d = to_python(r.solved.to_dict());
                d["statistics"] = r.statistics;
                return d;
            },
            host::signed_doc("to_dict", "self",
                             "The result as JSON-ready data: status, objective, values, infeasible_constraints, "
                             "message, statistics.")
                .c_str())
        .def(
            "summary",
            [](const SolveResult& r) {
                std::string report = solution_report(*r.solved.program, r.solved.outcome);
                if (r.solved.sensitivity) report += sensitivity_report(*r.solved.program, *r.solved.sensitivity);
                return host::text(report);
            },
            host::signed_doc("summary", "self",
                             "A readable report: status, objective, the nonzero values grouped by variable with "
                             "one column per index, the dexprs.")
                .c_str())
        .def("__repr__",
             [](const SolveResult& r) { return r.solved.repr(host::str_of(to_python(r.solved.objective()))); });
}

void define_compiled_model(py::module_& m) {
    py::class_<CompiledModel, std::shared_ptr<CompiledModel>>(
        m, "CompiledModel",
        "A model compiled with its data, kept for running.\n\n"
        "Made by compile(); `program` expands it into its Program on first use and keeps it, so a model is\n"
        "compiled once and expanded once however often it is solved or written out.")
        .def_property_readonly("ok", &CompiledModel::ok, "Whether the pair compiles (warnings allowed).")
        .def_property_readonly(
            "report", [](const CompiledModel& c) { return host::text(c.source().compilation->report()); },
            "The diagnostics as SemanticError shows them: one per line as 'model:LINE:COLUMN: message', each\n"
            "followed by the offending line and a caret; empty when there are none.")
        .def(
            "report_for",
            [](const CompiledModel& c, py::object model_name, py::object data_name) {
                const Source& s = c.source();
                tarvok::compiler::FileNames names{std::string(host::Utf8(model_name).view()),
                                                  std::string(host::Utf8(data_name).view()),
                                                  s.compilation->data_origin};
                return host::text(
                    tarvok::compiler::render_for_files(s.compilation->diagnostics, s.model_text, s.data_text, names));
            },
            py::arg("model_name"), py::arg("data_name"),
            host::signed_doc("report_for", "self, model_name, data_name",
                             "The diagnostics as the check command prints them: errors, then warnings, each as\n"
                             "'NAME:LINE:COLUMN: error: message' (or warning:) with the offending line and a caret, "
                             "the\ntexts named model_name and data_name; empty when there are none.")
                .c_str())
        .def("_name_data_sources", &CompiledModel::name_data_sources, py::arg("base"), py::arg("values"),
             py::arg("files"), py::arg("rows"),
             "For the run command: data written from JSON and CSV files at byte `base` of the data text, named\n"
             "in messages by file ({name: file}) and table row ({name: {path: 'file:row'}}).")
        .def_property_readonly(
            "diagnostics",
            [](const CompiledModel& c) {
                return tarvok::compiler::records::diagnostic_records(*c.source().compilation, true);
            },
            "The diagnostic records, errors then warnings, as SemanticError.diagnostics holds them.")
        .def_property_readonly(
            "model_text", [](const CompiledModel& c) { return host::text(c.source().model_text); },
            "The model text compiled.")
        .def_property_readonly(
            "data_text", [](const CompiledModel& c) { return host::text(c.source().data_text); },
            "The data text compiled.")
        .def_property_readonly("program", &CompiledModel::program,
                               "The Program, expanded on first use and kept. Raises SemanticError with the "
                               "diagnostics when\nthe pair does not compile, or with a located message for a "
                               "fault only the data reveal.")
        .def("__repr__", [](const CompiledModel& c) {
            return std::string("<CompiledModel ") + (c.ok() ? "ok" : "with errors") + ">";
        });
}

void define_functions(py::module_& m) {
    host::def(m, "compile", "model_text, data_text",
              "Compile a model with its data for running, without building the compiled-model dict.\n\n"
              "Returns a CompiledModel whether or not the pair compiles (see its `ok` and `report`); the\n"
              "diagnostics are those TVLCompiler().compile_model gives. Raises MemoryError when memory runs out\n"
              "and KeyboardInterrupt on Ctrl-C.",
              &compile_pair, py::arg("model_text"), py::arg("data_text"));
    host::def(m, "solve_program",
              "program, *, time_limit=None, mip_gap=None, threads=None, log=False, sensitivity=False, "
              "solver='highs'",
              "Solve a Program (from instantiate() or a CompiledModel) with HiGHS and return a SolveResult.\n\n"
              "The options are those of solve_model.",
              &solve_program, py::arg("program"), py::kw_only(), py::arg("time_limit") = py::none(),
              py::arg("mip_gap") = py::none(), py::arg("threads") = py::none(), py::arg("log") = false,
              py::arg("sensitivity") = false, py::arg("solver") = "highs");
    host::def(m, "_check_solver", "solver='highs', purpose='solving a model', extra=None",
              "Import the library of a solver, or raise the ImportError that names its extra.", &check_solver,
              py::arg("solver") = "highs", py::arg("purpose") = "solving a model", py::arg("extra") = py::none());
    host::def(
        m, "instantiate", "model_text, data_text",
        "Compile a model with its data and expand it into a sparse Program.\n\n"
        "Raises SemanticError with the compiler's diagnostics, or with a located message for a fault only the\n"
        "data reveals (an index outside its set, a value too large for a float).",
        [](py::object model_text, py::object data_text) {
            return instantiate_texts(model_text, data_text, "instantiate");
        },
        py::arg("model_text"), py::arg("data_text"));
    host::def(m, "solve_model",
              "model_text, data_text, *, time_limit=None, mip_gap=None, threads=None, log=False, sensitivity=False, "
              "solver='highs'",
              "Solve a model with its data using HiGHS and return a SolveResult.\n\n"
              "time_limit in seconds, mip_gap the relative MIP gap, threads the solver's thread count; log=True sends\n"
              "the solver log to stderr. sensitivity='duals' adds the duals, reduced costs, row activities and slacks\n"
              "of an optimal solve (for a MIP: of the LP with its integer columns fixed at the solution);\n"
              "sensitivity=True (or 'ranging') adds HiGHS's ranging of costs and right-hand sides. solver='scip'\n"
              "solves with SCIP through PySCIPOpt (the 'scip' extra) instead: the same statuses, values, limits and\n"
              "gap, and the infeasible subset of SCIP's own finder; its duals where SCIP gives them (else None), no\n"
              "ranging. Raises\n"
              "SemanticError when the model does not compile, ImportError when the solver's library is missing\n"
              "(highspy: the 'solve' extra), ValueError for an unknown solver, KeyboardInterrupt on Ctrl-C (its\n"
              "`result` attribute holds the run so far: the best solution found, with the MIP's bound).",
              &solve_model, py::arg("model_text"), py::arg("data_text"), py::kw_only(),
              py::arg("time_limit") = py::none(), py::arg("mip_gap") = py::none(), py::arg("threads") = py::none(),
              py::arg("log") = false, py::arg("sensitivity") = false, py::arg("solver") = "highs");
    host::def(m, "write_model", "model_text, data_text, path",
              "Write the expanded model as a free-format .mps or an .lp file (by the path's extension).\n\n"
              "Names are made to fit the format: in .mps files white space becomes '_', in .lp files brackets\n"
              "become parentheses and other signs '_'; repeated names get '~2', '~3'. The .lp file is HiGHS's;\n"
              "it keeps the objective's label and lists, in comments at its top, the constraints that became\n"
              "bounds of one column. The file is written whole or not at all. Raises ValueError for any other\n"
              "extension and for a model that cannot hold whatever the variables are (crossing sides or bounds,\n"
              "named with their lines), and OSError when the file cannot be written (a missing folder, no\n"
              "permission, a full disk).",
              &write_model, py::arg("model_text"), py::arg("data_text"), py::arg("path"));
}

}  // namespace

PYBIND11_MODULE(solver, m, py::mod_gil_not_used()) {
    py::options options;
    options.disable_function_signatures();
    host::hold_module(m);
    m.doc() = "Runs Tarvok models: expands a model and its data into a sparse program and solves it with HiGHS.";

    m.attr("SemanticError") = host::import_sibling(m, "semantic_error").attr("SemanticError");
    define_status(m);
    ProgramClass program = define_program(m);
    define_program_views(program);
    define_solve_result(m);
    define_compiled_model(m);
    define_functions(m);
    // The names solver= takes, the default first, for the command's --solver.
    py::tuple solvers(std::size(kSolvers));
    for (size_t k = 0; k < std::size(kSolvers); ++k) solvers[k] = kSolvers[k].name;
    m.attr("_SOLVERS") = solvers;
}
