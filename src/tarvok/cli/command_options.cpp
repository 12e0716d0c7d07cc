#include "cli/command_options.hpp"

#include "emitter/targets.hpp"
#include "generative/providers/providers.hpp"

#include <cmath>

// The tables name only the fields a row sets; the others keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tarvok::cli {

namespace pv = tarvok::generative::providers;

namespace {

Option flag(std::vector<std::string> flags, std::string help) {
    return {.flags = std::move(flags), .kind = ValueKind::Flag, .help = std::move(help)};
}

Option json_option(std::string help) { return flag({"--json"}, std::move(help)); }

std::vector<Option> pair_files() {
    return {{.flags = {"-m", "--model-file"}, .metavar = "FILE.mod", .required = true},
            {.flags = {"-d", "--data-file"}, .metavar = "FILE.dat", .required = true}};
}

/// --model, --provider, --timeout, --replay, --json and, with `with_grammar`, --grammar and --temperature.
std::vector<Option> llm_options(const OptionDefaults& d, bool with_grammar) {
    std::vector<Option> options{
        {.flags = {"--model"},
         .metavar = "NAME",
         .help = "LLM model name (default: " + d.model_name + ")",
         .dest = "model_name"},
        {.flags = {"--provider"},
         .metavar = "NAME",
         .help = pv::provider_names() + " (default: inferred from the model name)"},
        {.flags = {"--timeout"},
         .kind = ValueKind::Float,
         .metavar = "SECONDS",
         .help = "give up on an LLM request after SECONDS"},
        {.flags = {"--replay"},
         .metavar = "PATH",
         .help = "answer every request with the reply recorded for its prompt in PATH (a transcript, or a folder "
                 "searched for *.jsonl); implies --provider replay"},
    };
    if (with_grammar) {
        options.push_back({.flags = {"--grammar"},
                           .help = "grammar reference pasted into the prompts (default: bnf)",
                           .default_value = "bnf",
                           .choices = {"none", "bnf", "code"}});
        options.push_back({.flags = {"--temperature"}, .kind = ValueKind::Float, .metavar = "T"});
    }
    options.push_back(json_option("print a machine-readable result (and errors as JSON)"));
    return options;
}

Option embedding_option(const OptionDefaults& d) {
    return {.flags = {"--embedding-model"},
            .metavar = "NAME_OR_PATH",
            .help = "sentence-embedding model that ranks the examples (default: $TARVOK_EMBEDDING_MODEL, else " +
                    d.embedding_model + ", offline from the rag extra's packaged weights)"};
}

Option size_option(const OptionDefaults& d) {
    return {.flags = {"--max-size"},
            .kind = ValueKind::Int,
            .metavar = "N",
            .help = "refuse a model that would expand to more than N columns or rows, or 10 N nonzeros (default: " +
                    d.max_size + ")"};
}

Option solver_option(const OptionDefaults& d) {
    std::string names;
    for (const std::string& name : d.solvers) names += (names.empty() ? "" : ", ") + name;
    std::string first = d.solvers.empty() ? "" : d.solvers.front();
    return {.flags = {"--solver"},
            .help = "the solver: " + names + " (default: " + first + "; scip needs the scip extra)",
            .default_value = first,
            .choices = d.solvers};
}

Option model_argument() { return {.flags = {"model"}, .metavar = "MODEL.mod"}; }

void append(std::vector<Option>& to, std::vector<Option> more) {
    to.insert(to.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
}

OptionTable solve_command(const OptionDefaults& d) {
    OptionTable c{"solve",
                  "generate a model and data file from a problem description",
                  pv::providers_help(d.model_name),
                  {{.flags = {"description"}, .help = "the problem in plain words, or @file.txt"}}};
    append(c.options, pair_files());
    append(c.options, llm_options(d, true));
    append(
        c.options,
        {
            {.flags = {"--iterations"},
             .kind = ValueKind::Int,
             .metavar = "N",
             .help = "at most N generate/compile rounds (default: " + d.max_iterations + ")"},
            flag({"--no-alignment"}, "skip the alignment check (a compiling pair is then success)"),
            flag({"--no-few-shot"}, "do not put worked examples into the prompts"),
            {.flags = {"--examples"},
             .metavar = "DIR",
             .help = "example library (default: ./tvl_models, else the shipped one)"},
            embedding_option(d),
            flag({"--stats"}, "print iterations and remaining errors too"),
            flag({"--run"}, "solve the final model with HiGHS and print the solution too"),
            solver_option(d),
            {.flags = {"--emit"},
             .metavar = "SCRIPT.py",
             .help = "also write a SciPy script that solves the final model"},
            flag(
                {"--execution-check"},
                "solve every compiling model with HiGHS and revise one that is infeasible or unbounded (the solve extra)"),
            {.flags = {"--record"},
             .metavar = "FILE.jsonl",
             .help =
                 "append one JSON line per LLM request and reply to FILE.jsonl (provider, model, step, prompt, reply, "
                 "temperature, tokens, seconds); --replay answers from it"},
            {.flags = {"--samples"},
             .kind = ValueKind::Int,
             .metavar = "N",
             .help =
                 "generate N times, one after another, solve every final model that compiles and keep the one whose "
                 "objective most samples reach (ties: fewer repairs); the share that agrees is printed as its "
                 "confidence (default: 1)",
             .default_value = "1"},
            {.flags = {"--rel-tol"},
             .kind = ValueKind::Float,
             .metavar = "T",
             .help = "with --samples, objectives within T * max(1, |objective|) agree (default: 1e-4)",
             .default_value = "1e-4"},
            flag({"--assumptions"},
                 "once the final model compiles, ask which assumptions it makes where the description is silent or "
                 "ambiguous, and print them with their alternatives"),
            flag({"--what-if"},
                 "with --assumptions: ask for the model under each alternative reading, solve it and print the answer "
                 "under each beside the main one; each is kept as NAME.alt1.mod/.dat, ... (the solve extra)"),
            {.flags = {"--what-if-max"},
             .kind = ValueKind::Int,
             .metavar = "K",
             .help = "at most K what-if requests (default: 3)",
             .default_value = "3"},
            size_option(d),
        });
    return c;
}

OptionTable feedback_command(const OptionDefaults& d) {
    OptionTable c{"feedback",
                  "ask a question about an existing model and data file",
                  pv::providers_help(d.model_name),
                  {{.flags = {"question"}, .help = "the question, or @file.txt"}}};
    append(c.options, pair_files());
    append(c.options, llm_options(d, true));
    c.options.push_back(flag({"--apply"},
                             "write the proposed revision once it compiles (the one shown by the same command without "
                             "--apply, when there was one); the old files are kept as FILE.bak"));
    return c;
}

OptionTable models_command(const OptionDefaults& d) {
    OptionTable c{"models", "list a provider's models", pv::providers_help(d.model_name), llm_options(d, false)};
    c.options.push_back(
        {.flags = {"--prefix"},
         .metavar = "TEXT",
         .help = "only names that start with TEXT (default: the provider's own filter: " + pv::listing_filters() + ")",
         .exclusive = true});
    Option all = flag({"--all"}, "every model name");
    all.exclusive = true;
    c.options.push_back(all);
    return c;
}

OptionTable check_command(const OptionDefaults& d) {
    return {"check",
            "compile a model and data file; print the errors and warnings, or OK",
            "",
            {model_argument(),
             {.flags = {"data"},
              .metavar = "DATA",
              .help = "the data, read as run reads it: a .dat file, a .json object {name: value}, or a folder of "
                      "NAME.csv files; several merge (left out: the model alone is checked, not its data)",
              .nargs = "*"},
             json_option("print the diagnostic records as JSON"),
             size_option(d)}};
}

OptionTable run_command(const OptionDefaults& d) {
    return {"run",
            "solve a model and data file with HiGHS and print the solution",
            "",
            {model_argument(),
             {.flags = {"data"},
              .metavar = "DATA",
              .help = "the data: a .dat file, a .json object {name: value}, or a folder of NAME.csv files; several "
                      "merge (leave it out when the model needs none)",
              .nargs = "*"},
             json_option("print one JSON object: status, objective, values, ..."),
             {.flags = {"--time-limit"},
              .kind = ValueKind::Float,
              .metavar = "S",
              .help = "stop the solver after S seconds"},
             {.flags = {"--mip-gap"},
              .kind = ValueKind::Float,
              .metavar = "G",
              .help = "relative MIP gap at which to stop"},
             {.flags = {"--threads"}, .kind = ValueKind::Int, .metavar = "N"},
             flag({"--duals"},
                  "also print duals, reduced costs, row activities and slacks (a MIP: those of its LP with the "
                  "integer columns fixed at the solution)"),
             flag({"--sensitivity"}, "as --duals, with the ranges of costs and right-hand sides"),
             {.flags = {"--write"}, .metavar = "FILE", .help = "also write the expanded model as FILE.mps or FILE.lp"},
             {.flags = {"--solution"}, .metavar = "FILE", .help = "also write the solution as FILE.json or FILE.csv"},
             flag({"--nested-values"},
                  "in JSON, give an indexed variable's values as lists nested in index-set order instead of "
                  "objects keyed by its set elements"),
             flag({"--verbose"}, "solver log and sizes on stderr"),
             solver_option(d),
             size_option(d)}};
}

OptionTable emit_command(const OptionDefaults& d) {
    std::string targets;
    for (const emitter::Emitter* t : emitter::targets())
        targets += (targets.empty() ? "" : ", ") + std::string(t->name) + " (" + std::string(t->summary) + ")";
    std::string default_name(emitter::default_target().name);
    return {"emit",
            "write a Python script that states and solves a model with SciPy",
            "",
            {model_argument(),
             {.flags = {"data"},
              .metavar = "DATA",
              .help = "the data, read as run reads it: a .dat file, a .json object {name: value}, or a folder of "
                      "NAME.csv files; several merge (leave it out when the model needs none)",
              .nargs = "*"},
             {.flags = {"-o", "--output"},
              .metavar = "SCRIPT.py",
              .help = "the script; a large model's numbers go to SCRIPT.npz beside it",
              .required = true},
             {.flags = {"--to"},
              .metavar = "TARGET",
              .help = "what to write: " + targets + "; default: " + default_name,
              .default_value = default_name},
             size_option(d)}};
}

OptionTable rank_command(const OptionDefaults& d) {
    return {"rank",
            "rank the example library against a problem description",
            "The default embedding model is loaded offline from the weights the rag extra installs; without an "
            "embedding model the examples are ranked by the words they share with the description (BM25).",
            {{.flags = {"query"}, .metavar = "WORD", .help = "the problem description", .nargs = "*"},
             embedding_option(d),
             {.flags = {"--examples"}, .metavar = "DIR", .help = "example library (default: the shipped one)"},
             {.flags = {"--top-k"},
              .kind = ValueKind::Int,
              .metavar = "N",
              .help = "how many to print; 0 for all (default: 10)",
              .default_value = "10"},
             json_option("print the ranking as JSON (and errors as JSON)")}};
}

OptionTable lsp_command(const OptionDefaults&) {
    return {"lsp",
            "run the language server for .mod and .dat files (the lsp extra)",
            "Editors start it and talk to it on stdin and stdout; docs/editors.md shows how.",
            {flag({"--stdio"}, "talk on stdin and stdout (the only transport; accepted because editors pass it)")}};
}

OptionTable mcp_command(const OptionDefaults&) {
    return {"mcp",
            "run the MCP server for agents: check, run, emit, find and generate models (the mcp extra)",
            "MCP clients start it and talk to it on stdin and stdout; docs/editors.md shows the configuration. "
            "generate_model reads the provider's key from this process's environment.",
            {}};
}

OptionTable serve_command(const OptionDefaults&) {
    return {"serve",
            "serve a local page to describe, generate, read, solve and revise models (the web extra)",
            "The page reads the provider's key from this process's environment; it never asks for one. Every file it "
            "writes goes under --workdir.",
            {{.flags = {"--host"},
              .help = "the address to listen on (default: 127.0.0.1, this machine only)",
              .default_value = "127.0.0.1"},
             {.flags = {"--port"}, .kind = ValueKind::Int, .help = "the port (default: 8000)", .default_value = "8000"},
             flag({"--open"}, "open the page in a browser"),
             {.flags = {"--workdir"},
              .metavar = "DIR",
              .help = "the folder the server writes in (default: a new folder under the user's data folder)"}}};
}

/// Sized by its rows: a new subcommand is one row here (and its table above).
constexpr Subcommand kSubcommands[] = {
    {"solve", solve_command}, {"feedback", feedback_command}, {"models", models_command}, {"check", check_command},
    {"run", run_command},     {"emit", emit_command},         {"rank", rank_command},     {"eval"},
    {"lsp", lsp_command},     {"mcp", mcp_command},           {"serve", serve_command},
};

}  // namespace

std::span<const Subcommand> subcommands() { return kSubcommands; }

std::optional<OptionTable> options_of(std::string_view name, const OptionDefaults& d) {
    for (const Subcommand& subcommand : kSubcommands)
        if (subcommand.name == name && subcommand.options) return subcommand.options(d);
    return std::nullopt;
}

std::string main_epilog(const std::string& model_name) {
    std::string text = pv::providers_help(model_name) +
                       "TARVOK_EMBEDDING_MODEL: the embedding model that ranks worked examples "
                       "(solve, rank; see --embedding-model)\n\nexit statuses:\n";
    for (const ExitStatusRow& row : kExitStatuses) {
        std::string number = std::to_string(code(row.status));
        text += "  " + number + std::string(5 - number.size(), ' ') + std::string(row.meaning) + "\n";
    }
    return text;
}

std::string first_line(std::string message, const std::string& kind) {
    auto newline = message.find('\n');
    if (newline != std::string::npos) message = message.substr(0, newline) + " ...";
    if (message.empty()) message = kind;
    return message;
}

std::string out_of_memory_line(const std::string& first, const std::string& kind) {
    if (first.rfind("not enough memory", 0) == 0) return first;
    if (first.empty() || first == kind || first == "std::bad_alloc") return "not enough memory";
    return "not enough memory: " + first;
}

[[noreturn]] void fail(ExitStatus status, std::string message) { throw Failure{status, std::move(message)}; }

data::Value failure_json(const Failure& failure) {
    return data::Value::object({{"error", data::Value::of(failure.message)},
                                {"status", data::Value::of(static_cast<int64_t>(code(failure.status)))}});
}

void refuse(const Refusal& refusal) {
    if (refusal) fail(ExitStatus::Usage, *refusal);
}

Refusal refused_timeout(std::optional<double> seconds) {
    if (!seconds || (*seconds > 0 && std::isfinite(*seconds))) return std::nullopt;
    return "--timeout must be a positive number";
}

Refusal refused_llm_choice(const LlmChoice& c) {
    if (c.provider && pv::provider_from_alias(c.provider_key) == nullptr)
        return "unknown provider '" + *c.provider + "'; choose " + pv::provider_names();
    bool named = c.provider && c.provider_key == "replay";
    if (!c.replay && named && !c.default_replay)
        return "--provider replay needs --replay PATH (a transcript or a folder of them)";
    if (c.replay && c.provider && !named)
        return "--replay answers requests itself; it cannot go with --provider " + *c.provider;
    if (c.replay && c.replay_refusal) return c.replay_refusal;
    return refused_timeout(c.timeout);
}

Refusal refused_below(const std::string& option, double value, long long least) {
    if (value >= static_cast<double>(least) && std::isfinite(value)) return std::nullopt;
    return option + " must be at least " + std::to_string(least);
}

Refusal refused_target(const std::string& target) {
    if (emitter::find_target(target)) return std::nullopt;
    std::string choices;
    for (const emitter::Emitter* t : emitter::targets())
        choices += (choices.empty() ? "" : ", ") + std::string(t->name);
    return "unknown target '" + target + "' (choose " + choices + ")";
}

std::vector<std::pair<std::string, data::Value>> parser_keywords(const Option& option) {
    using data::Value;
    std::vector<std::pair<std::string, Value>> kw;
    auto text = [&](const char* key, const std::string& value) {
        if (!value.empty()) kw.emplace_back(key, Value::of(value));
    };
    text("dest", option.dest);
    if (option.kind == ValueKind::Flag) kw.emplace_back("action", Value::of("store_true"));
    if (option.kind == ValueKind::Int) kw.emplace_back("type", Value::of("int"));
    if (option.kind == ValueKind::Float) kw.emplace_back("type", Value::of("float"));
    if (!option.choices.empty()) {
        Value choices = Value::array();
        for (const std::string& choice : option.choices) choices.items().push_back(Value::of(choice));
        kw.emplace_back("choices", std::move(choices));
    }
    if (option.default_value) {
        const std::string& given = *option.default_value;
        kw.emplace_back("default", option.kind == ValueKind::Int ? Value::of(static_cast<int64_t>(std::stoll(given)))
                                   : option.kind == ValueKind::Float ? Value::of(std::stod(given))
                                                                     : Value::of(given));
    }
    text("nargs", option.nargs);
    if (option.required) kw.emplace_back("required", Value::of(true));
    text("metavar", option.metavar);
    text("help", option.help);
    return kw;
}

}  // namespace tarvok::cli
