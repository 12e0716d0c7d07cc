#include "solver/adapters.hpp"

#include <cmath>

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
}

ModelPlan plan_model(const Program& p, const LoadRequest& request) {
    ModelPlan plan;
    plan.lower = p.col_lower;
    plan.upper = p.col_upper;
    for (size_t k = 0; k < request.fixed_columns.size(); ++k)
        plan.lower[request.fixed_columns[k]] = plan.upper[request.fixed_columns[k]] = request.fixed_values[k];
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

std::vector<LibraryParameter> scip_parameters(const LoadRequest& request, bool main_thread) {
    std::vector<LibraryParameter> out;
    if (!std::isnan(request.mip_gap)) out.push_back({"limits/gap", request.mip_gap});
    if (request.threads) out.push_back({"lp/threads", *request.threads});
    out.push_back({"misc/catchctrlc", main_thread});
    return out;
}

}  // namespace tarvok::solver
