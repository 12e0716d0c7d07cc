// The settings of one evaluation run as plain values: run_evaluation's
// arguments (and the command's options made into them), the checks of their
// values with the texts that refuse them, the names of the files a run
// writes, and the lines it tells about them. The binding checks the kinds
// of the host's values, converts and calls.
#pragma once

#include "common/exit_status.hpp"
#include "compiler/data_values.hpp"
#include "evaluation/dataset.hpp"
#include "evaluation/results.hpp"
#include "evaluation/runner.hpp"

#include <array>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace tarvok::evaluation {

/// One run's settings.
struct Settings {
    std::optional<std::string> provider;  ///< none: inferred from the model name
    std::optional<std::string> model;     ///< the LLM model name; none: the library's MODEL_NAME
    long long jobs = 1;
    std::optional<long long> iterations;  ///< none: the library's MAX_ITERATIONS
    std::optional<bool> execution_check;  ///< none: EXECUTION_CHECK as it stands
    double rel_tol = 1e-4;
    std::optional<long long> limit;
    bool progress = true;
    bool force = false;                   ///< run in a folder that holds another run's records
    bool retry_errors = true;             ///< run again the problems a provider error ended
    long long stop_after_errors = 3;      ///< stop when this many first problems all meet provider errors (0: never)
    long long repeat = 1;                 ///< runs of each problem
    long long samples = 1;                ///< generations voted on per problem
    std::optional<bool> alignment_check;  ///< none: ALIGNMENT_CHECK as it stands
    bool assumptions = false, what_if = false;  ///< the assumptions step, and its what-if answers
    long long what_if_max = 3;                  ///< what-if requests per problem
    std::string solver = "highs";               ///< of every solve
    Fields fields;                              ///< the record fields the user named
    std::optional<double> timeout;              ///< seconds per LLM request; none: REQUEST_TIMEOUT as it stands
    std::string provider_name;                  ///< the provider the model name and `provider` choose
};

/// One run's configuration, made once as the command or the library call
/// starts and handed down: its settings, its paths and the names shown.
struct RunConfig : Settings {
    std::filesystem::path dataset, out_dir;  ///< as the file system names them (out_dir absolute)
    /// As the host names them: the data set, the output folder, its results and summary files.
    std::string dataset_name, out_name, results_name, summary_name;
    std::string dataset_shown, model_shown;  ///< the data set's name and the model, the keys hidden
    /// The loop's checks as the run makes them: its own, else the module's setting as the run starts.
    bool execution_check_made = false, alignment_check_made = false;
};

/// run_evaluation's arguments that are read by their kind alone, in the
/// order they are checked: `visit(name, member)` for each.
template <typename S, typename Visit>
void each_argument(S& s, Visit&& visit) {
    visit("provider", s.provider);
    visit("model", s.model);
    visit("jobs", s.jobs);
    visit("iterations", s.iterations);
    visit("execution_check", s.execution_check);
    visit("rel_tol", s.rel_tol);
    visit("limit", s.limit);
    visit("progress", s.progress);
    visit("force", s.force);
    visit("retry_errors", s.retry_errors);
    visit("stop_after_errors", s.stop_after_errors);
    visit("repeat", s.repeat);
    visit("samples", s.samples);
    visit("alignment_check", s.alignment_check);
    visit("assumptions", s.assumptions);
    visit("what_if", s.what_if);
    visit("what_if_max", s.what_if_max);
}

/// The plain options each problem of the run gets (beside the host's own:
/// the example library, the solve's time limit and the replay path). The
/// solver and the assumptions
/// options are there only when not the default.
template <typename S, typename Visit>
void each_problem_setting(S& s, Visit&& visit) {
    visit("model", s.model);
    visit("provider", s.provider);
    visit("iterations", s.iterations);
    visit("execution_check", s.execution_check);
    visit("timeout", s.timeout);
    visit("alignment_check", s.alignment_check);
    visit("samples", s.samples);
    visit("rel_tol", s.rel_tol);
    if (s.solver != "highs") visit("solver", s.solver);
    if (!s.assumptions) return;
    visit("assumptions", s.assumptions);
    visit("what_if", s.what_if);
    visit("what_if_max", s.what_if_max);
}

/// A keyword of the generation loop's call for one problem: the problem
/// setting it takes (see each_problem_setting), and what stands in when the
/// settings lack it (none: the setting must be there).
struct LoopKeyword {
    const char* keyword;
    const char* setting;
    std::optional<data::Value> fallback;
};

/// The keywords each generation of a run is called with, beside its
/// progress callback and the transcript it records.
const std::vector<LoopKeyword>& loop_keywords();

/// run_evaluation's arguments as plain values, their kinds checked.
struct Arguments {
    Settings settings;
    /// The map `fields`: each key and the field it names (none: not a text).
    std::vector<std::pair<std::string, std::optional<std::string>>> fields;
    std::optional<std::string> solver;  ///< none: not a text
    std::vector<std::string> solvers;   ///< the names a solver may have
    std::string solver_choices;         ///< those names quoted and spoken ("'a' or 'b'")
    /// When a replay path is given: it, the output folder and their common
    /// path, all absolute.
    std::optional<std::array<std::string, 3>> replay;
};

/// An argument refused for its value: which, and what it must be.
struct Refusal {
    std::string parameter, needs;
};

/// Checks the values in the order the arguments come, and completes the
/// settings (`fields`, `solver`; what_if implies assumptions); the first
/// refusal, if any.
std::optional<Refusal> check_arguments(Arguments& arguments);

/// The error's text for a refusal; `shown` is the host's repr of the value
/// (a ValueError), or the name of its type when the kind is wrong (a TypeError).
std::string refusal_text(const Refusal& refusal, const std::string& shown);

// ------------------------------------------------------------- the command

/// The parsed arguments of `tarvok eval` (see eval_arguments) as plain
/// values, by the names the parser gives them; one left None is absent.
using ParsedArguments = std::map<std::string, std::variant<std::string, long long, double, bool>>;

/// The name the parser gives an argument's value: "--rel-tol" is "rel_tol".
std::string parsed_name(std::string_view argument);

/// The options as their checks take them, but for what the host alone
/// knows: the provider's key and whether it names one, the providers to
/// choose from, whether the replay path exists and the library's REPLAY_PATH.
CommandOptions command_options(const ParsedArguments& parsed);

/// run_evaluation's arguments as the command makes them from its options:
/// --replay implies the provider replay, the flags turn the loop's checks
/// on or off or leave them to the library, and the progress shows.
Arguments command_arguments(const ParsedArguments& parsed);

/// The key under which the run's records are answers: `execution_check`
/// and `alignment` as the run makes them (the library's own when the
/// settings leave them open).
RunKey run_key(const Settings& s, bool execution_check, bool alignment);

// ------------------------------------------------------------- the data set

/// The format a data set's file name says: CSV for ".csv" (any case), else JSON.
Format format_of(std::string_view path);

/// The data set's problems from its file's bytes, cut to the limit and
/// repeated, each with the hash of its question; DatasetError with the line to show for a set that cannot be used.
Dataset load_dataset(std::string_view bytes, const std::string& path, const Settings& settings);

// ---------------------------------------------------------- files and lines

/// What a run writes in its output folder, and each problem in its own.
inline constexpr const char* kResultsFile = "results.jsonl";
inline constexpr const char* kSummaryFile = "summary.json";
/// The lock file's name; a problem's folder never starts with '.', so none can be it.
inline constexpr const char* kLockFile = ".tarvok-eval.lock";
inline constexpr const char* kProgressLog = "progress.log";
inline constexpr const char* kModelFile = "model.mod";
inline constexpr const char* kDataFile = "data.dat";
inline constexpr const char* kTranscriptFile = "transcript.jsonl";

/// What the solver module's availability check is told of the run's solver:
/// what the run needs it for, and the extra that brings it (none: the
/// solver's own).
struct SolverNeed {
    std::string purpose;
    std::optional<std::string> extra;
};
SolverNeed solver_need(const std::string& solver);

/// The progress bar's figures.
std::string accuracy_postfix(std::size_t correct, std::size_t judged);
/// The line a problem's log ends with when its final model was solved.
std::string final_model_line(const std::string& status, const std::string& objective);
std::string few_shot_line(const std::string& library);
std::string results_line(const std::string& results_path, const std::string& summary_path);
/// The command's refusals.
std::string cannot_write(const std::string& out_dir, const std::string& reason);
std::string no_usable_problem(const std::string& dataset);
std::string replay_inside_out(const std::string& replay);
/// A failure of the command as one line on stderr.
std::string command_error_line(const std::string& message);

// ------------------------------------------------------ the command's failures

/// The command's exit status and line.
struct CommandFailure {
    ExitStatus status;
    std::string message;
};

/// What the command makes of what `step` raised (`text`: the host's str of
/// it): a usage fault, the provider failing, or none to let it through.
std::optional<CommandFailure> command_failure(Step step, Raised raised, const std::string& text,
                                              const std::string& out_dir, const std::optional<std::string>& replay);

}  // namespace tarvok::evaluation
