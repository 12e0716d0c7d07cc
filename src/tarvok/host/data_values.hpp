// Data given as Python objects ({name: value} with scalars, lists, tuples,
// dicts keyed by set elements, numpy arrays, pandas Series and DataFrames):
// converted here into the data core's values, then written as the data text
// of the model by the core, so that it meets the checks of any data text.
#pragma once

#include "compiler/compiler.hpp"
#include "compiler/data_values.hpp"
#include "host/host.hpp"

#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace tarvok::host {

namespace detail {

/// A key as the data names an element: a text as it is, a number as written.
inline std::string key_text(py::handle key) {
    if (py::hasattr(key, "item") && !PyUnicode_Check(key.ptr())) {
        py::object plain = key.attr("item")();
        return key_text(plain);
    }
    if (PyUnicode_Check(key.ptr())) return std::string(Utf8(key).view());
    if (PyFloat_Check(key.ptr())) {
        if (auto whole = data::whole_number_key(PyFloat_AsDouble(key.ptr()))) return *whole;
    }
    return str_of(key);
}

inline data::Value value_of(py::handle v, size_t depth) {
    using data::Value;
    if (depth > data::kMaxDataDepth) throw py::value_error(data::too_deep_message());
    if (v.is_none()) return Value::null();
    if (PyBool_Check(v.ptr())) return Value::of(v.ptr() == Py_True);
    if (PyLong_Check(v.ptr())) {
        int overflow = 0;
        long long i = PyLong_AsLongLongAndOverflow(v.ptr(), &overflow);
        if (!overflow) return Value::of(static_cast<int64_t>(i));
        return Value::of(PyFloat_AsDouble(py::float_(py::reinterpret_borrow<py::object>(v)).ptr()));
    }
    if (PyFloat_Check(v.ptr())) return Value::of(PyFloat_AsDouble(v.ptr()));
    if (PyUnicode_Check(v.ptr())) return Value::of(std::string(Utf8(v).view()));
    std::string module = py::str(py::type::handle_of(v).attr("__module__"));
    std::string kind = py::str(py::type::handle_of(v).attr("__name__"));
    switch (data::host_value_kind(module, kind)) {
    case data::HostValueKind::ArrayLike:
        // Arrays and numpy scalars alike become plain Python values.
        if (py::hasattr(v, "tolist")) return value_of(v.attr("tolist")(), depth);
        break;
    case data::HostValueKind::Table: return value_of(v.attr("to_dict")("index"), depth);
    case data::HostValueKind::Series: return value_of(v.attr("to_dict")(), depth);
    case data::HostValueKind::Labels: return value_of(v.attr("tolist")(), depth);
    case data::HostValueKind::Other: break;
    }
    if (PyDict_Check(v.ptr()) || py::isinstance(v, py::module_::import("collections.abc").attr("Mapping"))) {
        // A tuple key (a, b) stands for the nesting {a: {b: ...}}; the core nests.
        std::vector<std::pair<std::vector<std::string>, Value>> entries;
        for (auto item : py::dict(py::reinterpret_borrow<py::object>(v))) {
            // A tuple element inside a tuple key ((a, 1), k) gives its fields in turn, as (a, 1, k) does.
            std::vector<std::string> fields;
            auto add_fields = [&](auto& self, py::handle key, size_t level) -> void {
                if (level > data::kMaxDataDepth) throw py::value_error(data::too_deep_message());
                if (PyTuple_Check(key.ptr()) && PyTuple_GET_SIZE(key.ptr()) > 0) {
                    for (py::handle field : py::reinterpret_borrow<py::tuple>(key)) self(self, field, level + 1);
                } else {
                    fields.push_back(key_text(key));
                }
            };
            add_fields(add_fields, item.first, depth);
            size_t below = depth + fields.size();
            entries.emplace_back(std::move(fields), value_of(item.second, below));
        }
        return data::nest_keys(std::move(entries));
    }
    if (PyList_Check(v.ptr()) || PyTuple_Check(v.ptr()) || PyAnySet_Check(v.ptr())) {
        Value out = Value::array();
        for (py::handle item : py::reinterpret_borrow<py::iterable>(v)) out.items.push_back(value_of(item, depth + 1));
        return out;
    }
    throw py::type_error(data::not_a_data_value_message(type_name(v)));
}

}  // namespace detail

/// A mapping {name: value} as the data core's values.
inline data::Value values_of(py::handle data, const char* function) {
    data::Value values = data::Value::object();
    for (auto item : py::dict(py::reinterpret_borrow<py::object>(data))) {
        if (!PyUnicode_Check(item.first.ptr()))
            throw py::type_error(data::data_name_message(function, type_name(item.first)));
        values.members.emplace_back(std::string(Utf8(item.first).view()), detail::value_of(item.second, 1));
    }
    return values;
}

/// The data text of `data` for `model_text`, and for data given as a
/// mapping, how to name the entry of the mapping a place of the text was
/// written from: `data["capacity"]["Odense"]`.
struct WrittenData {
    py::object text;
    compiler::DataOrigin origin;
};

/// `data` itself when it is a str; a mapping {name: value} written as the
/// model's data text (what cannot be written raises the module's
/// SemanticError with the message).
inline WrittenData written_data_of(py::handle model_text, py::handle data, const char* function,
                                   const char* parameter = "data_text") {
    if (PyUnicode_Check(data.ptr())) return {py::reinterpret_borrow<py::object>(data), {}};
    if (!PyDict_Check(data.ptr()) && !py::isinstance(data, py::module_::import("collections.abc").attr("Mapping")))
        require(data, function, parameter, Kind::Str);
    require(model_text, function, "model_text", Kind::Str);
    auto written = data::write_mapping(std::string(Utf8(model_text).view()), values_of(data, function));
    if (const std::string* refusal = std::get_if<std::string>(&written))
        raise_new(py::module_::import("tarvok.semantic_error").attr("SemanticError"), *refusal);
    data::WrittenMapping& mapping = std::get<data::WrittenMapping>(written);
    return {text(mapping.text), std::move(mapping.origin)};
}

/// The data text alone (see written_data_of).
inline py::object data_text_of(py::handle model_text, py::handle data, const char* function,
                               const char* parameter = "data_text") {
    return written_data_of(model_text, data, function, parameter).text;
}

}  // namespace tarvok::host
