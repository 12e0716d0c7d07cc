#include "evaluation/results.hpp"

#include "common/utf8.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tarvok::evaluation {

namespace {

using json::Value;

std::string optional_number(std::optional<double> v) { return v ? json::number(*v) : "null"; }

std::string optional_text(const std::optional<std::string>& v) { return v ? json::quote(*v) : "null"; }

std::optional<double> number_of(const Value* v) {
    if (v == nullptr || v->kind != Value::Kind::Number) return std::nullopt;
    return v->number;
}

std::optional<std::string> text_of(const Value* v) {
    if (v == nullptr || v->kind != Value::Kind::String) return std::nullopt;
    return v->text;
}

std::optional<bool> bool_of(const Value* v) {
    if (v == nullptr || v->kind != Value::Kind::Bool) return std::nullopt;
    return v->boolean;
}

/// A figure for the table: up to ten significant digits.
std::string figure(std::optional<double> v) {
    if (!v) return "-";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.10g", *v);
    return buffer;
}

std::size_t width_of(std::string_view text) {
    std::size_t n = 0;
    for (char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

/// At most `limit` characters of `text`, "..." marking a cut.
std::string clipped(std::string_view text, std::size_t limit) {
    if (width_of(text) <= limit) return std::string(text);
    std::size_t pos = 0, count = 0;
    while (pos < text.size() && count + 3 < limit) {
        pos += utf8::decode(text, pos, true).length;
        ++count;
    }
    return std::string(text.substr(0, pos)) + "...";
}

std::string outcome_word(const Record* r) {
    if (r == nullptr) return "not run";
    if (r->error) return r->provider_error ? "error" : "raised";
    if (r->status) return *r->status;
    if (r->compiled && !*r->compiled) return "not compiled";
    return "-";
}

}  // namespace

std::string record_line(const Record& r) {
    std::string out = "{\"id\": " + json::quote(r.id);
    out += ", \"expected\": " + optional_number(r.expected);
    out += ", \"objective\": " + optional_number(r.objective);
    out += ", \"status\": " + optional_text(r.status);
    out += std::string(", \"correct\": ") + (r.correct ? "true" : "false");
    out += std::string(", \"compiled\": ") + (r.compiled ? (*r.compiled ? "true" : "false") : "null");
    out += ", \"iterations\": " + (r.iterations ? std::to_string(*r.iterations) : std::string("null"));
    out += ", \"compile_errors\": [";
    for (std::size_t i = 0; i < r.compile_errors.size(); ++i) out += (i ? ", " : "") + json::quote(r.compile_errors[i]);
    out += "], \"seconds\": " + json::number(r.seconds);
    out += ", \"error\": " + optional_text(r.error);
    out += std::string(", \"provider_error\": ") + (r.provider_error ? "true" : "false");
    if (r.question_hash) out += ", \"question_sha256\": " + json::quote(*r.question_hash);
    if (r.run) {
        out += ", \"run\": {\"provider\": " + json::quote(r.run->provider) +
               ", \"model\": " + json::quote(r.run->model) + ", \"iterations\": " + std::to_string(r.run->iterations) +
               ", \"execution_check\": " + (r.run->execution_check ? "true" : "false") + "}";
    }
    return out + "}\n";
}

RecordedResults read_results(std::string_view text) {
    RecordedResults out;
    out.ends_in_newline = text.empty() || text.back() == '\n';
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
        Value v;
        try {
            v = json::parse(line);
        } catch (const json::ParseError&) {
            ++out.unreadable;
            continue;
        }
        std::optional<std::string> id = v.kind == Value::Kind::Object ? text_of(v.find("id")) : std::nullopt;
        if (!id) {
            ++out.unreadable;
            continue;
        }
        Record r;
        r.id = *id;
        r.expected = number_of(v.find("expected"));
        r.objective = number_of(v.find("objective"));
        r.status = text_of(v.find("status"));
        r.correct = bool_of(v.find("correct")).value_or(false);
        r.compiled = bool_of(v.find("compiled"));
        if (auto n = number_of(v.find("iterations")); n && std::isfinite(*n)) r.iterations = std::llround(*n);
        if (const Value* errors = v.find("compile_errors"); errors && errors->kind == Value::Kind::Array) {
            for (const Value& e : errors->items)
                if (e.kind == Value::Kind::String) r.compile_errors.push_back(e.text);
        }
        r.seconds = number_of(v.find("seconds")).value_or(0);
        r.error = text_of(v.find("error"));
        r.provider_error = r.error && bool_of(v.find("provider_error")).value_or(false);
        r.question_hash = text_of(v.find("question_sha256"));
        if (const Value* run = v.find("run"); run && run->kind == Value::Kind::Object) {
            RunKey key;
            key.provider = text_of(run->find("provider")).value_or("");
            key.model = text_of(run->find("model")).value_or("");
            if (auto n = number_of(run->find("iterations")); n && std::isfinite(*n)) key.iterations = std::llround(*n);
            key.execution_check = bool_of(run->find("execution_check")).value_or(false);
            r.run = std::move(key);
        }
        out.by_id[r.id] = std::move(r);
    }
    return out;
}

bool is_correct(const std::optional<std::string>& status, std::optional<double> objective,
                std::optional<double> expected, double rel_tol) {
    if (!status || *status != "optimal" || !objective || !expected) return false;
    if (!std::isfinite(*objective) || !std::isfinite(*expected)) return false;
    return std::fabs(*objective - *expected) <= rel_tol * std::max(1.0, std::fabs(*expected));
}

std::vector<const Problem*> pending(const std::vector<Problem>& problems, const std::map<std::string, Record>& by_id) {
    std::vector<const Problem*> out;
    for (const Problem& p : problems)
        if (!by_id.count(p.id)) out.push_back(&p);
    return out;
}

namespace {

/// "model 'a' instead of 'b'": the first difference of two run keys.
std::string difference(const RunKey& recorded, const RunKey& now) {
    auto quoted = [](const std::string& text) { return "'" + text + "'"; };
    auto yes_no = [](bool on) { return std::string(on ? "on" : "off"); };
    if (recorded.provider != now.provider)
        return "provider " + quoted(recorded.provider) + " instead of " + quoted(now.provider);
    if (recorded.model != now.model) return "model " + quoted(recorded.model) + " instead of " + quoted(now.model);
    if (recorded.iterations != now.iterations)
        return std::to_string(recorded.iterations) + " iterations instead of " + std::to_string(now.iterations);
    return "the execution check " + yes_no(recorded.execution_check) + " instead of " + yes_no(now.execution_check);
}

}  // namespace

ResumePlan plan_resume(const std::vector<Problem>& problems, const std::map<std::string, Record>& by_id,
                       const RunKey& run, double rel_tol, bool force, bool retry_errors) {
    ResumePlan plan;
    // Every record of the folder counts: the folder holds one run.
    for (const auto& [id, r] : by_id) {
        if (r.run && !(*r.run == run)) {
            plan.conflict = difference(*r.run, run) + " (record '" + id + "')";
            break;
        }
    }
    for (const Problem& p : problems) {
        auto found = by_id.find(p.id);
        if (found == by_id.end()) {
            plan.todo.push_back(&p);
            continue;
        }
        const Record& recorded = found->second;
        if (recorded.provider_error && retry_errors) {
            plan.todo.push_back(&p);
            ++plan.retried;
            continue;
        }
        bool other_question = recorded.question_hash && *recorded.question_hash != p.question_hash;
        bool other_run = recorded.run && !(*recorded.run == run);
        if (other_question || (other_run && force)) {
            plan.todo.push_back(&p);
            ++plan.rerun;
            continue;
        }
        Record r = recorded;
        r.expected = p.expected;
        r.correct = !r.error && is_correct(r.status, r.objective, r.expected, rel_tol);
        if (r.correct != recorded.correct || r.expected != recorded.expected) plan.rejudged.push_back(r.id);
        plan.reused.emplace(p.id, std::move(r));
    }
    return plan;
}

bool provider_is_down(const std::vector<Record>& first_finished, std::size_t limit) {
    if (limit == 0 || first_finished.size() < limit) return false;
    return std::all_of(first_finished.begin(), first_finished.begin() + static_cast<std::ptrdiff_t>(limit),
                       [](const Record& r) { return r.provider_error; });
}

Summary summarize(const std::vector<Problem>& problems, const std::map<std::string, Record>& by_id,
                  std::size_t skipped_records, std::size_t rerun, std::size_t retried) {
    Summary s;
    s.retried = retried;
    s.total = problems.size();
    s.skipped_records = skipped_records;
    s.rerun = rerun;
    double iterations = 0, seconds = 0;
    std::size_t counted_iterations = 0;
    for (const Problem& p : problems) {
        if (!p.expected) ++s.without_reference;
        auto found = by_id.find(p.id);
        if (found == by_id.end()) continue;
        const Record& r = found->second;
        ++s.attempted;
        s.correct += r.correct;
        s.compiled += r.compiled.value_or(false);
        s.solved += r.status == "optimal";
        s.errors += r.error.has_value();
        s.provider_errors += r.error.has_value() && r.provider_error;
        seconds += r.seconds;
        if (r.iterations) {
            iterations += static_cast<double>(*r.iterations);
            ++counted_iterations;
        }
    }
    s.accuracy = s.total ? static_cast<double>(s.correct) / static_cast<double>(s.total) : 0.0;
    if (counted_iterations) s.mean_iterations = iterations / static_cast<double>(counted_iterations);
    if (s.attempted) s.mean_seconds = seconds / static_cast<double>(s.attempted);
    return s;
}

std::string summary_json(const Summary& s, const RunSettings& run) {
    auto count = [](std::size_t n) { return std::to_string(n); };
    std::vector<std::pair<std::string_view, std::string>> members = {
        {"total", count(s.total)},
        {"attempted", count(s.attempted)},
        {"correct", count(s.correct)},
        {"accuracy", json::number(s.accuracy)},
        {"compiled", count(s.compiled)},
        {"solved", count(s.solved)},
        {"errors", count(s.errors)},
        {"provider_errors", count(s.provider_errors)},
        {"without_reference", count(s.without_reference)},
        {"skipped_records", count(s.skipped_records)},
        {"rerun", count(s.rerun)},
        {"retried", count(s.retried)},
        {"mean_iterations", optional_number(s.mean_iterations)},
        {"mean_seconds", optional_number(s.mean_seconds)},
        {"dataset", json::quote(run.dataset)},
        {"provider", json::quote(run.provider)},
        {"model", json::quote(run.model)},
        {"iterations", std::to_string(run.iterations)},
        {"execution_check", run.execution_check ? "true" : "false"},
        {"rel_tol", json::number(run.rel_tol)},
    };
    std::string out = "{\n";
    for (std::size_t i = 0; i < members.size(); ++i)
        out += "  \"" + std::string(members[i].first) + "\": " + members[i].second +
               (i + 1 < members.size() ? ",\n" : "\n");
    return out + "}\n";
}

std::string results_table(const std::vector<Problem>& problems, const std::map<std::string, Record>& by_id,
                          const Summary& s) {
    std::vector<std::vector<std::string>> rows = {
        {"id", "expected", "objective", "status", "correct", "iterations", "seconds"}};
    for (const Problem& p : problems) {
        auto found = by_id.find(p.id);
        const Record* r = found == by_id.end() ? nullptr : &found->second;
        char seconds[32] = "-";
        if (r) std::snprintf(seconds, sizeof seconds, "%.1f", r->seconds);
        rows.push_back({clipped(p.id, 40), figure(p.expected), r ? figure(r->objective) : "-", outcome_word(r),
                        r ? (r->correct ? "yes" : "no") : "-",
                        r && r->iterations ? std::to_string(*r->iterations) : "-", seconds});
    }
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], width_of(row[c]));
    std::string out;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            bool text_column = c == 0 || c == 3 || c == 4;
            std::string pad(widths[c] - width_of(row[c]), ' ');
            line += (c ? "  " : "") + (text_column ? row[c] + pad : pad + row[c]);
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out += line + "\n";
    }
    char figures[256];
    std::snprintf(figures, sizeof figures,
                  "\nCorrect %zu of %zu (accuracy %.1f%%); compiled %zu, solved %zu, errors %zu, not run %zu.\n",
                  s.correct, s.total, 100.0 * s.accuracy, s.compiled, s.solved, s.errors, s.total - s.attempted);
    out += figures;
    if (s.mean_iterations || s.mean_seconds) {
        std::snprintf(figures, sizeof figures, "Mean iterations %s, mean seconds per problem %s.\n",
                      s.mean_iterations ? figure(std::round(*s.mean_iterations * 100) / 100).c_str() : "-",
                      s.mean_seconds ? figure(std::round(*s.mean_seconds * 100) / 100).c_str() : "-");
        out += figures;
    }
    if (s.provider_errors)
        out += std::to_string(s.provider_errors) +
               " failed with provider errors (the provider was down, slow or unreachable); a run with the same "
               "--out tries them again.\n";
    if (s.retried) out += "Tried " + std::to_string(s.retried) + " problems again after provider errors.\n";
    if (s.without_reference) out += std::to_string(s.without_reference) + " problems have no reference objective.\n";
    if (s.rerun == 1) out += "Ran 1 problem again: its record was for another question or run.\n";
    if (s.rerun > 1)
        out += "Ran " + std::to_string(s.rerun) + " problems again: their records were for another question or run.\n";
    return out;
}

}  // namespace tarvok::evaluation
