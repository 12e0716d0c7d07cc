#include "language_server/text_positions.hpp"

#include "common/utf8.hpp"

#include <algorithm>

namespace tarvok::language_server {

namespace {

/// Bytes between checkpoints within a line.
constexpr std::size_t kStride = 1024;

struct Character {
    std::size_t length;
    uint32_t units;
};

Character character_at(std::string_view text, std::size_t pos, Encoding encoding) {
    utf8::Step step = utf8::decode(text, pos, true);
    switch (encoding) {
    case Encoding::Utf8: return {step.length, static_cast<uint32_t>(step.length)};
    case Encoding::Utf16: return {step.length, step.ok && step.code_point >= 0x10000 ? 2u : 1u};
    case Encoding::Utf32: return {step.length, 1u};
    }
    return {step.length, 1u};
}

}  // namespace

std::optional<Encoding> encoding_named(std::string_view name) {
    if (name == "utf-8") return Encoding::Utf8;
    if (name == "utf-16") return Encoding::Utf16;
    if (name == "utf-32") return Encoding::Utf32;
    return std::nullopt;
}

bool meet(const Range& a, const Range& b) { return !(a.end < b.start) && !(b.end < a.start); }

LineMap::LineMap(std::string_view text, Encoding encoding) : text_(text), encoding_(encoding) {
    line_starts_.push_back(0);
    first_checkpoint_.push_back(0);
    std::size_t next_checkpoint = kStride;
    uint32_t units = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        char c = text[pos];
        if (c == '\n' || c == '\r') {
            pos += c == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n' ? 2 : 1;
            next_checkpoint = pos + kStride;
            units = 0;
            line_starts_.push_back(static_cast<uint32_t>(pos));
            first_checkpoint_.push_back(static_cast<uint32_t>(checkpoints_.size()));
            continue;
        }
        if (pos >= next_checkpoint) {
            checkpoints_.push_back({static_cast<uint32_t>(pos), units});
            next_checkpoint = pos + kStride;
        }
        Character ch = character_at(text, pos, encoding);
        pos += ch.length;
        units += ch.units;
    }
    first_checkpoint_.push_back(static_cast<uint32_t>(checkpoints_.size()));
}

std::size_t LineMap::line_end(std::size_t line) const {
    if (line + 1 >= line_starts_.size()) return text_.size();
    std::size_t next = line_starts_[line + 1];
    bool crlf = next >= 2 && text_[next - 2] == '\r' && text_[next - 1] == '\n';
    return next - (crlf ? 2 : 1);
}

Position LineMap::position(std::size_t offset) const {
    offset = std::min(offset, text_.size());
    std::size_t line = static_cast<std::size_t>(std::upper_bound(line_starts_.begin(), line_starts_.end(), offset) -
                                                line_starts_.begin()) -
                       1;
    offset = std::min(offset, line_end(line));
    // The last checkpoint of the line at or before the offset.
    auto first = checkpoints_.begin() + first_checkpoint_[line];
    auto last = checkpoints_.begin() + first_checkpoint_[line + 1];
    auto after =
        std::upper_bound(first, last, offset, [](std::size_t value, const Checkpoint& c) { return value < c.offset; });
    std::size_t pos = line_starts_[line];
    uint32_t units = 0;
    if (after != first) {
        pos = std::prev(after)->offset;
        units = std::prev(after)->units;
    }
    while (pos < offset) {
        Character ch = character_at(text_, pos, encoding_);
        if (pos + ch.length > offset) break;  // inside a character: its start
        pos += ch.length;
        units += ch.units;
    }
    return {static_cast<uint32_t>(line), units};
}

std::size_t LineMap::offset(Position position) const {
    if (position.line >= line_starts_.size()) return text_.size();
    std::size_t line = position.line;
    std::size_t end = line_end(line);
    auto first = checkpoints_.begin() + first_checkpoint_[line];
    auto last = checkpoints_.begin() + first_checkpoint_[line + 1];
    auto after = std::upper_bound(first, last, position.character,
                                  [](uint32_t value, const Checkpoint& c) { return value < c.units; });
    std::size_t pos = line_starts_[line];
    uint32_t units = 0;
    if (after != first) {
        pos = std::prev(after)->offset;
        units = std::prev(after)->units;
    }
    while (pos < end) {
        Character ch = character_at(text_, pos, encoding_);
        if (units + ch.units > position.character) break;
        pos += ch.length;
        units += ch.units;
    }
    return std::min(pos, end);
}

}  // namespace tarvok::language_server
