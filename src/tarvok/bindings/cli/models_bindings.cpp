// `tarvok models [--prefix TEXT | --all]`: a provider's model names.
#include "bindings/cli/command.hpp"
#include "bindings/tarvok_generative/bindings.hpp"
#include "generative/providers/providers.hpp"

namespace tarvok::cli {

namespace pv = tarvok::generative::providers;

int run_models(const CommandLine& line) {
    py::module_ tg = generative();
    LlmOptions llm = check_llm_options(line);
    generative::bind::CallOptions scope(llm_call_options(llm));  // this listing's alone
    py::object given = llm.provider ? py::object(host::text(*llm.provider)) : py::none();
    py::object model = host::text(llm.model_name);
    std::string provider = host::str_of(tg.attr("_infer_provider")(given, model).attr("value"));
    std::optional<std::string> prefix_given = line.flag("all") ? std::optional<std::string>("") : line.text("prefix");
    py::object call;
    if (!prefix_given) {
        call = py::cpp_function([&] { return tg.attr("list_models")(given, model); });
    } else {
        py::object prefix = host::text(*prefix_given);
        const pv::Provider* entry = pv::provider_from_alias(provider);
        call = py::cpp_function([entry, prefix] { return generative::bind::listing(*entry, prefix); });
    }
    py::object names = llm_phase([&] { return wait_for(provider + " model list", call); });
    if (line.flag("json")) {
        say_json(names);
    } else {
        for (auto name : names) say(host::str_of(name));
    }
    return 0;
}

const Registration registration{"models", run_models};

}  // namespace tarvok::cli
