#include "generative/server_text.hpp"

#include "common/utf8.hpp"

#include <algorithm>
#include <vector>

namespace tarvok::generative {

namespace {

std::string masked(std::string_view text, std::span<const std::string_view> keys) {
    std::string out(text);
    // Longer keys first, so that a key holding another is hidden whole.
    std::vector<std::string_view> ordered(keys.begin(), keys.end());
    std::sort(ordered.begin(), ordered.end(), [](auto a, auto b) { return a.size() > b.size(); });
    for (std::string_view key : ordered) {
        if (key.empty()) continue;
        std::string replaced;
        std::size_t from = 0;
        for (std::size_t at = out.find(key); at != std::string::npos; at = out.find(key, from)) {
            replaced.append(out, from, at - from);
            replaced += kKeyMask;
            from = at + key.size();
        }
        if (from == 0) continue;
        replaced.append(out, from);
        out = std::move(replaced);
    }
    return out;
}

}  // namespace

std::string shown_server_text(std::string_view text, std::span<const std::string_view> keys, std::size_t limit) {
    std::string out = masked(text, keys);
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

}  // namespace tarvok::generative
