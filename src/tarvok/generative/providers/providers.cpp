#include "generative/providers/providers.hpp"

#include "common/utf8.hpp"

#include <cmath>

namespace tarvok::generative::providers {

namespace {

/// One code point of UTF-8 text (surrogates included, as the host passes
/// them); a stray byte counts as one character that matches nothing here.
struct CodePoint {
    char32_t value;
    std::size_t size;
};

CodePoint decode_at(std::string_view text, std::size_t pos) {
    utf8::Step step = utf8::decode(text, pos, true);
    return step.ok ? CodePoint{step.code_point, step.length} : CodePoint{0xFFFD, 1};
}

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

/// Whether text character `c` matches the pattern character `p` (ASCII,
/// lower case) when the host's regex engine ignores case. Besides ASCII case
/// pairs the engine folds dotted and dotless I onto i, long s onto s and the
/// Kelvin sign onto k.
bool folds_to(char32_t c, char p) {
    if (c < 0x80) return ascii_lower(static_cast<char>(c)) == p;
    switch (p) {
    case 'i': return c == 0x130 || c == 0x131;
    case 's': return c == 0x17F;
    case 'k': return c == 0x212A;
    default: return false;
    }
}

/// Matches the ASCII literal `lit` case-insensitively at `pos`; the end
/// position on success.
std::optional<std::size_t> literal_at(std::string_view text, std::size_t pos, std::string_view lit) {
    for (char p : lit) {
        if (pos >= text.size()) return std::nullopt;
        CodePoint cp = decode_at(text, pos);
        if (!folds_to(cp.value, ascii_lower(p))) return std::nullopt;
        pos += cp.size;
    }
    return pos;
}

/// `'([^']+)'` at `pos`: the quoted name and the position after its closing
/// quote. The class excludes only the quote, so the run is forced.
std::optional<std::pair<std::string_view, std::size_t>> quoted_at(std::string_view text, std::size_t pos) {
    if (pos >= text.size() || text[pos] != '\'') return std::nullopt;
    std::size_t close = text.find('\'', pos + 1);
    if (close == std::string_view::npos || close == pos + 1) return std::nullopt;
    return std::pair{text.substr(pos + 1, close - pos - 1), close + 1};
}

/// Leftmost match over code-point start positions, as a regex search tries them.
template <typename MatchAt>
std::optional<std::string_view> search(std::string_view text, MatchAt match_at) {
    for (std::size_t pos = 0; pos < text.size(); pos += decode_at(text, pos).size) {
        if (auto capture = match_at(pos)) return capture;
    }
    return std::nullopt;
}

}  // namespace

std::string lower_for_ascii_search(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        CodePoint cp = decode_at(text, pos);
        if (cp.value == 0x130) {
            out += "i\xCC\x87";  // i and a combining dot above
        } else if (cp.value == 0x212A) {
            out += 'k';
        } else if (cp.size == 1) {
            out += ascii_lower(text[pos]);
        } else {
            out.append(text.substr(pos, cp.size));
        }
        pos += cp.size;
    }
    return out;
}

std::optional<Provider> provider_from_alias(std::string_view name) {
    std::string key = lower_for_ascii_search(utf8::trim_host_space(name));
    if (key == "openai" || key == "oai") return Provider::OpenAI;
    if (key == "google" || key == "genai" || key == "gemini" || key == "google.generativeai") return Provider::Google;
    if (key == "ollama") return Provider::Ollama;
    return std::nullopt;
}

Provider provider_from_model(std::string_view model_name) {
    if (model_name.starts_with("gemini")) return Provider::Google;
    if (model_name.find("gpt-oss") != std::string_view::npos || model_name.starts_with("llama") ||
        model_name.starts_with("qwen") || model_name.starts_with("mistral"))
        return Provider::Ollama;
    return Provider::OpenAI;
}

Provider infer_provider(std::optional<std::string_view> llm_provider, std::string_view model_name) {
    if (llm_provider && !llm_provider->empty()) {
        if (auto named = provider_from_alias(*llm_provider)) return *named;
    }
    return provider_from_model(model_name);
}

std::vector<std::string_view> create_param_keys(bool has_max_tokens, bool has_temperature, bool has_stop) {
    std::vector<std::string_view> keys{"model", "input", "response_format"};
    if (has_max_tokens) keys.push_back("max_output_tokens");
    if (has_temperature) keys.push_back("temperature");
    if (has_stop) keys.push_back("stop");
    return keys;
}

std::optional<std::string_view> match_unsupported_parameter(std::string_view msg) {
    return search(msg, [&](std::size_t pos) -> std::optional<std::string_view> {
        auto after = literal_at(msg, pos, "unsupported parameter:");
        if (!after) return std::nullopt;
        auto quoted = quoted_at(msg, utf8::skip_host_space(msg, *after));
        if (!quoted) return std::nullopt;
        return quoted->first;
    });
}

std::optional<std::string_view> match_parameter_not_supported(std::string_view msg) {
    return search(msg, [&](std::size_t pos) -> std::optional<std::string_view> {
        auto after = literal_at(msg, pos, "parameter");
        if (!after) return std::nullopt;
        auto quoted = quoted_at(msg, utf8::skip_host_space(msg, *after));
        if (!quoted) return std::nullopt;
        if (!literal_at(msg, utf8::skip_host_space(msg, quoted->second), "is not supported")) return std::nullopt;
        return quoted->first;
    });
}

bool strip_param_from_error_message(std::string_view msg, ParamKeys& params) {
    const std::string low = lower_for_ascii_search(msg);
    auto mentions = [&](const std::string& needle) { return low.find(needle) != std::string::npos; };
    bool removed = false;
    for (std::string_view key : kFallbackKeys) {
        if (!params.contains(key)) continue;
        std::string k(key);
        if (mentions("unexpected keyword argument '" + k + "'") || mentions("unsupported parameter: '" + k + "'") ||
            mentions(k)) {
            params.erase(key);
            removed = true;
        }
    }
    if (auto name = match_unsupported_parameter(msg); name && params.contains(*name)) {
        params.erase(*name);
        removed = true;
    }
    if (auto name = match_parameter_not_supported(msg); name && params.contains(*name)) {
        params.erase(*name);
        return true;
    }
    return removed;
}

double backoff_seconds(double backoff_sec, long long attempt) {
    return std::ldexp(backoff_sec, static_cast<int>(attempt > 100000 ? 100000 : attempt));
}

}  // namespace tarvok::generative::providers
