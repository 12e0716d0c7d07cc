#include "scipy_emitter/atomic_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <random>

namespace tarvok::scipy_emitter {

namespace {

[[noreturn]] void fail(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

std::string folder_of(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

/// Opens a new file beside `path` that no one else has opened.
int open_temporary(const std::string& path, std::string& temporary) {
    size_t slash = path.rfind('/');
    std::string prefix = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string base = path.substr(prefix.size());
    std::random_device entropy;
    std::mt19937_64 random(entropy());
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, ".%012llx.tmp",
                      static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
        temporary = prefix + "." + base + suffix;
        int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return fd;
        if (errno != EEXIST) fail(errno, "cannot create a file beside '" + path + "'");
    }
    fail(EEXIST, "cannot create a file beside '" + path + "'");
}

/// Removes the temporary file unless it was renamed into place.
class TemporaryFile {
  public:
    explicit TemporaryFile(const std::string& path) { fd_ = open_temporary(path, name_); }
    ~TemporaryFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!name_.empty()) ::unlink(name_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    int fd() const { return fd_; }
    const std::string& name() const { return name_; }
    /// Closes the file, reporting what closing reports.
    int close() {
        int result = ::close(fd_);
        fd_ = -1;
        return result;
    }
    void kept() { name_.clear(); }

  private:
    std::string name_;  ///< before fd_: opening the file sets it
    int fd_ = -1;
};

}  // namespace

void write_file_atomically(const std::string& path, std::string_view content) {
    TemporaryFile file(path);
    struct stat existing;
    if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
        ::fchmod(file.fd(), existing.st_mode & 07777);

    const char* data = content.data();
    size_t left = content.size();
    while (left > 0) {
        ssize_t written = ::write(file.fd(), data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            fail(errno, "cannot write '" + path + "'");
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
    if (::fsync(file.fd()) != 0) fail(errno, "cannot write '" + path + "'");
    if (file.close() != 0) fail(errno, "cannot write '" + path + "'");
    if (::rename(file.name().c_str(), path.c_str()) != 0) fail(errno, "cannot write '" + path + "'");
    file.kept();

    // The rename itself lasts once the folder is on the disk too.
    int folder = ::open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

}  // namespace tarvok::scipy_emitter
