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

}  // namespace tarvok
