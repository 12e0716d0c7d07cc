// The compiler module as help() shows it: the names, parameters and
// docstrings of its functions and of TVLCompiler's method.
#pragma once

#include "common/function_face.hpp"

namespace tarvok::compiler {

inline constexpr Face kCompileModel{
    "compile_model", "self, model_text, data_text",
    "Compile a model text together with its data text.\n\n"
    "Returns the compiled model: a dict with \"declarations\", \"objective\", \"constraints\", "
    "\"data\", \"warnings\"\n(diagnostic records) and \"source\" ({\"model\": model_text, \"data\": "
    "data_text}, the texts given); see docs/compiled-model.md.\nA model that would expand to more "
    "than MAX_SIZE columns or rows (or ten times as many nonzeros) is refused\nbefore anything is "
    "built (T0707). Raises SemanticError whose text lists "
    "every error found, one per line as 'model:LINE:COLUMN: message' (or\n'data:...'), each followed "
    "by the offending line and a caret; its diagnostics attribute holds the records.\nRaises "
    "MemoryError when memory runs out and KeyboardInterrupt on Ctrl-C."};

inline constexpr Face kDiagnosticCodes{
    "diagnostic_codes", "",
    "List the compiler's diagnostic codes.\n\n"
    "Returns a list of dicts with \"code\" (like \"T0201\"), \"severity\" (\"error\" or "
    "\"warning\") and \"format\",\nthe message with {placeholders} for its variable parts."};

inline constexpr Face kCheckMain{
    "main", "argv=None",
    "Check a model file with its data file from the command line.\n\n"
    "argv is [MODEL, DATA, '--json', '--max-size', N] with all but MODEL optional (default: sys.argv[1:]). "
    "Prints the\ndiagnostics as 'PATH:LINE:COLUMN: error: message' (or warning:) and OK when the "
    "pair compiles,\nor with --json the diagnostic records as a JSON list, and returns the exit "
    "status: 0 when the\npair compiles (warnings allowed), 1 when it does not, 2 for wrong "
    "arguments or unreadable files\n(with --json one object: error, status). With a data file the model is "
    "also expanded as running it\nwould, so a fault only the data reveal is reported here too."};

}  // namespace tarvok::compiler
