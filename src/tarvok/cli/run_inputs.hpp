// What `tarvok run` decides about its inputs and outputs before and after the
// solve: which option values it refuses, which paths it may write, how the
// DATA arguments are read (a .dat file, a JSON object, a folder of CSV files)
// and the line of sizes and times. The binding converts and calls.
#pragma once

#include "compiler/data_values.hpp"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvok::cli {

/// Why the solver cannot take the option values, naming the option; nothing
/// when it can. `threads_shown` is the value as the user wrote it.
struct SolveOptions {
    std::optional<double> time_limit;
    std::optional<double> mip_gap;
    std::optional<long long> threads;  ///< clamped into long long by the caller when out of range
    std::string time_limit_shown, mip_gap_shown, threads_shown;
    std::string solver = "highs";  ///< --solver
    bool ranging = false;          ///< --sensitivity, whose ranging is HiGHS's alone
};
std::optional<std::string> refused_solve_option(const SolveOptions& options);

/// Whether `name` ends in `suffix`, ignoring ASCII case.
bool ends_with_ignoring_case(std::string_view name, std::string_view suffix);

/// Why --write cannot write the model to `name` (it must be FILE.mps or FILE.lp); nothing when it can.
std::optional<std::string> refused_model_file_name(std::string_view name);

/// Why --solution cannot write `name` (it must be FILE.json or FILE.csv); nothing when it can.
std::optional<std::string> refused_solution_name(std::string_view name);

/// Whether a solution file at `name` is CSV (else JSON).
bool solution_is_csv(std::string_view name);

/// How one DATA argument is read.
enum class DataSource { CsvFolder, JsonObject, DatText };
DataSource data_source(std::string_view path, bool is_folder);

/// `text` appended to `into`, on a line of its own.
void append_on_new_line(std::string& into, std::string_view text);

/// The name a CSV file in a data folder gives, or nothing for a file that is not NAME.csv.
std::optional<std::string> csv_data_name(std::string_view file_name);

/// One CSV file of a data folder, read against the declaration of its name:
/// a set's file lists its elements (a row each, tuple fields as columns); a
/// parameter's file has its index columns in the order of the declaration's
/// index sets and the value last. The first row names the columns. Rows keep
/// their cells as text; gather_data makes them values.
struct CsvEntry {
    std::size_t line = 0;            ///< line of the file the row is on (1 is the header)
    std::vector<std::string> cells;  ///< a set: the element's fields; a parameter: its index keys, then the value
};

struct CsvTable {
    bool is_set = false;
    std::size_t dims = 0;           ///< index columns of a parameter
    std::vector<CsvEntry> entries;  ///< the rows that carry something, in file order
    std::string error;              ///< "path:line: ..." when the file cannot be read as its declaration says
};

/// `where` names the file in messages; `rows` are the rows as the CSV reader gave them.
CsvTable read_csv_table(const std::string& where, const std::string& name,
                        const std::map<std::string, data::Declared>& declared,
                        const std::vector<std::vector<std::string>>& rows);

/// The message for a parameter's key given twice, at `line` of `where`.
std::string repeated_key(const std::string& where, std::size_t line, const std::string& name);

/// A key given twice in one object of the JSON `text` (which the host has
/// read: it keeps the last value), as a data file gives it, with both
/// places in `where`: "data 'cost' is given twice: in d.json:2 and in
/// d.json:5", or for a key inside a name's value "data 'cost' has the key
/// "a" twice: in ...". Nothing when no key repeats.
std::optional<std::string> json_key_twice(std::string_view text, const std::string& where);

/// Where each data name came from; the second source of a name is refused.
class DataOrigins {
  public:
    /// The message when `name` was already given, else records it.
    std::optional<std::string> add(const std::string& name, const std::string& where);
    /// As `add`, for a name a `.dat` file assigns at `file:line`; a second
    /// assignment in the same file is the compiler's to report, with its caret.
    std::optional<std::string> add_assigned(const std::string& name, const std::string& file, std::size_t line);
    /// A message about a name, said at the file that gave that name.
    std::string placed(std::string message) const;
    /// Each name given, and the file that gave it.
    const std::map<std::string, std::string>& names() const { return origin_; }

  private:
    std::map<std::string, std::string> origin_;
    std::map<std::string, std::pair<std::string, std::size_t>> assigned_;  ///< name -> the .dat file and line
};

/// Data gathered from the DATA arguments: `.dat` texts as they are, values
/// from JSON objects and CSV folders by name, each name's source remembered.
struct GatheredData {
    std::string dat_text;
    data::Value values = data::Value::object();
    DataOrigins origins;
    data::Value rows = data::Value::object();  ///< per CSV name: the key path of each row -> "file:line"
    std::vector<std::string> inputs;           ///< every file read, so that no output replaces one
};

/// Reads every DATA argument in order; a folder's NAME.csv files in the
/// order of their names, each read against the declaration of its name in
/// `model_text`. Files are read as every model and data file is
/// (files::read_input_file; one that cannot be is status 2, "cannot read
/// PATH: reason"), JSON as the host's json module reads it, CSV as its
/// csv.reader splits it (csv_cells.hpp). A name given twice, JSON that is
/// malformed or no object and a CSV file that its declaration cannot read
/// fail (status 1).
GatheredData gather_data(const std::vector<std::string>& paths, std::string_view model_text);

/// The data text `run` compiles: the .dat texts, then the values of JSON
/// objects and CSV folders written as data for `model_text`, on a line of
/// their own; with values, also how messages name the file and the row each
/// came from (`base`, `values`, `files`, `rows`, as a compiled model's
/// `_name_data_sources` takes them). Values nested more deeply than data may
/// be, or that the model cannot take, fail (status 1); the latter is said at
/// the file that gave the name.
struct RunData {
    std::string text;
    std::optional<data::Value> sources;
};
RunData run_data(std::string_view model_text, const GatheredData& gathered);

/// `run --json` for a model that does not compile: the error, its status and the diagnostic records.
data::Value does_not_compile_json(data::Value records);

/// The warning for a model whose journal (`journal`) says an earlier move into place stopped part way.
std::string unfinished_move_warning(const std::string& model, const std::string& journal);

/// The solver's figures for the --verbose line and the line after the summary.
struct SizesAndTimes {
    std::string columns, integer_columns, rows, nonzeros;  ///< as the host prints them ("" when absent)
    double compile_seconds = 0, instantiation_seconds = 0, solve_seconds = 0;
};
/// "3 columns (1 integer), 2 rows, 4 nonzeros; compile 0.001 s, expansion 0.000 s, solve 0.012 s".
std::string sizes_and_times(const SizesAndTimes& figures);

/// The same from the solver's statistics as plain values (see SizesAndTimes).
std::string sizes_and_times(const data::Value& statistics);

/// Every statistic as "name value", joined by ", ", for --verbose.
std::string statistics_line(const data::Value& statistics);

/// The diagnostic records with the path of the file each is about, as
/// `check --json` gives them: `model` for the model's, `data` for the
/// data's (none when the data came from no single file).
data::Value records_with_paths(data::Value records, const std::string& model, const std::optional<std::string>& data);

/// A solve result's report without its final newlines; with an `answer`
/// (the number the model names `answer`, as the host formats it), its line
/// stands beside the objective's: "Objective: 12\nAnswer: 3\n...".
std::string summary_with_answer(std::string summary, const std::optional<std::string>& answer);

/// The number a model names `answer` as the host formats it to 12
/// significant digits (format(x, '.12g')); none for null.
std::optional<std::string> answer_text(const data::Value& answer);

/// A solution's dictionary as the host gave it: a value is a text (a number
/// as the host writes it), none, or a table or list of values (a list's keys
/// are the positions), in the host's order.
struct SolutionValue {
    std::string text;
    bool none = false;
    bool nested = false;
    std::vector<std::pair<std::string, SolutionValue>> items;

    /// The value under `key` of a table, or nothing.
    const SolutionValue* find(std::string_view key) const;
};

/// A solution's dictionary as plain values (see SolutionValue): a list's
/// keys are its positions, a scalar keeps the text the host writes for it.
SolutionValue solution_of(const data::Value& solved);

/// The rows of a solution's CSV file: a row per value (name, keys, value; ""
/// for none): the objective, the values, then the sensitivity figures when
/// they were computed, `KIND:name` (no name has a colon). A variable's values
/// and figures come keyed by its set elements (the result's labelled form),
/// as a constraint's are by its forall's. Every cell is made spreadsheet_text.
std::vector<std::vector<std::string>> solution_csv_rows(const SolutionValue& solved);

/// A CSV cell as a spreadsheet shows it without running it: a text that
/// starts with '=', '+', '-', '@', a tab or a carriage return, and is no
/// plain number, gets a leading single quote, which makes it text there.
std::string spreadsheet_text(std::string cell);

}  // namespace tarvok::cli
