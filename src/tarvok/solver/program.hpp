// One linear or mixed-integer program expanded from a compiled Tarvok model:
// columns for the elements of the decision variables, rows for the instances
// of the constraints, the objective, and the linear form of every dexpr. Names
// of rows and columns are built on request from what each one came from, so a
// program with millions of rows stores no text per row.
//
// Naming:
//   column   the variable and its index values:           ship[Aalborg][Copenhagen]
//   row      the constraint label and its forall values:  plantCapacity[Aalborg]
//            an unlabelled constraint is named c<line> after the line it starts on
//            (c<line>_<column> when several start on that line): c14[3]
// Index values are written bare: strings without quotes, numbers as the
// language writes them, tuples as <a,b,3>.
#pragma once

#include "common/error.hpp"
#include "compiler/compiler.hpp"

#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::solver {

namespace tc = tarvok::compiler;

inline constexpr uint32_t kNone = tc::kNone;

enum class Sense : int8_t { Minimize = 1, Maximize = -1 };

/// The texts and their compilation, kept together: the compilation holds
/// views of the texts, and the program's names and messages need both.
struct Source {
    std::string model_text;
    std::string data_text;
    std::unique_ptr<tc::Compilation> compilation;
    double compile_seconds = 0;
};

/// One dvar declaration and its block of consecutive columns, laid out row
/// by row over its dimensions (the order of the compiler's array data).
struct VariableBlock {
    uint32_t decl = kNone;
    std::string name;
    uint32_t first = 0;  ///< first column
    uint32_t count = 0;  ///< number of columns
    std::vector<std::shared_ptr<const tc::Domain>> dims;
    bool integer = false;
    tc::Location at;
};

/// A linear expression in the columns plus a constant.
struct LinearForm {
    std::vector<uint32_t> columns;
    std::vector<double> coefficients;
    double constant = 0;

    double value(const double* x) const;
};

/// One dexpr declaration and its linear form.
struct DecisionExpression {
    uint32_t decl = kNone;
    std::string name;
    LinearForm form;
    bool integer = false;  ///< declared `dexpr int`
    tc::Location at;
};

/// One constraint instance: the constraint and the values of its forall
/// bindings (`key` is the first of them in Program::keys, or, for a
/// constraint whose instances are told by position, see
/// Program::positional, the instance's place in the enumeration).
struct InstanceRef {
    uint32_t constraint = kNone;
    uint32_t key = 0;
};

/// A constraint instance that is no row of the program: `lower <=
/// coefficient * x[column] <= upper`, its constant moved into the sides as a
/// row's is. Over one column it became bounds of that column; `column` is
/// kNone for one without columns, which holds.
struct FoldedConstraint {
    InstanceRef origin;
    uint32_t column = kNone;
    double coefficient = 0;
    double lower = 0, upper = 0;
};

/// Something that takes part in making the program infeasible: a constraint
/// instance, or a bound of one column that its declaration sets.
struct Culprit {
    enum class Kind : uint8_t { Constraint, Bound };
    std::string name;
    uint32_t line = 0;
    Kind kind = Kind::Constraint;
};

/// The matrix column by column.
struct CscMatrix {
    std::vector<int32_t> starts;  ///< columns + 1
    std::vector<int32_t> rows;
    std::vector<double> values;
};

/// The file formats HiGHS writes; each has its own rules for names.
enum class NameFormat : uint8_t { Mps, Lp };

class Program {
  public:
    // ------------------------------------------------------------- arrays
    Sense sense = Sense::Minimize;
    double offset = 0;  ///< constant term of the objective

    std::vector<double> cost;          ///< per column
    std::vector<double> col_lower;     ///< -inf when unbounded below
    std::vector<double> col_upper;     ///< +inf when unbounded above
    std::vector<uint8_t> integrality;  ///< 1 for int and boolean columns

    std::vector<double> row_lower;
    std::vector<double> row_upper;
    /// The matrix row by row: row i holds indices/values[starts[i] .. starts[i+1]),
    /// each column at most once, no zeros.
    std::vector<int32_t> row_starts{0};
    std::vector<int32_t> col_indices;
    std::vector<double> values;

    std::vector<VariableBlock> variables;
    std::vector<DecisionExpression> dexprs;

    /// Rows by origin. `keys` holds the binding values of the instances of
    /// constraints not told by position, as the 8 bytes of each value (its
    /// kind is the same for every value of one binding; see key_value).
    std::vector<InstanceRef> row_origin;
    std::vector<uint64_t> keys;

    /// The constraint instances that state no row, in the order expanded:
    /// those over one column became its bounds, and those over none hold
    /// whatever the variables are. Each is kept, a bound looser than another
    /// or equal to it too, so that every constraint has its figures.
    std::vector<FoldedConstraint> folded;
    /// Per column, the folded constraint that set its current lower and upper
    /// bound (the first of equal ones), and the bounds its declaration gave
    /// (empty vectors when no bound was folded).
    std::vector<uint32_t> lower_source;  ///< index into folded, or kNone for the declaration
    std::vector<uint32_t> upper_source;
    std::vector<double> declared_lower, declared_upper;
    /// Single-column instances turned into bounds.
    uint64_t folded_bounds = 0;

    /// Found while instantiating: constant constraints that are false, rows
    /// whose sides cross and columns whose bounds cross (integer bounds
    /// rounded inward first). Such a program is infeasible whatever a solver
    /// says, and no file states it; false constant constraints stay in it as
    /// empty rows.
    std::vector<Culprit> conflicts;

    double compile_seconds = 0;
    double instantiate_seconds = 0;

    std::shared_ptr<const Source> source;

    // ------------------------------------------------------------ queries
    uint32_t columns() const { return static_cast<uint32_t>(cost.size()); }
    uint32_t rows() const { return static_cast<uint32_t>(row_lower.size()); }
    uint64_t nonzeros() const { return col_indices.size(); }
    uint32_t integer_columns() const;

    const tc::Compilation& compilation() const { return *source->compilation; }

    /// The block a column belongs to.
    const VariableBlock& block_of(uint32_t column) const;

    std::string column_name(uint32_t column) const;
    /// A column's index keys, one text per dimension of its variable, as its name writes them.
    std::vector<std::string> column_keys(uint32_t column) const;
    std::string row_name(uint32_t row) const;
    /// The model line a column's declaration or a row's constraint starts on.
    uint32_t column_line(uint32_t column) const { return block_of(column).at.line; }
    uint32_t row_line(uint32_t row) const;

    /// The name of a constraint instance.
    std::string instance_name(const InstanceRef& ref) const;
    uint32_t instance_line(const InstanceRef& ref) const;
    /// The index values of a constraint instance as names write them, outermost first.
    std::vector<std::string> instance_keys(const InstanceRef& ref) const;

    /// Names of all columns and rows as `format` accepts them: characters it
    /// does not allow replaced, and every name unique.
    std::vector<std::string> export_column_names(NameFormat format) const;
    std::vector<std::string> export_row_names(NameFormat format) const;

    CscMatrix csc() const;
    /// The matrix column by column, built on first use and kept: the form a
    /// solver takes without transposing it itself. Safe to call from several
    /// threads; later calls return the same arrays.
    const CscMatrix& columnwise() const;

    /// What an irreducible infeasible subset is made of, by name: rows (with
    /// which side is involved) and column bounds. A column bound that a
    /// constraint set names that constraint; one from the declaration names
    /// the column.
    std::vector<Culprit> explain(const std::vector<uint32_t>& iis_rows, const std::vector<uint32_t>& iis_columns,
                                 const std::vector<int>& column_bound_status) const;

    /// The label of constraint `index`, or its generated name.
    const std::string& constraint_base_name(uint32_t index) const { return constraint_names_[index]; }

    /// Index values as names write them.
    std::string key_text(const tc::Value& v) const;

    /// The value of binding `binding` stored at `keys[index]`.
    tc::Value key_value(uint32_t binding, uint64_t index) const;

    /// Whether the instances of constraint `index` are told by position:
    /// its bindings run over declared sets without a condition, so an
    /// instance's values follow from its place in the enumeration and none
    /// are stored.
    bool positional(uint32_t index) const { return index < positional_.size() && !positional_[index].empty(); }

    /// The value of the `k`-th binding (outermost first) of an instance.
    tc::Value instance_value(const InstanceRef& ref, size_t k) const;

  private:
    friend class Instantiator;
    std::vector<std::string> constraint_names_;  ///< per model constraint
    std::vector<std::vector<uint32_t>>
        constraint_bindings_;               ///< per model constraint: its forall bindings, outermost first
    std::vector<tc::VKind> binding_kinds_;  ///< per binding of the syntax tree
    /// Per model constraint told by position: the sets of its bindings,
    /// outermost first; empty for the others.
    std::vector<std::vector<std::shared_ptr<const tc::Domain>>> positional_;

    std::vector<std::string> export_names(const std::vector<std::string>& names, NameFormat format) const;

    struct ColumnwiseCache {
        std::once_flag built;
        CscMatrix matrix;
    };
    mutable std::unique_ptr<ColumnwiseCache> columnwise_ = std::make_unique<ColumnwiseCache>();
};

/// The bound an integer column really has for a declared or folded bound
/// `bound` (`lower` for a lower bound): a bound within
/// min(1e-9 * max(1, |bound|), 1e-6) of an integer is that integer; any other
/// rounds inward, a lower bound up and an upper bound down. Infinite bounds
/// stay as they are.
double inward_integer_bound(double bound, bool lower);

/// Limits that keep an instantiation from running away; past one, the
/// instantiation fails with a located message.
struct InstantiateOptions {
    uint64_t max_steps = 4'000'000'000;  ///< evaluation steps, all together
    uint64_t max_columns = std::numeric_limits<int32_t>::max() - 1;
    uint64_t max_rows = std::numeric_limits<int32_t>::max() - 1;
    uint64_t max_nonzeros = std::numeric_limits<int32_t>::max() - 1;
    /// Turn a constraint instance over one column into a bound of that column.
    bool fold_bounds = true;
    tc::CompileOptions compile;
};

/// Compiles the texts and keeps them with their compilation, which may have
/// errors (see Compilation::ok).
std::shared_ptr<Source> compile_source(std::string model_text, std::string data_text,
                                       const tc::CompileOptions& options = {});

/// Expands a compiled model into a program, within the size limit of
/// `options.compile` (the one it was compiled with); throws an Error of kind Model (Error::model).
/// Expanding evaluates into the compilation, so each source is expanded at
/// most once.
std::unique_ptr<Program> instantiate(std::shared_ptr<const Source> source, const InstantiateOptions& options = {});

/// Compiles the texts and expands the model into a program; throws an Error
/// of kind Model.
std::unique_ptr<Program> instantiate(std::string model_text, std::string data_text,
                                     const InstantiateOptions& options = {});

/// instantiate, or nullptr and in `failure` why the model cannot be expanded.
std::unique_ptr<Program> instantiate_or_explain(std::shared_ptr<const Source> source, const InstantiateOptions& options,
                                                std::string& failure);

/// The texts compiled as `tarvok check` does and, when they compile and
/// `expand`, expanded as running the model would, so that a fault only the
/// expansion meets (a product of data beyond what the solver reads) lands in
/// the compilation where it is. `compiled` turns true once compiling is done.
std::shared_ptr<Source> check_source(std::string model_text, std::string data_text, const InstantiateOptions& options,
                                     bool expand, bool& compiled);

/// What MemoryError says when memory runs out while compiling texts of
/// `text_bytes` or, once `compiled`, while expanding their model.
std::string out_of_memory_message(size_t text_bytes, bool compiled);

}  // namespace tarvok::solver
