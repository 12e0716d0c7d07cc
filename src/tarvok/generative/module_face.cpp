#include "generative/module_face.hpp"

#include "generative/call_arguments.hpp"

#include <stdexcept>

namespace tarvok::generative {

const FunctionDoc& function_doc(std::string_view name) {
    static const std::string run_parameters = run_parameter_list();  // its one home is the table of its parameters
    static const std::vector<FunctionDoc> functions{
        {"extract_json_from_markdown", "text",
         "Extract JSON object from a Markdown code block if present.\n\n"
         "Returns the object text of the first ```json fence (greedy up to the last\n"
         "closing fence), else the first brace-balanced run, else the text unchanged."},
        {"_json_loads_relaxed", "text",
         "Parse an LLM reply into a JSON object (or None for null).\n\n"
         "The reply is tried as it stands, then the text cut out by\n"
         "extract_json_from_markdown; the second attempt's error propagates."},
        {"_notify", "progress, msg",
         "Send one status line to the progress callback, or to the debug log when there is none.\n\n"
         "A callback that fails with an ordinary exception is ignored."},
        {"_hide_keys", "text",
         "Return text with the configured API keys hidden: each key, and each run of 12 or more of a\n"
         "key's characters, becomes '[key hidden]'. Every text the package stores or shows that may hold\n"
         "what a server sent goes through it."},
        {"_read_file", "path",
         "Read a whole text file as UTF-8, whatever the locale.\n\n"
         "Decoding is strict and line ends become line feeds; the content is\n"
         "returned complete. Errors of the file system or the decoder propagate."},
        {"_read_tarvok_GBNF", "",
         "Read the GBNF grammar of Tarvok shipped beside the package.\n\n"
         "The file is docs/grammars/Tarvok_GBNF under the installation root, else the package's own copy."},
        {"_read_tarvok_grammar", "",
         "Read the Markdown grammar reference of Tarvok shipped beside the package.\n\n"
         "The file is docs/grammars/Tarvok grammar.md under the installation root, else the package's own copy."},
        {"_read_tarvok_code", "", "Read the compiler front-end source shipped in the package."},
        {"_get_grammar_implementation", "mode",
         "Return the grammar reference text for a Grammar mode.\n\n"
         "NONE gives the empty text, BNF the Markdown grammar, CODE the compiler\n"
         "source; anything else raises ValueError."},
        {"_safe_read_text", "path, max_chars=2147483647",
         "Read a UTF-8 text file tolerantly, cut to max_chars and trimmed; empty on any failure.\n\n"
         "Undecodable bytes are dropped; the cut counts characters and happens\n"
         "before the trim, and a negative limit drops characters from the end."},
        {"_find_pair_in_folder", "desc_path",
         "Find the model and data files that belong to a problem description file.\n\n"
         "Each is the same-stem .mod or .dat file beside the description, else the first such file of\n"
         "the folder by name; None where the folder has none."},
        {"_gather_few_shots", "problem_description, k=3, models_dir=None, progress=None",
         "Gather up to k worked examples similar to the problem description; never fails.\n\n"
         "Each example maps description, model, data, desc_path, model_path and data_path to texts,\n"
         "best match first. Retrieval problems leave fewer examples or none."},
        {"_execute_model", "model_code, data_code, time_limit=None, solver='highs'",
         "Solve a model and data pair for the execution check and report how it ended.\n\n"
         "Returns a map: 'status' (the solver's status word), 'objective', 'message' and\n"
         "'infeasible_constraints'. A fault that only the data reveals is the status 'error'."},
        {"_check_provider", "llm_provider, model_name, replay=None",
         "Make the client of the provider a run would use, once, so that a missing key, library or\n"
         "transcript fails before any work; returns the provider. Nothing is made when the module's\n"
         "request step or run_generation was replaced."},
        {"generative_solve", nullptr,
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
         "REQUEST_TIMEOUT); errors of the files and the client libraries propagate."},
        {"generative_feedback", nullptr,
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
         "unparseable reply; a missing file fails before any request."},
        {"run_generation", run_parameters.c_str(),
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
         "RuntimeError('the run was cancelled'). solver ('highs' or 'scip') makes every solve of the call,\n"
         "and of the result's execute().\n\n"
         "existing=True asks for the readings of the pair model_file and data_file already hold: no pair\n"
         "is generated; it is compiled and, when it compiles, the assumptions step (and with what_if the\n"
         "what-if step) runs on it. reading, a dict with 'assumption' and 'alternative' (and 'where',\n"
         "'kind'), needs existing and explores that reading alone, as the what-if step would.\n\n"
         "max_size limits every compile of the call to models of at most that many columns and rows (ten\n"
         "times as many nonzeros); None reads tarvok_core.MAX_SIZE once, as the call starts."},
    };
    for (const FunctionDoc& f : functions)
        if (name == f.name) return f;
    throw std::out_of_range("no documentation for " + std::string(name));
}

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
         "an asked quantity that solves to the main objective becomes the final pair,\n"
         "'same_answer': it answers as the main pair does; those that change the\n"
         "answer come first) and 'unexplored'; None when the what-if step was not taken."},
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
