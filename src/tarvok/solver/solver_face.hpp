// The solver module as help() shows it: its functions' and methods'
// parameters and docstrings, its classes' docstrings, and the read-only
// properties of Program and SolveResult, each with the view of the core that
// answers it, so that the binding registers them in one loop.
#pragma once

#include "common/function_face.hpp"
#include "solver/program.hpp"
#include "solver/views.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace tarvok::solver {

inline constexpr const char* kModuleDoc =
    "Runs Tarvok models: expands a model and its data into a sparse program and solves it with HiGHS.";

// ---------------------------------------------------------- functions

inline constexpr Face kCompileFace{
    "compile", "model_text, data_text",
    "Compile a model with its data for running, without building the compiled-model dict.\n\n"
    "Returns a CompiledModel whether or not the pair compiles (see its `ok` and `report`); the\n"
    "diagnostics are those TVLCompiler().compile_model gives. Raises MemoryError when memory runs out\n"
    "and KeyboardInterrupt on Ctrl-C."};

inline constexpr Face kSolveProgramFace{
    "solve_program",
    "program, *, time_limit=None, mip_gap=None, threads=None, log=False, sensitivity=False, solver='highs', "
    "cancel=None",
    "Solve a Program (from instantiate() or a CompiledModel) with HiGHS and return a SolveResult.\n\n"
    "The options are those of solve_model."};

inline constexpr Face kCheckSolverFace{
    "_check_solver", "solver='highs', purpose='solving a model', extra=None",
    "Import the library of a solver, or raise the ImportError that names its extra."};

inline constexpr Face kInstantiateFace{
    "instantiate", "model_text, data_text",
    "Compile a model with its data and expand it into a sparse Program.\n\n"
    "Raises SemanticError with the compiler's diagnostics, or with a located message for a fault only the\n"
    "data reveals (an index outside its set, a value too large for a float)."};

inline constexpr Face kSolveModelFace{
    "solve_model",
    "model_text, data_text, *, time_limit=None, mip_gap=None, threads=None, log=False, sensitivity=False, "
    "solver='highs', cancel=None",
    "Solve a model with its data using HiGHS and return a SolveResult.\n\n"
    "time_limit in seconds, mip_gap the relative MIP gap, threads the solver's thread count; log=True sends\n"
    "the solver log to stderr. sensitivity='duals' adds the duals, reduced costs, row activities and slacks\n"
    "of an optimal solve (for a MIP: of the LP with its integer columns fixed at the solution);\n"
    "sensitivity=True (or 'ranging') adds HiGHS's ranging of costs and right-hand sides. solver='scip'\n"
    "solves with SCIP through PySCIPOpt (the 'scip' extra) instead: the same statuses, values, limits and\n"
    "gap, and the infeasible subset of SCIP's own finder; its duals where SCIP gives them (else None), no\n"
    "ranging. cancel, a callable, is asked while the solve runs (HiGHS asks it at each of its interrupt\n"
    "checks, from any thread; SCIP before each run): once it returns true the solve stops with\n"
    "RuntimeError('the solve was cancelled'). Raises\n"
    "SemanticError when the model does not compile, ImportError when the solver's library is missing\n"
    "(highspy: the 'solve' extra), ValueError for an unknown solver, KeyboardInterrupt on Ctrl-C (its\n"
    "`result` attribute holds the run so far: the best solution found, with the MIP's bound)."};

inline constexpr Face kWriteModelFace{
    "write_model", "model_text, data_text, path",
    "Write the expanded model as a free-format .mps or an .lp file (by the path's extension).\n\n"
    "Names are made to fit the format: in .mps files white space becomes '_', in .lp files brackets\n"
    "become parentheses and other signs '_'; repeated names get '~2', '~3'. The .lp file is HiGHS's;\n"
    "it keeps the objective's label and lists, in comments at its top, the constraints that became\n"
    "bounds of one column. The file is written whole or not at all. Raises ValueError for any other\n"
    "extension and for a model that cannot hold whatever the variables are (crossing sides or bounds,\n"
    "named with their lines), and OSError when the file cannot be written (a missing folder, no\n"
    "permission, a full disk)."};

// ------------------------------------------------------------ Program

inline constexpr const char* kProgramDoc =
    "A model expanded into a sparse linear or mixed-integer program.\n\n"
    "Columns are the elements of the decision variables, in declaration order and row by row over each\n"
    "variable's index sets; rows are the constraint instances. Arrays are read-only numpy views.\n"
    "Names: 'ship[Aalborg][Copenhagen]' for a column, 'label[index values]' for a row; an unlabelled\n"
    "constraint is named c<line> (c<line>_<column> when several start on one line).";

inline constexpr Face kCscFace{"csc", "self", "The matrix column by column: (starts, row_indices, values)."};
inline constexpr Face kCooFace{"coo", "self", "The matrix as coordinates: (row_indices, column_indices, values)."};
inline constexpr Face kSolutionValuesFace{
    "solution_values", "self, x",
    "Map a value per column to {variable or dexpr name: value}.\n\n"
    "A scalar for a scalar variable, nested lists in index-set order for an indexed one;\n"
    "int and boolean variables come back as rounded ints."};

/// One of the program's arrays, which the host shows as a read-only view.
/// The column-wise matrix's arrays are built on first use.
using ProgramArray =
    std::variant<std::monostate, std::vector<double> Program::*, std::vector<uint8_t> Program::*,
                 std::vector<int32_t> Program::*, std::vector<int32_t> CscMatrix::*, std::vector<double> CscMatrix::*>;

/// The memory of one of the program's arrays, which the host views.
using ArrayMemory = std::variant<const std::vector<double>*, const std::vector<uint8_t>*, const std::vector<int32_t>*>;

/// The array `array` names in `p`, or nullopt for none; the column-wise
/// matrix is built on first use (see Program::columnwise), which may take a while.
std::optional<ArrayMemory> array_memory(const Program& p, const ProgramArray& array);

/// A read-only property of Program: a view the core shapes, or an array.
struct ProgramProperty {
    const char* name;
    const char* doc;
    json::Value (*shape)(const Program&);  ///< null for an array
    ProgramArray array;
};

/// Its sizes and arrays, shown before its methods.
const std::vector<ProgramProperty>& program_sizes_and_arrays();
/// Its names, blocks and statistics, shown after the matrix forms.
const std::vector<ProgramProperty>& program_views();

/// The row of each nonzero, for the matrix as coordinates.
std::vector<int32_t> nonzero_rows(const Program& p);

// -------------------------------------------------------- SolveResult

inline constexpr const char* kSolveResultDoc = "The outcome of solve_model.";

inline constexpr Face kToDictFace{
    "to_dict", "self, *, nested=False",
    "The result as JSON-ready data: status, objective, values, infeasible_constraints, message, statistics.\n\n"
    "An indexed variable's values (and reduced costs) are dicts nested over its index sets, keyed by the\n"
    "elements as names write them ({'ship': {'Aalborg': {'Oslo': 3}}}; a tuple element as '<A,B>'), as\n"
    "the duals are by the forall values; nested=True gives them as lists nested in index-set order."};
inline constexpr Face kToPandasFace{
    "to_pandas", "self",
    "The values as pandas objects: {name: Series} for each indexed variable, indexed by its set\n"
    "elements (a MultiIndex for several indices), and the plain value of each scalar variable and\n"
    "dexpr. pandas is imported on first use; ImportError when it is missing."};
inline constexpr Face kToFrameFace{
    "to_frame", "self, name",
    "One variable's values as a pandas DataFrame: a column per index ('index 1', ...) and 'value',\n"
    "a row per element in index-set order (one row for a scalar). KeyError for an unknown name,\n"
    "ImportError when pandas is missing."};
inline constexpr Face kSummaryFace{
    "summary", "self",
    "A readable report: status, objective, the nonzero values grouped by variable with one column per index, "
    "the dexprs."};

/// What the host itself answers for a property of SolveResult; `Keyed`: the
/// view's (key, value) pairs of each indexed variable made a dict.
enum class HostView : uint8_t { None, Status, Statistics, Program, Keyed };

/// A read-only property of SolveResult: a view of the solve, or one the host answers.
struct ResultProperty {
    const char* name;
    const char* doc;
    json::Value (Solved::*shape)() const;  ///< null where `host` answers (`Keyed`: both, the host keys what it shapes)
    HostView host;
};

const std::vector<ResultProperty>& result_properties();

/// The members of the Status enumeration: (NAME, word) per status, in order.
std::vector<std::pair<std::string, std::string>> status_members();

inline constexpr const char* kStatusDoc = "How a solve ended; the value is the word the JSON output uses.";

// ------------------------------------------------------ CompiledModel

inline constexpr const char* kCompiledModelDoc =
    "A model compiled with its data, kept for running.\n\n"
    "Made by compile(); `program` expands it into its Program on first use and keeps it, so a model is\n"
    "compiled once and expanded once however often it is solved or written out.";

/// Its properties, in the order shown, and methods.
inline constexpr Face kOkFace{"ok", nullptr, "Whether the pair compiles (warnings allowed)."};
inline constexpr Face kReportFace{
    "report", nullptr,
    "The diagnostics as SemanticError shows them: one per line as 'model:LINE:COLUMN: message', each\n"
    "followed by the offending line and a caret; empty when there are none."};
inline constexpr Face kReportForFace{
    "report_for", "self, model_name, data_name",
    "The diagnostics as the check command prints them: errors, then warnings, each as\n"
    "'NAME:LINE:COLUMN: error: message' (or warning:) with the offending line and a caret, the\ntexts named "
    "model_name and data_name; empty when there are none."};
inline constexpr Face kNameDataSourcesFace{
    "_name_data_sources", nullptr,
    "For the run command: data written from JSON and CSV files at byte `base` of the data text, named\n"
    "in messages by file ({name: file}) and table row ({name: {path: 'file:row'}})."};
inline constexpr Face kDiagnosticsFace{
    "diagnostics", nullptr, "The diagnostic records, errors then warnings, as SemanticError.diagnostics holds them."};
inline constexpr Face kModelTextFace{"model_text", nullptr, "The model text compiled."};
inline constexpr Face kDataTextFace{"data_text", nullptr, "The data text compiled."};
inline constexpr Face kProgramFace{
    "program", nullptr,
    "The Program, expanded on first use and kept. Raises SemanticError with the diagnostics when\nthe pair does "
    "not compile, or with a located message for a fault only the data reveal."};

/// A text property of CompiledModel: its face and what of the source it shows.
struct SourceText {
    Face face;
    std::string (*text)(const Source&);
};

/// report, model_text and data_text.
const std::vector<SourceText>& source_texts();

}  // namespace tarvok::solver
