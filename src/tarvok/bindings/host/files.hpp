// Files the bindings read and write for the host: paths as the host names
// them, model and data files read as the cores read them, whole-file
// replacement with the host's OSError for a failure.
#pragma once

#include "bindings/host/errors.hpp"
#include "bindings/host/kinds.hpp"
#include "bindings/host/text.hpp"
#include "common/files.hpp"

#include <pybind11/pybind11.h>

#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvok::host {

namespace py = pybind11;

/// The whole content of the file at `path`, opened with the host's `open`
/// (looked up on every call, so that it can be replaced) as `open(path,
/// mode, encoding=encoding)`. The file is closed again also when reading
/// fails; the read error is the one that propagates.
inline py::object read_file(py::handle path, const char* mode, const char* encoding = nullptr) {
    py::object open = py::module_::import("builtins").attr("open");
    py::object file = encoding == nullptr ? open(path, mode) : open(path, mode, py::arg("encoding") = encoding);
    py::object content;
    try {
        content = file.attr("read")();
    } catch (py::error_already_set&) {
        try {
            file.attr("close")();
        } catch (py::error_already_set&) {
            // The read error is the one worth reporting.
        }
        throw;
    }
    file.attr("close")();
    return content;
}

/// The file-system form of a path argument, as the host's os.fsencode gives it.
inline std::filesystem::path file_system_path(py::handle path) {
    py::bytes raw = py::module_::import("os").attr("fsencode")(path);
    return std::filesystem::path(std::string(raw));
}

/// A path of the file system as the host names it (os.fsdecode).
inline py::object host_path(const std::filesystem::path& path) {
    return py::module_::import("os").attr("fsdecode")(py::bytes(path.native()));
}

/// The bytes of a model or data file as files::read_input_file reads them
/// (without the GIL). A file that cannot be used is the host's OSError for
/// the path as the caller gave it, its strerror the reason in words: the
/// system's own, "larger than 64 MiB, ..." (EFBIG) or "not UTF-8: byte 0xff
/// at line 3, column 5" (EILSEQ).
inline std::string read_input_bytes(py::handle path) {
    std::filesystem::path where = file_system_path(path);
    files::InputFile file;
    {
        py::gil_scoped_release unlocked;
        file = files::read_input_file(where);
    }
    if (file.ok()) return std::move(file.bytes);
    py::object shown = py::module_::import("os").attr("fspath")(path);
    py::object exception =
        py::reinterpret_borrow<py::object>(PyExc_OSError)(file.error_code(), text(file.reason()), shown);
    raise_object(exception);
}

/// A model or data file as the host's text (read_input_bytes, decoded).
inline py::str read_input_text(py::handle path) { return text(read_input_bytes(path)); }

/// A file the caller named and its new bytes.
struct NewContent {
    py::handle path;
    std::string_view bytes;
    files::Existing existing = files::Existing::Follow;
};

/// The host's OSError for `path` from errno `error`, as the host's own
/// file functions raise it.
[[noreturn]] inline void raise_os_error(int error, py::handle path) {
    errno = error;
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path.ptr());
    throw py::error_already_set();
}

/// Gives each file its new bytes whole or not at all (files::replace_files),
/// without the GIL. A failure is the host's OSError for the path as the
/// caller gave it.
inline void replace_files(std::initializer_list<NewContent> wanted) {
    std::vector<files::FileContent> contents;
    for (const NewContent& file : wanted) contents.push_back({file_system_path(file.path), file.bytes, file.existing});
    try {
        py::gil_scoped_release unlocked;
        files::replace_files(contents);
    } catch (const files::FileError& e) {
        py::handle named = wanted.begin()->path;
        for (size_t i = 0; i < contents.size(); ++i)
            if (contents[i].target == e.path()) named = (wanted.begin() + i)->path;
        raise_os_error(e.error_number(), named);
    }
}

/// The host's os.fspath(path) when it is text; else a TypeError saying
/// `refusal` followed by the type of `path`.
inline py::object text_path(py::handle path, const std::string& refusal) {
    py::object text = py::module_::import("os").attr("fspath")(path);
    if (!PyUnicode_Check(text.ptr())) throw py::type_error(refusal + type_name(path));
    return text;
}

}  // namespace tarvok::host
