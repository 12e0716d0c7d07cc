#include "compiler/slips.hpp"

#include <array>
#include <cctype>

namespace tarvok::compiler {

namespace {

using P = SlipPlace;

// clang-format off
constexpr Slip kSlips[] = {
    // Statements: declarations and sections as other modelling languages write them.
    {P::Statement, "var", "dvar", "'var' is not a keyword; write 'dvar', as in 'dvar float+ x[Items];'"},
    {P::Statement, "variable", "dvar", "'variable' is not a keyword; write 'dvar', as in 'dvar float+ x[Items];'"},
    {P::Statement, "param", "float", "'param' is not a keyword; write the value type instead, as in 'float demand[Cities] = ...;'"},
    {P::Statement, "parameter", "float", "'parameter' is not a keyword; write the value type instead, as in 'float demand[Cities] = ...;'"},
    {P::Statement, "set", "{string}", "'set' is not a keyword; write the element type in braces, as in '{string} Cities = ...;'"},
    {P::Statement, "minimise", "minimize", "'minimise' is not a keyword; write 'minimize'"},
    {P::Statement, "maximise", "maximize", "'maximise' is not a keyword; write 'maximize'"},
    {P::Statement, "min", "minimize", "'min' is not an objective; write 'minimize'"},
    {P::Statement, "max", "maximize", "'max' is not an objective; write 'maximize'"},
    {P::Statement, "Subject To", "subject to", "'Subject To' is not a keyword; write 'subject to'"},
    {P::Statement, "Subject to", "subject to", "'Subject to' is not a keyword; write 'subject to'"},
    {P::Statement, "SUBJECT TO", "subject to", "'SUBJECT TO' is not a keyword; write 'subject to'"},
    {P::Statement, "subject To", "subject to", "'subject To' is not a keyword; write 'subject to'"},
    {P::Statement, "subjet to", "subject to", "'subjet to' is not a keyword; write 'subject to'"},
    {P::Statement, "subjct to", "subject to", "'subjct to' is not a keyword; write 'subject to'"},
    {P::Statement, "subjec to", "subject to", "'subjec to' is not a keyword; write 'subject to'"},
    {P::Statement, "subjectto", "subject to", "'subjectto' is not a keyword; write 'subject to'"},
    {P::Statement, "subject_to", "subject to", "'subject_to' is not a keyword; write 'subject to'"},
    {P::Statement, "subjectTo", "subject to", "'subjectTo' is not a keyword; write 'subject to'"},
    {P::Statement, "SubjectTo", "subject to", "'SubjectTo' is not a keyword; write 'subject to'"},
    {P::Statement, "s.t.", "subject to", "'s.t.' is not a keyword; write 'subject to { ... }' around the constraints"},
    {P::Statement, "s.t", "subject to", "'s.t' is not a keyword; write 'subject to { ... }' around the constraints"},
    {P::Statement, "st", "subject to", "'st' is not a keyword; write 'subject to { ... }' around the constraints"},
    {P::Statement, "such that", "subject to", "'such that' is not a keyword; write 'subject to { ... }' around the constraints"},
    {P::Statement, "constraints", "subject to", "'constraints' is not a keyword; write 'subject to { ... }' around the constraints"},
    {P::Statement, "Constraints", "subject to", "'Constraints' is not a keyword; write 'subject to { ... }' around the constraints"},
    {P::Statement, "for", "forall", "'for' is not a keyword; write 'forall(i in I) ...' inside 'subject to { ... }'"},
    {P::Statement, "using", "", "'using' is not a keyword; write the model without a 'using' line"},
    {P::Statement, "execute", "", "'execute' is not a keyword; write no script blocks: a model ends with 'subject to { ... }'"},
    {P::Statement, "import", "", "'import' is not a keyword; write the model without imports"},
    // Constraints.
    {P::Constraint, "for", "forall", "'for' is not a keyword; write 'forall(i in I) ...'"},
    {P::Constraint, "foreach", "forall", "'foreach' is not a keyword; write 'forall(i in I) ...'"},
    {P::Constraint, "for all", "forall", "'for all' is not a keyword; write 'forall(i in I) ...'"},
    {P::Constraint, "s.t.", "", "'s.t.' is not a keyword; write the constraints inside 'subject to { ... }' without it"},
    // Types.
    {P::Type, "integer", "int", "'integer' is not a type; write 'int'"},
    {P::Type, "Integer", "int", "'Integer' is not a type; write 'int'"},
    {P::Type, "real", "float", "'real' is not a type; write 'float'"},
    {P::Type, "double", "float", "'double' is not a type; write 'float'"},
    {P::Type, "number", "float", "'number' is not a type; write 'float'"},
    {P::Type, "bool", "boolean", "'bool' is not a type; write 'boolean'"},
    {P::Type, "binary", "boolean", "'binary' is not a type; write 'boolean' (a boolean decision variable is 0 or 1)"},
    {P::Type, "str", "string", "'str' is not a type; write 'string'"},
    {P::Type, "var", "dvar", "'var' is not a keyword; write 'dvar', as in 'dvar float+ x[Items];'"},
    {P::Type, "param", "float", "'param' is not a keyword; write the value type instead, as in 'float demand[Cities] = ...;'"},
    // Operators.
    {P::Operator, "and", "&&", "'and' is not an operator; write '&&'"},
    {P::Operator, "AND", "&&", "'AND' is not an operator; write '&&'"},
    {P::Operator, "And", "&&", "'And' is not an operator; write '&&'"},
    {P::Operator, "or", "||", "'or' is not an operator; write '||'"},
    {P::Operator, "OR", "||", "'OR' is not an operator; write '||'"},
    {P::Operator, "Or", "||", "'Or' is not an operator; write '||'"},
    {P::Operator, "=>", ">=", "'=>' is not an operator; write '>='"},
    {P::Operator, "=<", "<=", "'=<' is not an operator; write '<='"},
    {P::Operator, "<>", "!=", "'<>' is not an operator; write '!=' (in conditions; a constraint is '<=', '>=' or '==')"},
    {P::Operator, "**", "*", "'**' is not an operator; write a product, as in 'a * a' (of data only: decision variables enter linearly)"},
    {P::Operator, ":=", "=", "':=' is not an operator; write '='"},
    {P::Prefix, "not", "!", "'not' is not an operator; write '!'"},
    {P::Prefix, "NOT", "!", "'NOT' is not an operator; write '!'"},
    {P::Prefix, "Not", "!", "'Not' is not an operator; write '!'"},
    // Calls.
    {P::Call, "for", "forall", "'for(...)' is not a loop; write 'forall(i in I) ...'"},
    {P::Call, "foreach", "forall", "'foreach(...)' is not a loop; write 'forall(i in I) ...'"},
    {P::Call, "len", "card", "'len(...)' is not a function; write 'card(...)' for the number of elements of a set"},
    {P::Call, "count", "card", "'count(...)' is not a function; write 'card(...)' for the number of elements of a set"},
    {P::Call, "size", "card", "'size(...)' is not a function; write 'card(...)' for the number of elements of a set"},
    {P::Call, "range", "", "'range(...)' is not a set; write 'lo..hi', as in 'i in 1..n'"},
    {P::Call, "not", "!", "'not' is not an operator; write '!'"},
    // Headers and initializers: the separators of other notations.
    {P::Condition, "|", ":", "'|' is not the condition separator; write ':' before the condition, as in 'sum(i in I: i > 1) x[i]'"},
    {P::Initializer, "..", "...", "'..' is not the data marker; write '...', as in 'float demand[Cities] = ...;', for a value the data gives"},
    // Values.
    {P::Value, "True", "true", "'True' is not a value; write 'true'"},
    {P::Value, "TRUE", "true", "'TRUE' is not a value; write 'true'"},
    {P::Value, "False", "false", "'False' is not a value; write 'false'"},
    {P::Value, "FALSE", "false", "'FALSE' is not a value; write 'false'"},
    // Characters: look-alikes from word processors, and operators of other languages.
    {P::Character, "\u2264", "<=", " (write '<=')"},
    {P::Character, "\u2265", ">=", " (write '>=')"},
    {P::Character, "\u2260", "!=", " (write '!=')"},
    {P::Character, "\u00D7", "*", " (write '*')"},
    {P::Character, "\u22C5", "*", " (write '*')"},
    {P::Character, "\u00B7", "*", " (write '*')"},
    {P::Character, "\u2217", "*", " (write '*')"},
    {P::Character, "\u2212", "-", " (write '-')"},
    {P::Character, "\u2013", "-", " (write '-')"},
    {P::Character, "\u2014", "-", " (write '-')"},
    {P::Character, "\u00F7", "/", " (write '/')"},
    {P::Character, "\u2215", "/", " (write '/')"},
    {P::Character, "\u201C", "\"", " (write '\"')"},
    {P::Character, "\u201D", "\"", " (write '\"')"},
    {P::Character, "\u201E", "\"", " (write '\"')"},
    {P::Character, "\u00AB", "\"", " (write '\"')"},
    {P::Character, "\u00BB", "\"", " (write '\"')"},
    {P::Character, "\u2208", "in", " (write 'in')"},
    {P::Character, "\u2211", "sum", " (write 'sum')"},
    {P::Character, "\u2200", "forall", " (write 'forall')"},
    {P::Character, "\u2026", "...", " (write '...')"},
    {P::Character, "^", "", "; powers are not part of the language: write a product of data, as in 'a * a'"},
    {P::Character, "#", "//", "; comments start with '//'"},
    {P::Character, "%", "", "; there is no remainder operator"},
};
// clang-format on

constexpr std::array<std::string_view, 20> kKeywords = {
    "int",     "float",  "string", "boolean", "range", "tuple", "dvar", "dexpr", "minimize", "maximize",
    "subject", "forall", "sum",    "min",     "max",   "abs",   "card", "in",    "true",     "false"};

bool name_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

/// Bytes of `text` that `written` spans at its start, or 0.
size_t match(std::string_view written, std::string_view text) {
    size_t t = 0;
    for (size_t w = 0; w < written.size(); ++w) {
        if (written[w] == ' ') {
            if (t >= text.size() || !blank(text[t])) return 0;
            while (t < text.size() && blank(text[t])) ++t;
            continue;
        }
        if (t >= text.size() || text[t] != written[w]) return 0;
        ++t;
    }
    // A word ends at a word boundary: 'st' is not the start of 'stock'.
    if (name_char(written.back()) && t < text.size() && name_char(text[t])) return 0;
    return t;
}

std::string_view leading_name(std::string_view text) {
    size_t n = 0;
    while (n < text.size() && name_char(text[n])) ++n;
    if (n == 0 || std::isdigit(static_cast<unsigned char>(text[0]))) return {};
    return text.substr(0, n);
}

/// The keyword that `word` spells in other letter case, if any.
std::optional<std::string> keyword_in_other_case(std::string_view word) {
    if (word.size() > 8) return std::nullopt;
    std::string lower;
    for (char c : word) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == word) return std::nullopt;
    for (std::string_view k : kKeywords)
        if (k == lower) return lower;
    return std::nullopt;
}

std::string shown(std::string_view name) {
    if (name.size() <= 40) return std::string(name);
    return std::string(name.substr(0, 18)) + "..." + std::string(name.substr(name.size() - 18));
}

}  // namespace

std::span<const Slip> known_slips() { return kSlips; }

std::optional<SlipMatch> find_slip(SlipPlace place, std::string_view text) {
    for (const Slip& slip : kSlips) {
        if (slip.place != place) continue;
        if (size_t length = match(slip.written, text)) {
            SlipMatch m{std::string(slip.message), std::nullopt, length};
            if (!slip.fix.empty()) m.fix = std::string(slip.fix);
            return m;
        }
    }
    if (place != SlipPlace::Statement && place != SlipPlace::Call && place != SlipPlace::Type) return std::nullopt;
    std::string_view word = leading_name(text);
    if (word.empty()) return std::nullopt;
    if (std::optional<std::string> keyword = keyword_in_other_case(word)) {
        if (*keyword == "subject") *keyword = "subject to";
        return SlipMatch{"'" + std::string(word) + "' is not a keyword; write '" + *keyword + "'", *keyword,
                         word.size()};
    }
    if (place != SlipPlace::Call) return std::nullopt;
    std::string name = shown(word);
    return SlipMatch{
        "'" + name + "(...)' is not an index; write '" + name + "[...]' (arrays are indexed with brackets)",
        std::nullopt, word.size()};
}

}  // namespace tarvok::compiler
