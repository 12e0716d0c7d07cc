// Positions as an editor counts them: 0-based lines ended by "\n", "\r\n" or
// "\r", and characters in the unit the client and server agreed on.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace tarvok::language_server {

/// The unit of a position's character: UTF-8 bytes, UTF-16 code units (the
/// protocol's default) or code points.
enum class Encoding : uint8_t { Utf8, Utf16, Utf32 };

/// The encoding of a protocol name ("utf-8", "utf-16", "utf-32"); nothing
/// for any other name.
std::optional<Encoding> encoding_named(std::string_view name);

struct Position {
    uint32_t line = 0;
    uint32_t character = 0;
    bool operator==(const Position&) const = default;
    auto operator<=>(const Position&) const = default;

    /// A position as an editor sent it: counts below 0 or past 32 bits are held at the nearest end.
    static Position clamped(long long line, long long character) {
        auto count = [](long long n) { return static_cast<uint32_t>(std::clamp<long long>(n, 0, UINT32_MAX)); };
        return {count(line), count(character)};
    }
};

struct Range {
    Position start;
    Position end;
    bool operator==(const Range&) const = default;
};

/// Whether two ranges share a position (touching counts, so an empty range
/// at the end of a word meets the word).
bool meet(const Range& a, const Range& b);

/// Converts between byte offsets of one text (UTF-8, lone surrogates carried
/// as three-byte sequences) and positions. Both directions take any input: a
/// position past the end of its line or of the text, or inside a character,
/// lands on the nearest character start before it. Each conversion reads at
/// most one stretch of a line between checkpoints, so a text of one huge
/// line costs no more per query than a text of many short ones.
class LineMap {
  public:
    LineMap(std::string_view text, Encoding encoding);

    Position position(std::size_t offset) const;
    std::size_t offset(Position position) const;
    Range range(std::size_t begin, std::size_t end) const { return {position(begin), position(end)}; }
    std::size_t size() const { return text_.size(); }

  private:
    /// A character start inside a line and the units from the line start to it.
    struct Checkpoint {
        uint32_t offset;
        uint32_t units;
    };

    std::size_t line_end(std::size_t line) const;  ///< offset of the line's break (or of the text's end)

    std::string_view text_;
    Encoding encoding_;
    std::vector<uint32_t> line_starts_;
    std::vector<Checkpoint> checkpoints_;     ///< in offset order, none at a line start
    std::vector<uint32_t> first_checkpoint_;  ///< per line: index of its first checkpoint
};

}  // namespace tarvok::language_server
