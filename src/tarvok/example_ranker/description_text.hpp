// Reading, trimming and previewing problem descriptions, and ordering them by
// score.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::example_ranker {

/// Default cap, in characters, on what is read of one description.
inline constexpr std::int64_t kReadLimit = 100000;
/// Characters of a description shown in a ranking entry.
inline constexpr std::size_t kPreviewLength = 300;

/// The file's text as the host reads it in text mode with UTF-8 and dropped
/// undecodable bytes: line ends normalised to "\n", cut to its first
/// `max_chars` characters, then trimmed. A negative cap follows the host's
/// `read(max_chars + 1)` then `[:max_chars]`: -1 reads nothing, below that the
/// whole text loses that many characters at its end. Only what the cap needs
/// is read, so a huge file costs no more than its first characters. Empty when
/// the file cannot be opened or read.
std::string read_text(const std::filesystem::path& path, std::int64_t max_chars = kReadLimit);

/// The first `chars` characters of `text` (UTF-8) with every "\n" shown as a
/// blank.
std::string preview(std::string_view text, std::size_t chars = kPreviewLength);

/// Positions of `scores`, best first; equal scores keep their order. A NaN
/// score (which a faulty embedding can give) ranks last instead of breaking
/// the sort.
std::vector<std::size_t> order_by_score(const std::vector<double>& scores);

}  // namespace tarvok::example_ranker
