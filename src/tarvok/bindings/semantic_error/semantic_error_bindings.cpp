// tarvok.semantic_error: the one error class of the compiler, shared by the
// compiler module and the code-generator base.
#include "bindings/host/host.hpp"
#include "bindings/host/module_start.hpp"

namespace py = pybind11;

namespace {

tarvok::host::Kept made_class(tarvok::host::modules::semantic_error);

}  // namespace

py::object tarvok::host::semantic_error_class() { return made_class.get(); }

void tarvok_start_semantic_error(pybind11::module_& m) {
    tarvok::host::ModuleStart start(m, tarvok::host::modules::semantic_error,
                                    "The error raised for Tarvok models and data that do not compile.");
    std::string qualified = py::str(m.attr("__name__")).cast<std::string>() + ".SemanticError";
    PyObject* raw = PyErr_NewExceptionWithDoc(
        qualified.c_str(),
        "A Tarvok model or data text that does not compile, or a construct a code generator cannot translate.\n\n"
        "Built from one message text; str() of the error is that text. The compiler also gives it the\n"
        "structured records of its diagnostics: a list of dicts with severity, code, file, line, column,\n"
        "end_line, end_column, message, notes and fix (empty for an error built from a text alone).",
        PyExc_Exception, nullptr);
    if (raw == nullptr) throw py::error_already_set();
    auto cls = py::reinterpret_steal<py::object>(raw);
    // `diagnostics` lives in the error's own __dict__ (so it pickles with the
    // error); an error built from a text alone gets an empty list of its own.
    py::cpp_function get(
        [](py::object self) -> py::object {
            py::dict own = self.attr("__dict__");
            if (!own.contains("diagnostics")) own["diagnostics"] = py::list();
            return own["diagnostics"];
        },
        py::arg("self"));
    py::cpp_function set([](py::object self, py::object value) { self.attr("__dict__")["diagnostics"] = value; },
                         py::arg("self"), py::arg("value"));
    cls.attr("diagnostics") =
        py::module_::import("builtins")
            .attr("property")(get, set, py::none(),
                              "The compiler's diagnostic records (dicts); empty for an error built from a text.");
    m.attr("SemanticError") = made_class.keep(cls);
}
