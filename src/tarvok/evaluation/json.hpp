// The JSON that benchmark sets and result files are written in, and the
// envelope of a JSON-RPC message the servers could not read: a value type,
// a strict parser with located errors, and the writing of texts and numbers.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvok::evaluation::json {

struct Value {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    /// A string's content (UTF-8; lone surrogates as three-byte sequences, as
    /// the host carries them), or a number's source text.
    std::string text;
    std::vector<Value> items;                            ///< an array's elements
    std::vector<std::pair<std::string, Value>> members;  ///< an object's members, in source order

    /// The member named `key` (the last one, as the host's json module keeps
    /// it when a key repeats), or nullptr.
    const Value* find(std::string_view key) const;
    bool is_null() const { return kind == Kind::Null; }
};

/// Where and why a text is not JSON; line and column are 1-based, the column
/// counted in bytes.
class ParseError : public std::runtime_error {
  public:
    ParseError(const std::string& reason, std::size_t line, std::size_t column);
    const std::string& reason() const { return reason_; }
    std::size_t line() const { return line_; }
    std::size_t column() const { return column_; }

  private:
    std::string reason_;
    std::size_t line_, column_;
};

/// The one value `text` holds (white space around it is allowed). Accepts
/// what the host's json module reads by default, NaN and Infinity included;
/// numbers beyond the range of a double become infinite. Nesting deeper than
/// 512 levels is refused rather than followed.
Value parse(std::string_view text);

/// The id and method of a JSON-RPC message, read from the top level of its
/// object alone: nested values are skipped by counting brackets outside
/// strings, never descended into, so that a message nested past any depth
/// still shows who sent it.
struct Envelope {
    std::string id = "null";  ///< a number or string id as JSON; "null" for any other
    bool identified = false;  ///< it has an id member
    bool method = false;      ///< it has a method member
};
Envelope envelope_of(std::string_view text);

/// A JSON string literal of UTF-8 `text`: quotes, backslashes and control
/// characters escaped, lone surrogates as \uXXXX, bytes that are not UTF-8
/// as U+FFFD; every other character as it is.
std::string quote(std::string_view text);

/// A JSON number in the shortest form that reads back as the same double;
/// "null" for NaN and infinities, which JSON cannot hold.
std::string number(double value);

}  // namespace tarvok::evaluation::json
