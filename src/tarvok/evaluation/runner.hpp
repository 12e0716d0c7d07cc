// The decisions of an evaluation run, apart from the host that runs it: which
// command-line options are refused and with which line, which problems run
// (limit, repeats, their folders), how the samples of one problem are run and
// voted on, what the progress lines and the stop messages say, and when a run
// stops because the provider is down. The binding converts and calls.
#pragma once

#include "common/function_face.hpp"
#include "common/interrupt.hpp"
#include "evaluation/dataset.hpp"
#include "evaluation/results.hpp"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace tarvok::evaluation {

// ------------------------------------------------------------ the command

/// The steps of `tarvok eval` whose failures it reports, in their order.
enum class Step { Settings, Dataset, Provider, Solver, Prepare, Run };

/// The kinds of what a step raised that the command tells apart (a kind
/// stands for its subclasses too; Other is any other ordinary error).
enum class Raised { Value, OS, Import, Runtime, Other, NotOrdinary };

/// The options of `tarvok eval` as parsed, before the run's settings are made.
struct CommandOptions {
    /// The counts that must be at least 1, in the order they are checked:
    /// the option's spelling and its value (none when not given).
    std::vector<std::pair<std::string, std::optional<long long>>> counts;
    double rel_tol = 1e-4;
    std::optional<double> timeout;
    std::optional<std::string> provider;        ///< as given
    std::optional<std::string> provider_key;    ///< `provider` trimmed and lower-cased
    std::optional<std::string> replay;          ///< the --replay path as given
    std::optional<std::string> replay_refusal;  ///< why that path cannot be read from (see replay_path_refusal)
    bool replay_configured = false;             ///< the library's own REPLAY_PATH is set
    long long stop_after_errors = 3;
    long long what_if_max = 3;
    bool provider_known = true;    ///< `provider_key` names a provider (or none is given)
    std::string provider_choices;  ///< the providers to choose from, spoken ("a, b or c")
    /// The --field-* options given: the record key and the field named.
    std::vector<std::pair<std::string, std::string>> fields;
};

/// The counts of `tarvok eval` in the order they are checked: the parsed
/// argument's name and the option's spelling.
inline constexpr std::pair<const char*, const char*> kCountOptions[] = {
    {"jobs", "--jobs"},     {"iterations", "--iterations"}, {"limit", "--limit"},
    {"repeat", "--repeat"}, {"samples", "--samples"},       {"max_size", "--max-size"}};

/// The --field-* options: the record key and the parsed argument's name.
inline constexpr std::pair<const char*, const char*> kFieldOptions[] = {
    {"question", "field_question"}, {"answer", "field_answer"}, {"id", "field_id"}, {"class", "field_class"}};

/// The one line `tarvok eval` prints for the first option it refuses, none
/// when every option can run.
std::optional<std::string> command_option_fault(const CommandOptions& options);

/// One argument of `tarvok eval`, as the command's parser gets it.
struct ArgumentSpec {
    enum class Kind { Positional, Required, Text, Int, Float, Flag, Choice };
    const char* name;  ///< "dataset" or the option's spelling
    Kind kind;
    const char* metavar;   ///< nullptr for a flag
    double default_value;  ///< for Int and Float options
    /// "{providers}" stands for the providers to choose from, "{solvers}" for
    /// the solvers (a Choice option takes one of them, the first by default)
    const char* help;
};

/// The arguments of `tarvok eval`, in the order its help lists them.
const std::vector<ArgumentSpec>& eval_arguments();

/// One keyword of argparse's add_argument: a text, a number, true, the
/// solvers to choose from, or (`builtin`) the name of a builtin type.
struct ParserKeyword {
    std::string key;
    std::variant<std::string, long long, double, bool, std::vector<std::string>> value;
    bool builtin = false;
};

/// An argument of `tarvok eval` as the parser takes it, its help filled in.
struct ParserArgument {
    std::string name;
    std::vector<ParserKeyword> keywords;
};

/// The arguments of `tarvok eval` for its parser: `providers` spoken
/// ("a, b or c"), `solvers` the solver module's names (the first the default).
std::vector<ParserArgument> parser_arguments(const std::string& providers, const std::vector<std::string>& solvers);

/// Sets the field of `fields` for the record key `key` ("question",
/// "answer", "id" or "class"); false for any other key.
bool assign_field(Fields& fields, const std::string& key, const std::string& field);

// ---------------------------------------------------------- the problems

/// Cuts the data set's problems to `limit` and repeats each `repeat` times,
/// all the problems once before any second run.
void cut_and_repeat(std::vector<Problem>& problems, std::optional<long long> limit, long long repeat);

/// The folder of one run of a problem: each further run keeps its files
/// beside the first run's.
std::string problem_folder(const Problem& problem);

/// The folder of sample `k` (from 1) inside the problem's folder: "" for the
/// first, whose files are the problem's own.
std::string sample_folder(long long k);

/// The line told for an unusable record of the data set.
std::string bad_record_line(const std::string& dataset, const BadRecord& bad);

/// `text` cut to at most `limit` bytes on a character boundary, with "..."
/// when cut.
std::string cut_text(std::string text, std::size_t limit);

/// "TypeName: message" (the type alone without a message), cut to 4000
/// bytes, as a record keeps what a generation raised.
std::string raised_text(const std::string& type, const std::string& message);

// ----------------------------------------------------- one problem's samples

/// What voting needs of one generation.
struct SampleOutcome {
    bool raised = false;          ///< the generation raised
    bool provider_error = false;  ///< what it raised says the provider was down
    std::optional<std::string> status;
    std::optional<double> objective;
    std::optional<long long> repairs;
};

/// The sample whose record stands for the problem, and the share that agrees.
struct SamplePick {
    std::size_t index = 0;
    double confidence = 0;
};

/// A provider error in any sample picks it (the problem is one to try
/// again); else the voted sample; without an answer among them, the last
/// sample that did not raise tells why (else the last).
SamplePick pick_sample(const std::vector<SampleOutcome>& samples, double rel_tol);

// ------------------------------------------------------------- the run

/// What a run tells as it starts.
struct StartFacts {
    std::size_t problems = 0;
    std::string dataset, model, results_path;
    std::size_t recorded = 0, rerun = 0, retried = 0;
};
std::string start_line(const StartFacts& facts);

/// The records of a run as they arrive, with the counts the progress shows
/// and the check that the provider is down.
class RunTally {
  public:
    RunTally(std::map<std::string, Record> reused, std::size_t total, long long stop_after_errors);

    /// Takes a finished record; the message to stop with when the first
    /// problems all met provider errors.
    std::optional<std::string> finish(const Record& record);

    /// The line for the last finished record, when no progress bar shows it.
    std::string finished_line(const Record& record) const;

    std::size_t done() const { return done_; }
    std::size_t correct() const { return correct_; }
    std::size_t judged() const { return judged_; }
    std::size_t total() const { return total_; }
    const std::map<std::string, Record>& records() const { return records_; }
    std::map<std::string, Record> take_records() { return std::move(records_); }

  private:
    std::map<std::string, Record> records_;
    std::vector<Record> first_finished_;  ///< this run's first records, in the order they finished
    std::size_t total_, done_ = 0, correct_ = 0, judged_ = 0, stop_after_;
};

// ------------------------------------------------------- the run's course

/// A problem a worker finished: its place among the problems to run, and
/// its record as the host read it (the run adds the problem's own facts,
/// the judgement, the question hash and the run key).
struct Finished {
    std::size_t index = 0;
    Record record;
};

class WorkQueue;
struct WorkerPlan;

struct Settings;

/// What is outside a run: the reader's streams, the checks only the host
/// can make, the workers (Python threads: the loop is Python) and the
/// progress bar (tqdm). Each call may throw what the host raised.
class RunHost {
  public:
    virtual ~RunHost() = default;
    /// `text` on stdout, or (`error`) one line for the reader on stderr.
    virtual void write(bool error, const std::string& text) = 0;
    /// Before the folder is touched, as each request would: the provider's
    /// client made once (its library and key); the provider's name.
    virtual std::string check_provider(const Settings& settings) = 0;
    /// The run's solver library found: without it no answer can be judged.
    virtual void check_solver(const std::string& solver) = 0;
    /// Starts the workers on `queue` (and the progress bar, when one shows).
    virtual void start(const std::shared_ptr<WorkQueue>& queue, const WorkerPlan& workers, const RunTally& tally) = 0;
    /// After the tally took a record: whether a bar showed it (else the run
    /// tells its line); `closing`: the bar ends, before summary.json is written.
    virtual bool show(const RunTally& tally, bool closing) = 0;
};

/// What a run starts from: the folder's records weighed against the data set.
struct RunPlan {
    const std::vector<Problem>* problems = nullptr;  ///< the data set's, in order
    const ResumePlan* resume = nullptr;
    RunKey key;
    RunSettings settings;
    std::size_t bad_records = 0;
    double rel_tol = 1e-4;
    long long stop_after_errors = 3;
    bool results_end_in_newline = true;  ///< false after a line cut off by a kill
    /// When the run shows its progress: what it tells as it starts (the run
    /// counts the records it reuses), after the data set's unusable records.
    std::optional<StartFacts> start;
    const std::vector<BadRecord>* bad = nullptr;
    std::filesystem::path folder;  ///< the output folder, made and locked
    long long jobs = 1;            ///< problems run at once
    bool progress = false;         ///< a line (or the bar) for each finished problem
};

struct RunOutcome {
    std::optional<std::string> provider_down;  ///< why the run stopped early, when the provider was down
    Summary summary;
    std::string summary_text;
    std::map<std::string, Record> records;
};

/// A run from its plan to its summary. Each finished record is judged and
/// appended to results.jsonl as it arrives, on the disk before the next;
/// summary.json is written whole however the run ends (what the host raised
/// is raised again after it). Throws std::filesystem::filesystem_error and
/// files::FileError for the folder's files. When the first
/// problems all meet provider errors the run stops, waits for the running
/// problems and keeps none of their records. `queue` is set as soon as the
/// workers exist; `interrupt` ends the waits for them.
RunOutcome run_problems(RunHost& host, const RunPlan& plan, std::shared_ptr<WorkQueue>& queue, Interrupt* interrupt);

/// The messages that stop a run or the command.
std::string busy_message(const std::string& out_dir, const std::string& lock_path);
std::string conflict_message(const std::string& out_dir, const std::string& conflict);
std::string stopping_line(std::size_t running);
extern const char* const kInterruptedLine;

/// The module's functions as the host shows them, and the command's description.
extern const Face kRunEvaluationFace, kAddArgumentsFace, kRunCommandFace, kMainFace;
extern const char* const kEvalDescription;

}  // namespace tarvok::evaluation
