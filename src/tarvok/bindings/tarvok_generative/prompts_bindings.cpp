// Grammar references and the prompts.
#include "bindings/tarvok_generative/bindings.hpp"
#include "generative/prompt_builders.hpp"
#include "generative/references.hpp"

#include <array>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace tarvok::generative::bind {

namespace {

/// The few-shot entries as the prompts show them (see kFewShotFields): an
/// optional key is looked up with `get`, a missing text raises the host's
/// KeyError naming it.
std::vector<FewShotExample> few_shot_examples(py::handle few_shots) {
    std::vector<FewShotExample> out;
    if (!host::truthy(few_shots)) return out;
    py::str empty("");
    for (py::handle item : py::iter(few_shots)) {
        py::object entry = py::reinterpret_borrow<py::object>(item);
        py::object get = entry.attr("get");
        FewShotExample ex;
        for (const FewShotField& f : kFewShotFields)
            ex.*f.member = host::str_of(f.optional ? get(f.key, empty) : py::object(entry[py::str(f.key)]));
        out.push_back(std::move(ex));
    }
    return out;
}

/// The folder of this module's file, taken afresh.
std::filesystem::path package_dir() {
    return host::file_system_path(py::module_::import("os").attr("path").attr("dirname")(attr("__file__")));
}

/// A file the package ships, read by the module's `_read_file` as it is now.
py::object read_shipped(const std::filesystem::path& path) { return attr("_read_file")(host::host_path(path)); }

}  // namespace

SolverVerdict solver_verdict(py::handle result) {
    SolverVerdict verdict;
    py::object get = result.attr("get");
    verdict.status = host::str_of(result[py::str("status")]);
    py::object message = get("message");
    if (!message.is_none()) verdict.message = host::str_of(message);
    py::object subset = get("infeasible_constraints");
    if (subset.is_none()) return verdict;
    for (py::handle entry : py::iter(subset)) {
        py::object entry_get = entry.attr("get");
        InfeasibleItem item;
        item.name = host::str_of(entry[py::str("name")]);
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
    py::object max_chars = m.attr("FEW_SHOT_MAX_CHARS");

    def_documented(
        m, "_read_file",
        [](py::object path) -> py::object {
            // Only real paths are opened: open() would take an integer as a descriptor.
            return host::read_file(py::module_::import("os").attr("fspath")(path), "r", "utf-8");
        },
        py::arg("path"));
    for (const ShippedReference& r : kShippedReferences)
        def_documented(m, r.reader,
                       [ref = &r]() -> py::object { return read_shipped(shipped_path(package_dir(), *ref)); });
    def_documented(
        m, "_get_grammar_implementation",
        [](py::object mode) -> py::object {
            py::object grammar = grammar_enum.get();
            for (const GrammarMode& g : kGrammarModes)
                if (host::equals(mode, grammar.attr(g.member))) return g.reader ? attr(g.reader)() : py::str("");
            host::raise(PyExc_ValueError, "Invalid mode: " + host::str_of(mode));
        },
        py::arg("mode"));
    def_documented(m, "_safe_read_text", &safe_read_text, py::arg("path"), py::arg("max_chars") = max_chars);
}

/// One argument taken as its parameter says; `held` keeps the texts' UTF-8 alive.
void take(const PromptParam& param, py::handle value, PromptArguments& into, std::vector<host::Utf8>& held) {
    switch (param.input) {
    case PromptInput::TextIfAny:
        if (!host::truthy(value)) {
            into.texts.emplace_back();
            return;
        }
        [[fallthrough]];
    case PromptInput::Text: into.texts.emplace_back(held.emplace_back(host::text_form(value)).view()); return;
    case PromptInput::SolverResult: into.verdict = solver_verdict(value); return;
    case PromptInput::FewShots: into.examples = few_shot_examples(value); return;
    }
}

/// The prompt `builder` makes of the arguments, taken in parameter order.
py::object build(const PromptBuilder& builder, std::initializer_list<py::handle> values) {
    PromptArguments arguments;
    std::vector<host::Utf8> held;  // the views point into the host's texts, which these hold
    auto value = values.begin();
    for (const PromptParam& param : builder.params) take(param, *value++, arguments, held);
    return host::text(builder.build(arguments));
}

py::object default_of(const PromptParam& param) {
    return param.text_default != nullptr ? py::object(py::str(param.text_default)) : py::object(py::none());
}

/// Registers a builder with sizeof...(R) required parameters and sizeof...(D) with defaults.
template <std::size_t... R, std::size_t... D>
void def_builder(py::module_& m, const PromptBuilder& b, std::index_sequence<R...>, std::index_sequence<D...>) {
    constexpr std::size_t required = sizeof...(R);
    auto call = [builder = &b](Object<R>... r, Object<D>... d) { return build(*builder, {r..., d...}); };
    host::def(m, b.name, b.parameter_list().c_str(), b.doc, call, py::arg(b.params[R].name)...,
              py::arg_v(b.params[required + D].name, default_of(b.params[required + D]))...);
}

using Definer = void (*)(py::module_&, const PromptBuilder&);

template <std::size_t Required, std::size_t Defaulted>
void def_with_arity(py::module_& m, const PromptBuilder& b) {
    def_builder(m, b, std::make_index_sequence<Required>(), std::make_index_sequence<Defaulted>());
}

/// A definer per count of required parameters (up to 7) and of defaulted ones (up to 1).
template <std::size_t... R>
constexpr std::array<std::array<Definer, 2>, sizeof...(R)> definers(std::index_sequence<R...>) {
    return {{{&def_with_arity<R, 0>, &def_with_arity<R, 1>}...}};
}

void register_prompt_builders(py::module_& m) {
    static constexpr auto kDefiners = definers(std::make_index_sequence<8>());
    for (const PromptBuilder& b : prompt_builders()) {
        std::size_t required = b.required();
        kDefiners.at(required).at(b.params.size() - required)(m, b);
    }
    execution_prompt_builder.keep(m.attr("_build_revision_prompt_execution"));
}

}  // namespace

host::Kept execution_prompt_builder(host::modules::tarvok_generative);

void register_references_and_prompts(py::module_& m) {
    register_references(m);
    register_prompt_builders(m);
}

}  // namespace tarvok::generative::bind
