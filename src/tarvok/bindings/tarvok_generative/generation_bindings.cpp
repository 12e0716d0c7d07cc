// The entry points of the loop: generative_solve, run_generation (the same
// run, returning a GenerationResult), generative_feedback and the execution
// check's `_execute_model`. Each checks its arguments, reads the settings it
// falls back on, runs the core (see workflow_bindings.cpp) and speaks Python.
#include "bindings/host/compile.hpp"
#include "bindings/host/json.hpp"
#include "bindings/host/solvers.hpp"
#include "bindings/tarvok_generative/workflow_bindings.hpp"
#include "common/files.hpp"
#include "generative/call_arguments.hpp"
#include "generative/module_face.hpp"
#include "generative/providers/providers.hpp"
#include "generative/result_values.hpp"
#include "solver/options.hpp"

#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <string_view>
#include <utility>

namespace tarvok::generative::bind {

namespace {

/// An argument's exact built-in kind, as the rules of call_arguments.hpp judge it.
SeenKind seen_kind(py::handle value) {
    constexpr std::pair<Kind, SeenKind> kKinds[] = {{Kind::Bool, SeenKind::Bool},
                                                    {Kind::Int, SeenKind::Int},
                                                    {Kind::Float, SeenKind::Float},
                                                    {Kind::Str, SeenKind::Str},
                                                    {Kind::List, SeenKind::List}};
    if (value.is_none()) return SeenKind::None;
    for (auto [kind, seen] : kKinds)
        if (host::is_exact(value, kind)) return seen;
    return SeenKind::Other;
}

[[noreturn]] void raise_refusal(const Refusal& refusal) {
    host::raise(refusal.error == Refusal::Error::Type ? PyExc_TypeError : PyExc_ValueError, refusal.message);
}

/// Refuses `value` as `expect` says; `subject` names it in the error.
void check_value(const std::string& subject, Expect expect, py::handle value) {
    bool callable = PyCallable_Check(value.ptr()) == 1;
    if (auto refusal = kind_refusal(subject, expect, seen_kind(value), callable, host::type_name(value)))
        raise_refusal(*refusal);
    if (value.is_none() || !judges_number(expect)) return;
    double number = expect == Expect::Count ? static_cast<double>(value.cast<long long>()) : value.cast<double>();
    if (auto refusal = number_refusal(subject, expect, number, host::str_of(value))) raise_refusal(*refusal);
}

/// Refuses `value` as `rule` says.
void check_argument(const char* function, const ArgumentRule& rule, py::handle value) {
    check_value(argument_subject(function, parameter(rule.arg).name), rule.expect, value);
}

/// Checks the values of every request's options, in the order of kRequestArguments.
void check_request_options(const char* function, py::handle temperature, py::handle stop, py::handle llm_provider) {
    py::handle values[] = {temperature, stop, llm_provider};
    for (std::size_t i = 0; i < std::size(values); ++i) check_argument(function, kRequestArguments[i], values[i]);
}

/// A call's arguments by run_generation's parameters; generative_solve gives
/// its own, the others keep their defaults.
struct RunArgs {
    std::array<py::object, std::size(kRunParameters)> values;
    py::object& operator[](RunArg arg) { return values[static_cast<std::size_t>(arg)]; }
    const py::object& operator[](RunArg arg) const { return values[static_cast<std::size_t>(arg)]; }
};

/// The defaults of kRunParameters as the host reads them, made once while the
/// module registers run_generation (so no call waits on their making) and kept
/// for the life of the process (never destroyed: the interpreter is gone by then).
const RunArgs& run_defaults() {
    static const RunArgs* defaults = [] {
        auto* out = new RunArgs;
        py::object literal_eval = py::module_::import("ast").attr("literal_eval");
        for (std::size_t i = 0; i < std::size(kRunParameters); ++i)
            if (kRunParameters[i].given != nullptr) out->values[i] = literal_eval(kRunParameters[i].given);
        return out;
    }();
    return *defaults;
}

/// `solver` as run_generation takes it: a name of the solver core's table,
/// else ValueError naming them.
py::object solver_choice(py::object solver) {
    const std::vector<std::string>& names = tarvok::solver::solver_names();
    if (PyUnicode_Check(solver.ptr()) && std::ranges::find(names, host::Utf8(solver).view()) != names.end())
        return solver;
    raise_refusal(choice_refusal(argument_subject("run_generation", parameter(RunArg::Solver).name), names,
                                 host::str_of(py::repr(solver))));
}

/// The caller's temperature and stop list (checked), as the requests of the call send them.
void take_request_options(Call& c, py::handle temperature, py::object stop) {
    c.stop = stop;
    if (!temperature.is_none()) c.run.temperature = temperature.cast<double>();
    if (!stop.is_none())
        for (py::handle s : stop) c.run.stop.push_back(host::str_of(s));
}

/// Its diagnostics records: the compiled model's, or the SemanticError's.
py::object compiled_records(const wf::Attachment* compiled) {
    if (compiled == nullptr) return py::list();
    const Held& kept = held(compiled);
    if (!kept.first.is_none()) return kept.first.attr("diagnostics");
    return kept.second.is_none() ? py::object(py::list()) : kept.second;
}

/// Refuses two paths of a call that name one file (two spellings, a link),
/// which would have one write over the other (the data over the model, the
/// transcript into either). Arguments that are no paths are left to the
/// writing step to refuse.
void refuse_same_file(const char* function, RunArg first_arg, RunArg second_arg, const RunArgs& a) {
    py::handle first_file = a[first_arg], second_file = a[second_arg];
    std::filesystem::path first, second;
    try {
        first = host::file_system_path(first_file);
        second = host::file_system_path(second_file);
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_TypeError)) throw;
        return;
    }
    bool same = false;
    {
        py::gil_scoped_release unlocked;
        same = files::same_file(first, second);
    }
    if (same)
        host::raise(PyExc_ValueError, same_file_refusal(function, parameter(first_arg).name, parameter(second_arg).name,
                                                        host::str_of(second_file)));
}

/// The number of iterations as the host's int() reads the argument, at least
/// one; MAX_ITERATIONS as it stands when the argument is not a number.
long long normalise_iterations(py::handle iterations) {
    PyObject* converted = PyNumber_Long(iterations.ptr());
    if (converted != nullptr) {
        long long n = host::saturated(py::reinterpret_steal<py::object>(converted));
        return n < 1 ? 1 : n;
    }
    py::error_already_set error;
    if (!host::is_ordinary(error)) throw error;
    py::object fallback = py::reinterpret_steal<py::object>(PyNumber_Index(attr("MAX_ITERATIONS").ptr()));
    if (!fallback) throw py::error_already_set();
    return host::saturated(fallback);
}

/// The solver library a step of the call needs, through the solver module's
/// one availability check; HiGHS comes with the `solve` extra.
void require_solver(py::object solver, const char* step) {
    SolverNeed need = solver_need(step, host::str_of(solver));
    host::import_solver(host::str_of(solver), need.why, need.in_solve_extra ? "solve" : nullptr);
}

/// `reading` as run_generation takes it: a dict with the texts
/// 'assumption' and 'alternative' ('where' and 'kind' may follow), and only
/// with `existing`.
Assumption given_reading(py::handle reading, bool existing) {
    std::string subject = argument_subject("run_generation", parameter(RunArg::Reading).name);
    if (!existing) host::raise(PyExc_ValueError, subject + " needs existing=True");
    if (!PyDict_Check(reading.ptr()))
        host::raise(PyExc_TypeError, subject + " must be a dict or None, not " + host::type_name(reading));
    Assumption out;
    std::pair<const char*, std::string*> members[] = {
        {"assumption", &out.assumption}, {"alternative", &out.alternative}, {"where", &out.where}, {"kind", &out.kind}};
    for (auto [key, field] : members) {
        PyObject* value = PyDict_GetItemString(reading.ptr(), key);
        bool required = field == &out.assumption || field == &out.alternative;
        if (value == nullptr && !required) continue;
        if (value == nullptr || !PyUnicode_Check(value))
            host::raise(PyExc_TypeError, subject + " must give '" + key + "' as a str");
        *field = host::Utf8(value).view();
    }
    return out;
}

/// The assumptions step of the call: per call, else ASSUMPTIONS_CHECK; the
/// what-if step implies it and, as it solves, needs the solver library.
void read_assumptions(Call& c, const RunArgs& a) {
    c.existing = host::truthy(a[RunArg::Existing]);
    if (!a[RunArg::Reading].is_none()) c.reading = given_reading(a[RunArg::Reading], c.existing);
    c.run.what_if = host::truthy(a[RunArg::WhatIf]) || c.reading;
    if (c.existing) {
        // The readings of the caller's pair: its files as they are now.
        c.model_text = host::read_file(a[RunArg::ModelFile], "r", "utf-8");
        c.data_text = host::read_file(a[RunArg::DataFile], "r", "utf-8");
    }
    py::object on = a[RunArg::Assumptions].is_none() ? attr("ASSUMPTIONS_CHECK") : a[RunArg::Assumptions];
    c.run.assumptions = c.run.what_if || c.existing || host::truthy(on);
    c.run.what_if_max = host::saturated(a[RunArg::WhatIfMax]);
    if (!c.run.assumptions) return;
    c.run.description = host::str_of(c.prompt);
    if (c.run.what_if) require_solver(a[RunArg::Solver], kWhatIfSolves);
}

/// The execution check of the call: per call, else EXECUTION_CHECK and
/// EXECUTION_TIME_LIMIT as they stand. An unusable time limit, or a check
/// without the solver library, is refused before any request is sent.
void read_execution_check(Call& c, const RunArgs& a) {
    const py::object& given = a[RunArg::ExecutionTimeLimit];
    c.run.execution_check =
        host::truthy(a[RunArg::ExecutionCheck].is_none() ? attr("EXECUTION_CHECK") : a[RunArg::ExecutionCheck]);
    if (!c.run.execution_check) return;
    c.time_limit = given.is_none() ? attr("EXECUTION_TIME_LIMIT") : given;
    check_value(given.is_none() ? "EXECUTION_TIME_LIMIT"
                                : argument_subject("run_generation", parameter(RunArg::ExecutionTimeLimit).name),
                Expect::Seconds, c.time_limit);
    c.run.time_limit_text = c.time_limit.is_none() ? "" : number_text(c.time_limit);
    require_solver(a[RunArg::Solver], kExecutionCheckSolves);
}

/// A call of the loop from its arguments, in the order the loop has always
/// read them: nothing is sent before all of them are checked.
Call prepare(const char* function, const RunArgs& a) {
    using enum RunArg;
    check_request_options(function, a[Temperature], a[Stop], a[LlmProvider]);
    refuse_same_file(function, ModelFile, DataFile, a);
    if (!a[Record].is_none())
        for (RunArg written : {ModelFile, DataFile}) refuse_same_file(function, written, Record, a);
    Call c;
    // One size limit for every compile of the call: the caller's, else MAX_SIZE as the call starts.
    c.sizes = a[MaxSize].is_none()
                  ? host::size_setting()
                  : host::size_limits_of(a[MaxSize], argument_subject(function, parameter(MaxSize).name));
    c.prompt = a[Prompt];
    c.model_file = a[ModelFile];
    c.data_file = a[DataFile];
    c.model_name = a[ModelName];
    c.progress = a[Progress];
    c.few_shot = a[FewShot];
    if (!a[FewShotLibrary].is_none()) c.few_shot_library = a[FewShotLibrary];
    c.on_event = a[OnEvent];
    c.record = a[Record];
    c.grammar = attr("_get_grammar_implementation")(a[Mode]);
    c.run.iterations = normalise_iterations(a[Iterations]);
    c.run.alignment = host::truthy(a[AlignmentCheck].is_none() ? attr("ALIGNMENT_CHECK") : a[AlignmentCheck]);
    read_execution_check(c, a);
    read_assumptions(c, a);
    c.provider = attr("_infer_provider")(a[LlmProvider], a[ModelName]);

    c.run.provider = host::str_of(c.provider.attr("value"));
    c.run.model = host::str_of(a[ModelName]);
    take_request_options(c, a[Temperature], a[Stop]);
    c.run.model_file = host::str_of(a[ModelFile]);
    c.run.data_file = host::str_of(a[DataFile]);
    return c;
}

// ------------------------------------------------------------ the result

/// A value the host holds in a result's place, read as a plain value.
void fill(data::Value& out, const char* key, py::handle value) {
    if (data::Value* member = out.find(key)) *member = host::from_python(value, {.others_as_text = true});
}

/// Fills the reading members the core left in a what-if entry with a solve
/// as the host holds it; they stay null without one.
void fill_reading(data::Value& entry, const std::optional<wf::ExecutionOutcome>& execution) {
    if (!execution) return;
    const Held& solved = held(execution->host.get());
    if (solved.first.is_none()) return;
    fill(entry, "status", solved.first["status"]);
    fill(entry, "objective", solved.second);
    fill(entry, "answer", solved.first.attr("get")("answer"));
}

/// The what-if table (see what_if_value) with the alternatives' files and
/// every solve filled in; null when the step was not taken.
data::Value what_if_table(const GenerationResult& g) {
    if (!g.what_if || !g.result.assumptions_asked) return {};
    data::Value out = wf::what_if_value(g.result);
    auto& alternatives = out.find("alternatives")->items();
    for (std::size_t i = 0; i < g.result.what_if.size(); ++i) {
        const wf::WhatIf& w = g.result.what_if[i];
        if (wf::alternative_written(w)) {
            fill(alternatives[i], "model_file", alternative_file(g.model_file, w.index));
            fill(alternatives[i], "data_file", alternative_file(g.data_file, w.index));
        }
        fill_reading(alternatives[i], w.execution);
    }
    fill_reading(*out.find("main"), g.result.main_execution);
    return out;
}

/// The map generative_solve returns with return_statistics.
data::Value statistics(const GenerationResult& g) {
    data::Value out = wf::statistics_value(g.result, {g.execution_check, g.assumptions});
    if (g.execution_check && g.result.execution) {
        const Held& solved = held(g.result.execution->host.get());
        fill(out, "solver_status", solved.first["status"]);
        fill(out, "objective", solved.second);
    }
    if (g.assumptions) *out.find("what_if") = what_if_table(g);
    return out;
}

/// The final pair's solver outcome: the execution check's (or the what-if
/// step's), else a solve of its compiled model ('answer' too with the
/// assumptions step); None when it does not compile.
py::object execute(const GenerationResult& g, py::object time_limit) {
    if (const wf::ExecutionOutcome* solved = wf::final_solve(g.result)) return held(solved->host.get()).first;
    if (!g.result.compiled) return py::none();
    return execution_map(g.result.pair, g.result.compiled_model.get(), time_limit, g.solver, g.assumptions);
}

/// Runs the loop of the call.
GenerationResult result_of(Call& c) {
    return {run_loop(c),           c.model_file,      c.data_file,   c.run.alignment,
            c.run.execution_check, c.run.assumptions, c.run.what_if, c.solver};
}

GenerationResult run_and_wrap(Call& c, const RunArgs& a) {
    using enum RunArg;
    py::dict options;
    if (!a[Timeout].is_none()) options["timeout"] = py::float_(a[Timeout].cast<double>());
    if (!a[EmbeddingModel].is_none()) options["embedding_model"] = a[EmbeddingModel];
    if (!a[Replay].is_none()) options["replay_path"] = a[Replay];
    CallOptions scope(options);
    c.solver = a[Solver];
    return result_of(c);
}

// ---------------------------------------------------------- entry points

py::object generative_solve(py::object prompt, py::object model_file, py::object data_file, py::object model_name,
                            py::object mode, py::object iterations, py::object return_statistics,
                            py::object alignment_check, py::object temperature, py::object stop,
                            py::object llm_provider, py::object progress, py::object few_shot) {
    RunArgs a = run_defaults();
    py::handle given[] = {prompt,          model_file,  data_file, model_name,   mode,     iterations,
                          alignment_check, temperature, stop,      llm_provider, progress, few_shot};
    for (std::size_t i = 0; i < std::size(given); ++i)
        a[kSolveArguments[i]] = py::reinterpret_borrow<py::object>(given[i]);
    Call c = prepare("generative_solve", a);
    GenerationResult g = result_of(c);
    if (!host::truthy(return_statistics)) return host::text(g.result.assessment);
    return host::to_python(statistics(g));
}

GenerationResult run_generation(RunArgs a, files::Existing own_names = files::Existing::Follow) {
    using enum RunArg;
    for (const ArgumentRule& rule : kPerCallArguments) check_argument("run_generation", rule, a[rule.arg]);
    py::object fspath = py::module_::import("os").attr("fspath");
    for (RunArg path : {Record, Replay})
        if (!a[path].is_none()) a[path] = fspath(a[path]);
    a[Solver] = solver_choice(a[Solver]);
    check_argument("run_generation", kCancelArgument, a[Cancel]);
    // The settings as they stand now stand in for the arguments not given.
    if (a[ModelName].is_none()) a[ModelName] = attr("MODEL_NAME");
    if (a[Mode].is_none()) a[Mode] = grammar_enum.get().attr("BNF");
    if (a[Iterations].is_none()) a[Iterations] = attr("MAX_ITERATIONS");
    Call c = prepare("run_generation", a);
    c.own_names = own_names;
    if (!a[Cancel].is_none()) {
        // Shared, so that copies of the run's settings leave the host's reference counts alone.
        auto asked = std::make_shared<py::object>(a[Cancel]);
        c.run.cancelled = [asked] { return host::truthy((*asked)()); };
    }
    return run_and_wrap(c, a);
}

}  // namespace

py::object generative_feedback(py::object prompt, py::object model_file, py::object data_file, py::object model_name,
                               py::object mode, py::object temperature, py::object stop, py::object llm_provider,
                               py::object progress, py::object on_event, const py::dict& options) {
    check_request_options("generative_feedback", temperature, stop, llm_provider);
    std::optional<CallOptions> scope;
    if (!options.empty()) scope.emplace(options);  // a call without its own keeps its caller's
    Call c;
    c.provider = attr("_infer_provider")(llm_provider, model_name);
    c.grammar = attr("_get_grammar_implementation")(mode);
    c.model_text = host::read_file(model_file, "r", "utf-8");
    c.data_text = host::read_file(data_file, "r", "utf-8");
    c.prompt = prompt;
    c.model_name = model_name;
    c.progress = progress;
    c.run.provider = host::str_of(c.provider.attr("value"));
    c.on_event = on_event;
    take_request_options(c, temperature, stop);
    return feedback_value(c);
}

py::object execute_model(py::object model_code, py::object data_code, py::object time_limit, py::object solver_name) {
    auto compiled = host::compile_pair(model_code, data_code, "solve_model", host::size_setting());
    return solved_outcome(*compiled, time_limit, solver_name, false, "solve_model");
}

namespace {

// --------------------------------------------------------- registration

void register_result(py::module_& m) {
    py::class_<GenerationResult> cls(m, "GenerationResult", kGenerationResultDoc);
    for (const ResultFieldDoc& f : result_fields())
        cls.def_property_readonly(
            f.name, [field = f.field](const GenerationResult& g) { return result_field(g, field); }, f.doc);
    cls.def("execute", &execute, py::arg("time_limit") = py::none(),
            host::signed_doc("execute", "self, time_limit=None", kExecuteDoc).c_str());
    cls.def("__repr__", [](const GenerationResult& g) {
        return result_repr(g.result.iterations, g.result.compiled,
                           g.alignment ? std::optional(g.result.aligned) : std::nullopt);
    });
}

/// run_generation with the parameters of kRunParameters: P the positional
/// ones, K the keyword-only ones after them.
template <std::size_t... P, std::size_t... K>
void def_run_generation(py::module_& m, std::index_sequence<P...>, std::index_sequence<K...>) {
    const RunArgs& d = run_defaults();
    def_documented(
        m, "run_generation",
        [](Object<P>... p, Object<K>... k) {
            return py::cast(run_generation(RunArgs{{p..., k...}}));
        },
        py::arg(kRunParameters[P].name)..., py::kw_only(),
        py::arg_v(kRunParameters[kRunPositional + K].name, d.values[kRunPositional + K])...);
}

void register_run_generation(py::module_& m) {
    def_run_generation(m, std::make_index_sequence<kRunPositional>(),
                       std::make_index_sequence<std::size(kRunParameters) - kRunPositional>());
}

void register_generative_solve(py::module_& m) {
    py::object model_name = m.attr("MODEL_NAME"), llm_provider = m.attr("LLM_PROVIDER");
    py::object bnf = m.attr("Grammar").attr("BNF"), iterations = m.attr("MAX_ITERATIONS"), none = py::none();
    def_with_signature(m, "generative_solve", &generative_solve, py::arg("prompt"), py::arg("model_file"),
                       py::arg("data_file"), py::arg("model_name") = model_name, py::arg("mode") = bnf,
                       py::arg("iterations") = iterations, py::arg("return_statistics") = false,
                       py::arg("alignment_check") = none, py::arg("temperature") = none, py::arg("stop") = none,
                       py::arg("llm_provider") = llm_provider, py::arg("progress") = none, py::arg("few_shot") = true);
    auto feedback = [](py::object prompt, py::object model_file, py::object data_file, py::object model_name,
                       py::object mode, py::object temperature, py::object stop, py::object llm_provider,
                       py::object progress) {
        return generative_feedback(prompt, model_file, data_file, model_name, mode, temperature, stop, llm_provider,
                                   progress, py::none(), py::dict());
    };
    def_with_signature(m, "generative_feedback", feedback, py::arg("prompt"), py::arg("model_file"),
                       py::arg("data_file"), py::arg("model_name") = model_name, py::arg("mode") = bnf,
                       py::arg("temperature") = none, py::arg("stop") = none, py::arg("llm_provider") = llm_provider,
                       py::arg("progress") = none);
}

}  // namespace

/// `_check_provider(llm_provider, model_name, replay=None)`: makes the client of the provider a
/// run would use, once, so that a missing key or library fails before any work.
py::object check_provider(py::object llm_provider, py::object model_name, py::object replay) {
    py::object provider = attr("_infer_provider")(llm_provider, model_name);
    if (!requests_go_to_providers()) return provider;  // a stand-in answers: no client is made
    const providers::Provider* entry = providers::provider_from_alias(host::Utf8(provider.attr("value")).view());
    if (entry == nullptr || entry->client_factory.empty()) return provider;
    py::dict options;
    if (!replay.is_none()) options["replay_path"] = py::module_::import("os").attr("fspath")(replay);
    CallOptions scope(options);
    make_client(*entry);
    return provider;
}

py::object result_field(const GenerationResult& g, ResultField field) {
    if (std::optional<data::Value> plain = wf::result_field_value(g.result, field, g.alignment))
        return host::to_python(*plain);
    const wf::Result& r = g.result;
    switch (field) {
    case ResultField::ModelText: return model_of(r.pair);
    case ResultField::DataText: return data_of(r.pair);
    case ResultField::ModelFile: return g.model_file;
    case ResultField::DataFile: return g.data_file;
    case ResultField::Diagnostics: return compiled_records(r.compiled_model.get());
    case ResultField::CompiledModel: return compiled_handle(r.compiled_model.get());
    case ResultField::Execution: return r.execution ? held(r.execution->host.get()).first : py::none();
    case ResultField::Statistics: return host::to_python(statistics(g));
    case ResultField::WhatIf: return host::to_python(what_if_table(g));
    default: return py::none();
    }
}

data::Value result_value(const GenerationResult& g, ResultField field) {
    if (std::optional<data::Value> plain = wf::result_field_value(g.result, field, g.alignment)) return *plain;
    if (field == ResultField::Statistics) return statistics(g);
    if (field == ResultField::WhatIf) return what_if_table(g);
    return host::from_python(result_field(g, field), {.others_as_text = true});
}

GenerationResult run_generation(py::object prompt, py::object model_file, py::object data_file, const py::dict& options,
                                files::Existing own_names) {
    RunArgs a = run_defaults();
    a[RunArg::Prompt] = prompt;
    a[RunArg::ModelFile] = model_file;
    a[RunArg::DataFile] = data_file;
    for (auto [key, value] : options) {
        std::string name = host::str_of(key);
        auto* found = std::find_if(std::begin(kRunParameters) + kRunPositional, std::end(kRunParameters),
                                   [&](const RunParameter& p) { return name == p.name; });
        if (found == std::end(kRunParameters))
            throw py::type_error("run_generation() got an unexpected keyword argument '" + name + "'");
        a.values[static_cast<std::size_t>(found - std::begin(kRunParameters))] =
            py::reinterpret_borrow<py::object>(value);
    }
    return run_generation(std::move(a), own_names);
}

void register_workflow(py::module_& m) {
    def_documented(m, "_execute_model", &execute_model, py::arg("model_code"), py::arg("data_code"),
                   py::arg("time_limit") = py::none(), py::arg("solver") = "highs");
    def_documented(m, "_check_provider", &check_provider, py::arg("llm_provider"), py::arg("model_name"),
                   py::arg("replay") = py::none());
    register_generative_solve(m);
    register_result(m);
    register_run_generation(m);
    record_loaded_steps();
}

}  // namespace tarvok::generative::bind
