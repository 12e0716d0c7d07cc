// Finding the problem descriptions of an example library.
#pragma once

#include <filesystem>
#include <string>
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

}  // namespace tarvok::example_ranker
