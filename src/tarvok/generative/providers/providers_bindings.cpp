// LLM back-ends: provider inference, dispatch, OpenAI with retry, Gemini,
// Ollama and model listing.
#include "generative/bindings.hpp"
#include "generative/providers/providers.hpp"

#include <climits>
#include <cmath>
#include <optional>

namespace tarvok::generative::bind {

namespace {

namespace pv = providers;

/// Re-raises anything outside the host's ordinary error family.
void rethrow_unless_ordinary(py::error_already_set& error) {
    if (!host::is_ordinary(error)) throw;
}

std::string utf8(py::handle text) { return std::string(host::Utf8(text).view()); }

/// getattr(obj, name) that answers "missing" for AttributeError only, as the
/// host's hasattr/getattr-with-default do; any other error propagates.
std::optional<py::object> optional_attr(py::handle obj, const char* name) {
    PyObject* value = PyObject_GetAttrString(obj.ptr(), name);
    if (value != nullptr) return py::reinterpret_steal<py::object>(value);
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw py::error_already_set();
    PyErr_Clear();
    return std::nullopt;
}

py::object attr_or_none(py::handle obj, const char* name) { return optional_attr(obj, name).value_or(py::none()); }

bool is_mapping(py::handle value) {
    py::object mapping = py::module_::import("collections.abc").attr("Mapping");
    int result = PyObject_IsInstance(value.ptr(), mapping.ptr());
    if (result < 0) throw py::error_already_set();
    return result == 1;
}

bool equals(py::handle a, py::handle b) {
    int result = PyObject_RichCompareBool(a.ptr(), b.ptr(), Py_EQ);
    if (result < 0) throw py::error_already_set();
    return result == 1;
}

bool starts_with(py::handle text, py::handle prefix) { return host::truthy(text.attr("startswith")(prefix)); }

/// The distinct values, in ascending order.
py::list sorted_distinct(py::handle values) {
    py::object unique = py::reinterpret_steal<py::object>(PySet_New(values.ptr()));
    if (!unique) throw py::error_already_set();
    py::list out = py::reinterpret_steal<py::list>(PySequence_List(unique.ptr()));
    if (!out || PyList_Sort(out.ptr()) < 0) throw py::error_already_set();
    return out;
}

py::object env_get(const char* name) { return py::module_::import("os").attr("environ").attr("get")(name); }

/// `from module import name` through the host's import system.
py::object import_from(const char* module, const char* name) {
    py::module_ mod = py::module_::import(module);
    if (auto value = optional_attr(mod, name)) return *value;
    host::raise(PyExc_ImportError, std::string("cannot import name '") + name + "' from '" + module + "'");
}

/// A client-library import that fails with an ordinary error ends in
/// RuntimeError(message), chained to that error.
template <typename Import>
py::object load_library(Import import, const char* message) {
    try {
        return import();
    } catch (py::error_already_set& e) {
        rethrow_unless_ordinary(e);
        host::raise_from(e, PyExc_RuntimeError, message);
    }
}

py::object provider_member(pv::Provider provider) {
    py::object members = attr("LLMProvider");
    switch (provider) {
    case pv::Provider::OpenAI: return members.attr("OPENAI");
    case pv::Provider::Google: return members.attr("GOOGLE");
    case pv::Provider::Ollama: return members.attr("OLLAMA");
    }
    return py::none();
}

/// Which member `provider` equals, compared in the order of the enumeration.
std::optional<pv::Provider> dispatch_target(py::handle provider) {
    for (pv::Provider p : {pv::Provider::OpenAI, pv::Provider::Google, pv::Provider::Ollama}) {
        if (equals(provider, provider_member(p))) return p;
    }
    return std::nullopt;
}

[[noreturn]] void unsupported_provider(py::handle provider) {
    host::raise(PyExc_ValueError, "Unsupported LLM provider: " + host::str_of(provider));
}

/// The working request parameters seen by the stripping step.
class DictKeys : public pv::ParamKeys {
  public:
    explicit DictKeys(py::dict& params) : params_(params) {}
    bool contains(std::string_view key) override {
        int result = PyDict_Contains(params_.ptr(), host::text(key).ptr());
        if (result < 0) throw py::error_already_set();
        return result == 1;
    }
    void erase(std::string_view key) override {
        if (PyDict_DelItem(params_.ptr(), host::text(key).ptr()) < 0) throw py::error_already_set();
    }

  private:
    py::dict& params_;
};

/// Drops the keys that `client.responses.create` does not declare, unless it
/// takes arbitrary keywords. Best effort: an ordinary error leaves the
/// parameters as they are at that moment.
void filter_by_signature(py::handle client, py::dict& working) {
    try {
        py::module_ inspect = py::module_::import("inspect");
        py::object create = client.attr("responses").attr("create");
        py::object parameters = inspect.attr("signature")(create).attr("parameters");
        py::object var_keyword = inspect.attr("Parameter").attr("VAR_KEYWORD");
        for (py::handle parameter : parameters.attr("values")()) {
            if (equals(parameter.attr("kind"), var_keyword)) return;
        }
        py::object allowed = py::reinterpret_steal<py::object>(PySet_New(parameters.ptr()));
        if (!allowed || PySet_Discard(allowed.ptr(), py::str("self").ptr()) < 0) throw py::error_already_set();
        py::list snapshot = py::reinterpret_steal<py::list>(PySequence_List(working.ptr()));
        if (!snapshot) throw py::error_already_set();
        for (py::handle key : snapshot) {
            int known = PySet_Contains(allowed.ptr(), key.ptr());
            if (known < 0) throw py::error_already_set();
            if (known == 0 && PyDict_DelItem(working.ptr(), key.ptr()) < 0) throw py::error_already_set();
        }
    } catch (py::error_already_set& e) {
        rethrow_unless_ordinary(e);
    }
}

/// `backoff_sec` as seconds: an int or a float (not a bool), finite and not negative.
double backoff_seconds_of(py::handle value) {
    const char* fn = "_call_openai_with_retry";
    if (!host::is_exact(value, Kind::Float) && !host::is_exact(value, Kind::Int)) {
        throw py::type_error(std::string(fn) + "() argument 'backoff_sec' must be float or int, not " +
                             host::type_name(value));
    }
    double seconds = PyFloat_AsDouble(value.ptr());
    if (seconds == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    if (!std::isfinite(seconds) || seconds < 0) {
        host::raise(PyExc_ValueError, std::string(fn) +
                                         "() argument 'backoff_sec' must be a finite, non-negative number, not " +
                                         host::str_of(value));
    }
    return seconds;
}

py::object call_openai_with_retry(py::object client, py::object create_params, py::object retries,
                                  py::object backoff_sec, py::object progress) {
    const char* fn = "_call_openai_with_retry";
    if (!is_mapping(create_params)) {
        throw py::type_error(std::string(fn) + "() argument 'create_params' must be a mapping, not " +
                             host::type_name(create_params));
    }
    host::require(retries, fn, "retries", Kind::Int);
    const double backoff = backoff_seconds_of(backoff_sec);
    int overflow = 0;
    long long attempts = PyLong_AsLongLongAndOverflow(retries.ptr(), &overflow);
    if (attempts == -1 && PyErr_Occurred()) throw py::error_already_set();
    if (overflow != 0) attempts = overflow > 0 ? LLONG_MAX : 0;
    const std::string retries_text = host::str_of(retries);

    py::dict working = py::reinterpret_steal<py::dict>(PyObject_CallOneArg((PyObject*)&PyDict_Type, create_params.ptr()));
    if (!working) throw py::error_already_set();
    filter_by_signature(client, working);

    py::object last_error = py::none();
    for (long long attempt = 0; attempt < attempts; ++attempt) {
        try {
            py::object create = client.attr("responses").attr("create");
            py::object kwargs = py::reinterpret_steal<py::object>(PyDict_Copy(working.ptr()));
            if (!kwargs) throw py::error_already_set();
            PyObject* response = PyObject_Call(create.ptr(), py::tuple().ptr(), kwargs.ptr());
            if (response == nullptr) throw py::error_already_set();
            return py::reinterpret_steal<py::object>(response);
        } catch (py::error_already_set& e) {
            rethrow_unless_ordinary(e);
            last_error = e.value();
        }
        const std::string msg = host::truthy(last_error) ? host::str_of(last_error) : "unknown error";
        notify(progress, "[LLM] OpenAI: " + msg);
        DictKeys keys(working);
        if (pv::strip_param_from_error_message(msg, keys)) {
            notify(progress, "[LLM] OpenAI: retrying without unsupported parameters");
            continue;
        }
        notify(progress, "[LLM] OpenAI: retry " + std::to_string(attempt + 1) + "/" + retries_text +
                             " after error: " + msg);
        host::sleep(pv::backoff_seconds(backoff, attempt));
    }
    notify(progress, "[LLM] OpenAI: failed after " + retries_text + " attempts");
    host::raise(PyExc_RuntimeError,
               "OpenAI request failed after " + retries_text + " attempts: " + host::str_of(last_error));
}

/// Appends `text or ""` of an object that has a `text` attribute; false when it has none.
bool append_text_of(py::handle obj, py::list& chunks) {
    auto text = optional_attr(obj, "text");
    if (!text) return false;
    chunks.append(host::truthy(*text) ? *text : py::str(""));
    return true;
}

py::object join(const py::list& chunks) { return py::str("").attr("join")(chunks); }

py::object coalesce_response_text(py::object resp) {
    py::object output_text = attr_or_none(resp, "output_text");
    if (host::truthy(output_text)) return output_text;

    try {
        py::list chunks;
        py::object items = attr_or_none(resp, "output");
        if (host::truthy(items)) {
            for (py::handle item : items) {
                py::object content = attr_or_none(item, "content");
                if (content.is_none()) {
                    append_text_of(item, chunks);
                    continue;
                }
                for (py::handle block : content) {
                    if (append_text_of(block, chunks)) continue;
                    if (is_mapping(block)) {
                        py::object text = block.attr("get")("text");
                        if (PyUnicode_Check(text.ptr())) chunks.append(text);
                    }
                }
            }
        }
        if (!chunks.empty()) return join(chunks);
    } catch (py::error_already_set& e) {
        rethrow_unless_ordinary(e);
    }

    try {
        auto first_of = [](py::handle obj, const char* name) -> py::object {
            py::object seq = optional_attr(obj, name).value_or(py::list());
            PyObject* item = PySequence_GetItem(seq.ptr(), 0);
            if (item == nullptr) throw py::error_already_set();
            return py::reinterpret_steal<py::object>(item);
        };
        py::object block = first_of(first_of(resp, "output"), "content");
        if (auto text = optional_attr(block, "text")) return host::truthy(*text) ? *text : py::str("");
    } catch (py::error_already_set& e) {
        rethrow_unless_ordinary(e);
    }
    return py::str("");
}

py::object openai_client() {
    py::object OpenAI = load_library([] { return import_from("openai", "OpenAI"); },
                                     "openai is not installed. pip install openai");
    py::object key = env_get("OPENAI_API_KEY");
    if (!host::truthy(key)) host::raise(PyExc_RuntimeError, "OPENAI_API_KEY environment variable not set.");
    return OpenAI(py::arg("api_key") = key);
}

py::object google_client() {
    py::object genai = load_library([] { return py::object(py::module_::import("google.generativeai")); },
                                    "google.generativeai is not installed. pip install google-generativeai");
    py::object key = env_get("GEMINI_API_KEY");
    if (!host::truthy(key)) host::raise(PyExc_RuntimeError, "GEMINI_API_KEY environment variable not set.");
    genai.attr("configure")(py::arg("api_key") = key);
    return genai;
}

const char* const kOllamaMissing = "ollama package is not installed. pip install ollama";

py::object build_create_params(py::object model_name, py::object input_text, py::object max_tokens,
                               py::object temperature, py::object stop) {
    const char* fn = "_build_create_params";
    host::require(model_name, fn, "model_name", Kind::Str);
    host::require(input_text, fn, "input_text", Kind::Str);
    host::require(max_tokens, fn, "max_tokens", Kind::Int, true);
    host::require(temperature, fn, "temperature", Kind::Float, true);
    host::require(stop, fn, "stop", Kind::List, true);
    const bool has_stop = !stop.is_none() && PyList_GET_SIZE(stop.ptr()) > 0;
    py::dict params;
    for (std::string_view key : pv::create_param_keys(!max_tokens.is_none(), !temperature.is_none(), has_stop)) {
        py::object value;
        if (key == "model") value = model_name;
        else if (key == "input") value = input_text;
        else if (key == "response_format") value = py::dict(py::arg("type") = "json");
        else if (key == "max_output_tokens") value = max_tokens;
        else if (key == "temperature") value = temperature;
        else value = stop;
        params[host::text(key)] = value;
    }
    return params;
}

py::object ollama_generate_text(py::object model_name, py::object prompt, py::object num_predict) {
    const char* fn = "_ollama_generate_text";
    host::require(model_name, fn, "model_name", Kind::Str);
    host::require(prompt, fn, "prompt", Kind::Str);
    host::require(num_predict, fn, "num_predict", Kind::Int, true);
    py::object generate = load_library([] { return import_from("ollama", "generate"); }, kOllamaMissing);
    py::dict options;
    if (!num_predict.is_none()) options["num_predict"] = num_predict;
    py::object result = generate(py::arg("model") = model_name, py::arg("prompt") = prompt,
                                 py::arg("options") = options);
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

py::object llm_generate_text(py::object provider, py::object model_name, py::object input_text,
                             py::object max_tokens, py::object temperature, py::object stop, py::object progress) {
    const char* fn = "_llm_generate_text";
    host::require(model_name, fn, "model_name", Kind::Str);
    host::require(input_text, fn, "input_text", Kind::Str);
    host::require(max_tokens, fn, "max_tokens", Kind::Int, true);
    host::require(temperature, fn, "temperature", Kind::Float, true);
    host::require(stop, fn, "stop", Kind::List, true);
    const std::string model = utf8(model_name);

    auto target = dispatch_target(provider);
    if (!target) unsupported_provider(provider);
    switch (*target) {
    case pv::Provider::OpenAI: {
        py::object client = attr("_openai_client")();
        py::object params = attr("_build_create_params")(py::arg("model_name") = model_name,
                                                          py::arg("input_text") = input_text,
                                                          py::arg("max_tokens") = max_tokens,
                                                          py::arg("temperature") = temperature, py::arg("stop") = stop);
        notify(progress, "[LLM] OpenAI • " + model + ": sending request");
        py::object response = attr("_call_openai_with_retry")(client, params, py::arg("progress") = progress);
        notify(progress, "[LLM] OpenAI: response received");
        py::object text = attr("_coalesce_response_text")(response);
        if (!host::truthy(text)) host::raise(PyExc_RuntimeError, "Empty OpenAI response: " + host::str_of(response) + ".");
        return text;
    }
    case pv::Provider::Google: {
        py::object genai = attr("_google_client")();
        py::object gemini = genai.attr("GenerativeModel")(model_name);
        py::dict settings;
        if (!max_tokens.is_none()) settings["max_output_tokens"] = max_tokens;
        if (!temperature.is_none()) settings["temperature"] = temperature;
        notify(progress, "[LLM] Gemini • " + model + ": sending request");
        py::object response = gemini.attr("generate_content")(input_text, py::arg("generation_config") = settings);
        notify(progress, "[LLM] Gemini: response received");
        return gemini_text(response);
    }
    case pv::Provider::Ollama: {
        notify(progress, "[LLM] Ollama • " + model + ": generating");
        py::object text = attr("_ollama_generate_text")(py::arg("model_name") = model_name,
                                                         py::arg("prompt") = input_text,
                                                         py::arg("num_predict") = max_tokens);
        notify(progress, "[LLM] Ollama: response received");
        return text;
    }
    }
    unsupported_provider(provider);
}

py::object infer_provider(py::object llm_provider, py::object model_name) {
    host::require(llm_provider, "_infer_provider", "llm_provider", Kind::Str, true);
    host::require(model_name, "_infer_provider", "model_name", Kind::Str);
    std::optional<host::Utf8> name;
    if (!llm_provider.is_none()) name.emplace(llm_provider);
    host::Utf8 model(model_name);
    return provider_member(
        pv::infer_provider(name ? std::optional<std::string_view>(name->view()) : std::nullopt, model.view()));
}

py::object list_openai_models(py::object prefix) {
    host::require(prefix, "list_openai_models", "prefix", Kind::Str, true);
    py::object client = attr("_openai_client")();
    py::object result;
    try {
        result = client.attr("models").attr("list")();
    } catch (py::error_already_set& e) {
        rethrow_unless_ordinary(e);
        host::raise(PyExc_RuntimeError, "Failed to list OpenAI models: " + host::str_of(e.value()));
    }
    py::object data = attr_or_none(result, "data");
    py::list entries;
    if (PyList_Check(data.ptr())) {
        entries = py::reinterpret_borrow<py::list>(data);
    } else if (!result.is_none()) {
        entries = py::reinterpret_steal<py::list>(PySequence_List(result.ptr()));
        if (!entries) throw py::error_already_set();
    }
    py::list ids;
    for (py::handle entry : entries) {
        py::object id = attr_or_none(entry, "id");
        if (!host::truthy(id)) id = is_mapping(entry) ? entry.attr("get")("id") : py::none();
        if (!PyUnicode_Check(id.ptr())) continue;
        if (host::truthy(prefix) && !starts_with(id, prefix)) continue;
        ids.append(id);
    }
    return sorted_distinct(ids);
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
            int supported = PySequence_Contains(model.attr("supported_generation_methods").ptr(),
                                                generate_content.ptr());
            if (supported < 0) throw py::error_already_set();
            if (supported == 0) continue;
            py::object name = model.attr("name");
            if (!PyUnicode_Check(name.ptr()) || !starts_with(name, py::str("models/"))) continue;
            py::object short_name = py::reinterpret_steal<py::object>(
                PyUnicode_Substring(name.ptr(), 7, PyUnicode_GetLength(name.ptr())));
            if (!short_name) throw py::error_already_set();
            // An absent or empty prefix lists every model, as the sibling listings do.
            if (host::truthy(prefix) && !starts_with(short_name, prefix)) continue;
            names.append(short_name);
        }
    }
    return sorted_distinct(names);
}

py::object list_ollama_models(py::object prefix) {
    host::require(prefix, "list_ollama_models", "prefix", Kind::Str, true);
    py::object ollama_list = load_library([] { return import_from("ollama", "list"); }, kOllamaMissing);
    py::list tags;
    try {
        py::object result = ollama_list();
        for (py::handle entry : result[py::str("models")]) tags.append(entry.attr("model"));
    } catch (py::error_already_set& e) {
        rethrow_unless_ordinary(e);
        host::raise(PyExc_RuntimeError, "Failed to list Ollama models: " + host::str_of(e.value()));
    }
    if (host::truthy(prefix)) {
        py::list kept;
        for (py::handle tag : tags) {
            if (starts_with(tag, prefix)) kept.append(tag);
        }
        tags = kept;
    }
    return sorted_distinct(tags);
}

py::object list_models(py::object llm_provider, py::object model_name) {
    host::require(llm_provider, "list_models", "llm_provider", Kind::Str, true);
    host::require(model_name, "list_models", "model_name", Kind::Str);
    py::object provider = attr("_infer_provider")(llm_provider, model_name);
    auto target = dispatch_target(provider);
    if (!target) unsupported_provider(provider);
    switch (*target) {
    case pv::Provider::OpenAI: return attr("list_openai_models")();
    case pv::Provider::Google: return attr("list_gemini_models")();
    case pv::Provider::Ollama: return attr("list_ollama_models")();
    }
    unsupported_provider(provider);
}

}  // namespace

void register_providers(py::module_& m) {
    using host::def;
    py::object max_tokens = m.attr("MAX_OUTPUT_TOKENS");
    py::object model_name = m.attr("MODEL_NAME");
    py::object none = py::none();

    def(m, "_infer_provider", "llm_provider, model_name",
        "Choose the back-end from an explicit provider name, else from the model name.", &infer_provider,
        py::arg("llm_provider"), py::arg("model_name"));
    def(m, "_llm_generate_text",
        "provider, model_name, input_text, max_tokens=None, temperature=None, stop=None, progress=None",
        "Send one prompt to the chosen back-end and return the reply text.", &llm_generate_text,
        py::arg("provider"), py::arg("model_name"), py::arg("input_text"), py::arg("max_tokens") = max_tokens,
        py::arg("temperature") = none, py::arg("stop") = none, py::arg("progress") = none);
    def(m, "_openai_client", "", "Create an OpenAI client from OPENAI_API_KEY.", &openai_client);
    def(m, "_build_create_params", "model_name, input_text, max_tokens=None, temperature=None, stop=None",
        "Build the parameters of one Responses request.", &build_create_params, py::arg("model_name"),
        py::arg("input_text"), py::arg("max_tokens") = max_tokens, py::arg("temperature") = none,
        py::arg("stop") = none);
    def(m, "_call_openai_with_retry", "client, create_params, retries=3, backoff_sec=1.5, progress=None",
        "Send a Responses request with back-off and removal of unsupported parameters.", &call_openai_with_retry,
        py::arg("client"), py::arg("create_params"), py::arg("retries") = 3, py::arg("backoff_sec") = 1.5,
        py::arg("progress") = none);
    def(m, "_coalesce_response_text", "resp", "Extract the reply text from any shape of Responses result.",
        &coalesce_response_text, py::arg("resp"));
    def(m, "_google_client", "", "Load google.generativeai and configure it from GEMINI_API_KEY.", &google_client);
    def(m, "_ollama_generate_text", "model_name, prompt, num_predict=None",
        "Generate a reply with a local Ollama server.", &ollama_generate_text, py::arg("model_name"),
        py::arg("prompt"), py::arg("num_predict") = max_tokens);

    def(m, "list_models", "llm_provider=None, model_name='gpt-5'",
        "Unified helper: returns models for the inferred provider.", &list_models, py::arg("llm_provider") = none,
        py::arg("model_name") = model_name);
    def(m, "list_openai_models", "prefix='gpt'", "Return available OpenAI model IDs visible to the API key.",
        &list_openai_models, py::arg("prefix") = "gpt");
    def(m, "list_gemini_models", "prefix='gemini'", "Return available Google Generative AI model names.",
        &list_gemini_models, py::arg("prefix") = "gemini");
    def(m, "list_ollama_models", "prefix=None",
        "Return available local Ollama model tags (e.g., 'llama3:8b-instruct').", &list_ollama_models,
        py::arg("prefix") = none);
}

}  // namespace tarvok::generative::bind
