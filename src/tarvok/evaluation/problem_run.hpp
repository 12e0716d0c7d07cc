// One problem of an evaluation run, start to end, apart from the host that
// generates it: the folders of its samples made its own, the steps of one
// generation in their order (the loop, the assumptions of the data it wrote,
// the final model's solve and its log line, what the loop raised kept in the
// record), the samples voted on, and the time it all took. The host runs the
// loop and the solve, and keeps the problem's log.
#pragma once

#include "evaluation/record_map.hpp"
#include "evaluation/runner.hpp"
#include "evaluation/settings.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarvok::evaluation {

/// What the loop or the solve raised that a record keeps, as the host
/// throws it; anything else the host raises goes on past the record.
struct GenerationFailed {
    std::string text;             ///< "TypeName: message", with the keys hidden
    bool provider_error = false;  ///< it says the provider was down, slow or unreachable
};

/// The final model's status and objective as the host writes them, and with
/// readings the what-if table of that solve (its files relative to the run's
/// folder).
struct FinalSolve {
    std::string status, objective;
    std::optional<WhatIfTable> what_if;
};

/// The host's side of one problem: the loop, the solve and the log.
class ProblemHost {
  public:
    virtual ~ProblemHost() = default;
    /// The generation loop into `folder`, its counts read into `record`:
    /// the text of the data file when it wrote a model.
    virtual std::optional<std::string> generate(const std::filesystem::path& folder, Record& record) = 0;
    /// The final model solved: its status and objective into `record`, and
    /// with `readings` its answer and the readings the assumptions step listed.
    virtual FinalSolve solve(Record& record, bool readings) = 0;
    /// One line of the problem's log; the run's stop throws from here.
    virtual void progress(const std::string& line) = 0;
};

struct ProblemOptions {
    std::string id, description;
    std::filesystem::path folder;  ///< the problem's own (see problem_folder), made already
    long long samples = 1;         ///< generations voted on (at least one runs)
    double rel_tol = 1e-4;         ///< of the vote
    bool readings = false;         ///< the assumptions step runs
};

/// The numbers of a generated data file that the description does not give.
std::vector<Assumption> assumptions_of(const std::string& description, const std::string& data);

/// The record of one generation into sample folder `sample` (see
/// sample_folder); what the loop or the solve raises is kept in it.
Record generation_record(ProblemHost& host, const std::string& sample, const ProblemOptions& options);

/// The problem's record: its samples, stopping at the first provider error
/// (no use going on), voted on when more than one, with the seconds they took.
Record problem_record(ProblemHost& host, const ProblemOptions& options);

}  // namespace tarvok::evaluation
