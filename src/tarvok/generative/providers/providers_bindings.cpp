// LLM back-ends: provider inference, dispatch, OpenAI with retry, Gemini,
// Ollama and model listing.
#include "generative/bindings.hpp"

namespace tarvok::generative::bind {

void register_providers(py::module_& m) {
    using host::def;
    py::object max_tokens = m.attr("MAX_OUTPUT_TOKENS");
    py::object model_name = m.attr("MODEL_NAME");
    py::object none = py::none();

    def(m, "_infer_provider", "llm_provider, model_name",
        "Choose the back-end from an explicit provider name, else from the model name.",
        [](py::object, py::object) -> py::object { host::not_built("_infer_provider", "provider inference"); },
        py::arg("llm_provider"), py::arg("model_name"));
    def(m, "_llm_generate_text",
        "provider, model_name, input_text, max_tokens=None, temperature=None, stop=None, progress=None",
        "Send one prompt to the chosen back-end and return the reply text.",
        [](py::object, py::object, py::object, py::object, py::object, py::object, py::object) -> py::object {
            host::not_built("_llm_generate_text", "the LLM back-ends");
        },
        py::arg("provider"), py::arg("model_name"), py::arg("input_text"), py::arg("max_tokens") = max_tokens,
        py::arg("temperature") = none, py::arg("stop") = none, py::arg("progress") = none);
    def(m, "_openai_client", "", "Create an OpenAI client from OPENAI_API_KEY.",
        []() -> py::object { host::not_built("_openai_client", "the OpenAI back-end"); });
    def(m, "_build_create_params", "model_name, input_text, max_tokens=None, temperature=None, stop=None",
        "Build the parameters of one Responses request.",
        [](py::object, py::object, py::object, py::object, py::object) -> py::object {
            host::not_built("_build_create_params", "the OpenAI back-end");
        },
        py::arg("model_name"), py::arg("input_text"), py::arg("max_tokens") = max_tokens,
        py::arg("temperature") = none, py::arg("stop") = none);
    def(m, "_call_openai_with_retry", "client, create_params, retries=3, backoff_sec=1.5, progress=None",
        "Send a Responses request with back-off and removal of unsupported parameters.",
        [](py::object, py::object, py::object, py::object, py::object) -> py::object {
            host::not_built("_call_openai_with_retry", "the OpenAI back-end");
        },
        py::arg("client"), py::arg("create_params"), py::arg("retries") = 3, py::arg("backoff_sec") = 1.5,
        py::arg("progress") = none);
    def(m, "_coalesce_response_text", "resp", "Extract the reply text from any shape of Responses result.",
        [](py::object) -> py::object { host::not_built("_coalesce_response_text", "the OpenAI back-end"); },
        py::arg("resp"));
    def(m, "_google_client", "", "Load google.generativeai and configure it from GEMINI_API_KEY.",
        []() -> py::object { host::not_built("_google_client", "the Gemini back-end"); });
    def(m, "_ollama_generate_text", "model_name, prompt, num_predict=None",
        "Generate a reply with a local Ollama server.",
        [](py::object, py::object, py::object) -> py::object {
            host::not_built("_ollama_generate_text", "the Ollama back-end");
        },
        py::arg("model_name"), py::arg("prompt"), py::arg("num_predict") = max_tokens);

    def(m, "list_models", "llm_provider=None, model_name='gpt-5'",
        "Unified helper: returns models for the inferred provider.",
        [](py::object llm_provider, py::object model_name) -> py::object {
            host::require(llm_provider, "list_models", "llm_provider", Kind::Str, true);
            host::require(model_name, "list_models", "model_name", Kind::Str);
            host::not_built("list_models", "model listing");
        },
        py::arg("llm_provider") = none, py::arg("model_name") = model_name);
    def(m, "list_openai_models", "prefix='gpt'", "Return available OpenAI model IDs visible to the API key.",
        [](py::object prefix) -> py::object {
            host::require(prefix, "list_openai_models", "prefix", Kind::Str, true);
            host::not_built("list_openai_models", "model listing");
        },
        py::arg("prefix") = "gpt");
    def(m, "list_gemini_models", "prefix='gemini'", "Return available Google Generative AI model names.",
        [](py::object prefix) -> py::object {
            host::require(prefix, "list_gemini_models", "prefix", Kind::Str, true);
            host::not_built("list_gemini_models", "model listing");
        },
        py::arg("prefix") = "gemini");
    def(m, "list_ollama_models", "prefix=None",
        "Return available local Ollama model tags (e.g., 'llama3:8b-instruct').",
        [](py::object prefix) -> py::object {
            host::require(prefix, "list_ollama_models", "prefix", Kind::Str, true);
            host::not_built("list_ollama_models", "model listing");
        },
        py::arg("prefix") = none);
}

}  // namespace tarvok::generative::bind
