#include "evaluation/command_run.hpp"

#include "common/file_names.hpp"
#include "common/files.hpp"
#include "common/json.hpp"
#include "common/terminal_text.hpp"
#include "evaluation/folder.hpp"

#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>
#include <variant>

namespace tarvok::evaluation {

namespace {

using Failure = std::optional<CommandFailure>;

Dataset read_dataset(const RunConfig& c) { return load_dataset(read_file(c.dataset), c.dataset_name, c); }

Prepared prepare(const RunConfig& c, const Dataset& data) {
    RunKey key = run_key(c, c.execution_check_made, c.alignment_check_made);
    key.model = c.model_shown;
    return prepare_folder(c.out_dir, c.out_name, data.problems, key, c, c.dataset);
}

/// What a core step threw, as the command tells the host's errors apart;
/// anything else is thrown on.
StepError core_error() {
    try {
        throw;
    } catch (const std::filesystem::filesystem_error& e) {
        return {Raised::OS, files::os_error_text(e.code().value(), shown_name(e.path1().native())),
                std::current_exception()};
    } catch (const files::FileError& e) {
        return {Raised::OS, files::os_error_text(e.error_number(), shown_name(e.path().native())),
                std::current_exception()};
    } catch (const FolderBusy& e) {
        return {Raised::Runtime, e.what(), std::current_exception()};
    } catch (const FolderConflict& e) {
        return {Raised::Value, e.what(), std::current_exception()};
    } catch (const DatasetError& e) {
        return {Raised::Value, e.what(), std::current_exception()};
    }
}

/// What the command's course holds as it goes.
struct Course {
    std::optional<RunConfig> config;
    Dataset data;
    Prepared prepared;
    RunOutcome out;
    std::shared_ptr<WorkQueue> queue;
};

/// The steps in their order, until one fails: its failure. What a step
/// throws that the command does not turn into a failure is thrown on.
Failure run_steps(RunHost& host, const CommandOptions& options, Settled& settings, Course& c, Interrupt* interrupt) {
    Step at = Step::Settings;
    std::optional<StepError> raised;
    try {
        if (auto* error = std::get_if<std::exception_ptr>(&settings)) std::rethrow_exception(*error);
        c.config = std::move(std::get<RunConfig>(settings));
        at = Step::Dataset;
        c.data = read_dataset(*c.config);
        if (c.data.problems.empty()) {
            for (const BadRecord& bad : c.data.bad) host.write(true, bad_record_line(c.config->dataset_name, bad));
            return CommandFailure{ExitStatus::Usage, no_usable_problem(c.config->dataset_name)};
        }
        at = Step::Provider;
        c.config->provider_name = host.check_provider(*c.config);
        at = Step::Solver;
        host.check_solver(c.config->solver);
        at = Step::Prepare;
        c.prepared = prepare(*c.config, c.data);
        at = Step::Run;
        c.out = run_problems(host, run_plan(*c.config, c.data, c.prepared), c.queue, interrupt);
        if (!c.out.provider_down) return std::nullopt;
        return CommandFailure{ExitStatus::LlmFailure, *c.out.provider_down};
    } catch (const StepError& e) {
        raised = e;
    } catch (const Interrupted&) {
        throw;
    } catch (...) {
        raised = core_error();
    }
    Failure failure =
        command_failure(at, raised->kind, raised->text, c.config ? c.config->out_name : "", options.replay);
    if (!failure) std::rethrow_exception(raised->raised);
    return failure;
}

}  // namespace

CommandEnd run_command(RunHost& host, const CommandOptions& options, Settled settings, bool json,
                       Interrupt* interrupt) {
    // A line on stderr, or with --json an object on stdout.
    auto failed = [&](const CommandFailure& failure) {
        if (!json) {
            host.write(true, command_error_line(failure.message));
        } else {
            json::Value error = json::Value::object(
                {{"error", json::Value::of(failure.message)}, {"status", json::Value::of(code(failure.status))}});
            host.write(false, json::write(error, {.ensure_ascii = false}) + "\n");
        }
        return CommandEnd{code(failure.status)};
    };
    if (auto fault = command_option_fault(options)) return failed({ExitStatus::Usage, *fault});
    Course c;
    try {
        if (Failure failure = run_steps(host, options, settings, c, interrupt)) return failed(*failure);
        host.write(false, json ? c.out.summary_text
                               : terminal::shown(results_table(c.data.problems, c.out.records, c.out.summary)));
        host.write(true, results_line(c.config->results_name, c.config->summary_name));
        return {code(ExitStatus::Success)};
    } catch (const Interrupted&) {
        host.write(true, kInterruptedLine);
    }
    // The running problems end at their next step (one request at most); a
    // second interrupt ends the command at once, its records being on disk.
    try {
        if (std::size_t running = c.queue ? c.queue->running() : 0) host.write(true, stopping_line(running));
        if (c.queue) c.queue->wait_for_workers(interrupt);
    } catch (const Interrupted&) {
        return {code(ExitStatus::Interrupted), true};
    }
    return {code(ExitStatus::Interrupted)};
}

RunOutcome run_evaluation(RunHost& host, RunConfig config, std::shared_ptr<WorkQueue>& queue, Interrupt* interrupt) {
    Dataset data = read_dataset(config);
    config.provider_name = host.check_provider(config);
    host.check_solver(config.solver);
    Prepared prepared = prepare(config, data);
    return run_problems(host, run_plan(config, data, prepared), queue, interrupt);
}

}  // namespace tarvok::evaluation
