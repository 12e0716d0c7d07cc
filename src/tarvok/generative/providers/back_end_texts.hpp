// What the back-ends say and the small rules they follow that need no host:
// the progress lines of a request, the failures of a request or a listing,
// the timeout texts, and which transport events the request deadline watches.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvok::generative::providers {

/// "[LLM] Label • model: sending request" (or `doing` in place of "sending request").
std::string request_started(std::string_view label, std::string_view model, std::string_view doing = "sending request");
/// "[LLM] Label: response received"
std::string reply_received(std::string_view label);
/// "[LLM] Label: the recorded reply"
std::string recorded_reply(std::string_view label);

/// The progress lines of the retry loop: an attempt's error, the retry that
/// drops rejected parameters, the wait before the next attempt, the end.
std::string attempt_failed(std::string_view label, std::string_view message);
std::string retrying_without_rejected(std::string_view label);
std::string retrying_after(std::string_view label, long long attempt, std::string_view retries,
                           std::string_view message);
std::string gave_up(std::string_view label, std::string_view retries);
/// The error raised when every attempt failed.
std::string request_failed(std::string_view label, std::string_view retries, std::string_view last_error);
/// An error's text naming the address the request went to ("Connection error. (tried
/// http://127.0.0.1:9/v1/responses)"), unless the text names it already or there is none.
std::string with_address(std::string text, std::string_view url);

/// The error raised when a listing of models fails for `reason`.
std::string listing_failed(std::string_view label, std::string_view reason);
/// The error raised when a reply holds no readable text.
std::string unreadable_reply(std::string_view label, std::string_view reason);
/// The error raised when a request came back with no reply at all.
std::string empty_reply(std::string_view label, std::string_view response);

/// Why the replay back-end has no transcripts to answer from.
inline constexpr std::string_view kNoReplayPath =
    "the replay provider needs REPLAY_PATH (--replay PATH): a transcript or a folder of them";
std::string replay_path_missing(std::string_view path);

/// What a request that ran into its deadline of `seconds` reports.
std::string timed_out_text(double seconds);
/// What a request cut because its run was given up reports.
inline constexpr std::string_view abandoned_text() { return "request abandoned: the run it belongs to was cancelled"; }
/// A timeout in seconds as whole milliseconds, rounded up (never to zero above zero).
long long timeout_milliseconds(double seconds);

/// The model name a listing shows: "models/NAME" as NAME; nothing for a
/// name in any other form.
std::optional<std::string_view> listed_model_name(std::string_view name);

/// What the deadline watch learns from a transport's trace event.
enum class TraceEvent { Connected, ResponseClosed, Other };
TraceEvent trace_event(std::string_view name);

}  // namespace tarvok::generative::providers
