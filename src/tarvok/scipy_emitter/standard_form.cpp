#include "scipy_emitter/standard_form.hpp"

#include <algorithm>
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

}  // namespace tarvok::scipy_emitter
