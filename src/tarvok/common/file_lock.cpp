#include "common/file_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <cerrno>
#include <system_error>

namespace tarvok::files {

std::optional<FileLock> FileLock::try_take(const std::filesystem::path& path) {
    int fd;
    do fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw std::filesystem::filesystem_error("cannot open the lock file", path,
                                                std::error_code(errno, std::generic_category()));
    int taken;
    do taken = ::flock(fd, LOCK_EX | LOCK_NB);
    while (taken != 0 && errno == EINTR);
    if (taken != 0) {
        int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK) return std::nullopt;
        throw std::filesystem::filesystem_error("cannot lock the file", path,
                                                std::error_code(error, std::generic_category()));
    }
    return FileLock(fd);
}

FileLock::~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing the last descriptor releases the lock
}

}  // namespace tarvok::files
