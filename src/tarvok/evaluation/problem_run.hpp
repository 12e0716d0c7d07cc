// One problem of an evaluation run, start to end, apart from the host that
// generates it: the steps of one generation in their order (the loop, the
// assumptions of the data it wrote, the final model's solve and its log
// line, what the loop raised kept in the record), the samples voted on, and
// the time it all took. The host runs each step and says what one raised.
#pragma once

#include "evaluation/record_map.hpp"
#include "evaluation/runner.hpp"
#include "evaluation/settings.hpp"

#include <string>
#include <vector>

namespace tarvok::evaluation {

/// What a generation raised, as the host tells it.
struct GenerationError {
    std::string text;             ///< "TypeName: message", with the keys hidden
    bool provider_error = false;  ///< it says the provider was down, slow or unreachable
};

/// The final model's status and objective as the host writes them.
struct FinalSolve {
    std::string status, objective;
};

/// The host's side of one problem: the steps of a generation, each in the
/// folder that enter() made last.
class ProblemHost {
  public:
    virtual ~ProblemHost() = default;
    /// A sample's folder (see sample_folder) made, without the conversation
    /// of an earlier generation there.
    virtual void enter(const std::string& folder) = 0;
    /// The generation loop, its counts read into `record`; whether it wrote a model.
    virtual bool generate(Record& record) = 0;
    /// The numbers of the generated data file that the description does not give.
    virtual std::vector<Assumption> assumptions() = 0;
    /// The final model solved: its status and objective into `record`, and
    /// with `readings` its answer and the readings the assumptions step listed.
    virtual FinalSolve solve(Record& record, bool readings) = 0;
    /// The what-if table of the last solve with readings (none otherwise).
    virtual std::optional<WhatIfTable> what_if_table() = 0;
    /// One line of the problem's log; the run's stop throws from here.
    virtual void progress(const std::string& line) = 0;
    virtual std::string problem_id() = 0;
    /// What is being thrown, called while it is handled; anything but the
    /// host's ordinary error is thrown on from here.
    virtual GenerationError caught() = 0;
};

struct ProblemOptions {
    long long samples = 1;  ///< generations voted on (at least one runs)
    double rel_tol = 1e-4;  ///< of the vote
    bool readings = false;  ///< the assumptions step runs
};

/// The record of one generation in the folder entered; what the loop or
/// the solve raises is kept in it.
Record generation_record(ProblemHost& host, const std::string& folder, const ProblemOptions& options);

/// The problem's record: its samples (see run_samples), voted on when more
/// than one, with the seconds they took.
Record problem_record(ProblemHost& host, const ProblemOptions& options);

}  // namespace tarvok::evaluation
