// `tarvok eval` from its parsed options to its exit status: the options'
// check, the steps in their order with the failure each may end in, the
// report of a finished run, the failure told, and what an interrupt does (a
// second one quits at once). The host runs each step, throwing StepError for
// what a step raised and tarvok::Interrupted for Ctrl-C.
#pragma once

#include "evaluation/runner.hpp"
#include "evaluation/settings.hpp"

#include <cstddef>
#include <exception>
#include <string>

namespace tarvok::evaluation {

/// How many young-generation passes of the host's collector come before a
/// full one while the command runs (the host's default is 10). A run that
/// ranks by meaning holds the embedding model's half a million objects, and
/// each full pass walks them all (a quarter of a second on this kind of
/// machine) holding the interpreter, while every worker waits on it.
inline constexpr long long kYoungPassesPerFullCollection = 100;

/// What a step raised, as the host throws it: its kind, the host's str of
/// it, and the host's own error to throw on when the command does not turn
/// it into a failure.
struct StepError {
    Raised kind = Raised::Other;
    std::string text;
    std::exception_ptr raised;
};

/// The names the command's lines show.
struct CommandNames {
    std::string dataset, out_dir, results_path, summary_path;
};

/// The host's side of the command.
class CommandHost {
  public:
    virtual ~CommandHost() = default;
    /// The steps, in their order (see Step); each may throw.
    virtual CommandNames make_settings() = 0;
    virtual const Dataset& load_dataset() = 0;
    virtual void check_provider() = 0;
    virtual void check_solver() = 0;
    virtual void prepare() = 0;
    virtual const RunOutcome& run() = 0;

    /// Writes to stdout, or one line to stderr.
    virtual void say(const std::string& text) = 0;
    virtual void tell(const std::string& line) = 0;
    /// The problems still running, waiting for them, and quitting at once.
    virtual std::size_t running() = 0;
    virtual void join() = 0;
    virtual void quit(ExitStatus status) = 0;
};

/// The command's exit status; with `json` the summary is printed as JSON
/// in place of the results table.
int run_command(CommandHost& host, const CommandOptions& options, bool json);

}  // namespace tarvok::evaluation
