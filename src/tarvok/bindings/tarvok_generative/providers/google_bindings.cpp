// The Google Gemini back-end: library set-up, the request and model listing.
//
// Two client libraries can serve it. `google.generativeai` (configured once
// per call, then used through GenerativeModel and list_models) is used when
// it is installed; its successor `google.genai` (a Client per call) when only
// that one is. Both get the module's request timeout and no retries of their own.
#include "bindings/tarvok_generative/providers/back_end.hpp"
#include "generative/providers/back_end_texts.hpp"

namespace tarvok::generative::bind {

namespace {

/// A `google.genai` client with the key, the module's timeout (the library
/// counts milliseconds) and a single attempt per request.
py::object successor_client(const py::module_& genai, const py::object& key) {
    py::dict http_options;
    py::object timeout = request_timeout();
    if (!timeout.is_none()) {
        http_options["timeout"] = py::int_(pv::timeout_milliseconds(timeout.cast<double>()));
        // For the library's HTTP client: the hooks that bound each request as a whole.
        http_options["client_args"] = py::dict(py::arg("event_hooks") = deadline_hooks(timeout));
    }
    if (optional_attr(genai.attr("types"), "HttpRetryOptions"))
        http_options["retry_options"] = py::dict(py::arg("attempts") = 1);
    return genai.attr("Client")(py::arg("api_key") = key, py::arg("http_options") = http_options);
}

py::object google_client() {
    const pv::Provider& google = provider("google");
    py::object genai;
    try {
        genai = py::module_::import("google.generativeai");
    } catch (py::error_already_set& specified) {
        rethrow_unless_ordinary(specified);
        py::module_ successor;
        try {
            successor = py::module_::import("google.genai");
        } catch (py::error_already_set& e) {
            rethrow_unless_ordinary(e);
            host::raise_from(specified, PyExc_RuntimeError, std::string(google.missing_library));
        }
        return successor_client(successor, api_key(google));
    }
    genai.attr("configure")(py::arg("api_key") = api_key(google));
    return genai;
}

/// Per-request options of `google.generativeai`: the module's timeout and no
/// retry (the library's default retries for up to ten minutes).
py::dict request_options() {
    py::dict options;
    options["retry"] = py::none();
    py::object timeout = request_timeout();
    if (!timeout.is_none()) options["timeout"] = timeout;
    return options;
}

/// Whether a listed model can generate content. `google.generativeai`
/// describes it by `supported_generation_methods`, `google.genai` by
/// `supported_actions`; a description with neither is an error.
bool generates_content(py::handle model) {
    auto methods = optional_attr(model, "supported_generation_methods");
    py::object held = methods ? *methods : model.attr("supported_actions");
    if (held.is_none()) return false;
    int supported = PySequence_Contains(held.ptr(), py::str("generateContent").ptr());
    if (supported < 0) throw py::error_already_set();
    return supported == 1;
}

py::object model_names(const pv::Provider& google) {
    py::object genai = attr("_google_client")();
    auto list = [&] {
        auto list_models = optional_attr(genai, "list_models");
        return list_models ? (*list_models)(py::arg("request_options") = request_options())
                           : genai.attr("models").attr("list")();
    };
    return listing_request(google, list, [](py::object models) {
        py::list names;
        if (models.is_none()) return names;
        for (py::handle model : models) {
            if (!generates_content(model)) continue;
            py::object name = model.attr("name");
            if (!PyUnicode_Check(name.ptr())) continue;
            host::Utf8 full(name);
            if (auto short_name = pv::listed_model_name(full.view())) names.append(host::text(*short_name));
        }
        return names;
    });
}

py::object generate(const pv::Provider& google, const Request& r) {
    const std::string label(google.label);
    py::object genai = attr("_google_client")();
    py::dict settings;
    if (!r.max_tokens.is_none()) settings["max_output_tokens"] = r.max_tokens;
    if (!r.temperature.is_none()) settings["temperature"] = r.temperature;
    py::object response;
    if (auto GenerativeModel = optional_attr(genai, "GenerativeModel")) {
        py::object gemini = (*GenerativeModel)(r.model_name);
        notify(r.progress, pv::request_started(label, r.model));
        response = gemini.attr("generate_content")(r.input_text, py::arg("generation_config") = settings,
                                                   py::arg("request_options") = request_options());
    } else {
        notify(r.progress, pv::request_started(label, r.model));
        BoundedCall call;
        try {
            response = genai.attr("models").attr("generate_content")(
                py::arg("model") = r.model_name, py::arg("contents") = r.input_text, py::arg("config") = settings);
        } catch (py::error_already_set& e) {
            reraise_timed_out(e, call, google);
        }
    }
    notify(r.progress, pv::reply_received(label));
    report_usage_of(response, pv::kGeminiReply);
    return reply_text(response, pv::kGeminiReply);
}

void define_functions(py::module_& m, const pv::Provider&) { def_back_end(m, "_google_client", &google_client); }

[[maybe_unused]] const bool registered = register_back_end("google", {&generate, &model_names, &define_functions});

}  // namespace

}  // namespace tarvok::generative::bind
