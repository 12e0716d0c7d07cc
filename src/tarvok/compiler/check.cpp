// Pass 2, types and linearity: works out what every expression denotes (a
// scalar of some type, a set, an array), whether it depends on decision
// variables and with what degree, and reports kind mismatches, unknown tuple
// fields, decision variables where data is required and non-linear terms.
#include "compiler/analysis.hpp"

#include <algorithm>
#include <string>
#include <vector>

namespace tarvok::compiler {

ValueType value_type(const TypeName& t) {
    switch (t.base) {
    case BaseType::Int: return {Base::Int};
    case BaseType::Float: return {Base::Float};
    case BaseType::String: return {Base::String};
    case BaseType::Boolean: return {Base::Boolean};
    case BaseType::Tuple: return t.decl == kNone ? ValueType{Base::Error} : ValueType{Base::Tuple, t.decl};
    }
    return {};
}

std::string type_text(const ValueType& t, const Ast& ast, const Model& model) {
    switch (t.base) {
    case Base::Int: return "int";
    case Base::Float: return "float";
    case Base::String: return "string";
    case Base::Boolean: return "boolean";
    case Base::Tuple: return t.tuple == kNone ? "tuple" : std::string(ast.texts[model.decls[t.tuple].name]);
    case Base::Any:
    case Base::Error: return "value";
    }
    return "";
}

std::string a_value_of(const ValueType& t, const Ast& ast, const Model& model) {
    std::string name = type_text(t, ast, model);
    if (t.base == Base::Tuple && t.tuple != kNone) return "a tuple of type '" + name + "'";
    bool vowel = name[0] == 'i' || name[0] == 'a' || name[0] == 'e' || name[0] == 'o' || name[0] == 'u';
    return (vowel ? "an " : "a ") + name;
}

std::string type_text(const TypeName& t, const Ast& ast) {
    switch (t.base) {
    case BaseType::Int: return "int";
    case BaseType::Float: return "float";
    case BaseType::String: return "string";
    case BaseType::Boolean: return "boolean";
    case BaseType::Tuple: return std::string(ast.texts[t.tuple]);
    }
    return "";
}

namespace {

bool numeric(Base b) { return b == Base::Int || b == Base::Float || b == Base::Boolean; }

/// Visits the direct children of a node.
template <typename Visit>
void for_each_child(const Ast& ast, const Expr& e, Visit visit) {
    switch (e.kind) {
    case ExprKind::Number:
    case ExprKind::String:
    case ExprKind::Bool:
    case ExprKind::Name: return;
    case ExprKind::Field:
    case ExprKind::Unary:
    case ExprKind::Abs:
    case ExprKind::Card: visit(e.left); return;
    case ExprKind::Index: visit(e.target()); [[fallthrough]];
    case ExprKind::TupleLiteral:
    case ExprKind::SetLiteral:
    case ExprKind::ArrayLiteral:
    case ExprKind::Chain:
        for (uint32_t i = 0; i < e.count; ++i) visit(ast.links[e.first + i].expr);
        return;
    case ExprKind::Range:
    case ExprKind::Compare:
    case ExprKind::In:
        visit(e.low());
        visit(e.high());
        return;
    case ExprKind::Aggregate:
        for (uint32_t i = 0; i < e.count; ++i) visit(ast.bindings[e.first + i].domain);
        if (e.condition() != kNone) visit(e.condition());
        visit(e.body());
        return;
    }
}

}  // namespace

ExprId first_variable(const Ast& ast, const Model& model, ExprId id) {
    const Expr& e = ast[id];
    if (e.kind == ExprKind::Name && e.ref_kind == RefKind::Declaration) {
        DeclKind k = model.decls[e.ref].kind;
        if (k == DeclKind::Dvar || k == DeclKind::Dexpr) return id;
    }
    ExprId found = kNone;
    for_each_child(ast, e, [&](ExprId child) {
        if (found == kNone) found = first_variable(ast, model, child);
    });
    return found;
}

namespace {

ExprInfo scalar(Base base, uint32_t tuple = kNone) {
    ExprInfo r;
    r.form = Form::Scalar;
    r.type = {base, tuple};
    return r;
}

ExprInfo error_info() { return ExprInfo{}; }

const char* quoted_op(Op op) {
    switch (op) {
    case Op::Plus: return "'+'";
    case Op::Minus: return "'-'";
    case Op::Times: return "'*'";
    case Op::Divide: return "'/'";
    default: return "an operator";
    }
}

class TypeChecker {
  public:
    TypeChecker(const Ast& ast, const Model& model, std::string_view source, Diagnostics& diagnostics,
                Interrupt* interrupt)
        : ast_(ast), model_(model), source_(source), diagnostics_(diagnostics), interrupt_(interrupt),
          dexpr_degree_(model.decls.size(), 0) {
        out_.info.resize(ast.exprs.size());
        out_.binding_type.resize(ast.bindings.size());
        out_.decl_ok.resize(model.decls.size(), false);
        out_.constraint_ok.resize(model.constraints.size(), false);
    }

    Analysis run() {
        for (uint32_t i = 0; i < model_.decls.size(); ++i) {
            size_t before = diagnostics_.size();
            const Declaration& d = model_.decls[i];
            declaration(d, i);
            // A type the name pass could not resolve leaves nothing to give a value to.
            bool typed = d.kind == DeclKind::TupleType || value_type(d.type).base != Base::Error;
            out_.decl_ok[i] = diagnostics_.size() == before && typed;
        }
        if (model_.objective.present) {
            size_t before = diagnostics_.size();
            require_number(model_.objective.expr, "the objective");
            out_.objective_ok = diagnostics_.size() == before;
        }
        constraints();
        return std::move(out_);
    }

  private:
    const Ast& ast_;
    const Model& model_;
    std::string_view source_;
    Diagnostics& diagnostics_;
    Interrupt* interrupt_;
    std::vector<uint8_t> dexpr_degree_;
    Analysis out_;

    Diagnostic* error(Code code, const Location& at, std::string message, uint32_t end = kWordEnd) {
        return diagnostics_.error(code, at, std::move(message), end);
    }

    /// An error about the expression `id`, spanning its text.
    Diagnostic* error_at(Code code, ExprId id, std::string message) {
        return diagnostics_.error(code, ast_[id].at, std::move(message), ast_[id].end);
    }

    std::string name_of(TextId id) const { return shown_name(ast_.texts[id]); }

    /// The source text of an expression, quoted.
    std::string quoted(ExprId id) const { return "'" + quote_source(span(ast_[id].at.offset, ast_[id].end)) + "'"; }

    std::string_view span(uint32_t begin, uint32_t end) const {
        if (begin >= source_.size() || end <= begin) return {};
        return source_.substr(begin, std::min<size_t>(end, source_.size()) - begin);
    }

    std::string type_name(const ValueType& t) const { return type_text(t, ast_, model_); }

    /// "an int", "a set of strings", "an array of floats", ...
    std::string describe(const ExprInfo& info) const {
        std::string t = type_name(info.type);
        bool tuple = info.type.base == Base::Tuple && info.type.tuple != kNone;
        switch (info.form) {
        case Form::Scalar: return a_value_of(info.type, ast_, model_);
        case Form::Set: return tuple ? "a set of '" + t + "' tuples" : "a set of " + t + "s";
        case Form::Array: return tuple ? "an array of '" + t + "' tuples" : "an array of " + t + "s";
        case Form::Error: return "invalid";
        }
        return "";
    }

    ExprInfo& info(ExprId id) { return out_.info[id]; }

    // ---------------------------------------------------- requirements ----

    /// Reports a decision variable or dexpr where only data may appear, then
    /// treats the expression as data so that enclosing contexts stay quiet.
    /// `context` names the place ("in a condition"); `owner`, when given, is
    /// quoted after it ("in an index of 'x'").
    bool require_data(ExprId id, std::string_view context, std::string_view owner = {}) {
        ExprInfo& c = info(id);
        if (!c.variable) return true;
        ExprId v = first_variable(ast_, model_, id);
        if (v != kNone) {
            const Expr& name = ast_[v];
            bool dvar = model_.decls[name.ref].kind == DeclKind::Dvar;
            std::string where(context);
            if (!owner.empty()) where += " '" + std::string(owner) + "'";
            error(Code::VariableWhereData, name.at,
                  std::string(dvar ? "decision variable '" : "dexpr '") + name_of(name.text()) +
                      "' used where data is required (" + where + ")");
        }
        c.variable = false;
        c.degree = 0;
        return false;
    }

    /// An expression that must be one number (objective, constraint sides,
    /// operands of arithmetic).
    bool require_number(ExprId id, std::string_view what) {
        ExprInfo c = check(id);
        return number_info(id, c, what);
    }

    bool number_info(ExprId id, const ExprInfo& c, std::string_view what) {
        if (c.form == Form::Error) return false;
        if (c.form == Form::Scalar && numeric(c.type.base)) return true;
        if (c.form == Form::Array) {
            const Expr& e = ast_[id];
            std::string n = e.kind == ExprKind::Name ? name_of(e.text()) : "it";
            error(Code::ArrayWhereNumber, e.at,
                  quoted(id) + " is an array; " + std::string(what) + " needs one element, as in '" + n +
                      "[...]', or a sum over it, as in 'sum(i in I) " + n + "[i]'");
            return false;
        }
        error_at(Code::NeedsNumber, id,
                 std::string(what) + " needs a number, but " + quoted(id) + " is " + describe(c));
        return false;
    }

    /// A condition: a boolean or int expression over data.
    void condition(ExprId id) {
        ExprInfo c = check(id);
        require_data(id, "in a condition");
        if (c.form == Form::Error) return;
        if (c.form == Form::Scalar && (c.type.base == Base::Boolean || c.type.base == Base::Int)) return;
        if (c.form == Form::Scalar && c.type.base == Base::Float)
            error_at(Code::FloatCondition, id,
                     "a condition is true or false, but " + quoted(id) + " is a float; compare it, as in '" +
                         quote_source(span(ast_[id].at.offset, ast_[id].end)) + " > 0'");
        else
            error_at(Code::NotACondition, id, "a condition is true or false, but " + quoted(id) + " is " + describe(c));
    }

    /// Empty when `id` can stand where a `expected` value belongs, else a
    /// description of what it is instead.
    std::string mismatch(ExprId id, const ValueType& expected) {
        const ExprInfo& c = out_.info[id];
        if (expected.base == Base::Error || expected.base == Base::Any || c.form == Form::Error) return {};
        if (c.form != Form::Scalar) return describe(c);
        Base b = c.type.base;
        if (b == Base::Any || b == Base::Error) return {};
        switch (expected.base) {
        case Base::Float: return numeric(b) ? "" : describe(c);
        case Base::Int:
        case Base::Boolean: return b == Base::Int || b == Base::Boolean ? "" : describe(c);
        case Base::String: return b == Base::String ? "" : describe(c);
        case Base::Tuple: {
            if (b != Base::Tuple) return describe(c);
            if (c.type.tuple != kNone) return c.type.tuple == expected.tuple ? "" : describe(c);
            const Expr& e = ast_[id];
            if (e.kind != ExprKind::TupleLiteral) return {};
            const Declaration& t = model_.decls[expected.tuple];
            if (e.count != t.fields.size())
                return "a tuple of " + std::to_string(e.count) + " value" + (e.count == 1 ? "" : "s") + " ('" +
                       name_of(t.name) + "' has " + std::to_string(t.fields.size()) + " fields)";
            for (uint32_t i = 0; i < e.count; ++i) {
                ExprId element = ast_.links[e.first + i].expr;
                std::string inner = mismatch(element, value_type(t.fields[i].type));
                if (!inner.empty()) return "a tuple whose field '" + name_of(t.fields[i].name) + "' is " + inner;
            }
            return {};
        }
        case Base::Any:
        case Base::Error: return {};
        }
        return {};
    }

    // ---------------------------------------------------- declarations ----

    /// The element type of a dimension (a set, a range or `lo..hi`).
    ValueType dimension(ExprId dim) {
        ExprInfo c = check(dim);
        require_data(dim, "in a dimension");
        if (c.form == Form::Set) return c.type;
        if (c.form != Form::Error) {
            if (c.form == Form::Scalar && (c.type.base == Base::Int))
                error_at(Code::IntDimension, dim,
                         "a dimension is a set or a range, but " + quoted(dim) +
                             " is an int; write a range, as in '1.." +
                             quote_source(span(ast_[dim].at.offset, ast_[dim].end)) + "'");
            else
                error_at(Code::NotADimension, dim,
                         "a dimension is a set or a range, but " + quoted(dim) + " is " + describe(c));
        }
        return {Base::Error};
    }

    void declaration(const Declaration& d, uint32_t index) {
        std::string name = "'" + name_of(d.name) + "'";
        ValueType type = value_type(d.type);
        switch (d.kind) {
        case DeclKind::TupleType: return;
        case DeclKind::Parameter: {
            for (ExprId dim : d.dims) dimension(dim);
            if (d.init == kNone) return;
            if (!d.dims.empty()) {
                array_value(d.init, d.dims.size(), type, d);
                return;
            }
            ExprInfo c = check(d.init);
            require_data(d.init, "in the initializer of", ast_.texts[d.name]);
            if (c.form == Form::Error) return;
            if (c.form != Form::Scalar) {
                error_at(Code::InitializerKind, d.init,
                         name + " is " + a_value_of(type, ast_, model_) + ", but its initializer is " + describe(c));
                return;
            }
            std::string wrong = mismatch(d.init, type);
            if (!wrong.empty())
                error_at(Code::InitializerKind, d.init,
                         name + " is " + a_value_of(type, ast_, model_) + ", but its initializer is " + wrong);
            return;
        }
        case DeclKind::Set: {
            if (d.init == kNone) return;
            ExprInfo c = check(d.init);
            require_data(d.init, "in the initializer of", ast_.texts[d.name]);
            if (c.form == Form::Error) return;
            if (c.form != Form::Set) {
                error_at(Code::SetInitializer, d.init,
                         name +
                             " is a set; initialise it with a set such as {1, 2}, a set or a "
                             "range, not " +
                             describe(c));
                return;
            }
            const Expr& init = ast_[d.init];
            if (init.kind == ExprKind::SetLiteral) {
                for (uint32_t i = 0; i < init.count; ++i) {
                    ExprId element = ast_.links[init.first + i].expr;
                    std::string wrong = mismatch(element, type);
                    if (!wrong.empty())
                        error_at(
                            Code::ElementType, element,
                            name + " holds " + type_name(type) + " values, but " + quoted(element) + " is " + wrong);
                }
                return;
            }
            bool wrong = c.type.base != Base::Any && !scalar_mismatch(scalar(c.type.base, c.type.tuple), type).empty();
            if (wrong)
                error(Code::ElementType, init.at,
                      name + " holds " + type_name(type) + " values, but " + quoted(d.init) + " is " + describe(c));
            return;
        }
        case DeclKind::Range: check(d.init); return;
        case DeclKind::Dvar:
            for (ExprId dim : d.dims) dimension(dim);
            if (d.bounds != kNone) {
                const Expr& r = ast_[d.bounds];
                for (ExprId side : {r.low(), r.high()}) {
                    ExprInfo c = check(side);
                    require_data(side, "in the bounds of", ast_.texts[d.name]);
                    number_info(side, c, "a bound");
                }
            }
            return;
        case DeclKind::Dexpr: {
            ExprInfo c = check(d.init);
            if (!number_info(d.init, c, "a dexpr")) return;
            if (type.base == Base::Int && c.type.base == Base::Float)
                error_at(Code::DexprIntGetsFloat, d.init, "dexpr " + name + " is int, but its expression is a float");
            dexpr_degree_[index] = c.degree;
            return;
        }
        }
    }

    std::string scalar_mismatch(const ExprInfo& c, const ValueType& expected) const {
        Base b = c.type.base;
        switch (expected.base) {
        case Base::Float: return numeric(b) ? "" : "x";
        case Base::Int:
        case Base::Boolean: return b == Base::Int || b == Base::Boolean ? "" : "x";
        case Base::String: return b == Base::String ? "" : "x";
        case Base::Tuple: return b == Base::Tuple && c.type.tuple == expected.tuple ? "" : "x";
        default: return "";
        }
    }

    /// A `[...]` initializer of an array with `dims` dimensions left; stops
    /// at the first misshapen element.
    bool array_value(ExprId id, size_t dims, const ValueType& type, const Declaration& d) {
        const Expr& e = ast_[id];
        std::string name = "'" + name_of(d.name) + "'";
        if (dims == 0) {
            ExprInfo c = check(id);
            require_data(id, "in the initializer of", ast_.texts[d.name]);
            if (c.form == Form::Error) return true;
            std::string wrong = c.form == Form::Scalar ? mismatch(id, type) : describe(c);
            if (!wrong.empty())
                error(Code::ElementType, e.at,
                      name + " holds " + type_name(type) + " values, but " + quoted(id) + " is " + wrong);
            return true;
        }
        if (e.kind != ExprKind::ArrayLiteral) {
            if (d.dims.size() == 1)
                error(Code::ArrayInitializerForm, e.at,
                      name + " is an array, so its initializer is a list in index order, as in '[1, 2, 3]'");
            else
                error(Code::ArrayInitializerNesting, e.at,
                      name + " has " + std::to_string(d.dims.size()) +
                          " dimensions, so its initializer is a list of lists, one level per dimension, "
                          "as in '[[1, 2], [3, 4]]'");
            return false;
        }
        for (uint32_t i = 0; i < e.count; ++i)
            if (!array_value(ast_.links[e.first + i].expr, dims - 1, type, d)) break;
        ExprInfo r;
        r.form = Form::Array;
        r.type = type;
        info(id) = r;
        return true;
    }

    // ----------------------------------------------------- constraints ----

    void constraints() {
        std::vector<uint32_t> open;
        std::vector<bool> forall_ok(model_.foralls.size(), true);
        for (size_t ci = 0; ci < model_.constraints.size(); ++ci) {
            const Constraint& c = model_.constraints[ci];
            std::vector<uint32_t> chain;
            for (uint32_t f = c.forall; f != kNone; f = model_.foralls[f].parent) chain.insert(chain.begin(), f);
            size_t common = 0;
            while (common < open.size() && common < chain.size() && open[common] == chain[common]) ++common;
            open.resize(common);
            for (size_t k = common; k < chain.size(); ++k) {
                size_t before = diagnostics_.size();
                const Forall& f = model_.foralls[chain[k]];
                bindings(f.first_binding, f.binding_count);
                if (f.condition != kNone) condition(f.condition);
                forall_ok[chain[k]] = diagnostics_.size() == before;
                open.push_back(chain[k]);
            }
            size_t before = diagnostics_.size();
            if (c.middle == kNone) {
                require_number(c.left, "a constraint");
                require_number(c.right, "a constraint");
            } else {
                for (ExprId bound : {c.left, c.right}) {
                    check(bound);
                    require_data(bound, "in the bounds of a range constraint");
                    number_info(bound, info(bound), "a range constraint");
                }
                require_number(c.middle, "a constraint");
            }
            bool ok = diagnostics_.size() == before;
            for (uint32_t f : chain) ok = ok && forall_ok[f];
            out_.constraint_ok[ci] = ok;
        }
    }

    void bindings(uint32_t first, uint32_t count) {
        for (uint32_t i = first; i < first + count; ++i) {
            const Binding& b = ast_.bindings[i];
            ExprInfo c = check(b.domain);
            require_data(b.domain, "in the set of a binding");
            out_.binding_type[i] = {Base::Error};
            if (c.form == Form::Set) {
                out_.binding_type[i] = c.type;
            } else if (c.form == Form::Scalar && c.type.base == Base::Int) {
                error_at(Code::BindingOverInt, b.domain,
                         quoted(b.domain) + " is an int, not a set; write a range, as in '" + name_of(b.name) +
                             " in 1.." + quote_source(span(ast_[b.domain].at.offset, ast_[b.domain].end)) + "'");
            } else if (c.form != Form::Error) {
                error_at(Code::BindingOverNonSet, b.domain,
                         "a binding ranges over a set or a range, but " + quoted(b.domain) + " is " + describe(c));
            }
        }
    }

    // ----------------------------------------------------- expressions ----

    ExprInfo check(ExprId id) {
        tick(interrupt_);
        ExprInfo r = compute(id);
        out_.info[id] = r;
        return r;
    }

    ExprInfo compute(ExprId id) {
        const Expr& e = ast_[id];
        switch (e.kind) {
        case ExprKind::Number: return scalar(e.number().is_int ? Base::Int : Base::Float);
        case ExprKind::String: return scalar(Base::String);
        case ExprKind::Bool: return scalar(Base::Boolean);
        case ExprKind::Name: return name(id);
        case ExprKind::Index: return index(id);
        case ExprKind::Field: return field(id);
        case ExprKind::TupleLiteral: return tuple_literal(id);
        case ExprKind::SetLiteral: return set_literal(id);
        case ExprKind::ArrayLiteral:
            error(Code::ListOutsideArray, e.at, "a list '[...]' can only initialise an array parameter");
            return error_info();
        case ExprKind::Range: return range(id);
        case ExprKind::Unary: return unary(id);
        case ExprKind::Chain: return chain(id);
        case ExprKind::Compare: return compare(id);
        case ExprKind::In: return in(id);
        case ExprKind::Aggregate: return aggregate(id);
        case ExprKind::Abs: {
            ExprInfo c = check(e.operand());
            require_data(e.operand(), "in 'abs'");
            if (!number_info(e.operand(), c, "'abs'")) return error_info();
            return scalar(c.type.base == Base::Float ? Base::Float : Base::Int);
        }
        case ExprKind::Card: {
            ExprInfo c = check(e.operand());
            require_data(e.operand(), "in 'card'");
            if (c.form == Form::Error) return error_info();
            if (c.form != Form::Set) {
                error_at(
                    Code::CardOfNonSet, e.operand(),
                    "'card' counts the elements of a set or range, but " + quoted(e.operand()) + " is " + describe(c));
                return error_info();
            }
            return scalar(Base::Int);
        }
        }
        return error_info();
    }

    ExprInfo name(ExprId id) {
        const Expr& e = ast_[id];
        if (e.ref_kind == RefKind::Binding) {
            const ValueType& t = out_.binding_type[e.ref];
            return t.base == Base::Error ? error_info() : scalar(t.base, t.tuple);
        }
        if (e.ref_kind != RefKind::Declaration) return error_info();
        const Declaration& d = model_.decls[e.ref];
        ValueType t = value_type(d.type);
        ExprInfo r;
        r.type = t;
        switch (d.kind) {
        case DeclKind::TupleType:
            error(Code::TupleTypeAsValue, e.at, "'" + name_of(e.text()) + "' is a tuple type, not a value");
            return error_info();
        case DeclKind::Parameter: r.form = d.dims.empty() ? Form::Scalar : Form::Array; break;
        case DeclKind::Set: r.form = Form::Set; break;
        case DeclKind::Range:
            r.form = Form::Set;
            r.type = {Base::Int};
            break;
        case DeclKind::Dvar:
            r.form = d.dims.empty() ? Form::Scalar : Form::Array;
            r.variable = true;
            r.degree = 1;
            break;
        case DeclKind::Dexpr:
            r.form = Form::Scalar;
            r.variable = true;
            r.degree = dexpr_degree_[e.ref];
            break;
        }
        if (t.base == Base::Error) return error_info();
        return r;
    }

    ExprInfo index(ExprId id) {
        const Expr& e = ast_[id];
        ExprInfo target = check(e.target());
        std::vector<ExprInfo> indices;
        for (uint32_t i = 0; i < e.count; ++i) {
            ExprId ix = ast_.links[e.first + i].expr;
            indices.push_back(check(ix));
        }
        const Expr& t = ast_[e.target()];
        if (target.form != Form::Array || t.ref_kind != RefKind::Declaration) return error_info();
        const Declaration& d = model_.decls[t.ref];
        if (d.dims.size() != e.count) return error_info();
        bool ok = true;
        for (uint32_t i = 0; i < e.count; ++i) {
            ExprId ix = ast_.links[e.first + i].expr;
            if (!require_data(ix, "in an index of", ast_.texts[t.text()])) {
                ok = false;
                continue;
            }
            const ExprInfo& c = indices[i];
            if (c.form == Form::Error) {
                ok = false;
                continue;
            }
            const ExprInfo& dim = info(d.dims[i]);
            if (c.form == Form::Scalar && (dim.form != Form::Set || mismatch(ix, dim.type).empty())) continue;
            // Only a wrong index pays for the words.
            std::string array = "'" + name_of(t.text()) + "'";
            std::string which =
                e.count == 1 ? "the index of " + array : "index " + std::to_string(i + 1) + " of " + array;
            const Expr& dim_expr = ast_[d.dims[i]];
            std::string element_of = dim_expr.kind == ExprKind::Name
                                         ? " (an element of '" + name_of(dim_expr.text()) + "')"
                                         : " (in " + quoted(d.dims[i]) + ")";
            if (c.form != Form::Scalar)
                error_at(Code::IndexNotOneValue, ix,
                         which + " is one value" + element_of + ", but " + quoted(ix) + " is " + describe(c));
            else
                error_at(Code::IndexType, ix,
                         which + " must be " + a_value_of(dim.type, ast_, model_) + element_of + ", but " + quoted(ix) +
                             " is " + mismatch(ix, dim.type));
            ok = false;
        }
        if (!ok) return error_info();
        ExprInfo r = target;
        r.form = Form::Scalar;
        return r;
    }

    ExprInfo field(ExprId id) {
        const Expr& e = ast_[id];
        ExprInfo c = check(e.tuple());
        std::string field = name_of(e.text());
        if (c.form == Form::Error) return error_info();
        if (c.form != Form::Scalar || c.type.base != Base::Tuple) {
            error(Code::FieldOfNonTuple, e.at,
                  quoted(e.tuple()) + " is " + describe(c) + ", not a tuple, so it has no field '" + field + "'");
            return error_info();
        }
        if (c.type.tuple == kNone) {
            error(Code::FieldOfLiteral, e.at,
                  "a tuple literal has no field names; '." + field + "' needs a declared tuple");
            return error_info();
        }
        const Declaration& t = model_.decls[c.type.tuple];
        std::vector<std::string_view> names;
        for (const TupleField& f : t.fields) {
            if (f.name == e.text()) {
                ExprInfo r = scalar(value_type(f.type).base, value_type(f.type).tuple);
                if (r.type.base == Base::Error) return error_info();
                return r;
            }
            names.push_back(ast_.texts[f.name]);
        }
        if (!diagnostics_.accepting(e.at)) return error_info();
        std::string_view best = closest_name(ast_.texts[e.text()], names);
        std::string suggestion = best.empty() ? "" : " (did you mean '" + shown_name(best) + "'?)";
        if (Diagnostic* d =
                error(Code::UnknownField, e.at,
                      "tuple type '" + name_of(t.name) + "' has no field '" + field + "'" + suggestion, e.end))
            if (!best.empty()) d->fix = std::string(best);
        return error_info();
    }

    ExprInfo tuple_literal(ExprId id) {
        const Expr& e = ast_[id];
        bool ok = true;
        for (uint32_t i = 0; i < e.count; ++i) {
            ExprId element = ast_.links[e.first + i].expr;
            ExprInfo c = check(element);
            require_data(element, "in a tuple");
            if (c.form == Form::Error)
                ok = false;
            else if (c.form != Form::Scalar) {
                error_at(Code::TupleElement, element,
                         "a tuple holds single values, but " + quoted(element) + " is " + describe(c));
                ok = false;
            }
        }
        return ok ? scalar(Base::Tuple) : error_info();
    }

    ExprInfo set_literal(ExprId id) {
        const Expr& e = ast_[id];
        ExprInfo r;
        r.form = Form::Set;
        r.type = {Base::Any};
        bool ok = true;
        for (uint32_t i = 0; i < e.count; ++i) {
            ExprId element = ast_.links[e.first + i].expr;
            ExprInfo c = check(element);
            require_data(element, "in a set");
            if (c.form == Form::Error) {
                ok = false;
                continue;
            }
            if (c.form != Form::Scalar) {
                error_at(Code::SetElement, element,
                         "a set holds single values, but " + quoted(element) + " is " + describe(c));
                ok = false;
                continue;
            }
            Base b = c.type.base == Base::Boolean ? Base::Int : c.type.base;
            if (r.type.base == Base::Any) {
                r.type = {b, c.type.tuple};
            } else if (numeric(r.type.base) && numeric(b)) {
                if (b == Base::Float) r.type.base = Base::Float;
            } else if (r.type.base != b || (b == Base::Tuple && r.type.tuple != c.type.tuple)) {
                if (!(b == Base::Tuple && r.type.base == Base::Tuple)) {
                    error_at(Code::MixedSet, element,
                             "the elements of a set have one type, but " + quoted(element) + " is " + describe(c) +
                                 " among " + type_name(r.type) + " values");
                    ok = false;
                }
                r.type.tuple = kNone;
            }
        }
        return ok ? r : error_info();
    }

    ExprInfo range(ExprId id) {
        const Expr& e = ast_[id];
        bool ok = true;
        for (ExprId side : {e.left, e.right}) {
            ExprInfo c = check(side);
            require_data(side, "in a range");
            if (c.form == Form::Error) {
                ok = false;
            } else if (c.form != Form::Scalar || (c.type.base != Base::Int && c.type.base != Base::Boolean)) {
                error_at(Code::RangeBound, side,
                         "the bounds of a range are ints, but " + quoted(side) + " is " + describe(c));
                ok = false;
            }
        }
        ExprInfo r;
        r.form = Form::Set;
        r.type = {Base::Int};
        return ok ? r : error_info();
    }

    ExprInfo unary(ExprId id) {
        const Expr& e = ast_[id];
        ExprInfo c = check(e.operand());
        if (e.op == Op::Not) {
            require_data(e.operand(), "in a condition");
            if (c.form == Form::Error) return error_info();
            if (c.form != Form::Scalar || (c.type.base != Base::Boolean && c.type.base != Base::Int)) {
                error_at(Code::NotOperand, e.operand(),
                         "'!' needs a condition, but " + quoted(e.operand()) + " is " + describe(c));
                return error_info();
            }
            return scalar(Base::Boolean);
        }
        if (!number_info(e.operand(), c, "'-'")) return error_info();
        ExprInfo r = c;
        if (r.type.base == Base::Boolean) r.type.base = Base::Int;
        return r;
    }

    ExprInfo chain(ExprId id) {
        const Expr& e = ast_[id];
        const Link* links = ast_.links_of(e);
        Op kind = links[1].op;
        if (kind == Op::And || kind == Op::Or) {
            bool ok = true;
            for (uint32_t i = 0; i < e.count; ++i) {
                ExprId operand = links[i].expr;
                ExprInfo c = check(operand);
                require_data(operand, "in a condition");
                if (c.form == Form::Error) {
                    ok = false;
                } else if (c.form != Form::Scalar || (c.type.base != Base::Boolean && c.type.base != Base::Int)) {
                    error_at(Code::LogicalOperand, operand,
                             std::string("'") + op_text(kind) + "' joins conditions, but " + quoted(operand) + " is " +
                                 describe(c));
                    ok = false;
                }
            }
            return ok ? scalar(Base::Boolean) : error_info();
        }
        bool product = kind == Op::Times || kind == Op::Divide;
        ExprInfo r = scalar(Base::Int);
        bool ok = true;
        for (uint32_t i = 0; i < e.count; ++i) {
            ExprId operand = links[i].expr;
            Op op = i == 0 ? links[1].op : links[i].op;
            ExprInfo c = check(operand);
            if (!number_info(operand, c, quoted_op(op))) {
                ok = false;
                continue;
            }
            if (c.type.base == Base::Float || (product && links[i].op == Op::Divide)) r.type.base = Base::Float;
            if (!product) {
                r.variable = r.variable || c.variable;
                r.degree = std::max(r.degree, c.degree);
                continue;
            }
            auto term = [&] { return "'" + quote_source(span(e.at.offset, ast_[operand].end)) + "'"; };
            if (i > 0 && links[i].op == Op::Divide) {
                if (c.variable) {
                    error_at(Code::VariableDivisor, operand,
                             "non-linear term " + term() + ": a divisor must be free of decision variables");
                    info(operand).variable = false;
                    info(operand).degree = 0;
                }
                continue;
            }
            r.variable = r.variable || c.variable;
            if (r.degree > 0 && c.degree > 0) {
                error(Code::ProductOfVariables, e.at,
                      "non-linear term " + term() + ": a product needs a factor free of decision variables",
                      ast_[operand].end);
                continue;  // the degree stays 1, so enclosing terms are not reported again
            }
            r.degree = static_cast<uint8_t>(r.degree + c.degree);
        }
        return ok ? r : error_info();
    }

    ExprInfo compare(ExprId id) {
        const Expr& e = ast_[id];
        ExprInfo left = check(e.left);
        ExprInfo right = check(e.right);
        require_data(e.left, "in a condition");
        require_data(e.right, "in a condition");
        if (left.form == Form::Error || right.form == Form::Error) return scalar(Base::Boolean);
        bool scalars = left.form == Form::Scalar && right.form == Form::Scalar;
        Base a = left.type.base, b = right.type.base;
        bool equality = e.op == Op::Eq || e.op == Op::Ne;
        bool ok = false;
        if (scalars && numeric(a) && numeric(b))
            ok = true;
        else if (scalars && a == Base::String && b == Base::String) {
            ok = equality;
            if (!ok) {
                error_at(Code::StringOrder, id, "strings are compared only with '==' or '!='");
                return scalar(Base::Boolean);
            }
        } else if (scalars && a == Base::Tuple && b == Base::Tuple) {
            ok = equality &&
                 (left.type.tuple == right.type.tuple || left.type.tuple == kNone || right.type.tuple == kNone);
            if (ok && left.type.tuple != right.type.tuple)
                ok = mismatch(left.type.tuple == kNone ? e.left : e.right,
                              left.type.tuple == kNone ? right.type : left.type)
                         .empty();
        }
        if (!ok)
            error_at(Code::Incomparable, id,
                     "cannot compare " + quoted(e.left) + " (" + describe(left) + ") with " + quoted(e.right) + " (" +
                         describe(right) + ") using '" + op_text(e.op) + "'");
        return scalar(Base::Boolean);
    }

    ExprInfo in(ExprId id) {
        const Expr& e = ast_[id];
        ExprInfo element = check(e.left);
        ExprInfo set = check(e.right);
        require_data(e.left, "in a condition");
        require_data(e.right, "in a condition");
        if (element.form == Form::Error || set.form == Form::Error) return scalar(Base::Boolean);
        if (set.form != Form::Set) {
            error_at(Code::InRightSide, e.right,
                     "the right side of 'in' is a set or a range, but " + quoted(e.right) + " is " + describe(set));
            return scalar(Base::Boolean);
        }
        if (element.form != Form::Scalar) {
            error_at(Code::InLeftSide, e.left,
                     "the left side of 'in' is one value, but " + quoted(e.left) + " is " + describe(element));
            return scalar(Base::Boolean);
        }
        std::string wrong = mismatch(e.left, set.type);
        if (!wrong.empty())
            error_at(Code::InElementType, e.left,
                     quoted(e.left) + " is " + wrong + ", but " + quoted(e.right) + " holds " + type_name(set.type) +
                         " values");
        return scalar(Base::Boolean);
    }

    ExprInfo aggregate(ExprId id) {
        const Expr& e = ast_[id];
        bindings(e.first, e.count);
        if (e.condition() != kNone) condition(e.condition());
        std::string what = std::string("'") + op_text(e.op) + "'";
        ExprInfo body = check(e.body());
        if (e.op != Op::Sum) require_data(e.body(), "in", op_text(e.op));
        if (!number_info(e.body(), info(e.body()), what)) return error_info();
        ExprInfo r = info(e.body());
        if (r.type.base == Base::Boolean) r.type.base = Base::Int;
        (void)body;
        return r;
    }
};

}  // namespace

Analysis check_types(const Ast& ast, const Model& model, std::string_view model_text, Diagnostics& diagnostics,
                     Interrupt* interrupt) {
    return TypeChecker(ast, model, model_text, diagnostics, interrupt).run();
}

}  // namespace tarvok::compiler
