// The cores' JSON values as the host's plain objects: answers a core shapes
// and a protocol library builds its own types from.
#pragma once

#include "compiler/data_values.hpp"
#include "bindings/host/host.hpp"

namespace tarvok::host {

/// None, bool, int, float, str, list and dict, members in their order. Texts
/// carry lone surrogates as the host does; should a byte that is not UTF-8
/// ever reach here, it shows as U+FFFD rather than failing the answer.
inline py::object object_of(const data::Value& v) {
    using Kind = data::Value::Kind;
    switch (v.kind) {
    case Kind::Null: return py::none();
    case Kind::Boolean: return py::bool_(v.boolean);
    case Kind::Integer: return py::int_(v.integer);
    case Kind::Number: return py::float_(v.number);
    case Kind::String: {
        auto size = static_cast<Py_ssize_t>(v.text.size());
        PyObject* s = PyUnicode_DecodeUTF8(v.text.data(), size, "surrogatepass");
        if (s == nullptr) {
            PyErr_Clear();
            s = PyUnicode_DecodeUTF8(v.text.data(), size, "replace");
        }
        if (s == nullptr) throw py::error_already_set();
        return py::reinterpret_steal<py::str>(s);
    }
    case Kind::Array: {
        py::list out;
        for (const data::Value& item : v.items) out.append(object_of(item));
        return out;
    }
    case Kind::Object: {
        py::dict out;
        for (const auto& [key, item] : v.members) out[object_of(data::Value::of(key))] = object_of(item);
        return out;
    }
    }
    return py::none();
}

}  // namespace tarvok::host
