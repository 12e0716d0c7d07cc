#include "mcp_server/tools.hpp"

#include "common/json.hpp"
#include "compiler/compiler.hpp"
#include "compiler/json_args.hpp"
#include "generative/providers/providers.hpp"

#include <charconv>
#include <map>
#include <stdexcept>

namespace tarvok::mcp_server {

namespace {

using data::describe_kind;

constexpr std::string_view kDataSchema =
    R"({"description": "The data: the text of a .dat file (name = value; per line), or a JSON object {name: value} with numbers, strings, booleans, lists for sets and arrays (in the order of the index set, or an object keyed by the elements of a set the same data lists), and objects or lists for tuples. Leave it out when the model needs no data.", "anyOf": [{"type": "string"}, {"type": "object"}, {"type": "null"}]})";

/// Whole seconds as a schema and a description write them.
std::string seconds(double value) { return std::to_string(static_cast<long long>(value)); }

#define TARVOK_MODEL_SCHEMA \
    R"("model": {"type": "string", "description": "The model text (.mod): declarations, objective, subject to { ... }."})"

const std::string kCheckSchema = std::string(R"({"type": "object", "properties": {)") + TARVOK_MODEL_SCHEMA +
                                 R"(, "data": )" + std::string(kDataSchema) +
                                 R"(}, "required": ["model"], "additionalProperties": false})";

const std::string kRunSchema =
    std::string(R"({"type": "object", "properties": {)") + TARVOK_MODEL_SCHEMA + R"(, "data": )" +
    std::string(kDataSchema) + R"(, "time_limit": {"type": "number", "exclusiveMinimum": 0, "default": )" +
    seconds(kRunSeconds) + R"(, "description": "Stop the solver after this many seconds (default )" +
    seconds(kRunSeconds) +
    R"(; the answer is then the best solution found, with status time limit)."}, )"
    R"("mip_gap": {"type": "number", "minimum": 0, "description": "Relative MIP gap at which to stop (0.01 is 1%)."}, )"
    R"("sensitivity": {"type": "boolean", "default": false, "description": "Also return duals, reduced costs and ranging where the solver gives them."}}, )"
    R"("required": ["model"], "additionalProperties": false})";

const std::string kEmitSchema = kCheckSchema;

const std::string kRunDescription =
    "Solve a Tarvok model with its data using HiGHS and return the solution object: status (optimal, "
    "infeasible, unbounded, time limit, ...), objective, values of every variable and dexpr by name (an indexed one as objects nested over its "
    "index sets, keyed by the set elements: {\"ship\": {\"Oslo\": {\"Bergen\": 3}}}), "
    "infeasible_constraints (the constraints by label and line that cannot hold together, when infeasible), "
    "message and statistics. Use it once check_model says ok, to get numbers an answer can rest on. A model "
    "that does not compile, or data that does not fit it, is a failed call whose message lists the diagnostics. "
    "The solve stops after time_limit seconds (" +
    seconds(kRunSeconds) + " unless given); cancelling the call stops it at once.";

constexpr std::string_view kExamplesSchema =
    R"({"type": "object", "properties": {"description": {"type": "string", "minLength": 1, "description": "The optimisation problem in plain words."}, )"
    R"("k": {"type": "integer", "minimum": 1, "maximum": 32, "default": 3, "description": "How many examples to return."}}, )"
    R"("required": ["description"], "additionalProperties": false})";

/// The providers a caller may name, as the command names them ("google", as --provider does); one that
/// needs no extra answers from recordings, which a server is not given.
std::string provider_choices() {
    std::vector<std::string_view> names;
    for (const auto& p : generative::providers::kProviders)
        if (!p.extra.empty()) names.push_back(p.value);
    return generative::providers::spoken_list(names, "or") +
           " (default: " + std::string(generative::providers::kProviders.front().value) + ")";
}

/// The API key variables of the providers, first choice of each: "OPENAI_API_KEY, GEMINI_API_KEY, ...".
std::string key_variables() {
    std::string out;
    for (const auto& p : generative::providers::kProviders)
        if (!p.environment.empty()) out += std::string(p.environment.front()) + ", ";
    return out + "...";
}

const std::string kGenerateSchema =
    R"({"type": "object", "properties": {"description": {"type": "string", "minLength": 1, "description": "The optimisation problem in plain words, with its numbers."}, )"
    R"("provider": {"type": "string", "description": "The LLM provider: )" +
    provider_choices() +
    R"(."}, )"
    R"("model": {"type": "string", "description": "The provider's model name (default: the provider's default)."}, )"
    R"("iterations": {"type": "integer", "minimum": 1, "maximum": 20, "description": "Most repair rounds after the first attempt."}, )"
    R"("execution_check": {"type": "boolean", "description": "Also solve each compiling attempt and repair one that is infeasible or unbounded."}, )"
    R"("assumptions": {"type": "boolean", "description": "Also list the assumptions the final model makes where the description is silent or ambiguous (kind, where, the other reading)."}, )"
    R"("what_if": {"type": "boolean", "description": "Also solve the model under each listed alternative reading: the what-if table (implies assumptions)."}, )"
    R"("what_if_max": {"type": "integer", "minimum": 0, "maximum": 20, "default": 3, "description": "Most alternative readings to explore."}}, )"
    R"("required": ["description"], "additionalProperties": false})";

#define TARVOK_LLM_SCHEMA                                                                                  \
    R"("provider": {"type": "string", "description": "The LLM provider (as generate_model takes it)."}, )" \
    R"("llm_model": {"type": "string", "description": "The provider's model name (default: the provider's default)."})"

const std::string kListAssumptionsSchema =
    std::string(
        R"({"type": "object", "properties": {"description": {"type": "string", "minLength": 1, "description": "The problem in plain words that the model formulates."}, )") +
    TARVOK_MODEL_SCHEMA + R"(, "data": )" + std::string(kDataSchema) + ", " + TARVOK_LLM_SCHEMA +
    R"(, "what_if": {"type": "boolean", "description": "Also solve the model under each listed alternative reading."}, )"
    R"("what_if_max": {"type": "integer", "minimum": 0, "maximum": 20, "default": 3, "description": "Most alternative readings to explore."}}, )"
    R"("required": ["description", "model"], "additionalProperties": false})";

const std::string kWhatIfSchema =
    std::string(
        R"({"type": "object", "properties": {"description": {"type": "string", "minLength": 1, "description": "The problem in plain words that the model formulates."}, )") +
    TARVOK_MODEL_SCHEMA + R"(, "data": )" + std::string(kDataSchema) + ", " + TARVOK_LLM_SCHEMA +
    R"(, "assumption": {"type": "string", "minLength": 1, "description": "What the model assumes (as list_assumptions gives it)."}, )"
    R"("alternative": {"type": "string", "minLength": 1, "description": "The other reading to answer under."}, )"
    R"("kind": {"type": "string", "description": "invented_data, interpretation, units, boundary_condition or asked_quantity."}, )"
    R"("where": {"type": "string", "description": "The model or data lines it affects."}}, )"
    R"("required": ["description", "model", "assumption", "alternative"], "additionalProperties": false})";

const std::string kGenerateDescription =
    "Turn a plain-language problem into a Tarvok model and data with the server's own LLM loop (generate, "
    "compile, repair, check alignment), and return {model, data, compiled, aligned, assessment, iterations, "
    "diagnostics, solution}; with assumptions also the assumptions it makes, with what_if also the what-if "
    "table (the main answer and each alternative reading's, those that change the answer first, the others "
    "marked same_answer, each with its model and data). Use it when you would rather not write the model "
    "yourself, or as a second opinion. "
    "Slow (several LLM requests); sends progress notifications; needs the provider's API key in the server's "
    "environment (" +
    key_variables() + ").";

const std::vector<ToolSpec> kTools = {
    {ToolId::CheckModel, "check_model", "Check a Tarvok model",
     "Compile a Tarvok model (.mod text) with its data and return {ok, diagnostics}: every error and warning "
     "with its code (T0201 ...), file (model or data), line, column, message and, where the compiler knows it, "
     "a fix. Use it after writing or changing a model, before running it, and after each repair until ok is "
     "true. A model that does not compile is an answer here (ok false), not a failed call. Fast; no solver, no "
     "LLM.",
     kCheckSchema, true, false},
    {ToolId::RunModel, "run_model", "Solve a Tarvok model", kRunDescription, kRunSchema, true, false},
    {ToolId::EmitScript, "emit_script", "Write a SciPy script for a model",
     "Translate a Tarvok model with its data into a self-contained Python script that states the same program "
     "with numpy arrays and solves it with scipy.optimize (linprog or milp), and return the script's text. Use it "
     "when the user wants code to run without Tarvok, or to hand the program to SciPy. The model must compile.",
     kEmitSchema, true, false},
    {ToolId::FindExamples, "find_examples", "Find worked examples",
     "Return the shipped worked examples closest to a problem description, each with its description, model "
     "text and data text. Use it before writing a model: a close example shows the language's idioms (sets, "
     "tuples, forall, labels) for the same kind of problem. Ranked by embeddings where that extra is installed, "
     "else by shared words (BM25).",
     kExamplesSchema, true, false},
    {ToolId::GenerateModel, "generate_model", "Generate a model with an LLM", kGenerateDescription, kGenerateSchema,
     false, true},
    {ToolId::ListAssumptions, "list_assumptions", "List the assumptions of a model",
     "Ask the server's LLM which assumptions a model and data make where the problem description is silent or "
     "ambiguous, and return {assumptions: [{assumption, alternative, where, kind}], assumptions_error}; with what_if also the what-if table (the main answer and each alternative reading's, "
     "those that change the answer first, the others marked same_answer, each with its model and data). Use it "
     "before trusting a number: a listed reading the user did not mean changes the answer. Needs the provider's "
     "API key in the server's environment. A model that does not compile is a failed call with its diagnostics.",
     kListAssumptionsSchema, false, true},
    {ToolId::WhatIf, "what_if", "Answer a model under another reading",
     "Ask the server's LLM for the model under one alternative reading (an assumption and its alternative, as "
     "list_assumptions gives them), compile and solve it, and return {what_if}: the main answer and the alternative's status, objective and answer (or why it has none), same_answer, and its model "
     "and data. Needs the provider's API key in the server's environment.",
     kWhatIfSchema, false, true},
};

/// The arguments of one call, read by the servers' one reader of JSON
/// arguments; none (null) is an empty object.
class Arguments : public data::JsonArgs {
  public:
    explicit Arguments(const Value& given) : JsonArgs(given) {
        if (given.kind() != Value::Kind::Null && given.kind() != Value::Kind::Object)
            fail("the arguments must be an object, not " + describe_kind(given));
    }

    /// The model and its data (a text, a JSON object, or none: an empty text).
    Pair pair() {
        Pair p;
        p.model = text("model", true).value_or("");
        const Value* data = get("data");
        if (!data) return p;
        if (data->kind() == Value::Kind::String) {
            p.data = text("data", false).value_or("");
        } else if (data->kind() == Value::Kind::Object) {
            auto written = data_from_json(p.model, *data);
            if (written.index() == 1)
                fail("'data': " + std::get<1>(written));
            else
                p.data = std::move(std::get<0>(written));
            p.data_from_json = true;
        } else {
            fail("'data' must be a data text or a JSON object, not " + describe_kind(*data));
        }
        return p;
    }
};

}  // namespace

const std::vector<ToolSpec>& tools() { return kTools; }

const ToolSpec* tool_named(std::string_view name) {
    for (const ToolSpec& t : kTools)
        if (t.name == name) return &t;
    return nullptr;
}

Parsed parse_request(const ToolSpec& tool, const Value& arguments) {
    Arguments a(arguments);
    Parsed out;
    auto done = [&](Request r) {
        a.finish("argument", tool.name);
        if (a.failed())
            out.error = a.error();
        else
            out.request = std::move(r);
        return out;
    };
    if (a.failed()) {
        out.error = a.error();
        return out;
    }
    switch (tool.id) {
    case ToolId::CheckModel: {
        a.takes({"model", "data"});
        return done(CheckRequest{a.pair()});
    }
    case ToolId::EmitScript: {
        a.takes({"model", "data"});
        return done(EmitRequest{a.pair()});
    }
    case ToolId::RunModel: {
        a.takes({"model", "data", "time_limit", "mip_gap", "sensitivity"});
        RunRequest r;
        r.pair = a.pair();
        r.time_limit = a.number("time_limit", 0, true);
        r.mip_gap = a.number("mip_gap", 0, false);
        r.sensitivity = a.flag("sensitivity").value_or(false);
        return done(std::move(r));
    }
    case ToolId::FindExamples: {
        a.takes({"description", "k"});
        ExamplesRequest r;
        r.description = a.text("description", true, true).value_or("");
        r.k = a.integer("k", 1, kMaxExamples).value_or(kDefaultExamples);
        return done(std::move(r));
    }
    case ToolId::GenerateModel: {
        a.takes({"description", "provider", "model", "iterations", "execution_check", "assumptions", "what_if",
                 "what_if_max"});
        GenerateRequest r;
        r.description = a.text("description", true, true).value_or("");
        r.provider = a.text("provider", false, true);
        r.model = a.text("model", false, true);
        r.iterations = a.integer("iterations", 1, kMaxIterations);
        r.execution_check = a.flag("execution_check");
        r.assumptions = a.flag("assumptions");
        r.what_if = a.flag("what_if");
        r.what_if_max = a.integer("what_if_max", 0, kMaxWhatIf);
        return done(std::move(r));
    }
    case ToolId::ListAssumptions:
    case ToolId::WhatIf: {
        bool one = tool.id == ToolId::WhatIf;
        if (one)
            a.takes({"description", "model", "data", "provider", "llm_model", "assumption", "alternative", "kind",
                     "where"});
        else
            a.takes({"description", "model", "data", "provider", "llm_model", "what_if", "what_if_max"});
        ReadingsRequest r;
        r.description = a.text("description", true, true).value_or("");
        r.pair = a.pair();
        r.provider = a.text("provider", false, true);
        r.model = a.text("llm_model", false, true);
        if (one) {
            Reading& reading = r.reading.emplace();
            reading.assumption = a.text("assumption", true, true).value_or("");
            reading.alternative = a.text("alternative", true, true).value_or("");
            reading.kind = a.text("kind", false).value_or("");
            reading.where = a.text("where", false).value_or("");
        } else {
            r.what_if = a.flag("what_if");
            r.what_if_max = a.integer("what_if_max", 0, kMaxWhatIf);
        }
        return done(std::move(r));
    }
    }
    out.error = "unknown tool";
    return out;
}

// ------------------------------------------------------------ resources ----

Value arguments_of(const Value& given) {
    return data::host_numbers(given, 2 * kMaxDataDepth, "the arguments nest too deeply");
}

Value solve_options(const RunRequest& request) {
    Value options = Value::object();
    options.members().emplace_back("time_limit", Value::of(request.time_limit.value_or(kRunSeconds)));
    if (request.mip_gap) options.members().emplace_back("mip_gap", Value::of(*request.mip_gap));
    if (request.sensitivity) options.members().emplace_back("sensitivity", Value::of(true));
    return options;
}

std::optional<std::string> example_named_by(std::string_view uri) {
    if (uri.substr(0, kExampleUriPrefix.size()) != kExampleUriPrefix) return std::nullopt;
    std::string_view name = uri.substr(kExampleUriPrefix.size());
    if (name.empty() || name.size() > 200) return std::nullopt;
    for (char c : name) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!plain) return std::nullopt;
    }
    return std::string(name);
}

std::string example_document(std::string_view name, std::string_view description, std::string_view model,
                             std::string_view data) {
    // Fences longer than any run of backticks in the texts, so that none closes early.
    auto fence_for = [](std::string_view text) {
        size_t longest = 0, run = 0;
        for (char c : text) {
            run = c == '`' ? run + 1 : 0;
            longest = std::max(longest, run);
        }
        return std::string(std::max<size_t>(3, longest + 1), '`');
    };
    auto block = [&](std::string_view title, std::string_view text) {
        std::string fence = fence_for(text);
        std::string out = "## " + std::string(title) + "\n\n" + fence + "\n" + std::string(text);
        if (!text.empty() && text.back() != '\n') out += "\n";
        return out + fence + "\n";
    };
    std::string out = "# Example: " + std::string(name) + "\n\n## Problem\n\n" + std::string(description);
    if (!description.empty() && description.back() != '\n') out += "\n";
    return out + "\n" + block("Model (" + std::string(name) + ".mod)", model) + "\n" +
           block("Data (" + std::string(name) + ".dat)", data);
}

std::string_view instructions() {
    return "Tarvok models linear and mixed-integer optimisation problems. To formulate one: read tarvok://language "
           "for the language, call find_examples for close worked examples, write the model and its data, call "
           "check_model until ok is true (each diagnostic names its line and often its fix), then run_model for "
           "the solution. generate_model does all of this with the server's own LLM when a key is configured. "
           "Where the description leaves a point open, list_assumptions names the readings a pair takes and "
           "what_if solves one other reading, so the answer can be checked against them. "
           "tarvok://diagnostics lists the compiler's diagnostic codes.";
}

std::string_view formulate_description() {
    return "Walk through formulating an optimisation problem as a Tarvok model: describe, check, run.";
}

std::string formulate_text(std::string_view description) {
    std::string problem = description.empty() ? std::string(
                                                    "First ask me to describe the problem: what is decided, what is "
                                                    "optimised, which limits hold, and the numbers.")
                                              : "The problem:\n\n" + std::string(description);
    return "Formulate an optimisation problem as a Tarvok model and solve it, with the tarvok tools.\n\n" + problem +
           "\n\n"
           "Steps:\n"
           "1. Describe: restate the problem as decisions (variables, with their kind: continuous, integer, "
           "0/1), one objective, and constraints, each in one line of plain words; list the data and its units. "
           "Ask about anything the problem leaves open instead of guessing.\n"
           "2. Learn the language: read the resource tarvok://language, and call find_examples with the "
           "description to see worked models of the same kind.\n"
           "3. Write the model (.mod) and its data (.dat text, or a JSON object {name: value}) separately: the "
           "model declares data with `= ...;` and the data gives the numbers.\n"
           "4. Check: call check_model and fix every diagnostic (each names the line, and many carry the fix) "
           "until ok is true; read the warnings too.\n"
           "5. Run: call run_model. If the status is infeasible, the infeasible constraints name the labels and "
           "lines that conflict: revisit them against the description rather than deleting them.\n"
           "6. Report: the objective value and the decisions that matter, in the problem's own words and "
           "units, and the model text, so the user can check each constraint against the description.\n";
}

}  // namespace tarvok::mcp_server
