#include "generative/providers/providers.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace tarvok::generative::providers {

bool ModelRule::matches(std::string_view model_name) const {
    return std::any_of(prefixes.begin(), prefixes.end(), [&](auto p) { return model_name.starts_with(p); }) ||
           std::any_of(fragments.begin(), fragments.end(),
                       [&](auto f) { return model_name.find(f) != std::string_view::npos; });
}

const Provider& provider(std::string_view value, std::span<const Provider> providers) {
    for (const Provider& p : providers) {
        if (p.value == value) return p;
    }
    throw std::logic_error("no provider table entry for back-end '" + std::string(value) + "'");
}

namespace {

/// The functions of the dispatch, which serve every provider.
constexpr FunctionDoc kDispatchFunctions[] = {
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
};

}  // namespace

const FunctionDoc& back_end_doc(std::string_view name, std::span<const Provider> providers) {
    auto named = [&](const FunctionDoc& f) { return f.name == name; };
    auto found = std::find_if(std::begin(kDispatchFunctions), std::end(kDispatchFunctions), named);
    if (found != std::end(kDispatchFunctions)) return *found;
    for (const Provider& p : providers) {
        auto own = std::find_if(p.functions.begin(), p.functions.end(), named);
        if (own != p.functions.end()) return *own;
    }
    throw std::out_of_range("no back-end function " + std::string(name));
}

std::string listing_params(const Provider& provider) {
    if (provider.listing_prefix.empty()) return "prefix=None";
    return "prefix='" + std::string(provider.listing_prefix) + "'";
}

const Provider* provider_from_alias(std::string_view name, std::span<const Provider> providers) {
    for (const Provider& p : providers) {
        if (std::find(p.aliases.begin(), p.aliases.end(), name) != p.aliases.end()) return &p;
    }
    return nullptr;
}

const Provider& provider_from_model(std::string_view model_name, std::span<const Provider> providers) {
    for (const Provider& p : providers) {
        if (p.model_rule.matches(model_name)) return p;
    }
    return providers.front();
}

const Provider& infer_provider(std::optional<std::string_view> name, std::string_view model_name,
                               std::span<const Provider> providers) {
    if (name) {
        if (const Provider* named = provider_from_alias(*name, providers)) return *named;
    }
    return provider_from_model(model_name, providers);
}

std::string enumeration_doc(std::span<const Provider> providers) {
    std::vector<std::string_view> described;
    for (const Provider& p : providers) described.push_back(p.described);
    return "The LLM back-ends: " + spoken_list(described, "and") + ".";
}

std::string spoken_list(const std::vector<std::string_view>& items, std::string_view last) {
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            out += i + 1 == items.size() ? " " + std::string(last) + " " : std::string(", ");
        }
        out += items[i];
    }
    return out;
}

namespace {

/// "; serves model names starting with ... or holding ...", or for the first provider, every other name.
std::string serves_text(const Provider& p, bool first) {
    std::vector<std::string_view> claims(p.model_rule.prefixes.begin(), p.model_rule.prefixes.end());
    std::vector<std::string_view> fragments(p.model_rule.fragments.begin(), p.model_rule.fragments.end());
    if (claims.empty() && fragments.empty()) return first ? "; serves every other model name" : "";
    std::string rule = claims.empty() ? "" : "; serves model names starting with " + spoken_list(claims, "or");
    if (!fragments.empty())
        rule += (claims.empty() ? "; serves model names holding " : " or holding ") + spoken_list(fragments, "or");
    return rule;
}

}  // namespace

std::string providers_help(std::string_view default_model, std::span<const Provider> providers) {
    std::string text = "providers (--provider, else inferred from the model name):\n";
    for (const Provider& p : providers) {
        std::string line = "  " + std::string(p.value) + ": " + std::string(p.described);
        std::vector<std::string_view> keys(p.environment.begin(), p.environment.end());
        if (!keys.empty()) line += "; API key from " + spoken_list(keys, "or");
        std::vector<std::string_view> others(p.client_environment.begin(), p.client_environment.end());
        if (!others.empty()) line += "; also reads " + spoken_list(others, "and");
        if (!p.extra.empty())
            line +=
                "; needs the " + std::string(p.extra) + " extra (pip install \"tarvok[" + std::string(p.extra) + "]\")";
        if (p.named_only) line += "; only with --provider " + std::string(p.value);
        text += line + serves_text(p, &p == &providers.front()) + "\n";
    }
    return text + "default model: " + std::string(default_model) + "\n";
}

std::string provider_names(std::span<const Provider> providers) {
    std::vector<std::string_view> names;
    for (const Provider& p : providers) names.push_back(p.value);
    return spoken_list(names, "or");
}

std::string listing_filters(std::span<const Provider> providers) {
    std::string out;
    std::vector<std::string_view> unfiltered;
    for (const Provider& p : providers) {
        if (p.listing_prefix.empty()) {
            unfiltered.push_back(p.value);
            continue;
        }
        if (!out.empty()) out += ", ";
        out += std::string(p.listing_prefix) + " for " + std::string(p.value);
    }
    if (!unfiltered.empty()) out += (out.empty() ? "none for " : ", none for ") + spoken_list(unfiltered, "and");
    return out;
}

std::vector<std::string_view> create_param_keys(bool has_max_tokens, bool has_temperature, bool has_stop) {
    std::vector<std::string_view> keys{"model", "input", "response_format"};
    if (has_max_tokens) keys.push_back("max_output_tokens");
    if (has_temperature) keys.push_back("temperature");
    if (has_stop) keys.push_back("stop");
    return keys;
}

std::vector<std::string> rejected_params(const RejectionText& message, std::span<const std::string> present) {
    std::vector<std::string> keys(present.begin(), present.end()), removed;
    // Each rejected key goes once, in the order it is found to be rejected.
    auto take = [&](std::string_view key) {
        auto at = std::find(keys.begin(), keys.end(), key);
        if (at == keys.end()) return;
        keys.erase(at);
        removed.emplace_back(key);
    };
    auto mentions = [&](const std::string& needle) { return message.lowered.find(needle) != std::string_view::npos; };
    for (std::string_view key : kFallbackKeys) {
        std::string k(key);
        if (mentions("unexpected keyword argument '" + k + "'") || mentions("unsupported parameter: '" + k + "'") ||
            mentions(k))
            take(key);
    }
    if (message.unsupported_parameter) take(*message.unsupported_parameter);
    if (message.parameter_not_supported) take(*message.parameter_not_supported);
    return removed;
}

bool is_outage_status(long long status) { return status >= 500 || status == 408 || status == 429; }

bool is_outage_kind(std::span<const ErrorKind> kinds) {
    return std::any_of(kinds.begin(), kinds.end(), [](const ErrorKind& kind) {
        return std::find(kOutageKinds.begin(), kOutageKinds.end(), kind.name) != kOutageKinds.end();
    });
}

bool is_malformed_reply_kind(std::span<const ErrorKind> kinds) {
    return std::any_of(kinds.begin(), kinds.end(), [](const ErrorKind& kind) {
        return kind.name == "ValidationError" && kind.module.starts_with("pydantic");
    });
}

bool is_wait(double seconds) { return std::isfinite(seconds) && seconds >= 0; }
bool is_timeout(double seconds) { return std::isfinite(seconds) && seconds > 0; }

double backoff_seconds(double backoff_sec, long long attempt) {
    return std::ldexp(backoff_sec, static_cast<int>(attempt > 100000 ? 100000 : attempt));
}

}  // namespace tarvok::generative::providers
