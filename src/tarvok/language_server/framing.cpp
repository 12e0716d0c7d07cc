#include "language_server/framing.hpp"

#include "common/json.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>

namespace tarvok::language_server {

namespace {

constexpr std::string_view kLengthHeader = "content-length:";
constexpr std::size_t kChunk = std::size_t{64} << 10;
/// What line() gives for a line past kMaxHeaderLine (no header line holds a NUL).
const std::string kLongLine(1, '\0');

bool same_letters(char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

std::string trimmed(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return std::string(text);
}

/// A value as a message shows it: a number or string as written, else its kind.
std::string shown(const json::Value& v) {
    switch (v.kind()) {
    case json::Value::Kind::Null: return "null";
    case json::Value::Kind::Boolean: return v.boolean() ? "true" : "false";
    case json::Value::Kind::Integer:
    case json::Value::Kind::Number: return v.text();
    case json::Value::Kind::String: return json::quote(v.text().substr(0, 40));
    case json::Value::Kind::Array: return "an array";
    case json::Value::Kind::Object: return "an object";
    }
    return "";
}

/// Why `v` is no position coordinate: "" when it is a whole number from 0 to 2^31 - 1.
std::string coordinate_fault(const json::Value& v, const std::string& path) {
    if (v.kind() == json::Value::Kind::Integer && !v.is_big() && v.integer() >= 0 && v.integer() <= INT32_MAX)
        return "";
    return path + " must be a whole number from 0 to 2147483647, not " + shown(v);
}

/// The first position under `v` (an object with `line` and `character`) that is not the protocol's.
std::string position_fault(const json::Value& v, const std::string& path) {
    if (v.kind() == json::Value::Kind::Array) {
        for (std::size_t i = 0; i < v.items().size(); ++i)
            if (std::string fault = position_fault(v.items()[i], path + "[" + std::to_string(i) + "]"); !fault.empty())
                return fault;
        return "";
    }
    if (v.kind() != json::Value::Kind::Object) return "";
    const json::Value* line = v.find("line");
    const json::Value* character = v.find("character");
    if (line && character) {
        if (std::string fault = coordinate_fault(*line, path + ".line"); !fault.empty()) return fault;
        return coordinate_fault(*character, path + ".character");
    }
    for (const auto& [key, member] : v.members())
        if (std::string fault = position_fault(member, path + "." + key); !fault.empty()) return fault;
    return "";
}

}  // namespace

FrameReader::FrameReader(Read read, std::size_t max_body) : read_(std::move(read)), max_body_(max_body) {}

bool FrameReader::fill() {
    if (start_ > kChunk) {
        buffer_.erase(0, start_);
        start_ = 0;
    }
    std::size_t had = buffer_.size();
    buffer_.resize(had + kChunk);
    std::size_t got = read_(buffer_.data() + had, kChunk);
    buffer_.resize(had + got);
    return got > 0;
}

std::optional<std::string> FrameReader::line() {
    for (;;) {
        std::size_t end = buffer_.find('\n', start_);
        if (end != std::string::npos) {
            std::size_t length = end - start_;
            std::string text = length > kMaxHeaderLine ? kLongLine : buffer_.substr(start_, length);
            start_ = end + 1;
            if (!text.empty() && text.back() == '\r') text.pop_back();
            return text;
        }
        if (buffer_.size() - start_ > kMaxHeaderLine) return kLongLine;  // resynchronise skips the rest
        if (!fill()) return std::nullopt;
    }
}

bool FrameReader::resynchronise() {
    for (;;) {
        auto from = buffer_.begin() + static_cast<std::ptrdiff_t>(start_);
        auto found = std::search(from, buffer_.end(), kLengthHeader.begin(), kLengthHeader.end(), same_letters);
        if (found != buffer_.end()) {
            start_ = static_cast<std::size_t>(found - buffer_.begin());
            return true;
        }
        // Keep a tail that may be the start of the header, drop the rest.
        std::size_t keep = std::min(buffer_.size() - start_, kLengthHeader.size() - 1);
        start_ = buffer_.size() - keep;
        if (!fill()) return false;
    }
}

std::optional<Frame> FrameReader::next() {
    std::optional<std::string> length;
    std::string fault;
    bool started = false;
    for (;;) {
        std::optional<std::string> text = line();
        if (!text) return std::nullopt;
        if (*text == kLongLine) {
            fault = "a header line is longer than " + std::to_string(kMaxHeaderLine) + " bytes";
            break;
        }
        if (text->empty()) {
            if (!started) continue;  // blank lines between frames
            break;
        }
        started = true;
        std::size_t colon = text->find(':');
        std::string name = trimmed(std::string_view(*text).substr(0, colon));
        if (colon == std::string::npos) {
            fault = "a header line has no ':'";
            break;
        }
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        if (name == "content-length") length = trimmed(std::string_view(*text).substr(colon + 1));
    }
    std::size_t bytes = 0;
    if (fault.empty() && !length) fault = "the message has no Content-Length header";
    if (fault.empty()) {
        const std::string& digits = *length;
        bool whole =
            !digits.empty() && std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
        auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), bytes);
        if (!whole)
            fault = "the Content-Length '" + digits.substr(0, 40) + "' is not a whole number";
        else if (error != std::errc() || bytes > max_body_)
            fault = "a message of " + digits.substr(0, 40) + " bytes is refused: one message may have at most " +
                    std::to_string(max_body_) + " bytes";
    }
    if (!fault.empty()) {
        resynchronise();
        return Frame{"", fault};
    }
    Frame frame;
    std::size_t ready = std::min(bytes, buffer_.size() - start_);
    frame.body.assign(buffer_, start_, ready);
    start_ += ready;
    while (frame.body.size() < bytes) {
        std::size_t had = frame.body.size();
        frame.body.resize(bytes);
        std::size_t got = read_(frame.body.data() + had, bytes - had);
        frame.body.resize(had + got);
        if (got == 0) return std::nullopt;  // the input ended inside the body
    }
    return frame;
}

Screened screen_message(std::string_view body) {
    Screened out;
    json::Value message;
    try {
        message = json::parse(body, {.repeated_keys = true, .number_text = true});
    } catch (const json::ParseError& e) {
        // Its id from its top level, which a message nested past the parser's depth still shows.
        json::Envelope envelope = json::envelope_of(body);
        out.id = envelope.id;
        out.request = envelope.identified && envelope.method;
        out.kind = envelope.method && !envelope.identified ? Screened::Kind::Drop : Screened::Kind::Refuse;
        out.code = kParseError;
        out.message = "Parse error: " + e.reason() + " (line " + std::to_string(e.line()) + ", column " +
                      std::to_string(e.column()) + ")";
        return out;
    }
    if (message.kind() != json::Value::Kind::Object) {
        out.kind = Screened::Kind::Refuse;
        out.code = kInvalidRequest;
        out.message = "Invalid request: a message is one JSON object, not " + shown(message);
        return out;
    }
    const json::Value* id = message.find("id");
    const json::Value* method = message.find("method");
    if (id && id->kind() == json::Value::Kind::Integer) out.id = id->text();
    if (id && id->kind() == json::Value::Kind::Number) out.id = id->text();
    if (id && id->kind() == json::Value::Kind::String) out.id = json::quote(id->text());
    out.request = id && method;
    const json::Value* params = message.find("params");
    if (!method || !params) return out;
    if (std::string fault = position_fault(*params, "params"); !fault.empty()) {
        out.kind = out.request ? Screened::Kind::Refuse : Screened::Kind::Drop;
        out.code = kInvalidParams;
        out.message = "Invalid params: " + fault;
    }
    return out;
}

std::string error_frame(std::string_view id, int code, std::string_view message) {
    std::string body = R"({"jsonrpc": "2.0", "id": )" + std::string(id) + R"(, "error": {"code": )" +
                       std::to_string(code) + R"(, "message": )" + json::quote(message) + "}}";
    return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

}  // namespace tarvok::language_server
