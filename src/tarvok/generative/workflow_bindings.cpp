// The two entry points: the generate-validate-revise loop and feedback on an
// existing model.
#include "generative/bindings.hpp"

namespace tarvok::generative::bind {

namespace {

void check_request_kinds(const char* function, py::handle temperature, py::handle stop, py::handle llm_provider) {
    host::require(temperature, function, "temperature", Kind::Float, true);
    host::require(stop, function, "stop", Kind::List, true);
    host::require(llm_provider, function, "llm_provider", Kind::Str, true);
}

}  // namespace

void register_workflow(py::module_& m) {
    py::object model_name = m.attr("MODEL_NAME");
    py::object llm_provider = m.attr("LLM_PROVIDER");
    py::object iterations = m.attr("MAX_ITERATIONS");
    py::object bnf = m.attr("Grammar").attr("BNF");
    py::object none = py::none();

    py::cpp_function solve(
        [](py::object prompt, py::object model_file, py::object data_file, py::object model_name, py::object mode,
           py::object iterations, py::object return_statistics, py::object alignment_check, py::object temperature,
           py::object stop, py::object llm_provider, py::object progress, py::object few_shot) -> py::object {
            check_request_kinds("generative_solve", temperature, stop, llm_provider);
            host::not_built("generative_solve", "the generation loop");
        },
        py::name("generative_solve"), py::arg("prompt"), py::arg("model_file"), py::arg("data_file"),
        py::arg("model_name") = model_name, py::arg("mode") = bnf, py::arg("iterations") = iterations,
        py::arg("return_statistics") = false, py::arg("alignment_check") = none, py::arg("temperature") = none,
        py::arg("stop") = none, py::arg("llm_provider") = llm_provider, py::arg("progress") = none,
        py::arg("few_shot") = true);
    def_with_signature(m, "generative_solve", solve,
                       "Generate a Tarvok model and data file from a prompt using OpenAI GPT, validate with tarvok, "
                       "iterate on errors, and assess alignment.\n\n"
                       "Writes the model and data files in every iteration and returns the assessment text, or a\n"
                       "dict with 'iterations', 'assessment' and 'syntax_errors' when return_statistics is true.",
                       {{"prompt", {}},
                        {"model_file", {}},
                        {"data_file", {}},
                        {"model_name", model_name},
                        {"mode", bnf},
                        {"iterations", iterations},
                        {"return_statistics", py::bool_(false)},
                        {"alignment_check", none},
                        {"temperature", none},
                        {"stop", none},
                        {"llm_provider", llm_provider},
                        {"progress", none},
                        {"few_shot", py::bool_(true)}});

    py::cpp_function feedback(
        [](py::object prompt, py::object model_file, py::object data_file, py::object model_name, py::object mode,
           py::object temperature, py::object stop, py::object llm_provider, py::object progress) -> py::object {
            check_request_kinds("generative_feedback", temperature, stop, llm_provider);
            host::not_built("generative_feedback", "feedback on an existing model");
        },
        py::name("generative_feedback"), py::arg("prompt"), py::arg("model_file"), py::arg("data_file"),
        py::arg("model_name") = model_name, py::arg("mode") = bnf, py::arg("temperature") = none,
        py::arg("stop") = none, py::arg("llm_provider") = llm_provider, py::arg("progress") = none);
    def_with_signature(m, "generative_feedback", feedback,
                       "Provide feedback on a given Tarvok model and data file based on a user prompt.\n\n"
                       "Returns the parsed reply: 'feedback' and, when changes are proposed, 'revised_model' and\n"
                       "'revised_data'. Nothing is compiled or written.",
                       {{"prompt", {}},
                        {"model_file", {}},
                        {"data_file", {}},
                        {"model_name", model_name},
                        {"mode", bnf},
                        {"temperature", none},
                        {"stop", none},
                        {"llm_provider", llm_provider},
                        {"progress", none}});
}

}  // namespace tarvok::generative::bind
