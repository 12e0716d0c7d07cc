// The compiler's neutral trees (the compiled model, the diagnostic records of
// SemanticError.diagnostics and `tarvok check --json`) as host objects.
// Shared by the bindings that compile (tarvok_core, solver); it includes
// pybind11, so only binding files include it.
#pragma once

#include "compiler/model_tree.hpp"
#include "host/host.hpp"

#include <vector>

namespace tarvok::compiler::records {

namespace py = pybind11;

/// The object of one node, its children made already. Made through the
/// host's C interface and checked, so that a failed allocation reaches the
/// caller as the host's own MemoryError.
inline py::object node_object(const tree::Tree& t, const tree::Node& n, const std::vector<py::object>& made) {
    auto checked = [](PyObject* object) {
        if (object == nullptr) throw py::error_already_set();
        return py::reinterpret_steal<py::object>(object);
    };
    auto child = [&](uint32_t i) { return made[t.children[n.first + i]].ptr(); };
    switch (n.kind) {
    case tree::Kind::None: return py::none();
    case tree::Kind::Bool: return py::bool_(n.flag);
    case tree::Kind::Int: return checked(PyLong_FromLongLong(n.integer));
    case tree::Kind::Real: return checked(PyFloat_FromDouble(n.real));
    case tree::Kind::Text: return host::text(n.text);
    case tree::Kind::Key: {
        py::object key = host::text(n.text);
        PyUnicode_InternInPlace(&key.ptr());
        return key;
    }
    case tree::Kind::List:
    case tree::Kind::Tuple: {
        bool list = n.kind == tree::Kind::List;
        py::object out = checked(list ? PyList_New(n.count) : PyTuple_New(n.count));
        for (uint32_t i = 0; i < n.count; ++i) {
            Py_INCREF(child(i));
            if (list)
                PyList_SET_ITEM(out.ptr(), i, child(i));
            else
                PyTuple_SET_ITEM(out.ptr(), i, child(i));
        }
        return out;
    }
    case tree::Kind::Dict: {
        py::object out = checked(PyDict_New());
        for (uint32_t i = 0; i + 1 < n.count; i += 2)
            if (PyDict_SetItem(out.ptr(), child(i), child(i + 1)) != 0) throw py::error_already_set();
        return out;
    }
    case tree::Kind::Range:
        return py::module_::import("builtins")
            .attr("range")(made[t.children[n.first]], made[t.children[n.first + 1]] + py::int_(1));
    }
    return py::none();
}

/// The objects of `t`, in node order so each is made once (a shared leaf is
/// one object); returns the root's. The containers are kept from the cyclic
/// garbage collector until all are made: a tree of millions of fresh
/// containers would otherwise be traversed by collection after collection.
/// The tree holds no cycles, so nothing is lost if making stops half-way.
inline py::object host_objects(const tree::Tree& t) {
    std::vector<py::object> made(t.nodes.size());
    std::vector<PyObject*> untracked;
    for (size_t i = 0; i < t.nodes.size(); ++i) {
        // Lets Ctrl-C through while a large result is made (the GIL is held).
        if ((i & 4095) == 4095 && PyErr_CheckSignals() != 0) throw py::error_already_set();
        made[i] = node_object(t, t.nodes[i], made);
        PyObject* o = made[i].ptr();
        if (PyObject_IS_GC(o) && PyObject_GC_IsTracked(o)) {
            PyObject_GC_UnTrack(o);
            untracked.push_back(o);
        }
    }
    for (PyObject* o : untracked)
        if (!PyObject_GC_IsTracked(o)) PyObject_GC_Track(o);
    return made[t.root()];
}

/// The records of the errors (in source order, when asked) then of the
/// warnings; with `paths`, each names the file it is about.
inline py::list diagnostic_records(const Compilation& c, bool with_errors, const tree::RecordPaths* paths = nullptr) {
    return host_objects(tree::diagnostic_record_tree(c, with_errors, paths)).cast<py::list>();
}

}  // namespace tarvok::compiler::records
