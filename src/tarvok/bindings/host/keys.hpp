// Text with the configured API keys hidden, for every front end that shows
// text: the command's lines, the page's answers, eval's records.
#pragma once

#include "bindings/host/text.hpp"
#include "generative/server_text.hpp"

#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <string_view>

namespace tarvok::host {

namespace py = pybind11;

/// An environment variable as os.environ holds it now, when it is text
/// (a caller may set a key after the process started).
inline std::optional<std::string> environment_text(std::string_view name) {
    py::object value = py::module_::import("os").attr("environ").attr("get")(text(name));
    if (!PyUnicode_Check(value.ptr())) return std::nullopt;
    return std::string(Utf8(value).view());
}

/// `text` with the keys of the provider table's variables, as they stand now, hidden.
inline std::string without_keys(std::string_view text) {
    return generative::hide_keys(text, generative::ConfiguredKeys(environment_text).views());
}

}  // namespace tarvok::host
