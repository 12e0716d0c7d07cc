// The numbers the language server protocol gives to kinds of things.
#pragma once

#include <cstdint>

namespace tarvok::language_server {

enum class Severity : uint8_t { Error = 1, Warning = 2, Information = 3, Hint = 4 };

/// SymbolKind of document symbols.
enum class SymbolKind : uint8_t {
    Method = 6,
    Property = 7,
    Field = 8,
    Enum = 10,
    Function = 12,
    Variable = 13,
    Constant = 14,
    Array = 18,
    Struct = 23,
    Event = 24,
};

/// CompletionItemKind of completion items.
enum class CompletionKind : uint8_t {
    Function = 3,
    Field = 5,
    Variable = 6,
    Enum = 13,
    Keyword = 14,
    Constant = 21,
    Struct = 22,
};

}  // namespace tarvok::language_server
