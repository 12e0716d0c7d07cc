// Grammar references and the prompts.
#include "generative/bindings.hpp"
#include "generative/prompts.hpp"

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace tarvok::generative::bind {

namespace {

/// The UTF-8 of a value's text form (`str(value)`); a str is taken as it is.
host::Utf8 text_form(py::handle value) { return host::Utf8(host::text_form(value)); }

std::string text_of(py::handle value) { return std::string(text_form(value).view()); }

/// The few-shot entries as the prompts show them. Path keys are optional
/// (looked up with `get`, first, as the headers come first), the three texts
/// are not: a missing one raises the host's KeyError naming it.
std::vector<FewShotExample> few_shot_examples(py::handle few_shots) {
    std::vector<FewShotExample> out;
    if (!host::truthy(few_shots)) return out;
    py::str empty("");
    for (py::handle item : py::iter(few_shots)) {
        py::object entry = py::reinterpret_borrow<py::object>(item);
        py::object get = entry.attr("get");
        FewShotExample ex;
        ex.desc_path = text_of(get("desc_path", empty));
        ex.model_path = text_of(get("model_path", empty));
        ex.data_path = text_of(get("data_path", empty));
        ex.description = text_of(entry[py::str("description")]);
        ex.model = text_of(entry[py::str("model")]);
        ex.data = text_of(entry[py::str("data")]);
        out.push_back(std::move(ex));
    }
    return out;
}

py::object os_path(const char* name) { return py::module_::import("os").attr("path").attr(name); }

/// The directory of this module's file and its parent, taken afresh.
std::pair<py::object, py::object> package_and_root() {
    py::object dirname = os_path("dirname");
    py::object package_dir = dirname(attr("__file__"));
    return {package_dir, dirname(package_dir)};
}

/// os.path.join of the parts, with the host's separator.
py::object join_path(std::initializer_list<py::object> parts) {
    py::tuple args(parts.size());
    std::size_t i = 0;
    for (const auto& part : parts) args[i++] = part;
    return os_path("join")(*args);
}

/// Installation root / docs / grammars / `name`; when no file is there, the
/// copy the package carries in its own docs / grammars. With neither, the
/// first path is read, so the error names the documented place.
py::object read_grammar_document(const char* name) {
    auto [package_dir, root] = package_and_root();
    py::str docs("docs"), grammars("grammars"), file(name);
    py::object path = join_path({root, docs, grammars, file});
    py::object exists = os_path("exists");
    if (!host::truthy(exists(path))) {
        py::object own_copy = join_path({package_dir, docs, grammars, file});
        if (host::truthy(exists(own_copy))) path = own_copy;
    }
    return attr("_read_file")(path);
}

}  // namespace

SolverVerdict solver_verdict(py::handle result) {
    SolverVerdict verdict;
    py::object get = result.attr("get");
    verdict.status = text_of(result[py::str("status")]);
    py::object message = get("message");
    if (!message.is_none()) verdict.message = text_of(message);
    py::object subset = get("infeasible_constraints");
    if (subset.is_none()) return verdict;
    for (py::handle entry : py::iter(subset)) {
        py::object entry_get = entry.attr("get");
        InfeasibleItem item;
        item.name = text_of(entry[py::str("name")]);
        py::object line = entry_get("line");
        if (!line.is_none()) {
            PyObject* number = PyNumber_Index(line.ptr());
            if (number == nullptr) throw py::error_already_set();
            item.line = host::saturated(py::reinterpret_steal<py::object>(number));
        }
        item.is_bound = host::equals(entry_get("kind"), py::str("bound"));
        verdict.infeasible_subset.push_back(std::move(item));
    }
    return verdict;
}

namespace {

/// `_safe_read_text`: content.decode("utf-8", "ignore")[:max_chars].strip(),
/// all by the host; empty on any failure.
py::object safe_read_text(py::object path, py::object max_chars) {
    try {
        py::object content = host::read_file(py::module_::import("os").attr("fspath")(path), "rb");
        py::object text = content.attr("decode")("utf-8", "ignore");
        py::object cut = text[py::reinterpret_steal<py::object>(PySlice_New(nullptr, max_chars.ptr(), nullptr))];
        return cut.attr("strip")();
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e)) throw;
    } catch (const std::exception&) {
        // bad_alloc and the like: still only a missing example
    }
    return py::str("");
}

/// The readers of the grammar references and example files.
void register_references(py::module_& m) {
    using host::def;
    py::object max_chars = m.attr("FEW_SHOT_MAX_CHARS");

    def(
        m, "_read_file", "path",
        "Read a whole text file as UTF-8, whatever the locale.\n\n"
        "Decoding is strict and line ends become line feeds; the content is\n"
        "returned complete. Errors of the file system or the decoder propagate.",
        [](py::object path) -> py::object {
            // Only real paths are opened: open() would take an integer as a descriptor.
            return host::read_file(py::module_::import("os").attr("fspath")(path), "r", "utf-8");
        },
        py::arg("path"));
    def(m, "_read_tarvok_GBNF", "",
        "Read the GBNF grammar of Tarvok shipped beside the package.\n\n"
        "The file is docs/grammars/Tarvok_GBNF under the installation root, else the package's own copy.",
        []() -> py::object { return read_grammar_document("Tarvok_GBNF"); });
    def(m, "_read_tarvok_grammar", "",
        "Read the Markdown grammar reference of Tarvok shipped beside the package.\n\n"
        "The file is docs/grammars/Tarvok grammar.md under the installation root, else the package's own copy.",
        []() -> py::object { return read_grammar_document("Tarvok grammar.md"); });
    def(m, "_read_tarvok_code", "", "Read the compiler front-end source shipped in the package.", []() -> py::object {
        auto [package_dir, root] = package_and_root();
        return attr("_read_file")(join_path({package_dir, py::str("tarvok_core.cpp")}));
    });
    def(
        m, "_get_grammar_implementation", "mode",
        "Return the grammar reference text for a Grammar mode.\n\n"
        "NONE gives the empty text, BNF the Markdown grammar, CODE the compiler\n"
        "source; anything else raises ValueError.",
        [](py::object mode) -> py::object {
            py::object grammar = attr("Grammar");
            auto is = [&](const char* member) { return host::equals(mode, grammar.attr(member)); };
            if (is("NONE")) return py::str("");
            if (is("BNF")) return attr("_read_tarvok_grammar")();
            if (is("CODE")) return attr("_read_tarvok_code")();
            host::raise(PyExc_ValueError, "Invalid mode: " + text_of(mode));
        },
        py::arg("mode"));
    def(m, "_safe_read_text", "path, max_chars=2147483647",
        "Read a UTF-8 text file tolerantly, cut to max_chars and trimmed; empty on any failure.\n\n"
        "Undecodable bytes are dropped; the cut counts characters and happens\n"
        "before the trim, and a negative limit drops characters from the end.",
        &safe_read_text, py::arg("path"), py::arg("max_chars") = max_chars);
}

/// The requests for a pair: the first one and the revisions.
void register_pair_prompts(py::module_& m) {
    using host::def;
    py::object none = py::none();
    def(
        m, "_build_generation_prompt", "prompt, grammar_implementation, few_shots=None",
        "Build the first request for a model and data pair.",
        [](py::object prompt, py::object grammar, py::object few_shots) -> py::object {
            host::Utf8 p = text_form(prompt), g = text_form(grammar);
            return host::text(generation_prompt(p.view(), g.view(), few_shot_examples(few_shots)));
        },
        py::arg("prompt"), py::arg("grammar_implementation"), py::arg("few_shots") = none);
    def(
        m, "_build_revision_prompt_syntax",
        "prompt, grammar_implementation, model_code, data_code, syntax_errors, few_shots=None",
        "Build the request that repairs a pair the compiler rejected.\n\n"
        "A list of error texts is shown as the host's list literal, a text as it is.",
        [](py::object prompt, py::object grammar, py::object model_code, py::object data_code, py::object syntax_errors,
           py::object few_shots) -> py::object {
            host::Utf8 p = text_form(prompt), g = text_form(grammar), mc = text_form(model_code),
                       dc = text_form(data_code), errors = text_form(syntax_errors);
            return host::text(syntax_revision_prompt(p.view(), g.view(), mc.view(), dc.view(), errors.view(),
                                                     few_shot_examples(few_shots)));
        },
        py::arg("prompt"), py::arg("grammar_implementation"), py::arg("model_code"), py::arg("data_code"),
        py::arg("syntax_errors"), py::arg("few_shots") = none);
    def(
        m, "_build_revision_prompt_alignment",
        "prompt, grammar_implementation, assessment_text, model_code, data_code, few_shots=None",
        "Build the request that realigns a compiling pair with the problem description.",
        [](py::object prompt, py::object grammar, py::object assessment, py::object model_code, py::object data_code,
           py::object few_shots) -> py::object {
            host::Utf8 p = text_form(prompt), g = text_form(grammar), a = text_form(assessment),
                       mc = text_form(model_code), dc = text_form(data_code);
            return host::text(alignment_revision_prompt(p.view(), g.view(), a.view(), mc.view(), dc.view(),
                                                        few_shot_examples(few_shots)));
        },
        py::arg("prompt"), py::arg("grammar_implementation"), py::arg("assessment_text"), py::arg("model_code"),
        py::arg("data_code"), py::arg("few_shots") = none);
    def(
        m, "_build_revision_prompt_execution",
        "prompt, grammar_implementation, model_code, data_code, solver_result, few_shots=None",
        "Build the request that revises a compiling pair the solver could not solve to optimality.\n\n"
        "solver_result is a map as _execute_model returns it: the status word, the solver's message and,\n"
        "for an infeasible model, the constraints of the irreducible infeasible subset.",
        [](py::object prompt, py::object grammar, py::object model_code, py::object data_code, py::object solver_result,
           py::object few_shots) -> py::object {
            host::Utf8 p = text_form(prompt), g = text_form(grammar), mc = text_form(model_code),
                       dc = text_form(data_code);
            std::string verdict = solver_verdict_text(solver_verdict(solver_result), mc.view());
            return host::text(execution_revision_prompt(p.view(), g.view(), mc.view(), dc.view(), verdict,
                                                        few_shot_examples(few_shots)));
        },
        py::arg("prompt"), py::arg("grammar_implementation"), py::arg("model_code"), py::arg("data_code"),
        py::arg("solver_result"), py::arg("few_shots") = none);
}

/// The requests that judge a pair or answer about one.
void register_judging_prompts(py::module_& m) {
    using host::def;
    def(
        m, "_build_alignment_prompt", "prompt, grammar_implementation, model_code, data_code",
        "Build the request for a JSON alignment verdict on a compiling pair.",
        [](py::object prompt, py::object grammar, py::object model_code, py::object data_code) -> py::object {
            host::Utf8 p = text_form(prompt), g = text_form(grammar), mc = text_form(model_code),
                       dc = text_form(data_code);
            return host::text(alignment_prompt(p.view(), g.view(), mc.view(), dc.view()));
        },
        py::arg("prompt"), py::arg("grammar_implementation"), py::arg("model_code"), py::arg("data_code"));
    def(
        m, "_build_final_assessment_prompt", "prompt, grammar_implementation, model_code, data_code, syntax_errors",
        "Build the request for a short written assessment at the end of a run.\n\n"
        "Errors, when there are any, stand in a SYNTAX ERRORS block inside the inputs.",
        [](py::object prompt, py::object grammar, py::object model_code, py::object data_code,
           py::object syntax_errors) -> py::object {
            host::Utf8 p = text_form(prompt), g = text_form(grammar), mc = text_form(model_code),
                       dc = text_form(data_code);
            std::optional<host::Utf8> errors;
            if (host::truthy(syntax_errors)) errors.emplace(host::text_form(syntax_errors));
            return host::text(final_assessment_prompt(p.view(), g.view(), mc.view(), dc.view(),
                                                      errors ? std::optional(errors->view()) : std::nullopt));
        },
        py::arg("prompt"), py::arg("grammar_implementation"), py::arg("model_code"), py::arg("data_code"),
        py::arg("syntax_errors"));
    def(
        m, "_build_feedback_prompt", "user_prompt_text, grammar_implementation, model_code, data_code",
        "Build the request that answers a question about an existing model and data pair.",
        [](py::object question, py::object grammar, py::object model_code, py::object data_code) -> py::object {
            host::Utf8 q = text_form(question), g = text_form(grammar), mc = text_form(model_code),
                       dc = text_form(data_code);
            return host::text(feedback_prompt(q.view(), g.view(), mc.view(), dc.view()));
        },
        py::arg("user_prompt_text"), py::arg("grammar_implementation"), py::arg("model_code"), py::arg("data_code"));
}

/// The requests of the assumptions step: the list, and a pair under one alternative.
void register_assumption_prompts(py::module_& m) {
    using host::def;
    def(
        m, "_build_assumptions_prompt", "prompt, grammar_implementation, model_code, data_code",
        "Build the request for the JSON list of assumptions a compiling pair makes where the description\n"
        "is silent or ambiguous: each with 'assumption', 'alternative', 'where' and 'kind'.",
        [](py::object prompt, py::object grammar, py::object model_code, py::object data_code) -> py::object {
            host::Utf8 p = text_form(prompt), g = text_form(grammar), mc = text_form(model_code),
                       dc = text_form(data_code);
            return host::text(assumptions_prompt(p.view(), g.view(), mc.view(), dc.view()));
        },
        py::arg("prompt"), py::arg("grammar_implementation"), py::arg("model_code"), py::arg("data_code"));
    def(
        m, "_build_what_if_prompt",
        "prompt, grammar_implementation, model_code, data_code, assumption, alternative, kind='interpretation'",
        "Build the request for a pair under the alternative reading of one assumption.\n\n"
        "For the kind 'asked_quantity' it also asks for a decision expression named answer.",
        [](py::object prompt, py::object grammar, py::object model_code, py::object data_code, py::object assumption,
           py::object alternative, py::object kind) -> py::object {
            host::Utf8 p = text_form(prompt), g = text_form(grammar), mc = text_form(model_code),
                       dc = text_form(data_code), as = text_form(assumption), alt = text_form(alternative),
                       k = text_form(kind);
            return host::text(what_if_prompt(p.view(), g.view(), mc.view(), dc.view(), as.view(), alt.view(),
                                             k.view() == "asked_quantity"));
        },
        py::arg("prompt"), py::arg("grammar_implementation"), py::arg("model_code"), py::arg("data_code"),
        py::arg("assumption"), py::arg("alternative"), py::arg("kind") = "interpretation");
}

}  // namespace

void register_references_and_prompts(py::module_& m) {
    register_references(m);
    register_pair_prompts(m);
    register_judging_prompts(m);
    register_assumption_prompts(m);
}

}  // namespace tarvok::generative::bind
