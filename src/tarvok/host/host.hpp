// What every binding file needs to speak to the host.
//
// The host is the Python interpreter that loads these extension modules.
// "The host's X" (its str(), repr(), ==, open(), strip(), regular
// expressions, decoding) means what that interpreter does, called through
// its C interface or its modules, never copied into C++. Cores under
// common/ and the module folders know nothing of the host; only binding
// files include this header.
#pragma once

#include "common/files.hpp"
#include "common/function_face.hpp"
#include "common/interrupt.hpp"

#include <pybind11/pybind11.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <exception>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvok::host {

namespace py = pybind11;

// ------------------------------------------------------- argument kinds ----

/// Built-in kinds that parameters are checked against; only the exact type
/// counts (a str subclass is not a str, a bool is not an int).
enum class Kind { Str, Float, Int, List, Dict, Bool };

inline PyTypeObject* type_of(Kind kind) {
    switch (kind) {
    case Kind::Str: return &PyUnicode_Type;
    case Kind::Float: return &PyFloat_Type;
    case Kind::Int: return &PyLong_Type;
    case Kind::List: return &PyList_Type;
    case Kind::Dict: return &PyDict_Type;
    case Kind::Bool: return &PyBool_Type;
    }
    return nullptr;
}

inline bool is_exact(py::handle value, Kind kind) { return Py_TYPE(value.ptr()) == type_of(kind); }

/// The host's own name for the type of `value` (`type(value).__name__`).
inline std::string type_name(py::handle value) {
    return py::str(py::type::handle_of(value).attr("__name__")).cast<std::string>();
}

/// Refuses anything but exactly `kind` (or None when `optional`) with a
/// TypeError that names the function, the parameter and both kinds.
inline void require(py::handle value, const char* function, const char* parameter, Kind kind, bool optional = false) {
    if (is_exact(value, kind) || (optional && value.is_none())) return;
    std::string msg = std::string(function) + "() argument '" + parameter + "' must be " + type_of(kind)->tp_name;
    if (optional) msg += " or None";
    msg += ", not " + type_name(value);
    throw py::type_error(msg);
}

/// An int as a 64-bit count; values beyond that range saturate, which keeps
/// their meaning (no limit, or nothing at all).
inline long long saturated(py::handle number) {
    int overflow = 0;
    long long value = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
    if (value == -1 && PyErr_Occurred()) throw py::error_already_set();
    if (overflow > 0) return LLONG_MAX;
    if (overflow < 0) return LLONG_MIN;
    return value;
}

// ----------------------------------------------------------------- text ----

/// UTF-8 bytes of a host text, valid while this object lives: it holds a
/// reference to the text whose buffer it views. Lone surrogates survive the
/// round trip (surrogatepass), so no text the host can hold is refused.
class Utf8 {
  public:
    explicit Utf8(py::handle text) : text_(py::reinterpret_borrow<py::object>(text)) {
        Py_ssize_t size = 0;
        const char* data = PyUnicode_AsUTF8AndSize(text_.ptr(), &size);
        if (data == nullptr) {
            PyErr_Clear();
            encoded_ =
                py::reinterpret_steal<py::object>(PyUnicode_AsEncodedString(text_.ptr(), "utf-8", "surrogatepass"));
            if (!encoded_) throw py::error_already_set();
            char* raw = nullptr;
            PyBytes_AsStringAndSize(encoded_.ptr(), &raw, &size);
            data = raw;
        }
        view_ = std::string_view(data, static_cast<size_t>(size));
    }
    std::string_view view() const { return view_; }

  private:
    py::object text_;     ///< owns the buffer of the cached UTF-8 form
    py::object encoded_;  ///< owns the bytes when the text holds surrogates
    std::string_view view_;
};

/// A host text from UTF-8 produced by the cores (or cut out of a Utf8 view).
inline py::str text(std::string_view utf8) {
    PyObject* s = PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()), "surrogatepass");
    if (s == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(s);
}

/// The host's `str(value)`; a text subclass with its own `__str__` is asked.
inline py::str text_form(py::handle value) {
    auto s = py::reinterpret_steal<py::object>(PyObject_Str(value.ptr()));
    if (!s) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(s.release());
}

/// The host's `str(value)` as UTF-8.
inline std::string str_of(py::handle value) { return std::string(Utf8(text_form(value)).view()); }

// ------------------------------------------------------------ protocols ----

/// The host's truth test (`bool(value)`); its errors propagate.
inline bool truthy(py::handle value) {
    int result = PyObject_IsTrue(value.ptr());
    if (result < 0) throw py::error_already_set();
    return result == 1;
}

/// The host's `a == b` as a truth value. There is no identity shortcut, so a
/// value that is not equal to itself (a NaN) matches nothing, as in Python.
inline bool equals(py::handle a, py::handle b) {
    auto result = py::reinterpret_steal<py::object>(PyObject_RichCompare(a.ptr(), b.ptr(), Py_EQ));
    if (!result) throw py::error_already_set();
    return truthy(result);
}

// --------------------------------------------------------------- errors ----

/// True for errors of the host's ordinary family (`Exception`); interrupts and
/// exits are not in it and must pass through.
/// An error raised while an interrupt was in flight (an extension's ImportError
/// over a Ctrl-C during its import) stands for that interrupt.
inline bool behind_an_interrupt(PyObject* error) {
    for (int link = 0; error != nullptr && link < 32; ++link) {
        if (PyErr_GivenExceptionMatches(error, PyExc_KeyboardInterrupt)) return true;
        py::object cause = py::reinterpret_steal<py::object>(PyException_GetCause(error));
        if (cause.is_none() || !cause) cause = py::reinterpret_steal<py::object>(PyException_GetContext(error));
        if (!cause || cause.is_none()) return false;
        error = cause.ptr();  // kept alive by the chain that holds it
    }
    return false;
}

inline bool is_ordinary(const py::error_already_set& error) {
    return error.matches(PyExc_Exception) && !behind_an_interrupt(error.value().ptr());
}

/// Raises a host exception of the given class with `message`.
[[noreturn]] inline void raise(PyObject* type, const std::string& message) {
    PyErr_SetObject(type, text(message).ptr());  // the message may hold NULs (LLM replies do)
    throw py::error_already_set();
}

/// Raises `type` with `message`, chained to the error being handled
/// (`raise ... from cause`).
[[noreturn]] inline void raise_from(py::error_already_set& cause, PyObject* type, const std::string& message) {
    py::object error = py::reinterpret_borrow<py::object>(type)(text(message));
    PyException_SetCause(error.ptr(), cause.value().inc_ref().ptr());
    PyException_SetContext(error.ptr(), cause.value().inc_ref().ptr());
    PyErr_SetObject(type, error.ptr());
    throw py::error_already_set();
}

/// Raises an exception object already made (its attributes set by the caller).
[[noreturn]] inline void raise_object(py::handle error) {
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
    throw py::error_already_set();
}

// ---------------------------------------------------------------- files ----

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

// --------------------------------------------------------- this module ----

/// The extension module being defined by this shared object. Each module is
/// its own shared object built with hidden symbols (as pybind11 builds them),
/// so each has its own slot; it holds a strong reference for the life of the
/// process.
inline PyObject*& module_slot() {
    static PyObject* module = nullptr;
    return module;
}

/// Records `m` as this shared object's module; called once, at its import.
inline void hold_module(py::module_& m) { module_slot() = m.inc_ref().ptr(); }

inline py::module_ this_module() {
    PyObject* module = module_slot();
    if (module == nullptr) throw std::logic_error("the module did not record itself with host::hold_module");
    return py::reinterpret_borrow<py::module_>(module);
}

/// A module attribute as it is at this moment. Calls between a module's
/// functions go through here, so a host that replaces one (monkeypatching a
/// back-end, the compiler, the ranker) is obeyed.
inline py::object attr(const char* name) { return this_module().attr(name); }

/// Imports a module that lives in the same package as `module`.
inline py::module_ import_sibling(py::handle module, const char* name) {
    std::string qualified = py::str(module.attr("__name__")).cast<std::string>();
    auto dot = qualified.rfind('.');
    std::string package = dot == std::string::npos ? std::string() : qualified.substr(0, dot + 1);
    return py::module_::import((package + name).c_str());
}

/// Imports `name`, a library of the optional extra `extra`, or raises an
/// ImportError that says what needed it and how to install it.
inline py::module_ import_extra(const char* name, const char* purpose, const char* extra) {
    try {
        return py::module_::import(name);
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_ImportError) || behind_an_interrupt(e.value().ptr())) throw;
        raise_from(e, PyExc_ImportError,
                   std::string(purpose) + " needs the '" + name + "' package; install the '" + extra +
                       "' extra: pip install 'tarvok[" + extra + "]'");
    }
}

/// The host's `time.sleep`, looked up on every call so that it can be replaced.
inline void sleep(double seconds) { py::module_::import("time").attr("sleep")(seconds); }

// ----------------------------------------------------------- functions ----

using tarvok::signed_doc;  // the one home is common/function_face.hpp

namespace detail {

/// Builtins made by host_function call their target through one of these
/// slots: a function written in C learns nothing but its `self`, which must
/// stay the module, so each target gets a C entry point of its own. Every
/// extension module is its own shared object with hidden symbols, so each has
/// its own slots.
inline constexpr std::size_t kFunctionSlots = 256;
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

/// A host object made on first use and kept. Threads that race on the first
/// use each make one; the first stored wins and the others are dropped, so
/// no lock is held while the host runs (which could deadlock against its
/// own lock) and no thread sees a half-written value.
class Memo {
  public:
    Memo() = default;
    Memo(const Memo&) = delete;
    Memo& operator=(const Memo&) = delete;
    ~Memo() { Py_XDECREF(value_.load()); }  // owners die under the host's lock

    template <typename Make>
    py::object get(Make&& make) {
        if (PyObject* kept = value_.load(std::memory_order_acquire)) return py::reinterpret_borrow<py::object>(kept);
        py::object made = make();
        PyObject* expected = nullptr;
        if (value_.compare_exchange_strong(expected, made.ptr(), std::memory_order_acq_rel)) {
            return py::reinterpret_borrow<py::object>(made.release());
        }
        return py::reinterpret_borrow<py::object>(expected);
    }

  private:
    std::atomic<PyObject*> value_{nullptr};
};

/// Gives the module a `logger` attribute (the logger named after the module)
/// that is created on first use, so that importing the module does not pull
/// in `logging`. Once created, or assigned by the host, it is an ordinary
/// module attribute.
inline void lazy_logger(py::module_& m) {
    PyObject* module = m.ptr();  // the module owns these functions, so it outlives them
    def(
        m, "__getattr__", "name", "Create the module logger on first use.",
        [module](py::object name) -> py::object {
            auto mod = py::reinterpret_borrow<py::module_>(module);
            if (PyUnicode_Check(name.ptr()) && PyUnicode_CompareWithASCIIString(name.ptr(), "logger") == 0) {
                py::object logger = py::module_::import("logging").attr("getLogger")(mod.attr("__name__"));
                mod.attr("logger") = logger;
                return logger;
            }
            raise(PyExc_AttributeError,
                  "module '" + str_of(mod.attr("__name__")) + "' has no attribute '" + str_of(name) + "'");
        },
        py::arg("name"));
    def(m, "__dir__", "", "List the module's attributes, the logger included.", [module]() {
        py::list names = py::reinterpret_borrow<py::module_>(module).attr("__dict__").attr("keys")();
        if (!names.contains("logger")) names.append("logger");
        names.attr("sort")();
        return names;
    });
}

}  // namespace tarvok::host

namespace tarvok::host {

/// Runs `work(Interrupt*)` with the GIL released, interruptible by Ctrl-C:
/// every few milliseconds the work briefly takes the GIL back and lets the
/// host run its signal handlers. When one raises (KeyboardInterrupt), the
/// work unwinds, freeing what it holds, and that error is raised here.
template <typename Work>
auto interruptible(Work&& work) {
    std::unique_ptr<py::error_already_set> raised;
    Interrupt interrupt([&raised] {
        py::gil_scoped_acquire gil;
        if (PyErr_CheckSignals() == 0) return false;
        raised = std::make_unique<py::error_already_set>();  // takes the pending error
        return true;
    });
    try {
        py::gil_scoped_release release;
        return work(&interrupt);
    } catch (const Interrupted&) {
        throw py::error_already_set(std::move(*raised));
    }
}

}  // namespace tarvok::host

namespace tarvok::host {

/// The unified diff of a file's text and its revision ("NAME" against "NAME
/// (revised)"), by difflib, with a last line that has no newline marked so,
/// as diff tools do, and so that the next file's header starts a line of its own.
inline py::object unified_diff(py::handle before, py::handle after, py::handle name) {
    auto lines = [](py::handle text) -> py::object { return text.attr("splitlines")(py::arg("keepends") = true); };
    py::object diff =
        py::module_::import("difflib").attr("unified_diff")(lines(before), lines(after), py::arg("fromfile") = name,
                                                            py::arg("tofile") = py::str(name) + py::str(" (revised)"));
    py::list out;
    for (py::handle line : diff) {
        py::str text = py::reinterpret_borrow<py::str>(line);
        out.append(truthy(text.attr("endswith")("\n")) ? text
                                                       : py::str(text + py::str("\n\\ No newline at end of file\n")));
    }
    return py::str("").attr("join")(out);
}

}  // namespace tarvok::host

namespace tarvok::host {

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

// ------------------------------------------- t-solv: shared by the solver, compiler and emitter bindings ----

namespace tarvok::host {

/// Runs `work(Interrupt*)` as `interruptible` does; memory running out
/// raises MemoryError saying what `out_of_memory()` returns.
template <typename Work, typename Message>
auto watched(Work&& work, Message&& out_of_memory) {
    // The C++ runtime keeps its exception state in thread-local storage that
    // it allocates on first use; were that first use a failed allocation,
    // the process would abort instead of raising MemoryError.
    static thread_local volatile int touched = 0;
    touched = std::uncaught_exceptions();  // declared pure: without a use the call would be dropped
    try {
        return interruptible(std::forward<Work>(work));
    } catch (const std::bad_alloc&) {
        raise(PyExc_MemoryError, out_of_memory());
    }
}

/// Raises `cls(message)`: an error class the caller looked up at call time
/// (a module's SemanticError, which a host may replace).
[[noreturn]] inline void raise_new(py::handle cls, const std::string& message) {
    py::object error = py::reinterpret_borrow<py::object>(cls)(text(message));
    PyErr_SetObject(cls.ptr(), error.ptr());
    throw py::error_already_set();
}

/// The C++ object `T` behind `value`, or a TypeError saying `refusal`
/// followed by the type `value` has.
template <typename T>
T cast_or_refuse(py::handle value, const std::string& refusal) {
    try {
        return value.cast<T>();
    } catch (py::cast_error&) {
        throw py::type_error(refusal + type_name(value));
    }
}

/// The host's os.fspath(path) when it is text; else a TypeError saying
/// `refusal` followed by the type of `path`.
inline py::object text_path(py::handle path, const std::string& refusal) {
    py::object text = py::module_::import("os").attr("fspath")(path);
    if (!PyUnicode_Check(text.ptr())) throw py::type_error(refusal + type_name(path));
    return text;
}

/// The items of a sequence, viewed while this object lives: a list or tuple
/// as it is, anything else iterated into a list once. `what` names it in the
/// TypeError for a value that is not iterable.
class Items {
  public:
    Items(py::handle sequence, const char* what)
        : fast_(py::reinterpret_steal<py::object>(PySequence_Fast(sequence.ptr(), what))) {
        if (!fast_) throw py::error_already_set();
    }
    size_t size() const { return static_cast<size_t>(PySequence_Fast_GET_SIZE(fast_.ptr())); }
    py::handle operator[](size_t k) const { return PySequence_Fast_GET_ITEM(fast_.ptr(), static_cast<Py_ssize_t>(k)); }

  private:
    py::object fast_;
};

/// The host's float(item) of a number; its TypeError for anything else.
inline double number(py::handle item) {
    double v = PyFloat_AsDouble(item.ptr());
    if (v == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    return v;
}

}  // namespace tarvok::host
