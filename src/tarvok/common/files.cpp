#include "common/files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <system_error>
#include <vector>

namespace tarvok::files {

namespace fs = std::filesystem;

namespace {

/// One target on its way to its new content.
struct Pending {
    const FileContent* content;
    fs::path where;         ///< the file written: the target with its links followed
    fs::path temp;          ///< the complete temporary, renamed over `where` at the end
    bool in_place = false;  ///< an existing file that is no regular file
};

/// Removes the temporaries still on disk; errors are of no use here.
void remove_temporaries(std::vector<Pending>& pending) {
    for (Pending& p : pending) {
        if (!p.temp.empty()) ::unlink(p.temp.c_str());
        p.temp.clear();
    }
}

/// Writes all of `bytes` to `fd`, resuming after interrupted or partial writes.
bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

/// A fresh name beside `where`: a hidden file named after it, with a random
/// part so that concurrent writers never share one.
fs::path temporary_name(const fs::path& where, std::mt19937_64& random) {
    std::string name = where.filename().native();
    if (name.size() > 200) name.resize(200);  // the name must stay under the system's limit
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%012llx.tmp", static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
    return where.parent_path() / ("." + name + suffix);
}

std::mt19937_64& random_source() {
    thread_local std::mt19937_64 random{std::random_device{}()};
    return random;
}

[[noreturn]] void fail(const FileContent& content) { throw FileError(errno, content.target); }

/// Writes the complete temporary of `p`, with the permission bits (and, where
/// allowed, the owner) of the file it replaces.
void write_temporary(Pending& p) {
    struct stat existing {};
    const bool exists = ::stat(p.where.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        p.in_place = true;
        return;
    }
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        p.temp = temporary_name(p.where, random_source());
        fd = ::open(p.temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        int error = errno;
        p.temp.clear();
        errno = error;
        fail(*p.content);
    }
    bool ok = true;
    if (exists) {
        ok = ::fchmod(fd, existing.st_mode & 07777) == 0;
        if (ok && ::fchown(fd, existing.st_uid, existing.st_gid) != 0) {
            // Only the owner's own groups may be given away; the bits still hold.
        }
    }
    ok = ok && write_all(fd, p.content->bytes) && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        errno = error;
        fail(*p.content);
    }
}

/// Writes an existing file that is no regular file (a device, a pipe) directly.
void write_in_place(const Pending& p) {
    int fd = ::open(p.where.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) fail(*p.content);
    bool ok = write_all(fd, p.content->bytes);
    int error = errno;
    ::close(fd);
    if (!ok) {
        errno = error;
        fail(*p.content);
    }
}

/// Makes the renames in `folder` durable; best effort, as not every file
/// system can sync a directory.
void sync_folder(const fs::path& folder) {
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

fs::path follow_links(const fs::path& path) {
    fs::path where = path;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(where, ec)) break;
        fs::path next = fs::read_symlink(where, ec);
        if (ec) break;
        where = next.is_absolute() ? next : where.parent_path() / next;
    }
    return where;
}

void replace_files(std::span<const FileContent> files) {
    std::vector<Pending> pending;
    pending.reserve(files.size());
    for (const FileContent& content : files) pending.push_back({&content, follow_links(content.target), {}});
    try {
        for (Pending& p : pending) write_temporary(p);
        for (Pending& p : pending) {
            if (p.in_place) {
                write_in_place(p);
                continue;
            }
            if (::rename(p.temp.c_str(), p.where.c_str()) != 0) fail(*p.content);
            p.temp.clear();
        }
    } catch (...) {
        remove_temporaries(pending);
        throw;
    }
    for (const Pending& p : pending) sync_folder(p.where.parent_path());
}

bool same_file(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    if (fs::equivalent(a, b, ec) && !ec) return true;
    auto settled = [](const fs::path& p) {
        std::error_code ec;
        fs::path absolute = fs::absolute(follow_links(p), ec);
        if (ec) return p.lexically_normal();
        fs::path canonical = fs::weakly_canonical(absolute, ec);
        return ec ? absolute.lexically_normal() : canonical;
    };
    return settled(a) == settled(b);
}

}  // namespace tarvok::files
