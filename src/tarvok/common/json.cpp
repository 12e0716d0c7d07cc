#include "common/json.hpp"

#include "common/utf8.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <system_error>
#include <unordered_map>

namespace tarvok::json {

using detail::ItemsPayload;
using detail::MembersPayload;
using detail::Payload;
using detail::TextPayload;

// ------------------------------------------------------------------ values ----

namespace {

const std::string kNoText;
const Items kNoItems;
const Members kNoMembers;

TextPayload* text_of(Payload* p) { return static_cast<TextPayload*>(p); }
ItemsPayload* items_of(Payload* p) { return static_cast<ItemsPayload*>(p); }
MembersPayload* members_of(Payload* p) { return static_cast<MembersPayload*>(p); }

}  // namespace

void Value::release() noexcept {
    if (!held_) return;
    held_ = false;
    Payload* p = u_.payload;
    if (p->references.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    switch (kind_) {
    case Kind::Array: delete items_of(p); break;
    case Kind::Object: delete members_of(p); break;
    default: delete text_of(p); break;
    }
}

bool Value::is_shared() const { return held_ && u_.payload->references.load(std::memory_order_acquire) > 1; }

void Value::own() {
    if (!is_shared()) return;
    Payload* p = u_.payload;
    Payload* copy = nullptr;
    switch (kind_) {
    case Kind::Array: copy = new ItemsPayload{{}, items_of(p)->items}; break;
    case Kind::Object: copy = new MembersPayload{{}, members_of(p)->members}; break;
    default: {
        const TextPayload* t = text_of(p);
        copy = new TextPayload{{}, t->text, t->number, t->integer, t->big};
        break;
    }
    }
    release();
    u_.payload = copy;
    held_ = true;
}

Value Value::of(bool b) {
    Value v;
    v.kind_ = Kind::Boolean;
    v.u_.boolean = b;
    return v;
}

Value Value::integer_of(int64_t i) {
    Value v;
    v.kind_ = Kind::Integer;
    v.u_.integer = i;
    return v;
}

Value Value::of(double d) {
    Value v;
    v.kind_ = Kind::Number;
    v.u_.number = d;
    return v;
}

Value Value::of(std::string s) {
    Value v;
    v.kind_ = Kind::String;
    v.u_.payload = new TextPayload{{}, std::move(s)};
    v.held_ = true;
    return v;
}

Value Value::big_integer(std::string digits) {
    bool negative = !digits.empty() && digits[0] == '-';
    int64_t saturated = negative ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
    Value v = integer_as_written(saturated, std::move(digits));
    text_of(v.u_.payload)->big = true;
    return v;
}

Value Value::integer_as_written(int64_t i, std::string text) {
    Value v;
    v.kind_ = Kind::Integer;
    v.u_.payload = new TextPayload{{}, std::move(text), static_cast<double>(i), i};
    v.held_ = true;
    return v;
}

Value Value::number_as_written(double d, std::string text) {
    Value v;
    v.kind_ = Kind::Number;
    v.u_.payload = new TextPayload{{}, std::move(text), d};
    v.held_ = true;
    return v;
}

Value Value::array(Items items) {
    Value v;
    v.kind_ = Kind::Array;
    v.u_.payload = new ItemsPayload{{}, std::move(items)};
    v.held_ = true;
    return v;
}

Value Value::tuple(Items items) {
    Value v = array(std::move(items));
    v.shape_ = Shape::Tuple;
    return v;
}

Value Value::range(int64_t first, int64_t last) {
    Value v = array({of(first), of(last)});
    v.shape_ = Shape::Range;
    return v;
}

Value Value::object(Members members) {
    Value v;
    v.kind_ = Kind::Object;
    v.u_.payload = new MembersPayload{{}, std::move(members)};
    v.held_ = true;
    return v;
}

bool Value::is_big() const { return kind_ == Kind::Integer && held_ && text_of(u_.payload)->big; }

int64_t Value::integer() const {
    if (kind_ != Kind::Integer) return 0;
    return held_ ? text_of(u_.payload)->integer : u_.integer;
}

double Value::number() const {
    if (kind_ == Kind::Number) return held_ ? text_of(u_.payload)->number : u_.number;
    if (kind_ != Kind::Integer) return 0;
    if (is_big()) return std::strtod(text_of(u_.payload)->text.c_str(), nullptr);
    return static_cast<double>(integer());
}

const std::string& Value::text() const {
    bool textual = kind_ == Kind::String || kind_ == Kind::Integer || kind_ == Kind::Number;
    return textual && held_ ? text_of(u_.payload)->text : kNoText;
}

const Items& Value::items() const { return kind_ == Kind::Array ? items_of(u_.payload)->items : kNoItems; }

const Members& Value::members() const { return kind_ == Kind::Object ? members_of(u_.payload)->members : kNoMembers; }

Items& Value::items() {
    if (kind_ != Kind::Array) throw std::logic_error("json: the items of a value that is no array");
    own();
    return items_of(u_.payload)->items;
}

Members& Value::members() {
    if (kind_ != Kind::Object) throw std::logic_error("json: the members of a value that is no object");
    own();
    return members_of(u_.payload)->members;
}

std::size_t Value::size() const {
    if (kind_ == Kind::Array) return items_of(u_.payload)->items.size();
    if (kind_ == Kind::Object) return members_of(u_.payload)->members.size();
    return 0;
}

const Value* Value::find(std::string_view key) const {
    const Members& all = members();
    for (auto it = all.rbegin(); it != all.rend(); ++it)
        if (it->first == key) return &it->second;
    return nullptr;
}

Value* Value::find(std::string_view key) {
    if (kind_ != Kind::Object) return nullptr;
    Members& all = members();
    for (auto it = all.rbegin(); it != all.rend(); ++it)
        if (it->first == key) return &it->second;
    return nullptr;
}

Value& Value::add(std::string key, Value value) {
    members().emplace_back(std::move(key), std::move(value));
    return *this;
}

Value& Value::add(Value value) {
    items().push_back(std::move(value));
    return *this;
}

bool operator==(const Value& a, const Value& b) {
    if (a.kind_ != b.kind_ || a.shape_ != b.shape_) return false;
    switch (a.kind_) {
    case Value::Kind::Null: return true;
    case Value::Kind::Boolean: return a.u_.boolean == b.u_.boolean;
    case Value::Kind::Integer:
        return a.integer() == b.integer() && a.is_big() == b.is_big() && (!a.is_big() || a.text() == b.text());
    case Value::Kind::Number: return a.number() == b.number();
    case Value::Kind::String: return a.text() == b.text();
    case Value::Kind::Array: return a.identity() == b.identity() || a.items() == b.items();
    case Value::Kind::Object: return a.identity() == b.identity() || a.members() == b.members();
    }
    return false;
}

std::string str(const Value& v) {
    switch (v.kind()) {
    case Value::Kind::Null: return "None";
    case Value::Kind::Boolean: return v.boolean() ? "True" : "False";
    case Value::Kind::Integer: return v.is_big() ? v.text() : std::to_string(v.integer());
    case Value::Kind::Number: return float_repr(v.number());
    case Value::Kind::String: return v.text();
    default: return write(v);
    }
}

std::string describe_kind(const Value& v) {
    switch (v.kind()) {
    case Value::Kind::Null: return "null";
    case Value::Kind::Boolean: return "a boolean";
    case Value::Kind::Integer:
    case Value::Kind::Number: return "a number";
    case Value::Kind::String: return "a string";
    case Value::Kind::Array: return "a list";
    case Value::Kind::Object: return "an object";
    }
    return "a value";
}

// ----------------------------------------------------------------- reading ----

ParseError::ParseError(const std::string& reason, std::size_t line, std::size_t column)
    : Error(Kind::Value, reason + " at line " + std::to_string(line) + " column " + std::to_string(column)),
      reason_(reason), line_(line), column_(column) {}

namespace {

constexpr int kMaxDepth = 512;

class Parser {
  public:
    Parser(std::string_view text, const ParseOptions& options) : s_(text), options_(options) {}

    Value document() {
        skip_space();
        Value v = value(0);
        skip_space();
        if (pos_ < s_.size()) fail("extra data after the value");
        return v;
    }

  private:
    std::string_view s_;
    const ParseOptions& options_;
    std::size_t pos_ = 0;

    struct Place {
        std::size_t line, column;
    };

    Place place(std::size_t at) const {
        std::size_t line = 1, start = 0;
        for (std::size_t i = 0; i < at && i < s_.size(); ++i) {
            if (s_[i] == '\n') {
                ++line;
                start = i + 1;
            }
        }
        return {line, at - start + 1};
    }

    [[noreturn]] void fail(const std::string& reason) const { fail_at(reason, pos_); }

    [[noreturn]] void fail_at(const std::string& reason, std::size_t at) const {
        Place p = place(at);
        throw ParseError(reason, p.line, p.column);
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
        if (c == '{' || c == '[') {
            if (depth >= kMaxDepth) fail("values nested more than 512 deep");
            return c == '{' ? object(depth) : array(depth);
        }
        if (c == '"') return Value::of(string());
        if (take("true")) return Value::of(true);
        if (take("false")) return Value::of(false);
        if (take("null")) return Value::null();
        return numeral();
    }

    Value object(int depth) {
        Value v = Value::object();
        Members& members = v.members();
        // Where each key was given, for a key given twice: looked up along
        // the members while they are few, through a map once they are many.
        std::vector<std::size_t> places;
        std::unordered_map<std::string, std::size_t> index;
        ++pos_;
        skip_space();
        if (take("}")) return v;
        while (true) {
            skip_space();
            if (pos_ >= s_.size() || s_[pos_] != '"') fail("expected a member name in double quotes");
            std::size_t key_at = pos_;
            std::string key = string();
            if (!options_.repeated_keys) {
                std::size_t first = std::string::npos;
                if (members.size() < kFewMembers) {
                    for (std::size_t i = 0; i < members.size(); ++i)
                        if (members[i].first == key) first = places[i];
                } else {
                    if (index.empty())
                        for (std::size_t i = 0; i < members.size(); ++i) index.emplace(members[i].first, places[i]);
                    auto [known, fresh] = index.emplace(key, key_at);
                    if (!fresh) first = known->second;
                }
                if (first != std::string::npos) repeated(key, first, key_at);
                places.push_back(key_at);
            }
            skip_space();
            if (!take(":")) fail("expected ':' after a member name");
            skip_space();
            members.emplace_back(std::move(key), value(depth + 1));
            skip_space();
            if (take(",")) continue;
            if (take("}")) return v;
            fail("expected ',' or '}' in an object");
        }
    }

    static constexpr std::size_t kFewMembers = 16;

    [[noreturn]] void repeated(const std::string& key, std::size_t first, std::size_t again) const {
        std::string reason = "the key " + quote(key) + " is given twice";
        if (first != std::string::npos) {
            Place p = place(first);
            reason += " (first at line " + std::to_string(p.line) + " column " + std::to_string(p.column) + ")";
        }
        fail_at(reason, again);
    }

    Value array(int depth) {
        Value v = Value::array();
        Items& items = v.items();
        ++pos_;
        skip_space();
        if (take("]")) return v;
        while (true) {
            skip_space();
            items.push_back(value(depth + 1));
            skip_space();
            if (take(",")) continue;
            if (take("]")) return v;
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
        constexpr double inf = std::numeric_limits<double>::infinity();
        auto special = [&](double value) {
            std::string written(s_.substr(start, pos_ - start));
            return options_.number_text ? Value::number_as_written(value, std::move(written)) : Value::of(value);
        };
        if (take("NaN")) return special(std::numeric_limits<double>::quiet_NaN());
        if (take("Infinity")) return special(inf);
        if (take("-Infinity")) return special(-inf);
        auto digits = [&] {
            std::size_t from = pos_;
            while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
            return pos_ - from;
        };
        bool whole = true;
        take("-");
        if (!take("0") && digits() == 0) fail_at("expected a value", start);
        if (take(".")) {
            whole = false;
            if (digits() == 0) fail("expected digits after '.'");
        }
        if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
            ++pos_;
            whole = false;
            if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
            if (digits() == 0) fail("expected digits in the exponent");
        }
        std::string_view written = s_.substr(start, pos_ - start);
        const char* first = written.data();
        const char* last = first + written.size();
        if (whole) {
            int64_t i = 0;
            auto [end, error] = std::from_chars(first, last, i);
            if (error != std::errc() || end != last) return Value::big_integer(std::string(written));
            return options_.number_text ? Value::integer_as_written(i, std::string(written)) : Value::of(i);
        }
        double d = 0;
        auto [end, error] = std::from_chars(first, last, d);
        if (error == std::errc::result_out_of_range) {
            // Too large becomes infinite, too small zero, as the host reads them.
            bool negative = written[0] == '-';
            auto e = written.find_first_of("eE");
            bool tiny = e != std::string_view::npos && written.find('-', e) != std::string_view::npos;
            d = tiny ? (negative ? -0.0 : 0.0) : (negative ? -inf : inf);
        } else if (error != std::errc() || end != last) {
            fail_at("invalid number", start);
        }
        return options_.number_text ? Value::number_as_written(d, std::string(written)) : Value::of(d);
    }
};

}  // namespace

Value parse(std::string_view text, const ParseOptions& options) { return Parser(text, options).document(); }

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
            // A scalar, read whole, so that only JSON goes back.
            Value v = parse(value, {.number_text = true});
            if (v.kind() == Value::Kind::String) out.id = quote(v.text());
            if (v.kind() == Value::Kind::Integer) out.id = v.text();
        } catch (const ParseError&) {
        }
    });
    return out;
}

// ----------------------------------------------------------------- writing ----

namespace {

const char* const kHex = "0123456789abcdef";

void append_escape(std::string& out, unsigned code) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(code >> shift) & 0xF];
}

/// A string as json.dumps writes it: with `ascii`, every character beyond
/// ASCII (and DEL) as \uXXXX; without, only quotes, backslashes and control
/// characters escaped.
void write_string(std::string& out, std::string_view text, bool ascii) {
    out += '"';
    for (std::size_t pos = 0; pos < text.size();) {
        utf8::Step step = utf8::decode(text, pos, true);
        char32_t c = step.ok ? step.code_point : 0xFFFD;
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (c < 0x20 || (ascii && c > 0x7E)) {
                if (c > 0xFFFF) {
                    char32_t v = c - 0x10000;
                    append_escape(out, 0xD800 + (v >> 10));
                    append_escape(out, 0xDC00 + (v & 0x3FF));
                } else {
                    append_escape(out, static_cast<unsigned>(c));
                }
            } else if (step.ok) {
                out.append(text.substr(pos, step.length));
            } else {
                out += "\xEF\xBF\xBD";
            }
        }
        pos += step.length;
    }
    out += '"';
}

void write_number(std::string& out, double d) {
    if (std::isnan(d))
        out += "NaN";
    else if (std::isinf(d))
        out += d > 0 ? "Infinity" : "-Infinity";
    else
        out += float_repr(d);
}

class Writer {
  public:
    explicit Writer(const WriteOptions& options) : options_(options) {}

    void value(const Value& v, int depth) {
        switch (v.kind()) {
        case Value::Kind::Null: out += "null"; return;
        case Value::Kind::Boolean: out += v.boolean() ? "true" : "false"; return;
        case Value::Kind::Integer:
            if (v.is_big())
                out += v.text();
            else
                out += std::to_string(v.integer());
            return;
        case Value::Kind::Number: write_number(out, v.number()); return;
        case Value::Kind::String: write_string(out, v.text(), options_.ensure_ascii); return;
        case Value::Kind::Array: array(v, depth); return;
        case Value::Kind::Object: object(v, depth); return;
        }
    }

    std::string out;

  private:
    const WriteOptions& options_;

    /// Before an item: a newline and the indent of `depth`, or ", " after the first.
    void separate(bool first, int depth) {
        if (options_.indent) {
            if (!first) out += ',';
            out += '\n';
            out.append(static_cast<std::size_t>(std::max(0, *options_.indent) * depth), ' ');
        } else if (!first) {
            out += ", ";
        }
    }

    void close(int depth, char bracket) {
        if (options_.indent) {
            out += '\n';
            out.append(static_cast<std::size_t>(std::max(0, *options_.indent) * depth), ' ');
        }
        out += bracket;
    }

    void array(const Value& v, int depth) {
        const Items& items = v.items();
        if (v.shape() == Value::Shape::Range) {
            Items all;
            for (int64_t i = items[0].integer(); i <= items[1].integer(); ++i) all.push_back(Value::of(i));
            array(Value::array(std::move(all)), depth);
            return;
        }
        if (items.empty()) {
            out += "[]";
            return;
        }
        out += '[';
        for (std::size_t i = 0; i < items.size(); ++i) {
            separate(i == 0, depth + 1);
            value(items[i], depth + 1);
        }
        close(depth, ']');
    }

    void object(const Value& v, int depth) {
        const Members& members = v.members();
        if (members.empty()) {
            out += "{}";
            return;
        }
        out += '{';
        for (std::size_t i = 0; i < members.size(); ++i) {
            separate(i == 0, depth + 1);
            write_string(out, members[i].first, options_.ensure_ascii);
            out += ": ";
            value(members[i].second, depth + 1);
        }
        close(depth, '}');
    }
};

}  // namespace

std::string write(const Value& v, const WriteOptions& options) {
    Writer writer(options);
    writer.value(v, 0);
    return std::move(writer.out);
}

std::string float_repr(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    // The shortest digits that read back as `value`, and where the point goes.
    char buffer[40];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    std::string_view s(buffer, static_cast<std::size_t>(end - buffer));
    std::string out;
    if (s[0] == '-') {
        out += '-';
        s.remove_prefix(1);
    }
    std::size_t e = s.find('e');
    std::string digits;
    for (char c : s.substr(0, e))
        if (c != '.') digits += c;
    int exponent = 0;
    std::string_view power = s.substr(e + 1);
    if (!power.empty() && power[0] == '+') power.remove_prefix(1);
    std::from_chars(power.data(), power.data() + power.size(), exponent);
    int point = exponent + 1;  // digits before the decimal point
    if (point <= -4 || point > 16) {
        out += digits[0];
        if (digits.size() > 1) out += "." + digits.substr(1);
        out += exponent < 0 ? "e-" : "e+";
        std::string magnitude = std::to_string(exponent < 0 ? -exponent : exponent);
        if (magnitude.size() < 2) out += '0';
        out += magnitude;
    } else if (point <= 0) {
        out += "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
    } else if (static_cast<std::size_t>(point) >= digits.size()) {
        out += digits + std::string(static_cast<std::size_t>(point) - digits.size(), '0') + ".0";
    } else {
        out += digits.substr(0, static_cast<std::size_t>(point)) + "." + digits.substr(static_cast<std::size_t>(point));
    }
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

}  // namespace tarvok::json
