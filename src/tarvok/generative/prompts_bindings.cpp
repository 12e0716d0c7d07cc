// Grammar references and the six prompts.
#include "generative/bindings.hpp"
#include "generative/prompts.hpp"

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace tarvok::generative::bind {

namespace {

/// The UTF-8 of a value's text form (`str(value)`); a str is taken as it is.
class TextForm {
  public:
    explicit TextForm(py::handle value)
        : text_(host::is_exact(value, Kind::Str) ? py::reinterpret_borrow<py::object>(value)
                                                 : py::object(py::str(py::reinterpret_borrow<py::object>(value)))),
          utf8_(text_) {}
    std::string_view view() const { return utf8_.view(); }

  private:
    py::object text_;  // keeps the buffer behind utf8_ alive
    host::Utf8 utf8_;
};

std::string text_form(py::handle value) { return std::string(TextForm(value).view()); }

/// The few-shot entries as the prompts show them. Path keys are optional
/// (looked up with `get`, first, as the headers come first), the three texts
/// are not: a missing one raises the host's KeyError naming it.
std::vector<FewShotExample> few_shot_examples(py::handle few_shots) {
    std::vector<FewShotExample> out;
    int truth = PyObject_IsTrue(few_shots.ptr());
    if (truth < 0) throw py::error_already_set();
    if (truth == 0) return out;
    py::str empty("");
    for (py::handle item : py::iter(few_shots)) {
        py::object entry = py::reinterpret_borrow<py::object>(item);
        py::object get = entry.attr("get");
        FewShotExample ex;
        ex.desc_path = text_form(get("desc_path", empty));
        ex.model_path = text_form(get("model_path", empty));
        ex.data_path = text_form(get("data_path", empty));
        ex.description = text_form(entry[py::str("description")]);
        ex.model = text_form(entry[py::str("model")]);
        ex.data = text_form(entry[py::str("data")]);
        out.push_back(std::move(ex));
    }
    return out;
}

/// True when the core's printability table matches the host's Unicode
/// database, so its repr of a text is the host's own.
bool core_repr_matches_host() {
    py::object version = py::module_::import("unicodedata").attr("unidata_version");
    return host::Utf8(version).view() == printable_table_unicode_version;
}

/// The error list as the prompts show it: a text unchanged, a list of texts
/// in the host's list repr, anything else by its text form.
std::string render_errors(py::handle errors) {
    if (host::is_exact(errors, Kind::Str)) return std::string(host::Utf8(errors).view());
    if (host::is_exact(errors, Kind::List) && core_repr_matches_host()) {
        // A snapshot of the items, so that nothing can change the list under us.
        auto items = py::reinterpret_steal<py::list>(PyList_GetSlice(errors.ptr(), 0, PY_SSIZE_T_MAX));
        if (!items) throw py::error_already_set();
        bool all_text = true;
        for (py::handle item : items) all_text = all_text && host::is_exact(item, Kind::Str);
        if (all_text) {
            std::vector<host::Utf8> utf8;
            utf8.reserve(items.size());
            std::vector<std::string_view> views;
            views.reserve(items.size());
            for (py::handle item : items) views.push_back(utf8.emplace_back(item).view());
            return host_list_repr(views);
        }
    }
    return text_form(errors);
}

/// Calls the host's `open` (looked up now), reads everything and closes the
/// file again, also when reading fails. `os.fspath` comes first so that only
/// real paths are opened (an integer would be taken as a descriptor).
py::object read_whole(py::handle path, const char* mode) {
    py::object fspath = py::module_::import("os").attr("fspath")(path);
    py::object file = py::module_::import("builtins").attr("open")(fspath, mode);
    py::object content;
    try {
        content = file.attr("read")();
    } catch (py::error_already_set&) {
        try {
            file.attr("close")();
        } catch (py::error_already_set&) {
            // The read error is the one worth reporting.
        }
        throw;
    }
    file.attr("close")();
    return content;
}

/// The directory of this module's file and its parent, taken afresh.
std::pair<py::object, py::object> package_and_root() {
    py::object dirname = py::module_::import("os").attr("path").attr("dirname");
    py::object package_dir = dirname(self().attr("__file__"));
    return {package_dir, dirname(package_dir)};
}

/// os.path.join of the parts, with the host's separator.
py::object join_path(std::initializer_list<py::object> parts) {
    py::tuple args(parts.size());
    std::size_t i = 0;
    for (const auto& part : parts) args[i++] = part;
    return py::module_::import("os").attr("path").attr("join")(*args);
}

py::object read_grammar_document(const char* name) {
    auto [package_dir, root] = package_and_root();
    return attr("_read_file")(join_path({root, py::str("docs"), py::str("grammars"), py::str(name)}));
}

/// `text[:max_chars]` limit as the host's slicing reads it: None for no
/// limit, anything with __index__ (clamped), else the slicing TypeError.
std::optional<std::int64_t> slice_limit(py::handle max_chars) {
    if (max_chars.is_none()) return std::nullopt;
    if (!PyIndex_Check(max_chars.ptr())) {
        throw py::type_error("slice indices must be integers or None or have an __index__ method");
    }
    py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(max_chars.ptr()));
    if (!index) throw py::error_already_set();
    Py_ssize_t value = PyNumber_AsSsize_t(index.ptr(), nullptr);  // clamps, as slicing does
    if (value == -1 && PyErr_Occurred()) throw py::error_already_set();
    return static_cast<std::int64_t>(value);
}

}  // namespace

void register_references_and_prompts(py::module_& m) {
    using host::def;
    py::object max_chars = m.attr("FEW_SHOT_MAX_CHARS");
    py::object none = py::none();

    def(m, "_read_file", "path",
        "Read a whole text file in the platform's default encoding.\n\n"
        "Decoding is strict and line ends become line feeds; the content is\n"
        "returned complete. Errors of the file system or the decoder propagate.",
        [](py::object path) -> py::object { return read_whole(path, "r"); }, py::arg("path"));
    def(m, "_read_tarvok_GBNF", "", "Read the GBNF grammar of Tarvok shipped beside the package.",
        []() -> py::object { return read_grammar_document("Tarvok_GBNF"); });
    def(m, "_read_tarvok_grammar", "", "Read the Markdown grammar reference of Tarvok shipped beside the package.",
        []() -> py::object { return read_grammar_document("Tarvok grammar.md"); });
    def(m, "_read_tarvok_code", "", "Read the compiler front-end source shipped in the package.",
        []() -> py::object {
            auto [package_dir, root] = package_and_root();
            return attr("_read_file")(join_path({package_dir, py::str("tarvok_core.cpp")}));
        });
    def(m, "_get_grammar_implementation", "mode",
        "Return the grammar reference text for a Grammar mode.\n\n"
        "NONE gives the empty text, BNF the Markdown grammar, CODE the compiler\n"
        "source; anything else raises ValueError.",
        [](py::object mode) -> py::object {
            py::object grammar = attr("Grammar");
            auto equals = [&](const char* member) {
                py::object result = py::reinterpret_steal<py::object>(
                    PyObject_RichCompare(mode.ptr(), grammar.attr(member).ptr(), Py_EQ));
                if (!result) throw py::error_already_set();
                int truth = PyObject_IsTrue(result.ptr());
                if (truth < 0) throw py::error_already_set();
                return truth == 1;
            };
            if (equals("NONE")) return py::str("");
            if (equals("BNF")) return attr("_read_tarvok_grammar")();
            if (equals("CODE")) return attr("_read_tarvok_code")();
            host::raise(PyExc_ValueError, "Invalid mode: " + text_form(mode));
        },
        py::arg("mode"));
    def(m, "_safe_read_text", "path, max_chars=2147483647",
        "Read a UTF-8 text file tolerantly, cut to max_chars and trimmed; empty on any failure.\n\n"
        "Undecodable bytes are dropped; the cut counts characters and happens\n"
        "before the trim, and a negative limit drops characters from the end.",
        [](py::object path, py::object max_chars) -> py::object {
            try {
                std::optional<std::int64_t> limit = slice_limit(max_chars);
                py::object content = read_whole(path, "rb");
                char* data = nullptr;
                Py_ssize_t size = 0;
                if (PyBytes_AsStringAndSize(content.ptr(), &data, &size) < 0) throw py::error_already_set();
                std::string text = decode_utf8_ignoring_errors(std::string_view(data, static_cast<size_t>(size)));
                return host::text(cut_and_strip(text, limit));
            } catch (py::error_already_set& e) {
                if (!host::is_ordinary(e)) throw;
            } catch (const std::exception&) {
                // bad_alloc and the like: still only a missing example
            }
            return py::str("");
        },
        py::arg("path"), py::arg("max_chars") = max_chars);

    def(m, "_build_generation_prompt", "prompt, grammar_implementation, few_shots=None",
        "Build the first request for a model and data pair.",
        [](py::object prompt, py::object grammar, py::object few_shots) -> py::object {
            TextForm p(prompt), g(grammar);
            return host::text(generation_prompt(p.view(), g.view(), few_shot_examples(few_shots)));
        },
        py::arg("prompt"), py::arg("grammar_implementation"), py::arg("few_shots") = none);
    def(m, "_build_revision_prompt_syntax",
        "prompt, grammar_implementation, model_code, data_code, syntax_errors, few_shots=None",
        "Build the request that repairs a pair the compiler rejected.\n\n"
        "A list of error texts is shown as the host's list literal, a text as it is.",
        [](py::object prompt, py::object grammar, py::object model_code, py::object data_code,
           py::object syntax_errors, py::object few_shots) -> py::object {
            TextForm p(prompt), g(grammar), mc(model_code), dc(data_code);
            std::string errors = render_errors(syntax_errors);
            return host::text(syntax_revision_prompt(p.view(), g.view(), mc.view(), dc.view(), errors,
                                                     few_shot_examples(few_shots)));
        },
        py::arg("prompt"), py::arg("grammar_implementation"), py::arg("model_code"), py::arg("data_code"),
        py::arg("syntax_errors"), py::arg("few_shots") = none);
    def(m, "_build_revision_prompt_alignment",
        "prompt, grammar_implementation, assessment_text, model_code, data_code, few_shots=None",
        "Build the request that realigns a compiling pair with the problem description.",
        [](py::object prompt, py::object grammar, py::object assessment, py::object model_code,
           py::object data_code, py::object few_shots) -> py::object {
            TextForm p(prompt), g(grammar), a(assessment), mc(model_code), dc(data_code);
            return host::text(alignment_revision_prompt(p.view(), g.view(), a.view(), mc.view(), dc.view(),
                                                        few_shot_examples(few_shots)));
        },
        py::arg("prompt"), py::arg("grammar_implementation"), py::arg("assessment_text"), py::arg("model_code"),
        py::arg("data_code"), py::arg("few_shots") = none);
    def(m, "_build_alignment_prompt", "prompt, grammar_implementation, model_code, data_code",
        "Build the request for a JSON alignment verdict on a compiling pair.",
        [](py::object prompt, py::object grammar, py::object model_code, py::object data_code) -> py::object {
            TextForm p(prompt), g(grammar), mc(model_code), dc(data_code);
            return host::text(alignment_prompt(p.view(), g.view(), mc.view(), dc.view()));
        },
        py::arg("prompt"), py::arg("grammar_implementation"), py::arg("model_code"), py::arg("data_code"));
    def(m, "_build_final_assessment_prompt", "prompt, grammar_implementation, model_code, data_code, syntax_errors",
        "Build the request for a short written assessment at the end of a run.\n\n"
        "Errors, when there are any, stand in a SYNTAX ERRORS block inside the inputs.",
        [](py::object prompt, py::object grammar, py::object model_code, py::object data_code,
           py::object syntax_errors) -> py::object {
            TextForm p(prompt), g(grammar), mc(model_code), dc(data_code);
            int any = PyObject_IsTrue(syntax_errors.ptr());
            if (any < 0) throw py::error_already_set();
            std::optional<std::string> errors;
            if (any) errors = render_errors(syntax_errors);
            std::optional<std::string_view> shown;
            if (errors) shown = *errors;
            return host::text(final_assessment_prompt(p.view(), g.view(), mc.view(), dc.view(), shown));
        },
        py::arg("prompt"), py::arg("grammar_implementation"), py::arg("model_code"), py::arg("data_code"),
        py::arg("syntax_errors"));
    def(m, "_build_feedback_prompt", "user_prompt_text, grammar_implementation, model_code, data_code",
        "Build the request that answers a question about an existing model and data pair.",
        [](py::object question, py::object grammar, py::object model_code, py::object data_code) -> py::object {
            TextForm q(question), g(grammar), mc(model_code), dc(data_code);
            return host::text(feedback_prompt(q.view(), g.view(), mc.view(), dc.view()));
        },
        py::arg("user_prompt_text"), py::arg("grammar_implementation"), py::arg("model_code"),
        py::arg("data_code"));
}

}  // namespace tarvok::generative::bind
