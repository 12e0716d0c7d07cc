// The Google Gemini back-end: library set-up, the request and model listing.
#include "generative/providers/back_end.hpp"

namespace tarvok::generative::bind {

namespace {

py::object google_client() {
    const pv::Provider& google = provider("google");
    py::object genai = load_library(google, [] { return py::object(py::module_::import("google.generativeai")); });
    genai.attr("configure")(py::arg("api_key") = api_key(google));
    return genai;
}

/// The reply of a Gemini response: its `text`, else the texts of the parts
/// of every candidate, else "".
py::object gemini_text(py::handle response) {
    py::object text = attr_or_none(response, "text");
    if (!host::truthy(text)) {
        py::object candidates = attr_or_none(response, "candidates");
        if (host::truthy(candidates)) {
            py::list pieces;
            for (py::handle candidate : candidates) {
                py::object content = attr_or_none(candidate, "content");
                if (!host::truthy(content)) continue;
                auto parts = optional_attr(content, "parts");
                if (!parts) continue;
                for (py::handle part : *parts) append_text_of(part, pieces);
            }
            text = join(pieces);
        }
    }
    return host::truthy(text) ? text : py::str("");
}

py::object list_gemini_models(py::object prefix) {
    host::require(prefix, "list_gemini_models", "prefix", Kind::Str, true);
    py::object genai = attr("_google_client")();
    py::object models;
    try {
        models = genai.attr("list_models")();
    } catch (py::error_already_set& e) {
        rethrow_unless_ordinary(e);
        host::raise(PyExc_RuntimeError, "Failed to list Gemini models: " + host::str_of(e.value()));
    }
    py::list names;
    if (!models.is_none()) {
        py::str generate_content("generateContent");
        for (py::handle model : models) {
            int supported =
                PySequence_Contains(model.attr("supported_generation_methods").ptr(), generate_content.ptr());
            if (supported < 0) throw py::error_already_set();
            if (supported == 0) continue;
            py::object name = model.attr("name");
            if (!PyUnicode_Check(name.ptr()) || !starts_with(name, py::str("models/"))) continue;
            py::object short_name =
                py::reinterpret_steal<py::object>(PyUnicode_Substring(name.ptr(), 7, PyUnicode_GetLength(name.ptr())));
            if (!short_name) throw py::error_already_set();
            names.append(short_name);
        }
    }
    // An absent or empty prefix lists every model, as the sibling listings do.
    return sorted_distinct(with_prefix(names, prefix));
}

py::object generate(const pv::Provider& google, const Request& r) {
    const std::string label(google.label);
    py::object genai = attr("_google_client")();
    py::object gemini = genai.attr("GenerativeModel")(r.model_name);
    py::dict settings;
    if (!r.max_tokens.is_none()) settings["max_output_tokens"] = r.max_tokens;
    if (!r.temperature.is_none()) settings["temperature"] = r.temperature;
    notify(r.progress, "[LLM] " + label + " \u2022 " + r.model + ": sending request");
    py::object response = gemini.attr("generate_content")(r.input_text, py::arg("generation_config") = settings);
    notify(r.progress, "[LLM] " + label + ": response received");
    return gemini_text(response);
}

void define_functions(py::module_& m, const pv::Provider&) {
    using host::def;
    def(m, "_google_client", "", "Load google.generativeai and configure it from GEMINI_API_KEY.", &google_client);
    def(m, "list_gemini_models", "prefix='gemini'", "Return available Google Generative AI model names.",
        &list_gemini_models, py::arg("prefix") = "gemini");
}

[[maybe_unused]] const bool registered = register_back_end("google", {&generate, &define_functions});

}  // namespace

}  // namespace tarvok::generative::bind
