#include "generative/generation_face.hpp"

namespace tarvok::generative {

const std::vector<ResultFieldDoc>& result_fields() {
    using F = ResultField;
    static const std::vector<ResultFieldDoc> fields{
        // The final pair: its texts, its files, whether and how it compiles.
        {F::ModelText, "model_text", "The final model text, as written to model_file ('' when no reply was read)."},
        {F::DataText, "data_text", "The final data text, as written to data_file."},
        {F::ModelFile, "model_file", "The model file, as given."},
        {F::DataFile, "data_file", "The data file, as given."},
        {F::Iterations, "iterations", "Iterations performed."},
        {F::Compiled, "compiled", "Whether the final pair compiles."},
        {F::SyntaxErrors, "syntax_errors",
         "The final pair's compiler errors as the repair prompt shows them (empty when it compiles)."},
        {F::Diagnostics, "diagnostics",
         "The final pair's diagnostic records (dicts as SemanticError.diagnostics holds them): its errors,\n"
         "or the warnings of a pair that compiles."},
        {F::CompiledModel, "compiled_model",
         "The final pair as compiled, a tarvok.solver.CompiledModel (its `program` solves with\n"
         "tarvok.solver.solve_program and writes out with tarvok.scipy_emitter.write_program_script); None\n"
         "when a replaced TVLCompiler compiled it."},
        // What the run made of the final pair: the verdict, the solve, the requests.
        {F::Aligned, "aligned", "Whether the final pair was judged aligned; None when the alignment check was off."},
        {F::Assessment, "assessment", "The assessment, trimmed: the last verdict's, or the final assessment."},
        {F::Execution, "execution",
         "The execution check's solve of the final pair (status, objective, message,\n"
         "infeasible_constraints), or None when it made none."},
        {F::LlmCalls, "llm_calls", "Requests to the LLM that got a reply."},
        {F::RepairRounds, "repair_rounds",
         "Of those, the requests that revised a pair (after compile errors, a verdict of not aligned or\n"
         "the solver's verdict)."},
        {F::TokensIn, "tokens_in",
         "Prompt tokens summed over the requests whose provider reported them; None when none did."},
        {F::TokensOut, "tokens_out",
         "Reply tokens summed over the requests whose provider reported them; None when none did."},
        {F::Statistics, "statistics", "The map generative_solve returns with return_statistics=True."},
        // What the assumptions step found.
        {F::Assumptions, "assumptions",
         "The assumptions the final pair makes (dicts: 'assumption', 'alternative', 'where',\n"
         "'kind'), the LLM's first, then the data's numbers the description does not give;\n"
         "None when the assumptions step was not taken."},
        {F::AssumptionsError, "assumptions_error", "Why the assumptions reply gave no list, or None."},
        {F::WhatIf, "what_if",
         "The what-if table: 'main' (status, objective and answer of the final pair),\n"
         "'alternatives' (per explored assumption: its texts, 'index', 'model_file',\n"
         "'data_file', 'compiled', 'errors', 'status', 'objective', 'answer', 'adopted':\n"
         "an asked quantity that solves to the main objective becomes the final pair)\n"
         "and 'unexplored'; None when the what-if step was not taken."},
    };
    return fields;
}

std::string result_repr(long long iterations, bool compiled, std::optional<bool> aligned) {
    std::string text = "<GenerationResult iterations=" + std::to_string(iterations);
    text += compiled ? " compiled" : " not compiled";
    if (aligned) text += *aligned ? " aligned" : " not aligned";
    return text + ">";
}

}  // namespace tarvok::generative
