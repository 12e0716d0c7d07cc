#include "web/api.hpp"

#include "common/files.hpp"
#include "compiler/json_args.hpp"
#include "generative/grounding.hpp"
#include "generative/providers/providers.hpp"
#include "web/workdir.hpp"

#include <algorithm>

#include <charconv>
#include <cstdio>
#include <limits>

namespace tarvok::web {

namespace {

const std::vector<Endpoint> kEndpoints = {
    {EndpointId::Check, "/api/check", "POST", kMaxPairBody, Outcome::Failed},
    {EndpointId::Run, "/api/run", "POST", kMaxPairBody, Outcome::Failed},
    {EndpointId::Emit, "/api/emit", "POST", kMaxPairBody, Outcome::Failed},
    {EndpointId::Generate, "/api/generate", "POST", kMaxSmallBody, Outcome::Failed},
    {EndpointId::Feedback, "/api/feedback", "POST", kMaxPairBody, Outcome::ProviderFailed},
    {EndpointId::Apply, "/api/apply", "POST", kMaxPairBody, Outcome::Failed},
    {EndpointId::Examples, "/api/examples", "POST", kMaxSmallBody, Outcome::Failed},
    {EndpointId::Providers, "/api/providers", "POST", kMaxSmallBody, Outcome::Failed},
};

/// The members of one body, read by the servers' one reader of JSON
/// arguments; a body that is no object is refused first.
class Body : public data::JsonArgs {
  public:
    explicit Body(const Value& given) : JsonArgs(given) {
        if (given.kind() != Value::Kind::Object)
            fail("the body must be a JSON object, not " + data::describe_kind(given));
    }

    /// The provider named by `key`, when one is: a name the table knows.
    std::optional<std::string> provider(const char* key, const NameFold& fold) {
        std::optional<std::string> name = text(key, false, true, kMaxNameBytes);
        namespace pv = generative::providers;
        if (name && !failed() && !pv::provider_from_alias(fold ? fold(*name) : *name))
            fail("'" + std::string(key) + "': unknown provider '" + *name + "'; choose " + pv::provider_names());
        return name;
    }

    /// The model (required) and its data (a text; none is an empty text).
    Pair pair() {
        Pair p;
        p.model = text("model", true, false, kMaxTextBytes).value_or("");
        p.data = text("data", false, false, kMaxTextBytes).value_or("");
        return p;
    }
};

}  // namespace

const std::vector<Endpoint>& endpoints() { return kEndpoints; }

const Endpoint* endpoint_at(std::string_view path) {
    for (const Endpoint& e : kEndpoints)
        if (e.path == path) return &e;
    return nullptr;
}

std::optional<uint64_t> declared_length(std::optional<std::string_view> header) {
    if (!header) return std::nullopt;
    uint64_t n = 0;
    auto [end, error] = std::from_chars(header->data(), header->data() + header->size(), n);
    if (header->empty() || error != std::errc() || end != header->data() + header->size()) return UINT64_MAX;
    return n;
}

bool is_loopback(std::string_view host) {
    return host == "127.0.0.1" || host == "localhost" || host == "::1" || host == "[::1]";
}

std::string page_url(std::string_view host, std::string_view port) {
    std::string shown(host);
    if (shown.find(':') != std::string::npos) shown = "[" + shown + "]";
    return "http://" + shown + ":" + std::string(port) + "/";
}

std::string serving_message(std::string_view url, std::string_view workdir) {
    return "tarvok serve: " + std::string(url) + " (working folder " + std::string(workdir) + ")\n";
}

std::string body_refusal(const Endpoint& endpoint, std::optional<uint64_t> declared_length) {
    if (declared_length && *declared_length > endpoint.max_body)
        return "the body has " + std::to_string(*declared_length) + " bytes; " + std::string(endpoint.path) +
               " takes at most " + std::to_string(endpoint.max_body);
    return "";
}

std::string too_large_message(const Endpoint& endpoint) {
    return std::string(endpoint.path) + " takes a body of at most " + std::to_string(endpoint.max_body) + " bytes";
}

std::optional<std::size_t> body_limit(std::string_view path, std::optional<std::string_view> declared) {
    const Endpoint* e = endpoint_at(path);
    if (!e) return 0;
    if (!body_refusal(*e, declared_length(declared)).empty()) return std::nullopt;
    return e->max_body;
}

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

/// The host name of a Host header, without its port ("[::1]:8000" is "[::1]").
std::string host_name(std::string_view host) {
    if (!host.empty() && host.front() == '[') return lower(host.substr(0, host.find(']') + 1));
    return lower(host.substr(0, host.find(':')));
}

}  // namespace

std::optional<Refusal> header_refusal(const Headers& headers, bool loopback_only) {
    std::string type = lower(headers.content_type);
    std::string bare = type.substr(0, type.find(';'));
    while (!bare.empty() && bare.back() == ' ') bare.pop_back();
    if (bare != "application/json") return Refusal{415, "send the body as application/json"};
    if (loopback_only) {
        std::string name = host_name(headers.host);
        if (name != "localhost" && name != "127.0.0.1" && name != "[::1]")
            return Refusal{403, "this server answers only requests to localhost or 127.0.0.1"};
    }
    if (!headers.origin.empty() && lower(headers.origin) != "http://" + lower(headers.host) &&
        lower(headers.origin) != "https://" + lower(headers.host))
        return Refusal{403, "requests from another site are refused"};
    return std::nullopt;
}

std::string browser_json(std::string_view json) {
    std::string out;
    out.reserve(json.size());
    bool in_string = false;
    for (std::size_t i = 0; i < json.size(); ++i) {
        char c = json[i];
        if (in_string) {
            out += c;
            if (c == '\\' && i + 1 < json.size())
                out += json[++i];
            else if (c == '"')
                in_string = false;
            continue;
        }
        in_string = c == '"';
        std::string_view rest = json.substr(i);
        std::size_t word = 0;
        for (std::string_view bare : {"NaN", "Infinity", "-Infinity"})
            if (rest.substr(0, bare.size()) == bare) word = bare.size();
        if (word == 0) {
            out += c;
            continue;
        }
        out += '"';
        out += rest.substr(0, word);
        out += '"';
        i += word - 1;
    }
    return out;
}

Admission admit(std::string_view path, const Headers& headers, bool body_read, bool loopback_only) {
    const Endpoint* endpoint = endpoint_at(path);
    if (!endpoint) return {nullptr, Refusal{http_status(Outcome::NotFound), "no endpoint " + std::string(path)}};
    if (auto refusal = header_refusal(headers, loopback_only)) return {endpoint, std::move(refusal)};
    if (!body_read) return {endpoint, Refusal{http_status(Outcome::TooLarge), too_large_message(*endpoint)}};
    return {endpoint, std::nullopt};
}

Value solve_options(const RunRequest& request) {
    Value options = Value::object({{"time_limit", Value::of(request.time_limit)}});
    if (request.mip_gap) options.members().emplace_back("mip_gap", Value::of(*request.mip_gap));
    if (request.sensitivity == Sensitivity::Full) options.members().emplace_back("sensitivity", Value::of(true));
    if (request.sensitivity == Sensitivity::Duals) options.members().emplace_back("sensitivity", Value::of("duals"));
    return options;
}

Value body_value(std::string_view body) {
    if (body.starts_with("\xEF\xBB\xBF")) body.remove_prefix(3);
    Value given = json::parse(body, {.repeated_keys = true});
    return data::host_numbers(given, std::numeric_limits<std::size_t>::max(), "");
}

Parsed parse_request(const Endpoint& endpoint, const Value& given, const NameFold& fold) {
    Body b(given);
    Parsed out;
    auto done = [&](Request r) {
        b.finish("member", "this endpoint");
        if (b.failed())
            out.error = b.error();
        else
            out.request = std::move(r);
        return out;
    };
    switch (endpoint.id) {
    case EndpointId::Check: b.takes({"model", "data"}); return done(CheckRequest{b.pair()});
    case EndpointId::Run: {
        b.takes({"model", "data", "time_limit", "mip_gap", "sensitivity"});
        RunRequest r;
        r.pair = b.pair();
        r.time_limit = b.number("time_limit", 0, true, kMaxSolveSeconds).value_or(kDefaultSolveSeconds);
        r.mip_gap = b.number("mip_gap", 0, false, 1);
        r.sensitivity = b.choice<Sensitivity>(
                             "sensitivity",
                             {{"none", Sensitivity::None}, {"duals", Sensitivity::Duals}, {"full", Sensitivity::Full}})
                            .value_or(Sensitivity::None);
        return done(std::move(r));
    }
    case EndpointId::Emit: {
        b.takes({"model", "data", "format"});
        EmitRequest r;
        r.pair = b.pair();
        std::vector<std::pair<std::string_view, const emitter::Output*>> formats;
        for (const emitter::Output& output : emitter::outputs()) formats.emplace_back(output.name, &output);
        r.output = b.choice<const emitter::Output*>("format", formats).value_or(&emitter::default_output());
        return done(std::move(r));
    }
    case EndpointId::Generate: {
        b.takes({"description", "provider", "model", "iterations", "execution_check", "assumptions", "what_if",
                 "what_if_max"});
        GenerateRequest r;
        r.description = b.text("description", true, true, kMaxSmallBody).value_or("");
        r.provider = b.provider("provider", fold);
        r.model = b.text("model", false, true, 200);
        r.iterations = b.integer("iterations", 1, kMaxIterations);
        r.execution_check = b.flag("execution_check");
        r.assumptions = b.flag("assumptions");
        r.what_if = b.flag("what_if");
        r.what_if_max = b.integer("what_if_max", 0, kMaxWhatIf);
        return done(std::move(r));
    }
    case EndpointId::Feedback: {
        b.takes({"question", "model", "data", "provider", "llm_model"});
        FeedbackRequest r;
        r.question = b.text("question", true, true, kMaxSmallBody).value_or("");
        r.pair = b.pair();
        r.provider = b.provider("provider", fold);
        r.model = b.text("llm_model", false, true, 200);
        return done(std::move(r));
    }
    case EndpointId::Apply: {
        b.takes({"name", "model", "data"});
        ApplyRequest r;
        r.name = b.text("name", true, false, 4 * kMaxNameBytes).value_or("");
        r.pair = b.pair();
        std::string name = r.name;
        // A name the working folder would not take refuses a request that is otherwise whole.
        if (done(std::move(r)).request && !name_refusal(name).empty())
            return {std::nullopt, "'name': " + name_refusal(name)};
        return out;
    }
    case EndpointId::Examples: {
        b.takes({"description", "k"});
        ExamplesRequest r;
        r.description = b.text("description", false, false, kMaxSmallBody).value_or("");
        r.k = b.integer("k", 1, kMaxExamples).value_or(r.k);
        return done(std::move(r));
    }
    case EndpointId::Providers: {
        b.takes({});
        return done(ProvidersRequest{});
    }
    }
    out.error = "unknown endpoint";
    return out;
}

Value applied_answer(const Applied& applied) {
    auto name = [](const std::filesystem::path& p) {
        return p.empty() ? Value::null() : Value::of(p.filename().string());
    };
    return Value::object({{"applied", Value::of(true)},
                          {"model_file", name(applied.files.model)},
                          {"data_file", name(applied.files.data)},
                          {"backup_model_file", name(applied.backups.model)},
                          {"backup_data_file", name(applied.backups.data)}});
}

Value emitted(const emitter::Output& output) {
    return Value::object({{"format", Value::of(output.name)},
                          {"file_name", Value::of("model" + std::string(output.suffix))},
                          {"media_type", Value::of(output.media_type)}});
}

int http_status(Outcome outcome) {
    switch (outcome) {
    case Outcome::Ok: return 200;
    case Outcome::BadRequest: return 400;
    case Outcome::NotFound: return 404;
    case Outcome::TooLarge: return 413;
    case Outcome::DoesNotCompile: return 422;
    case Outcome::ProviderFailed: return 502;
    case Outcome::Failed: return 500;
    case Outcome::Conflict: return 409;
    case Outcome::Busy: return 429;
    case Outcome::TimedOut: return 504;
    }
    return 500;
}

std::string_view frame_name(FrameKind kind) {
    switch (kind) {
    case FrameKind::Step: return "step";
    case FrameKind::Result: return "result";
    case FrameKind::Failed: return "failed";
    case FrameKind::Cancelled: return "cancelled";
    }
    return "step";
}

std::string frame(FrameKind kind, std::string_view json) {
    std::string out = "event: " + std::string(frame_name(kind)) + "\n";
    // A line ends at CR, LF or CR LF in this format: each piece gets a data line.
    std::size_t start = 0;
    while (true) {
        std::size_t end = json.find_first_of("\r\n", start);
        out += "data: ";
        out += json.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        out += '\n';
        if (end == std::string_view::npos) break;
        start = end + (json[end] == '\r' && end + 1 < json.size() && json[end + 1] == '\n' ? 2 : 1);
    }
    out += '\n';
    return out;
}

std::string_view heartbeat() { return ": still working\n\n"; }

void FrameQueue::push(std::string frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.push_back(std::move(frame));
    ready_.notify_all();
}

void FrameQueue::finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
    ready_.notify_all();
}

void FrameQueue::cancel() {
    bound_->abandon();
    std::lock_guard<std::mutex> lock(mutex_);
    ready_.notify_all();
}

std::optional<std::string> FrameQueue::next() {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait_for(lock, std::chrono::duration<double>(kHeartbeatSeconds),
                    [&] { return done_ || !frames_.empty() || bound_->abandoned(); });
    if (!frames_.empty()) {
        std::string frame = std::move(frames_.front());
        frames_.pop_front();
        return frame;
    }
    if (done_) return std::nullopt;
    return std::string(heartbeat());
}

RunSlots::Taken RunSlots::take() {
    std::shared_ptr<std::atomic<int>> taken = taken_;
    if (++*taken <= limit_) return {Slot(taken.get(), [taken](const void*) { --*taken; }), ""};
    --*taken;
    return {nullptr, std::to_string(limit_) + " " + runs_ + " are under way; wait for one to end"};
}

std::string feedback_timed_out() {
    char shown[32];
    std::snprintf(shown, sizeof shown, "%g", kFeedbackSeconds);
    return std::string("the LLM service gave no answer within ") + shown + " s; ask again later";
}

// ------------------------------------------------------------- answers ----

Value find_examples_arguments(const ExamplesRequest& request) {
    return Value::object({{"description", Value::of(request.description)}, {"k", Value::of(request.k)}});
}

Value examples_by_name(const std::filesystem::path& library) {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(library, error)) {
        std::string name = entry.path().filename().string();
        if (name_refusal(name).empty() && fs::is_regular_file(entry.path() / (name + ".mod"), error))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    Value listed = Value::array();
    for (const std::string& name : names) {
        Value example = Value::object({{"name", Value::of(name)}});
        for (auto [key, suffix] : {std::pair{"description", ".txt"}, {"model", ".mod"}, {"data", ".dat"}}) {
            files::InputFile read = files::read_input_file(library / name / (name + suffix));
            example.members().emplace_back(key, Value::of(read.ok() ? std::move(read.bytes) : std::string()));
        }
        listed.items().push_back(std::move(example));
    }
    return Value::object({{"ranking", Value::of("name")}, {"examples", std::move(listed)}});
}

Value grounding_value(std::string_view description, std::string_view data) {
    namespace grounding = generative::grounding;
    auto listed = [](const std::vector<grounding::Finding>& found) {
        Value out = Value::array();
        for (const grounding::Finding& f : found) {
            const char* kind = f.match == grounding::Match::Assumed      ? "assumed"
                               : f.match == grounding::Match::Percentage ? "percentage"
                                                                         : "scaled";
            out.items().push_back(Value::object({{"text", Value::of(f.text)},
                                                 {"value", Value::of(f.value)},
                                                 {"line", Value::of(static_cast<int64_t>(f.line))},
                                                 {"kind", Value::of(kind)},
                                                 {"source", Value::of(f.source)},
                                                 {"shown", Value::of(grounding::finding_text(f))}}));
        }
        return out;
    };
    grounding::Report report = grounding::ground(description, data);
    return Value::object({{"assumptions", listed(report.assumptions)}, {"conversions", listed(report.conversions)}});
}

std::optional<std::string> missing_key(const generative::providers::Provider& provider,
                                       const generative::ReadVariable& read) {
    if (provider.environment.empty()) return std::nullopt;
    for (std::string_view name : provider.environment)
        if (read(name)) return std::nullopt;
    std::vector<std::string_view> names(provider.environment.begin(), provider.environment.end());
    return "no API key is set for " + std::string(provider.value) + ": the server reads it from " +
           generative::providers::spoken_list(names, "or") + "; set it where `tarvok serve` starts";
}

Value providers_answer(const generative::ReadVariable& read, std::string_view default_model,
                       int64_t default_iterations) {
    Value listed = Value::array();
    for (const generative::providers::Provider& p : generative::providers::kProviders) {
        // The recorded answers need a folder the page does not give.
        if (p.named_only) continue;
        Value variables = Value::array();
        for (std::string_view name : p.environment) variables.items().push_back(Value::of(std::string(name)));
        listed.items().push_back(Value::object({{"name", Value::of(std::string(p.value))},
                                                {"label", Value::of(std::string(p.label))},
                                                {"key_variables", std::move(variables)},
                                                {"key_set", Value::of(!missing_key(p, read).has_value())}}));
    }
    return Value::object({{"providers", std::move(listed)},
                          {"default_model", Value::of(std::string(default_model))},
                          {"iterations", Value::of(default_iterations)}});
}

}  // namespace tarvok::web
