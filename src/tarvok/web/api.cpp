#include "web/api.hpp"

#include <charconv>
#include <cmath>
#include <initializer_list>
#include <set>

namespace tarvok::web {

namespace {

const std::vector<Endpoint> kEndpoints = {
    {EndpointId::Check, "/api/check", "POST", kMaxPairBody},
    {EndpointId::Run, "/api/run", "POST", kMaxPairBody},
    {EndpointId::Emit, "/api/emit", "POST", kMaxPairBody},
    {EndpointId::Generate, "/api/generate", "POST", kMaxSmallBody},
    {EndpointId::Feedback, "/api/feedback", "POST", kMaxPairBody},
    {EndpointId::Apply, "/api/apply", "POST", kMaxPairBody},
    {EndpointId::Examples, "/api/examples", "POST", kMaxSmallBody},
};

std::string shown_number(double d) {
    char buffer[32];
    auto end = std::to_chars(buffer, buffer + sizeof buffer, d).ptr;
    return std::string(buffer, end);
}

/// The members of one body, each taken once; what is left over is refused.
class Body {
  public:
    explicit Body(const Value& given) : given_(given) {
        if (given.kind != Value::Kind::Object) fail("the body must be a JSON object, not " + describe_kind(given));
    }

    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }

    void takes(std::initializer_list<std::string_view> names) {
        for (std::string_view n : names) {
            order_.emplace_back(n);
            known_.emplace(n);
        }
    }

    /// A member that is present and not null.
    const Value* get(std::string_view name) {
        if (failed()) return nullptr;
        const Value* v = given_.find(name);
        return v && v->kind != Value::Kind::Null ? v : nullptr;
    }

    std::optional<std::string> text(std::string_view name, bool required, bool nonblank = false,
                                    std::size_t most = kMaxTextBytes) {
        const Value* v = get(name);
        if (!v) {
            if (required) fail("'" + std::string(name) + "' is required");
            return std::nullopt;
        }
        if (v->kind != Value::Kind::String) {
            fail("'" + std::string(name) + "' must be a string, not " + describe_kind(*v));
            return std::nullopt;
        }
        if (v->text.size() > most) {
            fail("'" + std::string(name) + "' has " + std::to_string(v->text.size()) + " bytes; at most " +
                 std::to_string(most) + " are taken");
            return std::nullopt;
        }
        if (nonblank && v->text.find_first_not_of(" \t\r\n\f\v") == std::string::npos) {
            fail("'" + std::string(name) + "' is empty");
            return std::nullopt;
        }
        return v->text;
    }

    /// A number in [low, high] (`low` itself excluded when `low_open`).
    std::optional<double> number(std::string_view name, double low, bool low_open, double high) {
        const Value* v = get(name);
        if (!v) return std::nullopt;
        if (v->kind != Value::Kind::Number && v->kind != Value::Kind::Integer) {
            fail("'" + std::string(name) + "' must be a number, not " + describe_kind(*v));
            return std::nullopt;
        }
        double n = v->number;
        if (!std::isfinite(n) || (low_open ? n <= low : n < low) || n > high) {
            fail("'" + std::string(name) + "' must be a number " + (low_open ? "above " : "of at least ") +
                 shown_number(low) + " and at most " + shown_number(high));
            return std::nullopt;
        }
        return n;
    }

    std::optional<int64_t> integer(std::string_view name, int64_t low, int64_t high) {
        const Value* v = get(name);
        if (!v) return std::nullopt;
        bool whole = v->kind == Value::Kind::Integer ||
                     (v->kind == Value::Kind::Number && std::isfinite(v->number) && std::trunc(v->number) == v->number);
        if (!whole) {
            fail("'" + std::string(name) + "' must be a whole number, not " + describe_kind(*v));
            return std::nullopt;
        }
        double n = v->kind == Value::Kind::Integer ? static_cast<double>(v->integer) : v->number;
        if (n < static_cast<double>(low) || n > static_cast<double>(high)) {
            fail("'" + std::string(name) + "' must be from " + std::to_string(low) + " to " + std::to_string(high));
            return std::nullopt;
        }
        return static_cast<int64_t>(n);
    }

    std::optional<bool> flag(std::string_view name) {
        const Value* v = get(name);
        if (!v) return std::nullopt;
        if (v->kind != Value::Kind::Boolean) {
            fail("'" + std::string(name) + "' must be true or false, not " + describe_kind(*v));
            return std::nullopt;
        }
        return v->boolean;
    }

    /// One of `choices`, by name.
    template <typename E>
    std::optional<E> choice(std::string_view name, std::initializer_list<std::pair<std::string_view, E>> choices) {
        const Value* v = get(name);
        if (!v) return std::nullopt;
        if (v->kind == Value::Kind::String)
            for (const auto& [word, value] : choices)
                if (v->text == word) return value;
        std::string words;
        for (const auto& [word, value] : choices) words += (words.empty() ? "'" : ", '") + std::string(word) + "'";
        fail("'" + std::string(name) + "' must be one of " + words);
        return std::nullopt;
    }

    /// The model (required) and its data (a text; none is an empty text).
    Pair pair() {
        Pair p;
        p.model = text("model", true).value_or("");
        p.data = text("data", false).value_or("");
        return p;
    }

    /// Refuses members the endpoint does not take; call after reading them all.
    void finish() {
        if (failed()) return;
        for (const auto& [key, value] : given_.members) {
            if (known_.count(key)) continue;
            std::string names;
            for (const std::string& k : order_) names += (names.empty() ? "" : ", ") + k;
            fail("unknown member '" + key + "'; this endpoint takes " + names);
            return;
        }
    }

    void fail(std::string message) {
        if (error_.empty()) error_ = std::move(message);
    }

  private:
    const Value& given_;
    std::set<std::string, std::less<>> known_;
    std::vector<std::string> order_;
    std::string error_;
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

std::string body_refusal(const Endpoint& endpoint, std::optional<uint64_t> declared_length) {
    if (declared_length && *declared_length > endpoint.max_body)
        return "the body has " + std::to_string(*declared_length) + " bytes; " + std::string(endpoint.path) +
               " takes at most " + std::to_string(endpoint.max_body);
    return "";
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

Parsed parse_request(const Endpoint& endpoint, const Value& given) {
    Body b(given);
    Parsed out;
    auto done = [&](Request r) {
        b.finish();
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
        r.format = b.choice<EmitFormat>(
                        "format", {{"scipy", EmitFormat::SciPy}, {"mps", EmitFormat::Mps}, {"lp", EmitFormat::Lp}})
                       .value_or(EmitFormat::SciPy);
        return done(std::move(r));
    }
    case EndpointId::Generate: {
        b.takes({"description", "provider", "model", "iterations", "execution_check"});
        GenerateRequest r;
        r.description = b.text("description", true, true, kMaxSmallBody).value_or("");
        r.provider = b.text("provider", false, true, kMaxNameBytes);
        r.model = b.text("model", false, true, 200);
        r.iterations = b.integer("iterations", 1, kMaxIterations);
        r.execution_check = b.flag("execution_check");
        return done(std::move(r));
    }
    case EndpointId::Feedback: {
        b.takes({"question", "model", "data", "provider", "llm_model"});
        FeedbackRequest r;
        r.question = b.text("question", true, true, kMaxSmallBody).value_or("");
        r.pair = b.pair();
        r.provider = b.text("provider", false, true, kMaxNameBytes);
        r.model = b.text("llm_model", false, true, 200);
        return done(std::move(r));
    }
    case EndpointId::Apply: {
        b.takes({"name", "model", "data"});
        ApplyRequest r;
        r.name = b.text("name", true, false, 4 * kMaxNameBytes).value_or("");
        r.pair = b.pair();
        return done(std::move(r));
    }
    case EndpointId::Examples: {
        b.takes({"description", "k"});
        ExamplesRequest r;
        r.description = b.text("description", false, false, kMaxSmallBody).value_or("");
        r.k = b.integer("k", 1, kMaxExamples).value_or(r.k);
        return done(std::move(r));
    }
    }
    out.error = "unknown endpoint";
    return out;
}

std::string_view suffix_of(EmitFormat format) {
    switch (format) {
    case EmitFormat::SciPy: return ".py";
    case EmitFormat::Mps: return ".mps";
    case EmitFormat::Lp: return ".lp";
    }
    return "";
}

std::string_view media_type_of(EmitFormat format) {
    return format == EmitFormat::SciPy ? "text/x-python" : "text/plain";
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

}  // namespace tarvok::web
