#include "example_ranker/description_text.hpp"

#include "example_ranker/utf8.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numeric>

namespace tarvok::example_ranker {

bool is_host_space(char32_t c) {
    switch (c) {
    case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D:
    case 0x1C: case 0x1D: case 0x1E: case 0x1F: case 0x20:
    case 0x85: case 0xA0: case 0x1680:
    case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

namespace {

/// Length of the character at the start of `text` (text is well-formed or
/// surrogate-carrying UTF-8 from the host; a stray byte counts as one).
std::size_t char_length_at(std::string_view text, std::size_t pos) {
    std::size_t n = 1;
    while (pos + n < text.size() && (static_cast<unsigned char>(text[pos + n]) & 0xC0) == 0x80) ++n;
    return n;
}

/// Code point of the character starting at `pos` that is `n` bytes long.
char32_t code_point(std::string_view text, std::size_t pos, std::size_t n) {
    auto b = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    switch (n) {
    case 1: return b(0);
    case 2: return ((b(0) & 0x1Fu) << 6) | (b(1) & 0x3Fu);
    case 3: return ((b(0) & 0x0Fu) << 12) | ((b(1) & 0x3Fu) << 6) | (b(2) & 0x3Fu);
    case 4: return ((b(0) & 0x07u) << 18) | ((b(1) & 0x3Fu) << 12) | ((b(2) & 0x3Fu) << 6) | (b(3) & 0x3Fu);
    default: return 0xFFFD;  // not white space, which is all that matters here
    }
}

/// Decoded, newline-normalised characters of a byte stream, fed in chunks.
class TextDecoder {
  public:
    /// Stops taking characters once `limit` have been produced (no limit when
    /// negative).
    explicit TextDecoder(std::int64_t limit) : limit_(limit) {}

    /// Decodes `bytes` after any held-back prefix; `final` marks the end of
    /// the stream, where a cut-short sequence is dropped like any invalid one.
    void feed(std::string_view bytes, bool final) {
        std::string joined;
        if (!held_.empty()) {
            joined = held_ + std::string(bytes);
            held_.clear();
            bytes = joined;
        }
        while (!bytes.empty() && !full()) {
            char32_t cp = 0;
            int n = decode_one(bytes, cp);
            if (n == kTruncatedSequence && !final) {
                held_.assign(bytes);
                return;
            }
            if (n <= 0) {  // undecodable: dropped
                bytes.remove_prefix(1);
                continue;
            }
            put(cp, bytes.substr(0, static_cast<std::size_t>(n)));
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
    }

    bool full() const { return limit_ >= 0 && count_ >= limit_; }
    std::string& text() { return text_; }
    std::int64_t count() const { return count_; }

  private:
    void put(char32_t cp, std::string_view encoded) {
        if (cp == '\n' && after_cr_) {  // second half of "\r\n"
            after_cr_ = false;
            return;
        }
        after_cr_ = cp == '\r';
        if (after_cr_) {
            text_.push_back('\n');
        } else {
            text_.append(encoded);
        }
        ++count_;
    }

    std::int64_t limit_;
    std::int64_t count_ = 0;
    bool after_cr_ = false;
    std::string held_;
    std::string text_;
};

/// Byte offset after the first `chars` characters of `text`.
std::size_t offset_after_chars(std::string_view text, std::size_t chars) {
    std::size_t pos = 0;
    for (std::size_t i = 0; i < chars && pos < text.size(); ++i) pos += char_length_at(text, pos);
    return pos;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

std::string_view trim_host_space(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t n = char_length_at(text, begin);
        if (!is_host_space(code_point(text, begin, n))) break;
        begin += n;
    }
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t start = end - 1;
        while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
        if (!is_host_space(code_point(text, start, end - start))) break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

std::string read_text(const std::filesystem::path& path, std::int64_t max_chars) {
    if (max_chars == -1) return {};  // read(0)
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) return {};
    TextDecoder decoder(max_chars >= 0 ? max_chars : -1);
    std::string chunk(64 * 1024, '\0');
    while (!decoder.full()) {
        std::size_t got = std::fread(chunk.data(), 1, chunk.size(), file.get());
        if (got < chunk.size() && std::ferror(file.get())) return {};
        bool final = got < chunk.size();
        decoder.feed(std::string_view(chunk.data(), got), final);
        if (final) break;
    }
    std::string& text = decoder.text();
    if (max_chars < -1) {
        // The host's text[:max_chars]: drop -max_chars characters at the end.
        std::int64_t keep = std::max<std::int64_t>(0, decoder.count() + max_chars);
        text.resize(offset_after_chars(text, static_cast<std::size_t>(keep)));
    }
    std::string_view trimmed = trim_host_space(text);
    return std::string(trimmed);
}

std::string preview(std::string_view text, std::size_t chars) {
    std::string out(text.substr(0, offset_after_chars(text, chars)));
    std::replace(out.begin(), out.end(), '\n', ' ');
    return out;
}

std::vector<std::size_t> order_by_score(const std::vector<double>& scores) {
    std::vector<std::size_t> order(scores.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        double x = scores[a], y = scores[b];
        if (std::isnan(x) || std::isnan(y)) return !std::isnan(x) && std::isnan(y);
        return x > y;
    });
    return order;
}

}  // namespace tarvok::example_ranker
