#include "cli/run_inputs.hpp"

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

std::optional<std::string> DataOrigins::add(const std::string& name, const std::string& where) {
    auto known = origin_.find(name);
    if (known != origin_.end()) return "data '" + name + "' is given twice: in " + known->second + " and in " + where;
    origin_[name] = where;
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

}  // namespace

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
    for (const char* kind : {"duals", "reduced_costs", "activities", "slacks"}) figures(solved.find(kind), kind);
    const SolutionValue* ranging = solved.find("ranging");
    if (ranging && !ranging->none)
        for (const char* part : {"costs", "rhs"}) figures(ranging->find(part), std::string("ranging.") + part);
    return rows;
}

}  // namespace tarvok::cli
