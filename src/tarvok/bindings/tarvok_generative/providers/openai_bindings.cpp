// The OpenAI back-end: client, Responses request with retry and parameter
// fallback, reply extraction and model listing.
#include "bindings/tarvok_generative/providers/back_end.hpp"
#include "generative/providers/back_end_texts.hpp"
#include "generative/providers/retry.hpp"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace tarvok::generative::bind {

namespace {

/// Group 1 of the host's case-insensitive search for `pattern` in `message`.
std::optional<host::Utf8> search(py::module_& re, std::string_view pattern, py::handle message) {
    py::object match = re.attr("search")(host::text(pattern), message, re.attr("IGNORECASE"));
    if (match.is_none()) return std::nullopt;
    return host::Utf8(match.attr("group")(1));
}

/// Removes what the error message rejects, read by the host's own lower()
/// and regular-expression engine; true when anything was removed.
bool strip_rejected(py::handle message, py::dict& working) {
    py::module_ re = py::module_::import("re");
    host::Utf8 lowered(message.attr("lower")());
    auto unsupported = search(re, pv::kUnsupportedParameter, message);
    auto not_supported = search(re, pv::kParameterNotSupported, message);
    pv::RejectionText text{lowered.view(), unsupported ? std::optional(unsupported->view()) : std::nullopt,
                           not_supported ? std::optional(not_supported->view()) : std::nullopt};
    std::vector<std::string> present;
    for (auto [key, value] : working) {
        if (PyUnicode_Check(key.ptr())) present.emplace_back(host::Utf8(key).view());
    }
    std::vector<std::string> rejected = pv::rejected_params(text, present);
    for (const std::string& key : rejected) {
        if (PyDict_DelItem(working.ptr(), host::text(key).ptr()) < 0) throw py::error_already_set();
    }
    return !rejected.empty();
}

/// The names `create` declares, or None when it takes arbitrary keywords.
py::object declared_names(py::handle create) {
    py::module_ inspect = py::module_::import("inspect");
    py::object parameters = inspect.attr("signature")(create).attr("parameters");
    py::object var_keyword = inspect.attr("Parameter").attr("VAR_KEYWORD");
    for (py::handle parameter : parameters.attr("values")()) {
        if (host::equals(parameter.attr("kind"), var_keyword)) return py::none();
    }
    py::set allowed(parameters);
    allowed.attr("discard")("self");
    return py::frozenset(allowed);
}

/// Drops the keys that `client.responses.create` does not declare, unless it
/// takes arbitrary keywords. Best effort: an ordinary error leaves the
/// parameters as they are at that moment. What a method of a shared client
/// declares is read once per function, not once per request.
void filter_by_signature(py::handle client, py::dict& working) {
    try {
        py::object create = client.attr("responses").attr("create");
        std::optional<py::object> function = optional_attr(create, "__func__");
        // Never destroyed: the interpreter is gone by then. Used with the GIL held.
        static auto* declared = new py::dict;
        py::object allowed;
        if (function && declared->contains(*function)) {
            allowed = (*declared)[*function];
        } else {
            allowed = declared_names(create);
            if (function) (*declared)[*function] = allowed;
        }
        if (allowed.is_none()) return;
        for (py::handle key : py::list(working)) {
            if (!allowed.contains(key)) working.attr("pop")(key);
        }
    } catch (py::error_already_set& e) {
        rethrow_unless_ordinary(e);
    }
}

py::object call_openai_with_retry(py::object client, py::object create_params, py::object retries,
                                  py::object backoff_sec, py::object progress) {
    const char* fn = "_call_openai_with_retry";
    if (!is_mapping(create_params)) {
        throw py::type_error(std::string(fn) + "() argument 'create_params' must be a mapping, not " +
                             host::type_name(create_params));
    }
    host::require(retries, fn, "retries", Kind::Int);
    const std::string argument = std::string(fn) + "() argument 'backoff_sec' must be ";
    const double backoff = seconds_of(backoff_sec, pv::is_wait, argument + "float or int, not ",
                                      argument + "a finite, non-negative number, not ");
    const pv::RetryPolicy policy{provider("openai").label, host::saturated(retries), host::str_of(retries), backoff};

    py::dict working = py::reinterpret_borrow<py::object>((PyObject*)&PyDict_Type)(create_params);
    filter_by_signature(client, working);

    py::object response, last_error = py::none();
    py::str message;
    auto send = [&]() -> std::optional<std::string> {
        BoundedCall call;  // each attempt is one request of at most REQUEST_TIMEOUT
        try {
            response = client.attr("responses").attr("create")(**working);
            return std::nullopt;
        } catch (py::error_already_set& e) {
            rethrow_unless_ordinary(e);
            last_error = e.value();
            if (std::optional<std::string> timed_out = call.timed_out())
                last_error = py::reinterpret_borrow<py::object>(PyExc_TimeoutError)(host::text(*timed_out));
        }
        message = host::truthy(last_error) ? host::text_form(last_error) : py::str("unknown error");
        return server_text(message);
    };
    if (pv::run_with_retry(policy, {.send = send,
                                    .drop_rejected = [&] { return strip_rejected(message, working); },
                                    .say = [&](const std::string& line) { notify(progress, line); },
                                    .wait = [](double seconds) { pv::back_off(seconds, host::sleep); }}))
        return response;
    // The last error is the context of the failure, so that a caller can tell an outage from a refusal;
    // an error that knows its request names the address tried (a wrong OPENAI_BASE_URL shows).
    std::string url;
    if (!last_error.is_none() && py::hasattr(last_error, "request")) {
        try {
            url = host::str_of(last_error.attr("request").attr("url"));
        } catch (py::error_already_set& e) {
            rethrow_unless_ordinary(e);
        }
    }
    py::object failure = py::reinterpret_borrow<py::object>(PyExc_RuntimeError)(
        host::text(pv::request_failed(policy.label, policy.retries, pv::with_address(server_text(last_error), url))));
    if (!last_error.is_none()) PyException_SetContext(failure.ptr(), last_error.inc_ref().ptr());
    PyErr_SetObject(PyExc_RuntimeError, failure.ptr());
    throw py::error_already_set();
}

/// The settings a client made now would be made from (see pv::ClientSettings).
pv::ClientSettings client_settings(py::handle key, py::handle timeout) {
    pv::ClientSettings settings{host::str_of(key), std::nullopt, {}};
    if (!timeout.is_none()) settings.timeout = timeout.cast<double>();
    for (py::handle item : py::module_::import("os").attr("environ").attr("items")()) {
        py::tuple pair = py::reinterpret_borrow<py::tuple>(item);
        settings.environment.emplace_back(host::str_of(pair[0]), host::str_of(pair[1]));
    }
    return settings;
}

/// The client handed out last, what it was made from, and the library's
/// classes that made it (held, so that a class put in their place is told apart).
struct KeptClient {
    pv::ClientSettings settings;
    py::object maker, http_maker, client;
};

py::object openai_client() {
    const pv::Provider& openai = provider("openai");
    py::object OpenAI = load_library(openai, [] { return import_from("openai", "OpenAI"); });
    py::object key = api_key(openai);
    py::object timeout = request_timeout();
    // The library's own HTTP client with its defaults, and the hooks that
    // bound each request as a whole.
    std::optional<py::object> http_client;
    if (!timeout.is_none()) http_client = optional_attr(py::module_::import("openai"), "DefaultHttpxClient");
    py::object http_maker = http_client.value_or(py::none());
    pv::ClientSettings settings = client_settings(key, timeout);
    // Never destroyed: the interpreter is gone by then. Read and written with the GIL held.
    static auto* kept = new KeptClient;
    if (kept->client && kept->maker.is(OpenAI) && kept->http_maker.is(http_maker) && kept->settings == settings)
        return kept->client;
    // One attempt of the retry loop is one request of bounded time: the
    // client's own retries are off and its timeout is the module's.
    py::dict options(py::arg("api_key") = key);
    if (!timeout.is_none()) options["timeout"] = timeout;
    options["max_retries"] = 0;
    if (http_client) options["http_client"] = (*http_client)(py::arg("event_hooks") = deadline_hooks(timeout));
    py::object client = OpenAI(**options);
    // The one replaced goes once this one is kept whole: its finalizer may let another thread in.
    KeptClient replaced = std::exchange(*kept, KeptClient{std::move(settings), OpenAI, http_maker, client});
    return client;
}

py::object build_create_params(py::object model_name, py::object input_text, py::object max_tokens,
                               py::object temperature, py::object stop) {
    check_prompt_args("_build_create_params", model_name, input_text, max_tokens, temperature, stop);
    const bool has_stop = !stop.is_none() && PyList_GET_SIZE(stop.ptr()) > 0;
    const std::pair<std::string_view, py::object> values[] = {{"model", model_name},
                                                              {"input", input_text},
                                                              {"response_format", py::dict(py::arg("type") = "json")},
                                                              {"max_output_tokens", max_tokens},
                                                              {"temperature", temperature},
                                                              {"stop", stop}};
    py::dict params;
    for (std::string_view key : pv::create_param_keys(!max_tokens.is_none(), !temperature.is_none(), has_stop)) {
        params[host::text(key)] =
            std::find_if(std::begin(values), std::end(values), [&](auto& v) { return v.first == key; })->second;
    }
    return params;
}

py::object model_ids(const pv::Provider& openai) {
    py::object client = attr("_openai_client")();
    py::object result = listing_request(openai, [&] { return client.attr("models").attr("list")(); });
    py::object data = attr_or_none(result, "data");
    // The page's entries, else those the result itself yields.
    py::list entries = PyList_Check(data.ptr()) ? py::list(data) : result.is_none() ? py::list() : py::list(result);
    py::list ids;
    for (py::handle entry : entries) {
        py::object id = attr_or_none(entry, "id");
        if (!host::truthy(id)) id = is_mapping(entry) ? entry.attr("get")("id") : py::none();
        if (PyUnicode_Check(id.ptr())) ids.append(id);
    }
    return ids;
}

py::object generate(const pv::Provider& openai, const Request& r) {
    const std::string label(openai.label);
    py::object client = attr("_openai_client")();
    py::object params = attr("_build_create_params")(
        py::arg("model_name") = r.model_name, py::arg("input_text") = r.input_text,
        py::arg("max_tokens") = r.max_tokens, py::arg("temperature") = r.temperature, py::arg("stop") = r.stop);
    notify(r.progress, pv::request_started(label, r.model));
    py::object response = attr("_call_openai_with_retry")(client, params, py::arg("progress") = r.progress);
    notify(r.progress, pv::reply_received(label));
    report_usage_of(response, pv::kResponsesReply);
    py::object text = attr("_coalesce_response_text")(response);
    if (!host::truthy(text)) {
        host::raise(PyExc_RuntimeError, pv::empty_reply(label, server_text(response)));
    }
    return text;
}

void define_functions(py::module_& m, const pv::Provider&) {
    py::object none = py::none();
    def_back_end(m, "_openai_client", &openai_client);
    def_back_end(m, "_build_create_params", &build_create_params, py::arg("model_name"), py::arg("input_text"),
                 py::arg("max_tokens") = m.attr("MAX_OUTPUT_TOKENS"), py::arg("temperature") = none,
                 py::arg("stop") = none);
    def_back_end(m, "_call_openai_with_retry", &call_openai_with_retry, py::arg("client"), py::arg("create_params"),
                 py::arg("retries") = 3, py::arg("backoff_sec") = 1.5, py::arg("progress") = none);
    def_back_end(
        m, "_coalesce_response_text", [](py::object resp) { return reply_text(resp, pv::kResponsesReply); },
        py::arg("resp"));
}

[[maybe_unused]] const bool registered = register_back_end("openai", {&generate, &model_ids, &define_functions});

}  // namespace

}  // namespace tarvok::generative::bind
