#include "solver/outcome.hpp"

#include <cmath>
#include <cstdio>

namespace tarvok::solver {

const char* status_word(Status status) {
    switch (status) {
    case Status::Optimal: return "optimal";
    case Status::Infeasible: return "infeasible";
    case Status::Unbounded: return "unbounded";
    case Status::InfeasibleOrUnbounded: return "infeasible_or_unbounded";
    case Status::TimeLimit: return "time_limit";
    case Status::Error: return "error";
    }
    return "error";
}

Status status_from_highs(std::string_view s) {
    if (s == "kOptimal" || s == "kModelEmpty") return Status::Optimal;
    if (s == "kInfeasible") return Status::Infeasible;
    if (s == "kUnbounded") return Status::Unbounded;
    if (s == "kUnboundedOrInfeasible") return Status::InfeasibleOrUnbounded;
    if (s == "kTimeLimit") return Status::TimeLimit;
    return Status::Error;
}

Status status_from_scip(std::string_view s) {
    if (s == "optimal" || s == "gaplimit") return Status::Optimal;
    if (s == "infeasible") return Status::Infeasible;
    if (s == "unbounded") return Status::Unbounded;
    if (s == "inforunbd") return Status::InfeasibleOrUnbounded;
    if (s == "timelimit") return Status::TimeLimit;
    return Status::Error;
}

Status settle_open_status(Status first, bool integer, const std::function<std::optional<Status>(Attempt)>& attempt) {
    if (first != Status::InfeasibleOrUnbounded) return first;
    std::optional<Status> again = attempt(Attempt::WithoutPresolve);
    if (!again) return first;
    if (*again == Status::Infeasible || *again == Status::Unbounded) return *again;
    if (integer) {
        std::optional<Status> relaxed = attempt(Attempt::Relaxation);
        if (!relaxed) return first;
        if (*relaxed == Status::Infeasible) return Status::Infeasible;
    }
    std::optional<Status> point = attempt(Attempt::FeasiblePoint);
    if (point == Status::Optimal) return Status::Unbounded;
    if (point == Status::Infeasible) return Status::Infeasible;
    return first;
}

double reported_value(double v, bool integer) {
    if (integer) v = std::nearbyint(v);
    if (std::fabs(v) < 1e-9) v = 0;
    return v;
}

std::optional<Outcome> settle_without_solver(const Program& program) {
    if (!program.conflicts.empty()) {
        Outcome o;
        o.status = Status::Infeasible;
        o.culprits = program.conflicts;
        o.message = "constraints that cannot hold whatever the variables are";
        return o;
    }
    if (program.columns() == 0) {
        Outcome o;
        o.status = Status::Optimal;
        o.has_solution = true;
        o.objective = program.offset;
        return o;
    }
    return std::nullopt;
}

namespace {

std::string number_text(double v, bool integer) {
    v = reported_value(v, integer);
    char buffer[64];
    if (integer && std::fabs(v) < 9e15)
        std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(v));
    else
        std::snprintf(buffer, sizeof buffer, "%.10g", v);
    return buffer;
}

}  // namespace

/// Rows of cells as aligned columns, indented by two spaces; numbers
/// (every cell after the first `text_columns`) aligned right.
std::string table(const std::vector<std::vector<std::string>>& rows, size_t text_columns) {
    std::vector<size_t> width;
    for (const auto& row : rows)
        for (size_t k = 0; k < row.size(); ++k) {
            if (width.size() <= k) width.push_back(0);
            width[k] = std::max(width[k], row[k].size());
        }
    std::string out;
    for (const auto& row : rows) {
        std::string line = " ";
        for (size_t k = 0; k < row.size(); ++k) {
            std::string pad(width[k] - row[k].size(), ' ');
            if (k < text_columns)
                line += " " + row[k] + (k + 1 < row.size() ? pad : "");
            else
                line += " " + pad + row[k];
        }
        line.erase(line.find_last_not_of(' ') + 1);
        out += line + "\n";
    }
    return out;
}

/// The header of a variable's dimension: its set or range as written.
std::string dimension_header(const Program& p, const VariableBlock& b, size_t k) {
    if (!p.source) return "index " + std::to_string(k + 1);
    const tc::Compilation& c = p.compilation();
    const tc::Expr& dim = c.ast[c.model.decls[b.decl].dims[k]];
    if (dim.kind == tc::ExprKind::Name) return std::string(c.ast.texts[dim.text()]);
    if (dim.at.offset < dim.end && dim.end <= c.model_text.size())
        return std::string(c.model_text.substr(dim.at.offset, dim.end - dim.at.offset));
    return "index " + std::to_string(k + 1);
}

std::string solution_report(const Program& p, const Outcome& o) {
    std::string out = std::string("Status: ") + status_word(o.status) + "\n";
    bool objective = !p.source || p.compilation().model.objective.present;
    if (o.has_solution) {
        if (objective) out += "Objective: " + number_text(o.objective, false) + "\n";
    }
    if (!o.message.empty()) out += o.message + "\n";
    if (objective && std::isfinite(o.best_bound)) {
        out += "Best bound: " + number_text(o.best_bound, false);
        if (std::isfinite(o.gap)) {
            char percent[32];
            std::snprintf(percent, sizeof percent, "%.3g", o.gap * 100);
            out += std::string(" (gap ") + percent + "%)";
        }
        out += "\n";
    }
    if (!o.culprits.empty()) {
        out += "\nThese cannot hold together:\n";
        std::vector<std::vector<std::string>> rows;
        for (const Culprit& c : o.culprits)
            rows.push_back({c.kind == Culprit::Kind::Bound ? c.name + " (bounds of its declaration)" : c.name,
                            "line " + std::to_string(c.line)});
        out += table(rows);
    }
    if (!o.has_solution) return out;

    bool omitted = false;
    for (const VariableBlock& b : p.variables) {
        if (b.count == 0) continue;
        if (b.dims.empty()) {
            out += "\n" + b.name + " = " + number_text(o.x[b.first], b.integer) + "\n";
            continue;
        }
        std::vector<std::vector<std::string>> rows;
        std::vector<std::string> header;
        for (size_t k = 0; k < b.dims.size(); ++k) header.push_back(dimension_header(p, b, k));
        header.push_back("value");
        rows.push_back(std::move(header));
        std::vector<uint64_t> position(b.dims.size(), 0);
        for (uint32_t j = 0; j < b.count; ++j) {
            double v = reported_value(o.x[b.first + j], b.integer);
            if (v != 0) {
                std::vector<std::string> row;
                for (size_t k = 0; k < b.dims.size(); ++k) row.push_back(p.key_text(b.dims[k]->at(position[k])));
                row.push_back(number_text(v, b.integer));
                rows.push_back(std::move(row));
            }
            for (size_t k = b.dims.size(); k-- > 0;) {  // the next index, last dimension fastest
                if (++position[k] < b.dims[k]->size()) break;
                position[k] = 0;
            }
        }
        if (rows.size() == 1) {
            omitted = true;
            continue;
        }
        out += "\n" + b.name + "\n" + table(rows);
    }
    if (!p.dexprs.empty()) {
        std::vector<std::vector<std::string>> rows;
        for (const DecisionExpression& d : p.dexprs)
            rows.push_back({d.name, "=", number_text(d.form.value(o.x.data()), d.integer)});
        out += "\nDecision expressions\n" + table(rows);
    }
    if (omitted) out += "\nVariables not listed are zero everywhere.\n";
    return out;
}

}  // namespace tarvok::solver
