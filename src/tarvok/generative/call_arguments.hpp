// What the loop's entry points accept as their arguments, and the texts of
// their refusals. The binding tells what it saw of an argument (its exact
// built-in kind, whether it can be called, its number); the rules here decide
// and word the error, so every entry point refuses alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::generative {

/// An argument's exact built-in kind (a subclass is Other, a bool is no int).
enum class SeenKind : uint8_t { None, Bool, Int, Float, Str, List, Other };

/// What an argument may be.
enum class Expect : uint8_t {
    Bool,
    BoolOrNone,
    StrOrNone,
    FloatOrNone,
    ListOrNone,
    Count,          ///< an int of at least 0
    Seconds,        ///< an int or float greater than 0, or None
    FiniteSeconds,  ///< as Seconds, and finite
    CallableOrNone,
};

/// run_generation's parameters, in the order of its signature.
enum class RunArg : uint8_t {
    Prompt,
    ModelFile,
    DataFile,
    ModelName,
    LlmProvider,
    Mode,
    Iterations,
    AlignmentCheck,
    Temperature,
    Stop,
    Progress,
    FewShot,
    FewShotLibrary,
    ExecutionCheck,
    ExecutionTimeLimit,
    Timeout,
    EmbeddingModel,
    OnEvent,
    Record,
    Replay,
    Assumptions,
    WhatIf,
    WhatIfMax,
    Cancel,
    Solver,
    Existing,
    Reading,
    MaxSize,
};

struct RunParameter {
    const char* name;
    const char* given;  ///< the default as the host writes it; null for a required parameter
};

/// Each RunArg's name and default, in RunArg's order. The first
/// kRunPositional are positional, the rest keyword-only.
inline constexpr RunParameter kRunParameters[] = {{"prompt", nullptr},
                                                  {"model_file", nullptr},
                                                  {"data_file", nullptr},
                                                  {"model_name", "None"},
                                                  {"llm_provider", "None"},
                                                  {"mode", "None"},
                                                  {"iterations", "None"},
                                                  {"alignment_check", "None"},
                                                  {"temperature", "None"},
                                                  {"stop", "None"},
                                                  {"progress", "None"},
                                                  {"few_shot", "True"},
                                                  {"few_shot_library", "None"},
                                                  {"execution_check", "None"},
                                                  {"execution_time_limit", "None"},
                                                  {"timeout", "None"},
                                                  {"embedding_model", "None"},
                                                  {"on_event", "None"},
                                                  {"record", "None"},
                                                  {"replay", "None"},
                                                  {"assumptions", "None"},
                                                  {"what_if", "False"},
                                                  {"what_if_max", "3"},
                                                  {"cancel", "None"},
                                                  {"solver", "'highs'"},
                                                  {"existing", "False"},
                                                  {"reading", "None"},
                                                  {"max_size", "None"}};
inline constexpr std::size_t kRunPositional = 3;
static_assert(std::size(kRunParameters) == static_cast<std::size_t>(RunArg::MaxSize) + 1);

/// generative_solve's parameters that are run_generation's, in its order
/// (its own return_statistics, after iterations, is none of them).
inline constexpr RunArg kSolveArguments[] = {RunArg::Prompt,         RunArg::ModelFile,   RunArg::DataFile,
                                             RunArg::ModelName,      RunArg::Mode,        RunArg::Iterations,
                                             RunArg::AlignmentCheck, RunArg::Temperature, RunArg::Stop,
                                             RunArg::LlmProvider,    RunArg::Progress,    RunArg::FewShot};

constexpr const RunParameter& parameter(RunArg arg) { return kRunParameters[static_cast<std::size_t>(arg)]; }

/// run_generation's parameter list as the host shows it ("prompt, model_file, data_file, *, model_name=None, ...").
std::string run_parameter_list();

struct ArgumentRule {
    RunArg arg;
    Expect expect;
};

/// The error the host raises for a refused argument.
struct Refusal {
    enum class Error : uint8_t { Type, Value } error;
    std::string message;
};

/// How messages name an argument: "run_generation() argument 'timeout'".
std::string argument_subject(std::string_view function, std::string_view name);

/// The refusal of an argument by its kind, or none. `callable` and
/// `type_name` (the host's name of its type) are what the binding saw.
std::optional<Refusal> kind_refusal(std::string_view subject, Expect expect, SeenKind kind, bool callable,
                                    std::string_view type_name);

/// Whether the rule also judges the number of an argument that passed its kind (and is not None).
bool judges_number(Expect expect);

/// The refusal of an argument's number, or none; `shown` is the host's str() of it.
std::optional<Refusal> number_refusal(std::string_view subject, Expect expect, double number, std::string_view shown);

/// The refusal of a text that is none of `names`: "... must be 'a' or 'b', not 'c'" (`shown` is its repr).
Refusal choice_refusal(std::string_view subject, const std::vector<std::string>& names, std::string_view shown);

/// Why two path arguments that name one file are refused (`shown`: the second path).
std::string same_file_refusal(std::string_view function, std::string_view first, std::string_view second,
                              std::string_view shown);

/// What every request of a call takes, checked by every entry point that sends one.
inline constexpr ArgumentRule kRequestArguments[] = {{RunArg::Temperature, Expect::FloatOrNone},
                                                     {RunArg::Stop, Expect::ListOrNone},
                                                     {RunArg::LlmProvider, Expect::StrOrNone}};

/// The options only run_generation has, in the order they are checked.
inline constexpr ArgumentRule kPerCallArguments[] = {{RunArg::Existing, Expect::Bool},
                                                     {RunArg::Assumptions, Expect::BoolOrNone},
                                                     {RunArg::WhatIf, Expect::Bool},
                                                     {RunArg::WhatIfMax, Expect::Count},
                                                     {RunArg::ExecutionCheck, Expect::BoolOrNone},
                                                     {RunArg::ExecutionTimeLimit, Expect::Seconds},
                                                     {RunArg::Timeout, Expect::FiniteSeconds},
                                                     {RunArg::EmbeddingModel, Expect::StrOrNone},
                                                     {RunArg::OnEvent, Expect::CallableOrNone}};

/// run_generation's cancel callback, checked once its solver is.
inline constexpr ArgumentRule kCancelArgument = {RunArg::Cancel, Expect::CallableOrNone};

/// The step that needs a solver library, as its refusal begins.
inline constexpr const char* kWhatIfSolves = "The what-if step solves every alternative with";
inline constexpr const char* kExecutionCheckSolves = "The execution check (EXECUTION_CHECK) solves models with";

/// What the solver module's availability check is told when `step` needs
/// `solver`: why it is needed, and whether the `solve` extra brings it.
struct SolverNeed {
    std::string why;
    bool in_solve_extra = false;
};

SolverNeed solver_need(std::string_view step, std::string_view solver);

}  // namespace tarvok::generative
