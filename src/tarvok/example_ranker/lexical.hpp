// Ranking by the words descriptions share with the query (BM25): what ranks
// the examples when no embedding model can be loaded.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarvok::example_ranker {

/// The words of `text` as the ranking compares them: runs of letters and
/// digits (bytes beyond ASCII count as letters), lower-cased, with common
/// English words and plain numbers left out and endings folded, so that
/// "batches", "batch" and "batched" are one term and "maximise" matches
/// "maximize".
std::vector<std::string> terms(std::string_view text);

/// The BM25 score (k1 = 1.2, b = 0.75) of each document against the query:
/// every distinct query term a document holds adds its rarity across the
/// documents, weighted by how often it occurs there and damped for long
/// documents. A document sharing no term scores 0.
std::vector<double> bm25_scores(std::string_view query, const std::vector<std::string_view>& documents);

}  // namespace tarvok::example_ranker
