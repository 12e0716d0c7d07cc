// The LLM back-ends the package knows, in one table, and the pure rules that
// use it: which provider serves a request, which request parameters are sent,
// and which parameters an error message rejects; with the texts of the
// back-ends' module functions and where a reply object holds what it says.
#pragma once

#include "generative/module_face.hpp"

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvok::generative::providers {

using Names = std::span<const std::string_view>;

/// Which model names a provider serves when the caller names no provider.
struct ModelRule {
    Names prefixes = {};   ///< a name that starts with one of these (case-sensitive)
    Names fragments = {};  ///< or a name that holds one of these anywhere
    bool matches(std::string_view model_name) const;
};

/// Everything the package knows about one back-end. Its code lives in
/// generative/providers/<value>_bindings.cpp, registered under `value`.
struct Provider {
    std::string_view member = {};                 ///< name of the LLMProvider member
    std::string_view value = {};                  ///< the member's value, also its canonical name
    std::string_view label = {};                  ///< how progress messages name it
    std::string_view described = {};              ///< how documents name it
    Names aliases = {};                           ///< names a caller may give (trimmed, lower case)
    ModelRule model_rule = {};                    ///< model names it serves by default
    std::string_view list_models = {};            ///< the module function listing its models
    std::string_view listing_prefix = {};         ///< the names that function keeps by default ("": every one)
    std::string_view listing_doc = {};            ///< that function's docstring
    std::string_view client_factory = {};         ///< the module function making its client ("": none to make)
    std::string_view extra = {};                  ///< the package extra that installs its client library
    std::string_view missing_library = {};        ///< the error text when that library cannot be imported
    Names environment = {};                       ///< variables the API key is read from, tried in this order
    Names client_environment = {};                ///< variables its client library reads by itself (the server address)
    bool named_only = false;                      ///< served only when asked for by name, never for a model name
    std::span<const FunctionDoc> functions = {};  ///< its back-end's module functions: parameter lists, docstrings
};

namespace table {
inline constexpr std::string_view openai_aliases[] = {"openai", "oai"};
inline constexpr std::string_view openai_environment[] = {"OPENAI_API_KEY"};
inline constexpr std::string_view openai_client_environment[] = {"OPENAI_BASE_URL"};
inline constexpr std::string_view google_aliases[] = {"google", "genai", "gemini", "google.generativeai"};
inline constexpr std::string_view google_prefixes[] = {"gemini"};
inline constexpr std::string_view google_environment[] = {"GEMINI_API_KEY", "GOOGLE_API_KEY"};
inline constexpr std::string_view ollama_aliases[] = {"ollama"};
inline constexpr std::string_view ollama_prefixes[] = {"llama", "qwen", "mistral"};
inline constexpr std::string_view ollama_fragments[] = {"gpt-oss"};
inline constexpr std::string_view ollama_client_environment[] = {"OLLAMA_HOST"};
inline constexpr std::string_view replay_aliases[] = {"replay"};
inline constexpr FunctionDoc openai_functions[] = {
    {"_openai_client", "",
     "Create an OpenAI client from OPENAI_API_KEY.\n\n"
     "Its timeout is REQUEST_TIMEOUT (the library's own when that is None) and its own retries\n"
     "are off: the retry loop of _call_openai_with_retry is the only one."},
    {"_build_create_params", "model_name, input_text, max_tokens=None, temperature=None, stop=None",
     "Build the parameters of one Responses request."},
    {"_call_openai_with_retry", "client, create_params, retries=3, backoff_sec=1.5, progress=None",
     "Send a Responses request with back-off and removal of unsupported parameters."},
    {"_coalesce_response_text", "resp", "Extract the reply text from any shape of Responses result."},
};
inline constexpr FunctionDoc google_functions[] = {
    {"_google_client", "",
     "Load google.generativeai and configure it from GEMINI_API_KEY.\n\n"
     "When only its successor google.genai is installed, returns a google.genai Client made with\n"
     "that key instead. Either way requests get REQUEST_TIMEOUT and no retries of the library's own."},
};
inline constexpr FunctionDoc ollama_functions[] = {
    {"_ollama_generate_text", "model_name, prompt, num_predict=None",
     "Generate a reply with a local Ollama server.\n\n"
     "The request is one attempt of at most REQUEST_TIMEOUT seconds (no limit when that is None)."},
};
inline constexpr FunctionDoc replay_functions[] = {
    {"_replay_client", "",
     "Read the transcripts at REPLAY_PATH (a .jsonl file, or a folder searched for *.jsonl) and\n"
     "return how many prompts they answer; RuntimeError when the path is unset or not found."},
};
}  // namespace table

/// The providers in the order of the host's enumeration. Model rules are
/// tried in this order too; a model name no rule claims goes to the first.
inline constexpr std::array<Provider, 4> kProviders{{
    {.member = "OPENAI",
     .value = "openai",
     .label = "OpenAI",
     .described = "OpenAI (Responses)",
     .aliases = table::openai_aliases,
     .model_rule = {},
     .list_models = "list_openai_models",
     .listing_prefix = "gpt",
     .listing_doc = "Return available OpenAI model IDs visible to the API key.",
     .client_factory = "_openai_client",
     .extra = "openai",
     .missing_library = "openai is not installed. pip install openai",
     .environment = table::openai_environment,
     .client_environment = table::openai_client_environment,
     .functions = table::openai_functions},
    {.member = "GOOGLE",
     .value = "google",
     .label = "Gemini",
     .described = "Google Gemini",
     .aliases = table::google_aliases,
     .model_rule = {.prefixes = table::google_prefixes},
     .list_models = "list_gemini_models",
     .listing_prefix = "gemini",
     .listing_doc = "Return available Google Generative AI model names.",
     .client_factory = "_google_client",
     .extra = "gemini",
     .missing_library = "google-genai is not installed. pip install \"tarvok[gemini]\"",
     .environment = table::google_environment,
     .functions = table::google_functions},
    {.member = "OLLAMA",
     .value = "ollama",
     .label = "Ollama",
     .described = "a local Ollama server",
     .aliases = table::ollama_aliases,
     .model_rule = {.prefixes = table::ollama_prefixes, .fragments = table::ollama_fragments},
     .list_models = "list_ollama_models",
     .listing_doc = "Return available local Ollama model tags (e.g., 'llama3:8b-instruct').",
     .extra = "ollama",
     .missing_library = "ollama package is not installed. pip install ollama",
     .environment = {},
     .client_environment = table::ollama_client_environment,
     .functions = table::ollama_functions},
    // Answers from recorded conversations (REPLAY_PATH): no library, no key, no network.
    {.member = "REPLAY",
     .value = "replay",
     .label = "Replay",
     .described = "recorded conversations replayed",
     .aliases = table::replay_aliases,
     .model_rule = {},
     .list_models = "list_replay_models",
     .listing_doc = "Return the model names recorded in the transcripts at REPLAY_PATH.",
     .client_factory = "_replay_client",
     .extra = {},
     .missing_library = {},
     .environment = {},
     .client_environment = {},
     .named_only = true,
     .functions = table::replay_functions},
}};

/// The table entry whose value is `value`; std::logic_error when there is none.
const Provider& provider(std::string_view value, std::span<const Provider> providers = kProviders);

/// The parameter list and docstring of the module function `name`: one of
/// the dispatch functions or a back-end's own; std::out_of_range for
/// another name.
const FunctionDoc& back_end_doc(std::string_view name, std::span<const Provider> providers = kProviders);

/// The parameter list of a provider's listing function: "prefix=None", or
/// "prefix='gpt'" where the table gives a default prefix.
std::string listing_params(const Provider& provider);

/// The provider a name stands for; `name` is already trimmed and lower-cased
/// (by the host's own str methods). Nothing for an unknown name.
const Provider* provider_from_alias(std::string_view name, std::span<const Provider> providers = kProviders);

/// The provider the model-name rules give (the name is taken as it is).
const Provider& provider_from_model(std::string_view model_name, std::span<const Provider> providers = kProviders);

/// An explicit, recognised name wins; otherwise the model name decides.
const Provider& infer_provider(std::optional<std::string_view> name, std::string_view model_name,
                               std::span<const Provider> providers = kProviders);

/// The help text about providers, their keys and extras, ending with the default model.
std::string providers_help(std::string_view default_model, std::span<const Provider> providers = kProviders);

/// The provider names a caller may give: "openai, google, ollama or replay".
std::string provider_names(std::span<const Provider> providers = kProviders);

/// The default filters of the model listings, for help texts: "gpt for
/// openai, gemini for google, none for ollama and replay".
std::string listing_filters(std::span<const Provider> providers = kProviders);

/// The docstring of the LLMProvider enumeration: the back-ends as documents name them.
std::string enumeration_doc(std::span<const Provider> providers = kProviders);

/// `items` as a sentence list: "a", "a or b", "a, b or c" (with `last` "or").
std::string spoken_list(const std::vector<std::string_view>& items, std::string_view last);

/// What a provider's client is made from. Making one costs tens of
/// milliseconds of CPU (its TLS context, its connection pool), and the client
/// libraries are safe to share between threads: a client is handed out again
/// for as long as these stay equal, and made anew once any of them changes.
struct ClientSettings {
    std::string api_key;
    std::optional<double> timeout;  ///< none: the library's own
    /// The whole process environment as the client library would read it
    /// (server address, organisation, proxies, certificates).
    std::vector<std::pair<std::string, std::string>> environment;
    bool operator==(const ClientSettings&) const = default;
};

/// Keys of the Responses request, in the order they are inserted.
std::vector<std::string_view> create_param_keys(bool has_max_tokens, bool has_temperature, bool has_stop);

/// Parameters that the retry loop may drop when an error message names them.
inline constexpr std::array<std::string_view, 4> kFallbackKeys{"response_format", "stop", "reasoning", "temperature"};

/// Expressions, searched case-insensitively by the host's regular-expression
/// engine, whose first group names a parameter an error message rejects.
inline constexpr std::string_view kUnsupportedParameter = R"(unsupported parameter:\s*'([^']+)')";
inline constexpr std::string_view kParameterNotSupported = R"(parameter\s*'([^']+)'\s*is not supported)";

/// What the host found in an error message: its lower case (str.lower())
/// and the groups the two expressions above captured, if they matched.
struct RejectionText {
    std::string_view lowered;
    std::optional<std::string_view> unsupported_parameter = {};
    std::optional<std::string_view> parameter_not_supported = {};
};

/// The parameters among `present` that the error message rejects, in the
/// order they are to be removed.
std::vector<std::string> rejected_params(const RejectionText& message, std::span<const std::string> present);

/// Kinds of error (a class or one of its bases, by name) that say the
/// provider could not be reached or did not answer in time: an outage, which
/// a later run may not meet, rather than an answer or a refusal.
/// A replay miss counts with them: the run could not be answered, which is
/// an error of the run, not a wrong answer.
inline constexpr std::array<std::string_view, 15> kOutageKinds{
    "TimeoutError",       "ConnectionError",  "APIConnectionError", "APITimeoutError",  "InternalServerError",
    "TransportError",     "TimeoutException", "ServiceUnavailable", "DeadlineExceeded", "ServerError",
    "RemoteDisconnected", "IncompleteRead",   "ReadTimeout",        "ConnectTimeout",   "_ReplayMissError"};

/// Whether an HTTP status says the provider failed, not the request: a
/// server error, a timeout or too many requests.
bool is_outage_status(long long status);

/// A class of an error (the error's own or one of its bases): its name and module.
struct ErrorKind {
    std::string name, module;
};

/// Whether any of the classes of an error is an outage kind.
bool is_outage_kind(std::span<const ErrorKind> kinds);

/// Whether an error of a client library says that the reply had the wrong
/// shape: the data validation error of its models (pydantic's ValidationError).
bool is_malformed_reply_kind(std::span<const ErrorKind> kinds);

/// Whether seconds make a wait (finite, not negative) or a timeout (finite, positive).
bool is_wait(double seconds);
bool is_timeout(double seconds);

/// The back-off before the next attempt: `backoff_sec` × 2^attempt.
double backoff_seconds(double backoff_sec, long long attempt);

/// Where a reply object holds the reply text and the token counts; one row
/// per provider that answers with such an object. Names are attributes,
/// given as literals (they end in NUL).
struct ReplyShape {
    std::string_view whole_text;  ///< the whole text, used when it is truthy
    std::string_view items;       ///< else the items whose content holds it in parts
    std::string_view parts;       ///< the parts within an item's content ("": the content itself)
    bool item_text = false;       ///< an item with no content gives its own text
    bool mapping_parts = false;   ///< a part that is a mapping gives its "text" entry when that is a str
    bool tolerant = false;        ///< an ordinary error while reading the parts means "no parts"
    bool first_part = false;      ///< with no parts, the text of the first item's first part, read alone
    std::string_view usage;       ///< the counts' holder, with the counts of the prompt and the reply
    std::string_view tokens_in, tokens_out;
};

/// A Responses result: output_text, else the output items' content blocks.
inline constexpr ReplyShape kResponsesReply{.whole_text = "output_text",
                                            .items = "output",
                                            .parts = "",
                                            .item_text = true,
                                            .mapping_parts = true,
                                            .tolerant = true,
                                            .first_part = true,
                                            .usage = "usage",
                                            .tokens_in = "input_tokens",
                                            .tokens_out = "output_tokens"};

/// A Gemini response: text, else the parts of every candidate's content.
inline constexpr ReplyShape kGeminiReply{.whole_text = "text",
                                         .items = "candidates",
                                         .parts = "parts",
                                         .usage = "usage_metadata",
                                         .tokens_in = "prompt_token_count",
                                         .tokens_out = "candidates_token_count"};

}  // namespace tarvok::generative::providers
