#include "cli/solve_outcome.hpp"

#include "generative/workflow.hpp"

namespace tarvok::cli {

bool unsolvable(const SolveFacts& f) {
    const std::string& s = f.solver_status;
    return f.execution_check && f.compiled &&
           (s == "infeasible" || s == "unbounded" || s == "infeasible_or_unbounded" || s == "error");
}

ExitStatus loop_status(const SolveFacts& f) {
    if (!f.compiled) return ExitStatus::DoesNotCompile;
    if (unsolvable(f)) return ExitStatus::NotOptimal;
    if (f.alignment && !f.aligned) return ExitStatus::NotAligned;
    return ExitStatus::Success;
}

ExitStatus with_run_and_emit(ExitStatus loop, std::optional<int> run_status, std::optional<int> emit_status) {
    if (run_status && *run_status != 0) return static_cast<ExitStatus>(*run_status);
    if (emit_status && *emit_status != 0) return static_cast<ExitStatus>(*emit_status);
    return loop;
}

std::string closing_line(const SolveFacts& f, const SolvePlaces& p) {
    if (!f.compiled)
        return "the final model does not compile; " + p.model_file + " and " + p.data_file +
               (p.existed ? " are unchanged" : " were not written") + "; the last attempt is in " + p.kept;
    if (unsolvable(f))
        return "the final model compiles but the execution check found it " + f.solver_status + "; it is in " +
               p.placed;
    if (f.alignment && !f.aligned)
        return "the model compiles but was never judged aligned with the description; it is in " + p.placed;
    return "";
}

std::vector<std::string> statistics_lines(const SolveFacts& f, const SolveStatistics& stats) {
    std::vector<std::string> lines{"iterations: " + stats.iterations,
                                   "syntax errors: " + std::to_string(stats.syntax_errors.size())};
    lines.insert(lines.end(), stats.syntax_errors.begin(), stats.syntax_errors.end());
    lines.push_back(std::string("compiled: ") + (f.compiled ? "yes" : "no"));
    if (f.execution_check) {
        lines.push_back("solver status: " + stats.solver_status);
        lines.push_back("objective: " + stats.objective);
    }
    lines.push_back(std::string("aligned: ") + (!f.alignment ? "not checked" : f.aligned ? "yes" : "no"));
    lines.push_back("model: " + stats.model_file);
    lines.push_back("data: " + stats.data_file);
    lines.push_back("");
    return lines;
}

std::vector<std::string> grounding_lines(const generative::grounding::Report& report, bool with_assumptions) {
    namespace grounding = generative::grounding;
    std::vector<std::string> lines;
    auto block = [&](const char* heading, const std::vector<grounding::Finding>& findings) {
        lines.push_back("");
        lines.push_back(heading);
        for (const grounding::Finding& f : findings) lines.push_back("  " + grounding::finding_text(f));
    };
    if (!report.assumptions.empty() && !with_assumptions)
        block("Assumptions (numbers of the data file that the description does not give):", report.assumptions);
    if (!report.conversions.empty()) block("Numbers of the description in another form:", report.conversions);
    return lines;
}

data::Value findings_value(const std::vector<generative::grounding::Finding>& findings) {
    namespace grounding = generative::grounding;
    data::Value out = data::Value::array();
    for (const grounding::Finding& f : findings) {
        data::Value one = data::Value::object({{"value", data::Value::of(f.text)},
                                               {"line", data::Value::of(static_cast<int64_t>(f.line))},
                                               {"text", data::Value::of(f.line_text)}});
        if (f.match != grounding::Match::Assumed) {
            one.members().emplace_back(
                "kind", data::Value::of(f.match == grounding::Match::Percentage ? "percentage" : "scaled"));
            one.members().emplace_back("source", data::Value::of(f.source));
            one.members().emplace_back("power", data::Value::of(static_cast<int64_t>(f.power)));
        }
        out.items().push_back(std::move(one));
    }
    return out;
}

std::optional<std::string> solver_needed_for(bool execution_check, bool what_if, long long samples) {
    if (execution_check) return "--execution-check solves models with HiGHS and";
    if (what_if) return "--what-if solves every alternative model with HiGHS and";
    if (samples > 1) return "--samples solves every final model with HiGHS and";
    return std::nullopt;
}

namespace {

void add_assumptions(std::vector<ReportLine>& out, const SolveText& t) {
    auto say = [&](std::string line) { out.push_back({std::move(line)}); };
    if (t.assumptions_error) out.push_back({"tarvok: " + *t.assumptions_error, true});
    if (!t.assumptions) return;
    say(t.assumptions->empty() ? "\nAssumptions: none listed"
                               : "\nAssumptions (where the description is silent or ambiguous):");
    for (std::string& line : assumption_lines(*t.assumptions)) say(std::move(line));
    if (!t.what_if) return;
    say("\nWhat if (the answer under each reading):");
    for (std::string& line : what_if_lines(*t.what_if)) say(std::move(line));
}

}  // namespace

std::vector<ReportLine> solve_report(const SolveText& t) {
    std::vector<ReportLine> out;
    auto say = [&](std::string line) { out.push_back({std::move(line)}); };
    auto warn = [&](std::string line) { out.push_back({std::move(line), true}); };
    if (t.statistics)
        for (std::string& line : statistics_lines(t.facts, *t.statistics)) say(std::move(line));
    say(t.assessment);
    if (t.vote && !t.vote->objective) say("\nconfidence: 0 (no sample's final model solved to optimality)");
    if (t.vote && t.vote->objective)
        say("\nconfidence: " + t.vote->share + " (" + std::to_string(t.vote->agreeing) + " of " +
            std::to_string(t.vote->samples) + " samples reach the objective " + *t.vote->objective + ")");
    if (t.with_assumptions) add_assumptions(out, t);
    for (std::string& line : grounding_lines(t.grounding, t.with_assumptions)) say(std::move(line));
    if (t.run) {
        say("");
        say(*t.run);
    }
    if (t.emit && t.emit->status == 0) warn(t.emit->written);
    if (t.emit && t.emit->status == code(ExitStatus::Usage)) warn("tarvok: " + t.emit->failure);
    if (t.emit && t.emit->status != 0 && t.emit->status != code(ExitStatus::Usage) && !t.run)
        say("\n" + t.emit->diagnostics);
    if (!t.facts.compiled && !t.statistics && t.final_errors) say("\n" + *t.final_errors);
    if (!t.outcome.empty()) warn("tarvok: " + t.outcome);
    return out;
}

namespace {

data::Value member(const data::Value& object, std::string_view key) {
    const data::Value* found = object.find(key);
    return found ? *found : data::Value::null();
}

bool is_null(const data::Value& v) { return v.kind() == data::Value::Kind::Null; }

/// What the host writes for a scalar; "" for none.
std::string text_or_empty(const data::Value& v) { return is_null(v) ? "" : json::str(v); }

std::string first_line_of(const std::string& text) { return text.substr(0, text.find('\n')); }

ShownReading reading_of(const data::Value& entry) {
    return {text_or_empty(member(entry, "status")), text_or_empty(member(entry, "objective")),
            text_or_empty(member(entry, "answer"))};
}

ShownTable table_of(const SolveReport& r) {
    const data::Value& table = r.what_if_table;
    ShownTable shown{reading_of(member(table, "main")), {}, member(table, "unexplored").integer(), r.what_if_max};
    data::Value alternatives = member(table, "alternatives");
    for (const data::Value& alt : alternatives.items()) {
        const data::Value errors = member(alt, "errors");
        bool written = !is_null(member(alt, "model_file"));
        shown.alternatives.push_back(
            {text_or_empty(member(alt, "alternative")), member(alt, "compiled").boolean(),
             errors.items().empty() ? "" : first_line_of(errors.items().front().text()), reading_of(alt),
             written ? generative::workflow::alternative_path(r.model_file_given, member(alt, "index").integer()) : "",
             member(alt, "same_answer").boolean()});
    }
    return shown;
}

void add_assumptions(SolveText& t, const SolveReport& r) {
    if (!is_null(r.assumptions_error)) t.assumptions_error = first_line_of(r.assumptions_error.text());
    if (is_null(r.assumptions)) return;
    t.assumptions.emplace();
    for (const data::Value& a : r.assumptions.items())
        t.assumptions->push_back({text_or_empty(member(a, "assumption")), text_or_empty(member(a, "alternative")),
                                  text_or_empty(member(a, "where")), text_or_empty(member(a, "kind"))});
    if (r.what_if && !is_null(r.what_if_table)) t.what_if = table_of(r);
}

SolveStatistics statistics_of(const SolveReport& r) {
    const data::Value& stats = r.statistics;
    bool compiled = r.facts.compiled;
    SolveStatistics shown{json::str(member(stats, "iterations")), {}, "", "", compiled ? r.model_file : r.kept_model,
                          compiled ? r.data_file : r.kept_data};
    data::Value syntax_errors = member(stats, "syntax_errors");
    for (const data::Value& error : syntax_errors.items()) shown.syntax_errors.push_back(error.text());
    if (r.facts.execution_check) {
        shown.solver_status = json::str(member(stats, "solver_status"));
        shown.objective = json::str(member(stats, "objective"));
    }
    return shown;
}

data::Value path_or_null(const std::string& path) { return path.empty() ? data::Value::null() : data::Value::of(path); }

}  // namespace

KeptAlternatives kept_alternatives(data::Value table, const std::string& model_target, const std::string& data_target) {
    auto field = [](data::Value& object, std::string_view key) -> data::Value* {
        if (object.kind() != data::Value::Kind::Object) return nullptr;
        for (auto& [name, value] : object.members())
            if (name == key) return &value;
        return nullptr;
    };
    KeptAlternatives kept;
    data::Value* alternatives = field(table, "alternatives");
    std::size_t item = 0;
    json::Items none;
    for (data::Value& alt :
         alternatives && alternatives->kind() == data::Value::Kind::Array ? alternatives->items() : none) {
        data::Value *model = field(alt, "model_file"), *data = field(alt, "data_file"), *index = field(alt, "index");
        ++item;
        if (!model || is_null(*model)) continue;
        long long k = index ? index->integer() : 0;
        kept.moves.push_back({model->text(), data ? data->text() : "",
                              generative::workflow::alternative_path(model_target, k),
                              generative::workflow::alternative_path(data_target, k), item - 1});
        *model = data::Value::of(kept.moves.back().model_to);
        if (data) *data = data::Value::of(kept.moves.back().data_to);
    }
    kept.table = std::move(table);
    return kept;
}

void KeptAlternatives::unwritten(const AlternativeMove& move) {
    if (table.kind() != data::Value::Kind::Object) return;
    for (auto& [name, alternatives] : table.members()) {
        if (name != "alternatives" || move.item >= alternatives.size()) continue;
        for (auto& [key, value] : alternatives.items()[move.item].members())
            if (key == "model_file" || key == "data_file") value = data::Value::null();
    }
}

std::vector<ReportLine> solve_report(const SolveReport& r) {
    SolveText t{.facts = r.facts,
                .assessment = r.assessment,
                .with_assumptions = r.with_assumptions,
                .grounding = r.grounding,
                .outcome = r.outcome};
    if (r.stats) t.statistics = statistics_of(r);
    t.vote = r.vote;
    if (r.with_assumptions) add_assumptions(t, r);
    t.run = r.run;
    t.emit = r.emit;
    if (!r.facts.compiled && !r.syntax_errors.items().empty()) t.final_errors = r.syntax_errors.items().front().text();
    return solve_report(t);
}

data::Value solve_json(const SolveReport& r, std::vector<std::string>& warnings) {
    using data::Value;
    const SolveFacts& f = r.facts;
    Value out = Value::object({{"model_file", Value::of(r.model_file)},
                               {"data_file", Value::of(r.data_file)},
                               {"iterations", member(r.statistics, "iterations")},
                               {"syntax_errors", member(r.statistics, "syntax_errors")},
                               {"assessment", member(r.statistics, "assessment")},
                               {"compiled", Value::of(f.compiled)}});
    // A key set again keeps its place and takes the new value, as in the host's dict.
    auto add = [&](const char* key, Value value) {
        for (auto& [name, held] : out.members())
            if (name == key) return void(held = std::move(value));
        out.members().emplace_back(key, std::move(value));
    };
    if (f.execution_check) {
        add("solver_status", member(r.statistics, "solver_status"));
        add("objective", member(r.statistics, "objective"));
    }
    add("aligned", f.alignment ? Value::of(f.aligned) : Value::null());
    if (r.with_assumptions) {
        add("assumptions", r.assumptions);
        add("assumptions_error", r.assumptions_error);
        if (r.what_if) add("what_if", r.what_if_table);
    } else {
        add("assumptions", f.compiled ? findings_value(r.grounding.assumptions) : Value::null());
    }
    add("conversions", f.compiled ? findings_value(r.grounding.conversions) : Value::null());
    if (r.vote) {
        add("samples", Value::of(static_cast<int64_t>(r.vote->samples)));
        add("confidence", Value::of(r.confidence));
        add("objective", r.voted ? Value::of(*r.voted) : Value::null());
    }
    add("status", Value::of(static_cast<int64_t>(code(r.status))));
    if (!f.compiled) {
        add("failed_model_file", path_or_null(r.kept_model));
        add("failed_data_file", path_or_null(r.kept_data));
    }
    if (r.run_json) add("run", *r.run_json);
    if (r.emitted) add("emitted", *r.emitted);
    if (r.emit && r.emit->status == code(ExitStatus::Usage)) warnings.push_back("tarvok: " + r.emit->failure);
    if (!r.outcome.empty()) warnings.push_back("tarvok: " + r.outcome);
    return out;
}

int show_solve(const Output& out, const SolveReport& report, bool json) {
    if (json) {
        std::vector<std::string> warnings;
        out.say_json(solve_json(report, warnings));
        for (const std::string& line : warnings) out.warn(line);
    } else {
        for (const ReportLine& line : solve_report(report)) line.to_stderr ? out.warn(line.text) : out.say(line.text);
    }
    return code(report.status);
}

}  // namespace tarvok::cli
