#include "generative/few_shot.hpp"

#include "common/file_names.hpp"

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

}  // namespace tarvok::generative
