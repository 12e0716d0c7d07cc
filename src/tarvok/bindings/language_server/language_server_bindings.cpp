// tarvok.language_server: the language server of `tarvok lsp` for .mod and
// .dat files. pygls speaks the protocol on stdio (it is imported when a
// server is made, not with this module); the core compiles and indexes the
// texts and shapes each answer as the protocol's JSON; this file reads the
// requests, keeps one snapshot per model and builds the protocol's types
// from the core's answers.
#include "bindings/host/host.hpp"
#include "bindings/host/json.hpp"
#include "bindings/host/module_start.hpp"
#include "bindings/language_server/docs.hpp"
#include "bindings/language_server/entries.hpp"
#include "compiler/front_end.hpp"
#include "language_server/answers.hpp"
#include "language_server/framing.hpp"

#include <pybind11/eval.h>

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace py = pybind11;
namespace docs = tarvok::language_server::docs;
namespace host = tarvok::host;
namespace core = tarvok::language_server;
/// This module's attribute as it is at call time (see host::ModuleSlot::attr).
static py::object attr(const char* name) { return host::modules::language_server.attr(name); }
using tarvok::compiler::SourceFile;
using tarvok::language_server::bind::serve;

namespace {

class Session {
  public:
    Session(py::object server, py::object types)
        : server_(std::move(server)), types_(std::move(types)),
          structure_(py::module_::import("lsprotocol.converters").attr("get_converter")().attr("structure")) {}

    void changed(const std::string& uri);
    void closed(const std::string& uri);
    std::shared_ptr<core::Snapshot> snapshot(const std::string& uri, SourceFile& file);

    /// An answer of the core as the protocol library's type `kind`.
    py::object as(const char* kind, const core::Value& value) const {
        return structure_(host::to_python(value), types_.attr(kind));
    }
    core::Position position_of(py::handle p) const {
        return core::Position::clamped(host::saturated(p.attr("line")), host::saturated(p.attr("character")));
    }
    core::Range range_of(py::handle r) const { return {position_of(r.attr("start")), position_of(r.attr("end"))}; }

  private:
    std::optional<std::string> text_of(const std::string& uri) const;
    /// The document open in the editor as `uri`, or None.
    py::object open_document(const std::string& uri) const {
        return server_.attr("workspace").attr("text_documents").attr("get")(host::text(uri));
    }
    bool is_open(const std::string& uri) const { return !open_document(uri).is_none(); }
    /// Open in the editor, or a file on disk.
    bool exists(const std::string& uri) const;
    /// Sends the diagnostics of `uri`; none (nullptr) clears what it shows,
    /// which is sent only when it shows something, unless `always`.
    void publish(const std::string& uri, const std::vector<core::EditorDiagnostic>* diagnostics, bool always = false);
    core::DocumentPair pair_of(const std::string& uri) const {
        return core::Documents::pair_of(uri, [this](const std::string& u) { return exists(u); });
    }

    py::object server_, types_, structure_;
    core::Documents documents_;
};

bool Session::exists(const std::string& uri) const {
    if (is_open(uri)) return true;
    py::object path = py::module_::import("pygls.uris").attr("to_fs_path")(host::text(uri));
    return !path.is_none() && host::truthy(py::module_::import("os").attr("path").attr("isfile")(path));
}

std::optional<std::string> Session::text_of(const std::string& uri) const {
    if (uri.empty()) return std::nullopt;
    py::object document = open_document(uri);
    if (!document.is_none()) return std::string(host::Utf8(document.attr("source")).view());
    // Not open: the file on disk, through the one reader of model and data files.
    py::object path = py::module_::import("pygls.uris").attr("to_fs_path")(host::text(uri));
    if (path.is_none()) return std::nullopt;
    std::filesystem::path file = host::file_system_path(path);
    std::string refusal;
    std::optional<std::string> text;
    {
        py::gil_scoped_release unlocked;
        text = core::document_on_disk(file, refusal);
    }
    // A file the commands would refuse is left out, and the log says why.
    if (!refusal.empty()) attr("logger").attr("warning")("cannot read %s: %s", path, host::text(refusal));
    return text;
}

void Session::publish(const std::string& uri, const std::vector<core::EditorDiagnostic>* diagnostics, bool always) {
    if (!documents_.sends(uri, diagnostics != nullptr, always)) return;
    std::optional<int64_t> version;
    py::object document = open_document(uri);
    if (!document.is_none() && !document.attr("version").is_none()) version = document.attr("version").cast<int64_t>();
    server_.attr("text_document_publish_diagnostics")(
        as("PublishDiagnosticsParams", core::published_value(uri, diagnostics, version)));
    documents_.sent(uri, diagnostics && !diagnostics->empty());
}

void Session::changed(const std::string& uri) {
    core::DocumentPair pair = pair_of(uri);
    core::SnapshotOptions options;
    py::object name = server_.attr("workspace").attr("position_encoding");
    if (!name.is_none()) options.encoding = core::encoding_named(host::str_of(name)).value_or(core::Encoding::Utf16);
    std::optional<std::string> model = text_of(pair.model);
    std::optional<std::string> data = text_of(pair.data);
    core::Documents::Built built;
    {
        py::gil_scoped_release unlocked;
        built = core::Documents::build(pair, std::move(model), std::move(data), options);
    }
    if (!built.snapshot) return;
    documents_.keep(pair, built.key, built.snapshot);
    for (const auto& [member, diagnostics] : core::Documents::shown(pair, *built.snapshot))
        publish(member, diagnostics);
}

void Session::closed(const std::string& uri) {
    core::DocumentPair pair = pair_of(uri);
    core::Documents::Closing closing =
        core::Documents::closing(pair, [this](const std::string& u) { return is_open(u); });
    if (closing.recheck) return changed(uri);
    for (const std::string& member : closing.cleared) {
        publish(member, nullptr, true);
        documents_.forget(member);
    }
}

std::shared_ptr<core::Snapshot> Session::snapshot(const std::string& uri, SourceFile& file) {
    file = core::is_data_document(uri) ? SourceFile::Data : SourceFile::Model;
    if (auto found = documents_.snapshot_of(uri)) return found;
    changed(uri);  // asked before it was opened: check it now
    return documents_.snapshot_of(uri);
}

// ---------------------------------------------------------------- handlers ----

/// Runs one handler; an error in it is logged and answered with nothing, so
/// that no input can take the server down.
template <typename Body>
py::object guarded(const char* method, Body&& body) {
    try {
        return body();
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e)) throw;
        attr("logger").attr("error")("%s failed: %s", method, py::str(e.value()));
    } catch (const std::exception& e) {
        attr("logger").attr("error")("%s failed: %s", method, host::to_python(core::Value::of(e.what())));
    }
    return py::none();
}

// Each request reads the protocol objects, asks the snapshot and builds the
// protocol's types from the core's answer.

std::string uri_of(py::handle params) { return host::str_of(params.attr("text_document").attr("uri")); }

/// Takes one of the core's notifications: the document is read again, or leaves its pair.
py::object notified(Session& s, core::Notice notice, py::object params) {
    if (notice == core::Notice::Closed)
        s.closed(uri_of(params));
    else
        s.changed(uri_of(params));
    return py::none();
}

/// Answers one of the core's queries: reads what its row of the table says it reads,
/// and builds its answer (or each item of it) as the protocol's type.
py::object query(Session& s, const core::QueryRow& row, py::object params) {
    core::QueryArgs args;
    args.uri = uri_of(params);
    std::shared_ptr<core::Snapshot> snapshot = s.snapshot(args.uri, args.file);
    if (snapshot && row.reads_position) args.at = s.position_of(params.attr("position"));
    if (snapshot && row.reads_range) args.range = s.range_of(params.attr("range"));
    if (snapshot && row.reads_context)
        args.with_declaration = host::truthy(params.attr("context").attr("include_declaration"));
    core::Value answer = core::answer(row.query, snapshot.get(), args);
    std::string type(row.type);
    if (!row.many) return answer.kind() == core::Value::Kind::Null ? py::none() : s.as(type.c_str(), answer);
    py::list out;
    for (const core::Value& item : answer.items()) out.append(s.as(type.c_str(), item));
    return out;
}

using Answerer = std::function<py::object(Session&, py::object)>;

void register_features(py::object server, const std::shared_ptr<Session>& session) {
    py::object partial = py::module_::import("functools").attr("partial");
    std::weak_ptr<Session> weak = session;
    auto feature = [&](std::string_view name, Answerer answer, py::object options = py::none()) {
        // pygls marks its handlers with attributes, which a builtin cannot
        // carry; a partial object can.
        py::cpp_function handler([method = std::string(name), answer, weak](py::object params) {
            return guarded(method.c_str(), [&]() -> py::object {
                std::shared_ptr<Session> s = weak.lock();
                if (!s) return py::none();
                return answer(*s, params);
            });
        });
        server.attr("feature")(host::text(name), options)(partial(handler));
    };
    for (const core::NoticeRow& row : core::notices())
        feature(row.method, [&row](Session& s, py::object params) { return notified(s, row.notice, params); });
    for (const core::QueryRow& row : core::queries()) {
        core::RegistrationOptions options = core::registration_options(row.query);
        std::string type(options.type);
        feature(
            row.method, [&row](Session& s, py::object params) { return query(s, row, params); },
            type.empty() ? py::object(py::none()) : session->as(type.c_str(), options.options));
    }
}

py::object create_server() {
    py::module_ server_module = host::import_extra("pygls.lsp.server", "the language server", "lsp");
    py::module_ types = py::module_::import("lsprotocol.types");
    py::object version = py::module_::import("tarvok").attr("__version__");
    py::object server = server_module.attr("LanguageServer")(host::text(core::kServerName), version);
    auto session = std::make_shared<Session>(server, types);
    register_features(server, session);
    // The session lives as long as the server.
    server.attr("_tarvok_session") = py::capsule(new std::shared_ptr<Session>(session),
                                                 [](void* p) { delete static_cast<std::shared_ptr<Session>*>(p); });
    return server;
}

// ------------------------------------------------------------- the loop ----

/// The frames of a file descriptor (stdin), each read with the GIL released.
class Frames {
  public:
    explicit Frames(int fd)
        : reader_([fd](char* into, std::size_t most) -> std::size_t {
              for (;;) {
                  ssize_t got = ::read(fd, into, most);
                  if (got >= 0) return static_cast<std::size_t>(got);
                  if (errno != EINTR) return 0;  // an input that fails is an input that ended
              }
          }) {}

    /// None at the end of the input; else (body, None), or (None, the error reply) for a refused frame.
    py::object next() {
        std::optional<core::Frame> frame;
        {
            py::gil_scoped_release unlocked;
            frame = reader_.next();
        }
        if (!frame) return py::none();
        if (frame->refusal)
            return py::make_tuple(py::none(), py::bytes(core::error_frame("null", core::kInvalidRequest,
                                                                          "Invalid request: " + *frame->refusal)));
        return py::make_tuple(py::bytes(frame->body), py::none());
    }

  private:
    core::FrameReader reader_;
};

/// (the error reply or None, why it is dropped or None, the request's id as JSON or None).
py::tuple screen(py::bytes body) {
    core::Screened screened = core::screen_message(std::string_view(body));
    using Kind = core::Screened::Kind;
    py::object reply = py::none(), dropped = py::none();
    if (screened.kind == Kind::Refuse)
        reply = py::bytes(core::error_frame(screened.id, screened.code, screened.message));
    if (screened.kind == Kind::Drop) dropped = host::text(screened.message);
    return py::make_tuple(reply, dropped, screened.request ? py::object(host::text(screened.id)) : py::none());
}

/// The reply to request `id` (JSON) whose params the protocol library could not read, and why.
py::bytes unread_params(const std::string& id, const std::string& why) {
    return py::bytes(core::error_frame(id, core::kInvalidParams, "Invalid params: " + why));
}

/// pygls's stdio loop, but with frames read by the core: a frame over the
/// limit, a body that is not JSON and a request the library cannot read
/// each get an error reply, and the server goes on.
constexpr const char* kLoop = R"(
import asyncio, json, sys, threading
from pygls.io_ import StdoutWriter

def why(error):
    """The messages at the leaves of an error the library raised (cattrs groups them)."""
    leaves = []
    def walk(e):
        inner = getattr(e, "exceptions", None)
        if inner:
            for each in inner:
                walk(each)
        else:
            leaves.append(str(e) or type(e).__name__)
    walk(error.__cause__ or error)
    return "; ".join(leaves[:3])

def serve(server, frames, screen, unread_params, logger):
    server._stop_event = stop = threading.Event()  # what the library's shutdown and exit set
    writer = StdoutWriter(sys.stdout.buffer)
    protocol = server.protocol
    protocol.set_writer(writer)

    async def run():
        loop = asyncio.get_running_loop()
        while not stop.is_set():
            frame = await loop.run_in_executor(server.thread_pool, frames)
            if frame is None:
                return
            body, reply = frame
            if body is not None:
                reply, dropped, request = screen(body)
                if dropped is not None:
                    logger.warning("notification dropped: %s", dropped)
                    continue
            if reply is None:
                try:
                    message = json.loads(body, object_hook=protocol.structure_message)
                except Exception as error:
                    if request is None:
                        logger.warning("message dropped: %s", why(error))
                        continue
                    reply = unread_params(request, why(error))
            if reply is not None:
                writer.write(reply)
                continue
            protocol.handle_message(message)

    try:
        asyncio.run(run())
    except (BrokenPipeError, KeyboardInterrupt, SystemExit):
        pass
    finally:
        server.shutdown()
)";

}  // namespace

namespace tarvok::language_server::bind {

py::object serve() {
    host::modules::language_server.get();  // its start registers the types the server's answers hold
    py::object server = create_server();
    py::dict loop;
    loop["__builtins__"] = py::module_::import("builtins");
    py::exec(kLoop, loop);
    int fd = py::module_::import("sys").attr("stdin").attr("fileno")().cast<int>();
    auto frames = std::make_shared<Frames>(fd);
    py::cpp_function next([frames] { return frames->next(); });
    loop["serve"](server, next, py::cpp_function(&screen), py::cpp_function(&unread_params), attr("logger"));
    return py::none();
}

}  // namespace tarvok::language_server::bind

void tarvok_start_language_server(pybind11::module_& m) {
    host::ModuleStart start(m, tarvok::host::modules::language_server, docs::kModule);
    host::lazy_logger(m);
    py::tuple keywords(tarvok::compiler::keyword_spellings().size());
    for (std::size_t i = 0; i < keywords.size(); ++i)
        keywords[i] = host::text(tarvok::compiler::keyword_spellings()[i]);
    m.attr("KEYWORDS") = keywords;

    host::def(m, "create_server", "", docs::kCreateServer, &create_server);
    host::def(m, "serve", "", docs::kServe, &serve);
}
