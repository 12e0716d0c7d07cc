// tarvok.mcp_server: the Model Context Protocol server of `tarvok mcp`. The
// mcp package speaks the protocol on stdio (imported when a server is made,
// not with this module); the core says what the tools are and reads their
// arguments; this file converts, calls the package's own modules (compiler,
// solver, SciPy emitter, example ranker, generation loop) and shapes their
// results for the agent.
#include "bindings/example_ranker/entries.hpp"
#include "bindings/host/compile.hpp"
#include "bindings/host/emit.hpp"
#include "bindings/host/host.hpp"
#include "bindings/host/json.hpp"
#include "bindings/host/module_start.hpp"
#include "bindings/host/package.hpp"
#include "bindings/mcp_server/docs.hpp"
#include "bindings/mcp_server/entries.hpp"
#include "bindings/solving/solving.hpp"
#include "bindings/tarvok_generative/bindings.hpp"
#include "common/files.hpp"
#include "compiler/model_tree.hpp"

#include <pybind11/eval.h>
#include "mcp_server/answers.hpp"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace py = pybind11;
namespace docs = tarvok::mcp_server::docs;
namespace host = tarvok::host;
namespace core = tarvok::mcp_server;
namespace ranker = tarvok::example_ranker::bind;
namespace generation = tarvok::generative::bind;
/// This module's attribute as it is at call time (see host::ModuleSlot::attr).
static py::object attr(const char* name) { return host::modules::mcp_server.attr(name); }
using tarvok::mcp_server::bind::call_tool;
using tarvok::mcp_server::bind::serve;

namespace {

constexpr const char* kServerName = "tarvok";

py::module_ types() { return py::module_::import("mcp.types"); }

// -------------------------------------------------------------- answers ----

py::object json_text(py::handle value) {
    return host::text(tarvok::json::write(host::from_python(value), {.ensure_ascii = false}));
}

/// One tool call's answer: what the agent reads (`text`), the same as data
/// (`structured`, an object) and whether the call failed.
struct Answer {
    py::object structured = py::none();
    py::object text;
    bool error = false;
};

/// A failed call: its message, and as data `structured` (none given: {"error": message}).
Answer failed(const std::string& message, py::dict structured = py::dict()) {
    py::str text = host::text(message);
    if (structured.empty()) structured["error"] = text;
    return {structured, text, true};
}

/// A call that did its work: `structured`, read as `text` (none given: its JSON).
Answer answered(py::object structured, py::object text = py::none()) {
    return {structured, text.is_none() ? json_text(structured) : text, false};
}

/// The message of a model that does not compile: the compiler's report, and
/// the data text written from JSON when that is where a data error points.
Answer does_not_compile(const std::string& report, py::object diagnostics, const core::Pair& pair) {
    std::string message = core::does_not_compile_message(report, pair);
    py::dict d(py::arg("error") = host::text(message), py::arg("diagnostics") = diagnostics);
    if (pair.data_from_json) d["data_text"] = host::text(pair.data);
    return failed(message, d);
}

// ------------------------------------------------------------------ tools ----

// One overload of `answer` per tool's request (run_model's and generate_model's also take the call's line).

/// check_model: the diagnostics of the pair.
Answer answer(const core::CheckRequest& r) {
    auto compiled = host::compile_pair(r.pair.model, r.pair.data);
    py::dict d(py::arg("ok") = py::bool_(compiled->ok()), py::arg("diagnostics") = host::diagnostics_of(*compiled));
    if (r.pair.data_from_json) d["data_text"] = host::text(r.pair.data);
    return answered(d);
}

/// What a call gets besides its request: the Event that says the client
/// cancelled it (or left), and where its progress messages go (None: nowhere).
struct CallLine {
    py::object stop = py::none();
    py::object progress = py::none();

    /// The `cancel` a generation asks.
    py::object cancel() const { return stop.is_none() ? py::object(py::none()) : stop.attr("is_set"); }
    /// The same for a solve.
    std::function<bool()> solve_cancel() const {
        if (stop.is_none()) return {};
        auto is_set = std::make_shared<py::object>(stop.attr("is_set"));
        return [is_set] { return host::truthy((*is_set)()); };
    }
};

/// run_model: the pair solved.
Answer answer(const core::RunRequest& r, const CallLine& line) {
    // Compiled once: the diagnostics' records when it fails, the program to solve when it does not.
    auto compiled = host::compile_pair(r.pair.model, r.pair.data);
    if (!compiled->ok())
        return does_not_compile(compiled->source().compilation->report(), host::diagnostics_of(*compiled), r.pair);
    std::string fault;
    auto solved = tarvok::solver::bind::solve_compiled(*compiled, core::solve_options(r), line.solve_cancel(), fault);
    if (!solved) return does_not_compile(fault, py::list(), r.pair);  // the expansion's fault names no record
    return answered(host::to_python(solved->to_dict()));
}

/// emit_script: the pair's script of the default output.
Answer answer(const core::EmitRequest& r) {
    using Refusal = tarvok::emitter::Refusal;
    auto compiled =
        host::compile_pair(host::text(r.pair.model), host::text(r.pair.data), "compile", host::size_setting());
    tarvok::emitter::Emission made =
        host::emit_output(*compiled, tarvok::emitter::default_output().name, host::emit_means({}, true));
    if (!made.refusal) {
        py::object script = host::text(made.made.text);
        return answered(py::dict(py::arg("script") = script), script);
    }
    const Refusal& no = *made.refusal;
    if (no.kind == Refusal::Kind::TooLarge) return failed(std::string(core::kScriptNeedsArrays));
    if (no.kind == Refusal::Kind::DoesNotCompile)
        return does_not_compile(no.message, host::to_python(no.diagnostics), r.pair);
    return failed(no.message);
}

std::filesystem::path example_library() { return core::example_library(host::package_folder()); }

/// Logs the package files `texts` could not read (each stands as an empty text).
void log_unread(const core::PackageTexts& texts) {
    for (const auto& [file, reason] : texts.unread)
        attr("logger").attr("warning")("cannot read %s: %s", host::host_path(file), host::text(reason));
}

/// find_examples: the closest worked examples, by meaning when the embedding model loads, else by words.
Answer answer(const core::ExamplesRequest& r) {
    py::object library = host::host_path(example_library());
    py::list ranking;
    std::string how = "embedding";
    try {
        ranking = ranker::rank(host::text(r.description), library, py::int_(r.k), host::embedding_model_name());
    } catch (py::error_already_set& e) {
        if (!ranker::is_unavailable(e)) throw;
        ranking = ranker::rank_lexically(host::text(r.description), library, py::int_(r.k));
        how = "lexical";
    }
    core::PackageTexts texts;
    std::vector<core::Value> found;
    for (py::handle entry : ranking) {
        std::filesystem::path description = host::file_system_path(entry["path"]);
        double score = entry["score"].cast<double>();
        py::gil_scoped_release unlocked;
        found.push_back(core::example_entry(description, score, texts));
    }
    log_unread(texts);
    return answered(host::to_python(
        core::Value::object({{"ranking", core::Value::of(how)}, {"examples", core::Value::array(std::move(found))}})));
}

/// The call's cancel and, when the client asked for them, its progress notifications.
void add_call_line(py::dict& options, const CallLine& line) {
    options["cancel"] = line.cancel();
    if (!line.progress.is_none()) {
        // A progress notification per step, handed to the server's loop, which sends it.
        py::object progress = line.progress;
        options["progress"] =
            py::cpp_function([progress](py::object message) { progress(host::text(host::str_of(message))); });
    }
}

/// generate_model: a pair generated from the description, and solved when it compiles.
Answer answer(const core::GenerateRequest& r, const CallLine& line) {
    py::dict options = host::generation_options(r);
    add_call_line(options, line);
    std::optional<generation::GenerationResult> result;
    py::dict d;
    {
        core::RunFolder folder;
        result = generation::run_generation(host::text(r.description), host::host_path(folder.model_file()),
                                            host::host_path(folder.data_file()), options);
        if (r.assumptions.value_or(false) || r.what_if.value_or(false)) host::add_readings(d, *result);
    }
    for (const core::ResultMember& field : core::kGenerationFields)
        d[field.key] = generation::result_field(*result, field.field);
    d["solution"] = py::none();
    if (result->result.compiled) {
        // The final pair solved, as run_model would: the numbers an answer can rest on.
        try {
            auto compiled =
                host::compile_pair(generation::result_field(*result, tarvok::generative::ResultField::ModelText),
                                   generation::result_field(*result, tarvok::generative::ResultField::DataText),
                                   "solve_model", host::size_setting());
            std::string fault;
            auto solved = tarvok::solver::bind::solve_compiled(
                *compiled,
                tarvok::json::Value::object({{"time_limit", tarvok::json::Value::of(core::kSolutionSeconds)}}),
                line.solve_cancel(), fault);
            if (solved)
                d["solution"] = host::to_python(solved->to_dict());
            else
                d["solution_error"] = host::text(fault);
        } catch (const tarvok::Error& e) {
            d["solution_error"] = host::text(e.what());
        } catch (py::error_already_set& e) {
            if (!host::is_ordinary(e)) throw;
            d["solution_error"] = host::text(host::str_of(e.value()));
        }
    }
    return answered(d);
}

/// list_assumptions and what_if: the readings of the agent's pair, which the
/// LLM is asked for in a folder of the call's own.
Answer answer(const core::ReadingsRequest& r, const CallLine& line) {
    py::dict options;
    if (r.provider) options["llm_provider"] = host::text(*r.provider);
    if (r.model) options["model_name"] = host::text(*r.model);
    if (r.what_if) options["what_if"] = *r.what_if;
    if (r.what_if_max) options["what_if_max"] = *r.what_if_max;
    if (r.reading) {
        options["reading"] =
            py::dict(py::arg("assumption") = host::text(r.reading->assumption),
                     py::arg("alternative") = host::text(r.reading->alternative),
                     py::arg("where") = host::text(r.reading->where), py::arg("kind") = host::text(r.reading->kind));
    }
    options["existing"] = true;
    add_call_line(options, line);
    // A pair that does not compile has no readings to ask for: no request is sent.
    auto compiled = host::compile_pair(r.pair.model, r.pair.data);
    if (!compiled->ok())
        return does_not_compile(compiled->source().compilation->report(), host::diagnostics_of(*compiled), r.pair);
    py::dict d;
    core::RunFolder folder;
    const tarvok::files::FileContent written[] = {{folder.model_file(), r.pair.model},
                                                  {folder.data_file(), r.pair.data}};
    tarvok::files::replace_files(written);
    generation::GenerationResult result = generation::run_generation(
        host::text(r.description), host::host_path(folder.model_file()), host::host_path(folder.data_file()), options);
    // The one reading asked for is explored; the assumptions are not listed again.
    host::add_readings(d, result, !r.reading);
    if (r.pair.data_from_json) d["data_text"] = host::text(r.pair.data);
    return answered(d);
}

/// Runs a call of `name`; every fault of the call, of its input or of the
/// work it does, is an answer with isError, so that the server stays up.
Answer call(const std::string& name, py::object arguments, const CallLine& line) {
    const core::ToolSpec* tool = core::tool_named(name);
    if (!tool) return failed(core::unknown_tool_message(name));
    try {
        // The arguments as the core's values (what JSON cannot hold as its str()).
        core::Parsed parsed =
            core::parse_request(*tool, core::arguments_of(host::from_python(arguments, {.others_as_text = true})));
        if (!parsed.request) return failed(std::string(tool->name) + ": " + parsed.error);
        return std::visit(
            [&](const auto& r) -> Answer {
                using Kind = std::decay_t<decltype(r)>;
                if constexpr (std::is_same_v<Kind, core::GenerateRequest> || std::is_same_v<Kind, core::RunRequest> ||
                              std::is_same_v<Kind, core::ReadingsRequest>)
                    return answer(r, line);
                else
                    return answer(r);
            },
            *parsed.request);
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e)) throw;
        std::string kind = host::str_of(py::type::handle_of(e.value()).attr("__name__"));
        return failed(core::failure_message(tool->name, kind, host::str_of(e.value()), e.matches(PyExc_MemoryError)));
    } catch (const std::exception& e) {
        return failed(core::failure_message(tool->name, "", e.what(), false));
    }
}

py::object call_tool_result(const Answer& a) {
    py::module_ t = types();
    py::list content;
    content.append(t.attr("TextContent")(py::arg("type") = "text", py::arg("text") = a.text));
    return t.attr("CallToolResult")(py::arg("content") = content, py::arg("structured_content") = a.structured,
                                    py::arg("is_error") = a.error);
}

// ---------------------------------------------------- listings and reading ----

/// A result the core shaped as the protocol's JSON, as the SDK's type `kind`.
py::object result(const char* kind, const core::Value& value) {
    return types().attr(kind).attr("model_validate")(host::to_python(value));
}

py::object read_resource(py::object params) {
    std::string uri = host::str_of(params.attr("uri"));
    std::filesystem::path package = host::package_folder();
    core::ResourceTarget target = core::resource_named(uri, core::example_library(package));
    using Kind = core::ResourceTarget::Kind;
    // A protocol error of its own (resource not found), which the SDK answers without logging a traceback.
    if (target.kind == Kind::None) {
        py::object error = py::module_::import("mcp.shared.exceptions")
                               .attr("MCPError")(core::kResourceNotFound, host::text("no resource " + uri));
        PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
        throw py::error_already_set();
    }
    core::PackageTexts texts;
    std::string text;
    if (target.kind == Kind::Diagnostics) {
        text =
            tarvok::json::write(tarvok::compiler::tree::diagnostic_code_tree(), {.indent = 1, .ensure_ascii = false});
    } else {
        py::gil_scoped_release unlocked;
        text = core::package_resource_text(target, package, texts);
    }
    log_unread(texts);
    return result("ReadResourceResult", core::resource_result(uri, target.mime_type, text));
}

py::object get_prompt(py::object params) {
    std::string name = host::str_of(params.attr("name"));
    if (name != core::kFormulatePrompt) host::raise(PyExc_ValueError, "no prompt " + name);
    std::string description;
    py::object arguments = params.attr("arguments");
    if (!arguments.is_none()) {
        py::object given = arguments.attr("get")("description");
        if (!given.is_none()) description = host::str_of(given);
    }
    return result("GetPromptResult", core::prompt_result(description));
}

// ------------------------------------------------------------ the server ----

/// The server's loop side of a call: `body(context, params, stop, progress)`
/// runs on a thread of its own while the loop sends the progress messages it
/// queues. A call the client cancels, or that is still running when the
/// client leaves, has `stop` set, which its solve or generation asks; the
/// thread is a daemon, so that nothing it waits on keeps the process.
constexpr const char* kCallRunner = R"(
import collections, threading, anyio

calls = set()

async def run_call(body, context, params):
    stop = threading.Event()
    queued = collections.deque()
    outcome = []

    def work():
        try:
            outcome.append((True, body(context, params, stop, queued.append)))
        except BaseException as error:
            outcome.append((False, error))
        finally:
            calls.discard(thread)

    thread = threading.Thread(target=work, name="tarvok mcp call", daemon=True)
    calls.add(thread)
    thread.start()
    sent = 0
    try:
        while True:
            ended = not thread.is_alive()
            while queued:
                sent += 1
                await context.session.report_progress(float(sent), None, queued.popleft())
            if ended:
                break
            await anyio.sleep(0.02)
    except BaseException:
        stop.set()
        raise
    ok, value = outcome[0]
    if not ok:
        raise value
    return value

def wait_for_calls(seconds):
    """Gives the calls still running (each told to stop) up to `seconds` to end."""
    import time
    deadline = time.monotonic() + seconds
    for thread in list(calls):
        thread.join(max(0.0, deadline - time.monotonic()))
)";

/// The runner's namespace, made on first use.
py::dict call_runner() {
    static py::dict* runner = [] {
        auto* globals = new py::dict();  // kept for the process: the loop's handlers hold its functions
        (*globals)["__builtins__"] = py::module_::import("builtins");
        py::exec(kCallRunner, *globals);
        return globals;
    }();
    return *runner;
}

using Work = std::function<py::object(py::object context, py::object params, const CallLine& line)>;

/// An SDK handler `(ctx, params)` running `work` as run_call does, so that the
/// protocol keeps flowing (pings, other calls, cancellations) while a model
/// compiles, solves or is generated.
py::object on_worker(Work work) {
    py::object body = py::cpp_function(
        [work = std::move(work)](py::object context, py::object params, py::object stop, py::object progress) {
            return work(context, params, CallLine{stop, progress});
        });
    return py::module_::import("functools").attr("partial")(call_runner()["run_call"], body);
}

py::object create_server() {
    py::module_ lowlevel = host::import_extra("mcp.server.lowlevel", "the MCP server", "mcp");
    py::object version = py::module_::import("tarvok").attr("__version__");
    py::dict handlers;
    handlers["on_list_tools"] = on_worker([](py::object, py::object, const CallLine&) {
        return types().attr("ListToolsResult").attr("model_validate_json")(host::text(core::tools_result_json()));
    });
    handlers["on_call_tool"] = on_worker([](py::object, py::object params, const CallLine& line) {
        py::object arguments = params.attr("arguments");
        return call_tool_result(call(host::str_of(params.attr("name")), arguments, line));
    });
    for (const core::Listing& listing : core::listings())
        handlers[listing.handler] = on_worker([&listing](py::object, py::object, const CallLine&) {
            return result(listing.type, listing.result(host::package_folder()));
        });
    handlers["on_read_resource"] =
        on_worker([](py::object, py::object params, const CallLine&) { return read_resource(params); });
    handlers["on_get_prompt"] =
        on_worker([](py::object, py::object params, const CallLine&) { return get_prompt(params); });
    return lowlevel.attr("Server")(kServerName, py::arg("version") = version,
                                   py::arg("instructions") = host::text(core::instructions()), **handlers);
}

}  // namespace

namespace tarvok::mcp_server::bind {

py::object call_tool(py::object name, py::object arguments) {
    host::require(name, "call_tool", "name", host::Kind::Str);
    Answer a = call(host::str_of(name), arguments, CallLine{});
    return py::dict(py::arg("content") = a.text, py::arg("structured") = a.structured,
                    py::arg("is_error") = py::bool_(a.error));
}

}  // namespace tarvok::mcp_server::bind

namespace {

/// The SDK's stdio transport, given the lines of stdin the SDK can read: a
/// line it cannot (nested deeper than its parser goes, not JSON) is answered
/// here with an error to its id, since the SDK would drop it unanswered.
/// When the client closes stdin the SDK cancels the calls still running (which
/// sets their stop) and they get a moment to end, so that the process ends
/// with its client.
constexpr const char* kServe = R"(
import io, sys, anyio
from mcp import types
from mcp.server.stdio import stdio_server
from mcp.shared.message import SessionMessage

def why(error):
    try:
        return "; ".join(e["msg"] for e in error.errors(include_url=False)[:3])
    except Exception:
        return str(error) or type(error).__name__

async def serve(server, refusal):
    replies = []
    ready = anyio.Event()

    async def lines():
        stdin = anyio.wrap_file(io.TextIOWrapper(sys.stdin.buffer, encoding="utf-8", errors="replace"))
        async for line in stdin:
            try:
                types.jsonrpc_message_adapter.validate_json(line, by_name=False)
            except Exception as error:
                reply = refusal(line, why(error))
                if reply is not None:
                    await ready.wait()
                    message = types.jsonrpc_message_adapter.validate_json(reply, by_name=False)
                    await replies[0].send(SessionMessage(message))
                continue
            yield line

    async with stdio_server(stdin=lines()) as (read_stream, write_stream):
        replies.append(write_stream)
        ready.set()
        await server.run(read_stream, write_stream, server.create_initialization_options())
)";

}  // namespace

namespace tarvok::mcp_server::bind {

py::object serve() {
    host::modules::mcp_server.get();  // its start registers the types the server's calls hold
    py::object server = create_server();
    host::import_extra("mcp.server.stdio", "the MCP server", "mcp");
    py::dict globals;
    globals["__builtins__"] = py::module_::import("builtins");
    py::exec(kServe, globals);
    py::cpp_function refusal([](py::object line, py::object why) -> py::object {
        std::optional<std::string> reply = core::unread_message_reply(host::Utf8(line).view(), host::Utf8(why).view());
        return reply ? py::object(host::text(*reply)) : py::object(py::none());
    });
    py::module_::import("anyio").attr("run")(
        py::module_::import("functools").attr("partial")(globals["serve"], server, refusal));
    call_runner()["wait_for_calls"](core::kLeaveSeconds);
    return py::none();
}

}  // namespace tarvok::mcp_server::bind

void tarvok_start_mcp_server(pybind11::module_& m) {
    host::ModuleStart start(m, tarvok::host::modules::mcp_server, docs::kModule);
    host::lazy_logger(m);
    py::tuple names(core::tools().size());
    for (std::size_t i = 0; i < names.size(); ++i) names[i] = host::text(core::tools()[i].name);
    m.attr("TOOLS") = names;

    host::def(m, "create_server", "", docs::kCreateServer, &create_server);
    host::def(m, "call_tool", "name, arguments=None", docs::kCallTool, &call_tool, py::arg("name"),
              py::arg("arguments") = py::none());
    host::def(m, "serve", "", docs::kServe, &serve);
}
