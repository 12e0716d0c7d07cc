#include "generative/replay.hpp"

#include "common/utf8.hpp"
#include "generative/prompts.hpp"

#include <algorithm>

namespace tarvok::generative::replay {

std::string first_line(std::string_view prompt, std::size_t limit) {
    std::size_t end = prompt.find_first_of("\r\n");
    std::string_view line = prompt.substr(0, end == std::string_view::npos ? prompt.size() : end);
    std::size_t pos = 0, count = 0;
    while (pos < line.size() && count < limit) {
        pos += utf8::decode(line, pos, true).length;
        ++count;
    }
    return std::string(line.substr(0, pos)) + (pos < line.size() ? "..." : "");
}

std::string missing_reply(std::string_view step, std::string_view prompt, std::string_view sha256_hex,
                          std::string_view where) {
    std::string request = step.empty() ? "the request" : "the " + std::string(step) + " request";
    return "no recorded reply for " + request + " (first line: '" + first_line(prompt) + "', SHA-256 " +
           std::string(sha256_hex) + ") in " + std::string(where);
}

const std::pair<const std::string, Recorded>* Book::nearest(std::string_view prompt, std::string_view step) const {
    const std::pair<const std::string, Recorded>* best = nullptr;
    std::pair<bool, std::size_t> best_score{false, 0};
    for (const auto& entry : by_prompt_) {
        const std::string& recorded = entry.first;
        auto [a, b] = std::mismatch(recorded.begin(), recorded.end(), prompt.begin(), prompt.end());
        std::pair<bool, std::size_t> score{!step.empty() && entry.second.step == step,
                                           static_cast<std::size_t>(a - recorded.begin())};
        if (!best || score > best_score) best = &entry, best_score = score;
    }
    return best;
}

namespace {

/// The grammar reference a prompt carries, or nothing.
std::optional<std::string_view> grammar_of(std::string_view prompt) {
    std::size_t open = prompt.find(pieces::grammar_open);
    if (open == std::string_view::npos) return std::nullopt;
    std::size_t from = open + pieces::grammar_open.size(), close = prompt.find(pieces::grammar_close, from);
    return prompt.substr(from, close == std::string_view::npos ? std::string_view::npos : close - from);
}

std::size_t examples_in(std::string_view prompt) {
    std::size_t count = 0;
    for (std::size_t at = prompt.find(pieces::example_open); at != std::string_view::npos;
         at = prompt.find(pieces::example_open, at + 1))
        ++count;
    return count;
}

std::vector<std::string_view> lines_of(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string_view::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    lines.push_back(text.substr(start));
    return lines;
}

}  // namespace

std::string nearest_difference(const Book& book, std::string_view step, std::string_view prompt) {
    const auto* nearest = book.nearest(prompt, step);
    if (!nearest) return "";
    std::string_view recorded = nearest->first;
    const std::string& step_name = nearest->second.step;
    std::string article = step_name.find_first_of("aeiou") == 0 ? "an " : "a ";
    std::string kind = step_name.empty() ? "" : article + step_name + " request, ";
    std::string out = "; the nearest recorded prompt (" + kind + "of " + std::to_string(book.size()) + ")";
    std::vector<std::string> differences;
    if (!step.empty() && !nearest->second.step.empty() && nearest->second.step != step)
        differences.push_back("is of another step");
    std::optional<std::string_view> had = grammar_of(recorded), has = grammar_of(prompt);
    if (had && !has) differences.push_back("has the grammar reference where this has none");
    if (!had && has) differences.push_back("has no grammar reference where this has one");
    if (had && has && *had != *has) differences.push_back("has another grammar reference");
    std::size_t examples_had = examples_in(recorded), examples_has = examples_in(prompt);
    if (examples_had != examples_has)
        differences.push_back("has " + std::to_string(examples_had) + " few-shot examples where this has " +
                              std::to_string(examples_has));
    std::vector<std::string_view> a = lines_of(recorded), b = lines_of(prompt);
    std::size_t line = 0;
    while (line < a.size() && line < b.size() && a[line] == b[line]) ++line;
    auto shown = [&](const std::vector<std::string_view>& lines) {
        return line < lines.size() ? "'" + first_line(lines[line], 80) + "'" : std::string("nothing");
    };
    differences.push_back("differs first at line " + std::to_string(line + 1) + ": recorded " + shown(a) + ", asked " +
                          shown(b));
    for (std::size_t i = 0; i < differences.size(); ++i)
        out += (i == 0 ? " " : i + 1 == differences.size() ? " and " : ", ") + differences[i];
    return out;
}

}  // namespace tarvok::generative::replay
