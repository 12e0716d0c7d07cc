// `tarvok models`: a provider's model names.
#include "cli/command.hpp"

namespace tarvok::cli {

void add_models(py::object commands) {
    py::object models = commands.attr("add_parser")("models", py::arg("help") = "list a provider's models");
    add_llm_options(models, false);
}

int run_models(py::object args) {
    py::object names = generative().attr("list_models")(args.attr("provider"), model_or_default(args));
    if (host::truthy(args.attr("json"))) {
        say(host::str_of(json_dumps(names)));
    } else {
        for (auto name : names) say(host::str_of(name));
    }
    return 0;
}

}  // namespace tarvok::cli
