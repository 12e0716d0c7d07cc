// The tarvok_generative module: settings, enumerations, logger, the progress
// channel and reply parsing; the other subsystems register from their own
// binding files.
#include "bindings/host/keys.hpp"
#include "bindings/host/module_start.hpp"
#include "bindings/tarvok_generative/bindings.hpp"
#include "generative/providers/providers.hpp"
#include "generative/reply_parsing.hpp"
#include "generative/server_text.hpp"
#include "generative/settings.hpp"

#include <pybind11/stl.h>

#include <memory>
#include <variant>

namespace tarvok::generative::bind {

namespace {

/// Replies from this size on (bytes) are scanned without the host's lock, so
/// other threads run meanwhile; below it the scan is cheaper than the switch.
constexpr std::size_t kUnlockedExtraction = 256 * 1024;

/// A callable that stands for a module function and carries a real signature.
struct SignedFunction {
    py::object impl;
    std::vector<std::pair<std::string, py::object>> params;
    std::unique_ptr<host::Memo> signature = std::make_unique<host::Memo>();  ///< made on first use
};

void register_signed_function_type(py::module_& m) {
    py::class_<SignedFunction>(m, "_signed_function", py::dynamic_attr(), py::module_local(),
                               "A module function whose signature carries enumeration defaults.")
        .def("__call__", [](SignedFunction& f, py::args args, py::kwargs kwargs) { return f.impl(*args, **kwargs); })
        .def_property_readonly("__signature__",
                               [](SignedFunction& f) {
                                   return f.signature->get([&f] {
                                       auto inspect = py::module_::import("inspect");
                                       auto Parameter = inspect.attr("Parameter");
                                       py::list parameters;
                                       for (auto& [name, value] : f.params) {
                                           py::object default_ = value ? value : Parameter.attr("empty");
                                           parameters.append(Parameter(name, Parameter.attr("POSITIONAL_OR_KEYWORD"),
                                                                       py::arg("default") = default_));
                                       }
                                       return inspect.attr("Signature")(parameters);
                                   });
                               })
        .def("__repr__",
             [](py::object f) { return "<function " + py::str(f.attr("__qualname__")).cast<std::string>() + ">"; });
}

}  // namespace

namespace {

using host::environment_text;
using host::without_keys;

}  // namespace

void notify(py::handle progress, const std::string& msg) { attr("_notify")(progress, host::text(without_keys(msg))); }

std::string server_text(py::handle value) {
    std::string text = host::str_of(value);
    return shown_server_text(text, ConfiguredKeys(environment_text).views());
}

void log_debug(const std::string& msg) { attr("logger").attr("debug")(host::text(without_keys(msg))); }

host::Kept grammar_enum(host::modules::tarvok_generative);

namespace {

py::object call_options_variable() {
    static host::Memo* variable = new host::Memo;  // never destroyed: the interpreter is gone by then
    return variable->get([] {
        return py::module_::import("contextvars")
            .attr("ContextVar")("tarvok.tarvok_generative.call_options", py::arg("default") = py::none());
    });
}

}  // namespace

py::object call_option(const char* name) {
    py::object options = call_options_variable().attr("get")();
    if (options.is_none() || !options.contains(name)) return py::object();
    return options[name];
}

CallOptions::CallOptions(py::dict options) : token_(call_options_variable().attr("set")(options)) {}

CallOptions::~CallOptions() {
    py::error_scope keep;  // an error in flight stays the one raised
    if (PyObject* done = PyObject_CallMethod(call_options_variable().ptr(), "reset", "O", token_.ptr()))
        Py_DECREF(done);
    PyErr_Clear();
}

void def_signed(py::module_& m, const char* name, const py::cpp_function& impl, const char* doc,
                std::vector<SignedParam> params) {
    SignedFunction f{impl, {}};
    for (auto& [param, value] : params) f.params.emplace_back(param, value);
    py::object obj = py::cast(std::move(f));
    obj.attr("__name__") = name;
    obj.attr("__qualname__") = name;
    obj.attr("__module__") = m.attr("__name__");
    obj.attr("__doc__") = doc;
    m.attr(name) = obj;
}

void register_reply_parsing(py::module_& m) {
    def_documented(
        m, "extract_json_from_markdown",
        [](py::object text) -> py::object {
            host::require(text, "extract_json_from_markdown", "text", Kind::Str);
            host::Utf8 utf8(text);
            Span span;
            if (utf8.view().size() < kUnlockedExtraction) {
                span = extract_json_span(utf8.view());
            } else {
                py::gil_scoped_release unlocked;  // the text is immutable and held by `utf8`
                span = extract_json_span(utf8.view());
            }
            if (span.begin == 0 && span.end == utf8.view().size()) return text;
            return host::text(utf8.view().substr(span.begin, span.end - span.begin));
        },
        py::arg("text"));

    def_documented(
        m, "_json_loads_relaxed",
        [](py::object text) -> py::object {
            host::require(text, "_json_loads_relaxed", "text", Kind::Str);
            auto loads = py::module_::import("json").attr("loads");
            auto is_object_or_null = [](const py::object& v) { return v.is_none() || PyDict_Check(v.ptr()); };
            try {
                py::object value = loads(text);
                if (is_object_or_null(value)) return value;
            } catch (py::error_already_set& e) {
                if (!host::is_ordinary(e)) throw;
            }
            py::object value = loads(attr("extract_json_from_markdown")(text));
            if (is_object_or_null(value)) return value;
            // The name cut at 200 characters, as the host slices text.
            py::object name = py::type::handle_of(value).attr("__name__");
            py::object kind = py::reinterpret_steal<py::object>(PySequence_GetSlice(name.ptr(), 0, 200));
            if (!kind) throw py::error_already_set();
            host::raise(PyExc_TypeError, "Expected dict, got " + host::str_of(kind));
        },
        py::arg("text"));
}

}  // namespace tarvok::generative::bind

namespace bind = tarvok::generative::bind;
namespace host = tarvok::host;
namespace generative = tarvok::generative;

namespace {

namespace py = pybind11;

/// The settings as shipped, described in the module's doc. Parameter defaults
/// read them at registration, once.
void register_settings(py::module_& m) {
    m.doc() = generative::module_doc();
    for (const generative::Setting& s : generative::settings()) m.attr(s.name) = py::cast(s.value);  // monostate: None
}

/// Grammar, and the type of every `progress` parameter for annotations (the stub names it too).
void register_kinds(py::module_& m) {
    host::def_enum(m, bind::grammar_enum, "Grammar", py::make_tuple("NONE", "BNF", "CODE"), generative::kGrammarDoc);
    py::module_ typing = py::module_::import("typing");
    m.attr("Progress") = typing.attr("Optional")[typing.attr(
        "Callable")[py::make_tuple(py::make_tuple(py::type::of(py::str())), typing.attr("Any"))]];
}

/// The progress channel and the hiding of keys in what is shown.
void register_notify(py::module_& m) {
    bind::def_documented(
        m, "_notify",
        [](py::object progress, py::object msg) {
            try {
                if (PyObject_IsTrue(progress.ptr()) == 1) {
                    progress(msg);
                } else {
                    if (PyErr_Occurred()) throw py::error_already_set();
                    bind::attr("logger").attr("debug")(msg);
                }
            } catch (py::error_already_set& e) {
                if (!host::is_ordinary(e)) throw;
            }
        },
        py::arg("progress"), py::arg("msg"));

    bind::def_documented(
        m, "_hide_keys",
        [](py::object text) -> py::object {
            host::require(text, "_hide_keys", "text", host::Kind::Str);
            host::Utf8 utf8(text);
            std::string hidden = bind::without_keys(utf8.view());
            if (hidden.size() == utf8.view().size() && hidden == utf8.view()) return text;
            return host::text(hidden);
        },
        py::arg("text"));
}

}  // namespace

void tarvok_start_tarvok_generative(pybind11::module_& m) {
    namespace py = pybind11;
    host::ModuleStart start(m, tarvok::host::modules::tarvok_generative);

    register_settings(m);

    // The compiler and the example ranker are bound at load time; a missing
    // sibling makes this import fail.
    py::module_ core = host::modules::tarvok_core.get();
    m.attr("TVLCompiler") = core.attr("TVLCompiler");
    m.attr("SemanticError") = core.attr("SemanticError");
    m.attr("rag_rank") = host::modules::example_ranker.attr("rank_problem_descriptions");

    register_kinds(m);
    host::lazy_logger(m);
    bind::register_signed_function_type(m);
    register_notify(m);
    bind::register_reply_parsing(m);
    bind::register_references_and_prompts(m);
    bind::register_few_shot(m);
    bind::register_providers(m);
    bind::register_workflow(m);
}
