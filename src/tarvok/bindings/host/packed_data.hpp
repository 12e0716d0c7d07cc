// The numeric arrays of data given as a mapping, taken out packed (a numpy
// array read through the buffer protocol, nested lists of numbers read in
// one pass) and handed to the compiler beside the data text of the rest, so
// that large tables skip writing and reading a text of their numbers.
#pragma once

#include "bindings/host/data_values.hpp"
#include "bindings/host/host.hpp"
#include "compiler/compiler.hpp"
#include "compiler/data_values.hpp"
#include "compiler/packed_numbers.hpp"

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvok::host {

/// Data with its numeric arrays packed: the data text of the rest, how to
/// name its places, and the arrays, which view memory this object holds.
struct PackedData {
    std::string text;
    compiler::DataOrigin origin;
    std::vector<compiler::GivenArray> arrays;

    std::deque<data::PackedNumbers> lists;  ///< the numbers of nested lists
    struct Released {
        void operator()(Py_buffer* view) const {
            PyBuffer_Release(view);
            delete view;
        }
    };
    std::vector<std::unique_ptr<Py_buffer, Released>> buffers;  ///< the numpy arrays' memory, held while compiling
};

namespace detail {

/// Appends one number as the data text would read it; false for anything
/// else (a bool, an int past 64 bits, a float that is not finite).
inline bool pack_number(PyObject* item, data::PackedNumbers& out) {
    if (PyLong_Check(item) && !PyBool_Check(item)) {
        int overflow = 0;
        long long whole = PyLong_AsLongLongAndOverflow(item, &overflow);
        if (!overflow) out.add_whole(whole);
        return !overflow;
    }
    return PyFloat_Check(item) && out.add_real(PyFloat_AS_DOUBLE(item));
}

/// Appends the numbers of lists (or tuples) nested `dims` deep, every row of
/// a level alike long; false for anything the data text would write
/// otherwise (see pack_number; a ragged nesting), which is then written as text.
inline bool pack_lists(PyObject* o, size_t level, size_t dims, data::PackedNumbers& out) {
    if (!PyList_Check(o) && !PyTuple_Check(o)) return false;
    auto n = static_cast<uint64_t>(PySequence_Fast_GET_SIZE(o));
    PyObject** items = PySequence_Fast_ITEMS(o);
    if (!out.enter_row(level, n)) return false;
    for (uint64_t i = 0; i < n; ++i)
        if (!(level + 1 < dims ? pack_lists(items[i], level + 1, dims, out) : pack_number(items[i], out))) return false;
    return true;
}

/// A C-contiguous numpy array of float64 or int64 with `dims` dimensions, as
/// a given array viewing its memory; false for any other value.
inline bool pack_array(py::handle v, size_t dims, PackedData& into, compiler::GivenArray& given) {
    if (!PyObject_CheckBuffer(v.ptr())) return false;
    if (detail::data_kind(v) != detail::DataKind::ArrayLike || type_name(v) != "ndarray") return false;
    std::unique_ptr<Py_buffer, PackedData::Released> view(new Py_buffer{});
    if (PyObject_GetBuffer(v.ptr(), view.get(), PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) != 0) {
        delete view.release();
        PyErr_Clear();
        return false;
    }
    std::optional<bool> integers = data::packed_buffer_is_int(view->format ? view->format : "B", view->ndim,
                                                              static_cast<size_t>(view->itemsize), dims);
    if (!integers) return false;
    for (int k = 0; k < view->ndim; ++k) given.shape.push_back(static_cast<uint64_t>(view->shape[k]));
    given.is_int = *integers;
    if (*integers)
        given.integers = static_cast<const int64_t*>(view->buf);
    else
        given.reals = static_cast<const double*>(view->buf);
    into.buffers.push_back(std::move(view));
    return true;
}

}  // namespace detail

/// `data` with the numeric arrays of the model's array parameters packed, or
/// nothing when `data` is no dict, nothing packs, or the rest cannot be
/// written (then the data written whole says why).
inline std::optional<PackedData> packed_data_of(py::handle model_text, py::handle data, const char* function) {
    if (!PyDict_Check(data.ptr()) || !PyUnicode_Check(model_text.ptr())) return std::nullopt;
    std::string model(Utf8(model_text).view());
    std::map<std::string, data::Declared> declared;
    PackedData packed;
    py::dict rest;
    for (auto [key, value] : py::reinterpret_borrow<py::dict>(data)) {
        if (!PyUnicode_Check(key.ptr())) return std::nullopt;
        if (declared.empty()) declared = data::declared_names(model);
        compiler::GivenArray given;
        given.name = std::string(Utf8(key).view());
        size_t dims = data::packed_dimensions(declared, given.name);
        if (dims > 0 && detail::pack_array(value, dims, packed, given)) {
            packed.arrays.push_back(std::move(given));
            continue;
        }
        data::PackedNumbers numbers;
        if (dims > 0 && detail::pack_lists(value.ptr(), 0, dims, numbers) && numbers.shape.size() == dims) {
            packed.arrays.push_back(packed.lists.emplace_back(std::move(numbers)).given(std::move(given.name)));
            continue;
        }
        rest[key] = value;
    }
    if (packed.arrays.empty()) return std::nullopt;
    auto written = data::write_mapping(std::move(model), values_of(rest, function));
    data::WrittenMapping* mapping = std::get_if<data::WrittenMapping>(&written);
    if (!mapping) return std::nullopt;
    packed.text = std::move(mapping->text);
    packed.origin = std::move(mapping->origin);
    return packed;
}

}  // namespace tarvok::host
