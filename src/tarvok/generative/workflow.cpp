#include "generative/workflow.hpp"

#include "common/files.hpp"
#include "common/json.hpp"
#include "common/utf8.hpp"
#include "generative/grounding.hpp"
#include "generative/result_values.hpp"
#include "generative/server_text.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>

namespace tarvok::generative::workflow {

std::string_view step_name(Step step) {
    switch (step) {
    case Step::Generate: return "generate";
    case Step::Repair: return "repair";
    case Step::Align: return "align";
    case Step::Realign: return "realign";
    case Step::Execution: return "execution";
    case Step::Assess: return "assess";
    case Step::Feedback: return "feedback";
    case Step::Assumptions: return "assumptions";
    case Step::WhatIf: return "what_if";
    }
    return "generate";
}

std::string_view event_name(EventKind kind) {
    switch (kind) {
    case EventKind::Started: return "started";
    case EventKind::ExecutionCheckOn: return "execution_check_on";
    case EventKind::Iteration: return "iteration";
    case EventKind::ReplyParsed: return "reply_parsed";
    case EventKind::Compiling: return "compiling";
    case EventKind::FilesWritten: return "files_written";
    case EventKind::Solving: return "solving";
    case EventKind::ExecutionFailed: return "execution_failed";
    case EventKind::ExecutionPassed: return "execution_passed";
    case EventKind::ExecutionInconclusive: return "execution_inconclusive";
    case EventKind::AlignmentOff: return "alignment_off";
    case EventKind::CheckingAlignment: return "checking_alignment";
    case EventKind::Aligned: return "aligned";
    case EventKind::NotAligned: return "not_aligned";
    case EventKind::CompileFailed: return "compile_failed";
    case EventKind::FinalAssessment: return "final_assessment";
    case EventKind::Complete: return "complete";
    case EventKind::FeedbackRequested: return "feedback_requested";
    case EventKind::FeedbackReceived: return "feedback_received";
    case EventKind::Request: return "request";
    case EventKind::Reply: return "reply";
    case EventKind::Assumptions: return "assumptions";
    case EventKind::AssumptionsListed: return "assumptions_listed";
    case EventKind::AssumptionsInvalid: return "assumptions_invalid";
    case EventKind::WhatIf: return "what_if";
    case EventKind::WhatIfSolved: return "what_if_solved";
    case EventKind::WhatIfFailed: return "what_if_failed";
    case EventKind::WhatIfBudget: return "what_if_budget";
    }
    return "started";
}

std::string trimmed(std::string_view text) { return std::string(utf8::strip_host_space(text)); }

namespace {

/// The module function building each step's prompt, and whether the run's
/// examples go with it (the prompts that ask for a pair show them).
struct PromptBuilderRow {
    Step step;
    std::string_view builder;
    bool few_shots;
};

constexpr PromptBuilderRow kPromptBuilders[] = {
    {Step::Generate, "_build_generation_prompt", true},
    {Step::Repair, "_build_revision_prompt_syntax", true},
    {Step::Align, "_build_alignment_prompt", false},
    {Step::Realign, "_build_revision_prompt_alignment", true},
    {Step::Execution, "_build_revision_prompt_execution", true},
    {Step::Assess, "_build_final_assessment_prompt", false},
    {Step::Feedback, "_build_feedback_prompt", false},
    {Step::Assumptions, "_build_assumptions_prompt", false},
    {Step::WhatIf, "_build_what_if_prompt", false},
};

/// A pair's model and data, then `more`.
std::vector<PromptValue> pair_then(const Pair& pair, std::vector<PromptValue> more = {}) {
    more.insert(more.begin(), {PairText{&pair, false}, PairText{&pair, true}});
    return more;
}

}  // namespace

PromptRequest prompt_request(Step step, std::vector<PromptValue> arguments) {
    for (const PromptBuilderRow& row : kPromptBuilders) {
        if (row.step == step) return {step, row.builder, std::move(arguments), row.few_shots};
    }
    throw std::logic_error("no prompt builder for the step " + std::string(step_name(step)));
}

std::string Steps::write_alternative(const Pair&, long long) {
    throw std::logic_error("these steps do not write alternatives");
}

const ExecutionOutcome* final_solve(const Result& result) {
    if (result.execution) return &*result.execution;
    return result.main_execution ? &*result.main_execution : nullptr;
}

CompileOutcome refused_compile(bool diagnosed, std::string_view kind, std::string_view text) {
    CompileOutcome out;
    out.diagnosed = diagnosed;
    out.errors.push_back(diagnosed ? std::string(text) : std::string(kind) + ": " + std::string(text));
    return out;
}

bool same_answer(const ExecutionOutcome& a, const ExecutionOutcome& b) {
    if (a.verdict.status != b.verdict.status) return false;
    std::optional<double> x = a.answer ? a.answer : a.objective, y = b.answer ? b.answer : b.objective;
    if (!x || !y) return !x && !y;
    return std::abs(*x - *y) <= 1e-6 * std::max(1.0, std::abs(*y));
}

std::string alternative_path(std::string_view path, long long index) {
    std::size_t name = path.find_last_of("/\\");
    name = name == std::string_view::npos ? 0 : name + 1;
    std::size_t dot = path.rfind('.');
    // A leading dot names a hidden file, not an extension.
    if (dot == std::string_view::npos || dot <= name) dot = path.size();
    return std::string(path.substr(0, dot)) + ".alt" + std::to_string(index) + std::string(path.substr(dot));
}

std::vector<Assumption> invented_numbers(std::string_view description, std::string_view data) {
    std::vector<Assumption> out;
    for (const grounding::Finding& f : grounding::ground(description, data).assumptions) {
        out.push_back({"the data file sets " + f.text + ", a number the description does not give",
                       "a value the description states or implies",
                       "data line " + std::to_string(f.line) + ": " + f.line_text, "invented_data"});
    }
    return out;
}

namespace {

/// Makes `folder` and the folders above it that are missing, as the host's
/// os.makedirs(folder, exist_ok=True) does; a FileError names the first one
/// that could not be made, as it does.
void make_folders(const std::filesystem::path& folder) {
    std::filesystem::path head = folder.parent_path();
    std::error_code unknown;
    if (!head.empty() && head != folder && !std::filesystem::exists(head, unknown)) {
        try {
            make_folders(head);
        } catch (const files::FileError& e) {
            if (e.error_number() != EEXIST) throw;  // made meanwhile, or no folder: the mkdir below says which
        }
    }
    if (::mkdir(folder.c_str(), 0777) == 0) return;
    int error = errno;
    if (!std::filesystem::is_directory(folder, unknown)) throw files::FileError(error, folder);
}

}  // namespace

void Transcript::record(const Exchange& exchange) {
    tarvok::json::Value line = exchange_value(exchange);
    // As UTF-8; a text that is no valid Unicode (a lone surrogate) is escaped instead.
    std::string text = tarvok::json::write(line, {.ensure_ascii = false});
    if (!utf8::is_valid(text)) text = tarvok::json::write(line);
    text += "\n";
    blocking_([&] {
        if (std::filesystem::path folder = file_.parent_path(); !folder.empty()) make_folders(folder);
        files::append_whole(file_, text, existing_);
    });
}

std::string RecordingClient::generate(const std::string& prompt, const RequestOptions& options) {
    auto start = std::chrono::steady_clock::now();
    std::string reply = inner_.generate(prompt, options);
    Exchange exchange{provider_, model_, options.step, prompt, reply, options.temperature, inner_.last_usage(), 0};
    exchange.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    transcript_.record(exchange);
    return reply;
}

namespace {

/// Solver statuses after which a compiling pair is revised: the model itself
/// is at fault. A time limit is not among them (see the loop).
bool is_execution_failure(const std::string& status) {
    return status == "infeasible" || status == "unbounded" || status == "infeasible_or_unbounded" || status == "error";
}

/// A reply as a message shows it: bounded, without the run's keys.
std::string shown(std::string_view reply, const std::vector<std::string>& keys) {
    std::vector<std::string_view> views(keys.begin(), keys.end());
    return shown_server_text(reply, views);
}

/// The temperature of the judging requests: fixed when the caller chose one,
/// none (the model's default) when not.
std::optional<double> judging(std::optional<double> caller, double fixed) {
    return caller ? std::optional<double>(fixed) : std::nullopt;
}

/// One run of the loop: its settings, its services and where it stands.
class Loop {
  public:
    Loop(const Run& run, Services services) : run_(run), s_(services) {}

    Result run() {
        say(EventKind::Started, "Generating with provider=" + run_.provider + " model=" + run_.model + " iterations=" +
                                    std::to_string(run_.iterations) + " alignment=" + (run_.alignment ? "on" : "off"));
        if (run_.execution_check) {
            std::string limit = run_.time_limit_text.empty() ? "none" : run_.time_limit_text + " s";
            say(EventKind::ExecutionCheckOn,
                "Execution check on: every compiling model is solved (time limit " + limit + ")");
        }
        s_.steps.gather_examples();
        prompt_ = s_.steps.prompt(prompt_request(Step::Generate, {}));
        for (long long i = 0; i < run_.iterations; ++i) {
            iteration_ = i + 1;
            if (!iterate()) break;
        }
        finish();
        return std::move(result_);
    }

    /// The readings of a pair the caller holds (see readings()).
    Result readings_of(const Pair& pair, const std::optional<Assumption>& one) {
        say(EventKind::Started,
            "Listing the readings of the given model with provider=" + run_.provider + " model=" + run_.model);
        result_.pair = read_back_ = pair;
        say(EventKind::Compiling, "Compiling model and data");
        check_cancelled();
        CompileOutcome compiled = s_.compiler.compile(pair);
        result_.compiled = compiled.ok;
        result_.syntax_errors = compiled.ok ? std::vector<std::string>() : compiled.errors;
        result_.compiled_model = compiled.compiled;
        if (compiled.ok && !one) {
            list_assumptions();
        } else if (compiled.ok) {
            result_.assumptions_asked = true;
            result_.assumptions = {*one};
            explore(1);
        }
        say(EventKind::Complete, "Readings complete");
        return std::move(result_);
    }

  private:
    const Run& run_;
    Services s_;
    Result result_;
    long long iteration_ = 0;
    std::string prompt_;  ///< the next generating request
    Step step_ = Step::Generate;
    Pair read_back_;  ///< the final pair as its files give it back

    Event event(EventKind kind, std::string text) {
        Event e;
        e.kind = kind;
        e.text = std::move(text);
        e.iteration = iteration_;
        return e;
    }

    void say(EventKind kind, std::string text) { s_.progress.event(event(kind, std::move(text))); }

    void check_cancelled() {
        if (run_.cancelled && run_.cancelled()) throw Cancelled();
    }

    /// One request, between its Request and Reply events.
    std::string ask(const std::string& prompt, Step step, std::optional<double> temperature) {
        check_cancelled();
        Event request = event(EventKind::Request, "");
        request.step = step;
        s_.progress.event(request);
        auto start = std::chrono::steady_clock::now();
        std::string reply = s_.llm.generate(prompt, RequestOptions{step, temperature, run_.stop});
        ++result_.llm_calls;
        if (reply.size() > kMaxReplyBytes) throw Failure(Failure::Kind::UnreadableReply, reply_too_long(reply.size()));
        if (step == Step::Repair || step == Step::Realign || step == Step::Execution) ++result_.repair_rounds;
        Usage usage = s_.llm.last_usage();
        if (usage.tokens_in) result_.usage.tokens_in = result_.usage.tokens_in.value_or(0) + *usage.tokens_in;
        if (usage.tokens_out) result_.usage.tokens_out = result_.usage.tokens_out.value_or(0) + *usage.tokens_out;
        Event arrived = event(EventKind::Reply, "");
        arrived.step = step;
        arrived.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        s_.progress.event(arrived);
        return reply;
    }

    /// One iteration; false when the loop stops after it.
    bool iterate() {
        std::string counter = std::to_string(iteration_) + "/" + std::to_string(run_.iterations);
        s_.progress.log("Iteration " + counter);
        say(EventKind::Iteration, "Iteration " + counter + ": prompting model");
        result_.execution.reset();
        result_.execution_failed = false;

        std::string reply = ask(prompt_, step_, run_.temperature);
        if (reply.empty()) throw Failure(Failure::Kind::EmptyReply, "Empty model response.");
        ParsedPair parsed = s_.steps.read_pair(reply);
        if (!parsed.pair) {
            throw Failure(
                Failure::Kind::UnreadableReply,
                "Failed to parse model response as JSON: " + parsed.failure + "\nResponse: " + shown(reply, run_.keys),
                parsed.cause);
        }
        const Pair& pair = result_.pair = std::move(*parsed.pair);
        say(EventKind::ReplyParsed, "LLM response parsed (model + data)");
        s_.progress.log("Model and data generated.");

        say(EventKind::Compiling, "Compiling model and data");
        check_cancelled();
        CompileOutcome compiled = s_.compiler.compile(pair);
        result_.compiled = compiled.ok;
        result_.syntax_errors = compiled.ok ? std::vector<std::string>() : compiled.errors;
        result_.compiled_model = compiled.compiled;
        if (compiled.diagnosed)
            for (const std::string& error : result_.syntax_errors) s_.progress.log("Semantic error in model: " + error);

        read_back_ = s_.steps.write_pair(pair);
        say(EventKind::FilesWritten, "Wrote files: " + run_.model_file + " \u2022 " + run_.data_file);

        if (!compiled.ok) return repair(pair);
        if (run_.execution_check && !check_execution(pair)) return true;
        if (!run_.alignment) {
            say(EventKind::AlignmentOff, "Syntax OK; alignment check disabled. Stopping.");
            return false;
        }
        return !judge(pair);
    }

    bool repair(const Pair& pair) {
        Event failed =
            event(EventKind::CompileFailed,
                  "Syntax/semantic errors found: " + std::to_string(result_.syntax_errors.size()) + "; revising...");
        failed.errors = &result_.syntax_errors;
        s_.progress.event(failed);
        s_.progress.log("Model or data has syntax errors; revising...");
        prompt_ = s_.steps.prompt(prompt_request(Step::Repair, pair_then(pair, {result_.syntax_errors})));
        step_ = Step::Repair;
        return true;
    }

    /// Solves a compiling pair; false when it is to be revised.
    bool check_execution(const Pair& pair) {
        say(EventKind::Solving, "Solving the model to check it");
        check_cancelled();
        ExecutionOutcome& outcome = result_.execution.emplace(s_.executor.execute(pair, result_.compiled_model.get()));
        const std::string& status = outcome.verdict.status;
        Event e = event(EventKind::ExecutionPassed, "");
        e.execution = &outcome;
        if (is_execution_failure(status)) {
            e.kind = EventKind::ExecutionFailed;
            e.text = "Execution check failed: the solver's verdict is " + status + "; revising...";
            s_.progress.event(e);
            s_.progress.log("Model and data compile but do not solve (" + status + "); revising...");
            prompt_ = s_.steps.prompt(prompt_request(Step::Execution, pair_then(pair, {&outcome})));
            step_ = Step::Execution;
            result_.execution_failed = true;
            return false;
        }
        // A time limit says nothing against the model: it goes on, as a
        // model that solves does, rather than being revised on a guess.
        if (status == "optimal") {
            e.text = "Execution check passed: optimal, objective " + outcome.objective_text;
        } else {
            e.kind = EventKind::ExecutionInconclusive;
            e.text = "Execution check: " + status + " (objective " + outcome.objective_text +
                     "); not a fault of the model, going on";
        }
        s_.progress.event(e);
        return true;
    }

    /// Asks for the alignment verdict; true when the pair is aligned.
    bool judge(const Pair& pair) {
        s_.progress.log("Checking alignment with original prompt...");
        say(EventKind::CheckingAlignment, "Checking alignment with original prompt...");
        std::string reply = ask(s_.steps.prompt(prompt_request(Step::Align, pair_then(pair))), Step::Align,
                                judging(run_.temperature, 0.0));
        if (reply.empty()) throw Failure(Failure::Kind::EmptyReply, "Empty alignment response.");
        Verdict verdict = s_.steps.read_verdict(reply);
        if (verdict.shape == Verdict::Shape::Invalid) {
            throw Failure(Failure::Kind::InvalidVerdict, "Invalid alignment response JSON: " + shown(reply, run_.keys));
        }
        result_.assessment = trimmed(verdict.assessment);
        bool aligned = verdict.shape == Verdict::Shape::Aligned;
        Event e = event(aligned ? EventKind::Aligned : EventKind::NotAligned,
                        aligned ? "Aligned \u2713 Stopping." : "Not aligned; revising per assessment");
        e.assessment = &result_.assessment;
        s_.progress.event(e);
        if (aligned) {
            s_.progress.log("Model and data are syntactically valid and aligned with the prompt.");
            result_.aligned = true;
            return true;
        }
        s_.progress.log("Model and data are syntactically valid but NOT aligned with the prompt. Assessment: " +
                        result_.assessment);
        prompt_ = s_.steps.prompt(
            prompt_request(Step::Realign, {result_.assessment, PairText{&pair, false}, PairText{&pair, true}}));
        step_ = Step::Realign;
        return false;
    }

    /// The closing assessment, when no verdict stands for one: the final pair
    /// does not compile or does not solve, or the alignment check is off.
    void finish() {
        result_.iterations = iteration_;
        if (!result_.syntax_errors.empty() || !run_.alignment || result_.execution_failed) {
            s_.progress.log("Final assessment of model and data alignment...");
            say(EventKind::FinalAssessment, "Requesting final assessment");
            // A pair that compiles but does not solve is assessed with the solver's verdict as its error.
            std::vector<std::string> errors = result_.syntax_errors;
            if (result_.execution_failed) errors = {solver_verdict_text(result_.execution->verdict, read_back_.model)};
            std::string reply = ask(s_.steps.prompt(prompt_request(Step::Assess, pair_then(read_back_, {errors}))),
                                    Step::Assess, judging(run_.temperature, 0.2));
            result_.assessment = trimmed(reply);
        }
        if (run_.assumptions && result_.compiled && !result_.execution_failed) list_assumptions();
        say(EventKind::Complete, "Generation complete");
    }

    /// Asks which assumptions the final pair makes, adds the data's numbers
    /// that the description does not give, and explores the alternatives.
    /// A reply that is no list is reported; the pair and its answer stay.
    void list_assumptions() {
        result_.assumptions_asked = true;
        say(EventKind::Assumptions, "Asking which assumptions the model makes");
        std::string reply = ask(s_.steps.prompt(prompt_request(Step::Assumptions, pair_then(read_back_))),
                                Step::Assumptions, judging(run_.temperature, 0.0));
        ParsedAssumptions parsed =
            reply.empty() ? ParsedAssumptions{std::nullopt, "the reply is empty"} : parse_assumptions(reply);
        std::size_t listed = 0;
        if (parsed.list) {
            result_.assumptions = std::move(*parsed.list);
            listed = result_.assumptions.size();
            say(EventKind::AssumptionsListed, "Assumptions listed: " + std::to_string(listed));
        } else {
            result_.assumptions_failure =
                "Invalid assumptions response JSON: " + parsed.failure + "\nResponse: " + shown(reply, run_.keys);
            s_.progress.log(result_.assumptions_failure);
            say(EventKind::AssumptionsInvalid, "The assumptions reply is no JSON list; the model stands as it is");
        }
        for (Assumption& a : invented_numbers(run_.description, read_back_.data))
            result_.assumptions.push_back(std::move(a));
        if (run_.what_if && listed > 0) explore(listed);
    }

    /// Solves the pair under each of the first `listed` alternatives, within
    /// the request budget; a fault of one is reported with it.
    void explore(std::size_t listed) {
        if (result_.execution) {
            result_.main_execution = result_.execution;
        } else {
            say(EventKind::Solving, "Solving the final model for the what-if table");
            check_cancelled();
            result_.main_execution = s_.executor.execute(result_.pair, result_.compiled_model.get());
        }
        long long budget = std::max<long long>(run_.what_if_max, 0);
        std::size_t planned = std::min<std::size_t>(listed, static_cast<std::size_t>(budget));
        for (std::size_t i = 0; i < listed; ++i) {
            if (static_cast<long long>(i) >= budget) {
                result_.what_if_unexplored = static_cast<long long>(listed - i);
                say(EventKind::WhatIfBudget, "What-if budget reached (" + std::to_string(budget) + " requests); " +
                                                 std::to_string(listed - i) + " alternatives not explored");
                break;
            }
            result_.what_if.push_back(what_if(i, planned));
        }
        for (WhatIf& w : result_.what_if)
            w.same_answer = w.execution && result_.main_execution && same_answer(*w.execution, *result_.main_execution);
        // The readings that change the answer are the ones a user has to weigh: they come first.
        auto rank = [](const WhatIf& w) { return w.same_answer ? 2 : w.execution ? 0 : 1; };
        std::stable_sort(result_.what_if.begin(), result_.what_if.end(),
                         [&](const WhatIf& a, const WhatIf& b) { return rank(a) < rank(b); });
    }

    WhatIf what_if(std::size_t i, std::size_t planned) {
        const Assumption& a = result_.assumptions[i];
        WhatIf w;
        w.assumption = i;
        w.index = static_cast<long long>(result_.what_if.size()) + 1;
        std::string counter = std::to_string(w.index) + "/" + std::to_string(planned);
        say(EventKind::WhatIf, "What if (" + counter + "): " + a.alternative);
        std::string reply = ask(
            s_.steps.prompt(prompt_request(Step::WhatIf, pair_then(read_back_, {a.assumption, a.alternative, a.kind}))),
            Step::WhatIf, run_.temperature);
        ParsedPair parsed =
            reply.empty() ? ParsedPair{std::nullopt, "the reply is empty", nullptr} : s_.steps.read_pair(reply);
        if (!parsed.pair) {
            w.errors = {"the reply holds no model and data pair: " + parsed.failure};
            say(EventKind::WhatIfFailed, "Alternative " + counter + " gave no model; the main answer stands");
            return w;
        }
        w.pair = std::move(*parsed.pair);
        check_cancelled();
        CompileOutcome compiled = s_.compiler.compile(w.pair);
        w.not_written = s_.steps.write_alternative(w.pair, w.index);
        if (!compiled.ok) {
            w.errors = compiled.errors;
            say(EventKind::WhatIfFailed, "Alternative " + counter + " does not compile; the main answer stands");
            return w;
        }
        w.compiled = true;
        check_cancelled();
        w.execution = s_.executor.execute(w.pair, compiled.compiled.get());
        Event e = event(EventKind::WhatIfSolved, "Alternative " + counter + ": " + w.execution->verdict.status +
                                                     ", objective " + w.execution->objective_text);
        e.execution = &*w.execution;
        s_.progress.event(e);
        if (a.kind == "asked_quantity" && names_the_answer(*w.execution)) adopt(w, compiled);
        return w;
    }

    /// Whether an alternative for the asked quantity only added it: it
    /// solves to the main objective and holds an `answer`.
    bool names_the_answer(const ExecutionOutcome& alt) const {
        const std::optional<ExecutionOutcome>& main = result_.main_execution;
        if (!alt.answer || !alt.objective || alt.verdict.status != "optimal") return false;
        if (!main || !main->objective || main->verdict.status != "optimal") return false;
        return std::abs(*alt.objective - *main->objective) <= 1e-6 * std::max(1.0, std::abs(*main->objective));
    }

    /// The final pair becomes the one that names the asked quantity as
    /// `answer`: the same model and answer, now reporting what was asked.
    void adopt(WhatIf& w, const CompileOutcome& compiled) {
        w.adopted = true;
        result_.pair = w.pair;
        result_.compiled_model = compiled.compiled;
        result_.main_execution = w.execution;
        if (result_.execution) result_.execution = w.execution;
        read_back_ = s_.steps.write_pair(result_.pair);
        say(EventKind::FilesWritten, "The final model names the asked quantity as answer; wrote files: " +
                                         run_.model_file + " \u2022 " + run_.data_file);
    }
};

}  // namespace

std::string reply_too_long(std::size_t bytes) {
    return "The LLM's reply has " + std::to_string(bytes) + " bytes, more than the " + std::to_string(kMaxReplyBytes) +
           " a reply may have (the limit of a model or data text); it was not read.";
}

Result generate(const Run& run, Services services) { return Loop(run, services).run(); }

Result generate(const Run& run, Services services, Transcript* transcript) {
    if (transcript == nullptr) return generate(run, services);
    RecordingClient recording(services.llm, *transcript, run.provider, run.model);
    return generate(run, {recording, services.compiler, services.executor, services.steps, services.progress});
}

Result readings(const Run& run, Services services, const Pair& pair, const std::optional<Assumption>& one,
                Transcript* transcript) {
    if (transcript == nullptr) return Loop(run, services).readings_of(pair, one);
    RecordingClient recording(services.llm, *transcript, run.provider, run.model);
    return Loop(run, {recording, services.compiler, services.executor, services.steps, services.progress})
        .readings_of(pair, one);
}

Attached feedback(const Run& run, const Pair& files, LlmClient& llm, Steps& steps, Progress& progress) {
    Event requested;
    requested.kind = EventKind::FeedbackRequested;
    requested.text = "Generating feedback from LLM";
    progress.event(requested);
    std::string prompt = steps.prompt(prompt_request(Step::Feedback, pair_then(files)));
    Event request;
    request.kind = EventKind::Request;
    request.step = Step::Feedback;
    progress.event(request);
    auto start = std::chrono::steady_clock::now();
    std::string reply = llm.generate(prompt, RequestOptions{Step::Feedback, judging(run.temperature, 0.0), run.stop});
    Event arrived;
    arrived.kind = EventKind::Reply;
    arrived.step = Step::Feedback;
    arrived.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    progress.event(arrived);
    if (reply.empty()) throw Failure(Failure::Kind::EmptyReply, "Empty model response.");
    if (reply.size() > kMaxReplyBytes) throw Failure(Failure::Kind::UnreadableReply, reply_too_long(reply.size()));

    Event received;
    received.kind = EventKind::FeedbackReceived;
    received.text = "Feedback received; parsing";
    progress.event(received);
    ParsedFeedback parsed = steps.read_feedback(reply);
    if (!parsed.ok) {
        throw Failure(
            Failure::Kind::UnreadableReply,
            "Failed to parse feedback response as JSON: " + parsed.failure + "\nResponse: " + shown(reply, run.keys),
            parsed.cause);
    }
    return parsed.value;
}

}  // namespace tarvok::generative::workflow
