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

void gather_examples(ExampleLibrary& library) {
    std::size_t hits = 0;
    try {
        library.notify("Retrieving few-shot examples (k=" + library.k_shown() + ")");
        try {
            library.rank_by_meaning();
        } catch (const MeaningUnavailable& e) {
            library.log("Few-shot ranking by meaning unavailable: " + e.reason());
            library.notify("Embedding model unavailable (" + library.shown(e.reason()) +
                           "); ranking few-shot examples by word overlap (BM25)");
            library.rank_lexically();
        }
        std::string names = library.hit_names();
        hits = library.hit_count();
        library.notify("Found " + std::to_string(hits) + " few-shot candidates: " + names);
    } catch (const GatheringStepFailed& e) {
        library.log("Few-shot retrieval skipped: " + e.reason());
        library.notify("Few-shot retrieval failed; continuing without examples");
        return;
    }
    for (std::size_t i = 0; i < hits; ++i) {
        try {
            if (library.take(i)) return;
        } catch (const GatheringStepFailed& e) {
            library.log("Skipping example due to error: " + e.reason());
        }
    }
}

}  // namespace tarvok::generative
