// The Ollama back-end: generation and model listing on a local server.
#include "generative/providers/back_end.hpp"

namespace tarvok::generative::bind {

namespace {

py::object ollama_generate_text(py::object model_name, py::object prompt, py::object num_predict) {
    const char* fn = "_ollama_generate_text";
    host::require(model_name, fn, "model_name", Kind::Str);
    host::require(prompt, fn, "prompt", Kind::Str);
    host::require(num_predict, fn, "num_predict", Kind::Int, true);
    py::object generate = load_library(provider("ollama"), [] { return import_from("ollama", "generate"); });
    py::dict options;
    if (!num_predict.is_none()) options["num_predict"] = num_predict;
    py::object result =
        generate(py::arg("model") = model_name, py::arg("prompt") = prompt, py::arg("options") = options);
    try {
        py::object text = result[py::str("response")];
        if (!host::truthy(text)) return py::str("");
        if (!PyUnicode_Check(text.ptr())) {
            host::raise(PyExc_TypeError, "the reply under 'response' is " + host::type_name(text) + ", not str");
        }
        return text;
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_KeyError) && !e.matches(PyExc_TypeError)) throw;
        host::raise(PyExc_RuntimeError,
                    "Failed to retrieve response text from Ollama response: " + host::str_of(e.value()));
    }
}

py::object list_ollama_models(py::object prefix) {
    host::require(prefix, "list_ollama_models", "prefix", Kind::Str, true);
    py::object ollama_list = load_library(provider("ollama"), [] { return import_from("ollama", "list"); });
    py::list tags;
    try {
        py::object result = ollama_list();
        for (py::handle entry : result[py::str("models")]) tags.append(entry.attr("model"));
    } catch (py::error_already_set& e) {
        rethrow_unless_ordinary(e);
        host::raise(PyExc_RuntimeError, "Failed to list Ollama models: " + host::str_of(e.value()));
    }
    return sorted_distinct(with_prefix(tags, prefix));
}

py::object generate(const pv::Provider& ollama, const Request& r) {
    const std::string label(ollama.label);
    notify(r.progress, "[LLM] " + label + " \u2022 " + r.model + ": generating");
    py::object text = attr("_ollama_generate_text")(
        py::arg("model_name") = r.model_name, py::arg("prompt") = r.input_text, py::arg("num_predict") = r.max_tokens);
    notify(r.progress, "[LLM] " + label + ": response received");
    return text;
}

void define_functions(py::module_& m, const pv::Provider&) {
    using host::def;
    def(m, "_ollama_generate_text", "model_name, prompt, num_predict=None",
        "Generate a reply with a local Ollama server.", &ollama_generate_text, py::arg("model_name"), py::arg("prompt"),
        py::arg("num_predict") = m.attr("MAX_OUTPUT_TOKENS"));
    def(m, "list_ollama_models", "prefix=None",
        "Return available local Ollama model tags (e.g., 'llama3:8b-instruct').", &list_ollama_models,
        py::arg("prefix") = py::none());
}

[[maybe_unused]] const bool registered = register_back_end("ollama", {&generate, &define_functions});

}  // namespace

}  // namespace tarvok::generative::bind
