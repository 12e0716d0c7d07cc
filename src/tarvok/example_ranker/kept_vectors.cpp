#include "example_ranker/kept_vectors.hpp"

#include "common/file_names.hpp"
#include "common/files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <utility>

namespace tarvok::example_ranker {

namespace {

constexpr std::string_view kMagic = "TVKVEC1\n";
/// Written in the machine's order: a file from a machine of the other order
/// does not match.
constexpr std::uint32_t kOrderMark = 0x01020304;
/// No kept library is larger (10^5 descriptions of 1024 floats is 400 MB):
/// a larger file is not read at all.
constexpr std::uint64_t kMaxFileBytes = std::uint64_t{1} << 30;

std::uint64_t fnv1a(std::uint64_t hash, std::string_view bytes) {
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 0x100000001b3ULL;
    }
    return hash;
}
constexpr std::uint64_t kFnvStart = 0xcbf29ce484222325ULL;

void put(std::string& out, std::uint64_t value) { out.append(reinterpret_cast<const char*>(&value), 8); }
void put(std::string& out, std::string_view text) {
    put(out, text.size());
    out += text;
}

/// Reads from the front of `bytes`, failing (and staying failed) past its end.
struct Reader {
    std::string_view bytes;
    bool ok = true;

    std::string_view take(std::size_t count) {
        if (!ok || count > bytes.size()) {
            ok = false;
            return {};
        }
        std::string_view got = bytes.substr(0, count);
        bytes.remove_prefix(count);
        return got;
    }
    std::uint64_t number() {
        std::string_view got = take(8);
        std::uint64_t value = 0;
        if (ok) std::memcpy(&value, got.data(), 8);
        return value;
    }
    bool text_is(std::string_view wanted) {
        std::uint64_t size = number();
        return ok && size == wanted.size() && take(size) == wanted;
    }
};

}  // namespace

std::filesystem::path vectors_folder(const char* override_dir, const char* xdg_cache, const char* home) {
    namespace fs = std::filesystem;
    if (override_dir != nullptr && *override_dir != '\0') return fs::path(override_dir);
    if (xdg_cache != nullptr && *xdg_cache == '/') return fs::path(xdg_cache) / "tarvok";
    if (home != nullptr && *home != '\0') return fs::path(home) / ".cache" / "tarvok";
    return {};
}

std::string weights_stamp(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    std::vector<std::pair<std::string, std::string>> found;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    if (ec) return {};
    for (const fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
        if (ec) return {};
        std::error_code status_ec;
        if (!it->is_regular_file(status_ec)) continue;
        std::string facts;
        put(facts, it->file_size(status_ec));
        put(facts, static_cast<std::uint64_t>(it->last_write_time(status_ec).time_since_epoch().count()));
        if (status_ec) return {};
        found.emplace_back(fs::relative(it->path(), folder, status_ec).native(), std::move(facts));
    }
    std::sort(found.begin(), found.end());
    std::string stamp;
    for (const auto& [name, facts] : found) {
        put(stamp, name);
        stamp += facts;
    }
    return stamp;
}

std::optional<std::filesystem::path> weights_folder(std::string_view name, std::optional<std::string_view> packaged) {
    if (!packaged) {
        std::string raw = raw_name(name);
        std::error_code ec;
        if (raw.find('\0') != std::string::npos || !std::filesystem::is_directory(raw, ec)) return std::nullopt;
        packaged = name;
    }
    return files::named_path(files::absolute_name(*packaged));
}

std::string model_identity(std::string_view name, const std::filesystem::path& folder, std::string_view weights,
                           const std::vector<std::string>& versions, std::string_view type_name) {
    std::string identity;
    auto add = [&](std::string_view part) {
        identity += std::to_string(part.size()) + ":";
        identity += part;
    };
    add(name);
    add(folder.native());
    add(weights);
    for (const std::string& version : versions) add(version);
    identity += type_name;
    return identity;
}

std::string texts_hash(const std::vector<std::string_view>& texts) {
    std::uint64_t hash = kFnvStart;
    for (std::string_view text : texts) {
        std::string size;
        put(size, text.size());
        hash = fnv1a(fnv1a(hash, size), text);
    }
    std::string out;
    put(out, hash);
    return out;
}

std::string vectors_file_name(std::string_view library, std::string_view model) {
    std::string both;
    put(both, library);
    put(both, model);
    char name[40];
    std::snprintf(name, sizeof name, "vectors-%016llx.bin", static_cast<unsigned long long>(fnv1a(kFnvStart, both)));
    return name;
}

std::string encode_vectors(const VectorsKey& key, const Vectors& vectors) {
    std::string out(kMagic);
    out.append(reinterpret_cast<const char*>(&kOrderMark), 4);
    for (std::string_view part : {std::string_view(key.library), std::string_view(key.stamp),
                                  std::string_view(key.texts_hash), std::string_view(key.model)})
        put(out, part);
    put(out, vectors.rows);
    put(out, vectors.columns);
    out.append(reinterpret_cast<const char*>(vectors.values.data()), vectors.values.size() * sizeof(float));
    put(out, fnv1a(kFnvStart, out));
    return out;
}

std::optional<Vectors> decode_vectors(std::string_view bytes, const VectorsKey& key, std::size_t rows) {
    if (bytes.size() < kMagic.size() + 4 + 8) return std::nullopt;
    std::string_view body = bytes.substr(0, bytes.size() - 8);
    std::uint64_t sum = 0;
    std::memcpy(&sum, bytes.data() + body.size(), 8);
    if (sum != fnv1a(kFnvStart, body)) return std::nullopt;
    Reader in{body};
    std::uint32_t mark = 0;
    if (in.take(kMagic.size()) != kMagic) return std::nullopt;
    std::string_view mark_bytes = in.take(4);
    if (!in.ok) return std::nullopt;
    std::memcpy(&mark, mark_bytes.data(), 4);
    if (mark != kOrderMark) return std::nullopt;
    if (!in.text_is(key.library) || !in.text_is(key.stamp) || !in.text_is(key.texts_hash) || !in.text_is(key.model))
        return std::nullopt;
    Vectors vectors;
    std::uint64_t kept_rows = in.number(), columns = in.number();
    if (!in.ok || kept_rows != rows || columns == 0 || columns > kMaxFileBytes / sizeof(float)) return std::nullopt;
    // Exactly the values, nothing after them.
    if (kept_rows > in.bytes.size() / sizeof(float) / columns || in.bytes.size() != kept_rows * columns * sizeof(float))
        return std::nullopt;
    vectors.rows = kept_rows;
    vectors.columns = columns;
    vectors.values.resize(kept_rows * columns);
    std::memcpy(vectors.values.data(), in.bytes.data(), in.bytes.size());
    return vectors;
}

std::optional<Vectors> read_kept_vectors(const std::filesystem::path& folder, const VectorsKey& key, std::size_t rows) {
    if (folder.empty()) return std::nullopt;
    std::filesystem::path path = folder / vectors_file_name(key.library, key.model);
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    std::string bytes;
    bool ok =
        ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && static_cast<std::uint64_t>(info.st_size) <= kMaxFileBytes;
    if (ok) {
        bytes.resize(static_cast<std::size_t>(info.st_size));
        std::size_t got = 0;
        while (got < bytes.size()) {
            ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        bytes.resize(got);
    }
    ::close(fd);
    if (!ok) return std::nullopt;
    return decode_vectors(bytes, key, rows);
}

void keep_vectors(const std::filesystem::path& folder, const VectorsKey& key, const Vectors& vectors) {
    if (folder.empty() || vectors.values.size() != vectors.rows * vectors.columns) return;
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        std::filesystem::create_directories(folder, ec);
        if (ec) return;
        ::chmod(folder.c_str(), 0700);
    }
    try {
        files::write_file_atomically(folder / vectors_file_name(key.library, key.model), encode_vectors(key, vectors),
                                     files::Existing::Replace);
    } catch (const std::exception&) {
        // Nothing kept: the next run embeds the library again.
    }
}

}  // namespace tarvok::example_ranker
