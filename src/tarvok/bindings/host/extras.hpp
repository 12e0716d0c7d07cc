// Libraries imported when first needed (optional extras with their install
// hint, the logger), objects made once and kept, the host's sleep.
#pragma once

#include "bindings/host/errors.hpp"
#include "bindings/host/module.hpp"
#include "bindings/host/text.hpp"

#include <pybind11/pybind11.h>

#include <atomic>
#include <string>

namespace tarvok::host {

namespace py = pybind11;

/// Imports `name`, a library of the optional extra `extra`, or raises an
/// ImportError that says what needed it and how to install it.
inline py::module_ import_extra(const char* name, const char* purpose, const char* extra) {
    try {
        return py::module_::import(name);
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_ImportError) || behind_an_interrupt(e.value().ptr())) throw;
        raise_from(e, PyExc_ImportError,
                   std::string(purpose) + " needs the '" + name + "' package; install the '" + extra +
                       "' extra: pip install 'tarvok[" + extra + "]'");
    }
}

/// The host's `time.sleep`, looked up on every call so that it can be replaced.
inline void sleep(double seconds) { py::module_::import("time").attr("sleep")(seconds); }

/// A host object made on first use and kept. Threads that race on the first
/// use each make one; the first stored wins and the others are dropped, so
/// no lock is held while the host runs (which could deadlock against its
/// own lock) and no thread sees a half-written value.
class Memo {
  public:
    Memo() = default;
    Memo(const Memo&) = delete;
    Memo& operator=(const Memo&) = delete;
    ~Memo() { Py_XDECREF(value_.load()); }  // owners die under the host's lock

    template <typename Make>
    py::object get(Make&& make) {
        if (PyObject* kept = value_.load(std::memory_order_acquire)) return py::reinterpret_borrow<py::object>(kept);
        py::object made = make();
        PyObject* expected = nullptr;
        if (value_.compare_exchange_strong(expected, made.ptr(), std::memory_order_acq_rel)) {
            return py::reinterpret_borrow<py::object>(made.release());
        }
        return py::reinterpret_borrow<py::object>(expected);
    }

  private:
    std::atomic<PyObject*> value_{nullptr};
};

/// Gives the module a `logger` attribute (the logger named after the module)
/// that is created on first use, so that importing the module does not pull
/// in `logging`. Once created, or assigned by the host, it is an ordinary
/// module attribute.
inline void lazy_logger(py::module_& m) {
    PyObject* module = m.ptr();  // the module owns these functions, so it outlives them
    def(
        m, "__getattr__", "name", "Create the module logger on first use.",
        [module](py::object name) -> py::object {
            auto mod = py::reinterpret_borrow<py::module_>(module);
            if (PyUnicode_Check(name.ptr()) && PyUnicode_CompareWithASCIIString(name.ptr(), "logger") == 0) {
                py::object logger = py::module_::import("logging").attr("getLogger")(mod.attr("__name__"));
                mod.attr("logger") = logger;
                return logger;
            }
            raise(PyExc_AttributeError,
                  "module '" + str_of(mod.attr("__name__")) + "' has no attribute '" + str_of(name) + "'");
        },
        py::arg("name"));
    def(m, "__dir__", "", "List the module's attributes, the logger included.", [module]() {
        py::list names = py::reinterpret_borrow<py::module_>(module).attr("__dict__").attr("keys")();
        if (!names.contains("logger")) names.append("logger");
        names.attr("sort")();
        return names;
    });
}

}  // namespace tarvok::host
