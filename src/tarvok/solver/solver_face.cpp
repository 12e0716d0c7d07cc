#include "solver/solver_face.hpp"

#include <algorithm>
#include <cctype>
#include <type_traits>

namespace tarvok::solver {

namespace {

json::Value sense_of(const Program& p) { return json::Value::of(p.sense == Sense::Maximize ? "maximize" : "minimize"); }
json::Value offset_of(const Program& p) { return json::Value::real(p.offset); }
json::Value columns_of(const Program& p) { return json::Value::of(p.columns()); }
json::Value rows_of(const Program& p) { return json::Value::of(p.rows()); }
json::Value nonzeros_of(const Program& p) { return json::Value::of(p.nonzeros()); }
json::Value conflicts_of(const Program& p) { return culprit_list(p.conflicts); }

}  // namespace

const std::vector<ProgramProperty>& program_sizes_and_arrays() {
    static const std::vector<ProgramProperty> properties = {
        {"sense", "\"minimize\" or \"maximize\".", &sense_of, {}},
        {"objective_offset", "The constant term of the objective.", &offset_of, {}},
        {"num_columns", "Number of columns (variable elements).", &columns_of, {}},
        {"num_rows", "Number of rows (constraint instances).", &rows_of, {}},
        {"num_nonzeros", "Number of nonzero coefficients.", &nonzeros_of, {}},
        {"cost", "Objective coefficient per column (float64).", nullptr, &Program::cost},
        {"column_lower", "Lower bound per column; -inf when there is none.", nullptr, &Program::col_lower},
        {"column_upper", "Upper bound per column; inf when there is none.", nullptr, &Program::col_upper},
        {"integrality", "1 for integer (int and boolean) columns, 0 for continuous ones (uint8).", nullptr,
         &Program::integrality},
        {"row_lower", "Lower side per row; -inf when there is none.", nullptr, &Program::row_lower},
        {"row_upper", "Upper side per row; inf when there is none (equal sides: an equation).", nullptr,
         &Program::row_upper},
        {"row_starts", "CSR: row i holds column_indices/values[row_starts[i]:row_starts[i+1]] (int32).", nullptr,
         &Program::row_starts},
        {"column_indices", "CSR column index of each nonzero (int32).", nullptr, &Program::col_indices},
        {"values", "CSR value of each nonzero (float64).", nullptr, &Program::values},
        {"column_starts",
         "CSC: column j holds row_indices/column_values[column_starts[j]:column_starts[j+1]] (int32); built on "
         "first use.",
         nullptr, &CscMatrix::starts},
        {"row_indices", "CSC row index of each nonzero, ascending within a column (int32).", nullptr, &CscMatrix::rows},
        {"column_values", "CSC value of each nonzero (float64).", nullptr, &CscMatrix::values},
    };
    return properties;
}

const std::vector<ProgramProperty>& program_views() {
    static const std::vector<ProgramProperty> properties = {
        {"column_names", "Name of each column, e.g. 'ship[Aalborg][Copenhagen]'.", &column_name_list, {}},
        {"column_keys",
         "The index keys of each column, a tuple with one text per dimension of its variable, e.g.\n"
         "('Aalborg', 'Copenhagen'); () for a scalar variable.",
         &column_key_list,
         {}},
        {"row_names", "Name of each row, e.g. 'plantCapacity[Aalborg]'.", &row_name_list, {}},
        {"row_lines", "The model line each row's constraint starts on.", &row_line_list, {}},
        {"variables",
         "One dict per decision variable: name, first_column, shape, integer, line; its columns are first_column "
         "onwards, row by row over shape.",
         &variable_list,
         {}},
        {"dexprs",
         "One dict per dexpr: name, columns, coefficients, constant, line (its linear form).",
         &dexpr_list,
         {}},
        {"conflicts",
         "Constraints and bounds that cannot hold whatever the variables are (name, line, kind).",
         &conflicts_of,
         {}},
        {"statistics",
         "Sizes and times: columns, rows, nonzeros, integer_columns, folded_bounds, compile_seconds, "
         "instantiation_seconds.",
         &program_statistics,
         {}},
    };
    return properties;
}

std::optional<ArrayMemory> array_memory(const Program& p, const ProgramArray& array) {
    return std::visit(
        [&](auto member) -> std::optional<ArrayMemory> {
            using Member = decltype(member);
            if constexpr (std::is_same_v<Member, std::monostate>) {
                return std::nullopt;
            } else if constexpr (std::is_invocable_v<Member, const CscMatrix&>) {
                return &(p.columnwise().*member);
            } else {
                return &(p.*member);
            }
        },
        array);
}

std::vector<int32_t> nonzero_rows(const Program& p) {
    std::vector<int32_t> rows(p.nonzeros());
    for (uint32_t i = 0; i < p.rows(); ++i)
        std::fill(rows.begin() + p.row_starts[i], rows.begin() + p.row_starts[i + 1], static_cast<int32_t>(i));
    return rows;
}

const std::vector<ResultProperty>& result_properties() {
    static const std::vector<ResultProperty> properties = {
        {"status", "A Status member.", nullptr, HostView::Status},
        {"objective", "The objective value, or None when there is no solution.", &Solved::objective, HostView::None},
        {"values",
         "Variable and dexpr name -> value ({} when there is no solution): a scalar's value, or for an\n"
         "indexed variable a dict keyed by its set elements (a tuple of elements for several indices;\n"
         "a tuple set's element as the tuple of its fields): result.values['ship']['Aalborg', 'Oslo'].",
         &Solved::element_values, HostView::Keyed},
        {"nested_values",
         "The values as lists nested in index-set order (positions, not elements), the form values had\n"
         "before they were labelled.",
         &Solved::nested_values, HostView::None},
        {"statistics",
         "Sizes, times (compile, instantiation, solve), mip_gap, best_bound (a MIP stopped before its optimum\n"
         "was proved), simplex_iterations, mip_nodes.",
         nullptr, HostView::Statistics},
        {"infeasible_constraints",
         "For an infeasible model: dicts with name, line and kind ('constraint' or 'bound') of what cannot hold "
         "together.",
         &Solved::infeasible, HostView::None},
        {"message", "Why there is no solution, or None.", &Solved::message, HostView::None},
        {"duals",
         "Constraint label -> dual (the objective's change per unit increase of the active side),\ndicts nested by "
         "the forall values (as names write them) for an indexed one; None unless\nsolved with sensitivity.",
         &Solved::duals, HostView::None},
        {"reduced_costs", "Variable name -> reduced cost, shaped as values are; None unless solved with sensitivity.",
         &Solved::element_reduced_costs, HostView::Keyed},
        {"activities", "Constraint label -> the value of its linear side, shaped as duals are.", &Solved::activities,
         HostView::None},
        {"slacks",
         "Constraint label -> distance of the activity from the nearer side (None: no side), shaped as duals are.",
         &Solved::slacks, HostView::None},
        {"ranging",
         "{'costs': per variable, 'rhs': per constraint (where its dual holds; None where no range\nis given)} of "
         "dicts low, high, objective_at_low, objective_at_high, entering_at_low,\nleaving_at_low, entering_at_high, "
         "leaving_at_high (None: no limit, or no name); None unless\nsolved with sensitivity=True.",
         &Solved::ranging, HostView::None},
        {"sensitivity_basis",
         "'lp' for the program's own figures, 'fixed_integers' for those of a MIP's LP with the integer\ncolumns "
         "fixed at the solution; None without sensitivity figures.",
         &Solved::sensitivity_basis, HostView::None},
        {"program", "The solved Program.", nullptr, HostView::Program},
    };
    return properties;
}

std::vector<std::pair<std::string, std::string>> status_members() {
    std::vector<std::pair<std::string, std::string>> members;
    for (Status s : kStatuses) {
        std::string word = status_word(s), name;
        for (char ch : word) name += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        members.emplace_back(std::move(name), std::move(word));
    }
    return members;
}

const std::vector<SourceText>& source_texts() {
    static const std::vector<SourceText> texts = {
        {kReportFace, [](const Source& s) { return s.compilation->report(); }},
        {kModelTextFace, [](const Source& s) { return s.model_text; }},
        {kDataTextFace, [](const Source& s) { return s.data_text; }},
    };
    return texts;
}

}  // namespace tarvok::solver
