// Progress messages that callers of the loop may act on.
#pragma once

#include <string_view>

namespace tarvok::generative {

/// Sent when the LLM judged a compiling pair aligned and the loop stops.
inline constexpr std::string_view kAlignedMessage = "Aligned \u2713 Stopping.";

}  // namespace tarvok::generative
