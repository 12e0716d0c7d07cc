#include "evaluation/settings.hpp"

#include "common/sha256.hpp"
#include "evaluation/runner.hpp"

#include <cmath>

namespace tarvok::evaluation {

namespace {

std::optional<Refusal> count_refusal(const char* parameter, std::optional<long long> value, long long least) {
    if (!value || *value >= least) return std::nullopt;
    return Refusal{parameter, "at least " + std::to_string(least)};
}

std::optional<Refusal> fields_refusal(Arguments& a) {
    for (const auto& [key, field] : a.fields) {
        if (!field || field->empty()) return Refusal{"fields", "a map of field names (non-empty texts)"};
        if (!assign_field(a.settings.fields, key, *field))
            return Refusal{"fields", "a map with the keys 'question', 'answer', 'id' and 'class'"};
    }
    return std::nullopt;
}

}  // namespace

std::optional<Refusal> check_arguments(Arguments& a) {
    Settings& s = a.settings;
    for (auto refusal : {count_refusal("jobs", s.jobs, 1), count_refusal("iterations", s.iterations, 1)})
        if (refusal) return refusal;
    if (!(s.rel_tol >= 0) || !std::isfinite(s.rel_tol)) return Refusal{"rel_tol", "a finite number, at least 0"};
    for (auto refusal : {count_refusal("limit", s.limit, 1), count_refusal("stop_after_errors", s.stop_after_errors, 0),
                         count_refusal("repeat", s.repeat, 1), count_refusal("samples", s.samples, 1)})
        if (refusal) return refusal;
    if (auto refusal = fields_refusal(a)) return refusal;
    // The transcripts to answer from must lie apart from the output folder:
    // each problem's transcript there is written afresh.
    if (a.replay) {
        const auto& [path, out_dir, common] = *a.replay;
        if (common == out_dir || common == path)
            return Refusal{"replay", "apart from the output folder, whose transcripts the run rewrites"};
    }
    if (auto refusal = count_refusal("what_if_max", s.what_if_max, 0)) return refusal;
    s.assumptions = s.assumptions || s.what_if;
    bool known = false;
    for (const std::string& name : a.solvers) known = known || (a.solver && *a.solver == name);
    if (!known) return Refusal{"solver", a.solver_choices};
    s.solver = *a.solver;
    return std::nullopt;
}

const std::vector<LoopKeyword>& loop_keywords() {
    using data::Value;
    static const std::vector<LoopKeyword> keywords{
        {"model_name", "model", std::nullopt},
        {"iterations", "iterations", std::nullopt},
        {"llm_provider", "provider", std::nullopt},
        {"few_shot_library", "few_shot_library", std::nullopt},
        {"execution_check", "execution_check", std::nullopt},
        {"timeout", "timeout", std::nullopt},
        {"replay", "replay", Value::null()},
        {"alignment_check", "alignment_check", Value::null()},
        {"assumptions", "assumptions", Value::of(false)},
        {"what_if", "what_if", Value::of(false)},
        {"what_if_max", "what_if_max", Value::of(std::int64_t{3})},
        {"solver", "solver", Value::of("highs")},
        {"embedding_model", "embedding_model", Value::null()},
    };
    return keywords;
}

std::string parsed_name(std::string_view argument) {
    std::string name(argument.substr(argument.starts_with("--") ? 2 : 0));
    for (char& c : name) c = c == '-' ? '_' : c;
    return name;
}

namespace {

template <typename T>
std::optional<T> parsed_value(const ParsedArguments& parsed, const std::string& name) {
    auto found = parsed.find(name);
    if (found == parsed.end()) return std::nullopt;
    return std::get<T>(found->second);
}

}  // namespace

CommandOptions command_options(const ParsedArguments& parsed) {
    CommandOptions o;
    for (auto [name, option] : kCountOptions) o.counts.emplace_back(option, parsed_value<long long>(parsed, name));
    o.rel_tol = parsed_value<double>(parsed, "rel_tol").value_or(1e-4);
    o.timeout = parsed_value<double>(parsed, "timeout");
    o.provider = parsed_value<std::string>(parsed, "provider");
    o.replay = parsed_value<std::string>(parsed, "replay");
    o.stop_after_errors = parsed_value<long long>(parsed, "stop_after_errors").value_or(3);
    o.what_if_max = parsed_value<long long>(parsed, "what_if_max").value_or(3);
    for (auto [key, name] : kFieldOptions)
        if (auto field = parsed_value<std::string>(parsed, name)) o.fields.emplace_back(key, *field);
    return o;
}

Arguments command_arguments(const ParsedArguments& parsed) {
    auto flag = [&](const char* name) { return parsed_value<bool>(parsed, name).value_or(false); };
    auto count = [&](const char* name) { return parsed_value<long long>(parsed, name); };
    Arguments a;
    Settings& s = a.settings;
    s.provider = parsed.contains("replay") ? "replay" : parsed_value<std::string>(parsed, "provider");
    s.model = parsed_value<std::string>(parsed, "model");
    s.jobs = count("jobs").value_or(s.jobs);
    s.iterations = count("iterations");
    if (flag("execution_check")) s.execution_check = true;
    s.rel_tol = parsed_value<double>(parsed, "rel_tol").value_or(s.rel_tol);
    s.limit = count("limit");
    s.force = flag("force");
    s.retry_errors = !flag("no_retry_errors");
    s.stop_after_errors = count("stop_after_errors").value_or(s.stop_after_errors);
    s.repeat = count("repeat").value_or(s.repeat);
    s.samples = count("samples").value_or(s.samples);
    if (flag("no_alignment")) s.alignment_check = false;
    s.assumptions = flag("assumptions");
    s.what_if = flag("what_if");
    s.what_if_max = count("what_if_max").value_or(s.what_if_max);
    s.timeout = parsed_value<double>(parsed, "timeout");  // an option of the loop's calls
    for (auto [key, name] : kFieldOptions)
        if (auto field = parsed_value<std::string>(parsed, name)) a.fields.emplace_back(key, field);
    a.solver = parsed_value<std::string>(parsed, "solver");
    return a;
}

std::string refusal_text(const Refusal& r, const std::string& shown) {
    return "run_evaluation() argument '" + r.parameter + "' must be " + r.needs + ", not " + shown;
}

RunKey run_key(const Settings& s, bool execution_check, bool alignment) {
    return {s.provider_name,
            s.model.value_or(""),
            s.iterations.value_or(0),
            execution_check,
            alignment,
            s.samples,
            s.assumptions,
            s.what_if,
            s.what_if ? s.what_if_max : 3,
            s.solver};
}

Format format_of(std::string_view path) {
    std::string_view name = path.substr(path.find_last_of('/') + 1);
    name.remove_prefix(std::min(name.find_first_not_of('.'), name.size()));  // a leading dot starts no extension
    std::string extension(name.substr(std::min(name.rfind('.'), name.size())));
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".csv" ? Format::Csv : Format::Json;
}

Dataset load_dataset(std::string_view bytes, const std::string& path, const Settings& settings) {
    Dataset dataset;
    try {
        dataset = read_dataset(bytes, settings.fields, format_of(path));
    } catch (const DatasetError& e) {
        throw DatasetError("cannot use data set " + path + ": " + e.what());
    }
    cut_and_repeat(dataset.problems, settings.limit, settings.repeat);
    for (Problem& p : dataset.problems) p.question_hash = sha256_hex(p.description);
    return dataset;
}

std::string accuracy_postfix(std::size_t correct, std::size_t judged) {
    return "accuracy " + std::to_string(correct) + "/" + std::to_string(judged);
}

std::string final_model_line(const std::string& status, const std::string& objective) {
    return "Final model: " + status + ", objective " + objective;
}

SolverNeed solver_need(const std::string& solver) {
    if (solver == "highs") return {"tarvok eval solves every final model with HiGHS and", "eval"};
    return {"--solver " + solver, std::nullopt};
}

std::string few_shot_line(const std::string& library) { return "tarvok eval: few-shot examples from " + library; }

std::string results_line(const std::string& results_path, const std::string& summary_path) {
    return "tarvok eval: results in " + results_path + ", summary in " + summary_path;
}

std::string cannot_write(const std::string& out_dir, const std::string& reason) {
    return "cannot write to " + out_dir + ": " + reason;
}

std::string no_usable_problem(const std::string& dataset) { return "no usable problem in " + dataset; }

std::string replay_inside_out(const std::string& replay) {
    return "--replay " + replay + " and --out must not hold one another: the run rewrites the transcripts of --out";
}

std::string command_error_line(const std::string& message) { return "tarvok eval: " + message; }

std::optional<CommandFailure> command_failure(Step step, Raised raised, const std::string& text,
                                              const std::string& out_dir, const std::optional<std::string>& replay) {
    using enum Raised;
    auto usage = [](std::string message) { return CommandFailure{ExitStatus::Usage, std::move(message)}; };
    switch (step) {
    case Step::Settings:  // the options were checked: only the replay folder can be refused
        if (raised == Value && replay) return usage(replay_inside_out(*replay));
        break;
    case Step::Dataset:
        if (raised == Value || raised == OS) return usage(text);
        break;
    case Step::Provider:  // its client could not be made
        if (raised != NotOrdinary) return CommandFailure{ExitStatus::LlmFailure, text};
        break;
    case Step::Solver:
        if (raised == Import) return usage(text);
        break;
    case Step::Prepare:
    case Step::Run:
        if (raised == OS) return usage(cannot_write(out_dir, text));
        if (step == Step::Prepare && (raised == Runtime || raised == Value)) return usage(text);
        break;
    }
    return std::nullopt;
}

}  // namespace tarvok::evaluation
