#include "generative/providers/retry.hpp"

#include "generative/providers/back_end_texts.hpp"
#include "generative/providers/deadline.hpp"
#include "generative/providers/providers.hpp"

namespace tarvok::generative::providers {

bool run_with_retry(const RetryPolicy& policy, const RetrySteps& steps) {
    for (long long attempt = 0; attempt < policy.attempts; ++attempt) {
        std::optional<std::string> error = steps.send();
        if (!error) return true;
        steps.say(attempt_failed(policy.label, *error));
        if (run_over_here()) break;  // given up, or out of time: not tried again
        if (steps.drop_rejected()) {
            steps.say(retrying_without_rejected(policy.label));
            continue;
        }
        if (attempt + 1 == policy.attempts) break;  // no wait after the last attempt
        steps.say(retrying_after(policy.label, attempt, policy.retries, *error));
        steps.wait(backoff_seconds(policy.backoff_sec, attempt));
    }
    steps.say(gave_up(policy.label, policy.retries));
    return false;
}

}  // namespace tarvok::generative::providers
