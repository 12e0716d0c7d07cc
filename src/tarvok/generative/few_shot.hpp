// Worked examples for the prompts: gathering them from a ranked library, and
// pairing a stored problem description with its model and data files.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::generative {

/// Raw name of the first entry of `folder`, in the host's code-point order of
/// names, whose name ends in `suffix` (the pattern "*" + suffix); none when
/// there is no such entry or `folder` is missing or no directory. Throws
/// std::filesystem::filesystem_error when the folder cannot be listed.
std::optional<std::string> first_entry_with_suffix(const std::filesystem::path& folder, std::string_view suffix);

/// The file beside a stored description that holds its model or data
/// (`suffix` ".mod" or ".dat"): `same_stem` (the description's name with the
/// suffix, in `folder`) when it is a regular file, else the folder's first
/// entry with the suffix; none when that does not exist. Checks go as the
/// host's path checks go: a missing file, a path through a non-folder, a loop
/// of links or a name with a NUL is absent; any other error of the file
/// system (a folder that cannot be searched or listed) throws
/// std::filesystem::filesystem_error naming the path.
std::optional<std::filesystem::path> file_beside(const std::filesystem::path& folder,
                                                 const std::filesystem::path& same_stem, std::string_view suffix);

/// A line of the gathering of worked examples: for the progress (which the
/// user sees), or for the debug log alone.
struct GatheringLine {
    bool progress = false;
    std::string text;
};

// The gathering's lines, in the order they go out. It ranks the library by
// meaning, else by shared words; a failed ranking leaves no examples and a
// failed hit is skipped, and both are logged.

/// Before ranking; `k` as the line writes it.
std::string retrieving_line(std::string_view k);
/// Ranking by meaning cannot be done (`reason`; `reason_shown` as messages
/// show it): the library is ranked by shared words instead.
std::vector<GatheringLine> lexical_fallback_lines(std::string_view reason, std::string_view reason_shown);
/// The ranking gave `hits` hits; `names` are their file names as the line shows them.
std::string found_line(std::size_t hits, std::string_view names);
/// A step of the ranking failed with `reason`: no examples.
std::vector<GatheringLine> retrieval_failed_lines(std::string_view reason);
/// Reading a hit failed with `reason`: it is skipped.
std::string skipped_hit_line(std::string_view reason);

}  // namespace tarvok::generative
