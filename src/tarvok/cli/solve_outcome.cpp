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

}  // namespace tarvok::cli
