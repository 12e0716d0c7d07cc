// Pairing a stored problem description with its model and data files.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tarvok::generative {

/// Raw name of the first entry of `folder`, in the host's code-point order of
/// names, whose name ends in `suffix` (the pattern "*" + suffix); none when
/// there is no such entry or `folder` is missing or no directory. Throws
/// std::filesystem::filesystem_error when the folder cannot be listed.
std::optional<std::string> first_entry_with_suffix(const std::filesystem::path& folder, std::string_view suffix);

}  // namespace tarvok::generative
