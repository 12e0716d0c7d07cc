// Pass 4a, sizes: how large the model's expansion would be, counted from the
// data before anything is built. Each decision variable has the product of
// its dimensions' sizes as columns; each constraint family one row per
// member of its forall; a row's nonzeros are estimated from the terms it
// sums. Past the size limit the model is refused at the declaration or
// constraint that takes it there, so that no later pass (nor the
// instantiation) is ever asked to build something that does not fit.
//
// Counting a family multiplies the sizes of the bindings that nothing else
// reads instead of enumerating them, so `forall(i in I, j in J)` costs one
// step; bindings that a later set or a condition reads are enumerated. The
// conditions are first left out (an upper bound, enough for almost every
// model); only when the bounds pass the limit are the families with
// conditions counted exactly, on a step budget. A count that the budget cut
// short is a lower bound: a family is refused only on counts that are sure.
#include "compiler/compiler.hpp"

#include "compiler/evaluate.hpp"

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

namespace tarvok::compiler {

namespace {

constexpr uint64_t kMany = std::numeric_limits<uint64_t>::max();

uint64_t times(uint64_t a, uint64_t b) {
    uint64_t r = 0;
    return __builtin_mul_overflow(a, b, &r) ? kMany : r;
}

uint64_t plus(uint64_t a, uint64_t b) { return a > kMany - b ? kMany : a + b; }

class SizeCounter {
  public:
    SizeCounter(const Ast& ast, const Model& model, const Analysis& analysis, std::string_view model_text,
                Values& values, Diagnostics& diagnostics, const SizeLimits& limits, uint64_t steps,
                Interrupt* interrupt)
        : ast_(ast), model_(model), analysis_(analysis), values_(values), diagnostics_(diagnostics),
          limits_(limits), budget_{steps, false, interrupt},
          // Faults met while counting are the instance checks' to report, with their own wording.
          evaluator_(ast, model, analysis, model_text, values, scratch_, budget_), needed_(ast.bindings.size(), false),
          marks_(ast.bindings.size(), false), dexpr_terms_(model.decls.size(), kNone64) {}

    /// True when the model is refused; `sizes` gets what was counted.
    bool run(std::vector<FamilySize>* sizes) {
        if (!columns()) return true;
        for (uint32_t i = 0; i < model_.decls.size(); ++i)
            if (model_.decls[i].kind == DeclKind::Dexpr) dexpr(i);
        std::vector<Family> families = measure_families(false);
        if (over_limit(families)) {
            // Some bounds are too large: count the families with conditions exactly.
            for (Family& f : families)
                if (f.conditioned) f.rows = count_rows(f.constraint, true, f.exact);
        }
        if (sizes) {
            sizes->assign(model_.constraints.size(), FamilySize{});
            for (const Family& f : families)
                if (!f.conditioned && f.exact) (*sizes)[f.constraint] = {f.rows, f.terms};
        }
        return refuse_rows_and_nonzeros(families);
    }

  private:
    static constexpr uint64_t kNone64 = kMany;

    struct Family {
        uint32_t constraint = 0;
        bool conditioned = false;  ///< a forall of its chain has a condition
        uint64_t rows = 0;
        bool exact = true;   ///< false: `rows` is a lower bound (the budget ran out)
        uint64_t terms = 0;  ///< per row, estimated
    };

    const Ast& ast_;
    const Model& model_;
    const Analysis& analysis_;
    Values& values_;
    Diagnostics& diagnostics_;
    const SizeLimits& limits_;
    Budget budget_;
    Diagnostics scratch_;
    Evaluator evaluator_;
    std::vector<bool> needed_;
    std::vector<bool> marks_;       ///< per binding: scratch marks of `reads`
    std::vector<uint32_t> marked_;  ///< the set entries of `marks_`
    std::vector<uint64_t> dexpr_terms_;
    uint64_t columns_ = 0;

    void refuse(const Location& at, const std::string& what, const std::string& amount, const std::string& total,
                uint64_t limit, const char* unit) {
        diagnostics_.error(Code::ModelTooLarge, at, too_large_message(what, amount, total, limit, unit));
    }

    void clear_marks() {
        for (uint32_t b : marked_) marks_[b] = false;
        marked_.clear();
    }

    // ----------------------------------------------------------- columns

    /// Refuses the variable that takes the columns past the limit; false then.
    bool columns() {
        for (uint32_t i = 0; i < model_.decls.size(); ++i) {
            const Declaration& d = model_.decls[i];
            const DeclValue& dv = values_.decls[i];
            if (d.kind != DeclKind::Dvar || !analysis_.decl_ok[i]) continue;
            uint64_t elements = 1;
            bool known = true;
            for (const auto& dim : dv.dims) {
                if (!dim)
                    known = false;
                else
                    elements = times(elements, dim->size());
            }
            if (!known) continue;
            uint64_t before = columns_;
            columns_ = plus(columns_, elements);
            if (columns_ <= limits_.max_columns) continue;
            std::string what = "decision variable '" + shown_name(ast_.texts[d.name]) + "'";
            if (elements > limits_.max_columns)
                refuse(d.at, what, size_count(elements) + " elements", "", limits_.max_columns, "columns");
            else
                refuse(d.at, what, size_count(elements) + " elements",
                       ", bringing the model's columns from " + size_count(before) + " to " + size_count(columns_),
                       limits_.max_columns, "columns");
            return false;
        }
        return true;
    }

    // -------------------------------------------------------------- rows

    std::vector<uint32_t> chain_of(const Constraint& c) const {
        std::vector<uint32_t> chain;
        for (uint32_t f = c.forall; f != kNone; f = model_.foralls[f].parent) chain.insert(chain.begin(), f);
        return chain;
    }

    std::vector<Family> measure_families(bool with_conditions) {
        std::vector<Family> families;
        for (uint32_t ci = 0; ci < model_.constraints.size(); ++ci) {
            if (!analysis_.constraint_ok[ci]) continue;
            Family f;
            f.constraint = ci;
            for (uint32_t k : chain_of(model_.constraints[ci]))
                f.conditioned = f.conditioned || model_.foralls[k].condition != kNone;
            f.rows = count_rows(ci, with_conditions, f.exact);
            f.terms = std::min(row_terms(model_.constraints[ci]), std::max<uint64_t>(columns_, 1));
            families.push_back(f);
        }
        return families;
    }

    bool over_limit(const std::vector<Family>& families) const {
        uint64_t rows = 0, nonzeros = dexpr_nonzeros();
        for (const Family& f : families) {
            rows = plus(rows, f.rows);
            nonzeros = plus(nonzeros, times(f.rows, f.terms));
        }
        return rows > limits_.max_rows || nonzeros > limits_.max_nonzeros;
    }

    uint64_t dexpr_nonzeros() const {
        uint64_t n = 0;
        for (uint64_t t : dexpr_terms_)
            if (t != kNone64) n = plus(n, t);
        return n;
    }

    /// Refuses the dexpr or constraint that takes the rows or nonzeros past
    /// the limit; true then.
    bool refuse_rows_and_nonzeros(const std::vector<Family>& families) {
        uint64_t rows = 0, nonzeros = 0;
        for (uint32_t i = 0; i < model_.decls.size(); ++i) {
            if (dexpr_terms_[i] == kNone64) continue;
            uint64_t before = nonzeros;
            nonzeros = plus(nonzeros, dexpr_terms_[i]);
            if (nonzeros <= limits_.max_nonzeros) continue;
            const Declaration& d = model_.decls[i];
            refuse(d.at, "dexpr '" + shown_name(ast_.texts[d.name]) + "'",
                   "about " + size_count(dexpr_terms_[i]) + " terms",
                   dexpr_terms_[i] > limits_.max_nonzeros
                       ? std::string()
                       : ", bringing the model's nonzeros from " + size_count(before) + " to " + size_count(nonzeros),
                   limits_.max_nonzeros, "nonzeros");
            return true;
        }
        for (const Family& f : families) {
            const Constraint& c = model_.constraints[f.constraint];
            std::string what = c.label == kNone ? "the constraint on line " + std::to_string(c.at.line)
                                                : "the constraint '" + shown_name(ast_.texts[c.label]) + "'";
            std::string instances =
                (f.exact ? "" : "at least ") + size_count(f.rows) + (f.rows == 1 ? " instance" : " instances");
            uint64_t rows_before = rows;
            rows = plus(rows, f.rows);
            if (rows > limits_.max_rows) {
                refuse(c.at, what, instances,
                       f.rows > limits_.max_rows
                           ? std::string()
                           : ", bringing the model's rows from " + size_count(rows_before) + " to " + size_count(rows),
                       limits_.max_rows, "rows");
                return true;
            }
            uint64_t own = times(f.rows, f.terms);
            uint64_t nonzeros_before = nonzeros;
            nonzeros = plus(nonzeros, own);
            if (nonzeros > limits_.max_nonzeros) {
                std::string amount = "about " + size_count(own) + " nonzero coefficients (" + instances + " of " +
                                     size_count(f.terms) + (f.terms == 1 ? " term" : " terms") + ")";
                refuse(c.at, what, amount,
                       own > limits_.max_nonzeros ? std::string()
                                                  : ", bringing the model's nonzeros from " +
                                                        size_count(nonzeros_before) + " to " + size_count(nonzeros),
                       limits_.max_nonzeros, "nonzeros");
                return true;
            }
        }
        return false;
    }

    /// Marks (in `marks_`, listed in `marked_`) every binding that
    /// evaluating `id` reads.
    void reads(ExprId id) {
        const Expr& e = ast_[id];
        switch (e.kind) {
        case ExprKind::Number:
        case ExprKind::String:
        case ExprKind::Bool: return;
        case ExprKind::Name:
            if (e.ref_kind == RefKind::Binding && !marks_[e.ref]) {
                marks_[e.ref] = true;
                marked_.push_back(e.ref);
            }
            return;
        case ExprKind::Field:
        case ExprKind::Unary:
        case ExprKind::Abs:
        case ExprKind::Card: reads(e.operand()); return;
        case ExprKind::Index:
        case ExprKind::TupleLiteral:
        case ExprKind::SetLiteral:
        case ExprKind::ArrayLiteral:
        case ExprKind::Chain:
            for (uint32_t i = 0; i < e.count; ++i) reads(ast_.links[e.first + i].expr);
            return;
        case ExprKind::Range:
        case ExprKind::Compare:
        case ExprKind::In:
            reads(e.left);
            reads(e.right);
            return;
        case ExprKind::Aggregate:
            for (uint32_t i = 0; i < e.count; ++i) reads(ast_.bindings[e.first + i].domain);
            if (e.condition() != kNone) reads(e.condition());
            reads(e.body());
            return;
        }
    }

    /// The members of the constraint's forall chain: exact, or (when the
    /// budget runs out) a lower bound with `exact` false. Without
    /// conditions, an upper bound of the true count.
    uint64_t count_rows(uint32_t ci, bool with_conditions, bool& exact) {
        std::vector<uint32_t> chain = chain_of(model_.constraints[ci]);
        exact = true;
        if (chain.empty()) return 1;
        std::vector<uint32_t> bindings;
        for (uint32_t k : chain)
            for (uint32_t b = 0; b < model_.foralls[k].binding_count; ++b)
                bindings.push_back(model_.foralls[k].first_binding + b);
        // Enumerated: the bindings a later set reads and, with conditions, those they read.
        for (uint32_t b : bindings) reads(ast_.bindings[b].domain);
        if (with_conditions)
            for (uint32_t k : chain)
                if (model_.foralls[k].condition != kNone) reads(model_.foralls[k].condition);
        std::vector<uint32_t> multiplied;
        for (uint32_t b : bindings) {
            needed_[b] = marks_[b];
            if (!marks_[b]) multiplied.push_back(b);
        }
        clear_marks();
        uint64_t count = 0;
        bool done = over(chain, 0, with_conditions, [&] {
            uint64_t members = 1;
            for (uint32_t b : multiplied) {
                std::shared_ptr<const Domain> d = evaluator_.domain(ast_.bindings[b].domain);
                members = times(members, d ? d->size() : 0);
            }
            count = plus(count, members);
            return true;
        });
        exact = done && !budget_.exhausted;
        return count;
    }

    template <typename Body>
    bool over(const std::vector<uint32_t>& chain, size_t level, bool with_conditions, const Body& body) {
        if (level == chain.size()) return body();
        const Forall& f = model_.foralls[chain[level]];
        return evaluator_.enumerate_projected(f.first_binding, f.binding_count, with_conditions ? f.condition : kNone,
                                              needed_, [&] { return over(chain, level + 1, with_conditions, body); });
    }

    // --------------------------------------------------------- nonzeros

    uint64_t row_terms(const Constraint& c) {
        uint64_t n = 0;
        for (ExprId side : {c.left, c.middle, c.right})
            if (side != kNone) n = plus(n, terms(side));
        return n;
    }

    /// The terms an expression contributes to a row: one per variable
    /// element named, a sum over sets the size of its sets times its body.
    /// A sum with a condition, or over a set that the row's bindings decide,
    /// counts its body once: how many members it has is not known here.
    uint64_t terms(ExprId id) {
        const ExprInfo& info = analysis_.info[id];
        if (!info.variable) return 0;
        const Expr& e = ast_[id];
        switch (e.kind) {
        case ExprKind::Name:
            if (e.ref_kind == RefKind::Declaration && model_.decls[e.ref].kind == DeclKind::Dexpr) return dexpr(e.ref);
            return 1;
        case ExprKind::Index: return 1;
        case ExprKind::Unary: return terms(e.operand());
        case ExprKind::Chain: {
            const Link* links = ast_.links_of(e);
            uint64_t n = 0;
            bool product = links[1].op == Op::Times || links[1].op == Op::Divide;
            for (uint32_t i = 0; i < e.count; ++i) {
                uint64_t t = terms(links[i].expr);
                if (product && t > 0) return t;  // the one factor with variables
                n = plus(n, t);
            }
            return n;
        }
        case ExprKind::Aggregate: {
            uint64_t body = terms(e.body());
            if (e.condition() != kNone) return body;
            for (uint32_t i = 0; i < e.count; ++i) reads(ast_.bindings[e.first + i].domain);
            bool dependent = !marked_.empty();
            clear_marks();
            if (dependent) return body;
            uint64_t members = 1;
            for (uint32_t i = 0; i < e.count; ++i) {
                std::shared_ptr<const Domain> d = evaluator_.domain(ast_.bindings[e.first + i].domain);
                if (!d) return body;
                members = times(members, d->size());
            }
            return times(members, body);
        }
        default: return 1;
        }
    }

    uint64_t dexpr(uint32_t decl) {
        if (dexpr_terms_[decl] != kNone64) return dexpr_terms_[decl];
        const Declaration& d = model_.decls[decl];
        dexpr_terms_[decl] = 0;  // a dexpr that reads itself is an error the other passes report
        uint64_t n = d.init != kNone && analysis_.decl_ok[decl] ? terms(d.init) : 0;
        dexpr_terms_[decl] = n;
        return n;
    }
};

}  // namespace

std::string size_count(uint64_t n) {
    std::string text = std::to_string(n);
    if (n < 1'000'000) return text;
    int exponent = static_cast<int>(std::floor(std::log10(static_cast<double>(n))));
    double mantissa = static_cast<double>(n) / std::pow(10.0, exponent);
    char shown[32];
    std::snprintf(shown, sizeof shown, "%.2g", mantissa);
    if (std::string(shown) == "10") {  // rounded up to the next power
        ++exponent;
        std::snprintf(shown, sizeof shown, "1");
    }
    return text + " (" + shown + "e" + std::to_string(exponent) + ")";
}

std::string too_large_message(std::string_view what, std::string_view amount, std::string_view total, uint64_t limit,
                              std::string_view unit) {
    return std::string(what) + " would have " + std::string(amount) + std::string(total) +
           ", more than the size limit of " + size_count(limit) + " " + std::string(unit) +
           "; use smaller sets, or raise the size limit";
}

bool measure_sizes(const Ast& ast, const Model& model, const Analysis& analysis, std::string_view model_text,
                   Values& values, Diagnostics& diagnostics, const SizeLimits& limits, uint64_t steps,
                   Interrupt* interrupt, std::vector<FamilySize>* family_sizes) {
    return SizeCounter(ast, model, analysis, model_text, values, diagnostics, limits, steps, interrupt)
        .run(family_sizes);
}

}  // namespace tarvok::compiler
