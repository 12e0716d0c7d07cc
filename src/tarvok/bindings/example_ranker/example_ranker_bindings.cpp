// tarvok.example_ranker: ranks stored problem descriptions by embedding
// similarity to a new description.
#include "bindings/example_ranker/docs.hpp"
#include "bindings/example_ranker/entries.hpp"
#include "bindings/host/arrays.hpp"
#include "bindings/host/host.hpp"
#include "bindings/host/module_start.hpp"
#include "common/files.hpp"
#include "common/utf8.hpp"
#include "example_ranker/description_files.hpp"
#include "example_ranker/kept_vectors.hpp"
#include "example_ranker/lexical.hpp"
#include "example_ranker/load_failure.hpp"
#include "example_ranker/queries_ahead.hpp"
#include "example_ranker/query_batches.hpp"
#include "example_ranker/ranking.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace py = pybind11;
namespace host = tarvok::host;
namespace core = tarvok::example_ranker;
namespace docs = tarvok::example_ranker::docs;
namespace files = tarvok::files;
/// This module's attribute as it is at call time (see host::ModuleSlot::attr).
static py::object attr(const char* name) { return host::modules::example_ranker.attr(name); }
static host::Kept unavailable_class(host::modules::example_ranker);
/// The module's own loader, whose models alone may have their vectors kept on
/// disk, and its own listing and reading, which alone may be kept between rankings.
static host::Kept own_loader(host::modules::example_ranker), own_listing(host::modules::example_ranker),
    own_reader(host::modules::example_ranker);
using host::Kind;
using tarvok::example_ranker::bind::rank;
using tarvok::example_ranker::bind::rank_lexically;

namespace {

using core::kDefaultModel;
using core::kHelp;
using core::kUsage;

/// The host's path type, by which `models_dir` is taken and listed paths are given.
py::object path_type() { return py::module_::import("pathlib").attr("Path"); }

/// `models_dir` as the host's path type spells it.
std::string folder_name(py::handle models_dir) { return host::str_of(path_type()(models_dir)); }

py::list iter_description_files(py::object models_dir) {
    py::object Path = path_type();
    std::string root = host::str_of(Path(models_dir));
    std::vector<core::RelativePath> found;
    {
        py::gil_scoped_release unlocked;
        found = core::list_description_files(files::named_path(root));
    }
    py::list paths;
    for (const auto& parts : found) paths.append(Path(host::text(core::joined_name(root, parts))));
    return paths;
}

/// A description file's text (core::read_description), or "" for what is no path.
py::object read_text(py::object path, py::object max_chars) {
    host::require(max_chars, "_read_text", "max_chars", Kind::Int);
    // A limit beyond what read() takes saturates, which keeps its meaning.
    long long limit = std::min<long long>(host::saturated(max_chars), PY_SSIZE_T_MAX - 1);
    std::filesystem::path where;
    try {
        where = host::file_system_path(path);  // an integer is no path (the host's open() takes it as a descriptor)
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e)) throw;
        return py::str("");
    }
    std::string text;
    {
        py::gil_scoped_release unlocked;
        text = core::read_description(where, limit);
    }
    return host::text(text);
}

/// Where the default model's weights are on disk, when the package that ships
/// them is installed; none for every other name, and when it is not.
std::optional<std::string> packaged_weights(py::object model_name) {
    if (!host::equals(model_name, py::str(kDefaultModel))) return std::nullopt;
    std::string module(core::kPackagedWeightsModule);
    if (py::module_::import("importlib.util").attr("find_spec")(module).is_none()) return std::nullopt;
    return host::str_of(py::module_::import(module.c_str()).attr("get_model_path")());
}

/// Constructs the model from a folder on disk with the weight-loading progress
/// bar switched off for this load (and switched back on after it).
py::object load_from_folder(py::object SentenceTransformer, py::object folder) {
    py::object bars = py::none();
    try {
        bars = py::module_::import("importlib").attr("import_module")("transformers.utils.logging");
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e)) throw;
    }
    bool was_on = !bars.is_none() && host::truthy(bars.attr("is_progress_bar_enabled")());
    if (!was_on) return SentenceTransformer(folder);
    py::object hub = py::module_::import("importlib").attr("import_module")("huggingface_hub.utils");
    bool hub_was_off = host::truthy(hub.attr("are_progress_bars_disabled")());
    bars.attr("disable_progress_bar")();
    auto restore = [&] {
        bars.attr("enable_progress_bar")();
        if (hub_was_off) hub.attr("disable_progress_bars")();
    };
    try {
        py::object model = SentenceTransformer(folder);
        restore();
        return model;
    } catch (...) {
        restore();
        throw;
    }
}

/// Waits for `turn` with the interpreter released (the holder may need it to
/// finish), and holds it for the life of this object.
class Turn {
  public:
    explicit Turn(std::mutex& turn) : lock_(turn, std::defer_lock) {
        py::gil_scoped_release unlocked;
        lock_.lock();
    }

  private:
    std::unique_lock<std::mutex> lock_;
};

/// One load at a time: workers that start together load a model once.
std::mutex loading;
/// One encoding at a time in the process: the model's own thread pool has
/// the cores to itself, rather than every waiting worker's encoding running
/// a pool of its own on top of the others.
std::mutex encoding;

py::object load_model(py::object model_name) {
    host::require(model_name, "_load_model", "model_name", Kind::Str);
    if (py::object cache = attr("_model_cache"); cache.contains(model_name)) return cache[model_name];
    Turn turn(loading);
    py::object cache = attr("_model_cache");
    if (cache.contains(model_name)) return cache[model_name];  // loaded while this one waited
    auto failed = [&](py::str reason) {
        attr("_load_errors")[model_name] = reason;
        attr("logger").attr("warning")("RAG disabled (embedding model load failed): %s", reason);
        cache[model_name] = py::none();
        return py::none();
    };
    if (auto missing = core::missing_model_folder(host::str_of(model_name))) return failed(host::text(*missing));
    py::object model = py::none();
    try {
        py::object SentenceTransformer = py::module_::import("sentence_transformers").attr("SentenceTransformer");
        std::optional<std::string> folder = packaged_weights(model_name);
        model = folder ? load_from_folder(SentenceTransformer, host::text(*folder)) : SentenceTransformer(model_name);
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e)) throw;
        return failed(py::str(e.value()));
    }
    cache[model_name] = model;
    return model;
}

/// The descriptions of a library that have text, in listing order.
struct Library {
    py::list paths;
    py::list texts;
    /// The folder (absolute) and its stamp when the module's own listing and
    /// reading read it: only then may its vectors be kept on disk.
    std::optional<std::pair<std::string, std::string>> folder_stamp;
};

/// The identity of `model`, named `model_name`, for vectors kept on disk (see
/// core::model_identity). None when its weights are not in a folder known
/// here (a name the hub resolves): such vectors are not kept.
std::optional<std::string> model_identity(const py::object& model_name, const py::object& model) {
    std::string name = host::str_of(model_name);
    std::optional<std::filesystem::path> folder = core::weights_folder(name, packaged_weights(model_name));
    if (!folder) return std::nullopt;
    std::string weights;
    {
        py::gil_scoped_release unlocked;
        weights = core::weights_stamp(*folder);
    }
    if (weights.empty()) return std::nullopt;
    std::vector<std::string> versions;
    for (const char* module : {"sentence_transformers", "torch"})
        versions.push_back(host::str_of(py::getattr(py::module_::import(module), "__version__", py::str(""))));
    py::handle type = py::type::handle_of(model);
    return core::model_identity(name, *folder, weights, versions,
                                host::str_of(type.attr("__module__")) + "." + host::str_of(type.attr("__qualname__")));
}

/// The kept key of `library`'s vectors by `model` (named `model_name`), when
/// they may be kept: the library read and the model loaded by this module's
/// own functions (a loader replaced on the module may give any model for a name).
std::optional<core::VectorsKey> vectors_key(const Library& library, const py::object& model_name,
                                            const py::object& model) {
    if (!library.folder_stamp || !attr("_load_model").is(own_loader.get())) return std::nullopt;
    std::optional<std::string> identity = model_identity(model_name, model);
    if (!identity) return std::nullopt;
    std::vector<host::Utf8> texts;
    for (py::handle text : library.texts) texts.emplace_back(text);
    std::vector<std::string_view> views;
    for (const host::Utf8& text : texts) views.push_back(text.view());
    return core::VectorsKey{library.folder_stamp->first, library.folder_stamp->second, core::texts_hash(views),
                            *identity};
}

/// The folder vectors are kept in (see core::vectors_folder).
std::filesystem::path kept_vectors_folder() {
    return core::vectors_folder(std::getenv(core::kCacheDirVariable), std::getenv("XDG_CACHE_HOME"),
                                std::getenv("HOME"));
}

/// `embeddings` (a float32 tensor of one row per text) as kept on disk, or
/// none when they are of another kind.
std::optional<core::Vectors> as_vectors(const py::object& embeddings) {
    if (!host::equals(py::str(embeddings.attr("dtype")), py::str("torch.float32")) ||
        py::len(embeddings.attr("shape")) != 2)
        return std::nullopt;
    py::object array = embeddings.attr("detach")().attr("cpu")().attr("contiguous")().attr("numpy")();
    py::buffer_info info = py::buffer(array).request();
    core::Vectors vectors;
    vectors.rows = static_cast<std::size_t>(info.shape[0]);
    vectors.columns = static_cast<std::size_t>(info.shape[1]);
    vectors.values.resize(vectors.rows * vectors.columns);
    std::memcpy(vectors.values.data(), info.ptr, vectors.values.size() * sizeof(float));
    return vectors;
}

/// The library's vectors: those kept on disk for `key` when they match, else
/// encoded and kept there.
template <typename Key, typename Encode>
py::object encode_or_read(const py::object& model, const py::list& texts, Key&& key_of, Encode&& encode) {
    std::optional<core::VectorsKey> key = key_of();
    if (!key) return encode(texts);
    std::filesystem::path folder = kept_vectors_folder();
    std::optional<core::Vectors> kept;
    {
        py::gil_scoped_release unlocked;
        kept = core::read_kept_vectors(folder, *key, static_cast<std::size_t>(py::len(texts)));
    }
    if (kept) {
        auto rows = static_cast<py::ssize_t>(kept->rows), columns = static_cast<py::ssize_t>(kept->columns);
        py::object array = host::owned_array(std::move(kept->values));
        return py::module_::import("torch")
            .attr("from_numpy")(array)
            .attr("reshape")(rows, columns)
            .attr("to")(model.attr("device"));
    }
    py::object embeddings = encode(texts);
    if (std::optional<core::Vectors> vectors = as_vectors(embeddings)) {
        py::gil_scoped_release unlocked;
        core::keep_vectors(folder, *key, *vectors);
    }
    return embeddings;
}

/// Libraries, and their embeddings, kept per process.
constexpr std::size_t kKeptLibraries = 8;

/// Keeps `value` under `key` in `cache`, the oldest entries (a dict's first)
/// dropped so that it keeps at most kKeptLibraries.
void remember(py::dict cache, py::handle key, py::handle value) {
    while (py::len(cache) >= kKeptLibraries) {
        py::object oldest = py::reinterpret_borrow<py::object>(*py::iter(cache));
        if (PyDict_DelItem(cache.ptr(), oldest.ptr()) < 0) throw py::error_already_set();
    }
    cache[key] = value;
}

/// The embeddings of the library's texts, encoded once per model and texts:
/// a run that ranks many queries against one library (a benchmark set, a
/// batch of problems) pays for the library once. Kept in `_embedding_cache`,
/// keyed by the model object itself and the texts, at most kKeptLibraries.
template <typename Key, typename Encode>
py::object library_embeddings(const py::object& model, const py::list& texts, Key&& kept, Encode&& encode) {
    py::object cache = attr("_embedding_cache");
    py::object key;
    try {
        key = py::make_tuple(model, py::tuple(texts));
        py::hash(key);
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_TypeError)) throw;
        key = py::object();  // a model that cannot be a key is not cached
    }
    // A cache replaced by something else keeps nothing.
    if (!key || !PyDict_Check(cache.ptr())) {
        Turn turn(encoding);
        return encode(texts);
    }
    py::dict dict = py::reinterpret_borrow<py::dict>(cache);
    if (dict.contains(key)) return dict[key];
    Turn turn(encoding);
    if (dict.contains(key)) return dict[key];  // encoded while this one waited
    py::object embeddings = encode_or_read(model, texts, kept, encode);
    remember(dict, key, embeddings);
    return embeddings;
}

/// The folder `models_dir` names (None or "": the one beside this module),
/// as the host spells it; FileNotFoundError when that folder does not exist.
std::string library_folder(py::object models_dir) {
    std::string folder = host::truthy(models_dir) ? folder_name(models_dir)
                                                  : core::default_library_folder(host::str_of(attr("__file__")));
    if (!core::library_folder_exists(folder))
        host::raise(PyExc_FileNotFoundError, "Models directory not found: " + folder);
    return folder;
}

/// The texts of `files` read by `read`, those with text kept.
Library read_files(py::handle files, py::handle read) {
    Library library;
    for (py::handle path : files) {
        py::object text = read(path);
        if (!host::truthy(text)) continue;
        library.paths.append(path);
        library.texts.append(text);
    }
    return library;
}

/// The files `found` below `folder` read by the module's own reader, those
/// with text kept, their paths as texts.
Library read_own(const std::string& folder, const std::vector<core::RelativePath>& found) {
    std::vector<std::string> names, texts;
    {
        py::gil_scoped_release unlocked;
        for (const core::RelativePath& parts : found) {
            std::string name = core::joined_name(folder, parts);
            std::string text = core::read_description(files::named_path(name), core::kReadLimit);
            if (text.empty()) continue;
            names.push_back(std::move(name));
            texts.push_back(std::move(text));
        }
    }
    Library library;
    for (std::size_t i = 0; i < names.size(); ++i) {
        library.paths.append(host::text(names[i]));
        library.texts.append(host::text(texts[i]));
    }
    return library;
}

/// The library `models_dir` names, read once per folder and kept in
/// `_library_cache` (at most kKeptLibraries) for as long as its stamp (see
/// core::library_stamp) stays the same: a run that ranks many queries
/// against one library lists and stamps it each time, without reading it.
Library read_library(py::object models_dir) {
    std::string folder = library_folder(models_dir);
    py::object list_files = attr("_iter_description_files"), read = attr("_read_text");
    // Listing or reading replaced on the module: theirs, each time.
    if (!list_files.is(own_listing.get()) || !read.is(own_reader.get()))
        return read_files(list_files(path_type()(host::text(folder))), read);

    std::vector<core::RelativePath> found;
    std::string stamp;
    {
        py::gil_scoped_release unlocked;
        std::filesystem::path root = files::named_path(folder);
        found = core::list_description_files(root);
        stamp = core::library_stamp(root, found);
    }
    py::bytes stamp_bytes(stamp);
    // The folder as named and where it is: a relative name gives relative paths.
    std::string absolute = files::absolute_name(folder);
    std::pair folder_stamp{files::named_path(absolute).native(), stamp};
    py::tuple key = py::make_tuple(host::text(folder), host::text(absolute));
    py::object cache = attr("_library_cache");
    if (!PyDict_Check(cache.ptr())) return read_own(folder, found);
    py::dict kept = py::reinterpret_borrow<py::dict>(cache);
    if (kept.contains(key)) {
        py::tuple entry = kept[key];
        if (host::equals(entry[0], stamp_bytes))
            return {entry[1].cast<py::list>(), entry[2].cast<py::list>(), folder_stamp};
        if (PyDict_DelItem(kept.ptr(), key.ptr()) < 0) throw py::error_already_set();
    }
    Library library = read_own(folder, found);
    library.folder_stamp = folder_stamp;
    remember(kept, key, py::make_tuple(stamp_bytes, library.paths, library.texts));
    return library;
}

/// The ranking entries of the best `top_k` descriptions by `scores`.
py::list ranking_entries(const Library& library, const std::vector<double>& scores, py::object top_k) {
    std::vector<std::size_t> order = core::order_by_score(scores);
    std::size_t keep = core::kept_entries(scores.size(), host::saturated(top_k));
    py::list ranking;
    for (std::size_t n = 0; n < keep; ++n) {
        std::size_t i = order[n];
        py::dict entry;
        entry["path"] = host::text_form(library.paths[i]);
        entry["score"] = py::float_(scores[i]);
        entry["preview"] = host::text(core::preview(host::Utf8(library.texts[i]).view()));
        ranking.append(entry);
    }
    return ranking;
}

/// The unit vectors of `texts` (a list) by `model`, one row each.
py::object encode_texts(const py::object& model, const py::object& texts) {
    return model.attr("encode")(texts, py::arg("convert_to_tensor") = true, py::arg("normalize_embeddings") = true,
                                py::arg("show_progress_bar") = false);
}

/// A run's queries known ahead (see core::QueriesAhead) and their encoder:
/// a thread of its own, started by the first ranking that claims one of
/// them, with the model that ranking loaded.
struct Ahead {
    Ahead(py::list texts, py::object model_name, const std::vector<std::int64_t>& keys)
        : texts(std::move(texts)), model_name(std::move(model_name)), queue(keys) {}

    py::list texts;
    py::object model_name, model = py::none();
    py::object thread;  ///< the encoder, once started
    core::QueriesAhead<py::object> queue;
};

/// The queries ahead while a run holds them (see `_queries_ahead`).
std::mutex ahead_lock;
std::weak_ptr<Ahead> ahead_now;

/// The run's hold on its queries ahead: closed, or let go, the encoding stops.
class AheadHandle {
  public:
    explicit AheadHandle(std::shared_ptr<Ahead> ahead) : ahead_(std::move(ahead)) {}
    AheadHandle(const AheadHandle&) = delete;
    AheadHandle& operator=(const AheadHandle&) = delete;
    ~AheadHandle() { ahead_->queue.close(); }

    /// Encodes no more; waits for the encoder to end.
    void close() {
        ahead_->queue.close();
        if (ahead_->thread) ahead_->thread.attr("join")();
    }

  private:
    std::shared_ptr<Ahead> ahead_;
};

/// The encoder: the next batch of queries, encoded in order, one call a
/// batch, taking its turn with the other encodings of the process.
void encode_ahead(const std::shared_ptr<Ahead>& ahead) {
    for (;;) {
        std::optional<std::pair<std::size_t, std::size_t>> batch;
        {
            py::gil_scoped_release unlocked;
            batch = ahead->queue.next_batch();
        }
        if (!batch) return;
        auto [first, size] = *batch;
        std::vector<py::object> vectors;
        try {
            py::list texts;
            for (std::size_t i = 0; i < size; ++i) texts.append(ahead->texts[first + i]);
            Turn turn(encoding);
            py::object rows = encode_texts(ahead->model, texts);
            for (std::size_t i = 0; i < size; ++i) vectors.push_back(rows[py::int_(i)]);
        } catch (py::error_already_set& e) {
            ahead->queue.encoded(first, {});  // each ranking encodes its own, and meets the error itself
            if (!host::is_ordinary(e)) throw;
            return;
        }
        ahead->queue.encoded(first, std::move(vectors));
    }
}

/// The vector of `query` when it is one of the run's queries ahead for this
/// model (waiting for its batch when that is not encoded yet); None when it is not.
py::object vector_ahead(const py::object& model_name, const py::object& model, const py::object& query) {
    std::shared_ptr<Ahead> ahead;
    {
        std::lock_guard lock(ahead_lock);
        ahead = ahead_now.lock();
    }
    if (!ahead || !host::equals(model_name, ahead->model_name)) return py::none();
    if (ahead->model.is_none()) ahead->model = model;
    if (!ahead->model.is(model)) return py::none();
    std::optional<std::size_t> position =
        ahead->queue.claim(py::hash(query), [&](std::size_t p) { return host::equals(ahead->texts[p], query); });
    if (!position) return py::none();
    if (!ahead->thread) {
        py::cpp_function body([ahead] { encode_ahead(ahead); });
        ahead->thread = py::module_::import("threading")
                            .attr("Thread")(py::arg("target") = body, py::arg("name") = "tarvok-encode-ahead");
        ahead->thread.attr("start")();
    }
    std::optional<py::object> vector;
    {
        py::gil_scoped_release unlocked;
        vector = ahead->queue.wait(*position);
    }
    return vector ? std::move(*vector) : py::none();
}

/// A query waiting to be encoded, and its vector once it is.
struct Query {
    py::object text, vector;
};
/// The queries waiting for their model (see core::QueryBatches).
core::QueryBatches<Query> waiting_queries;

/// The vector of `text` by `model`: encoded in one call with the other
/// queries waiting for the model (which vectors equal one-at-a-time
/// encoding's to within rounding, and rank alike), or found encoded by
/// another waiter's call.
template <typename Encode>
py::object encode_query(const py::object& model, const py::object& text, Encode&& encode) {
    using State = core::QueryBatches<Query>::State;
    auto mine = waiting_queries.add(model.ptr(), Query{text, py::none()});
    core::QueryBatches<Query>::Batch batch;
    {
        py::gil_scoped_release unlocked;
        batch = waiting_queries.wait(mine);
    }
    if (mine->state == State::Done) return mine->query.vector;
    if (batch.empty()) {  // its batch failed: encoded alone, so that its own error is raised
        py::list alone;
        alone.append(text);
        Turn turn(encoding);
        return encode(alone)[py::int_(0)];
    }
    py::list texts;
    for (const auto& entry : batch) texts.append(entry->query.text);
    try {
        Turn turn(encoding);
        py::object vectors = encode(texts);
        for (std::size_t i = 0; i < batch.size(); ++i) batch[i]->query.vector = vectors[py::int_(i)];
    } catch (...) {
        waiting_queries.finish(batch, false);
        throw;
    }
    waiting_queries.finish(batch, true);
    return mine->query.vector;
}

}  // namespace

py::list tarvok::example_ranker::bind::rank(py::object query, py::object models_dir, py::object top_k,
                                            py::object model_name) {
    host::require(query, "rank_problem_descriptions", "query", Kind::Str);
    host::require(top_k, "rank_problem_descriptions", "top_k", Kind::Int);
    host::require(model_name, "rank_problem_descriptions", "model_name", Kind::Str);

    Library library = read_library(models_dir);
    if (library.paths.empty()) return py::list();

    py::object model = attr("_load_model")(model_name);
    if (model.is_none()) {
        // The failed load was logged once; every ranking with this name fails
        // here, and says why rather than that None has no 'encode'.
        py::object errors = attr("_load_errors");
        py::object reason = errors.contains(model_name) ? errors[model_name] : py::str("unknown reason");
        py::object error = unavailable_class.get()(
            host::text(core::unavailable_message(host::str_of(model_name), host::str_of(reason))));
        error.attr("model_name") = model_name;
        error.attr("reason") = reason;
        host::raise_object(error);
    }
    auto encode = [&](py::object texts) { return encode_texts(model, texts); };
    py::object doc_embs = library_embeddings(
        model, library.texts, [&] { return vectors_key(library, model_name, model); }, encode);
    py::object query_emb = vector_ahead(model_name, model, query);
    if (query_emb.is_none()) query_emb = encode_query(model, query, encode);
    py::object scores = py::module_::import("torch").attr("matmul")(doc_embs, query_emb).attr("cpu")().attr("tolist")();

    std::size_t count = library.paths.size();
    std::vector<double> values(count);
    for (std::size_t i = 0; i < count; ++i) {
        values[i] = py::float_(scores[py::int_(i)]).cast<double>();
    }
    return ranking_entries(library, values, top_k);
}

py::list tarvok::example_ranker::bind::rank_lexically(py::object query, py::object models_dir, py::object top_k) {
    host::require(query, "rank_lexically", "query", Kind::Str);
    host::require(top_k, "rank_lexically", "top_k", Kind::Int);
    Library library = read_library(models_dir);
    if (library.paths.empty()) return py::list();
    std::vector<host::Utf8> texts;
    for (py::handle text : library.texts) texts.emplace_back(text);
    host::Utf8 wanted(query);
    std::vector<double> scores;
    {
        std::vector<std::string_view> documents;
        for (const host::Utf8& text : texts) documents.push_back(text.view());
        py::gil_scoped_release unlocked;
        scores = core::bm25_scores(wanted.view(), documents);
    }
    return ranking_entries(library, scores, top_k);
}

/// `_queries_ahead(texts, model_name)`: these queries come next, in this
/// order, ranked with the embedding model `model_name` (None: the default);
/// their vectors are encoded ahead until the returned handle's close().
py::object tarvok::example_ranker::bind::queries_ahead(py::object texts, py::object model_name) {
    py::list list(texts);
    if (model_name.is_none()) model_name = py::str(kDefaultModel);
    std::vector<std::int64_t> keys;
    keys.reserve(py::len(list));
    for (py::handle text : list) keys.push_back(py::hash(text));
    auto ahead = std::make_shared<Ahead>(list, model_name, keys);
    {
        std::lock_guard lock(ahead_lock);
        ahead_now = ahead;
    }
    return py::cast(std::make_unique<AheadHandle>(ahead));
}

bool tarvok::example_ranker::bind::is_unavailable(const py::error_already_set& error) {
    return error.matches(unavailable_class.get());
}

std::optional<std::string> tarvok::example_ranker::bind::load_failure(py::object model_name) {
    py::object logger = attr("logger");
    py::cpp_function quiet([](py::object) { return false; });
    logger.attr("addFilter")(quiet);
    py::object model;
    try {
        model = attr("_load_model")(model_name);
    } catch (...) {
        logger.attr("removeFilter")(quiet);
        throw;
    }
    logger.attr("removeFilter")(quiet);
    if (!model.is_none()) return std::nullopt;
    return host::str_of(attr("_load_errors").attr("get")(model_name, py::str("unknown reason")));
}

namespace {

py::int_ run_main(py::object argv) {
    py::object builtins_print = py::module_::import("builtins").attr("print");
    if (argv.is_none()) argv = py::module_::import("sys").attr("argv")[py::slice(1, std::nullopt, std::nullopt)];
    for (py::handle arg : argv) {
        if (PyUnicode_Check(arg.ptr()) && (host::equals(arg, py::str("-h")) || host::equals(arg, py::str("--help")))) {
            builtins_print(kHelp);
            return py::int_(0);
        }
    }
    // The arguments joined by one space (texts only, as the host's join takes
    // them) and trimmed of the host's white space.
    std::string joined;
    std::size_t position = 0;
    for (py::handle arg : argv) {
        if (!PyUnicode_Check(arg.ptr()))
            throw py::type_error("sequence item " + std::to_string(position) + ": expected str instance, " +
                                 host::type_name(arg) + " found");
        if (position++ > 0) joined += ' ';
        joined += host::Utf8(arg).view();
    }
    py::str query = host::text(tarvok::utf8::strip_host_space(joined));
    if (py::len(query) == 0) {
        builtins_print(kUsage);
        return py::int_(1);
    }
    py::object results;
    // A failed load is told below in one line that says what to do, so the
    // logged warning is held back for the length of this call.
    py::object logger = attr("logger");
    py::cpp_function quiet([](py::object) { return false; });
    logger.attr("addFilter")(quiet);
    try {
        results = attr("rank_problem_descriptions")(py::arg("query") = query, py::arg("top_k") = 10);
        logger.attr("removeFilter")(quiet);
    } catch (py::error_already_set& e) {
        logger.attr("removeFilter")(quiet);
        // A model that did not load is told in one line; other errors propagate.
        py::str name(kDefaultModel);
        if (!host::is_ordinary(e) || !attr("_load_errors").contains(name)) throw;
        builtins_print(host::text(core::rank_command_failure(host::str_of(attr("_load_errors")[name]))),
                       py::arg("file") = py::module_::import("sys").attr("stderr"));
        return py::int_(1);
    }
    if (!host::truthy(results)) builtins_print("No descriptions found.");
    std::size_t number = 0;
    for (py::handle entry : results)
        builtins_print(
            host::text(core::ranking_line(++number, host::str_of(entry["path"]), py::float_(entry["score"]))));
    return py::int_(0);
}

/// The two rankings: by meaning with an embedding model, and by shared words.
void add_rankings(py::module_& m) {
    host::def(m, "rank_problem_descriptions",
              "query, models_dir=None, top_k=10, model_name='sentence-transformers/all-MiniLM-L6-v2'", docs::kRank,
              &rank, py::arg("query"), py::arg("models_dir") = py::none(), py::arg("top_k") = 10,
              py::arg("model_name") = kDefaultModel);
    host::def(m, "rank_lexically", "query, models_dir=None, top_k=10", docs::kRankLexically, &rank_lexically,
              py::arg("query"), py::arg("models_dir") = py::none(), py::arg("top_k") = 10);
}

}  // namespace

void tarvok_start_example_ranker(pybind11::module_& m) {
    host::ModuleStart start(m, tarvok::host::modules::example_ranker, docs::kModule);

    host::lazy_logger(m);
    // Outcome of the first load of each embedding model (the model, or None
    // after a failure), kept for the life of the process.
    m.attr("_model_cache") = py::dict();
    // Why each failed load failed (the text of its error), by model name.
    m.attr("_load_errors") = py::dict();
    m.attr("DEFAULT_MODEL_NAME") = kDefaultModel;
    // What ranking raises when the embedding model cannot be loaded: an
    // AttributeError, as encoding with no model would be, that names the
    // model (`model_name`) and why it did not load (`reason`).
    m.attr("EmbeddingModelUnavailable") =
        unavailable_class.keep(py::reinterpret_steal<py::object>(PyErr_NewExceptionWithDoc(
            "tarvok.example_ranker.EmbeddingModelUnavailable", docs::kUnavailable, PyExc_AttributeError, nullptr)));
    // Library embeddings per model and texts (see library_embeddings).
    m.attr("_embedding_cache") = py::dict();
    // Libraries as last read, by folder (see read_library).
    m.attr("_library_cache") = py::dict();

    add_rankings(m);
    py::class_<AheadHandle>(m, "_QueriesAhead").def("close", &AheadHandle::close);
    host::def(m, "_queries_ahead", "texts, model_name=None", docs::kQueriesAhead,
              &tarvok::example_ranker::bind::queries_ahead, py::arg("texts"), py::arg("model_name") = py::none());
    host::def(m, "_load_model", "model_name", docs::kLoadModel, &load_model, py::arg("model_name"));
    own_loader.keep(m.attr("_load_model"));
    host::def(m, "_iter_description_files", "models_dir", docs::kIterDescriptionFiles, &iter_description_files,
              py::arg("models_dir"));
    host::def(m, "_read_text", "path, max_chars=100000", docs::kReadText, &read_text, py::arg("path"),
              py::arg("max_chars") = core::kReadLimit);
    host::def(m, "main", "argv=None", docs::kMain, &run_main, py::arg("argv") = py::none());
    own_listing.keep(m.attr("_iter_description_files"));
    own_reader.keep(m.attr("_read_text"));
}
