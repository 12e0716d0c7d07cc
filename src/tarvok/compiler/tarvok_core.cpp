// The Tarvok compiler front end: the lexer and the parsers of the model text
// and of the data text. The grammar below is exactly the syntax it accepts;
// the passes after it (names, types, linearity, data) are in the other files
// of this folder.
//
// A Tarvok model declares data (parameters, sets, ranges, tuple types),
// decision variables and named expressions, then at most one objective, then
// at most one `subject to { ... }` block of constraints. A data text gives the
// values of the data the model declares without an initializer.
//
// ---------------------------------------------------------------- tokens ----
//   NAME      [A-Za-z_][A-Za-z0-9_]*   (not a keyword)
//   NUMBER    12   3.5   .5   1e-3   2.5E+4       (`12` is an int, the others floats)
//   STRING    "text"  with the escapes \"  \\  \n  \t ; on one line
//   comments  // to the end of the line,   /* ... */ (not nested)
//   keywords  int float string boolean range tuple dvar dexpr minimize maximize
//             subject forall sum min max abs card in true false
//             (`to` is a keyword only right after `subject`; elsewhere it is a NAME)
//   symbols   ; , : . .. ... ( ) [ ] { } < > + - * / == != <= >= = && || !
//
// ------------------------------------------------------------ model text ----
//   model       = { declaration } [ objective ] [ constraints ] ;
//   declaration = tuple_decl | param_decl | set_decl | range_decl | dvar_decl | dexpr_decl ;
//   type        = "int" | "float" | "string" | "boolean" | NAME ;     (NAME: a declared tuple type)
//   tuple_decl  = "tuple" NAME "{" { type NAME ";" } "}" [ ";" ] ;
//   param_decl  = type NAME { "[" dimension "]" } [ "=" ( "..." | value ) ] ";" ;
//   set_decl    = "{" type "}" NAME [ "=" ( "..." | value ) ] ";" ;          (not a set of booleans)
//   range_decl  = "range" NAME "=" sum_expr ".." sum_expr ";" ;
//   dimension   = NAME | sum_expr ".." sum_expr ;                      (a set, a range, or lo..hi)
//   dvar_decl   = "dvar" ( "float" [ "+" ] | "int" [ "+" ] | "boolean" ) NAME { "[" dimension "]" }
//                 [ "in" sum_expr ".." sum_expr ] ";" ;
//   dexpr_decl  = "dexpr" ( "float" | "int" ) NAME "=" sum_expr ";" ;
//   objective   = ( "minimize" | "maximize" ) [ NAME ":" ] sum_expr ";" ;
//   constraints = "subject" "to" "{" { constraint } "}" [ ";" ] ;
//   constraint  = "forall" "(" bindings ")" ( "{" { constraint } "}" [ ";" ] | constraint )
//               | [ NAME ":" ] sum_expr ( "<=" | ">=" | "==" ) sum_expr ";"
//               | [ NAME ":" ] sum_expr "<=" sum_expr "<=" sum_expr ";" ;
//   bindings    = binding { "," binding } [ ":" condition ] ;
//   binding     = NAME "in" set_expr ;
//   value       = "[" [ value { "," value } ] "]"                      (an array, in index order)
//               | condition [ ".." sum_expr ] ;
//
// ------------------------------------------------- expressions, loosest first ----
//   condition   = and_expr { "||" and_expr } ;
//   and_expr    = comparison { "&&" comparison } ;
//   comparison  = sum_expr [ ( "==" | "!=" | "<" | "<=" | ">" | ">=" ) sum_expr | "in" set_expr ] ;
//   set_expr    = sum_expr [ ".." sum_expr ] ;
//   sum_expr    = product { ( "+" | "-" ) product } ;
//   product     = unary { ( "*" | "/" ) unary } ;
//   unary       = ( "-" | "+" | "!" ) unary | aggregate | postfix ;
//   aggregate   = ( "sum" | "min" | "max" ) "(" bindings ")" product ;
//   postfix     = primary { "[" sum_expr { "," sum_expr } "]" | "." NAME } ;
//   primary     = NUMBER | STRING | "true" | "false" | NAME | "(" condition ")"
//               | "<" sum_expr { "," sum_expr } ">"                     (a tuple)
//               | "{" [ sum_expr { "," sum_expr } ] "}"                 (a set)
//               | "abs" "(" sum_expr ")" | "card" "(" set_expr ")" ;
//
// An aggregate takes one product as its body: `sum(i in I) a[i] * x[i] + y`
// is `(sum(i in I) a[i] * x[i]) + y`; parenthesise a longer body.
//
// ------------------------------------------------------------- data text ----
//   data        = { NAME "=" data_value ";" } ;
//   data_value  = [ "-" | "+" ] NUMBER | STRING | "true" | "false"
//               | "[" [ data_value { "," data_value } ] "]"            (an array, in index order)
//               | "{" [ data_value { "," data_value } ] "}"            (a set)
//               | "<" data_value { "," data_value } ">" ;              (a tuple)

#include "compiler/front_end.hpp"

#include "compiler/slips.hpp"
#include "compiler/utf8.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <deque>
#include <string>
#include <unordered_set>

namespace tarvok::compiler {

// ================================================================ lexer ====

namespace {

/// The keyword spelled `w`, or Identifier.
Tok keyword(std::string_view w) {
    switch (w.size()) {
    case 2:
        if (w == "in") return Tok::KwIn;
        break;
    case 3:
        if (w == "int") return Tok::KwInt;
        if (w == "sum") return Tok::KwSum;
        if (w == "min") return Tok::KwMin;
        if (w == "max") return Tok::KwMax;
        if (w == "abs") return Tok::KwAbs;
        break;
    case 4:
        if (w == "dvar") return Tok::KwDvar;
        if (w == "card") return Tok::KwCard;
        if (w == "true") return Tok::KwTrue;
        break;
    case 5:
        if (w == "float") return Tok::KwFloat;
        if (w == "range") return Tok::KwRange;
        if (w == "tuple") return Tok::KwTuple;
        if (w == "dexpr") return Tok::KwDexpr;
        if (w == "false") return Tok::KwFalse;
        break;
    case 6:
        if (w == "string") return Tok::KwString;
        if (w == "forall") return Tok::KwForall;
        break;
    case 7:
        if (w == "boolean") return Tok::KwBoolean;
        if (w == "subject") return Tok::KwSubject;
        break;
    case 8:
        if (w == "minimize") return Tok::KwMinimize;
        if (w == "maximize") return Tok::KwMaximize;
        break;
    default: break;
    }
    return Tok::Identifier;
}

bool is_keyword(Tok kind) { return kind >= Tok::KwInt && kind <= Tok::KwFalse; }

}  // namespace

const std::vector<std::string_view>& keyword_spellings() {
    static const std::vector<std::string_view> spellings{
        "int",     "float",  "string", "boolean", "range", "tuple", "dvar", "dexpr", "minimize", "maximize",
        "subject", "forall", "sum",    "min",     "max",   "abs",   "card", "in",    "true",     "false"};
    return spellings;
}

namespace {

bool is_name_start(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool is_digit(int c) { return c >= '0' && c <= '9'; }
bool is_name_char(int c) { return is_name_start(c) || is_digit(c); }

}  // namespace

/// Turns a text into tokens on demand. Every lexical error is reported here
/// and turns into an Invalid token, which the parser skips without a second
/// message.
class Lexer {
  public:
    /// `strings` keeps the values of strings with escapes for as long as
    /// the tokens are used; other string values point into `text`.
    Lexer(std::string_view text, SourceFile file, Diagnostics& diagnostics, std::deque<std::string>& strings,
          Interrupt* interrupt = nullptr)
        : text_(text), file_(file), diagnostics_(diagnostics), strings_(strings), interrupt_(interrupt) {}

    /// Lexes the next token into `t`.
    void next(Token& t) {
        tick(interrupt_);
        skip_blanks_and_comments();
        t = Token{};
        t.at = here();
        t.line_start = line_start_;
        line_start_ = false;
        if (pos_ >= text_.size()) {
            t.kind = Tok::End;
        } else {
            int c = peek();
            if (is_name_start(c))
                word(t);
            else if (is_digit(c) || (c == '.' && is_digit(peek(1))))
                number(t);
            else if (c == '"')
                string(t);
            else
                symbol(t);
        }
        t.end = here();
        t.text = text_.substr(t.at.offset, pos_ - t.at.offset);
    }

  private:
    std::string_view text_;
    SourceFile file_;
    Diagnostics& diagnostics_;
    std::deque<std::string>& strings_;
    Interrupt* interrupt_;
    size_t pos_ = 0;
    uint32_t line_ = 1;
    uint32_t column_ = 1;
    bool line_start_ = true;

    Location here() const { return {file_, line_, column_, static_cast<uint32_t>(pos_)}; }

    /// The byte `ahead` places on, or -1 past the end (a NUL byte is 0).
    int peek(size_t ahead = 0) const {
        return pos_ + ahead < text_.size() ? static_cast<unsigned char>(text_[pos_ + ahead]) : -1;
    }

    /// Moves past one ASCII character other than a line break.
    void step() {
        ++pos_;
        ++column_;
    }

    /// Moves past one character (a whole UTF-8 sequence, or one invalid byte).
    void advance() {
        if (text_[pos_] == '\n') {
            ++pos_;
            ++line_;
            column_ = 1;
            line_start_ = true;
            return;
        }
        uint32_t cp = 0;
        size_t len = static_cast<unsigned char>(text_[pos_]) < 0x80 ? 1 : utf8::decode(text_.substr(pos_), cp);
        pos_ += len == 0 ? 1 : len;
        ++column_;
    }

    Diagnostic* error(Code code, Location at, std::string message) {
        return diagnostics_.error(code, at, std::move(message));
    }

    void skip_blanks_and_comments() {
        while (pos_ < text_.size()) {
            int c = peek();
            if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
                step();
            } else if (c == '\n') {
                advance();
            } else if (c == '/' && peek(1) == '/') {
                // Columns restart on the next line, so the comment is skipped whole
                // (a comment that ends the text is walked, for the end's column).
                size_t newline = text_.find('\n', pos_);
                if (newline != std::string_view::npos)
                    pos_ = newline;
                else
                    while (pos_ < text_.size()) advance();
            } else if (c == '/' && peek(1) == '*') {
                Location start = here();
                advance();
                advance();
                while (pos_ < text_.size() && !(peek() == '*' && peek(1) == '/')) advance();
                if (pos_ >= text_.size()) {
                    error(Code::UnterminatedComment, start, "unterminated comment: '/*' is never closed by '*/'");
                    return;
                }
                advance();
                advance();
            } else {
                return;
            }
        }
    }

    void word(Token& t) {
        size_t start = pos_;
        while (is_name_char(peek())) step();
        t.kind = keyword(text_.substr(start, pos_ - start));
    }

    // NUMBER: digits [ "." digits ] [ exponent ] | "." digits [ exponent ];
    // exponent: ( "e" | "E" ) [ "+" | "-" ] digits. `1..n` is 1, `..`, n.
    void number(Token& t) {
        size_t start = pos_;
        bool is_int = true;
        while (is_digit(peek())) step();
        if (peek() == '.' && peek(1) != '.') {
            is_int = false;
            step();
            if (!is_digit(peek()))
                return bad_number(t, start, Code::NumberNeedsDigits,
                                  "a number needs digits after its decimal point: write '" +
                                      quote_source(text_.substr(start, pos_ - start), 30) + "0'");
            while (is_digit(peek())) step();
        }
        if (peek() == 'e' || peek() == 'E') {
            size_t sign = (peek(1) == '+' || peek(1) == '-') ? 1 : 0;
            if (is_digit(peek(1 + sign))) {
                is_int = false;
                step();
                if (sign) step();
                while (is_digit(peek())) step();
            }
        }
        if (is_name_char(peek()) || (peek() == '.' && peek(1) != '.')) {
            bool digits_only = true;
            for (size_t i = start; i < pos_; ++i) digits_only = digits_only && is_digit(text_[i]);
            bool letter_next = is_name_start(peek());
            while (is_name_char(peek()) || (peek() == '.' && peek(1) != '.')) step();
            std::string_view all = text_.substr(start, pos_ - start);
            if (digits_only && letter_next)
                return bad_number(t, start, Code::NumberGluedToName,
                                  "'" + quote_source(all, 30) +
                                      "' is neither a number nor a name; write a product with '*', as in '" +
                                      quote_source(text_.substr(start, all.find_first_not_of("0123456789")), 20) + "*" +
                                      quote_source(all.substr(all.find_first_not_of("0123456789")), 20) + "'");
            return bad_number(t, start, Code::MalformedNumber, "malformed number '" + quote_source(all, 30) + "'");
        }
        std::string_view digits = text_.substr(start, pos_ - start);
        t.kind = Tok::Number;
        t.number.is_int = is_int;
        if (is_int) {
            auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), t.number.integer);
            if (ec != std::errc())
                return bad_number(t, start, Code::IntTooLarge,
                                  "the number " + quote_source(digits, 30) +
                                      " is too large for an int (the largest is 9223372036854775807); "
                                      "write it as a float, e.g. with a decimal point");
            t.number.real = static_cast<double>(t.number.integer);
        } else {
            auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), t.number.real);
            if (ec != std::errc() || !std::isfinite(t.number.real))
                return bad_number(t, start, Code::NumberOutOfRange,
                                  "the number " + quote_source(digits, 30) + " is out of range");
            if (t.number.real >= kSolverInfinity) {
                // A number, not a fault of the text: the parse goes on.
                Location at = t.at;
                at.offset = static_cast<uint32_t>(start);
                error(Code::BeyondSolverInfinity, at, beyond_solver_infinity("the number " + quote_source(digits, 30)));
            }
        }
    }

    void bad_number(Token& t, size_t start, Code code, std::string message) {
        t.kind = Tok::Invalid;
        Location at = t.at;
        at.offset = static_cast<uint32_t>(start);
        error(code, at, std::move(message));
    }

    // STRING: '"' { character | '\"' | '\\' | '\n' | '\t' } '"', on one line.
    void string(Token& t) {
        Location start = here();
        advance();
        size_t first = pos_;
        std::string value;  // built only once an escape shows up
        bool escaped = false;
        bool bad_utf8 = false;
        while (true) {
            if (pos_ >= text_.size() || peek() == '\n') {
                error(Code::UnterminatedString, start, "unterminated string: a string ends with '\"' on the same line");
                t.kind = Tok::Invalid;
                return;
            }
            int c = peek();
            if (c == '"') break;
            if (c == '\\') {
                if (!escaped) value.assign(text_.substr(first, pos_ - first));
                escaped = true;
                Location at = here();
                int e = peek(1);
                if (e == '"' || e == '\\')
                    value += static_cast<char>(e);
                else if (e == 'n')
                    value += '\n';
                else if (e == 't')
                    value += '\t';
                else {
                    if (e == -1 || e == '\n') {
                        advance();
                        continue;  // reported as unterminated next round
                    }
                    error(Code::UnknownEscape, at,
                          "unknown escape '\\" + utf8::printable(text_.substr(pos_ + 1, 1)) +
                              "' in a string; the escapes are \\\" \\\\ \\n and \\t");
                }
                advance();
                advance();
                continue;
            }
            uint32_t cp = 0;
            size_t len = c < 0x80 ? 1 : utf8::decode(text_.substr(pos_), cp);
            if (len == 0) {
                if (!bad_utf8) error(Code::InvalidUtf8InString, here(), "invalid UTF-8 byte in a string");
                if (!escaped) value.assign(text_.substr(first, pos_ - first));
                escaped = bad_utf8 = true;  // the value leaves the bad byte out
            } else if (escaped) {
                value.append(text_.substr(pos_, len));
            }
            advance();
        }
        if (escaped) {
            strings_.push_back(std::move(value));
            t.value = strings_.back();
        } else {
            t.value = text_.substr(first, pos_ - first);
        }
        advance();
        t.kind = Tok::String;
    }

    void symbol(Token& t) {
        int c = peek();
        int d = peek(1);
        auto two = [&](Tok kind) {
            step();
            step();
            t.kind = kind;
        };
        auto one = [&](Tok kind) {
            step();
            t.kind = kind;
        };
        switch (c) {
        case ';': return one(Tok::Semicolon);
        case ',': return one(Tok::Comma);
        case ':': return one(Tok::Colon);
        case '(': return one(Tok::LParen);
        case ')': return one(Tok::RParen);
        case '[': return one(Tok::LBracket);
        case ']': return one(Tok::RBracket);
        case '{': return one(Tok::LBrace);
        case '}': return one(Tok::RBrace);
        case '+': return one(Tok::Plus);
        case '-': return one(Tok::Minus);
        case '*': return one(Tok::Star);
        case '/': return one(Tok::Slash);
        case '.':
            if (d == '.' && peek(2) == '.') {
                step();
                return two(Tok::Ellipsis);
            }
            return d == '.' ? two(Tok::DotDot) : one(Tok::Dot);
        case '=': return d == '=' ? two(Tok::EqEq) : one(Tok::Assign);
        case '!': return d == '=' ? two(Tok::NotEq) : one(Tok::Not);
        case '<': return d == '=' ? two(Tok::LessEq) : one(Tok::Less);
        case '>': return d == '=' ? two(Tok::GreaterEq) : one(Tok::Greater);
        case '&':
            if (d == '&') return two(Tok::AndAnd);
            error(Code::SingleAmpersand, here(), "unexpected character '&'; 'and' is written '&&'");
            return one(Tok::Invalid);
        case '|':
            if (d == '|') return two(Tok::OrOr);
            error(Code::SingleBar, here(), "unexpected character '|'; 'or' is written '||'");
            return one(Tok::Invalid);
        case '\'': {
            // 'text' on one line: one message for the whole would-be string.
            size_t close = pos_ + 1;
            while (close < text_.size() && text_[close] != '\'' && text_[close] != '\n') ++close;
            if (close < text_.size() && text_[close] == '\'') {
                error(Code::SingleQuotedString, here(),
                      "strings are written in double quotes, as in \"" +
                          quote_source(text_.substr(pos_ + 1, close - pos_ - 1), 40) + "\"");
                while (pos_ <= close) advance();
                t.kind = Tok::Invalid;
                return;
            }
            error(Code::StrayQuote, here(), "unexpected character '''; strings are written in double quotes");
            return one(Tok::Invalid);
        }
        default: break;
        }
        uint32_t cp = 0;
        size_t len = c < 0x80 ? 1 : utf8::decode(text_.substr(pos_), cp);
        if (len == 0) {
            error(Code::InvalidUtf8, here(), "invalid UTF-8 byte 0x" + hex(c) + " in the text");
            while (pos_ < text_.size() && utf8::decode(text_.substr(pos_), cp) == 0) advance();
            t.kind = Tok::Invalid;
            return;
        }
        std::string shown = utf8::printable(text_.substr(pos_, len));
        bool control = c < 0x20 || c == 0x7F;
        std::string message = control ? "unexpected control character (code " + std::to_string(c) + ")"
                                      : "unexpected character '" + shown + "'";
        // Look-alikes from word processors and operators of other languages.
        std::optional<SlipMatch> slip = find_slip(SlipPlace::Character, text_.substr(pos_, len));
        if (slip) message += slip->message;
        Diagnostic* reported = error(control ? Code::ControlCharacter : Code::UnexpectedCharacter, here(), message);
        if (reported && slip) reported->fix = slip->fix;
        advance();
        t.kind = Tok::Invalid;
    }

    static std::string hex(int byte) {
        const char* digits = "0123456789ABCDEF";
        return {digits[(byte >> 4) & 0xF], digits[byte & 0xF]};
    }
};

std::vector<Token> tokenize(std::string_view text, SourceFile file, Diagnostics& diagnostics,
                            std::deque<std::string>& strings) {
    Lexer lexer(text, file, diagnostics, strings);
    std::vector<Token> out;
    do lexer.next(out.emplace_back());
    while (out.back().kind != Tok::End);
    return out;
}

// ======================================================= parser basics ====

namespace {

/// Thrown after a syntax error has been reported (or was reported by the
/// lexer); the statement loop catches it and resynchronises.
struct SyntaxError {};

/// What a syntax error may carry besides its message.
struct Extra {
    uint32_t end = kWordEnd;
    const Note* note = nullptr;
    const char* fix = nullptr;
};

/// What a token is, in words: "'x'", "the number 3", "the end of the text".
std::string describe(Tok kind, std::string_view text) {
    switch (kind) {
    case Tok::End: return "the end of the text";
    case Tok::Number: return "the number " + quote_source(text, 30);
    case Tok::String: return "the string " + quote_source(text, 30);
    default: return "'" + quote_source(text, 40) + "'";
    }
}

std::string describe(const Token& t) { return describe(t.kind, t.text); }

std::string where(const Location& at) { return std::to_string(at.line) + ":" + std::to_string(at.column); }

/// Common machinery of both parsers: the next token and up to three after it, node
/// construction, error reporting with one message per statement, nesting
/// and size limits.
class Parser {
  public:
    Parser(std::string_view text, SourceFile file, Ast& ast, Diagnostics& diagnostics, const Limits& limits)
        : lexer_(text, file, diagnostics, strings_, limits.interrupt), source_(text), ast_(ast),
          diagnostics_(diagnostics), limits_(limits) {
        lex(current_);
    }

    /// Whether the whole text was read (no limit ended parsing early).
    bool completed() const { return !stopped_; }

  protected:
    std::deque<std::string> strings_;  ///< values of strings with escapes
    Lexer lexer_;
    std::string_view source_;
    Ast& ast_;
    Diagnostics& diagnostics_;
    const Limits& limits_;
    Token current_;               ///< the next token
    std::array<Token, 3> ahead_;  ///< tokens after it, lexed on demand
    size_t ahead_count_ = 0;
    Location previous_end_;  ///< just past the last token taken
    Location previous_at_;   ///< the start of the last token taken
    Tok previous_kind_ = Tok::End;
    std::string_view previous_text_;
    bool panicking_ = false;  ///< this statement already has its error
    bool stopped_ = false;    ///< a limit was hit: the rest of the text is ignored
    size_t depth_ = 0;
    size_t open_ = 0;            ///< brackets taken and not yet closed
    size_t statement_open_ = 0;  ///< `open_` when the current statement began
    /// Where the current statement began, and which slips its first words
    /// may be (none: Value, which no statement starts with).
    Location statement_at_;
    SlipPlace statement_place_ = SlipPlace::Value;
    /// Names met in the current statement, while `tracking_`: when the
    /// statement breaks, they may be names it meant to declare or assign.
    bool tracking_ = false;
    std::vector<std::string_view> statement_names_;

    void begin_statement(SlipPlace place, bool track) {
        statement_at_ = peek().at;
        statement_place_ = place;
        tracking_ = track;
        statement_names_.clear();
    }

    /// The names of a broken statement, interned into `out`.
    void keep_names(std::vector<TextId>& out) {
        if (tracking_)
            for (std::string_view n : statement_names_) out.push_back(ast_.texts.intern(n));
        tracking_ = false;
        statement_names_.clear();
    }

    const Token& peek() const { return current_; }

    /// The token `ahead` places after the next one (`peek(0)` is the next).
    const Token& peek(size_t ahead) {
        if (ahead == 0) return current_;
        while (ahead_count_ < ahead) lex(ahead_[ahead_count_++]);
        return ahead_[ahead - 1];
    }

    void lex(Token& t) {
        if (!stopped_) lexer_.next(t);
        if (!stopped_ && diagnostics_.truncated()) stop();  // the cap is reached: the rest would be dropped
        if (stopped_) t = end_token();
    }

    Token end_token() const {
        Token t;
        t.at = t.end = previous_end_;
        return t;
    }

    bool at(Tok kind) { return peek().kind == kind; }
    bool at(Tok kind, size_t ahead) { return peek(ahead).kind == kind; }

    /// Moves past the next token.
    void skip() {
        const Token& t = peek();
        if (tracking_ && t.kind == Tok::Identifier) statement_names_.push_back(t.text);
        if (t.kind == Tok::LParen || t.kind == Tok::LBracket || t.kind == Tok::LBrace) ++open_;
        if ((t.kind == Tok::RParen || t.kind == Tok::RBracket || t.kind == Tok::RBrace) && open_ > 0) --open_;
        previous_end_ = t.end;
        previous_at_ = t.at;
        previous_kind_ = t.kind;
        previous_text_ = t.text;
        if (ahead_count_ > 0) {
            current_ = ahead_[0];
            for (size_t i = 1; i < ahead_count_; ++i) ahead_[i - 1] = ahead_[i];
            --ahead_count_;
        } else {
            lex(current_);
        }
    }

    /// The next token, moving past it.
    Token take() {
        Token t = peek();
        skip();
        return t;
    }

    bool accept(Tok kind) {
        if (!at(kind)) return false;
        skip();
        return true;
    }

    /// Ends parsing: every further token reads as the end of the text.
    void stop() {
        stopped_ = true;
        current_ = end_token();
        ahead_count_ = 0;
    }

    /// Reports a syntax error (the first of the statement only) and abandons
    /// the statement. Errors at an Invalid token were reported by the lexer.
    /// When a known slip explains the failure, its message is reported instead.
    [[noreturn]] void fail(Code code, Location at, std::string message, const Extra& extra = {}) {
        if (!panicking_ && !stopped_ && peek().kind != Tok::Invalid && !report_slip(code)) {
            Diagnostic* d = diagnostics_.error(code, at, std::move(message), extra.end);
            if (d && extra.note) d->notes.push_back(*extra.note);
            if (d && extra.fix) d->fix = extra.fix;
        }
        panicking_ = true;
        throw SyntaxError{};
    }

    [[noreturn]] void fail_here(std::string_view expected) {
        fail(Code::Expected, peek().at, "expected " + std::string(expected) + ", found " + describe(peek()));
    }

    /// Reports `slip` at `at` and abandons the statement.
    [[noreturn]] void fail_slip(const SlipMatch& slip, Location at) {
        if (!panicking_ && !stopped_) record_slip(slip, at);
        panicking_ = true;
        throw SyntaxError{};
    }

    void record_slip(const SlipMatch& slip, Location at) {
        if (Diagnostic* d =
                diagnostics_.error(Code::ForeignWord, at, slip.message, at.offset + static_cast<uint32_t>(slip.length)))
            d->fix = slip.fix;
    }

    std::optional<SlipMatch> slip_at(SlipPlace place, const Location& at) const {
        if (at.offset >= source_.size()) return std::nullopt;
        return find_slip(place, source_.substr(at.offset));
    }

    /// Looks for a known slip where parsing failed: an operator of another
    /// language at the failing token or just before it ('=>', 'and', '**'),
    /// 'not' before an operand, 'True' for a value, a type of another
    /// language, 'range(...)', and last the first words of the statement
    /// ('var', 'minimise', 'Subject To', 's.t.').
    bool report_slip(Code code) {
        const Token& t = peek();
        std::optional<SlipMatch> slip;
        Location at = t.at;
        if (t.kind != Tok::End) slip = slip_at(SlipPlace::Operator, t.at);
        if (!slip && previous_kind_ != Tok::End) {
            at = previous_at_;
            slip = slip_at(SlipPlace::Operator, at);
            if (!slip && previous_kind_ == Tok::Identifier) slip = slip_at(SlipPlace::Prefix, at);
        }
        if (!slip && t.kind == Tok::Identifier) {
            at = t.at;
            slip = slip_at(code == Code::DvarType || code == Code::DexprType ? SlipPlace::Type : SlipPlace::Value, at);
        }
        if (!slip && t.kind == Tok::KwRange && peek(1).kind == Tok::LParen) {
            at = t.at;
            slip = slip_at(SlipPlace::Call, at);
        }
        if (!slip && statement_place_ != SlipPlace::Value) {
            at = statement_at_;
            slip = slip_at(statement_place_, at);
        }
        if (!slip) return false;
        record_slip(*slip, at);
        return true;
    }

    Token expect(Tok kind, std::string_view expected) {
        if (!at(kind)) fail_here(expected);
        return take();
    }

    /// A closing bracket; the message points back at the opening one.
    void close(Tok kind, const char* symbol, const Location& opened, const char* opener) {
        if (at(kind)) {
            skip();
            return;
        }
        Note note{opened, std::string("the '") + opener + "' is opened here"};
        fail(Code::Unclosed, peek().at,
             std::string("expected '") + symbol + "' to close the '" + opener + "' at " + where(opened) + ", found " +
                 describe(peek()),
             {kWordEnd, &note});
    }

    /// `;` at the end of a statement. When it is missing and the next token
    /// begins a new line, the error points just after the previous token and
    /// parsing goes on as if it were there.
    void semicolon() {
        if (accept(Tok::Semicolon)) return;
        const Token& next = peek();
        if (next.line_start || next.kind == Tok::End) {
            if (!panicking_ && !stopped_ && next.kind != Tok::Invalid) {
                Diagnostic* d = diagnostics_.error(Code::MissingSemicolon, previous_end_,
                                                   "missing ';' after " + describe(previous_kind_, previous_text_),
                                                   previous_end_.offset);
                if (d) d->fix = ";";
            }
            panicking_ = true;
            return;
        }
        fail(Code::ExpectedSemicolon, next.at,
             "expected ';' after " + describe(previous_kind_, previous_text_) + ", found " + describe(next));
    }

    /// A name; `what` says what it names ("the parameter"), for the message.
    TextId name(std::string_view what) {
        const Token& t = peek();
        if (t.kind == Tok::Identifier) return ast_.texts.intern(take().text);
        std::string expected = "the name of " + std::string(what);
        if (is_keyword(t.kind))
            fail(Code::Expected, t.at,
                 "expected " + expected + ", found the keyword '" + std::string(t.text) +
                     "', which cannot be used as a name");
        fail_here(expected);
    }

    /// Guards recursion: hostile nesting ends in a diagnostic, not a crash.
    [[noreturn]] void too_deep() {
        if (!stopped_)
            diagnostics_.error(
                Code::NestedTooDeeply, peek().at,
                "expression nested too deeply (more than " + std::to_string(limits_.max_depth) + " levels)");
        panicking_ = true;
        stop();
        throw SyntaxError{};
    }

    class Nesting {
      public:
        explicit Nesting(Parser& p) : p_(p) {
            if (++p_.depth_ > p_.limits_.max_depth) {
                --p_.depth_;
                p_.too_deep();
            }
        }
        ~Nesting() { --p_.depth_; }
        Nesting(const Nesting&) = delete;
        Nesting& operator=(const Nesting&) = delete;

      private:
        Parser& p_;
    };

    ExprId node(ExprKind kind, Location at) {
        if (ast_.exprs.size() >= limits_.max_nodes) {
            if (!stopped_)
                diagnostics_.error(Code::TooManyParts, at,
                                   "the text is too large to compile (more than " + std::to_string(limits_.max_nodes) +
                                       " expression parts)");
            panicking_ = true;
            stop();
            throw SyntaxError{};
        }
        Expr e;
        e.kind = kind;
        e.at = at;
        ast_.exprs.push_back(e);
        return static_cast<ExprId>(ast_.exprs.size() - 1);
    }

    /// Closes a node: records where its text ends.
    ExprId done(ExprId id) {
        ast_[id].end = previous_end_.offset;
        return id;
    }

    /// Children of the list nodes under construction, innermost last: each
    /// list starts at a mark and moves into the tree when it is complete.
    std::vector<Link> pending_;

    size_t mark() const { return pending_.size(); }
    void push(ExprId e, Op op = Op::None) { pending_.push_back({e, op}); }

    void set_links(ExprId id, size_t mark) {
        ast_[id].first = static_cast<uint32_t>(ast_.links.size());
        ast_[id].count = static_cast<uint32_t>(pending_.size() - mark);
        ast_.links.insert(ast_.links.end(), pending_.begin() + static_cast<std::ptrdiff_t>(mark), pending_.end());
        pending_.resize(mark);
    }

    ExprId number_node(const Token& t, bool negate) {
        ExprId id = node(ExprKind::Number, t.at);
        Number n = t.number;
        if (negate) {
            n.integer = -n.integer;
            n.real = -n.real;
        }
        ast_[id].set_number(n);
        return id;
    }

    ExprId string_node(const Token& t) {
        ExprId id = node(ExprKind::String, t.at);
        ast_[id].payload = ast_.texts.intern(t.value);
        return id;
    }

    /// Parses statement after statement to the end of the text. A broken one
    /// is skipped to its end, and the names it declared are kept in `broken`,
    /// so that later uses of them are not reported as undeclared.
    template <typename Statement, typename StartsStatement>
    void statements(SlipPlace place, Statement statement, StartsStatement starts_statement,
                    std::vector<TextId>& broken) {
        while (!at(Tok::End)) {
            panicking_ = false;
            open_ = statement_open_ = 0;
            pending_.clear();
            begin_statement(place, true);
            try {
                statement();
            } catch (const SyntaxError&) {
                depth_ = 0;
                synchronize(starts_statement, false);
                keep_names(broken);
            }
            tracking_ = false;
        }
    }

    /// Skips to the end of the broken statement: past the brackets it left
    /// open, then past its `;` (or the `}` that closes it). Inside a block a
    /// `}` at statement level ends the block and is left for it; a token
    /// that can start a statement at the beginning of a line ends skipping.
    template <typename StartsStatement>
    void synchronize(StartsStatement starts_statement, bool in_block) {
        bool moved = false;
        while (!at(Tok::End)) {
            const Token& t = peek();
            size_t depth = open_ > statement_open_ ? open_ - statement_open_ : 0;
            if (depth == 0) {
                if (t.kind == Tok::Semicolon) {
                    skip();
                    return;
                }
                if (t.kind == Tok::RBrace && in_block) {
                    if (!moved) take();
                    return;
                }
            }
            if (moved && t.line_start && starts_statement(t.kind)) return;
            bool closes_brace = t.kind == Tok::RBrace && depth == 1;
            skip();
            moved = true;
            // A brace-closed statement (a tuple type, a block) ends here, unless
            // more of the same statement follows on the line.
            if (closes_brace && (at(Tok::Semicolon) || at(Tok::End) || peek().line_start)) {
                accept(Tok::Semicolon);
                return;
            }
        }
    }
};

// ========================================================= model parser ====

/// Bindings of one forall, sum, min or max; far more than any model needs.
constexpr size_t kMaxBindings = 32;

bool starts_model_statement(Tok kind) {
    switch (kind) {
    case Tok::KwInt:
    case Tok::KwFloat:
    case Tok::KwString:
    case Tok::KwBoolean:
    case Tok::KwRange:
    case Tok::KwTuple:
    case Tok::KwDvar:
    case Tok::KwDexpr:
    case Tok::KwMinimize:
    case Tok::KwMaximize:
    case Tok::KwSubject:
    case Tok::KwForall:
    case Tok::LBrace: return true;
    default: return false;
    }
}

/// Inside `subject to { ... }` a constraint may begin with a label or any
/// expression, so only `forall` and labels (NAME ':') are safe restart points.
bool starts_constraint(Tok kind) { return kind == Tok::KwForall; }

class ModelParser : Parser {
  public:
    using Parser::completed;

    ModelParser(std::string_view text, Ast& ast, Model& model, Diagnostics& diagnostics, const Limits& limits)
        : Parser(text, SourceFile::Model, ast, diagnostics, limits), model_(model) {
        ast.texts.reserve(text.size() / 64);  // names repeat
    }

    void parse() {
        statements(
            SlipPlace::Statement, [this] { statement(); }, starts_model_statement, model_.broken_names);
    }

  private:
    Model& model_;
    std::unordered_set<TextId> tuple_types_;  ///< names of the tuple types declared so far
    /// The innermost `forall` of the constraint being parsed.
    uint32_t forall_ = kNone;

    void statement() {
        const Token& t = peek();
        switch (t.kind) {
        case Tok::KwTuple: return tuple_declaration();
        case Tok::KwInt:
        case Tok::KwFloat:
        case Tok::KwString:
        case Tok::KwBoolean: return parameter_declaration();
        case Tok::LBrace: return set_declaration();
        case Tok::KwRange: return range_declaration();
        case Tok::KwDvar: return dvar_declaration();
        case Tok::KwDexpr: return dexpr_declaration();
        case Tok::KwMinimize:
        case Tok::KwMaximize: tracking_ = false; return objective();
        case Tok::KwSubject: tracking_ = false; return subject_to();
        case Tok::Identifier:
            if (declared_tuple_type(t.text)) statement_place_ = SlipPlace::Value;  // not a slip, whatever breaks
            if (at(Tok::Identifier, 1)) return parameter_declaration();            // a tuple-typed parameter
            if (at(Tok::Colon, 1) || at(Tok::LBracket, 1))
                fail(Code::ConstraintOutsideBlock, t.at,
                     "constraints belong inside 'subject to { ... }', after the objective");
            fail(Code::ExpectedStatement, t.at,
                 "expected a declaration, an objective or 'subject to', found " + describe(t));
        case Tok::KwForall:
            fail(Code::ForallOutsideBlock, t.at, "'forall' constraints belong inside 'subject to { ... }'");
        default:
            fail(Code::ExpectedStatement, t.at,
                 "expected a declaration, an objective or 'subject to', found " + describe(t));
        }
    }

    bool declared_tuple_type(std::string_view name) const {
        std::optional<TextId> id = ast_.texts.find(name);
        return id && tuple_types_.count(*id) > 0;
    }

    /// Declarations come before the objective and the constraints.
    void check_declaration_order(const Location& start) {
        // 'Subject To {' and 'st x >= 1;' read as declarations; their slip is what needs fixing.
        if (peek().kind == Tok::Identifier && statement_place_ == SlipPlace::Statement &&
            slip_at(SlipPlace::Statement, start))
            return;
        if (model_.has_subject_to)
            diagnostics_.error(Code::DeclarationAfterObjective, start,
                               "declarations must come before the objective and 'subject to'");
        else if (model_.objective.present)
            diagnostics_.error(Code::DeclarationAfterObjective, start, "declarations must come before the objective");
    }

    // type = "int" | "float" | "string" | "boolean" | NAME
    TypeName type(const char* expected = "a type (int, float, string, boolean or a tuple type)") {
        TypeName t;
        t.at = peek().at;
        switch (peek().kind) {
        case Tok::KwInt: t.base = BaseType::Int; break;
        case Tok::KwFloat: t.base = BaseType::Float; break;
        case Tok::KwString: t.base = BaseType::String; break;
        case Tok::KwBoolean: t.base = BaseType::Boolean; break;
        case Tok::Identifier:
            t.base = BaseType::Tuple;
            t.tuple = ast_.texts.intern(peek().text);
            break;
        default: fail_here(expected);
        }
        skip();
        if (at(Tok::Plus) && (t.base == BaseType::Int || t.base == BaseType::Float))
            fail(Code::NonNegativeData, peek().at,
                 "'+' (non-negative) is for decision variables only; state the bound as data");
        return t;
    }

    Declaration begin(DeclKind kind) {
        Declaration d;
        d.kind = kind;
        d.start = peek().at;
        check_declaration_order(d.start);
        return d;
    }

    void finish(Declaration& d) {
        d.end = previous_end_.offset;
        model_.decls.push_back(std::move(d));
    }

    void declared_name(Declaration& d, const char* what) {
        d.at = peek().at;
        d.name = name(what);
    }

    // tuple_decl = "tuple" NAME "{" { type NAME ";" } "}" [ ";" ]
    void tuple_declaration() {
        Declaration d = begin(DeclKind::TupleType);
        skip();
        declared_name(d, "the tuple type");
        tuple_types_.insert(d.name);
        Location open = expect(Tok::LBrace, "'{' and the fields of the tuple type").at;
        while (!at(Tok::RBrace)) {
            if (at(Tok::End)) close(Tok::RBrace, "}", open, "{");
            TupleField f;
            f.type = type("a field type (int, float, string, boolean or a tuple type) or '}'");
            f.at = peek().at;
            f.name = name("the field");
            semicolon();
            d.fields.push_back(f);
        }
        skip();
        accept(Tok::Semicolon);
        finish(d);
    }

    // param_decl = type NAME { "[" dimension "]" } [ "=" ( "..." | value ) ] ";"
    void parameter_declaration() {
        Declaration d = begin(DeclKind::Parameter);
        d.type = type();
        declared_name(d, "the parameter");
        dimensions(d);
        initializer(d);
        semicolon();
        finish(d);
    }

    // set_decl = "{" type "}" NAME [ "=" ( "..." | value ) ] ";"
    void set_declaration() {
        Declaration d = begin(DeclKind::Set);
        Location open = take().at;
        d.type = type("the element type of the set (int, float, string or a tuple type)");
        close(Tok::RBrace, "}", open, "{");
        if (d.type.base == BaseType::Boolean)
            fail(Code::BooleanSet, d.type.at, "a set holds int, float, string or tuple values, not booleans");
        declared_name(d, "the set");
        if (at(Tok::LBracket)) fail(Code::SetDimensions, peek().at, "a set has no dimensions");
        initializer(d);
        semicolon();
        finish(d);
    }

    // range_decl = "range" NAME "=" sum_expr ".." sum_expr ";"
    void range_declaration() {
        Declaration d = begin(DeclKind::Range);
        skip();
        d.type.base = BaseType::Int;
        declared_name(d, "the range");
        if (!at(Tok::Assign) || at(Tok::Ellipsis, 1))
            fail(Code::RangeForm, peek().at, "a range is declared with its bounds, as in 'range Days = 1..n;'");
        skip();
        ExprId low = sum_expr();
        d.init = range_rest(low, Code::RangeForm, "a range is declared with its bounds, as in 'range Days = 1..n;'");
        semicolon();
        finish(d);
    }

    // dvar_decl = "dvar" ( "float" [ "+" ] | "int" [ "+" ] | "boolean" ) NAME { "[" dimension "]" }
    //             [ "in" sum_expr ".." sum_expr ] ";"
    void dvar_declaration() {
        Declaration d = begin(DeclKind::Dvar);
        skip();
        d.type.at = peek().at;
        switch (peek().kind) {
        case Tok::KwFloat: d.type.base = BaseType::Float; break;
        case Tok::KwInt: d.type.base = BaseType::Int; break;
        case Tok::KwBoolean: d.type.base = BaseType::Boolean; break;
        default:
            fail(Code::DvarType, peek().at,
                 "a decision variable is 'float', 'int' or 'boolean' (found " + describe(peek()) + ")");
        }
        skip();
        if (accept(Tok::Plus)) {
            if (d.type.base == BaseType::Boolean)
                fail(Code::NonNegativeBoolean, previous_end_,
                     "'+' applies to float and int variables; a boolean is already 0 or 1");
            d.nonnegative = true;
        }
        declared_name(d, "the decision variable");
        dimensions(d);
        if (at(Tok::KwIn)) {
            skip();
            ExprId low = sum_expr();
            d.bounds = range_rest(low, Code::BoundsForm, "bounds are written 'in lo..hi'");
        }
        if (at(Tok::Assign))
            fail(Code::DvarValue, peek().at,
                 "a decision variable gets no value; to name an expression write "
                 "'dexpr float name = ...;'");
        if (at(Tok::GreaterEq) || at(Tok::LessEq) || at(Tok::Greater) || at(Tok::Less))
            fail(Code::DvarBoundsForm, peek().at,
                 "bounds of a decision variable are written 'in lo..hi' (or as constraints)");
        semicolon();
        finish(d);
    }

    // dexpr_decl = "dexpr" ( "float" | "int" ) NAME "=" sum_expr ";"
    void dexpr_declaration() {
        Declaration d = begin(DeclKind::Dexpr);
        skip();
        d.type.at = peek().at;
        if (accept(Tok::KwFloat))
            d.type.base = BaseType::Float;
        else if (accept(Tok::KwInt))
            d.type.base = BaseType::Int;
        else
            fail(Code::DexprType, peek().at, "a dexpr is 'float' or 'int' (found " + describe(peek()) + ")");
        declared_name(d, "the dexpr");
        if (at(Tok::LBracket))
            fail(Code::DexprDimensions, peek().at,
                 "a dexpr has no dimensions; write the sum or forall in the constraint instead");
        expect(Tok::Assign, "'=' and the expression of the dexpr");
        d.init = sum_expr();
        semicolon();
        finish(d);
    }

    // dimension = NAME | sum_expr ".." sum_expr
    void dimensions(Declaration& d) {
        while (at(Tok::LBracket)) {
            Location open = take().at;
            if (at(Tok::Identifier) && at(Tok::KwIn, 1))
                fail(Code::BindingInDimension, peek().at,
                     "a declaration names only the index set, as in 'x[Cities]', not 'x[c in Cities]'");
            ExprId dim = sum_expr();
            if (at(Tok::DotDot)) {
                dim = range_rest(dim);
            } else if (ast_[dim].kind != ExprKind::Name) {
                fail(Code::DimensionForm, ast_[dim].at, "a dimension is a set name, a range name or 'lo..hi'");
            }
            if (at(Tok::Comma))
                fail(Code::DimensionComma, peek().at,
                     "each dimension has its own brackets, as in 'dist[Cities][Cities]'");
            close(Tok::RBracket, "]", open, "[");
            d.dims.push_back(dim);
        }
    }

    // [ "=" ( "..." | value ) ]
    void initializer(Declaration& d) {
        if (!accept(Tok::Assign)) return;
        if (accept(Tok::Ellipsis)) {
            d.from_data = true;
            return;
        }
        // `= ..;`: the data marker one dot short.
        if (at(Tok::DotDot) && at(Tok::Semicolon, 1)) {
            if (std::optional<SlipMatch> slip = slip_at(SlipPlace::Initializer, peek().at)) {
                if (!panicking_ && !stopped_) record_slip(*slip, peek().at);
                skip();
                d.from_data = true;
                return;
            }
        }
        d.init = value();
    }

    // value = "[" [ value { "," value } ] "]" | condition [ ".." sum_expr ]
    ExprId value() {
        Nesting nesting(*this);
        if (at(Tok::LBracket)) {
            Location open = take().at;
            ExprId id = node(ExprKind::ArrayLiteral, open);
            size_t items = mark();
            if (!at(Tok::RBracket)) {
                do push(value());
                while (accept(Tok::Comma));
            }
            close(Tok::RBracket, "]", open, "[");
            set_links(id, items);
            return done(id);
        }
        ExprId e = condition();
        if (at(Tok::DotDot)) return range_rest(e);
        return e;
    }

    // ".." sum_expr, after the low end
    ExprId range_rest(ExprId low, Code code = Code::Expected, const char* message = nullptr) {
        if (!at(Tok::DotDot)) {
            if (message) fail(code, peek().at, message);
            fail_here("'..'");
        }
        skip();
        ExprId high = sum_expr();
        ExprId id = node(ExprKind::Range, ast_[low].at);
        ast_[id].left = low;
        ast_[id].right = high;
        return done(id);
    }

    // objective = ( "minimize" | "maximize" ) [ NAME ":" ] sum_expr ";"
    void objective() {
        Token keyword = take();
        if (model_.has_subject_to)
            diagnostics_.error(Code::ObjectiveAfterConstraints, keyword.at,
                               "the objective must come before 'subject to'");
        else if (model_.objective.present)
            diagnostics_.error(Code::SecondObjective, keyword.at,
                               "a model has only one objective (found a second '" + std::string(keyword.text) + "')");
        Objective o;
        o.present = true;
        o.maximize = keyword.kind == Tok::KwMaximize;
        o.at = keyword.at;
        if (at(Tok::Identifier) && at(Tok::Colon, 1)) {
            o.label_at = peek().at;
            o.label = ast_.texts.intern(take().text);
            skip();
        }
        o.expr = sum_expr();
        if (at(Tok::LessEq) || at(Tok::GreaterEq) || at(Tok::EqEq))
            fail(Code::ObjectiveIsConstraint, peek().at,
                 "the objective is an expression, not a constraint; constraints go in 'subject to'");
        semicolon();
        if (!model_.objective.present) model_.objective = o;
    }

    // constraints = "subject" "to" "{" { constraint } "}" [ ";" ]
    void subject_to() {
        Location start = take().at;
        if (model_.has_subject_to)
            diagnostics_.error(Code::SecondSubjectTo, start,
                               "a model has only one 'subject to' block; put all constraints in it");
        model_.has_subject_to = true;
        if (!(at(Tok::Identifier) && peek().text == "to")) fail_here("'to' after 'subject'");
        skip();
        Location open = expect(Tok::LBrace, "'{' to open the constraints").at;
        block(open);
        accept(Tok::Semicolon);
    }

    /// The constraints up to the `}` that closes the block opened at `open`.
    void block(Location open) {
        while (!at(Tok::RBrace)) {
            if (at(Tok::End)) close(Tok::RBrace, "}", open, "{");
            panicking_ = false;
            uint32_t forall = forall_;
            size_t open = statement_open_ = open_;
            size_t pending = pending_.size();
            Location outer_at = statement_at_;
            SlipPlace outer_place = statement_place_;
            begin_statement(SlipPlace::Constraint, false);
            try {
                constraint();
                statement_at_ = outer_at;
                statement_place_ = outer_place;
            } catch (const SyntaxError&) {
                statement_at_ = outer_at;
                statement_place_ = outer_place;
                forall_ = forall;
                depth_ = 0;
                pending_.resize(pending);
                if (stopped_) throw;
                statement_open_ = open;
                synchronize(starts_constraint, true);
            }
            statement_open_ = open;
        }
        skip();
    }

    // constraint = "forall" "(" bindings ")" ( "{" { constraint } "}" [ ";" ] | constraint )
    //            | [ NAME ":" ] sum_expr ( "<=" | ">=" | "==" ) sum_expr ";"
    //            | [ NAME ":" ] sum_expr "<=" sum_expr "<=" sum_expr ";"
    void constraint() {
        Constraint c;
        c.at = peek().at;
        if (at(Tok::Identifier) && at(Tok::Colon, 1)) {
            c.label_at = peek().at;
            c.label = ast_.texts.intern(take().text);
            skip();
            if (at(Tok::KwForall)) {
                diagnostics_.error(Code::LabelBeforeForall, c.label_at,
                                   "a label goes after the forall header, as in "
                                   "'forall(i in I) name: ...', and names the whole family");
                c.label = kNone;
            }
        }
        if (at(Tok::KwForall)) return forall();
        if (at(Tok::LBrace))
            fail(Code::BlockWithoutForall, peek().at, "a '{' block of constraints follows a forall header");
        c.left = sum_expr();
        c.op_at = peek().at;
        c.op = relation(c.left);
        skip();
        c.right = sum_expr();
        if (at(Tok::LessEq) || at(Tok::GreaterEq) || at(Tok::EqEq)) {
            if (c.op != Op::Le || !at(Tok::LessEq))
                fail(Code::RangeConstraintForm, peek().at, "a range constraint is written 'lo <= expression <= hi'");
            skip();
            c.middle = c.right;
            c.right = sum_expr();
        }
        semicolon();
        c.forall = forall_;
        model_.constraints.push_back(c);
    }

    /// The operator of a constraint, with advice for the usual mistakes.
    Op relation(ExprId left) {
        switch (peek().kind) {
        case Tok::LessEq: return Op::Le;
        case Tok::GreaterEq: return Op::Ge;
        case Tok::EqEq: return Op::Eq;
        case Tok::Assign:
            fail(Code::AssignInConstraint, peek().at, "an equality constraint is written with '=='", {.fix = "=="});
        case Tok::Less:
        case Tok::Greater:
            fail(Code::StrictInequality, peek().at,
                 "strict inequalities are not allowed in constraints; use '<=' or '>='");
        case Tok::NotEq:
            fail(Code::NotEqualConstraint, peek().at, "'!=' cannot be a constraint; use '<=', '>=' or '=='");
        case Tok::Colon:
            if (ast_[left].kind == ExprKind::Index)
                fail(Code::IndexedLabel, peek().at,
                     "a constraint label is a plain name (a label inside a forall names the whole "
                     "family), as in 'capacity: ...'");
            [[fallthrough]];
        default:
            fail(Code::ExpectedRelation, peek().at,
                 "expected '<=', '>=' or '==' in the constraint, found " + describe(peek()));
        }
    }

    void forall() {
        Nesting nesting(*this);
        Location start = take().at;
        Location open = expect(Tok::LParen, "'(' after 'forall'").at;
        Forall f;
        f.at = start;
        f.parent = forall_;
        bindings(f.first_binding, f.binding_count, f.condition);
        close(Tok::RParen, ")", open, "(");
        model_.foralls.push_back(f);
        uint32_t saved = forall_;
        forall_ = static_cast<uint32_t>(model_.foralls.size() - 1);
        if (at(Tok::LBrace)) {
            Location brace = take().at;
            block(brace);
            accept(Tok::Semicolon);
        } else {
            if (at(Tok::End) || at(Tok::RBrace)) fail_here("a constraint or '{' after the forall header");
            constraint();
        }
        forall_ = saved;
    }

    // bindings = binding { "," binding } [ ":" condition ];  binding = NAME "in" set_expr
    void bindings(uint32_t& first, uint32_t& count, ExprId& condition_id) {
        std::vector<Binding> list;
        do {
            if (at(Tok::Less))
                fail(Code::TupleBinding, peek().at,
                     "bind a tuple with one name, as in 'a in Arcs', and use its fields ('a.from')");
            Binding b;
            b.at = peek().at;
            b.name = name("a binding, as in 'i in I'");
            if (!at(Tok::KwIn)) fail_here("'in' after '" + std::string(ast_.texts[b.name]) + "' in the binding");
            skip();
            b.domain = set_expr();
            list.push_back(b);
            if (list.size() > kMaxBindings)
                fail(Code::TooManyBindings, b.at,
                     "at most " + std::to_string(kMaxBindings) + " bindings fit in one header");
        } while (accept(Tok::Comma));
        condition_id = accept(Tok::Colon) || condition_separator_slip() ? condition() : kNone;
        first = static_cast<uint32_t>(ast_.bindings.size());
        count = static_cast<uint32_t>(list.size());
        ast_.bindings.insert(ast_.bindings.end(), list.begin(), list.end());
    }

    /// A condition introduced by '|', as set-builder notation writes it: the
    /// lexer reported a lone '|' as a misspelt '||'; here it is the separator
    /// that ':' is, so the message says that, and the condition is read on.
    bool condition_separator_slip() {
        const Token& t = peek();
        if (t.kind != Tok::Invalid) return false;
        std::optional<SlipMatch> slip = slip_at(SlipPlace::Condition, t.at);
        if (!slip) return false;
        if (Diagnostic* d = diagnostics_.recorded(Code::SingleBar, t.at)) {
            d->code = Code::ForeignWord;
            d->message = slip->message;
            d->fix = slip->fix;
            d->end = t.at.offset + static_cast<uint32_t>(slip->length);
        }
        skip();
        return true;
    }

    // ------------------------------------------------------ expressions ----

    // condition = and_expr { "||" and_expr };  and_expr = comparison { "&&" comparison }
    ExprId condition() { return logical(Tok::OrOr, Op::Or); }

    ExprId logical(Tok token, Op op) {
        auto operand = [&] { return token == Tok::OrOr ? logical(Tok::AndAnd, Op::And) : comparison(); };
        ExprId first = operand();
        if (!at(token)) return first;
        size_t items = mark();
        push(first);
        while (accept(token)) push(operand(), op);
        return chain(items);
    }

    ExprId chain(size_t items) {
        ExprId id = node(ExprKind::Chain, ast_[pending_[items].expr].at);
        set_links(id, items);
        return done(id);
    }

    // comparison = sum_expr [ ( "==" | "!=" | "<" | "<=" | ">" | ">=" ) sum_expr | "in" set_expr ]
    ExprId comparison() {
        ExprId left = sum_expr();
        Op op = Op::None;
        switch (peek().kind) {
        case Tok::EqEq: op = Op::Eq; break;
        case Tok::NotEq: op = Op::Ne; break;
        case Tok::Less: op = Op::Lt; break;
        case Tok::LessEq: op = Op::Le; break;
        case Tok::Greater: op = Op::Gt; break;
        case Tok::GreaterEq: op = Op::Ge; break;
        case Tok::KwIn: {
            skip();
            ExprId id = node(ExprKind::In, ast_[left].at);
            ast_[id].left = left;
            ast_[id].right = set_expr();
            return done(id);
        }
        case Tok::Assign:
            fail(Code::AssignInCondition, peek().at, "a comparison for equality is written '=='", {.fix = "=="});
        default: return left;
        }
        skip();
        ExprId id = node(ExprKind::Compare, ast_[left].at);
        ast_[id].op = op;
        ast_[id].left = left;
        ast_[id].right = sum_expr();
        done(id);
        switch (peek().kind) {
        case Tok::EqEq:
        case Tok::NotEq:
        case Tok::Less:
        case Tok::LessEq:
        case Tok::Greater:
        case Tok::GreaterEq:
            fail(Code::ChainedComparison, peek().at, "comparisons cannot be chained; join them with '&&'");
        default: return id;
        }
    }

    // set_expr = sum_expr [ ".." sum_expr ]
    ExprId set_expr() {
        ExprId e = sum_expr();
        return at(Tok::DotDot) ? range_rest(e) : e;
    }

    // sum_expr = product { ( "+" | "-" ) product }
    ExprId sum_expr() {
        ExprId first = product();
        if (!at(Tok::Plus) && !at(Tok::Minus)) return first;
        size_t items = mark();
        push(first);
        while (at(Tok::Plus) || at(Tok::Minus)) {
            Op op = take().kind == Tok::Plus ? Op::Plus : Op::Minus;
            push(product(), op);
        }
        return chain(items);
    }

    // product = unary { ( "*" | "/" ) unary }
    ExprId product() {
        ExprId first = unary();
        if (!at(Tok::Star) && !at(Tok::Slash)) return first;
        size_t items = mark();
        push(first);
        while (at(Tok::Star) || at(Tok::Slash)) {
            Op op = take().kind == Tok::Star ? Op::Times : Op::Divide;
            push(unary(), op);
        }
        return chain(items);
    }

    // unary = ( "-" | "+" | "!" ) unary | aggregate | postfix
    ExprId unary() {
        Nesting nesting(*this);
        if (at(Tok::Minus) || at(Tok::Plus) || at(Tok::Not)) {
            Token t = take();
            ExprId operand = unary();
            if (t.kind == Tok::Plus) return operand;
            ExprId id = node(ExprKind::Unary, t.at);
            ast_[id].op = t.kind == Tok::Minus ? Op::Minus : Op::Not;
            ast_[id].left = operand;
            return done(id);
        }
        if (at(Tok::KwSum) || at(Tok::KwMin) || at(Tok::KwMax)) return aggregate();
        return postfix();
    }

    // aggregate = ( "sum" | "min" | "max" ) "(" bindings ")" product
    ExprId aggregate() {
        Token keyword = take();
        ExprId id = node(ExprKind::Aggregate, keyword.at);
        ast_[id].op = keyword.kind == Tok::KwSum ? Op::Sum : keyword.kind == Tok::KwMin ? Op::Min : Op::Max;
        Location open = expect(Tok::LParen, "'(' after '" + std::string(keyword.text) + "'").at;
        if (!(at(Tok::Identifier) && at(Tok::KwIn, 1)) && !at(Tok::Less))
            fail(Code::AggregateWithoutBindings, peek().at,
                 "'" + std::string(keyword.text) + "' takes bindings, as in '" + std::string(keyword.text) +
                     "(i in I) cost[i]'");
        uint32_t first = 0, count = 0;
        ExprId cond = kNone;
        bindings(first, count, cond);
        close(Tok::RParen, ")", open, "(");
        if (at(Tok::Semicolon) || at(Tok::End) || at(Tok::RParen))
            fail_here("the expression after '" + std::string(keyword.text) + "(...)'");
        ExprId body = product();
        Expr& e = ast_[id];
        e.first = first;
        e.count = count;
        e.left = cond;
        e.right = body;
        return done(id);
    }

    // postfix = primary { "[" sum_expr { "," sum_expr } "]" | "." NAME }
    ExprId postfix() {
        ExprId e = primary();
        // No name is ever followed by '(': that is a call or an index of another language.
        if (ast_[e].kind == ExprKind::Name && at(Tok::LParen))
            if (std::optional<SlipMatch> slip = slip_at(SlipPlace::Call, ast_[e].at)) fail_slip(*slip, ast_[e].at);
        size_t depth = depth_;
        while (at(Tok::LBracket) || at(Tok::Dot)) {
            if (++depth_ > limits_.max_depth) {
                depth_ = depth;
                too_deep();
            }
            if (at(Tok::Dot)) {
                skip();
                ExprId id = node(ExprKind::Field, ast_[e].at);
                ast_[id].left = e;
                ast_[id].payload = name("a field after '.'");
                e = done(id);
                continue;
            }
            if (ast_[e].kind != ExprKind::Name)
                fail(Code::IndexNotName, peek().at, "only a declared array can be indexed");
            ExprId id = node(ExprKind::Index, ast_[e].at);
            size_t indices = mark();
            while (at(Tok::LBracket)) {  // x[i][j] and x[i, j] make the same node
                Location open = take().at;
                do push(sum_expr());
                while (accept(Tok::Comma));
                close(Tok::RBracket, "]", open, "[");
            }
            ast_[id].left = e;
            set_links(id, indices);
            e = done(id);
        }
        depth_ = depth;
        return e;
    }

    // primary = NUMBER | STRING | "true" | "false" | NAME | "(" condition ")"
    //         | "<" sum_expr { "," sum_expr } ">" | "{" [ sum_expr { "," sum_expr } ] "}"
    //         | "abs" "(" sum_expr ")" | "card" "(" set_expr ")"
    ExprId primary() {
        const Token& t = peek();
        switch (t.kind) {
        case Tok::Number: {
            Token n = take();
            return done(number_node(n, false));
        }
        case Tok::String: {
            Token s = take();
            return done(string_node(s));
        }
        case Tok::KwTrue:
        case Tok::KwFalse: {
            Token b = take();
            ExprId id = node(ExprKind::Bool, b.at);
            ast_[id].flag = b.kind == Tok::KwTrue;
            return done(id);
        }
        case Tok::Identifier: {
            Token n = take();
            ExprId id = node(ExprKind::Name, n.at);
            ast_[id].payload = ast_.texts.intern(n.text);
            return done(id);
        }
        case Tok::LParen: {
            Location open = take().at;
            ExprId inner = condition();
            close(Tok::RParen, ")", open, "(");
            ast_[inner].at = open;  // messages quote '(a + b)' whole
            return done(inner);
        }
        case Tok::Less: return literal(ExprKind::TupleLiteral, Tok::Greater, ">", "<");
        case Tok::LBrace: return literal(ExprKind::SetLiteral, Tok::RBrace, "}", "{");
        case Tok::KwAbs:
        case Tok::KwCard: {
            Token f = take();
            ExprId id = node(f.kind == Tok::KwAbs ? ExprKind::Abs : ExprKind::Card, f.at);
            Location open = expect(Tok::LParen, "'(' after '" + std::string(f.text) + "'").at;
            ast_[id].left = f.kind == Tok::KwAbs ? sum_expr() : set_expr();
            close(Tok::RParen, ")", open, "(");
            return done(id);
        }
        case Tok::LBracket: fail(Code::ListOutsideArray, t.at, "a list '[...]' can only initialise an array parameter");
        case Tok::Ellipsis:
            fail(Code::EllipsisInExpression, t.at,
                 "'...' stands alone after '=' in a declaration, meaning the value is in the data");
        default:
            if (is_keyword(t.kind))
                fail(Code::Expected, t.at, "expected an expression, found the keyword '" + std::string(t.text) + "'");
            fail_here("an expression");
        }
    }

    /// `<a, b>` (at least one element) or `{a, b}` (possibly empty).
    ExprId literal(ExprKind kind, Tok closing, const char* symbol, const char* opener) {
        Location open = take().at;
        ExprId id = node(kind, open);
        size_t items = mark();
        if (!(kind == ExprKind::SetLiteral && at(closing))) {
            do push(sum_expr());
            while (accept(Tok::Comma));
        }
        close(closing, symbol, open, opener);
        set_links(id, items);
        return done(id);
    }
};

// ========================================================== data parser ====

bool starts_data_statement(Tok kind) { return kind == Tok::Identifier; }

class DataParser : Parser {
  public:
    using Parser::completed;

    DataParser(std::string_view text, Ast& ast, DataFile& data, Diagnostics& diagnostics, const Limits& limits)
        : Parser(text, SourceFile::Data, ast, diagnostics, limits), data_(data) {}

    void parse() {
        statements(
            SlipPlace::Value, [this] { assignment(); }, starts_data_statement, data_.broken_names);
    }

  private:
    DataFile& data_;

    // NAME "=" data_value ";"
    void assignment() {
        const Token& t = peek();
        if (starts_model_statement(t.kind) && t.kind != Tok::LBrace)
            fail(Code::DeclarationInData, t.at,
                 "the data text holds only assignments such as 'n = 5;'; declarations belong in the model");
        DataAssignment a;
        a.at = t.at;
        a.name = name("a declared parameter or set, as in 'n = 5;'");
        if (at(Tok::LBracket))
            fail(Code::ElementAssignment, peek().at,
                 "an array is given whole, as in 'demand = [10, 20, 30];', not element by element");
        expect(Tok::Assign, "'=' after '" + std::string(ast_.texts[a.name]) + "'");
        a.value = value();
        if (at(Tok::Plus) || at(Tok::Minus) || at(Tok::Star) || at(Tok::Slash))
            fail(Code::ArithmeticInData, peek().at, "data values are literals; compute derived values in the model");
        semicolon();
        data_.assignments.push_back(a);
    }

    // data_value = [ "-" | "+" ] NUMBER | STRING | "true" | "false"
    //            | "[" [ data_value { "," data_value } ] "]" | "{" [ ... ] "}" | "<" data_value { "," ... } ">"
    ExprId value() {
        Nesting nesting(*this);
        const Token& t = peek();
        switch (t.kind) {
        case Tok::Minus:
        case Tok::Plus: {
            Location sign = t.at;
            bool negate = take().kind == Tok::Minus;
            if (!at(Tok::Number)) fail_here("a number after the sign");
            Token n = take();
            ExprId id = number_node(n, negate);
            ast_[id].at = sign;
            return done(id);
        }
        case Tok::Number: {
            Token n = take();
            return done(number_node(n, false));
        }
        case Tok::String: {
            Token s = take();
            return done(string_node(s));
        }
        case Tok::KwTrue:
        case Tok::KwFalse: {
            Token b = take();
            ExprId id = node(ExprKind::Bool, b.at);
            ast_[id].flag = b.kind == Tok::KwTrue;
            return done(id);
        }
        case Tok::LBracket: return list(ExprKind::ArrayLiteral, Tok::RBracket, "]", "[", true);
        case Tok::LBrace: return list(ExprKind::SetLiteral, Tok::RBrace, "}", "{", true);
        case Tok::Less: return list(ExprKind::TupleLiteral, Tok::Greater, ">", "<", false);
        case Tok::Identifier:
            fail(Code::NameInData, t.at,
                 "data values are literals, but '" + quote_source(t.text, 40) +
                     "' is a name; write the value itself (or compute it in the model)");
        case Tok::Ellipsis:
            fail(Code::EllipsisInData, t.at, "'...' belongs in the model; the data text gives the value itself");
        default: fail_here("a value (a number, a string, true, false, [list], {set} or <tuple>)");
        }
    }

    ExprId list(ExprKind kind, Tok closing, const char* symbol, const char* opener, bool may_be_empty) {
        Location open = take().at;
        ExprId id = node(kind, open);
        size_t items = mark();
        if (!(may_be_empty && at(closing))) {
            while (true) {
                push(value());
                if (accept(Tok::Comma)) continue;
                if (at(closing)) break;
                fail(Code::ExpectedListSeparator, peek().at,
                     std::string("expected ',' or '") + symbol + "' in the '" + opener + "' opened at " + where(open) +
                         ", found " + describe(peek()));
            }
        }
        skip();
        set_links(id, items);
        return done(id);
    }
};

void check_size(std::string_view text, SourceFile file, Diagnostics& diagnostics, const Limits& limits,
                bool& too_large) {
    too_large = text.size() > limits.max_text_bytes;
    if (too_large)
        diagnostics.error(Code::TextTooLarge, Location{file, 1, 1, 0},
                          std::string(file == SourceFile::Model ? "the model" : "the data") +
                              " text is too large to compile (more than " +
                              std::to_string(limits.max_text_bytes >> 20) + " MB)");
}

}  // namespace

bool parse_model(std::string_view text, Ast& ast, Model& model, Diagnostics& diagnostics, const Limits& limits) {
    bool too_large = false;
    check_size(text, SourceFile::Model, diagnostics, limits, too_large);
    if (too_large) return false;
    ModelParser parser(text, ast, model, diagnostics, limits);
    parser.parse();
    return parser.completed();
}

bool parse_data(std::string_view text, Ast& ast, DataFile& data, Diagnostics& diagnostics, const Limits& limits) {
    bool too_large = false;
    check_size(text, SourceFile::Data, diagnostics, limits, too_large);
    if (too_large) return false;
    DataParser parser(text, ast, data, diagnostics, limits);
    parser.parse();
    return parser.completed();
}

}  // namespace tarvok::compiler
