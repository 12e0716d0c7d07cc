#include "generative/providers/back_end_texts.hpp"

#include <cmath>
#include <cstdio>

namespace tarvok::generative::providers {

namespace {

std::string line(std::string_view label, std::string_view text) {
    return "[LLM] " + std::string(label) + ": " + std::string(text);
}

bool ends_with(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

}  // namespace

std::string request_started(std::string_view label, std::string_view model, std::string_view doing) {
    return "[LLM] " + std::string(label) + " \u2022 " + std::string(model) + ": " + std::string(doing);
}

std::string reply_received(std::string_view label) { return line(label, "response received"); }

std::string recorded_reply(std::string_view label) { return line(label, "the recorded reply"); }

std::string attempt_failed(std::string_view label, std::string_view message) { return line(label, message); }

std::string retrying_without_rejected(std::string_view label) {
    return line(label, "retrying without unsupported parameters");
}

std::string retrying_after(std::string_view label, long long attempt, std::string_view retries,
                           std::string_view message) {
    return line(label, "retry " + std::to_string(attempt + 1) + "/" + std::string(retries) +
                           " after error: " + std::string(message));
}

std::string gave_up(std::string_view label, std::string_view retries) {
    return line(label, "failed after " + std::string(retries) + " attempts");
}

std::string request_failed(std::string_view label, std::string_view retries, std::string_view last_error) {
    return std::string(label) + " request failed after " + std::string(retries) +
           " attempts: " + std::string(last_error);
}

std::string with_address(std::string text, std::string_view url) {
    if (url.empty() || text.find(url) != std::string::npos) return text;
    return text + " (tried " + std::string(url) + ")";
}

std::string listing_failed(std::string_view label, std::string_view reason) {
    return "Failed to list " + std::string(label) + " models: " + std::string(reason);
}

std::string unreadable_reply(std::string_view label, std::string_view reason) {
    return "Failed to retrieve response text from " + std::string(label) + " response: " + std::string(reason);
}

std::string empty_reply(std::string_view label, std::string_view response) {
    return "Empty " + std::string(label) + " response: " + std::string(response) + ".";
}

std::string replay_path_missing(std::string_view path) { return "replay path not found: " + std::string(path); }

std::string timed_out_text(double seconds) {
    char shown[32];
    std::snprintf(shown, sizeof shown, "%g", seconds);
    return std::string("request timed out: no complete reply within the ") + shown +
           " s request timeout (REQUEST_TIMEOUT, --timeout)";
}

long long timeout_milliseconds(double seconds) { return static_cast<long long>(std::ceil(seconds * 1000.0)); }

std::optional<std::string_view> listed_model_name(std::string_view name) {
    constexpr std::string_view kPrefix = "models/";
    if (name.substr(0, kPrefix.size()) != kPrefix) return std::nullopt;
    return name.substr(kPrefix.size());
}

TraceEvent trace_event(std::string_view name) {
    if (ends_with(name, "connect_tcp.complete") || ends_with(name, "connect_unix_socket.complete") ||
        ends_with(name, "start_tls.complete"))
        return TraceEvent::Connected;
    if (ends_with(name, "response_closed.complete")) return TraceEvent::ResponseClosed;
    return TraceEvent::Other;
}

}  // namespace tarvok::generative::providers
