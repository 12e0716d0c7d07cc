#include "solver/sensitivity.hpp"

#include "solver/outcome.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

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

/// A folded constraint's figures: the column's bound it set, and the
/// reduced cost as its dual when the column sits at that bound.
RowFigures folded_row(const Program& p, const std::vector<double>& x, const SolverFigures& f, uint32_t source,
                      uint32_t column) {
    const InstanceRef& ref = p.bound_sources[source];
    RowFigures r;
    r.constraint = ref.constraint;
    r.keys = p.instance_keys(ref);
    r.name = p.instance_name(ref);
    r.line = p.instance_line(ref);
    r.bound_of = p.column_name(column);
    r.activity = reported_value(x[column], false);
    bool sets_lower = p.lower_source[column] == source, sets_upper = p.upper_source[column] == source;
    r.lower = sets_lower ? side(p.col_lower[column]) : -kInfinity;
    r.upper = sets_upper ? side(p.col_upper[column]) : kInfinity;
    r.slack = slack_of(x[column], r.lower, r.upper);
    r.binding = binds(x[column], r.lower, r.upper);
    r.dual = r.binding ? reported_value(f.column_dual[column], false) : 0.0;
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

double objective_value(const Program& p, const std::vector<double>& x) {
    double v = p.offset;
    for (uint32_t j = 0; j < p.columns(); ++j) v += p.cost[j] * x[j];
    return v;
}

}  // namespace

double binding_tolerance(double side) { return 1e-7 * (1 + std::fabs(side)); }

Sensitivity shape_sensitivity(const Program& p, const std::vector<double>& x, const SolverFigures& f,
                              bool fixed_integers) {
    Sensitivity s;
    s.fixed_integers = fixed_integers;
    s.has_ranging = f.has_ranging;
    s.rows.reserve(p.rows());
    for (uint32_t i = 0; i < p.rows(); ++i) {
        RowFigures r;
        r.constraint = p.row_origin[i].constraint;
        r.keys = p.instance_keys(p.row_origin[i]);
        r.name = p.row_name(i);
        r.line = p.row_line(i);
        r.activity = reported_value(f.row_activity[i], false);
        r.lower = side(p.row_lower[i]);
        r.upper = side(p.row_upper[i]);
        r.slack = slack_of(f.row_activity[i], r.lower, r.upper);
        r.binding = binds(f.row_activity[i], r.lower, r.upper);
        r.dual = reported_value(f.row_dual[i], false);
        if (f.has_ranging) {
            if (r.binding) {
                r.rhs = range_of(p, f.bound_down[i], f.bound_up[i]);
            } else {
                // A row that does not bind keeps the basis until its side
                // reaches the activity; the objective stays as it is.
                Range loose;
                double objective = reported_value(objective_value(p, x), false);
                loose.low = std::isfinite(r.upper) ? r.activity : -kInfinity;
                loose.high = std::isfinite(r.lower) ? r.activity : kInfinity;
                if (std::isfinite(r.upper) && std::isfinite(r.lower)) loose = {};  // a range row: two sides
                loose.objective_at_low = loose.objective_at_high = objective;
                if (!(std::isfinite(r.upper) && std::isfinite(r.lower))) r.rhs = loose;
            }
        }
        s.rows.push_back(std::move(r));
    }
    for (uint32_t j = 0; j < p.lower_source.size(); ++j) {
        uint32_t low = p.lower_source[j], high = p.upper_source[j];
        if (low != kNone) s.rows.push_back(folded_row(p, x, f, low, j));
        if (high != kNone && high != low) s.rows.push_back(folded_row(p, x, f, high, j));
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
        return a->binding && !b->binding;
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
