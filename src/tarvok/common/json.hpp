// The JSON value every core passes around when a shape is data: a record of a
// data set, a request's body or arguments, a compiled model, a solve's
// result. Its strict reader says where a text is not JSON; its writer writes
// exactly what the host's json.dumps writes for the same options.
#pragma once

#include "common/error.hpp"

#include <atomic>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvok::json {

class Value;
using Items = std::vector<Value>;
using Member = std::pair<std::string, Value>;
using Members = std::vector<Member>;

namespace detail {
struct Payload;
}

/// null, a boolean, an integer (exact in 64 bits, or kept as its digits when
/// larger), a number (a double), a string (UTF-8; lone surrogates as
/// three-byte sequences, as the host carries them), an array or an object
/// (members in their order). Sixteen bytes: copies share what they hold
/// (texts, items, members) until one of them is changed, so a value used in
/// many places (a leaf of a compiled model) is held once.
class Value {
  public:
    enum class Kind : uint8_t { Null, Boolean, Integer, Number, String, Array, Object };
    /// What an array is to the host: a list, a tuple, or range(first, last + 1)
    /// (two integer items; written as the list of its integers).
    enum class Shape : uint8_t { List, Tuple, Range };

    Value() noexcept { u_.integer = 0; }
    Value(const Value& other) noexcept;
    Value(Value&& other) noexcept;
    Value& operator=(const Value& other) noexcept;
    Value& operator=(Value&& other) noexcept;
    ~Value() { release(); }

    static Value null() { return {}; }
    static Value of(bool b);
    /// Any integer type (a count, an index) is an Integer.
    template <std::integral T>
    requires(!std::same_as<T, bool>) static Value of(T i) { return integer_of(static_cast<int64_t>(i)); }
    static Value of(double d);
    /// A Number, also from an expression of integer type.
    static Value real(double d) { return of(d); }
    static Value of(std::string s);
    static Value of(const char* s) { return of(std::string(s)); }
    static Value of(std::string_view s) { return of(std::string(s)); }
    /// An integer beyond 64 bits, by its decimal digits (a sign allowed).
    static Value big_integer(std::string digits);
    /// A number, or an integer, with the text it was written as
    /// (ParseOptions::number_text).
    static Value number_as_written(double d, std::string text);
    static Value integer_as_written(int64_t i, std::string text);
    static Value array(Items items = {});
    static Value tuple(Items items = {});
    /// The integers first..last, both included.
    static Value range(int64_t first, int64_t last);
    static Value object(Members members = {});

    Kind kind() const { return kind_; }
    Shape shape() const { return shape_; }
    bool is_null() const { return kind_ == Kind::Null; }
    /// An Integer or a Number.
    bool is_numeric() const { return kind_ == Kind::Integer || kind_ == Kind::Number; }
    /// An Integer beyond 64 bits: text() holds its digits, integer() saturates.
    bool is_big() const;

    bool boolean() const { return kind_ == Kind::Boolean && u_.boolean; }
    /// An Integer's value (a big one saturated); 0 for any other kind.
    int64_t integer() const;
    /// An Integer or Number as a double; 0 for any other kind.
    double number() const;
    /// A String's content; a big Integer's digits; a Number's text as
    /// written, when it was kept; "" otherwise.
    const std::string& text() const;

    const Items& items() const;
    const Members& members() const;
    /// The items or members to change (an array's or object's own, copied
    /// first when another value shares them).
    Items& items();
    Members& members();
    /// Items of an array, members of an object, 0 otherwise.
    std::size_t size() const;

    /// The member named `key` (the last one, as the host's dict keeps it when
    /// a key repeats), or nullptr.
    const Value* find(std::string_view key) const;
    Value* find(std::string_view key);

    /// Appends a member to an object; returns it.
    Value& add(std::string key, Value value);
    /// Appends an item to an array; returns it.
    Value& add(Value value);

    /// What this value shares with its copies (a text, items or members), or
    /// nullptr for a scalar: the Python converter makes one object per
    /// shared container.
    const void* identity() const { return held_ ? u_.payload : nullptr; }
    /// True when another value shares what this one holds.
    bool is_shared() const;

    /// The same kind, shape and content (numbers compared as doubles are,
    /// big integers by their digits).
    friend bool operator==(const Value& a, const Value& b);

  private:
    static Value integer_of(int64_t i);
    void release() noexcept;
    void own();  ///< makes the payload this value's alone

    detail::Payload* payload() const { return held_ ? u_.payload : nullptr; }

    Kind kind_ = Kind::Null;
    Shape shape_ = Shape::List;
    bool held_ = false;  ///< u_ holds a payload: texts, items, members, a number's text
    union {
        bool boolean;
        int64_t integer;
        double number;
        detail::Payload* payload;
    } u_;
};

/// The host's str() of a scalar: "None", "True", "False", an integer's
/// digits, a float's repr, a string as it is; a container as write() writes it.
std::string str(const Value& v);

/// "a number", "a list": a value's kind as messages name it (a tuple is a
/// list, a range too).
std::string describe_kind(const Value& v);

// ------------------------------------------------------------------ reading ----

struct ParseOptions {
    /// A key given twice in one object is refused (naming both places);
    /// with this set, both are kept and find() gives the last, as the host's
    /// json module does.
    bool repeated_keys = false;
    /// Numbers keep the text they were written as (Value::text()).
    bool number_text = false;
};

/// Where and why a text is not JSON (an Error of kind Value); line and
/// column are 1-based, the column counted in bytes.
class ParseError : public Error {
  public:
    ParseError(const std::string& reason, std::size_t line, std::size_t column);
    const std::string& reason() const { return reason_; }
    std::size_t line() const { return line_; }
    std::size_t column() const { return column_; }

  private:
    std::string reason_;
    std::size_t line_, column_;
};

/// The one value `text` holds (white space around it is allowed). Reads what
/// the host's json module reads: NaN, Infinity and -Infinity too; integers
/// (no fraction, no exponent) as Integer, the others as Number, and numbers
/// beyond the range of a double as infinite. Nesting deeper than 512 levels
/// is refused rather than followed. Throws ParseError.
Value parse(std::string_view text, const ParseOptions& options = {});

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

// ------------------------------------------------------------------ writing ----

/// json.dumps's options: `indent` None puts everything on one line with
/// ", " and ": " between items; an indent puts each item on a line of its
/// own. `ensure_ascii` escapes every character beyond ASCII (as \uXXXX, a
/// surrogate pair beyond the first plane).
struct WriteOptions {
    std::optional<int> indent;
    bool ensure_ascii = true;
};

/// `v` as the host's json.dumps(v, indent=..., ensure_ascii=...) writes it:
/// numbers as the host's float repr (Infinity, -Infinity and NaN for the
/// values JSON has no word for), tuples and ranges as lists.
std::string write(const Value& v, const WriteOptions& options = {});

/// The host's repr() of a float: the shortest digits that read back as
/// `value`, in fixed notation from 1e-4 up to 1e16 ("0.1", "100.0") and in
/// exponent notation outside ("1e-05", "1e+16", "1.5e+300"); "inf", "-inf",
/// "nan" for the values that are no numbers.
std::string float_repr(double value);

/// A JSON string literal of UTF-8 `text` for a file of records: quotes,
/// backslashes and control characters escaped, lone surrogates as \uXXXX,
/// bytes that are not UTF-8 as U+FFFD; every other character as it is.
std::string quote(std::string_view text);

/// A JSON number in the shortest form that reads back as the same double;
/// "null" for NaN and infinities, which JSON cannot hold.
std::string number(double value);

// ----------------------------------------------------------- the payloads ----

namespace detail {

/// What values share: a reference count and the content of one kind.
struct Payload {
    std::atomic<uint32_t> references{1};
};
struct TextPayload : Payload {
    std::string text;
    double number = 0;    ///< a Number's value, when its text is kept
    int64_t integer = 0;  ///< an Integer's value (saturated when big)
    bool big = false;     ///< an Integer beyond 64 bits
};
struct ItemsPayload : Payload {
    Items items;
};
struct MembersPayload : Payload {
    Members members;
};

}  // namespace detail

inline Value::Value(const Value& other) noexcept
    : kind_(other.kind_), shape_(other.shape_), held_(other.held_), u_(other.u_) {
    if (held_) u_.payload->references.fetch_add(1, std::memory_order_relaxed);
}

inline Value::Value(Value&& other) noexcept
    : kind_(other.kind_), shape_(other.shape_), held_(other.held_), u_(other.u_) {
    other.held_ = false;
    other.kind_ = Kind::Null;
}

inline Value& Value::operator=(const Value& other) noexcept {
    if (this != &other) {
        Value copy(other);
        *this = std::move(copy);
    }
    return *this;
}

inline Value& Value::operator=(Value&& other) noexcept {
    if (this != &other) {
        release();
        kind_ = other.kind_;
        shape_ = other.shape_;
        held_ = other.held_;
        u_ = other.u_;
        other.held_ = false;
        other.kind_ = Kind::Null;
    }
    return *this;
}

static_assert(sizeof(Value) == 16, "a compiled model holds millions of values");

}  // namespace tarvok::json
