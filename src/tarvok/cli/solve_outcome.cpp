#include "cli/solve_outcome.hpp"

namespace tarvok::cli {

bool unsolvable(const SolveFacts& f) {
    const std::string& s = f.solver_status;
    return f.execution_check && f.compiled &&
           (s == "infeasible" || s == "unbounded" || s == "infeasible_or_unbounded" || s == "error");
}

ExitStatus loop_status(const SolveFacts& f) {
    if (!f.compiled) return ExitStatus::DoesNotCompile;
    if (unsolvable(f)) return ExitStatus::NotOptimal;
    if (f.alignment && !f.aligned) return ExitStatus::NotAligned;
    return ExitStatus::Success;
}

ExitStatus with_run_and_emit(ExitStatus loop, std::optional<int> run_status, std::optional<int> emit_status) {
    if (run_status && *run_status != 0) return static_cast<ExitStatus>(*run_status);
    if (emit_status && *emit_status != 0) return static_cast<ExitStatus>(*emit_status);
    return loop;
}

std::string closing_line(const SolveFacts& f, const SolvePlaces& p) {
    if (!f.compiled)
        return "the final model does not compile; " + p.model_file + " and " + p.data_file +
               (p.existed ? " are unchanged" : " were not written") + "; the last attempt is in " + p.kept;
    if (unsolvable(f))
        return "the final model compiles but the execution check found it " + f.solver_status + "; it is in " +
               p.placed;
    if (f.alignment && !f.aligned)
        return "the model compiles but was never judged aligned with the description; it is in " + p.placed;
    return "";
}

std::vector<std::string> statistics_lines(const SolveFacts& f, const SolveStatistics& stats) {
    std::vector<std::string> lines{"iterations: " + stats.iterations,
                                   "syntax errors: " + std::to_string(stats.syntax_errors.size())};
    lines.insert(lines.end(), stats.syntax_errors.begin(), stats.syntax_errors.end());
    lines.push_back(std::string("compiled: ") + (f.compiled ? "yes" : "no"));
    if (f.execution_check) {
        lines.push_back("solver status: " + stats.solver_status);
        lines.push_back("objective: " + stats.objective);
    }
    lines.push_back(std::string("aligned: ") + (!f.alignment ? "not checked" : f.aligned ? "yes" : "no"));
    lines.push_back("model: " + stats.model_file);
    lines.push_back("data: " + stats.data_file);
    lines.push_back("");
    return lines;
}

std::vector<std::string> grounding_lines(const generative::grounding::Report& report, bool with_assumptions) {
    namespace grounding = generative::grounding;
    std::vector<std::string> lines;
    auto block = [&](const char* heading, const std::vector<grounding::Finding>& findings) {
        lines.push_back("");
        lines.push_back(heading);
        for (const grounding::Finding& f : findings) lines.push_back("  " + grounding::finding_text(f));
    };
    if (!report.assumptions.empty() && !with_assumptions)
        block("Assumptions (numbers of the data file that the description does not give):", report.assumptions);
    if (!report.conversions.empty()) block("Numbers of the description in another form:", report.conversions);
    return lines;
}

}  // namespace tarvok::cli
