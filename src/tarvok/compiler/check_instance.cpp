// Pass 4, instance checks: walks the objective, the dexprs and every
// constraint over the values of their bindings, so that indices outside their
// sets and division by zero are found where the data decides them.
//
// Every combination of binding values that can fault is checked, in time
// linear in the combinations: a binding that nothing risky depends on takes
// only the first value of its set (the faults are the same for all its
// values), so `forall(d in D, c in C, t in T) ... x[d][c][t - lead[d]]` costs
// |D| x |T| evaluations, not |D| x |C| x |T|. When even that exceeds the step
// budget, the pass stops with an error that says so: a check not made never
// reads as a pass.
#include "compiler/compiler.hpp"

#include "compiler/evaluate.hpp"

#include <cstdint>
#include <vector>

namespace tarvok::compiler {

namespace {

/// Steps for finding out whether a constraint family that needs no checks
/// has any member at all (for a warning only; running out says nothing).
constexpr uint64_t kMembershipSteps = 200'000;

class InstanceChecker {
  public:
    InstanceChecker(const Ast& ast, const Model& model, const Analysis& analysis, std::string_view model_text,
                    Values& values, Diagnostics& diagnostics, Budget& budget)
        : ast_(ast), model_(model), analysis_(analysis), values_(values), diagnostics_(diagnostics), budget_(budget),
          limit_(budget.left), evaluator_(ast, model, analysis, model_text, values, diagnostics, budget),
          risky_(ast.exprs.size(), -1), needed_(ast.bindings.size(), true), referenced_(ast.bindings.size(), false),
          aggregate_ready_(ast.exprs.size(), false) {}

    void run() {
        for (uint32_t i = 0; i < model_.decls.size(); ++i) {
            const Declaration& d = model_.decls[i];
            if (d.kind != DeclKind::Dexpr || !analysis_.decl_ok[i] || !risky(d.init)) continue;
            walk(d.init);
            if (budget_.exhausted) return incomplete(d.at, "dexpr '" + shown_name(ast_.texts[d.name]) + "'");
        }
        const Objective& o = model_.objective;
        if (o.present && analysis_.objective_ok && risky(o.expr)) {
            walk(o.expr);
            if (budget_.exhausted) return incomplete(o.at, "the objective");
        }
        std::vector<uint32_t> chain;
        for (size_t ci = 0; ci < model_.constraints.size(); ++ci) {
            if (!analysis_.constraint_ok[ci]) continue;
            const Constraint& c = model_.constraints[ci];
            chain.clear();
            for (uint32_t f = c.forall; f != kNone; f = model_.foralls[f].parent) chain.insert(chain.begin(), f);
            if (!constraint(c, chain)) return;
        }
    }

  private:
    const Ast& ast_;
    const Model& model_;
    const Analysis& analysis_;
    const Values& values_;
    Diagnostics& diagnostics_;
    Budget& budget_;
    uint64_t limit_;  ///< the steps the pass started with, for the message
    Evaluator evaluator_;
    std::vector<int8_t> risky_;          ///< per node: -1 not yet known
    std::vector<bool> needed_;           ///< per binding: enumerated over all its values
    std::vector<bool> referenced_;       ///< per binding: scratch marks of `collect`
    std::vector<uint32_t> marked_;       ///< the set entries of `referenced_`
    std::vector<bool> aggregate_ready_;  ///< per node: `needed_` is set for the aggregate's bindings

    void incomplete(const Location& at, const std::string& what) {
        diagnostics_.error(Code::CheckIncomplete, at,
                           "the data checks could not be completed at " + what + ": they would take more than " +
                               std::to_string(limit_) + " evaluation steps; use smaller sets, or split it");
    }

    std::string constraint_name(const Constraint& c) const {
        return c.label == kNone ? "the constraint on line " + std::to_string(c.at.line)
                                : "the constraint '" + shown_name(ast_.texts[c.label]) + "'";
    }

    /// Checks one constraint over its family; false once the pass must stop.
    bool constraint(const Constraint& c, const std::vector<uint32_t>& chain) {
        bool worth = false;
        for (ExprId side : {c.left, c.middle, c.right}) worth = worth || (side != kNone && risky(side));
        for (uint32_t f : chain) {
            const Forall& forall = model_.foralls[f];
            worth = worth || (forall.condition != kNone && risky(forall.condition));
            for (uint32_t b = 0; b < forall.binding_count; ++b)
                worth = worth || risky(ast_.bindings[forall.first_binding + b].domain);
        }
        if (chain.empty()) {
            if (worth) walk_sides(c);
            if (budget_.exhausted) incomplete(c.at, constraint_name(c));
            return !budget_.exhausted;
        }

        // Which bindings of the family matter: those the risky parts of the
        // sides read, those the conditions read, and those the sets of
        // needed bindings depend on.
        for (ExprId side : {c.left, c.middle, c.right})
            if (side != kNone && worth) collect_walked(side);
        for (uint32_t f : chain)
            if (model_.foralls[f].condition != kNone) collect(model_.foralls[f].condition);
        decide_needed(chain);

        uint64_t members = 0;
        if (worth) {
            over(chain, 0, [&] {
                ++members;
                if (!budget_.spend()) return false;  // a member costs a step even when its checks are cheap
                walk_sides(c);
                return !budget_.exhausted;
            });
            if (budget_.exhausted) {
                incomplete(c.at, constraint_name(c));
                return false;
            }
        } else {
            // Only whether there is a member, for the warning; on a budget of its own.
            Budget saved = budget_;
            budget_ = Budget{kMembershipSteps};
            over(chain, 0, [&] {
                ++members;
                return false;
            });
            bool settled = !budget_.exhausted;
            budget_ = saved;
            if (!settled) return true;
        }
        if (members == 0)
            diagnostics_.warning(Code::EmptyFamily, c.at,
                                 "the constraint" +
                                     (c.label == kNone ? std::string() : " '" + shown_name(ast_.texts[c.label]) + "'") +
                                     " has no members for this data: no binding values satisfy its forall");
        return true;
    }

    template <typename Body>
    bool over(const std::vector<uint32_t>& chain, size_t level, const Body& body) {
        if (level == chain.size()) return body();
        const Forall& f = model_.foralls[chain[level]];
        return evaluator_.enumerate_projected(f.first_binding, f.binding_count, f.condition, needed_,
                                              [&] { return over(chain, level + 1, body); });
    }

    void walk_sides(const Constraint& c) {
        for (ExprId side : {c.left, c.middle, c.right})
            if (side != kNone) walk(side);
    }

    // ------------------------------------------------- which bindings matter

    void mark(uint32_t binding) {
        if (referenced_[binding]) return;
        referenced_[binding] = true;
        marked_.push_back(binding);
    }

    /// Marks every binding that evaluating `id` reads; true when there is one.
    bool collect(ExprId id) {
        const Expr& e = ast_[id];
        bool any = false;
        switch (e.kind) {
        case ExprKind::Number:
        case ExprKind::String:
        case ExprKind::Bool: return false;
        case ExprKind::Name:
            if (e.ref_kind != RefKind::Binding) return false;
            mark(e.ref);
            return true;
        case ExprKind::Field:
        case ExprKind::Unary:
        case ExprKind::Abs:
        case ExprKind::Card: return collect(e.operand());
        case ExprKind::Index:
        case ExprKind::TupleLiteral:
        case ExprKind::SetLiteral:
        case ExprKind::ArrayLiteral:
        case ExprKind::Chain:
            for (uint32_t i = 0; i < e.count; ++i) any |= collect(ast_.links[e.first + i].expr);
            return any;
        case ExprKind::Range:
        case ExprKind::Compare:
        case ExprKind::In: any = collect(e.left); return collect(e.right) || any;
        case ExprKind::Aggregate:
            for (uint32_t i = 0; i < e.count; ++i) any |= collect(ast_.bindings[e.first + i].domain);
            if (e.condition() != kNone) any |= collect(e.condition());
            return collect(e.body()) || any;
        }
        return any;
    }

    /// Marks the bindings that `walk(id)` reads: it evaluates only risky parts.
    void collect_walked(ExprId id) {
        if (!risky(id)) return;
        const Expr& e = ast_[id];
        if (!analysis_.info[id].variable) {
            collect(id);
            return;
        }
        switch (e.kind) {
        case ExprKind::Index:
            for (uint32_t k = 0; k < e.count; ++k)
                if (!inside_by_construction(id, k)) collect(ast_.links[e.first + k].expr);
            return;
        case ExprKind::Aggregate:
            for (uint32_t i = 0; i < e.count; ++i) collect(ast_.bindings[e.first + i].domain);
            if (e.condition() != kNone) collect(e.condition());
            collect_walked(e.body());
            return;
        case ExprKind::Unary: collect_walked(e.operand()); return;
        case ExprKind::Chain:
            for (uint32_t i = 0; i < e.count; ++i) {
                const Link& link = ast_.links[e.first + i];
                if (link.op == Op::Divide && !analysis_.info[link.expr].variable)
                    collect(link.expr);
                else
                    collect_walked(link.expr);
            }
            return;
        default: return;
        }
    }

    /// Sets `needed_` for the bindings `first..first+count` from the marks,
    /// then clears the marks. Inner bindings come last, so a needed binding
    /// whose set depends on an outer one marks it before it is decided; a
    /// binding whose set depends on any other is always enumerated, since
    /// its set may be empty for some values.
    void decide(uint32_t first, uint32_t count) {
        for (uint32_t b = first + count; b-- > first;) {
            bool read = referenced_[b];
            bool dependent = collect(ast_.bindings[b].domain);
            needed_[b] = read || dependent;
        }
    }

    void decide_needed(const std::vector<uint32_t>& chain) {
        for (size_t k = chain.size(); k-- > 0;) {
            const Forall& f = model_.foralls[chain[k]];
            decide(f.first_binding, f.binding_count);
        }
        for (uint32_t b : marked_) referenced_[b] = false;
        marked_.clear();
    }

    /// `needed_` for the bindings of an aggregate, once per aggregate (it is
    /// walked with no marks pending).
    void prepare_aggregate(ExprId id) {
        if (aggregate_ready_[id]) return;
        aggregate_ready_[id] = true;
        const Expr& e = ast_[id];
        if (e.condition() != kNone) collect(e.condition());
        collect_walked(e.body());
        decide(e.first, e.count);
        for (uint32_t b : marked_) referenced_[b] = false;
        marked_.clear();
    }

    // ------------------------------------------------------------ risks

    /// Whether index `k` of the Index node `id` is a binding over the very
    /// set or range that is the array's dimension, and so always inside it.
    bool inside_by_construction(ExprId id, uint32_t k) const {
        const Expr& e = ast_[id];
        const Expr& target = ast_[e.target()];
        if (target.ref_kind != RefKind::Declaration) return true;  // nothing to check against
        const Declaration& array = model_.decls[target.ref];
        if (array.dims.size() != e.count || !values_.decls[target.ref].dims_known) return true;
        const Expr& i = ast_[ast_.links[e.first + k].expr];
        if (i.kind != ExprKind::Name || i.ref_kind != RefKind::Binding) return false;
        const Expr& domain = ast_[ast_.bindings[i.ref].domain];
        const Expr& dim = ast_[array.dims[k]];
        return domain.kind == ExprKind::Name && dim.kind == ExprKind::Name && domain.ref_kind == RefKind::Declaration &&
               dim.ref_kind == RefKind::Declaration && domain.ref == dim.ref;
    }

    /// Whether evaluating `id` for some binding values could find an error:
    /// an index not inside by construction, a division, integer arithmetic
    /// that could overflow, min or max over a set that could be empty. Parts
    /// that cannot are not evaluated at all.
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
        case ExprKind::Number:
        case ExprKind::String:
        case ExprKind::Bool:
        case ExprKind::Name: r = false; break;
        case ExprKind::Index:
            for (uint32_t k = 0; k < e.count && !r; ++k) r = !inside_by_construction(id, k);
            break;
        case ExprKind::Field: r = risky(e.tuple()); break;
        case ExprKind::TupleLiteral:
        case ExprKind::SetLiteral:
        case ExprKind::ArrayLiteral: r = any_child(); break;
        case ExprKind::Range:
        case ExprKind::Compare:
        case ExprKind::In: r = risky(e.left) || risky(e.right); break;
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
        case ExprKind::Abs:
        case ExprKind::Card: r = true; break;
        }
        known = r ? 1 : 0;
        return r;
    }

    // ------------------------------------------------------------- walk

    void walk(ExprId id) {
        if (budget_.exhausted || !risky(id)) return;
        const ExprInfo& info = analysis_.info[id];
        const Expr& e = ast_[id];
        if (!info.variable) {
            if (info.form == Form::Scalar) evaluator_.value(id);
            return;
        }
        switch (e.kind) {
        case ExprKind::Name: return;
        case ExprKind::Index:
            // Only the indices that can fall outside are evaluated; the others
            // need not be, and their bindings need not be enumerated.
            for (uint32_t k = 0; k < e.count; ++k)
                if (!inside_by_construction(id, k)) evaluator_.check_index(id, k);
            return;
        case ExprKind::Aggregate:
            prepare_aggregate(id);
            evaluator_.enumerate_projected(e.first, e.count, e.condition(), needed_, [&] {
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
