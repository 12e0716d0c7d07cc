// One problem of an evaluation run, start to end, apart from the host that
// generates it: the folders of its samples made its own, the steps of one
// generation in their order (the loop, the assumptions of the data it wrote,
// the final model's solve and its log line, what the loop raised kept in the
// record), the samples voted on, the problem's log, and the time it all
// took. The host runs the loop and the solve.
#pragma once

#include "evaluation/folder.hpp"
#include "evaluation/record_map.hpp"
#include "evaluation/runner.hpp"
#include "evaluation/settings.hpp"
#include "evaluation/work_queue.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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

/// What one generation gave: the text of the data file when the loop wrote
/// a model, and the final model's solve when it compiled.
struct Generated {
    std::optional<std::string> data;
    std::optional<FinalSolve> solved;
};

/// The generation loop, which is outside (the loop runs in the host and may
/// be replaced there): one generation into `folder`, its counts read into
/// `record` and its data into `made`, then, when it compiled, the final
/// model solved (its status and objective into `record`, and with
/// `readings` its answer and the readings the assumptions step listed).
/// Throws GenerationFailed; what it made until then stays.
class Generation {
  public:
    virtual ~Generation() = default;
    virtual void generate(const std::filesystem::path& folder, Record& record, bool readings, Generated& made) = 0;
};

/// A problem's log (progress.log, made empty): the loop's lines and the
/// run's own. Once the run stops, the next line throws Interrupted, which
/// ends the problem at its next step.
class ProblemLog {
  public:
    ProblemLog(const std::filesystem::path& file, std::shared_ptr<const WorkQueue> run)
        : file_(file, AppendedFile::Kind::Log), run_(std::move(run)) {}
    void line(std::string_view text);

  private:
    AppendedFile file_;
    std::shared_ptr<const WorkQueue> run_;  ///< none: a problem run alone
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
Record generation_record(Generation& loop, ProblemLog& log, const std::string& sample, const ProblemOptions& options);

/// The problem's record: its samples, stopping at the first provider error
/// (no use going on), voted on when more than one, with the seconds they took.
Record problem_record(Generation& loop, ProblemLog& log, const ProblemOptions& options);

}  // namespace tarvok::evaluation
