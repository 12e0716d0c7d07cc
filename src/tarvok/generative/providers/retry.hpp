// The retry loop of a back-end's request, without the host: which attempt
// follows which failure, what the progress lines say and how long to wait.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tarvok::generative::providers {

/// How often and how patiently a request is tried.
struct RetryPolicy {
    std::string_view label;  ///< how progress lines name the provider
    long long attempts;
    std::string retries;  ///< the number of attempts as the caller gave it, for the texts
    double backoff_sec;   ///< the first wait; each later one doubles it
};

/// What the loop asks of the host.
struct RetrySteps {
    /// Sends the request once: nothing when it was answered, else the error's text.
    std::function<std::optional<std::string>()> send;
    /// Drops the parameters the last error rejects; true when any went.
    std::function<bool()> drop_rejected;
    std::function<void(const std::string&)> say;
    std::function<void(double seconds)> wait;
};

/// Tries the request until it is answered (true) or every attempt failed
/// (false, after saying so). A failure that drops rejected parameters is
/// retried at once; any other waits the back-off, except after the last
/// attempt. Nothing is tried again once the run of this thread is over (RunBound).
bool run_with_retry(const RetryPolicy& policy, const RetrySteps& steps);

}  // namespace tarvok::generative::providers
