// Data given as Python objects ({name: value} with scalars, lists, tuples,
// dicts keyed by set elements, numpy arrays, pandas Series and DataFrames):
// converted into the data core's values by the one converter (json.hpp),
// then written as the data text of the model by the core, so that it meets
// the checks of any data text.
#pragma once

#include "bindings/host/host.hpp"
#include "bindings/host/json.hpp"
#include "compiler/compiler.hpp"
#include "compiler/data_values.hpp"

#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace tarvok::host {

/// A mapping {name: value} as the data core's values.
inline data::Value values_of(py::handle data, const char* function) {
    data::Value values = data::Value::object();
    for (auto item : py::dict(py::reinterpret_borrow<py::object>(data))) {
        if (!PyUnicode_Check(item.first.ptr()))
            throw py::type_error(data::data_name_message(function, type_name(item.first)));
        values.add(std::string(Utf8(item.first).view()), from_python(item.second, {.data = true}, 1));
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
/// model's data text (what cannot be written raises the package's
/// SemanticError with the message).
inline WrittenData written_data_of(py::handle model_text, py::handle data, const char* function,
                                   const char* parameter = "data_text") {
    if (PyUnicode_Check(data.ptr())) return {py::reinterpret_borrow<py::object>(data), {}};
    if (!PyDict_Check(data.ptr()) && !py::isinstance(data, py::module_::import("collections.abc").attr("Mapping")))
        require(data, function, parameter, Kind::Str);
    require(model_text, function, "model_text", Kind::Str);
    auto written = data::write_mapping(std::string(Utf8(model_text).view()), values_of(data, function));
    if (const std::string* refusal = std::get_if<std::string>(&written)) raise_new(semantic_error_class(), *refusal);
    data::WrittenMapping& mapping = std::get<data::WrittenMapping>(written);
    return {text(mapping.text), std::move(mapping.origin)};
}

/// The data text alone (see written_data_of).
inline py::object data_text_of(py::handle model_text, py::handle data, const char* function,
                               const char* parameter = "data_text") {
    return written_data_of(model_text, data, function, parameter).text;
}

}  // namespace tarvok::host
