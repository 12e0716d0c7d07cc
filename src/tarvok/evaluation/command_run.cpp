#include "evaluation/command_run.hpp"

#include "common/terminal_text.hpp"

#include <functional>
#include <optional>
#include <utility>

namespace tarvok::evaluation {

namespace {

using Failure = std::optional<CommandFailure>;

/// The steps in their order, until one fails: its failure. What a step
/// raises that the command does not turn into a failure is thrown on.
Failure run_steps(CommandHost& host, const CommandOptions& options, const Dataset*& data, const RunOutcome*& out) {
    auto done = [](auto&& step) { return [step]() -> Failure { return step(), std::nullopt; }; };
    const std::pair<Step, std::function<Failure()>> steps[] = {
        {Step::Settings, done([&] { host.make_settings(); })},
        {Step::Dataset,
         [&]() -> Failure {
             data = &host.load_dataset();
             if (!data->problems.empty()) return std::nullopt;
             std::string dataset = host.names().dataset;
             for (const BadRecord& bad : data->bad) host.tell(bad_record_line(dataset, bad));
             return CommandFailure{ExitStatus::Usage, no_usable_problem(dataset)};
         }},
        {Step::Provider, done([&] { host.check_provider(); })},
        {Step::Solver, done([&] { host.check_solver(); })},
        {Step::Prepare, done([&] { host.prepare(); })},
        {Step::Run,
         [&]() -> Failure {
             out = &host.run();
             if (!out->provider_down) return std::nullopt;
             return CommandFailure{ExitStatus::LlmFailure, *out->provider_down};
         }},
    };
    for (const auto& [step, body] : steps) {
        try {
            if (Failure failure = body()) return failure;
        } catch (...) {
            Caught caught = host.caught();
            Failure failure = command_failure(step, caught.kind, caught.text, host.names().out_dir, options.replay);
            if (!failure) throw;
            return failure;
        }
    }
    return std::nullopt;
}

/// After an interrupt: the running problems end at their next step (one
/// request at most); a second interrupt ends the command at once, its
/// records being on disk already.
void wait_for_workers(CommandHost& host) {
    try {
        if (std::size_t running = host.running()) host.tell(stopping_line(running));
        host.join();
    } catch (...) {
        if (!host.caught().interrupt) throw;
        host.quit(ExitStatus::Interrupted);
    }
}

}  // namespace

int run_command(CommandHost& host, const CommandOptions& options, bool json) {
    auto failed = [&](const CommandFailure& failure) {
        host.fail(failure);
        return code(failure.status);
    };
    if (auto fault = command_option_fault(options)) return failed({ExitStatus::Usage, *fault});
    try {
        const Dataset* data = nullptr;
        const RunOutcome* out = nullptr;
        if (Failure failure = run_steps(host, options, data, out)) return failed(*failure);
        host.say(json ? out->summary_text : terminal::shown(results_table(data->problems, out->records, out->summary)));
        CommandNames names = host.names();
        host.tell(results_line(names.results_path, names.summary_path));
        return code(ExitStatus::Success);
    } catch (...) {
        if (!host.caught().interrupt) throw;
        host.tell(kInterruptedLine);
        wait_for_workers(host);
        return code(ExitStatus::Interrupted);
    }
}

}  // namespace tarvok::evaluation
