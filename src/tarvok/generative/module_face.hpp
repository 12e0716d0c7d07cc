// What tarvok_generative shows the host beyond its settings: its functions'
// parameter lists and docstrings, GenerationResult's fields with their
// documentation, and its repr.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::generative {

/// A module function's parameter list as the host shows it (see
/// host::signed_doc) and its docstring.
struct FunctionDoc {
    const char* name;
    const char* params;  ///< null where the signature is built from the arguments (enumeration defaults)
    const char* doc;
};

/// The entry of the module function `name`; std::out_of_range for a name
/// the table lacks.
const FunctionDoc& function_doc(std::string_view name);

/// A field of GenerationResult.
enum class ResultField : uint8_t {
    ModelText,
    DataText,
    ModelFile,
    DataFile,
    Iterations,
    Compiled,
    SyntaxErrors,
    Diagnostics,
    CompiledModel,
    Aligned,
    Assessment,
    Execution,
    LlmCalls,
    RepairRounds,
    TokensIn,
    TokensOut,
    Statistics,
    Assumptions,
    AssumptionsError,
    WhatIf,
};

struct ResultFieldDoc {
    ResultField field;
    const char* name;
    const char* doc;
};

/// Every field of GenerationResult, in the order the class shows them.
const std::vector<ResultFieldDoc>& result_fields();

/// "<GenerationResult iterations=3 compiled aligned>"; `aligned` is none when
/// the alignment check was off.
std::string result_repr(long long iterations, bool compiled, std::optional<bool> aligned);

inline constexpr const char* kGrammarDoc =
    "What each prompt carries as its grammar reference: nothing, the grammar document, or the compiler source.";

inline constexpr const char* kGenerationResultDoc =
    "What one run of the loop gave (run_generation).\n\n"
    "The final pair's texts and files, whether it compiles and its diagnostics, whether it was\n"
    "judged aligned, the assessment, the iterations, the solver outcome when the execution check\n"
    "solved it, and its compiled model, which solves and writes out without compiling again.";

/// GenerationResult.execute(self, time_limit=None).
inline constexpr const char* kExecuteDoc =
    "The final pair's solver outcome as the execution check reports it (status, objective,\n"
    "message, infeasible_constraints): the check's own solve when it made one, else a solve\n"
    "of the compiled model (time_limit seconds, None for no limit); with the assumptions\n"
    "step also 'answer' (the model's decision expression answer, or None). None when the\n"
    "final pair does not compile.";

}  // namespace tarvok::generative
