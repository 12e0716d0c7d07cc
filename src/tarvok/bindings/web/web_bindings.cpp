// tarvok.web: the page of `tarvok serve` and the JSON API under it. The core
// says which endpoints there are, what each takes and how much, and where
// files may go; this file converts, calls the package's own modules for the
// work (compiler, solver, SciPy emitter, generation loop, feedback) and
// shapes their results as the commands' --json output does. Starlette and
// uvicorn (the web extra) are imported when an app is made.
#include "bindings/host/compile.hpp"
#include "bindings/host/data_values.hpp"
#include "bindings/host/emit.hpp"
#include "bindings/host/host.hpp"
#include "bindings/host/json.hpp"
#include "bindings/host/keys.hpp"
#include "bindings/host/module_start.hpp"
#include "bindings/host/package.hpp"
#include "bindings/mcp_server/entries.hpp"
#include "bindings/solving/solving.hpp"
#include "bindings/tarvok_generative/bindings.hpp"
#include "bindings/web/docs.hpp"
#include "bindings/web/entries.hpp"
#include "web/api.hpp"
#include "web/workdir.hpp"

#include <pybind11/eval.h>
#include <pybind11/stl.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace py = pybind11;
namespace docs = tarvok::web::docs;
namespace host = tarvok::host;
namespace core = tarvok::web;
namespace fs = std::filesystem;
namespace pv = tarvok::generative::providers;
namespace generation = tarvok::generative::bind;
/// This module's attribute as it is at call time (see host::ModuleSlot::attr).
static py::object attr(const char* name) { return host::modules::web.attr(name); }
using tarvok::web::bind::serve;

namespace {

/// The generation module, whose settings (MODEL_NAME, MAX_ITERATIONS) and
/// generative_feedback the page reads as they stand.
py::module_ generative() { return host::modules::tarvok_generative.get(); }

/// A value as JSON text that a browser reads (see browser_json); anything
/// else the encoder does not know, as its str().
py::object json_text(py::handle value) {
    std::string json = tarvok::json::write(host::from_python(value, {.others_as_text = true}), {.ensure_ascii = false});
    return host::text(core::browser_json(json));
}

/// Text that reaches the page with any key of the environment masked.
py::object shown(const std::string& text) { return host::text(host::without_keys(text)); }

/// One answer of the API: its HTTP status and its JSON body.
struct Answer {
    int status = 200;
    py::object body;
};

Answer answered(py::object body) { return {200, body}; }

Answer refused(core::Outcome outcome, const std::string& message, py::dict extra = py::dict()) {
    extra["error"] = shown(message);
    return {core::http_status(outcome), extra};
}

/// The answer of a pair that does not compile, in the shape of `tarvok run --json`.
Answer does_not_compile(py::object diagnostics) {
    return refused(core::Outcome::DoesNotCompile, "the model does not compile",
                   py::dict(py::arg("status") = 1, py::arg("diagnostics") = diagnostics));
}

/// The message of an error of the host, with its kind.
std::string error_text(py::error_already_set& e) {
    std::string message = host::str_of(e.value());
    std::string kind = host::str_of(py::type::handle_of(e.value()).attr("__name__"));
    return message.empty() ? kind : message;
}

// ------------------------------------------------------- pair endpoints ----

// One overload of `answer` per endpoint's request, each given the working folder.

/// /api/check: the diagnostics of the pair.
Answer answer(const core::CheckRequest& r, const fs::path&) {
    auto compiled = host::compile_pair(r.pair.model, r.pair.data);
    return answered(
        py::dict(py::arg("ok") = py::bool_(compiled->ok()), py::arg("diagnostics") = host::diagnostics_of(*compiled)));
}

/// /api/run: the pair solved, as `tarvok run --json` prints it.
Answer answer(const core::RunRequest& r, const fs::path&) {
    auto compiled = host::compile_pair(r.pair.model, r.pair.data);
    if (!compiled->ok()) return does_not_compile(host::diagnostics_of(*compiled));
    std::string fault;
    std::optional<tarvok::solver::Solved> result =
        tarvok::solver::bind::solve_compiled(*compiled, core::solve_options(r), {}, fault);
    if (!result) return does_not_compile(py::list());  // the expansion's fault names no record
    // As `tarvok run --json` prints it: the result's dictionary, its values keyed by set elements,
    // and the diagnostics.
    tarvok::json::Value out = result->to_dict();
    out.add("diagnostics", tarvok::compiler::tree::diagnostic_record_tree(*compiled->source().compilation, true));
    return answered(host::to_python(out));
}

/// A file of a scratch folder, as the host names it.
py::object file_of(const core::Scratch& scratch, const char* name) { return host::host_path(scratch.folder / name); }

/// /api/emit: the pair's output in the format asked for (the outputs table's).
Answer answer(const core::EmitRequest& r, const fs::path& workdir) {
    using Refusal = tarvok::emitter::Refusal;
    const tarvok::emitter::Output& output = *r.output;
    py::dict d = host::to_python(core::emitted(output));
    auto compiled =
        host::compile_pair(host::text(r.pair.model), host::text(r.pair.data), "compile", host::size_setting());
    std::optional<core::Scratch> scratch;
    if (!output.script) scratch.emplace(workdir, "emit");  // a model file is written there and read back
    tarvok::emitter::Emission made =
        host::emit_output(*compiled, output.name, host::emit_means(scratch ? scratch->folder : fs::path(), true));
    if (!made.refusal) {
        d["text"] = host::text(made.made.text);
        return answered(d);
    }
    const Refusal& no = *made.refusal;
    switch (no.kind) {
    case Refusal::Kind::DoesNotCompile: return does_not_compile(host::to_python(no.diagnostics));
    case Refusal::Kind::TooLarge: return refused(core::Outcome::TooLarge, std::string(core::kScriptNeedsArrays));
    case Refusal::Kind::Unwritable:
        return refused(core::Outcome::Failed, "cannot write " + no.path.string() + ": " + no.message);
    case Refusal::Kind::WriteFailed: host::raise_os_error(no.error_number, host::host_path(no.path));
    case Refusal::Kind::UnknownOutput: break;
    }
    return refused(core::Outcome::BadRequest, no.message);
}

/// /api/feedback: the LLM's answer to a question on the pair, with its
/// revision checked. Its requests belong to `bound`: they end at its
/// deadline, or at once when the client goes away.
Answer answer(const core::FeedbackRequest& r, const fs::path& workdir, const std::shared_ptr<core::RunBound>& bound) {
    py::module_ tg = generative();
    core::Scratch scratch(workdir, "feedback");
    py::object model = host::text(r.pair.model), data = host::text(r.pair.data);
    host::replace_files({{file_of(scratch, "model.mod"), r.pair.model}, {file_of(scratch, "data.dat"), r.pair.data}});
    py::dict options;
    options["model_name"] = r.model ? py::object(host::text(*r.model)) : tg.attr("MODEL_NAME");
    if (r.provider) options["llm_provider"] = host::text(*r.provider);
    py::object reply;
    try {
        pv::RunScope scope(bound);
        reply = tg.attr("generative_feedback")(host::text(r.question), file_of(scratch, "model.mod"),
                                               file_of(scratch, "data.dat"), **options);
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e) || !bound->over() || bound->abandoned()) throw;
        return refused(core::Outcome::TimedOut, core::feedback_timed_out());
    }
    if (!PyDict_Check(reply.ptr())) return answered(py::dict(py::arg("feedback") = py::none()));
    py::dict out = py::reinterpret_borrow<py::dict>(reply).attr("copy")();
    if (!out.contains("revised_model") && !out.contains("revised_data")) return answered(out);
    // A missing half keeps the text it revises, as `tarvok feedback` does.
    py::object new_model = out.attr("setdefault")("revised_model", model);
    py::object new_data = out.attr("setdefault")("revised_data", data);
    if (!PyUnicode_Check(new_model.ptr()) || !PyUnicode_Check(new_data.ptr()))
        return refused(core::Outcome::ProviderFailed, "the proposed revision is not text");
    out["diff"] = host::unified_diff(model, new_model, py::str("model.mod")) +
                  host::unified_diff(data, new_data, py::str("data.dat"));
    auto compiled = host::compile_pair(new_model, new_data, "compile", host::size_setting());
    out["compiles"] = py::bool_(compiled->ok());
    out["diagnostics"] = host::diagnostics_of(*compiled);
    return answered(out);
}

/// /api/apply: the pair written into the working folder.
Answer answer(const core::ApplyRequest& r, const fs::path& workdir) {
    auto compiled = host::compile_pair(r.pair.model, r.pair.data);
    if (!compiled->ok()) return does_not_compile(host::diagnostics_of(*compiled));
    core::Applied applied;
    {
        py::gil_scoped_release unlocked;
        applied = core::apply_pair(workdir, r.name, r.pair.model, r.pair.data);
    }
    if (!applied.error.empty()) return refused(core::Outcome::Conflict, applied.error);
    return answered(host::to_python(core::applied_answer(applied)));
}

// -------------------------------------------------------------- examples ----

/// /api/examples: every shipped example, or the ones closest to a description, with their texts.
Answer answer(const core::ExamplesRequest& r, const fs::path&) {
    if (!r.description.empty()) {
        // The MCP tool's ranking and shape: one way of finding examples.
        py::dict found = tarvok::mcp_server::bind::call_tool(py::str("find_examples"),
                                                             host::to_python(core::find_examples_arguments(r)));
        if (host::truthy(found["is_error"])) return refused(core::Outcome::Failed, host::str_of(found["content"]));
        return answered(found["structured"]);
    }
    fs::path library = host::package_folder() / "tvl_models";
    core::Value listed;
    {
        py::gil_scoped_release unlocked;
        listed = core::examples_by_name(library);
    }
    return answered(host::to_python(listed));
}

// ------------------------------------------------------------- providers ----

/// A variable of the server's environment, as the providers read their keys.
std::optional<std::string> environment_variable(std::string_view name) {
    py::object value = py::module_::import("os").attr("environ").attr("get")(host::text(name));
    if (!host::truthy(value)) return std::nullopt;
    return host::str_of(value);
}

/// /api/providers: which providers have keys, the default model and rounds.
Answer answer(const core::ProvidersRequest&, const fs::path&) {
    py::object generative_module = generative();
    return answered(
        host::to_python(core::providers_answer(environment_variable, host::str_of(generative_module.attr("MODEL_NAME")),
                                               generative_module.attr("MAX_ITERATIONS").cast<int64_t>())));
}

/// Why a request that asks the LLM cannot start: no key for the provider it
/// would ask (named, or the one its model name gives); nothing when it can.
std::optional<std::string> missing_key(const std::optional<std::string>& provider,
                                       const std::optional<std::string>& model) {
    std::string model_name = model ? *model : host::str_of(generative().attr("MODEL_NAME"));
    std::optional<std::string_view> named;
    if (provider) named = *provider;
    return core::missing_key(pv::infer_provider(named, model_name), environment_variable);
}

// ------------------------------------------------------------ generation ----

/// One generation run streamed to the page: the loop runs on a thread of
/// its own and leaves its frames in the queue; the stream takes them as they
/// come. Dropping the stream cancels the run at its next step.
using GenerationRun = core::FrameQueue;

void push(GenerationRun& run, core::FrameKind kind, py::handle value) {
    run.push(core::frame(kind, host::str_of(json_text(value))));
}

/// The frame of a run that failed, or ended because it was cancelled.
void push_failure(GenerationRun& run, const std::string& message) {
    push(run, run.cancelled() ? core::FrameKind::Cancelled : core::FrameKind::Failed,
         py::dict(py::arg("error") = shown(message)));
}

/// The final frame of a run: the pair and what the loop found, with the
/// grounding report of its data against the description and, when asked
/// for, the readings (read while the run's scratch folder is there).
py::dict generation_result(const generation::GenerationResult& result, const core::GenerateRequest& r) {
    py::dict d;
    for (const core::ResultMember& field : core::kGenerationFields)
        d[field.key] = generation::result_field(result, field.field);
    std::string data = host::str_of(generation::result_field(result, tarvok::generative::ResultField::DataText));
    d["grounding"] = host::to_python(core::grounding_value(r.description, data));
    if (r.assumptions.value_or(false) || r.what_if.value_or(false)) host::add_readings(d, result);
    return d;
}

void run_generation(std::shared_ptr<GenerationRun> run, core::GenerateRequest r, fs::path workdir) {
    // Cancelling the run cuts the request it waits on, not only the next step.
    pv::RunScope scope(run->bound());
    try {
        core::Scratch scratch(workdir, "generate");
        py::dict options = host::generation_options(r);
        options["timeout"] = core::kRequestSeconds;
        options["on_event"] = py::cpp_function([run](py::object event) { push(*run, core::FrameKind::Step, event); });
        options["cancel"] = py::cpp_function([run] { return run->cancelled(); });
        generation::GenerationResult result = generation::run_generation(
            host::text(r.description), file_of(scratch, "model.mod"), file_of(scratch, "data.dat"), options);
        push(*run, core::FrameKind::Result, generation_result(result, r));
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e) && !e.matches(PyExc_KeyboardInterrupt)) {
            run->finish();
            throw;
        }
        push_failure(*run, error_text(e));
    } catch (const std::exception& e) {
        push_failure(*run, e.what());
    }
    run->finish();
}

/// Starts a run on a thread of its own, which holds the run's slot for as
/// long as it keeps its target (a thread that never started frees it at once).
std::shared_ptr<GenerationRun> start_generation(const core::GenerateRequest& r, const fs::path& workdir,
                                                core::RunSlots::Slot slot) {
    auto run = std::make_shared<GenerationRun>();
    py::object body = py::cpp_function([run, r, workdir, slot] { run_generation(run, r, workdir); });
    py::module_::import("threading")
        .attr("Thread")(py::arg("target") = body, py::arg("name") = "tarvok-generate", py::arg("daemon") = true)
        .attr("start")();
    return run;
}

// ------------------------------------------------------------- dispatch ----

/// The working folder and the rules of one app.
struct Site {
    fs::path workdir;
    bool loopback_only = false;
    std::shared_ptr<core::RunSlots> runs =
        std::make_shared<core::RunSlots>(core::kMaxGenerationRuns, "generation runs");
    std::shared_ptr<core::RunSlots> questions =
        std::make_shared<core::RunSlots>(core::kMaxFeedbackRuns, "questions to the LLM");
};

/// A provider name as the host trims and lower-cases it.
std::string folded_name(std::string_view name) {
    return host::str_of(host::text(name).attr("strip")().attr("lower")());
}

/// Answers one API request: (status, JSON text), or a GenerationRun to
/// stream. Every fault of the request or of the work is an answer, so that
/// the server keeps serving. `bound` is given up when the client goes away.
py::object respond(const Site& site, const std::string& path, py::dict headers, py::object body,
                   const std::shared_ptr<core::RunBound>& bound) {
    auto as_tuple = [](const Answer& a) { return py::make_tuple(a.status, json_text(a.body)); };
    auto header = [&](const char* name) { return host::str_of(headers.attr("get")(name, py::str(""))); };
    core::Admission admitted = core::admit(path, {header("content-type"), header("host"), header("origin")},
                                           !body.is_none(), site.loopback_only);
    if (admitted.refusal)
        return as_tuple({admitted.refusal->status, py::dict(py::arg("error") = shown(admitted.refusal->message))});
    const core::Endpoint* endpoint = admitted.endpoint;
    core::Value given;
    try {
        given = core::body_value(host::bytes_view(body));
    } catch (const tarvok::json::ParseError& e) {
        return as_tuple(refused(core::Outcome::BadRequest, std::string("the body is not JSON: ") + e.what()));
    }
    try {
        core::Parsed parsed = core::parse_request(*endpoint, given, folded_name);
        if (!parsed.request) return as_tuple(refused(core::Outcome::BadRequest, parsed.error));
        return std::visit(
            [&](const auto& r) -> py::object {
                using Kind = std::decay_t<decltype(r)>;
                if constexpr (std::is_same_v<Kind, core::FeedbackRequest> ||
                              std::is_same_v<Kind, core::GenerateRequest>) {
                    // Without a key the run would fail at its first request: say so before streaming.
                    if (auto refusal = missing_key(r.provider, r.model))
                        return as_tuple(refused(core::Outcome::ProviderFailed, *refusal));
                }
                if constexpr (std::is_same_v<Kind, core::FeedbackRequest>) {
                    core::RunSlots::Taken taken = site.questions->take();
                    if (!taken.slot) return as_tuple(refused(core::Outcome::Busy, taken.refusal));
                    return as_tuple(answer(r, site.workdir, bound));
                } else if constexpr (!std::is_same_v<Kind, core::GenerateRequest>) {
                    return as_tuple(answer(r, site.workdir));
                } else {
                    core::RunSlots::Taken taken = site.runs->take();
                    if (!taken.slot) return as_tuple(refused(core::Outcome::Busy, taken.refusal));
                    return py::cast(start_generation(r, site.workdir, taken.slot));
                }
            },
            *parsed.request);
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e)) throw;
        return as_tuple(refused(endpoint->failure, error_text(e)));
    } catch (const std::exception& e) {
        return as_tuple(refused(core::Outcome::Failed, e.what()));
    }
}

// -------------------------------------------------------------- the app ----

/// The Starlette app: the page's files, and each endpoint read with its body
/// bounded before the work goes to a worker thread.
constexpr const char* kApp = R"(
import anyio
import anyio.to_thread
from starlette.applications import Starlette
from starlette.exceptions import HTTPException
from starlette.requests import ClientDisconnect
from starlette.responses import FileResponse, JSONResponse, Response, StreamingResponse
from starlette.routing import Mount, Route
from starlette.staticfiles import StaticFiles

def make_app(respond, page, paths, limit_of, new_bound):
    async def read_bounded(request):
        limit = limit_of(request.url.path, request.headers.get("content-length"))
        if limit is None:
            return None
        chunks, size = [], 0
        async for chunk in request.stream():
            size += len(chunk)
            if size > limit:
                return None
            chunks.append(chunk)
        return b"".join(chunks)

    async def stream(run):
        try:
            # Not waited for when the client goes: the run is given up at once.
            while (piece := await anyio.to_thread.run_sync(run.next_frame, abandon_on_cancel=True)) is not None:
                yield piece
        finally:
            run.cancel()

    async def answered(request, path, body):
        """The answer of respond, whose LLM requests are given up once the client goes away."""
        bound = new_bound()

        async def watch_client():
            while (await request.receive())["type"] != "http.disconnect":
                pass
            bound.abandon()

        async with anyio.create_task_group() as group:
            group.start_soon(watch_client)
            answer = await anyio.to_thread.run_sync(respond, path, dict(request.headers), body, bound)
            group.cancel_scope.cancel()
        return answer

    async def api(request):
        path = request.url.path
        try:
            body = await read_bounded(request)
        except ClientDisconnect:
            # Gone in the middle of its body: there is no one to answer.
            return Response(status_code=400)
        answer = await answered(request, path, body)
        if isinstance(answer, tuple):
            return Response(answer[1], answer[0], media_type="application/json", headers={"Cache-Control": "no-store"})
        return StreamingResponse(stream(answer), media_type="text/event-stream",
                                 headers={"Cache-Control": "no-store", "X-Accel-Buffering": "no"})

    async def index(request):
        return FileResponse(page + "/index.html", headers={"Cache-Control": "no-store"})

    async def http_error(request, exc):
        # Every error is JSON, as the endpoints' own are: a wrong method or path too.
        error = f"{request.method} {request.url.path}: {exc.detail}"
        if exc.status_code == 405:
            error += "; the API takes POST with a JSON body"
        return JSONResponse({"error": error}, status_code=exc.status_code, headers=exc.headers)

    async def server_error(request, exc):
        return JSONResponse({"error": f"internal error: {type(exc).__name__}"}, status_code=500)

    routes = [Route("/", index)] + [Route(p, api, methods=["POST"]) for p in paths]
    routes.append(Mount("/page", StaticFiles(directory=page)))
    return Starlette(routes=routes, exception_handlers={HTTPException: http_error, Exception: server_error})
)";

/// The endpoints' paths, in the core's order.
py::tuple endpoint_paths() {
    py::list paths;
    for (const core::Endpoint& e : core::endpoints()) paths.append(host::text(e.path));
    return py::tuple(paths);
}

py::object default_workdir() { return host::host_path(core::default_workdir_now()); }

py::object create_app(py::object workdir, py::object loopback_only) {
    host::require(loopback_only, "create_app", "loopback_only", host::Kind::Bool);
    host::import_extra("starlette", "The page of tarvok serve", "web");
    auto site = std::make_shared<Site>();
    site->workdir = host::file_system_path(workdir.is_none() ? default_workdir() : workdir);
    site->loopback_only = host::truthy(loopback_only);
    fs::create_directories(site->workdir);
    site->workdir = fs::canonical(site->workdir);
    py::dict scope;
    py::exec(kApp, scope);
    // The most bytes to read of a request's body; None refuses it on its declared length.
    py::object limit_of = py::cpp_function(
        [](std::string path, std::optional<std::string> declared) { return core::body_limit(path, declared); });
    py::object respond_here = py::cpp_function(
        [site](std::string path, py::dict headers, py::object body, std::shared_ptr<core::RunBound> bound) {
            return respond(*site, path, headers, body, bound);
        });
    // What bounds the LLM requests of one API request: the deadline of a question to the LLM.
    py::object new_bound = py::cpp_function([] { return std::make_shared<core::RunBound>(core::kFeedbackSeconds); });
    py::object app = scope["make_app"](respond_here, host::host_path(host::package_folder() / "page"), endpoint_paths(),
                                       limit_of, new_bound);
    app.attr("state").attr("workdir") = host::host_path(site->workdir);
    return app;
}

}  // namespace

namespace tarvok::web::bind {

py::object serve(py::object host_name, py::object port, py::object open_page, py::object workdir) {
    host::require(host_name, "serve", "host", host::Kind::Str);
    host::require(port, "serve", "port", host::Kind::Int);
    py::object uvicorn = host::import_extra("uvicorn", "The page of tarvok serve", "web");
    std::string bound = host::str_of(host_name);
    bool loopback = core::is_loopback(bound);
    host::modules::web.get();  // its start registers the types the app's answers hold
    py::object app = create_app(workdir, py::bool_(loopback));
    std::string url = core::page_url(bound, host::str_of(port));
    py::module_ sys = py::module_::import("sys");
    std::string folder = host::str_of(app.attr("state").attr("workdir"));
    sys.attr("stderr").attr("write")(host::text(core::serving_message(url, folder)));
    sys.attr("stderr").attr("flush")();
    if (host::truthy(open_page)) {
        py::object open = py::module_::import("webbrowser").attr("open");
        py::module_::import("threading").attr("Timer")(1.0, open, py::make_tuple(host::text(url))).attr("start")();
    }
    uvicorn.attr("run")(app, py::arg("host") = host_name, py::arg("port") = port, py::arg("log_level") = "warning",
                        py::arg("timeout_graceful_shutdown") = 3);
    return py::none();
}

}  // namespace tarvok::web::bind

void tarvok_start_web(pybind11::module_& m) {
    host::ModuleStart start(m, tarvok::host::modules::web, docs::kModule);
    host::lazy_logger(m);

    py::class_<GenerationRun, std::shared_ptr<GenerationRun>>(m, "_GenerationRun")
        .def("next_frame",
             [](GenerationRun& run) -> py::object {
                 std::optional<std::string> frame;
                 {
                     py::gil_scoped_release unlocked;
                     frame = run.next();
                 }
                 return frame ? py::object(host::text(*frame)) : py::object(py::none());
             })
        .def("cancel", &GenerationRun::cancel)
        .inc_ref();  // kept for the module's life, as the module's names no longer hold it
    py::class_<core::RunBound, std::shared_ptr<core::RunBound>>(m, "_RunBound")
        .def("abandon", &core::RunBound::abandon)
        .inc_ref();
    // Only the app holds these: the classes stay out of the module's names.
    py::delattr(m, "_GenerationRun");
    py::delattr(m, "_RunBound");
    m.attr("ENDPOINTS") = endpoint_paths();

    host::def(m, "default_workdir", "", docs::kDefaultWorkdir, &default_workdir);
    host::def(m, "create_app", "workdir=None, *, loopback_only=False", docs::kCreateApp, &create_app,
              py::arg("workdir") = py::none(), py::kw_only(), py::arg("loopback_only") = false);
    host::def(m, "serve", "host='127.0.0.1', port=8000, open_page=False, workdir=None", docs::kServe, &serve,
              py::arg("host") = "127.0.0.1", py::arg("port") = 8000, py::arg("open_page") = false,
              py::arg("workdir") = py::none());
}
