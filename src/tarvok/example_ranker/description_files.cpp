#include "example_ranker/description_files.hpp"

#include "common/file_names.hpp"

#include <algorithm>
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

}  // namespace tarvok::example_ranker
