// The loop's services on the host. The loop itself is the core
// (workflow.hpp); here each service calls module functions looked up at call
// time (`_llm_generate_text`, `TVLCompiler`, the replaceable prompt
// builders, `_json_loads_relaxed`, `_gather_few_shots`, `_notify`), so a
// caller that replaces one is obeyed.
#include "bindings/tarvok_generative/workflow_bindings.hpp"

#include "bindings/host/compile.hpp"
#include "bindings/host/json.hpp"
#include "bindings/host/keys.hpp"
#include "bindings/solving/solving.hpp"
#include "common/files.hpp"
#include "generative/result_values.hpp"

#include <algorithm>
#include <array>
#include <filesystem>
#include <optional>
#include <variant>

namespace tarvok::generative::bind {

namespace {

/// The steps whose replacement changes how the loop reaches them.
constexpr const char* kLoadedSteps[] = {"TVLCompiler", "SemanticError", "_llm_generate_text"};

/// Each of them as the module was loaded with it, kept for the life of the
/// process (never destroyed: the interpreter is gone by then).
host::Memo& loaded(std::string_view name) {
    static auto* steps = new std::array<host::Memo, std::size(kLoadedSteps)>;
    return steps->at(std::find(std::begin(kLoadedSteps), std::end(kLoadedSteps), name) - std::begin(kLoadedSteps));
}

/// Whether the module's `name` is still the one it was loaded with.
bool as_loaded(const char* name) {
    return attr(name).is(loaded(name).get([] { return py::none(); }));
}

/// The text of a value a step returned that must be text.
std::string text_from(py::handle value, const char* step) {
    if (!PyUnicode_Check(value.ptr())) {
        throw py::type_error(std::string(step) + "() must return a str, not " + host::type_name(value));
    }
    return std::string(host::Utf8(value).view());
}

/// A prompt's argument as the builders take it.
struct HostValue {
    py::object operator()(const std::string& text) const { return host::text(text); }
    py::object operator()(const std::vector<std::string>& texts) const { return text_list(texts); }
    py::object operator()(const wf::PairText& p) const { return p.data ? data_of(*p.pair) : model_of(*p.pair); }
    py::object operator()(const wf::ExecutionOutcome* solved) const { return held(solved->host.get()).first; }
};

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

/// Creates the directory part of `path` with its parents, when it has one.
void ensure_parent(py::handle path) {
    py::module_ os = py::module_::import("os");
    py::object parent = os.attr("path").attr("dirname")(path);
    if (host::truthy(parent)) os.attr("makedirs")(parent, py::arg("exist_ok") = true);
}

/// Raises the loop's own failure as RuntimeError, chained to its cause.
[[noreturn]] void raise_failure(const wf::Failure& failure) {
    py::object error = py::reinterpret_borrow<py::object>(PyExc_RuntimeError)(host::text(failure.message()));
    if (failure.cause()) {
        py::object cause = held(failure.cause().get()).first;
        PyException_SetCause(error.ptr(), cause.inc_ref().ptr());
        PyException_SetContext(error.ptr(), cause.inc_ref().ptr());
    }
    PyErr_SetObject(PyExc_RuntimeError, error.ptr());
    throw py::error_already_set();
}

template <typename Body>
auto host_failures(Body body) {
    try {
        return body();
    } catch (const wf::Failure& failure) {
        raise_failure(failure);
    }
}

// ------------------------------------------------------------- services

class HostLlm : public wf::LlmClient {
  public:
    explicit HostLlm(const Call& call) : call_(call) {}

    std::string generate(const std::string& prompt, const wf::RequestOptions& options) override {
        py::object temperature = options.temperature ? py::object(py::float_(*options.temperature)) : py::none();
        StepOfRequest step(wf::step_name(options.step));
        take_usage();  // what an earlier request left, when it failed before taking it
        // The caller's own stop list, as given (options.stop holds its texts).
        py::object reply = attr("_llm_generate_text")(
            py::arg("provider") = call_.provider, py::arg("model_name") = call_.model_name,
            py::arg("input_text") = host::text(prompt), py::arg("max_tokens") = attr("MAX_OUTPUT_TOKENS"),
            py::arg("temperature") = temperature, py::arg("stop") = call_.stop, py::arg("progress") = call_.progress);
        usage_ = take_usage();
        if (!host::truthy(reply)) return "";
        return text_from(reply, "_llm_generate_text");
    }

    wf::Usage last_usage() override { return usage_; }

  private:
    const Call& call_;
    wf::Usage usage_;
};

class HostCompiler : public wf::Compiler {
  public:
    explicit HostCompiler(const tarvok::compiler::SizeLimits& sizes) : sizes_(sizes) {}

    wf::CompileOutcome compile(const wf::Pair& pair) override {
        py::object model = model_of(pair), data = data_of(pair);
        if (compiles_to_handle(model, data)) return compiled(host::compile_pair(model, data, "compile", sizes_));
        wf::CompileOutcome out;
        py::object records = py::list();
        try {
            attr("TVLCompiler")().attr("compile_model")(model, data);
            out.ok = true;
        } catch (py::error_already_set& e) {
            // Memory that ran out says nothing about the model: it is not fed back as a compile error.
            if (!host::is_ordinary(e) || e.matches(PyExc_MemoryError)) throw;
            bool diagnosed = PyObject_IsInstance(e.value().ptr(), attr("SemanticError").ptr()) == 1;
            out = wf::refused_compile(diagnosed, host::type_name(e.value()), host::str_of(e.value()));
            if (diagnosed) records = py::getattr(e.value(), "diagnostics", py::list());
        }
        out.compiled = std::make_shared<Held>(py::none(), records);
        return out;
    }

  private:
    /// The compiler the module was loaded with compiles as tarvok.solver.compile
    /// does (the same diagnostics, without building the compiled-model dict)
    /// and keeps the compiled model for running it. A compiler or error class
    /// the caller put in their place is asked as given.
    static bool compiles_to_handle(py::handle model, py::handle data) {
        return as_loaded("TVLCompiler") && as_loaded("SemanticError") && host::is_exact(model, Kind::Str) &&
               host::is_exact(data, Kind::Str);
    }

    /// The outcome of a pair compiled here; the handle is the solver module's
    /// CompiledModel, which the execution check and the result hand on.
    static wf::CompileOutcome compiled(std::shared_ptr<tarvok::solver::CompiledModel> model) {
        wf::CompileOutcome out;
        out.ok = model->ok();
        if (!out.ok) out = wf::refused_compile(true, "", model->source().compilation->report());
        out.compiled = std::make_shared<Held>(host::compiled_model_object(std::move(model)));
        return out;
    }

    tarvok::compiler::SizeLimits sizes_;
};

class HostExecutor : public wf::Executor {
  public:
    explicit HostExecutor(const Call& call) : call_(call) {}

    wf::ExecutionOutcome execute(const wf::Pair& pair, const wf::Attachment* compiled) override {
        py::object map = execution_map(pair, compiled, call_.time_limit, call_.solver, call_.run.assumptions);
        wf::ExecutionOutcome out;
        py::object answer = map.attr("get")("answer");
        if (PyFloat_Check(answer.ptr()) || PyLong_Check(answer.ptr())) out.answer = answer.cast<double>();
        out.verdict = solver_verdict(map);
        py::object objective = map.attr("get")("objective");
        if (PyFloat_Check(objective.ptr()) || PyLong_Check(objective.ptr())) out.objective = objective.cast<double>();
        out.objective_text = number_text(objective);
        out.host = std::make_shared<Held>(map, objective);
        return out;
    }

  private:
    const Call& call_;
};

class HostSteps : public wf::Steps {
  public:
    explicit HostSteps(Call& call) : call_(call) {}

    void gather_examples() override;
    /// Built by the module's builder as it is now (the execution check's as it was made), with the run's
    /// description and grammar reference first.
    std::string prompt(const wf::PromptRequest& request) override {
        py::list args;
        args.append(call_.prompt);
        args.append(call_.grammar);
        for (const wf::PromptValue& value : request.arguments) args.append(std::visit(HostValue{}, value));
        py::dict keywords;
        if (request.few_shots) keywords["few_shots"] = call_.few_shots;
        std::string builder(request.builder);
        py::object build = request.step == wf::Step::Execution ? execution_prompt_builder.get() : attr(builder.c_str());
        return text_from(build(*args, **keywords), builder.c_str());
    }
    std::string write_alternative(const wf::Pair& pair, long long index) override;

    wf::ParsedPair read_pair(const std::string& reply) override;
    wf::Verdict read_verdict(const std::string& reply) override;
    wf::ParsedFeedback read_feedback(const std::string& reply) override;
    wf::Pair write_pair(const wf::Pair& pair) override;

  private:
    Call& call_;
};

/// The example library of a call: its own, else FEW_SHOT_LIBRARY; the shipped
/// one (None) when that names a folder that does not exist, so that a call
/// from any folder gets examples. The gathering's "Found" message names them.
py::object example_library(const Call& call) {
    py::object library = call.few_shot_library ? call.few_shot_library : attr("FEW_SHOT_LIBRARY");
    if (library.is_none()) return library;
    if (host::truthy(py::module_::import("os").attr("path").attr("exists")(library))) return library;
    return py::none();
}

void HostSteps::gather_examples() {
    if (!host::truthy(call_.few_shot)) return;
    py::object library = example_library(call_);
    call_.few_shots = attr("_gather_few_shots")(call_.prompt, py::arg("k") = attr("FEW_SHOT_TOP_K"),
                                                py::arg("models_dir") = library, py::arg("progress") = call_.progress);
    if (!call_.few_shots.is_none() && !PyList_Check(call_.few_shots.ptr())) {
        throw py::type_error("_gather_few_shots() must return a list of examples, not " +
                             host::type_name(call_.few_shots));
    }
}

/// Reads a reply with `read`; an ordinary error of the host is kept in `out` as why it could not be read.
template <typename Parsed, typename Read>
Parsed read_reply(Read read) {
    Parsed out;
    try {
        read(out);
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e)) throw;
        out.failure = server_text(e.value());
        out.cause = std::make_shared<Held>(e.value());
    }
    return out;
}

wf::ParsedPair HostSteps::read_pair(const std::string& reply) {
    return read_reply<wf::ParsedPair>([&](wf::ParsedPair& out) {
        py::object result = attr("_json_loads_relaxed")(host::text(reply));
        py::object model = result["model"], data = result["data"];
        wf::Pair pair;
        if (PyUnicode_Check(model.ptr())) pair.model = host::Utf8(model).view();
        if (PyUnicode_Check(data.ptr())) pair.data = host::Utf8(data).view();
        pair.host = std::make_shared<Held>(model, data);  // a value that is no text: writing refuses it
        out.pair = std::move(pair);
    });
}

wf::Verdict HostSteps::read_verdict(const std::string& reply) {
    // A reply that cannot be read ends the run as the reader raised.
    py::object verdict = attr("_json_loads_relaxed")(host::text(reply));
    wf::Verdict out;
    if (!PyDict_Check(verdict.ptr())) return out;
    // A JSON boolean "aligned" and a text "assessment", or the verdict is unusable.
    PyObject* aligned = PyDict_GetItemString(verdict.ptr(), "aligned");
    PyObject* assessment = PyDict_GetItemString(verdict.ptr(), "assessment");
    if (aligned == nullptr || !PyBool_Check(aligned) || assessment == nullptr || !PyUnicode_Check(assessment)) {
        return out;
    }
    out.shape = aligned == Py_True ? wf::Verdict::Shape::Aligned : wf::Verdict::Shape::NotAligned;
    out.assessment = host::Utf8(assessment).view();
    return out;
}

wf::ParsedFeedback HostSteps::read_feedback(const std::string& reply) {
    return read_reply<wf::ParsedFeedback>([&](wf::ParsedFeedback& out) {
        out.value = std::make_shared<Held>(attr("_json_loads_relaxed")(host::text(reply)));
        out.ok = true;
    });
}

wf::Pair HostSteps::write_pair(const wf::Pair& pair) {
    py::object model = model_of(pair), data = data_of(pair);
    ensure_parent(call_.model_file);
    ensure_parent(call_.data_file);
    py::bytes model_bytes = encoded_for_writing(model), data_bytes = encoded_for_writing(data);
    host::replace_files(
        {{call_.model_file, model_bytes, call_.own_names}, {call_.data_file, data_bytes, call_.own_names}});
    // What the later steps judge is what the files hold, as a reader of them gets it.
    py::str model_back = host::read_file(call_.model_file, "r", "utf-8");
    py::str data_back = host::read_file(call_.data_file, "r", "utf-8");
    return wf::Pair{std::string(host::Utf8(model_back).view()), std::string(host::Utf8(data_back).view()),
                    std::make_shared<Held>(model_back, data_back)};
}

std::string HostSteps::write_alternative(const wf::Pair& pair, long long index) {
    py::object model_path = alternative_file(call_.model_file, index);
    py::object data_path = alternative_file(call_.data_file, index);
    for (py::handle own : {call_.model_file, call_.data_file}) {
        std::filesystem::path mine = host::file_system_path(own);
        for (py::handle alt : {model_path, data_path}) {
            if (files::same_file(host::file_system_path(alt), mine))
                return host::str_of(alt) + " is one of the run's own files";
        }
    }
    host::replace_files({{model_path, encoded_for_writing(model_of(pair)), call_.own_names},
                         {data_path, encoded_for_writing(data_of(pair)), call_.own_names}});
    return "";
}

/// An event as `on_event` receives it: the core's shape, with the model
/// name as the caller gave it and the solver outcome as the host holds it.
py::object event_dict(const Call& call, const wf::Event& e) {
    py::object out = host::to_python(wf::event_value(e, call.run.provider));
    if (e.kind == wf::EventKind::Request) out["model"] = call.model_name;
    if (e.execution) out["execution"] = held(e.execution->host.get()).first;
    return out;
}

class HostProgress : public wf::Progress {
  public:
    explicit HostProgress(const Call& call) : call_(call) {}

    void event(const wf::Event& e) override {
        if (!e.text.empty()) notify(call_.progress, e.text);
        if (call_.on_event.is_none()) return;
        py::object shown = event_dict(call_, e);
        try {
            call_.on_event(shown);
        } catch (py::error_already_set& error) {
            if (!host::is_ordinary(error)) throw;  // as with the progress callback: it cannot break the loop
        }
    }
    void log(const std::string& line) override { log_debug(line); }

  private:
    const Call& call_;
};

}  // namespace

Held::~Held() {
    py::gil_scoped_acquire gil;  // a result may be dropped by code that does not hold the GIL
    first = py::object();
    second = py::object();
}

const Held& held(const wf::Attachment* attachment) { return static_cast<const Held&>(*attachment); }

py::object model_of(const wf::Pair& pair) { return pair.host ? held(pair.host.get()).first : host::text(pair.model); }
py::object data_of(const wf::Pair& pair) { return pair.host ? held(pair.host.get()).second : host::text(pair.data); }

py::list text_list(const std::vector<std::string>& texts) {
    py::list out;
    for (const std::string& t : texts) out.append(host::text(t));
    return out;
}

std::string number_text(py::handle value) { return value.is_none() ? "none" : host::str_of(py::repr(value)); }

void record_loaded_steps() {
    for (const char* name : kLoadedSteps) loaded(name).get([name] { return attr(name); });
}

bool requests_go_to_providers() { return as_loaded("_llm_generate_text"); }

py::object compiled_handle(const wf::Attachment* compiled) {
    return compiled != nullptr ? held(compiled).first : py::object(py::none());
}

py::object alternative_file(py::handle path, long long index) {
    py::module_ os = py::module_::import("os");
    std::string text = host::str_of(os.attr("fsdecode")(path));
    return host::text(wf::alternative_path(text, index));
}

py::dict solved_outcome(tarvok::solver::CompiledModel& compiled, py::handle time_limit, py::handle solver,
                        bool with_answer, const char* function) {
    namespace solving = tarvok::solver::bind;
    py::object none = py::none(), off = py::bool_(false);
    tarvok::solver::SolveChoice options = solving::solve_options(function, time_limit, none, none, off, off, solver);
    std::string failure;
    std::shared_ptr<tarvok::solver::Program> program = solving::program_of(compiled, failure);
    if (!program) return host::to_python(wf::unexpandable_outcome(failure, with_answer));
    solving::SolveRun run = solving::solve(program, options);
    if (run.interrupt) throw std::move(*run.interrupt);
    const tarvok::solver::Solved& s = run.solved;
    json::Value out = json::Value::object({{"status", json::Value::of(tarvok::solver::status_word(s.outcome.status))},
                                           {"objective", s.objective()},
                                           {"message", s.message()},
                                           {"infeasible_constraints", s.infeasible()}});
    if (with_answer) out.add("answer", s.answer());
    return host::to_python(out);
}

py::object execution_map(const wf::Pair& pair, const wf::Attachment* compiled, py::object time_limit, py::object solver,
                         bool with_answer) {
    py::object handle = compiled_handle(compiled);
    if (!handle.is_none())
        return solved_outcome(*handle.cast<std::shared_ptr<tarvok::solver::CompiledModel>>(), time_limit, solver,
                              with_answer);
    return execute_model(model_of(pair), data_of(pair), std::move(time_limit), std::move(solver));
}

/// The API keys configured now, which the loop's messages never show.
std::vector<std::string> configured_keys() { return ConfiguredKeys(host::environment_text).keys(); }

wf::Result run_loop(Call& call) {
    call.run.keys = configured_keys();
    HostLlm llm(call);
    HostCompiler compiler(call.sizes);
    HostExecutor executor(call);
    HostSteps steps(call);
    HostProgress progress(call);
    std::optional<wf::Transcript> transcript;
    if (!call.record.is_none()) {
        std::filesystem::path file = host::file_system_path(call.record);
        auto unlocked = [](const std::function<void()>& write) {
            py::gil_scoped_release released;
            write();
        };
        transcript.emplace(file, unlocked, call.own_names);
    }
    wf::Transcript* record = transcript ? &*transcript : nullptr;
    try {
        if (call.existing) {
            wf::Pair given{std::string(host::Utf8(call.model_text).view()),
                           std::string(host::Utf8(call.data_text).view()),
                           std::make_shared<Held>(call.model_text, call.data_text)};
            return host_failures([&] {
                return wf::readings(call.run, {llm, compiler, executor, steps, progress}, given, call.reading, record);
            });
        }
        return host_failures([&] {
            return wf::generate(call.run, {llm, compiler, executor, steps, progress}, record);
        });
    } catch (const files::FileError& e) {
        if (!transcript || e.path() != transcript->file()) throw;
        host::raise_os_error(e.error_number(), call.record);  // the transcript as the caller named it
    }
}

py::object feedback_value(Call& call) {
    call.run.keys = configured_keys();
    HostLlm llm(call);
    HostSteps steps(call);
    HostProgress progress(call);
    wf::Pair files{std::string(host::Utf8(call.model_text).view()), std::string(host::Utf8(call.data_text).view()),
                   std::make_shared<Held>(call.model_text, call.data_text)};
    wf::Attached value = host_failures([&] { return wf::feedback(call.run, files, llm, steps, progress); });
    return held(value.get()).first;
}

}  // namespace tarvok::generative::bind
