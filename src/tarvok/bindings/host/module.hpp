// A module's slot, its attributes looked up at call time, and the functions
// and methods it defines with the signatures help() shows.
#pragma once

#include "bindings/host/text.hpp"
#include "common/function_face.hpp"

#include <pybind11/pybind11.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

namespace tarvok::host {

namespace py = pybind11;

/// One extension module of the package: its slot, which holds the module
/// object (a strong reference for the life of the process) from its start on.
/// The code of every module lives in the one library of binding code, so each
/// module has a slot of its own among `modules` (modules.hpp), named there.
class ModuleSlot {
  public:
    explicit constexpr ModuleSlot(const char* name) : name_(name) {}
    ModuleSlot(const ModuleSlot&) = delete;
    ModuleSlot& operator=(const ModuleSlot&) = delete;

    /// Records `m` as this module; called once, at its import (ModuleStart),
    /// by the thread that runs its start.
    void hold(py::module_& m) {
        module_ = m.inc_ref().ptr();
        starter_.store(std::this_thread::get_id());
    }

    /// The module's start has defined all its names (ModuleStart).
    void started() { started_.store(true); }

    /// The module, imported first when it is not yet: its start fills the
    /// slot, which the code of another module needs when it calls this one's
    /// code that looks up this module's replaceable names.
    py::module_ get() const;

    /// A module attribute as it is at this moment. Calls between a module's
    /// functions go through here, so a host that replaces one (monkeypatching a
    /// back-end, the compiler, the ranker) is obeyed.
    py::object attr(const char* name) const { return get().attr(name); }

  private:
    const char* name_;
    PyObject* module_ = nullptr;
    /// Until the start ends, another thread must wait for the import under
    /// way, as the host's import makes it, not use the half-made module.
    std::atomic<std::thread::id> starter_{};
    std::atomic<bool> started_{false};
};

/// An object a module's start makes and keeps for the life of the process (a
/// class, an enumeration). Its users hold the very object the module shows,
/// not whatever the module's name is bound to when they run.
class Kept {
  public:
    explicit constexpr Kept(const ModuleSlot& slot) : slot_(slot) {}
    /// Called once, by the module's start; returns `made`.
    py::object keep(py::object made) {
        value_ = made.inc_ref().ptr();
        return made;
    }
    /// The object; the module is imported first when its start has not run.
    py::object get() const {
        slot_.get();
        return py::reinterpret_borrow<py::object>(value_);
    }

  private:
    const ModuleSlot& slot_;
    PyObject* value_ = nullptr;  ///< a strong reference, never released
};

/// Defines on `m` the enum.Enum `name` of `members` (names, or pairs of name
/// and value) with the docstring `doc`, kept in `kept`.
inline void def_enum(py::module_& m, Kept& kept, const char* name, py::handle members, const std::string& doc) {
    py::object made = py::module_::import("enum").attr("Enum")(name, members, py::arg("module") = m.attr("__name__"),
                                                               py::arg("qualname") = name);
    made.attr("__doc__") = text(doc);
    m.attr(name) = kept.keep(made);
}

using tarvok::signed_doc;  // the one home is common/function_face.hpp

namespace detail {

/// Builtins made by host_function call their target through one of these
/// slots: a function written in C learns nothing but its `self`, which must
/// stay the module, so each target gets a C entry point of its own. The
/// modules share them, as they share the one library of binding code.
inline constexpr std::size_t kFunctionSlots = 512;
using FastCall = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

inline std::array<PyObject*, kFunctionSlots>& slot_targets() {
    static std::array<PyObject*, kFunctionSlots> targets{};
    return targets;
}

template <std::size_t I>
PyObject* call_slot(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return PyObject_Vectorcall(slot_targets()[I], args, static_cast<std::size_t>(nargs), kwnames);
}

template <std::size_t... I>
constexpr std::array<FastCall, sizeof...(I)> slot_entries(std::index_sequence<I...>) {
    return {&call_slot<I>...};
}

/// The entry point for a new target, which is kept for the life of the process.
inline FastCall claim_slot(py::object target) {
    static constexpr auto entries = slot_entries(std::make_index_sequence<kFunctionSlots>());
    static std::atomic<std::size_t> used{0};
    std::size_t slot = used.fetch_add(1);
    if (slot >= kFunctionSlots) throw std::logic_error("more module functions than host function slots");
    slot_targets()[slot] = target.release().ptr();
    return entries[slot];
}

}  // namespace detail

/// A builtin function that calls `target`, with `signed_` (see signed_doc) as
/// its docstring and `module_name` as its `__module__`. Its `__self__` is
/// `self` (a module, or nothing for a function that a class holds), as for
/// any function written in C; pybind11's own functions name an internal
/// record there, which help() shows ("method of pybind11_detail_function_record
/// instance").
inline py::object host_function(py::handle self, py::handle module_name, const char* name, const std::string& signed_,
                                py::object target) {
    // These functions live as long as the process; so do their descriptions.
    auto* def = new PyMethodDef{};
    def->ml_name = (new std::string(name))->c_str();
    def->ml_doc = (new std::string(signed_))->c_str();
    def->ml_flags = METH_FASTCALL | METH_KEYWORDS;
    def->ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(detail::claim_slot(std::move(target))));
    PyObject* function = PyCFunction_NewEx(def, self.ptr(), module_name.ptr());
    if (function == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(function);
}

/// A function of module `m` that calls `target` (see host_function).
inline py::object module_function(py::module_& m, const char* name, const std::string& signed_, py::object target) {
    return host_function(m, m.attr("__name__"), name, signed_, target);
}

/// m.def with a docstring in the text-signature convention: `params` is the
/// parameter list as the host shows it (defaults as literals).
template <typename Func, typename... Extra>
void def(py::module_& m, const char* name, const char* params, const char* doc, Func&& f, const Extra&... extra) {
    std::string signed_ = signed_doc(name, params, doc);
    py::cpp_function target(std::forward<Func>(f), py::name(name), py::scope(m), extra..., signed_.c_str());
    py::setattr(m, name, module_function(m, name, signed_, target));
}

/// Adds `impl` as a method of the class `cls` (bound to instances like a
/// Python function) with a text signature whose first parameter is `self`.
/// The function is a plain builtin (as C code would make it), so help() shows
/// nothing of pybind11.
template <typename Func, typename... Extra>
void add_method(py::object& cls, const char* name, const char* params, const char* doc, Func&& impl,
                const Extra&... extra) {
    std::string full = signed_doc(name, params, doc);
    py::cpp_function target(std::forward<Func>(impl), py::name(name), py::arg("self"), extra..., full.c_str());
    py::object function = host_function(py::handle(), cls.attr("__module__"), name, full, target);
    py::object method = py::reinterpret_steal<py::object>(PyInstanceMethod_New(function.ptr()));
    if (!method) throw py::error_already_set();
    py::setattr(cls, name, method);
}

/// A function of module `m` as its face shows it (see def above).
template <typename Func, typename... Extra>
void def(py::module_& m, const Face& face, Func&& f, const Extra&... extra) {
    def(m, face.name, face.params, face.doc, std::forward<Func>(f), extra...);
}

/// A method of class `cls` as its face shows it (see add_method above).
template <typename Func, typename... Extra>
void add_method(py::object& cls, const Face& face, Func&& impl, const Extra&... extra) {
    add_method(cls, face.name, face.params, face.doc, std::forward<Func>(impl), extra...);
}

}  // namespace tarvok::host
