#include "evaluation/record_map.hpp"

#include <climits>

namespace tarvok::evaluation {

void settle(Record& r) {
    r.provider_error = r.provider_error && r.error;
    if (r.samples > 1) return;
    r.samples = r.sample = 1;
    r.confidence.reset();
}

SampleOutcome sample_outcome(const Record& r) {
    SampleOutcome o;
    o.raised = r.error.has_value();
    o.provider_error = r.provider_error;
    o.status = r.status;
    if (!o.raised && o.status == "optimal") o.objective = r.objective;
    o.repairs = r.repair_rounds;
    return o;
}

Record voted(const std::vector<Record>& samples, const SamplePick& pick) {
    Record record = samples.at(pick.index);
    if (record.provider_error) return record;  // to try again
    for (auto count : {&Record::llm_calls, &Record::repair_rounds, &Record::tokens_in, &Record::tokens_out}) {
        std::optional<long long> total;
        for (const Record& one : samples) {
            if (!(one.*count)) continue;
            long long sum = 0;
            if (__builtin_add_overflow(total.value_or(0), *(one.*count), &sum)) sum = LLONG_MAX;  // no wrap-around
            total = sum;
        }
        record.*count = total;
    }
    record.samples = static_cast<long long>(samples.size());
    record.sample = static_cast<long long>(pick.index) + 1;
    record.confidence = pick.confidence;
    return record;
}

void explore(std::vector<Reading>& readings, const WhatIfTable& table) {
    for (const TableReading& alt : table.alternatives) {
        if (alt.index < 1 || static_cast<std::size_t>(alt.index) > readings.size()) continue;
        Reading& r = readings[static_cast<std::size_t>(alt.index) - 1];
        r.explored = true;
        r.status = alt.status;
        r.objective = alt.objective;
        r.answer = alt.answer;
    }
}

}  // namespace tarvok::evaluation
