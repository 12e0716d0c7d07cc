// What the command, the page and the MCP server call of the ranker, in C++.
// Its steps look up this module's replaceable names (_load_model and the
// rest) through its slot, which imports the module when it is not yet.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>
#include <string>

namespace tarvok::example_ranker::bind {

namespace py = pybind11;

/// rank_problem_descriptions: the entries closest by meaning; raises
/// EmbeddingModelUnavailable when the model does not load.
py::list rank(py::object query, py::object models_dir, py::object top_k, py::object model_name);

/// rank_lexically: the entries closest by word overlap (BM25).
py::list rank_lexically(py::object query, py::object models_dir, py::object top_k);

/// _queries_ahead: these queries come next, in this order; their vectors are
/// encoded ahead until the returned handle's close().
py::object queries_ahead(py::object texts, py::object model_name);

/// Whether `error` is the ranker's EmbeddingModelUnavailable.
bool is_unavailable(const py::error_already_set& error);

/// Loads the embedding model `model_name` with the module's _load_model as it
/// stands, its warning held back (the command says it in a line of its own):
/// why the load failed, or nothing when the model loaded.
std::optional<std::string> load_failure(py::object model_name);

}  // namespace tarvok::example_ranker::bind
