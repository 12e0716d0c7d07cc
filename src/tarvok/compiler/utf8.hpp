// Strict UTF-8 decoding, shared by the lexer and the diagnostic renderer so
// that both count columns the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarvok::compiler::utf8 {

/// Decodes the character at the start of `s` into `code_point` and returns
/// its length in bytes, or 0 when the bytes there are not valid UTF-8
/// (overlong forms, surrogates and values above U+10FFFF are invalid).
inline size_t decode(std::string_view s, uint32_t& code_point) {
    if (s.empty()) return 0;
    auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char b0 = byte(0);
    if (b0 < 0x80) {
        code_point = b0;
        return 1;
    }
    size_t len;
    uint32_t cp;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        cp = b0 & 0x1Fu;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        cp = b0 & 0x0Fu;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        cp = b0 & 0x07u;
    } else {
        return 0;
    }
    if (s.size() < len) return 0;
    for (size_t i = 1; i < len; ++i) {
        if ((byte(i) & 0xC0u) != 0x80u) return 0;
        cp = (cp << 6) | (byte(i) & 0x3Fu);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    code_point = cp;
    return len;
}

/// Appends `code_point` encoded as UTF-8.
inline void append(std::string& out, uint32_t code_point) {
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

/// `s` with every invalid byte and every control character except the tab
/// replaced by U+FFFD, one replacement per byte, so columns stay aligned.
inline std::string printable(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    while (!s.empty()) {
        uint32_t cp = 0;
        size_t len = decode(s, cp);
        if (len == 0 || (cp < 0x20 && cp != '\t') || cp == 0x7F) {
            append(out, 0xFFFD);
            len = len == 0 ? 1 : len;
        } else {
            out.append(s.substr(0, len));
        }
        s.remove_prefix(len);
    }
    return out;
}

}  // namespace tarvok::compiler::utf8
