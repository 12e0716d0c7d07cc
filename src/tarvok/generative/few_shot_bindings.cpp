// Few-shot examples: the best-ranked stored problems with their model and data.
#include "generative/bindings.hpp"

namespace tarvok::generative::bind {

void register_few_shot(py::module_& m) {
    using host::def;
    py::object top_k = m.attr("FEW_SHOT_TOP_K");
    py::object none = py::none();

    def(m, "_find_pair_in_folder", "desc_path",
        "Find the model and data files that belong to a problem description file.",
        [](py::object desc_path) -> py::object { host::not_built("_find_pair_in_folder", "few-shot gathering"); },
        py::arg("desc_path"));
    def(m, "_gather_few_shots", "problem_description, k=3, models_dir=None, progress=None",
        "Gather up to k worked examples similar to the problem description; never fails.",
        [](py::object, py::object, py::object, py::object) -> py::object {
            host::not_built("_gather_few_shots", "few-shot gathering");
        },
        py::arg("problem_description"), py::arg("k") = top_k, py::arg("models_dir") = none,
        py::arg("progress") = none);
}

}  // namespace tarvok::generative::bind
