// The generation loop and feedback's one request, over small interfaces: an
// LLM client, a compiler, an executor (the solver), the steps that build
// prompts, read replies and write files, and a progress sink. The loop makes
// every decision (what to ask next, when to stop, what ends a run); the
// implementations of the interfaces do the work. The binding implements them
// on the host, looking each step up on the module at call time.
//
// Texts are UTF-8 as the host hands them over (lone surrogates carried as
// three-byte sequences).
#pragma once

#include "common/files.hpp"
#include "compiler/data_values.hpp"
#include "generative/prompts.hpp"
#include "generative/reply_parsing.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tarvok::generative::workflow {

// ----------------------------------------------------------- requests ----

/// What a request to the LLM is for.
enum class Step : uint8_t {
    Generate,     ///< the first pair
    Repair,       ///< a pair after compile errors
    Align,        ///< the alignment verdict on a compiling pair
    Realign,      ///< a pair after a verdict of not aligned
    Execution,    ///< a pair after the solver's verdict on the last one
    Assess,       ///< the closing assessment
    Feedback,     ///< an answer about an existing pair
    Assumptions,  ///< the assumptions a compiling pair makes
    WhatIf,       ///< a pair under the alternative reading of one of them
};

/// "generate", "repair", "align", "realign", "execution", "assess", "feedback", "assumptions", "what_if".
std::string_view step_name(Step step);

struct RequestOptions {
    Step step = Step::Generate;
    std::optional<double> temperature;  ///< none: the model's own default
    std::vector<std::string> stop;      ///< stop sequences
};

/// Tokens a provider reported for one request; none where it reports none.
struct Usage {
    std::optional<long long> tokens_in, tokens_out;
};

/// Sends one prompt. A recorder or a replay is a client that wraps another.
class LlmClient {
  public:
    virtual ~LlmClient() = default;
    /// The reply; empty when the LLM gave none. A failed request throws.
    virtual std::string generate(const std::string& prompt, const RequestOptions& options) = 0;
    /// What the provider reported of the last request `generate` sent.
    virtual Usage last_usage() { return {}; }
};

/// One request and its reply, as a transcript keeps it.
struct Exchange {
    std::string provider, model;
    Step step = Step::Generate;
    std::string prompt, reply;
    std::optional<double> temperature;
    Usage usage;
    double seconds = 0;
};

/// A transcript file: one JSON line per exchange, each appended whole (see
/// files::append_whole), so that a run stopped at any point leaves whole lines.
class Transcript {
  public:
    /// Runs `write`, the file's part of a record, which may block (a slow
    /// disk, a pipe without a reader): the host lets its other threads run.
    using Blocking = std::function<void(const std::function<void()>& write)>;

    /// `existing`: what an append does with a link at the file's name.
    explicit Transcript(std::filesystem::path file, Blocking blocking = run_now,
                        files::Existing existing = files::Existing::Follow)
        : file_(std::move(file)), blocking_(std::move(blocking)), existing_(existing) {}
    /// Makes the file's folder when it is missing, then appends the line.
    /// Throws files::FileError.
    void record(const Exchange& exchange);
    const std::filesystem::path& file() const { return file_; }

  private:
    static void run_now(const std::function<void()>& write) { write(); }

    std::filesystem::path file_;
    Blocking blocking_;
    files::Existing existing_;
};

/// A client that hands every exchange of the one it wraps to a transcript,
/// once its reply has arrived; a request that fails leaves no record.
class RecordingClient : public LlmClient {
  public:
    RecordingClient(LlmClient& inner, Transcript& transcript, std::string provider, std::string model)
        : inner_(inner), transcript_(transcript), provider_(std::move(provider)), model_(std::move(model)) {}
    std::string generate(const std::string& prompt, const RequestOptions& options) override;
    Usage last_usage() override { return inner_.last_usage(); }

  private:
    LlmClient& inner_;
    Transcript& transcript_;
    std::string provider_, model_;
};

// ------------------------------------------------------------- values ----

/// What an implementation keeps with a value it handed to the loop and gets
/// back with it (the host's own objects, a compiled model); the loop never
/// looks inside.
class Attachment {
  public:
    virtual ~Attachment() = default;
};
using Attached = std::shared_ptr<const Attachment>;

/// A model and data pair as a reply gave it.
struct Pair {
    std::string model;
    std::string data;
    Attached host;  ///< the pair as the host holds it (its values need not be text)
};

/// What compiling a pair gave.
struct CompileOutcome {
    bool ok = false;
    /// Why not, as the repair prompt shows it: the compiler's diagnostics, or
    /// the name and text of what it raised instead. Empty when ok.
    std::vector<std::string> errors;
    bool diagnosed = false;  ///< the compiler rejected the pair (rather than failing otherwise)
    Attached compiled;       ///< the compiled model and its diagnostics records, when the compiler keeps them
};

/// A pair the compiler did not take: `text` alone when it diagnosed the pair,
/// else `kind` (the name of what it raised instead) and `text`.
CompileOutcome refused_compile(bool diagnosed, std::string_view kind, std::string_view text);

/// How solving a compiling pair ended.
struct ExecutionOutcome {
    SolverVerdict verdict;            ///< the status word, the solver's message, the infeasible subset
    std::optional<double> objective;  ///< none when there is no solution
    std::string objective_text;       ///< the objective as progress lines write it ("none" when there is none)
    std::optional<double> answer;     ///< the decision expression `answer`, when the model defines one
    Attached host;                    ///< the outcome as the host holds it
};

/// A verdict of the alignment check.
struct Verdict {
    enum class Shape : uint8_t { Aligned, NotAligned, Invalid };
    Shape shape = Shape::Invalid;
    std::string assessment;  ///< as the reply gave it (untrimmed)
};

/// A reply read as a model and data pair: the pair, or why it could not be.
struct ParsedPair {
    std::optional<Pair> pair;
    std::string failure;  ///< the reader's error as messages show it
    Attached cause;       ///< that error, for the host to chain
};

/// A feedback reply read as the host's value, or why it could not be.
struct ParsedFeedback {
    bool ok = false;
    Attached value;
    std::string failure;
    Attached cause;
};

// ---------------------------------------------------------- interfaces ----

class Compiler {
  public:
    virtual ~Compiler() = default;
    /// Compiles the pair; a rejection is an outcome, not a throw.
    virtual CompileOutcome compile(const Pair& pair) = 0;
};

class Executor {
  public:
    virtual ~Executor() = default;
    /// Solves a pair that compiled; `compiled` is what its compile kept (may be null).
    virtual ExecutionOutcome execute(const Pair& pair, const Attachment* compiled) = 0;
};

/// A pair's model (or data) text as an argument of a prompt.
struct PairText {
    const Pair* pair = nullptr;
    bool data = false;
};

/// An argument of a prompt: a text, a list of texts, a pair's member, or a solve.
using PromptValue = std::variant<std::string, std::vector<std::string>, PairText, const ExecutionOutcome*>;

/// A prompt the loop asks for: the module function that builds it, the
/// arguments it takes after the run's description and grammar reference,
/// and whether the run's examples go with them (its `few_shots` keyword).
struct PromptRequest {
    Step step = Step::Generate;
    std::string_view builder;
    std::vector<PromptValue> arguments;
    bool few_shots = false;
};

/// The request for the prompt of `step`, with its arguments in the builder's order.
PromptRequest prompt_request(Step step, std::vector<PromptValue> arguments);

/// The steps the loop delegates: the functions a caller may replace (the
/// examples, the prompts, the reader of replies), and writing the pair, whose
/// values the host holds (a replaced reader may give values that are no text,
/// which writing refuses as the host does). Prompts for one run share its
/// description, grammar reference and examples, which the implementation holds.
class Steps {
  public:
    virtual ~Steps() = default;
    /// Finds the worked examples the generating prompts show (perhaps none);
    /// called once, before the first prompt.
    virtual void gather_examples() = 0;
    /// The text of a prompt the loop asks for.
    virtual std::string prompt(const PromptRequest& request) = 0;

    virtual ParsedPair read_pair(const std::string& reply) = 0;
    /// May throw: a reply that is no JSON object ends the run as the reader failed.
    virtual Verdict read_verdict(const std::string& reply) = 0;
    virtual ParsedFeedback read_feedback(const std::string& reply) = 0;

    /// Writes the pair to the run's files (each whole or not at all) and
    /// returns it as a reader of those files gets it back (text mode: every
    /// line end a line feed).
    virtual Pair write_pair(const Pair& pair) = 0;
    /// Writes an alternative pair beside the run's files, as
    /// alternative_path names them, each whole or not at all; empty, or why
    /// it was not written (a name that is one of the run's own files).
    virtual std::string write_alternative(const Pair& pair, long long index);
};

// ------------------------------------------------------------ progress ----

enum class EventKind : uint8_t {
    Started,
    ExecutionCheckOn,
    Iteration,
    ReplyParsed,
    Compiling,
    FilesWritten,
    Solving,
    ExecutionFailed,
    ExecutionPassed,
    ExecutionInconclusive,  ///< a time limit: says nothing against the model
    AlignmentOff,
    CheckingAlignment,
    Aligned,
    NotAligned,
    CompileFailed,
    FinalAssessment,
    Complete,
    FeedbackRequested,
    FeedbackReceived,
    Request,             ///< a prompt goes to the LLM (no progress line)
    Reply,               ///< its reply arrived (no progress line)
    Assumptions,         ///< the assumptions request goes out
    AssumptionsListed,   ///< its reply read as a list
    AssumptionsInvalid,  ///< its reply is no list: the run keeps its pair, without the LLM's assumptions
    WhatIf,              ///< the request for an alternative reading goes out
    WhatIfSolved,        ///< the alternative compiles and was solved
    WhatIfFailed,        ///< the alternative gave no pair or does not compile: the main answer stands
    WhatIfBudget,        ///< what_if_max requests made: the remaining alternatives are not explored
};

/// "started", "execution_check_on", "iteration", ...
std::string_view event_name(EventKind kind);

/// One step of a run: its progress line and what it is about. The pointers
/// are valid during the call that hands the event over.
struct Event {
    EventKind kind = EventKind::Started;
    std::string text;                                  ///< the progress line; empty for Request and Reply
    long long iteration = 0;                           ///< 1-based; 0 outside the iterations
    std::optional<Step> step;                          ///< Request, Reply
    double seconds = 0;                                ///< Reply: how long the request took
    const std::vector<std::string>* errors = nullptr;  ///< CompileFailed
    const std::string* assessment = nullptr;           ///< Aligned, NotAligned (trimmed)
    const ExecutionOutcome* execution =
        nullptr;  ///< ExecutionFailed, ExecutionPassed, ExecutionInconclusive, WhatIfSolved
};

class Progress {
  public:
    virtual ~Progress() = default;
    /// A step's event; its progress line, when it has one, is for the user.
    virtual void event(const Event& event) = 0;
    /// A line for the debug log.
    virtual void log(const std::string& line) = 0;
};

// ------------------------------------------------------------- a run ----

/// One run's settings.
struct Run {
    std::string provider;  ///< the provider's name, for the first line
    std::string model;     ///< the LLM's model name
    long long iterations = 1;
    bool alignment = true;
    std::optional<double> temperature;  ///< the caller's, for the requests that generate a pair
    std::vector<std::string> stop;
    /// The configured API keys, read as the call starts: a message that shows
    /// a reply (bounded, see shown_server_text) never shows them.
    std::vector<std::string> keys;
    std::string model_file, data_file;  ///< the files as progress lines name them
    bool execution_check = false;
    std::string time_limit_text;  ///< the execution check's limit as progress lines write it; empty for none
    /// Asked between steps; true ends the run with Cancelled.
    std::function<bool()> cancelled;
    /// After a final pair that compiles (and solves, with the execution
    /// check), ask which assumptions it makes; `description` is what the
    /// grounding report reads the data against.
    bool assumptions = false;
    std::string description;
    /// Then ask for the pair under each listed alternative (at most
    /// `what_if_max` requests), compile and solve it.
    bool what_if = false;
    long long what_if_max = 3;
};

/// One alternative reading, explored.
struct WhatIf {
    std::size_t assumption = 0;  ///< its entry of Result::assumptions
    long long index = 0;         ///< 1-based: its files are alternative_path(..., index)
    Pair pair;                   ///< as the reply gave it (empty when it gave none)
    bool compiled = false;
    std::vector<std::string> errors;            ///< why there is no answer: the compiler's, or the reply's fault
    std::optional<ExecutionOutcome> execution;  ///< its solve, when it compiles
    std::string not_written;                    ///< why its files were not written (empty when they were)
    /// An asked quantity whose alternative solves to the main objective and
    /// names it as `answer`: that pair became the final one.
    bool adopted = false;
    /// Its solve ends as the main one does, with the same answer (else
    /// objective): a reading the user need not weigh.
    bool same_answer = false;
};

/// Whether two solves give the same answer: the same status, and the same
/// `answer` (else objective) within 1e-6 relative, or neither has one.
bool same_answer(const ExecutionOutcome& a, const ExecutionOutcome& b);

struct Result {
    Pair pair;                                       ///< the final pair as written (empty before any reply was read)
    long long iterations = 0;                        ///< performed
    bool compiled = false;                           ///< the final pair compiles
    std::vector<std::string> syntax_errors;          ///< the final pair's (empty when it compiles)
    Attached compiled_model;                         ///< what the final pair's compile kept
    bool aligned = false;                            ///< judged aligned (never when the alignment check is off)
    std::string assessment;                          ///< trimmed
    std::optional<ExecutionOutcome> execution;       ///< the final pair's solve, when the execution check made one
    bool execution_failed = false;                   ///< the final pair compiles but does not solve
    long long llm_calls = 0;                         ///< requests that got a reply
    long long repair_rounds = 0;                     ///< of those, the ones that revised a pair
    Usage usage;                                     ///< summed over the requests whose provider reported it
    bool assumptions_asked = false;                  ///< the assumptions request was made
    std::vector<Assumption> assumptions;             ///< the LLM's, then the data's numbers no description gives
    std::string assumptions_failure;                 ///< why the reply gave no list (empty when it did)
    std::optional<ExecutionOutcome> main_execution;  ///< the final pair's solve the alternatives are set beside
    /// The alternatives explored: those that change the answer first, then
    /// those that gave none, then those with the same answer; each group in
    /// the order of the assumptions.
    std::vector<WhatIf> what_if;
    long long what_if_unexplored = 0;  ///< listed alternatives left out by what_if_max
};

/// The most bytes one LLM reply may have: the compiler's limit on a text
/// (16 MiB; `tarvok run` applies it to data written from JSON, the MCP tools
/// to every text they take), which a model or data text from a reply
/// could not pass anyway. A longer reply is refused unread, so that it
/// costs neither the work of reading it nor an answer many times its size.
inline constexpr std::size_t kMaxReplyBytes = data::kMaxTextBytes;

/// The message of a reply of `bytes` bytes past kMaxReplyBytes.
std::string reply_too_long(std::size_t bytes);

/// A failure that ends a run with a message of its own (the host raises it
/// as RuntimeError), chained to `cause` when there is one.
class Failure : public std::runtime_error {
  public:
    enum class Kind : uint8_t { EmptyReply, UnreadableReply, InvalidVerdict };
    Failure(Kind kind, const std::string& message, Attached cause = nullptr)
        : std::runtime_error(message), kind_(kind), message_(message), cause_(std::move(cause)) {}
    Kind kind() const { return kind_; }
    /// The whole message (what() ends at a NUL, which replies may hold).
    const std::string& message() const { return message_; }
    const Attached& cause() const { return cause_; }

  private:
    Kind kind_;
    std::string message_;
    Attached cause_;
};

/// A run stopped because Run::cancelled said so.
class Cancelled : public std::runtime_error {
  public:
    Cancelled() : std::runtime_error("the run was cancelled") {}
};

/// What a run talks to.
struct Services {
    LlmClient& llm;
    Compiler& compiler;
    Executor& executor;
    Steps& steps;
    Progress& progress;
};

/// The generate → compile → repair → align → assess loop.
Result generate(const Run& run, Services services);

/// The loop with every exchange recorded in `transcript` (see RecordingClient), when there is one.
Result generate(const Run& run, Services services, Transcript* transcript);

/// The readings of an existing pair (its files' texts): no pair is asked
/// for; the pair is compiled and, when it compiles, the assumptions step
/// runs on it as on a final pair (and the what-if step with run.what_if).
/// With `one`, that reading alone is explored, as the what-if step would.
Result readings(const Run& run, Services services, const Pair& pair, const std::optional<Assumption>& one,
                Transcript* transcript = nullptr);

/// Feedback's one request about the pair of `files` (their texts): the reply
/// read as the host's value. Of `run`, the temperature (the caller's: any
/// value sends 0.0), the stop list and the keys count.
Attached feedback(const Run& run, const Pair& files, LlmClient& llm, Steps& steps, Progress& progress);

/// The final pair's solve the run made: the execution check's, else the
/// what-if step's; null when neither solved it.
const ExecutionOutcome* final_solve(const Result& result);

/// The file an alternative pair's member goes to: "plan.mod" -> "plan.alt2.mod"
/// ("plan" -> "plan.alt2"); only the last path component's extension moves.
std::string alternative_path(std::string_view path, long long index);

/// The data file's numbers that the description does not give, as
/// `invented_data` assumptions.
std::vector<Assumption> invented_numbers(std::string_view description, std::string_view data);

/// `text` without the host's white space at either end (what str.strip() does).
std::string trimmed(std::string_view text);

}  // namespace tarvok::generative::workflow
