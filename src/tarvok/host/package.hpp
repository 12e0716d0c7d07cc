// Where the installed package keeps its files, and what the servers ask of
// the package alike.
#pragma once

#include "host/host.hpp"

#include <filesystem>

namespace tarvok::host {

/// The folder of the installed package: its page, language reference and example library.
inline std::filesystem::path package_folder() {
    return file_system_path(
        py::module_::import("os").attr("path").attr("dirname")(py::module_::import("tarvok").attr("__file__")));
}

/// The embedding model that ranks worked examples: TARVOK_EMBEDDING_MODEL, else the ranker's default.
inline py::object embedding_model_name() {
    py::object chosen = py::module_::import("os").attr("environ").attr("get")("TARVOK_EMBEDDING_MODEL", py::str(""));
    if (truthy(chosen.attr("strip")())) return chosen;
    return py::module_::import("tarvok.example_ranker").attr("DEFAULT_MODEL_NAME");
}

/// The options of the generation loop that a server's request asks for
/// (its provider, model, iterations and execution check, each when given),
/// with the embedding model that ranks the examples.
template <typename Request>
py::dict generation_options(const Request& r) {
    py::dict options;
    if (r.provider) options["llm_provider"] = text(*r.provider);
    if (r.model) options["model_name"] = text(*r.model);
    if (r.iterations) options["iterations"] = *r.iterations;
    if (r.execution_check) options["execution_check"] = *r.execution_check;
    options["embedding_model"] = embedding_model_name();
    return options;
}

}  // namespace tarvok::host
