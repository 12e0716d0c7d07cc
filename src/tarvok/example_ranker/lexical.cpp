#include "example_ranker/lexical.hpp"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <unordered_set>

namespace tarvok::example_ranker {

namespace {

constexpr double kK1 = 1.2;
constexpr double kB = 0.75;

/// Words too common in problem descriptions to tell them apart.
const std::unordered_set<std::string_view>& stop_words() {
    static const std::unordered_set<std::string_view> words{
        "a",     "about",  "above", "after", "all",   "also", "am",    "an",   "and",   "any",  "are",
        "as",    "at",     "be",    "been",  "being", "but",  "by",    "can",  "could", "do",   "does",
        "each",  "every",  "for",   "from",  "had",   "has",  "have",  "how",  "i",     "if",   "in",
        "into",  "is",     "it",    "its",   "least", "less", "many",  "may",  "more",  "most", "much",
        "must",  "my",     "no",    "not",   "of",    "on",   "only",  "or",   "our",   "out",  "over",
        "per",   "should", "so",    "some",  "such",  "than", "that",  "the",  "their", "them", "then",
        "there", "these",  "they",  "this",  "those", "to",   "under", "up",   "us",    "was",  "we",
        "were",  "what",   "when",  "which", "while", "who",  "will",  "with", "would", "you",  "your"};
    return words;
}

bool is_vowel(char c) { return c == 'a' || c == 'e' || c == 'i' || c == 'o' || c == 'u'; }

/// Folds plural, -ing and -ed endings, a final e and the -ise spelling.
std::string fold(std::string w) {
    auto ends = [&](std::string_view suffix) { return w.size() >= suffix.size() && w.ends_with(suffix); };
    if (w.size() > 4 && ends("ies")) {
        w.replace(w.size() - 3, 3, "y");
    } else if (w.size() > 4 && (ends("sses") || ends("xes") || ends("zes") || ends("ches") || ends("shes"))) {
        w.resize(w.size() - 2);
    } else if (w.size() > 3 && ends("s") && !ends("ss") && !ends("us") && !ends("is")) {
        w.pop_back();
    }
    for (std::string_view suffix : {std::string_view("ing"), std::string_view("ed")}) {
        if (w.size() >= suffix.size() + 3 && ends(suffix)) {
            w.resize(w.size() - suffix.size());
            // "planned" -> "plann" -> "plan"
            std::size_t n = w.size();
            if (w[n - 1] == w[n - 2] && !is_vowel(w[n - 1]) && w[n - 1] != 'l' && w[n - 1] != 's') w.pop_back();
            break;
        }
    }
    if (w.size() > 3 && ends("e")) w.pop_back();
    if (w.size() > 4 && ends("is")) w.back() = 'z';  // maximis(e) -> maximiz
    return w;
}

}  // namespace

std::vector<std::string> terms(std::string_view text) {
    std::vector<std::string> out;
    std::string word;
    bool digits_only = true;
    auto flush = [&] {
        if (!word.empty() && !digits_only && !stop_words().count(word)) out.push_back(fold(word));
        word.clear();
        digits_only = true;
    };
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        bool letter = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u >= 0x80;
        bool digit = u >= '0' && u <= '9';
        if (!letter && !digit) {
            flush();
            continue;
        }
        word += letter && u < 0x80 ? static_cast<char>(std::tolower(u)) : c;
        digits_only = digits_only && digit;
    }
    flush();
    return out;
}

std::vector<double> bm25_scores(std::string_view query, const std::vector<std::string_view>& documents) {
    std::vector<std::unordered_map<std::string, double>> counts(documents.size());
    std::vector<double> lengths(documents.size());
    std::unordered_map<std::string, double> holding;  // documents that hold each term
    double total = 0;
    for (std::size_t i = 0; i < documents.size(); ++i) {
        for (std::string& term : terms(documents[i])) counts[i][std::move(term)] += 1;
        double length = 0;
        for (const auto& [term, n] : counts[i]) {
            length += n;
            holding[term] += 1;
        }
        lengths[i] = length;
        total += length;
    }
    std::vector<double> scores(documents.size(), 0.0);
    if (documents.empty()) return scores;
    double average = std::max(total / static_cast<double>(documents.size()), 1.0);
    std::vector<std::string> wanted = terms(query);
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    auto n = static_cast<double>(documents.size());
    for (const std::string& term : wanted) {
        auto held = holding.find(term);
        if (held == holding.end()) continue;
        double df = held->second;
        double idf = std::log(1.0 + (n - df + 0.5) / (df + 0.5));
        for (std::size_t i = 0; i < documents.size(); ++i) {
            auto found = counts[i].find(term);
            if (found == counts[i].end()) continue;
            double f = found->second;
            scores[i] += idf * f * (kK1 + 1) / (f + kK1 * (1 - kB + kB * lengths[i] / average));
        }
    }
    return scores;
}

}  // namespace tarvok::example_ranker
