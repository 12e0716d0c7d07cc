#include "compiler/compiler.hpp"

namespace tarvok::compiler {

std::unique_ptr<Compilation> compile(std::string_view model_text, std::string_view data_text,
                                     const CompileOptions& options) {
    auto c = std::make_unique<Compilation>();
    c->model_text = model_text;
    c->data_text = data_text;
    c->diagnostics = Diagnostics(options.max_diagnostics);

    // Syntax errors of both texts are reported together; the later passes
    // need whole trees.
    parse_model(model_text, c->ast, c->model, c->diagnostics, options.limits);
    parse_data(data_text, c->ast, c->data, c->diagnostics, options.limits);
    if (!c->ok()) return c;

    if (c->model.decls.empty() && !c->model.objective.present && !c->model.has_subject_to) {
        // An empty answer must not pass for a model.
        c->diagnostics.error(Location{}, "the model is empty: declare its data and decision variables, then an "
                                         "objective and 'subject to { ... }'");
        return c;
    }

    resolve(c->ast, c->model, c->diagnostics);
    c->analysis = check_types(c->ast, c->model, model_text, c->diagnostics);

    Budget data_budget{options.data_steps};
    bind_data(c->ast, c->model, c->data, c->analysis, model_text, c->values, c->diagnostics, data_budget,
              options.steps_per_declaration);

    Budget check_budget{options.check_steps};
    check_instance(c->ast, c->model, c->analysis, model_text, c->values, c->diagnostics, check_budget);
    return c;
}

}  // namespace tarvok::compiler
