// UTF-8 decoding by the host's rules, shared by the ranker core and the
// few-shot pairing (header-only, no Python headers).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarvok::example_ranker {

/// decode_one() results besides a sequence length.
inline constexpr int kInvalidSequence = 0;
inline constexpr int kTruncatedSequence = -1;

/// Decodes the sequence at the start of `bytes` as the host's strict UTF-8
/// decoder does (no overlong forms, no surrogates, nothing above U+10FFFF).
/// Returns its length (1 to 4) and sets `cp`; kInvalidSequence when the first
/// byte cannot start a well-formed sequence here; kTruncatedSequence when the
/// bytes are a well-formed prefix that the end of `bytes` cuts short.
inline int decode_one(std::string_view bytes, char32_t& cp) {
    if (bytes.empty()) return kTruncatedSequence;
    auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    unsigned char b0 = at(0);
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    int length = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return kInvalidSequence;
    }
    char32_t value = b0 & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
        if (static_cast<std::size_t>(i) >= bytes.size()) return kTruncatedSequence;
        unsigned char b = at(static_cast<std::size_t>(i));
        unsigned char min = i == 1 ? lo : 0x80, max = i == 1 ? hi : 0xBF;
        if (b < min || b > max) return kInvalidSequence;
        value = (value << 6) | (b & 0x3Fu);
    }
    cp = value;
    return length;
}

/// A raw file name as the host spells it: decoded as UTF-8, with every byte
/// that does not decode standing for the lone surrogate U+DC00 + byte (the
/// host's file-system decoding), so names order as the host orders them.
inline std::u32string host_name(std::string_view raw) {
    std::u32string out;
    out.reserve(raw.size());
    while (!raw.empty()) {
        char32_t cp = 0;
        int n = decode_one(raw, cp);
        if (n > 0) {
            out.push_back(cp);
            raw.remove_prefix(static_cast<std::size_t>(n));
        } else {
            out.push_back(0xDC00 + static_cast<unsigned char>(raw.front()));
            raw.remove_prefix(1);
        }
    }
    return out;
}

}  // namespace tarvok::example_ranker
