#include "generative/providers/back_end_faces.hpp"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace tarvok::generative::providers {

namespace {

constexpr std::array<FunctionDoc, 11> kBackEndFunctions{{
    {"_infer_provider", "llm_provider, model_name",
     "Choose the back-end from an explicit provider name, else from the model name."},
    {"_llm_generate_text",
     "provider, model_name, input_text, max_tokens=None, temperature=None, stop=None, progress=None",
     "Send one prompt to the chosen back-end and return the reply text."},
    {"_is_provider_outage", "error",
     "Whether an error of a request says the provider was down, slow or unreachable (a server\n"
     "error, a timeout, a refused or dropped connection), looking through what it was raised from."},
    {"list_models", "llm_provider=None, model_name='gpt-5'",
     "Unified helper: returns models for the inferred provider."},
    {"_openai_client", "",
     "Create an OpenAI client from OPENAI_API_KEY.\n\n"
     "Its timeout is REQUEST_TIMEOUT (the library's own when that is None) and its own retries\n"
     "are off: the retry loop of _call_openai_with_retry is the only one."},
    {"_build_create_params", "model_name, input_text, max_tokens=None, temperature=None, stop=None",
     "Build the parameters of one Responses request."},
    {"_call_openai_with_retry", "client, create_params, retries=3, backoff_sec=1.5, progress=None",
     "Send a Responses request with back-off and removal of unsupported parameters."},
    {"_coalesce_response_text", "resp", "Extract the reply text from any shape of Responses result."},
    {"_google_client", "",
     "Load google.generativeai and configure it from GEMINI_API_KEY.\n\n"
     "When only its successor google.genai is installed, returns a google.genai Client made with\n"
     "that key instead. Either way requests get REQUEST_TIMEOUT and no retries of the library's own."},
    {"_ollama_generate_text", "model_name, prompt, num_predict=None",
     "Generate a reply with a local Ollama server.\n\n"
     "The request is one attempt of at most REQUEST_TIMEOUT seconds (no limit when that is None)."},
    {"_replay_client", "",
     "Read the transcripts at REPLAY_PATH (a .jsonl file, or a folder searched for *.jsonl) and\n"
     "return how many prompts they answer; RuntimeError when the path is unset or not found."},
}};

}  // namespace

const FunctionDoc& back_end_doc(std::string_view name) {
    auto found = std::find_if(kBackEndFunctions.begin(), kBackEndFunctions.end(),
                              [&](const FunctionDoc& f) { return f.name == name; });
    if (found == kBackEndFunctions.end()) throw std::out_of_range("no back-end function " + std::string(name));
    return *found;
}

std::string listing_params(const Provider& provider) {
    if (provider.listing_prefix.empty()) return "prefix=None";
    return "prefix='" + std::string(provider.listing_prefix) + "'";
}

}  // namespace tarvok::generative::providers
