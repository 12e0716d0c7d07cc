#include "generative/settings.hpp"

namespace tarvok::generative {

namespace {

constexpr std::size_t kValueColumn = 20, kAboutColumn = 30;

}  // namespace

const std::vector<Setting>& settings() {
    static const std::vector<Setting> table{
        {"MAX_ITERATIONS", 5LL, "5",
         "default iterations of generative_solve (bound at import), and its\n"
         "fallback when the iterations argument is no number (read per call)"},
        {"MAX_OUTPUT_TOKENS", std::monostate(), "None",
         "output-token limit of every request (read per call by the entry points)"},
        {"LLM_PROVIDER", "openai", "'openai'", "default provider of the entry points (bound at import)"},
        {"MODEL_NAME", "gpt-5", "'gpt-5'", "default model of the entry points and list_models (bound at import)"},
        {"ALIGNMENT_CHECK", true, "True", "whether generative_solve asks for an alignment verdict (read per call)"},
        {"FEW_SHOT_TOP_K", 3LL, "3", "worked examples put into the prompts (read per call)"},
        {"FEW_SHOT_MAX_CHARS", 2147483647LL, "2**31-1", "characters read from each example file (bound at import)"},
        {"FEW_SHOT_LIBRARY", "tvl_models", "'tvl_models'",
         "the example library generative_solve ranks: a folder, relative to the\n"
         "working directory at call time; None, or a folder that does not exist,\n"
         "for the library shipped with the package (read per call)"},
        {"REQUEST_TIMEOUT", 300.0, "300.0",
         "seconds one LLM request may take, for every provider's client, whose\n"
         "own retries are off; None for the client's own default (read per call)"},
        // Opt-in: solve every compiling pair and revise it when it does not solve.
        {"EXECUTION_CHECK", false, "False",
         "whether generative_solve solves every compiling model and revises one\n"
         "that is infeasible, unbounded or fails in the solver (read per call)"},
        {"EXECUTION_TIME_LIMIT", 60.0, "60.0", "seconds for each of those solves; None for no limit (read per call)"},
        {"REPLAY_PATH", std::monostate(), "None",
         "the transcripts the provider 'replay' answers from: a .jsonl file, or a\n"
         "folder searched for *.jsonl; each prompt gets the reply last recorded\n"
         "for it (read per call)"},
        // Opt-in: one more request, listing what the model assumes.
        {"ASSUMPTIONS_CHECK", false, "False",
         "whether generative_solve asks, once the final model compiles, which\n"
         "assumptions it makes; return_statistics then carries 'assumptions'\n"
         "and 'what_if' (read per call)"},
    };
    return table;
}

std::string module_doc() {
    std::string doc =
        "Generate Tarvok models and data from plain-language problem descriptions with an LLM.\n\n"
        "Settings (module attributes; assign them to change what later calls do):\n\n";
    const std::string indent(kAboutColumn, ' ');
    for (const Setting& s : settings()) {
        std::string row = s.name;
        row.append(row.size() < kValueColumn ? kValueColumn - row.size() : 1, ' ');
        row += s.shown;
        // The description starts on this line when the value leaves room for a space.
        row += row.size() < kAboutColumn ? std::string(kAboutColumn - row.size(), ' ') : "\n" + indent;
        std::string_view about = s.about;
        for (std::size_t end; (end = about.find('\n')) != std::string_view::npos; about.remove_prefix(end + 1))
            row.append(about.substr(0, end)).append("\n").append(indent);
        doc += row.append(about).append("\n");
    }
    return doc +
           "\nrun_generation takes what it reads per call as options of that call, which leave the settings as\n"
           "they are.";
}

}  // namespace tarvok::generative
