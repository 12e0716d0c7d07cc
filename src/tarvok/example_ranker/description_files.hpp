// Finding the problem descriptions of an example library.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::example_ranker {

/// One description file, as the raw names of the path components below the
/// library root.
using RelativePath = std::vector<std::string>;

/// Every regular file (or link to one) below `root`, at any depth, whose name
/// ends in ".txt", sorted by components in the host's code-point order (a
/// proper prefix first). Links to directories are not followed, so a cycle
/// cannot trap the walk; directories that cannot be read are passed over. A
/// `root` that is missing or not a directory holds no descriptions.
std::vector<RelativePath> list_description_files(const std::filesystem::path& root);

/// True when `a` sorts before `b` in the order above.
bool path_less(const RelativePath& a, const RelativePath& b);

/// What a kept copy of a library is checked against before each ranking:
/// for every description file (in listing order) its path components, size,
/// modification time and a hash of its bytes (the first 8 MiB). Two stamps differ when a file
/// was added, removed, renamed or changed, even within one tick of the clock
/// and at the same size. A file that cannot be read stamps as unreadable (so
/// that reading it again is tried when it can be).
std::string library_stamp(const std::filesystem::path& root, const std::vector<RelativePath>& files);

/// The library folder a ranking reads when none is named: `tvl_models` beside
/// the module's file `module_file` (links resolved), as the host spells it.
std::string default_library_folder(std::string_view module_file);

/// Whether the folder `shown` (as the host spells it) is there, as the host's
/// Path.exists() tells: not when it is missing or its path cannot lead
/// anywhere (ENOENT, ENOTDIR, EBADF, ELOOP, a NUL byte); any other failure to
/// look throws files::FileError.
bool library_folder_exists(std::string_view shown);

/// A listed file's path as the host spells it: `root` (as the host spells a
/// folder) joined with the file's components.
std::string joined_name(std::string_view root, const RelativePath& parts);

/// The text of a description file as the ranking reads it: decoded as UTF-8
/// with undecodable bytes left out, each "\r\n" and lone "\r" read as "\n",
/// cut to `max_chars` characters (as the host's read(max_chars + 1) and
/// [:max_chars] cut it, a negative limit too) and trimmed of the host's white
/// space. Empty when the file cannot be opened or read.
std::string read_description(const std::filesystem::path& path, long long max_chars);

/// The first kPreviewLength characters of a description (lone surrogates
/// counted as one), each "\n" as one space.
std::string preview(std::string_view text);

}  // namespace tarvok::example_ranker
