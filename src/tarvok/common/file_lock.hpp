// A lock held on a file while its holder lives: the one that keeps two runs
// off one output folder, and two saves off one pair.
#pragma once

#include <filesystem>
#include <optional>
#include <utility>

namespace tarvok::files {

/// An advisory lock on a file (flock), held by this process while the object
/// lives. The system releases it when the process ends, however it ends, so
/// a killed run never leaves a lock that blocks the next one.
class FileLock {
  public:
    /// Takes the lock on `path`, creating the file; nothing when another
    /// holder has it. Throws std::filesystem::filesystem_error when the file
    /// cannot be opened, a link at `path` too (it is never followed).
    static std::optional<FileLock> try_take(const std::filesystem::path& path);

    FileLock(FileLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    FileLock& operator=(FileLock&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    FileLock(const FileLock&) = delete;
    ~FileLock();

  private:
    explicit FileLock(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace tarvok::files
