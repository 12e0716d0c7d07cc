// Grammar references and the six prompts.
#include "generative/bindings.hpp"

namespace tarvok::generative::bind {

void register_references_and_prompts(py::module_& m) {
    using host::def;
    py::object max_chars = m.attr("FEW_SHOT_MAX_CHARS");
    py::object none = py::none();

    def(m, "_read_file", "path", "Read a whole text file in the platform's default encoding.",
        [](py::object path) -> py::object { host::not_built("_read_file", "reference reading"); },
        py::arg("path"));
    def(m, "_read_tarvok_GBNF", "", "Read the GBNF grammar of Tarvok shipped beside the package.",
        []() -> py::object { host::not_built("_read_tarvok_GBNF", "reference reading"); });
    def(m, "_read_tarvok_grammar", "", "Read the Markdown grammar reference of Tarvok shipped beside the package.",
        []() -> py::object { host::not_built("_read_tarvok_grammar", "reference reading"); });
    def(m, "_read_tarvok_code", "", "Read the compiler front-end source shipped in the package.",
        []() -> py::object { host::not_built("_read_tarvok_code", "reference reading"); });
    def(m, "_get_grammar_implementation", "mode", "Return the grammar reference text for a Grammar mode.",
        [](py::object mode) -> py::object { host::not_built("_get_grammar_implementation", "reference reading"); },
        py::arg("mode"));
    def(m, "_safe_read_text", "path, max_chars=2147483647",
        "Read a UTF-8 text file tolerantly, cut to max_chars and trimmed; empty on any failure.",
        [](py::object path, py::object max_chars) -> py::object {
            host::not_built("_safe_read_text", "tolerant reading");
        },
        py::arg("path"), py::arg("max_chars") = max_chars);

    def(m, "_build_generation_prompt", "prompt, grammar_implementation, few_shots=None",
        "Build the first request for a model and data pair.",
        [](py::object, py::object, py::object) -> py::object {
            host::not_built("_build_generation_prompt", "prompt building");
        },
        py::arg("prompt"), py::arg("grammar_implementation"), py::arg("few_shots") = none);
    def(m, "_build_revision_prompt_syntax",
        "prompt, grammar_implementation, model_code, data_code, syntax_errors, few_shots=None",
        "Build the request that repairs a pair the compiler rejected.",
        [](py::object, py::object, py::object, py::object, py::object, py::object) -> py::object {
            host::not_built("_build_revision_prompt_syntax", "prompt building");
        },
        py::arg("prompt"), py::arg("grammar_implementation"), py::arg("model_code"), py::arg("data_code"),
        py::arg("syntax_errors"), py::arg("few_shots") = none);
    def(m, "_build_revision_prompt_alignment",
        "prompt, grammar_implementation, assessment_text, model_code, data_code, few_shots=None",
        "Build the request that realigns a compiling pair with the problem description.",
        [](py::object, py::object, py::object, py::object, py::object, py::object) -> py::object {
            host::not_built("_build_revision_prompt_alignment", "prompt building");
        },
        py::arg("prompt"), py::arg("grammar_implementation"), py::arg("assessment_text"), py::arg("model_code"),
        py::arg("data_code"), py::arg("few_shots") = none);
    def(m, "_build_alignment_prompt", "prompt, grammar_implementation, model_code, data_code",
        "Build the request for a JSON alignment verdict on a compiling pair.",
        [](py::object, py::object, py::object, py::object) -> py::object {
            host::not_built("_build_alignment_prompt", "prompt building");
        },
        py::arg("prompt"), py::arg("grammar_implementation"), py::arg("model_code"), py::arg("data_code"));
    def(m, "_build_final_assessment_prompt", "prompt, grammar_implementation, model_code, data_code, syntax_errors",
        "Build the request for a short written assessment at the end of a run.",
        [](py::object, py::object, py::object, py::object, py::object) -> py::object {
            host::not_built("_build_final_assessment_prompt", "prompt building");
        },
        py::arg("prompt"), py::arg("grammar_implementation"), py::arg("model_code"), py::arg("data_code"),
        py::arg("syntax_errors"));
    def(m, "_build_feedback_prompt", "user_prompt_text, grammar_implementation, model_code, data_code",
        "Build the request that answers a question about an existing model and data pair.",
        [](py::object, py::object, py::object, py::object) -> py::object {
            host::not_built("_build_feedback_prompt", "prompt building");
        },
        py::arg("user_prompt_text"), py::arg("grammar_implementation"), py::arg("model_code"),
        py::arg("data_code"));
}

}  // namespace tarvok::generative::bind
