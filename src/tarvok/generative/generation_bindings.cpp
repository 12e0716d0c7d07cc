// The entry points of the loop: generative_solve, run_generation (the same
// run, returning a GenerationResult), generative_feedback and the execution
// check's `_execute_model`. Each checks its arguments, reads the settings it
// falls back on, runs the core (see workflow_bindings.cpp) and speaks Python.
#include "common/files.hpp"
#include "generative/module_face.hpp"
#include "generative/providers/providers.hpp"
#include "generative/result_values.hpp"
#include "generative/workflow_bindings.hpp"
#include "host/json_value.hpp"

#include <pybind11/stl.h>

#include <cmath>
#include <filesystem>
#include <string_view>

namespace tarvok::generative::bind {

namespace {

/// `solver` as run_generation takes it: a name of tarvok.solver._SOLVERS
/// (looked up when called), else ValueError naming them.
py::object solver_choice(py::object solver) {
    py::tuple names = py::module_::import("tarvok.solver").attr("_SOLVERS");
    if (PyUnicode_Check(solver.ptr()) && names.contains(solver)) return solver;
    std::vector<std::string> quoted;
    for (py::handle name : names) quoted.push_back("'" + host::str_of(name) + "'");
    host::raise(PyExc_ValueError, "run_generation() argument 'solver' must be " +
                                      providers::spoken_list({quoted.begin(), quoted.end()}, "or") + ", not " +
                                      host::str_of(py::repr(solver)));
}

void check_request_kinds(const char* function, py::handle temperature, py::handle stop, py::handle llm_provider) {
    host::require(temperature, function, "temperature", Kind::Float, true);
    host::require(stop, function, "stop", Kind::List, true);
    host::require(llm_provider, function, "llm_provider", Kind::Str, true);
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

/// Refuses a model and a data path that name one file (two spellings, a
/// link), which would have the data overwrite the model. Arguments that are no
/// paths are left to the writing step to refuse.
void refuse_same_file(const char* function, py::handle model_file, py::handle data_file) {
    std::filesystem::path model, data;
    try {
        model = host::file_system_path(model_file);
        data = host::file_system_path(data_file);
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_TypeError)) throw;
        return;
    }
    bool same = false;
    {
        py::gil_scoped_release unlocked;
        same = files::same_file(model, data);
    }
    if (same) {
        host::raise(PyExc_ValueError, std::string(function) + "(): model_file and data_file name the same file: " +
                                          host::str_of(data_file));
    }
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

/// A number of seconds or None; `what` names it in the errors.
void check_seconds(py::handle value, const std::string& what) {
    if (value.is_none()) return;
    if (!host::is_exact(value, Kind::Float) && !host::is_exact(value, Kind::Int)) {
        throw py::type_error(what + " must be a number of seconds or None, not " + host::type_name(value));
    }
    if (!(value.cast<double>() > 0))
        host::raise(PyExc_ValueError, what + " must be greater than 0, not " + host::str_of(value));
}

/// A callable run_generation is given, or None.
void require_callable(py::handle value, const char* name) {
    if (value.is_none() || PyCallable_Check(value.ptr())) return;
    throw py::type_error(std::string("run_generation() argument '") + name + "' must be callable or None, not " +
                         host::type_name(value));
}

/// What run_generation gives for one call in place of the module settings;
/// an unset option (a null object, or None where None means "not given")
/// leaves the setting as it stands.
struct PerCall {
    py::object execution_check = py::none(), execution_time_limit = py::none();
    py::object few_shot_library, timeout = py::none(), embedding_model = py::none(), on_event = py::none();
    py::object record = py::none(), replay = py::none();  ///< paths, as os.fspath gives them
    py::object assumptions = py::none(), what_if = py::bool_(false), what_if_max = py::int_(3);
    py::object solver = py::str("highs");  ///< of every solve the call makes (a name of tarvok.solver._SOLVERS)
};

/// The solver library a step of the call needs, through the solver module's
/// one availability check; HiGHS comes with the `solve` extra.
void require_solver(py::object solver, const std::string& step) {
    bool highs = host::str_of(solver) == "highs";
    std::string why = step + " " + (highs ? std::string("HiGHS") : host::str_of(solver)) + " and";
    py::module_::import("tarvok.solver")
        .attr("_check_solver")(solver, why, highs ? py::object(py::str("solve")) : py::object(py::none()));
}

/// The assumptions step of the call: per call, else ASSUMPTIONS_CHECK; the
/// what-if step implies it and, as it solves, needs the solver library.
void read_assumptions(Call& c, const PerCall& per_call) {
    c.run.what_if = host::truthy(per_call.what_if);
    py::object on = per_call.assumptions.is_none() ? attr("ASSUMPTIONS_CHECK") : per_call.assumptions;
    c.run.assumptions = c.run.what_if || host::truthy(on);
    c.run.what_if_max = host::saturated(per_call.what_if_max);
    if (!c.run.assumptions) return;
    c.run.description = host::str_of(c.prompt);
    if (c.run.what_if) require_solver(per_call.solver, "The what-if step solves every alternative with");
}

/// The execution check of the call: per call, else EXECUTION_CHECK and
/// EXECUTION_TIME_LIMIT as they stand. An unusable time limit, or a check
/// without the solver library, is refused before any request is sent.
void read_execution_check(Call& c, const PerCall& per_call) {
    py::object on = per_call.execution_check.is_none() ? attr("EXECUTION_CHECK") : per_call.execution_check;
    c.run.execution_check = host::truthy(on);
    if (!c.run.execution_check) return;
    bool given = !per_call.execution_time_limit.is_none();
    c.time_limit = given ? per_call.execution_time_limit : attr("EXECUTION_TIME_LIMIT");
    check_seconds(c.time_limit, given ? "run_generation() argument 'execution_time_limit'" : "EXECUTION_TIME_LIMIT");
    c.run.time_limit_text = c.time_limit.is_none() ? "" : number_text(c.time_limit);
    require_solver(per_call.solver, "The execution check (EXECUTION_CHECK) solves models with");
}

/// The arguments that generative_solve and run_generation share.
struct Arguments {
    py::object prompt, model_file, data_file, model_name, mode, iterations, alignment_check, temperature, stop,
        llm_provider, progress, few_shot;
};

/// A call of the loop from its arguments, in the order the loop has always
/// read them: nothing is sent before all of them are checked.
Call prepare(const char* function, const Arguments& a, const PerCall& per_call) {
    check_request_kinds(function, a.temperature, a.stop, a.llm_provider);
    refuse_same_file(function, a.model_file, a.data_file);
    Call c;
    c.prompt = a.prompt;
    c.model_file = a.model_file;
    c.data_file = a.data_file;
    c.model_name = a.model_name;
    c.progress = a.progress;
    c.few_shot = a.few_shot;
    c.few_shot_library = per_call.few_shot_library;
    c.on_event = per_call.on_event;
    c.record = per_call.record;
    c.grammar = attr("_get_grammar_implementation")(a.mode);
    c.run.iterations = normalise_iterations(a.iterations);
    c.run.alignment = host::truthy(a.alignment_check.is_none() ? attr("ALIGNMENT_CHECK") : a.alignment_check);
    read_execution_check(c, per_call);
    read_assumptions(c, per_call);
    c.provider = attr("_infer_provider")(a.llm_provider, a.model_name);

    c.run.provider = host::str_of(c.provider.attr("value"));
    c.run.model = host::str_of(a.model_name);
    take_request_options(c, a.temperature, a.stop);
    c.run.model_file = host::str_of(a.model_file);
    c.run.data_file = host::str_of(a.data_file);
    return c;
}

// ------------------------------------------------------------ the result

/// What one run of the loop gave, as run_generation returns it.
struct GenerationResult {
    wf::Result result;
    py::object model_file, data_file;
    bool alignment = true;
    bool execution_check = false;
    bool assumptions = false, what_if = false;
    py::object solver = py::str("highs");  ///< of the run's solves, and of execute()'s
};

/// Fills the reading members the core left in a what-if entry with a solve
/// as the host holds it; they stay None without one.
void fill_reading(py::handle entry, const std::optional<wf::ExecutionOutcome>& execution) {
    py::object map = execution ? held(execution->host.get()).first : py::object(py::none());
    if (map.is_none()) return;
    entry["status"] = map["status"];
    entry["objective"] = held(execution->host.get()).second;
    entry["answer"] = map.attr("get")("answer");
}

/// The what-if table (see what_if_value) with the alternatives' files and
/// every solve filled in; None when the step was not taken.
py::object what_if_table(const GenerationResult& g) {
    if (!g.what_if || !g.result.assumptions_asked) return py::none();
    py::object out = host::object_of(wf::what_if_value(g.result));
    py::object alternatives = out["alternatives"];
    for (std::size_t i = 0; i < g.result.what_if.size(); ++i) {
        const wf::WhatIf& w = g.result.what_if[i];
        py::object one = alternatives[py::int_(i)];
        if (wf::alternative_written(w)) {
            one["model_file"] = alternative_file(g.model_file, w.index);
            one["data_file"] = alternative_file(g.data_file, w.index);
        }
        fill_reading(one, w.execution);
    }
    fill_reading(out["main"], g.result.main_execution);
    return out;
}

/// The map generative_solve returns with return_statistics.
py::object statistics(const GenerationResult& g) {
    py::object out = host::object_of(wf::statistics_value(g.result, {g.execution_check, g.assumptions}));
    if (g.execution_check && g.result.execution) {
        const Held& solved = held(g.result.execution->host.get());
        out["solver_status"] = solved.first["status"];
        out["objective"] = solved.second;
    }
    if (g.assumptions) out["what_if"] = what_if_table(g);
    return out;
}

/// The final pair's solver outcome: the execution check's (or the what-if
/// step's), else a solve of its compiled model ('answer' too with the
/// assumptions step); None when it does not compile.
py::object execute(const GenerationResult& g, py::object time_limit) {
    if (g.result.execution) return held(g.result.execution->host.get()).first;
    if (g.result.main_execution) return held(g.result.main_execution->host.get()).first;  // the what-if step's
    if (!g.result.compiled) return py::none();
    CallOptions scope(py::dict(py::arg("solver") = g.solver));
    return execution_map(g.result.pair, g.result.compiled_model.get(), time_limit, g.assumptions);
}

/// Runs the loop of the call.
GenerationResult result_of(Call& c, py::object solver = py::str("highs")) {
    return {run_loop(c),           c.model_file,      c.data_file,   c.run.alignment,
            c.run.execution_check, c.run.assumptions, c.run.what_if, std::move(solver)};
}

py::object run_and_wrap(Call& c, const PerCall& per_call) {
    py::dict options;
    if (!per_call.timeout.is_none()) options["timeout"] = py::float_(per_call.timeout.cast<double>());
    if (!per_call.embedding_model.is_none()) options["embedding_model"] = per_call.embedding_model;
    if (!per_call.replay.is_none()) options["replay_path"] = per_call.replay;
    options["solver"] = per_call.solver;
    CallOptions scope(options);
    return py::cast(result_of(c, per_call.solver));
}

// ---------------------------------------------------------- entry points

py::object generative_solve(py::object prompt, py::object model_file, py::object data_file, py::object model_name,
                            py::object mode, py::object iterations, py::object return_statistics,
                            py::object alignment_check, py::object temperature, py::object stop,
                            py::object llm_provider, py::object progress, py::object few_shot) {
    Arguments a{prompt,          model_file,  data_file, model_name,   mode,     iterations,
                alignment_check, temperature, stop,      llm_provider, progress, few_shot};
    Call c = prepare("generative_solve", a, PerCall{});
    GenerationResult g = result_of(c);
    if (!host::truthy(return_statistics)) return host::text(g.result.assessment);
    return statistics(g);
}

/// The options only run_generation has, checked before anything is done.
PerCall per_call_options(py::object few_shot_library, py::object execution_check, py::object execution_time_limit,
                         py::object timeout, py::object embedding_model, py::object on_event, py::object record,
                         py::object replay, py::object assumptions, py::object what_if, py::object what_if_max) {
    const char* fn = "run_generation";
    host::require(assumptions, fn, "assumptions", Kind::Bool, true);
    host::require(what_if, fn, "what_if", Kind::Bool);
    host::require(what_if_max, fn, "what_if_max", Kind::Int);
    if (what_if_max.cast<long long>() < 0)
        host::raise(PyExc_ValueError,
                    "run_generation() argument 'what_if_max' must be at least 0, not " + host::str_of(what_if_max));
    host::require(execution_check, fn, "execution_check", Kind::Bool, true);
    check_seconds(execution_time_limit, "run_generation() argument 'execution_time_limit'");
    check_seconds(timeout, "run_generation() argument 'timeout'");
    if (!timeout.is_none() && !std::isfinite(timeout.cast<double>()))
        host::raise(PyExc_ValueError,
                    "run_generation() argument 'timeout' must be finite, not " + host::str_of(timeout));
    host::require(embedding_model, fn, "embedding_model", Kind::Str, true);
    require_callable(on_event, "on_event");
    PerCall per_call{execution_check, execution_time_limit, py::object(), timeout, embedding_model, on_event,
                     py::none(),      py::none(),           assumptions,  what_if, what_if_max};
    py::object fspath = py::module_::import("os").attr("fspath");
    if (!record.is_none()) per_call.record = fspath(record);
    if (!replay.is_none()) per_call.replay = fspath(replay);
    if (!few_shot_library.is_none()) per_call.few_shot_library = few_shot_library;
    return per_call;
}

py::object run_generation(py::object prompt, py::object model_file, py::object data_file, py::object model_name,
                          py::object llm_provider, py::object mode, py::object iterations, py::object alignment_check,
                          py::object temperature, py::object stop, py::object progress, py::object few_shot,
                          py::object few_shot_library, py::object execution_check, py::object execution_time_limit,
                          py::object timeout, py::object embedding_model, py::object on_event, py::object record,
                          py::object replay, py::object assumptions, py::object what_if, py::object what_if_max,
                          py::object cancel, py::object solver) {
    PerCall per_call = per_call_options(few_shot_library, execution_check, execution_time_limit, timeout,
                                        embedding_model, on_event, record, replay, assumptions, what_if, what_if_max);
    per_call.solver = solver_choice(solver);
    require_callable(cancel, "cancel");
    // The settings as they stand now stand in for the arguments not given.
    if (model_name.is_none()) model_name = attr("MODEL_NAME");
    if (mode.is_none()) mode = attr("Grammar").attr("BNF");
    if (iterations.is_none()) iterations = attr("MAX_ITERATIONS");
    Arguments a{prompt,          model_file,  data_file, model_name,   mode,     iterations,
                alignment_check, temperature, stop,      llm_provider, progress, few_shot};
    Call c = prepare("run_generation", a, per_call);
    if (!cancel.is_none()) {
        // Shared, so that copies of the run's settings leave the host's reference counts alone.
        auto asked = std::make_shared<py::object>(cancel);
        c.run.cancelled = [asked] { return host::truthy((*asked)()); };
    }
    return run_and_wrap(c, per_call);
}

py::object generative_feedback(py::object prompt, py::object model_file, py::object data_file, py::object model_name,
                               py::object mode, py::object temperature, py::object stop, py::object llm_provider,
                               py::object progress) {
    check_request_kinds("generative_feedback", temperature, stop, llm_provider);
    Call c;
    c.provider = attr("_infer_provider")(llm_provider, model_name);
    c.grammar = attr("_get_grammar_implementation")(mode);
    c.model_text = host::read_file(model_file, "r", "utf-8");
    c.data_text = host::read_file(data_file, "r", "utf-8");
    c.prompt = prompt;
    c.model_name = model_name;
    c.progress = progress;
    take_request_options(c, temperature, stop);
    return feedback_value(c);
}

/// `_execute_model(model_code, data_code, time_limit)`: solves a pair with
/// tarvok.solver and reports the outcome as a map.
py::object execute_model(py::object model_code, py::object data_code, py::object time_limit, py::object solver_name) {
    return solved_outcome([&] {
        return solver().attr("solve_model")(model_code, data_code, py::arg("time_limit") = time_limit,
                                            py::arg("solver") = solver_name);
    });
}

/// `_check_provider(llm_provider, model_name, replay=None)`: makes the client of the provider a
/// run would use, once, so that a missing key or library fails before any work.
py::object check_provider(py::object llm_provider, py::object model_name, py::object replay) {
    py::object provider = attr("_infer_provider")(llm_provider, model_name);
    if (!requests_go_to_providers()) return provider;  // a stand-in answers: no client is made
    const providers::Provider* entry = providers::provider_from_alias(host::Utf8(provider.attr("value")).view());
    if (entry == nullptr || entry->client_factory.empty()) return provider;
    std::string factory(entry->client_factory);
    py::dict options;
    if (!replay.is_none()) options["replay_path"] = py::module_::import("os").attr("fspath")(replay);
    CallOptions scope(options);
    attr(factory.c_str())();
    return provider;
}

// --------------------------------------------------------- registration

/// A field of the result as the host sees it.
py::object field_of(const GenerationResult& g, ResultField field) {
    const wf::Result& r = g.result;
    switch (field) {
    case ResultField::ModelText: return model_of(r.pair);
    case ResultField::DataText: return data_of(r.pair);
    case ResultField::ModelFile: return g.model_file;
    case ResultField::DataFile: return g.data_file;
    case ResultField::Iterations: return py::int_(r.iterations);
    case ResultField::Compiled: return py::bool_(r.compiled);
    case ResultField::SyntaxErrors: return text_list(r.syntax_errors);
    case ResultField::Diagnostics: return compiled_records(r.compiled_model.get());
    case ResultField::CompiledModel: return compiled_handle(r.compiled_model.get());
    case ResultField::Aligned: return g.alignment ? py::object(py::bool_(r.aligned)) : py::none();
    case ResultField::Assessment: return host::text(r.assessment);
    case ResultField::Execution: return r.execution ? held(r.execution->host.get()).first : py::none();
    case ResultField::LlmCalls: return py::int_(r.llm_calls);
    case ResultField::RepairRounds: return py::int_(r.repair_rounds);
    case ResultField::TokensIn: return py::cast(r.usage.tokens_in);
    case ResultField::TokensOut: return py::cast(r.usage.tokens_out);
    case ResultField::Statistics: return statistics(g);
    case ResultField::Assumptions: return host::object_of(wf::assumptions_value(g.result));
    case ResultField::AssumptionsError:
        return r.assumptions_failure.empty() ? py::object(py::none()) : host::text(r.assumptions_failure);
    case ResultField::WhatIf: return what_if_table(g);
    }
    return py::none();
}

void register_result(py::module_& m) {
    py::class_<GenerationResult> cls(m, "GenerationResult", kGenerationResultDoc);
    for (const ResultFieldDoc& f : result_fields())
        cls.def_property_readonly(
            f.name, [field = f.field](const GenerationResult& g) { return field_of(g, field); }, f.doc);
    cls.def("execute", &execute, py::arg("time_limit") = py::none(),
            host::signed_doc("execute", "self, time_limit=None", kExecuteDoc).c_str());
    cls.def("__repr__", [](const GenerationResult& g) {
        return result_repr(g.result.iterations, g.result.compiled,
                           g.alignment ? std::optional(g.result.aligned) : std::nullopt);
    });
}

void register_run_generation(py::module_& m) {
    py::object none = py::none();
    def_documented(m, "run_generation", &run_generation, py::arg("prompt"), py::arg("model_file"), py::arg("data_file"),
                   py::kw_only(), py::arg("model_name") = none, py::arg("llm_provider") = none, py::arg("mode") = none,
                   py::arg("iterations") = none, py::arg("alignment_check") = none, py::arg("temperature") = none,
                   py::arg("stop") = none, py::arg("progress") = none, py::arg("few_shot") = true,
                   py::arg("few_shot_library") = none, py::arg("execution_check") = none,
                   py::arg("execution_time_limit") = none, py::arg("timeout") = none, py::arg("embedding_model") = none,
                   py::arg("on_event") = none, py::arg("record") = none, py::arg("replay") = none,
                   py::arg("assumptions") = none, py::arg("what_if") = false, py::arg("what_if_max") = 3,
                   py::arg("cancel") = none, py::arg("solver") = "highs");
}

void register_generative_solve(py::module_& m) {
    py::object model_name = m.attr("MODEL_NAME"), llm_provider = m.attr("LLM_PROVIDER");
    py::object bnf = m.attr("Grammar").attr("BNF"), iterations = m.attr("MAX_ITERATIONS"), none = py::none();
    def_with_signature(m, "generative_solve", &generative_solve, py::arg("prompt"), py::arg("model_file"),
                       py::arg("data_file"), py::arg("model_name") = model_name, py::arg("mode") = bnf,
                       py::arg("iterations") = iterations, py::arg("return_statistics") = false,
                       py::arg("alignment_check") = none, py::arg("temperature") = none, py::arg("stop") = none,
                       py::arg("llm_provider") = llm_provider, py::arg("progress") = none, py::arg("few_shot") = true);
    def_with_signature(m, "generative_feedback", &generative_feedback, py::arg("prompt"), py::arg("model_file"),
                       py::arg("data_file"), py::arg("model_name") = model_name, py::arg("mode") = bnf,
                       py::arg("temperature") = none, py::arg("stop") = none, py::arg("llm_provider") = llm_provider,
                       py::arg("progress") = none);
}

}  // namespace

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
