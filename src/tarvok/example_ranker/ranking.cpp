#include "example_ranker/ranking.hpp"

#include "common/file_names.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
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

std::size_t kept_entries(std::size_t count, long long limit) {
    return limit > 0 && static_cast<std::uint64_t>(limit) < count ? static_cast<std::size_t>(limit) : count;
}

std::string ranking_line(std::size_t number, std::string_view path, double score) {
    char shown[400];
    // As the host writes a float: "nan" whatever its sign bit.
    if (std::isnan(score))
        std::snprintf(shown, sizeof shown, "nan");
    else
        std::snprintf(shown, sizeof shown, "%.4f", score);
    std::string head = number < 10 ? " " + std::to_string(number) : std::to_string(number);
    return head + ". " + std::string(path) + "  score=" + shown;
}

std::string_view first_line(std::string_view reason) { return reason.substr(0, reason.find('\n')); }

std::optional<std::string> missing_model_folder(std::string_view model_name, bool exists) {
    bool as_path = model_name.starts_with('/') || model_name.starts_with("./") || model_name.starts_with("../");
    if (!as_path || exists) return std::nullopt;
    return "no folder " + std::string(model_name);
}

std::optional<std::string> missing_model_folder(std::string_view model_name) {
    std::string raw = raw_name(model_name);
    std::error_code ec;
    bool exists = raw.find('\0') == std::string::npos && std::filesystem::exists(raw, ec);
    return missing_model_folder(model_name, exists);
}

std::string unavailable_message(std::string_view model_name, std::string_view reason) {
    return "embedding model '" + std::string(model_name) + "' could not be loaded (" + std::string(reason) +
           "), so the descriptions cannot be encoded";
}

}  // namespace tarvok::example_ranker
