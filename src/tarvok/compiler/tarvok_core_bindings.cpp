// tarvok.tarvok_core: the Tarvok compiler as the host sees it. Compiles a
// model text and a data text together and returns the compiled model as
// plain dicts and lists, or raises SemanticError with every diagnostic.
#include "host/host.hpp"
#include "compiler/compiler.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace py = pybind11;
using namespace tarvok::compiler;
using tarvok::host::Kind;

namespace {

struct TVLCompiler {};

/// Raises the module's SemanticError as it is at call time (a host may replace it).
[[noreturn]] void raise_semantic_error(const std::string& report) {
    py::object cls = tarvok::host::attr("SemanticError");
    py::object error = cls(tarvok::host::text(report));
    PyErr_SetObject(cls.ptr(), error.ptr());
    throw py::error_already_set();
}

const char* decl_kind(DeclKind kind) {
    switch (kind) {
    case DeclKind::TupleType: return "tuple";
    case DeclKind::Parameter: return "parameter";
    case DeclKind::Set: return "set";
    case DeclKind::Range: return "range";
    case DeclKind::Dvar: return "dvar";
    case DeclKind::Dexpr: return "dexpr";
    }
    return "";
}

/// Turns a finished compilation into the compiled-model dict. Large models
/// make hundreds of thousands of small dicts, so keys and repeated texts are
/// made once and the dicts are filled through the host's C interface.
class Presenter {
  public:
    explicit Presenter(const Compilation& c) : c_(c), texts_(c.ast.texts.size()) {}

    py::dict model() {
        py::list declarations(c_.model.decls.size());
        for (size_t i = 0; i < c_.model.decls.size(); ++i) declarations[i] = declaration(c_.model.decls[i]);
        py::dict out;
        out["declarations"] = declarations;
        out["objective"] = objective();
        py::list constraints(c_.model.constraints.size());
        for (size_t i = 0; i < c_.model.constraints.size(); ++i) constraints[i] = constraint(c_.model.constraints[i]);
        out["constraints"] = constraints;
        out["data"] = data();
        return out;
    }

  private:
    const Compilation& c_;
    std::vector<py::object> tuples_;  ///< host tuples by pool id, built once
    std::vector<py::object> texts_;   ///< host texts by TextId, built once
    /// Interned host texts of C literals, by the literal's address.
    std::array<std::pair<const char*, py::object>, 128> literals_{};

    const Ast& ast() const { return c_.ast; }

    py::handle text(TextId id) {
        if (!texts_[id]) texts_[id] = tarvok::host::text(ast().texts[id]);
        return texts_[id];
    }

    /// The interned host text of a literal (keys, node types, operators);
    /// there are few, and each call site passes the same pointer.
    py::handle literal(const char* s) {
        size_t slot = (reinterpret_cast<uintptr_t>(s) >> 3) % literals_.size();
        while (literals_[slot].first != nullptr && literals_[slot].first != s) slot = (slot + 1) % literals_.size();
        auto& [key, value] = literals_[slot];
        if (key == nullptr) {
            PyObject* interned = PyUnicode_InternFromString(s);
            if (interned == nullptr) throw py::error_already_set();
            key = s;
            value = py::reinterpret_steal<py::object>(interned);
        }
        return value;
    }

    void set(py::dict& d, const char* key, py::handle value) {
        if (PyDict_SetItem(d.ptr(), literal(key).ptr(), value.ptr()) != 0) throw py::error_already_set();
    }

    py::dict node(const char* type) {
        py::dict d;
        set(d, "type", literal(type));
        return d;
    }

    py::object optional(ExprId id) { return id == kNone ? py::none() : expr(id); }

    py::list list(ExprId id) {
        const Expr& e = ast()[id];
        py::list out(e.count);
        for (uint32_t i = 0; i < e.count; ++i) out[i] = expr(ast().links[e.first + i].expr);
        return out;
    }

    py::dict binary(const char* op, py::object left, py::object right) {
        py::dict d = node("binary");
        set(d, "op", literal(op));
        set(d, "left", left);
        set(d, "right", right);
        return d;
    }

    py::list bindings(uint32_t first, uint32_t count) {
        py::list out(count);
        for (uint32_t i = 0; i < count; ++i) {
            py::dict b;
            set(b, "name", text(ast().bindings[first + i].name));
            set(b, "set", expr(ast().bindings[first + i].domain));
            out[i] = b;
        }
        return out;
    }

    const char* name_kind(const Expr& e) const {
        if (e.ref_kind == RefKind::Binding) return "binding";
        if (e.ref_kind == RefKind::Declaration) return decl_kind(c_.model.decls[e.ref].kind);
        return "unknown";
    }

    py::object expr(ExprId id) {
        const Expr& e = ast()[id];
        switch (e.kind) {
        case ExprKind::Number: {
            py::dict d = node("number");
            const Number& n = ast().numbers[e.number()];
            set(d, "value", n.is_int ? py::object(py::int_(n.integer)) : py::object(py::float_(n.real)));
            return d;
        }
        case ExprKind::String: {
            py::dict d = node("string");
            set(d, "value", text(e.text()));
            return d;
        }
        case ExprKind::Bool: {
            py::dict d = node("boolean");
            set(d, "value", py::bool_(e.flag));
            return d;
        }
        case ExprKind::Name: {
            py::dict d = node("name");
            set(d, "name", text(e.text()));
            set(d, "kind", literal(name_kind(e)));
            return d;
        }
        case ExprKind::Index: {
            py::dict d = node("index");
            const Expr& target = ast()[e.target()];
            set(d, "name", text(target.text()));
            set(d, "kind", literal(name_kind(target)));
            set(d, "indices", list(id));
            return d;
        }
        case ExprKind::Field: {
            py::dict d = node("field");
            set(d, "tuple", expr(e.tuple()));
            set(d, "field", text(e.text()));
            return d;
        }
        case ExprKind::TupleLiteral: {
            py::dict d = node("tuple_literal");
            set(d, "elements", list(id));
            return d;
        }
        case ExprKind::SetLiteral: {
            py::dict d = node("set_literal");
            set(d, "elements", list(id));
            return d;
        }
        case ExprKind::ArrayLiteral: {
            py::dict d = node("array_literal");
            set(d, "elements", list(id));
            return d;
        }
        case ExprKind::Range: {
            py::dict d = node("range");
            set(d, "low", expr(e.low()));
            set(d, "high", expr(e.high()));
            return d;
        }
        case ExprKind::Unary: {
            py::dict d = node("unary");
            set(d, "op", literal(op_text(e.op)));
            set(d, "operand", expr(e.operand()));
            return d;
        }
        case ExprKind::Chain: {
            // Left-deep, built in a loop: a long sum costs no native stack.
            const Link* links = ast().links_of(e);
            py::object acc = expr(links[0].expr);
            for (uint32_t i = 1; i < e.count; ++i) acc = binary(op_text(links[i].op), acc, expr(links[i].expr));
            return acc;
        }
        case ExprKind::Compare: return binary(op_text(e.op), expr(e.left), expr(e.right));
        case ExprKind::In: return binary("in", expr(e.left), expr(e.right));
        case ExprKind::Aggregate: {
            py::dict d = node(op_text(e.op));
            set(d, "bindings", bindings(e.first, e.count));
            set(d, "condition", optional(e.condition()));
            set(d, "body", expr(e.body()));
            return d;
        }
        case ExprKind::Abs: case ExprKind::Card: {
            py::dict d = node(e.kind == ExprKind::Abs ? "abs" : "card");
            set(d, "argument", expr(e.operand()));
            return d;
        }
        }
        return py::none();
    }

    std::string value_type_text(const Declaration& d) const { return type_text(d.type, ast()); }

    void place(py::dict& d, const Location& at) {
        set(d, "line", py::int_(at.line));
        set(d, "column", py::int_(at.column));
    }

    py::dict declaration(const Declaration& decl) {
        py::dict d;
        set(d, "name", text(decl.name));
        set(d, "type", literal(decl_kind(decl.kind)));
        if (decl.kind == DeclKind::TupleType) {
            py::list fields;
            for (const TupleField& f : decl.fields) {
                py::dict field;
                set(field, "name", text(f.name));
                set(field, "value_type", tarvok::host::text(type_text(f.type, ast())));
                fields.append(field);
            }
            set(d, "fields", fields);
            place(d, decl.at);
            return d;
        }
        set(d, "value_type", tarvok::host::text(value_type_text(decl)));
        switch (decl.kind) {
        case DeclKind::Parameter: case DeclKind::Dvar: {
            py::list dims;
            for (ExprId dim : decl.dims) dims.append(expr(dim));
            set(d, "dimensions", dims);
            break;
        }
        default: break;
        }
        switch (decl.kind) {
        case DeclKind::Parameter: case DeclKind::Set:
            set(d, "initializer", optional(decl.init));
            set(d, "from_data", py::bool_(decl.init == kNone));
            break;
        case DeclKind::Range:
            set(d, "low", expr(ast()[decl.init].low()));
            set(d, "high", expr(ast()[decl.init].high()));
            break;
        case DeclKind::Dvar: {
            set(d, "nonnegative", py::bool_(decl.nonnegative));
            if (decl.bounds == kNone) {
                set(d, "bounds", py::none());
            } else {
                py::dict bounds;
                set(bounds, "low", expr(ast()[decl.bounds].low()));
                set(bounds, "high", expr(ast()[decl.bounds].high()));
                set(d, "bounds", bounds);
            }
            break;
        }
        case DeclKind::Dexpr: set(d, "expression", expr(decl.init)); break;
        default: break;
        }
        place(d, decl.at);
        return d;
    }

    py::object objective() {
        const Objective& o = c_.model.objective;
        if (!o.present) return py::none();
        py::dict d;
        set(d, "sense", literal(o.maximize ? "maximize" : "minimize"));
        set(d, "label", o.label == kNone ? py::handle(Py_None) : text(o.label));
        set(d, "expression", expr(o.expr));
        place(d, o.at);
        return d;
    }

    py::dict constraint(const Constraint& k) {
        std::vector<uint32_t> chain;
        for (uint32_t f = k.forall; f != kNone; f = c_.model.foralls[f].parent) chain.insert(chain.begin(), f);
        py::list all_bindings;
        py::object condition = py::none();
        for (uint32_t f : chain) {
            const Forall& forall = c_.model.foralls[f];
            for (py::handle b : bindings(forall.first_binding, forall.binding_count)) all_bindings.append(b);
            if (forall.condition == kNone) continue;
            py::object cond = expr(forall.condition);
            condition = condition.is_none() ? cond : py::object(binary("&&", condition, cond));
        }
        py::dict d;
        set(d, "label", k.label == kNone ? py::handle(Py_None) : text(k.label));
        set(d, "bindings", all_bindings);
        set(d, "condition", condition);
        if (k.middle == kNone) {
            set(d, "operator", literal(op_text(k.op)));
            set(d, "left", expr(k.left));
            set(d, "right", expr(k.right));
        } else {
            set(d, "operator", literal("range"));
            set(d, "low", expr(k.left));
            set(d, "expression", expr(k.middle));
            set(d, "high", expr(k.right));
        }
        place(d, k.at);
        return d;
    }

    // ------------------------------------------------------------- data ----

    py::object value(const Value& v) {
        switch (v.kind) {
        case VKind::Unknown: return py::none();
        case VKind::Int: return py::int_(v.i);
        case VKind::Float: return py::float_(v.f);
        case VKind::Bool: return py::bool_(v.i != 0);
        case VKind::String: return py::reinterpret_borrow<py::object>(text(v.id));
        case VKind::Tuple: {
            if (tuples_.size() <= v.id) tuples_.resize(v.id + 1);
            if (!tuples_[v.id]) {
                const std::vector<Value>& elements = c_.values.tuples[v.id];
                py::tuple t(elements.size());
                for (size_t i = 0; i < elements.size(); ++i) t[i] = value(elements[i]);
                tuples_[v.id] = t;
            }
            return tuples_[v.id];
        }
        }
        return py::none();
    }

    py::object domain(const Domain& d) {
        if (d.is_range)
            return py::module_::import("builtins").attr("range")(py::int_(d.low), py::int_(d.high) + py::int_(1));
        py::list out(d.elements.size());
        for (size_t i = 0; i < d.elements.size(); ++i) out[i] = value(d.elements[i]);
        return out;
    }

    py::object cells(const ArrayValue& a, size_t level, size_t& next) {
        uint64_t n = a.dims[level]->size();
        py::list out(n);
        for (uint64_t i = 0; i < n; ++i)
            out[i] = level + 1 == a.dims.size() ? value(a.cells[next++]) : cells(a, level + 1, next);
        return out;
    }

    py::dict data() {
        py::dict out;
        for (size_t i = 0; i < c_.model.decls.size(); ++i) {
            const Declaration& d = c_.model.decls[i];
            const DeclValue& dv = c_.values.decls[i];
            if (!dv.known) continue;
            py::object v;
            if (d.kind == DeclKind::Set || d.kind == DeclKind::Range) {
                v = domain(*dv.set);
            } else if (d.kind == DeclKind::Parameter && dv.array) {
                size_t next = 0;
                v = cells(*dv.array, 0, next);
            } else if (d.kind == DeclKind::Parameter) {
                v = value(dv.scalar);
            } else {
                continue;
            }
            out[text(d.name)] = v;
        }
        return out;
    }
};

py::dict compile_texts(std::string_view model, std::string_view data) {
    std::unique_ptr<Compilation> c;
    {
        py::gil_scoped_release release;
        c = compile(model, data);
    }
    if (!c->ok()) raise_semantic_error(c->report());
    return Presenter(*c).model();
}

int main_entry(py::object argv) {
    py::object sys = py::module_::import("sys");
    auto print = [&](const std::string& line, bool error) {
        py::print(tarvok::host::text(line), py::arg("file") = sys.attr(error ? "stderr" : "stdout"));
    };
    const char* usage = "usage: tarvok check MODEL.mod DATA.dat";
    py::list args;
    if (argv.is_none()) {
        py::list all(sys.attr("argv"));
        for (size_t i = 1; i < all.size(); ++i) args.append(all[i]);
    } else {
        args = py::list(argv);
    }
    if (args.size() == 1 && (py::str(args[0]).cast<std::string>() == "-h" ||
                             py::str(args[0]).cast<std::string>() == "--help")) {
        print(std::string(usage) + "\nCompiles a Tarvok model with its data; prints OK or the errors.", false);
        return 0;
    }
    if (args.size() != 2) {
        print(usage, true);
        return 2;
    }
    std::string texts[2];
    for (size_t i = 0; i < 2; ++i) {
        try {
            texts[i] = tarvok::host::read_file(args[i], "rb").cast<std::string>();
        } catch (py::error_already_set& e) {
            if (!e.matches(PyExc_OSError)) throw;
            print("tarvok check: cannot read " + py::str(args[i]).cast<std::string>() + ": " +
                      py::str(e.value()).cast<std::string>(),
                  true);
            return 2;
        }
    }
    std::unique_ptr<Compilation> c;
    {
        py::gil_scoped_release release;
        c = compile(texts[0], texts[1]);
    }
    if (!c->ok()) {
        print(c->report(), false);
        return 1;
    }
    print("OK", false);
    return 0;
}

}  // namespace

PYBIND11_MODULE(tarvok_core, m, py::mod_gil_not_used()) {
    py::options options;
    options.disable_function_signatures();
    m.doc() = "The Tarvok compiler: checks a model text and a data text together.";
    tarvok::host::hold_module(m);

    m.attr("SemanticError") = tarvok::host::import_sibling(m, "semantic_error").attr("SemanticError");

    py::class_<TVLCompiler>(m, "TVLCompiler", "Compiler for Tarvok model and data texts.")
        .def(py::init<>(), tarvok::host::signed_doc("__init__", "self", "Create a compiler.").c_str())
        .def(
            "compile_model",
            [](TVLCompiler&, py::object model_text, py::object data_text) -> py::dict {
                tarvok::host::require(model_text, "compile_model", "model_text", Kind::Str);
                tarvok::host::require(data_text, "compile_model", "data_text", Kind::Str);
                tarvok::host::Utf8 model(model_text);
                tarvok::host::Utf8 data(data_text);
                py::dict compiled = compile_texts(model.view(), data.view());
                // The texts themselves, for generators that expand the model again.
                py::dict source;
                source["model"] = model_text;
                source["data"] = data_text;
                compiled["source"] = source;
                return compiled;
            },
            py::arg("model_text"), py::arg("data_text"),
            tarvok::host::signed_doc(
                "compile_model", "self, model_text, data_text",
                "Compile a model text together with its data text.\n\n"
                "Returns the compiled model: a dict with \"declarations\", \"objective\", \"constraints\", "
                "\"data\" and\n\"source\" ({\"model\": model_text, \"data\": data_text}, the texts given).\n"
                "Raises SemanticError whose text lists every error found, one per line as "
                "'model:LINE:COLUMN: message' (or 'data:...'),\neach followed by the offending line and a caret.")
                .c_str());

    tarvok::host::def(m, "main", "argv=None",
                      "Check a model file with its data file from the command line.\n\n"
                      "argv holds the two paths (default: sys.argv[1:]). Prints OK or the errors and returns the "
                      "exit status:\n0 when the pair compiles, 1 when it does not, 2 for wrong arguments or "
                      "unreadable files.",
                      [](py::object argv) { return main_entry(argv); }, py::arg("argv") = py::none());
}
