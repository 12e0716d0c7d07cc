#include "example_ranker/description_files.hpp"

#include "common/file_names.hpp"
#include "common/files.hpp"
#include "common/utf8.hpp"
#include "example_ranker/ranking.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <numeric>
#include <string_view>
#include <system_error>

namespace tarvok::example_ranker {

namespace {

bool is_description_name(std::string_view name) {
    constexpr std::string_view suffix = ".txt";
    return name.size() >= suffix.size() && name.substr(name.size() - suffix.size()) == suffix;
}

using Key = std::vector<std::u32string>;

Key key_of(const RelativePath& path) {
    Key key;
    key.reserve(path.size());
    for (const auto& part : path) key.push_back(host_name(part));
    return key;
}

}  // namespace

bool path_less(const RelativePath& a, const RelativePath& b) { return key_of(a) < key_of(b); }

std::vector<RelativePath> list_description_files(const std::filesystem::path& root) {
    namespace fs = std::filesystem;
    std::vector<RelativePath> found;
    std::error_code ec;
    if (!fs::is_directory(root, ec)) return found;

    // Depth-first by hand rather than with the recursive iterator, which
    // abandons the whole walk at the first directory it cannot read.
    std::vector<std::pair<fs::path, RelativePath>> pending{{root, {}}};
    while (!pending.empty()) {
        auto [dir, prefix] = std::move(pending.back());
        pending.pop_back();
        fs::directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec);
        if (ec) {
            ec.clear();
            continue;
        }
        for (const fs::directory_iterator end; it != end; it.increment(ec)) {
            const fs::directory_entry& entry = *it;
            std::string name = entry.path().filename().native();
            std::error_code status_ec;
            if (entry.is_directory(status_ec) && !entry.is_symlink(status_ec)) {
                RelativePath below = prefix;
                below.push_back(name);
                pending.emplace_back(entry.path(), std::move(below));
                continue;
            }
            if (!is_description_name(name) || !entry.is_regular_file(status_ec)) continue;
            RelativePath parts = prefix;
            parts.push_back(std::move(name));
            found.push_back(std::move(parts));
        }
        ec.clear();  // a listing cut short keeps what it found
    }

    std::vector<Key> keys;
    keys.reserve(found.size());
    for (const auto& path : found) keys.push_back(key_of(path));
    std::vector<std::size_t> order(found.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
    std::vector<RelativePath> sorted;
    sorted.reserve(found.size());
    for (std::size_t i : order) sorted.push_back(std::move(found[i]));
    return sorted;
}

namespace {

/// FNV-1a over `bytes`, continuing from `hash`.
std::uint64_t fnv1a(std::uint64_t hash, const char* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        hash ^= static_cast<unsigned char>(bytes[i]);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

/// Bytes of a description that its stamp hashes: a larger file (which no
/// ranking reads that far into) is told apart beyond them by size and time.
constexpr std::size_t kHashedBytes = std::size_t{8} << 20;

void append_number(std::string& out, std::uint64_t value) { out.append(reinterpret_cast<const char*>(&value), 8); }

}  // namespace

std::string library_stamp(const std::filesystem::path& root, const std::vector<RelativePath>& files) {
    namespace fs = std::filesystem;
    std::string stamp;
    std::vector<char> buffer(1 << 16);
    for (const RelativePath& parts : files) {
        fs::path path = root;
        for (const std::string& part : parts) {
            path /= part;
            append_number(stamp, part.size());  // lengths first: no two lists of names stamp alike
            stamp += part;
        }
        append_number(stamp, parts.size());
        std::error_code ec;
        std::uintmax_t size = fs::file_size(path, ec);
        auto modified = fs::last_write_time(path, ec);
        std::FILE* file = ec ? nullptr : std::fopen(path.c_str(), "rb");
        if (file == nullptr) {
            stamp += '\0';
            continue;
        }
        std::uint64_t hash = 0xcbf29ce484222325ULL;
        std::size_t hashed = 0;
        for (std::size_t got; hashed < kHashedBytes && (got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0;
             hashed += got)
            hash = fnv1a(hash, buffer.data(), got);
        bool failed = std::ferror(file) != 0;
        std::fclose(file);
        if (failed) {
            stamp += '\0';
            continue;
        }
        stamp += '\1';
        append_number(stamp, size);
        append_number(stamp, static_cast<std::uint64_t>(modified.time_since_epoch().count()));
        append_number(stamp, hash);
    }
    return stamp;
}

std::string default_library_folder(std::string_view module_file) {
    std::error_code ec;
    std::filesystem::path file = std::filesystem::weakly_canonical(files::named_path(module_file), ec);
    if (ec) file = files::absolute_path(files::named_path(module_file));
    return shown_name((file.parent_path() / "tvl_models").native());
}

bool library_folder_exists(std::string_view shown) {
    std::string raw = raw_name(shown);
    if (raw.find('\0') != std::string::npos) return false;
    struct stat status {};
    if (::stat(raw.c_str(), &status) == 0) return true;
    int error = errno;
    if (error == ENOENT || error == ENOTDIR || error == EBADF || error == ELOOP) return false;
    throw files::FileError(error, std::filesystem::path(std::string(shown)));  // named as shown
}

std::string joined_name(std::string_view root, const RelativePath& parts) {
    std::string name(root);
    for (const std::string& part : parts) {
        if (name.empty() || name.back() != '/') name += '/';
        name += shown_name(part);
    }
    return name;
}

namespace {

/// Bytes of the first `count` characters of `text` (UTF-8, lone surrogates in three bytes).
std::size_t prefix_bytes(std::string_view text, std::uint64_t count) {
    std::size_t pos = 0;
    for (; pos < text.size() && count > 0; --count) pos += utf8::decode(text, pos, true).length;
    return pos;
}

}  // namespace

std::string read_description(const std::filesystem::path& path, long long max_chars) {
    // The host reads max_chars + 1 characters, all of them for a count below
    // zero, none for -1, and keeps [:max_chars] of them.
    if (max_chars == -1 || path.native().find('\0') != std::string::npos) return {};
    bool bounded = max_chars >= 0;
    std::uint64_t wanted = bounded ? static_cast<std::uint64_t>(max_chars) + 1 : 0;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return {};
    std::string text, pending;
    std::vector<char> buffer(1 << 16);
    std::uint64_t count = 0;
    bool after_cr = false, done = false, end = false;
    while (!done && !end) {
        std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
        if (got < buffer.size()) {
            if (std::ferror(file) != 0) {
                std::fclose(file);
                return {};
            }
            end = true;
        }
        pending.append(buffer.data(), got);
        std::size_t pos = 0;
        while (pos < pending.size()) {
            utf8::Step step = utf8::decode(pending, pos);
            if (!step.ok && step.truncated && !end) break;  // completed by the next read
            pos += step.length;
            if (!step.ok) continue;  // left out, as errors="ignore" leaves it
            char32_t c = step.code_point;
            if (after_cr && c == '\n') {  // the "\n" of a "\r\n" already read as one
                after_cr = false;
                continue;
            }
            after_cr = c == '\r';
            utf8::append(text, after_cr ? U'\n' : c);
            if (++count == wanted) {
                done = true;
                break;
            }
        }
        pending.erase(0, pos);
    }
    std::fclose(file);
    if (bounded) {
        if (count > static_cast<std::uint64_t>(max_chars)) text.resize(prefix_bytes(text, max_chars));
    } else {
        std::uint64_t dropped = 0 - static_cast<std::uint64_t>(max_chars);
        text.resize(prefix_bytes(text, count > dropped ? count - dropped : 0));
    }
    return std::string(utf8::strip_host_space(text));
}

std::string preview(std::string_view text) {
    std::string shown(text.substr(0, prefix_bytes(text, kPreviewLength)));
    std::replace(shown.begin(), shown.end(), '\n', ' ');
    return shown;
}

}  // namespace tarvok::example_ranker
