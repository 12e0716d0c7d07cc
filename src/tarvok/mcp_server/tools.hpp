// What `tarvok mcp` offers an agent and how it reads what the agent sends:
// the tools with their descriptions and argument schemas, the resources, the
// `formulate` prompt, the checks of a call's arguments (each tool's request
// comes out typed, or the one message that says what is wrong), and data
// given as a JSON object written as a data text for the model at hand.
#pragma once

#include "compiler/data_values.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace tarvok::mcp_server {

using data::Value;

enum class ToolId : uint8_t { CheckModel, RunModel, EmitScript, FindExamples, GenerateModel, ListAssumptions, WhatIf };

struct ToolSpec {
    ToolId id;
    std::string_view name;
    std::string_view title;
    std::string_view description;   ///< written for an agent choosing among tools
    std::string_view input_schema;  ///< a JSON Schema object, as JSON text
    bool read_only;                 ///< reads nothing but its arguments and changes nothing
    bool open_world;                ///< talks to a service outside this machine
};

/// The tools, in the order they are listed.
const std::vector<ToolSpec>& tools();
const ToolSpec* tool_named(std::string_view name);

/// The most bytes a model or data text (or a description) may have.
inline constexpr std::size_t kMaxTextBytes = data::kMaxTextBytes;
using data::kMaxDataDepth;
/// The most examples find_examples returns, and how many by default.
inline constexpr int64_t kMaxExamples = 32;
inline constexpr int64_t kDefaultExamples = 3;
/// The most rounds generate_model may ask for.
inline constexpr int64_t kMaxIterations = 20;
/// The most alternative readings one call may explore.
inline constexpr int64_t kMaxWhatIf = 20;
/// How long generate_model's solve of the final pair may take: a generated
/// model that is hard to solve still gives its answer.
inline constexpr double kSolutionSeconds = 60;
/// How long run_model's solve may take when the call names no time_limit:
/// an agent that forgot one still gets an answer (status time limit, with
/// the best solution found).
inline constexpr double kRunSeconds = 60;
/// How long the calls still running when the client leaves get to end once
/// told to stop, before the server ends without them.
inline constexpr double kLeaveSeconds = 0.25;

/// A model and its data text, the data already written out from JSON when it
/// came as an object (`data_from_json`).
struct Pair {
    std::string model;
    std::string data;
    bool data_from_json = false;
};

struct CheckRequest {
    Pair pair;
};
struct RunRequest {
    Pair pair;
    std::optional<double> time_limit, mip_gap;
    bool sensitivity = false;
};
struct EmitRequest {
    Pair pair;
};
struct ExamplesRequest {
    std::string description;
    int64_t k = kDefaultExamples;
};
struct GenerateRequest {
    std::string description;
    std::optional<std::string> provider, model;
    std::optional<int64_t> iterations;
    std::optional<bool> execution_check;
    std::optional<bool> assumptions, what_if;
    std::optional<int64_t> what_if_max;
};
/// One reading of a model: what it assumes and the other reading.
struct Reading {
    std::string assumption, alternative, where, kind;
};
/// list_assumptions (no reading) or what_if (one reading) on a pair.
struct ReadingsRequest {
    std::string description;
    Pair pair;
    std::optional<std::string> provider, model;  ///< the LLM's
    std::optional<bool> what_if;
    std::optional<int64_t> what_if_max;
    std::optional<Reading> reading;
};

using Request = std::variant<CheckRequest, RunRequest, EmitRequest, ExamplesRequest, GenerateRequest, ReadingsRequest>;

/// A call's request, or why it cannot be made (`error`, one message for the agent).
struct Parsed {
    std::optional<Request> request;
    std::string error;
};

/// A call's arguments as the core reads them: a whole number within 64 bits
/// is an integer, a larger one the float the host makes of it. Nesting
/// deeper than twice kMaxDataDepth is refused (std::runtime_error).
Value arguments_of(const Value& given);

/// Reads the arguments of a call of `tool` (an object, or null for none).
Parsed parse_request(const ToolSpec& tool, const Value& arguments);

/// The solver's keyword options of run_model: the time limit (kRunSeconds
/// unless the call names one), the gap when asked for, and the sensitivity
/// figures when asked for.
Value solve_options(const RunRequest& request);

using data::data_from_json;

// ------------------------------------------------------------ resources ----

inline constexpr std::string_view kLanguageUri = "tarvok://language";
inline constexpr std::string_view kDiagnosticsUri = "tarvok://diagnostics";
inline constexpr std::string_view kExampleUriPrefix = "tarvok://examples/";
inline constexpr std::string_view kExampleUriTemplate = "tarvok://examples/{name}";

/// The example a resource address names, or nothing when it names none (a
/// name that could step out of the library is none).
std::optional<std::string> example_named_by(std::string_view uri);

/// One example as its resource shows it: the description, the model and the data.
std::string example_document(std::string_view name, std::string_view description, std::string_view model,
                             std::string_view data);

/// What the server tells an agent when it connects.
std::string_view instructions();

// --------------------------------------------------------------- prompt ----

inline constexpr std::string_view kFormulatePrompt = "formulate";
std::string_view formulate_description();
/// The prompt's text for a problem description (empty: the agent asks for one).
std::string formulate_text(std::string_view description);

}  // namespace tarvok::mcp_server
