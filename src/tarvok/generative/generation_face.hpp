// What the entry points of the loop and their result show the host: the
// docstrings, the result's fields with their documentation, and its repr.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvok::generative {

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

inline constexpr const char* kRunGenerationParams =
    "prompt, model_file, data_file, *, model_name=None, llm_provider=None, mode=None, iterations=None, "
    "alignment_check=None, temperature=None, stop=None, progress=None, few_shot=True, few_shot_library=None, "
    "execution_check=None, execution_time_limit=None, timeout=None, embedding_model=None, on_event=None, "
    "record=None, replay=None, assumptions=None, what_if=False, what_if_max=3, cancel=None";
inline constexpr const char* kRunGenerationDoc =
    "Run the generation loop of generative_solve and return a GenerationResult.\n\n"
    "The loop, its files and its failures are those of generative_solve, whose parameters it shares;\n"
    "the options below hold for this call only and leave the module settings as they are. None reads\n"
    "the setting as it stands: model_name MODEL_NAME, mode Grammar.BNF, iterations MAX_ITERATIONS,\n"
    "few_shot_library FEW_SHOT_LIBRARY, execution_check EXECUTION_CHECK, execution_time_limit\n"
    "EXECUTION_TIME_LIMIT (seconds per solve; math.inf for no limit), timeout REQUEST_TIMEOUT (seconds\n"
    "per request); llm_provider None lets the model name decide, embedding_model None is the ranker's\n"
    "default. on_event, a callable, receives every step as a dict: 'kind' ('iteration',\n"
    "'compile_failed', 'aligned', 'request', 'reply', ...), 'text' (the progress line, or None),\n"
    "'iteration', and what the step is about ('step', 'provider' and 'model' of a request, 'seconds' of\n"
    "a reply, 'errors', 'assessment', 'execution'); like progress, it cannot break the loop.\n\n"
    "record, a path, gets one JSON line per exchange with the LLM, appended whole as its reply arrives:\n"
    "'provider', 'model', 'step' ('generate', 'repair', 'align', 'realign', 'execution', 'assess'),\n"
    "'prompt', 'reply', 'temperature', 'tokens_in' and 'tokens_out' (None where the provider reports\n"
    "no usage) and 'seconds'. replay, a path, is where the provider 'replay' finds its transcripts\n"
    "for this call (REPLAY_PATH when None).\n\n"
    "assumptions (None reads ASSUMPTIONS_CHECK) asks, once the final pair compiles (and solves, with\n"
    "the execution check), which assumptions it makes where the description is silent or ambiguous;\n"
    "the data's numbers the description does not give join them as 'invented_data'. what_if (the\n"
    "solve extra; implies assumptions) asks for the pair under each alternative reading, at most\n"
    "what_if_max requests, compiles and solves it and writes it beside the run's files\n"
    "(NAME.alt1.mod, NAME.alt1.dat, ...). A reply that is no list is reported in\n"
    "assumptions_error; the final pair and its answer stay as they are. cancel, a callable, is asked\n"
    "between the steps of the loop; once it returns true the run stops there and raises\n"
    "RuntimeError('the run was cancelled').";

inline constexpr const char* kGenerativeSolveDoc =
    "Generate a Tarvok model and data file from a prompt using OpenAI GPT, validate with tarvok, "
    "iterate on errors, and assess alignment.\n\n"
    "Each iteration asks the LLM for a model and data pair, compiles it, and writes both files\n"
    "(each replaced whole through a temporary file beside it, so a failure leaves the previous\n"
    "pair); compile errors are sent back for repair, and a compiling pair is judged against the\n"
    "description when the alignment check is on. With EXECUTION_CHECK on, a compiling pair is\n"
    "first solved (EXECUTION_TIME_LIMIT seconds) and one that is infeasible, unbounded or fails\n"
    "in the solver is sent back with the solver's verdict. Files are UTF-8.\n\n"
    "Parameters:\n"
    "  prompt             the problem description.\n"
    "  model_file         path of the model file to write; missing folders are created.\n"
    "  data_file          path of the data file to write; it must not name the model file\n"
    "                     (ValueError before any request).\n"
    "  model_name         the LLM's model name (MODEL_NAME at import).\n"
    "  mode               the Grammar reference pasted into the prompts (Grammar.BNF).\n"
    "  iterations         most generate/compile rounds; read as the host's int(), at least 1,\n"
    "                     MAX_ITERATIONS when it is no number.\n"
    "  return_statistics  return a dict with 'iterations', 'assessment' and 'syntax_errors'\n"
    "                     (the last round's compiler errors) instead of the assessment text;\n"
    "                     with EXECUTION_CHECK on, also 'solver_status' and 'objective' of the\n"
    "                     final pair (None when it was not solved).\n"
    "  alignment_check    judge compiling pairs against the description; None reads\n"
    "                     ALIGNMENT_CHECK.\n"
    "  temperature        float for the generating requests; judging requests then use 0.0,\n"
    "                     the final assessment 0.2; None sends no temperature at all.\n"
    "  stop               list of stop sequences (OpenAI only), or None.\n"
    "  llm_provider       'openai', 'google' or 'ollama' (or an alias); None or an unknown name\n"
    "                     lets the model name decide.\n"
    "  progress           callable taking one status line, or None for the debug log.\n"
    "  few_shot           put the closest worked examples of FEW_SHOT_LIBRARY into the prompts\n"
    "                     (FEW_SHOT_TOP_K of them).\n\n"
    "Returns the assessment text (trimmed), or the statistics dict. Raises RuntimeError for an\n"
    "empty or unparseable LLM reply and for failed requests (each request is bounded by\n"
    "REQUEST_TIMEOUT); errors of the files and the client libraries propagate.";

inline constexpr const char* kGenerativeFeedbackDoc =
    "Provide feedback on a given Tarvok model and data file based on a user prompt.\n\n"
    "One LLM request; nothing is compiled or written.\n\n"
    "Parameters:\n"
    "  prompt        the question or request about the model.\n"
    "  model_file    path of an existing model file (read as UTF-8).\n"
    "  data_file     path of an existing data file (read as UTF-8).\n"
    "  model_name    the LLM's model name (MODEL_NAME at import).\n"
    "  mode          the Grammar reference pasted into the prompt (Grammar.BNF).\n"
    "  temperature   any float sends temperature 0.0; None sends none.\n"
    "  stop          list of stop sequences (OpenAI only), or None.\n"
    "  llm_provider  'openai', 'google' or 'ollama' (or an alias); None lets the model name decide.\n"
    "  progress      callable taking one status line, or None for the debug log.\n\n"
    "Returns the parsed reply: 'feedback' and, when changes are proposed, 'revised_model' and\n"
    "'revised_data' (None when the reply is the JSON null). Raises RuntimeError for an empty or\n"
    "unparseable reply; a missing file fails before any request.";

inline constexpr const char* kExecuteModelDoc =
    "Solve a model and data pair for the execution check and report how it ended.\n\n"
    "Returns a map: 'status' (the solver's status word), 'objective', 'message' and\n"
    "'infeasible_constraints'. A fault that only the data reveals is the status 'error'.";
inline constexpr const char* kCheckProviderDoc =
    "Make the client of the provider a run would use, once, so that a missing key, library or\n"
    "transcript fails before any work; returns the provider. Nothing is made when the module's\n"
    "request step or run_generation was replaced.";

}  // namespace tarvok::generative
