// Text that a server or a client library produced, as the package's own
// messages (error texts, progress lines) show it: bounded in size, and never
// carrying a configured API key.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::generative {

/// Characters of server text that one message shows at most.
inline constexpr std::size_t kServerTextLimit = 4000;

/// What stands in a message where a configured key's value stood.
inline constexpr std::string_view kKeyMask = "[key hidden]";

/// The shortest run of a key's characters that counts as showing the key:
/// any run of this many characters of a key is hidden wherever it stands.
inline constexpr std::size_t kKeyFragment = 12;

/// `text` with the keys hidden: every occurrence of a non-empty key, and
/// every run of kKeyFragment or more bytes that also occurs in a key (a key
/// cut short, or its middle), replaced by kKeyMask; each stretch of hidden
/// bytes becomes one mask. Time linear in the text.
std::string hide_keys(std::string_view text, std::span<const std::string_view> keys);

/// How the host reads an environment variable: its text, or none when it is
/// unset or holds no text.
using ReadVariable = std::function<std::optional<std::string>(std::string_view name)>;

/// The keys configured now: the value of every key variable of the provider
/// table, in its order, as `read` finds it.
class ConfiguredKeys {
  public:
    explicit ConfiguredKeys(const ReadVariable& read);
    std::span<const std::string_view> views() const { return views_; }
    const std::vector<std::string>& keys() const { return keys_; }

  private:
    std::vector<std::string> keys_;
    std::vector<std::string_view> views_;
};

/// `text` (UTF-8 as the host hands it over) with the keys hidden (see
/// hide_keys), then, when longer than `limit`
/// characters (code points), cut to its first `limit` characters followed by
/// a note that says where the cut happened and how long the text was.
std::string shown_server_text(std::string_view text, std::span<const std::string_view> keys,
                              std::size_t limit = kServerTextLimit);

}  // namespace tarvok::generative
