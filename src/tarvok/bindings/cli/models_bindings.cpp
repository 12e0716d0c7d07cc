// `tarvok models [--prefix TEXT | --all]`: a provider's model names.
#include "bindings/cli/command.hpp"
#include "generative/providers/providers.hpp"

namespace tarvok::cli {

namespace pv = tarvok::generative::providers;

int run_models(py::object args) {
    py::module_ tg = generative();
    check_llm_options(args);
    TemporarySettings settings;
    apply_llm_options(settings, args);
    py::object provider = tg.attr("_infer_provider")(args.attr("provider"), model_or_default(args));
    py::object prefix = args.attr("prefix");
    if (host::truthy(args.attr("all"))) prefix = py::str("");
    py::object call;
    if (prefix.is_none()) {
        call = py::cpp_function([&] { return tg.attr("list_models")(args.attr("provider"), model_or_default(args)); });
    } else {
        std::string value = host::str_of(provider.attr("value"));
        const pv::Provider* entry = pv::provider_from_alias(value);
        py::object list = tg.attr(std::string(entry->list_models).c_str());
        call = py::cpp_function([list, prefix] { return list(prefix); });
    }
    py::object names = llm_phase([&] { return wait_for(host::str_of(provider.attr("value")) + " model list", call); });
    if (host::truthy(args.attr("json"))) {
        say_json(names);
    } else {
        for (auto name : names) say(host::str_of(name));
    }
    return 0;
}

const Registration registration{"models", run_models};

}  // namespace tarvok::cli
