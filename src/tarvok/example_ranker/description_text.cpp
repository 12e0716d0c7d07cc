#include "example_ranker/description_text.hpp"

#include "common/utf8.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numeric>

namespace tarvok::example_ranker {

namespace {

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
            utf8::Step step = utf8::decode(bytes, 0);
            if (step.truncated && !final) {
                held_.assign(bytes);
                return;
            }
            if (step.ok) put(step.code_point, bytes.substr(0, step.length));  // else dropped
            bytes.remove_prefix(step.length);
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
    for (std::size_t i = 0; i < chars && pos < text.size(); ++i) pos += utf8::decode(text, pos, true).length;
    return pos;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

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
    std::string_view trimmed = utf8::trim_host_space(text);
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
