#include "language_server/answers.hpp"

#include "common/files.hpp"

namespace tarvok::language_server {

namespace {

Value number(uint32_t n) { return Value::of(static_cast<int64_t>(n)); }

Value position_value(const Position& p) {
    return Value::object({{"line", number(p.line)}, {"character", number(p.character)}});
}

}  // namespace

Value range_value(const Range& range) {
    return Value::object({{"start", position_value(range.start)}, {"end", position_value(range.end)}});
}

Value location_value(const Location& at, std::string_view uri) {
    bool in_data = is_data_document(uri);
    std::string target = (at.file == SourceFile::Data) != in_data ? partner_document(uri) : std::string(uri);
    return Value::object({{"uri", Value::of(std::move(target))}, {"range", range_value(at.range)}});
}

Value diagnostic_value(const EditorDiagnostic& d, std::string_view uri) {
    Value out = Value::object({{"range", range_value(d.range)},
                               {"message", Value::of(d.message)},
                               {"severity", Value::of(static_cast<int64_t>(d.severity))},
                               {"code", Value::of(d.code)},
                               {"source", Value::of(std::string(kServerName))}});
    if (d.notes.empty()) return out;
    Value related = Value::array();
    for (const RelatedNote& note : d.notes)
        related.items().push_back(
            Value::object({{"location", location_value(note.at, uri)}, {"message", Value::of(note.message)}}));
    out.members().emplace_back("relatedInformation", std::move(related));
    return out;
}

Value published_value(std::string_view uri, const std::vector<EditorDiagnostic>* diagnostics,
                      std::optional<int64_t> version) {
    Value items = Value::array();
    if (diagnostics)
        for (const EditorDiagnostic& d : *diagnostics) items.items().push_back(diagnostic_value(d, uri));
    return Value::object({{"uri", Value::of(std::string(uri))},
                          {"diagnostics", std::move(items)},
                          {"version", version ? Value::of(*version) : Value::null()}});
}

Value hover_value(const Hover& hover) {
    Value contents = Value::object({{"kind", Value::of("markdown")}, {"value", Value::of(hover.markdown)}});
    return Value::object({{"contents", std::move(contents)}, {"range", range_value(hover.range)}});
}

Value symbol_value(const DocumentSymbol& symbol) {
    Value out = Value::object({{"name", Value::of(symbol.name)},
                               {"kind", Value::of(static_cast<int64_t>(symbol.kind))},
                               {"range", range_value(symbol.range)},
                               {"selectionRange", range_value(symbol.selection_range)},
                               {"detail", Value::of(symbol.detail)}});
    if (symbol.children.empty()) return out;
    Value children = Value::array();
    for (const DocumentSymbol& child : symbol.children) children.items().push_back(symbol_value(child));
    out.members().emplace_back("children", std::move(children));
    return out;
}

Value completion_list(const std::vector<CompletionItem>& items) {
    Value listed = Value::array();
    for (const CompletionItem& item : items)
        listed.items().push_back(Value::object({{"label", Value::of(item.label)},
                                                {"kind", Value::of(static_cast<int64_t>(item.kind))},
                                                {"detail", Value::of(item.detail)}}));
    return Value::object({{"isIncomplete", Value::of(false)}, {"items", std::move(listed)}});
}

std::vector<Value> quick_fix_actions(const Snapshot& snapshot, SourceFile file, const Range& range,
                                     std::string_view uri) {
    std::vector<Value> actions;
    const std::vector<EditorDiagnostic>& all = snapshot.diagnostics(file);
    for (std::size_t i : snapshot.quick_fixes(file, range)) {
        const EditorDiagnostic& d = all[i];
        Value edit = Value::object({{"range", range_value(d.range)}, {"newText", Value::of(*d.fix)}});
        Value changes = Value::object({{std::string(uri), Value::array({std::move(edit)})}});
        actions.push_back(Value::object({{"title", Value::of(d.fix_title)},
                                         {"kind", Value::of("quickfix")},
                                         {"diagnostics", Value::array({diagnostic_value(d, uri)})},
                                         {"isPreferred", Value::of(true)},
                                         {"edit", Value::object({{"changes", std::move(changes)}})}}));
    }
    return actions;
}

// ------------------------------------------------------------- queries ----

const std::vector<QueryRow>& queries() {
    static const std::vector<QueryRow> all = {
        {"textDocument/hover", Query::Hover, "Hover", false, true, false, false},
        {"textDocument/definition", Query::Definition, "Location", false, true, false, false},
        {"textDocument/references", Query::References, "Location", true, true, false, true},
        {"textDocument/documentSymbol", Query::Symbols, "DocumentSymbol", true, false, false, false},
        {"textDocument/completion", Query::Completion, "CompletionList", false, true, false, false},
        {"textDocument/codeAction", Query::CodeActions, "CodeAction", true, false, true, false},
    };
    return all;
}

RegistrationOptions registration_options(Query query) {
    if (query != Query::CodeActions) return {};
    return {"CodeActionOptions", Value::object({{"codeActionKinds", Value::array({Value::of("quickfix")})}})};
}

const std::vector<NoticeRow>& notices() {
    static const std::vector<NoticeRow> all = {
        {"textDocument/didOpen", Notice::Changed},
        {"textDocument/didChange", Notice::Changed},
        {"textDocument/didClose", Notice::Closed},
    };
    return all;
}

Value answer(Query query, const Snapshot* snapshot, const QueryArgs& args) {
    if (!snapshot) {
        // Nothing to read: an empty list where the answer is one, and no completions.
        if (query == Query::Completion) return completion_list({});
        for (const QueryRow& q : queries())
            if (q.query == query && q.many) return Value::array();
        return Value::null();
    }
    Value many = Value::array();
    switch (query) {
    case Query::Hover: {
        auto hover = snapshot->hover(args.file, args.at);
        return hover ? hover_value(*hover) : Value::null();
    }
    case Query::Definition: {
        auto at = snapshot->definition(args.file, args.at);
        return at ? location_value(*at, args.uri) : Value::null();
    }
    case Query::References:
        for (const Location& at : snapshot->references(args.file, args.at, args.with_declaration))
            many.items().push_back(location_value(at, args.uri));
        return many;
    case Query::Symbols:
        for (const DocumentSymbol& d : snapshot->symbols(args.file)) many.items().push_back(symbol_value(d));
        return many;
    case Query::Completion: return completion_list(snapshot->completion(args.file, args.at));
    case Query::CodeActions: many.items() = quick_fix_actions(*snapshot, args.file, args.range, args.uri); return many;
    }
    return Value::null();
}

// ----------------------------------------------------------- documents ----

std::optional<std::string> document_on_disk(const std::filesystem::path& file, std::string& refusal) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) return std::nullopt;
    files::InputFile read = files::read_input_file(file);
    if (read.ok()) return std::move(read.bytes);
    refusal = read.reason();
    return std::nullopt;
}

DocumentPair Documents::pair_of(const std::string& uri, const Exists& exists) {
    std::string partner = partner_document(uri);
    if (!is_data_document(uri)) return {uri, partner};
    if (!partner.empty() && exists(partner)) return {partner, uri};
    return {"", uri};
}

Documents::Built Documents::build(const DocumentPair& pair, std::optional<std::string> model,
                                  std::optional<std::string> data, const SnapshotOptions& options) {
    if (model) return {pair.model, Snapshot::of_model(std::move(*model), std::move(data), options)};
    if (data) return {pair.data, Snapshot::of_data_alone(std::move(*data), options)};
    return {};
}

std::vector<Documents::Shown> Documents::shown(const DocumentPair& pair, const Snapshot& snapshot) {
    return {{pair.model, snapshot.has_model() ? &snapshot.diagnostics(SourceFile::Model) : nullptr},
            {pair.data, snapshot.has_data() ? &snapshot.diagnostics(SourceFile::Data) : nullptr}};
}

Documents::Closing Documents::closing(const DocumentPair& pair, const Exists& is_open) {
    Closing out;
    for (const std::string& member : {pair.model, pair.data})
        if (!member.empty() && is_open(member)) out.recheck = true;
    if (out.recheck) return out;
    for (const std::string& member : {pair.model, pair.data})
        if (!member.empty()) out.cleared.push_back(member);
    return out;
}

void Documents::keep(const DocumentPair& pair, const std::string& key, std::shared_ptr<Snapshot> snapshot) {
    snapshots_[key] = std::move(snapshot);
    for (const std::string& member : {pair.model, pair.data}) {
        if (member.empty()) continue;
        auto previous = owner_.find(member);
        if (previous != owner_.end() && previous->second != key) snapshots_.erase(previous->second);
        owner_[member] = key;
    }
}

void Documents::forget(const std::string& uri) {
    auto owner = owner_.find(uri);
    if (owner == owner_.end()) return;
    snapshots_.erase(owner->second);
    owner_.erase(owner);
}

std::shared_ptr<Snapshot> Documents::snapshot_of(const std::string& uri) const {
    auto owner = owner_.find(uri);
    if (owner == owner_.end()) return nullptr;
    auto found = snapshots_.find(owner->second);
    return found == snapshots_.end() ? nullptr : found->second;
}

bool Documents::sends(const std::string& uri, bool has_diagnostics, bool always) const {
    return !uri.empty() && (has_diagnostics || always || shown_.count(uri));
}

void Documents::sent(const std::string& uri, bool shows_some) {
    if (shows_some)
        shown_.insert(uri);
    else
        shown_.erase(uri);
}

}  // namespace tarvok::language_server
