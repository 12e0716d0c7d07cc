// The SCIP back-end: a Program built as a SCIP model through PySCIPOpt, run
// with the GIL released, and its answers read back: the solution, the bound
// and gap of a MIP, an irreducible infeasible subset from SCIP's own finder,
// and the duals of an LP (re-solved without presolve, as SCIP gives duals
// only for the LP it last solved). SCIP gives no ranging.
#include "bindings/host/host.hpp"
#include "bindings/solving/solving.hpp"
#include "solver/adapters.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

namespace tarvok::solver::bind {

namespace {

/// A bound as PySCIPOpt takes it: None for no bound.
py::object side(double v) { return std::isfinite(v) ? py::object(py::float_(v)) : py::object(py::none()); }

/// A SCIP model of the program as the core plans it.
struct ScipModel {
    py::object model;
    std::vector<py::object> vars, conss;
};

ScipModel build(const Program& p, const ModelPlan& plan, py::module_& scip) {
    ScipModel m;
    m.model = scip.attr("Model")();
    m.model.attr("hideOutput")();
    // SCIP's own Ctrl-C handler prints on stdout, which carries a command's JSON: the run is watched instead.
    m.model.attr("setParam")("misc/catchctrlc", false);
    py::object add_var = m.model.attr("addVar");
    m.vars.reserve(plan.columns.size());
    for (const PlannedColumn& c : plan.columns)
        m.vars.push_back(add_var(py::arg("name") = c.name, py::arg("vtype") = c.integer ? "I" : "C",
                                 py::arg("lb") = side(c.lower), py::arg("ub") = side(c.upper),
                                 py::arg("obj") = c.cost));
    py::object expr = scip.attr("Expr"), cons = scip.attr("ExprCons");
    py::object add_cons = m.model.attr("addCons"), add_coef = m.model.attr("addCoefLinear");
    m.conss.reserve(plan.rows.size());
    for (size_t i = 0; i < plan.rows.size(); ++i) {
        const PlannedRow& r = plan.rows[i];
        m.conss.push_back(add_cons(cons(expr(), py::arg("lhs") = side(r.lower), py::arg("rhs") = side(r.upper)),
                                   py::arg("name") = r.name));
        for (int32_t k = p.row_starts[i]; k < p.row_starts[i + 1]; ++k)
            add_coef(m.conss.back(), m.vars[p.col_indices[k]], p.values[k]);
    }
    if (plan.offset != 0) m.model.attr("addObjoffset")(plan.offset);
    if (plan.maximize) m.model.attr("setMaximize")();
    return m;
}

class ScipProgram : public LoadedProgram {
  public:
    ScipProgram(HostBackend& backend, const Program& p, py::module_ scip, py::handle, LoadRequest request)
        : backend_(backend), p_(p), scip_(std::move(scip)), request_(std::move(request)),
          plan_(plan_model(p_, request_)) {
        m_ = build(p_, plan_, scip_);
        set_options(m_.model);
    }

    RunEnd run(bool presolve, double time_limit) override {
        py::object& model = m_.model;
        if (solved_) model.attr("freeTransform")();
        if (!presolve) model.attr("setPresolve")(scip_.attr("SCIP_PARAMSETTING").attr("OFF"));
        if (!std::isnan(time_limit)) model.attr("setParam")("limits/time", time_limit);
        if (backend_.cancelled()) raise_cancelled();
        std::unique_ptr<py::error_already_set> raised = optimize(model, request_.log);
        solved_ = true;
        if (raised) {
            if (!raised->matches(PyExc_KeyboardInterrupt)) throw std::move(*raised);
            backend_.hold_interrupt(std::move(*raised));
            return {Status::Error, true, ""};
        }
        std::string status = host::str_of(model.attr("getStatus")());
        return {status_from_scip(status), false, "SCIP status " + status};
    }

    Incumbent incumbent() override {
        Incumbent in;
        py::object& model = m_.model;
        in.has_solution = model.attr("getNSols")().cast<int>() > 0;
        if (in.has_solution) {
            py::object best = model.attr("getBestSol")();
            in.objective = model.attr("getSolObjVal")(best).cast<double>();
            py::object value = model.attr("getSolVal");
            in.x.reserve(p_.columns());
            for (const py::object& v : m_.vars) in.x.push_back(value(best, v).cast<double>());
            // SCIP's heuristics leave a column without rows or cost anywhere; HiGHS leaves it nearest zero.
            settle_free_columns(p_, plan_.lower, plan_.upper, request_.feasibility, in.x);
            in.gap = model.attr("getGap")().cast<double>();
        }
        in.best_bound = model.attr("getDualbound")().cast<double>();
        return in;
    }

    std::vector<Culprit> infeasible_subset() override {
        try {
            m_.model.attr("setParam")("iis/silent", true);
            py::object iis = m_.model.attr("generateIIS")();
            if (!host::truthy(iis.attr("isSubscipIrreducible")())) return {};
            py::object sub = iis.attr("getSubscip")();
            std::vector<uint32_t> rows, columns;
            for (py::handle c : sub.attr("getConss")()) rows.push_back(planned_index(host::str_of(c.attr("name"))));
            std::vector<int> bounds = needed_bounds(sub, columns);
            return p_.explain(rows, columns, bounds);
        } catch (py::error_already_set& e) {
            if (!host::is_ordinary(e)) throw;
            return {};  // a PySCIPOpt without the finder: the status alone is still right
        }
    }

    /// The finder keeps every bound of the subset's variables; the core keeps
    /// those the subset needs. The columns with bounds that remain, and which.
    static std::vector<int> needed_bounds(py::object& sub, std::vector<uint32_t>& columns) {
        constexpr double kInfinite = 1e20;
        sub.attr("hideOutput")();
        sub.attr("setParam")("misc/catchctrlc", false);
        std::vector<py::object> vars;
        for (py::handle v : sub.attr("getVars")()) vars.push_back(py::reinterpret_borrow<py::object>(v));
        auto bound = [&](size_t v, bool low) { return vars[v].attr(low ? "getLbOriginal" : "getUbOriginal")(); };
        auto change = [&](size_t v, bool low, py::handle to) {
            sub.attr("freeTransform")();
            sub.attr(low ? "chgVarLb" : "chgVarUb")(vars[v], to);
        };
        BoundTrials trials{[&](size_t v, bool low) { return std::fabs(bound(v, low).cast<double>()) < kInfinite; },
                           [&](size_t v, bool low) {
                               py::object was = bound(v, low);
                               change(v, low, py::none());
                               sub.attr("optimize")();
                               if (host::str_of(sub.attr("getStatus")()) == "infeasible") return true;
                               change(v, low, was);
                               return false;
                           }};
        std::vector<int> codes = tarvok::solver::needed_bounds(vars.size(), trials), out;
        for (size_t v = 0; v < vars.size(); ++v) {
            if (codes[v] == 0) continue;
            columns.push_back(planned_index(host::str_of(vars[v].attr("name"))));
            out.push_back(codes[v]);
        }
        return out;
    }

    /// SCIP's duals are those of the last LP it solved: the program is
    /// solved again without presolve, propagation or heuristics, so that
    /// the last LP is the program's own.
    std::optional<SolverFigures> figures(bool) override {
        ScipModel lp = build(p_, plan_, scip_);
        py::object off = scip_.attr("SCIP_PARAMSETTING").attr("OFF");
        lp.model.attr("setPresolve")(off);
        lp.model.attr("setHeuristics")(off);
        lp.model.attr("disablePropagation")();
        // Watched as the run is: Ctrl-C here keeps the solution found, without its figures.
        if (std::unique_ptr<py::error_already_set> raised = watched(lp.model)) {
            if (!raised->matches(PyExc_KeyboardInterrupt)) throw std::move(*raised);
            backend_.hold_interrupt(std::move(*raised));
            return std::nullopt;
        }
        if (host::str_of(lp.model.attr("getStatus")()) != "optimal") return std::nullopt;
        SolverFigures f;
        try {
            for (const py::object& c : lp.conss)
                f.row_dual.push_back(plan_.dual_sign * lp.model.attr("getDualsolLinear")(c).cast<double>());
            for (const py::object& v : lp.vars)
                f.column_dual.push_back(lp.model.attr("getVarRedcost")(v).cast<double>());
        } catch (py::error_already_set& e) {
            if (!host::is_ordinary(e)) throw;
            return std::nullopt;  // SCIP kept no duals for this program
        }
        return f;
    }

    RunCounts counts() override {
        RunCounts c;
        c.simplex_iterations = m_.model.attr("getNLPIterations")().cast<int64_t>();
        c.mip_nodes = m_.model.attr("getNNodes")().cast<int64_t>();
        if (request_.threads) c.threads = *request_.threads;
        return c;
    }

  private:
    void set_options(py::object& model) {
        for (const LibraryParameter& p : scip_parameters(request_))
            std::visit([&](auto value) { model.attr("setParam")(p.name, value); }, p.value);
    }

    /// Runs SCIP, watched (see watched); its log, when asked for, goes to a
    /// file and from there to sys.stderr. What stopped the run, if anything.
    std::unique_ptr<py::error_already_set> optimize(py::object& model, bool log) {
        if (!log) return watched(model);
        py::module_ tempfile = py::module_::import("tempfile");
        py::object folder = tempfile.attr("TemporaryDirectory")();
        py::object path = py::module_::import("os").attr("path").attr("join")(folder.attr("name"), "scip.log");
        model.attr("setLogfile")(path);
        std::unique_ptr<py::error_already_set> raised = watched(model);
        model.attr("setLogfile")(py::none());
        py::object text =
            py::module_::import("pathlib").attr("Path")(path).attr("read_text")(py::arg("errors") = "replace");
        py::module_::import("sys").attr("stderr").attr("write")(text);
        folder.attr("cleanup")();
        return raised;
    }

    /// Runs SCIP on a thread of its own while this one, the GIL released
    /// between looks, lets the host's signal handlers run and asks the
    /// caller's cancel; what either raises (KeyboardInterrupt, the cancelled
    /// solve's RuntimeError) stops SCIP and is returned once it has stopped.
    std::unique_ptr<py::error_already_set> watched(py::object& model) {
        std::mutex lock;
        std::condition_variable ended;
        bool done = false;
        std::unique_ptr<py::error_already_set> raised, failed;
        std::thread solving([&] {
            py::gil_scoped_acquire gil;
            try {
                model.attr("optimizeNogil")();
            } catch (py::error_already_set& e) {
                failed = std::make_unique<py::error_already_set>(std::move(e));
            }
            std::lock_guard<std::mutex> held(lock);
            done = true;
            ended.notify_one();
        });
        auto join = [&] {
            py::gil_scoped_release unlocked;
            solving.join();
        };
        try {
            for (;;) {
                {
                    py::gil_scoped_release unlocked;
                    std::unique_lock<std::mutex> held(lock);
                    if (ended.wait_for(held, std::chrono::milliseconds(20), [&] { return done; })) break;
                }
                if (!raised && PyErr_CheckSignals() != 0) raised = std::make_unique<py::error_already_set>();
                if (!raised && backend_.cancelled()) {
                    try {
                        raise_cancelled();
                    } catch (py::error_already_set& e) {
                        raised = std::make_unique<py::error_already_set>(std::move(e));
                    }
                }
                // Again at every look: SCIP may not have reached the stage where the stop holds.
                if (raised) interrupt(model);
            }
        } catch (...) {
            interrupt(model);
            join();
            throw;
        }
        join();
        if (failed) throw std::move(*failed);
        if (!raised && PyErr_CheckSignals() != 0) raised = std::make_unique<py::error_already_set>();
        return raised;
    }

    /// Asks SCIP to stop; a stage it takes no stop in is asked again later.
    static void interrupt(py::object& model) {
        py::error_scope kept;  // what the watch holds stays as it is
        try {
            model.attr("interruptSolve")();
        } catch (...) {
        }
    }

    HostBackend& backend_;
    const Program& p_;
    py::module_ scip_;
    LoadRequest request_;
    ModelPlan plan_;
    ScipModel m_;
    bool solved_ = false;
};

std::unique_ptr<HostBackend> make_scip_backend(py::module_ pyscipopt, py::handle owner) {
    return std::make_unique<LibraryBackend<ScipProgram>>("SCIP", std::move(pyscipopt), owner);
}

const BackendRegistration kRegistered{"scip", &make_scip_backend};

}  // namespace

}  // namespace tarvok::solver::bind
