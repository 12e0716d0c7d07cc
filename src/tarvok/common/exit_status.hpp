// The exit statuses of the `tarvok` command: one table for every subcommand,
// `eval` included. The README shows it, and `tarvok --help` prints it.
#pragma once

#include <array>
#include <string_view>

namespace tarvok {

enum class ExitStatus : int {
    Success = 0,
    DoesNotCompile = 1,
    Usage = 2,
    NotOptimal = 3,
    NotAligned = 4,
    LlmFailure = 5,
    Interrupted = 130,
    ClosedOutput = 141,
};

struct ExitStatusRow {
    ExitStatus status;
    std::string_view meaning;
};

inline constexpr auto kExitStatuses = std::to_array<ExitStatusRow>({
    {ExitStatus::Success, "success (for `run`: an optimal solution; for `check`: the pair compiles, warnings allowed)"},
    {ExitStatus::DoesNotCompile, "the model does not compile (the diagnostics are printed)"},
    {ExitStatus::Usage,
     "usage error: bad or refused arguments or option values, a missing or unreadable input file, an output path "
     "that is an input or cannot be written, a missing extra; also memory that ran out"},
    {ExitStatus::NotOptimal,
     "the model compiles but solving did not end optimal (infeasible, unbounded, time limit, solver error)"},
    {ExitStatus::NotAligned, "`solve`: the final pair compiles but was never judged aligned"},
    {ExitStatus::LlmFailure,
     "an LLM/provider failure (request failed, missing key or library, empty or unparseable reply)"},
    {ExitStatus::Interrupted, "interrupted (Ctrl-C; `run` first prints the best solution found so far)"},
    {ExitStatus::ClosedOutput,
     "stdout was closed by its reader (piped into `head`, say; as SIGPIPE would end it): nothing more is printed, "
     "the files asked for are already written"},
});

constexpr int code(ExitStatus status) { return static_cast<int>(status); }

}  // namespace tarvok
