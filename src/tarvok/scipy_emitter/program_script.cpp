#include "scipy_emitter/program_script.hpp"

#include "scipy_emitter/describe.hpp"
#include "scipy_emitter/standard_form.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace tarvok::scipy_emitter {

namespace {

/// The rows with the columns of each in ascending order.
SparseRows in_column_order(const SparseRows& rows) {
    SparseRows out;
    std::vector<size_t> order;
    for (size_t i = 0; i < rows.rows(); ++i) {
        order.resize(static_cast<size_t>(rows.starts[i + 1] - rows.starts[i]));
        std::iota(order.begin(), order.end(), static_cast<size_t>(rows.starts[i]));
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return rows.columns[a] < rows.columns[b]; });
        for (size_t k : order) {
            out.columns.push_back(rows.columns[k]);
            out.values.push_back(rows.values[k]);
        }
        out.end_row();
    }
    return out;
}

std::vector<std::string> row_names(const solver::Program& p, const StandardRows& rows) {
    std::vector<std::string> names;
    names.reserve(rows.origin.size());
    for (const RowOrigin& origin : rows.origin) names.push_back(p.row_name(origin.row));
    return names;
}

}  // namespace

ScriptInput program_script_input(const solver::Program& p) {
    ScriptInput in;
    describe_program(p, in);
    uint32_t n = p.columns();
    in.column_names.reserve(n);
    in.lower.resize(n);
    in.upper.resize(n);
    in.integer.resize(n);
    for (uint32_t j = 0; j < n; ++j) {
        in.column_names.push_back(p.column_name(j));
        in.lower[j] = std::isinf(p.col_lower[j]) ? -INFINITY : p.col_lower[j];
        in.upper[j] = std::isinf(p.col_upper[j]) ? INFINITY : p.col_upper[j];
        in.integer[j] = p.integrality[j] != 0 ? 1 : 0;
    }
    StandardObjective objective = standard_objective(p);
    in.maximize = objective.maximize;
    in.offset = objective.offset;
    in.cost = p.cost;  // the model's own coefficients: the script negates them itself
    StandardConstraints rows = standard_constraints(p);
    in.a_ub = in_column_order(rows.upper.matrix);
    in.b_ub = rows.upper.rhs;
    in.ub_names = row_names(p, rows.upper);
    in.a_eq = in_column_order(rows.equal.matrix);
    in.b_eq = rows.equal.rhs;
    in.eq_names = row_names(p, rows.equal);
    return in;
}

std::string script_text(const Script& script) {
    std::string text;
    for (const Line& line : script.lines) {
        text.append(4 * static_cast<size_t>(line.indent), ' ');
        text += line.text;
        text += '\n';
    }
    return text;
}

}  // namespace tarvok::scipy_emitter
