// The Ollama back-end: generation and model listing on a local server.
#include "bindings/tarvok_generative/providers/back_end.hpp"
#include "generative/providers/back_end_texts.hpp"

namespace tarvok::generative::bind {

namespace {

/// One function of the `ollama` library: the method of a client made with
/// the module's request timeout when the library offers clients, else the
/// library's own function (a stand-in may have only those).
class OllamaFunction {
  public:
    explicit OllamaFunction(const char* name) {
        const pv::Provider& ollama = provider("ollama");
        py::module_ library = load_library(ollama, [] { return py::module_::import("ollama"); });
        if (auto Client = optional_attr(library, "Client")) {
            py::object timeout = request_timeout();
            // The client passes its keywords on to its HTTP client: the hooks
            // that bound each request as a whole.
            client_ = timeout.is_none()
                          ? (*Client)()
                          : (*Client)(py::arg("timeout") = timeout, py::arg("event_hooks") = deadline_hooks(timeout));
            function_ = client_->attr(name);
        } else {
            function_ = load_library(ollama, [&] { return import_from("ollama", name); });
        }
    }

    /// Calls the function, then closes the client (also when the call fails;
    /// the call's error is then the one that propagates).
    template <typename Call>
    py::object operator()(Call call) {
        py::object result;
        BoundedCall bounded;
        try {
            result = call(function_);
        } catch (py::error_already_set& failed) {
            try {
                close();
            } catch (py::error_already_set& e) {
                rethrow_unless_ordinary(e);
            }
            reraise_timed_out(failed, bounded, provider("ollama"));
        }
        close();
        return result;
    }

  private:
    void close() {
        if (!client_) return;
        if (auto closer = optional_attr(*client_, "close")) (*closer)();
        client_.reset();
    }

    std::optional<py::object> client_;
    py::object function_;
};

py::object ollama_generate_text(py::object model_name, py::object prompt, py::object num_predict) {
    const char* fn = "_ollama_generate_text";
    host::require(model_name, fn, "model_name", Kind::Str);
    host::require(prompt, fn, "prompt", Kind::Str);
    host::require(num_predict, fn, "num_predict", Kind::Int, true);
    OllamaFunction generate("generate");
    py::dict options;
    if (!num_predict.is_none()) options["num_predict"] = num_predict;
    py::object result;
    try {
        result = generate([&](const py::object& call) {
            return call(py::arg("model") = model_name, py::arg("prompt") = prompt, py::arg("options") = options);
        });
    } catch (py::error_already_set& e) {
        // A reply whose "response" is no text fails inside the library, whose
        // models check the reply's shape: it is a reply that cannot be read.
        if (!pv::is_malformed_reply_kind(kinds_of(e.value()))) throw;
        host::raise_from(e, PyExc_RuntimeError, pv::unreadable_reply(provider("ollama").label, server_text(e.value())));
    }
    try {
        report_usage(result.attr("get")("prompt_eval_count"), result.attr("get")("eval_count"));
    } catch (py::error_already_set& e) {
        rethrow_unless_ordinary(e);  // a reply without counts reports none
    }
    try {
        py::object text = result[py::str("response")];
        if (!host::truthy(text)) return py::str("");
        if (!PyUnicode_Check(text.ptr())) {
            host::raise(PyExc_TypeError, "the reply under 'response' is " + host::type_name(text) + ", not str");
        }
        return text;
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_KeyError) && !e.matches(PyExc_TypeError)) throw;
        host::raise(PyExc_RuntimeError, pv::unreadable_reply(provider("ollama").label, server_text(e.value())));
    }
}

py::object model_tags(const pv::Provider& ollama) {
    OllamaFunction ollama_list("list");
    return listing_request(ollama, [&] {
        return ollama_list([](const py::object& call) {
            py::object result = call();
            py::list tags;
            for (py::handle entry : result[py::str("models")]) tags.append(entry.attr("model"));
            return py::object(tags);
        });
    });
}

py::object generate(const pv::Provider& ollama, const Request& r) {
    const std::string label(ollama.label);
    notify(r.progress, pv::request_started(label, r.model, "generating"));
    py::object text = attr("_ollama_generate_text")(
        py::arg("model_name") = r.model_name, py::arg("prompt") = r.input_text, py::arg("num_predict") = r.max_tokens);
    notify(r.progress, pv::reply_received(label));
    return text;
}

void define_functions(py::module_& m, const pv::Provider&) {
    def_back_end(m, "_ollama_generate_text", &ollama_generate_text, py::arg("model_name"), py::arg("prompt"),
                 py::arg("num_predict") = m.attr("MAX_OUTPUT_TOKENS"));
}

[[maybe_unused]] const bool registered = register_back_end("ollama", {&generate, &model_tags, &define_functions});

}  // namespace

}  // namespace tarvok::generative::bind
