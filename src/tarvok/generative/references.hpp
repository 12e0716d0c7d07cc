// Where the grammar references the prompts carry are read from.
#pragma once

#include <filesystem>
#include <string_view>

namespace tarvok::generative {

/// The grammar document `name`: docs/grammars/`name` under the installation
/// root (the folder above the package), else the copy the package carries in
/// its own docs/grammars. With neither, the first, so that the reader's error
/// names the documented place.
std::filesystem::path grammar_document(const std::filesystem::path& package_dir, std::string_view name);

/// A reference the package ships, and the module function that reads it.
struct ShippedReference {
    const char* reader;
    const char* name;
    bool grammar;  ///< a grammar document (see grammar_document), else a file beside the package's modules
};

inline constexpr ShippedReference kShippedReferences[] = {{"_read_tarvok_GBNF", "Tarvok_GBNF", true},
                                                          {"_read_tarvok_grammar", "Tarvok grammar.md", true},
                                                          {"_read_tarvok_code", "tarvok_core.cpp", false}};

/// Where `reference` is read from, for the package in `package_dir`.
std::filesystem::path shipped_path(const std::filesystem::path& package_dir, const ShippedReference& reference);

/// A member of Grammar and the reader of the reference the prompts then
/// carry (null: none, the empty text).
struct GrammarMode {
    const char* member;
    const char* reader;
};

inline constexpr GrammarMode kGrammarModes[] = {
    {"NONE", nullptr}, {"BNF", "_read_tarvok_grammar"}, {"CODE", "_read_tarvok_code"}};

}  // namespace tarvok::generative
