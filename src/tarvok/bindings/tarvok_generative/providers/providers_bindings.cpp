// The provider table as the host sees it: the LLMProvider enumeration,
// provider inference, dispatch to the registered back-ends and the unified
// model listing. Each back-end lives in its own <value>_bindings.cpp.
#include "bindings/tarvok_generative/providers/back_end.hpp"
#include "generative/providers/back_end_texts.hpp"

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

namespace tarvok::generative::bind {

namespace {

std::map<std::string_view, BackEnd>& back_ends() {
    static std::map<std::string_view, BackEnd> registered;
    return registered;
}

host::Kept provider_enum(host::modules::tarvok_generative);

py::object member_of(const pv::Provider& provider) { return provider_enum.get().attr(provider.member.data()); }

/// The table entry whose member `provider` equals, tried in table order.
const pv::Provider& dispatch_target(py::handle provider) {
    for (const pv::Provider& p : pv::kProviders) {
        if (host::equals(provider, member_of(p))) return p;
    }
    host::raise(PyExc_ValueError, "Unsupported LLM provider: " + host::str_of(provider));
}

py::object infer_provider(py::object llm_provider, py::object model_name) {
    host::require(llm_provider, "_infer_provider", "llm_provider", Kind::Str, true);
    host::require(model_name, "_infer_provider", "model_name", Kind::Str);
    // The name as the host trims and lower-cases it; an absent or empty name is no name.
    std::optional<host::Utf8> name;
    if (host::truthy(llm_provider)) name.emplace(llm_provider.attr("strip")().attr("lower")());
    host::Utf8 model(model_name);
    return member_of(pv::infer_provider(name ? std::optional(name->view()) : std::nullopt, model.view()));
}

py::object llm_generate_text(py::object provider, py::object model_name, py::object input_text, py::object max_tokens,
                             py::object temperature, py::object stop, py::object progress) {
    check_prompt_args("_llm_generate_text", model_name, input_text, max_tokens, temperature, stop);
    const pv::Provider& target = dispatch_target(provider);
    Request request{model_name, input_text, max_tokens, temperature, stop, progress, host::str_of(model_name)};
    return back_ends().at(target.value).generate(target, request);
}

/// An HTTP status an error carries (`status_code`, or an int `code`), if any.
std::optional<long long> status_of(py::handle error) {
    for (const char* name : {"status_code", "code"}) {
        py::object value = attr_or_none(error, name);
        if (host::is_exact(value, Kind::Int)) return host::saturated(value);
    }
    return std::nullopt;
}

/// A token count: an int that is no bool and not negative; anything else is none.
std::optional<long long> token_count(py::handle value) {
    if (!host::is_exact(value, Kind::Int)) return std::nullopt;
    long long n = host::saturated(py::reinterpret_borrow<py::object>(value));
    return n < 0 ? std::nullopt : std::optional<long long>(n);
}

/// The distinct names that start with `prefix` (every one when it is None
/// or empty), in ascending order.
py::list sorted_with_prefix(py::handle names, py::handle prefix) {
    py::set kept;
    for (py::handle name : names) {
        if (!host::truthy(prefix) || host::truthy(name.attr("startswith")(prefix))) kept.add(name);
    }
    py::list out = py::reinterpret_steal<py::list>(PySequence_List(kept.ptr()));
    if (!out || PyList_Sort(out.ptr()) < 0) throw py::error_already_set();
    return out;
}

/// Defines the provider's listing function: the back-end's names, kept by
/// prefix (none or "" keeps every one) and sorted.
void define_listing(py::module_& m, const pv::Provider& p, py::object (*list_names)(const pv::Provider&)) {
    const char* name = p.list_models.data();  // the table's literals end in NUL
    py::object default_prefix = p.listing_prefix.empty() ? py::object(py::none()) : host::text(p.listing_prefix);
    host::def(
        m, name, pv::listing_params(p).c_str(), p.listing_doc.data(),
        [&p, name, list_names](py::object prefix) {
            host::require(prefix, name, "prefix", Kind::Str, true);
            return sorted_with_prefix(list_names(p), prefix);
        },
        py::arg("prefix") = default_prefix);
}

py::object list_models(py::object llm_provider, py::object model_name) {
    host::require(llm_provider, "list_models", "llm_provider", Kind::Str, true);
    host::require(model_name, "list_models", "model_name", Kind::Str);
    return listing(dispatch_target(attr("_infer_provider")(llm_provider, model_name)), py::object());
}

}  // namespace

/// Whether `error`, or an error it was raised from or while handling, says
/// the provider was down, slow or unreachable.
bool is_provider_outage(py::object error) {
    std::vector<PyObject*> seen;
    std::vector<py::object> pending{error};
    while (!pending.empty()) {
        py::object e = pending.back();
        pending.pop_back();
        if (e.is_none() || !PyExceptionInstance_Check(e.ptr())) continue;
        if (std::find(seen.begin(), seen.end(), e.ptr()) != seen.end()) continue;
        seen.push_back(e.ptr());
        if (pv::is_outage_kind(kinds_of(e))) return true;
        if (auto status = status_of(e); status && *status >= 400 && pv::is_outage_status(*status)) return true;
        pending.push_back(e.attr("__cause__"));
        pending.push_back(e.attr("__context__"));
    }
    return false;
}

void report_usage(py::handle tokens_in, py::handle tokens_out) {
    report_usage(workflow::Usage{token_count(tokens_in), token_count(tokens_out)});
}

py::object listing(const pv::Provider& provider, py::object prefix) {
    py::object list = attr(std::string(provider.list_models).c_str());
    return prefix ? list(prefix) : list();
}

void make_client(const pv::Provider& provider) { attr(std::string(provider.client_factory).c_str())(); }

bool register_back_end(std::string_view value, BackEnd back_end) { return back_ends().emplace(value, back_end).second; }

std::optional<py::object> optional_attr(py::handle obj, const char* name) {
    PyObject* value = PyObject_GetAttrString(obj.ptr(), name);
    if (value != nullptr) return py::reinterpret_steal<py::object>(value);
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw py::error_already_set();
    PyErr_Clear();
    return std::nullopt;
}

bool is_mapping(py::handle value) {
    py::object mapping = py::module_::import("collections.abc").attr("Mapping");
    int result = PyObject_IsInstance(value.ptr(), mapping.ptr());
    if (result < 0) throw py::error_already_set();
    return result == 1;
}

py::object api_key(const pv::Provider& provider) {
    py::object environ = py::module_::import("os").attr("environ");
    for (std::string_view name : provider.environment) {
        py::object key = environ.attr("get")(host::text(name));
        if (host::truthy(key)) return key;
    }
    // The first variable is the one the error names; the others are fallbacks.
    host::raise(PyExc_RuntimeError, std::string(provider.environment.front()) + " environment variable not set.");
}

double seconds_of(py::handle value, bool (*in_range)(double), const std::string& not_a_number,
                  const std::string& out_of_range) {
    if (!host::is_exact(value, Kind::Float) && !host::is_exact(value, Kind::Int))
        throw py::type_error(not_a_number + host::type_name(value));
    double seconds = PyFloat_AsDouble(value.ptr());
    if (seconds == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    if (!in_range(seconds)) host::raise(PyExc_ValueError, out_of_range + host::str_of(value));
    return seconds;
}

py::object request_timeout() {
    // A timeout the call gave (checked when it began) wins over the setting.
    std::optional<double> seconds;
    if (py::object given = call_option("timeout")) {
        seconds = given.cast<double>();
    } else if (py::object setting = attr("REQUEST_TIMEOUT"); !setting.is_none()) {
        seconds = seconds_of(setting, pv::is_timeout, "REQUEST_TIMEOUT must be a number of seconds or None, not ",
                             "REQUEST_TIMEOUT must be a positive, finite number of seconds, not ");
    }
    // The run this thread's requests belong to bounds them too.
    seconds = pv::timeout_within_run(seconds);
    return seconds ? py::object(py::float_(*seconds)) : py::object(py::none());
}

void reraise_timed_out(py::error_already_set& error, const BoundedCall& call, const pv::Provider& provider) {
    std::optional<std::string> timed_out = call.timed_out();
    if (!timed_out || !host::is_ordinary(error)) throw;
    host::raise_from(error, PyExc_RuntimeError, std::string(provider.label) + " " + *timed_out);
}

py::object listing_request(const pv::Provider& provider, const std::function<py::object()>& list,
                           const std::function<py::object(py::object)>& read) {
    BoundedCall call;
    py::object listed;
    try {
        listed = list();
    } catch (py::error_already_set& e) {
        rethrow_unless_ordinary(e);
        host::raise(PyExc_RuntimeError,
                    pv::listing_failed(provider.label, call.timed_out().value_or(server_text(e.value()))));
    }
    return read ? read(listed) : listed;
}

py::object import_from(const char* module, const char* name) {
    py::module_ mod = py::module_::import(module);
    if (auto value = optional_attr(mod, name)) return *value;
    host::raise(PyExc_ImportError, std::string("cannot import name '") + name + "' from '" + module + "'");
}

namespace {

/// Appends `text or ""` of an object that has a `text` attribute; false when it has none.
bool append_text_of(py::handle obj, py::list& chunks) {
    auto text = optional_attr(obj, "text");
    if (!text) return false;
    chunks.append(host::truthy(*text) ? *text : py::str(""));
    return true;
}

/// The joined texts of the parts of every item, as `shape` says where they are.
std::optional<py::object> parts_text(py::handle reply, const pv::ReplyShape& shape) {
    py::list pieces;
    py::object items = attr_or_none(reply, shape.items.data());
    for (py::handle item : host::truthy(items) ? items : py::object(py::list())) {
        py::object content = attr_or_none(item, "content");
        if (content.is_none()) {
            if (shape.item_text) append_text_of(item, pieces);
            continue;
        }
        auto parts = shape.parts.empty() ? std::optional(content) : optional_attr(content, shape.parts.data());
        for (py::handle part : parts.value_or(py::list())) {
            if (append_text_of(part, pieces) || !shape.mapping_parts || !is_mapping(part)) continue;
            py::object text = part.attr("get")("text");
            if (PyUnicode_Check(text.ptr())) pieces.append(text);
        }
    }
    if (pieces.empty()) return std::nullopt;
    return py::str("").attr("join")(pieces);
}

/// The first entry of the sequence `obj.name` (an empty one when it is missing).
py::object first_of(py::handle obj, const char* name) {
    py::object seq = optional_attr(obj, name).value_or(py::list());
    PyObject* item = PySequence_GetItem(seq.ptr(), 0);
    if (item == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(item);
}

}  // namespace

py::object reply_text(py::handle reply, const pv::ReplyShape& shape) {
    py::object whole = attr_or_none(reply, shape.whole_text.data());
    if (host::truthy(whole)) return whole;
    try {
        if (auto joined = parts_text(reply, shape)) return *joined;
    } catch (py::error_already_set& e) {
        if (!shape.tolerant) throw;
        rethrow_unless_ordinary(e);
    }
    if (!shape.first_part) return py::str("");
    try {
        py::object part = first_of(first_of(reply, shape.items.data()), "content");
        if (auto text = optional_attr(part, "text")) return host::truthy(*text) ? *text : py::str("");
    } catch (py::error_already_set& e) {
        rethrow_unless_ordinary(e);
    }
    return py::str("");
}

void report_usage_of(py::handle reply, const pv::ReplyShape& shape) {
    py::object usage = attr_or_none(reply, shape.usage.data());
    report_usage(attr_or_none(usage, shape.tokens_in.data()), attr_or_none(usage, shape.tokens_out.data()));
}

std::vector<pv::ErrorKind> kinds_of(py::handle error) {
    std::vector<pv::ErrorKind> kinds;
    for (py::handle kind : py::type::handle_of(error).attr("__mro__"))
        kinds.push_back({host::str_of(kind.attr("__name__")), host::str_of(kind.attr("__module__"))});
    return kinds;
}

void check_prompt_args(const char* fn, py::handle model_name, py::handle input_text, py::handle max_tokens,
                       py::handle temperature, py::handle stop) {
    host::require(model_name, fn, "model_name", Kind::Str);
    host::require(input_text, fn, "input_text", Kind::Str);
    host::require(max_tokens, fn, "max_tokens", Kind::Int, true);
    host::require(temperature, fn, "temperature", Kind::Float, true);
    host::require(stop, fn, "stop", Kind::List, true);
}

void register_providers(py::module_& m) {
    py::list members;
    for (const pv::Provider& p : pv::kProviders)
        members.append(py::make_tuple(host::text(p.member), host::text(p.value)));
    host::def_enum(m, provider_enum, "LLMProvider", members, pv::enumeration_doc());

    for (const pv::Provider& p : pv::kProviders) {
        auto found = back_ends().find(p.value);
        if (found == back_ends().end()) {
            throw std::logic_error("provider '" + std::string(p.value) + "' has no back-end file");
        }
        found->second.define_functions(m, p);
        define_listing(m, p, found->second.list_names);
    }

    py::object none = py::none();
    def_back_end(m, "_infer_provider", &infer_provider, py::arg("llm_provider"), py::arg("model_name"));
    def_back_end(m, "_llm_generate_text", &llm_generate_text, py::arg("provider"), py::arg("model_name"),
                 py::arg("input_text"), py::arg("max_tokens") = m.attr("MAX_OUTPUT_TOKENS"),
                 py::arg("temperature") = none, py::arg("stop") = none, py::arg("progress") = none);
    def_back_end(m, "_is_provider_outage", &is_provider_outage, py::arg("error"));
    def_back_end(m, "list_models", &list_models, py::arg("llm_provider") = none,
                 py::arg("model_name") = m.attr("MODEL_NAME"));
}

}  // namespace tarvok::generative::bind
