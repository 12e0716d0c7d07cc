// Files replaced whole or not at all (the model and data pair, scripts,
// summaries, model files a solver writes), the one reader of model and data
// files, and two paths recognised when they name one file.
#pragma once

#include "common/error.hpp"

#include <cstddef>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

namespace tarvok::files {

/// A file operation that failed (an Error of kind File): the system's error
/// number and the path the caller named (not the temporary beside it).
class FileError : public Error {
  public:
    FileError(int error_number, std::filesystem::path path);
    int error_number() const { return error_number_; }
    const std::filesystem::path& path() const { return path_; }

  private:
    int error_number_;
    std::filesystem::path path_;
};

/// What writing a file does with what is already at its path.
enum class Existing {
    /// A user's own path: a file is replaced, a link keeps the link and the
    /// file it points to is replaced.
    Follow,
    /// A name the package owns (a backup, a journal, a summary): whatever is
    /// there, a link too, is replaced by the new file; nothing is written
    /// through a link.
    Replace,
    /// A new file only: anything at the path, a link too, is left alone and
    /// the write fails with EEXIST.
    Refuse,
};

/// New content for one file.
struct FileContent {
    std::filesystem::path target;
    std::string_view bytes;
    Existing existing = Existing::Follow;
};

/// Gives every target its new bytes so that no failure and no kill leaves a
/// target truncated: each is written to a temporary file in its own folder,
/// flushed to disk, and only when all temporaries are complete are they
/// renamed over their targets, in order. A failure before the renames leaves
/// every target as it was and removes the temporaries; new files (Refuse)
/// already in place go again when a later target fails. What an
/// existing target gets is the target's `existing`: with Follow, a symbolic
/// link keeps the link (the file it points to is replaced) and an existing
/// file that is no regular file (a device, a pipe) is written in place, as
/// nothing can be renamed over it. A replaced file keeps its permission bits
/// and, where allowed, its owner. Throws FileError.
void replace_files(std::span<const FileContent> files);

/// replace_files for one file.
inline void write_file_atomically(const std::filesystem::path& target, std::string_view bytes,
                                  Existing existing = Existing::Follow) {
    const FileContent file{target, bytes, existing};
    replace_files({&file, 1});
}

/// A file that a library writes by its path (a solver writing a model file)
/// given to the target whole or not at all: the library writes `path()`, a
/// fresh temporary beside the target that keeps the target's suffix (by which
/// a writer may choose its format); `commit` checks what was written, flushes
/// it to disk and renames it over the target. Until then the target keeps
/// what it had, and the temporary goes with this object. A target that is a
/// symbolic link keeps the link; one that exists but is no regular file (a
/// device, a pipe) is written directly. Throws FileError.
class FileWrittenByPath {
  public:
    explicit FileWrittenByPath(const std::filesystem::path& target);
    FileWrittenByPath(const FileWrittenByPath&) = delete;
    FileWrittenByPath& operator=(const FileWrittenByPath&) = delete;
    ~FileWrittenByPath();

    /// Where the library writes.
    const std::filesystem::path& path() const { return in_place_ ? where_ : temp_; }

    /// Moves the written file into place. It must be a regular file that is
    /// not empty and ends with `ending` (what a complete file of its format
    /// ends with): a library that ignores a failed write (a full disk) leaves
    /// it short, which is ENOSPC when the file system has no room left, else
    /// EIO. The file gets the permission bits (and, where allowed, the owner)
    /// of the file it replaces.
    void commit(std::string_view ending = {});

  private:
    std::filesystem::path target_;  ///< as the caller named it, for errors
    std::filesystem::path where_;   ///< the target with its links followed
    std::filesystem::path temp_;
    bool in_place_ = false;
};

/// The most bytes a model, data or description file may hold: the compiler's
/// own limit on a text. Reading stops just past it.
inline constexpr std::size_t kMaxInputBytes = std::size_t{64} << 20;

/// An input file as read: its bytes, or why they cannot be used.
struct InputFile {
    enum class Failure { None, System, TooLarge, NotUtf8 };

    std::string bytes;
    Failure failure = Failure::None;
    int error_number = 0;    ///< for System
    std::size_t limit = 0;   ///< for TooLarge: the bytes allowed
    std::size_t line = 0;    ///< for NotUtf8: where the first byte that is not UTF-8 is (1-based,
    std::size_t column = 0;  ///< characters counted as the compiler counts them)
    unsigned char byte = 0;  ///< that byte

    bool ok() const { return failure == Failure::None; }
    /// The reason in words, e.g. "not UTF-8: byte 0xff at line 3, column 5".
    std::string reason() const;
    /// The errno the failure stands for: the system's, EFBIG or EILSEQ.
    int error_code() const;
};

/// The one reader of model and data files: the file's bytes exactly as they
/// are (no line ending changed), read no further than `max_bytes`, and taken
/// only when they are UTF-8 (without surrogates). Every command and the
/// evaluation read a pair through it, so the same bytes get the same verdict
/// everywhere.
InputFile read_input_file(const std::filesystem::path& path, std::size_t max_bytes = kMaxInputBytes);

/// The file a path writes to: `path` with the chain of symbolic links at its
/// last component followed (at most 40 of them, as the system follows).
std::filesystem::path follow_links(const std::filesystem::path& path);

/// Whether writing `a` and writing `b` would write the same file: the same
/// path once absolute, normalised and with links followed, or one existing
/// file under two names (hard links).
bool same_file(const std::filesystem::path& a, const std::filesystem::path& b);

/// The file a path names that is shown as the host's text (UTF-8, an
/// undecodable byte as a lone surrogate): the bytes os.fsencode gives.
std::filesystem::path named_path(std::string_view shown);

/// A shown path made absolute and normalised as the host's os.path.abspath
/// spells it: joined to the working folder, "." and ".." resolved by name
/// (links are not followed), exactly two leading slashes kept.
std::string absolute_name(std::string_view shown);

/// `path` made absolute and normalised as absolute_name spells it.
std::filesystem::path absolute_path(const std::filesystem::path& path);

/// The folder part of a shown path, as the host's os.path.dirname gives it.
std::string folder_name(std::string_view shown);

/// A failed OSError as the host's str() says it: "[Errno 13] Permission
/// denied: 'path'", with `shown` the path as messages show it.
std::string os_error_text(int error_number, std::string_view shown);

/// Appends `bytes` to the file at `path` (created with mode 0644 when it does
/// not exist) in one run of writes at its end, so that a log whose lines are
/// appended this way holds only whole lines when a writer stops between
/// them. With Existing::Replace (a name the package owns) a link at `path`
/// is removed and a file made in its place, never appended to through it.
/// Throws FileError.
void append_whole(const std::filesystem::path& path, std::string_view bytes, Existing existing = Existing::Follow);

}  // namespace tarvok::files
