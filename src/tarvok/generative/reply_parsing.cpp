#include "generative/reply_parsing.hpp"

#include "common/utf8.hpp"

namespace tarvok::generative {

namespace {

bool fence_at(std::string_view text, std::size_t pos) { return text.substr(pos, 3) == "```"; }

/// The opening brace a fence at `fence` leads to, or npos. The optional
/// "json" is tried first, as the backtracking engine would.
std::size_t brace_after_fence(std::string_view text, std::size_t fence) {
    std::size_t p = fence + 3;
    if (text.substr(p, 4) == "json") {
        std::size_t q = utf8::skip_host_space(text, p + 4);
        if (q < text.size() && text[q] == '{') return q;
    }
    std::size_t q = utf8::skip_host_space(text, p);
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
        } else if (utf8::host_space_at(text, i) == 0) {
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
