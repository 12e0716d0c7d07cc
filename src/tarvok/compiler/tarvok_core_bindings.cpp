// tarvok.tarvok_core: the Tarvok compiler as the host sees it.
#include "common/host.hpp"

namespace py = pybind11;

namespace {

struct TVLCompiler {};

}  // namespace

PYBIND11_MODULE(tarvok_core, m, py::mod_gil_not_used()) {
    py::options options;
    options.disable_function_signatures();
    m.doc() = "The Tarvok compiler: checks a model text and a data text together.";

    m.attr("SemanticError") = tarvok::host::import_sibling(m, "semantic_error").attr("SemanticError");

    py::class_<TVLCompiler>(m, "TVLCompiler", "Compiler for Tarvok model and data texts.")
        .def(py::init<>(), tarvok::host::signed_doc("__init__", "self", "Create a compiler.").c_str())
        .def(
            "compile_model",
            [](TVLCompiler&, py::object model_text, py::object data_text) -> py::object { return py::dict(); },
            py::arg("model_text"), py::arg("data_text"),
            tarvok::host::signed_doc("compile_model", "self, model_text, data_text",
                                     "Compile a model text together with its data text.\n\n"
                                     "Checking is not built yet: every pair of texts is accepted.")
                .c_str());
}
