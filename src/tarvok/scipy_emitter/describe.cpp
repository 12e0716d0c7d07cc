#include "scipy_emitter/describe.hpp"

#include <algorithm>

namespace tarvok::scipy_emitter {

namespace tc = tarvok::compiler;

namespace {

bool is_space(char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == '\f' || ch == '\v'; }

/// text[begin, end) on one line: white space runs made single spaces, cut
/// (at a character boundary) to `max_length` bytes.
std::string excerpt(std::string_view text, size_t begin, size_t end, size_t max_length) {
    end = std::min(end, text.size());
    std::string out;
    for (size_t k = begin; k < end; ++k) {
        if (is_space(text[k])) {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += text[k];
        }
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    if (out.size() > max_length) {
        size_t cut = max_length;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
        out = out.substr(0, cut) + "...";
    }
    return out;
}

std::string at_line(uint32_t line) { return "model line " + std::to_string(line); }

}  // namespace

std::string source_line(std::string_view text, size_t offset, size_t max_length) {
    offset = std::min(offset, text.size());
    size_t begin = offset;
    while (begin > 0 && text[begin - 1] != '\n') --begin;
    size_t end = text.find('\n', offset);
    return excerpt(text, begin, end == std::string_view::npos ? text.size() : end, max_length);
}

std::vector<std::string> opening_comment(std::string_view text, size_t max_lines) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size() && is_space(text[pos])) ++pos;
    if (text.substr(pos, 2) == "/*") {
        size_t close = text.find("*/", pos + 2);
        std::string_view body =
            text.substr(pos + 2, close == std::string_view::npos ? std::string_view::npos : close - pos - 2);
        while (!body.empty() && out.size() < max_lines) {
            size_t end = body.find('\n');
            std::string_view line = body.substr(0, end);
            body = end == std::string_view::npos ? std::string_view() : body.substr(end + 1);
            size_t first = line.find_first_not_of(" \t\r");
            if (first != std::string_view::npos && line[first] == '*') line.remove_prefix(first + 1);  // " * text"
            out.push_back(excerpt(line, 0, line.size(), 200));
        }
    } else {
        while (pos < text.size() && out.size() < max_lines) {
            size_t end = text.find('\n', pos);
            std::string_view line =
                text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
            size_t first = line.find_first_not_of(" \t\r");
            if (first == std::string_view::npos || line.substr(first, 2) != "//") break;
            line.remove_prefix(first + 2);
            out.push_back(excerpt(line, 0, line.size(), 200));
            if (end == std::string_view::npos) break;
            pos = end + 1;
        }
    }
    while (!out.empty() && out.front().empty()) out.erase(out.begin());
    while (!out.empty() && out.back().empty()) out.pop_back();
    return out;
}

void describe_program(const solver::Program& p, ScriptInput& in) {
    const tc::Compilation& c = p.compilation();
    std::string_view model = c.model_text;
    in.preamble = opening_comment(model);
    in.folded_bounds = p.folded_bounds;
    for (const solver::Culprit& culprit : p.conflicts)
        in.conflicts.push_back(culprit.name + " (" + at_line(culprit.line) + ")");

    const tc::Objective& objective = c.model.objective;
    in.has_objective = objective.present;
    if (objective.present) {
        in.objective_note = objective.label != tc::kNone ? std::string(c.ast.texts[objective.label]) + " " : "";
        in.objective_note += "(" + at_line(objective.at.line) + ")";
    }

    for (const solver::VariableBlock& b : p.variables) {
        ReportedVariable v;
        v.name = b.name;
        v.first = b.first;
        v.integer = b.integer;
        for (const auto& dim : b.dims) v.shape.push_back(dim->size());
        in.variables.push_back(std::move(v));
        const tc::Declaration& d = c.model.decls[b.decl];
        in.family_notes[b.name] =
            b.name + ", " + at_line(d.start.line) + ": " + excerpt(model, d.start.offset, d.end, 160);
    }
    for (const solver::DecisionExpression& x : p.dexprs) {
        ReportedExpression e;
        e.name = x.name;
        e.columns.assign(x.form.columns.begin(), x.form.columns.end());
        e.coefficients = x.form.coefficients;
        e.constant = x.form.constant;
        e.integer = x.integer;
        in.dexprs.push_back(std::move(e));
    }
    for (uint32_t k = 0; k < c.model.constraints.size(); ++k) {
        const tc::Constraint& constraint = c.model.constraints[k];
        const tc::Location& at = constraint.label != tc::kNone ? constraint.label_at : constraint.at;
        const std::string& name = p.constraint_base_name(k);
        in.family_notes.emplace(name, name + ", " + at_line(at.line) + ": " + source_line(model, at.offset));
    }
}

}  // namespace tarvok::scipy_emitter
