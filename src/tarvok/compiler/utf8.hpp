// Strict UTF-8 decoding, shared by the lexer and the diagnostic renderer so
// that both count columns the same way.
#pragma once

#include "common/utf8.hpp"

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
    ::tarvok::utf8::Step step = ::tarvok::utf8::decode(s, 0);
    if (!step.ok) return 0;
    code_point = step.code_point;
    return step.length;
}

using ::tarvok::utf8::append;

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
