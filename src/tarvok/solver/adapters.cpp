#include "solver/adapters.hpp"

#include <cmath>
#include <limits>

namespace tarvok::solver {

namespace {

/// The `count` ends of one side.
std::vector<RangeEnd> range_ends(const std::array<std::vector<double>, 4>& side, size_t count) {
    auto at = [&](size_t field, size_t k) { return k < side[field].size() ? side[field][k] : std::nan(""); };
    auto column = [&](size_t field, size_t k) {
        double c = at(field, k);
        return std::isnan(c) ? int64_t{-1} : static_cast<int64_t>(c);
    };
    std::vector<RangeEnd> out(count);
    for (size_t k = 0; k < count; ++k) out[k] = {at(0, k), at(1, k), column(2, k), column(3, k)};
    return out;
}

}  // namespace

void take_ranging(const RangingArrays& arrays, size_t columns, size_t rows, SolverFigures& figures) {
    figures.has_ranging = true;
    figures.cost_up = range_ends(arrays[0], columns);
    figures.cost_down = range_ends(arrays[1], columns);
    figures.bound_up = range_ends(arrays[2], rows);
    figures.bound_down = range_ends(arrays[3], rows);
    figures.column_bound_up = range_ends(arrays[4], columns);
    figures.column_bound_down = range_ends(arrays[5], columns);
}

void ranging_without_rows(const Program& p, const std::vector<double>& lower, const std::vector<double>& upper,
                          const std::vector<double>& x, SolverFigures& figures) {
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    double objective = p.offset;
    for (uint32_t j = 0; j < p.columns(); ++j) objective += p.cost[j] * x[j];
    // The objective where a figure of a column moves from `from` to `to` at `rate`.
    auto at = [&](double from, double to, double rate) {
        return rate == 0 ? objective : objective + rate * (to - from);
    };
    figures.has_ranging = true;
    size_t n = p.columns();
    figures.cost_up.assign(n, {});
    figures.cost_down.assign(n, {});
    figures.column_bound_up.assign(n, {std::nan(""), std::nan("")});
    figures.column_bound_down.assign(n, {std::nan(""), std::nan("")});
    for (uint32_t j = 0; j < n; ++j) {
        double reduced = figures.column_dual[j], cost = p.cost[j], v = x[j];
        bool fixed = lower[j] == upper[j];
        // A cost that moves against the reduced cost keeps the column where it is.
        double low = reduced < 0 || fixed ? -kInfinity : cost - reduced;
        double high = reduced > 0 || fixed ? kInfinity : cost - reduced;
        figures.cost_down[j] = {low, at(cost, low, v)};
        figures.cost_up[j] = {high, at(cost, high, v)};
        if (reduced == 0) continue;
        bool at_upper = (p.sense == Sense::Minimize) == (reduced < 0);
        // The bound that holds it moves away from the other freely, and up to it.
        double out = at_upper ? kInfinity : -kInfinity;
        double in = fixed ? -out : at_upper ? lower[j] : upper[j];
        RangeEnd outward{out, at(v, out, reduced)}, inward{in, at(v, in, reduced)};
        figures.column_bound_up[j] = at_upper ? outward : inward;
        figures.column_bound_down[j] = at_upper ? inward : outward;
    }
}

void loaded_bounds(const Program& p, const LoadRequest& request, std::vector<double>& lower,
                   std::vector<double>& upper) {
    lower = p.col_lower;
    upper = p.col_upper;
    for (size_t k = 0; k < request.fixed_columns.size(); ++k)
        lower[request.fixed_columns[k]] = upper[request.fixed_columns[k]] = request.fixed_values[k];
}

ModelPlan plan_model(const Program& p, const LoadRequest& request) {
    ModelPlan plan;
    loaded_bounds(p, request, plan.lower, plan.upper);
    plan.columns.reserve(p.columns());
    for (uint32_t j = 0; j < p.columns(); ++j)
        plan.columns.push_back({"c" + std::to_string(j), p.integrality[j] && !request.relaxed, plan.lower[j],
                                plan.upper[j], request.feasibility ? 0.0 : p.cost[j]});
    plan.rows.reserve(p.rows());
    for (uint32_t i = 0; i < p.rows(); ++i)
        plan.rows.push_back({"r" + std::to_string(i), p.row_lower[i], p.row_upper[i]});
    plan.offset = request.feasibility ? 0.0 : p.offset;
    plan.maximize = p.sense == Sense::Maximize && !request.feasibility;
    plan.dual_sign = p.sense == Sense::Maximize ? -1.0 : 1.0;
    return plan;
}

uint32_t planned_index(const std::string& name) { return static_cast<uint32_t>(std::stoul(name.substr(1))); }

PoolPlan plan_pool(std::optional<int> threads, long long& size) {
    if (!threads) return {};
    PoolPlan plan{*threads != size, *threads};
    size = *threads;
    return plan;
}

std::vector<const char*> highs_callbacks(bool log, bool watch) {
    std::vector<const char*> out;
    if (log) out.push_back("kCallbackLogging");
    if (watch) out.insert(out.end(), {"kCallbackSimplexInterrupt", "kCallbackIpmInterrupt", "kCallbackMipInterrupt"});
    return out;
}

std::vector<LibraryParameter> scip_parameters(const LoadRequest& request) {
    std::vector<LibraryParameter> out;
    if (!std::isnan(request.mip_gap)) out.push_back({"limits/gap", request.mip_gap});
    if (request.threads) out.push_back({"lp/threads", *request.threads});
    return out;
}

}  // namespace tarvok::solver
