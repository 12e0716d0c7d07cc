#include "evaluation/dataset.hpp"

#include "common/utf8.hpp"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <map>
#include <set>
#include <span>
#include <system_error>

namespace tarvok::evaluation {

namespace {

using json::Value;

/// The first key of `keys` whose value is present and not null.
const Value* first_present(const Value& record, std::span<const std::string_view> keys, std::string_view* chosen) {
    for (std::string_view key : keys) {
        const Value* v = record.find(key);
        if (v != nullptr && !v->is_null()) {
            *chosen = key;
            return v;
        }
    }
    return nullptr;
}

bool is_blank(std::string_view text) { return utf8::skip_host_space(text, 0) == text.size(); }

std::string quoted_list(std::span<const std::string_view> keys) {
    std::string out;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        out += i == 0 ? "" : (i + 1 == keys.size() ? " or " : ", ");
        out += "'" + std::string(keys[i]) + "'";
    }
    return out;
}

/// The problem a record holds, or the reason it holds none.
std::optional<Problem> problem_from(const Value& record, std::size_t number, std::string& reason) {
    if (record.kind != Value::Kind::Object) {
        reason = "not a JSON object";
        return std::nullopt;
    }
    Problem p;
    p.record = number;
    std::string_view key;
    const Value* description = first_present(record, kDescriptionKeys, &key);
    if (description == nullptr) {
        reason = "no description (" + quoted_list(kDescriptionKeys) + ")";
        return std::nullopt;
    }
    if (description->kind != Value::Kind::String) {
        reason = "'" + std::string(key) + "' is not a text";
        return std::nullopt;
    }
    if (is_blank(description->text)) {
        reason = "'" + std::string(key) + "' is empty";
        return std::nullopt;
    }
    p.description = description->text;
    if (const Value* expected = first_present(record, kObjectiveKeys, &key)) p.expected = reference_value(*expected);

    const Value* id = record.find("id");
    if (id == nullptr || id->is_null()) {
        p.id = std::to_string(number);
    } else if (id->kind == Value::Kind::String && !id->text.empty()) {
        p.id = id->text;
    } else if (id->kind == Value::Kind::Number && std::isfinite(id->number)) {
        p.id = id->text;  // as written: 7 stays "7", 7.0 stays "7.0"
    } else {
        reason = "'id' must be a non-empty text or a number";
        return std::nullopt;
    }
    p.folder = folder_name(p.id);
    return p;
}

std::string parse_reason(const json::ParseError& e) {
    return "not valid JSON: " + e.reason() + " (column " + std::to_string(e.column()) + ")";
}

std::uint64_t fnv1a(std::string_view text) {
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

std::string folder_hash(std::string_view id) {
    char digits[17];
    auto [end, error] = std::to_chars(digits, digits + 16, fnv1a(id) >> 16, 16);
    (void)error;
    std::string text(digits, end);
    return "-" + std::string(12 - text.size(), '0') + text;
}

std::optional<double> numeric_text(std::string_view text) {
    std::size_t begin = utf8::skip_host_space(text, 0);
    std::size_t end = text.size();
    // Trailing white space: walk back over whole characters.
    while (end > begin) {
        std::size_t start = end - 1;
        while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
        if (utf8::host_space_at(text, start) != end - start) break;
        end = start;
    }
    std::string_view s = text.substr(begin, end - begin);
    std::string plain;
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        if (s[i] == '-') plain += '-';
        ++i;
    }
    auto is_digit = [&](std::size_t k) { return k < s.size() && s[k] >= '0' && s[k] <= '9'; };
    // Whole part: digits, or groups of three after commas (1,234,567).
    std::size_t group = 0, whole = 0;
    bool grouped = false;
    while (i < s.size()) {
        if (is_digit(i)) {
            plain += s[i++];
            ++group;
            ++whole;
        } else if (s[i] == ',' && whole > 0 && (grouped ? group == 3 : group <= 3) && is_digit(i + 1)) {
            grouped = true;
            group = 0;
            ++i;
        } else {
            break;
        }
    }
    if (grouped && group != 3) return std::nullopt;
    std::size_t fraction = 0;
    if (i < s.size() && s[i] == '.') {
        plain += s[i++];
        while (is_digit(i)) {
            plain += s[i++];
            ++fraction;
        }
    }
    if (whole == 0 && fraction == 0) return std::nullopt;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        plain += s[i++];
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) plain += s[i++];
        if (!is_digit(i)) return std::nullopt;
        while (is_digit(i)) plain += s[i++];
    }
    if (i != s.size()) return std::nullopt;
    double value = 0;
    auto [last, error] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (error != std::errc() || last != plain.data() + plain.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<double> reference_value(const Value& value) {
    if (value.kind == Value::Kind::Number) {
        if (std::isfinite(value.number)) return value.number;
        return std::nullopt;
    }
    if (value.kind == Value::Kind::String) return numeric_text(value.text);
    return std::nullopt;
}

std::string folder_name(std::string_view id) {
    constexpr std::size_t kLongest = 80;
    auto safe = [](unsigned char c) { return std::isalnum(c) || c == '.' || c == '_' || c == '-'; };
    bool as_is =
        !id.empty() && id.size() <= kLongest && id.front() != '.' && id != "results.jsonl" && id != "summary.json";
    std::string out;
    for (unsigned char c : id) {
        as_is = as_is && safe(c);
        out += safe(c) ? static_cast<char>(c) : '_';
    }
    if (as_is) return out;
    if (!out.empty() && out.front() == '.') out.front() = '_';
    if (out.size() > kLongest - 13) out.resize(kLongest - 13);
    return out + folder_hash(id);
}

Dataset read_dataset(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a byte-order mark
    Dataset out;
    struct Entry {
        std::size_t line = 0;  ///< where a JSON Lines record starts; 0 in an array
        std::optional<Value> value;
        std::string unreadable;  ///< why there is no value
    };
    std::vector<Entry> records;

    std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) throw DatasetError("the data set holds no records");
    if (text[first] == '[') {
        // A JSON array: the whole file is one value.
        Value all;
        try {
            all = json::parse(text);
        } catch (const json::ParseError& e) {
            throw DatasetError(std::string("not a JSON array of records nor JSON Lines: ") + e.what());
        }
        for (Value& item : all.items) records.push_back({0, std::move(item), {}});
    } else {
        std::size_t line = 0;
        for (std::size_t pos = 0; pos <= text.size();) {
            std::size_t end = text.find('\n', pos);
            if (end == std::string_view::npos) end = text.size();
            std::string_view row = text.substr(pos, end - pos);
            ++line;
            pos = end + 1;
            if (row.find_first_not_of(" \t\r") == std::string_view::npos) continue;
            try {
                records.push_back({line, json::parse(row), {}});
            } catch (const json::ParseError& e) {
                records.push_back({line, std::nullopt, parse_reason(e)});
            }
        }
    }
    if (records.empty()) throw DatasetError("the data set holds no records");

    std::map<std::string, std::size_t> seen;  // id -> record number
    for (std::size_t i = 0; i < records.size(); ++i) {
        const Entry& entry = records[i];
        std::size_t number = i + 1;
        std::string reason = entry.unreadable;
        std::optional<Problem> problem;
        if (entry.value) problem = problem_from(*entry.value, number, reason);
        if (problem) {
            auto [at, fresh] = seen.emplace(problem->id, number);
            if (!fresh) {
                problem.reset();
                reason = "id '" + at->first + "' repeats record " + std::to_string(at->second);
            }
        }
        if (problem)
            out.problems.push_back(std::move(*problem));
        else
            out.bad.push_back({number, entry.line, reason});
    }

    // Folders that differ only in case would be one folder on some file
    // systems: those all get the hash too.
    std::map<std::string, std::vector<Problem*>> by_folder;
    for (Problem& p : out.problems) by_folder[lower(p.folder)].push_back(&p);
    for (auto& [name, group] : by_folder) {
        if (group.size() < 2) continue;
        for (Problem* p : group) p->folder += folder_hash(p->id);
    }
    // Ids can be made to meet those names (an id that is another id's
    // folder, with its hash appended): in data-set order, a folder already
    // taken gets a number, so no two problems ever share one.
    std::set<std::string> taken;
    for (Problem& p : out.problems) {
        std::string name = p.folder;
        for (std::size_t n = 2; !taken.insert(lower(name)).second; ++n) name = p.folder + "-" + std::to_string(n);
        p.folder = name;
    }
    return out;
}

}  // namespace tarvok::evaluation
