#include "scipy_emitter/standard_form.hpp"
#include "scipy_emitter/script.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace tarvok::scipy_emitter {

void SparseRows::add_row(std::vector<std::pair<int32_t, double>>& entries) {
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t k = 0; k < entries.size();) {
        double sum = 0;
        size_t same = k;
        for (; same < entries.size() && entries[same].first == entries[k].first; ++same) sum += entries[same].second;
        if (sum != 0) {
            columns.push_back(entries[k].first);
            values.push_back(sum);
        }
        k = same;
    }
    end_row();
    entries.clear();
}

StandardObjective standard_objective(const solver::Program& p) {
    StandardObjective out;
    out.maximize = p.sense == solver::Sense::Maximize;
    out.offset = p.offset;
    out.c = p.cost;
    if (out.maximize)
        for (double& v : out.c) v = -v;
    return out;
}

namespace {

void add_row(const solver::Program& p, uint32_t i, bool negated, double rhs, StandardRows& to) {
    for (int32_t k = p.row_starts[i]; k < p.row_starts[i + 1]; ++k) {
        to.matrix.columns.push_back(p.col_indices[k]);
        to.matrix.values.push_back(negated ? -p.values[k] : p.values[k]);
    }
    to.matrix.end_row();
    to.rhs.push_back(negated ? -rhs : rhs);
    to.origin.push_back({i, negated});
}

}  // namespace

StandardConstraints standard_constraints(const solver::Program& p) {
    StandardConstraints out;
    for (uint32_t i = 0; i < p.rows(); ++i) {
        double lo = p.row_lower[i], hi = p.row_upper[i];
        if (lo == hi) {
            add_row(p, i, false, hi, out.equal);
            continue;
        }
        if (std::isfinite(hi)) add_row(p, i, false, hi, out.upper);
        if (std::isfinite(lo)) add_row(p, i, true, lo, out.upper);
    }
    return out;
}

std::optional<std::string> column_fault(const ScriptInput& in, std::size_t n) {
    for (const ReportedVariable& v : in.variables) {
        uint64_t size = 1;
        for (uint64_t d : v.shape) size *= d;
        if (v.first + size > n)
            return "variable '" + v.name + "' needs columns up to " + std::to_string(v.first + size) +
                   "; var_names has " + std::to_string(n);
    }
    for (const ReportedExpression& d : in.dexprs)
        for (int32_t j : d.columns)
            if (static_cast<size_t>(j) >= n)
                return "dexpr '" + d.name + "' uses column " + std::to_string(j) + "; var_names has " +
                       std::to_string(n);
    return std::nullopt;
}

bool names_data_file(std::string_view path) {
    if (path.size() < 4) return false;
    std::string_view tail = path.substr(path.size() - 4);
    const char* npz = ".npz";
    for (size_t k = 0; k < 4; ++k)
        if (std::tolower(static_cast<unsigned char>(tail[k])) != npz[k]) return false;
    return true;
}

std::string differing_keys(const std::vector<std::string>& keys) {
    if (keys.empty()) return "";
    std::string listed;
    for (size_t k = 0; k < keys.size() && k < 5; ++k) listed += (k ? ", '" : "'") + keys[k] + "'";
    if (keys.size() > 5) listed += " and " + std::to_string(keys.size() - 5) + " more";
    return " (in " + listed + ")";
}

}  // namespace tarvok::scipy_emitter
