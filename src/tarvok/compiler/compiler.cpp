#include "compiler/compiler.hpp"

#include <algorithm>

namespace tarvok::compiler {

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

    Budget data_budget{options.data_steps, false, options.interrupt};
    bind_data(c->ast, c->model, c->data, c->analysis, model_text, c->values, c->diagnostics, data_budget,
              options.steps_per_declaration,
              std::max<uint64_t>(options.computed_values, model_text.size() + data_text.size()));

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
