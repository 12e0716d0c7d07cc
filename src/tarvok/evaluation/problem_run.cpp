#include "evaluation/problem_run.hpp"

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

Record generation_record(ProblemHost& host, const std::string& sample, const ProblemOptions& options) {
    std::filesystem::path where = sample.empty() ? options.folder : options.folder / sample;
    if (!sample.empty()) own_folder(where);
    forget_transcript(where);
    Record record;
    std::optional<WhatIfTable> what_if;
    try {
        if (std::optional<std::string> data = host.generate(where, record))
            record.assumptions = assumptions_of(options.description, *data);
        if (record.compiled.value_or(false)) {
            // The loop's own solve of the final pair when the execution check
            // made one, else a solve of the pair as the loop compiled it.
            FinalSolve solved = host.solve(record, options.readings);
            what_if = std::move(solved.what_if);
            host.progress(final_model_line(solved.status, solved.objective));
        }
    } catch (const GenerationFailed& raised) {
        record.error = raised.text;
        record.provider_error = raised.provider_error;
        host.progress(raised.text);
    }
    settle(record);
    record.id = options.id;
    record.what_if = std::move(what_if);
    if (record.readings && record.what_if) explore(*record.readings, *record.what_if);
    return record;
}

Record problem_record(ProblemHost& host, const ProblemOptions& options) {
    auto start = std::chrono::steady_clock::now();
    long long count = std::max(1LL, options.samples);
    std::vector<Record> records;
    std::vector<SampleOutcome> outcomes;
    for (long long k = 1; k <= count; ++k) {
        if (count > 1) host.progress("Sample " + std::to_string(k) + "/" + std::to_string(count));
        records.push_back(generation_record(host, sample_folder(k), options));
        outcomes.push_back(sample_outcome(records.back()));
        if (outcomes.back().provider_error) break;
    }
    Record record = records.front();
    if (count > 1) record = voted(records, pick_sample(outcomes, options.rel_tol));
    record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return record;
}

}  // namespace tarvok::evaluation
