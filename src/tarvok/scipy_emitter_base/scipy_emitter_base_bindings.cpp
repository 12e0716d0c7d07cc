// tarvok.scipy_emitter_base: the base class of generators that turn a
// compiled Tarvok model into a SciPy script.
#include "common/host.hpp"

namespace py = pybind11;

PYBIND11_MODULE(scipy_emitter_base, m, py::mod_gil_not_used()) {
    py::options options;
    options.disable_function_signatures();
    m.doc() = "Base class for generators that translate a compiled Tarvok model into a SciPy script.";
    m.attr("SemanticError") = tarvok::host::import_sibling(m, "semantic_error").attr("SemanticError");
}
