// JSON values (common/json.hpp) and the host's objects, both ways: the one
// converter every binding uses for a value a core made or takes.
#pragma once

#include "bindings/host/kinds.hpp"
#include "bindings/host/text.hpp"
#include "common/json.hpp"
#include "compiler/data_values.hpp"

#include <pybind11/pybind11.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tarvok::host {

namespace py = pybind11;

namespace detail {

/// Makes the host's objects for one value. A text that several places share
/// is one object (so is a container, when asked); a dict key is one object
/// per distinct text.
/// New containers are kept from the cyclic garbage collector until all are
/// made (a value of millions of fresh containers would otherwise be
/// traversed by collection after collection); values hold no cycles, so
/// nothing is lost if making stops half-way.
class ObjectMaker {
  public:
    explicit ObjectMaker(bool share_containers) : share_containers_(share_containers) {}

    /// Gives the collector back the containers made, once all are made.
    void track() {
        for (PyObject* o : untracked_)
            if (!PyObject_GC_IsTracked(o)) PyObject_GC_Track(o);
        untracked_.clear();
    }

    py::object make(const json::Value& v) {
        // Lets Ctrl-C through while a large value is made (the GIL is held).
        if ((++made_ & 4095) == 0 && PyErr_CheckSignals() != 0) throw py::error_already_set();
        bool shareable = v.kind() == json::Value::Kind::String || share_containers_;
        const void* shared = shareable && v.is_shared() ? v.identity() : nullptr;
        if (shared) {
            auto found = shared_.find(shared);
            if (found != shared_.end()) return found->second;
        }
        py::object out = fresh(v);
        if (shared) shared_.emplace(shared, out);
        return out;
    }

  private:
    bool share_containers_;
    std::size_t made_ = 0;
    std::unordered_map<const void*, py::object> shared_;
    std::unordered_map<std::string_view, py::object> keys_;  ///< views of the keys of the value being made
    std::vector<PyObject*> untracked_;

    static py::object steal(PyObject* o) {
        if (o == nullptr) throw py::error_already_set();
        return py::reinterpret_steal<py::object>(o);
    }

    /// A text as the host holds it; should a byte that is not UTF-8 ever
    /// reach here, it shows as U+FFFD rather than failing the answer.
    static py::object string(std::string_view s) {
        auto size = static_cast<Py_ssize_t>(s.size());
        PyObject* o = PyUnicode_DecodeUTF8(s.data(), size, "surrogatepass");
        if (o == nullptr) {
            PyErr_Clear();
            o = PyUnicode_DecodeUTF8(s.data(), size, "replace");
        }
        return steal(o);
    }

    py::object key(const std::string& k) {
        auto found = keys_.find(k);
        if (found != keys_.end()) return found->second;
        py::object o = string(k);
        keys_.emplace(k, o);
        return o;
    }

    void hold_back(PyObject* o) {
        if (PyObject_IS_GC(o) && PyObject_GC_IsTracked(o)) {
            PyObject_GC_UnTrack(o);
            untracked_.push_back(o);
        }
    }

    py::object fresh(const json::Value& v) {
        using Kind = json::Value::Kind;
        switch (v.kind()) {
        case Kind::Null: return py::none();
        case Kind::Boolean: return py::bool_(v.boolean());
        case Kind::Integer:
            if (v.is_big()) return steal(PyLong_FromString(v.text().c_str(), nullptr, 10));
            return steal(PyLong_FromLongLong(v.integer()));
        case Kind::Number: return steal(PyFloat_FromDouble(v.number()));
        case Kind::String: return string(v.text());
        case Kind::Array: return array(v);
        case Kind::Object: {
            py::object out = steal(PyDict_New());
            for (const auto& [k, item] : v.members()) {
                py::object value = make(item);
                if (PyDict_SetItem(out.ptr(), key(k).ptr(), value.ptr()) != 0) throw py::error_already_set();
            }
            hold_back(out.ptr());
            return out;
        }
        }
        return py::none();
    }

    py::object array(const json::Value& v) {
        const json::Items& items = v.items();
        if (v.shape() == json::Value::Shape::Range) {
            py::object high = make(items[1]) + py::int_(1);
            return py::module_::import("builtins").attr("range")(make(items[0]), high);
        }
        bool tuple = v.shape() == json::Value::Shape::Tuple;
        auto n = static_cast<Py_ssize_t>(items.size());
        py::object out = steal(tuple ? PyTuple_New(n) : PyList_New(n));
        for (Py_ssize_t k = 0; k < n; ++k) {
            PyObject* item = make(items[static_cast<std::size_t>(k)]).release().ptr();
            if (tuple)
                PyTuple_SET_ITEM(out.ptr(), k, item);
            else
                PyList_SET_ITEM(out.ptr(), k, item);
        }
        hold_back(out.ptr());
        return out;
    }
};

}  // namespace detail

/// Whether a container that several places of a value share is one object
/// of the host (a compiled model's leaves, read only) or one per place (a
/// result a caller may change).
enum class Sharing { Texts, Containers };

/// The host's objects for `v`: None, bool, int, float, str, list (a tuple
/// or range where the value's shape says so) and dict, members in order.
inline py::object to_python(const json::Value& v, Sharing sharing = Sharing::Texts) {
    detail::ObjectMaker maker(sharing == Sharing::Containers);
    py::object out = maker.make(v);
    maker.track();
    return out;
}

/// How from_python reads what is not a plain JSON value.
struct FromPython {
    /// An object of another kind (an enum member, a path) as its str(); else
    /// such an object is a TypeError.
    bool others_as_text = false;
    /// Data given to a model: numpy arrays and scalars as their plain values,
    /// a pandas DataFrame as {row label: {column: value}}, a Series as
    /// {label: value}, an Index as its labels; any mapping, a tuple key
    /// (a, b) standing for the nesting {a: {b: ...}}; keys as the data names
    /// elements; sets and tuples as lists; an int beyond 64 bits as a float;
    /// at most data::kMaxDataDepth levels deep. Anything else is a TypeError.
    bool data = false;
};

namespace detail {

/// How a host object that is no plain value is read as data, by its type's module and name.
enum class DataKind { ArrayLike, Table, Series, Labels, Other };

inline DataKind data_kind(py::handle o) {
    std::string module = str_of(py::type::handle_of(o).attr("__module__"));
    std::string name = str_of(py::type::handle_of(o).attr("__name__"));
    auto from = [&](std::string_view package) { return module.substr(0, package.size()) == package; };
    if (from("numpy")) return DataKind::ArrayLike;
    if (from("pandas")) {
        if (name == "DataFrame") return DataKind::Table;
        if (name == "Series") return DataKind::Series;
        if (name == "Index" || name == "MultiIndex") return DataKind::Labels;
    }
    return DataKind::Other;
}

/// A key as the data names an element: a text as it is, a number as written.
inline std::string key_text(py::handle key) {
    if (!PyUnicode_Check(key.ptr()) && py::hasattr(key, "item")) return key_text(key.attr("item")());
    if (PyUnicode_Check(key.ptr())) return std::string(Utf8(key).view());
    if (PyFloat_Check(key.ptr())) {
        if (auto whole = data::whole_number_key(PyFloat_AsDouble(key.ptr()))) return *whole;
    }
    return str_of(key);
}

json::Value value_from(py::handle o, const FromPython& how, std::size_t depth);

/// An int as data (beyond 64 bits, the float the host makes of it), or what
/// is data beyond the plain kinds (see FromPython::data).
inline json::Value data_from(py::handle o, const FromPython& how, std::size_t depth) {
    PyObject* p = o.ptr();
    if (PyLong_Check(p)) {
        int overflow = 0;
        long long i = PyLong_AsLongLongAndOverflow(p, &overflow);
        if (overflow == 0) return json::Value::of(static_cast<int64_t>(i));
        return json::Value::of(PyFloat_AsDouble(py::float_(py::reinterpret_borrow<py::object>(o)).ptr()));
    }
    switch (data_kind(o)) {
    case DataKind::ArrayLike:
        // Arrays and numpy scalars alike become plain Python values.
        if (py::hasattr(o, "tolist")) return value_from(o.attr("tolist")(), how, depth);
        break;
    case DataKind::Table: return value_from(o.attr("to_dict")("index"), how, depth);
    case DataKind::Series: return value_from(o.attr("to_dict")(), how, depth);
    case DataKind::Labels: return value_from(o.attr("tolist")(), how, depth);
    case DataKind::Other: break;
    }
    if (PyDict_Check(p) || py::isinstance(o, py::module_::import("collections.abc").attr("Mapping"))) {
        // A tuple key (a, b) stands for the nesting {a: {b: ...}}; the core nests.
        std::vector<std::pair<std::vector<std::string>, json::Value>> entries;
        for (auto [key, item] : py::dict(py::reinterpret_borrow<py::object>(o))) {
            // A tuple element inside a tuple key ((a, 1), k) gives its fields in turn, as (a, 1, k) does.
            std::vector<std::string> fields;
            auto add_fields = [&](auto& self, py::handle part, std::size_t level) -> void {
                if (level > data::kMaxDataDepth) throw py::value_error(data::too_deep_message());
                if (PyTuple_Check(part.ptr()) && PyTuple_GET_SIZE(part.ptr()) > 0) {
                    for (py::handle field : py::reinterpret_borrow<py::tuple>(part)) self(self, field, level + 1);
                } else {
                    fields.push_back(key_text(part));
                }
            };
            add_fields(add_fields, key, depth);
            std::size_t below = depth + fields.size();
            entries.emplace_back(std::move(fields), value_from(item, how, below));
        }
        return data::nest_keys(std::move(entries));
    }
    if (PyList_Check(p) || PyTuple_Check(p) || PyAnySet_Check(p)) {
        json::Items items;
        for (py::handle item : py::reinterpret_borrow<py::iterable>(o))
            items.push_back(value_from(item, how, depth + 1));
        return json::Value::array(std::move(items));
    }
    throw py::type_error(data::not_a_data_value_message(type_name(o)));
}

inline json::Value value_from(py::handle o, const FromPython& how, std::size_t depth) {
    PyObject* p = o.ptr();
    if (how.data) {
        if (depth > data::kMaxDataDepth) throw py::value_error(data::too_deep_message());
        bool plain = o.is_none() || PyBool_Check(p) || PyFloat_Check(p) || PyUnicode_Check(p);
        if (!plain) return data_from(o, how, depth);
    }
    if (depth > 1000) throw py::value_error("the value nests too deeply");
    if (o.is_none()) return json::Value::null();
    if (PyBool_Check(p)) return json::Value::of(p == Py_True);
    if (PyLong_Check(p)) {
        int overflow = 0;
        long long i = PyLong_AsLongLongAndOverflow(p, &overflow);
        if (i == -1 && PyErr_Occurred()) throw py::error_already_set();
        if (overflow == 0) return json::Value::of(static_cast<int64_t>(i));
        return json::Value::big_integer(str_of(py::reinterpret_borrow<py::int_>(o)));
    }
    if (PyFloat_Check(p)) return json::Value::of(PyFloat_AsDouble(p));
    if (PyUnicode_Check(p)) return json::Value::of(std::string(Utf8(o).view()));
    if (PyList_Check(p) || PyTuple_Check(p)) {
        json::Items items;
        items.reserve(static_cast<std::size_t>(Py_SIZE(p)));
        for (py::handle item : o) items.push_back(value_from(item, how, depth + 1));
        return PyTuple_Check(p) ? json::Value::tuple(std::move(items)) : json::Value::array(std::move(items));
    }
    if (PyDict_Check(p)) {
        json::Members members;
        for (auto [k, item] : py::reinterpret_borrow<py::dict>(o))
            members.emplace_back(str_of(k), value_from(item, how, depth + 1));
        return json::Value::object(std::move(members));
    }
    if (how.others_as_text) return json::Value::of(str_of(o));
    throw py::type_error("Object of type " + type_name(o) + " is not JSON serializable");
}

}  // namespace detail

/// A JSON value for the host's plain objects: None, bool, int (beyond 64
/// bits by its digits), float, str, list, tuple (a tuple-shaped array) and
/// dict (keys by their str(), members in order).
/// `depth` is how deep `o` sits in what it came from (the levels data may nest count from there).
inline json::Value from_python(py::handle o, const FromPython& how = {}, std::size_t depth = 0) {
    return detail::value_from(o, how, depth);
}

}  // namespace tarvok::host
