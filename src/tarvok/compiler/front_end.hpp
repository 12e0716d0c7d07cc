// The lexer and parsers of the Tarvok compiler (implemented in tarvok_core.cpp).
#pragma once

#include "common/interrupt.hpp"
#include "compiler/ast.hpp"
#include "compiler/diagnostics.hpp"

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::compiler {

/// Bounds that keep hostile input from exhausting the stack or memory.
struct Limits {
    size_t max_depth = 150;        ///< nesting of expressions and data values
    size_t max_nodes = 4'000'000;  ///< expression nodes of both texts together
    size_t max_text_bytes = 64u << 20;
    Interrupt* interrupt = nullptr;  ///< polled while reading, one tick per token
};

enum class Tok : uint8_t {
    End,
    Invalid,
    Identifier,
    Number,
    String,
    KwInt,
    KwFloat,
    KwString,
    KwBoolean,
    KwRange,
    KwTuple,
    KwDvar,
    KwDexpr,
    KwMinimize,
    KwMaximize,
    KwSubject,
    KwForall,
    KwSum,
    KwMin,
    KwMax,
    KwAbs,
    KwCard,
    KwIn,
    KwTrue,
    KwFalse,
    Semicolon,
    Comma,
    Colon,
    Dot,
    DotDot,
    Ellipsis,
    LParen,
    RParen,
    LBracket,
    RBracket,
    LBrace,
    RBrace,
    Plus,
    Minus,
    Star,
    Slash,
    EqEq,
    NotEq,
    LessEq,
    GreaterEq,
    Less,
    Greater,
    Assign,
    AndAnd,
    OrOr,
    Not,
};

struct Token {
    Tok kind = Tok::End;
    Location at;              ///< first character
    Location end;             ///< just past the last character
    std::string_view text;    ///< the source spelling
    bool line_start = false;  ///< first token on its line
    Number number;            ///< value of a Number
    std::string_view value;   ///< value of a String, escapes resolved
};

/// The spellings of the keywords, in the order of `Tok`. `to` is not among
/// them: it is a keyword only right after `subject`.
const std::vector<std::string_view>& keyword_spellings();

/// All tokens of `text` up to and including End (lexical errors go to
/// `diagnostics` and yield Invalid tokens). Values of strings with escapes
/// live in `strings`.
std::vector<Token> tokenize(std::string_view text, SourceFile file, Diagnostics& diagnostics,
                            std::deque<std::string>& strings);

/// Parses a model text into `ast` and `model`; syntax errors go to
/// `diagnostics`. Every statement that parses is kept, and a statement that
/// does not leaves a trace (see `Model::broken_names`). False when a limit
/// ended parsing before the end of the text.
bool parse_model(std::string_view text, Ast& ast, Model& model, Diagnostics& diagnostics, const Limits& limits = {});

/// Parses a data text into `ast` and `data`, like `parse_model`.
bool parse_data(std::string_view text, Ast& ast, DataFile& data, Diagnostics& diagnostics, const Limits& limits = {});

}  // namespace tarvok::compiler
