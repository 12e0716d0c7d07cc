// The replay back-end: each request is answered with the reply recorded for
// the same prompt in a transcript (REPLAY_PATH, or the call's replay path: a
// transcript file, or a folder searched for *.jsonl). Nothing is sent.
#include "generative/providers/back_end.hpp"
#include "generative/providers/back_end_texts.hpp"
#include "generative/replay.hpp"

#include <memory>
#include <mutex>

namespace tarvok::generative::bind {

namespace {

/// The book of the last path read, kept while its files stay as they were.
struct Loaded {
    std::mutex mutex;
    std::string signature;  ///< the files with their sizes and times of change
    std::shared_ptr<const replay::Book> book;
};

Loaded& loaded() {
    static Loaded* kept = new Loaded;  // never destroyed: the interpreter is gone by then
    return *kept;
}

/// The replay path of the call in progress, else REPLAY_PATH.
py::object replay_path() {
    py::object path = call_option("replay_path");
    if (!path) path = attr("REPLAY_PATH");
    if (path.is_none()) host::raise(PyExc_RuntimeError, std::string(pv::kNoReplayPath));
    return py::module_::import("os").attr("fspath")(path);
}

/// The transcripts at `path`, in name order (a later file's records win).
py::list transcript_files(py::handle path) {
    py::module_ os = py::module_::import("os");
    if (host::truthy(os.attr("path").attr("isfile")(path))) {
        py::list one;
        one.append(path);
        return one;
    }
    if (!host::truthy(os.attr("path").attr("isdir")(path)))
        host::raise(PyExc_RuntimeError, pv::replay_path_missing(host::str_of(path)));
    py::object pattern = os.attr("path").attr("join")(path, "**", "*.jsonl");
    py::list files = py::module_::import("glob").attr("glob")(pattern, py::arg("recursive") = true);
    files.attr("sort")();
    return files;
}

std::optional<long long> count_of(py::handle record, const char* key) {
    py::object value = record.attr("get")(key);
    if (!host::is_exact(value, Kind::Int)) return std::nullopt;
    return host::saturated(value);
}

/// The records of every transcript at `path`. A line that is no record (one
/// cut off when a run was stopped) is passed over.
std::shared_ptr<const replay::Book> read_book(const py::list& files) {
    auto book = std::make_shared<replay::Book>();
    py::object loads = py::module_::import("json").attr("loads");
    for (py::handle file : files) {
        py::object text = host::read_file(file, "r", "utf-8");
        for (py::handle line : text.attr("splitlines")()) {
            py::object record;
            try {
                record = loads(line);
            } catch (py::error_already_set& e) {
                rethrow_unless_ordinary(e);
                continue;
            }
            if (!PyDict_Check(record.ptr())) continue;
            py::object prompt = record.attr("get")("prompt"), reply = record.attr("get")("reply");
            if (!PyUnicode_Check(prompt.ptr()) || !PyUnicode_Check(reply.ptr())) continue;
            py::object model = record.attr("get")("model");
            replay::Recorded recorded{std::string(host::Utf8(reply).view()),
                                      {count_of(record, "tokens_in"), count_of(record, "tokens_out")},
                                      PyUnicode_Check(model.ptr()) ? std::string(host::Utf8(model).view()) : ""};
            book->add(std::string(host::Utf8(prompt).view()), std::move(recorded));
        }
    }
    return book;
}

/// The book at `path`, read again only when its files changed.
std::shared_ptr<const replay::Book> book_at(py::handle path) {
    py::list files = transcript_files(path);
    py::module_ os = py::module_::import("os");
    std::string signature = host::str_of(path);
    for (py::handle file : files) {
        py::object stat = os.attr("stat")(file);
        signature += "\n" + host::str_of(file) + "\t" + host::str_of(stat.attr("st_size")) + "\t" +
                     host::str_of(stat.attr("st_mtime_ns"));
    }
    Loaded& kept = loaded();
    {
        std::lock_guard<std::mutex> lock(kept.mutex);
        if (kept.book && kept.signature == signature) return kept.book;
    }
    std::shared_ptr<const replay::Book> book = read_book(files);
    std::lock_guard<std::mutex> lock(kept.mutex);
    kept.signature = signature;
    kept.book = book;
    return book;
}

std::string sha256_of(py::handle text) {
    py::bytes bytes = text.attr("encode")("utf-8", "surrogatepass");
    return host::str_of(py::module_::import("hashlib").attr("sha256")(bytes).attr("hexdigest")());
}

py::object generate(const pv::Provider& replayed, const Request& r) {
    py::object path = replay_path();
    std::shared_ptr<const replay::Book> book = book_at(path);
    host::Utf8 prompt(r.input_text);
    const replay::Recorded* found = book->find(std::string(prompt.view()));
    if (found == nullptr) {
        host::raise(PyExc_RuntimeError,
                    replay::missing_reply(request_step(), prompt.view(), sha256_of(r.input_text), host::str_of(path)));
    }
    notify(r.progress, pv::recorded_reply(replayed.label));
    report_usage(ReportedUsage{found->usage.tokens_in, found->usage.tokens_out});
    return host::text(found->reply);
}

py::object replay_client() {
    py::object path = replay_path();
    return py::int_(book_at(path)->size());
}

py::object list_replay_models(py::object prefix) {
    host::require(prefix, "list_replay_models", "prefix", Kind::Str, true);
    py::list names;
    for (const std::string& model : book_at(replay_path())->models()) names.append(host::text(model));
    return sorted_distinct(with_prefix(names, prefix));
}

void define_functions(py::module_& m, const pv::Provider&) {
    using host::def;
    def(m, "_replay_client", "",
        "Read the transcripts at REPLAY_PATH (a .jsonl file, or a folder searched for *.jsonl) and\n"
        "return how many prompts they answer; RuntimeError when the path is unset or not found.",
        &replay_client);
    def(m, "list_replay_models", "prefix=None", "Return the model names recorded in the transcripts at REPLAY_PATH.",
        &list_replay_models, py::arg("prefix") = py::none());
}

[[maybe_unused]] const bool registered = register_back_end("replay", {&generate, &define_functions});

}  // namespace

}  // namespace tarvok::generative::bind
