// How `tarvok solve` ends: which exit status an outcome of the loop gives,
// and the closing line that says why when it is not success.
#pragma once

#include "common/exit_status.hpp"
#include "generative/grounding.hpp"

#include <optional>
#include <string>
#include <vector>

namespace tarvok::cli {

/// What the loop left, as the command judges it.
struct SolveFacts {
    bool compiled = false;
    bool execution_check = false;  ///< --execution-check was asked for
    std::string solver_status;     ///< the execution check's last status ("" when none)
    bool alignment = false;        ///< alignment was checked
    bool aligned = false;
};

/// A final model that the execution check still found infeasible or unbounded (or that failed it).
bool unsolvable(const SolveFacts& facts);

/// Not compiling, then unsolvable, then not aligned: the first that holds gives the status.
ExitStatus loop_status(const SolveFacts& facts);

/// A run that did not end optimal says more than the script's fate, and both more than alignment.
ExitStatus with_run_and_emit(ExitStatus loop, std::optional<int> run_status, std::optional<int> emit_status);

/// Where the files are, as the closing line names them.
struct SolvePlaces {
    std::string model_file, data_file;  ///< the targets, as given
    bool existed = false;               ///< a target existed before the run
    std::string kept;                   ///< where a failed pair was kept
    std::string placed;                 ///< where a compiling pair was placed
};

/// The closing line of a run that did not succeed, without "tarvok: "; "" when there is none.
std::string closing_line(const SolveFacts& facts, const SolvePlaces& places);

/// What --stats prints before the assessment; texts as the host writes them.
struct SolveStatistics {
    std::string iterations;
    std::vector<std::string> syntax_errors;
    std::string solver_status, objective;  ///< of the execution check, when it ran
    std::string model_file, data_file;     ///< where the final pair is (or was kept)
};

/// The --stats lines, ending with an empty one.
std::vector<std::string> statistics_lines(const SolveFacts& facts, const SolveStatistics& stats);

/// The grounding report under the assessment: numbers the LLM supplied, then
/// those it took from the description in another form; each block after an
/// empty line. With the assumptions step the first are among its assumptions.
std::vector<std::string> grounding_lines(const generative::grounding::Report& report, bool with_assumptions);

}  // namespace tarvok::cli
