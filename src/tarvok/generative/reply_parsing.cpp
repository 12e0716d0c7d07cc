#include "generative/reply_parsing.hpp"

namespace tarvok::generative {

bool is_host_space(char32_t c) {
    if (c < 0x80) return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20);
    switch (c) {
    case 0x85: case 0xA0: case 0x1680: case 0x2028: case 0x2029:
    case 0x202F: case 0x205F: case 0x3000:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

std::size_t host_space_at(std::string_view text, std::size_t pos) {
    if (pos >= text.size()) return 0;
    auto b0 = static_cast<unsigned char>(text[pos]);
    if (b0 < 0x80) return is_host_space(b0) ? 1 : 0;
    // Only two- and three-byte sequences hold non-ASCII whitespace.
    if ((b0 & 0xE0) == 0xC0 && pos + 1 < text.size()) {
        char32_t c = ((b0 & 0x1Fu) << 6) | (static_cast<unsigned char>(text[pos + 1]) & 0x3Fu);
        return is_host_space(c) ? 2 : 0;
    }
    if ((b0 & 0xF0) == 0xE0 && pos + 2 < text.size()) {
        char32_t c = ((b0 & 0x0Fu) << 12) | ((static_cast<unsigned char>(text[pos + 1]) & 0x3Fu) << 6) |
                     (static_cast<unsigned char>(text[pos + 2]) & 0x3Fu);
        return is_host_space(c) ? 3 : 0;
    }
    return 0;
}

namespace {

std::size_t skip_space(std::string_view text, std::size_t pos) {
    while (std::size_t n = host_space_at(text, pos)) pos += n;
    return pos;
}

bool fence_at(std::string_view text, std::size_t pos) { return text.substr(pos, 3) == "```"; }

/// The opening brace a fence at `fence` leads to, or npos. The optional
/// "json" is tried first, as the backtracking engine would.
std::size_t brace_after_fence(std::string_view text, std::size_t fence) {
    std::size_t p = fence + 3;
    if (text.substr(p, 4) == "json") {
        std::size_t q = skip_space(text, p + 4);
        if (q < text.size() && text[q] == '{') return q;
    }
    std::size_t q = skip_space(text, p);
    if (q < text.size() && text[q] == '{') return q;
    return std::string_view::npos;
}

}  // namespace

bool find_fenced_object(std::string_view text, Span& capture) {
    // The greedy body ends at the last '}' that is followed by optional
    // whitespace and a closing fence. Scanning backwards once, `reachable`
    // says whether that holds after the current character.
    std::size_t last_close = std::string_view::npos;
    bool reachable = false;
    for (std::size_t i = text.size(); i-- > 0;) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // inside a character
        if (text[i] == '}' && reachable) {
            last_close = i;
            break;
        }
        if (fence_at(text, i)) {
            reachable = true;
        } else if (host_space_at(text, i) == 0) {
            reachable = false;
        }
    }
    if (last_close == std::string_view::npos) return false;
    for (std::size_t pos = text.find("```"); pos != std::string_view::npos && pos < last_close;
         pos = text.find("```", pos + 1)) {
        std::size_t brace = brace_after_fence(text, pos);
        if (brace != std::string_view::npos && brace < last_close) {
            capture = {brace, last_close + 1};
            return true;
        }
    }
    return false;
}

Span extract_json_span(std::string_view text) {
    Span capture;
    if (find_fenced_object(text, capture)) return capture;
    std::size_t first = text.find('{');
    if (first == std::string_view::npos) return {0, text.size()};
    long depth = 0;
    for (std::size_t i = first; i < text.size(); ++i) {
        if (text[i] == '{') {
            ++depth;
        } else if (text[i] == '}') {
            if (--depth == 0) return {first, i + 1};
        }
    }
    return {0, text.size()};
}

}  // namespace tarvok::generative
