// tarvok.semantic_error: the one error class of the compiler, shared by the
// compiler module and the code-generator base.
#include "host/host.hpp"

PYBIND11_MODULE(semantic_error, m, pybind11::mod_gil_not_used()) {
    namespace py = pybind11;
    m.doc() = "The error raised for Tarvok models and data that do not compile.";
    std::string qualified = py::str(m.attr("__name__")).cast<std::string>() + ".SemanticError";
    PyObject* cls = PyErr_NewExceptionWithDoc(
        qualified.c_str(),
        "A Tarvok model or data text that does not compile, or a construct a code generator cannot translate.\n\n"
        "Built from one message text; str() of the error is that text.",
        PyExc_Exception, nullptr);
    if (cls == nullptr) throw py::error_already_set();
    m.attr("SemanticError") = py::reinterpret_steal<py::object>(cls);
}
