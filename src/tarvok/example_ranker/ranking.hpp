// The ranking's fixed sizes and its order by score.
#pragma once

#include <cstddef>
#include <cstdint>
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

}  // namespace tarvok::example_ranker
