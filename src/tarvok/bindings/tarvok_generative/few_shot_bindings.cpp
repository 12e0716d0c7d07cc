// Few-shot examples: the best-ranked stored problems with their model and data.
#include "bindings/example_ranker/entries.hpp"
#include "bindings/tarvok_generative/bindings.hpp"
#include "generative/few_shot.hpp"

#include <optional>

namespace tarvok::generative::bind {

namespace {

py::object pathlib_path(py::handle value) { return py::module_::import("pathlib").attr("Path")(value); }

/// The model and data files beside a stored description, as paths or None
/// (see file_beside); the host's OSError when a folder cannot be searched or listed.
py::tuple find_pair_in_folder(py::object desc_path) {
    py::object desc = pathlib_path(desc_path), folder = desc.attr("parent"), stem = desc.attr("stem");
    std::filesystem::path fs_folder = host::file_system_path(folder);
    py::list found;
    for (const char* suffix : {".mod", ".dat"}) {
        std::filesystem::path same_stem = host::file_system_path(folder.attr("joinpath")(stem + py::str(suffix)));
        std::optional<std::filesystem::path> file;
        try {
            py::gil_scoped_release unlocked;
            file = file_beside(fs_folder, same_stem, suffix);
        } catch (const std::filesystem::filesystem_error& e) {
            py::tuple args = py::make_tuple(e.code().value(), e.code().message(), host::host_path(e.path1()));
            PyErr_SetObject(PyExc_OSError, args.ptr());
            throw py::error_already_set();
        }
        found.append(file ? pathlib_path(host::host_path(*file)) : py::none());
    }
    return py::tuple(found);
}

/// The text form of an error for a log line; an error whose text cannot be
/// formed must not escape the gathering either.
std::string error_text(py::error_already_set& e) {
    try {
        return py::str(e.value()).cast<std::string>();
    } catch (py::error_already_set& inner) {
        if (!host::is_ordinary(inner)) throw;
        return host::type_name(e.value());
    }
}

/// Why ranking by meaning cannot be done, when `error` says the embedding
/// model cannot be loaded (or its libraries imported); none for other errors.
std::optional<std::string> embedding_unavailable(py::error_already_set& error) {
    if (host::behind_an_interrupt(error.value().ptr())) return std::nullopt;  // Ctrl-C, not a missing library
    if (error.matches(PyExc_ImportError)) return error_text(error);
    if (!example_ranker::bind::is_unavailable(error)) return std::nullopt;
    py::object value = error.value();
    if (py::hasattr(value, "model_name") && py::hasattr(value, "reason"))
        return "'" + host::str_of(value.attr("model_name")) + "': " + host::str_of(value.attr("reason"));
    return error_text(error);
}

/// Why a step of the gathering failed, from inside a handler of what it
/// raised: an ordinary error of the host (not an interrupt or exit), or of
/// C++, costs that step, never the run; anything else goes on up.
std::string step_failure() {
    try {
        throw;
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e)) throw;
        return error_text(e);
    } catch (const std::exception& e) {
        return e.what();
    }
}

/// Ranks the library by meaning (`rag_rank`, looked up now); ranking by
/// shared words when that cannot be done, which `send` reports first.
template <typename Send>
py::object ranked(py::object problem, py::object k, py::object dir, Send& send) {
    std::optional<std::string> unavailable;
    try {
        py::object rank = attr("rag_rank");
        py::dict options(py::arg("query") = problem, py::arg("models_dir") = dir, py::arg("top_k") = k);
        // An embedding model the call chose; else the ranker's own default.
        if (py::object embedding_model = call_option("embedding_model")) options["model_name"] = embedding_model;
        return rank(**options);
    } catch (py::error_already_set& e) {
        unavailable = embedding_unavailable(e);
        if (!unavailable) throw;
    }
    for (const GatheringLine& line : lexical_fallback_lines(*unavailable, server_text(host::text(*unavailable))))
        send(line);
    return example_ranker::bind::rank_lexically(problem, dir, k);
}

/// Adds hit `hit` to `examples` when its description, model and data are all
/// found and not empty (`_safe_read_text` and `_find_pair_in_folder`, looked
/// up now); returns whether the examples now reach k.
bool take(py::handle hit, py::list& examples, py::handle k) {
    py::object desc_path = pathlib_path(hit["path"]);
    py::object read = attr("_safe_read_text");
    py::object description = read(desc_path);
    py::tuple pair = attr("_find_pair_in_folder")(desc_path);
    if (pair.size() != 2) throw py::value_error("expected a pair of paths");
    py::object model_path = pair[0], data_path = pair[1];
    if (!host::truthy(description) || model_path.is_none() || data_path.is_none()) return false;
    py::object model = read(model_path);
    py::object data = read(data_path);
    if (!host::truthy(model) || !host::truthy(data)) return false;
    py::dict entry;
    entry["description"] = description;
    entry["model"] = model;
    entry["data"] = data;
    entry["desc_path"] = py::str(desc_path);
    entry["model_path"] = py::str(model_path);
    entry["data_path"] = py::str(data_path);
    examples.append(entry);
    PyObject* reached = PyObject_RichCompare(py::int_(py::len(examples)).ptr(), k.ptr(), Py_GE);
    if (reached == nullptr) throw py::error_already_set();
    return host::truthy(py::reinterpret_steal<py::object>(reached));
}

/// Up to k examples, best hit first (see few_shot.hpp for the lines it sends).
py::list gather_few_shots(py::object problem_description, py::object k, py::object models_dir, py::object progress) {
    auto send = [&](const GatheringLine& line) { line.progress ? notify(progress, line.text) : log_debug(line.text); };
    py::list examples, items;  // the hits, as the names were read from them
    std::size_t hits = 0;
    try {
        notify(progress, retrieving_line(py::str(k).cast<std::string>()));
        py::object ranking = ranked(problem_description, k, models_dir, send);
        py::list names;
        for (py::handle hit : ranking) {
            items.append(hit);
            names.append(pathlib_path(hit["path"]).attr("name"));
        }
        hits = py::len(ranking);
        notify(progress, found_line(hits, py::repr(names).cast<std::string>()));
    } catch (...) {
        std::string reason = step_failure();
        for (const GatheringLine& line : retrieval_failed_lines(reason)) send(line);
        return examples;
    }
    // A ranking whose len() says more hits than it gave has no more to take.
    for (std::size_t i = 0; i < hits && i < items.size(); ++i) {
        try {
            if (take(items[i], examples, k)) break;
        } catch (...) {
            std::string reason = step_failure();
            log_debug(skipped_hit_line(reason));
        }
    }
    return examples;
}

}  // namespace

void register_few_shot(py::module_& m) {
    py::object top_k = m.attr("FEW_SHOT_TOP_K");
    py::object none = py::none();

    def_documented(m, "_find_pair_in_folder", &find_pair_in_folder, py::arg("desc_path"));
    def_documented(m, "_gather_few_shots", &gather_few_shots, py::arg("problem_description"), py::arg("k") = top_k,
                   py::arg("models_dir") = none, py::arg("progress") = none);
}

}  // namespace tarvok::generative::bind
