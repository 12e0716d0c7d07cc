// Few-shot examples: the best-ranked stored problems with their model and data.
#include "generative/bindings.hpp"
#include "generative/few_shot.hpp"

#include <optional>

namespace tarvok::generative::bind {

namespace {

py::object pathlib_path(py::handle value) { return py::module_::import("pathlib").attr("Path")(value); }

/// The first entry of `folder` named "*" + `suffix`, as a path object, or None.
/// A folder that cannot be listed raises the host's OSError for it.
py::object first_match(const py::object& folder, const char* suffix) {
    std::filesystem::path fs_folder = host::file_system_path(folder);
    std::optional<std::string> name;
    try {
        py::gil_scoped_release unlocked;
        name = first_entry_with_suffix(fs_folder, suffix);
    } catch (const std::filesystem::filesystem_error& e) {
        py::tuple args = py::make_tuple(e.code().value(), e.code().message(), py::str(folder));
        PyErr_SetObject(PyExc_OSError, args.ptr());
        throw py::error_already_set();
    }
    if (!name) return py::none();
    PyObject* decoded = PyUnicode_DecodeFSDefaultAndSize(name->data(), static_cast<Py_ssize_t>(name->size()));
    if (decoded == nullptr) throw py::error_already_set();
    return folder.attr("joinpath")(py::reinterpret_steal<py::str>(decoded));
}

/// Same-stem file if it is a regular file, else the folder's first match.
py::object candidate(const py::object& folder, const py::object& stem, const char* suffix) {
    py::object same_stem = folder.attr("joinpath")(stem + py::str(suffix));
    if (same_stem.attr("is_file")().cast<bool>()) return same_stem;
    return first_match(folder, suffix);
}

py::object existing_or_none(const py::object& path) {
    if (path.is_none() || !path.attr("exists")().cast<bool>()) return py::none();
    return path;
}

py::tuple find_pair_in_folder(py::object desc_path) {
    py::object desc = pathlib_path(desc_path);
    py::object folder = desc.attr("parent");
    py::object stem = desc.attr("stem");
    py::object model = candidate(folder, stem, ".mod");
    py::object data = candidate(folder, stem, ".dat");
    return py::make_tuple(existing_or_none(model), existing_or_none(data));
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

/// Runs `step`; an ordinary error (not an interrupt or exit) is handed to
/// `absorb` with its text instead of propagating. Returns whether it ran clean.
template <typename Step, typename Absorb>
bool guarded(Step&& step, Absorb&& absorb) {
    try {
        step();
        return true;
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e)) throw;
        absorb(error_text(e));
    } catch (const std::exception& e) {
        absorb(std::string(e.what()));
    }
    return false;
}

/// Why ranking by meaning cannot be done, when `error` says the embedding
/// model cannot be loaded (or its libraries imported); none for other errors.
std::optional<std::string> embedding_unavailable(py::error_already_set& error) {
    if (error.matches(PyExc_ImportError)) return error_text(error);
    py::object unavailable =
        host::import_sibling(host::this_module(), "example_ranker").attr("EmbeddingModelUnavailable");
    if (!error.matches(unavailable)) return std::nullopt;
    py::object value = error.value();
    if (py::hasattr(value, "model_name") && py::hasattr(value, "reason"))
        return "'" + host::str_of(value.attr("model_name")) + "': " + host::str_of(value.attr("reason"));
    return error_text(error);
}

/// The ranking hits: by meaning (`rag_rank`), or, when no embedding model can
/// be loaded, by the words the descriptions share with the problem (BM25),
/// which the progress says.
py::object rank_examples(py::object problem_description, py::object k, py::object models_dir, py::object progress) {
    std::optional<std::string> unavailable;
    try {
        py::object rank = attr("rag_rank");
        // An embedding model the call chose; else the ranker's own default.
        if (py::object embedding_model = call_option("embedding_model")) {
            return rank(py::arg("query") = problem_description, py::arg("models_dir") = models_dir,
                        py::arg("top_k") = k, py::arg("model_name") = embedding_model);
        }
        return rank(py::arg("query") = problem_description, py::arg("models_dir") = models_dir, py::arg("top_k") = k);
    } catch (py::error_already_set& e) {
        unavailable = embedding_unavailable(e);
        if (!unavailable) throw;
    }
    log_debug("Few-shot ranking by meaning unavailable: " + *unavailable);
    notify(progress, "Embedding model unavailable (" + server_text(host::text(*unavailable)) +
                         "); ranking few-shot examples by word overlap (BM25)");
    return host::import_sibling(host::this_module(), "example_ranker")
        .attr("rank_lexically")(py::arg("query") = problem_description, py::arg("models_dir") = models_dir,
                                py::arg("top_k") = k);
}

py::list gather_few_shots(py::object problem_description, py::object k, py::object models_dir, py::object progress) {
    py::list examples;
    py::object hits;
    bool retrieved = guarded(
        [&] {
            notify(progress, "Retrieving few-shot examples (k=" + py::str(k).cast<std::string>() + ")");
            hits = rank_examples(problem_description, k, models_dir, progress);
            py::list names;
            for (py::handle hit : hits) names.append(pathlib_path(hit["path"]).attr("name"));
            notify(progress, "Found " + std::to_string(py::len(hits)) +
                                 " few-shot candidates: " + py::repr(names).cast<std::string>());
        },
        [&](const std::string& reason) {
            log_debug("Few-shot retrieval skipped: " + reason);
            notify(progress, "Few-shot retrieval failed; continuing without examples");
        });
    if (!retrieved) return py::list();

    for (py::handle hit : hits) {
        bool enough = false;
        guarded(
            [&] {
                py::object desc_path = pathlib_path(hit["path"]);
                py::object read = attr("_safe_read_text");
                py::object description = read(desc_path);
                py::tuple pair = attr("_find_pair_in_folder")(desc_path);
                if (pair.size() != 2) throw py::value_error("expected a pair of paths");
                py::object model_path = pair[0], data_path = pair[1];
                if (!host::truthy(description) || model_path.is_none() || data_path.is_none()) return;
                py::object model = read(model_path);
                py::object data = read(data_path);
                if (!host::truthy(model) || !host::truthy(data)) return;
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
                enough = host::truthy(py::reinterpret_steal<py::object>(reached));
            },
            [&](const std::string& reason) { log_debug("Skipping example due to error: " + reason); });
        if (enough) break;
    }
    return examples;
}

}  // namespace

void register_few_shot(py::module_& m) {
    using host::def;
    py::object top_k = m.attr("FEW_SHOT_TOP_K");
    py::object none = py::none();

    def(m, "_find_pair_in_folder", "desc_path",
        "Find the model and data files that belong to a problem description file.\n\n"
        "Each is the same-stem .mod or .dat file beside the description, else the first such file of\n"
        "the folder by name; None where the folder has none.",
        &find_pair_in_folder, py::arg("desc_path"));
    def(m, "_gather_few_shots", "problem_description, k=3, models_dir=None, progress=None",
        "Gather up to k worked examples similar to the problem description; never fails.\n\n"
        "Each example maps description, model, data, desc_path, model_path and data_path to texts,\n"
        "best match first. Retrieval problems leave fewer examples or none.",
        &gather_few_shots, py::arg("problem_description"), py::arg("k") = top_k, py::arg("models_dir") = none,
        py::arg("progress") = none);
}

}  // namespace tarvok::generative::bind
