// Texts between the host and the cores (UTF-8 both ways, lone surrogates
// kept), and the host's own str(), truth, equality and line diff.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <string_view>

namespace tarvok::host {

namespace py = pybind11;

/// UTF-8 bytes of a host text, valid while this object lives: it holds a
/// reference to the text whose buffer it views. Lone surrogates survive the
/// round trip (surrogatepass), so no text the host can hold is refused.
class Utf8 {
  public:
    explicit Utf8(py::handle text) : text_(py::reinterpret_borrow<py::object>(text)) {
        Py_ssize_t size = 0;
        const char* data = PyUnicode_AsUTF8AndSize(text_.ptr(), &size);
        if (data == nullptr) {
            PyErr_Clear();
            encoded_ =
                py::reinterpret_steal<py::object>(PyUnicode_AsEncodedString(text_.ptr(), "utf-8", "surrogatepass"));
            if (!encoded_) throw py::error_already_set();
            char* raw = nullptr;
            PyBytes_AsStringAndSize(encoded_.ptr(), &raw, &size);
            data = raw;
        }
        view_ = std::string_view(data, static_cast<size_t>(size));
    }
    std::string_view view() const { return view_; }

  private:
    py::object text_;     ///< owns the buffer of the cached UTF-8 form
    py::object encoded_;  ///< owns the bytes when the text holds surrogates
    std::string_view view_;
};

/// A host text from UTF-8 produced by the cores (or cut out of a Utf8 view).
inline py::str text(std::string_view utf8) {
    PyObject* s = PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()), "surrogatepass");
    if (s == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(s);
}

/// The bytes of a host bytes object, valid while it lives.
inline std::string_view bytes_view(py::handle bytes) {
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes.ptr(), &data, &size) != 0) throw py::error_already_set();
    return {data, static_cast<std::size_t>(size)};
}

/// The host's `str(value)`; a text subclass with its own `__str__` is asked.
inline py::str text_form(py::handle value) {
    auto s = py::reinterpret_steal<py::object>(PyObject_Str(value.ptr()));
    if (!s) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(s.release());
}

/// The host's `str(value)` as UTF-8.
inline std::string str_of(py::handle value) { return std::string(Utf8(text_form(value)).view()); }

/// The host's truth test (`bool(value)`); its errors propagate.
inline bool truthy(py::handle value) {
    int result = PyObject_IsTrue(value.ptr());
    if (result < 0) throw py::error_already_set();
    return result == 1;
}

/// The host's `a == b` as a truth value. There is no identity shortcut, so a
/// value that is not equal to itself (a NaN) matches nothing, as in Python.
inline bool equals(py::handle a, py::handle b) {
    auto result = py::reinterpret_steal<py::object>(PyObject_RichCompare(a.ptr(), b.ptr(), Py_EQ));
    if (!result) throw py::error_already_set();
    return truthy(result);
}

/// The unified diff of a file's text and its revision ("NAME" against "NAME
/// (revised)"), by difflib, with a last line that has no newline marked so,
/// as diff tools do, and so that the next file's header starts a line of its own.
inline py::object unified_diff(py::handle before, py::handle after, py::handle name) {
    auto lines = [](py::handle text) -> py::object { return text.attr("splitlines")(py::arg("keepends") = true); };
    py::object diff =
        py::module_::import("difflib").attr("unified_diff")(lines(before), lines(after), py::arg("fromfile") = name,
                                                            py::arg("tofile") = py::str(name) + py::str(" (revised)"));
    py::list out;
    for (py::handle line : diff) {
        py::str text = py::reinterpret_borrow<py::str>(line);
        out.append(truthy(text.attr("endswith")("\n")) ? text
                                                       : py::str(text + py::str("\n\\ No newline at end of file\n")));
    }
    return py::str("").attr("join")(out);
}

/// The host's sys.stdout or sys.stderr (`name`) to write to. One closed
/// before the start is None: stdout's reader is gone, as with `| head`
/// (BrokenPipeError); stderr's lines are lost (None is returned).
inline py::object output_stream(const char* name) {
    py::object stream = py::module_::import("sys").attr(name);
    if (stream.is_none() && std::string_view(name) == "stdout") {
        PyErr_SetString(PyExc_BrokenPipeError, "stdout is closed");
        throw py::error_already_set();
    }
    return stream;
}

}  // namespace tarvok::host
