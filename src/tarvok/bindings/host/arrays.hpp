// numpy arrays made by bindings: kept apart from host.hpp so that only the
// bindings that hand out arrays include pybind11's numpy support.
#pragma once

#include <pybind11/numpy.h>

#include <utility>
#include <vector>

namespace tarvok::host {

namespace py = pybind11;

/// A one-dimensional numpy array that owns `data` (moved, not copied).
template <typename T>
py::array owned_array(std::vector<T> data) {
    auto* heap = new std::vector<T>(std::move(data));
    py::capsule free_when_done(heap, [](void* p) { delete static_cast<std::vector<T>*>(p); });
    return py::array_t<T>({static_cast<py::ssize_t>(heap->size())}, {static_cast<py::ssize_t>(sizeof(T))}, heap->data(),
                          free_when_done);
}

}  // namespace tarvok::host
