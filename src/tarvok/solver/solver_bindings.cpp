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
#include "solver/outcome.hpp"
#include "solver/program.hpp"
#include "solver/sensitivity.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
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

// ------------------------------------------------------------- Program

py::dict culprit_dict(const Culprit& c) {
    py::dict d;
    d["name"] = host::text(c.name);
    d["line"] = c.line;
    d["kind"] = c.kind == Culprit::Kind::Bound ? "bound" : "constraint";
    return d;
}

py::list culprit_list(const std::vector<Culprit>& culprits) {
    py::list out;
    for (const Culprit& c : culprits) out.append(culprit_dict(c));
    return out;
}

py::object number(double v, bool integer) {
    v = reported_value(v, integer);
    if (integer && std::fabs(v) < 9e15) return py::int_(static_cast<long long>(v));
    return py::float_(v);
}

/// Nested lists over the dimensions, last dimension innermost.
py::object nested(const VariableBlock& b, const double* x, size_t level, uint64_t& next) {
    if (level == b.dims.size()) return number(x[next++], b.integer);
    uint64_t n = b.dims[level]->size();
    py::list out(n);
    for (uint64_t i = 0; i < n; ++i) out[i] = nested(b, x, level + 1, next);
    return out;
}

/// Variable and dexpr name -> value, in the shape of the compiler's data.
py::dict values_dict(const Program& p, const std::vector<double>& x) {
    py::dict out;
    for (const VariableBlock& b : p.variables) {
        uint64_t next = 0;
        out[host::text(b.name)] = nested(b, x.data() + b.first, 0, next);
    }
    for (const DecisionExpression& d : p.dexprs) out[host::text(d.name)] = number(d.form.value(x.data()), d.integer);
    return out;
}

py::dict program_statistics(const Program& p) {
    py::dict s;
    s["columns"] = p.columns();
    s["rows"] = p.rows();
    s["nonzeros"] = p.nonzeros();
    s["integer_columns"] = p.integer_columns();
    s["folded_bounds"] = p.folded_bounds;
    s["compile_seconds"] = p.compile_seconds;
    s["instantiation_seconds"] = p.instantiate_seconds;
    return s;
}

/// The compiler's size limit, as its module's MAX_SIZE stands now.
tarvok::compiler::SizeLimits size_limits() {
    // tarvok_core's own reading of its setting, so that both modules refuse alike.
    py::tuple limits = py::module_::import("tarvok.tarvok_core").attr("_size_limits")();
    auto limit = [&](size_t k) { return limits[k].is_none() ? UINT64_MAX : limits[k].cast<uint64_t>(); };
    return {limit(0), limit(1), limit(2)};
}

std::shared_ptr<Program> instantiate_texts(py::object model_text, py::object data_text, const char* function) {
    host::require(model_text, function, "model_text", host::Kind::Str);
    host::WrittenData written = host::written_data_of(model_text, data_text, function);
    data_text = written.text;
    std::string model(host::Utf8(model_text).view());
    std::string data(host::Utf8(data_text).view());
    std::unique_ptr<Program> program;
    std::string failure;
    tarvok::compiler::SizeLimits sizes = size_limits();
    // The C++ runtime allocates its exception state on first use; were that
    // first use a failed allocation, the process would abort.
    static thread_local volatile int touched = 0;
    touched = std::uncaught_exceptions();
    try {
        host::interruptible([&](tarvok::Interrupt* interrupt) {
            InstantiateOptions options;
            options.compile.interrupt = interrupt;
            options.compile.sizes = sizes;
            options.compile.data_origin = written.origin;
            try {
                program = instantiate(std::move(model), std::move(data), options);
            } catch (const ModelError& e) {
                failure = e.report();
            }
            return 0;
        });
    } catch (const std::bad_alloc&) {
        host::raise(PyExc_MemoryError, "not enough memory to expand the model into a program");
    }
    if (!program) raise_semantic_error(failure);
    return std::shared_ptr<Program>(std::move(program));
}

/// The program `instantiate` (as the module has it now) returns.
std::shared_ptr<Program> program_from(py::object model_text, py::object data_text) {
    py::object program = self().attr("instantiate")(model_text, data_text);
    return program.cast<std::shared_ptr<Program>>();
}

// ------------------------------------------------------------ solving

/// A non-negative number option (positive when `positive`); NaN for None.
double number_option(py::handle value, const char* function, const char* name, bool positive) {
    if (value.is_none()) return std::nan("");
    if (!(host::is_exact(value, host::Kind::Float) || host::is_exact(value, host::Kind::Int)))
        throw py::type_error(std::string(function) + "() argument '" + name + "' must be float, int or None, not " +
                             host::type_name(value));
    double v = value.cast<double>();
    if (std::isnan(v) || v < 0 || (positive && v == 0))
        host::raise(PyExc_ValueError, std::string(function) + "() argument '" + name + "' must be " +
                                          (positive ? "greater than 0" : "at least 0") + ", not " +
                                          host::str_of(value));
    return v;
}

/// A figure as JSON carries it: None for no limit.
py::object figure(double v) { return std::isfinite(v) ? py::object(py::float_(v)) : py::object(py::none()); }

/// {constraint label: figure, or dicts nested by the forall values}, in model order.
template <typename Pick>
py::dict per_constraint(const Program& p, const Sensitivity& s, Pick pick) {
    std::vector<const RowFigures*> order;
    for (const RowFigures& r : s.rows) order.push_back(&r);
    std::stable_sort(order.begin(), order.end(),
                     [](const RowFigures* a, const RowFigures* b) { return a->constraint < b->constraint; });
    py::dict out;
    for (const RowFigures* r : order) {
        py::str label = host::text(p.constraint_base_name(r->constraint));
        if (r->keys.empty()) {
            out[label] = pick(*r);
            continue;
        }
        if (!out.contains(label)) out[label] = py::dict();
        py::dict level = out[label];
        for (size_t k = 0; k + 1 < r->keys.size(); ++k) {
            py::str key = host::text(r->keys[k]);
            if (!level.contains(key)) level[key] = py::dict();
            level = level[key];
        }
        level[host::text(r->keys.back())] = pick(*r);
    }
    return out;
}

/// {variable: figure, or lists nested over its dimensions}, as values are.
template <typename Pick>
py::dict per_variable(const Program& p, const Sensitivity& s, Pick pick) {
    py::dict out;
    for (const VariableBlock& b : p.variables) {
        std::function<py::object(size_t, uint64_t&)> nest = [&](size_t level, uint64_t& next) -> py::object {
            if (level == b.dims.size()) return pick(s.columns[b.first + next++]);
            uint64_t n = b.dims[level]->size();
            py::list items(n);
            for (uint64_t i = 0; i < n; ++i) items[i] = nest(level + 1, next);
            return items;
        };
        uint64_t next = 0;
        out[host::text(b.name)] = nest(0, next);
    }
    return out;
}

py::object name_or_none(const std::string& name) {
    return name.empty() ? py::object(py::none()) : py::object(host::text(name));
}

py::object range_dict(const std::optional<Range>& r) {
    if (!r) return py::none();
    py::dict d;
    d["low"] = figure(r->low);
    d["high"] = figure(r->high);
    d["objective_at_low"] = figure(r->objective_at_low);
    d["objective_at_high"] = figure(r->objective_at_high);
    d["entering_at_low"] = name_or_none(r->entering_at_low);
    d["leaving_at_low"] = name_or_none(r->leaving_at_low);
    d["entering_at_high"] = name_or_none(r->entering_at_high);
    d["leaving_at_high"] = name_or_none(r->leaving_at_high);
    return d;
}

struct SolveResult {
    std::shared_ptr<Program> program;
    Outcome outcome;
    py::dict statistics;
    std::optional<Sensitivity> sensitivity;

    py::object duals() const {
        if (!sensitivity) return py::none();
        return per_constraint(*program, *sensitivity, [](const RowFigures& r) { return figure(r.dual); });
    }
    py::object activities() const {
        if (!sensitivity) return py::none();
        return per_constraint(*program, *sensitivity, [](const RowFigures& r) { return figure(r.activity); });
    }
    py::object slacks() const {
        if (!sensitivity) return py::none();
        return per_constraint(*program, *sensitivity, [](const RowFigures& r) { return figure(r.slack); });
    }
    py::object reduced_costs() const {
        if (!sensitivity) return py::none();
        return per_variable(*program, *sensitivity, [](const ColumnFigures& c) { return figure(c.reduced_cost); });
    }
    py::object ranging() const {
        if (!sensitivity || !sensitivity->has_ranging) return py::none();
        py::dict d;
        d["costs"] = per_variable(*program, *sensitivity, [](const ColumnFigures& c) { return range_dict(c.cost); });
        d["rhs"] = per_constraint(*program, *sensitivity, [](const RowFigures& r) { return range_dict(r.rhs); });
        return d;
    }
    py::object sensitivity_basis() const {
        if (!sensitivity) return py::none();
        return py::str(sensitivity->fixed_integers ? "fixed_integers" : "lp");
    }

    py::object status() const { return self().attr("Status")(status_word(outcome.status)); }
    py::object objective() const {
        return outcome.has_solution ? py::object(py::float_(reported_value(outcome.objective, false))) : py::none();
    }
    py::dict values() const { return outcome.has_solution ? values_dict(*program, outcome.x) : py::dict(); }
    py::list infeasible() const { return culprit_list(outcome.culprits); }
    py::object message() const {
        return outcome.message.empty() ? py::none() : py::object(host::text(outcome.message));
    }

    py::dict to_dict() const {
        py::dict d;
        d["status"] = status_word(outcome.status);
        d["objective"] = objective();
        d["values"] = values();
        d["infeasible_constraints"] = infeasible();
        d["message"] = message();
        d["statistics"] = statistics;
        if (sensitivity) {
            d["sensitivity_basis"] = sensitivity_basis();
            d["duals"] = duals();
            d["reduced_costs"] = reduced_costs();
            d["activities"] = activities();
            d["slacks"] = slacks();
            d["ranging"] = ranging();
        }
        return d;
    }
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

/// The solvers' names as messages list them: 'highs' or 'scip'.
std::string solver_choices() {
    std::string out;
    size_t n = std::size(kSolvers);
    for (size_t k = 0; k < n; ++k)
        out += std::string(k == 0 ? "" : k + 1 == n ? " or " : ", ") + "'" + kSolvers[k].name + "'";
    return out;
}

const bind::SolverEntry& solver_entry(py::handle value, const char* function) {
    if (!host::is_exact(value, host::Kind::Str))
        throw py::type_error(std::string(function) + "() argument 'solver' must be str, not " + host::type_name(value));
    std::string name = host::str_of(value);
    for (const bind::SolverEntry& entry : kSolvers)
        if (name == entry.name) return entry;
    host::raise(PyExc_ValueError, std::string(function) + "() argument 'solver' must be " + solver_choices() +
                                      ", not " + host::str_of(py::repr(value)));
}

/// The library of a solver, imported, or an ImportError saying what needed
/// it (`purpose`) and which extra installs it (its own unless `extra` names
/// one). The one availability check of the package: the evaluation and the
/// execution check call it through the module.
py::object check_solver(py::object solver, py::object purpose, py::object extra) {
    const bind::SolverEntry& entry = solver_entry(solver, "_check_solver");
    std::string why = host::str_of(purpose);
    std::string from = extra.is_none() ? std::string(entry.extra) : host::str_of(extra);
    return host::import_extra(entry.library, why.c_str(), from.c_str());
}

/// The options of one solve, checked; `function` names the caller in errors.
struct SolveOptions {
    SolveSettings settings;
    const bind::SolverEntry* solver = &kSolvers[0];
};

int sensitivity_option(py::handle value, const char* function) {
    if (host::is_exact(value, host::Kind::Bool)) return host::truthy(value) ? 2 : 0;
    if (host::is_exact(value, host::Kind::Str)) {
        std::string word = host::str_of(value);
        if (word == "duals") return 1;
        if (word == "ranging") return 2;
        host::raise(PyExc_ValueError, std::string(function) +
                                          "() argument 'sensitivity' must be True, False, 'duals' or 'ranging', not " +
                                          host::str_of(py::repr(value)));
    }
    throw py::type_error(std::string(function) + "() argument 'sensitivity' must be bool or str, not " +
                         host::type_name(value));
}

std::optional<int> threads_option(py::handle threads, const char* function) {
    host::require(threads, function, "threads", host::Kind::Int, true);
    if (threads.is_none()) return std::nullopt;
    long long n = threads.cast<long long>();
    if (n < 1)
        host::raise(PyExc_ValueError,
                    std::string(function) + "() argument 'threads' must be at least 1, not " + host::str_of(threads));
    return static_cast<int>(std::min<long long>(n, 1 << 16));
}

SolveOptions solve_options(const char* function, py::object time_limit, py::object mip_gap, py::object threads,
                           py::object log, py::object sensitivity, py::object solver) {
    SolveOptions options;
    SolveSettings& s = options.settings;
    s.sensitivity = sensitivity_option(sensitivity, function);
    s.time_limit = number_option(time_limit, function, "time_limit", true);
    s.mip_gap = number_option(mip_gap, function, "mip_gap", false);
    s.threads = threads_option(threads, function);
    host::require(log, function, "log", host::Kind::Bool);
    s.log = host::truthy(log);
    options.solver = &solver_entry(solver, function);
    if (s.sensitivity >= 2 && options.solver != &kSolvers[0])
        host::raise(PyExc_ValueError, std::string(function) + "() argument 'sensitivity': ranging needs solver='" +
                                          kSolvers[0].name + "'; with solver='" + options.solver->name +
                                          "' ask for sensitivity='duals'");
    return options;
}

py::object count(const std::optional<int64_t>& n) { return n ? py::object(py::int_(*n)) : py::object(py::none()); }

py::dict solve_statistics(const Program& p, const SolveReport& r) {
    py::dict s = program_statistics(p);
    s["solve_seconds"] = r.solve_seconds;
    s["mip_gap"] = r.mip_gap ? py::object(py::float_(*r.mip_gap)) : py::object(py::none());
    if (!r.used_solver) return s;
    s["threads"] = count(r.counts.threads);
    if (std::isfinite(r.outcome.best_bound)) s["best_bound"] = r.outcome.best_bound;
    s["simplex_iterations"] = count(r.counts.simplex_iterations);
    s["mip_nodes"] = p.integer_columns() > 0 ? count(r.counts.mip_nodes) : py::none();
    return s;
}

/// Solves through the chosen back-end under the core's strategy. On Ctrl-C
/// the run so far rides on the exception, for a caller that shows it.
py::object solve(std::shared_ptr<Program> program, const SolveOptions& options) {
    SolveResult result;
    result.program = std::move(program);
    const Program& p = *result.program;
    SolveReport report;
    std::unique_ptr<bind::HostBackend> backend;
    if (std::optional<Outcome> settled = settle_without_solver(p)) {
        report.outcome = std::move(*settled);
    } else {
        const bind::SolverEntry& entry = *options.solver;
        py::object library = self().attr("_check_solver")(entry.name, "solving a model", py::none());
        backend = entry.make(py::reinterpret_borrow<py::module_>(library), py::cast(result.program));
        report = solve_with(p, *backend, options.settings);
    }
    result.statistics = solve_statistics(p, report);
    result.outcome = std::move(report.outcome);
    result.sensitivity = std::move(report.sensitivity);
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
    SolveOptions options = solve_options("solve_model", time_limit, mip_gap, threads, log, sensitivity, solver);
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
            std::unique_ptr<Program> program;
            try {
                host::interruptible([&](tarvok::Interrupt* interrupt) {
                    InstantiateOptions options;
                    options.compile.interrupt = interrupt;
                    options.compile.sizes = sizes_;  // the limit it was compiled within
                    try {
                        program = instantiate(std::shared_ptr<const Source>(source_), options);
                    } catch (const ModelError& e) {
                        failure_ = e.report();
                    }
                    return 0;
                });
            } catch (const std::bad_alloc&) {
                host::raise(PyExc_MemoryError, "not enough memory to expand the model into a program");
            }
            program_ = std::move(program);
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
    // The C++ runtime allocates its exception state on first use; were that
    // first use a failed allocation, the process would abort.
    static thread_local volatile int touched = 0;
    touched = std::uncaught_exceptions();
    try {
        std::shared_ptr<Source> source = host::interruptible([&](tarvok::Interrupt* interrupt) {
            tarvok::compiler::CompileOptions options;
            options.interrupt = interrupt;
            options.sizes = sizes;
            options.data_origin = written.origin;
            return compile_source(std::move(model), std::move(data), options);
        });
        return std::make_shared<CompiledModel>(std::move(source), sizes);
    } catch (const std::bad_alloc&) {
        host::raise(PyExc_MemoryError,
                    "not enough memory to compile the model and data (" + std::to_string(kilobytes) + " KB of text)");
    }
}

void write_model(py::object model_text, py::object data_text, py::object path) {
    py::object fspath = py::module_::import("os").attr("fspath")(path);
    if (!PyUnicode_Check(fspath.ptr()))
        throw py::type_error("write_model() argument 'path' must be a str or os.PathLike path to text, not " +
                             host::type_name(path));
    std::string file = host::str_of(fspath);
    std::string lower;
    for (char ch : file) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    auto ends = [&](const std::string& suffix) {
        return lower.size() >= suffix.size() && lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    NameFormat format = NameFormat::Mps;
    if (ends(".lp"))
        format = NameFormat::Lp;
    else if (!ends(".mps"))
        host::raise(PyExc_ValueError, "write_model() writes .mps or .lp files; '" + file + "' has neither extension");

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
        if (!bind::write_lp_with_highs(*program, py::cast(program), columns, rows, host::host_path(out.path()))) {
            errno = EIO;
            PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, fspath.ptr());
            throw py::error_already_set();
        }
        // HiGHS names no objective and knows nothing of folded rows; the .lp file gets both afterwards.
        if (!label_lp_file(out.path(), lp_labels(*program, columns))) {
            errno = EIO;
            PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, fspath.ptr());
            throw py::error_already_set();
        }
        out.commit("end\n");
    } catch (const tarvok::files::FileError& e) {
        errno = e.error_number();
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, fspath.ptr());
        throw py::error_already_set();
    }
}

// ------------------------------------------------------------ the face

py::list variable_list(const Program& p) {
    py::list out;
    for (const VariableBlock& b : p.variables) {
        py::dict d;
        d["name"] = host::text(b.name);
        d["first_column"] = b.first;
        py::tuple shape(b.dims.size());
        for (size_t k = 0; k < b.dims.size(); ++k) shape[k] = b.dims[k]->size();
        d["shape"] = shape;
        d["integer"] = b.integer;
        d["line"] = b.at.line;
        out.append(d);
    }
    return out;
}

py::list dexpr_list(const Program& p) {
    py::list out;
    for (const DecisionExpression& x : p.dexprs) {
        py::dict d;
        d["name"] = host::text(x.name);
        py::list columns, coefficients;
        for (size_t k = 0; k < x.form.columns.size(); ++k) {
            columns.append(x.form.columns[k]);
            coefficients.append(x.form.coefficients[k]);
        }
        d["columns"] = columns;
        d["coefficients"] = coefficients;
        d["constant"] = x.form.constant;
        d["line"] = x.at.line;
        out.append(d);
    }
    return out;
}

template <typename F>
py::list names(uint32_t count, F name) {
    py::list out(count);
    for (uint32_t i = 0; i < count; ++i) out[i] = host::text(name(i));
    return out;
}

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

/// Program: its sizes and arrays.
ProgramClass define_program(py::module_& m) {
    return ProgramClass(
               m, "Program",
               "A model expanded into a sparse linear or mixed-integer program.\n\n"
               "Columns are the elements of the decision variables, in declaration order and row by row over each\n"
               "variable's index sets; rows are the constraint instances. Arrays are read-only numpy views.\n"
               "Names: 'ship[Aalborg][Copenhagen]' for a column, 'label[index values]' for a row; an unlabelled\n"
               "constraint is named c<line> (c<line>_<column> when several start on one line).")
        .def_property_readonly(
            "sense", [](const Program& p) { return p.sense == Sense::Maximize ? "maximize" : "minimize"; },
            "\"minimize\" or \"maximize\".")
        .def_property_readonly(
            "objective_offset", [](const Program& p) { return p.offset; }, "The constant term of the objective.")
        .def_property_readonly("num_columns", &Program::columns, "Number of columns (variable elements).")
        .def_property_readonly("num_rows", &Program::rows, "Number of rows (constraint instances).")
        .def_property_readonly("num_nonzeros", &Program::nonzeros, "Number of nonzero coefficients.")
        .def_property_readonly(
            "cost", [](py::object s) { return view(s.cast<const Program&>().cost, s); },
            "Objective coefficient per column (float64).")
        .def_property_readonly(
            "column_lower", [](py::object s) { return view(s.cast<const Program&>().col_lower, s); },
            "Lower bound per column; -inf when there is none.")
        .def_property_readonly(
            "column_upper", [](py::object s) { return view(s.cast<const Program&>().col_upper, s); },
            "Upper bound per column; inf when there is none.")
        .def_property_readonly(
            "integrality", [](py::object s) { return view(s.cast<const Program&>().integrality, s); },
            "1 for integer (int and boolean) columns, 0 for continuous ones (uint8).")
        .def_property_readonly(
            "row_lower", [](py::object s) { return view(s.cast<const Program&>().row_lower, s); },
            "Lower side per row; -inf when there is none.")
        .def_property_readonly(
            "row_upper", [](py::object s) { return view(s.cast<const Program&>().row_upper, s); },
            "Upper side per row; inf when there is none (equal sides: an equation).")
        .def_property_readonly(
            "row_starts", [](py::object s) { return view(s.cast<const Program&>().row_starts, s); },
            "CSR: row i holds column_indices/values[row_starts[i]:row_starts[i+1]] (int32).")
        .def_property_readonly(
            "column_indices", [](py::object s) { return view(s.cast<const Program&>().col_indices, s); },
            "CSR column index of each nonzero (int32).")
        .def_property_readonly(
            "values", [](py::object s) { return view(s.cast<const Program&>().values, s); },
            "CSR value of each nonzero (float64).");
}

/// Program: its matrix forms, names and what a solution means for it.
void define_program_views(ProgramClass& program) {
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
                .c_str())
        .def_property_readonly(
            "column_names",
            [](const Program& p) { return names(p.columns(), [&](uint32_t j) { return p.column_name(j); }); },
            "Name of each column, e.g. 'ship[Aalborg][Copenhagen]'.")
        .def_property_readonly(
            "column_keys",
            [](const Program& p) {
                py::list out(p.columns());
                for (uint32_t j = 0; j < p.columns(); ++j) {
                    std::vector<std::string> keys = p.column_keys(j);
                    py::tuple t(keys.size());
                    for (size_t k = 0; k < keys.size(); ++k) t[k] = host::text(keys[k]);
                    out[j] = std::move(t);
                }
                return out;
            },
            "The index keys of each column, a tuple with one text per dimension of its variable, e.g.\n"
            "('Aalborg', 'Copenhagen'); () for a scalar variable.")
        .def_property_readonly(
            "row_names", [](const Program& p) { return names(p.rows(), [&](uint32_t i) { return p.row_name(i); }); },
            "Name of each row, e.g. 'plantCapacity[Aalborg]'.")
        .def_property_readonly(
            "row_lines",
            [](const Program& p) {
                py::list out(p.rows());
                for (uint32_t i = 0; i < p.rows(); ++i) out[i] = p.row_line(i);
                return out;
            },
            "The model line each row's constraint starts on.")
        .def_property_readonly("variables", &variable_list,
                               "One dict per decision variable: name, first_column, shape, integer, line; its columns "
                               "are first_column onwards, row by row over shape.")
        .def_property_readonly("dexprs", &dexpr_list,
                               "One dict per dexpr: name, columns, coefficients, constant, line (its linear form).")
        .def_property_readonly(
            "conflicts", [](const Program& p) { return culprit_list(p.conflicts); },
            "Constraints and bounds that cannot hold whatever the variables are (name, line, kind).")
        .def_property_readonly("statistics", &program_statistics,
                               "Sizes and times: columns, rows, nonzeros, integer_columns, folded_bounds, "
                               "compile_seconds, instantiation_seconds.")
        .def(
            "solution_values",
            [](const Program& p, py::object x) { return values_dict(p, doubles(x, p.columns(), "x")); }, py::arg("x"),
            host::signed_doc("solution_values", "self, x",
                             "Map a value per column to {variable or dexpr name: value}.\n\n"
                             "A scalar for a scalar variable, nested lists in index-set order for an indexed one;\n"
                             "int and boolean variables come back as rounded ints.")
                .c_str())
        .def("__repr__", [](const Program& p) {
            return "<Program " + std::to_string(p.columns()) + " columns (" + std::to_string(p.integer_columns()) +
                   " integer), " + std::to_string(p.rows()) + " rows, " + std::to_string(p.nonzeros()) + " nonzeros, " +
                   (p.sense == Sense::Maximize ? "maximize" : "minimize") + ">";
        });
}

void define_solve_result(py::module_& m) {
    py::class_<SolveResult>(m, "SolveResult", "The outcome of solve_model.")
        .def_property_readonly("status", &SolveResult::status, "A Status member.")
        .def_property_readonly("objective", &SolveResult::objective,
                               "The objective value, or None when there is no solution.")
        .def_property_readonly("values", &SolveResult::values,
                               "Variable and dexpr name -> value ({} when there is no solution).")
        .def_property_readonly(
            "statistics", [](const SolveResult& r) { return r.statistics; },
            "Sizes, times (compile, instantiation, solve), mip_gap, best_bound (a MIP stopped before its optimum\n"
            "was proved), simplex_iterations, mip_nodes.")
        .def_property_readonly("infeasible_constraints", &SolveResult::infeasible,
                               "For an infeasible model: dicts with name, line and kind ('constraint' or 'bound') "
                               "of what cannot hold together.")
        .def_property_readonly("message", &SolveResult::message, "Why there is no solution, or None.")
        .def_property_readonly("duals", &SolveResult::duals,
                               "Constraint label -> dual (the objective's change per unit increase of the active "
                               "side),\ndicts nested by the forall values (as names write them) for an indexed one; "
                               "None unless\nsolved with sensitivity.")
        .def_property_readonly("reduced_costs", &SolveResult::reduced_costs,
                               "Variable name -> reduced cost, shaped as values are; None unless solved with "
                               "sensitivity.")
        .def_property_readonly("activities", &SolveResult::activities,
                               "Constraint label -> the value of its linear side, shaped as duals are.")
        .def_property_readonly("slacks", &SolveResult::slacks,
                               "Constraint label -> distance of the activity from the nearer side (None: no side), "
                               "shaped as duals are.")
        .def_property_readonly("ranging", &SolveResult::ranging,
                               "{'costs': per variable, 'rhs': per constraint} of dicts low, high, objective_at_low,\n"
                               "objective_at_high, entering_at_low, leaving_at_low, entering_at_high, "
                               "leaving_at_high (None: no\nlimit, or no name); None unless solved with "
                               "sensitivity=True.")
        .def_property_readonly("sensitivity_basis", &SolveResult::sensitivity_basis,
                               "'lp' for the program's own figures, 'fixed_integers' for those of a MIP's LP with "
                               "the integer\ncolumns fixed at the solution; None without sensitivity figures.")
        .def_property_readonly(
            "program", [](const SolveResult& r) { return r.program; }, "The solved Program.")
        .def("to_dict", &SolveResult::to_dict,
             host::signed_doc("to_dict", "self",
                              "The result as JSON-ready data: status, objective, values, infeasible_constraints, "
                              "message, statistics.")
                 .c_str())
        .def(
            "summary",
            [](const SolveResult& r) {
                std::string report = solution_report(*r.program, r.outcome);
                if (r.sensitivity) report += sensitivity_report(*r.program, *r.sensitivity);
                return host::text(report);
            },
            host::signed_doc("summary", "self",
                             "A readable report: status, objective, the nonzero values grouped by variable with "
                             "one column per index, the dexprs.")
                .c_str())
        .def("__repr__", [](const SolveResult& r) {
            std::string s = std::string("<SolveResult ") + status_word(r.outcome.status);
            if (r.outcome.has_solution) s += " objective=" + host::str_of(r.objective());
            return s + ">";
        });
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
