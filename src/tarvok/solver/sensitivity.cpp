#include "solver/sensitivity.hpp"

#include "solver/outcome.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <span>
#include <utility>

namespace tarvok::solver {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

/// The solver's bounds past this are none.
double side(double v) { return std::fabs(v) >= tc::kSolverInfinity ? std::copysign(kInfinity, v) : v; }

double slack_of(double activity, double lower, double upper) {
    double slack = kInfinity;
    if (std::isfinite(upper)) slack = std::min(slack, upper - activity);
    if (std::isfinite(lower)) slack = std::min(slack, activity - lower);
    return std::isfinite(slack) ? reported_value(slack, false) : slack;
}

bool binds(double activity, double lower, double upper) {
    return (std::isfinite(lower) && std::fabs(activity - lower) <= binding_tolerance(lower)) ||
           (std::isfinite(upper) && std::fabs(activity - upper) <= binding_tolerance(upper));
}

/// The name of variable `index` of the solver: columns first, then rows.
std::string variable_name(const Program& p, int64_t index) {
    if (index < 0) return "";
    if (index < p.columns()) return p.column_name(static_cast<uint32_t>(index));
    if (index - p.columns() < p.rows()) return p.row_name(static_cast<uint32_t>(index - p.columns()));
    return "";
}

Range range_of(const Program& p, const RangeEnd& down, const RangeEnd& up) {
    Range r;
    r.low = side(down.value);
    r.high = side(up.value);
    r.objective_at_low = down.objective;
    r.objective_at_high = up.objective;
    r.entering_at_low = variable_name(p, down.entering);
    r.leaving_at_low = variable_name(p, down.leaving);
    r.entering_at_high = variable_name(p, up.entering);
    r.leaving_at_high = variable_name(p, up.leaving);
    return r;
}

double objective_value(const Program& p, const std::vector<double>& x) {
    double v = p.offset;
    for (uint32_t j = 0; j < p.columns(); ++j) v += p.cost[j] * x[j];
    return v;
}

/// The range of a side that does not hold the optimum: the dual (zero)
/// holds while the side stays beyond the activity, the objective as it is.
/// Of two sides, the one that binds; none when neither or both do.
std::optional<Range> loose_range(const RowFigures& r, double objective) {
    bool low = std::isfinite(r.lower), high = std::isfinite(r.upper);
    if (low && high) {
        bool at_low = binds(r.activity, r.lower, -kInfinity), at_high = binds(r.activity, kInfinity, r.upper);
        if (at_low == at_high) return std::nullopt;
        low = at_low;
        high = at_high;
    }
    Range loose;
    loose.low = high ? r.activity : -kInfinity;
    loose.high = low ? r.activity : kInfinity;
    loose.objective_at_low = loose.objective_at_high = objective;
    return loose;
}

/// `r` within `low`..`high`: an end moved in has the objective that `rate`
/// gives from the figure `at`, and no variable entering or leaving there.
void clip(Range& r, double low, double high, double at, double rate, double objective) {
    auto moved = [&](double end) { return rate == 0 ? objective : objective + rate * (end - at); };
    if (std::isnan(r.low) || r.low < low) {
        r.low = low;
        r.objective_at_low = moved(low);
        r.entering_at_low.clear();
        r.leaving_at_low.clear();
    }
    if (std::isnan(r.high) || r.high > high) {
        r.high = high;
        r.objective_at_high = moved(high);
        r.entering_at_high.clear();
        r.leaving_at_high.clear();
    }
}

/// The bounds of `column` on each side from its declaration and the folded
/// constraints other than `except`: where another takes over from a bound
/// that `except` sets.
std::pair<double, double> other_bounds(const Program& p, std::span<const uint32_t> on_column, uint32_t except) {
    uint32_t column = p.folded[except].column;
    double low = p.declared_lower[column], high = p.declared_upper[column];
    for (uint32_t k : on_column) {
        const FoldedConstraint& f = p.folded[k];
        if (k == except) continue;
        double a = f.coefficient;
        low = std::max(low, a > 0 ? f.lower / a : f.upper / a);
        high = std::min(high, a > 0 ? f.upper / a : f.lower / a);
    }
    return {low, high};
}

/// The range of folded constraint `k` whose bound holds its column (at its
/// upper bound when `at_upper`): the column's bound ranging, within the
/// bounds the other constraints on it give (past one the other takes over,
/// or none is feasible), in the constraint's own units. None when the
/// solver ranged no column bounds.
std::optional<Range> held_range(const Program& p, const SolverFigures& f, std::span<const uint32_t> on_column,
                                uint32_t k, bool at_upper, double objective, double x) {
    const FoldedConstraint& c = p.folded[k];
    uint32_t j = c.column;
    if (j >= f.column_bound_up.size() || j >= f.column_bound_down.size()) return std::nullopt;
    double a = c.coefficient, reduced = f.column_dual[j];
    Range r = range_of(p, f.column_bound_down[j], f.column_bound_up[j]);
    auto [low, high] = other_bounds(p, on_column, k);
    // A constraint with two sides moves the one that holds; an equation moves both.
    if (c.lower != c.upper) {
        double own_low = a > 0 ? c.lower / a : c.upper / a, own_high = a > 0 ? c.upper / a : c.lower / a;
        if (at_upper)
            low = std::max(low, own_low);
        else
            high = std::min(high, own_high);
    }
    clip(r, low, high, x, reduced, objective);
    if (a > 0) {
        r.low *= a;
        r.high *= a;
        return r;
    }
    Range turned;
    turned.low = r.high * a;
    turned.high = r.low * a;
    turned.objective_at_low = r.objective_at_high;
    turned.objective_at_high = r.objective_at_low;
    turned.entering_at_low = std::move(r.entering_at_high);
    turned.leaving_at_low = std::move(r.leaving_at_high);
    turned.entering_at_high = std::move(r.entering_at_low);
    turned.leaving_at_high = std::move(r.leaving_at_low);
    return turned;
}

/// A folded constraint's figures, as it would have them as a row.
RowFigures folded_row(const Program& p, const std::vector<double>& x, const SolverFigures& f, bool fixed_integers,
                      std::span<const uint32_t> on_column, uint32_t k, double objective) {
    const FoldedConstraint& c = p.folded[k];
    RowFigures r;
    r.constraint = c.origin.constraint;
    r.instance = c.origin.key;
    r.keys = p.instance_keys(c.origin);
    r.name = p.instance_name(c.origin);
    r.line = p.instance_line(c.origin);
    r.lower = side(c.lower);
    r.upper = side(c.upper);
    double activity = c.column == kNone ? 0.0 : c.coefficient * x[c.column];
    r.activity = reported_value(activity, false);
    r.slack = slack_of(activity, r.lower, r.upper);
    r.binding = binds(activity, r.lower, r.upper);
    std::optional<Range> loose = f.has_ranging ? loose_range(r, objective) : std::nullopt;
    r.rhs = loose;
    if (c.column == kNone) return r;
    uint32_t j = c.column;
    r.bound_of = p.column_name(j);
    // The column's reduced cost says which of its bounds holds it: one that
    // the objective would leave in the direction of better.
    double reduced = reported_value(f.column_dual[j], false);
    double better = p.sense == Sense::Minimize ? -reduced : reduced;
    if (better == 0 || (fixed_integers && p.integrality[j])) return r;  // an integer column is held by its fixing
    bool at_upper = better > 0;
    double bound = at_upper ? p.col_upper[j] : p.col_lower[j];
    if ((at_upper ? p.upper_source : p.lower_source)[j] != k || std::fabs(x[j] - bound) > binding_tolerance(bound))
        return r;
    r.dual = reported_value(f.column_dual[j] / c.coefficient, false);
    if (f.has_ranging) r.rhs = held_range(p, f, on_column, k, at_upper, objective, x[j]);
    return r;
}

// ------------------------------------------------------------ the report

std::string number_text(double v) {
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.6g", reported_value(v, false));
    return buffer;
}

/// The headers of a constraint's index columns: its forall bindings' names.
std::vector<std::string> binding_headers(const Program& p, uint32_t constraint, size_t count) {
    std::vector<std::string> out;
    if (p.source) {
        const tc::Compilation& c = p.compilation();
        std::vector<uint32_t> chain;
        for (uint32_t f = c.model.constraints[constraint].forall; f != kNone; f = c.model.foralls[f].parent)
            chain.insert(chain.begin(), f);
        for (uint32_t f : chain)
            for (uint32_t b = 0; b < c.model.foralls[f].binding_count; ++b)
                out.emplace_back(c.ast.texts[c.ast.bindings[c.model.foralls[f].first_binding + b].name]);
    }
    if (out.size() != count) {
        out.clear();
        for (size_t d = 0; d < count; ++d) out.push_back("index " + std::to_string(d + 1));
    }
    return out;
}

std::string sides_text(const RowFigures& r) {
    if (r.lower == r.upper) return "= " + number_text(r.upper);
    if (std::isfinite(r.lower) && std::isfinite(r.upper))
        return "in [" + number_text(r.lower) + ", " + number_text(r.upper) + "]";
    if (std::isfinite(r.upper)) return "<= " + number_text(r.upper);
    if (std::isfinite(r.lower)) return ">= " + number_text(r.lower);
    return "free";
}

}  // namespace

double binding_tolerance(double side) { return 1e-7 * (1 + std::fabs(side)); }

Sensitivity shape_sensitivity(const Program& p, const std::vector<double>& x, const SolverFigures& f,
                              bool fixed_integers) {
    Sensitivity s;
    s.fixed_integers = fixed_integers;
    s.has_ranging = f.has_ranging;
    double objective = reported_value(objective_value(p, x), false);
    s.rows.reserve(p.rows() + p.folded.size());
    for (uint32_t i = 0; i < p.rows(); ++i) {
        RowFigures r;
        r.constraint = p.row_origin[i].constraint;
        r.instance = p.row_origin[i].key;
        r.keys = p.instance_keys(p.row_origin[i]);
        r.name = p.row_name(i);
        r.line = p.row_line(i);
        double activity = 0;
        for (int32_t k = p.row_starts[i]; k < p.row_starts[i + 1]; ++k) activity += p.values[k] * x[p.col_indices[k]];
        r.activity = reported_value(activity, false);
        r.lower = side(p.row_lower[i]);
        r.upper = side(p.row_upper[i]);
        r.slack = slack_of(activity, r.lower, r.upper);
        r.binding = binds(activity, r.lower, r.upper);
        r.dual = reported_value(f.row_dual[i], false);
        if (f.has_ranging) {
            // A basic row at its side (a degenerate vertex) holds nothing: the
            // solver's ranging of it is not where its dual holds.
            bool basic = i < f.row_basic.size() ? f.row_basic[i] != 0 : r.dual == 0;
            if (basic) {
                r.rhs = loose_range(r, objective);
            } else {
                // The side that holds moves; the solver's ranging lets it pass the other.
                Range moving = range_of(p, f.bound_down[i], f.bound_up[i]);
                bool at_upper = binds(activity, -kInfinity, r.upper), at_lower = binds(activity, r.lower, kInfinity);
                if (at_upper != at_lower)
                    clip(moving, at_upper ? r.lower : -kInfinity, at_lower ? r.upper : kInfinity,
                         at_upper ? r.upper : r.lower, r.dual, objective);
                r.rhs = moving;
            }
        }
        s.rows.push_back(std::move(r));
    }
    // The folded constraints by column, so that each sees the bounds the others give.
    std::vector<uint32_t> by_column(p.folded.size());
    for (uint32_t k = 0; k < by_column.size(); ++k) by_column[k] = k;
    std::stable_sort(by_column.begin(), by_column.end(),
                     [&](uint32_t a, uint32_t b) { return p.folded[a].column < p.folded[b].column; });
    s.rows.resize(p.rows() + p.folded.size());
    for (size_t begin = 0, end = 0; begin < by_column.size(); begin = end) {
        while (end < by_column.size() && p.folded[by_column[end]].column == p.folded[by_column[begin]].column) ++end;
        std::span<const uint32_t> group(by_column.data() + begin, end - begin);
        for (uint32_t k : group) s.rows[p.rows() + k] = folded_row(p, x, f, fixed_integers, group, k, objective);
    }
    s.columns.reserve(p.columns());
    for (uint32_t j = 0; j < p.columns(); ++j) {
        ColumnFigures c;
        c.column = j;
        c.value = reported_value(x[j], false);
        c.reduced_cost = reported_value(f.column_dual[j], false);
        if (f.has_ranging) c.cost = range_of(p, f.cost_down[j], f.cost_up[j]);
        s.columns.push_back(std::move(c));
    }
    return s;
}

std::string sensitivity_report(const Program& p, const Sensitivity& s) {
    std::string out = s.fixed_integers ? "\nSensitivity of the LP with the integer columns fixed at the solution\n"
                                       : "\nSensitivity\n";
    // Constraints in model order, each with its binding rows first.
    std::vector<const RowFigures*> order;
    for (const RowFigures& r : s.rows) order.push_back(&r);
    std::stable_sort(order.begin(), order.end(), [](const RowFigures* a, const RowFigures* b) {
        if (a->constraint != b->constraint) return a->constraint < b->constraint;
        if (a->binding != b->binding) return a->binding;
        return a->instance < b->instance;
    });
    for (size_t begin = 0; begin < order.size();) {
        size_t end = begin;
        while (end < order.size() && order[end]->constraint == order[begin]->constraint) ++end;
        const RowFigures& first = *order[begin];
        size_t dims = first.keys.size();
        std::vector<std::vector<std::string>> rows;
        std::vector<std::string> header = binding_headers(p, first.constraint, dims);
        for (const char* h : {"activity", "sides", "slack", "dual"}) header.push_back(h);
        if (s.has_ranging) {
            header.push_back("rhs low");
            header.push_back("rhs high");
        }
        header.push_back("");
        rows.push_back(std::move(header));
        for (size_t n = begin; n < end; ++n) {
            const RowFigures& r = *order[n];
            std::vector<std::string> row(r.keys.begin(), r.keys.end());
            row.resize(dims);
            row.push_back(number_text(r.activity));
            row.push_back(sides_text(r));
            row.push_back(number_text(r.slack));
            row.push_back(number_text(r.dual));
            if (s.has_ranging) {
                row.push_back(r.rhs ? number_text(r.rhs->low) : "");
                row.push_back(r.rhs ? number_text(r.rhs->high) : "");
            }
            std::string note = r.binding ? "binding" : "";
            if (!r.bound_of.empty()) note += std::string(note.empty() ? "" : ", ") + "bound of " + r.bound_of;
            row.push_back(note);
            rows.push_back(std::move(row));
        }
        std::string base = p.constraint_base_name(first.constraint);
        out += "\nconstraint " + base + " (line " + std::to_string(first.line) + ")\n" + table(rows, dims);
        begin = end;
    }
    for (const VariableBlock& b : p.variables) {
        if (b.count == 0) continue;
        std::vector<std::vector<std::string>> rows;
        std::vector<std::string> header;
        for (size_t d = 0; d < b.dims.size(); ++d) header.push_back(dimension_header(p, b, d));
        for (const char* h : {"value", "reduced cost"}) header.push_back(h);
        if (s.has_ranging) {
            header.push_back("cost low");
            header.push_back("cost high");
        }
        rows.push_back(std::move(header));
        std::vector<uint64_t> position(b.dims.size(), 0);
        for (uint32_t j = 0; j < b.count; ++j) {
            const ColumnFigures& col = s.columns[b.first + j];
            std::vector<std::string> row;
            for (size_t d = 0; d < b.dims.size(); ++d) row.push_back(p.key_text(b.dims[d]->at(position[d])));
            row.push_back(number_text(col.value));
            row.push_back(number_text(col.reduced_cost));
            if (col.cost) {
                row.push_back(number_text(col.cost->low));
                row.push_back(number_text(col.cost->high));
            }
            rows.push_back(std::move(row));
            for (size_t d = b.dims.size(); d-- > 0;) {
                if (++position[d] < b.dims[d]->size()) break;
                position[d] = 0;
            }
        }
        out += "\nvariable " + b.name + "\n" + table(rows, b.dims.size());
    }
    return out;
}

}  // namespace tarvok::solver
