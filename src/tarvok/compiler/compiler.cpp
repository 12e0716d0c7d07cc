#include "compiler/compiler.hpp"

#include <algorithm>

namespace tarvok::compiler {

uint64_t GivenArray::cells() const {
    uint64_t n = 1;
    for (uint64_t extent : shape)
        if (__builtin_mul_overflow(n, extent, &n)) return UINT64_MAX;
    return n;
}

std::unique_ptr<Compilation> compile(std::string_view model_text, std::string_view data_text,
                                     const CompileOptions& options) {
    auto c = std::make_unique<Compilation>();
    c->model_text = model_text;
    c->data_origin = options.data_origin;
    c->data_text = data_text;
    c->diagnostics = Diagnostics(options.max_diagnostics);
    Limits limits = options.limits;
    limits.interrupt = options.interrupt;

    bool model_read = parse_model(model_text, c->ast, c->model, c->diagnostics, limits);
    bool data_read = parse_data(data_text, c->ast, c->data, c->diagnostics, limits);
    // A limit that ended reading leaves the rest of the text unknown: checking
    // what was read would report every later name as missing.
    if (!model_read || !data_read) return c;
    bool syntax_errors = !c->ok();
    bool model_syntax_errors = false;
    for (const Diagnostic& d : c->diagnostics.items()) model_syntax_errors |= d.at.file == SourceFile::Model;

    if (c->model.decls.empty() && !c->model.objective.present && !c->model.has_subject_to) {
        if (syntax_errors) return c;
        // An empty answer must not pass for a model.
        c->diagnostics.error(Code::EmptyModel, Location{},
                             "the model is empty: declare its data and decision variables, then an objective and "
                             "'subject to { ... }'");
        return c;
    }

    // The later passes run over every statement that parsed, so that one
    // round of repair can mend syntax, names, types and data together; the
    // names a broken statement mentions are not reported as missing.
    resolve(c->ast, c->model, model_text, c->diagnostics, options.interrupt);
    c->analysis = check_types(c->ast, c->model, model_text, c->diagnostics, options.interrupt);

    // Each given number stands for a node of the data text it replaces, and
    // for one byte of it (at least: a digit, or more with its separator), so
    // that what the text would refuse as too large is refused alike.
    uint64_t given_cells = 0;
    for (const GivenArray& g : options.given_arrays)
        if (__builtin_add_overflow(given_cells, g.cells(), &given_cells)) given_cells = UINT64_MAX;
    if (given_cells > limits.max_nodes - std::min<uint64_t>(limits.max_nodes, c->ast.exprs.size())) {
        c->given_misfit = true;
        return c;
    }
    if (options.model_only)
        for (const Declaration& d : c->model.decls)
            c->data_unchecked |= (d.kind == DeclKind::Set || d.kind == DeclKind::Parameter) && d.init == kNone;
    if (c->data_unchecked) {
        find_warnings(c->ast, c->model, c->analysis, !model_syntax_errors, c->diagnostics, options.interrupt);
        return c;
    }
    Budget data_budget{options.data_steps, false, options.interrupt};
    bind_data(c->ast, c->model, c->data, c->analysis, model_text, c->values, c->diagnostics, data_budget,
              options.steps_per_declaration,
              std::max<uint64_t>(options.computed_values, model_text.size() + data_text.size() + given_cells),
              options.given_arrays, &c->given_misfit);

    // A model too large to build is not checked member by member either.
    bool too_large = measure_sizes(c->ast, c->model, c->analysis, model_text, c->values, c->diagnostics, options.sizes,
                                   options.size_steps, options.interrupt, &c->family_sizes);
    Budget check_budget{options.check_steps, false, options.interrupt};
    if (options.check_instance && !too_large)
        check_instance(c->ast, c->model, c->analysis, model_text, c->values, c->diagnostics, check_budget);
    find_warnings(c->ast, c->model, c->analysis, !model_syntax_errors, c->diagnostics, options.interrupt);
    return c;
}

}  // namespace tarvok::compiler
