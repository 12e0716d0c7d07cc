// Pass 1, names: every name in the model is bound to its declaration or to a
// binding of an enclosing forall, sum, min or max. Reports use before
// declaration, undeclared names (with a suggestion), redeclarations, label
// clashes and wrong numbers of indices.
#include "compiler/analysis.hpp"

#include "compiler/slips.hpp"

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tarvok::compiler {

namespace {

std::string line_of(const Location& at) { return "line " + std::to_string(at.line); }

const char* kind_text(DeclKind kind) {
    switch (kind) {
    case DeclKind::TupleType: return "a tuple type";
    case DeclKind::Parameter: return "a parameter";
    case DeclKind::Set: return "a set";
    case DeclKind::Range: return "a range";
    case DeclKind::Dvar: return "a decision variable";
    case DeclKind::Dexpr: return "a dexpr";
    }
    return "";
}

class Resolver {
  public:
    Resolver(Ast& ast, Model& model, std::string_view source, Diagnostics& diagnostics, Interrupt* interrupt)
        : ast_(ast), model_(model), source_(source), diagnostics_(diagnostics), interrupt_(interrupt),
          visible_(ast.texts.size(), kNone), first_decl_(ast.texts.size(), kNone), bound_(ast.texts.size(), kNone),
          broken_(ast.texts.size(), false), closed_(ast.texts.size(), kNone) {
        for (TextId name : model.broken_names) broken_[name] = true;
    }

    void run() {
        for (uint32_t i = 0; i < model_.decls.size(); ++i)
            if (first_decl_[model_.decls[i].name] == kNone) first_decl_[model_.decls[i].name] = i;
        for (uint32_t i = 0; i < model_.decls.size(); ++i) {
            new_statement();
            declaration(i);
        }
        current_ = static_cast<uint32_t>(model_.decls.size());
        if (model_.objective.present) {
            new_statement();
            label(model_.objective.label, model_.objective.label_at);
            expr(model_.objective.expr);
        }
        constraints();
    }

  private:
    Ast& ast_;
    Model& model_;
    std::string_view source_;
    Diagnostics& diagnostics_;
    Interrupt* interrupt_;
    std::vector<uint32_t> visible_;                      ///< per name: its declaration, once declared
    std::vector<uint32_t> first_decl_;                   ///< per name: its first declaration anywhere
    std::vector<uint32_t> bound_;                        ///< per name: the innermost binding in scope
    std::vector<std::pair<TextId, uint32_t>> shadowed_;  ///< bound_ entries to restore
    std::vector<uint32_t> scope_;                        ///< bindings in scope, outermost first
    std::vector<bool> broken_;                           ///< per name: named in a statement that failed to parse
    /// Per name: the aggregate of the current statement whose binding of that
    /// name went out of scope, for the slip of a binding used after its sum.
    std::vector<ExprId> closed_;
    std::vector<TextId> closed_names_;  ///< the entries of `closed_` to clear
    std::unordered_map<TextId, Location> labels_;
    uint32_t current_ = 0;  ///< declarations before this one are visible

    std::string_view text(TextId id) const { return ast_.texts[id]; }
    std::string shown(TextId id) const { return shown_name(ast_.texts[id]); }

    Diagnostic* error(Code code, const Location& at, std::string message, uint32_t end = kWordEnd) {
        return diagnostics_.error(code, at, std::move(message), end);
    }

    /// Adds "first declared here" to `d` (when it was kept).
    void declared_here(Diagnostic* d, const Declaration& first) {
        if (d) d->notes.push_back({first.at, "'" + shown(first.name) + "' is declared here"});
    }

    void new_statement() {
        for (TextId name : closed_names_) closed_[name] = kNone;
        closed_names_.clear();
    }

    std::string_view source_of(ExprId id) const {
        const Expr& e = ast_[id];
        if (e.at.file != SourceFile::Model || e.at.offset >= source_.size() || e.end <= e.at.offset) return {};
        return source_.substr(e.at.offset, std::min<size_t>(e.end, source_.size()) - e.at.offset);
    }

    /// Reports a slip spelled by the name at `at`, if the table knows it.
    bool slip(SlipPlace place, const Location& at) {
        if (at.offset >= source_.size()) return false;
        std::optional<SlipMatch> m = find_slip(place, source_.substr(at.offset));
        if (!m) return false;
        if (Diagnostic* d = error(Code::ForeignWord, at, m->message, at.offset + static_cast<uint32_t>(m->length)))
            d->fix = m->fix;
        return true;
    }

    void declaration(uint32_t index) {
        current_ = index;
        Declaration& d = model_.decls[index];
        if (d.kind == DeclKind::TupleType) {
            for (size_t i = 0; i < d.fields.size(); ++i) {
                for (size_t j = 0; j < i; ++j)
                    if (d.fields[j].name == d.fields[i].name)
                        error(Code::DuplicateField, d.fields[i].at,
                              "the field '" + shown(d.fields[i].name) + "' is declared twice in tuple '" +
                                  shown(d.name) + "'");
                type_name(d.fields[i].type);
            }
        } else {
            type_name(d.type);
        }
        for (ExprId dim : d.dims) expr(dim);
        if (d.init != kNone) expr(d.init);
        if (d.bounds != kNone) expr(d.bounds);
        uint32_t earlier = visible_[d.name];
        if (earlier != kNone) {
            declared_here(
                error(Code::AlreadyDeclared, d.at,
                      "'" + shown(d.name) + "' is already declared (" + line_of(model_.decls[earlier].at) + ")"),
                model_.decls[earlier]);
            return;
        }
        visible_[d.name] = index;
    }

    std::vector<std::string_view> visible_names() const {
        std::vector<std::string_view> names;
        for (uint32_t i = 0; i < current_ && i < model_.decls.size(); ++i) names.push_back(text(model_.decls[i].name));
        for (uint32_t b : scope_) names.push_back(text(ast_.bindings[b].name));
        return names;
    }

    void type_name(TypeName& t) {
        if (t.base != BaseType::Tuple) return;
        uint32_t d = visible_[t.tuple];
        std::string name = shown(t.tuple);
        if (d == kNone) {
            uint32_t later = first_decl_[t.tuple];
            if (later != kNone && model_.decls[later].kind == DeclKind::TupleType) {
                declared_here(error(Code::TupleTypeBeforeDeclaration, t.at,
                                    "tuple type '" + name + "' is used before its declaration (" +
                                        line_of(model_.decls[later].at) + ")"),
                              model_.decls[later]);
                return;
            }
            if (broken_[t.tuple] || !diagnostics_.accepting(t.at)) return;
            if (slip(SlipPlace::Type, t.at) || slip(SlipPlace::Statement, t.at)) return;
            std::vector<std::string_view> types = {"int", "float", "string", "boolean"};
            for (uint32_t i = 0; i < current_; ++i)
                if (model_.decls[i].kind == DeclKind::TupleType) types.push_back(text(model_.decls[i].name));
            std::string_view best = closest_name(text(t.tuple), types);
            std::string suggestion = best.empty() ? "" : " (did you mean '" + shown_name(best) + "'?)";
            if (Diagnostic* e = error(Code::UnknownType, t.at, "unknown type '" + name + "'" + suggestion))
                if (!best.empty()) e->fix = std::string(best);
            return;
        }
        if (model_.decls[d].kind != DeclKind::TupleType) {
            error(Code::NotAType, t.at, "'" + name + "' is " + kind_text(model_.decls[d].kind) + ", not a type");
            return;
        }
        t.decl = d;
    }

    void label(TextId name, const Location& at) {
        if (name == kNone) return;
        if (first_decl_[name] != kNone) {
            declared_here(error(Code::LabelIsDeclaredName, at,
                                "the label '" + shown(name) + "' is already the name of a declaration (" +
                                    line_of(model_.decls[first_decl_[name]].at) + "); choose another label"),
                          model_.decls[first_decl_[name]]);
            return;
        }
        auto [it, fresh] = labels_.emplace(name, at);
        if (fresh) return;
        if (Diagnostic* d = error(Code::DuplicateLabel, at,
                                  "the label '" + shown(name) + "' is already used (" + line_of(it->second) + ")"))
            d->notes.push_back({it->second, "the label '" + shown(name) + "' is first used here"});
    }

    // ------------------------------------------------------------ scopes ----

    void bind(uint32_t index) {
        Binding& b = ast_.bindings[index];
        expr(b.domain);
        std::string name = shown(b.name);
        if (visible_[b.name] != kNone)
            declared_here(error(Code::AlreadyDeclared, b.at,
                                "'" + name + "' is already declared (" + line_of(model_.decls[visible_[b.name]].at) +
                                    "); a binding needs a name of its own"),
                          model_.decls[visible_[b.name]]);
        else if (bound_[b.name] != kNone)
            error(Code::BindingShadows, b.at,
                  "'" + name + "' is already bound by an enclosing forall, sum, min or max; choose another name");
        shadowed_.emplace_back(b.name, bound_[b.name]);
        bound_[b.name] = index;
        scope_.push_back(index);
    }

    void unbind(size_t count) {
        for (size_t i = 0; i < count; ++i) {
            auto [name, previous] = shadowed_.back();
            shadowed_.pop_back();
            bound_[name] = previous;
            scope_.pop_back();
        }
    }

    void constraints() {
        std::vector<uint32_t> open;  // foralls in scope, outermost first
        for (Constraint& c : model_.constraints) {
            std::vector<uint32_t> chain;
            for (uint32_t f = c.forall; f != kNone; f = model_.foralls[f].parent) chain.insert(chain.begin(), f);
            size_t common = 0;
            while (common < open.size() && common < chain.size() && open[common] == chain[common]) ++common;
            while (open.size() > common) {
                unbind(model_.foralls[open.back()].binding_count);
                open.pop_back();
            }
            for (size_t k = common; k < chain.size(); ++k) {
                const Forall& f = model_.foralls[chain[k]];
                for (uint32_t b = 0; b < f.binding_count; ++b) bind(f.first_binding + b);
                if (f.condition != kNone) expr(f.condition);
                open.push_back(chain[k]);
            }
            new_statement();
            label(c.label, c.label_at);
            for (ExprId side : {c.left, c.middle, c.right})
                if (side != kNone) expr(side);
        }
        while (!open.empty()) {
            unbind(model_.foralls[open.back()].binding_count);
            open.pop_back();
        }
    }

    // ------------------------------------------------------- expressions ----

    void name(ExprId id) {
        Expr& e = ast_[id];
        if (bound_[e.text()] != kNone) {
            e.ref_kind = RefKind::Binding;
            e.ref = bound_[e.text()];
            return;
        }
        if (visible_[e.text()] != kNone) {
            e.ref_kind = RefKind::Declaration;
            e.ref = visible_[e.text()];
            return;
        }
        uint32_t later = first_decl_[e.text()];
        if (later != kNone && later == current_ && current_ < model_.decls.size()) {
            error(Code::UsedInOwnDeclaration, e.at, "'" + shown(e.text()) + "' is used in its own declaration");
        } else if (later != kNone) {
            declared_here(error(Code::UsedBeforeDeclaration, e.at,
                                "'" + shown(e.text()) + "' is used before its declaration (" +
                                    line_of(model_.decls[later].at) + ")"),
                          model_.decls[later]);
        } else if (closed_[e.text()] != kNone) {
            outside_aggregate(id, closed_[e.text()]);
        } else if (!broken_[e.text()] && diagnostics_.accepting(e.at) && !slip(SlipPlace::Value, e.at)) {
            // Suggestions are made only for errors that are kept: past the cap
            // no name costs a search through the declarations.
            std::string_view best = closest_name(text(e.text()), visible_names());
            std::string suggestion = best.empty() ? "" : " (did you mean '" + shown_name(best) + "'?)";
            if (Diagnostic* d =
                    error(Code::UndeclaredName, e.at, "undeclared name '" + shown(e.text()) + "'" + suggestion))
                if (!best.empty()) d->fix = std::string(best);
        }
    }

    /// A binding of `aggregate` used after the aggregate's body ended: the
    /// body of a sum is one product, so 'sum(i in I) a[i] * x[i] + b[i]'
    /// leaves 'b[i]' outside it.
    void outside_aggregate(ExprId use, ExprId aggregate) {
        const Expr& a = ast_[aggregate];
        const Expr& u = ast_[use];
        std::string keyword = op_text(a.op);
        std::string bindings;
        for (uint32_t i = 0; i < a.count; ++i) {
            const Binding& b = ast_.bindings[a.first + i];
            bindings += (i ? ", " : "") + shown(b.name) + " in " + quote_source(source_of(b.domain), 24);
        }
        error(Code::BindingOutsideAggregate, u.at,
              "'" + shown(u.text()) + "' is bound by the '" + keyword + "' at " + std::to_string(a.at.line) + ":" +
                  std::to_string(a.at.column) +
                  ", whose body is one product and ends before this use; "
                  "parenthesise the body, as in '" +
                  keyword + "(" + bindings + ") (" + quote_source(source_of(a.body()), 30) + " ...)'");
    }

    void expr(ExprId id) {
        tick(interrupt_);
        Expr& e = ast_[id];
        switch (e.kind) {
        case ExprKind::Number:
        case ExprKind::String:
        case ExprKind::Bool: return;
        case ExprKind::Name: return name(id);
        case ExprKind::Index: return index(id);
        case ExprKind::Field:
        case ExprKind::Unary:
        case ExprKind::Abs:
        case ExprKind::Card: return expr(e.left);
        case ExprKind::TupleLiteral:
        case ExprKind::SetLiteral:
        case ExprKind::ArrayLiteral:
        case ExprKind::Chain:
            for (uint32_t i = 0; i < e.count; ++i) expr(ast_.links[e.first + i].expr);
            return;
        case ExprKind::Range:
        case ExprKind::Compare:
        case ExprKind::In:
            expr(e.low());
            expr(e.high());
            return;
        case ExprKind::Aggregate:
            for (uint32_t i = 0; i < e.count; ++i) bind(e.first + i);
            if (e.condition() != kNone) expr(e.condition());
            expr(e.body());
            unbind(e.count);
            for (uint32_t i = 0; i < e.count; ++i) {
                TextId name = ast_.bindings[e.first + i].name;
                if (closed_[name] == kNone) closed_names_.push_back(name);
                closed_[name] = id;
            }
            return;
        }
    }

    void index(ExprId id) {
        const Expr& e = ast_[id];
        name(e.target());
        for (uint32_t i = 0; i < e.count; ++i) expr(ast_.links[e.first + i].expr);
        const Expr& target = ast_[e.target()];
        std::string name = shown(target.text());
        if (target.ref_kind == RefKind::Binding) {
            error(Code::BindingIndexed, e.at, "'" + name + "' is a binding, not an array, so it cannot be indexed",
                  e.end);
        } else if (target.ref_kind == RefKind::Declaration) {
            const Declaration& d = model_.decls[target.ref];
            if (d.dims.empty()) {
                error(Code::ScalarIndexed, e.at,
                      "'" + name + "' is " + kind_text(d.kind) + " without dimensions, so it cannot be indexed", e.end);
            } else if (d.dims.size() != e.count) {
                std::string dims;
                for (ExprId dim : d.dims) {
                    const Expr& de = ast_[dim];
                    dims += "[" + (de.kind == ExprKind::Name ? shown(de.text()) : std::string("lo..hi")) + "]";
                }
                error(Code::IndexCount, e.at,
                      "'" + name + "' has " + std::to_string(d.dims.size()) + " dimension" +
                          (d.dims.size() == 1 ? "" : "s") + " " + dims + " but " + std::to_string(e.count) +
                          (e.count == 1 ? " index is" : " indices are") + " given",
                      e.end);
            }
        }
    }
};

}  // namespace

void resolve(Ast& ast, Model& model, std::string_view model_text, Diagnostics& diagnostics, Interrupt* interrupt) {
    Resolver(ast, model, model_text, diagnostics, interrupt).run();
}

}  // namespace tarvok::compiler
