// tarvok.solver: runs Tarvok models. Compiles and expands a model into a
// sparse program (the core), hands the arrays to HiGHS through highspy, and
// reports the outcome as Python values. highspy and numpy are imported on
// first use, so that the module itself needs neither.
#include "compiler/diagnostic_records.hpp"
#include "host/arrays.hpp"
#include "host/data_values.hpp"
#include "host/host.hpp"
#include "solver/lp_labels.hpp"
#include "solver/mps.hpp"
#include "solver/outcome.hpp"
#include "solver/program.hpp"
#include "solver/sensitivity.hpp"

#include <pybind11/numpy.h>

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

namespace {

/// This module, for looking up its functions and classes at call time.
py::module_ self() { return host::this_module(); }

[[noreturn]] void raise_semantic_error(const std::string& report) {
    py::object cls = self().attr("SemanticError");
    PyErr_SetObject(cls.ptr(), cls(host::text(report)).ptr());
    throw py::error_already_set();
}

/// Imports a library of the 'solve' extra, or says how to get it.
py::module_ import_extra(const char* name, const char* purpose) { return host::import_extra(name, purpose, "solve"); }

// ------------------------------------------------------------- Program

/// A read-only array over memory that `owner` keeps alive.
template <typename T>
py::array view(const std::vector<T>& data, py::handle owner) {
    import_extra("numpy", "the arrays of a Program");
    py::array_t<T> a({static_cast<py::ssize_t>(data.size())}, {static_cast<py::ssize_t>(sizeof(T))}, data.data(),
                     owner);
    a.attr("flags").attr("writeable") = false;
    return a;
}

template <typename T>
py::array owned(std::vector<T> data) {
    import_extra("numpy", "the arrays of a Program");
    return host::owned_array(std::move(data));
}

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

// -------------------------------------------------------------- HiGHS

/// A HiGHS instance holding the program. The plain binding class prints no
/// banner on stdout; older highspy releases have only `Highs`.
/// `relaxed` drops integrality; `feasibility` drops the objective, so that
/// any feasible point is optimal.
py::object highs_with(const Program& p, py::module_& highspy, py::handle owner, bool relaxed = false,
                      bool feasibility = false) {
    py::object h = py::hasattr(highspy, "_Highs") ? highspy.attr("_Highs")() : highspy.attr("Highs")();
    h.attr("setOptionValue")("output_flag", false);
    py::object status = h.attr("passModel")(
        p.columns(), p.rows(), p.nonzeros(), 2 /* row-wise */, static_cast<int>(p.sense), p.offset,
        feasibility ? owned(std::vector<double>(p.columns(), 0.0)) : view(p.cost, owner), view(p.col_lower, owner),
        view(p.col_upper, owner), view(p.row_lower, owner), view(p.row_upper, owner), view(p.row_starts, owner),
        view(p.col_indices, owner), view(p.values, owner),
        owned(relaxed ? std::vector<int32_t>(p.columns(), 0)
                      : std::vector<int32_t>(p.integrality.begin(), p.integrality.end())));
    if (host::str_of(status.attr("name")) == "kError")
        host::raise(PyExc_RuntimeError, "HiGHS refused the program (" + std::to_string(p.columns()) + " columns, " +
                                            std::to_string(p.rows()) + " rows)");
    return h;
}

/// What HiGHS calls back for while it runs: its log lines, sent to
/// sys.stderr (looked up per line) when asked for, and its interrupt checks,
/// where Ctrl-C stops the run. Signal handlers run on the main thread only, so
/// other threads' runs are not watched. HiGHS takes one callback function; it
/// serves both.
class RunHooks {
  public:
    RunHooks(py::object& h, py::module_& highspy, bool log) : state_(std::make_shared<State>()) {
        py::object types = highspy.attr("cb").attr("HighsCallbackType");
        py::object threading = py::module_::import("threading");
        bool watch = threading.attr("current_thread")().is(threading.attr("main_thread")());
        if (!log && !watch) return;
        std::shared_ptr<State> state = state_;
        state->logging = py::int_(types.attr("kCallbackLogging")).cast<int>();
        py::cpp_function hook([state](py::handle type, py::handle message, py::handle, py::handle in, py::handle) {
            try {
                if (py::int_(py::reinterpret_borrow<py::object>(type)).cast<int>() == state->logging) {
                    py::module_::import("sys").attr("stderr").attr("write")(message);
                    return;
                }
                if (!state->raised && PyErr_CheckSignals() != 0)
                    state->raised = std::make_unique<py::error_already_set>();
                if (state->raised && !in.is_none()) in.attr("user_interrupt") = true;
            } catch (const py::error_already_set&) {
                // Nothing may unwind into HiGHS; a log line that cannot be written is lost.
            }
        });
        h.attr("setCallback")(hook, py::none());
        if (log) {
            h.attr("setOptionValue")("output_flag", true);
            h.attr("setOptionValue")("log_to_console", false);
            h.attr("startCallback")(types.attr("kCallbackLogging"));
        }
        if (watch) {
            for (const char* check : {"kCallbackSimplexInterrupt", "kCallbackIpmInterrupt", "kCallbackMipInterrupt"})
                if (py::hasattr(types, check)) h.attr("startCallback")(types.attr(check));
        }
    }

    /// Runs HiGHS (which releases the GIL itself); raises what Ctrl-C raised
    /// once HiGHS has stopped.
    void run(py::object& h) {
        h.attr("run")();
        if (state_->raised) throw py::error_already_set(std::move(*state_->raised));
    }

  private:
    struct State {
        int logging = -1;
        std::unique_ptr<py::error_already_set> raised;
    };
    std::shared_ptr<State> state_;
};

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

/// HiGHS keeps one worker pool per calling thread, sized by that thread's
/// first run; a later run on the same thread that asks for another size
/// fails. The pool belongs to this thread alone and no run of it is going on
/// here, so it may be replaced by one of the size asked for.
class PoolUse {
  public:
    PoolUse(py::object& h, py::handle threads) {
        thread_local long long size = 0;  // 0: none made yet, or HiGHS chose
        if (threads.is_none()) {
            h.attr("setOptionValue")("threads", 0);  // whatever this thread's pool has
        } else {
            long long wanted = threads.cast<long long>();
            if (wanted != size && py::hasattr(h, "resetGlobalScheduler")) h.attr("resetGlobalScheduler")(true);
            size = wanted;
            h.attr("setOptionValue")("threads", wanted);
        }
        size_ = size;
    }

    /// The pool size this run was given, or None when HiGHS chose it.
    py::object size() const { return size_ > 0 ? py::object(py::int_(size_)) : py::none(); }

  private:
    long long size_ = 0;
};

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

std::vector<uint32_t> indices(py::handle sequence) {
    std::vector<uint32_t> out;
    for (py::handle item : sequence) out.push_back(item.cast<uint32_t>());
    return out;
}

/// Names of the rows and bounds in the irreducible infeasible subset HiGHS
/// computes, if it can.
std::vector<Culprit> infeasible_subset(const Program& p, py::object& h, py::module_& highspy) {
    try {
        if (py::hasattr(highspy, "IisStrategy")) {
            py::object strategy = highspy.attr("IisStrategy");
            int from_lp_irreducible = py::int_(strategy.attr("kIisStrategyFromLp")).cast<int>() |
                                      py::int_(strategy.attr("kIisStrategyIrreducible")).cast<int>();
            h.attr("setOptionValue")("iis_strategy", from_lp_irreducible);
        }
        py::tuple got = h.attr("getIis")();
        py::object iis = got[1];
        if (host::str_of(got[0].attr("name")) == "kError" || !host::truthy(iis.attr("valid_"))) return {};
        std::vector<int> bound_status;
        for (py::handle s : iis.attr("col_bound_")) bound_status.push_back(s.cast<int>());
        return p.explain(indices(iis.attr("row_index_")), indices(iis.attr("col_index_")), bound_status);
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e)) throw;
        return {};  // an older highspy without subsets: the status alone is still right
    }
}

/// The options of one solve, checked; `function` names the caller in errors.
struct SolveOptions {
    double limit = std::nan("");  ///< seconds; NaN for none
    double gap = std::nan("");
    py::object threads;
    py::object log;
    /// 0 none, 1 duals, reduced costs, activities and slacks, 2 also ranging.
    int sensitivity = 0;
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

SolveOptions solve_options(const char* function, py::object time_limit, py::object mip_gap, py::object threads,
                           py::object log, py::object sensitivity) {
    SolveOptions options;
    options.sensitivity = sensitivity_option(sensitivity, function);
    options.limit = number_option(time_limit, function, "time_limit", true);
    options.gap = number_option(mip_gap, function, "mip_gap", false);
    host::require(threads, function, "threads", host::Kind::Int, true);
    if (!threads.is_none() && threads.cast<long long>() < 1)
        host::raise(PyExc_ValueError,
                    std::string(function) + "() argument 'threads' must be at least 1, not " + host::str_of(threads));
    host::require(log, function, "log", host::Kind::Bool);
    options.threads = threads;
    options.log = log;
    return options;
}

/// The first `count` numbers of a sequence (HiGHS may hand over longer ones);
/// NaN past its end.
std::vector<double> leading(py::handle sequence, size_t count) {
    std::vector<double> out(count, std::nan(""));
    size_t k = 0;
    for (py::handle item : sequence) {
        if (k == count) break;
        out[k++] = item.cast<double>();
    }
    return out;
}

/// One side of HiGHS's ranging record, per column or row.
std::vector<RangeEnd> range_ends(py::handle record, size_t count) {
    std::vector<double> value = leading(record.attr("value_"), count);
    std::vector<double> objective = leading(record.attr("objective_"), count);
    std::vector<double> entering = leading(record.attr("in_var_"), count);
    std::vector<double> leaving = leading(record.attr("ou_var_"), count);
    std::vector<RangeEnd> out(count);
    for (size_t k = 0; k < count; ++k)
        out[k] = {value[k], objective[k], std::isnan(entering[k]) ? -1 : static_cast<int64_t>(entering[k]),
                  std::isnan(leaving[k]) ? -1 : static_cast<int64_t>(leaving[k])};
    return out;
}

/// The sensitivity figures of an optimal solve: from the LP itself, or for a
/// MIP from the LP with its integer columns fixed at the solution. None when
/// HiGHS gives no dual solution.
std::optional<Sensitivity> sensitivity_of(const Program& p, py::object& solved, py::module_& highspy, py::handle owner,
                                          const Outcome& o, int level) {
    bool fixed = p.integer_columns() > 0;
    py::object h = solved;
    if (fixed) {
        h = highs_with(p, highspy, owner, true);
        std::vector<int32_t> columns;
        std::vector<double> at;
        for (uint32_t j = 0; j < p.columns(); ++j)
            if (p.integrality[j]) {
                columns.push_back(static_cast<int32_t>(j));
                at.push_back(std::nearbyint(o.x[j]));
            }
        h.attr("changeColsBounds")(columns.size(), owned(columns), owned(at), owned(at));
        RunHooks(h, highspy, false).run(h);
        if (status_from_highs(host::str_of(h.attr("getModelStatus")().attr("name"))) != Status::Optimal)
            return std::nullopt;
    }
    if (py::int_(h.attr("getInfo")().attr("dual_solution_status")).cast<int>() != 2) return std::nullopt;
    py::object solution = h.attr("getSolution")();
    SolverFigures f;
    f.row_dual = doubles(solution.attr("row_dual"), p.rows(), "the row duals");
    f.row_activity = doubles(solution.attr("row_value"), p.rows(), "the row activities");
    f.column_dual = doubles(solution.attr("col_dual"), p.columns(), "the reduced costs");
    std::vector<double> x = fixed ? doubles(solution.attr("col_value"), p.columns(), "the solution") : o.x;
    if (level >= 2) {
        py::tuple got = h.attr("getRanging")();
        py::object ranging = got[1];
        if (host::str_of(got[0].attr("name")) != "kError" && host::truthy(ranging.attr("valid"))) {
            f.has_ranging = true;
            f.cost_up = range_ends(ranging.attr("col_cost_up"), p.columns());
            f.cost_down = range_ends(ranging.attr("col_cost_dn"), p.columns());
            f.bound_up = range_ends(ranging.attr("row_bound_up"), p.rows());
            f.bound_down = range_ends(ranging.attr("row_bound_dn"), p.rows());
        }
    }
    return shape_sensitivity(p, x, f, fixed);
}

py::object solve(std::shared_ptr<Program> program, const SolveOptions& options) {
    const double limit = options.limit, gap = options.gap;
    py::object threads = options.threads, log = options.log;
    SolveResult result;
    result.program = std::move(program);
    const Program& p = *result.program;
    result.statistics = program_statistics(p);
    result.statistics["solve_seconds"] = 0.0;
    result.statistics["mip_gap"] = py::none();

    if (std::optional<Outcome> settled = settle_without_solver(p)) {
        result.outcome = std::move(*settled);
        return py::cast(std::move(result));
    }
    py::module_ highspy = import_extra("highspy", "solving a model");
    py::object owner = py::cast(result.program);
    py::object h = highs_with(p, highspy, owner);
    RunHooks hooks(h, highspy, host::truthy(log));
    if (!std::isnan(limit)) h.attr("setOptionValue")("time_limit", limit);
    if (!std::isnan(gap)) h.attr("setOptionValue")("mip_rel_gap", gap);
    PoolUse pool(h, threads);
    result.statistics["threads"] = pool.size();

    auto start = std::chrono::steady_clock::now();
    auto seconds_left = [&] {
        double used = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return std::isnan(limit) ? 1.0 : limit - used;
    };
    Outcome& o = result.outcome;
    // The best solution found so far, with the bound and gap of a MIP that
    // stopped before proving it optimal.
    auto take_solution = [&](bool stopped_early) {
        py::object info = h.attr("getInfo")();
        int primal = py::int_(info.attr("primal_solution_status")).cast<int>();
        o.has_solution = primal == 2;
        if (o.has_solution) {
            o.objective = info.attr("objective_function_value").cast<double>();
            o.x = doubles(h.attr("getSolution")().attr("col_value"), p.columns(), "the solution");
            if (p.integer_columns() > 0) result.statistics["mip_gap"] = info.attr("mip_gap");
        }
        if (stopped_early && p.integer_columns() > 0) {
            o.best_bound = info.attr("mip_dual_bound").cast<double>();
            o.gap = o.has_solution ? info.attr("mip_gap").cast<double>() : std::nan("");
            if (std::isfinite(o.best_bound)) result.statistics["best_bound"] = o.best_bound;
        }
    };
    try {
        hooks.run(h);
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_KeyboardInterrupt)) throw;
        // The run so far rides on the interrupt, for a caller that shows it.
        o.status = Status::Error;
        o.message = "Stopped by Ctrl-C.";
        take_solution(true);
        result.statistics["solve_seconds"] =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        e.value().attr("result") = py::cast(std::move(result));
        throw;
    }
    o.status = status_from_highs(host::str_of(h.attr("getModelStatus")().attr("name")));
    o.status = settle_open_status(o.status, p.integer_columns() > 0, [&](Attempt attempt) -> std::optional<Status> {
        if (seconds_left() <= 0) return std::nullopt;
        auto status_of = [](py::object& highs) {
            return status_from_highs(host::str_of(highs.attr("getModelStatus")().attr("name")));
        };
        if (attempt == Attempt::WithoutPresolve) {
            h.attr("setOptionValue")("presolve", "off");
            if (!std::isnan(limit)) h.attr("setOptionValue")("time_limit", seconds_left());
            hooks.run(h);
            return status_of(h);
        }
        bool relaxed = attempt == Attempt::Relaxation;
        py::object other = highs_with(p, highspy, owner, relaxed, !relaxed);
        if (relaxed) other.attr("setOptionValue")("presolve", "off");
        if (!std::isnan(limit)) other.attr("setOptionValue")("time_limit", seconds_left());
        RunHooks(other, highspy, false).run(other);
        Status reached = status_of(other);
        // An infeasible relaxation names the constraints that conflict.
        if (relaxed && reached == Status::Infeasible) o.culprits = infeasible_subset(p, other, highspy);
        return reached;
    });
    py::object info = h.attr("getInfo")();
    if (o.status == Status::Optimal || o.status == Status::TimeLimit) take_solution(o.status == Status::TimeLimit);
    if (o.status == Status::Infeasible && o.culprits.empty()) {
        if (p.integer_columns() == 0) {
            o.culprits = infeasible_subset(p, h, highspy);
        } else if (seconds_left() > 0) {
            // The subset of a MIP is the subset of its relaxation, when that is
            // infeasible too; HiGHS's search for one in the MIP itself may not end.
            py::object relaxation = highs_with(p, highspy, owner, true);
            relaxation.attr("setOptionValue")("presolve", "off");
            if (!std::isnan(limit)) relaxation.attr("setOptionValue")("time_limit", seconds_left());
            RunHooks(relaxation, highspy, false).run(relaxation);
            if (status_from_highs(host::str_of(relaxation.attr("getModelStatus")().attr("name"))) == Status::Infeasible)
                o.culprits = infeasible_subset(p, relaxation, highspy);
        }
    }
    switch (o.status) {
    case Status::Infeasible: o.message = "No solution satisfies all constraints."; break;
    case Status::Unbounded: o.message = "The objective can improve without limit."; break;
    case Status::InfeasibleOrUnbounded: o.message = "The model is infeasible or unbounded."; break;
    case Status::TimeLimit:
        if (!o.has_solution) o.message = "No feasible solution was found within the time limit.";
        break;
    case Status::Error:
        o.message = "HiGHS stopped without a result: " +
                    host::str_of(h.attr("modelStatusToString")(h.attr("getModelStatus")()));
        break;
    case Status::Optimal: break;
    }
    if (options.sensitivity > 0 && o.status == Status::Optimal && o.has_solution)
        result.sensitivity = sensitivity_of(p, h, highspy, owner, o, options.sensitivity);
    result.statistics["solve_seconds"] =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.statistics["simplex_iterations"] = info.attr("simplex_iteration_count");
    result.statistics["mip_nodes"] = p.integer_columns() > 0 ? py::object(info.attr("mip_node_count")) : py::none();
    return py::cast(std::move(result));
}

py::object solve_model(py::object model_text, py::object data_text, py::object time_limit, py::object mip_gap,
                       py::object threads, py::object log, py::object sensitivity) {
    host::require(model_text, "solve_model", "model_text", host::Kind::Str);
    // A mapping goes to `instantiate` as it is, which names its entries in messages.
    if (!PyUnicode_Check(data_text.ptr())) host::written_data_of(model_text, data_text, "solve_model");
    SolveOptions options = solve_options("solve_model", time_limit, mip_gap, threads, log, sensitivity);
    return solve(program_from(model_text, data_text), options);
}

py::object solve_program(py::object program, py::object time_limit, py::object mip_gap, py::object threads,
                         py::object log, py::object sensitivity) {
    std::shared_ptr<Program> p;
    try {
        p = program.cast<std::shared_ptr<Program>>();
    } catch (py::cast_error&) {
        throw py::type_error("solve_program() argument 'program' must be Program, not " + host::type_name(program));
    }
    return solve(std::move(p), solve_options("solve_program", time_limit, mip_gap, threads, log, sensitivity));
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
        py::module_ highspy = import_extra("highspy", "writing a model file");
        py::object owner = py::cast(program);
        py::object h = highs_with(*program, highspy, owner);
        std::vector<std::string> columns = program->export_column_names(format);
        std::vector<std::string> rows = program->export_row_names(format);
        py::object pass_column = h.attr("passColName"), pass_row = h.attr("passRowName");
        for (size_t j = 0; j < columns.size(); ++j) pass_column(j, host::text(columns[j]));
        for (size_t i = 0; i < rows.size(); ++i) pass_row(i, host::text(rows[i]));
        tarvok::files::FileWrittenByPath out(host::file_system_path(fspath));
        py::object status = h.attr("writeModel")(host::host_path(out.path()));
        if (host::str_of(status.attr("name")) == "kError") {
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

}  // namespace

PYBIND11_MODULE(solver, m, py::mod_gil_not_used()) {
    py::options options;
    options.disable_function_signatures();
    host::hold_module(m);
    m.doc() = "Runs Tarvok models: expands a model and its data into a sparse program and solves it with HiGHS.";
    std::string module_name = py::str(m.attr("__name__")).cast<std::string>();

    m.attr("SemanticError") = host::import_sibling(m, "semantic_error").attr("SemanticError");

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

    py::class_<Program, std::shared_ptr<Program>>(
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
            "CSR value of each nonzero (float64).")
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

    host::def(m, "compile", "model_text, data_text",
              "Compile a model with its data for running, without building the compiled-model dict.\n\n"
              "Returns a CompiledModel whether or not the pair compiles (see its `ok` and `report`); the\n"
              "diagnostics are those TVLCompiler().compile_model gives. Raises MemoryError when memory runs out\n"
              "and KeyboardInterrupt on Ctrl-C.",
              &compile_pair, py::arg("model_text"), py::arg("data_text"));
    host::def(m, "solve_program",
              "program, *, time_limit=None, mip_gap=None, threads=None, log=False, sensitivity=False",
              "Solve a Program (from instantiate() or a CompiledModel) with HiGHS and return a SolveResult.\n\n"
              "The options are those of solve_model.",
              &solve_program, py::arg("program"), py::kw_only(), py::arg("time_limit") = py::none(),
              py::arg("mip_gap") = py::none(), py::arg("threads") = py::none(), py::arg("log") = false,
              py::arg("sensitivity") = false);
    host::def(
        m, "instantiate", "model_text, data_text",
        "Compile a model with its data and expand it into a sparse Program.\n\n"
        "Raises SemanticError with the compiler's diagnostics, or with a located message for a fault only the\n"
        "data reveals (an index outside its set, a value too large for a float).",
        [](py::object model_text, py::object data_text) {
            return instantiate_texts(model_text, data_text, "instantiate");
        },
        py::arg("model_text"), py::arg("data_text"));
    host::def(
        m, "solve_model",
        "model_text, data_text, *, time_limit=None, mip_gap=None, threads=None, log=False, sensitivity=False",
        "Solve a model with its data using HiGHS and return a SolveResult.\n\n"
        "time_limit in seconds, mip_gap the relative MIP gap, threads the solver's thread count; log=True sends\n"
        "the solver log to stderr. sensitivity='duals' adds the duals, reduced costs, row activities and slacks\n"
        "of an optimal solve (for a MIP: of the LP with its integer columns fixed at the solution);\n"
        "sensitivity=True (or 'ranging') adds HiGHS's ranging of costs and right-hand sides. Raises SemanticError\n"
        "when the model does not compile, ImportError when highspy is missing (the 'solve' extra),\n"
        "KeyboardInterrupt on Ctrl-C (its `result` attribute holds the run so far: the best solution found,\n"
        "with the MIP's bound).",
        &solve_model, py::arg("model_text"), py::arg("data_text"), py::kw_only(), py::arg("time_limit") = py::none(),
        py::arg("mip_gap") = py::none(), py::arg("threads") = py::none(), py::arg("log") = false,
        py::arg("sensitivity") = false);
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
