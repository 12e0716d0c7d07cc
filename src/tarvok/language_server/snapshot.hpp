// What an editor asks of a model and its data: one compilation of the two
// texts and an index of every name in them, answered in positions the
// editor counts.
#pragma once

#include "common/interrupt.hpp"
#include "compiler/compiler.hpp"
#include "language_server/protocol_kinds.hpp"
#include "language_server/text_positions.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::language_server {

using compiler::SourceFile;

struct Location {
    SourceFile file = SourceFile::Model;
    Range range;
};

struct RelatedNote {
    Location at;
    std::string message;
};

/// A compiler diagnostic as an editor shows it; `fix`, when there is one,
/// replaces `range` and mends the fault.
struct EditorDiagnostic {
    Range range;
    Severity severity = Severity::Error;
    std::string code;  ///< "T0201"
    std::string message;
    std::vector<RelatedNote> notes;
    std::optional<std::string> fix;
    std::string fix_title;  ///< "Replace 'cake' with 'cakes'", "Insert ';'"
};

struct Hover {
    std::string markdown;
    Range range;
};

struct DocumentSymbol {
    std::string name;
    std::string detail;
    SymbolKind kind = SymbolKind::Variable;
    Range range;            ///< the whole statement
    Range selection_range;  ///< the name
    std::vector<DocumentSymbol> children;
};

struct CompletionItem {
    std::string label;
    CompletionKind kind = CompletionKind::Variable;
    std::string detail;
};

struct SnapshotOptions {
    Encoding encoding = Encoding::Utf16;
    /// Generous, so that names past the first errors are still resolved.
    std::size_t max_diagnostics = 200;
    Interrupt* interrupt = nullptr;
};

/// One model text and its data text, compiled together, with the index of
/// every declaration, binding, label and tuple field and of every place that
/// names one. A data text whose model is unknown is read alone (syntax only).
/// Positions given to a query may be anything: they are clamped to the text.
class Snapshot {
  public:
    /// `data` absent: the model has no data file.
    static std::unique_ptr<Snapshot> of_model(std::string model, std::optional<std::string> data,
                                              const SnapshotOptions& options = {});
    static std::unique_ptr<Snapshot> of_data_alone(std::string data, const SnapshotOptions& options = {});

    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;

    bool has_model() const { return has_model_; }
    bool has_data() const { return has_data_; }
    std::string_view text(SourceFile file) const { return file == SourceFile::Model ? model_ : data_; }
    const compiler::Compilation& compilation() const { return *compilation_; }

    /// The diagnostics that belong to `file`: errors, then warnings, each in
    /// source order.
    const std::vector<EditorDiagnostic>& diagnostics(SourceFile file) const;
    /// Positions in diagnostics(file) of those with a fix whose range meets `range`.
    std::vector<std::size_t> quick_fixes(SourceFile file, const Range& range) const;

    /// Where the name at `at` is declared.
    std::optional<Location> definition(SourceFile file, Position at) const;
    /// Every place that names what the name at `at` names, in source order
    /// (model first), with its declaration when `with_declaration`.
    std::vector<Location> references(SourceFile file, Position at, bool with_declaration) const;
    /// The declaration line of the name at `at` and the comment that goes with it.
    std::optional<Hover> hover(SourceFile file, Position at) const;
    /// Declarations (tuple types with their fields), the objective and the
    /// constraint labels of the model; the assignments of the data.
    std::vector<DocumentSymbol> symbols(SourceFile file) const;
    /// Names that fit at `at`: after `in`, the sets and ranges; elsewhere in
    /// the model, every declared name and the keywords; in the data, the
    /// names the model takes from data, and `true` and `false`.
    std::vector<CompletionItem> completion(SourceFile file, Position at) const;

    /// What a name stands for.
    enum class What : uint8_t { TupleType, Parameter, Set, Range, Dvar, Dexpr, Field, Binding, Objective, Constraint };

  private:
    struct Span {
        SourceFile file = SourceFile::Model;
        uint32_t begin = 0;
        uint32_t end = 0;
    };
    struct Symbol {
        std::string_view name;
        What what = What::Parameter;
        Span name_span;
        Span whole;
        uint32_t decl = compiler::kNone;     ///< its declaration, for declared names
        uint32_t binding = compiler::kNone;  ///< its binding, for bindings
        uint32_t owner = compiler::kNone;    ///< the tuple type's symbol, for fields
    };
    struct Occurrence {
        Span span;
        uint32_t symbol = 0;
    };

    Snapshot(std::string model, std::string data, const SnapshotOptions& options);
    void index();
    void add_reference(SourceFile file, uint32_t begin, std::string_view name, uint32_t symbol);
    const Occurrence* occurrence_at(SourceFile file, Position at) const;
    const LineMap& lines(SourceFile file) const { return file == SourceFile::Model ? model_lines_ : data_lines_; }
    Location location(const Span& span) const { return {span.file, lines(span.file).range(span.begin, span.end)}; }
    std::vector<EditorDiagnostic> convert(SourceFile file) const;
    std::string hover_text(const Symbol& symbol) const;

    const std::string model_, data_;
    SnapshotOptions options_;
    LineMap model_lines_, data_lines_;
    bool has_model_ = false, has_data_ = false;
    std::unique_ptr<compiler::Compilation> compilation_;
    std::vector<Symbol> symbols_;
    std::vector<uint32_t> decl_symbol_;    ///< per declaration of the model
    std::vector<Occurrence> occurrences_;  ///< declarations and uses, by file and offset
    std::vector<EditorDiagnostic> model_diagnostics_, data_diagnostics_;
};

/// The role of a document by the suffix of its name (".dat" is data,
/// anything else a model), and the name of its partner beside it: the same
/// name with ".dat" for ".mod" and the reverse; empty when there is none.
bool is_data_document(std::string_view uri);
std::string partner_document(std::string_view uri);

}  // namespace tarvok::language_server
