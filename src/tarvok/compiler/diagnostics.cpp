#include "compiler/diagnostics.hpp"

#include "compiler/utf8.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace tarvok::compiler {

void Diagnostics::error(Location at, std::string message) {
    for (const Diagnostic& d : items_)
        if (d.at.file == at.file && d.at.offset == at.offset && d.message == message) return;
    if (items_.size() >= cap_) {
        truncated_ = true;
        return;
    }
    items_.push_back({at, std::move(message)});
}

namespace {

constexpr size_t kShownColumns = 120;  // longer lines are shown as a window around the caret
constexpr size_t kContext = 60;

/// The characters of one line as byte spans, an invalid byte being one
/// character of its own (as the lexer counts columns).
std::vector<std::string_view> characters(std::string_view line) {
    std::vector<std::string_view> out;
    while (!line.empty()) {
        uint32_t cp = 0;
        size_t len = utf8::decode(line, cp);
        if (len == 0) len = 1;
        out.push_back(line.substr(0, len));
        line.remove_prefix(len);
    }
    return out;
}

void append_source_line(std::string& out, std::string_view text, const Location& at) {
    size_t offset = std::min<size_t>(at.offset, text.size());
    size_t begin = offset;
    while (begin > 0 && text[begin - 1] != '\n') --begin;
    size_t end = offset;
    while (end < text.size() && text[end] != '\n') ++end;
    std::string_view line = text.substr(begin, end - begin);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
        line.remove_suffix(1);

    size_t column = at.column == 0 ? 0 : at.column - 1;  // characters before the caret
    // A long line is shown as a window around the caret.
    size_t length = 0;
    for (std::string_view rest = line; !rest.empty() && length <= kShownColumns; ++length) {
        uint32_t cp = 0;
        size_t len = utf8::decode(rest, cp);
        rest.remove_prefix(len == 0 ? 1 : len);
    }
    size_t first = length > kShownColumns && column > kContext ? column - kContext : 0;
    std::vector<std::string_view> chars;
    {
        std::string_view rest = line;
        size_t index = 0;
        while (!rest.empty() && index < first + kShownColumns + 1) {
            uint32_t cp = 0;
            size_t len = utf8::decode(rest, cp);
            if (len == 0) len = 1;
            if (index >= first) chars.push_back(rest.substr(0, len));
            rest.remove_prefix(len);
            ++index;
        }
    }
    bool cut_front = first > 0;
    bool cut_back = chars.size() > kShownColumns;
    if (cut_back) chars.resize(kShownColumns);

    std::string shown = cut_front ? "..." : "";
    std::string caret = cut_front ? "   " : "";
    for (size_t i = 0; i < chars.size(); ++i) {
        shown += chars[i];
        if (first + i < column) caret += chars[i] == "\t" ? '\t' : ' ';
    }
    if (cut_back) shown += "...";
    for (size_t i = first + chars.size(); i < column && caret.size() < kShownColumns + 8; ++i) caret += ' ';
    out += "    ";
    out += utf8::printable(shown);
    out += "\n    ";
    out += caret;
    out += "^\n";
}

}  // namespace

std::string render(const Diagnostics& diagnostics, std::string_view model_text, std::string_view data_text) {
    std::vector<const Diagnostic*> sorted;
    for (const Diagnostic& d : diagnostics.items()) sorted.push_back(&d);
    std::stable_sort(sorted.begin(), sorted.end(), [](const Diagnostic* x, const Diagnostic* y) {
        if (x->at.file != y->at.file) return x->at.file < y->at.file;
        if (x->at.line != y->at.line) return x->at.line < y->at.line;
        return x->at.column < y->at.column;
    });
    std::string out;
    for (const Diagnostic* d : sorted) {
        out += d->at.file == SourceFile::Model ? "model:" : "data:";
        out += std::to_string(d->at.line) + ":" + std::to_string(d->at.column) + ": ";
        out += utf8::printable(d->message);
        out += '\n';
        append_source_line(out, d->at.file == SourceFile::Model ? model_text : data_text, d->at);
    }
    if (diagnostics.truncated())
        out += "(stopped after " + std::to_string(diagnostics.items().size()) +
               " errors; fix these and compile again to see the rest)\n";
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

size_t edit_distance(std::string_view a, std::string_view b) {
    // Optimal string alignment: insertions, deletions, substitutions and
    // swaps of neighbours each cost one; letter case is ignored.
    if (a.size() > 64 || b.size() > 64) return std::max(a.size(), b.size());  // no name is that long by accident
    auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t cost = lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) && lower(a[i - 2]) == lower(b[j - 1]))
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

namespace {

bool same_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

std::string_view closest_name(std::string_view name, const std::vector<std::string_view>& candidates) {
    std::string_view best;
    size_t best_distance = 0;
    size_t limit = name.size() <= 3 ? 1 : name.size() <= 7 ? 2 : 3;
    for (std::string_view c : candidates) {
        if (c == name) continue;
        if (same_ignoring_case(c, name)) return c;
        size_t d = edit_distance(name, c);
        if (d <= limit && d < c.size() && (best.empty() || d < best_distance)) {
            best = c;
            best_distance = d;
        }
    }
    return best;
}

std::string did_you_mean(std::string_view name, const std::vector<std::string_view>& candidates) {
    std::string_view best = closest_name(name, candidates);
    if (best.empty()) return {};
    return " (did you mean '" + std::string(best) + "'?)";
}

std::string quote_source(std::string_view text, size_t limit) {
    std::string flat;
    bool space = false;
    for (char c : text) {  // line breaks and runs of blanks become one blank
        if (c == '\n' || c == '\r' || c == '\t' || c == ' ') {
            space = true;
            continue;
        }
        if (space && !flat.empty()) flat += ' ';
        space = false;
        flat += c;
    }
    std::vector<std::string_view> chars = characters(flat);
    if (chars.size() > limit) {
        std::string cut;
        size_t head = limit / 2, tail = limit - head - 3;
        for (size_t i = 0; i < head; ++i) cut += chars[i];
        cut += "...";
        for (size_t i = chars.size() - tail; i < chars.size(); ++i) cut += chars[i];
        flat = cut;
    }
    return utf8::printable(flat);
}

}  // namespace tarvok::compiler
