// The replay back-end: each request is answered with the reply recorded for
// the same prompt in a transcript (REPLAY_PATH, or the call's replay path: a
// transcript file, or a folder searched for *.jsonl). Nothing is sent.
#include "generative/providers/back_end.hpp"
#include "generative/providers/back_end_texts.hpp"
#include "generative/providers/transcripts.hpp"
#include "generative/replay.hpp"

#include <memory>

namespace tarvok::generative::bind {

namespace {

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
    static pv::BookCache kept;
    return kept.get(signature, [&] {
        auto book = std::make_shared<replay::Book>();
        for (py::handle file : files)
            pv::read_transcript(host::Utf8(host::read_file(file, "r", "utf-8")).view(), *book);
        return std::shared_ptr<const replay::Book>(book);
    });
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

py::object recorded_models(const pv::Provider&) {
    py::list names;
    for (const std::string& model : book_at(replay_path())->models()) names.append(host::text(model));
    return names;
}

void define_functions(py::module_& m, const pv::Provider&) { def_back_end(m, "_replay_client", &replay_client); }

[[maybe_unused]] const bool registered = register_back_end("replay", {&generate, &recorded_models, &define_functions});

}  // namespace

}  // namespace tarvok::generative::bind
