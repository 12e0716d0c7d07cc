#include "language_server/snapshot.hpp"

#include "common/utf8.hpp"
#include "compiler/diagnostic_codes.hpp"

#include <algorithm>
#include <unordered_map>

namespace tarvok::language_server {

namespace cc = tarvok::compiler;

namespace {

/// Characters of a statement shown in a hover, a symbol's detail and a
/// completion's detail.
constexpr std::size_t kHoverSourceLimit = 300;
constexpr std::size_t kDetailLimit = 80;
/// Bytes of a comment shown in a hover.
constexpr std::size_t kCommentLimit = 2000;

bool is_name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}
bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim_blanks(std::string_view s) {
    while (!s.empty() && (is_blank(s.front()) || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (is_blank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

/// `text` cut to at most `limit` bytes at a character start.
std::string_view cut(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

/// The comment that documents the statement at [begin, end): the `//` lines
/// (or the `/* */` block) right above it, and a comment after it on its last
/// line.
std::string comment_for(std::string_view text, std::size_t begin, std::size_t end) {
    std::vector<std::string_view> lines;
    std::size_t line_start = text.rfind('\n', begin == 0 ? 0 : begin - 1);
    line_start = line_start == std::string_view::npos || begin == 0 ? 0 : line_start + 1;
    if (trim_blanks(text.substr(line_start, begin - line_start)).empty()) {
        std::size_t above_end = line_start;  // just past the '\n' ending the line above
        while (above_end > 0 && lines.size() < 50) {
            std::size_t previous_start = text.rfind('\n', above_end >= 2 ? above_end - 2 : 0);
            previous_start = previous_start == std::string_view::npos || above_end < 2 ? 0 : previous_start + 1;
            std::string_view line = trim_blanks(text.substr(previous_start, above_end - 1 - previous_start));
            if (line.starts_with("//")) {
                line.remove_prefix(2);
                lines.push_back(trim_blanks(line));
                above_end = previous_start;
                continue;
            }
            if (line.ends_with("*/") && lines.empty()) {
                std::size_t close = static_cast<std::size_t>(line.data() - text.data()) + line.size() - 2;
                std::size_t open = text.rfind("/*", close);
                std::size_t open_line = open == std::string_view::npos ? 0 : text.rfind('\n', open);
                open_line = open_line == std::string_view::npos ? 0 : open_line + 1;
                // Only a block that starts its own line documents what follows it.
                if (open != std::string_view::npos && trim_blanks(text.substr(open_line, open - open_line)).empty()) {
                    std::string_view block = text.substr(open + 2, close - open - 2);
                    std::vector<std::string_view> block_lines;
                    for (std::size_t pos = 0; pos <= block.size();) {
                        std::size_t next = block.find('\n', pos);
                        if (next == std::string_view::npos) next = block.size();
                        std::string_view piece = trim_blanks(block.substr(pos, next - pos));
                        if (piece.starts_with("*")) piece = trim_blanks(piece.substr(1));
                        block_lines.push_back(piece);
                        pos = next + 1;
                    }
                    while (!block_lines.empty() && block_lines.back().empty()) block_lines.pop_back();
                    std::size_t first = 0;
                    while (first < block_lines.size() && block_lines[first].empty()) ++first;
                    for (std::size_t i = block_lines.size(); i > first; --i) lines.push_back(block_lines[i - 1]);
                }
            }
            break;
        }
        std::reverse(lines.begin(), lines.end());
    }
    // A comment after the statement on its last line.
    std::size_t pos = std::min(end, text.size());
    while (pos < text.size() && (is_blank(text[pos]) || text[pos] == ';')) ++pos;
    if (text.substr(pos).starts_with("//")) {
        std::size_t stop = text.find('\n', pos);
        lines.push_back(
            trim_blanks(text.substr(pos + 2, (stop == std::string_view::npos ? text.size() : stop) - pos - 2)));
    } else if (text.substr(pos).starts_with("/*")) {
        std::size_t stop = text.find("*/", pos + 2);
        if (stop != std::string_view::npos) lines.push_back(trim_blanks(text.substr(pos + 2, stop - pos - 2)));
    }
    std::string out;
    for (std::string_view line : lines) {
        if (!out.empty()) out += '\n';
        out += line;
    }
    return std::string(cut(out, kCommentLimit));
}

/// A fenced code block that no backtick run in `code` can close early.
std::string code_block(std::string_view code) {
    std::size_t longest = 0, run = 0;
    for (char c : code) {
        run = c == '`' ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    std::string fence(std::max<std::size_t>(3, longest + 1), '`');
    return fence + "tarvok\n" + std::string(code) + "\n" + fence;
}

SymbolKind symbol_kind(Snapshot::What what) {
    using W = Snapshot::What;
    switch (what) {
    case W::TupleType: return SymbolKind::Struct;
    case W::Parameter: return SymbolKind::Constant;
    case W::Set: return SymbolKind::Array;
    case W::Range: return SymbolKind::Enum;
    case W::Dvar: return SymbolKind::Variable;
    case W::Dexpr: return SymbolKind::Function;
    case W::Field: return SymbolKind::Field;
    case W::Binding: return SymbolKind::Variable;
    case W::Objective: return SymbolKind::Event;
    case W::Constraint: return SymbolKind::Property;
    }
    return SymbolKind::Variable;
}

CompletionKind completion_kind(Snapshot::What what) {
    using W = Snapshot::What;
    switch (what) {
    case W::TupleType: return CompletionKind::Struct;
    case W::Parameter: return CompletionKind::Constant;
    case W::Set:
    case W::Range: return CompletionKind::Enum;
    case W::Dexpr: return CompletionKind::Function;
    case W::Field: return CompletionKind::Field;
    default: return CompletionKind::Variable;
    }
}

Snapshot::What what_of(cc::DeclKind kind) {
    using W = Snapshot::What;
    switch (kind) {
    case cc::DeclKind::TupleType: return W::TupleType;
    case cc::DeclKind::Parameter: return W::Parameter;
    case cc::DeclKind::Set: return W::Set;
    case cc::DeclKind::Range: return W::Range;
    case cc::DeclKind::Dvar: return W::Dvar;
    case cc::DeclKind::Dexpr: return W::Dexpr;
    }
    return W::Parameter;
}

}  // namespace

bool is_data_document(std::string_view uri) {
    if (uri.size() < 4) return false;
    std::string suffix(uri.substr(uri.size() - 4));
    for (char& c : suffix) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return suffix == ".dat";
}

std::string partner_document(std::string_view uri) {
    if (uri.size() < 4) return {};
    std::string suffix(uri.substr(uri.size() - 4));
    for (char& c : suffix) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string stem(uri.substr(0, uri.size() - 4));
    if (suffix == ".mod") return stem + ".dat";
    if (suffix == ".dat") return stem + ".mod";
    return {};
}

Snapshot::Snapshot(std::string model, std::string data, const SnapshotOptions& options)
    : model_(std::move(model)), data_(std::move(data)), options_(options), model_lines_(model_, options.encoding),
      data_lines_(data_, options.encoding) {}

std::unique_ptr<Snapshot> Snapshot::of_model(std::string model, std::optional<std::string> data,
                                             const SnapshotOptions& options) {
    bool has_data = data.has_value();
    std::unique_ptr<Snapshot> s(new Snapshot(std::move(model), std::move(data).value_or(""), options));
    s->has_model_ = true;
    s->has_data_ = has_data;
    cc::CompileOptions compile_options;
    compile_options.max_diagnostics = options.max_diagnostics;
    compile_options.interrupt = options.interrupt;
    s->compilation_ = cc::compile(s->model_, s->data_, compile_options);
    s->index();
    return s;
}

std::unique_ptr<Snapshot> Snapshot::of_data_alone(std::string data, const SnapshotOptions& options) {
    std::unique_ptr<Snapshot> s(new Snapshot("", std::move(data), options));
    s->has_data_ = true;
    auto c = std::make_unique<cc::Compilation>();
    c->data_text = s->data_;
    c->diagnostics = cc::Diagnostics(options.max_diagnostics);
    cc::Limits limits;
    limits.interrupt = options.interrupt;
    cc::parse_data(s->data_, c->ast, c->data, c->diagnostics, limits);
    s->compilation_ = std::move(c);
    s->index();
    return s;
}

void Snapshot::add_reference(SourceFile file, uint32_t begin, std::string_view name, uint32_t symbol) {
    std::string_view source = text(file);
    // A place whose text is not the name (a recovered statement) names nothing here.
    if (begin > source.size() || source.substr(begin, name.size()) != name) return;
    occurrences_.push_back({{file, begin, static_cast<uint32_t>(begin + name.size())}, symbol});
}

void Snapshot::index() {
    const cc::Compilation& c = *compilation_;
    const cc::Ast& ast = c.ast;
    const cc::Model& model = c.model;
    auto name_of = [&](cc::TextId id) { return id == cc::kNone ? std::string_view() : ast.texts[id]; };
    auto declare = [&](Symbol symbol) {
        symbols_.push_back(symbol);
        auto id = static_cast<uint32_t>(symbols_.size() - 1);
        occurrences_.push_back({symbol.name_span, id});
        return id;
    };
    auto name_span = [&](const cc::Location& at, std::string_view name) {
        return Span{at.file, at.offset, static_cast<uint32_t>(at.offset + name.size())};
    };
    auto expr_end = [&](cc::ExprId id, uint32_t otherwise) { return id == cc::kNone ? otherwise : ast[id].end; };

    std::unordered_map<std::string_view, uint32_t> declared;
    decl_symbol_.assign(model.decls.size(), cc::kNone);
    std::vector<std::vector<uint32_t>> field_symbols(model.decls.size());
    for (uint32_t i = 0; i < model.decls.size(); ++i) {
        const cc::Declaration& d = model.decls[i];
        std::string_view name = name_of(d.name);
        if (name.empty()) continue;
        Symbol s{name, what_of(d.kind), name_span(d.at, name), {cc::SourceFile::Model, d.start.offset, d.end}};
        s.decl = i;
        decl_symbol_[i] = declare(s);
        declared.emplace(name, decl_symbol_[i]);
        for (const cc::TupleField& f : d.fields) {
            std::string_view field = name_of(f.name);
            Symbol fs{field, What::Field, name_span(f.at, field), {}};
            fs.whole = {cc::SourceFile::Model, std::min(f.type.at.offset, f.at.offset), fs.name_span.end};
            fs.owner = decl_symbol_[i];
            field_symbols[i].push_back(field.empty() ? cc::kNone : declare(fs));
        }
    }
    std::vector<uint32_t> binding_symbol(ast.bindings.size(), cc::kNone);
    for (uint32_t i = 0; i < ast.bindings.size(); ++i) {
        const cc::Binding& b = ast.bindings[i];
        std::string_view name = name_of(b.name);
        if (name.empty() || b.at.file != cc::SourceFile::Model) continue;
        Symbol s{name, What::Binding, name_span(b.at, name), {}};
        s.whole = {cc::SourceFile::Model, b.at.offset, std::max(s.name_span.end, expr_end(b.domain, 0))};
        s.binding = i;
        binding_symbol[i] = declare(s);
    }
    const cc::Objective& o = model.objective;
    if (o.present && o.label != cc::kNone) {
        std::string_view name = name_of(o.label);
        Symbol s{name, What::Objective, name_span(o.label_at, name), {}};
        s.whole = {cc::SourceFile::Model, o.at.offset, std::max(s.name_span.end, expr_end(o.expr, 0))};
        declare(s);
    }
    for (const cc::Constraint& k : model.constraints) {
        if (k.label == cc::kNone) continue;
        std::string_view name = name_of(k.label);
        Symbol s{name, What::Constraint, name_span(k.label_at, name), {}};
        uint32_t end = std::max({s.name_span.end, expr_end(k.left, 0), expr_end(k.middle, 0), expr_end(k.right, 0)});
        s.whole = {cc::SourceFile::Model, k.label_at.offset, end};
        declare(s);
    }

    // Every place that names one of them.
    const std::vector<cc::ExprInfo>& info = c.analysis.info;
    for (uint32_t id = 0; id < ast.exprs.size(); ++id) {
        const cc::Expr& e = ast[id];
        if (e.kind == cc::ExprKind::Name) {
            uint32_t target = cc::kNone;
            if (e.ref_kind == cc::RefKind::Declaration && e.ref < decl_symbol_.size()) target = decl_symbol_[e.ref];
            if (e.ref_kind == cc::RefKind::Binding && e.ref < binding_symbol.size()) target = binding_symbol[e.ref];
            if (target != cc::kNone) add_reference(e.at.file, e.at.offset, name_of(e.text()), target);
        } else if (e.kind == cc::ExprKind::Field && e.tuple() < info.size()) {
            const cc::ValueType& type = info[e.tuple()].type;
            if (type.base != cc::Base::Tuple || type.tuple >= model.decls.size()) continue;
            const std::vector<cc::TupleField>& fields = model.decls[type.tuple].fields;
            std::string_view field = name_of(e.text());
            for (std::size_t f = 0; f < fields.size(); ++f) {
                if (name_of(fields[f].name) != field || field_symbols[type.tuple][f] == cc::kNone) continue;
                if (e.end >= field.size())
                    add_reference(e.at.file, static_cast<uint32_t>(e.end - field.size()), field,
                                  field_symbols[type.tuple][f]);
                break;
            }
        }
    }
    auto type_reference = [&](const cc::TypeName& type) {
        if (type.base == cc::BaseType::Tuple && type.decl < decl_symbol_.size() && decl_symbol_[type.decl] != cc::kNone)
            add_reference(type.at.file, type.at.offset, name_of(type.tuple), decl_symbol_[type.decl]);
    };
    for (const cc::Declaration& d : model.decls) {
        type_reference(d.type);
        for (const cc::TupleField& f : d.fields) type_reference(f.type);
    }
    for (const cc::DataAssignment& a : c.data.assignments) {
        auto found = declared.find(name_of(a.name));
        if (found != declared.end()) add_reference(a.at.file, a.at.offset, found->first, found->second);
    }

    auto order = [](const Occurrence& a, const Occurrence& b) {
        return std::tie(a.span.file, a.span.begin) < std::tie(b.span.file, b.span.begin);
    };
    std::sort(occurrences_.begin(), occurrences_.end(), order);
    occurrences_.erase(std::unique(occurrences_.begin(), occurrences_.end(),
                                   [](const Occurrence& a, const Occurrence& b) {
                                       return a.span.file == b.span.file && a.span.begin == b.span.begin;
                                   }),
                       occurrences_.end());
    model_diagnostics_ = convert(cc::SourceFile::Model);
    data_diagnostics_ = convert(cc::SourceFile::Data);
}

std::vector<EditorDiagnostic> Snapshot::convert(SourceFile file) const {
    const cc::Diagnostics& all = compilation_->diagnostics;
    std::string_view source = text(file);
    const LineMap& map = lines(file);
    std::vector<EditorDiagnostic> out;
    auto add = [&](const cc::Diagnostic& d) {
        if (d.at.file != file) return;
        std::size_t begin = std::min<std::size_t>(d.at.offset, source.size());
        std::size_t end = cc::end_offset(d, source);
        EditorDiagnostic e;
        e.range = map.range(begin, end);
        e.severity = d.severity == cc::Severity::Error ? Severity::Error : Severity::Warning;
        e.code = std::string(cc::code_info(d.code).id);
        e.message = d.message;
        for (const cc::Note& n : d.notes) {
            cc::Diagnostic at_note;
            at_note.at = n.at;
            std::string_view note_source = text(n.at.file);
            std::size_t note_begin = std::min<std::size_t>(n.at.offset, note_source.size());
            e.notes.push_back(
                {{n.at.file, lines(n.at.file).range(note_begin, cc::end_offset(at_note, note_source))}, n.message});
        }
        if (d.fix) {
            e.fix = *d.fix;
            std::string_view replaced = source.substr(begin, end - begin);
            if (replaced.empty())
                e.fix_title = "Insert '" + cc::quote_source(*d.fix, 40) + "'";
            else if (d.fix->empty())
                e.fix_title = "Remove '" + cc::quote_source(replaced, 40) + "'";
            else
                e.fix_title =
                    "Replace '" + cc::quote_source(replaced, 40) + "' with '" + cc::quote_source(*d.fix, 40) + "'";
        }
        out.push_back(std::move(e));
    };
    for (const cc::Diagnostic* d : cc::in_source_order(all.items())) add(*d);
    for (const cc::Diagnostic* d : cc::in_source_order(all.warnings())) add(*d);
    return out;
}

const std::vector<EditorDiagnostic>& Snapshot::diagnostics(SourceFile file) const {
    return file == SourceFile::Model ? model_diagnostics_ : data_diagnostics_;
}

std::vector<std::size_t> Snapshot::quick_fixes(SourceFile file, const Range& range) const {
    std::vector<std::size_t> out;
    const std::vector<EditorDiagnostic>& all = diagnostics(file);
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i].fix && meet(all[i].range, range)) out.push_back(i);
    }
    return out;
}

const Snapshot::Occurrence* Snapshot::occurrence_at(SourceFile file, Position at) const {
    std::size_t offset = lines(file).offset(at);
    auto after =
        std::upper_bound(occurrences_.begin(), occurrences_.end(), std::pair{file, offset},
                         [](const std::pair<SourceFile, std::size_t>& key, const Occurrence& o) {
                             return key.first < o.span.file || (key.first == o.span.file && key.second < o.span.begin);
                         });
    if (after == occurrences_.begin()) return nullptr;
    const Occurrence& o = *std::prev(after);
    if (o.span.file != file || offset < o.span.begin || offset > o.span.end) return nullptr;
    return &o;
}

std::optional<Location> Snapshot::definition(SourceFile file, Position at) const {
    const Occurrence* o = occurrence_at(file, at);
    if (!o) return std::nullopt;
    return location(symbols_[o->symbol].name_span);
}

std::vector<Location> Snapshot::references(SourceFile file, Position at, bool with_declaration) const {
    std::vector<Location> out;
    const Occurrence* o = occurrence_at(file, at);
    if (!o) return out;
    const Symbol& s = symbols_[o->symbol];
    for (const Occurrence& other : occurrences_) {
        if (other.symbol != o->symbol) continue;
        bool is_declaration = other.span.file == s.name_span.file && other.span.begin == s.name_span.begin;
        if (is_declaration && !with_declaration) continue;
        out.push_back(location(other.span));
    }
    return out;
}

std::string Snapshot::hover_text(const Symbol& s) const {
    std::string_view source = text(s.whole.file);
    std::size_t begin = std::min<std::size_t>(s.whole.begin, source.size());
    std::size_t end = std::clamp<std::size_t>(s.whole.end, begin, source.size());
    std::string code = cc::quote_source(source.substr(begin, end - begin), kHoverSourceLimit);
    std::string out = code_block(code);
    if (s.what == What::Field && s.owner != cc::kNone) {
        out += "\n\nfield of the tuple `" + std::string(symbols_[s.owner].name) + "`";
    } else if (s.what == What::Binding) {
        out += "\n\nbound by the enclosing forall, sum, min or max";
    }
    if (s.what != What::Binding) {
        std::string comment = comment_for(source, begin, end);
        if (!comment.empty()) out += "\n\n" + comment;
    }
    return out;
}

std::optional<Hover> Snapshot::hover(SourceFile file, Position at) const {
    const Occurrence* o = occurrence_at(file, at);
    if (!o) return std::nullopt;
    return Hover{hover_text(symbols_[o->symbol]), lines(file).range(o->span.begin, o->span.end)};
}

std::vector<DocumentSymbol> Snapshot::symbols(SourceFile file) const {
    std::vector<DocumentSymbol> out;
    auto detail = [&](const Span& whole) {
        std::string_view source = text(whole.file);
        std::size_t begin = std::min<std::size_t>(whole.begin, source.size());
        std::size_t end = std::clamp<std::size_t>(whole.end, begin, source.size());
        return cc::quote_source(source.substr(begin, end - begin), kDetailLimit);
    };
    auto symbol = [&](const Symbol& s) {
        DocumentSymbol d{std::string(s.name),         detail(s.whole),
                         symbol_kind(s.what),         location(s.whole).range,
                         location(s.name_span).range, {}};
        if (d.range.end < d.selection_range.end) d.range.end = d.selection_range.end;
        if (d.selection_range.start < d.range.start) d.range.start = d.selection_range.start;
        return d;
    };
    if (file == SourceFile::Data) {
        const cc::Compilation& c = *compilation_;
        for (const cc::DataAssignment& a : c.data.assignments) {
            std::string_view name = a.name == cc::kNone ? std::string_view() : c.ast.texts[a.name];
            if (name.empty()) continue;
            Symbol s{name,
                     What::Parameter,
                     {SourceFile::Data, a.at.offset, static_cast<uint32_t>(a.at.offset + name.size())},
                     {}};
            s.whole = {SourceFile::Data, a.at.offset, a.value == cc::kNone ? s.name_span.end : c.ast[a.value].end};
            if (const Occurrence* o = occurrence_at(SourceFile::Data, lines(SourceFile::Data).position(a.at.offset)))
                s.what = symbols_[o->symbol].what;
            out.push_back(symbol(s));
        }
        return out;
    }
    if (!has_model_) return out;
    const cc::Objective& o = compilation_->model.objective;
    bool objective_listed = false;
    for (const Symbol& s : symbols_) {
        if (s.what == What::Binding) continue;
        if (s.what == What::Field) {
            if (s.owner != cc::kNone) {
                for (DocumentSymbol& d : out) {
                    if (d.kind == SymbolKind::Struct && d.name == symbols_[s.owner].name)
                        d.children.push_back(symbol(s));
                }
            }
            continue;
        }
        objective_listed |= s.what == What::Objective;
        out.push_back(symbol(s));
    }
    if (o.present && !objective_listed) {
        // An objective without a label is listed by its sense.
        std::string_view sense = o.maximize ? "maximize" : "minimize";
        Symbol s{sense,
                 What::Objective,
                 {SourceFile::Model, o.at.offset, static_cast<uint32_t>(o.at.offset + sense.size())},
                 {}};
        s.whole = {SourceFile::Model, o.at.offset,
                   std::max(s.name_span.end, o.expr == cc::kNone ? 0u : compilation_->ast[o.expr].end)};
        out.push_back(symbol(s));
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const DocumentSymbol& a, const DocumentSymbol& b) { return a.range.start < b.range.start; });
    return out;
}

std::vector<CompletionItem> Snapshot::completion(SourceFile file, Position at) const {
    std::string_view source = text(file);
    std::size_t offset = lines(file).offset(at);
    std::size_t word_start = offset;
    while (word_start > 0 && is_name_char(source[word_start - 1])) --word_start;
    std::size_t before = word_start;
    while (before > 0 && (is_blank(source[before - 1]) || source[before - 1] == '\n' || source[before - 1] == '\r'))
        --before;
    std::size_t previous_start = before;
    while (previous_start > 0 && is_name_char(source[previous_start - 1])) --previous_start;
    bool after_in = source.substr(previous_start, before - previous_start) == "in";

    std::vector<CompletionItem> out;
    auto declared = [&](const Symbol& s) {
        std::string_view model = model_;
        std::size_t begin = std::min<std::size_t>(s.whole.begin, model.size());
        std::size_t end = std::clamp<std::size_t>(s.whole.end, begin, model.size());
        out.push_back({std::string(s.name), completion_kind(s.what),
                       cc::quote_source(model.substr(begin, end - begin), kDetailLimit)});
    };
    const std::vector<cc::Declaration>& decls = compilation_->model.decls;
    for (const Symbol& s : symbols_) {
        if (s.decl == cc::kNone) continue;
        if (file == SourceFile::Data) {
            const cc::Declaration& d = decls[s.decl];
            bool takes_data = d.from_data || (d.init == cc::kNone &&
                                              (d.kind == cc::DeclKind::Parameter || d.kind == cc::DeclKind::Set));
            if (takes_data) declared(s);
        } else if (!after_in || s.what == What::Set || s.what == What::Range) {
            declared(s);
        }
    }
    if (file == SourceFile::Data) {
        for (const char* word : {"true", "false"}) out.push_back({word, CompletionKind::Keyword, "keyword"});
    } else if (!after_in) {
        for (std::string_view word : cc::keyword_spellings()) {
            out.push_back({word == "subject" ? "subject to" : std::string(word), CompletionKind::Keyword, "keyword"});
        }
    }
    return out;
}

}  // namespace tarvok::language_server
