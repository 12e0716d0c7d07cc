#include "generative/server_text.hpp"

#include "common/utf8.hpp"
#include "generative/providers/providers.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace tarvok::generative {

namespace {

/// Hash of a window of kKeyFragment bytes, updated one byte at a time.
constexpr uint64_t kBase = 0x100000001B3ull;

uint64_t power_of_base(std::size_t n) {
    uint64_t p = 1;
    for (std::size_t i = 0; i < n; ++i) p *= kBase;
    return p;
}

/// Marks in `hidden` every byte of `text` that lies in a window of
/// kKeyFragment bytes occurring in one of the keys. A bitmap of window
/// hashes filters the text in one pass; only windows that pass it are
/// compared with the keys.
void mark_fragments(std::string_view text, std::span<const std::string_view> keys, std::vector<bool>& hidden) {
    constexpr std::size_t n = kKeyFragment;
    if (text.size() < n) return;
    const uint64_t top = power_of_base(n - 1);
    auto slot = [](uint64_t h) { return static_cast<std::size_t>(h >> 48); };  // 2^16 bits
    std::vector<bool> seen(std::size_t{1} << 16);
    std::vector<std::string_view> windows;
    for (std::string_view key : keys) {
        for (std::size_t i = 0; i + n <= key.size(); ++i) {
            uint64_t h = 0;
            for (std::size_t k = 0; k < n; ++k) h = h * kBase + static_cast<unsigned char>(key[i + k]);
            seen[slot(h)] = true;
            windows.push_back(key.substr(i, n));
        }
    }
    if (windows.empty()) return;
    uint64_t h = 0;
    for (std::size_t k = 0; k < n; ++k) h = h * kBase + static_cast<unsigned char>(text[k]);
    for (std::size_t i = 0;; ++i) {
        if (seen[slot(h)]) {
            std::string_view window = text.substr(i, n);
            if (std::find(windows.begin(), windows.end(), window) != windows.end())
                for (std::size_t k = i; k < i + n; ++k) hidden[k] = true;
        }
        if (i + n >= text.size()) break;
        h = (h - top * static_cast<unsigned char>(text[i])) * kBase + static_cast<unsigned char>(text[i + n]);
    }
}

}  // namespace

std::string hide_keys(std::string_view text, std::span<const std::string_view> keys) {
    if (std::all_of(keys.begin(), keys.end(), [](std::string_view key) { return key.empty(); }))
        return std::string(text);
    std::vector<bool> hidden(text.size());
    bool any = false;
    for (std::string_view key : keys) {
        if (key.empty()) continue;
        for (std::size_t at = text.find(key); at != std::string_view::npos; at = text.find(key, at + 1)) {
            for (std::size_t k = at; k < at + key.size(); ++k) hidden[k] = true;
            any = true;
        }
    }
    mark_fragments(text, keys, hidden);
    any = any || std::find(hidden.begin(), hidden.end(), true) != hidden.end();
    if (!any) return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (!hidden[i]) {
            out += text[i++];
            continue;
        }
        out += kKeyMask;
        while (i < text.size() && hidden[i]) ++i;
    }
    return out;
}

std::string shown_server_text(std::string_view text, std::span<const std::string_view> keys, std::size_t limit) {
    std::string out = hide_keys(text, keys);
    std::size_t pos = 0, characters = 0;
    while (pos < out.size() && characters < limit) {
        pos += utf8::decode(out, pos, true).length;
        ++characters;
    }
    if (pos >= out.size()) return out;
    std::size_t total = characters;
    for (std::size_t rest = pos; rest < out.size(); ++total) rest += utf8::decode(out, rest, true).length;
    out.resize(pos);
    out += " [... cut after " + std::to_string(limit) + " of " + std::to_string(total) + " characters]";
    return out;
}

ConfiguredKeys::ConfiguredKeys(const ReadVariable& read) {
    for (const providers::Provider& p : providers::kProviders) {
        for (std::string_view name : p.environment) {
            if (std::optional<std::string> value = read(name)) keys_.push_back(std::move(*value));
        }
    }
    views_.assign(keys_.begin(), keys_.end());
}

}  // namespace tarvok::generative
