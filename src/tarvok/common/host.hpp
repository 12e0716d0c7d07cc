// Helpers shared by the binding layers: strict argument kinds, UTF-8 text
// exchange with the host, call-time module lookups and signature docstrings.
#pragma once

#include "common/interrupt.hpp"

#include <pybind11/pybind11.h>

#include <memory>
#include <string>
#include <string_view>

namespace tarvok::host {

namespace py = pybind11;

/// Built-in kinds that parameters are checked against; only the exact type
/// counts (a str subclass is not a str, a bool is not an int).
enum class Kind { Str, Float, Int, List, Dict, Bool };

inline PyTypeObject* type_of(Kind kind) {
    switch (kind) {
    case Kind::Str: return &PyUnicode_Type;
    case Kind::Float: return &PyFloat_Type;
    case Kind::Int: return &PyLong_Type;
    case Kind::List: return &PyList_Type;
    case Kind::Dict: return &PyDict_Type;
    case Kind::Bool: return &PyBool_Type;
    }
    return nullptr;
}

inline const char* name_of(Kind kind) { return type_of(kind)->tp_name; }

inline bool is_exact(py::handle value, Kind kind) { return Py_TYPE(value.ptr()) == type_of(kind); }

/// The host's own name for the type of `value` (`type(value).__name__`).
inline std::string type_name(py::handle value) {
    return py::str(py::type::handle_of(value).attr("__name__")).cast<std::string>();
}

/// Refuses anything but exactly `kind` (or None when `optional`) with a
/// TypeError that names the function, the parameter and both kinds.
inline void require(py::handle value, const char* function, const char* parameter, Kind kind,
                    bool optional = false) {
    if (is_exact(value, kind) || (optional && value.is_none())) return;
    std::string msg = std::string(function) + "() argument '" + parameter + "' must be " + name_of(kind);
    if (optional) msg += " or None";
    msg += ", not " + type_name(value);
    throw py::type_error(msg);
}

/// UTF-8 bytes of a host text. Lone surrogates survive the round trip
/// (surrogatepass), so no text the host can hold is refused.
class Utf8 {
  public:
    explicit Utf8(py::handle text) {
        Py_ssize_t size = 0;
        const char* data = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
        if (data == nullptr) {
            PyErr_Clear();
            owner_ = py::reinterpret_steal<py::object>(
                PyUnicode_AsEncodedString(text.ptr(), "utf-8", "surrogatepass"));
            if (!owner_) throw py::error_already_set();
            char* raw = nullptr;
            PyBytes_AsStringAndSize(owner_.ptr(), &raw, &size);
            data = raw;
        }
        view_ = std::string_view(data, static_cast<size_t>(size));
    }
    std::string_view view() const { return view_; }

  private:
    py::object owner_;
    std::string_view view_;
};

/// A host text from UTF-8 produced by the cores (or cut out of a Utf8 view).
inline py::str text(std::string_view utf8) {
    PyObject* s = PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()), "surrogatepass");
    if (s == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(s);
}

/// The host's `str(value)` as UTF-8.
inline std::string str_of(py::handle value) {
    auto s = py::reinterpret_steal<py::object>(PyObject_Str(value.ptr()));
    if (!s) throw py::error_already_set();
    return std::string(Utf8(s).view());
}

/// The host's truth test (`bool(value)`); its errors propagate.
inline bool truthy(py::handle value) {
    int result = PyObject_IsTrue(value.ptr());
    if (result < 0) throw py::error_already_set();
    return result == 1;
}

/// True for errors of the host's ordinary family (`Exception`); interrupts and
/// exits are not in it and must pass through.
inline bool is_ordinary(const py::error_already_set& error) { return error.matches(PyExc_Exception); }

/// Docstring in the host's text-signature convention, so that
/// inspect.signature() works on the builtin and __doc__ starts with `doc`.
/// Methods name `self` plainly: pybind11 functions carry a `__self__` of
/// their own, so a `$self` marker would be stripped twice.
inline std::string signed_doc(const char* name, const char* params, const char* doc) {
    return std::string(name) + "(" + params + ")\n--\n\n" + doc;
}

/// Imports a module that lives in the same package as `module`.
inline py::module_ import_sibling(py::handle module, const char* name) {
    std::string qualified = py::str(module.attr("__name__")).cast<std::string>();
    auto dot = qualified.rfind('.');
    std::string package = dot == std::string::npos ? std::string() : qualified.substr(0, dot + 1);
    return py::module_::import((package + name).c_str());
}

/// The host's `time.sleep`, looked up on every call so that it can be replaced.
inline void sleep(double seconds) { py::module_::import("time").attr("sleep")(seconds); }

}  // namespace tarvok::host

namespace tarvok::host {

/// Raises a host exception of the given class with `message`.
[[noreturn]] inline void raise(PyObject* type, const std::string& message) {
    PyErr_SetObject(type, text(message).ptr());  // the message may hold NULs (LLM replies do)
    throw py::error_already_set();
}

/// Raises `type` with `message`, chained to the error being handled
/// (`raise ... from cause`).
[[noreturn]] inline void raise_from(py::error_already_set& cause, PyObject* type, const std::string& message) {
    py::object error = py::reinterpret_borrow<py::object>(type)(text(message));
    PyException_SetCause(error.ptr(), cause.value().inc_ref().ptr());
    PyException_SetContext(error.ptr(), cause.value().inc_ref().ptr());
    PyErr_SetObject(type, error.ptr());
    throw py::error_already_set();
}

}  // namespace tarvok::host

namespace tarvok::host {

/// m.def with a docstring in the text-signature convention: `params` is the
/// parameter list as the host shows it (defaults as literals).
template <typename Func, typename... Extra>
void def(py::module_& m, const char* name, const char* params, const char* doc, Func&& f, const Extra&... extra) {
    m.def(name, std::forward<Func>(f), extra..., signed_doc(name, params, doc).c_str());
}

}  // namespace tarvok::host

namespace tarvok::host {

/// Gives the module a `logger` attribute (the logger named after the module)
/// that is created on first use, so that importing the module does not pull
/// in `logging`. Once created, or assigned by the host, it is an ordinary
/// module attribute.
inline void lazy_logger(py::module_& m) {
    PyObject* module = m.ptr();  // the module owns these functions, so it outlives them
    def(m, "__getattr__", "name", "Create the module logger on first use.", [module](py::object name) -> py::object {
        auto mod = py::reinterpret_borrow<py::module_>(module);
        if (PyUnicode_Check(name.ptr()) && PyUnicode_CompareWithASCIIString(name.ptr(), "logger") == 0) {
            py::object logger = py::module_::import("logging").attr("getLogger")(mod.attr("__name__"));
            mod.attr("logger") = logger;
            return logger;
        }
        raise(PyExc_AttributeError, "module '" + py::str(mod.attr("__name__")).cast<std::string>() +
                                        "' has no attribute '" + py::str(name).cast<std::string>() + "'");
    }, py::arg("name"));
    def(m, "__dir__", "", "List the module's attributes, the logger included.", [module]() {
        py::list names = py::reinterpret_borrow<py::module_>(module).attr("__dict__").attr("keys")();
        if (!names.contains("logger")) names.append("logger");
        names.attr("sort")();
        return names;
    });
}

}  // namespace tarvok::host

namespace tarvok::host {

/// Runs `work(Interrupt*)` with the GIL released, interruptible by Ctrl-C:
/// every few milliseconds the work briefly takes the GIL back and lets the
/// host run its signal handlers. When one raises (KeyboardInterrupt), the
/// work unwinds, freeing what it holds, and that error is raised here.
template <typename Work>
auto interruptible(Work&& work) {
    std::unique_ptr<py::error_already_set> raised;
    Interrupt interrupt([&raised] {
        py::gil_scoped_acquire gil;
        if (PyErr_CheckSignals() == 0) return false;
        raised = std::make_unique<py::error_already_set>();  // takes the pending error
        return true;
    });
    try {
        py::gil_scoped_release release;
        return work(&interrupt);
    } catch (const Interrupted&) {
        throw py::error_already_set(std::move(*raised));
    }
}

}  // namespace tarvok::host
