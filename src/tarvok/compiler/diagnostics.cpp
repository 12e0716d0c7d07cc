#include "compiler/diagnostics.hpp"

#include "compiler/utf8.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

namespace tarvok::compiler {

// ------------------------------------------------------------ the table ----

namespace {

constexpr CodeInfo kCodes[] = {
#define TARVOK_CODE_INFO(name, id, severity, format) {Code::name, id, Severity::severity, format},
    TARVOK_DIAGNOSTIC_CODES(TARVOK_CODE_INFO)
#undef TARVOK_CODE_INFO
};

}  // namespace

std::span<const CodeInfo> diagnostic_codes() { return kCodes; }

const CodeInfo& code_info(Code code) { return kCodes[static_cast<size_t>(code)]; }

std::string_view severity_text(Severity severity) {
    switch (severity) {
    case Severity::Error: return "error";
    case Severity::Warning: return "warning";
    case Severity::Note: return "note";
    }
    return "error";
}

// ---------------------------------------------------------- collecting ----

Diagnostic* Diagnostics::error(Code code, Location at, std::string message, uint32_t end) {
    for (Diagnostic& d : items_)
        if (d.at.file == at.file && d.at.offset == at.offset && d.message == message) return nullptr;
    if (items_.size() >= cap_) {
        truncated_ = true;
        return nullptr;
    }
    Diagnostic& d = items_.emplace_back();
    d.at = at;
    d.message = std::move(message);
    d.code = code;
    d.end = end;
    return &d;
}

Diagnostic* Diagnostics::recorded(Code code, const Location& at) {
    for (Diagnostic& d : items_)
        if (d.code == code && d.at.file == at.file && d.at.offset == at.offset) return &d;
    return nullptr;
}

Diagnostic* Diagnostics::warning(Code code, Location at, std::string message, uint32_t end) {
    if (warnings_.size() >= cap_) return nullptr;
    for (Diagnostic& d : warnings_)
        if (d.at.file == at.file && d.at.offset == at.offset && d.message == message) return nullptr;
    Diagnostic& d = warnings_.emplace_back();
    d.at = at;
    d.message = std::move(message);
    d.code = code;
    d.severity = Severity::Warning;
    d.end = end;
    return &d;
}

bool Diagnostics::accepting(const Location& at) {
    if (items_.size() < cap_) return true;
    // A repeat at the same place is dropped without notice, so only the
    // message can tell; compose it.
    for (const Diagnostic& d : items_)
        if (d.at.file == at.file && d.at.offset == at.offset) return true;
    truncated_ = true;
    return false;
}

namespace {

constexpr size_t kShownColumns = 120;  // longer lines are shown as a window around the caret
constexpr size_t kContext = 60;

bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

/// The start of the character that ends just before `pos` (a character
/// boundary), counting characters as the lexer does: a valid UTF-8 sequence
/// is one, every other byte is one of its own.
size_t step_back(std::string_view text, size_t pos) {
    size_t lead = pos - 1;
    while (lead > 0 && pos - lead < 4 && is_continuation(text[lead])) --lead;
    if (!is_continuation(text[lead])) {
        uint32_t cp = 0;
        size_t len = utf8::decode(text.substr(lead), cp);
        if (len != 0 && lead + len == pos) return lead;
    }
    return pos - 1;
}

/// One character of `rest` as a byte span (an invalid byte alone).
std::string_view first_character(std::string_view rest) {
    uint32_t cp = 0;
    size_t len = utf8::decode(rest, cp);
    return rest.substr(0, len == 0 ? 1 : len);
}

/// The source line of `at` with a caret under its column. A long line is shown
/// as a window around the caret; only the window is decoded, so a diagnostic
/// in a line of megabytes costs a byte search, not a walk.
void append_source_line(std::string& out, std::string_view text, const Location& at) {
    size_t offset = std::min<size_t>(at.offset, text.size());
    size_t begin = 0;
    if (offset > 0) {
        size_t newline = text.rfind('\n', offset - 1);
        begin = newline == std::string_view::npos ? 0 : newline + 1;
    }
    size_t end = text.find('\n', offset);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(begin, end - begin);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);

    size_t column = at.column == 0 ? 0 : at.column - 1;  // characters before the caret
    size_t length = 0;
    for (std::string_view rest = line; !rest.empty() && length <= kShownColumns; ++length)
        rest.remove_prefix(first_character(rest).size());
    size_t first = length > kShownColumns && column > kContext ? column - kContext : 0;
    // The byte where character `first` starts: kContext characters before the caret.
    size_t window = begin;
    if (first > 0) {
        window = offset;
        for (size_t i = 0; i < kContext && window > begin; ++i) window = step_back(text, window);
    }
    std::vector<std::string_view> chars;
    if (window - begin <= line.size()) {
        std::string_view rest = line.substr(window - begin);
        while (!rest.empty() && chars.size() < kShownColumns + 1) {
            chars.push_back(first_character(rest));
            rest.remove_prefix(chars.back().size());
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

std::string cap_notice(const Diagnostics& diagnostics) {
    return "(stopped after " + std::to_string(diagnostics.items().size()) +
           " errors; fix these and compile again to see the rest)\n";
}

}  // namespace

std::vector<const Diagnostic*> in_source_order(const std::vector<Diagnostic>& items) {
    std::vector<const Diagnostic*> sorted;
    for (const Diagnostic& d : items) sorted.push_back(&d);
    std::stable_sort(sorted.begin(), sorted.end(), [](const Diagnostic* x, const Diagnostic* y) {
        if (x->at.file != y->at.file) return x->at.file < y->at.file;
        if (x->at.line != y->at.line) return x->at.line < y->at.line;
        return x->at.column < y->at.column;
    });
    return sorted;
}

namespace {

/// What `origin` names of a diagnostic's place, or "" for a place to show as line and column.
std::string origin_of(const Location& at, const DataOrigin& origin) {
    return at.file == SourceFile::Data && origin ? origin(at.offset) : std::string();
}

}  // namespace

std::string render(const Diagnostics& diagnostics, std::string_view model_text, std::string_view data_text,
                   const DataOrigin& origin) {
    std::string out;
    for (const Diagnostic* d : in_source_order(diagnostics.items())) {
        std::string source = origin_of(d->at, origin);
        if (!source.empty()) {
            out += utf8::printable(source) + ": " + utf8::printable(d->message) + '\n';
            continue;
        }
        out += d->at.file == SourceFile::Model ? "model:" : "data:";
        out += std::to_string(d->at.line) + ":" + std::to_string(d->at.column) + ": ";
        out += utf8::printable(d->message);
        out += '\n';
        append_source_line(out, d->at.file == SourceFile::Model ? model_text : data_text, d->at);
    }
    if (diagnostics.truncated()) out += cap_notice(diagnostics);
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

std::string render_for_files(const Diagnostics& diagnostics, std::string_view model_text, std::string_view data_text,
                             const FileNames& names) {
    auto head = [&](std::string& out, const Location& at, Severity severity) {
        std::string source = origin_of(at, names.data_origin);
        if (!source.empty()) {
            out += utf8::printable(source);
        } else {
            out += utf8::printable(at.file == SourceFile::Model ? names.model : names.data);
            out += ":" + std::to_string(at.line) + ":" + std::to_string(at.column);
        }
        out += ": ";
        out += severity_text(severity);
        out += ": ";
    };
    std::string out;
    for (const std::vector<Diagnostic>* list : {&diagnostics.items(), &diagnostics.warnings()}) {
        for (const Diagnostic* d : in_source_order(*list)) {
            head(out, d->at, d->severity);
            out += utf8::printable(d->message);
            out += '\n';
            if (origin_of(d->at, names.data_origin).empty())
                append_source_line(out, d->at.file == SourceFile::Model ? model_text : data_text, d->at);
            for (const Note& note : d->notes) {
                head(out, note.at, Severity::Note);
                out += utf8::printable(note.message);
                out += '\n';
            }
        }
        if (list == &diagnostics.items() && diagnostics.truncated()) out += cap_notice(diagnostics);
    }
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

size_t end_offset(const Diagnostic& d, std::string_view text) {
    size_t at = std::min<size_t>(d.at.offset, text.size());
    if (d.end != kWordEnd) return std::clamp<size_t>(d.end, at, text.size());
    size_t end = at;
    auto word = [](unsigned char c) { return std::isalnum(c) || c == '_'; };
    if (end < text.size() && word(static_cast<unsigned char>(text[end]))) {
        while (end < text.size() && word(static_cast<unsigned char>(text[end]))) ++end;
    } else if (end < text.size() && text[end] != '\n') {
        end += first_character(text.substr(end)).size();
    }
    return end;
}

Position end_position(const Diagnostic& d, std::string_view text) {
    size_t at = std::min<size_t>(d.at.offset, text.size());
    size_t end = end_offset(d, text);
    Position p{d.at.line, d.at.column};
    for (std::string_view rest = text.substr(at, end - at); !rest.empty();) {
        if (rest.front() == '\n') {
            ++p.line;
            p.column = 1;
            rest.remove_prefix(1);
            continue;
        }
        rest.remove_prefix(first_character(rest).size());
        ++p.column;
    }
    return p;
}

namespace {

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

constexpr size_t kLongestSuggested = 64;  // no name is that long by accident

/// Optimal string alignment distance, ignoring letter case, of two texts of
/// at most kLongestSuggested bytes; `limit + 1` as soon as it must exceed
/// `limit` (the smallest entry of a row never decreases from row to row).
size_t osa_distance(std::string_view a, std::string_view b, size_t limit) {
    size_t gap = a.size() > b.size() ? a.size() - b.size() : b.size() - a.size();
    if (gap > limit) return limit + 1;
    std::array<size_t, kLongestSuggested + 1> before{}, previous{}, row{};
    for (size_t j = 0; j <= b.size(); ++j) previous[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        row[0] = i;
        size_t smallest = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t cost = lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1;
            row[j] = std::min({previous[j] + 1, row[j - 1] + 1, previous[j - 1] + cost});
            if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) && lower(a[i - 2]) == lower(b[j - 1]))
                row[j] = std::min(row[j], before[j - 2] + 1);
            smallest = std::min(smallest, row[j]);
        }
        if (smallest > limit) return limit + 1;
        before = previous;
        previous = row;
    }
    return previous[b.size()];
}

bool same_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

}  // namespace

size_t edit_distance(std::string_view a, std::string_view b) {
    // Insertions, deletions, substitutions and swaps of neighbours each cost one.
    if (a.size() > kLongestSuggested || b.size() > kLongestSuggested) return std::max(a.size(), b.size());
    return osa_distance(a, b, std::max(a.size(), b.size()));
}

std::string_view closest_name(std::string_view name, const std::vector<std::string_view>& candidates) {
    std::string_view best;
    size_t best_distance = 0;
    size_t limit = name.size() <= 3 ? 1 : name.size() <= 7 ? 2 : 3;
    if (name.size() > kLongestSuggested) return best;
    for (std::string_view c : candidates) {
        if (c == name) continue;
        if (same_ignoring_case(c, name)) return c;
        // Only a strictly closer candidate replaces the best, and the length
        // difference is a lower bound of the distance: most candidates end here.
        size_t bound = best.empty() ? limit : best_distance - 1;
        size_t gap = c.size() > name.size() ? c.size() - name.size() : name.size() - c.size();
        if (gap > bound || c.size() > kLongestSuggested) continue;
        size_t d = osa_distance(name, c, bound);
        if (d <= bound && d < c.size()) {
            best = c;
            best_distance = d;
        }
    }
    return best;
}

std::string did_you_mean(std::string_view name, const std::vector<std::string_view>& candidates) {
    std::string_view best = closest_name(name, candidates);
    if (best.empty()) return {};
    return " (did you mean '" + shown_name(best) + "'?)";
}

std::string quote_source(std::string_view text, size_t limit) {
    auto blank = [](char c) { return c == '\n' || c == '\r' || c == '\t' || c == ' '; };
    // Line breaks and runs of blanks become one blank; blanks at either end go.
    std::vector<std::string_view> head;
    bool space = false;
    for (size_t pos = 0; pos < text.size() && head.size() <= limit;) {
        if (blank(text[pos])) {
            space = true;
            ++pos;
            continue;
        }
        if (space && !head.empty()) head.push_back(" ");
        space = false;
        head.push_back(first_character(text.substr(pos)));
        pos += head.back().size();
    }
    std::string flat;
    if (head.size() <= limit) {
        for (std::string_view c : head) flat += c;
        return utf8::printable(flat);
    }
    // Too long: the first half, "...", and the end, read backwards.
    size_t front = limit / 2;
    size_t tail = limit > front + 3 ? limit - front - 3 : 0;
    std::vector<std::string_view> back;
    space = false;
    for (size_t end = text.size(); end > 0 && back.size() < tail;) {
        if (blank(text[end - 1])) {
            space = true;
            --end;
            continue;
        }
        if (space && !back.empty()) {
            back.push_back(" ");
            if (back.size() == tail) break;
        }
        space = false;
        size_t start = step_back(text, end);
        back.push_back(text.substr(start, end - start));
        end = start;
    }
    for (size_t i = 0; i < front; ++i) flat += head[i];
    flat += "...";
    for (size_t i = back.size(); i > 0; --i) flat += back[i - 1];
    return utf8::printable(flat);
}

std::string shown_name(std::string_view name) { return quote_source(name, 64); }

}  // namespace tarvok::compiler
