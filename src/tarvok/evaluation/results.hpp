// The outcome of each problem as results.jsonl holds it, what a resumed run
// finds there, whether an answer is correct, and the summary of a run.
#pragma once

#include "evaluation/dataset.hpp"

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::evaluation {

/// What decides the answers of a run: records made under another key are
/// not answers of this run.
struct RunKey {
    std::string provider, model;
    long long iterations = 0;
    bool execution_check = false;
    bool alignment = true;  ///< the alignment check (written only when off: older records had it on)
    long long samples = 1;  ///< generations voted on per problem (written only when more than one)
    /// The assumptions step, its what-if answers and their cap, and the
    /// solver of every solve; each written only when not the default, so that
    /// records made before they were kept resume a run with the defaults.
    bool assumptions = false, what_if = false;
    long long what_if_max = 3;  ///< counts only with what_if (kept at 3 without it)
    std::string solver = "highs";
    bool operator==(const RunKey&) const = default;
};

/// A number of the data file that the description does not give.
struct Assumption {
    std::string value;      ///< as the data file writes it
    std::size_t line = 0;   ///< its line in the data file
    std::string line_text;  ///< that line, trimmed
};

/// An assumption the assumptions step listed and, when the what-if step
/// explored it, the answer under its alternative reading.
struct Reading {
    std::string assumption, alternative, where, kind;
    bool explored = false;
    std::optional<std::string> status;  ///< the alternative's solve; none when it gave no model or did not compile
    std::optional<double> objective, answer;
    bool matches = false;  ///< its answer (else objective) equals the reference (judged with the record)
};

/// One solve of the what-if table as a record keeps it.
struct TableReading {
    long long index =
        0;  ///< the alternative's number (its files' .altN), the listed reading's 1-based place; 0 for the main one
    std::string alternative;            ///< the reading it solves ("" for the main one)
    std::optional<std::string> status;  ///< none when it gave no model or did not compile
    std::optional<double> objective, answer;
    std::optional<std::string> model_file, data_file;  ///< relative to the run's folder; none when not written
    bool same_answer = false;                          ///< it answers as the main reading does
    bool matches = false;  ///< its answer (else objective) equals the reference (judged with the record)
};

/// The main answer and each explored alternative's, those that change the
/// answer first, as the what-if step left them.
struct WhatIfTable {
    TableReading main;
    std::vector<TableReading> alternatives;
    long long unexplored = 0;  ///< listed alternatives the request budget left out
};

/// The alternatives of `table` that give an answer other than the main one.
std::size_t changing_readings(const WhatIfTable& table);

/// One finished problem.
struct Record {
    std::string id;
    long long repeat = 1;       ///< which run of the problem
    std::string problem_class;  ///< the data set's class of the problem ("" for none)
    std::optional<double> expected;
    std::optional<double> objective;
    std::optional<std::string> status;  ///< the solver's status word; none when the final model was not solved
    bool correct = false;
    std::optional<bool> compiled;  ///< whether the final model compiles; none when the run raised
    std::optional<long long> iterations;
    std::vector<std::string> compile_errors;  ///< of the last iteration
    double seconds = 0;
    std::optional<std::string> error;  ///< what the run raised, if it raised
    /// What it raised says the provider was down, slow or unreachable: no
    /// answer, so a later run tries the problem again.
    bool provider_error = false;
    /// The hash of the question it answered and the run it was made in; none
    /// in records written before they were kept.
    std::optional<std::string> question_hash;
    std::optional<RunKey> run;
    /// Requests to the LLM and, of those, the ones that revised a pair
    /// (repair, realign, execution); none in records written before they were kept.
    std::optional<long long> llm_calls, repair_rounds;
    std::optional<long long> tokens_in, tokens_out;  ///< summed where the provider reported them
    /// The data file's numbers the description does not give; none when no
    /// data file was generated or the record predates the report.
    std::optional<std::vector<Assumption>> assumptions;
    /// Generations voted on, which of them gave the answer, and the share
    /// that reached its objective; kept when more than one.
    long long samples = 1, sample = 1;
    std::optional<double> confidence;
    /// The final model's decision expression `answer`: the quantity the
    /// question asks for, judged in place of the objective when present.
    std::optional<double> answer;
    /// What the assumptions step listed, with the what-if answers; none when
    /// the step was not taken.
    std::optional<std::vector<Reading>> readings;
    /// The what-if table; none when the what-if step was not taken.
    std::optional<WhatIfTable> what_if;

    std::string key() const { return record_key(id, repeat); }
};

/// Judges the record against its `expected`: the answer when there is one,
/// else the objective; each explored reading likewise.
void judge(Record& record, double rel_tol);

/// Whether the reference equals the main answer or one of the what-if
/// answers: the right answer was among the readings shown.
bool right_among_readings(const Record& record);

/// "correct", "wrong", "no_reference" (nothing to judge against) or "error"
/// (the run raised).
std::string verdict(const Record& record);

/// The record as one line of results.jsonl (with its line feed). Keys in
/// this order: id, repeat (when above 1), class (when there is one), expected (the reference it was judged against),
/// objective, status, correct, compiled, iterations, compile_errors, seconds,
/// error, provider_error, verdict, then question_sha256, run, llm_calls,
/// repair_rounds, tokens_in, tokens_out, assumptions, answer,
/// listed_assumptions (the readings, an explored one with its status,
/// objective, answer and match), right_among_readings and what_if (main and
/// alternatives: index, alternative, status, objective, answer, files,
/// same_answer, matches; unexplored) when the record has them.
std::string record_line(const Record& record);

/// What an existing results.jsonl holds.
struct RecordedResults {
    std::map<std::string, Record> by_id;  ///< the last record of each id (and repeat: Record::key)
    std::size_t unreadable = 0;           ///< lines that are not a record (a run killed while writing one)
    bool ends_in_newline = true;          ///< false when the last line was cut off
};

/// Reads results.jsonl as a resumed run needs it.
RecordedResults read_results(std::string_view text);

/// Correct when the solve ended optimal and the objective is within
/// rel_tol * max(1, |expected|) of the reference.
bool is_correct(const std::optional<std::string>& status, std::optional<double> objective,
                std::optional<double> expected, double rel_tol);

/// The problems that have no record yet, in data-set order.
std::vector<const Problem*> pending(const std::vector<Problem>& problems, const std::map<std::string, Record>& by_id);

/// What a run does with the records it finds.
struct ResumePlan {
    /// Records reused for this run's problems, judged again against the
    /// current reference and tolerance.
    std::map<std::string, Record> reused;
    std::vector<std::string> rejudged;  ///< ids of reused records whose judgement changed
    std::vector<const Problem*> todo;   ///< problems to run, in data-set order
    std::size_t rerun = 0;              ///< of those, problems whose record could not be reused
    std::size_t retried = 0;            ///< of those, problems whose record was a provider error
    /// What differs, when a record was made under another run key ("model
    /// 'a' instead of 'b'"); such a run is refused unless forced.
    std::optional<std::string> conflict;
};

/// Which records a run reuses: a record whose question hash differs from
/// the problem's, or (forced) that was made under another run key, is not
/// reused and its problem runs again; a record without those fields (an
/// older file) is reused. A record of a provider error is no answer: its
/// problem runs again unless `retry_errors` is false. Every reused record is
/// judged again.
ResumePlan plan_resume(const std::vector<Problem>& problems, const std::map<std::string, Record>& by_id,
                       const RunKey& run, double rel_tol, bool force, bool retry_errors = true);

/// Correct answers among the problems that have a reference.
struct Share {
    std::size_t total = 0, correct = 0;
    double accuracy() const { return total ? static_cast<double>(correct) / static_cast<double>(total) : 0.0; }
};

struct Summary {
    std::size_t total = 0;      ///< problem runs: problems in the data set (after --limit) times the repeats
    std::size_t attempted = 0;  ///< of those, runs with a record
    std::size_t correct = 0;
    double accuracy = 0;                     ///< correct / runs with a reference
    std::size_t repeats = 1;                 ///< runs of each problem
    std::vector<double> accuracy_by_repeat;  ///< when repeated
    std::optional<double> accuracy_std;      ///< sample standard deviation over the repeats, when repeated
    std::map<std::string, Share> by_class;   ///< by the data set's class, when it gives any
    /// By how the samples agreed ("all_agree", "majority", "split"), when voted.
    std::map<std::string, Share> by_agreement;
    /// Runs whose data file has numbers the description does not give, or
    /// none (the grounding report; not the listed assumptions).
    Share with_assumptions, without_assumptions;
    /// Runs whose assumptions were listed: how often the reference was the
    /// main answer or one of the what-if answers.
    Share among_readings;
    /// Runs with a what-if table, and their alternatives that change the answer.
    std::size_t what_if_runs = 0, changing_readings = 0;
    std::optional<double> execution_rate;  ///< runs whose final model solved to optimality / attempted
    std::optional<double> mean_llm_calls, mean_repair_rounds;  ///< over records that count them
    std::optional<long long> tokens_in, tokens_out;            ///< summed where reported
    std::size_t compiled = 0;                                  ///< final model compiles
    std::size_t solved = 0;                                    ///< final model solved to optimality
    std::size_t errors = 0;                                    ///< runs that raised
    std::size_t provider_errors = 0;        ///< of those, runs the provider failed (down, slow, unreachable)
    std::size_t without_reference = 0;      ///< runs whose problem has no usable reference ("no_reference")
    std::size_t skipped_records = 0;        ///< data-set records that were not usable
    std::size_t rerun = 0;                  ///< problems run again: their record was for another question or run
    std::size_t retried = 0;                ///< problems run again: their record was a provider error
    std::optional<double> mean_iterations;  ///< over records with an iteration count
    std::optional<double> mean_seconds;     ///< over records
};

Summary summarize(const std::vector<Problem>& problems, const std::map<std::string, Record>& by_id,
                  std::size_t skipped_records, std::size_t rerun = 0, std::size_t retried = 0);

/// Whether the first records of a run, in the order they finished, are all
/// provider errors and there are `limit` of them (0: never): the provider is
/// down, and going on would only record more errors.
bool provider_is_down(const std::vector<Record>& first_finished, std::size_t limit);

/// How the run was made, written beside the figures.
struct RunSettings {
    std::string dataset, provider, model;
    long long iterations = 0;
    bool execution_check = false;
    double rel_tol = 1e-4;
};

/// The summary object (summary.json and `--json`), pretty-printed.
std::string summary_json(const Summary& summary, const RunSettings& settings);

/// The table printed at the end of a run: one row per problem in data-set
/// order (problems without a record show as not run), then the figures.
std::string results_table(const std::vector<Problem>& problems, const std::map<std::string, Record>& by_id,
                          const Summary& summary);

}  // namespace tarvok::evaluation
