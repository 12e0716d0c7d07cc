// The replay back-end: each request is answered with the reply recorded for
// the same prompt in a transcript (REPLAY_PATH, or the call's replay path: a
// transcript file, or a folder searched for *.jsonl). Nothing is sent.
#include "bindings/tarvok_generative/providers/back_end.hpp"
#include "common/sha256.hpp"
#include "generative/providers/back_end_texts.hpp"
#include "generative/providers/transcripts.hpp"
#include "generative/replay.hpp"

#include <memory>

namespace tarvok::generative::bind {

namespace {

host::Kept miss_error(host::modules::tarvok_generative);

/// The replay path of the call in progress, else REPLAY_PATH.
py::object replay_path() {
    py::object path = call_option("replay_path");
    if (!path) path = attr("REPLAY_PATH");
    if (path.is_none()) host::raise(PyExc_RuntimeError, std::string(pv::kNoReplayPath));
    return py::module_::import("os").attr("fspath")(path);
}

/// The book of the transcripts at `path` (a later file's records win), read
/// again only when its files changed.
std::shared_ptr<const replay::Book> book_at(py::handle path) {
    std::filesystem::path where = host::file_system_path(path);
    auto files = pv::transcript_files(where);
    if (!files)
        host::raise(
            PyExc_RuntimeError,
            pv::replay_path_refusal(where, host::str_of(path)).value_or(pv::replay_path_missing(host::str_of(path))));
    static pv::BookCache kept;
    return kept.get(pv::files_signature(*files), [&] {
        auto book = std::make_shared<replay::Book>();
        for (const auto& file : *files) {
            py::object text = host::read_file(host::host_path(file), "r", "utf-8");
            pv::read_transcript(host::Utf8(text).view(), *book);
        }
        return std::shared_ptr<const replay::Book>(book);
    });
}

py::object generate(const pv::Provider& replayed, const Request& r) {
    py::object path = replay_path();
    std::shared_ptr<const replay::Book> book = book_at(path);
    host::Utf8 prompt(r.input_text);
    const replay::Recorded* found = book->find(std::string(prompt.view()));
    if (found == nullptr) {
        // A miss is an error of the run, which eval counts as one (not a wrong answer).
        std::string step(request_step());
        host::raise_new(miss_error.get(), replay::missing_reply(step, prompt.view(), tarvok::sha256_hex(prompt.view()),
                                                                host::str_of(path)) +
                                              replay::nearest_difference(*book, step, prompt.view()));
    }
    notify(r.progress, pv::recorded_reply(replayed.label));
    report_usage(found->usage);
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

void define_functions(py::module_& m, const pv::Provider&) {
    def_back_end(m, "_replay_client", &replay_client);
    m.attr("_ReplayMissError") = miss_error.keep(py::reinterpret_steal<py::object>(PyErr_NewExceptionWithDoc(
        "tarvok.tarvok_generative._ReplayMissError", "No reply is recorded for a prompt the replay provider was asked.",
        PyExc_RuntimeError, nullptr)));
}

[[maybe_unused]] const bool registered = register_back_end("replay", {&generate, &recorded_models, &define_functions});

}  // namespace

}  // namespace tarvok::generative::bind
