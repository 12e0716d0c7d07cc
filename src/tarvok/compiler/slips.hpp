// Known slips: words, operators and characters that people and LLMs carry
// over from other modelling languages, from Python and from word processors,
// each with the Tarvok spelling that mends it. The parser and the name pass
// consult this one table when something fails, so a slip gets a message that
// names its fix instead of whatever the grammar expected next.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tarvok::compiler {

/// Where a slip is recognised.
enum class SlipPlace : uint8_t {
    Statement,    ///< the start of a model statement that fails to parse
    Constraint,   ///< the start of a constraint that fails to parse
    Type,         ///< where a type belongs (a declaration, a dvar)
    Operator,     ///< where an operator or the end of an operand list belongs
    Prefix,       ///< before an operand
    Call,         ///< a name followed by '('
    Value,        ///< a value: in the data, or a name the model never declares
    Condition,    ///< after the bindings of a header, where ':' and a condition may follow
    Initializer,  ///< right after '=' in a declaration
    Character,    ///< a character the lexer does not know (the message is a hint)
};

struct Slip {
    SlipPlace place;
    std::string_view written;  ///< as it appears; a blank matches any run of blanks
    std::string_view fix;      ///< the text that replaces it
    std::string_view message;  ///< the whole message; for characters, the hint after it
};

/// The table, in the order it is searched.
std::span<const Slip> known_slips();

struct SlipMatch {
    std::string message;
    std::optional<std::string> fix;
    size_t length = 0;  ///< bytes of the text the slip spans
};

/// The slip written at the start of `text` in `place`, if any. Besides the
/// table, a word that is a keyword in other letter case ('Minimize', 'SUM')
/// is a slip at the start of statements and calls, and in calls any other
/// name followed by '(' is an index written with parentheses.
std::optional<SlipMatch> find_slip(SlipPlace place, std::string_view text);

}  // namespace tarvok::compiler
