// The compiler's neutral trees (the compiled model, the diagnostic records of
// SemanticError.diagnostics and `tarvok check --json`) as host objects.
// Shared by the bindings that compile (tarvok_core, solver); it includes
// pybind11, so only binding files include it.
#pragma once

#include "compiler/model_tree.hpp"
#include "bindings/host/host.hpp"

#include <vector>

namespace tarvok::compiler::records {

namespace py = pybind11;

/// The new object of one leaf or container node, its children made already
/// (a container's items are filled in by host_objects). Made through the
/// host's C interface, so that a failed allocation reaches the caller as the
/// host's own MemoryError.
inline PyObject* new_object(const tree::Tree& t, const tree::Node& n, const std::vector<py::object>& made) {
    switch (n.kind) {
    case tree::Kind::None: return Py_NewRef(Py_None);
    case tree::Kind::Bool: return PyBool_FromLong(n.flag() ? 1 : 0);
    case tree::Kind::Int: return PyLong_FromLongLong(n.integer);
    case tree::Kind::Real: return PyFloat_FromDouble(n.real);
    case tree::Kind::Text: return host::text(n.text()).release().ptr();
    case tree::Kind::Key: {
        PyObject* key = host::text(n.text()).release().ptr();
        PyUnicode_InternInPlace(&key);
        return key;
    }
    case tree::Kind::List: return PyList_New(n.count);
    case tree::Kind::Tuple: return PyTuple_New(n.count);
    case tree::Kind::Dict: return PyDict_New();
    case tree::Kind::Range: {
        py::object high = made[t.children[n.first + 1]] + py::int_(1);
        return py::module_::import("builtins").attr("range")(made[t.children[n.first]], high).release().ptr();
    }
    }
    return Py_NewRef(Py_None);
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
        const tree::Node& n = t.nodes[i];
        made[i] = py::reinterpret_steal<py::object>(new_object(t, n, made));
        PyObject* o = made[i].ptr();
        if (o == nullptr) throw py::error_already_set();
        const tree::NodeId* items = n.kind >= tree::Kind::List ? t.children.data() + n.first : nullptr;
        if (n.kind == tree::Kind::List || n.kind == tree::Kind::Tuple) {
            for (uint32_t k = 0; k < n.count; ++k) {
                PyObject* item = Py_NewRef(made[items[k]].ptr());
                if (n.kind == tree::Kind::List)
                    PyList_SET_ITEM(o, k, item);
                else
                    PyTuple_SET_ITEM(o, k, item);
            }
        } else if (n.kind == tree::Kind::Dict) {
            for (uint32_t k = 0; k + 1 < n.count; k += 2)
                if (PyDict_SetItem(o, made[items[k]].ptr(), made[items[k + 1]].ptr()) != 0)
                    throw py::error_already_set();
        }
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
