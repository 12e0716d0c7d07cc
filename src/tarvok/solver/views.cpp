#include "solver/views.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <unordered_map>

namespace tarvok::solver {

std::string report_for_files(const Source& source, std::string model_name, std::string data_name) {
    const compiler::Compilation& c = *source.compilation;
    compiler::FileNames names{std::move(model_name), std::move(data_name), c.data_origin};
    return compiler::render_for_files(c.diagnostics, source.model_text, source.data_text, names);
}

json::Value reported_number(double v, bool integer) {
    v = reported_value(v, integer);
    if (integer && std::fabs(v) < 9e15) return json::Value::of(static_cast<int64_t>(v));
    return json::Value::real(v);
}

json::Value figure(double v) { return std::isfinite(v) ? json::Value::real(v) : json::Value::null(); }

namespace {

/// Lists nested over the dimensions of `b`, last dimension innermost; `leaf`
/// gives the value of the block's next column.
json::Value nested(const VariableBlock& b, size_t level, const std::function<json::Value()>& leaf) {
    if (level == b.dims.size()) return leaf();
    uint64_t n = b.dims[level]->size();
    json::Value out = json::Value::array();
    for (uint64_t i = 0; i < n; ++i) out.add(nested(b, level + 1, leaf));
    return out;
}

/// Dicts nested over the dimensions of `b`, keyed by the elements as names
/// write them (as a constraint's figures are by its forall values); `leaf`
/// gives the value of the block's next column.
json::Value labelled(const Program& p, const VariableBlock& b, size_t level, const std::function<json::Value()>& leaf) {
    if (level == b.dims.size()) return leaf();
    const tc::Domain& set = *b.dims[level];
    json::Value out = json::Value::object();
    out.members().reserve(set.size());
    for (uint64_t i = 0; i < set.size(); ++i) out.add(p.key_text(set.at(i)), labelled(p, b, level + 1, leaf));
    return out;
}

/// A set element as the host holds it: an int, float, bool or text, a tuple
/// element as the tuple of its fields.
json::Value element(const Program& p, const tc::Value& v) {
    switch (v.kind) {
    case tc::VKind::Int: return json::Value::of(v.i);
    case tc::VKind::Bool: return json::Value::of(v.i != 0);
    case tc::VKind::Float: return json::Value::real(v.f);
    case tc::VKind::Tuple: {
        const std::vector<tc::Value>& fields = p.compilation().values.tuples[v.id];
        json::Value t = json::Value::tuple();
        for (const tc::Value& field : fields) t.add(element(p, field));
        return t;
    }
    default: return json::Value::of(p.key_text(v));
    }
}

/// (key, value) pairs of `b`'s columns in column order, the key the element
/// of a one-index variable or the tuple of the elements of a several-index one.
json::Value keyed(const Program& p, const VariableBlock& b, const std::function<json::Value(uint32_t)>& pick) {
    json::Value out = json::Value::array();
    std::vector<tc::Value> keys(b.dims.size());
    for (uint32_t j = 0; j < b.count; ++j) {
        uint64_t offset = j;
        for (size_t k = b.dims.size(); k-- > 0;) {
            keys[k] = b.dims[k]->at(offset % b.dims[k]->size());
            offset /= b.dims[k]->size();
        }
        json::Value key = json::Value::tuple();
        for (const tc::Value& v : keys) key.add(element(p, v));
        if (keys.size() == 1) key = json::Value(key.items().front());
        out.add(json::Value::tuple().add(std::move(key)).add(pick(b.first + j)));
    }
    return out;
}

/// {variable: its values shaped as `form` says}, `pick` giving column j's value.
json::Value per_variable(const Program& p, const std::function<json::Value(uint32_t)>& pick, Labels form) {
    json::Value out = json::Value::object();
    for (const VariableBlock& b : p.variables) {
        uint32_t next = b.first;
        auto leaf = [&] { return pick(next++); };
        if (b.dims.empty() || form == Labels::Positions)
            out.add(b.name, nested(b, 0, leaf));
        else if (form == Labels::Texts)
            out.add(b.name, labelled(p, b, 0, leaf));
        else
            out.add(b.name, keyed(p, b, pick));
    }
    return out;
}

/// {constraint label: figure, or dicts nested by the forall values}, in
/// model order. A later row with the same label and keys replaces the
/// earlier figure, as assigning into a dict does.
json::Value per_constraint(const Program& p, const Sensitivity& s,
                           const std::function<json::Value(const RowFigures&)>& pick) {
    std::vector<const RowFigures*> order;
    for (const RowFigures& r : s.rows) order.push_back(&r);
    std::stable_sort(order.begin(), order.end(), [](const RowFigures* a, const RowFigures* b) {
        return a->constraint != b->constraint ? a->constraint < b->constraint : a->instance < b->instance;
    });
    json::Value out = json::Value::object();
    // Where each dict built so far keeps a key, by the path to it: lookups stay
    // constant-time however many instances a constraint has.
    std::unordered_map<std::string, size_t> index;
    auto member = [&](json::Value& level, std::string& path, const std::string& key, json::Value fresh,
                      bool replace) -> json::Value& {
        path += std::to_string(key.size()) + ':' + key;
        auto [at, added] = index.emplace(path, level.members().size());
        if (added)
            level.add(key, std::move(fresh));
        else if (replace || level.members()[at->second].second.kind() != json::Value::Kind::Object)
            level.members()[at->second].second = std::move(fresh);
        return level.members()[at->second].second;
    };
    for (const RowFigures* r : order) {
        const std::string& label = p.constraint_base_name(r->constraint);
        std::string path;
        if (r->keys.empty()) {
            member(out, path, label, pick(*r), true);
            continue;
        }
        json::Value* level = &member(out, path, label, json::Value::object(), false);
        for (size_t k = 0; k + 1 < r->keys.size(); ++k)
            level = &member(*level, path, r->keys[k], json::Value::object(), false);
        member(*level, path, r->keys.back(), pick(*r), true);
    }
    return out;
}

json::Value name_or_none(const std::string& name) { return name.empty() ? json::Value::null() : json::Value::of(name); }

json::Value range_dict(const std::optional<Range>& r) {
    if (!r) return json::Value::null();
    return json::Value::object()
        .add("low", figure(r->low))
        .add("high", figure(r->high))
        .add("objective_at_low", figure(r->objective_at_low))
        .add("objective_at_high", figure(r->objective_at_high))
        .add("entering_at_low", name_or_none(r->entering_at_low))
        .add("leaving_at_low", name_or_none(r->leaving_at_low))
        .add("entering_at_high", name_or_none(r->entering_at_high))
        .add("leaving_at_high", name_or_none(r->leaving_at_high));
}

json::Value count(const std::optional<int64_t>& n) { return n ? json::Value::of(*n) : json::Value::null(); }

template <typename Name>
json::Value names(uint32_t count, Name name) {
    json::Value out = json::Value::array();
    for (uint32_t i = 0; i < count; ++i) out.add(json::Value::of(name(i)));
    return out;
}

}  // namespace

json::Value solution_values(const Program& p, const std::vector<double>& x, Labels form) {
    json::Value out = per_variable(
        p, [&](uint32_t j) { return reported_number(x[j], p.integrality[j] != 0); }, form);
    for (const DecisionExpression& d : p.dexprs) out.add(d.name, reported_number(d.form.value(x.data()), d.integer));
    return out;
}

json::Value program_statistics(const Program& p) {
    return json::Value::object()
        .add("columns", json::Value::of(p.columns()))
        .add("rows", json::Value::of(p.rows()))
        .add("nonzeros", json::Value::of(static_cast<int64_t>(p.nonzeros())))
        .add("integer_columns", json::Value::of(p.integer_columns()))
        .add("folded_bounds", json::Value::of(static_cast<int64_t>(p.folded_bounds)))
        .add("compile_seconds", json::Value::real(p.compile_seconds))
        .add("instantiation_seconds", json::Value::real(p.instantiate_seconds));
}

json::Value solve_statistics(const Program& p, const SolveReport& r) {
    json::Value s = program_statistics(p);
    s.add("solve_seconds", json::Value::real(r.solve_seconds));
    s.add("mip_gap", r.mip_gap ? json::Value::real(*r.mip_gap) : json::Value::null());
    if (!r.used_solver) return s;
    s.add("threads", count(r.counts.threads));
    if (std::isfinite(r.outcome.best_bound)) s.add("best_bound", json::Value::real(r.outcome.best_bound));
    s.add("simplex_iterations", count(r.counts.simplex_iterations));
    s.add("mip_nodes", p.integer_columns() > 0 ? count(r.counts.mip_nodes) : json::Value::null());
    return s;
}

json::Value culprit_list(const std::vector<Culprit>& culprits) {
    json::Value out = json::Value::array();
    for (const Culprit& c : culprits)
        out.add(json::Value::object()
                    .add("name", json::Value::of(c.name))
                    .add("line", json::Value::of(c.line))
                    .add("kind", json::Value::of(c.kind == Culprit::Kind::Bound ? "bound" : "constraint")));
    return out;
}

json::Value variable_list(const Program& p) {
    json::Value out = json::Value::array();
    for (const VariableBlock& b : p.variables) {
        json::Value shape = json::Value::tuple();
        for (const auto& dim : b.dims) shape.add(json::Value::of(static_cast<int64_t>(dim->size())));
        out.add(json::Value::object()
                    .add("name", json::Value::of(b.name))
                    .add("first_column", json::Value::of(b.first))
                    .add("shape", std::move(shape))
                    .add("integer", json::Value::of(b.integer))
                    .add("line", json::Value::of(b.at.line)));
    }
    return out;
}

json::Value dexpr_list(const Program& p) {
    json::Value out = json::Value::array();
    for (const DecisionExpression& x : p.dexprs) {
        json::Value columns = json::Value::array(), coefficients = json::Value::array();
        for (size_t k = 0; k < x.form.columns.size(); ++k) {
            columns.add(json::Value::of(x.form.columns[k]));
            coefficients.add(json::Value::real(x.form.coefficients[k]));
        }
        out.add(json::Value::object()
                    .add("name", json::Value::of(x.name))
                    .add("columns", std::move(columns))
                    .add("coefficients", std::move(coefficients))
                    .add("constant", json::Value::real(x.form.constant))
                    .add("line", json::Value::of(x.at.line)));
    }
    return out;
}

json::Value column_key_list(const Program& p) {
    json::Value out = json::Value::array();
    for (uint32_t j = 0; j < p.columns(); ++j) {
        std::vector<std::string> keys = p.column_keys(j);
        json::Value t = json::Value::tuple();
        for (std::string& key : keys) t.add(json::Value::of(std::move(key)));
        out.add(std::move(t));
    }
    return out;
}

json::Value column_name_list(const Program& p) {
    return names(p.columns(), [&](uint32_t j) { return p.column_name(j); });
}

json::Value row_name_list(const Program& p) {
    return names(p.rows(), [&](uint32_t i) { return p.row_name(i); });
}

json::Value row_line_list(const Program& p) {
    json::Value out = json::Value::array();
    for (uint32_t i = 0; i < p.rows(); ++i) out.add(json::Value::of(p.row_line(i)));
    return out;
}

json::Value Solved::objective() const {
    return outcome.has_solution ? json::Value::real(reported_value(outcome.objective, false)) : json::Value::null();
}

json::Value Solved::values(Labels form) const {
    return outcome.has_solution ? solution_values(*program, outcome.x, form) : json::Value::object();
}

json::Value Solved::infeasible() const { return culprit_list(outcome.culprits); }

json::Value Solved::message() const {
    return outcome.message.empty() ? json::Value::null() : json::Value::of(outcome.message);
}

json::Value Solved::duals() const {
    if (!sensitivity) return json::Value::null();
    return per_constraint(*program, *sensitivity, [](const RowFigures& r) { return figure(r.dual); });
}

json::Value Solved::activities() const {
    if (!sensitivity) return json::Value::null();
    return per_constraint(*program, *sensitivity, [](const RowFigures& r) { return figure(r.activity); });
}

json::Value Solved::slacks() const {
    if (!sensitivity) return json::Value::null();
    return per_constraint(*program, *sensitivity, [](const RowFigures& r) { return figure(r.slack); });
}

json::Value Solved::reduced_costs(Labels form) const {
    if (!sensitivity) return json::Value::null();
    return per_variable(
        *program, [&](uint32_t j) { return figure(sensitivity->columns[j].reduced_cost); }, form);
}

json::Value Solved::ranging() const {
    if (!sensitivity || !sensitivity->has_ranging) return json::Value::null();
    return json::Value::object()
        .add("costs",
             per_variable(
                 *program, [&](uint32_t j) { return range_dict(sensitivity->columns[j].cost); }, Labels::Texts))
        .add("rhs", per_constraint(*program, *sensitivity, [](const RowFigures& r) { return range_dict(r.rhs); }));
}

json::Value Solved::sensitivity_basis() const {
    if (!sensitivity) return json::Value::null();
    return json::Value::of(sensitivity->fixed_integers ? "fixed_integers" : "lp");
}

json::Value Solved::to_dict(bool nested) const {
    Labels form = nested ? Labels::Positions : Labels::Texts;
    json::Value d = json::Value::object()
                        .add("status", json::Value::of(status_word(outcome.status)))
                        .add("objective", objective())
                        .add("values", values(form))
                        .add("infeasible_constraints", infeasible())
                        .add("message", message())
                        .add("statistics", statistics);
    if (!sensitivity) return d;
    return d.add("sensitivity_basis", sensitivity_basis())
        .add("duals", duals())
        .add("reduced_costs", reduced_costs(form))
        .add("activities", activities())
        .add("slacks", slacks())
        .add("ranging", ranging());
}

json::Value Solved::answer() const {
    json::Value all = values(Labels::Texts);
    const json::Value* answer = all.kind() == json::Value::Kind::Object ? all.find("answer") : nullptr;
    return answer != nullptr && answer->is_numeric() ? *answer : json::Value();
}

std::string Solved::summary() const {
    std::string report = solution_report(*program, outcome);
    if (sensitivity) report += sensitivity_report(*program, *sensitivity);
    return report;
}

Solved solved(std::shared_ptr<Program> program, SolveReport report) {
    json::Value statistics = solve_statistics(*program, report);
    return {std::move(program), std::move(report.outcome), std::move(report.sensitivity), std::move(statistics)};
}

std::string Solved::repr(const std::string& objective) const {
    std::string s = std::string("<SolveResult ") + status_word(outcome.status);
    if (outcome.has_solution) s += " objective=" + objective;
    return s + ">";
}

std::string program_repr(const Program& p) {
    return "<Program " + std::to_string(p.columns()) + " columns (" + std::to_string(p.integer_columns()) +
           " integer), " + std::to_string(p.rows()) + " rows, " + std::to_string(p.nonzeros()) + " nonzeros, " +
           (p.sense == Sense::Maximize ? "maximize" : "minimize") + ">";
}

namespace {

std::string html_escaped(std::string_view text) {
    std::string out;
    for (char ch : text) {
        switch (ch) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += ch;
        }
    }
    return out;
}

std::string shown_number(const json::Value& t) {
    if (t.kind() == json::Value::Kind::Integer) return std::to_string(t.integer());
    if (t.kind() != json::Value::Kind::Number) return "";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.10g", t.number());
    return buffer;
}

/// Rows (keys, value) of a value labelled by texts, keys outermost first.
void labelled_rows(const json::Value& t, std::vector<std::string>& keys,
                   std::vector<std::pair<std::vector<std::string>, std::string>>& rows, size_t limit) {
    if (rows.size() > limit) return;
    if (t.kind() != json::Value::Kind::Object) {
        rows.emplace_back(keys, shown_number(t));
        return;
    }
    for (const auto& [key, item] : t.members()) {
        keys.push_back(key);
        labelled_rows(item, keys, rows, limit);
        keys.pop_back();
    }
}

}  // namespace

std::string Solved::html(size_t max_rows) const {
    std::string out = "<table>\n<caption>" + std::string(status_word(outcome.status));
    if (outcome.has_solution) out += ", objective " + shown_number(objective());
    out += "</caption>\n<tr><th>name</th><th>index</th><th>value</th></tr>\n";
    std::vector<std::pair<std::vector<std::string>, std::string>> rows;
    std::vector<std::pair<std::string, size_t>> starts;
    json::Value shown = values(Labels::Texts);
    for (const auto& [name, value] : shown.members()) {
        starts.emplace_back(name, rows.size());
        std::vector<std::string> keys;
        labelled_rows(value, keys, rows, max_rows);
    }
    for (size_t k = 0; k < starts.size(); ++k) {
        size_t end = k + 1 < starts.size() ? starts[k + 1].second : rows.size();
        for (size_t i = starts[k].second; i < end && i < max_rows; ++i) {
            std::string index;
            for (const std::string& key : rows[i].first) index += (index.empty() ? "" : ",") + key;
            out += "<tr><td>" + html_escaped(starts[k].first) + "</td><td>" + html_escaped(index) + "</td><td>" +
                   rows[i].second + "</td></tr>\n";
        }
    }
    if (rows.size() > max_rows) out += "<tr><td colspan=\"3\">… more values; see to_pandas()</td></tr>\n";
    return out + "</table>";
}

}  // namespace tarvok::solver
