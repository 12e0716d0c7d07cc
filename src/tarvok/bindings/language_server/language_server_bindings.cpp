// tarvok.language_server: the language server of `tarvok lsp` for .mod and
// .dat files. pygls speaks the protocol on stdio (it is imported when a
// server is made, not with this module); the core compiles and indexes the
// texts and shapes each answer as the protocol's JSON; this file reads the
// requests, keeps one snapshot per model and builds the protocol's types
// from the core's answers.
#include "compiler/front_end.hpp"
#include "bindings/host/host.hpp"
#include "bindings/host/json.hpp"
#include "language_server/answers.hpp"
#include "bindings/language_server/docs.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace py = pybind11;
namespace docs = tarvok::language_server::docs;
namespace host = tarvok::host;
namespace core = tarvok::language_server;
using host::attr;
using tarvok::compiler::SourceFile;

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

py::object serve() {
    py::object server = attr("create_server")();
    server.attr("start_io")();
    return py::none();
}

}  // namespace

PYBIND11_MODULE(language_server, m, py::mod_gil_not_used()) {
    py::options options;
    options.disable_function_signatures();
    host::hold_module(m);
    host::translate_errors();

    m.doc() = docs::kModule;
    host::lazy_logger(m);
    py::tuple keywords(tarvok::compiler::keyword_spellings().size());
    for (std::size_t i = 0; i < keywords.size(); ++i)
        keywords[i] = host::text(tarvok::compiler::keyword_spellings()[i]);
    m.attr("KEYWORDS") = keywords;

    host::def(m, "create_server", "", docs::kCreateServer, &create_server);
    host::def(m, "serve", "", docs::kServe, &serve);
}
