#include "solver/views.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <unordered_map>

namespace tarvok::solver {

namespace {

compiler::tree::NodeId add_neutral(compiler::tree::Builder& b, const Tree& t) {
    using K = compiler::tree::Kind;
    size_t at = b.mark();
    switch (t.kind) {
    case Tree::Kind::None: return b.none();
    case Tree::Kind::Bool: return b.boolean(t.boolean);
    case Tree::Kind::Int: return b.integer(t.integer);
    case Tree::Kind::Float: return b.real(t.number);
    case Tree::Kind::Text: return b.text(t.text);
    case Tree::Kind::List:
    case Tree::Kind::Tuple:
        for (const Tree& item : t.items) b.push(add_neutral(b, item));
        return b.close(t.kind == Tree::Kind::List ? K::List : K::Tuple, at);
    case Tree::Kind::Dict:
        for (const auto& [key, value] : t.members) {
            compiler::tree::NodeId name = b.text(key);
            b.push(name);
            b.push(add_neutral(b, value));
        }
        return b.close(K::Dict, at);
    }
    return b.none();
}

}  // namespace

std::string report_for_files(const Source& source, std::string model_name, std::string data_name) {
    const compiler::Compilation& c = *source.compilation;
    compiler::FileNames names{std::move(model_name), std::move(data_name), c.data_origin};
    return compiler::render_for_files(c.diagnostics, source.model_text, source.data_text, names);
}

compiler::tree::Tree neutral_tree(const Tree& t) {
    compiler::tree::Builder b;
    add_neutral(b, t);
    return b.finish();
}

Tree Tree::flag(bool b) {
    Tree t;
    t.kind = Kind::Bool;
    t.boolean = b;
    return t;
}

Tree Tree::whole(int64_t i) {
    Tree t;
    t.kind = Kind::Int;
    t.integer = i;
    return t;
}

Tree Tree::real(double d) {
    Tree t;
    t.kind = Kind::Float;
    t.number = d;
    return t;
}

Tree Tree::str(std::string s) {
    Tree t;
    t.kind = Kind::Text;
    t.text = std::move(s);
    return t;
}

Tree Tree::list(size_t reserve) {
    Tree t;
    t.kind = Kind::List;
    t.items.reserve(reserve);
    return t;
}

Tree Tree::tuple(size_t reserve) {
    Tree t = list(reserve);
    t.kind = Kind::Tuple;
    return t;
}

Tree Tree::dict() {
    Tree t;
    t.kind = Kind::Dict;
    return t;
}

Tree& Tree::add(std::string key, Tree value) {
    members.emplace_back(std::move(key), std::move(value));
    return *this;
}

Tree& Tree::add(Tree value) {
    items.push_back(std::move(value));
    return *this;
}

Tree* Tree::find(std::string_view key) {
    for (auto& [name, value] : members)
        if (name == key) return &value;
    return nullptr;
}

Tree reported_number(double v, bool integer) {
    v = reported_value(v, integer);
    if (integer && std::fabs(v) < 9e15) return Tree::whole(static_cast<int64_t>(v));
    return Tree::real(v);
}

Tree figure(double v) { return std::isfinite(v) ? Tree::real(v) : Tree::none(); }

namespace {

/// Lists nested over the dimensions of `b`, last dimension innermost; `leaf`
/// gives the value of the block's next column.
Tree nested(const VariableBlock& b, size_t level, const std::function<Tree()>& leaf) {
    if (level == b.dims.size()) return leaf();
    uint64_t n = b.dims[level]->size();
    Tree out = Tree::list(n);
    for (uint64_t i = 0; i < n; ++i) out.add(nested(b, level + 1, leaf));
    return out;
}

/// Dicts nested over the dimensions of `b`, keyed by the elements as names
/// write them (as a constraint's figures are by its forall values); `leaf`
/// gives the value of the block's next column.
Tree labelled(const Program& p, const VariableBlock& b, size_t level, const std::function<Tree()>& leaf) {
    if (level == b.dims.size()) return leaf();
    const tc::Domain& set = *b.dims[level];
    Tree out = Tree::dict();
    out.members.reserve(set.size());
    for (uint64_t i = 0; i < set.size(); ++i) out.add(p.key_text(set.at(i)), labelled(p, b, level + 1, leaf));
    return out;
}

/// A set element as the host holds it: an int, float, bool or text, a tuple
/// element as the tuple of its fields.
Tree element(const Program& p, const tc::Value& v) {
    switch (v.kind) {
    case tc::VKind::Int: return Tree::whole(v.i);
    case tc::VKind::Bool: return Tree::flag(v.i != 0);
    case tc::VKind::Float: return Tree::real(v.f);
    case tc::VKind::Tuple: {
        const std::vector<tc::Value>& fields = p.compilation().values.tuples[v.id];
        Tree t = Tree::tuple(fields.size());
        for (const tc::Value& field : fields) t.add(element(p, field));
        return t;
    }
    default: return Tree::str(p.key_text(v));
    }
}

/// (key, value) pairs of `b`'s columns in column order, the key the element
/// of a one-index variable or the tuple of the elements of a several-index one.
Tree keyed(const Program& p, const VariableBlock& b, const std::function<Tree(uint32_t)>& pick) {
    Tree out = Tree::list(b.count);
    std::vector<tc::Value> keys(b.dims.size());
    for (uint32_t j = 0; j < b.count; ++j) {
        uint64_t offset = j;
        for (size_t k = b.dims.size(); k-- > 0;) {
            keys[k] = b.dims[k]->at(offset % b.dims[k]->size());
            offset /= b.dims[k]->size();
        }
        Tree key = Tree::tuple(keys.size());
        for (const tc::Value& v : keys) key.add(element(p, v));
        if (keys.size() == 1) key = Tree(key.items.front());
        out.add(Tree::tuple(2).add(std::move(key)).add(pick(b.first + j)));
    }
    return out;
}

/// {variable: its values shaped as `form` says}, `pick` giving column j's value.
Tree per_variable(const Program& p, const std::function<Tree(uint32_t)>& pick, Labels form) {
    Tree out = Tree::dict();
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
Tree per_constraint(const Program& p, const Sensitivity& s, const std::function<Tree(const RowFigures&)>& pick) {
    std::vector<const RowFigures*> order;
    for (const RowFigures& r : s.rows) order.push_back(&r);
    std::stable_sort(order.begin(), order.end(), [](const RowFigures* a, const RowFigures* b) {
        return a->constraint != b->constraint ? a->constraint < b->constraint : a->instance < b->instance;
    });
    Tree out = Tree::dict();
    // Where each dict built so far keeps a key, by the path to it: lookups stay
    // constant-time however many instances a constraint has.
    std::unordered_map<std::string, size_t> index;
    auto member = [&](Tree& level, std::string& path, const std::string& key, Tree fresh, bool replace) -> Tree& {
        path += std::to_string(key.size()) + ':' + key;
        auto [at, added] = index.emplace(path, level.members.size());
        if (added)
            level.add(key, std::move(fresh));
        else if (replace || level.members[at->second].second.kind != Tree::Kind::Dict)
            level.members[at->second].second = std::move(fresh);
        return level.members[at->second].second;
    };
    for (const RowFigures* r : order) {
        const std::string& label = p.constraint_base_name(r->constraint);
        std::string path;
        if (r->keys.empty()) {
            member(out, path, label, pick(*r), true);
            continue;
        }
        Tree* level = &member(out, path, label, Tree::dict(), false);
        for (size_t k = 0; k + 1 < r->keys.size(); ++k) level = &member(*level, path, r->keys[k], Tree::dict(), false);
        member(*level, path, r->keys.back(), pick(*r), true);
    }
    return out;
}

Tree name_or_none(const std::string& name) { return name.empty() ? Tree::none() : Tree::str(name); }

Tree range_dict(const std::optional<Range>& r) {
    if (!r) return Tree::none();
    return Tree::dict()
        .add("low", figure(r->low))
        .add("high", figure(r->high))
        .add("objective_at_low", figure(r->objective_at_low))
        .add("objective_at_high", figure(r->objective_at_high))
        .add("entering_at_low", name_or_none(r->entering_at_low))
        .add("leaving_at_low", name_or_none(r->leaving_at_low))
        .add("entering_at_high", name_or_none(r->entering_at_high))
        .add("leaving_at_high", name_or_none(r->leaving_at_high));
}

Tree count(const std::optional<int64_t>& n) { return n ? Tree::whole(*n) : Tree::none(); }

template <typename Name>
Tree names(uint32_t count, Name name) {
    Tree out = Tree::list(count);
    for (uint32_t i = 0; i < count; ++i) out.add(Tree::str(name(i)));
    return out;
}

}  // namespace

Tree solution_values(const Program& p, const std::vector<double>& x, Labels form) {
    Tree out = per_variable(
        p, [&](uint32_t j) { return reported_number(x[j], p.integrality[j] != 0); }, form);
    for (const DecisionExpression& d : p.dexprs) out.add(d.name, reported_number(d.form.value(x.data()), d.integer));
    return out;
}

Tree program_statistics(const Program& p) {
    return Tree::dict()
        .add("columns", Tree::whole(p.columns()))
        .add("rows", Tree::whole(p.rows()))
        .add("nonzeros", Tree::whole(static_cast<int64_t>(p.nonzeros())))
        .add("integer_columns", Tree::whole(p.integer_columns()))
        .add("folded_bounds", Tree::whole(static_cast<int64_t>(p.folded_bounds)))
        .add("compile_seconds", Tree::real(p.compile_seconds))
        .add("instantiation_seconds", Tree::real(p.instantiate_seconds));
}

Tree solve_statistics(const Program& p, const SolveReport& r) {
    Tree s = program_statistics(p);
    s.add("solve_seconds", Tree::real(r.solve_seconds));
    s.add("mip_gap", r.mip_gap ? Tree::real(*r.mip_gap) : Tree::none());
    if (!r.used_solver) return s;
    s.add("threads", count(r.counts.threads));
    if (std::isfinite(r.outcome.best_bound)) s.add("best_bound", Tree::real(r.outcome.best_bound));
    s.add("simplex_iterations", count(r.counts.simplex_iterations));
    s.add("mip_nodes", p.integer_columns() > 0 ? count(r.counts.mip_nodes) : Tree::none());
    return s;
}

Tree culprit_list(const std::vector<Culprit>& culprits) {
    Tree out = Tree::list(culprits.size());
    for (const Culprit& c : culprits)
        out.add(Tree::dict()
                    .add("name", Tree::str(c.name))
                    .add("line", Tree::whole(c.line))
                    .add("kind", Tree::str(c.kind == Culprit::Kind::Bound ? "bound" : "constraint")));
    return out;
}

Tree variable_list(const Program& p) {
    Tree out = Tree::list(p.variables.size());
    for (const VariableBlock& b : p.variables) {
        Tree shape = Tree::tuple(b.dims.size());
        for (const auto& dim : b.dims) shape.add(Tree::whole(static_cast<int64_t>(dim->size())));
        out.add(Tree::dict()
                    .add("name", Tree::str(b.name))
                    .add("first_column", Tree::whole(b.first))
                    .add("shape", std::move(shape))
                    .add("integer", Tree::flag(b.integer))
                    .add("line", Tree::whole(b.at.line)));
    }
    return out;
}

Tree dexpr_list(const Program& p) {
    Tree out = Tree::list(p.dexprs.size());
    for (const DecisionExpression& x : p.dexprs) {
        Tree columns = Tree::list(), coefficients = Tree::list();
        for (size_t k = 0; k < x.form.columns.size(); ++k) {
            columns.add(Tree::whole(x.form.columns[k]));
            coefficients.add(Tree::real(x.form.coefficients[k]));
        }
        out.add(Tree::dict()
                    .add("name", Tree::str(x.name))
                    .add("columns", std::move(columns))
                    .add("coefficients", std::move(coefficients))
                    .add("constant", Tree::real(x.form.constant))
                    .add("line", Tree::whole(x.at.line)));
    }
    return out;
}

Tree column_key_list(const Program& p) {
    Tree out = Tree::list(p.columns());
    for (uint32_t j = 0; j < p.columns(); ++j) {
        std::vector<std::string> keys = p.column_keys(j);
        Tree t = Tree::tuple(keys.size());
        for (std::string& key : keys) t.add(Tree::str(std::move(key)));
        out.add(std::move(t));
    }
    return out;
}

Tree column_name_list(const Program& p) {
    return names(p.columns(), [&](uint32_t j) { return p.column_name(j); });
}

Tree row_name_list(const Program& p) {
    return names(p.rows(), [&](uint32_t i) { return p.row_name(i); });
}

Tree row_line_list(const Program& p) {
    Tree out = Tree::list(p.rows());
    for (uint32_t i = 0; i < p.rows(); ++i) out.add(Tree::whole(p.row_line(i)));
    return out;
}

Tree Solved::objective() const {
    return outcome.has_solution ? Tree::real(reported_value(outcome.objective, false)) : Tree::none();
}

Tree Solved::values(Labels form) const {
    return outcome.has_solution ? solution_values(*program, outcome.x, form) : Tree::dict();
}

Tree Solved::infeasible() const { return culprit_list(outcome.culprits); }

Tree Solved::message() const { return outcome.message.empty() ? Tree::none() : Tree::str(outcome.message); }

Tree Solved::duals() const {
    if (!sensitivity) return Tree::none();
    return per_constraint(*program, *sensitivity, [](const RowFigures& r) { return figure(r.dual); });
}

Tree Solved::activities() const {
    if (!sensitivity) return Tree::none();
    return per_constraint(*program, *sensitivity, [](const RowFigures& r) { return figure(r.activity); });
}

Tree Solved::slacks() const {
    if (!sensitivity) return Tree::none();
    return per_constraint(*program, *sensitivity, [](const RowFigures& r) { return figure(r.slack); });
}

Tree Solved::reduced_costs(Labels form) const {
    if (!sensitivity) return Tree::none();
    return per_variable(
        *program, [&](uint32_t j) { return figure(sensitivity->columns[j].reduced_cost); }, form);
}

Tree Solved::ranging() const {
    if (!sensitivity || !sensitivity->has_ranging) return Tree::none();
    return Tree::dict()
        .add("costs",
             per_variable(
                 *program, [&](uint32_t j) { return range_dict(sensitivity->columns[j].cost); }, Labels::Texts))
        .add("rhs", per_constraint(*program, *sensitivity, [](const RowFigures& r) { return range_dict(r.rhs); }));
}

Tree Solved::sensitivity_basis() const {
    if (!sensitivity) return Tree::none();
    return Tree::str(sensitivity->fixed_integers ? "fixed_integers" : "lp");
}

Tree Solved::to_dict() const {
    Tree d = Tree::dict()
                 .add("status", Tree::str(status_word(outcome.status)))
                 .add("objective", objective())
                 .add("values", values(Labels::Texts))
                 .add("infeasible_constraints", infeasible())
                 .add("message", message())
                 .add("statistics", statistics);
    if (!sensitivity) return d;
    return d.add("sensitivity_basis", sensitivity_basis())
        .add("duals", duals())
        .add("reduced_costs", reduced_costs(Labels::Texts))
        .add("activities", activities())
        .add("slacks", slacks())
        .add("ranging", ranging());
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

std::string shown_number(const Tree& t) {
    if (t.kind == Tree::Kind::Int) return std::to_string(t.integer);
    if (t.kind != Tree::Kind::Float) return "";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.10g", t.number);
    return buffer;
}

/// Rows (keys, value) of a value labelled by texts, keys outermost first.
void labelled_rows(const Tree& t, std::vector<std::string>& keys,
                   std::vector<std::pair<std::vector<std::string>, std::string>>& rows, size_t limit) {
    if (rows.size() > limit) return;
    if (t.kind != Tree::Kind::Dict) {
        rows.emplace_back(keys, shown_number(t));
        return;
    }
    for (const auto& [key, item] : t.members) {
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
    for (const auto& [name, value] : values(Labels::Texts).members) {
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

std::string Solved::summary() const {
    std::string report = solution_report(*program, outcome);
    if (sensitivity) report += sensitivity_report(*program, *sensitivity);
    return report;
}

Solved solved(std::shared_ptr<Program> program, SolveReport report) {
    Tree statistics = solve_statistics(*program, report);
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

}  // namespace tarvok::solver
