#include "generative/grounding.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <set>
#include <utility>

namespace tarvok::generative::grounding {

namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }
bool letter(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }

double to_double(const std::string& plain) {
    double value = 0;
    std::from_chars(plain.data(), plain.data() + plain.size(), value);
    return value;
}

bool same(double a, double b) { return std::fabs(a - b) <= 1e-9 * std::max({1e-300, std::fabs(a), std::fabs(b)}); }

/// The number words a description may state counts in.
constexpr std::array<std::pair<std::string_view, double>, 40> kWords = {{
    {"zero", 0},      {"one", 1},        {"two", 2},       {"three", 3},    {"four", 4},      {"five", 5},
    {"six", 6},       {"seven", 7},      {"eight", 8},     {"nine", 9},     {"ten", 10},      {"eleven", 11},
    {"twelve", 12},   {"thirteen", 13},  {"fourteen", 14}, {"fifteen", 15}, {"sixteen", 16},  {"seventeen", 17},
    {"eighteen", 18}, {"nineteen", 19},  {"twenty", 20},   {"thirty", 30},  {"forty", 40},    {"fifty", 50},
    {"sixty", 60},    {"seventy", 70},   {"eighty", 80},   {"ninety", 90},  {"hundred", 100}, {"thousand", 1000},
    {"million", 1e6}, {"billion", 1e9},  {"dozen", 12},    {"half", 0.5},   {"twice", 2},     {"double", 2},
    {"triple", 3},    {"quarter", 0.25}, {"third", 3},     {"once", 1},
}};

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string trimmed_line(std::string_view data, std::size_t begin) {
    std::size_t end = data.find('\n', begin);
    if (end == std::string_view::npos) end = data.size();
    std::string_view line = data.substr(begin, end - begin);
    std::size_t a = line.find_first_not_of(" \t\r"), b = line.find_last_not_of(" \t\r");
    if (a == std::string_view::npos) return "";
    std::string out(line.substr(a, b - a + 1));
    if (out.size() > 200) {
        std::size_t cut = 200;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
        out = out.substr(0, cut) + "...";
    }
    return out;
}

}  // namespace

std::vector<Stated> stated_numbers(std::string_view s) {
    std::vector<Stated> out;
    std::size_t i = 0;
    while (i < s.size()) {
        char c = s[i];
        if (letter(c)) {
            std::size_t start = i;
            while (i < s.size() && (letter(s[i]) || digit(s[i]))) ++i;
            std::string word = lower(s.substr(start, i - start));
            for (const auto& [name, value] : kWords)
                if (word == name) out.push_back({value, false, std::string(s.substr(start, i - start))});
            continue;
        }
        bool leading_point = c == '.' && i + 1 < s.size() && digit(s[i + 1]) && (i == 0 || !digit(s[i - 1]));
        if (!digit(c) && !leading_point) {
            ++i;
            continue;
        }
        std::size_t start = i;
        std::string plain;
        // Whole part, with comma thousands separators when every group has three digits.
        while (i < s.size()) {
            if (digit(s[i])) {
                plain += s[i++];
            } else if (s[i] == ',' && i + 3 < s.size() && digit(s[i + 1]) && digit(s[i + 2]) && digit(s[i + 3]) &&
                       (i + 4 >= s.size() || !digit(s[i + 4])) && !plain.empty()) {
                ++i;
            } else {
                break;
            }
        }
        if (i + 1 < s.size() && s[i] == '.' && digit(s[i + 1])) {
            plain += s[i++];
            while (i < s.size() && digit(s[i])) plain += s[i++];
        }
        if (plain.empty() || plain == ".") continue;
        if (plain.front() == '.') plain = "0" + plain;
        Stated stated{to_double(plain), false, std::string(s.substr(start, i - start))};
        std::size_t after = i;
        while (after < s.size() && s[after] == ' ') ++after;
        if (after < s.size() && s[after] == '%') {
            stated.percent = true;
        } else {
            std::string next = lower(s.substr(after, 8));
            stated.percent = next.rfind("percent", 0) == 0 || next.rfind("per cent", 0) == 0;
        }
        out.push_back(std::move(stated));
    }
    return out;
}

std::vector<Finding> data_numbers(std::string_view d) {
    std::vector<Finding> out;
    std::size_t line = 1, line_start = 0, i = 0;
    auto newline = [&](std::size_t at) {
        ++line;
        line_start = at + 1;
    };
    while (i < d.size()) {
        char c = d[i];
        if (c == '\n') {
            newline(i);
            ++i;
        } else if (c == '/' && i + 1 < d.size() && d[i + 1] == '/') {
            while (i < d.size() && d[i] != '\n') ++i;
        } else if (c == '/' && i + 1 < d.size() && d[i + 1] == '*') {
            for (i += 2; i < d.size() && !(d[i] == '*' && i + 1 < d.size() && d[i + 1] == '/'); ++i)
                if (d[i] == '\n') newline(i);
            i += 2;
        } else if (c == '"') {
            for (++i; i < d.size() && d[i] != '"'; ++i) {
                if (d[i] == '\\')
                    ++i;
                else if (d[i] == '\n')
                    newline(i);
            }
            ++i;
        } else if (letter(c)) {
            while (i < d.size() && (letter(d[i]) || digit(d[i]))) ++i;  // a name, digits and all
        } else if (digit(c) || (c == '.' && i + 1 < d.size() && digit(d[i + 1]) && (i == 0 || d[i - 1] != '.'))) {
            std::size_t start = i;
            while (i < d.size() && digit(d[i])) ++i;
            if (i + 1 < d.size() && d[i] == '.' && digit(d[i + 1])) {
                for (++i; i < d.size() && digit(d[i]);) ++i;
            } else if (i < d.size() && d[i] == '.' && (i + 1 >= d.size() || d[i + 1] != '.')) {
                ++i;  // "5." is five
            }
            if (i < d.size() && (d[i] == 'e' || d[i] == 'E')) {
                std::size_t e = i + 1;
                if (e < d.size() && (d[e] == '+' || d[e] == '-')) ++e;
                if (e < d.size() && digit(d[e])) {
                    for (i = e; i < d.size() && digit(d[i]);) ++i;
                }
            }
            std::string text(d.substr(start, i - start));
            std::string plain = text.front() == '.' ? "0" + text : text;
            if (plain.back() == '.') plain.pop_back();
            Finding f;
            f.text = text;
            f.value = to_double(plain);
            f.line = line;
            f.line_text = trimmed_line(d, line_start);
            if (std::isfinite(f.value)) out.push_back(std::move(f));
        } else {
            ++i;
        }
    }
    return out;
}

Report ground(std::string_view description, std::string_view data) {
    std::vector<Stated> stated = stated_numbers(description);
    Report report;
    std::set<std::pair<std::size_t, double>> seen;  // (line, value)
    for (Finding& f : data_numbers(data)) {
        double v = f.value;
        if (v == 0 || v == 1 || !seen.insert({f.line, v}).second) continue;
        bool given = false;
        for (const Stated& s : stated) given = given || same(v, s.value);
        if (given) continue;
        // A percentage as a fraction first, then the smallest scaling.
        const Stated* found = nullptr;
        for (const Stated& s : stated)
            if (s.percent && same(v, s.value / 100)) found = found ? found : &s;
        if (found) {
            f.match = Match::Percentage;
            f.source = found->text;
        } else {
            for (int k = 1; k <= 9 && !found; ++k) {
                for (int sign : {1, -1}) {
                    for (const Stated& s : stated) {
                        if (s.value != 0 && same(v, s.value * std::pow(10.0, sign * k))) {
                            found = &s;
                            f.power = sign * k;
                            break;
                        }
                    }
                    if (found) break;
                }
            }
            if (found) {
                f.match = Match::Scaled;
                f.source = found->text;
            }
        }
        (f.match == Match::Assumed ? report.assumptions : report.conversions).push_back(std::move(f));
    }
    return report;
}

std::string finding_text(const Finding& f) {
    std::string where = " (line " + std::to_string(f.line) + ": " + f.line_text + ")";
    switch (f.match) {
    case Match::Percentage: return f.text + " = " + f.source + "% as a fraction" + where;
    case Match::Scaled: return f.text + " = " + f.source + " x 10^" + std::to_string(f.power) + where;
    case Match::Assumed: break;
    }
    return f.text + where;
}

}  // namespace tarvok::generative::grounding
