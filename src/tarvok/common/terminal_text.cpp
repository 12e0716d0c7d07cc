#include "common/terminal_text.hpp"

#include "common/utf8.hpp"

#include <cstdio>

namespace tarvok::terminal {

namespace {

void append_escape(std::string& out, const char* form, unsigned value) {
    char buffer[12];
    std::snprintf(buffer, sizeof buffer, form, value);
    out += buffer;
}

}  // namespace

std::string shown(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t pos = 0; pos < text.size();) {
        utf8::Step step = utf8::decode(text, pos, /*allow_surrogates=*/true);
        char32_t c = step.code_point;
        if (!step.ok) {
            for (size_t k = 0; k < step.length; ++k)
                append_escape(out, "\\x%02x", static_cast<unsigned char>(text[pos + k]));
        } else if (c == '\t' || c == '\n') {
            out += static_cast<char>(c);
        } else if (c == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') {
            // Only a line end: shown as one.
        } else if (utf8::is_control(c)) {
            append_escape(out, "\\x%02x", static_cast<unsigned>(c));
        } else if (utf8::is_bidi_control(c) || c == 0x2028 || c == 0x2029 || (c >= 0xD800 && c <= 0xDFFF)) {
            append_escape(out, "\\u%04x", static_cast<unsigned>(c));
        } else {
            out.append(text, pos, step.length);
        }
        pos += step.length;
    }
    return out;
}

}  // namespace tarvok::terminal
