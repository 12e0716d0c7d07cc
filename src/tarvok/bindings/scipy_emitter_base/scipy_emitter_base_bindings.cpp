// tarvok.scipy_emitter_base: the base class of generators that turn a
// compiled Tarvok model into a SciPy script.
//
// The class is an ordinary heap type made by the host's `type` (only base:
// `object`) whose methods are C++ functions. Generators are written in Python
// and subclass it freely: instances have a plain `__dict__`, copy like any
// Python object, and every call between operations goes through the instance
// so that an override is the one that runs. The operations use the host's own
// protocols (`==`, `in`, `.get`, `+`, `*`, iteration), so they behave exactly
// as the same code written in Python would, including for subclassed values.
#include "bindings/host/host.hpp"
#include "bindings/host/module_start.hpp"
#include "bindings/scipy_emitter_base/generator_base_face.hpp"

#include <memory>
#include <string>
#include <utility>

namespace py = pybind11;
namespace host = tarvok::host;
using host::add_method;
using host::equals;
using host::text_form;
using tarvok::Face;
namespace face = tarvok::scipy_emitter::base;

namespace {

/// Unit of indentation in generated scripts.
constexpr const char* kIndentUnit = "    ";

/// Enters one level of host recursion for the lifetime of the guard, so that
/// deeply nested or self-containing indices end in RecursionError instead of
/// exhausting the C stack.
class RecursionGuard {
  public:
    explicit RecursionGuard(const char* where) {
        if (Py_EnterRecursiveCall(where) != 0) throw py::error_already_set();
    }
    ~RecursionGuard() { Py_LeaveRecursiveCall(); }
    RecursionGuard(const RecursionGuard&) = delete;
    RecursionGuard& operator=(const RecursionGuard&) = delete;
};

/// The host's `key in container`.
bool contains(py::handle container, py::handle key) {
    int found = PySequence_Contains(container.ptr(), key.ptr());
    if (found < 0) throw py::error_already_set();
    return found != 0;
}

/// The declarations of the compiled model (`ast.get("declarations", [])`)
/// named `name` and, when one is asked for, of kind `decl_type` (tested only
/// once the name matched); only the first when `first`.
py::list matching_declarations(py::handle self, py::handle name, py::handle decl_type, bool first) {
    py::list found;
    for (py::handle decl : py::iter(self.attr("ast").attr("get")("declarations", py::list()))) {
        if (!equals(decl.attr("get")("name"), name)) continue;
        if (!decl_type.is_none() && !equals(decl.attr("get")("type"), decl_type)) continue;
        found.append(decl);
        if (first) break;
    }
    return found;
}

/// The base class's own index normalisation; nested entries never reach a
/// subclass override.
py::object normalize_index(py::handle idx) {
    if (!PyList_Check(idx.ptr()) && !PyTuple_Check(idx.ptr())) return py::reinterpret_borrow<py::object>(idx);
    RecursionGuard guard(" while normalising an index");
    py::list entries;
    for (py::handle entry : py::iter(idx)) entries.append(normalize_index(entry));
    return py::tuple(entries);
}

/// One element's share of a tuple key; nested tuple literals recurse through
/// the instance's `_tuple_key`.
py::object key_contribution(py::handle self, py::handle element, py::handle env) {
    py::object same = py::reinterpret_borrow<py::object>(element);
    if (!PyDict_Check(element.ptr())) return same;
    py::object kind = element.attr("get")("type");
    if (equals(kind, py::str("name"))) {
        py::object name = element[py::str("name")];
        if (contains(env, name)) return env[name];
        return name;
    }
    if (equals(kind, py::str("number")) || equals(kind, py::str("string"))) return element[py::str("value")];
    if (equals(kind, py::str("tuple_literal"))) return self.attr("_tuple_key")(element[py::str("elements")], env);
    return same;
}

/// Adds `impl` as a staticmethod of `cls`.
template <typename Func, typename... Extra>
void add_static(py::object& cls, const Face& face, Func&& impl, const Extra&... extra) {
    std::string full = host::signed_doc(face.name, face.params, face.doc);
    py::cpp_function target(std::forward<Func>(impl), py::name(face.name), extra..., full.c_str());
    py::setattr(cls, face.name,
                py::staticmethod(host::host_function(py::handle(), cls.attr("__module__"), face.name, full, target)));
}

[[noreturn]] void not_implemented(const char* operation) {
    host::raise(PyExc_NotImplementedError, std::string("Subclasses must implement ") + operation + "()");
}

void init_generator(py::handle self, py::handle ast, py::handle data_dict) {
    py::setattr(self, "ast", ast);
    py::object data = host::truthy(data_dict) ? py::reinterpret_borrow<py::object>(data_dict) : py::dict();
    py::setattr(self, "data_dict", data);
    for (const face::Attribute& a : face::kAttributes) {
        switch (a.value) {
        case face::Fresh::List: py::setattr(self, a.name, py::list()); break;
        case face::Fresh::Dict: py::setattr(self, a.name, py::dict()); break;
        case face::Fresh::Zero: py::setattr(self, a.name, py::int_(0)); break;
        case face::Fresh::ResultsName: py::setattr(self, a.name, py::str("results")); break;
        }
    }
}

/// Gives `cls` its constructor: a plain host method whose arguments the host's
/// own parser takes, as for a function written in C. pybind11 gives any
/// function named __init__ its own constructor protocol, which only suits its
/// own classes, so the function behind it has another name.
void add_init(py::object& cls) {
    py::cpp_function parse(
        [](py::args args, py::kwargs kwargs) {
            static const char* keywords[] = {"self", "ast", "data_dict", nullptr};
            PyObject* self = nullptr;
            PyObject* ast = nullptr;
            PyObject* data_dict = Py_None;
            if (!PyArg_ParseTupleAndKeywords(args.ptr(), kwargs.ptr(), "OO|O:__init__", const_cast<char**>(keywords),
                                             &self, &ast, &data_dict))
                throw py::error_already_set();
            init_generator(self, ast, data_dict);
        },
        py::name("_init_generator"));
    std::string doc = host::signed_doc(face::kInit.name, face::kInit.params, face::kInit.doc);
    py::object init = host::host_function(py::handle(), cls.attr("__module__"), face::kInit.name, doc, parse);
    py::object method = py::reinterpret_steal<py::object>(PyInstanceMethod_New(init.ptr()));
    if (!method) throw py::error_already_set();
    py::setattr(cls, face::kInit.name, method);
}

/// Gives `cls` the signature of its constructor for inspect.signature(), which
/// reads no text signature from a builtin __init__. A class that constructs
/// differently (its own __init__ or __new__, or a metaclass __call__) sees None,
/// so inspect works out its signature as usual.
void add_constructor_signature(py::object& cls) {
    py::object type = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyType_Type));
    py::object object = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyBaseObject_Type));
    py::dict ns;
    ns["__module__"] = cls.attr("__module__");
    ns["__qualname__"] = "_ConstructorSignature";
    ns["__slots__"] = py::tuple();
    ns["__doc__"] = "The constructor signature of a generator class, made on first use.";
    py::object descriptor_cls = type("_ConstructorSignature", py::tuple(), ns);

    py::object init = cls.attr("__init__");
    py::object plain_new = object.attr("__new__");
    py::object plain_call = type.attr("__call__");
    auto cached = std::make_shared<host::Memo>();
    add_method(
        descriptor_cls, "__get__", "self, instance, owner=None",
        "The signature of `owner` when it is built by the generator base's own constructor, else None.",
        [init, plain_new, plain_call, cached](py::object, py::object instance, py::object owner) -> py::object {
            if (!instance.is_none() || owner.is_none()) return py::none();
            py::object own_init = owner.attr("__init__");
            py::object own_new = owner.attr("__new__");
            py::object own_call = py::type::handle_of(owner).attr("__call__");
            if (!own_init.is(init) || !own_new.is(plain_new) || !own_call.is(plain_call)) return py::none();
            return cached->get([&] {
                py::object signature = py::module_::import("inspect").attr("signature")(init);
                py::list parameters(signature.attr("parameters").attr("values")());
                if (PySequence_DelItem(parameters.ptr(), 0) != 0) throw py::error_already_set();  // self
                return signature.attr("replace")(py::arg("parameters") = parameters);
            });
        },
        py::arg("instance"), py::arg("owner") = py::none());
    py::setattr(cls, "__signature__", descriptor_cls());
}

void add_line_methods(py::object& cls);
void add_declaration_methods(py::object& cls);
void add_index_methods(py::object& cls);
void add_error_factories(py::object& cls);

py::object make_generator_base(py::module_& m) {
    py::dict ns;
    ns["__module__"] = m.attr("__name__");
    ns["__qualname__"] = "SciPyCodeGeneratorBase";
    ns["__doc__"] = face::kBaseDoc;
    py::object type = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyType_Type));
    py::object cls = type("SciPyCodeGeneratorBase", py::tuple(), ns);

    add_init(cls);
    add_constructor_signature(cls);
    add_line_methods(cls);
    add_declaration_methods(cls);
    add_index_methods(cls);
    add_error_factories(cls);
    return cls;
}

/// The line buffer and the build steps concrete generators define.
void add_line_methods(py::object& cls) {
    add_method(cls, face::kIndent,
               [](py::object self) -> py::object { return py::str(kIndentUnit) * self.attr("indent_level"); });
    add_method(
        cls, face::kAddCodeLine,
        [](py::object self, py::object line) {
            py::object append = self.attr("scipy_code_lines").attr("append");
            py::object prefix = self.attr("_indent")();
            append(prefix + line);
        },
        py::arg("line"));
    for (const Face& abstract : face::kAbstract) {
        const char* name = abstract.name;
        add_method(cls, abstract, [name](py::object) -> py::object { not_implemented(name); });
    }
}

/// Finding the compiled model's declarations, also under their private spellings.
void add_declaration_methods(py::object& cls) {
    // find_declaration gives the first match or None, find_declarations the list.
    for (auto [f, first] : {std::pair{face::kFindDeclaration, true}, {face::kFindDeclarations, false}}) {
        add_method(
            cls, f,
            [first](py::object self, py::object name, py::object decl_type) -> py::object {
                py::list found = matching_declarations(self, name, decl_type, first);
                if (!first) return found;
                return found.empty() ? py::none() : py::object(found[0]);
            },
            py::arg("name"), py::arg("decl_type") = py::none());
    }
    for (const auto& [alias, target] : face::kAliases) {
        add_method(
            cls, alias,
            [target](py::object self, py::object name, py::object decl_type) {
                return self.attr(target)(name, decl_type);
            },
            py::arg("name"), py::arg("decl_type") = py::none());
    }
}

/// Index normalisation and tuple keys.
void add_index_methods(py::object& cls) {
    add_static(
        cls, face::kNormalizeIndex, [](py::object idx) { return normalize_index(idx); }, py::arg("idx"));
    add_method(
        cls, face::kPrivateNormalizeIndex,
        [](py::object self, py::object idx) { return self.attr("normalize_index")(idx); }, py::arg("idx"));
    add_method(
        cls, face::kTupleKey,
        [](py::object self, py::object elements, py::object env) {
            if (env.is_none()) env = py::dict();
            RecursionGuard guard(" while building a tuple key");
            py::list key;
            for (py::handle element : py::iter(elements)) key.append(key_contribution(self, element, env));
            return py::tuple(key);
        },
        py::arg("elements"), py::arg("env") = py::none());
}

/// The errors a generator raises for what it cannot translate: the package's one SemanticError.
void add_error_factories(py::object& cls) {
    for (const face::ErrorFactory& f : face::kErrorFactories) {
        add_static(
            cls, f.face,
            [f](py::object context, py::object value) {
                py::str message = py::str("Unsupported ") + text_form(context) + py::str(f.between) + text_form(value) +
                                  py::str(f.after);
                return host::semantic_error_class()(message);
            },
            py::arg("context"), py::arg(f.value));
    }
}

}  // namespace

void tarvok_start_scipy_emitter_base(pybind11::module_& m) {
    tarvok::host::ModuleStart start(
        m, tarvok::host::modules::scipy_emitter_base,
        "Base class for generators that translate a compiled Tarvok model into a SciPy script.");
    m.attr("SemanticError") = host::semantic_error_class();
    m.attr("SciPyCodeGeneratorBase") = make_generator_base(m);
}
