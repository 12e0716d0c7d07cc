// The HiGHS back-end: a Program handed to HiGHS through highspy as arrays,
// run with its log and Ctrl-C watched, and its answers (solution, infeasible
// subset, duals and ranging) read back. The only code here that knows HiGHS.
#include "bindings/host/host.hpp"
#include "bindings/solving/solving.hpp"
#include "solver/adapters.hpp"

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarvok::solver::bind {

namespace {

using host::highs::highs_with;

/// What HiGHS calls back for while it runs: its log lines, sent to
/// sys.stderr (looked up per line) when asked for, and its interrupt checks,
/// where Ctrl-C or the caller's `cancel` stops the run. Signal handlers run on
/// the main thread only, so other threads' runs are watched only when they
/// can be cancelled. HiGHS takes one callback function; it serves both.
class RunHooks {
  public:
    RunHooks(py::object& h, py::module_& highspy, bool log, std::function<bool()> cancel)
        : state_(std::make_shared<State>()) {
        py::object types = highspy.attr("cb").attr("HighsCallbackType");
        bool watch = on_main_thread() || cancel;
        if (!log && !watch) return;
        std::shared_ptr<State> state = state_;
        state->cancel = std::move(cancel);
        state->logging = py::int_(types.attr("kCallbackLogging")).cast<int>();
        py::cpp_function hook([state](py::handle type, py::handle message, py::handle, py::handle in, py::handle) {
            try {
                if (py::int_(py::reinterpret_borrow<py::object>(type)).cast<int>() == state->logging) {
                    py::module_::import("sys").attr("stderr").attr("write")(message);
                    return;
                }
                if (!state->raised && PyErr_CheckSignals() != 0)
                    state->raised = std::make_unique<py::error_already_set>();
                if (!state->raised && state->cancel && state->cancel()) {
                    try {
                        raise_cancelled();
                    } catch (py::error_already_set& e) {
                        state->raised = std::make_unique<py::error_already_set>(std::move(e));
                    }
                }
                if (state->raised && !in.is_none()) in.attr("user_interrupt") = true;
            } catch (const py::error_already_set&) {
                // Nothing may unwind into HiGHS; a log line that cannot be written is lost.
            }
        });
        h.attr("setCallback")(hook, py::none());
        if (log) {
            h.attr("setOptionValue")("output_flag", true);
            h.attr("setOptionValue")("log_to_console", false);
        }
        for (const char* callback : highs_callbacks(log, watch))
            if (py::hasattr(types, callback)) h.attr("startCallback")(types.attr(callback));
    }

    /// Runs HiGHS (which releases the GIL itself); what Ctrl-C raised, if it
    /// stopped the run.
    std::unique_ptr<py::error_already_set> run(py::object& h) {
        h.attr("run")();
        return std::move(state_->raised);
    }

  private:
    struct State {
        int logging = -1;
        std::function<bool()> cancel;
        std::unique_ptr<py::error_already_set> raised;
    };
    std::shared_ptr<State> state_;
};

/// Sets the threads of a run (see plan_pool); the size of this thread's pool.
long long use_pool(py::object& h, std::optional<int> threads) {
    thread_local long long size = 0;  // 0: none made yet, or HiGHS chose
    PoolPlan plan = plan_pool(threads, size);
    if (plan.replace && py::hasattr(h, "resetGlobalScheduler")) h.attr("resetGlobalScheduler")(true);
    h.attr("setOptionValue")("threads", plan.threads);
    return size;
}

/// The items of a sequence as `T`, as many as it has.
template <typename T>
std::vector<T> items_as(py::handle sequence) {
    std::vector<T> out;
    for (py::handle item : sequence) out.push_back(item.cast<T>());
    return out;
}

/// HiGHS's ranging record, its sides and their arrays in the order RangingArrays has them.
RangingArrays ranging_arrays(py::handle record) {
    static const char* const kSides[] = {"col_cost_up",  "col_cost_dn",  "row_bound_up",
                                         "row_bound_dn", "col_bound_up", "col_bound_dn"};
    static const char* const kArrays[] = {"value_", "objective_", "in_var_", "ou_var_"};
    RangingArrays out;
    for (size_t s = 0; s < out.size(); ++s)
        for (size_t a = 0; a < 4; ++a) out[s][a] = items_as<double>(record.attr(kSides[s]).attr(kArrays[a]));
    return out;
}

/// A HiGHS instance holding the program as `r` asks, its fixed columns fixed.
py::object loaded(const Program& p, py::module_& highspy, py::handle owner, const LoadRequest& r) {
    py::object h = highs_with(p, highspy, owner, r.relaxed, r.feasibility);
    if (!r.fixed_columns.empty())
        h.attr("changeColsBounds")(r.fixed_columns.size(), owned(r.fixed_columns), owned(r.fixed_values),
                                   owned(r.fixed_values));
    return h;
}

/// A program in one HiGHS instance.
class HighsProgram : public LoadedProgram {
  public:
    HighsProgram(HostBackend& backend, const Program& p, py::module_ highspy, py::handle owner, const LoadRequest& r)
        : backend_(backend), p_(p), highspy_(std::move(highspy)), h_(loaded(p, highspy_, owner, r)),
          hooks_(h_, highspy_, r.log, backend.cancel), request_(r) {
        if (!std::isnan(r.mip_gap)) h_.attr("setOptionValue")("mip_rel_gap", r.mip_gap);
        pool_ = use_pool(h_, r.threads);
    }

    RunEnd run(bool presolve, double time_limit) override {
        if (!presolve) h_.attr("setOptionValue")("presolve", "off");
        if (!std::isnan(time_limit)) h_.attr("setOptionValue")("time_limit", time_limit);
        if (std::unique_ptr<py::error_already_set> raised = hooks_.run(h_)) {
            if (!raised->matches(PyExc_KeyboardInterrupt)) throw std::move(*raised);
            backend_.hold_interrupt(std::move(*raised));
            return {Status::Error, true, ""};
        }
        py::object status = h_.attr("getModelStatus")();
        return {status_from_highs(host::str_of(status.attr("name"))), false,
                host::str_of(h_.attr("modelStatusToString")(status))};
    }

    Incumbent incumbent() override {
        Incumbent in;
        py::object info = h_.attr("getInfo")();
        in.has_solution = py::int_(info.attr("primal_solution_status")).cast<int>() == 2;
        if (in.has_solution) {
            in.objective = info.attr("objective_function_value").cast<double>();
            in.x = doubles(h_.attr("getSolution")().attr("col_value"), p_.columns(), "the solution");
            in.gap = info.attr("mip_gap").cast<double>();
        }
        in.best_bound = info.attr("mip_dual_bound").cast<double>();
        return in;
    }

    /// Names of the rows and bounds in the irreducible infeasible subset
    /// HiGHS computes, if it can.
    std::vector<Culprit> infeasible_subset() override {
        try {
            if (py::hasattr(highspy_, "IisStrategy")) {
                py::object strategy = highspy_.attr("IisStrategy");
                int from_lp_irreducible = py::int_(strategy.attr("kIisStrategyFromLp")).cast<int>() |
                                          py::int_(strategy.attr("kIisStrategyIrreducible")).cast<int>();
                h_.attr("setOptionValue")("iis_strategy", from_lp_irreducible);
            }
            py::tuple got = h_.attr("getIis")();
            py::object iis = got[1];
            if (host::str_of(got[0].attr("name")) == "kError" || !host::truthy(iis.attr("valid_"))) return {};
            return p_.explain(items_as<uint32_t>(iis.attr("row_index_")), items_as<uint32_t>(iis.attr("col_index_")),
                              items_as<int>(iis.attr("col_bound_")));
        } catch (py::error_already_set& e) {
            if (!host::is_ordinary(e)) throw;
            return {};  // an older highspy without subsets: the status alone is still right
        }
    }

    std::optional<SolverFigures> figures(bool ranging) override {
        if (py::int_(h_.attr("getInfo")().attr("dual_solution_status")).cast<int>() != 2) return std::nullopt;
        py::object solution = h_.attr("getSolution")();
        SolverFigures f;
        f.row_dual = doubles(solution.attr("row_dual"), p_.rows(), "the row duals");
        f.column_dual = doubles(solution.attr("col_dual"), p_.columns(), "the reduced costs");
        if (!ranging) return f;
        if (p_.rows() == 0) {
            std::vector<double> lower, upper;
            loaded_bounds(p_, request_, lower, upper);
            ranging_without_rows(p_, lower, upper, doubles(solution.attr("col_value"), p_.columns(), "the solution"),
                                 f);
            return f;
        }
        py::tuple got = h_.attr("getRanging")();
        py::object record = got[1];
        if (host::str_of(got[0].attr("name")) == "kError" || !host::truthy(record.attr("valid"))) return f;
        take_ranging(ranging_arrays(record), p_.columns(), p_.rows(), f);
        py::object basic = highspy_.attr("HighsBasisStatus").attr("kBasic");
        py::object statuses = h_.attr("getBasis")().attr("row_status");
        for (py::handle status : statuses) f.row_basic.push_back(status.equal(basic));
        if (f.row_basic.size() != p_.rows()) f.row_basic.clear();
        return f;
    }

    RunCounts counts() override {
        py::object info = h_.attr("getInfo")();
        RunCounts c;
        c.simplex_iterations = info.attr("simplex_iteration_count").cast<int64_t>();
        c.mip_nodes = info.attr("mip_node_count").cast<int64_t>();
        if (pool_ > 0) c.threads = pool_;
        return c;
    }

  private:
    HostBackend& backend_;
    const Program& p_;
    py::module_ highspy_;
    py::object h_;
    RunHooks hooks_;
    LoadRequest request_;
    long long pool_ = 0;
};

std::unique_ptr<HostBackend> make_highs_backend(py::module_ highspy, py::handle owner) {
    return std::make_unique<LibraryBackend<HighsProgram>>("HiGHS", std::move(highspy), owner);
}

const BackendRegistration kRegistered{"highs", &make_highs_backend};

}  // namespace

}  // namespace tarvok::solver::bind
