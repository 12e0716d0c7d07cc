#include "solver/mps.hpp"

#include <charconv>
#include <cmath>
#include <unordered_set>

namespace tarvok::solver {

namespace {

/// The shortest text that reads back as exactly `v`.
void append_number(std::string& out, double v) {
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v + 0.0);
    out.append(buffer, end);
}

void append_entry(std::string& out, const std::string& first, const std::string& second, double v) {
    out += ' ';
    out += first;
    out += ' ';
    out += second;
    out += ' ';
    append_number(out, v);
    out += '\n';
}

void append_bound(std::string& out, const char* kind, const std::string& column, double v) {
    out += ' ';
    out += kind;
    out += " BND ";
    out += column;
    if (!std::isnan(v)) {
        out += ' ';
        append_number(out, v);
    }
    out += '\n';
}

}  // namespace

std::string unwritable_reason(const Program& p) {
    if (p.conflicts.empty()) return "";
    std::string out = "the program cannot hold whatever the variables are: ";
    for (size_t k = 0; k < p.conflicts.size(); ++k) {
        const Culprit& c = p.conflicts[k];
        out += (k ? ", " : "") + c.name + (c.kind == Culprit::Kind::Bound ? " (bounds of its declaration" : " (") +
               (c.kind == Culprit::Kind::Bound ? ", line " : "line ") + std::to_string(c.line) + ")";
    }
    return out;
}

std::string mps_text(const Program& p) {
    std::vector<std::string> columns = p.export_column_names(NameFormat::Mps);
    std::vector<std::string> rows = p.export_row_names(NameFormat::Mps);
    std::unordered_set<std::string> taken(rows.begin(), rows.end());
    std::string objective = "OBJ";
    for (int k = 2; taken.count(objective); ++k) objective = "OBJ~" + std::to_string(k);

    std::string out = "NAME tarvok\n";
    if (p.sense == Sense::Maximize) out += "OBJSENSE\n    MAX\n";
    out += "ROWS\n N " + objective + "\n";
    // A range row's sides as one side and a positive range; the side is the
    // one from which the other comes back exactly where there is a choice.
    std::vector<double> range(p.rows(), 0), rhs(p.rows(), 0);
    for (uint32_t i = 0; i < p.rows(); ++i) {
        double lo = p.row_lower[i], hi = p.row_upper[i];
        const char* type = "N";
        if (lo == hi) {
            type = "E";
            rhs[i] = lo;
        } else if (std::isfinite(lo) && std::isfinite(hi)) {
            range[i] = hi - lo;
            bool from_upper = lo + range[i] != hi && hi - range[i] == lo;
            type = from_upper ? "L" : "G";
            rhs[i] = from_upper ? hi : lo;
        } else if (std::isfinite(lo)) {
            type = "G";
            rhs[i] = lo;
        } else if (std::isfinite(hi)) {
            type = "L";
            rhs[i] = hi;
        }
        out += ' ';
        out += type;
        out += ' ';
        out += rows[i];
        out += '\n';
    }

    out += "COLUMNS\n";
    CscMatrix m = p.csc();
    bool in_integers = false;
    int markers = 0;
    for (uint32_t j = 0; j < p.columns(); ++j) {
        bool integer = p.integrality[j] != 0;
        if (integer != in_integers) {
            out += " MARKER" + std::to_string(markers++) + " 'MARKER' " + (integer ? "'INTORG'\n" : "'INTEND'\n");
            in_integers = integer;
        }
        bool entries = p.cost[j] != 0 || m.starts[j] < m.starts[j + 1];
        if (p.cost[j] != 0 || !entries) append_entry(out, columns[j], objective, p.cost[j]);
        for (int32_t k = m.starts[j]; k < m.starts[j + 1]; ++k)
            append_entry(out, columns[j], rows[m.rows[k]], m.values[k]);
    }
    if (in_integers) out += " MARKER" + std::to_string(markers++) + " 'MARKER' 'INTEND'\n";

    out += "RHS\n";
    // The objective's constant is the negated right-hand side of its row.
    if (p.offset != 0) append_entry(out, "RHS", objective, -p.offset);
    for (uint32_t i = 0; i < p.rows(); ++i)
        if (rhs[i] != 0) append_entry(out, "RHS", rows[i], rhs[i]);
    bool any_range = false;
    for (uint32_t i = 0; i < p.rows() && !any_range; ++i) any_range = range[i] != 0;
    if (any_range) {
        out += "RANGES\n";
        for (uint32_t i = 0; i < p.rows(); ++i)
            if (range[i] != 0) append_entry(out, "RNG", rows[i], range[i]);
    }

    out += "BOUNDS\n";
    for (uint32_t j = 0; j < p.columns(); ++j) {
        double lo = p.col_lower[j], hi = p.col_upper[j];
        const std::string& name = columns[j];
        if (lo == hi) {
            append_bound(out, "FX", name, lo);
        } else if (!std::isfinite(lo) && !std::isfinite(hi)) {
            append_bound(out, "FR", name, NAN);
        } else {
            if (std::isfinite(lo))
                append_bound(out, "LO", name, lo);
            else
                append_bound(out, "MI", name, NAN);
            if (std::isfinite(hi))
                append_bound(out, "UP", name, hi);
            else
                append_bound(out, "PL", name, NAN);
        }
    }
    out += "ENDATA\n";
    return out;
}

}  // namespace tarvok::solver
