#include "generative/few_shot.hpp"

#include "common/file_names.hpp"

#include <cerrno>
#include <system_error>

namespace tarvok::generative {

std::optional<std::string> first_entry_with_suffix(const std::filesystem::path& folder, std::string_view suffix) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return std::nullopt;

    std::optional<std::string> best;
    std::u32string best_key;
    fs::directory_iterator it(folder, ec);
    if (ec) throw fs::filesystem_error("cannot list folder", folder, ec);
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        std::string name = it->path().filename().native();
        if (name.size() < suffix.size() || std::string_view(name).substr(name.size() - suffix.size()) != suffix) {
            continue;
        }
        std::u32string key = host_name(name);
        if (!best || key < best_key) {
            best = std::move(name);
            best_key = std::move(key);
        }
    }
    if (ec) throw fs::filesystem_error("cannot list folder", folder, ec);
    return best;
}

namespace {

/// The status of what `path` names; none when the host's path checks find it absent.
std::optional<std::filesystem::file_status> host_status(const std::filesystem::path& path) {
    if (path.native().find('\0') != std::string::npos) return std::nullopt;  // no file can have that name
    std::error_code ec;
    std::filesystem::file_status status = std::filesystem::status(path, ec);
    if (!ec) return status;
    int error = ec.value();
    if (error == ENOENT || error == ENOTDIR || error == EBADF || error == ELOOP) return std::nullopt;
    throw std::filesystem::filesystem_error("cannot check file", path, ec);
}

}  // namespace

std::optional<std::filesystem::path> file_beside(const std::filesystem::path& folder,
                                                 const std::filesystem::path& same_stem, std::string_view suffix) {
    std::optional<std::filesystem::file_status> own = host_status(same_stem);
    if (own && std::filesystem::is_regular_file(*own)) return same_stem;
    std::optional<std::string> name = first_entry_with_suffix(folder, suffix);
    if (!name) return std::nullopt;
    std::filesystem::path found = folder / *name;
    if (!host_status(found)) return std::nullopt;
    return found;
}

std::string retrieving_line(std::string_view k) { return "Retrieving few-shot examples (k=" + std::string(k) + ")"; }

std::vector<GatheringLine> lexical_fallback_lines(std::string_view reason, std::string_view reason_shown) {
    return {{false, "Few-shot ranking by meaning unavailable: " + std::string(reason)},
            {true, "Embedding model unavailable (" + std::string(reason_shown) +
                       "); ranking few-shot examples by word overlap (BM25)"}};
}

std::string found_line(std::size_t hits, std::string_view names) {
    return "Found " + std::to_string(hits) + " few-shot candidates: " + std::string(names);
}

std::vector<GatheringLine> retrieval_failed_lines(std::string_view reason) {
    return {{false, "Few-shot retrieval skipped: " + std::string(reason)},
            {true, "Few-shot retrieval failed; continuing without examples"}};
}

std::string skipped_hit_line(std::string_view reason) {
    return "Skipping example due to error: " + std::string(reason);
}

}  // namespace tarvok::generative
