// What the language server answers, as the protocol's JSON: the binding hands
// these values to the protocol library, which builds its types from them.
// Which documents are checked together, which snapshot answers each, and
// which show diagnostics are decided here too.
#pragma once

#include "compiler/data_values.hpp"
#include "language_server/snapshot.hpp"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::language_server {

using data::Value;

/// The name the server gives itself and puts on its diagnostics.
inline constexpr std::string_view kServerName = "tarvok";

// ------------------------------------------------------------- answers ----

Value range_value(const Range& range);
/// A place as a location: in the document `uri` asked about, or in its partner.
Value location_value(const Location& at, std::string_view uri);
Value diagnostic_value(const EditorDiagnostic& d, std::string_view uri);
/// The diagnostics `uri` shows (none: an empty list, which clears it), at the
/// document's version when it is open.
Value published_value(std::string_view uri, const std::vector<EditorDiagnostic>* diagnostics,
                      std::optional<int64_t> version);
Value hover_value(const Hover& hover);
Value symbol_value(const DocumentSymbol& symbol);
Value completion_list(const std::vector<CompletionItem>& items);
/// The quick fixes of the diagnostics of `uri` whose ranges meet `range`.
std::vector<Value> quick_fix_actions(const Snapshot& snapshot, SourceFile file, const Range& range,
                                     std::string_view uri);

// ------------------------------------------------------------- queries ----

/// The requests a snapshot answers.
enum class Query : uint8_t { Hover, Definition, References, Symbols, Completion, CodeActions };

/// One request: its method, the protocol type of its answer (of each item
/// when `many`), and what it reads of its parameters besides the document.
struct QueryRow {
    std::string_view method;
    Query query;
    std::string_view type;
    bool many;
    bool reads_position, reads_range, reads_context;
};
/// The requests, in the order they are registered.
const std::vector<QueryRow>& queries();
/// What the server registers for a request besides its method: the protocol
/// type of its options and their JSON (no type: none). The code actions it
/// offers are quick fixes.
struct RegistrationOptions {
    std::string_view type;
    Value options;
};
RegistrationOptions registration_options(Query query);

/// The notifications that change what the server holds: a document opened or
/// changed is read and checked again; a closed one leaves its pair.
enum class Notice : uint8_t { Changed, Closed };
struct NoticeRow {
    std::string_view method;
    Notice notice;
};
const std::vector<NoticeRow>& notices();

/// What a request gives: its document, that document's part of the pair, and
/// the parameters its QueryRow reads.
struct QueryArgs {
    std::string uri;
    SourceFile file = SourceFile::Model;
    Position at;
    Range range;
    bool with_declaration = false;
};

/// The answer of `query` from `snapshot` (null: the document cannot be read):
/// null when there is nothing to say, an object, or for many an array.
Value answer(Query query, const Snapshot* snapshot, const QueryArgs& args);

// ----------------------------------------------------------- documents ----

/// The documents that belong together: a model and the data file beside it
/// with the same stem.
struct DocumentPair {
    std::string model;  ///< empty for a data file that has no model beside it
    std::string data;   ///< empty for a model that cannot have one (not a .mod)
};

/// A document that is not open, as read from its file: none when the file is
/// no regular file, or one the commands would refuse (not UTF-8, too large),
/// whose reason is then left in `refusal`.
std::optional<std::string> document_on_disk(const std::filesystem::path& file, std::string& refusal);

/// The open documents' snapshots and what each document shows.
class Documents {
  public:
    /// Whether a document is open in the editor, or a file on disk.
    using Exists = std::function<bool(const std::string& uri)>;

    /// The pair `uri` belongs to: a data file goes with the model beside it
    /// when that exists, and stands alone otherwise.
    static DocumentPair pair_of(const std::string& uri, const Exists& exists);

    /// A snapshot made for a pair and the name it is kept under.
    struct Built {
        std::string key;
        std::shared_ptr<Snapshot> snapshot;  ///< none when neither text could be read
    };
    /// The snapshot of `pair` from the texts read for its members (none: not
    /// read): the model with its data, kept under the model; else the data
    /// alone, kept under the data file.
    static Built build(const DocumentPair& pair, std::optional<std::string> model, std::optional<std::string> data,
                       const SnapshotOptions& options);

    /// What a member of a pair shows once checked: its diagnostics, or none
    /// (nullptr) when the snapshot does not hold it, which clears it.
    struct Shown {
        std::string uri;  ///< empty for a member the pair does not have
        const std::vector<EditorDiagnostic>* diagnostics;
    };
    static std::vector<Shown> shown(const DocumentPair& pair, const Snapshot& snapshot);

    /// What closing a member of `pair` leaves to do: while a member is still
    /// open the pair is checked again (the closed one from the file on disk);
    /// else what each member shows goes, and its snapshot with it.
    struct Closing {
        bool recheck = false;
        std::vector<std::string> cleared;
    };
    static Closing closing(const DocumentPair& pair, const Exists& is_open);

    /// Keeps `snapshot`, made for `pair` under `key` (its model, or its data
    /// file when no model text was found); a member last checked with another
    /// snapshot lets that one go.
    void keep(const DocumentPair& pair, const std::string& key, std::shared_ptr<Snapshot> snapshot);
    /// Lets go of the snapshot `uri` was checked with.
    void forget(const std::string& uri);
    /// The snapshot `uri` was last checked with, or none.
    std::shared_ptr<Snapshot> snapshot_of(const std::string& uri) const;

    /// Whether to send diagnostics for `uri`: always when there are some to
    /// show or `always`; a clearing only when it shows something.
    bool sends(const std::string& uri, bool has_diagnostics, bool always) const;
    /// Notes what `uri` shows once they are sent.
    void sent(const std::string& uri, bool shows_some);

  private:
    /// The latest snapshot of each model (of a data file alone, by its own name).
    std::map<std::string, std::shared_ptr<Snapshot>> snapshots_;
    /// Which model (or lone data file) each document was last checked with.
    std::map<std::string, std::string> owner_;
    std::set<std::string> shown_;  ///< documents that have diagnostics showing
};

}  // namespace tarvok::language_server
