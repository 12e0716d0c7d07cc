// Pass 4, instance checks: walks the objective, the dexprs and every
// constraint over the values of their bindings, so that indices outside their
// sets and division by zero are found where the data decides them.
#include "compiler/compiler.hpp"

#include "compiler/evaluate.hpp"

#include <cstdint>
#include <vector>

namespace tarvok::compiler {

namespace {

/// Pass 4: walks the objective, the dexprs and every constraint over the
/// values of their bindings, so that indices outside their sets and division
/// by zero are found where the data decides them. Stops quietly when its
/// step budget runs out.
class InstanceChecker {
  public:
    InstanceChecker(const Ast& ast, const Model& model, const Analysis& analysis, std::string_view model_text,
                    Values& values, Diagnostics& diagnostics, Budget& budget)
        : ast_(ast), model_(model), analysis_(analysis), budget_(budget),
          evaluator_(ast, model, analysis, model_text, values, diagnostics, budget), risky_(ast.exprs.size(), -1) {}

    void run() {
        for (uint32_t i = 0; i < model_.decls.size() && !budget_.exhausted; ++i)
            if (model_.decls[i].kind == DeclKind::Dexpr && analysis_.decl_ok[i] && risky(model_.decls[i].init))
                walk(model_.decls[i].init);
        if (model_.objective.present && analysis_.objective_ok && risky(model_.objective.expr))
            walk(model_.objective.expr);
        std::vector<uint32_t> chain;
        for (size_t ci = 0; ci < model_.constraints.size() && !budget_.exhausted; ++ci) {
            if (!analysis_.constraint_ok[ci]) continue;
            const Constraint& c = model_.constraints[ci];
            chain.clear();
            for (uint32_t f = c.forall; f != kNone; f = model_.foralls[f].parent) chain.insert(chain.begin(), f);
            bool worth = false;
            for (ExprId side : {c.left, c.middle, c.right}) worth = worth || (side != kNone && risky(side));
            for (uint32_t f : chain) {
                const Forall& forall = model_.foralls[f];
                worth = worth || (forall.condition != kNone && risky(forall.condition));
                for (uint32_t b = 0; b < forall.binding_count; ++b)
                    worth = worth || risky(ast_.bindings[forall.first_binding + b].domain);
            }
            if (worth) over(chain, 0, c);
        }
    }

  private:
    const Ast& ast_;
    const Model& model_;
    const Analysis& analysis_;
    Budget& budget_;
    Evaluator evaluator_;
    std::vector<int8_t> risky_;  ///< per node: -1 not yet known

    /// Whether `ix`, index `k` of `array`, is a binding over the very set or
    /// range that is the array's dimension, and so always inside it.
    bool inside_by_construction(ExprId ix, const Declaration& array, size_t k) const {
        const Expr& i = ast_[ix];
        if (i.kind != ExprKind::Name || i.ref_kind != RefKind::Binding) return false;
        const Expr& domain = ast_[ast_.bindings[i.ref].domain];
        const Expr& dim = ast_[array.dims[k]];
        return domain.kind == ExprKind::Name && dim.kind == ExprKind::Name &&
               domain.ref_kind == RefKind::Declaration && dim.ref_kind == RefKind::Declaration && domain.ref == dim.ref;
    }

    /// Whether evaluating `id` for some binding values could find an error:
    /// an index not inside by construction, a division, integer arithmetic
    /// that could overflow, min or max over a set that could be empty. Parts
    /// that cannot are not enumerated at all.
    bool risky(ExprId id) {
        int8_t& known = risky_[id];
        if (known >= 0) return known == 1;
        const Expr& e = ast_[id];
        const ExprInfo& info = analysis_.info[id];
        bool data_int = !info.variable && info.type.base == Base::Int;
        bool r = false;
        auto any_child = [&] {
            bool found = false;
            for (uint32_t i = 0; i < e.count && !found; ++i) found = risky(ast_.links[e.first + i].expr);
            return found;
        };
        switch (e.kind) {
        case ExprKind::Number: case ExprKind::String: case ExprKind::Bool: case ExprKind::Name: r = false; break;
        case ExprKind::Index: {
            const Expr& target = ast_[e.target()];
            if (target.ref_kind != RefKind::Declaration) break;
            const Declaration& array = model_.decls[target.ref];
            for (uint32_t i = 0; i < e.count && !r; ++i)
                r = array.dims.size() != e.count || !inside_by_construction(ast_.links[e.first + i].expr, array, i);
            break;
        }
        case ExprKind::Field: r = risky(e.tuple()); break;
        case ExprKind::TupleLiteral: case ExprKind::SetLiteral: case ExprKind::ArrayLiteral: r = any_child(); break;
        case ExprKind::Range: case ExprKind::Compare: case ExprKind::In: r = risky(e.left) || risky(e.right); break;
        case ExprKind::Unary: r = (e.op == Op::Minus && data_int) || risky(e.operand()); break;
        case ExprKind::Chain: {
            const Link* links = ast_.links_of(e);
            bool logical = links[1].op == Op::And || links[1].op == Op::Or;
            for (uint32_t i = 1; i < e.count && !r; ++i) r = links[i].op == Op::Divide;
            r = r || (!logical && data_int) || any_child();
            break;
        }
        case ExprKind::Aggregate:
            r = e.op != Op::Sum || data_int || (e.condition() != kNone && risky(e.condition())) || risky(e.body());
            for (uint32_t i = 0; i < e.count && !r; ++i) r = risky(ast_.bindings[e.first + i].domain);
            break;
        case ExprKind::Abs: case ExprKind::Card: r = true; break;
        }
        known = r ? 1 : 0;
        return r;
    }

    bool over(const std::vector<uint32_t>& chain, size_t level, const Constraint& c) {
        if (level == chain.size()) {
            for (ExprId side : {c.left, c.middle, c.right})
                if (side != kNone) walk(side);
            return !budget_.exhausted;
        }
        const Forall& f = model_.foralls[chain[level]];
        return evaluator_.enumerate(f.first_binding, f.binding_count, f.condition,
                                    [&] { return over(chain, level + 1, c); });
    }

    void walk(ExprId id) {
        if (budget_.exhausted) return;
        const ExprInfo& info = analysis_.info[id];
        const Expr& e = ast_[id];
        if (!info.variable) {
            if (info.form == Form::Scalar) evaluator_.value(id);
            return;
        }
        switch (e.kind) {
        case ExprKind::Name: return;
        case ExprKind::Index: evaluator_.locate(id); return;
        case ExprKind::Aggregate:
            evaluator_.enumerate(e.first, e.count, e.condition(), [&] {
                walk(e.body());
                return !budget_.exhausted;
            });
            return;
        case ExprKind::Unary: walk(e.operand()); return;
        case ExprKind::Chain:
            for (uint32_t i = 0; i < e.count; ++i) {
                const Link& link = ast_.links[e.first + i];
                if (link.op != Op::Divide || analysis_.info[link.expr].variable) {
                    walk(link.expr);
                    continue;
                }
                evaluator_.divisor(link.expr);
            }
            return;
        default: return;
        }
    }
};

}  // namespace

void check_instance(const Ast& ast, const Model& model, const Analysis& analysis, std::string_view model_text,
                    Values& values, Diagnostics& diagnostics, Budget& budget) {
    InstanceChecker(ast, model, analysis, model_text, values, diagnostics, budget).run();
}

}  // namespace tarvok::compiler
