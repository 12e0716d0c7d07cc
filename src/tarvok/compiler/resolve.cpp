// Pass 1, names: every name in the model is bound to its declaration or to a
// binding of an enclosing forall, sum, min or max. Reports use before
// declaration, undeclared names (with a suggestion), redeclarations, label
// clashes and wrong numbers of indices.
#include "compiler/analysis.hpp"

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
    Resolver(Ast& ast, Model& model, Diagnostics& diagnostics)
        : ast_(ast), model_(model), diagnostics_(diagnostics), visible_(ast.texts.size(), kNone),
          first_decl_(ast.texts.size(), kNone), bound_(ast.texts.size(), kNone) {}

    void run() {
        for (uint32_t i = 0; i < model_.decls.size(); ++i)
            if (first_decl_[model_.decls[i].name] == kNone) first_decl_[model_.decls[i].name] = i;
        for (uint32_t i = 0; i < model_.decls.size(); ++i) declaration(i);
        current_ = static_cast<uint32_t>(model_.decls.size());
        if (model_.objective.present) {
            label(model_.objective.label, model_.objective.label_at);
            expr(model_.objective.expr);
        }
        constraints();
    }

  private:
    Ast& ast_;
    Model& model_;
    Diagnostics& diagnostics_;
    std::vector<uint32_t> visible_;     ///< per name: its declaration, once declared
    std::vector<uint32_t> first_decl_;  ///< per name: its first declaration anywhere
    std::vector<uint32_t> bound_;       ///< per name: the innermost binding in scope
    std::vector<std::pair<TextId, uint32_t>> shadowed_;  ///< bound_ entries to restore
    std::vector<uint32_t> scope_;       ///< bindings in scope, outermost first
    std::unordered_map<TextId, Location> labels_;
    uint32_t current_ = 0;              ///< declarations before this one are visible

    std::string_view text(TextId id) const { return ast_.texts[id]; }

    void error(const Location& at, std::string message) { diagnostics_.error(at, std::move(message)); }

    void declaration(uint32_t index) {
        current_ = index;
        Declaration& d = model_.decls[index];
        if (d.kind == DeclKind::TupleType) {
            for (size_t i = 0; i < d.fields.size(); ++i) {
                for (size_t j = 0; j < i; ++j)
                    if (d.fields[j].name == d.fields[i].name)
                        error(d.fields[i].at, "the field '" + std::string(text(d.fields[i].name)) +
                                                  "' is declared twice in tuple '" + std::string(text(d.name)) + "'");
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
            error(d.at, "'" + std::string(text(d.name)) + "' is already declared (" +
                            line_of(model_.decls[earlier].at) + ")");
            return;
        }
        visible_[d.name] = index;
    }

    std::vector<std::string_view> visible_names() const {
        std::vector<std::string_view> names;
        for (uint32_t i = 0; i < current_ && i < model_.decls.size(); ++i)
            names.push_back(text(model_.decls[i].name));
        for (uint32_t b : scope_) names.push_back(text(ast_.bindings[b].name));
        return names;
    }

    void type_name(TypeName& t) {
        if (t.base != BaseType::Tuple) return;
        uint32_t d = visible_[t.tuple];
        std::string name(text(t.tuple));
        if (d == kNone) {
            uint32_t later = first_decl_[t.tuple];
            if (later != kNone && model_.decls[later].kind == DeclKind::TupleType) {
                error(t.at, "tuple type '" + name + "' is used before its declaration (" +
                                line_of(model_.decls[later].at) + ")");
                return;
            }
            std::vector<std::string_view> types = {"int", "float", "string", "boolean"};
            for (uint32_t i = 0; i < current_; ++i)
                if (model_.decls[i].kind == DeclKind::TupleType) types.push_back(text(model_.decls[i].name));
            error(t.at, "unknown type '" + name + "'" + did_you_mean(name, types));
            return;
        }
        if (model_.decls[d].kind != DeclKind::TupleType) {
            error(t.at, "'" + name + "' is " + kind_text(model_.decls[d].kind) + ", not a type");
            return;
        }
        t.decl = d;
    }

    void label(TextId name, const Location& at) {
        if (name == kNone) return;
        std::string shown(text(name));
        if (first_decl_[name] != kNone) {
            error(at, "the label '" + shown + "' is already the name of a declaration (" +
                          line_of(model_.decls[first_decl_[name]].at) + "); choose another label");
            return;
        }
        auto [it, fresh] = labels_.emplace(name, at);
        if (!fresh) error(at, "the label '" + shown + "' is already used (" + line_of(it->second) + ")");
    }

    // ------------------------------------------------------------ scopes ----

    void bind(uint32_t index) {
        Binding& b = ast_.bindings[index];
        expr(b.domain);
        std::string name(text(b.name));
        if (visible_[b.name] != kNone)
            error(b.at, "'" + name + "' is already declared (" + line_of(model_.decls[visible_[b.name]].at) +
                            "); a binding needs a name of its own");
        else if (bound_[b.name] != kNone)
            error(b.at, "'" + name + "' is already bound by an enclosing forall, sum, min or max; "
                        "choose another name");
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
        std::string shown(text(e.text()));
        uint32_t later = first_decl_[e.text()];
        if (later != kNone && later == current_ && current_ < model_.decls.size())
            error(e.at, "'" + shown + "' is used in its own declaration");
        else if (later != kNone)
            error(e.at, "'" + shown + "' is used before its declaration (" + line_of(model_.decls[later].at) + ")");
        else
            error(e.at, "undeclared name '" + shown + "'" + did_you_mean(shown, visible_names()));
    }

    void expr(ExprId id) {
        Expr& e = ast_[id];
        switch (e.kind) {
        case ExprKind::Number: case ExprKind::String: case ExprKind::Bool: return;
        case ExprKind::Name: return name(id);
        case ExprKind::Index: return index(id);
        case ExprKind::Field: case ExprKind::Unary: case ExprKind::Abs: case ExprKind::Card: return expr(e.left);
        case ExprKind::TupleLiteral: case ExprKind::SetLiteral: case ExprKind::ArrayLiteral: case ExprKind::Chain:
            for (uint32_t i = 0; i < e.count; ++i) expr(ast_.links[e.first + i].expr);
            return;
        case ExprKind::Range: case ExprKind::Compare: case ExprKind::In:
            expr(e.low());
            expr(e.high());
            return;
        case ExprKind::Aggregate:
            for (uint32_t i = 0; i < e.count; ++i) bind(e.first + i);
            if (e.condition() != kNone) expr(e.condition());
            expr(e.body());
            unbind(e.count);
            return;
        }
    }

    void index(ExprId id) {
        const Expr& e = ast_[id];
        name(e.target());
        for (uint32_t i = 0; i < e.count; ++i) expr(ast_.links[e.first + i].expr);
        const Expr& target = ast_[e.target()];
        std::string shown(text(target.text()));
        if (target.ref_kind == RefKind::Binding) {
            error(e.at, "'" + shown + "' is a binding, not an array, so it cannot be indexed");
        } else if (target.ref_kind == RefKind::Declaration) {
            const Declaration& d = model_.decls[target.ref];
            if (d.dims.empty()) {
                error(e.at, "'" + shown + "' is " + kind_text(d.kind) + " without dimensions, so it cannot be indexed");
            } else if (d.dims.size() != e.count) {
                std::string dims;
                for (ExprId dim : d.dims) {
                    const Expr& de = ast_[dim];
                    dims += "[" + (de.kind == ExprKind::Name ? std::string(text(de.text())) : std::string("lo..hi")) + "]";
                }
                error(e.at, "'" + shown + "' has " + std::to_string(d.dims.size()) + " dimension" +
                                (d.dims.size() == 1 ? "" : "s") + " " + dims + " but " + std::to_string(e.count) +
                                (e.count == 1 ? " index is" : " indices are") + " given");
            }
        }
    }
};

}  // namespace

void resolve(Ast& ast, Model& model, Diagnostics& diagnostics) { Resolver(ast, model, diagnostics).run(); }

}  // namespace tarvok::compiler
