#include "common/files.hpp"

#include "common/file_names.hpp"
#include "common/utf8.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <random>
#include <system_error>
#include <vector>

namespace tarvok::files {

FileError::FileError(int error_number, std::filesystem::path path)
    : Error(Error::file(error_number, path.native(),
                        "cannot write '" + path.native() + "': " + std::generic_category().message(error_number))),
      error_number_(error_number), path_(std::move(path)) {}

namespace fs = std::filesystem;

namespace {

/// One target on its way to its new content.
struct Pending {
    const FileContent* content;
    fs::path where;         ///< the file written: the target with its links followed
    fs::path temp;          ///< the complete temporary, renamed over `where` at the end
    bool in_place = false;  ///< an existing file that is no regular file
    bool created = false;   ///< a new file (Refuse) this call has put in place
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
/// part so that concurrent writers never share one; with `keep_suffix` the
/// name ends in `where`'s own suffix (".lp" stays last).
fs::path temporary_name(const fs::path& where, std::mt19937_64& random, bool keep_suffix = false) {
    std::string name = (keep_suffix ? where.stem() : where.filename()).native();
    std::string kept = keep_suffix ? where.extension().native() : std::string();
    if (kept.size() > 20) kept.clear();
    if (name.size() > 200) name.resize(200);  // the name must stay under the system's limit
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%012llx.tmp", static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
    return where.parent_path() / ("." + name + suffix + kept);
}

std::mt19937_64& random_source() {
    thread_local std::mt19937_64 random{std::random_device{}()};
    return random;
}

[[noreturn]] void fail(const FileContent& content) { throw FileError(errno, content.target); }

/// Opens a new temporary beside `where` for writing; -1 (with errno set)
/// when the folder cannot take one.
int open_temporary(const fs::path& where, fs::path& temp, bool keep_suffix) {
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp = temporary_name(where, random_source(), keep_suffix);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        int error = errno;
        temp.clear();
        errno = error;
    }
    return fd;
}

/// Gives the open file `fd` the permission bits and, where allowed, the
/// owner of `existing`.
bool take_mode_of(int fd, const struct stat& existing) {
    if (::fchmod(fd, existing.st_mode & 07777) != 0) return false;
    if (::fchown(fd, existing.st_uid, existing.st_gid) != 0) {
        // Only the owner's own groups may be given away; the bits still hold.
    }
    return true;
}

/// Writes the complete temporary of `p`, with the permission bits (and, where
/// allowed, the owner) of the regular file it replaces.
void write_temporary(Pending& p) {
    struct stat existing {};
    const Existing mode = p.content->existing;
    bool exists =
        (mode == Existing::Follow ? ::stat(p.where.c_str(), &existing) : ::lstat(p.where.c_str(), &existing)) == 0;
    if (exists && mode == Existing::Refuse) {
        errno = EEXIST;
        fail(*p.content);
    }
    if (exists && !S_ISREG(existing.st_mode)) {
        if (mode == Existing::Follow) {
            p.in_place = true;
            return;
        }
        exists = false;  // a link or another kind of file is replaced, and lends nothing
    }
    int fd = open_temporary(p.where, p.temp, false);
    if (fd < 0) fail(*p.content);
    bool ok = !exists || take_mode_of(fd, existing);
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

/// Puts the complete temporary of a new file (Refuse) at its path, unless
/// something is there by now.
bool put_new(const Pending& p) {
    if (::renameat2(AT_FDCWD, p.temp.c_str(), AT_FDCWD, p.where.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the no-replace rename: a second name, then the temporary's goes.
    if (::link(p.temp.c_str(), p.where.c_str()) != 0) return false;
    ::unlink(p.temp.c_str());
    return true;
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
    for (const FileContent& content : files) {
        bool follow = content.existing == Existing::Follow;
        pending.push_back({&content, follow ? follow_links(content.target) : content.target, {}});
    }
    try {
        for (Pending& p : pending) write_temporary(p);
        for (Pending& p : pending) {
            if (p.in_place) {
                write_in_place(p);
                continue;
            }
            if (p.content->existing == Existing::Refuse) {
                if (!put_new(p)) fail(*p.content);
                p.created = true;
            } else if (::rename(p.temp.c_str(), p.where.c_str()) != 0) {
                fail(*p.content);
            }
            p.temp.clear();
        }
    } catch (...) {
        remove_temporaries(pending);
        for (const Pending& p : pending)
            if (p.created) ::unlink(p.where.c_str());
        throw;
    }
    for (const Pending& p : pending) sync_folder(p.where.parent_path());
}

FileWrittenByPath::FileWrittenByPath(const fs::path& target) : target_(target), where_(follow_links(target)) {
    struct stat existing {};
    if (::stat(where_.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        if (S_ISDIR(existing.st_mode)) throw FileError(EISDIR, target_);
        in_place_ = true;
        return;
    }
    int fd = open_temporary(where_, temp_, true);
    if (fd < 0) throw FileError(errno, target_);
    ::close(fd);
}

FileWrittenByPath::~FileWrittenByPath() {
    if (!temp_.empty()) ::unlink(temp_.c_str());
}

void FileWrittenByPath::commit(std::string_view ending) {
    if (in_place_) return;
    auto failed = [&](int error) {
        ::unlink(temp_.c_str());
        temp_.clear();
        throw FileError(error, target_);
    };
    /// A short file: the writer lost bytes without saying so.
    auto short_file = [&] {
        struct statvfs room {};
        bool full = ::statvfs(where_.parent_path().empty() ? "." : where_.parent_path().c_str(), &room) == 0 &&
                    room.f_bavail == 0;
        failed(full ? ENOSPC : EIO);
    };
    int fd = ::open(temp_.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) failed(errno);
    struct stat written {};
    bool ok = ::fstat(fd, &written) == 0;
    int error = errno;
    if (ok &&
        (!S_ISREG(written.st_mode) || written.st_size == 0 || written.st_size < static_cast<off_t>(ending.size()))) {
        ::close(fd);
        short_file();
    }
    if (ok && !ending.empty()) {
        std::string tail(ending.size(), '\0');
        ssize_t n = ::pread(fd, tail.data(), tail.size(), written.st_size - static_cast<off_t>(ending.size()));
        if (n != static_cast<ssize_t>(tail.size()) || tail != ending) {
            ::close(fd);
            short_file();
        }
    }
    struct stat existing {};
    if (ok && ::stat(where_.c_str(), &existing) == 0) ok = take_mode_of(fd, existing);
    ok = ok && ::fsync(fd) == 0;
    if (!ok) error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) failed(error);
    if (::rename(temp_.c_str(), where_.c_str()) != 0) failed(errno);
    temp_.clear();
    sync_folder(where_.parent_path());
}

int InputFile::error_code() const {
    if (failure == Failure::TooLarge) return EFBIG;
    return failure == Failure::NotUtf8 ? EILSEQ : error_number;
}

std::string InputFile::reason() const {
    char buffer[96];
    switch (failure) {
    case Failure::None: return "";
    case Failure::System: return std::generic_category().message(error_number);
    case Failure::TooLarge:
        std::snprintf(buffer, sizeof buffer, "larger than %zu MiB, the most a model or data file may hold",
                      limit >> 20);
        return buffer;
    case Failure::NotUtf8:
        std::snprintf(buffer, sizeof buffer, "not UTF-8: byte 0x%02x at line %zu, column %zu", byte, line, column);
        return buffer;
    }
    return "";
}

InputFile read_input_file(const fs::path& path, std::size_t max_bytes) {
    InputFile file;
    auto system_failure = [&](int error) {
        file.bytes.clear();
        file.failure = InputFile::Failure::System;
        file.error_number = error;
        return std::move(file);
    };
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return system_failure(errno);
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            ::close(fd);
            return system_failure(EISDIR);
        }
        if (S_ISREG(st.st_mode) && st.st_size > 0)
            file.bytes.reserve(std::min<std::size_t>(static_cast<std::size_t>(st.st_size), max_bytes) + 1);
    }
    // One byte past the limit tells a file at the limit from a larger one.
    while (file.bytes.size() <= max_bytes) {
        std::size_t have = file.bytes.size();
        std::size_t want = std::min<std::size_t>(std::size_t{1} << 16, max_bytes + 1 - have);
        file.bytes.resize(have + want);
        ssize_t n = ::read(fd, file.bytes.data() + have, want);
        file.bytes.resize(have + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        if (n < 0) {
            if (errno == EINTR) continue;
            int error = errno;
            ::close(fd);
            return system_failure(error);
        }
        if (n == 0) break;
    }
    ::close(fd);
    if (file.bytes.size() > max_bytes) {
        file.bytes.clear();
        file.failure = InputFile::Failure::TooLarge;
        file.limit = max_bytes;
        return file;
    }
    std::size_t line = 1, line_start = 0;
    for (std::size_t pos = 0; pos < file.bytes.size();) {
        utf8::Step step = utf8::decode(file.bytes, pos);
        if (!step.ok) {
            // Columns count characters: a valid sequence is one, any other byte one of its own.
            std::size_t column = 1;
            for (std::size_t k = line_start; k < pos; ++column) {
                utf8::Step before = utf8::decode(file.bytes, k);
                k += before.ok ? before.length : 1;
            }
            file.failure = InputFile::Failure::NotUtf8;
            file.byte = static_cast<unsigned char>(file.bytes[pos]);
            file.line = line;
            file.column = column;
            file.bytes.clear();
            return file;
        }
        if (file.bytes[pos] == '\n') {
            ++line;
            line_start = pos + 1;
        }
        pos += step.length;
    }
    return file;
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

void append_whole(const fs::path& path, std::string_view bytes, Existing existing) {
    int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | (existing == Existing::Follow ? 0 : O_NOFOLLOW);
    int fd = ::open(path.c_str(), flags, 0644);
    // A link planted at an owned name goes; one planted again meanwhile is refused.
    if (fd < 0 && errno == ELOOP && existing == Existing::Replace && ::unlink(path.c_str()) == 0)
        fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) throw FileError(errno, path);
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) {
            int error = errno;
            ::close(fd);
            throw FileError(error, path);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    if (::close(fd) != 0) throw FileError(errno, path);
}

std::filesystem::path named_path(std::string_view shown) { return std::filesystem::path(raw_name(shown)); }

std::string absolute_name(std::string_view shown) {
    std::string path(shown);
    if (path.empty() || path.front() != '/') {
        std::error_code error;
        std::string folder = shown_name(std::filesystem::current_path(error).native());
        if (error) throw std::filesystem::filesystem_error("cannot read the working folder", error);
        path = folder + (folder.empty() || folder.back() != '/' ? "/" : "") + path;
    }
    // One or three and more leading slashes mean the root; exactly two are kept, as the host keeps them.
    std::size_t slashes = path.find_first_not_of('/');
    if (slashes == std::string::npos) slashes = path.size();
    std::string root = slashes == 2 ? "//" : "/";
    std::vector<std::string_view> parts;
    std::string_view rest(path);
    while (!rest.empty()) {
        std::size_t cut = rest.find('/');
        std::string_view part = rest.substr(0, cut);
        rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string out = root;
    for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? "/" : "") + std::string(parts[i]);
    return out;
}

std::filesystem::path absolute_path(const std::filesystem::path& path) {
    return named_path(absolute_name(shown_name(path.native())));
}

std::string folder_name(std::string_view shown) {
    std::size_t cut = shown.rfind('/');
    std::string head(cut == std::string_view::npos ? std::string_view() : shown.substr(0, cut + 1));
    if (head.find_first_not_of('/') != std::string::npos)
        while (!head.empty() && head.back() == '/') head.pop_back();
    return head;
}

std::string os_error_text(int error_number, std::string_view shown) {
    return "[Errno " + std::to_string(error_number) + "] " + std::generic_category().message(error_number) + ": '" +
           std::string(shown) + "'";
}

}  // namespace tarvok::files
