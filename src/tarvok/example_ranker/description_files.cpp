#include "example_ranker/description_files.hpp"

#include "common/file_names.hpp"

#include <algorithm>
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

}  // namespace tarvok::example_ranker
