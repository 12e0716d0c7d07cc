// UTF-8 as the host reads it, shared by every core: one decoder and the
// host's white space (what its `\s` matches, for scanners that replace a
// regular expression). Texts that come from the host are UTF-8 in which lone
// surrogates are carried as three-byte sequences (surrogatepass). The host is
// the Python interpreter that loads the modules (see host/host.hpp).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarvok::utf8 {

/// One decoding step at a position.
struct Step {
    /// Bytes of the character, or of the maximal ill-formed subpart (at least
    /// one byte): what the host's decoder drops as one error.
    std::size_t length = 1;
    bool ok = false;
    /// Ill-formed only because the text ends inside a well-formed prefix.
    bool truncated = false;
    char32_t code_point = 0;
};

/// Decodes the character at `pos` (inside `s`) as the host's strict UTF-8
/// decoder does: no overlong forms, nothing above U+10FFFF, and no
/// surrogates unless `allow_surrogates` (the host's surrogatepass).
inline Step decode(std::string_view s, std::size_t pos, bool allow_surrogates = false) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned b0 = byte(pos);
    if (b0 < 0x80) return {1, true, false, b0};
    std::size_t need = 0;
    unsigned lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    char32_t cp = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
        cp = b0 & 0x1Fu;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        cp = b0 & 0x0Fu;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED && !allow_surrogates) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        cp = b0 & 0x07u;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return {1, false, false, 0};
    }
    for (std::size_t k = 1; k <= need; ++k) {
        if (pos + k >= s.size()) return {k, false, true, 0};
        unsigned b = byte(pos + k);
        if (b < lo || b > hi) return {k, false, false, 0};
        cp = (cp << 6) | (b & 0x3Fu);
        lo = 0x80;
        hi = 0xBF;
    }
    return {need + 1, true, false, cp};
}

/// Whether all of `s` is well-formed UTF-8 (no surrogates).
inline bool is_valid(std::string_view s) {
    for (std::size_t pos = 0; pos < s.size();) {
        Step step = decode(s, pos);
        if (!step.ok) return false;
        pos += step.length;
    }
    return true;
}

/// Appends `code_point` encoded as UTF-8.
inline void append(std::string& out, char32_t code_point) {
    if (code_point < 0x80) {
        out += static_cast<char>(code_point);
    } else if (code_point < 0x800) {
        out += static_cast<char>(0xC0 | (code_point >> 6));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        out += static_cast<char>(0xE0 | (code_point >> 12));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code_point >> 18));
        out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    }
}

/// Characters that reorder the text around them when displayed (the
/// bidirectional formatting characters), so that text can read differently
/// from what it is.
inline bool is_bidi_control(char32_t c) {
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E || c == 0x200F || c == 0x061C;
}

/// Characters that end a line for some reader of a text: the host's
/// tokenizer ends lines at \n and \r, its str.splitlines() also at \v, \f,
/// \x1c-\x1e, U+0085, U+2028 and U+2029, and editors follow one or the other.
inline bool is_line_break(char32_t c) {
    return c == '\n' || c == '\r' || c == 0x0B || c == 0x0C || (c >= 0x1C && c <= 0x1E) || c == 0x85 || c == 0x2028 ||
           c == 0x2029;
}

/// Control characters: C0 (below U+0020), DEL and C1 (U+0080 to U+009F),
/// which a terminal may act on (ESC, CSI and OSC start its commands).
inline bool is_control(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

/// The characters the host's `\s`, str.isspace() and str.strip() treat as
/// white space.
inline bool is_host_space(char32_t c) {
    if (c < 0x80) return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20);
    switch (c) {
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000: return true;
    default: return c >= 0x2000 && c <= 0x200A;
    }
}

/// Length in bytes of the host whitespace character at `pos` (0 if there is
/// none, or `pos` is past the end).
inline std::size_t host_space_at(std::string_view text, std::size_t pos) {
    if (pos >= text.size()) return 0;
    Step step = decode(text, pos, true);
    return step.ok && is_host_space(step.code_point) ? step.length : 0;
}

inline std::size_t skip_host_space(std::string_view text, std::size_t pos) {
    while (std::size_t n = host_space_at(text, pos)) pos += n;
    return pos;
}

/// `text` without the host white space at either end, as str.strip() leaves it.
inline std::string_view strip_host_space(std::string_view text) {
    std::size_t begin = skip_host_space(text, 0), end = begin;
    for (std::size_t pos = begin; pos < text.size();) {
        if (std::size_t space = host_space_at(text, pos)) {
            pos += space;
            continue;
        }
        pos += decode(text, pos, true).length;
        end = pos;
    }
    return text.substr(begin, end - begin);
}

}  // namespace tarvok::utf8
