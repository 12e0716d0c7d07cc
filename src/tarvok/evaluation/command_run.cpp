#include "evaluation/command_run.hpp"

#include "common/interrupt.hpp"
#include "common/json.hpp"
#include "common/terminal_text.hpp"

#include <functional>
#include <optional>
#include <utility>

namespace tarvok::evaluation {

namespace {

using Failure = std::optional<CommandFailure>;

/// The steps in their order, until one fails: its failure. What a step
/// raises that the command does not turn into a failure is thrown on.
Failure run_steps(CommandHost& host, const CommandOptions& options, CommandNames& names, const Dataset*& data,
                  const RunOutcome*& out) {
    auto done = [](auto&& step) { return [step]() -> Failure { return step(), std::nullopt; }; };
    const std::pair<Step, std::function<Failure()>> steps[] = {
        {Step::Settings, done([&] { names = host.make_settings(); })},
        {Step::Dataset,
         [&]() -> Failure {
             data = &host.load_dataset();
             if (!data->problems.empty()) return std::nullopt;
             for (const BadRecord& bad : data->bad) host.tell(bad_record_line(names.dataset, bad));
             return CommandFailure{ExitStatus::Usage, no_usable_problem(names.dataset)};
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
        } catch (const StepError& e) {
            Failure failure = command_failure(step, e.kind, e.text, names.out_dir, options.replay);
            if (!failure) std::rethrow_exception(e.raised);
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
    } catch (const Interrupted&) {
        host.quit(ExitStatus::Interrupted);
    }
}

}  // namespace

int run_command(CommandHost& host, const CommandOptions& options, bool json) {
    // A line on stderr, or with --json an object on stdout.
    auto failed = [&](const CommandFailure& failure) {
        if (!json) {
            host.tell(command_error_line(failure.message));
        } else {
            json::Value error = json::Value::object(
                {{"error", json::Value::of(failure.message)}, {"status", json::Value::of(code(failure.status))}});
            host.say(json::write(error, {.ensure_ascii = false}) + "\n");
        }
        return code(failure.status);
    };
    if (auto fault = command_option_fault(options)) return failed({ExitStatus::Usage, *fault});
    try {
        CommandNames names;
        const Dataset* data = nullptr;
        const RunOutcome* out = nullptr;
        if (Failure failure = run_steps(host, options, names, data, out)) return failed(*failure);
        host.say(json ? out->summary_text : terminal::shown(results_table(data->problems, out->records, out->summary)));
        host.tell(results_line(names.results_path, names.summary_path));
        return code(ExitStatus::Success);
    } catch (const Interrupted&) {
        host.tell(kInterruptedLine);
        wait_for_workers(host);
        return code(ExitStatus::Interrupted);
    }
}

}  // namespace tarvok::evaluation
