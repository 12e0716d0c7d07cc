// tarvok.example_ranker: ranks stored problem descriptions by embedding
// similarity to a new description.
#include "common/host.hpp"

namespace py = pybind11;
using tarvok::host::Kind;

PYBIND11_MODULE(example_ranker, m, py::mod_gil_not_used()) {
    py::options options;
    options.disable_function_signatures();
    m.doc() = "Rank the example library's problem descriptions by similarity to a new description.";
    m.attr("logger") = py::module_::import("logging").attr("getLogger")(m.attr("__name__"));

    tarvok::host::def(
        m, "rank_problem_descriptions",
        "query, models_dir=None, top_k=10, model_name='sentence-transformers/all-MiniLM-L6-v2'",
        "Rank problem description .txt files under 'tvl_models' by semantic similarity to the query.\n\n"
        "Returns:\n    A list of dicts with: path, score, preview.",
        [](py::object query, py::object models_dir, py::object top_k, py::object model_name) -> py::object {
            tarvok::host::require(query, "rank_problem_descriptions", "query", Kind::Str);
            tarvok::host::not_built("rank_problem_descriptions", "example ranking");
        },
        py::arg("query"), py::arg("models_dir") = py::none(), py::arg("top_k") = 10,
        py::arg("model_name") = "sentence-transformers/all-MiniLM-L6-v2");
}
