#include "evaluation/problem_run.hpp"

#include <chrono>

namespace tarvok::evaluation {

Record generation_record(ProblemHost& host, const std::string& folder, const ProblemOptions& options) {
    host.enter(folder);
    Record record;
    try {
        if (host.generate(record)) record.assumptions = host.assumptions();
        if (record.compiled.value_or(false)) {
            // The loop's own solve of the final pair when the execution check
            // made one, else a solve of the pair as the loop compiled it.
            FinalSolve solved = host.solve(record, options.readings);
            host.progress(final_model_line(solved.status, solved.objective));
        }
    } catch (...) {
        GenerationError raised = host.caught();
        record.error = raised.text;
        record.provider_error = raised.provider_error;
        host.progress(raised.text);
    }
    settle(record);
    record.id = host.problem_id();
    record.what_if = host.what_if_table();
    if (record.readings && record.what_if) explore(*record.readings, *record.what_if);
    return record;
}

namespace {

/// The samples' records kept beside what voting needs of them.
class KeptSamples final : public SampleRunner {
  public:
    KeptSamples(ProblemHost& host, const ProblemOptions& options) : host_(host), options_(options) {}
    SampleOutcome generate(const std::string& folder) override {
        records.push_back(generation_record(host_, folder, options_));
        return sample_outcome(records.back());
    }
    void progress(const std::string& line) override { host_.progress(line); }

    std::vector<Record> records;

  private:
    ProblemHost& host_;
    const ProblemOptions& options_;
};

}  // namespace

Record problem_record(ProblemHost& host, const ProblemOptions& options) {
    auto start = std::chrono::steady_clock::now();
    KeptSamples kept(host, options);
    std::vector<SampleOutcome> outcomes = run_samples(options.samples, kept);
    Record record = kept.records.front();
    if (options.samples > 1) record = voted(kept.records, pick_sample(outcomes, options.rel_tol));
    record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return record;
}

}  // namespace tarvok::evaluation
