#include "evaluation/problem_run.hpp"

#include "common/interrupt.hpp"
#include "evaluation/folder.hpp"
#include "generative/grounding.hpp"

#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>

namespace tarvok::evaluation {

namespace {

/// The conversation of this run of the problem only: an earlier run's
/// transcript goes (a folder at its name is an error, as it cannot be one).
void forget_transcript(const std::filesystem::path& folder) {
    std::filesystem::path transcript = folder / kTranscriptFile;
    if (::unlink(transcript.c_str()) != 0 && errno != ENOENT)
        throw std::filesystem::filesystem_error(std::generic_category().message(errno), transcript,
                                                std::error_code(errno, std::generic_category()));
}

}  // namespace

std::vector<Assumption> assumptions_of(const std::string& description, const std::string& data) {
    std::vector<Assumption> out;
    for (const auto& f : generative::grounding::ground(description, data).assumptions)
        out.push_back({f.text, f.line, f.line_text});
    return out;
}

void ProblemLog::line(std::string_view text) {
    file_.append(std::string(text) + "\n");
    if (run_ && run_->stopping()) throw Interrupted{};
}

Record generation_record(Generation& loop, ProblemLog& log, const std::string& sample, const ProblemOptions& options) {
    std::filesystem::path where = sample.empty() ? options.folder : options.folder / sample;
    if (!sample.empty()) own_folder(where);
    forget_transcript(where);
    Record record;
    std::optional<WhatIfTable> what_if;
    Generated made;
    std::optional<GenerationFailed> failed;
    try {
        loop.generate(where, record, options.readings, made);
    } catch (const GenerationFailed& raised) {
        failed = raised;
    }
    if (made.data) record.assumptions = assumptions_of(options.description, *made.data);
    if (failed) {
        record.error = failed->text;
        record.provider_error = failed->provider_error;
        log.line(failed->text);
    } else if (made.solved) {
        // The loop's own solve of the final pair when the execution check
        // made one, else a solve of the pair as the loop compiled it.
        what_if = std::move(made.solved->what_if);
        log.line(final_model_line(made.solved->status, made.solved->objective));
    }
    settle(record);
    record.id = options.id;
    record.what_if = std::move(what_if);
    if (record.readings && record.what_if) explore(*record.readings, *record.what_if);
    return record;
}

Record problem_record(Generation& loop, ProblemLog& log, const ProblemOptions& options) {
    auto start = std::chrono::steady_clock::now();
    long long count = std::max(1LL, options.samples);
    std::vector<Record> records;
    std::vector<SampleOutcome> outcomes;
    for (long long k = 1; k <= count; ++k) {
        if (count > 1) log.line("Sample " + std::to_string(k) + "/" + std::to_string(count));
        records.push_back(generation_record(loop, log, sample_folder(k), options));
        outcomes.push_back(sample_outcome(records.back()));
        if (outcomes.back().provider_error) break;
    }
    Record record = records.front();
    if (count > 1) record = voted(records, pick_sample(outcomes, options.rel_tol));
    record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return record;
}

}  // namespace tarvok::evaluation
