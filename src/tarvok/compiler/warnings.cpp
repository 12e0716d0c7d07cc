// Pass 5, warnings: what compiles but is likely not what was meant. A
// constraint or objective without a decision variable, and declarations
// that nothing uses (often a constraint that was forgotten). Warnings never
// make a compilation fail.
#include "compiler/compiler.hpp"

#include <algorithm>
#include <string>
#include <vector>

namespace tarvok::compiler {

namespace {

std::string labelled(const Ast& ast, TextId label) {
    return label == kNone ? std::string() : " '" + shown_name(ast.texts[label]) + "'";
}

/// Whether an error lies in a byte span of the model text: such a statement
/// gets no warning, whatever its error made it look like.
class ErrorSpans {
  public:
    explicit ErrorSpans(const Diagnostics& diagnostics) {
        for (const Diagnostic& d : diagnostics.items())
            if (d.at.file == SourceFile::Model) offsets_.push_back(d.at.offset);
        std::sort(offsets_.begin(), offsets_.end());
    }
    bool any(uint32_t begin, uint32_t end) const {
        auto it = std::lower_bound(offsets_.begin(), offsets_.end(), begin);
        return it != offsets_.end() && *it < end;
    }

  private:
    std::vector<uint32_t> offsets_;
};

}  // namespace

void find_warnings(const Ast& ast, const Model& model, const Analysis& analysis, bool model_parsed_whole,
                   Diagnostics& diagnostics, Interrupt* interrupt) {
    ErrorSpans errors(diagnostics);
    // A statement with an error anywhere in it (its form is Error) says nothing here.
    auto constant = [&](ExprId id) {
        const ExprInfo& info = analysis.info[id];
        return info.form != Form::Error && !info.variable;
    };
    const Objective& o = model.objective;
    if (o.present && analysis.objective_ok && constant(o.expr) && !errors.any(o.at.offset, ast[o.expr].end))
        diagnostics.warning(Code::ObjectiveWithoutVariable, model.objective.at,
                            "the objective mentions no decision variable: every solution has the same value");
    for (size_t i = 0; i < model.constraints.size(); ++i) {
        const Constraint& c = model.constraints[i];
        if (!analysis.constraint_ok[i]) continue;
        uint32_t begin = c.at.offset;
        for (uint32_t f = c.forall; f != kNone; f = model.foralls[f].parent) begin = model.foralls[f].at.offset;
        uint32_t end = ast[c.right].end;
        if (errors.any(begin, end)) continue;
        bool quiet = true;
        for (ExprId side : {c.left, c.middle, c.right}) quiet = quiet && (side == kNone || constant(side));
        if (quiet)
            diagnostics.warning(Code::ConstraintWithoutVariable, c.at,
                                "the constraint" + labelled(ast, c.label) +
                                    " mentions no decision variable: the data alone decides whether it holds");
    }

    // A use in a statement that did not parse is not seen: say nothing then.
    if (!model_parsed_whole) return;
    std::vector<bool> used(model.decls.size(), false);
    for (const Expr& e : ast.exprs) {
        tick(interrupt);
        if (e.kind == ExprKind::Name && e.ref_kind == RefKind::Declaration) used[e.ref] = true;
    }
    for (const Declaration& d : model.decls) {
        if (d.type.decl != kNone) used[d.type.decl] = true;
        for (const TupleField& f : d.fields)
            if (f.type.decl != kNone) used[f.type.decl] = true;
    }
    for (uint32_t i = 0; i < model.decls.size(); ++i) {
        const Declaration& d = model.decls[i];
        if (used[i] || !analysis.decl_ok[i] || errors.any(d.start.offset, d.end)) continue;
        std::string name = shown_name(ast.texts[d.name]);
        if (d.kind == DeclKind::Dvar)
            diagnostics.warning(Code::UnusedVariable, d.at,
                                "decision variable '" + name + "' is declared but never used");
        else if (d.kind == DeclKind::Dexpr)
            continue;  /// A dexpr is reported with the solution (`run` prints it): used or not, it is an output.
        else
            diagnostics.warning(Code::UnusedData, d.at, "'" + name + "' is declared but never used");
    }
}

}  // namespace tarvok::compiler
