#include "cli/what_if_report.hpp"

namespace tarvok::cli {

std::vector<std::string> assumption_lines(const std::vector<ShownAssumption>& assumptions) {
    std::vector<std::string> out;
    std::size_t n = 0;
    for (const ShownAssumption& a : assumptions) {
        out.push_back("  " + std::to_string(++n) + ". [" + a.kind + "] " + a.assumption);
        if (!a.where.empty()) out.push_back("     where: " + a.where);
        if (!a.alternative.empty()) out.push_back("     instead: " + a.alternative);
    }
    return out;
}

std::string reading_text(const ShownReading& reading) {
    if (reading.status.empty()) return "not solved";
    if (reading.objective.empty() && reading.answer.empty()) return "none (" + reading.status + ")";
    std::string text =
        reading.answer.empty() ? reading.objective : reading.answer + " (objective " + reading.objective + ")";
    if (reading.status != "optimal") text += " (" + reading.status + ")";
    return text;
}

std::vector<std::string> what_if_lines(const ShownTable& table) {
    std::vector<std::string> out = {"  as modelled, the answer is " + reading_text(table.main)};
    std::size_t n = 0;
    for (const ShownAlternative& alt : table.alternatives) {
        std::string line = "  " + std::to_string(++n) + ". if instead " + alt.alternative + ", ";
        if (alt.compiled) {
            line += "the answer is " + reading_text(alt.reading);
            if (alt.same_answer) line += ", same answer";
        } else {
            line +=
                "no answer: " + (alt.error.empty() ? std::string("the alternative model does not compile") : alt.error);
        }
        if (!alt.model_file.empty()) line += " [" + alt.model_file + "]";
        out.push_back(line);
    }
    if (table.unexplored > 0) {
        out.push_back("  " + std::to_string(table.unexplored) +
                      (table.unexplored == 1 ? " alternative" : " alternatives") + " not explored (--what-if-max " +
                      std::to_string(table.budget) + ")");
    }
    return out;
}

}  // namespace tarvok::cli
