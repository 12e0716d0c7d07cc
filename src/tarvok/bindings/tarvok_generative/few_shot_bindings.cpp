// Few-shot examples: the best-ranked stored problems with their model and data.
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
    py::object unavailable = host::modules::example_ranker.attr("EmbeddingModelUnavailable");
    if (!error.matches(unavailable)) return std::nullopt;
    py::object value = error.value();
    if (py::hasattr(value, "model_name") && py::hasattr(value, "reason"))
        return "'" + host::str_of(value.attr("model_name")) + "': " + host::str_of(value.attr("reason"));
    return error_text(error);
}

/// Runs one step of the gathering for the core: an ordinary error of the
/// host (not an interrupt or exit), or of C++, becomes GatheringStepFailed.
template <typename Step>
auto step(Step&& body) {
    try {
        return body();
    } catch (const MeaningUnavailable&) {
        throw;
    } catch (const GatheringStepFailed&) {
        throw;
    } catch (py::error_already_set& e) {
        if (!host::is_ordinary(e)) throw;
        throw GatheringStepFailed(error_text(e), std::current_exception());
    } catch (const std::exception& e) {
        throw GatheringStepFailed(e.what(), std::current_exception());
    }
}

/// The library on the host: `rag_rank` (or the lexical ranker), then
/// `_safe_read_text` and `_find_pair_in_folder` for each hit, all looked up
/// at call time.
class HostLibrary : public ExampleLibrary {
  public:
    HostLibrary(py::object problem, py::object k, py::object models_dir, py::object progress)
        : problem_(std::move(problem)), k_(std::move(k)), dir_(std::move(models_dir)), progress_(std::move(progress)) {}

    py::list examples;

    std::string k_shown() override {
        return step([&] { return py::str(k_).cast<std::string>(); });
    }
    void rank_by_meaning() override {
        step([&] {
            try {
                py::object rank = attr("rag_rank");
                py::dict options(py::arg("query") = problem_, py::arg("models_dir") = dir_, py::arg("top_k") = k_);
                // An embedding model the call chose; else the ranker's own default.
                if (py::object embedding_model = call_option("embedding_model"))
                    options["model_name"] = embedding_model;
                hits_ = rank(**options);
            } catch (py::error_already_set& e) {
                if (std::optional<std::string> why = embedding_unavailable(e)) throw MeaningUnavailable(*why);
                throw;
            }
        });
    }
    void rank_lexically() override {
        step([&] {
            hits_ = host::modules::example_ranker.attr("rank_lexically")(
                py::arg("query") = problem_, py::arg("models_dir") = dir_, py::arg("top_k") = k_);
        });
    }
    std::string hit_names() override {
        return step([&] {
            py::list names;
            for (py::handle hit : hits_) {
                items_.append(hit);
                names.append(pathlib_path(hit["path"]).attr("name"));
            }
            return py::repr(names).cast<std::string>();
        });
    }
    std::size_t hit_count() override {
        return step([&] { return py::len(hits_); });
    }
    bool take(std::size_t index) override {
        return step([&] {
            py::object desc_path = pathlib_path(items_[index]["path"]);
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
            PyObject* reached = PyObject_RichCompare(py::int_(py::len(examples)).ptr(), k_.ptr(), Py_GE);
            if (reached == nullptr) throw py::error_already_set();
            return host::truthy(py::reinterpret_steal<py::object>(reached));
        });
    }
    void notify(const std::string& line) override {
        step([&] { bind::notify(progress_, line); });
    }
    void log(const std::string& line) override {
        step([&] { log_debug(line); });
    }
    std::string shown(const std::string& text) override {
        return step([&] { return server_text(host::text(text)); });
    }

  private:
    py::object problem_, k_, dir_, progress_;
    py::object hits_ = py::none();
    py::list items_;  ///< the hits, as the names were read from them
};

py::list gather_few_shots(py::object problem_description, py::object k, py::object models_dir, py::object progress) {
    HostLibrary library(problem_description, k, models_dir, progress);
    try {
        gather_examples(library);
    } catch (const GatheringStepFailed& failed) {
        std::rethrow_exception(failed.error());  // a step outside the core's guard: the host's error, as raised
    }
    return library.examples;
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
