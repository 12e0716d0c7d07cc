// Diagnostics as the host sees them: one dict per diagnostic, the records of
// SemanticError.diagnostics, `tarvok check --json` and a compiled model.
// Shared by the bindings that compile (tarvok_core, solver); it includes
// pybind11, so only binding files include it.
#pragma once

#include "compiler/compiler.hpp"
#include "host/host.hpp"

namespace tarvok::compiler::records {

namespace py = pybind11;

inline const char* file_text(SourceFile file) { return file == SourceFile::Model ? "model" : "data"; }

/// Host values made through the C interface and checked, so that a failed
/// allocation reaches the caller as the host's own MemoryError.
inline py::object checked(PyObject* object) {
    if (object == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(object);
}

inline void set_item(py::handle d, const char* key, py::handle value) {
    if (PyDict_SetItemString(d.ptr(), key, value.ptr()) != 0) throw py::error_already_set();
}

inline void append(py::handle list, py::handle value) {
    if (PyList_Append(list.ptr(), value.ptr()) != 0) throw py::error_already_set();
}

inline py::object integer(int64_t v) { return checked(PyLong_FromLongLong(v)); }

/// One diagnostic: severity, code, file, line, column, end_line, end_column,
/// message, notes (message, file, line, column) and fix.
inline py::object record(const Diagnostic& d, const Compilation& c) {
    auto source_of = [&](SourceFile file) { return file == SourceFile::Model ? c.model_text : c.data_text; };
    Position end = end_position(d, source_of(d.at.file));
    py::object r = checked(PyDict_New());
    set_item(r, "severity", host::text(severity_text(d.severity)));
    set_item(r, "code", host::text(code_info(d.code).id));
    set_item(r, "file", host::text(file_text(d.at.file)));
    set_item(r, "line", integer(d.at.line));
    set_item(r, "column", integer(d.at.column));
    set_item(r, "end_line", integer(end.line));
    set_item(r, "end_column", integer(end.column));
    set_item(r, "message", host::text(d.message));
    // Data written from other data: where in that data the place is.
    if (d.at.file == SourceFile::Data && c.data_origin) {
        std::string source = c.data_origin(d.at.offset);
        if (!source.empty()) set_item(r, "source", host::text(source));
    }
    py::object notes = checked(PyList_New(0));
    for (const Note& n : d.notes) {
        py::object note = checked(PyDict_New());
        set_item(note, "message", host::text(n.message));
        set_item(note, "file", host::text(file_text(n.at.file)));
        set_item(note, "line", integer(n.at.line));
        set_item(note, "column", integer(n.at.column));
        append(notes, note);
    }
    set_item(r, "notes", notes);
    set_item(r, "fix", d.fix ? py::object(host::text(*d.fix)) : py::object(py::none()));
    return r;
}

/// The records of the errors (in source order) then of the warnings.
inline py::list diagnostic_records(const Compilation& c, bool with_errors) {
    py::list out = py::reinterpret_steal<py::list>(checked(PyList_New(0)).release());
    if (with_errors)
        for (const Diagnostic* d : in_source_order(c.diagnostics.items())) append(out, record(*d, c));
    for (const Diagnostic* d : in_source_order(c.diagnostics.warnings())) append(out, record(*d, c));
    return out;
}

}  // namespace tarvok::compiler::records
