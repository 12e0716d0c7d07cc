// The text of a generated SciPy script: a plain Python program that states a
// program in SciPy's standard form, solves it with scipy.optimize.milp and
// prints one JSON object {"status", "objective", "values", "message"} in the
// shape the `tarvok run --json --nested-values` command prints.
//
// Small programs carry their numbers as literals, one line per column and per
// row with its name, so that a reader finds `ship[Aalborg][Copenhagen]` and
// the rows it appears in. Larger ones keep the numbers in an .npz file beside
// the file the script really is (same name, suffix .npz), which the script
// loads relative to its own resolved path.
//
// Lines 1 and 2 are fixed (the host reads a coding declaration there); copied
// text (names, comments, model lines) only ever lands inside a string literal
// or a one-line comment, escaped so that it cannot end either early.
#pragma once

#include "common/named_array.hpp"
#include "scipy_emitter/standard_form.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

namespace tarvok::scipy_emitter {

/// One line of the script; `indent` counts steps of four spaces.
struct Line {
    int indent = 0;
    std::string text;
};

/// A decision variable as the output reports it: nested lists over `shape`
/// (a scalar for no dimensions), taken from the columns from `first` on.
struct ReportedVariable {
    std::string name;
    uint64_t first = 0;
    std::vector<uint64_t> shape;
    bool integer = false;
};

struct ReportedExpression {
    std::string name;
    std::vector<int32_t> columns;
    std::vector<double> coefficients;
    double constant = 0;
    bool integer = false;
};

struct ScriptInput {
    /// Comment lines that open the script (the model's own opening comment).
    std::vector<std::string> preamble;

    bool has_objective = true;
    bool maximize = false;
    std::string objective_note;  ///< e.g. "FreightCost (model line 16)"
    double offset = 0;

    // The columns: names, bounds (infinite where there is none), integrality
    // and the model's own objective coefficients (not negated).
    std::vector<std::string> column_names;
    std::vector<double> lower;
    std::vector<double> upper;
    std::vector<uint8_t> integer;
    std::vector<double> cost;

    SparseRows a_ub;
    std::vector<double> b_ub;
    std::vector<std::string> ub_names;
    SparseRows a_eq;
    std::vector<double> b_eq;
    std::vector<std::string> eq_names;

    /// What the model's expansion found cannot hold whatever the variables
    /// are (sides or bounds that cross), as "name (line N)".
    std::vector<std::string> conflicts;

    std::vector<ReportedVariable> variables;
    std::vector<ReportedExpression> dexprs;

    /// Comment shown above the first column or row of a family, keyed by the
    /// family's name (a name up to its first '[').
    std::unordered_map<std::string, std::string> family_notes;
    uint64_t folded_bounds = 0;

    /// Most columns, rows or nonzeros whose numbers are written into the
    /// script itself; past it they go to the .npz.
    uint64_t inline_limit = 5000;
};

struct Script {
    std::vector<Line> lines;
    std::vector<NamedArray> arrays;  ///< empty when the numbers are in the script
};

/// Whether `input`'s numbers go to an .npz file.
bool needs_npz(const ScriptInput& input);

/// Why the reported variables and dexprs of `input` do not fit its `columns`
/// columns (a generator's attributes changed after they were described);
/// none when they fit.
std::optional<std::string> column_fault(const ScriptInput& input, std::size_t columns);

/// Whether a script path ends in .npz (any case), the suffix of a script's
/// data file, which the script's own name must not take.
bool names_data_file(std::string_view path);

/// The keys a data map given to a generator differs in, as a message names
/// them: " (in 'a', 'b' and 2 more)" (five at most), "" for none.
std::string differing_keys(const std::vector<std::string>& keys);

/// The script for `input` (whose numbers move into the result's arrays when
/// they go to an .npz file).
Script render_script(ScriptInput input);

// ------------------------------------------------- Python literal pieces

/// A Python string literal with the value of the UTF-8 text `s` on one line:
/// quotes, backslashes, control characters (C0, DEL, C1), the Unicode line
/// breaks, bidirectional-formatting characters and lone surrogates escaped;
/// bytes that are not UTF-8 become \xNN.
std::string python_string(std::string_view s);

/// A Python literal that reads back as exactly `v`: shortest round-trip form,
/// `inf`/`-inf`/`nan` (names the script defines) for the non-finite values.
std::string python_number(double v);

/// `s` made safe for a one-line comment: whatever ends a line for the host's
/// tokenizer, its str.splitlines() or an editor, other control characters
/// (C0, DEL, C1), bidirectional-formatting characters, lone surrogates and
/// bytes that are not UTF-8 become spaces.
std::string comment_text(std::string_view s);

/// The family of a column or row name: the part before its first '['.
std::string_view family_of(std::string_view name);

}  // namespace tarvok::scipy_emitter
