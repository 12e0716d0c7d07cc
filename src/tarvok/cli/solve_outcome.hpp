// How `tarvok solve` ends: which exit status an outcome of the loop gives,
// and the closing line that says why when it is not success.
#pragma once

#include "cli/output.hpp"
#include "cli/what_if_report.hpp"
#include "common/exit_status.hpp"
#include "compiler/data_values.hpp"
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

/// The findings as `solve --json` lists them: each number's value, line and
/// line text and, for one taken from the description in another form, its
/// kind ("percentage" or "scaled"), the description's number and the power of ten.
data::Value findings_value(const std::vector<generative::grounding::Finding>& findings);

/// The HiGHS check a run needs before the loop starts, as the line of the
/// missing library begins: --execution-check, --what-if, then --samples;
/// nothing when none asks for a solve.
std::optional<std::string> solver_needed_for(bool execution_check, bool what_if, long long samples);

/// One line the command prints: for a reader on stdout, or on stderr.
struct ReportLine {
    std::string text;
    bool to_stderr = false;
    bool operator==(const ReportLine&) const = default;
};

/// --samples N: the share of samples that agree (as the host rounds it), how
/// many reach the voted objective, and that objective (none: no optimum).
struct ShownVote {
    std::string share;
    long long agreeing = 0, samples = 0;
    std::optional<std::string> objective;
};

/// --emit: what became of the script.
struct ShownEmit {
    int status = 0;
    std::string written;      ///< "Wrote ..." when it was written
    std::string failure;      ///< why it could not be written (status 2)
    std::string diagnostics;  ///< why the model does not compile
};

/// What `solve` shows without --json; texts as the host writes them.
struct SolveText {
    SolveFacts facts;
    std::optional<SolveStatistics> statistics;  ///< --stats
    std::string assessment;
    std::optional<ShownVote> vote;                 ///< --samples above 1
    bool with_assumptions = false;                 ///< --assumptions
    std::optional<std::string> assumptions_error;  ///< the first line of why they could not be listed
    std::optional<std::vector<ShownAssumption>> assumptions;
    std::optional<ShownTable> what_if;
    generative::grounding::Report grounding;
    std::optional<std::string> run;  ///< --run: the solve's summary, or the diagnostics
    std::optional<ShownEmit> emit;
    std::optional<std::string> final_errors;  ///< a pair that does not compile: its first report
    std::string outcome;                      ///< the closing line
};

/// The lines of `solve`'s report, in order: statistics, assessment,
/// confidence, assumptions and what-if table, grounding, the run, the
/// script, the final errors, the closing line.
std::vector<ReportLine> solve_report(const SolveText& text);

/// The alternatives' files the loop wrote beside the staged pair, moved to
/// their places beside the targets (plan.alt1.mod beside plan.mod), each
/// pair whole; and the what-if table naming those places.
struct AlternativeMove {
    std::string model_from, data_from, model_to, data_to;
    std::size_t item = 0;  ///< the alternative's place in the table
};
struct KeptAlternatives {
    std::vector<AlternativeMove> moves;
    data::Value table;

    /// The table without the files of `move`, which could not be written.
    void unwritten(const AlternativeMove& move);
};
KeptAlternatives kept_alternatives(data::Value table, const std::string& model_target, const std::string& data_target);

/// Everything `solve` reports, gathered once for either form. Values the
/// loop handed back are plain values whose scalars keep in `text` what the
/// host writes for them ("None" for none).
struct SolveReport {
    SolveFacts facts;
    ExitStatus status = ExitStatus::Success;
    std::string outcome;                ///< the closing line
    std::string model_file, data_file;  ///< the targets, absolute
    std::string model_file_given;       ///< as the user named it, which names the alternatives' files
    std::string kept_model, kept_data;  ///< where a pair that does not compile is kept ("" for a file not written)
    data::Value statistics;             ///< iterations, syntax_errors, assessment, solver_status, objective
    data::Value syntax_errors;          ///< the final pair's reports
    std::string assessment;
    bool stats = false;  ///< --stats
    bool with_assumptions = false, what_if = false;
    long long what_if_max = 0;
    data::Value assumptions, assumptions_error;  ///< as the loop listed them
    data::Value what_if_table;                   ///< its alternatives' files beside the targets
    generative::grounding::Report grounding;
    std::optional<ShownVote> vote;  ///< --samples above 1
    double confidence = 0;
    std::optional<double> voted;  ///< the objective the vote chose
    /// --run: the solve's dictionary (null when nothing was solved) and its summary or diagnostics.
    std::optional<data::Value> run_json;
    std::optional<std::string> run;
    /// --emit: the paths written (null when none were) and what became of the script.
    std::optional<data::Value> emitted;
    std::optional<ShownEmit> emit;
};

/// The lines `solve` prints without --json.
std::vector<ReportLine> solve_report(const SolveReport& report);

/// The object `solve --json` prints; `warnings` gets the lines that follow it on stderr.
data::Value solve_json(const SolveReport& report, std::vector<std::string>& warnings);

/// The report on `out`, as JSON with `json`; the exit status.
int show_solve(const Output& out, const SolveReport& report, bool json);

}  // namespace tarvok::cli
