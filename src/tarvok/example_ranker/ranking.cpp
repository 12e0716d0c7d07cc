#include "example_ranker/ranking.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace tarvok::example_ranker {

std::vector<std::size_t> order_by_score(const std::vector<double>& scores) {
    std::vector<std::size_t> order(scores.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        double x = scores[a], y = scores[b];
        if (std::isnan(x) || std::isnan(y)) return !std::isnan(x) && std::isnan(y);
        return x > y;
    });
    return order;
}

}  // namespace tarvok::example_ranker
