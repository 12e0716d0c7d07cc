#include "cli/run_inputs.hpp"

#include "cli/command_options.hpp"
#include "cli/csv_cells.hpp"
#include "common/file_names.hpp"
#include "common/files.hpp"
#include "compiler/front_end.hpp"

#include <algorithm>
#include <filesystem>
#include <set>
#include <variant>

#include <cctype>
#include <cmath>
#include <cstdio>

namespace tarvok::cli {

std::optional<std::string> refused_solve_option(const SolveOptions& o) {
    if (o.time_limit && !(*o.time_limit > 0))  // NaN too
        return "--time-limit must be a number of seconds greater than 0, not " + o.time_limit_shown;
    if (o.mip_gap && (!(*o.mip_gap >= 0) || !std::isfinite(*o.mip_gap)))
        return "--mip-gap must be a number at least 0, not " + o.mip_gap_shown;
    if (o.threads && (*o.threads < 1 || *o.threads > (1 << 16)))
        return "--threads must be at least 1 and at most 65536, not " + o.threads_shown;
    if (o.ranging && o.solver != "highs")
        return "--sensitivity needs --solver highs (" + o.solver +
               " gives no ranging); --duals works with every solver";
    return std::nullopt;
}

bool ends_with_ignoring_case(std::string_view name, std::string_view suffix) {
    if (name.size() < suffix.size()) return false;
    std::string_view tail = name.substr(name.size() - suffix.size());
    for (std::size_t i = 0; i < suffix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(tail[i])) != std::tolower(static_cast<unsigned char>(suffix[i])))
            return false;
    return true;
}

std::optional<std::string> refused_model_file_name(std::string_view name) {
    if (ends_with_ignoring_case(name, ".mps") || ends_with_ignoring_case(name, ".lp")) return std::nullopt;
    return std::string(name) + " ends in neither .mps nor .lp";
}

std::optional<std::string> refused_solution_name(std::string_view name) {
    if (ends_with_ignoring_case(name, ".json") || ends_with_ignoring_case(name, ".csv")) return std::nullopt;
    return "--solution writes FILE.json or FILE.csv, not " + std::string(name);
}

bool solution_is_csv(std::string_view name) { return ends_with_ignoring_case(name, ".csv"); }

DataSource data_source(std::string_view path, bool is_folder) {
    if (is_folder) return DataSource::CsvFolder;
    return ends_with_ignoring_case(path, ".json") ? DataSource::JsonObject : DataSource::DatText;
}

void append_on_new_line(std::string& into, std::string_view text) {
    if (!into.empty() && into.back() != '\n') into += '\n';
    into += text;
}

std::optional<std::string> csv_data_name(std::string_view file_name) {
    if (file_name.size() <= 4 || !file_name.ends_with(".csv")) return std::nullopt;
    return std::string(file_name.substr(0, file_name.size() - 4));
}

CsvTable read_csv_table(const std::string& where, const std::string& name,
                        const std::map<std::string, data::Declared>& declared,
                        const std::vector<std::vector<std::string>>& rows) {
    CsvTable table;
    auto found = declared.find(name);
    if (found == declared.end()) {
        table.error = where + ":1: the model declares no set or parameter '" + name + "'";
        return table;
    }
    table.is_set = found->second.is_set;
    table.dims = found->second.dims;
    for (std::size_t r = 1; r < rows.size(); ++r) {
        const std::vector<std::string>& row = rows[r];
        if (row.empty()) continue;
        std::string at = where + ":" + std::to_string(r + 1) + ": ";
        if (!table.is_set && row.size() != table.dims + 1) {
            table.error = at + "'" + name + "' takes " + std::to_string(table.dims) +
                          " index column(s) and a value, but the row has " + std::to_string(row.size()) + " column(s)";
            return table;
        }
        if (!table.is_set && table.dims == 0 && !table.entries.empty()) {
            table.error = at + "'" + name + "' takes one value";
            return table;
        }
        table.entries.push_back({r + 1, row});
    }
    if (!table.is_set && table.dims == 0 && table.entries.empty())
        table.error = where + ": '" + name + "' has no value";
    return table;
}

std::string repeated_key(const std::string& where, std::size_t line, const std::string& name) {
    return where + ":" + std::to_string(line) + ": '" + name + "' has this key twice";
}

namespace {

/// The JSON string that starts at text[i] (a quote), decoded as the host
/// decodes it; `i` is left on its closing quote.
std::string json_string(std::string_view text, std::size_t& i) {
    std::string out;
    auto hex = [&](std::size_t at) {
        unsigned value = 0;
        for (std::size_t k = at; k < at + 4 && k < text.size(); ++k) {
            char c = text[k];
            value = value * 16 + (c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
        }
        return value;
    };
    auto put = [&](unsigned cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | cp >> 6);
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | cp >> 12);
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | cp >> 18);
            out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    };
    for (++i; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out += text[i];
            continue;
        }
        char e = text[++i];
        if (e != 'u') {
            constexpr std::string_view from = "bfnrt", to = "\b\f\n\r\t";
            std::size_t at = from.find(e);
            out += at == std::string_view::npos ? e : to[at];
            continue;
        }
        unsigned cp = hex(i + 1);
        i += 4;
        if (cp >= 0xD800 && cp < 0xDC00 && text.substr(i + 1, 2) == "\\u") {
            unsigned low = hex(i + 3);
            if (low >= 0xDC00 && low < 0xE000) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                i += 6;
            }
        }
        put(cp);
    }
    return out;
}

}  // namespace

std::optional<std::string> json_key_twice(std::string_view text, const std::string& where) {
    struct Level {
        bool object = false;
        std::string path;                          ///< as messages name the value: cost, cost["a"], cost[2]
        std::map<std::string, std::size_t> lines;  ///< an object's keys, and the line each is on
        std::string key;                           ///< the key of the member being read
        bool key_next = false;                     ///< the next string is a key
        std::size_t index = 0;                     ///< an array's item being read
    };
    std::vector<Level> levels;
    std::size_t line = 1;
    auto place = [&](std::size_t at) { return where + ":" + std::to_string(at); };
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\n') {
            ++line;
        } else if (c == '{' || c == '[') {
            std::string path;
            if (!levels.empty()) {
                const Level& up = levels.back();
                path = !up.object           ? up.path + "[" + std::to_string(up.index) + "]"
                       : levels.size() == 1 ? up.key
                                            : up.path + "[\"" + up.key + "\"]";
            }
            levels.push_back({c == '{', std::move(path), {}, "", c == '{', 0});
        } else if (c == '}' || c == ']') {
            if (!levels.empty()) levels.pop_back();
        } else if (c == ',' && !levels.empty()) {
            levels.back().key_next = levels.back().object;
            ++levels.back().index;
        } else if (c == '"') {
            std::string s = json_string(text, i);
            if (levels.empty() || !levels.back().key_next) continue;
            Level& level = levels.back();
            level.key_next = false;
            auto [first, fresh] = level.lines.emplace(s, line);
            if (!fresh) {
                std::string both = " twice: in " + place(first->second) + " and in " + place(line);
                if (levels.size() == 1) return "data '" + s + "' is given" + both;
                return "data '" + level.path + "' has the key \"" + s + "\"" + both;
            }
            level.key = std::move(s);
        }
    }
    return std::nullopt;
}

std::optional<std::string> DataOrigins::add(const std::string& name, const std::string& where) {
    auto twice = [&](const std::string& first) {
        return "data '" + name + "' is given twice: in " + first + " and in " + where;
    };
    if (auto known = origin_.find(name); known != origin_.end()) return twice(known->second);
    if (auto assigned = assigned_.find(name); assigned != assigned_.end())
        return twice(assigned->second.first + ":" + std::to_string(assigned->second.second));
    origin_[name] = where;
    return std::nullopt;
}

std::optional<std::string> DataOrigins::add_assigned(const std::string& name, const std::string& file,
                                                     std::size_t line) {
    std::string where = file + ":" + std::to_string(line);
    if (auto known = origin_.find(name); known != origin_.end())
        return "data '" + name + "' is given twice: in " + known->second + " and in " + where;
    auto [assigned, fresh] = assigned_.emplace(name, std::make_pair(file, line));
    if (!fresh && assigned->second.first != file)
        return "data '" + name + "' is given twice: in " + assigned->second.first + ":" +
               std::to_string(assigned->second.second) + " and in " + where;
    return std::nullopt;
}

std::string DataOrigins::placed(std::string message) const {
    for (const auto& [name, where] : origin_)
        if (message.find("'" + name + "'") != std::string::npos) return where + ": " + message;
    return message;
}

std::string sizes_and_times(const SizesAndTimes& f) {
    auto count = [](const std::string& n, const char* one, const char* many) {
        return n + " " + (n == "1" ? one : many);
    };
    auto seconds = [](double s) {
        char text[32];
        std::snprintf(text, sizeof text, "%.3f s", s);
        return std::string(text);
    };
    std::string line = count(f.columns, "column", "columns");
    if (!f.integer_columns.empty() && f.integer_columns != "0") line += " (" + f.integer_columns + " integer)";
    return line + ", " + count(f.rows, "row", "rows") + ", " + count(f.nonzeros, "nonzero", "nonzeros") + "; compile " +
           seconds(f.compile_seconds) + ", expansion " + seconds(f.instantiation_seconds) + ", solve " +
           seconds(f.solve_seconds);
}

std::string summary_with_answer(std::string text, const std::optional<std::string>& answer) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
    std::size_t objective = text.find("\nObjective: ");
    if (!answer || objective == std::string::npos) return text;
    std::size_t end = text.find('\n', objective + 1);
    return text.insert(end == std::string::npos ? text.size() : end, "\nAnswer: " + *answer);
}

std::optional<std::string> answer_text(const data::Value& answer) {
    if (!answer.is_numeric()) return std::nullopt;
    double x = answer.number();
    if (std::isnan(x)) return "nan";  // the host spells every NaN so, a negative one too
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.12g", x);
    return std::string(buffer);
}

const SolutionValue* SolutionValue::find(std::string_view key) const {
    if (!nested) return nullptr;
    for (const auto& [name, value] : items)
        if (name == key) return &value;
    return nullptr;
}

namespace {

void add_rows(const SolutionValue& value, std::vector<std::string>& keys, const std::string& name,
              std::vector<std::vector<std::string>>& rows) {
    if (value.nested) {
        for (const auto& [key, item] : value.items) {
            keys.push_back(key);
            add_rows(item, keys, name, rows);
            keys.pop_back();
        }
        return;
    }
    std::vector<std::string> row{name};
    row.insert(row.end(), keys.begin(), keys.end());
    row.push_back(value.none ? std::string() : value.text);
    rows.push_back(std::move(row));
}

/// Whether `s` is a number as it stands: a sign, digits with a point, an exponent.
bool plain_number(std::string_view s) {
    std::size_t i = 0, digits = 0;
    auto run = [&] {
        std::size_t from = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
        return i - from;
    };
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    digits = run();
    if (i < s.size() && s[i] == '.') {
        ++i;
        digits += run();
    }
    if (digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        if (run() == 0) return false;
    }
    return i == s.size();
}

}  // namespace

std::string spreadsheet_text(std::string cell) {
    if (cell.empty() || std::string_view("=+-@\t\r").find(cell.front()) == std::string_view::npos) return cell;
    if ((cell.front() == '+' || cell.front() == '-') && plain_number(cell)) return cell;
    return "'" + cell;
}

std::vector<std::vector<std::string>> solution_csv_rows(const SolutionValue& solved) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> keys;
    if (const SolutionValue* objective = solved.find("objective")) add_rows(*objective, keys, "objective", rows);
    if (const SolutionValue* values = solved.find("values"))
        for (const auto& [name, value] : values->items) add_rows(value, keys, name, rows);
    const SolutionValue* basis = solved.find("sensitivity_basis");
    if (basis && !basis->none) add_rows(*basis, keys, "sensitivity_basis", rows);
    auto figures = [&](const SolutionValue* table, const std::string& kind) {
        if (!table || table->none) return;
        for (const auto& [name, value] : table->items) add_rows(value, keys, kind + ":" + name, rows);
    };
    figures(solved.find("duals"), "duals");
    figures(solved.find("reduced_costs"), "reduced_costs");
    figures(solved.find("activities"), "activities");
    figures(solved.find("slacks"), "slacks");
    const SolutionValue* ranging = solved.find("ranging");
    if (ranging && !ranging->none) {
        figures(ranging->find("costs"), "ranging.costs");
        figures(ranging->find("rhs"), "ranging.rhs");
    }
    for (auto& row : rows)
        for (auto& cell : row) cell = spreadsheet_text(std::move(cell));
    return rows;
}

namespace {

void add_value(GatheredData& data, const std::string& name, data::Value value, const std::string& where) {
    if (auto twice = data.origins.add(name, where)) fail(ExitStatus::DoesNotCompile, *twice);
    data.values.members().emplace_back(name, std::move(value));
}

/// A data file's text, read as every model and data file is; one that cannot be read is a usage fault.
std::string input_text(const std::string& path) {
    files::InputFile file = files::read_input_file(raw_name(path));
    if (!file.ok()) fail(ExitStatus::Usage, "cannot read " + path + ": " + file.reason());
    return std::move(file.bytes);
}

/// The names of the entries of `folder` as the host's text carries them, sorted; a folder that cannot be listed says so as the host's
/// OSError does.
std::vector<std::string> listing(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(raw_name(folder), error), end; !error && it != end; it.increment(error))
        names.push_back(shown_name(it->path().filename().native()));
    if (error) fail(ExitStatus::DoesNotCompile, files::os_error_text(error.value(), folder));
    std::sort(names.begin(), names.end());
    return names;
}

/// The value a JSON file holds, read as the host's json module reads it (a key given twice is refused, as a .dat
/// file's and CSV's are).
data::Value json_value(const std::string& path) {
    std::string text = input_text(path);
    data::Value value;
    try {
        value = json::parse(text, {.repeated_keys = true});
    } catch (const json::ParseError& e) {
        fail(ExitStatus::DoesNotCompile,
             path + ":" + std::to_string(e.line()) + ":" + std::to_string(e.column()) + ": " + e.reason());
    }
    if (auto twice = json_key_twice(text, path)) fail(ExitStatus::DoesNotCompile, *twice);
    return value;
}

/// The element name a cell's value stands for as a key, as the host's data names it.
std::string key_text(const data::Value& cell) {
    if (cell.kind() == data::Value::Kind::Number) {
        if (auto whole = data::whole_number_key(cell.number())) return *whole;
    }
    return json::str(cell);
}

std::string trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return std::string(s);
}

/// A cell read for what it fills: a string's cell is its text whatever it
/// looks like, a boolean's `true` or `false` (any case) a boolean, a
/// number's as the host reads a number; a cell of unknown type is read as a
/// number when it is one.
data::Value typed_cell(const std::string& text, data::CellType type) {
    using data::CellType;
    switch (type) {
    case CellType::String:
    case CellType::Tuple: return data::Value::of(text);
    case CellType::Boolean: {
        std::string lower;
        for (char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower == "true" || lower == "false") return data::Value::of(lower == "true");
        return cell_value(text);
    }
    default: return cell_value(text);
    }
}

/// The value of one CSV file (see read_csv_table), each cell typed by the
/// declaration of what it fills; `places` gets the place of each row's value
/// as messages name it (`["Aalborg"]`, `[2]` for a set's element) -> "file:line".
data::Value csv_value(const CsvTable& table, const data::Declared& declared, const std::string& where,
                      const std::string& name, data::Value& places) {
    data::Value elements = data::Value::array(), single;
    std::vector<std::pair<std::vector<std::string>, data::Value>> keyed;
    std::set<std::vector<std::string>> keys;
    auto cell = [&](const std::string& text, data::CellType type) { return typed_cell(trimmed(text), type); };
    for (const CsvEntry& entry : table.entries) {
        data::Value place = data::Value::of(where + ":" + std::to_string(entry.line));
        if (table.is_set) {
            places.members().emplace_back("[" + std::to_string(elements.items().size()) + "]", place);
            std::vector<data::Value> fields;
            for (std::size_t i = 0; i < entry.cells.size(); ++i)
                fields.push_back(cell(entry.cells[i], i < declared.fields.size() ? declared.fields[i]
                                                      : declared.fields.empty()  ? declared.value
                                                                                 : data::CellType::Unknown));
            elements.items().push_back(
                fields.size() == 1 && declared.fields.size() <= 1 ? fields[0] : data::Value::array(std::move(fields)));
        } else if (table.dims == 0) {
            single = cell(entry.cells[0], declared.value);
            places.members().emplace_back("", place);
        } else {
            std::vector<std::string> key;
            std::string path;
            for (std::size_t i = 0; i < table.dims; ++i) {
                data::CellType type = i < declared.index.size() ? declared.index[i] : data::CellType::Unknown;
                key.push_back(key_text(cell(entry.cells[i], type)));
                path += "[\"" + key.back() + "\"]";
            }
            if (!keys.insert(key).second) fail(ExitStatus::DoesNotCompile, repeated_key(where, entry.line, name));
            keyed.emplace_back(key, cell(entry.cells[table.dims], declared.value));
            places.members().emplace_back(path, place);
        }
    }
    if (!table.error.empty()) fail(ExitStatus::DoesNotCompile, table.error);
    return table.is_set ? elements : table.dims == 0 ? single : data::nest_keys(std::move(keyed));
}

/// A folder of NAME.csv files, in the order of their names.
void gather_csv_folder(GatheredData& data, const std::string& folder, std::string_view model_text) {
    std::map<std::string, data::Declared> declared = data::declared_names(model_text);
    for (const std::string& entry : listing(folder)) {
        std::optional<std::string> name = csv_data_name(entry);
        if (!name) continue;
        std::string path = folder.empty() || folder.back() == '/' ? folder + entry : folder + "/" + entry;
        data.inputs.push_back(path);
        std::vector<std::vector<std::string>> rows;
        if (declared.contains(*name)) rows = csv_rows(input_text(path), path);
        data::Value places = data::Value::object();
        auto found = declared.find(*name);
        data::Declared none;
        const data::Declared& of = found == declared.end() ? none : found->second;
        add_value(data, *name, csv_value(read_csv_table(path, *name, declared, rows), of, path, *name, places), path);
        data.rows.members().emplace_back(*name, std::move(places));
    }
}

}  // namespace

namespace {

/// Records the names `text` assigns, as the compiler reads them (a text that does not parse gives those it read;
/// the compiler reports the fault when the data is compiled).
void add_assigned_names(GatheredData& data, const std::string& path, const std::string& text) {
    compiler::Ast ast;
    compiler::DataFile file;
    compiler::Diagnostics diagnostics;
    compiler::parse_data(text, ast, file, diagnostics);
    for (const compiler::DataAssignment& a : file.assignments)
        if (auto twice = data.origins.add_assigned(compiler::shown_name(ast.texts[a.name]), path, a.at.line))
            fail(ExitStatus::DoesNotCompile, *twice);
}

}  // namespace

GatheredData gather_data(const std::vector<std::string>& paths, std::string_view model_text) {
    GatheredData data;
    for (const std::string& path : paths) {
        std::error_code error;
        DataSource source = data_source(path, std::filesystem::is_directory(raw_name(path), error));
        if (source == DataSource::CsvFolder) {
            gather_csv_folder(data, path, model_text);
            continue;
        }
        data.inputs.push_back(path);
        if (source == DataSource::DatText) {
            std::string text = input_text(path);
            // Among several sources, a name assigned in two of them is said with both files; the
            // merged text's line numbers would name neither.
            if (paths.size() > 1) add_assigned_names(data, path, text);
            append_on_new_line(data.dat_text, text);
            continue;
        }
        data::Value parsed = json_value(path);
        if (parsed.kind() != data::Value::Kind::Object)
            fail(ExitStatus::DoesNotCompile, path + ": the data must be a JSON object");
        for (auto& [name, value] : parsed.members()) add_value(data, name, std::move(value), path);
    }
    return data;
}

namespace {

/// Whether a value given at `depth` (a name's value is at 1) nests more deeply than data may.
bool nests_too_deeply(const data::Value& value, std::size_t depth) {
    if (depth > data::kMaxDataDepth) return true;
    for (const data::Value& item : value.items())
        if (nests_too_deeply(item, depth + 1)) return true;
    for (const auto& [key, member] : value.members())
        if (nests_too_deeply(member, depth + 1)) return true;
    return false;
}

}  // namespace

RunData run_data(std::string_view model_text, const GatheredData& gathered) {
    RunData out{gathered.dat_text, std::nullopt};
    if (gathered.values.members().empty()) return out;
    for (const auto& [name, value] : gathered.values.members())
        if (nests_too_deeply(value, 1)) fail(ExitStatus::DoesNotCompile, data::too_deep_message());
    auto written = data::write_mapping(std::string(model_text), gathered.values, gathered.dat_text);
    if (const std::string* refusal = std::get_if<std::string>(&written))
        fail(ExitStatus::DoesNotCompile, gathered.origins.placed(*refusal));
    append_on_new_line(out.text, "");
    std::size_t base = out.text.size();
    out.text += std::get<data::WrittenMapping>(written).text;
    data::Value files = data::Value::object();
    for (const auto& [name, where] : gathered.origins.names())
        files.members().emplace_back(name, data::Value::of(where));
    out.sources = data::Value::object({{"base", data::Value::of(static_cast<int64_t>(base))},
                                       {"values", gathered.values},
                                       {"files", std::move(files)},
                                       {"rows", gathered.rows}});
    return out;
}

data::Value does_not_compile_json(data::Value records) {
    data::Value out = failure_json({ExitStatus::DoesNotCompile, "the model does not compile"});
    out.members().emplace_back("diagnostics", std::move(records));
    return out;
}

std::string unfinished_move_warning(const std::string& model, const std::string& journal) {
    return "tarvok run: warning: " + model +
           " may not belong with its data: an earlier move into place stopped part way (see " + journal + ")";
}

std::string sizes_and_times(const data::Value& statistics) {
    auto text = [&](const char* key) {
        const data::Value* v = statistics.find(key);
        return v ? json::str(*v) : std::string();
    };
    auto seconds = [&](const char* key) {
        const data::Value* v = statistics.find(key);
        return v ? v->number() : 0.0;
    };
    return sizes_and_times({text("columns"), text("integer_columns"), text("rows"), text("nonzeros"),
                            seconds("compile_seconds"), seconds("instantiation_seconds"), seconds("solve_seconds")});
}

std::string statistics_line(const data::Value& statistics) {
    std::string line;
    for (const auto& [name, value] : statistics.members())
        line += (line.empty() ? "" : ", ") + name + " " + json::str(value);
    return line;
}

data::Value records_with_paths(data::Value records, const std::string& model, const std::optional<std::string>& data) {
    for (data::Value& record : records.items()) {
        const data::Value* file = record.find("file");
        bool about_model = file && file->text() == "model";
        data::Value path = about_model ? data::Value::of(model) : data ? data::Value::of(*data) : data::Value::null();
        auto held = std::find_if(record.members().begin(), record.members().end(),
                                 [](const auto& member) { return member.first == "path"; });
        if (held != record.members().end())
            held->second = std::move(path);
        else
            record.members().emplace_back("path", std::move(path));
    }
    return records;
}

SolutionValue solution_of(const data::Value& solved) {
    using Kind = data::Value::Kind;
    SolutionValue out{.none = solved.kind() == Kind::Null,
                      .nested = solved.kind() == Kind::Object || solved.kind() == Kind::Array};
    for (const auto& [key, value] : solved.members()) out.items.emplace_back(key, solution_of(value));
    for (std::size_t i = 0; i < solved.items().size(); ++i)
        out.items.emplace_back(std::to_string(i), solution_of(solved.items()[i]));
    if (!out.none && !out.nested) out.text = json::str(solved);
    return out;
}

}  // namespace tarvok::cli
