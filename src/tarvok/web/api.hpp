// What the page of `tarvok serve` may ask of its server, and how much: the
// endpoints with their methods and bounds, the checks that turn a request's
// JSON body into a typed request (or the one message that says what is
// wrong), the HTTP status of each outcome, and the frames of the generation
// stream (server-sent events).
#pragma once

#include "compiler/data_values.hpp"
#include "emitter/targets.hpp"
#include "generative/module_face.hpp"
#include "generative/providers/deadline.hpp"
#include "generative/providers/providers.hpp"
#include "generative/server_text.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tarvok::web {

using data::Value;

enum class EndpointId : uint8_t { Check, Run, Emit, Generate, Feedback, Apply, Examples, Providers };

/// What an answer of the API says happened; each has its HTTP status (http_status).
enum class Outcome : uint8_t {
    Ok,
    BadRequest,
    NotFound,
    TooLarge,
    DoesNotCompile,
    ProviderFailed,
    Failed,
    Conflict,
    Busy,
    TimedOut
};

struct Endpoint {
    EndpointId id;
    std::string_view path;
    std::string_view method;
    std::size_t max_body;  ///< the most bytes its body may have
    Outcome failure;       ///< what an error of its work is: of the LLM service for feedback, else of the server
};

/// The endpoints, in the order the page uses them.
const std::vector<Endpoint>& endpoints();
const Endpoint* endpoint_at(std::string_view path);

/// The most bytes of a body that carries a model and data, and of the others.
inline constexpr std::size_t kMaxPairBody = 8u << 20;
inline constexpr std::size_t kMaxSmallBody = 256u << 10;
/// The most bytes of one model, data, description or question text.
inline constexpr std::size_t kMaxTextBytes = 4u << 20;
inline constexpr std::size_t kMaxNameBytes = 64;
/// Bounds in time: a solve (the default and the most a request may ask),
/// one LLM request, a whole generation run, a whole question put to the LLM
/// (/api/feedback, its retries included).
inline constexpr double kDefaultSolveSeconds = 60;
inline constexpr double kMaxSolveSeconds = 600;
inline constexpr double kRequestSeconds = 180;
inline constexpr double kGenerationSeconds = 1800;
inline constexpr double kFeedbackSeconds = 180;
inline constexpr int64_t kMaxIterations = 20;
/// The most alternative readings one generation may explore.
inline constexpr int64_t kMaxWhatIf = 20;
/// The most generation runs, and questions to the LLM, one server keeps going
/// at once: past them a request is answered 429, so that the workers that
/// answer check, run and emit are never all waiting on an LLM.
inline constexpr int kMaxGenerationRuns = 4;
inline constexpr int kMaxFeedbackRuns = 4;
inline constexpr int64_t kMaxExamples = 32;
/// How often an open stream sends something, so that a client gone away is noticed.
inline constexpr double kHeartbeatSeconds = 1;

/// A Content-Length header's value: nothing when there was none; a value
/// that is no plain count of bytes is taken as too large to read.
std::optional<uint64_t> declared_length(std::optional<std::string_view> header);

/// Whether `host`, the address a server listens on, is this machine alone.
bool is_loopback(std::string_view host);
/// The address of the page served on `host` and `port` (an IPv6 address in brackets).
std::string page_url(std::string_view host, std::string_view port);
/// What `tarvok serve` says when it starts: where the page is and its working folder.
std::string serving_message(std::string_view url, std::string_view workdir);

/// Why a body that went past the endpoint's bound while it was read is refused.
std::string too_large_message(const Endpoint& endpoint);
/// Why a body's declared length is refused, or "" when it may be read.
std::string body_refusal(const Endpoint& endpoint, std::optional<uint64_t> declared_length);
/// The most bytes to read of a body sent to `path` with a Content-Length of
/// `declared` (none: not given): 0 for a path that is no endpoint; nothing
/// when the declared length is refused, so that nothing is read.
std::optional<std::size_t> body_limit(std::string_view path, std::optional<std::string_view> declared);

/// The headers that decide whether a request is taken at all.
struct Headers {
    std::string content_type;
    std::string host;    ///< the Host header, with its port
    std::string origin;  ///< "" when the browser sent none
};

/// Why a request to the API is refused before its body is read, or nothing.
/// A body must be sent as JSON, which a page of another site can only do
/// after asking (so a form or a plain request from elsewhere changes
/// nothing); a request a browser sends from another origin is refused; and
/// with `loopback_only` the Host must be a name of this machine, so that a
/// name of another site that resolves here cannot reach the server.
struct Refusal {
    int status;
    std::string message;
};
std::optional<Refusal> header_refusal(const Headers& headers, bool loopback_only);

/// Whether a request to the API is taken: the endpoint at its path, or why
/// it is refused before its body is decoded (no endpoint there, headers that
/// header_refusal refuses, a body that went past the endpoint's bound, which
/// the reader hands over as none).
struct Admission {
    const Endpoint* endpoint = nullptr;
    std::optional<Refusal> refusal;
};
Admission admit(std::string_view path, const Headers& headers, bool body_read, bool loopback_only);

struct Pair {
    std::string model;
    std::string data;
};

enum class Sensitivity : uint8_t { None, Duals, Full };

struct CheckRequest {
    Pair pair;
};
struct RunRequest {
    Pair pair;
    double time_limit = kDefaultSolveSeconds;
    std::optional<double> mip_gap;
    Sensitivity sensitivity = Sensitivity::None;
};
struct EmitRequest {
    Pair pair;
    const emitter::Output* output = &emitter::default_output();  ///< by its name in the outputs table
};
struct GenerateRequest {
    std::string description;
    std::optional<std::string> provider, model;
    std::optional<int64_t> iterations;
    std::optional<bool> execution_check;
    std::optional<bool> assumptions, what_if;  ///< "list assumptions", "what if"
    std::optional<int64_t> what_if_max;        ///< the most alternatives explored
};
struct FeedbackRequest {
    std::string question;
    Pair pair;
    std::optional<std::string> provider, model;
};
struct ApplyRequest {
    std::string name;  ///< the pair's name in the working folder
    Pair pair;
};
struct ExamplesRequest {
    std::string description;  ///< empty: every example, by name
    int64_t k = 3;
};
struct ProvidersRequest {};

using Request = std::variant<CheckRequest, RunRequest, EmitRequest, GenerateRequest, FeedbackRequest, ApplyRequest,
                             ExamplesRequest, ProvidersRequest>;

/// A request, or why it cannot be made.
struct Parsed {
    std::optional<Request> request;
    std::string error;
};

/// A provider name as the host trims and lower-cases it, which is how the
/// provider table is read; none: the name as it is.
using NameFold = std::function<std::string(std::string_view)>;

/// Reads the decoded JSON body of a request to `endpoint`. A provider the
/// table does not know is refused, as the command refuses it, rather than
/// left for the model name to decide.
Parsed parse_request(const Endpoint& endpoint, const Value& body, const NameFold& fold = {});

/// A request's body (bytes) as the host's json.loads reads it: UTF-8, a byte
/// order mark allowed, a repeated key keeping its last value, an integer
/// beyond 64 bits read as a float. Throws json::ParseError.
Value body_value(std::string_view body);

/// The solver's keyword options of a run: its time limit, the gap when one is
/// asked for, and the sensitivity figures (all of them: true; duals alone: "duals").
Value solve_options(const RunRequest& request);

/// The answer of /api/emit before its text: the format, a file name and its media type.
Value emitted(const emitter::Output& output);
/// Why /api/emit gives no script for a model whose numbers need a .npz file.
inline constexpr std::string_view kScriptNeedsArrays =
    "the model is too large for a script alone: its numbers go to a .npz file beside the script; write both "
    "with `tarvok emit MODEL DATA -o SCRIPT.py`";

/// The answer of /api/apply: the files of the pair and their backups, by
/// name (null where there was no earlier file).
struct Applied;  // web/workdir.hpp
Value applied_answer(const Applied& applied);

/// A member of the generation stream's result frame and the generation
/// result's field it copies, in the frame's order (its grounding report follows).
struct ResultMember {
    const char* key;
    generative::ResultField field;
};
inline constexpr ResultMember kGenerationFields[] = {{"compiled", generative::ResultField::Compiled},
                                                     {"aligned", generative::ResultField::Aligned},
                                                     {"assessment", generative::ResultField::Assessment},
                                                     {"iterations", generative::ResultField::Iterations},
                                                     {"diagnostics", generative::ResultField::Diagnostics},
                                                     {"execution", generative::ResultField::Execution},
                                                     {"syntax_errors", generative::ResultField::SyntaxErrors},
                                                     {"llm_calls", generative::ResultField::LlmCalls},
                                                     {"model", generative::ResultField::ModelText},
                                                     {"data", generative::ResultField::DataText}};

// ------------------------------------------------------------ outcomes ----

/// The HTTP status that answers an outcome.
int http_status(Outcome outcome);

/// The JSON text a browser reads, from one the host's encoder wrote with the
/// numbers JSON cannot hold as bare NaN, Infinity and -Infinity: those are
/// sent as the texts "NaN", "Infinity" and "-Infinity" (strings are left as they are).
std::string browser_json(std::string_view json);

// -------------------------------------------------------------- stream ----

/// The kinds of frames of the generation stream: each loop step, the final
/// result, a failure, and the end of a cancelled run.
enum class FrameKind : uint8_t { Step, Result, Failed, Cancelled };
std::string_view frame_name(FrameKind kind);

/// One server-sent event carrying `json` (a JSON text; each of its lines
/// goes on a data line of its own, so no text can end the frame early).
std::string frame(FrameKind kind, std::string_view json);
/// A comment frame that keeps the connection busy.
std::string_view heartbeat();

using generative::providers::RunBound;

/// The frames of one generation run, from the thread that runs it to the
/// stream that sends them. A run is cancelled when asked (the page cancels,
/// or the client goes away) or once it has taken kGenerationSeconds; either
/// way the LLM request it waits on is cut at once (its bound() is the run's
/// RunBound, which the running thread takes on).
class FrameQueue {
  public:
    void push(std::string frame);
    /// The run is over: the stream ends once it has sent what is left.
    void finish();
    /// Gives the run up; a wait in next() ends at once.
    void cancel();
    bool cancelled() const { return bound_->over(); }
    const std::shared_ptr<RunBound>& bound() const { return bound_; }
    /// The next frame, waiting at most kHeartbeatSeconds for one: a heartbeat
    /// when none came; nothing once the run is over and all were taken.
    std::optional<std::string> next();

  private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::string> frames_;
    bool done_ = false;
    std::shared_ptr<RunBound> bound_ = std::make_shared<RunBound>(kGenerationSeconds);
};

/// The runs of one kind (generations, questions to the LLM) an app has
/// under way, at most `limit` at once.
class RunSlots {
  public:
    /// `runs` names them in the refusal: "generation runs".
    RunSlots(int limit, std::string runs) : limit_(limit), runs_(std::move(runs)) {}
    /// A run's hold on its slot: the slot is free again once every copy of it
    /// is gone (the run ended, or never started).
    using Slot = std::shared_ptr<const void>;
    struct Taken {
        Slot slot;            ///< none when all are taken
        std::string refusal;  ///< why, then
    };
    /// Takes a slot for a new run.
    Taken take();

  private:
    int limit_;
    std::string runs_;
    std::shared_ptr<std::atomic<int>> taken_ = std::make_shared<std::atomic<int>>(0);
};

/// Why a question to the LLM got no answer: its deadline passed.
std::string feedback_timed_out();

// ------------------------------------------------------------- answers ----

/// The answer listing every example of `library` by name: each folder NAME
/// that holds NAME.mod (NAME a plain name), with its description, model and
/// data texts (a file that cannot be read is an empty text).
Value examples_by_name(const std::filesystem::path& library);

/// What the examples closest to a description are asked of the MCP server's
/// find_examples tool with: the description and how many.
Value find_examples_arguments(const ExamplesRequest& request);

/// Why a generation or question that would ask `provider` cannot start: no
/// API key is set for it (the command fails alike before its first request);
/// nothing when one is, or when it needs none.
std::optional<std::string> missing_key(const generative::providers::Provider& provider,
                                       const generative::ReadVariable& read);

/// /api/providers: each provider the page may choose ({name, label,
/// key_variables, key_set}), the default LLM model and the default number of
/// rounds, the command's own.
Value providers_answer(const generative::ReadVariable& read, std::string_view default_model,
                       int64_t default_iterations);

/// The grounding report of a generated pair's data against its description,
/// as the result frame carries it: {assumptions: [...], conversions: [...]}.
Value grounding_value(std::string_view description, std::string_view data);

}  // namespace tarvok::web
