// tarvok.language_server: the language server of `tarvok lsp` for .mod and
// .dat files. pygls speaks the protocol on stdio (it is imported when a
// server is made, not with this module); the core compiles and indexes the
// texts; this file converts between the two and keeps one snapshot per model.
#include "common/files.hpp"
#include "compiler/front_end.hpp"
#include "host/host.hpp"
#include "language_server/snapshot.hpp"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace py = pybind11;
namespace host = tarvok::host;
namespace core = tarvok::language_server;
using host::attr;
using tarvok::compiler::SourceFile;

namespace {

constexpr const char* kServerName = "tarvok";

/// A text for the protocol from the core's UTF-8 (lone surrogates as the
/// host carries them); should a byte that is not UTF-8 ever reach here, it is
/// shown as U+FFFD rather than failing the answer.
py::str shown(std::string_view utf8) {
    PyObject* s = PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()), "surrogatepass");
    if (s == nullptr) {
        PyErr_Clear();
        s = PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()), "replace");
        if (s == nullptr) throw py::error_already_set();
    }
    return py::reinterpret_steal<py::str>(s);
}

uint32_t count(py::handle value) {
    long long n = host::saturated(value);
    return static_cast<uint32_t>(std::clamp<long long>(n, 0, UINT32_MAX));
}

/// The documents that belong together: a model and the data file beside it
/// with the same stem.
struct Pair {
    std::string model;  ///< empty for a data file that has no model beside it
    std::string data;   ///< empty for a model that cannot have one (not a .mod)
};

class Session {
  public:
    Session(py::object server, py::object types) : server_(std::move(server)), types_(std::move(types)) {}

    void changed(const std::string& uri);
    void closed(const std::string& uri);
    std::shared_ptr<core::Snapshot> snapshot(const std::string& uri, SourceFile& file);

    py::object position(const core::Position& p) const {
        return types_.attr("Position")(py::arg("line") = p.line, py::arg("character") = p.character);
    }
    py::object range(const core::Range& r) const {
        return types_.attr("Range")(py::arg("start") = position(r.start), py::arg("end") = position(r.end));
    }
    py::object location(const core::Location& at, const std::string& uri) const;
    py::object diagnostic(const core::EditorDiagnostic& d, const std::string& uri) const;
    core::Position position_of(py::handle p) const { return {count(p.attr("line")), count(p.attr("character"))}; }
    core::Range range_of(py::handle r) const { return {position_of(r.attr("start")), position_of(r.attr("end"))}; }

    const py::object& types() const { return types_; }

  private:
    Pair pair_of(const std::string& uri) const;
    std::optional<std::string> text_of(const std::string& uri) const;
    bool is_open(const std::string& uri) const;
    /// Open in the editor, or a file on disk.
    bool exists(const std::string& uri) const;
    /// Sends the diagnostics of `uri`; none (nullptr) clears what it shows,
    /// which is sent only when it shows something, unless `always`.
    void publish(const std::string& uri, const std::vector<core::EditorDiagnostic>* diagnostics, bool always = false);
    std::shared_ptr<core::Snapshot> build(const Pair& pair, std::string& key);

    py::object server_, types_;
    /// The latest snapshot of each model (of a data file alone, by its own name).
    std::map<std::string, std::shared_ptr<core::Snapshot>> snapshots_;
    /// Which model (or lone data file) each document was last checked with.
    std::map<std::string, std::string> owner_;
    std::set<std::string> published_;  ///< documents that have diagnostics showing
};

Pair Session::pair_of(const std::string& uri) const {
    std::string partner = core::partner_document(uri);
    if (!core::is_data_document(uri)) return {uri, partner};
    if (!partner.empty() && exists(partner)) return {partner, uri};
    return {"", uri};
}

bool Session::is_open(const std::string& uri) const {
    return host::truthy(server_.attr("workspace").attr("text_documents").attr("__contains__")(host::text(uri)));
}

bool Session::exists(const std::string& uri) const {
    if (is_open(uri)) return true;
    py::object path = py::module_::import("pygls.uris").attr("to_fs_path")(host::text(uri));
    return !path.is_none() && host::truthy(py::module_::import("os").attr("path").attr("isfile")(path));
}

std::optional<std::string> Session::text_of(const std::string& uri) const {
    if (uri.empty()) return std::nullopt;
    py::object documents = server_.attr("workspace").attr("text_documents");
    py::object document = documents.attr("get")(host::text(uri));
    if (!document.is_none()) return std::string(host::Utf8(document.attr("source")).view());
    // Not open: the file on disk, through the one reader of model and data files.
    py::object path = py::module_::import("pygls.uris").attr("to_fs_path")(host::text(uri));
    if (path.is_none()) return std::nullopt;
    std::filesystem::path file = host::file_system_path(path);
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) return std::nullopt;
    tarvok::files::InputFile read;
    {
        py::gil_scoped_release unlocked;
        read = tarvok::files::read_input_file(file);
    }
    if (read.ok()) return std::move(read.bytes);
    // A file the commands would refuse (not UTF-8, too large) is left out, and the log says why.
    attr("logger").attr("warning")("cannot read %s: %s", path, host::text(read.reason()));
    return std::nullopt;
}

std::shared_ptr<core::Snapshot> Session::build(const Pair& pair, std::string& key) {
    core::SnapshotOptions options;
    py::object name = server_.attr("workspace").attr("position_encoding");
    if (!name.is_none()) options.encoding = core::encoding_named(host::str_of(name)).value_or(core::Encoding::Utf16);
    std::optional<std::string> model = text_of(pair.model);
    std::optional<std::string> data = text_of(pair.data);
    std::unique_ptr<core::Snapshot> made;
    if (model) {
        key = pair.model;
        py::gil_scoped_release unlocked;
        made = core::Snapshot::of_model(std::move(*model), std::move(data), options);
    } else if (data) {
        key = pair.data;
        py::gil_scoped_release unlocked;
        made = core::Snapshot::of_data_alone(std::move(*data), options);
    }
    return std::shared_ptr<core::Snapshot>(std::move(made));
}

void Session::publish(const std::string& uri, const std::vector<core::EditorDiagnostic>* diagnostics, bool always) {
    if (uri.empty()) return;
    if (!diagnostics && !always && !published_.count(uri)) return;
    py::list items;
    if (diagnostics)
        for (const core::EditorDiagnostic& d : *diagnostics) items.append(diagnostic(d, uri));
    py::object version = py::none();
    py::object document = server_.attr("workspace").attr("text_documents").attr("get")(host::text(uri));
    if (!document.is_none()) version = document.attr("version");
    server_.attr("text_document_publish_diagnostics")(types_.attr("PublishDiagnosticsParams")(
        py::arg("uri") = host::text(uri), py::arg("diagnostics") = items, py::arg("version") = version));
    if (diagnostics && !diagnostics->empty())
        published_.insert(uri);
    else
        published_.erase(uri);
}

void Session::changed(const std::string& uri) {
    Pair pair = pair_of(uri);
    std::string key;
    std::shared_ptr<core::Snapshot> snapshot = build(pair, key);
    if (!snapshot) return;
    snapshots_[key] = snapshot;
    for (const std::string& member : {pair.model, pair.data}) {
        if (member.empty()) continue;
        auto previous = owner_.find(member);
        if (previous != owner_.end() && previous->second != key) snapshots_.erase(previous->second);
        owner_[member] = key;
    }
    publish(pair.model, snapshot->has_model() ? &snapshot->diagnostics(SourceFile::Model) : nullptr);
    publish(pair.data, snapshot->has_data() ? &snapshot->diagnostics(SourceFile::Data) : nullptr);
}

void Session::closed(const std::string& uri) {
    Pair pair = pair_of(uri);
    if ((!pair.model.empty() && is_open(pair.model)) || (!pair.data.empty() && is_open(pair.data))) {
        changed(uri);  // the partner stays open: check it against the file on disk
        return;
    }
    // Neither is open any more: what was shown for them goes.
    for (const std::string& member : {pair.model, pair.data}) {
        if (member.empty()) continue;
        publish(member, nullptr, true);
        auto owner = owner_.find(member);
        if (owner != owner_.end()) {
            snapshots_.erase(owner->second);
            owner_.erase(owner);
        }
    }
}

std::shared_ptr<core::Snapshot> Session::snapshot(const std::string& uri, SourceFile& file) {
    file = core::is_data_document(uri) ? SourceFile::Data : SourceFile::Model;
    auto owner = owner_.find(uri);
    if (owner != owner_.end()) {
        auto found = snapshots_.find(owner->second);
        if (found != snapshots_.end()) return found->second;
    }
    changed(uri);  // asked before it was opened: check it now
    owner = owner_.find(uri);
    if (owner == owner_.end()) return nullptr;
    auto found = snapshots_.find(owner->second);
    return found == snapshots_.end() ? nullptr : found->second;
}

py::object Session::location(const core::Location& at, const std::string& uri) const {
    std::string target = uri;
    bool in_data = core::is_data_document(uri);
    if ((at.file == SourceFile::Data) != in_data) target = core::partner_document(uri);
    return types_.attr("Location")(py::arg("uri") = host::text(target), py::arg("range") = range(at.range));
}

py::object Session::diagnostic(const core::EditorDiagnostic& d, const std::string& uri) const {
    py::list related;
    for (const core::RelatedNote& note : d.notes) {
        related.append(types_.attr("DiagnosticRelatedInformation")(py::arg("location") = location(note.at, uri),
                                                                   py::arg("message") = shown(note.message)));
    }
    return types_.attr("Diagnostic")(
        py::arg("range") = range(d.range), py::arg("message") = shown(d.message),
        py::arg("severity") = types_.attr("DiagnosticSeverity")(static_cast<int>(d.severity)),
        py::arg("code") = shown(d.code), py::arg("source") = kServerName,
        py::arg("related_information") = related.empty() ? py::object(py::none()) : py::object(related));
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
        attr("logger").attr("error")("%s failed: %s", method, shown(e.what()));
    }
    return py::none();
}

std::string uri_of(py::handle params) { return host::str_of(params.attr("text_document").attr("uri")); }

// One function per request: each converts the protocol objects, asks the
// snapshot and converts the answer back.

py::object opened(Session& s, py::object params) {
    s.changed(uri_of(params));
    return py::none();
}

py::object closed(Session& s, py::object params) {
    s.closed(uri_of(params));
    return py::none();
}

py::object hover(Session& s, py::object params) {
    SourceFile file;
    auto snapshot = s.snapshot(uri_of(params), file);
    if (!snapshot) return py::none();
    auto hover = snapshot->hover(file, s.position_of(params.attr("position")));
    if (!hover) return py::none();
    const py::object& t = s.types();
    return t.attr("Hover")(
        py::arg("contents") = t.attr("MarkupContent")(py::arg("kind") = t.attr("MarkupKind").attr("Markdown"),
                                                      py::arg("value") = shown(hover->markdown)),
        py::arg("range") = s.range(hover->range));
}

py::object definition(Session& s, py::object params) {
    SourceFile file;
    std::string uri = uri_of(params);
    auto snapshot = s.snapshot(uri, file);
    if (!snapshot) return py::none();
    auto at = snapshot->definition(file, s.position_of(params.attr("position")));
    if (!at) return py::none();
    return s.location(*at, uri);
}

py::object references(Session& s, py::object params) {
    SourceFile file;
    std::string uri = uri_of(params);
    auto snapshot = s.snapshot(uri, file);
    py::list out;
    if (!snapshot) return out;
    bool with_declaration = host::truthy(params.attr("context").attr("include_declaration"));
    for (const core::Location& at :
         snapshot->references(file, s.position_of(params.attr("position")), with_declaration))
        out.append(s.location(at, uri));
    return out;
}

py::object document_symbol(Session& s, const core::DocumentSymbol& d) {
    const py::object& t = s.types();
    py::list children;
    for (const core::DocumentSymbol& child : d.children) children.append(document_symbol(s, child));
    return t.attr("DocumentSymbol")(
        py::arg("name") = shown(d.name), py::arg("kind") = t.attr("SymbolKind")(static_cast<int>(d.kind)),
        py::arg("range") = s.range(d.range), py::arg("selection_range") = s.range(d.selection_range),
        py::arg("detail") = shown(d.detail),
        py::arg("children") = children.empty() ? py::object(py::none()) : py::object(children));
}

py::object document_symbols(Session& s, py::object params) {
    SourceFile file;
    auto snapshot = s.snapshot(uri_of(params), file);
    py::list out;
    if (!snapshot) return out;
    for (const core::DocumentSymbol& d : snapshot->symbols(file)) out.append(document_symbol(s, d));
    return out;
}

py::object completion(Session& s, py::object params) {
    SourceFile file;
    auto snapshot = s.snapshot(uri_of(params), file);
    const py::object& t = s.types();
    py::list items;
    if (snapshot) {
        for (const core::CompletionItem& item : snapshot->completion(file, s.position_of(params.attr("position")))) {
            items.append(
                t.attr("CompletionItem")(py::arg("label") = shown(item.label),
                                         py::arg("kind") = t.attr("CompletionItemKind")(static_cast<int>(item.kind)),
                                         py::arg("detail") = shown(item.detail)));
        }
    }
    return t.attr("CompletionList")(py::arg("is_incomplete") = false, py::arg("items") = items);
}

py::object code_actions(Session& s, py::object params) {
    SourceFile file;
    std::string uri = uri_of(params);
    auto snapshot = s.snapshot(uri, file);
    py::list actions;
    if (!snapshot) return actions;
    const py::object& t = s.types();
    const std::vector<core::EditorDiagnostic>& all = snapshot->diagnostics(file);
    for (std::size_t i : snapshot->quick_fixes(file, s.range_of(params.attr("range")))) {
        const core::EditorDiagnostic& d = all[i];
        py::list edits;
        edits.append(t.attr("TextEdit")(py::arg("range") = s.range(d.range), py::arg("new_text") = shown(*d.fix)));
        py::dict changes;
        changes[host::text(uri)] = edits;
        py::list fixed;
        fixed.append(s.diagnostic(d, uri));
        actions.append(t.attr("CodeAction")(py::arg("title") = shown(d.fix_title),
                                            py::arg("kind") = t.attr("CodeActionKind").attr("QuickFix"),
                                            py::arg("diagnostics") = fixed, py::arg("is_preferred") = true,
                                            py::arg("edit") = t.attr("WorkspaceEdit")(py::arg("changes") = changes)));
    }
    return actions;
}

void register_features(py::object server, const std::shared_ptr<Session>& session) {
    py::object types = session->types();
    py::object partial = py::module_::import("functools").attr("partial");
    std::weak_ptr<Session> weak = session;
    auto feature = [&](const char* method, py::object (*answer)(Session&, py::object),
                       py::object options = py::none()) {
        // pygls marks its handlers with attributes, which a builtin cannot
        // carry; a partial object can.
        py::cpp_function handler([method, answer, weak](py::object params) {
            return guarded(method, [&]() -> py::object {
                std::shared_ptr<Session> s = weak.lock();
                if (!s) return py::none();
                return answer(*s, params);
            });
        });
        server.attr("feature")(method, options)(partial(handler));
    };
    feature("textDocument/didOpen", opened);
    feature("textDocument/didChange", opened);
    feature("textDocument/didClose", closed);
    feature("textDocument/hover", hover);
    feature("textDocument/definition", definition);
    feature("textDocument/references", references);
    feature("textDocument/documentSymbol", document_symbols);
    feature("textDocument/completion", completion);
    py::list kinds;
    kinds.append(types.attr("CodeActionKind").attr("QuickFix"));
    feature("textDocument/codeAction", code_actions,
            types.attr("CodeActionOptions")(py::arg("code_action_kinds") = kinds));
}

py::object create_server() {
    py::module_ server_module = host::import_extra("pygls.lsp.server", "the language server", "lsp");
    py::module_ types = py::module_::import("lsprotocol.types");
    py::object version = py::module_::import("tarvok").attr("__version__");
    py::object server = server_module.attr("LanguageServer")(kServerName, version);
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

    m.doc() =
        "The language server of `tarvok lsp`: diagnostics, quick fixes, hover, definitions, references,\n"
        "symbols and completion for Tarvok models (.mod) and their data (.dat).";
    host::lazy_logger(m);
    py::tuple keywords(tarvok::compiler::keyword_spellings().size());
    for (std::size_t i = 0; i < keywords.size(); ++i)
        keywords[i] = host::text(tarvok::compiler::keyword_spellings()[i]);
    m.attr("KEYWORDS") = keywords;

    host::def(m, "create_server", "",
              "Make a pygls LanguageServer for Tarvok models and their data, ready to start.\n\n"
              "A .dat file beside a .mod with the same stem is the model's data: the two are compiled\n"
              "together, and each gets its own diagnostics. Raises ImportError when pygls (the lsp extra)\n"
              "is missing.",
              &create_server);
    host::def(m, "serve", "", "Run the language server on stdin and stdout until the client ends the session.", &serve);
}
