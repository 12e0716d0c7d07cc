#include "compiler/evaluate.hpp"

#include <charconv>
#include <cmath>
#include <limits>

namespace tarvok::compiler {

// ----------------------------------------------------------- values.hpp ----

size_t TuplePool::Hash::operator()(const std::vector<Value>* v) const {
    size_t h = v->size();
    for (const Value& x : *v) h = h * 1000003u ^ ValueHash {}(x);
    return h;
}

uint32_t TuplePool::intern(const std::vector<Value>& elements) {
    auto it = index_.find(&elements);
    if (it != index_.end()) return it->second;
    items_.push_back(std::make_unique<std::vector<Value>>(elements));
    uint32_t id = static_cast<uint32_t>(items_.size() - 1);
    index_.emplace(items_.back().get(), id);
    return id;
}

std::shared_ptr<Domain> Domain::range(int64_t low, int64_t high) {
    auto d = std::make_shared<Domain>();
    d->is_range = true;
    d->low = low;
    d->high = high;
    return d;
}

uint64_t Domain::size() const {
    if (!is_range) return elements.size();
    if (high < low) return 0;
    uint64_t span = static_cast<uint64_t>(high) - static_cast<uint64_t>(low);
    return span == std::numeric_limits<uint64_t>::max() ? span : span + 1;  // the full int range saturates
}

bool Domain::add(const Value& v) {
    auto [it, fresh] = position.emplace(v, static_cast<uint32_t>(elements.size()));
    if (fresh) elements.push_back(v);
    return fresh;
}

std::optional<uint64_t> Domain::find(const Value& v) const {
    if (is_range) {
        if (v.kind != VKind::Int && v.kind != VKind::Bool) return std::nullopt;
        if (v.i < low || v.i > high) return std::nullopt;
        return static_cast<uint64_t>(v.i) - static_cast<uint64_t>(low);
    }
    auto it = position.find(v);
    if (it == position.end()) return std::nullopt;
    return it->second;
}

// ------------------------------------------------------------ evaluator ----

Evaluator::Evaluator(const Ast& ast, const Model& model, const Analysis& analysis, std::string_view model_text,
                     Values& values, Diagnostics& diagnostics, Budget& budget)
    : ast_(ast), model_(model), analysis_(analysis), source_(model_text), values_(values), diagnostics_(diagnostics),
      budget_(budget), env_(ast.bindings.size()), reported_(ast.exprs.size(), false) {}

std::string Evaluator::show(const Value& v) const {
    switch (v.kind) {
    case VKind::Unknown: return "?";
    case VKind::Int: return std::to_string(v.i);
    case VKind::Bool: return v.i ? "true" : "false";
    case VKind::Float: {
        char buffer[64];
        auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v.f);
        std::string s(buffer, end);
        if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
        return s;
    }
    case VKind::String: {
        std::string s = "\"";
        for (char c : quote_source(ast_.texts[v.id], 40)) {
            if (c == '"' || c == '\\') s += '\\';
            s += c;
        }
        return s + "\"";
    }
    case VKind::Tuple: {
        std::string s = "<";
        const std::vector<Value>& elements = values_.tuples[v.id];
        for (size_t i = 0; i < elements.size(); ++i) s += (i ? ", " : "") + show(elements[i]);
        return s + ">";
    }
    }
    return "?";
}

std::string Evaluator::quoted(ExprId id) const {
    const Expr& e = ast_[id];
    if (e.at.file != SourceFile::Model || e.at.offset >= source_.size() || e.end <= e.at.offset) return "''";
    return "'" + quote_source(source_.substr(e.at.offset, std::min<size_t>(e.end, source_.size()) - e.at.offset)) + "'";
}

std::string Evaluator::binding_values() const {
    std::string when;
    for (uint32_t b : active_)
        when +=
            (when.empty() ? ", when " : ", ") + shown_name(ast_.texts[ast_.bindings[b].name]) + " = " + show(env_[b]);
    return when;
}

void Evaluator::report(ExprId node, Code code, const std::string& message) {
    if (reported_[node]) return;
    reported_[node] = true;
    diagnostics_.error(code, ast_[node].at, message + binding_values(), ast_[node].end);
}

Value Evaluator::divisor(ExprId id) {
    Value v = value(id);
    if (v.known() && v.number() == 0) {
        report(id, Code::DivisionByZero, "division by zero in data: the divisor " + quoted(id) + " is 0");
        return {};
    }
    return v;
}

Value Evaluator::convert(const Value& v, const ValueType& t) {
    switch (t.base) {
    case Base::Float:
        if (v.kind == VKind::Int || v.kind == VKind::Bool) return Value::real(static_cast<double>(v.i));
        return v;
    case Base::Int:
        if (v.kind == VKind::Bool) return Value::integer(v.i);
        return v;
    case Base::Boolean:
        if (v.kind == VKind::Int && (v.i == 0 || v.i == 1)) return Value::boolean(v.i == 1);
        return v;
    case Base::Tuple: {
        if (v.kind != VKind::Tuple || t.tuple == kNone) return v;
        const std::vector<TupleField>& fields = model_.decls[t.tuple].fields;
        std::vector<Value> elements = values_.tuples[v.id];
        if (elements.size() != fields.size()) return v;
        bool changed = false;
        for (size_t i = 0; i < elements.size(); ++i) {
            Value c = convert(elements[i], value_type(fields[i].type));
            changed = changed || c != elements[i];
            elements[i] = c;
        }
        return changed ? Value::tuple(values_.tuples.intern(elements)) : v;
    }
    default: return v;
    }
}

std::optional<uint64_t> Evaluator::position(const Domain& d, const Value& v) { return d.find(convert(v, d.element)); }

std::string Evaluator::dimension_text(const Declaration& d, size_t k) const {
    const Expr& dim = ast_[d.dims[k]];
    const DeclValue& dv = values_.decls[&d - model_.decls.data()];
    const Domain* domain = dv.dims[k].get();
    std::string bounds =
        domain && domain->is_range ? std::to_string(domain->low) + ".." + std::to_string(domain->high) : std::string();
    if (dim.kind == ExprKind::Name) {
        std::string name = "'" + shown_name(ast_.texts[dim.text()]) + "'";
        return bounds.empty() ? name : name + " (" + bounds + ")";
    }
    return bounds;
}

std::string Evaluator::index_fault_message(ExprId index_node, uint32_t k, const Value& value) const {
    const Expr& e = ast_[index_node];
    const Expr& target = ast_[e.target()];
    const Declaration& d = model_.decls[target.ref];
    const Domain* domain = values_.decls[target.ref].dims[k].get();
    ExprId ix = ast_.links[e.first + k].expr;
    std::string shown = show(value);
    std::string text = quoted(ix);
    std::string index = text == "'" + shown + "'" ? "index " + shown : "index " + text + " = " + shown;
    std::string array = "'" + shown_name(ast_.texts[d.name]) + "'";
    return index + " of " + array + (domain && domain->is_range ? " is outside " : " is not in ") +
           dimension_text(d, k);
}

void Evaluator::report_index_fault(ExprId index_node, uint32_t k, const Value& value) {
    ExprId ix = ast_.links[ast_[index_node].first + k].expr;
    if (reported_[ix] || !diagnostics_.accepting(ast_[ix].at)) return;
    report(ix, Code::IndexOutside, index_fault_message(index_node, k, value));
}

void Evaluator::check_index(ExprId id, uint32_t k) {
    if (!budget_.spend()) return;
    const Expr& e = ast_[id];
    const Expr& target = ast_[e.target()];
    if (target.ref_kind != RefKind::Declaration) return;
    const Declaration& d = model_.decls[target.ref];
    const DeclValue& dv = values_.decls[target.ref];
    if (!dv.dims_known || d.dims.size() != e.count) return;
    Value v = value(ast_.links[e.first + k].expr);
    if (v.known() && !position(*dv.dims[k], v)) report_index_fault(id, k, v);
}

std::optional<uint64_t> Evaluator::locate(ExprId id) {
    const Expr& e = ast_[id];
    const Expr& target = ast_[e.target()];
    if (target.ref_kind != RefKind::Declaration) return std::nullopt;
    const Declaration& d = model_.decls[target.ref];
    const DeclValue& dv = values_.decls[target.ref];
    bool inside = dv.dims_known && d.dims.size() == e.count;
    uint64_t offset = 0;
    for (uint32_t k = 0; k < e.count; ++k) {
        ExprId ix = ast_.links[e.first + k].expr;
        Value v = value(ix);
        if (!v.known() || !inside) {
            inside = false;
            continue;
        }
        const Domain& domain = *dv.dims[k];
        std::optional<uint64_t> p = position(domain, v);
        if (!p) {
            report_index_fault(id, k, v);
            inside = false;
            continue;
        }
        uint64_t size = domain.size();
        offset = size != 0 && offset > std::numeric_limits<uint64_t>::max() / size ? 0 : offset * size + *p;
    }
    if (!inside) return std::nullopt;
    return offset;
}

Value Evaluator::value(ExprId id) {
    if (!budget_.spend()) return {};
    const Expr& e = ast_[id];
    switch (e.kind) {
    case ExprKind::Number: {
        Number n = e.number();
        return n.is_int ? Value::integer(n.integer) : Value::real(n.real);
    }
    case ExprKind::String: return Value::string(e.text());
    case ExprKind::Bool: return Value::boolean(e.flag);
    case ExprKind::Name: return name_value(e);
    case ExprKind::Index: return index_value(id);
    case ExprKind::Field: return field_value(id);
    case ExprKind::TupleLiteral: {
        std::vector<Value> elements;
        bool known = true;
        for (uint32_t i = 0; i < e.count; ++i) {
            Value v = value(ast_.links[e.first + i].expr);
            known = known && v.known();
            if (v.kind == VKind::Bool) v = Value::integer(v.i);
            elements.push_back(v);
        }
        if (!known) return {};
        return Value::tuple(values_.tuples.intern(elements));
    }
    case ExprKind::Unary: {
        Value v = value(e.operand());
        if (!v.known()) return {};
        if (e.op == Op::Not) return Value::boolean(!truthy(v));
        if (v.kind == VKind::Float) return Value::real(-v.f);
        if (v.i == std::numeric_limits<int64_t>::min()) {
            report(id, Code::IntegerOverflow, "integer overflow in " + quoted(id));
            return {};
        }
        return Value::integer(-v.i);
    }
    case ExprKind::Chain: return chain_value(id);
    case ExprKind::Compare: return compare_value(id);
    case ExprKind::In: {
        std::shared_ptr<const Domain> d = domain(e.right);
        Value v = value(e.left);
        if (!d || !v.known()) return {};
        return Value::boolean(position(*d, v).has_value());
    }
    case ExprKind::Aggregate: return aggregate_value(id);
    case ExprKind::Abs: {
        Value v = value(e.operand());
        if (!v.known()) return {};
        if (v.kind == VKind::Float) return Value::real(std::fabs(v.f));
        if (v.i == std::numeric_limits<int64_t>::min()) {
            report(id, Code::IntegerOverflow, "integer overflow in " + quoted(id));
            return {};
        }
        return Value::integer(v.i < 0 ? -v.i : v.i);
    }
    case ExprKind::Card: {
        std::shared_ptr<const Domain> d = domain(e.operand());
        if (!d) return {};
        if (d->size() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
            report(id, Code::IntegerOverflow, "integer overflow in " + quoted(id));
            return {};
        }
        return Value::integer(static_cast<int64_t>(d->size()));
    }
    case ExprKind::SetLiteral:
    case ExprKind::ArrayLiteral:
    case ExprKind::Range: return {};
    }
    return {};
}

Value Evaluator::name_value(const Expr& e) {
    if (e.ref_kind == RefKind::Binding) return env_[e.ref];
    if (e.ref_kind != RefKind::Declaration) return {};
    const Declaration& d = model_.decls[e.ref];
    const DeclValue& dv = values_.decls[e.ref];
    if (d.kind != DeclKind::Parameter || !d.dims.empty() || !dv.known) return {};
    return dv.scalar;
}

Value Evaluator::index_value(ExprId id) {
    const Expr& e = ast_[id];
    std::optional<uint64_t> offset = locate(id);
    const Expr& target = ast_[e.target()];
    if (!offset || target.ref_kind != RefKind::Declaration) return {};
    const DeclValue& dv = values_.decls[target.ref];
    if (!dv.known || !dv.array || *offset >= dv.array->cells.size()) return {};
    return dv.array->cells[*offset];
}

Value Evaluator::field_value(ExprId id) {
    const Expr& e = ast_[id];
    Value t = value(e.tuple());
    const ValueType& type = analysis_.info[e.tuple()].type;
    if (t.kind != VKind::Tuple || type.tuple == kNone) return {};
    const std::vector<TupleField>& fields = model_.decls[type.tuple].fields;
    const std::vector<Value>& elements = values_.tuples[t.id];
    for (size_t i = 0; i < fields.size() && i < elements.size(); ++i)
        if (fields[i].name == e.text()) return convert(elements[i], value_type(fields[i].type));
    return {};
}

Value Evaluator::chain_value(ExprId id) {
    const Expr& e = ast_[id];
    const Link* links = ast_.links_of(e);
    Op kind = links[1].op;
    if (kind == Op::And || kind == Op::Or) {
        // Short-circuit, so that 'i > 1 && a[i-1] > 0' never looks at a[0].
        bool unknown = false;
        for (uint32_t i = 0; i < e.count; ++i) {
            Value v = value(links[i].expr);
            if (!v.known()) {
                unknown = true;
                continue;
            }
            if (kind == Op::And && !truthy(v)) return Value::boolean(false);
            if (kind == Op::Or && truthy(v)) return Value::boolean(true);
        }
        if (unknown) return {};
        return Value::boolean(kind == Op::And);
    }
    Value acc = value(links[0].expr);
    bool known = acc.known();
    if (acc.kind == VKind::Bool) acc = Value::integer(acc.i);
    for (uint32_t i = 1; i < e.count; ++i) {
        Value v = value(links[i].expr);
        if (!known || !v.known()) {
            known = false;
            continue;
        }
        if (v.kind == VKind::Bool) v = Value::integer(v.i);
        Op op = links[i].op;
        auto term = [&] {  // the chain up to this operand, for messages
            size_t begin = std::min<size_t>(e.at.offset, source_.size());
            size_t end = std::min<size_t>(std::max(ast_[links[i].expr].end, e.at.offset), source_.size());
            return "'" + quote_source(source_.substr(begin, end - begin)) + "'";
        };
        if (op == Op::Divide) {
            if (v.number() == 0) {
                report(links[i].expr, Code::DivisionByZero,
                       "division by zero in data: " + term() + " divides by " + quoted(links[i].expr) + ", which is 0");
                known = false;
                continue;
            }
            acc = Value::real(acc.number() / v.number());
        } else if (acc.kind == VKind::Int && v.kind == VKind::Int) {
            int64_t r = 0;
            bool overflow = op == Op::Plus    ? __builtin_add_overflow(acc.i, v.i, &r)
                            : op == Op::Minus ? __builtin_sub_overflow(acc.i, v.i, &r)
                                              : __builtin_mul_overflow(acc.i, v.i, &r);
            if (overflow) {
                report(id, Code::IntegerOverflow, "integer overflow in " + term());
                known = false;
                continue;
            }
            acc = Value::integer(r);
        } else {
            double a = acc.number(), b = v.number();
            acc = Value::real(op == Op::Plus ? a + b : op == Op::Minus ? a - b : a * b);
        }
        if (acc.kind == VKind::Float && !std::isfinite(acc.f)) {
            report(id, Code::FloatTooLarge, "the value of " + term() + " is too large for a float");
            known = false;
        }
    }
    if (known && acc.kind == VKind::Float && std::fabs(acc.f) >= kSolverInfinity) {
        report(id, Code::BeyondSolverInfinity, beyond_solver_infinity("the value of " + quoted(id)));
        return {};
    }
    return known ? acc : Value{};
}

Value Evaluator::compare_value(ExprId id) {
    const Expr& e = ast_[id];
    Value a = value(e.left);
    Value b = value(e.right);
    if (!a.known() || !b.known()) return {};
    if (a.is_number() && b.is_number()) {
        bool exact = a.kind != VKind::Float && b.kind != VKind::Float;
        int order = exact ? (a.i < b.i   ? -1
                             : a.i > b.i ? 1
                                         : 0)
                          : (a.number() < b.number()   ? -1
                             : a.number() > b.number() ? 1
                                                       : 0);
        switch (e.op) {
        case Op::Eq: return Value::boolean(order == 0);
        case Op::Ne: return Value::boolean(order != 0);
        case Op::Lt: return Value::boolean(order < 0);
        case Op::Le: return Value::boolean(order <= 0);
        case Op::Gt: return Value::boolean(order > 0);
        case Op::Ge: return Value::boolean(order >= 0);
        default: return {};
        }
    }
    if (a.kind == VKind::Tuple && b.kind == VKind::Tuple) {
        const ValueType& ta = analysis_.info[e.left].type;
        const ValueType& tb = analysis_.info[e.right].type;
        const ValueType& t = ta.tuple != kNone ? ta : tb;
        a = convert(a, t);
        b = convert(b, t);
    }
    if (a.kind != b.kind) return {};
    if (e.op == Op::Eq) return Value::boolean(a == b);
    if (e.op == Op::Ne) return Value::boolean(a != b);
    return {};
}

Value Evaluator::aggregate_value(ExprId id) {
    const Expr& e = ast_[id];
    bool unknown = false;
    bool any = false;
    bool floats = analysis_.info[id].type.base == Base::Float;
    Value acc = floats ? Value::real(0) : Value::integer(0);
    bool completed = enumerate(e.first, e.count, e.condition(), [&] {
        Value v = value(e.body());
        if (!v.known()) {
            unknown = true;
            return false;
        }
        if (v.kind == VKind::Bool) v = Value::integer(v.i);
        if (e.op == Op::Sum) {
            if (acc.kind == VKind::Int && v.kind == VKind::Int) {
                int64_t r = 0;
                if (__builtin_add_overflow(acc.i, v.i, &r)) {
                    report(id, Code::IntegerOverflow, "integer overflow in " + quoted(id));
                    unknown = true;
                    return false;
                }
                acc = Value::integer(r);
            } else {
                acc = Value::real(acc.number() + v.number());
            }
        } else if (!any || (e.op == Op::Min ? v.number() < acc.number() : v.number() > acc.number())) {
            acc = floats ? Value::real(v.number()) : v;
        }
        any = true;
        return true;
    });
    if (!completed || unknown) return {};
    if (e.op != Op::Sum && !any) {
        report(id, Code::EmptyMinMax,
               std::string("'") + op_text(e.op) + "' over no elements has no value: " + quoted(id));
        return {};
    }
    if (acc.kind == VKind::Float && !std::isfinite(acc.f)) {
        report(id, Code::FloatTooLarge, "the value of " + quoted(id) + " is too large for a float");
        return {};
    }
    if (acc.kind == VKind::Float && std::fabs(acc.f) >= kSolverInfinity) {
        report(id, Code::BeyondSolverInfinity, beyond_solver_infinity("the value of " + quoted(id)));
        return {};
    }
    return acc;
}

std::shared_ptr<const Domain> Evaluator::domain(ExprId id) {
    const Expr& e = ast_[id];
    switch (e.kind) {
    case ExprKind::Name: {
        if (e.ref_kind != RefKind::Declaration) return nullptr;
        const DeclValue& dv = values_.decls[e.ref];
        DeclKind k = model_.decls[e.ref].kind;
        if ((k != DeclKind::Set && k != DeclKind::Range) || !dv.known) return nullptr;
        return dv.set;
    }
    case ExprKind::Range: {
        Value low = value(e.low());
        Value high = value(e.high());
        if (!low.known() || !high.known()) return nullptr;
        return Domain::range(low.i, high.i);
    }
    case ExprKind::SetLiteral: {
        auto d = std::make_shared<Domain>();
        d->element = analysis_.info[id].type;
        if (d->element.base == Base::Any || d->element.base == Base::Error) d->element = {Base::Int};
        for (uint32_t i = 0; i < e.count; ++i) {
            Value v = value(ast_.links[e.first + i].expr);
            if (!v.known()) return nullptr;
            d->add(convert(v, d->element));
        }
        return d;
    }
    default: return nullptr;
    }
}

}  // namespace tarvok::compiler
