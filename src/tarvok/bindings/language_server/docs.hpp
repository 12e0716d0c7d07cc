// The docstrings of tarvok.language_server.
#pragma once

namespace tarvok::language_server::docs {

inline constexpr const char* kModule =
    "The language server of `tarvok lsp`: diagnostics, quick fixes, hover, definitions, references,\n"
    "symbols and completion for Tarvok models (.mod) and their data (.dat).";

inline constexpr const char* kCreateServer =
    "Make a pygls LanguageServer for Tarvok models and their data, ready to start.\n\n"
    "A .dat file beside a .mod with the same stem is the model's data: the two are compiled\n"
    "together, and each gets its own diagnostics. Raises ImportError when pygls (the lsp extra)\n"
    "is missing.";

inline constexpr const char* kServe = "Run the language server on stdin and stdout until the client ends the session.";

}  // namespace tarvok::language_server::docs
