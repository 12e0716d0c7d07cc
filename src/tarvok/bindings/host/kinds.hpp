// The exact built-in kinds a parameter is checked against, and the reading
// of plain arguments (counts, numbers, sequences, C++ objects) with the
// host's refusals.
#pragma once

#include "bindings/host/text.hpp"

#include <pybind11/pybind11.h>

#include <climits>
#include <string>

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

inline bool is_exact(py::handle value, Kind kind) { return Py_TYPE(value.ptr()) == type_of(kind); }

/// The host's own name for the type of `value` (`type(value).__name__`).
inline std::string type_name(py::handle value) {
    return py::str(py::type::handle_of(value).attr("__name__")).cast<std::string>();
}

/// Refuses anything but exactly `kind` (or None when `optional`) with a
/// TypeError that names the function, the parameter and both kinds.
inline void require(py::handle value, const char* function, const char* parameter, Kind kind, bool optional = false) {
    if (is_exact(value, kind) || (optional && value.is_none())) return;
    std::string msg = std::string(function) + "() argument '" + parameter + "' must be " + type_of(kind)->tp_name;
    if (optional) msg += " or None";
    msg += ", not " + type_name(value);
    throw py::type_error(msg);
}

/// An int as a 64-bit count; values beyond that range saturate, which keeps
/// their meaning (no limit, or nothing at all).
inline long long saturated(py::handle number) {
    int overflow = 0;
    long long value = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
    if (value == -1 && PyErr_Occurred()) throw py::error_already_set();
    if (overflow > 0) return LLONG_MAX;
    if (overflow < 0) return LLONG_MIN;
    return value;
}

/// The C++ object `T` behind `value`, or a TypeError saying `refusal`
/// followed by the type `value` has.
template <typename T>
T cast_or_refuse(py::handle value, const std::string& refusal) {
    try {
        return value.cast<T>();
    } catch (py::cast_error&) {
        throw py::type_error(refusal + type_name(value));
    }
}

/// The items of a sequence, viewed while this object lives: a list or tuple
/// as it is, anything else iterated into a list once. `what` names it in the
/// TypeError for a value that is not iterable.
class Items {
  public:
    Items(py::handle sequence, const char* what)
        : fast_(py::reinterpret_steal<py::object>(PySequence_Fast(sequence.ptr(), what))) {
        if (!fast_) throw py::error_already_set();
    }
    size_t size() const { return static_cast<size_t>(PySequence_Fast_GET_SIZE(fast_.ptr())); }
    py::handle operator[](size_t k) const { return PySequence_Fast_GET_ITEM(fast_.ptr(), static_cast<Py_ssize_t>(k)); }

  private:
    py::object fast_;
};

/// The host's float(item) of a number; its TypeError for anything else.
inline double number(py::handle item) {
    double v = PyFloat_AsDouble(item.ptr());
    if (v == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    return v;
}

}  // namespace tarvok::host
