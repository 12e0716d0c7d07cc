#include "cli/csv_cells.hpp"

#include "cli/command_options.hpp"
#include "common/utf8.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <limits>

namespace tarvok::cli {

namespace {

/// The most characters the host's CSV reader takes in one field.
constexpr std::size_t kFieldLimit = 131072;

/// The states of the host's CSV reader, in its own order of thought.
enum class State { StartRecord, StartField, InField, InQuoted, QuoteInQuoted, EatLineEnd };

class CsvReader {
  public:
    CsvReader(std::string_view text, const std::string& where) : text_(text), where_(where) {}

    std::vector<std::vector<std::string>> rows() {
        std::vector<std::vector<std::string>> out;
        while (pos_ < text_.size()) {
            // A row ends with a line, unless a quoted field runs on into the next.
            do {
                if (pos_ >= text_.size()) {
                    save_field();  // the text ended inside quotes: the host keeps what it read
                    break;
                }
                std::size_t end = text_.find('\n', pos_);
                end = end == std::string_view::npos ? text_.size() : end + 1;
                ++line_;
                for (; pos_ < end; ++pos_) take(static_cast<unsigned char>(text_[pos_]));
                take(kEndOfLine);
            } while (state_ != State::StartRecord);
            out.push_back(std::move(fields_));
            fields_.clear();
            state_ = State::StartRecord;
        }
        return out;
    }

  private:
    static constexpr int kEndOfLine = -1;

    std::string_view text_;
    const std::string& where_;
    std::size_t pos_ = 0, line_ = 0, field_chars_ = 0;
    State state_ = State::StartRecord;
    std::vector<std::string> fields_;
    std::string field_;

    [[noreturn]] void refuse(const std::string& why) const {
        fail(ExitStatus::DoesNotCompile, where_ + ":" + std::to_string(line_) + ": " + why);
    }

    void save_field() {
        fields_.push_back(std::move(field_));
        field_.clear();
        field_chars_ = 0;
    }

    void add(int c) {
        // Characters count, not the bytes that continue one.
        if ((c & 0xC0) != 0x80 && field_chars_++ >= kFieldLimit)
            refuse("field larger than field limit (" + std::to_string(kFieldLimit) + ")");
        field_ += static_cast<char>(c);
    }

    void end_row_at(int c) {
        save_field();
        state_ = c == kEndOfLine ? State::StartRecord : State::EatLineEnd;
    }

    void take(int c) {
        bool line_end = c == '\n' || c == '\r';
        switch (state_) {
        case State::StartRecord:
            if (c == kEndOfLine) return;  // an empty line: an empty row
            if (line_end) {
                state_ = State::EatLineEnd;
                return;
            }
            state_ = State::StartField;
            [[fallthrough]];
        case State::StartField:
            if (line_end || c == kEndOfLine)
                end_row_at(c);
            else if (c == '"')
                state_ = State::InQuoted;
            else if (c == ',')
                save_field();
            else {
                add(c);
                state_ = State::InField;
            }
            return;
        case State::InField:
            if (line_end || c == kEndOfLine)
                end_row_at(c);
            else if (c == ',') {
                save_field();
                state_ = State::StartField;
            } else
                add(c);
            return;
        case State::InQuoted:
            if (c == '"')
                state_ = State::QuoteInQuoted;
            else if (c != kEndOfLine)
                add(c);
            return;
        case State::QuoteInQuoted:
            if (c == '"') {  // "" stands for "
                add(c);
                state_ = State::InQuoted;
            } else if (c == ',') {
                save_field();
                state_ = State::StartField;
            } else if (line_end || c == kEndOfLine)
                end_row_at(c);
            else {  // text after the closing quote joins the field
                add(c);
                state_ = State::InField;
            }
            return;
        case State::EatLineEnd:
            if (c == kEndOfLine)
                state_ = State::StartRecord;
            else if (!line_end)
                refuse("new-line character seen in unquoted field");
            return;
        }
    }
};

/// The first code point of each run of ten decimal digits beyond ASCII (Unicode's Nd), which the host's int() and
/// float() read as 0 to 9.
constexpr std::array<char32_t, 65> kDigitZeros = {
    0x660,   0x6f0,   0x7c0,   0x966,   0x9e6,   0xa66,   0xae6,   0xb66,   0xbe6,   0xc66,   0xce6,
    0xd66,   0xde6,   0xe50,   0xed0,   0xf20,   0x1040,  0x1090,  0x17e0,  0x1810,  0x1946,  0x19d0,
    0x1a80,  0x1a90,  0x1b50,  0x1bb0,  0x1c40,  0x1c50,  0xa620,  0xa8d0,  0xa900,  0xa9d0,  0xa9f0,
    0xaa50,  0xabf0,  0xff10,  0x104a0, 0x10d30, 0x11066, 0x110f0, 0x11136, 0x111d0, 0x112f0, 0x11450,
    0x114d0, 0x11650, 0x116c0, 0x11730, 0x118e0, 0x11950, 0x11c50, 0x11d50, 0x11da0, 0x16a60, 0x16ac0,
    0x16b50, 0x1d7ce, 0x1d7d8, 0x1d7e2, 0x1d7ec, 0x1d7f6, 0x1e140, 0x1e2f0, 0x1e950, 0x1fbf0};

bool unicode_space(char32_t c) {
    return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

bool ascii_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool digit(char c) { return c >= '0' && c <= '9'; }

/// The cell as the host's int() and float() see it: ASCII kept, other white space a blank, other decimal digits
/// their ASCII digit, white space around stripped, underscores (each between two digits) dropped; nothing when a
/// character cannot be part of a number or an underscore stands elsewhere.
std::optional<std::string> number_text(std::string_view cell) {
    std::string ascii;
    for (std::size_t i = 0; i < cell.size();) {
        utf8::Step step = utf8::decode(cell, i);
        if (!step.ok) return std::nullopt;
        char32_t c = step.code_point;
        i += step.length;
        if (c < 0x80) {
            ascii += static_cast<char>(c);
            continue;
        }
        if (unicode_space(c)) {
            ascii += ' ';
            continue;
        }
        auto zero = std::upper_bound(kDigitZeros.begin(), kDigitZeros.end(), c);
        if (zero == kDigitZeros.begin() || c - *(zero - 1) > 9) return std::nullopt;
        ascii += static_cast<char>('0' + (c - *(zero - 1)));
    }
    std::size_t first = 0, last = ascii.size();
    while (first < last && ascii_space(ascii[first])) ++first;
    while (last > first && ascii_space(ascii[last - 1])) --last;
    std::string out;
    for (std::size_t i = first; i < last; ++i) {
        if (ascii[i] != '_') {
            out += ascii[i];
        } else if (i == first || i + 1 == last || !digit(ascii[i - 1]) || !digit(ascii[i + 1])) {
            return std::nullopt;
        }
    }
    return out;
}

/// The host's int(): a sign, then decimal digits (at most 4300 of them, its limit on reading an int).
std::optional<data::Value> integer_of(std::string_view s) {
    bool negative = !s.empty() && s[0] == '-';
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) s.remove_prefix(1);
    if (s.empty() || s.size() > 4300 || !std::all_of(s.begin(), s.end(), digit)) return std::nullopt;
    s.remove_prefix(std::min(s.find_first_not_of('0'), s.size() - 1));  // as the host writes it back
    std::string digits = (negative && s != "0" ? "-" : "") + std::string(s);
    int64_t i = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), i);
    if (error == std::errc()) return data::Value::of(i);
    return data::Value::big_integer(std::move(digits));
}

/// The host's float(): a sign, then "inf", "infinity" or "nan" in any case, or digits with at most one point
/// (digits on one side of it at least) and an exponent; too large is infinite, too small zero.
std::optional<data::Value> float_of(std::string_view s) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    bool negative = !s.empty() && s[0] == '-';
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) s.remove_prefix(1);
    std::string lower;
    for (char c : s) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (lower == "inf" || lower == "infinity") return data::Value::of(negative ? -inf : inf);
    if (lower == "nan") return data::Value::of(std::numeric_limits<double>::quiet_NaN());
    std::size_t i = 0, whole = 0, fraction = 0;
    while (i < s.size() && digit(s[i])) ++i, ++whole;
    if (i < s.size() && s[i] == '.')
        for (++i; i < s.size() && digit(s[i]); ++i) ++fraction;
    if (whole + fraction == 0) return std::nullopt;
    std::size_t mantissa_end = i;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        std::size_t from = i;
        while (i < s.size() && digit(s[i])) ++i;
        if (i == from) return std::nullopt;
    }
    if (i != s.size()) return std::nullopt;
    double d = 0;
    auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), d);
    if (error == std::errc::result_out_of_range) {
        // Out of range: infinite when the first significant digit lies above the point, else zero.
        std::string_view mantissa = s.substr(0, mantissa_end);
        std::size_t point = std::min(mantissa.find('.'), mantissa.size());
        std::size_t significant = mantissa.find_first_not_of("0.");
        long long exponent = 0;
        if (mantissa_end < s.size()) {
            std::string_view e = s.substr(mantissa_end + 1);
            bool down = e[0] == '-';
            if (e[0] == '+' || e[0] == '-') e.remove_prefix(1);
            e.remove_prefix(std::min(e.find_first_not_of('0'), e.size()));
            exponent = e.size() > 12 ? 1'000'000'000'000LL : std::stoll("0" + std::string(e));
            if (down) exponent = -exponent;
        }
        long long magnitude = static_cast<long long>(point) - static_cast<long long>(significant) + exponent;
        d = magnitude > 0 ? inf : 0.0;
    } else if (error != std::errc() || end != s.data() + s.size()) {
        return std::nullopt;
    }
    return data::Value::of(negative ? -d : d);
}

}  // namespace

std::vector<std::vector<std::string>> csv_rows(std::string_view text, const std::string& where) {
    return CsvReader(text, where).rows();
}

data::Value cell_value(const std::string& trimmed) {
    if (std::optional<std::string> text = number_text(trimmed)) {
        if (auto integer = integer_of(*text)) return *integer;
        if (auto number = float_of(*text)) return *number;
    }
    return data::Value::of(trimmed);
}

}  // namespace tarvok::cli
