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

/// Data sets are read as the host's json module reads them: a repeated key
/// keeps its last value, and a number the text it was written as (an id
/// written 7.0 stays "7.0").
constexpr json::ParseOptions kAsTheHostReads{.repeated_keys = true, .number_text = true};

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

/// The keys to try: the one the user named, else the usual ones.
std::span<const std::string_view> keys_for(const std::string& named, std::span<const std::string_view> usual,
                                           std::string_view& holder) {
    if (named.empty()) return usual;
    holder = named;
    return {&holder, 1};
}

/// The problem a record holds, or the reason it holds none.
std::optional<Problem> problem_from(const Value& record, std::size_t number, const Fields& fields,
                                    std::string& reason) {
    if (record.kind() != Value::Kind::Object) {
        reason = "not a JSON object";
        return std::nullopt;
    }
    Problem p;
    p.record = number;
    std::string_view key, named_question, named_answer, named_class;
    auto description_keys = keys_for(fields.question, kDescriptionKeys, named_question);
    const Value* description = first_present(record, description_keys, &key);
    if (description == nullptr) {
        reason = "no description (" + quoted_list(description_keys) + ")";
        return std::nullopt;
    }
    if (description->kind() != Value::Kind::String) {
        reason = "'" + std::string(key) + "' is not a text";
        return std::nullopt;
    }
    if (is_blank(description->text())) {
        reason = "'" + std::string(key) + "' is empty";
        return std::nullopt;
    }
    p.description = description->text();
    if (const Value* expected = first_present(record, keys_for(fields.answer, kObjectiveKeys, named_answer), &key))
        p.expected = reference_value(*expected);
    if (const Value* kind = first_present(record, keys_for(fields.problem_class, kClassKeys, named_class), &key)) {
        if (kind->kind() == Value::Kind::String || kind->is_numeric()) p.problem_class = kind->text();
    }

    const Value* id = record.find(fields.id.empty() ? std::string_view("id") : std::string_view(fields.id));
    if (id == nullptr || id->is_null()) {
        p.id = std::to_string(number);
    } else if (id->kind() == Value::Kind::String && !id->text().empty()) {
        p.id = id->text();
    } else if (id->is_numeric() && std::isfinite(id->number())) {
        p.id = id->text();  // as written: 7 stays "7", 7.0 stays "7.0"
    } else {
        reason = "'" + (fields.id.empty() ? std::string("id") : fields.id) + "' must be a non-empty text or a number";
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

struct Entry {
    std::size_t line = 0;  ///< where a record starts; 0 in a JSON array
    std::optional<Value> value;
    std::string unreadable;  ///< why there is no value
};

/// Comma-separated values: each row after the header as an object of texts.
std::vector<Entry> csv_records(std::string_view text) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::size_t> starts;
    std::vector<std::string> row;
    std::string cell;
    std::size_t line = 1, i = 0;
    bool quoted_cell = false;
    auto end_row = [&] {
        row.push_back(std::move(cell));
        cell.clear();
        bool blank = row.size() == 1 && row[0].find_first_not_of(" \t\r") == std::string::npos && !quoted_cell;
        if (!blank)
            rows.push_back(std::move(row));
        else
            starts.pop_back();
        row.clear();
        quoted_cell = false;
    };
    starts.push_back(line);
    while (i < text.size()) {
        char c = text[i];
        if (c == '"' && cell.find_first_not_of(" \t") == std::string::npos) {
            // A quoted cell: up to the quote that is not doubled.
            cell.clear();
            quoted_cell = true;
            std::size_t opened = line;
            for (++i;; ++i) {
                if (i >= text.size())
                    throw DatasetError("line " + std::to_string(opened) + ": a quoted field is not closed");
                if (text[i] == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"') {
                        cell += '"';
                        ++i;
                        continue;
                    }
                    ++i;
                    break;
                }
                if (text[i] == '\n') ++line;
                cell += text[i];
            }
            while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
            if (i < text.size() && text[i] != ',' && text[i] != '\n' && text[i] != '\r')
                throw DatasetError("line " + std::to_string(line) + ": text after a quoted field");
            continue;
        }
        if (c == ',') {
            row.push_back(std::move(cell));
            cell.clear();
            ++i;
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            ++i;
            ++line;
            end_row();
            starts.push_back(line);
        } else {
            cell += c;
            ++i;
        }
    }
    end_row();
    if (rows.empty()) throw DatasetError("the data set holds no records");
    std::vector<std::string> header = rows.front();
    for (std::string& name : header) {
        std::size_t a = name.find_first_not_of(" \t"), b = name.find_last_not_of(" \t");
        name = a == std::string::npos ? "" : name.substr(a, b - a + 1);
    }
    std::vector<Entry> out;
    for (std::size_t r = 1; r < rows.size(); ++r) {
        Entry entry{starts[r], std::nullopt, {}};
        bool extra = false;  // cells beyond the header's, past trailing commas
        for (std::size_t c = header.size(); c < rows[r].size(); ++c) extra = extra || !is_blank(rows[r][c]);
        if (extra) {
            entry.unreadable =
                std::to_string(rows[r].size()) + " fields where the header names " + std::to_string(header.size());
        } else {
            Value object = Value::object();
            for (std::size_t c = 0; c < header.size(); ++c) {
                bool given = c < rows[r].size() && !is_blank(rows[r][c]);
                object.add(header[c], given ? Value::of(rows[r][c]) : Value::null());
            }
            entry.value = std::move(object);
        }
        out.push_back(std::move(entry));
    }
    return out;
}

/// reference_value, through at most one list (a list in a text included).
std::optional<double> reference_value_at(const Value& value, int depth) {
    if (value.is_numeric()) {
        if (std::isfinite(value.number())) return value.number();
        return std::nullopt;
    }
    if (value.kind() == Value::Kind::Array) {
        if (depth > 0 || value.items().size() != 1) return std::nullopt;
        return reference_value_at(value.items().front(), depth + 1);
    }
    if (value.kind() != Value::Kind::String) return std::nullopt;
    if (auto number = numeric_text(value.text())) return number;
    std::size_t first = value.text().find_first_not_of(" \t\r\n");
    if (depth > 0 || first == std::string::npos || value.text()[first] != '[') return std::nullopt;
    try {
        return reference_value_at(json::parse(value.text(), kAsTheHostReads), depth);
    } catch (const json::ParseError&) {
        return std::nullopt;
    }
}

}  // namespace

std::string record_key(std::string_view id, long long repeat) {
    if (repeat <= 1) return std::string(id);
    return std::string(id) + "#" + std::to_string(repeat);
}

std::string folder_hash(std::string_view id) {
    char digits[17];
    auto [end, error] = std::to_chars(digits, digits + 16, fnv1a(id) >> 16, 16);
    (void)error;
    std::string text(digits, end);
    return "-" + std::string(12 - text.size(), '0') + text;
}

std::optional<double> numeric_text(std::string_view text) {
    std::string_view s = utf8::strip_host_space(text);
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

std::optional<double> reference_value(const Value& value) { return reference_value_at(value, 0); }

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

Dataset read_dataset(std::string_view text, const Fields& fields, Format format) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a byte-order mark
    Dataset out;
    std::vector<Entry> records;

    std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) throw DatasetError("the data set holds no records");
    if (format == Format::Csv) {
        records = csv_records(text);
    } else if (text[first] == '[') {
        // A JSON array: the whole file is one value.
        Value all;
        try {
            all = json::parse(text, kAsTheHostReads);
        } catch (const json::ParseError& e) {
            throw DatasetError(std::string("not a JSON array of records nor JSON Lines: ") + e.what());
        }
        for (Value& item : all.items()) records.push_back({0, std::move(item), {}});
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
                records.push_back({line, json::parse(row, kAsTheHostReads), {}});
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
        if (entry.value) problem = problem_from(*entry.value, number, fields, reason);
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
