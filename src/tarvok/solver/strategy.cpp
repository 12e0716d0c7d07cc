// The solve strategy: which runs to make of a program, in which order, and
// what their statuses mean. Any solver behind SolverBackend gets the same.
#include "solver/backend.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace tarvok::solver {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double steady_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

class Strategy {
  public:
    Strategy(const Program& p, SolverBackend& backend, const SolveSettings& s)
        : p_(p), backend_(backend), s_(s), clock_(s.clock ? s.clock : steady_seconds), start_(clock_()),
          integer_(p.integer_columns() > 0) {}

    SolveReport run() {
        report_.used_solver = true;
        LoadRequest request;
        request.log = s_.log;
        request.mip_gap = s_.mip_gap;
        request.threads = s_.threads;
        main_ = backend_.load(p_, request);
        last_ = main_->run(true, s_.time_limit);
        if (last_.interrupted) return interrupted();
        Outcome& o = report_.outcome;
        o.status = settle_open_status(last_.status, integer_, [&](Attempt a) { return attempt(a); });
        if (stopped_) return interrupted();
        if (o.status == Status::Optimal || o.status == Status::TimeLimit) take_solution(o.status == Status::TimeLimit);
        if (o.status == Status::Infeasible && o.culprits.empty()) {
            name_infeasible_subset();
            if (stopped_) return interrupted();
        }
        o.message = message();
        if (s_.sensitivity > 0 && o.status == Status::Optimal && o.has_solution) {
            report_.sensitivity = sensitivity();
            if (stopped_) return interrupted();
        }
        return finish();
    }

  private:
    double seconds_left() const { return std::isnan(s_.time_limit) ? 1.0 : s_.time_limit - (clock_() - start_); }
    /// The time limit of a further run: what is left of the solve's.
    double limit_left() const { return std::isnan(s_.time_limit) ? kNaN : seconds_left(); }

    /// Runs a further solve; nullopt when there is no time left for one or Ctrl-C stopped it.
    std::optional<Status> attempt(Attempt a) {
        if (seconds_left() <= 0) return std::nullopt;
        if (a == Attempt::WithoutPresolve) {
            last_ = main_->run(false, limit_left());
            return ended(last_);
        }
        bool relaxed = a == Attempt::Relaxation;
        LoadRequest request;
        request.relaxed = relaxed;
        request.feasibility = !relaxed;
        std::unique_ptr<LoadedProgram> other = backend_.load(p_, request);
        std::optional<Status> reached = ended(other->run(!relaxed, limit_left()));
        // An infeasible relaxation names the constraints that conflict.
        if (relaxed && reached == Status::Infeasible) report_.outcome.culprits = other->infeasible_subset();
        return reached;
    }

    std::optional<Status> ended(const RunEnd& end) {
        if (!end.interrupted) return end.status;
        stopped_ = true;
        return std::nullopt;
    }

    /// The best solution found so far, with the bound and gap of a MIP that
    /// stopped before proving it optimal.
    void take_solution(bool stopped_early) {
        Outcome& o = report_.outcome;
        Incumbent found = main_->incumbent();
        o.has_solution = found.has_solution;
        if (o.has_solution) {
            o.objective = found.objective;
            o.x = std::move(found.x);
            if (integer_) report_.mip_gap = found.gap;
        }
        if (stopped_early && integer_) {
            o.best_bound = found.best_bound;
            o.gap = o.has_solution ? found.gap : kNaN;
        }
    }

    void name_infeasible_subset() {
        Outcome& o = report_.outcome;
        if (!integer_) {
            o.culprits = main_->infeasible_subset();
            return;
        }
        if (seconds_left() <= 0) return;
        // The subset of a MIP is the subset of its relaxation, when that is
        // infeasible too; a search for one in the MIP itself may not end.
        LoadRequest request;
        request.relaxed = true;
        std::unique_ptr<LoadedProgram> relaxation = backend_.load(p_, request);
        if (ended(relaxation->run(false, limit_left())) == Status::Infeasible)
            o.culprits = relaxation->infeasible_subset();
    }

    std::string message() const {
        const Outcome& o = report_.outcome;
        switch (o.status) {
        case Status::Infeasible: return "No solution satisfies all constraints.";
        case Status::Unbounded: return "The objective can improve without limit.";
        case Status::InfeasibleOrUnbounded: return "The model is infeasible or unbounded.";
        case Status::TimeLimit: return o.has_solution ? "" : "No feasible solution was found within the time limit.";
        case Status::Error: return backend_.name() + " stopped without a result: " + last_.stop_reason;
        case Status::Optimal: break;
        }
        return "";
    }

    /// The figures of an optimal solve: from the LP itself, or for a MIP from
    /// the LP with its integer columns fixed at the solution.
    std::optional<Sensitivity> sensitivity() {
        const Outcome& o = report_.outcome;
        LoadedProgram* source = main_.get();
        std::unique_ptr<LoadedProgram> fixed;
        if (integer_) {
            LoadRequest request;
            request.relaxed = true;
            for (uint32_t j = 0; j < p_.columns(); ++j)
                if (p_.integrality[j]) {
                    request.fixed_columns.push_back(static_cast<int32_t>(j));
                    request.fixed_values.push_back(std::nearbyint(o.x[j]));
                }
            fixed = backend_.load(p_, request);
            if (ended(fixed->run(true, kNaN)) != Status::Optimal) return std::nullopt;
            source = fixed.get();
        }
        std::optional<SolverFigures> figures = source->figures(s_.sensitivity >= 2);
        if (!figures) return std::nullopt;
        if (o.x.size() != p_.columns()) return std::nullopt;
        // The solution shown, which is optimal in the fixed LP too: the activities are its own.
        return shape_sensitivity(p_, o.x, *figures, integer_);
    }

    SolveReport finish() {
        report_.solve_seconds = clock_() - start_;
        report_.counts = main_->counts();
        return std::move(report_);
    }

    /// The run so far, for a host that raises Ctrl-C's exception with it.
    SolveReport interrupted() {
        Outcome& o = report_.outcome;
        o.status = Status::Error;
        o.message = "Stopped by Ctrl-C.";
        o.culprits.clear();
        report_.sensitivity.reset();
        take_solution(true);
        report_.interrupted = true;
        return finish();
    }

    const Program& p_;
    SolverBackend& backend_;
    const SolveSettings& s_;
    std::function<double()> clock_;
    double start_;
    bool integer_;
    SolveReport report_;
    std::unique_ptr<LoadedProgram> main_;
    RunEnd last_;           ///< the main program's latest run
    bool stopped_ = false;  ///< Ctrl-C stopped a further run
};

}  // namespace

void settle_free_columns(const Program& p, const std::vector<double>& lower, const std::vector<double>& upper,
                         bool without_objective, std::vector<double>& x) {
    std::vector<bool> used(p.columns(), false);
    for (int32_t j : p.col_indices) used[j] = true;
    for (uint32_t j = 0; j < p.columns() && j < x.size(); ++j)
        if (!used[j] && (without_objective || p.cost[j] == 0)) x[j] = std::clamp(0.0, lower[j], upper[j]);
}

SolveReport solve_with(const Program& program, SolverBackend& backend, const SolveSettings& settings) {
    return solve_with(
        program, [&]() -> SolverBackend& { return backend; }, settings);
}

SolveReport solve_with(const Program& program, const std::function<SolverBackend&()>& make,
                       const SolveSettings& settings) {
    if (std::optional<Outcome> settled = settle_without_solver(program)) {
        SolveReport report;
        report.outcome = std::move(*settled);
        // Without columns every constraint that holds was folded; each still has its figures.
        if (settings.sensitivity > 0 && report.outcome.status == Status::Optimal) {
            SolverFigures none;
            none.has_ranging = settings.sensitivity >= 2;
            report.sensitivity = shape_sensitivity(program, {}, none, false);
        }
        return report;
    }
    return Strategy(program, make(), settings).run();
}

}  // namespace tarvok::solver
