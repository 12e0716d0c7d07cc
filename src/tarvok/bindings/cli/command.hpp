// What the subcommands of the `tarvok` command share: output, argument
// checks, the LLM phase and the parsers made from the subcommand table. Each
// subcommand lives in its own <name>_bindings.cpp, which registers the
// `run_<name>` that returns its exit status under the name of its row.
#pragma once

#include "bindings/host/host.hpp"
#include "bindings/host/json.hpp"
#include "cli/command_line.hpp"
#include "cli/command_options.hpp"
#include "cli/output.hpp"
#include "cli/output_paths.hpp"
#include "cli/pair_stage.hpp"
#include "cli/run_inputs.hpp"
#include "common/exit_status.hpp"
#include "compiler/compiler.hpp"
#include "compiler/data_values.hpp"
#include "solver/compiled_model.hpp"
#include "solver/views.hpp"

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarvok::cli {

namespace py = pybind11;
using tarvok::code;
using tarvok::ExitStatus;

py::module_ generative();
py::object builtin(const char* name);

// ---------------------------------------------------------------- output ----

/// The command's output on the host's stdout and stderr, each text flushed
/// as it is written, the configured API keys hidden.
const Output& host_output();

void say(const std::string& line);   ///< one line on stdout, for a reader
void warn(const std::string& line);  ///< one line on stderr, for a reader

py::object json_dumps(py::handle value);

/// The host's str() of each item of `items`, in order.
std::vector<std::string> strings_of(py::handle items);

/// How the commands read the host's results as the cores' values: a plain
/// value as it is, anything else (an enum member) as its str().
inline constexpr host::FromPython kPlain{.others_as_text = true};

/// `value` as JSON on stdout, every character exact.
void say_json(py::handle value);

/// The message of an error, on one line.
std::string one_line(py::handle error);

/// The reason an OSError gives (its strerror, without the number and the
/// path), else its one line.
std::string os_reason(py::handle error);

/// The line for a MemoryError: "not enough memory", with what ran out of it.
std::string out_of_memory(py::handle error);

/// Progress lines of the library, printed to stderr as they arrive.
py::cpp_function progress_printer();

/// A handler of the loop's events (run_generation's on_event) that shows the
/// waiting line while a request is out, on a terminal; None elsewhere. The
/// line goes with the next event, and when the handler is dropped.
py::object wait_line_events();

// -------------------------------------------------------------- failures ----

/// Refuses (status 2) a missing optional library, in the line that says which extra to install.
void require_extra(const char* module, const char* purpose, const char* extra);

/// Calls `body`; a missing optional library (ImportError) is a usage fault
/// (status 2) in one line that says which extra to install.
template <typename Body>
auto needing_extras(Body body) -> decltype(body()) {
    try {
        return body();
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_ImportError) || host::behind_an_interrupt(e.value().ptr())) throw;
        fail(ExitStatus::Usage, one_line(e.value()));
    }
}

// ------------------------------------------------------------- arguments ----

/// The size limit of one command, built as it starts and handed to every
/// compile it makes: --max-size (refused below 1, status 2), else MAX_SIZE as
/// it stands.
compiler::SizeLimits command_sizes(const CommandLine& line);

/// A whole-number option as the host's int of the digits given (beyond 64
/// bits too), for a library call; None when not given.
py::object whole_number(const CommandLine& line, std::string_view dest);

/// The help text about providers, their keys and extras, from the provider table.
std::string providers_help();

/// The LLM options, checked against the library's settings (checked_llm_options).
LlmOptions check_llm_options(const CommandLine& line);

/// A description or question: "@path" reads it from a file (a missing or
/// unreadable file is a usage error); an empty text is refused.
py::object required_text(const std::string& arg, const char* what);

py::object grammar_mode(const std::string& name);

/// `path` made absolute as the host's os.path.abspath spells it
/// (files::absolute_name); a working folder that is gone is the host's OSError, as there.
std::string absolute(const std::string& path);

/// --examples DIR as an absolute path; a folder that does not exist is refused (status 2).
std::string examples_folder(const std::string& examples);

/// Why `path` cannot take an output file, or "" when it can: `refused_name`
/// when its name is refused, else when it is a folder or its folder is missing.
std::string unusable_output_path(const std::string& path, const std::string& refused_name);

/// Refuses a model and data path that name the same file, however spelled.
void refuse_same_file(const std::string& model_file, const std::string& data_file);

/// A path of the command line, as the cores check it.
GivenPath given_path(const std::string& path);

/// Refuses (status 2) an output path that would write one of the `inputs`
/// or the command's other files (by name, through '..', a symbolic link or a
/// hard link); `what` names the output in the message ("the script", "--write").
void refuse_output_over_inputs(const std::string& output, std::initializer_list<std::string> inputs,
                               const std::string& what);

/// Reads a model, data or description file the command was given through the
/// one reader (host::read_input_text); one that cannot be read (missing, too
/// large, not UTF-8) is a usage error that names the path and the reason.
py::object read_input(const std::string& path);

/// The embedding model: --embedding-model, else TARVOK_EMBEDDING_MODEL, else
/// the ranker's default.
py::object embedding_model(const CommandLine& line);

/// Loads the embedding model once, before the work that needs it; on failure
/// the one line that names the model and says what to do.
std::optional<std::string> load_embedding_model(py::object name);

// --------------------------------------------------------- the LLM phase ----

/// The request settings of this command's LLM call alone (--timeout,
/// --replay), as the generation module's CallOptions take them; the module's
/// own settings stay as the user set them.
py::dict llm_call_options(const LlmOptions& llm);

/// Calls `call` with the waiting line shown on a terminal.
py::object wait_for(const std::string& what, py::object call);

/// Runs `body`, the part of a command that talks to the LLM; an ordinary
/// error there is an LLM failure (status 5), one line on stderr.
template <typename Body>
auto llm_phase(Body body) -> decltype(body()) {
    try {
        return body();
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e) || e.matches(PyExc_MemoryError)) throw;
        fail(ExitStatus::LlmFailure, one_line(e.value()));
    }
}

// ----------------------------------------------------------- files --------

/// A pair staged for the targets as the host names them, its warnings said on stderr (see PairStage).
std::unique_ptr<PairStage> stage_pair(const std::string& model_target, const std::string& data_target);

/// Moves a staged pair into place (PairStage::place) without the host's lock.
void place_unlocked(PairStage& stage);

using host::host_path;

// ---------------------------------------------------------- subcommands ----

/// Outcome of solving one model and data pair, for `run` and `solve --run`.
struct RunOutcome {
    int status = 0;                        ///< exit status
    std::optional<solver::Solved> result;  ///< when there is one
    std::string diagnostics;               ///< compile errors
};

/// Refuses (status 2) a script path whose folder is missing, that is a
/// folder or ends in .npz (the name of a script's data), or where the script
/// or its data file would replace the model or data file.
void refuse_script_path(const std::string& path, const std::string& model_file, const std::string& data_file);
/// The same for a script beside every file given to `emit`.
void refuse_script_path(const std::string& path, const std::vector<GivenPath>& inputs);

/// The Program of a compiled model, expanded once for everything that runs
/// or writes it; `diagnostics` says why there is none (the data make it
/// impossible to expand).
struct Expanded {
    std::shared_ptr<solver::Program> program;
    std::string diagnostics;
};

Expanded expand(solver::CompiledModel& compiled);

// ------------------------------------------------------------------ data ----

/// Every DATA argument of a command read as `run` reads them (a .dat file, a
/// JSON object, a folder of NAME.csv files; several merge), each against the
/// declarations of `model_text`: one reader for `check`, `run` and `emit`.
/// A name given twice or a file that cannot be read as data fails (status 1).
GatheredData gather_data_arguments(const std::vector<std::string>& paths, const std::string& model_text);

/// The data text compiled from what was gathered, and how messages name where its values came from.
struct DataInputs {
    py::object text;
    std::optional<data::Value> sources;  ///< for data from JSON and CSV: how messages name its files and rows
    std::optional<std::string> shown;    ///< one .dat file names itself; data merged from several is "data"
};
DataInputs data_inputs(const std::string& model_text, const GatheredData& gathered,
                       const std::vector<std::string>& paths);

/// The pair compiled within `sizes`, its messages naming the data's files and rows.
std::shared_ptr<solver::CompiledModel> compiled_with_sources(py::object model_text, const DataInputs& data,
                                                             const compiler::SizeLimits& sizes);

/// `solve --run`: the expanded program solved with the solver's defaults,
/// by the solver named (--solver; None for the default).
RunOutcome solve_expanded(const Expanded& expanded, py::object solver_name = py::none());

/// Refuses (status 2, one line) a --solver whose library is missing, before
/// any work starts.
void require_solver(const std::string& solver_name, const std::string& purpose);

/// Outcome of writing a script for one model and data pair, for `emit` and `solve --emit`.
struct EmitOutcome {
    int status = 0;           ///< exit status
    py::object written;       ///< the paths written, when there are some
    std::string diagnostics;  ///< compile errors
    std::string failure;      ///< why a file could not be written
};

/// `solve --emit`: the script of the expanded program.
EmitOutcome emit_expanded(const Expanded& expanded, const std::string& path);

/// The readable report of a solve, without its final newline; with an
/// `answer`, its line follows the objective's.
std::string summary_of(const solver::Solved& result);

/// How a subcommand runs, registered under its name in its own
/// <name>_bindings.cpp (`const Registration registration{"name", run_name};`);
/// its row and options are in the subcommand table (command_options.cpp).
/// A subcommand that makes its own parser (eval) registers `add` and takes
/// the parser's own result, whose options belong to its module.
using RunCommand = int (*)(const CommandLine& line);
using RunOwnCommand = int (*)(py::object args);
using AddCommand = void (*)(py::object commands);
struct Registration {
    Registration(std::string_view name, RunCommand run);
    Registration(std::string_view name, RunOwnCommand run, AddCommand add);
};

/// Every subcommand's parser under `commands`, in the table's order.
void add_subcommands(py::object commands);

/// Carries out the subcommand the parser's result `args` names, its options
/// read once into a CommandLine; its exit status.
int run_subcommand(py::object args);

/// A subparser with the command's shared conventions (help layout, errors as
/// JSON when --json is given).
py::object add_command(py::object commands, const char* name, const char* help, const std::string& epilog = {});

/// Makes argparse's errors on `parser` follow the command's conventions.
void use_command_errors(py::object parser);

/// Whether the command line asked for JSON (set before parsing).
void request_json(bool on);

}  // namespace tarvok::cli
