// Text that a server or a client library produced, as the package's own
// messages (error texts, progress lines) show it: bounded in size, and never
// carrying a configured API key.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace tarvok::generative {

/// Characters of server text that one message shows at most.
inline constexpr std::size_t kServerTextLimit = 4000;

/// What stands in a message where a configured key's value stood.
inline constexpr std::string_view kKeyMask = "[key hidden]";

/// `text` (UTF-8 as the host hands it over) with every occurrence of each
/// non-empty key replaced by kKeyMask, then, when longer than `limit`
/// characters (code points), cut to its first `limit` characters followed by
/// a note that says where the cut happened and how long the text was.
std::string shown_server_text(std::string_view text, std::span<const std::string_view> keys,
                              std::size_t limit = kServerTextLimit);

}  // namespace tarvok::generative
