// A run of `tarvok eval` or of run_evaluation from its configuration: the
// data set read, the host's checks, the folder prepared, the problems run.
// For the command also the options' check, the failure each step may end
// in, the report of a finished run, the failure told, and what an interrupt
// does (a second one quits at once). The host throws StepError for what it
// raised and tarvok::Interrupted for Ctrl-C.
#pragma once

#include "common/interrupt.hpp"
#include "evaluation/runner.hpp"
#include "evaluation/settings.hpp"
#include "evaluation/work_queue.hpp"

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <variant>

namespace tarvok::evaluation {

/// How many young-generation passes of the host's collector come before a
/// full one while the command runs (the host's default is 10). A run that
/// ranks by meaning holds the embedding model's half a million objects, and
/// each full pass walks them all (a quarter of a second on this kind of
/// machine) holding the interpreter, while every worker waits on it.
inline constexpr long long kYoungPassesPerFullCollection = 100;

/// What the host raised, as it throws it: its kind, the host's str of it,
/// and the host's own error to throw on when the command does not turn it
/// into a failure.
struct StepError {
    Raised kind = Raised::Other;
    std::string text;
    std::exception_ptr raised;
};

/// The command's configuration as the binding made it from the parsed
/// arguments, or what making it threw (a StepError, tarvok::Interrupted):
/// that is told as Step::Settings fails, after the options' own check.
using Settled = std::variant<RunConfig, std::exception_ptr>;

/// How the command ended: its exit status, and whether the process must end
/// at once (a second Ctrl-C while the running problems were ending).
struct CommandEnd {
    int status = 0;
    bool quit = false;
};

/// With `json` the summary is printed as JSON in place of the results table.
CommandEnd run_command(RunHost& host, const CommandOptions& options, Settled settings, bool json, Interrupt* interrupt);

/// The library's run of `config`; throws what a step threw (the cores'
/// errors about files, the folder and the data set as they are).
RunOutcome run_evaluation(RunHost& host, RunConfig config, std::shared_ptr<WorkQueue>& queue, Interrupt* interrupt);

}  // namespace tarvok::evaluation
