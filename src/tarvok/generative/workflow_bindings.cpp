// The two entry points: the generate-validate-revise loop and feedback on an
// existing model. Both only orchestrate: every step is a module function
// looked up at call time.
#include "common/files.hpp"
#include "generative/bindings.hpp"
#include "generative/progress_messages.hpp"

#include <filesystem>
#include <string_view>

namespace tarvok::generative::bind {

using files::same_file;

namespace {

void check_request_kinds(const char* function, py::handle temperature, py::handle stop, py::handle llm_provider) {
    host::require(temperature, function, "temperature", Kind::Float, true);
    host::require(stop, function, "stop", Kind::List, true);
    host::require(llm_provider, function, "llm_provider", Kind::Str, true);
}

/// The UTF-8 bytes a text file of the caller gets for `value`. A value that
/// is not text, or a text holding a lone surrogate, gets the host's error for
/// writing it to a UTF-8 text file, before any file is touched.
py::bytes encoded_for_writing(py::handle value) {
    if (!PyUnicode_Check(value.ptr())) {
        throw py::type_error("write() argument must be str, not " + host::type_name(value));
    }
    PyObject* bytes = PyUnicode_AsUTF8String(value.ptr());
    if (bytes == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::bytes>(bytes);
}

/// Writes the model and the data file so that each is either complete or as
/// it was: both texts go to temporaries first, which then replace the files.
void write_pair(py::handle model_file, py::handle model_code, py::handle data_file, py::handle data_code) {
    py::bytes model_bytes = encoded_for_writing(model_code), data_bytes = encoded_for_writing(data_code);
    host::replace_files({{model_file, model_bytes}, {data_file, data_bytes}});
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
        same = same_file(model, data);
    }
    if (same) {
        host::raise(PyExc_ValueError, std::string(function) + "(): model_file and data_file name the same file: " +
                                          host::str_of(data_file));
    }
}

/// Creates the directory part of `path` with its parents, when it has one.
void ensure_parent(py::handle path) {
    py::module_ os = py::module_::import("os");
    py::object parent = os.attr("path").attr("dirname")(path);
    if (host::truthy(parent)) os.attr("makedirs")(parent, py::arg("exist_ok") = true);
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

py::object generate(py::handle provider, py::handle model_name, py::handle input_text, py::handle temperature,
                    py::handle stop, py::handle progress) {
    return attr("_llm_generate_text")(
        py::arg("provider") = provider, py::arg("model_name") = model_name, py::arg("input_text") = input_text,
        py::arg("max_tokens") = attr("MAX_OUTPUT_TOKENS"), py::arg("temperature") = temperature, py::arg("stop") = stop,
        py::arg("progress") = progress);
}

bool is_empty(py::handle reply) {
    int empty = PyObject_Not(reply.ptr());
    if (empty < 0) throw py::error_already_set();
    return empty == 1;
}

/// Temperature for the judging requests: fixed when the caller chose one,
/// absent (the model's default) when not.
py::object judging_temperature(py::handle temperature, double fixed) {
    if (temperature.is_none()) return py::none();
    return py::float_(fixed);
}

/// A verdict is usable only with a JSON boolean "aligned" and a text "assessment".
bool is_valid_verdict(py::handle verdict) {
    if (!PyDict_Check(verdict.ptr())) return false;
    PyObject* aligned = PyDict_GetItemString(verdict.ptr(), "aligned");
    PyObject* assessment = PyDict_GetItemString(verdict.ptr(), "assessment");
    return aligned != nullptr && PyBool_Check(aligned) && assessment != nullptr && PyUnicode_Check(assessment);
}

/// The execution check's settings, read when a call starts.
struct ExecutionCheck {
    bool on = false;
    py::object time_limit = py::none();  ///< seconds, or None for no limit
};

/// Reads EXECUTION_CHECK and EXECUTION_TIME_LIMIT as they stand. An unusable
/// time limit, or a check without the solver library, is refused before any
/// request is sent.
ExecutionCheck read_execution_check() {
    ExecutionCheck check;
    check.on = host::truthy(attr("EXECUTION_CHECK"));
    if (!check.on) return check;
    check.time_limit = attr("EXECUTION_TIME_LIMIT");
    if (!check.time_limit.is_none()) {
        bool number = host::is_exact(check.time_limit, Kind::Float) || host::is_exact(check.time_limit, Kind::Int);
        if (!number) {
            throw py::type_error("EXECUTION_TIME_LIMIT must be a number of seconds or None, not " +
                                 host::type_name(check.time_limit));
        }
        double seconds = check.time_limit.cast<double>();
        if (!(seconds > 0)) {
            host::raise(PyExc_ValueError,
                        "EXECUTION_TIME_LIMIT must be greater than 0, not " + host::str_of(check.time_limit));
        }
    }
    host::import_extra("highspy", "The execution check (EXECUTION_CHECK) solves models with HiGHS and", "solve");
    return check;
}

/// Solver statuses after which a compiling pair is revised: the model itself
/// is at fault. A time limit is not among them (see the loop).
bool is_execution_failure(const std::string& status) {
    return status == "infeasible" || status == "unbounded" || status == "infeasible_or_unbounded" || status == "error";
}

/// A number for a progress line, as the host writes it.
std::string number_text(py::handle value) { return value.is_none() ? "none" : host::str_of(py::repr(value)); }

/// The plain statement of a failed execution check, for the final assessment.
py::str verdict_text(py::handle solver_result, py::handle model_code) {
    host::Utf8 model(host::text_form(model_code));
    return host::text(solver_verdict_text(solver_verdict(solver_result), model.view()));
}

/// `_execute_model(model_code, data_code, time_limit)`: solves a pair with
/// tarvok.solver and reports the outcome as a map. A fault that only
/// expanding the model with its data reveals is the status "error" with the
/// diagnostics as its message.
py::object execute_model(py::object model_code, py::object data_code, py::object time_limit) {
    py::module_ solver = host::import_sibling(host::this_module(), "solver");
    py::dict outcome;
    try {
        py::object result = solver.attr("solve_model")(model_code, data_code, py::arg("time_limit") = time_limit);
        outcome["status"] = result.attr("status").attr("value");
        outcome["objective"] = result.attr("objective");
        outcome["message"] = result.attr("message");
        outcome["infeasible_constraints"] = result.attr("infeasible_constraints");
    } catch (py::error_already_set& e) {
        if (!e.matches(solver.attr("SemanticError"))) throw;
        outcome["status"] = "error";
        outcome["objective"] = py::none();
        outcome["message"] = py::str(e.value());
        outcome["infeasible_constraints"] = py::list();
    }
    return outcome;
}

py::object solve(py::object prompt, py::object model_file, py::object data_file, py::object model_name, py::object mode,
                 py::object iterations_arg, py::object return_statistics, py::object alignment_check,
                 py::object temperature, py::object stop, py::object llm_provider, py::object progress,
                 py::object few_shot) {
    check_request_kinds("generative_solve", temperature, stop, llm_provider);
    refuse_same_file("generative_solve", model_file, data_file);

    py::object grammar = attr("_get_grammar_implementation")(mode);
    const long long iterations = normalise_iterations(iterations_arg);
    const bool do_alignment =
        PyObject_IsTrue(alignment_check.is_none() ? attr("ALIGNMENT_CHECK").ptr() : alignment_check.ptr()) == 1;
    if (PyErr_Occurred()) throw py::error_already_set();
    const ExecutionCheck execution = read_execution_check();
    py::object provider = attr("_infer_provider")(llm_provider, model_name);

    notify(progress, "Generating with provider=" + host::str_of(provider.attr("value")) +
                         " model=" + host::str_of(model_name) + " iterations=" + std::to_string(iterations) +
                         " alignment=" + (do_alignment ? "on" : "off"));
    if (execution.on) {
        notify(progress,
               "Execution check on: every compiling model is solved (time limit " +
                   (execution.time_limit.is_none() ? std::string("none") : number_text(execution.time_limit) + " s") +
                   ")");
    }

    py::object few_shots = py::list();
    if (PyObject_IsTrue(few_shot.ptr()) == 1) {
        few_shots =
            attr("_gather_few_shots")(prompt, py::arg("k") = attr("FEW_SHOT_TOP_K"),
                                      py::arg("models_dir") = attr("FEW_SHOT_LIBRARY"), py::arg("progress") = progress);
        if (!few_shots.is_none() && !PyList_Check(few_shots.ptr())) {
            throw py::type_error("_gather_few_shots() must return a list of examples, not " +
                                 host::type_name(few_shots));
        }
    } else if (PyErr_Occurred()) {
        throw py::error_already_set();
    }

    py::object user_prompt = attr("_build_generation_prompt")(prompt, grammar, py::arg("few_shots") = few_shots);
    py::object assessment_text = py::str("");
    py::list syntax_errors;
    py::object model_code = py::str(""), data_code = py::str("");
    long long performed = 0;
    // The final pair's solve (None when it was not solved), and whether the
    // last iteration ended on a failed execution check.
    py::object solver_status = py::none(), objective = py::none();
    py::object execution_verdict = py::none();

    for (long long iteration = 0; iteration < iterations; ++iteration) {
        performed = iteration + 1;
        solver_status = objective = execution_verdict = py::none();
        std::string counter = std::to_string(iteration + 1) + "/" + std::to_string(iterations);
        log_debug("Iteration " + counter);
        notify(progress, "Iteration " + counter + ": prompting model");

        py::object content = generate(provider, model_name, user_prompt, temperature, stop, progress);
        if (is_empty(content)) host::raise(PyExc_RuntimeError, "Empty model response.");

        try {
            py::object result = attr("_json_loads_relaxed")(content);
            model_code = result["model"];
            data_code = result["data"];
            notify(progress, "LLM response parsed (model + data)");
            log_debug("Model and data generated.");
        } catch (py::error_already_set& e) {
            if (!host::is_ordinary(e)) throw;
            host::raise_from(e, PyExc_RuntimeError,
                             "Failed to parse model response as JSON: " + server_text(e.value()) +
                                 "\nResponse: " + server_text(content));
        }

        syntax_errors = py::list();
        notify(progress, "Compiling model and data");
        try {
            attr("TVLCompiler")().attr("compile_model")(model_code, data_code);
        } catch (py::error_already_set& e) {
            if (!host::is_ordinary(e)) throw;
            if (PyObject_IsInstance(e.value().ptr(), attr("SemanticError").ptr()) == 1) {
                syntax_errors.append(py::str(e.value()));
                log_debug("Semantic error in model: " + host::str_of(e.value()));
            } else {
                syntax_errors.append(py::str(host::type_name(e.value()) + ": ") + py::str(e.value()));
            }
        }

        ensure_parent(model_file);
        ensure_parent(data_file);
        write_pair(model_file, model_code, data_file, data_code);
        notify(progress, "Wrote files: " + host::str_of(model_file) + " \u2022 " + host::str_of(data_file));

        if (py::len(syntax_errors) == 0 && execution.on) {
            notify(progress, "Solving the model to check it");
            py::object outcome =
                attr("_execute_model")(model_code, data_code, py::arg("time_limit") = execution.time_limit);
            solver_status = outcome["status"];
            objective = outcome.attr("get")("objective");
            const std::string status = host::str_of(solver_status);
            if (is_execution_failure(status)) {
                notify(progress, "Execution check failed: the solver's verdict is " + status + "; revising...");
                log_debug("Model and data compile but do not solve (" + status + "); revising...");
                user_prompt = attr("_build_revision_prompt_execution")(prompt, grammar, model_code, data_code, outcome,
                                                                       py::arg("few_shots") = few_shots);
                execution_verdict = outcome;
                continue;
            }
            // A time limit says nothing against the model: it goes on, as a
            // model that solves does, rather than being revised on a guess.
            if (status == "optimal") {
                notify(progress, "Execution check passed: optimal, objective " + number_text(objective));
            } else {
                notify(progress, "Execution check: " + status + " (objective " + number_text(objective) +
                                     "); not a fault of the model, going on");
            }
        }

        if (py::len(syntax_errors) == 0) {
            if (!do_alignment) {
                notify(progress, "Syntax OK; alignment check disabled. Stopping.");
                break;
            }
            log_debug("Checking alignment with original prompt...");
            notify(progress, "Checking alignment with original prompt...");
            py::object alignment_prompt = attr("_build_alignment_prompt")(prompt, grammar, model_code, data_code);
            py::object alignment_content =
                generate(provider, model_name, alignment_prompt, judging_temperature(temperature, 0.0), stop, progress);
            if (is_empty(alignment_content)) host::raise(PyExc_RuntimeError, "Empty alignment response.");
            py::object verdict = attr("_json_loads_relaxed")(alignment_content);
            if (!is_valid_verdict(verdict)) {
                host::raise(PyExc_RuntimeError, "Invalid alignment response JSON: " + server_text(alignment_content));
            }
            assessment_text = verdict["assessment"].attr("strip")();
            if (verdict["aligned"].ptr() == Py_True) {
                notify(progress, std::string(kAlignedMessage));
                log_debug("Model and data are syntactically valid and aligned with the prompt.");
                break;
            }
            notify(progress, "Not aligned; revising per assessment");
            log_debug("Model and data are syntactically valid but NOT aligned with the prompt. Assessment: " +
                      host::str_of(assessment_text));
            user_prompt = attr("_build_revision_prompt_alignment")(prompt, grammar, assessment_text, model_code,
                                                                   data_code, py::arg("few_shots") = few_shots);
            continue;
        }

        notify(progress, "Syntax/semantic errors found: " + std::to_string(py::len(syntax_errors)) + "; revising...");
        log_debug("Model or data has syntax errors; revising...");
        user_prompt = attr("_build_revision_prompt_syntax")(prompt, grammar, model_code, data_code, syntax_errors,
                                                            py::arg("few_shots") = few_shots);
    }

    model_code = host::read_file(model_file, "r", "utf-8");
    data_code = host::read_file(data_file, "r", "utf-8");
    const bool execution_failed = !execution_verdict.is_none();
    if (py::len(syntax_errors) > 0 || !do_alignment || execution_failed) {
        log_debug("Final assessment of model and data alignment...");
        notify(progress, "Requesting final assessment");
        // A pair that compiles but does not solve is assessed with the solver's verdict as its error.
        py::object errors = syntax_errors;
        if (execution_failed) {
            errors = py::list();
            errors.attr("append")(verdict_text(execution_verdict, model_code));
        }
        py::object final_prompt =
            attr("_build_final_assessment_prompt")(prompt, grammar, model_code, data_code, errors);
        py::object reply =
            generate(provider, model_name, final_prompt, judging_temperature(temperature, 0.2), stop, progress);
        assessment_text = is_empty(reply) ? py::str("") : reply;
    }

    notify(progress, "Generation complete");
    py::object assessment = assessment_text.attr("strip")();
    if (PyObject_IsTrue(return_statistics.ptr()) != 1) {
        if (PyErr_Occurred()) throw py::error_already_set();
        return assessment;
    }
    py::dict statistics;
    statistics["iterations"] = performed;
    statistics["assessment"] = assessment;
    statistics["syntax_errors"] = syntax_errors;
    if (execution.on) {
        statistics["solver_status"] = solver_status;
        statistics["objective"] = objective;
    }
    return statistics;
}

py::object feedback(py::object prompt, py::object model_file, py::object data_file, py::object model_name,
                    py::object mode, py::object temperature, py::object stop, py::object llm_provider,
                    py::object progress) {
    check_request_kinds("generative_feedback", temperature, stop, llm_provider);

    py::object provider = attr("_infer_provider")(llm_provider, model_name);
    py::object grammar = attr("_get_grammar_implementation")(mode);
    py::object model_text = host::read_file(model_file, "r", "utf-8");
    py::object data_text = host::read_file(data_file, "r", "utf-8");

    notify(progress, "Generating feedback from LLM");
    py::object request = attr("_build_feedback_prompt")(prompt, grammar, model_text, data_text);
    py::object content = generate(provider, model_name, request, judging_temperature(temperature, 0.0), stop, progress);
    if (is_empty(content)) host::raise(PyExc_RuntimeError, "Empty model response.");

    try {
        notify(progress, "Feedback received; parsing");
        return attr("_json_loads_relaxed")(content);
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e)) throw;
        host::raise_from(e, PyExc_RuntimeError,
                         "Failed to parse feedback response as JSON: " + server_text(e.value()) +
                             "\nResponse: " + server_text(content));
    }
}

}  // namespace

void register_workflow(py::module_& m) {
    py::object model_name = m.attr("MODEL_NAME");
    py::object llm_provider = m.attr("LLM_PROVIDER");
    py::object iterations = m.attr("MAX_ITERATIONS");
    py::object bnf = m.attr("Grammar").attr("BNF");
    py::object none = py::none();

    py::cpp_function solve_fn(&solve, py::name("generative_solve"), py::arg("prompt"), py::arg("model_file"),
                              py::arg("data_file"), py::arg("model_name") = model_name, py::arg("mode") = bnf,
                              py::arg("iterations") = iterations, py::arg("return_statistics") = false,
                              py::arg("alignment_check") = none, py::arg("temperature") = none, py::arg("stop") = none,
                              py::arg("llm_provider") = llm_provider, py::arg("progress") = none,
                              py::arg("few_shot") = true);
    host::def(m, "_execute_model", "model_code, data_code, time_limit=None",
              "Solve a model and data pair for the execution check and report how it ended.\n\n"
              "Returns a map: 'status' (the solver's status word), 'objective', 'message' and\n"
              "'infeasible_constraints'. A fault that only the data reveals is the status 'error'.",
              &execute_model, py::arg("model_code"), py::arg("data_code"), py::arg("time_limit") = none);

    def_with_signature(m, "generative_solve", solve_fn,
                       "Generate a Tarvok model and data file from a prompt using OpenAI GPT, validate with tarvok, "
                       "iterate on errors, and assess alignment.\n\n"
                       "Each iteration asks the LLM for a model and data pair, compiles it, and writes both files\n"
                       "(each replaced whole through a temporary file beside it, so a failure leaves the previous\n"
                       "pair); compile errors are sent back for repair, and a compiling pair is judged against the\n"
                       "description when the alignment check is on. With EXECUTION_CHECK on, a compiling pair is\n"
                       "first solved (EXECUTION_TIME_LIMIT seconds) and one that is infeasible, unbounded or fails\n"
                       "in the solver is sent back with the solver's verdict. Files are UTF-8.\n\n"
                       "Parameters:\n"
                       "  prompt             the problem description.\n"
                       "  model_file         path of the model file to write; missing folders are created.\n"
                       "  data_file          path of the data file to write; it must not name the model file\n"
                       "                     (ValueError before any request).\n"
                       "  model_name         the LLM's model name (MODEL_NAME at import).\n"
                       "  mode               the Grammar reference pasted into the prompts (Grammar.BNF).\n"
                       "  iterations         most generate/compile rounds; read as the host's int(), at least 1,\n"
                       "                     MAX_ITERATIONS when it is no number.\n"
                       "  return_statistics  return a dict with 'iterations', 'assessment' and 'syntax_errors'\n"
                       "                     (the last round's compiler errors) instead of the assessment text;\n"
                       "                     with EXECUTION_CHECK on, also 'solver_status' and 'objective' of the\n"
                       "                     final pair (None when it was not solved).\n"
                       "  alignment_check    judge compiling pairs against the description; None reads\n"
                       "                     ALIGNMENT_CHECK.\n"
                       "  temperature        float for the generating requests; judging requests then use 0.0,\n"
                       "                     the final assessment 0.2; None sends no temperature at all.\n"
                       "  stop               list of stop sequences (OpenAI only), or None.\n"
                       "  llm_provider       'openai', 'google' or 'ollama' (or an alias); None or an unknown name\n"
                       "                     lets the model name decide.\n"
                       "  progress           callable taking one status line, or None for the debug log.\n"
                       "  few_shot           put the closest worked examples of FEW_SHOT_LIBRARY into the prompts\n"
                       "                     (FEW_SHOT_TOP_K of them).\n\n"
                       "Returns the assessment text (trimmed), or the statistics dict. Raises RuntimeError for an\n"
                       "empty or unparseable LLM reply and for failed requests (each request is bounded by\n"
                       "REQUEST_TIMEOUT); errors of the files and the client libraries propagate.",
                       {{"prompt", {}},
                        {"model_file", {}},
                        {"data_file", {}},
                        {"model_name", model_name},
                        {"mode", bnf},
                        {"iterations", iterations},
                        {"return_statistics", py::bool_(false)},
                        {"alignment_check", none},
                        {"temperature", none},
                        {"stop", none},
                        {"llm_provider", llm_provider},
                        {"progress", none},
                        {"few_shot", py::bool_(true)}});

    py::cpp_function feedback_fn(&feedback, py::name("generative_feedback"), py::arg("prompt"), py::arg("model_file"),
                                 py::arg("data_file"), py::arg("model_name") = model_name, py::arg("mode") = bnf,
                                 py::arg("temperature") = none, py::arg("stop") = none,
                                 py::arg("llm_provider") = llm_provider, py::arg("progress") = none);
    def_with_signature(
        m, "generative_feedback", feedback_fn,
        "Provide feedback on a given Tarvok model and data file based on a user prompt.\n\n"
        "One LLM request; nothing is compiled or written.\n\n"
        "Parameters:\n"
        "  prompt        the question or request about the model.\n"
        "  model_file    path of an existing model file (read as UTF-8).\n"
        "  data_file     path of an existing data file (read as UTF-8).\n"
        "  model_name    the LLM's model name (MODEL_NAME at import).\n"
        "  mode          the Grammar reference pasted into the prompt (Grammar.BNF).\n"
        "  temperature   any float sends temperature 0.0; None sends none.\n"
        "  stop          list of stop sequences (OpenAI only), or None.\n"
        "  llm_provider  'openai', 'google' or 'ollama' (or an alias); None lets the model name decide.\n"
        "  progress      callable taking one status line, or None for the debug log.\n\n"
        "Returns the parsed reply: 'feedback' and, when changes are proposed, 'revised_model' and\n"
        "'revised_data' (None when the reply is the JSON null). Raises RuntimeError for an empty or\n"
        "unparseable reply; a missing file fails before any request.",
        {{"prompt", {}},
         {"model_file", {}},
         {"data_file", {}},
         {"model_name", model_name},
         {"mode", bnf},
         {"temperature", none},
         {"stop", none},
         {"llm_provider", llm_provider},
         {"progress", none}});
}

}  // namespace tarvok::generative::bind
