// Files replaced whole or not at all (the model and data pair, scripts,
// summaries), and two paths recognised when they name one file.
#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

namespace tarvok::files {

/// A file operation that failed: the system's error number and the path the
/// caller named (not the temporary beside it).
class FileError : public std::system_error {
  public:
    FileError(int error_number, std::filesystem::path path)
        : std::system_error(error_number, std::generic_category(), "cannot write '" + path.native() + "'"),
          path_(std::move(path)) {}
    int error_number() const { return code().value(); }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

/// New content for one file.
struct FileContent {
    std::filesystem::path target;
    std::string_view bytes;
};

/// Gives every target its new bytes so that no failure and no kill leaves a
/// target truncated: each is written to a temporary file in its own folder,
/// flushed to disk, and only when all temporaries are complete are they
/// renamed over their targets, in order. A failure before the renames leaves
/// every target as it was and removes the temporaries. A target that is a
/// symbolic link keeps the link (the file it points to is replaced); one that
/// exists but is no regular file (a device, a pipe) is written in place, as
/// nothing can be renamed over it. A replaced file keeps its permission bits
/// and, where allowed, its owner. Throws FileError.
void replace_files(std::span<const FileContent> files);

/// replace_files for one file.
inline void write_file_atomically(const std::filesystem::path& target, std::string_view bytes) {
    const FileContent file{target, bytes};
    replace_files({&file, 1});
}

/// The file a path writes to: `path` with the chain of symbolic links at its
/// last component followed (at most 40 of them, as the system follows).
std::filesystem::path follow_links(const std::filesystem::path& path);

/// Whether writing `a` and writing `b` would write the same file: the same
/// path once absolute, normalised and with links followed, or one existing
/// file under two names (hard links).
bool same_file(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace tarvok::files
