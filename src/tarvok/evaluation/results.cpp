#include "evaluation/results.hpp"

#include "common/utf8.hpp"
#include "evaluation/vote.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tarvok::evaluation {

namespace {

using json::Value;

std::string optional_number(std::optional<double> v) { return v ? json::number(*v) : "null"; }

std::string optional_text(const std::optional<std::string>& v) { return v ? json::quote(*v) : "null"; }

std::optional<double> number_of(const Value* v) {
    if (v == nullptr || !v->is_numeric()) return std::nullopt;
    return v->number();
}

std::optional<std::string> text_of(const Value* v) {
    if (v == nullptr || v->kind() != Value::Kind::String) return std::nullopt;
    return v->text();
}

std::optional<bool> bool_of(const Value* v) {
    if (v == nullptr || v->kind() != Value::Kind::Boolean) return std::nullopt;
    return v->boolean();
}

std::string table_reading_json(const TableReading& t, bool main) {
    std::string out = "{";
    if (!main)
        out += "\"index\": " + std::to_string(t.index) + ", \"alternative\": " + json::quote(t.alternative) + ", ";
    out += "\"status\": " + optional_text(t.status) + ", \"objective\": " + optional_number(t.objective) +
           ", \"answer\": " + optional_number(t.answer) + ", \"model_file\": " + optional_text(t.model_file) +
           ", \"data_file\": " + optional_text(t.data_file);
    if (!main) out += std::string(", \"same_answer\": ") + (t.same_answer ? "true" : "false");
    return out + ", \"matches\": " + (t.matches ? "true" : "false") + "}";
}

TableReading table_reading_of(const Value& v) {
    TableReading t;
    if (v.kind() != Value::Kind::Object) return t;
    if (auto n = number_of(v.find("index")); n && *n >= 0 && *n < 1e9) t.index = std::llround(*n);
    t.alternative = text_of(v.find("alternative")).value_or("");
    t.status = text_of(v.find("status"));
    t.objective = number_of(v.find("objective"));
    t.answer = number_of(v.find("answer"));
    t.model_file = text_of(v.find("model_file"));
    t.data_file = text_of(v.find("data_file"));
    t.same_answer = bool_of(v.find("same_answer")).value_or(false);
    t.matches = bool_of(v.find("matches")).value_or(false);
    return t;
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

std::string verdict(const Record& r) {
    if (r.error) return "error";
    if (!r.expected) return "no_reference";
    return r.correct ? "correct" : "wrong";
}

std::string record_line(const Record& r) {
    std::string out = "{\"id\": " + json::quote(r.id);
    if (r.repeat > 1) out += ", \"repeat\": " + std::to_string(r.repeat);
    if (!r.problem_class.empty()) out += ", \"class\": " + json::quote(r.problem_class);
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
    out += ", \"verdict\": " + json::quote(verdict(r));
    if (r.question_hash) out += ", \"question_sha256\": " + json::quote(*r.question_hash);
    if (r.run) {
        out += ", \"run\": {\"provider\": " + json::quote(r.run->provider) +
               ", \"model\": " + json::quote(r.run->model) + ", \"iterations\": " + std::to_string(r.run->iterations) +
               ", \"execution_check\": " + (r.run->execution_check ? "true" : "false") +
               (r.run->alignment ? "" : ", \"alignment_check\": false") +
               (r.run->samples > 1 ? ", \"samples\": " + std::to_string(r.run->samples) : std::string()) +
               (r.run->assumptions ? ", \"assumptions\": true" : "") + (r.run->what_if ? ", \"what_if\": true" : "") +
               (r.run->what_if_max != 3 ? ", \"what_if_max\": " + std::to_string(r.run->what_if_max) : std::string()) +
               (r.run->solver != "highs" ? ", \"solver\": " + json::quote(r.run->solver) : std::string()) + "}";
    }
    auto count = [&](const char* name, const std::optional<long long>& n) {
        if (n) out += std::string(", \"") + name + "\": " + std::to_string(*n);
    };
    if (r.samples > 1) {
        out += ", \"samples\": " + std::to_string(r.samples) + ", \"sample\": " + std::to_string(r.sample);
        out += ", \"confidence\": " + optional_number(r.confidence);
    }
    count("llm_calls", r.llm_calls);
    count("repair_rounds", r.repair_rounds);
    count("tokens_in", r.tokens_in);
    count("tokens_out", r.tokens_out);
    if (r.assumptions) {
        out += ", \"assumptions\": [";
        for (std::size_t i = 0; i < r.assumptions->size(); ++i) {
            const Assumption& a = (*r.assumptions)[i];
            out += std::string(i ? ", " : "") + "{\"value\": " + json::quote(a.value) +
                   ", \"line\": " + std::to_string(a.line) + ", \"text\": " + json::quote(a.line_text) + "}";
        }
        out += "]";
    }
    if (r.answer) out += ", \"answer\": " + json::number(*r.answer);
    if (r.readings) {
        out += ", \"listed_assumptions\": [";
        for (std::size_t i = 0; i < r.readings->size(); ++i) {
            const Reading& a = (*r.readings)[i];
            out += std::string(i ? ", " : "") + "{\"assumption\": " + json::quote(a.assumption) +
                   ", \"alternative\": " + json::quote(a.alternative) + ", \"where\": " + json::quote(a.where) +
                   ", \"kind\": " + json::quote(a.kind);
            if (a.explored)
                out += ", \"status\": " + optional_text(a.status) + ", \"objective\": " + optional_number(a.objective) +
                       ", \"answer\": " + optional_number(a.answer) +
                       ", \"matches\": " + (a.matches ? "true" : "false");
            out += "}";
        }
        out += "]";
        out += std::string(", \"right_among_readings\": ") + (right_among_readings(r) ? "true" : "false");
    }
    if (r.what_if) {
        out += ", \"what_if\": {\"main\": " + table_reading_json(r.what_if->main, true) + ", \"alternatives\": [";
        for (std::size_t i = 0; i < r.what_if->alternatives.size(); ++i)
            out += (i ? ", " : "") + table_reading_json(r.what_if->alternatives[i], false);
        out += "], \"unexplored\": " + std::to_string(r.what_if->unexplored) + "}";
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
            v = json::parse(line, {.repeated_keys = true});
        } catch (const json::ParseError&) {
            ++out.unreadable;
            continue;
        }
        std::optional<std::string> id = v.kind() == Value::Kind::Object ? text_of(v.find("id")) : std::nullopt;
        if (!id) {
            ++out.unreadable;
            continue;
        }
        Record r;
        r.id = *id;
        if (auto n = number_of(v.find("repeat")); n && *n >= 1 && *n < 1e9) r.repeat = std::llround(*n);
        r.problem_class = text_of(v.find("class")).value_or("");
        r.expected = number_of(v.find("expected"));
        r.objective = number_of(v.find("objective"));
        r.status = text_of(v.find("status"));
        r.correct = bool_of(v.find("correct")).value_or(false);
        r.compiled = bool_of(v.find("compiled"));
        if (auto n = number_of(v.find("iterations")); n && std::isfinite(*n)) r.iterations = std::llround(*n);
        if (const Value* errors = v.find("compile_errors"); errors && errors->kind() == Value::Kind::Array) {
            for (const Value& e : errors->items())
                if (e.kind() == Value::Kind::String) r.compile_errors.push_back(e.text());
        }
        r.seconds = number_of(v.find("seconds")).value_or(0);
        r.error = text_of(v.find("error"));
        r.provider_error = r.error && bool_of(v.find("provider_error")).value_or(false);
        r.question_hash = text_of(v.find("question_sha256"));
        if (const Value* run = v.find("run"); run && run->kind() == Value::Kind::Object) {
            RunKey key;
            key.provider = text_of(run->find("provider")).value_or("");
            key.model = text_of(run->find("model")).value_or("");
            if (auto n = number_of(run->find("iterations")); n && std::isfinite(*n)) key.iterations = std::llround(*n);
            key.execution_check = bool_of(run->find("execution_check")).value_or(false);
            key.alignment = bool_of(run->find("alignment_check")).value_or(true);
            if (auto n = number_of(run->find("samples")); n && *n >= 1 && *n < 1e9) key.samples = std::llround(*n);
            key.assumptions = bool_of(run->find("assumptions")).value_or(false);
            key.what_if = bool_of(run->find("what_if")).value_or(false);
            if (auto n = number_of(run->find("what_if_max")); n && *n >= 0 && *n < 1e9)
                key.what_if_max = std::llround(*n);
            key.solver = text_of(run->find("solver")).value_or("highs");
            r.run = std::move(key);
        }
        auto count = [&](const char* name) -> std::optional<long long> {
            auto n = number_of(v.find(name));
            if (!n || !std::isfinite(*n) || *n < 0 || *n > 1e15) return std::nullopt;
            return std::llround(*n);
        };
        if (auto n = count("samples"); n && *n >= 1) r.samples = *n;
        if (auto n = count("sample"); n && *n >= 1) r.sample = *n;
        r.confidence = number_of(v.find("confidence"));
        r.llm_calls = count("llm_calls");
        r.repair_rounds = count("repair_rounds");
        r.tokens_in = count("tokens_in");
        r.tokens_out = count("tokens_out");
        if (const Value* list = v.find("assumptions"); list && list->kind() == Value::Kind::Array) {
            r.assumptions.emplace();
            for (const Value& a : list->items()) {
                if (a.kind() != Value::Kind::Object) continue;
                Assumption one;
                one.value = text_of(a.find("value")).value_or("");
                if (auto n = number_of(a.find("line")); n && *n >= 0 && *n < 1e12)
                    one.line = static_cast<std::size_t>(*n);
                one.line_text = text_of(a.find("text")).value_or("");
                r.assumptions->push_back(std::move(one));
            }
        }
        r.answer = number_of(v.find("answer"));
        if (const Value* list = v.find("listed_assumptions"); list && list->kind() == Value::Kind::Array) {
            r.readings.emplace();
            for (const Value& a : list->items()) {
                if (a.kind() != Value::Kind::Object) continue;
                Reading one;
                one.assumption = text_of(a.find("assumption")).value_or("");
                one.alternative = text_of(a.find("alternative")).value_or("");
                one.where = text_of(a.find("where")).value_or("");
                one.kind = text_of(a.find("kind")).value_or("");
                one.explored = a.find("status") != nullptr;
                one.status = text_of(a.find("status"));
                one.objective = number_of(a.find("objective"));
                one.answer = number_of(a.find("answer"));
                one.matches = bool_of(a.find("matches")).value_or(false);
                r.readings->push_back(std::move(one));
            }
        }
        if (const Value* table = v.find("what_if"); table && table->kind() == Value::Kind::Object) {
            WhatIfTable& t = r.what_if.emplace();
            if (const Value* main = table->find("main")) t.main = table_reading_of(*main);
            if (const Value* list = table->find("alternatives"); list && list->kind() == Value::Kind::Array)
                for (const Value& a : list->items()) t.alternatives.push_back(table_reading_of(a));
            if (auto n = number_of(table->find("unexplored")); n && *n >= 0 && *n < 1e9)
                t.unexplored = std::llround(*n);
        }
        std::string key = r.key();
        out.by_id[key] = std::move(r);
    }
    return out;
}

bool is_correct(const std::optional<std::string>& status, std::optional<double> objective,
                std::optional<double> expected, double rel_tol) {
    if (!status || *status != "optimal" || !objective || !expected) return false;
    if (!std::isfinite(*objective) || !std::isfinite(*expected)) return false;
    return std::fabs(*objective - *expected) <= rel_tol * std::max(1.0, std::fabs(*expected));
}

void judge(Record& r, double rel_tol) {
    r.correct = !r.error && is_correct(r.status, r.answer ? r.answer : r.objective, r.expected, rel_tol);
    auto matches = [&](const auto& a) {
        return is_correct(a.status, a.answer ? a.answer : a.objective, r.expected, rel_tol);
    };
    if (r.readings)
        for (Reading& a : *r.readings) a.matches = a.explored && matches(a);
    if (r.what_if) {
        r.what_if->main.matches = matches(r.what_if->main);
        for (TableReading& a : r.what_if->alternatives) a.matches = matches(a);
    }
}

std::size_t changing_readings(const WhatIfTable& table) {
    return static_cast<std::size_t>(std::count_if(table.alternatives.begin(), table.alternatives.end(),
                                                  [](const TableReading& a) { return a.status && !a.same_answer; }));
}

bool right_among_readings(const Record& r) {
    if (r.correct) return true;
    return r.readings &&
           std::any_of(r.readings->begin(), r.readings->end(), [](const Reading& a) { return a.matches; });
}

std::vector<const Problem*> pending(const std::vector<Problem>& problems, const std::map<std::string, Record>& by_id) {
    std::vector<const Problem*> out;
    for (const Problem& p : problems)
        if (!by_id.count(p.key())) out.push_back(&p);
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
    if (recorded.execution_check != now.execution_check)
        return "the execution check " + yes_no(recorded.execution_check) + " instead of " + yes_no(now.execution_check);
    if (recorded.alignment != now.alignment)
        return "the alignment check " + yes_no(recorded.alignment) + " instead of " + yes_no(now.alignment);
    if (recorded.samples != now.samples)
        return std::to_string(recorded.samples) + " samples instead of " + std::to_string(now.samples);
    if (recorded.assumptions != now.assumptions)
        return "the assumptions step " + yes_no(recorded.assumptions) + " instead of " + yes_no(now.assumptions);
    if (recorded.what_if != now.what_if)
        return "the what-if step " + yes_no(recorded.what_if) + " instead of " + yes_no(now.what_if);
    if (recorded.what_if_max != now.what_if_max)
        return std::to_string(recorded.what_if_max) + " what-if requests instead of " + std::to_string(now.what_if_max);
    return "solver " + quoted(recorded.solver) + " instead of " + quoted(now.solver);
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
        auto found = by_id.find(p.key());
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
        r.problem_class = p.problem_class;
        judge(r, rel_tol);
        if (r.correct != recorded.correct || r.expected != recorded.expected ||
            r.problem_class != recorded.problem_class)
            plan.rejudged.push_back(p.key());
        plan.reused.emplace(p.key(), std::move(r));
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
    double iterations = 0, seconds = 0, calls = 0, repairs = 0;
    std::size_t counted_iterations = 0, counted_calls = 0;
    std::map<long long, Share> by_repeat;
    for (const Problem& p : problems) {
        s.repeats = std::max<std::size_t>(s.repeats, static_cast<std::size_t>(std::max(1LL, p.repeat)));
        if (!p.expected) ++s.without_reference;
        auto found = by_id.find(p.key());
        if (p.expected) ++by_repeat[p.repeat].total;
        if (found == by_id.end()) continue;
        const Record& r = found->second;
        ++s.attempted;
        s.correct += r.correct;
        if (p.expected) {
            by_repeat[p.repeat].correct += r.correct;
            if (!p.problem_class.empty()) {
                ++s.by_class[p.problem_class].total;
                s.by_class[p.problem_class].correct += r.correct;
            }
            if (r.samples > 1 && r.confidence) {
                Vote agreed;
                agreed.agreeing =
                    static_cast<std::size_t>(std::llround(*r.confidence * static_cast<double>(r.samples)));
                Share& share = s.by_agreement[std::string(agreement(agreed, static_cast<std::size_t>(r.samples)))];
                ++share.total;
                share.correct += r.correct;
            }
            if (r.assumptions) {
                Share& share = r.assumptions->empty() ? s.without_assumptions : s.with_assumptions;
                ++share.total;
                share.correct += r.correct;
            }
            if (r.readings) {
                ++s.among_readings.total;
                s.among_readings.correct += right_among_readings(r);
            }
        }
        if (r.what_if) {
            ++s.what_if_runs;
            s.changing_readings += changing_readings(*r.what_if);
        }
        s.compiled += r.compiled.value_or(false);
        s.solved += r.status == "optimal";
        s.errors += r.error.has_value();
        s.provider_errors += r.error.has_value() && r.provider_error;
        seconds += r.seconds;
        if (r.iterations) {
            iterations += static_cast<double>(*r.iterations);
            ++counted_iterations;
        }
        if (r.llm_calls) {
            calls += static_cast<double>(*r.llm_calls);
            repairs += static_cast<double>(r.repair_rounds.value_or(0));
            ++counted_calls;
        }
        if (r.tokens_in) s.tokens_in = s.tokens_in.value_or(0) + *r.tokens_in;
        if (r.tokens_out) s.tokens_out = s.tokens_out.value_or(0) + *r.tokens_out;
    }
    std::size_t judged = s.total - s.without_reference;
    s.accuracy = judged ? static_cast<double>(s.correct) / static_cast<double>(judged) : 0.0;
    if (s.repeats > 1) {
        for (const auto& [repeat, share] : by_repeat) s.accuracy_by_repeat.push_back(share.accuracy());
        double mean = 0, squares = 0;
        for (double a : s.accuracy_by_repeat) mean += a;
        mean /= static_cast<double>(s.accuracy_by_repeat.size());
        for (double a : s.accuracy_by_repeat) squares += (a - mean) * (a - mean);
        s.accuracy_std = s.accuracy_by_repeat.size() > 1
                             ? std::sqrt(squares / static_cast<double>(s.accuracy_by_repeat.size() - 1))
                             : 0.0;
    }
    if (counted_iterations) s.mean_iterations = iterations / static_cast<double>(counted_iterations);
    if (counted_calls) {
        s.mean_llm_calls = calls / static_cast<double>(counted_calls);
        s.mean_repair_rounds = repairs / static_cast<double>(counted_calls);
    }
    if (s.attempted) {
        s.mean_seconds = seconds / static_cast<double>(s.attempted);
        s.execution_rate = static_cast<double>(s.solved) / static_cast<double>(s.attempted);
    }
    return s;
}

std::string summary_json(const Summary& s, const RunSettings& run) {
    auto count = [](std::size_t n) { return std::to_string(n); };
    auto share_json = [](const Share& share) {
        return "{\"total\": " + std::to_string(share.total) + ", \"correct\": " + std::to_string(share.correct) +
               ", \"accuracy\": " + (share.total ? json::number(share.accuracy()) : std::string("null")) + "}";
    };
    std::string by_class = "{";
    for (const auto& [name, share] : s.by_class)
        by_class += (by_class.size() > 1 ? ", " : "") + json::quote(name) + ": " + share_json(share);
    by_class += "}";
    std::string by_agreement = "{";
    for (const auto& [name, share] : s.by_agreement)
        by_agreement += (by_agreement.size() > 1 ? ", " : "") + json::quote(name) + ": " + share_json(share);
    by_agreement += "}";
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
        {"execution_rate", optional_number(s.execution_rate)},
        {"mean_llm_calls", optional_number(s.mean_llm_calls)},
        {"mean_repair_rounds", optional_number(s.mean_repair_rounds)},
        {"tokens_in", s.tokens_in ? std::to_string(*s.tokens_in) : "null"},
        {"tokens_out", s.tokens_out ? std::to_string(*s.tokens_out) : "null"},
        {"by_class", by_class},
        {"by_agreement", by_agreement},
        {"with_assumptions", share_json(s.with_assumptions)},
        {"without_assumptions", share_json(s.without_assumptions)},
        {"with_numbers_not_in_description", share_json(s.with_assumptions)},
        {"without_numbers_not_in_description", share_json(s.without_assumptions)},
        {"dataset", json::quote(run.dataset)},
        {"provider", json::quote(run.provider)},
        {"model", json::quote(run.model)},
        {"iterations", std::to_string(run.iterations)},
        {"execution_check", run.execution_check ? "true" : "false"},
        {"rel_tol", json::number(run.rel_tol)},
    };
    if (s.repeats > 1) {
        std::string list = "[";
        for (std::size_t i = 0; i < s.accuracy_by_repeat.size(); ++i)
            list += (i ? ", " : "") + json::number(s.accuracy_by_repeat[i]);
        members.insert(members.begin() + 4, {"accuracy_std", optional_number(s.accuracy_std)});
        members.insert(members.begin() + 4, {"accuracy_by_repeat", list + "]"});
        members.insert(members.begin() + 4, {"repeats", count(s.repeats)});
    }
    // Written only for runs that listed assumptions, so other summaries stay as they were.
    if (s.what_if_runs) {
        double per = static_cast<double>(s.changing_readings) / static_cast<double>(s.what_if_runs);
        members.insert(members.begin() + 4,
                       {"readings_changing_answer", "{\"total\": " + count(s.changing_readings) +
                                                        ", \"problems\": " + count(s.what_if_runs) +
                                                        ", \"per_problem\": " + json::number(per) + "}"});
    }
    if (s.among_readings.total)
        members.insert(members.begin() + 4, {"right_among_readings", share_json(s.among_readings)});
    std::string out = "{\n";
    for (std::size_t i = 0; i < members.size(); ++i)
        out += "  \"" + std::string(members[i].first) + "\": " + members[i].second +
               (i + 1 < members.size() ? ",\n" : "\n");
    return out + "}\n";
}

std::string results_table(const std::vector<Problem>& problems, const std::map<std::string, Record>& by_id,
                          const Summary& s) {
    bool classes = !s.by_class.empty();
    std::vector<std::vector<std::string>> rows = {{"id"}};
    if (classes) rows[0].push_back("class");
    for (const char* name : {"expected", "objective", "status", "correct", "iterations", "calls", "assumed", "seconds"})
        rows[0].push_back(name);
    for (const Problem& p : problems) {
        auto found = by_id.find(p.key());
        const Record* r = found == by_id.end() ? nullptr : &found->second;
        char seconds[32] = "-";
        if (r) std::snprintf(seconds, sizeof seconds, "%.1f", r->seconds);
        std::string word = !r ? "-" : !p.expected ? "no_reference" : r->correct ? "yes" : "no";
        std::vector<std::string> row = {clipped(p.repeat > 1 ? p.key() : p.id, 40)};
        if (classes) row.push_back(clipped(p.problem_class.empty() ? "-" : p.problem_class, 24));
        for (std::string cell :
             {figure(p.expected), r ? figure(r->objective) : "-", outcome_word(r), word,
              r && r->iterations ? std::to_string(*r->iterations) : "-",
              r && r->llm_calls ? std::to_string(*r->llm_calls) : "-",
              r && r->assumptions ? std::to_string(r->assumptions->size()) : "-", std::string(seconds)})
            row.push_back(std::move(cell));
        rows.push_back(std::move(row));
    }
    std::size_t first_figure = classes ? 2 : 1;  // expected, objective: right-aligned with the counts
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], width_of(row[c]));
    std::string out;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            bool text_column = c < first_figure || c == first_figure + 2 || c == first_figure + 3;
            std::string pad(widths[c] - width_of(row[c]), ' ');
            line += (c ? "  " : "") + (text_column ? row[c] + pad : pad + row[c]);
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out += line + "\n";
    }
    std::size_t judged = s.total - s.without_reference;
    char figures[512];
    std::snprintf(figures, sizeof figures,
                  "\nCorrect %zu of %zu (accuracy %.1f%%); compiled %zu, solved %zu, errors %zu, not run %zu.\n",
                  s.correct, judged, 100.0 * s.accuracy, s.compiled, s.solved, s.errors, s.total - s.attempted);
    out += figures;
    if (s.accuracy_std) {
        std::snprintf(figures, sizeof figures, "Accuracy over %zu repeats: %.1f%% +- %.1f%% (standard deviation).\n",
                      s.repeats, 100.0 * s.accuracy, 100.0 * *s.accuracy_std);
        out += figures;
    }
    for (const auto& [name, share] : s.by_agreement) {
        std::snprintf(figures, sizeof figures, "Samples %s: %zu of %zu (%.1f%%)\n", name.c_str(), share.correct,
                      share.total, 100.0 * share.accuracy());
        out += figures;
    }
    for (const auto& [name, share] : s.by_class) {
        std::snprintf(figures, sizeof figures, "  %s: %zu of %zu (%.1f%%)\n", clipped(name, 40).c_str(), share.correct,
                      share.total, 100.0 * share.accuracy());
        out += figures;
    }
    auto share_text = [](const Share& share) {
        char text[96];
        std::snprintf(text, sizeof text, "%zu of %zu (%.1f%%)", share.correct, share.total, 100.0 * share.accuracy());
        return std::string(text);
    };
    if (s.with_assumptions.total || s.without_assumptions.total)
        out += "With numbers not in the description: " + share_text(s.with_assumptions) +
               "; without: " + share_text(s.without_assumptions) + ".\n";
    if (s.among_readings.total) out += "Right answer among the shown readings: " + share_text(s.among_readings) + ".\n";
    if (s.what_if_runs) {
        std::snprintf(figures, sizeof figures,
                      "Readings that change the answer: %zu over %zu problems (%.2f per problem).\n",
                      s.changing_readings, s.what_if_runs,
                      static_cast<double>(s.changing_readings) / static_cast<double>(s.what_if_runs));
        out += figures;
    }
    if (s.mean_iterations || s.mean_seconds) {
        std::snprintf(figures, sizeof figures, "Mean iterations %s, mean seconds per problem %s.\n",
                      s.mean_iterations ? figure(std::round(*s.mean_iterations * 100) / 100).c_str() : "-",
                      s.mean_seconds ? figure(std::round(*s.mean_seconds * 100) / 100).c_str() : "-");
        out += figures;
    }
    if (s.execution_rate || s.mean_llm_calls) {
        std::snprintf(figures, sizeof figures,
                      "Execution rate %s%%; mean LLM calls %s, mean repair rounds %s per problem.\n",
                      s.execution_rate ? figure(std::round(*s.execution_rate * 1000) / 10).c_str() : "-",
                      s.mean_llm_calls ? figure(std::round(*s.mean_llm_calls * 100) / 100).c_str() : "-",
                      s.mean_repair_rounds ? figure(std::round(*s.mean_repair_rounds * 100) / 100).c_str() : "-");
        out += figures;
    }
    if (s.tokens_in || s.tokens_out)
        out += "Tokens in " + (s.tokens_in ? std::to_string(*s.tokens_in) : std::string("-")) + ", out " +
               (s.tokens_out ? std::to_string(*s.tokens_out) : std::string("-")) + ".\n";
    if (s.provider_errors)
        out += std::to_string(s.provider_errors) +
               " failed with provider errors (the provider was down, slow or unreachable); a run with the same "
               "--out tries them again.\n";
    if (s.retried) out += "Tried " + std::to_string(s.retried) + " problems again after provider errors.\n";
    if (s.without_reference)
        out += std::to_string(s.without_reference) +
               " problems have no usable reference objective (no_reference): left out of the accuracy.\n";
    if (s.rerun == 1) out += "Ran 1 problem again: its record was for another question or run.\n";
    if (s.rerun > 1)
        out += "Ran " + std::to_string(s.rerun) + " problems again: their records were for another question or run.\n";
    return out;
}

}  // namespace tarvok::evaluation
