// Pure rules of the LLM back-ends: which provider serves a request, which
// request parameters are sent, and which parameters an error message rejects.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::generative::providers {

/// The three back-ends, in the order of the host's enumeration.
enum class Provider { OpenAI, Google, Ollama };

/// The provider an explicit name stands for, after trimming host whitespace
/// and lower-casing; nothing for an unknown name.
std::optional<Provider> provider_from_alias(std::string_view name);

/// The provider the model-name rules give (case-sensitive, name untrimmed).
Provider provider_from_model(std::string_view model_name);

/// An explicit, recognised name wins; otherwise the model name decides.
/// An absent or empty name counts as no name.
Provider infer_provider(std::optional<std::string_view> llm_provider, std::string_view model_name);

/// The host's str.lower() as far as any ASCII needle can tell: ASCII letters
/// and the two non-ASCII characters whose lower case holds ASCII (U+0130,
/// U+212A) are lowered; every other character is kept as it is, since its
/// lower case has no ASCII byte an ASCII needle could meet.
std::string lower_for_ascii_search(std::string_view text);

/// Keys of the Responses request, in the order they are inserted.
std::vector<std::string_view> create_param_keys(bool has_max_tokens, bool has_temperature, bool has_stop);

/// Parameters that the retry loop may drop when an error message names them.
inline constexpr std::array<std::string_view, 4> kFallbackKeys{"response_format", "stop", "reasoning",
                                                               "temperature"};

/// Capture of `unsupported parameter:\s*'([^']+)'` searched case-insensitively
/// with the host's rules (Unicode \s and case folding), if it matches.
std::optional<std::string_view> match_unsupported_parameter(std::string_view msg);

/// Capture of `parameter\s*'([^']+)'\s*is not supported`, searched the same way.
std::optional<std::string_view> match_parameter_not_supported(std::string_view msg);

/// The working request parameters as the stripping step sees them.
class ParamKeys {
  public:
    virtual ~ParamKeys() = default;
    virtual bool contains(std::string_view key) = 0;
    virtual void erase(std::string_view key) = 0;
};

/// Removes from `params` every parameter that the error text `msg` rejects;
/// true when anything was removed.
bool strip_param_from_error_message(std::string_view msg, ParamKeys& params);

/// The back-off before the next attempt: `backoff_sec` × 2^attempt.
double backoff_seconds(double backoff_sec, long long attempt);

}  // namespace tarvok::generative::providers
