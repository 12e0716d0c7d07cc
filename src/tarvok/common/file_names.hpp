// File names as the host spells them, shared by the ranker core and the
// few-shot pairing.
#pragma once

#include "common/utf8.hpp"

#include <cstddef>
#include <string>
#include <string_view>

namespace tarvok {

/// A raw file name as the host spells it: decoded as UTF-8, with every byte
/// that does not decode standing for the lone surrogate U+DC00 + byte (the
/// host's file-system decoding), so names order as the host orders them.
inline std::u32string host_name(std::string_view raw) {
    std::u32string out;
    out.reserve(raw.size());
    while (!raw.empty()) {
        utf8::Step step = utf8::decode(raw, 0);
        if (step.ok) {
            out.push_back(step.code_point);
            raw.remove_prefix(step.length);
        } else {
            out.push_back(0xDC00 + static_cast<unsigned char>(raw.front()));
            raw.remove_prefix(1);
        }
    }
    return out;
}

/// A raw file name as the host's text carries it: host_name's characters
/// as UTF-8, a lone surrogate in three bytes.
inline std::string shown_name(std::string_view raw) {
    std::string out;
    for (char32_t c : host_name(raw)) utf8::append(out, c);
    return out;
}

/// The raw file name a name shown as the host's text stands for (the
/// reverse of shown_name): each lone surrogate U+DC80..U+DCFF is the byte
/// it stands for, as the host's os.fsencode gives it.
inline std::string raw_name(std::string_view shown) {
    std::string out;
    for (std::size_t pos = 0; pos < shown.size();) {
        utf8::Step step = utf8::decode(shown, pos, true);
        if (step.ok && step.code_point >= 0xDC80 && step.code_point <= 0xDCFF)
            out += static_cast<char>(step.code_point - 0xDC00);
        else
            out.append(shown.substr(pos, step.length));
        pos += step.length;
    }
    return out;
}

}  // namespace tarvok
