// `tarvok eval` from its parsed options to its exit status: the options'
// check, the steps in their order with the failure each may end in, the
// report of a finished run, and what an interrupt does (a second one quits
// at once). The host runs each step and says what a step raised.
#pragma once

#include "evaluation/runner.hpp"
#include "evaluation/settings.hpp"

#include <cstddef>
#include <string>

namespace tarvok::evaluation {

/// How many young-generation passes of the host's collector come before a
/// full one while the command runs (the host's default is 10). A run that
/// ranks by meaning holds the embedding model's half a million objects, and
/// each full pass walks them all (a quarter of a second on this kind of
/// machine) holding the interpreter, while every worker waits on it.
inline constexpr long long kYoungPassesPerFullCollection = 100;

/// What a step raised, as the host tells it.
struct Caught {
    Raised kind = Raised::Other;
    std::string text;        ///< the host's str of it
    bool interrupt = false;  ///< Ctrl-C
};

/// The names the command's lines show, as far as the steps have made them
/// (empty before).
struct CommandNames {
    std::string dataset, out_dir, results_path, summary_path;
};

/// The host's side of the command.
class CommandHost {
  public:
    virtual ~CommandHost() = default;
    /// The steps, in their order (see Step); each may throw.
    virtual void make_settings() = 0;
    virtual const Dataset& load_dataset() = 0;
    virtual void check_provider() = 0;
    virtual void check_solver() = 0;
    virtual void prepare() = 0;
    virtual const RunOutcome& run() = 0;

    /// What is being thrown, called while it is handled; anything that is
    /// not the host's own error is thrown on from here.
    virtual Caught caught() = 0;
    virtual CommandNames names() = 0;
    /// Writes to stdout, or one line to stderr.
    virtual void say(const std::string& text) = 0;
    virtual void tell(const std::string& line) = 0;
    /// The command's failure told: a line on stderr, or with --json an object on stdout.
    virtual void fail(const CommandFailure& failure) = 0;
    /// The problems still running, waiting for them, and quitting at once.
    virtual std::size_t running() = 0;
    virtual void join() = 0;
    virtual void quit(ExitStatus status) = 0;
};

/// The command's exit status; with `json` the summary is printed as JSON
/// in place of the results table.
int run_command(CommandHost& host, const CommandOptions& options, bool json);

}  // namespace tarvok::evaluation
