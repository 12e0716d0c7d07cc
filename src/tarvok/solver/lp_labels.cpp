#include "solver/lp_labels.hpp"

#include <fstream>
#include <system_error>

namespace tarvok::solver {

namespace {

/// `text` on one line: a line break or other control character in a name
/// would end the comment and let the rest be read as the model.
std::string one_line(std::string text) {
    for (char& ch : text)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f) ch = '_';
    return text;
}

}  // namespace

LpLabels lp_labels(const Program& p, const std::vector<std::string>& column_names) {
    LpLabels labels;
    if (!p.source) return labels;
    const tc::Compilation& c = p.compilation();
    // A label is an identifier, which every LP reader takes as a name.
    if (c.model.objective.present && c.model.objective.label != kNone)
        labels.objective = std::string(c.ast.texts[c.model.objective.label]);
    auto note = [&](uint32_t column, const std::vector<uint32_t>& sources, const char* side) {
        if (column >= sources.size() || sources[column] == kNone) return;
        const InstanceRef& ref = p.folded[sources[column]].origin;
        labels.bound_comments.push_back("\\ " + one_line(column_names[column]) + ": " + side + " bound from " +
                                        one_line(p.instance_name(ref)) + " (line " +
                                        std::to_string(p.instance_line(ref)) + ")");
    };
    for (uint32_t j = 0; j < p.columns(); ++j) {
        note(j, p.lower_source, "lower");
        note(j, p.upper_source, "upper");
    }
    return labels;
}

bool label_lp_file(const std::filesystem::path& file, const LpLabels& labels) {
    std::error_code error;
    if (labels.objective.empty() && labels.bound_comments.empty()) return true;
    if (!std::filesystem::is_regular_file(file, error)) return true;
    std::filesystem::path labelled = file;
    labelled += ".labels";
    {
        std::ifstream in(file, std::ios::binary);
        std::ofstream out(labelled, std::ios::binary | std::ios::trunc);
        if (!in || !out) return false;
        std::string line;
        bool first = true, objective_named = labels.objective.empty();
        // The objective is the line after the sense; rows follow "st".
        while (std::getline(in, line)) {
            bool ended = !in.eof();
            if (!objective_named && line.rfind(" obj:", 0) == 0) {
                line = " " + labels.objective + ":" + line.substr(5);
                objective_named = true;
            }
            out << line;
            if (ended) out << '\n';
            if (first) {
                first = false;
                if (!labels.bound_comments.empty()) {
                    out << "\\ Constraints that became bounds of one column:\n";
                    for (const std::string& comment : labels.bound_comments) out << comment << '\n';
                }
            }
            if (objective_named || line == "st" || line == "subject to") break;
        }
        if (in.bad()) return false;
        if (!in.eof()) out << in.rdbuf();  // the rest as it is
        out.flush();
        if (!out) {
            out.close();
            std::filesystem::remove(labelled, error);
            return false;
        }
    }
    std::filesystem::rename(labelled, file, error);
    if (error) std::filesystem::remove(labelled, error);
    return !error;
}

}  // namespace tarvok::solver
