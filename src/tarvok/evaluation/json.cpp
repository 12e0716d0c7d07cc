#include "evaluation/json.hpp"

#include "common/utf8.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace tarvok::evaluation::json {

const Value* Value::find(std::string_view key) const {
    for (auto it = members.rbegin(); it != members.rend(); ++it)
        if (it->first == key) return &it->second;
    return nullptr;
}

ParseError::ParseError(const std::string& reason, std::size_t line, std::size_t column)
    : std::runtime_error(reason + " at line " + std::to_string(line) + " column " + std::to_string(column)),
      reason_(reason), line_(line), column_(column) {}

namespace {

constexpr int kMaxDepth = 512;

class Parser {
  public:
    explicit Parser(std::string_view text) : s_(text) {}

    Value document() {
        skip_space();
        Value v = value(0);
        skip_space();
        if (pos_ < s_.size()) fail("extra data after the value");
        return v;
    }

  private:
    std::string_view s_;
    std::size_t pos_ = 0;

    [[noreturn]] void fail(const std::string& reason) const { fail_at(reason, pos_); }

    [[noreturn]] void fail_at(const std::string& reason, std::size_t at) const {
        std::size_t line = 1, start = 0;
        for (std::size_t i = 0; i < at && i < s_.size(); ++i) {
            if (s_[i] == '\n') {
                ++line;
                start = i + 1;
            }
        }
        throw ParseError(reason, line, at - start + 1);
    }

    void skip_space() {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
            ++pos_;
    }

    bool take(std::string_view word) {
        if (s_.substr(pos_, word.size()) != word) return false;
        pos_ += word.size();
        return true;
    }

    Value value(int depth) {
        if (pos_ >= s_.size()) fail("expected a value, found the end of the text");
        char c = s_[pos_];
        Value v;
        if (c == '{' || c == '[') {
            if (depth >= kMaxDepth) fail("values nested more than 512 deep");
            return c == '{' ? object(depth) : array(depth);
        }
        if (c == '"') {
            v.kind = Value::Kind::String;
            v.text = string();
            return v;
        }
        if (take("true") || take("false")) {
            v.kind = Value::Kind::Bool;
            v.boolean = c == 't';
            return v;
        }
        if (take("null")) return v;
        return numeral();
    }

    Value object(int depth) {
        Value v;
        v.kind = Value::Kind::Object;
        ++pos_;
        skip_space();
        if (pos_ < s_.size() && s_[pos_] == '}') {
            ++pos_;
            return v;
        }
        while (true) {
            skip_space();
            if (pos_ >= s_.size() || s_[pos_] != '"') fail("expected a member name in double quotes");
            std::string key = string();
            skip_space();
            if (pos_ >= s_.size() || s_[pos_] != ':') fail("expected ':' after a member name");
            ++pos_;
            skip_space();
            v.members.emplace_back(std::move(key), value(depth + 1));
            skip_space();
            if (pos_ < s_.size() && s_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < s_.size() && s_[pos_] == '}') {
                ++pos_;
                return v;
            }
            fail("expected ',' or '}' in an object");
        }
    }

    Value array(int depth) {
        Value v;
        v.kind = Value::Kind::Array;
        ++pos_;
        skip_space();
        if (pos_ < s_.size() && s_[pos_] == ']') {
            ++pos_;
            return v;
        }
        while (true) {
            skip_space();
            v.items.push_back(value(depth + 1));
            skip_space();
            if (pos_ < s_.size() && s_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < s_.size() && s_[pos_] == ']') {
                ++pos_;
                return v;
            }
            fail("expected ',' or ']' in an array");
        }
    }

    unsigned hex4() {
        if (pos_ + 4 > s_.size()) fail("incomplete \\u escape");
        unsigned value = 0;
        for (int k = 0; k < 4; ++k) {
            char c = s_[pos_ + k];
            unsigned digit;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            else
                fail("invalid \\u escape");
            value = value * 16 + digit;
        }
        pos_ += 4;
        return value;
    }

    std::string string() {
        std::size_t open = pos_++;
        std::string out;
        while (true) {
            if (pos_ >= s_.size()) fail_at("unterminated string", open);
            unsigned char c = static_cast<unsigned char>(s_[pos_]);
            if (c == '"') {
                ++pos_;
                return out;
            }
            if (c < 0x20) fail("control character in a string");
            if (c != '\\') {
                utf8::Step step = utf8::decode(s_, pos_);
                if (!step.ok) fail("text that is not UTF-8");
                out.append(s_.substr(pos_, step.length));
                pos_ += step.length;
                continue;
            }
            if (++pos_ >= s_.size()) fail_at("unterminated string", open);
            char e = s_[pos_++];
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                char32_t cp = hex4();
                // A high surrogate followed by an escaped low one is one character.
                if (cp >= 0xD800 && cp <= 0xDBFF && s_.substr(pos_, 2) == "\\u") {
                    std::size_t back = pos_;
                    pos_ += 2;
                    unsigned low = hex4();
                    if (low >= 0xDC00 && low <= 0xDFFF)
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    else
                        pos_ = back;
                }
                utf8::append(out, cp);
                break;
            }
            default: fail_at("invalid escape", pos_ - 2);
            }
        }
    }

    Value numeral() {
        std::size_t start = pos_;
        Value v;
        v.kind = Value::Kind::Number;
        auto special = [&](std::string_view word, double value) {
            if (!take(word)) return false;
            v.number = value;
            return true;
        };
        constexpr double inf = std::numeric_limits<double>::infinity();
        if (special("NaN", std::numeric_limits<double>::quiet_NaN()) || special("Infinity", inf) ||
            special("-Infinity", -inf)) {
            v.text = std::string(s_.substr(start, pos_ - start));
            return v;
        }
        auto digits = [&] {
            std::size_t from = pos_;
            while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
            return pos_ - from;
        };
        if (pos_ < s_.size() && s_[pos_] == '-') ++pos_;
        if (pos_ < s_.size() && s_[pos_] == '0')
            ++pos_;
        else if (digits() == 0)
            fail_at("expected a value", start);
        if (pos_ < s_.size() && s_[pos_] == '.') {
            ++pos_;
            if (digits() == 0) fail("expected digits after '.'");
        }
        if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
            ++pos_;
            if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
            if (digits() == 0) fail("expected digits in the exponent");
        }
        v.text = std::string(s_.substr(start, pos_ - start));
        const char* first = v.text.data();
        const char* last = first + v.text.size();
        auto [end, error] = std::from_chars(first, last, v.number);
        if (error == std::errc::result_out_of_range) {
            // Too large becomes infinite, too small zero, as the host reads them.
            bool negative = v.text[0] == '-';
            auto e = v.text.find_first_of("eE");
            bool tiny = e != std::string::npos && v.text.find('-', e) != std::string::npos;
            v.number = tiny ? (negative ? -0.0 : 0.0) : (negative ? -inf : inf);
        } else if (error != std::errc() || end != last) {
            fail_at("invalid number", start);
        }
        return v;
    }
};

void append_escape(std::string& out, unsigned code) {
    static const char* digits = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out += digits[(code >> shift) & 0xF];
}

}  // namespace

Value parse(std::string_view text) { return Parser(text).document(); }

namespace {

/// Reads the top level of a JSON object without descending into its values:
/// each member's key and the span of its value, found by counting brackets
/// outside strings, so that no depth of nesting costs more than its length.
class TopLevel {
  public:
    explicit TopLevel(std::string_view text) : t_(text) {}

    /// Calls `take(key, value)` for each member until the text stops being an object.
    template <typename Take>
    void members(Take take) {
        blank();
        if (!eat('{')) return;
        for (;;) {
            blank();
            std::size_t key_start = i_;
            if (!string()) return;
            std::string_view key = t_.substr(key_start + 1, i_ - key_start - 2);
            blank();
            if (!eat(':')) return;
            blank();
            std::size_t value_start = i_;
            if (!value()) return;
            take(key, t_.substr(value_start, i_ - value_start));
            blank();
            if (!eat(',')) return;
        }
    }

  private:
    void blank() {
        while (i_ < t_.size() && (t_[i_] == ' ' || t_[i_] == '\t' || t_[i_] == '\n' || t_[i_] == '\r')) ++i_;
    }
    bool eat(char c) {
        if (i_ >= t_.size() || t_[i_] != c) return false;
        ++i_;
        return true;
    }
    bool string() {
        if (!eat('"')) return false;
        for (; i_ < t_.size(); ++i_) {
            if (t_[i_] == '\\') {
                ++i_;  // past the escaped character
            } else if (t_[i_] == '"') {
                ++i_;
                return true;
            }
        }
        return false;
    }
    bool value() {
        if (i_ >= t_.size()) return false;
        if (t_[i_] == '"') return string();
        if (t_[i_] != '{' && t_[i_] != '[') {
            std::size_t start = i_;
            while (i_ < t_.size() && t_[i_] != ',' && t_[i_] != '}' && t_[i_] != ' ' && t_[i_] != '\n') ++i_;
            return i_ > start;
        }
        std::size_t depth = 0;
        while (i_ < t_.size()) {
            char c = t_[i_];
            if (c == '"') {
                if (!string()) return false;
                continue;
            }
            ++i_;
            if (c == '{' || c == '[') ++depth;
            if ((c == '}' || c == ']') && --depth == 0) return true;
        }
        return false;
    }

    std::string_view t_;
    std::size_t i_ = 0;
};

}  // namespace

Envelope envelope_of(std::string_view text) {
    Envelope out;
    TopLevel(text).members([&](std::string_view key, std::string_view value) {
        if (key == "method") out.method = true;
        if (key != "id") return;
        out.identified = true;
        out.id = "null";
        try {
            Value v = parse(value);  // a scalar, read whole, so that only JSON goes back
            if (v.kind == Value::Kind::String) out.id = quote(v.text);
            if (v.kind == Value::Kind::Number && v.text.find_first_not_of("-0123456789") == std::string::npos)
                out.id = v.text;
        } catch (const ParseError&) {
        }
    });
    return out;
}

std::string quote(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (std::size_t pos = 0; pos < text.size();) {
        utf8::Step step = utf8::decode(text, pos, true);
        if (!step.ok) {
            out += "\\ufffd";
            pos += step.length;
            continue;
        }
        char32_t c = step.code_point;
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (c < 0x20 || (c >= 0xD800 && c <= 0xDFFF))
                append_escape(out, static_cast<unsigned>(c));
            else
                out.append(text.substr(pos, step.length));
        }
        pos += step.length;
    }
    out += '"';
    return out;
}

std::string number(double value) {
    if (!std::isfinite(value)) return "null";
    char buffer[32];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (error != std::errc()) return "null";
    return std::string(buffer, end);
}

}  // namespace tarvok::evaluation::json
