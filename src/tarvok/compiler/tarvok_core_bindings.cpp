// tarvok.tarvok_core: the Tarvok compiler as the host sees it. Compiles a
// model text and a data text together and returns the compiled model as
// plain dicts and lists, or raises SemanticError with every diagnostic.
#include "common/terminal_text.hpp"
#include "compiler/check_command.hpp"
#include "compiler/compiler.hpp"
#include "compiler/diagnostic_records.hpp"
#include "host/data_values.hpp"
#include "host/host.hpp"
#include "solver/program.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace py = pybind11;
using namespace tarvok::compiler;
using tarvok::host::Kind;

namespace {

struct TVLCompiler {};

using tarvok::compiler::records::diagnostic_records;
using tarvok::compiler::records::file_text;

// Host objects are made through the C interface and checked, so that a failed
// allocation reaches the caller as the host's own MemoryError.
template <typename T = py::object>
T made(PyObject* object) {
    if (object == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<T>(object);
}
py::dict new_dict() { return made<py::dict>(PyDict_New()); }
py::list new_list(size_t size = 0) { return made<py::list>(PyList_New(static_cast<Py_ssize_t>(size))); }
py::object integer(int64_t v) { return made(PyLong_FromLongLong(v)); }
py::object real(double v) { return made(PyFloat_FromDouble(v)); }
py::object text_of(std::string_view s) { return tarvok::host::text(s); }

/// Puts `value` at `index` of a list made by new_list.
void put(py::list& list, size_t index, py::handle value) {
    PyList_SET_ITEM(list.ptr(), static_cast<Py_ssize_t>(index), value.inc_ref().ptr());
}

void append(py::list& list, py::handle value) {
    if (PyList_Append(list.ptr(), value.ptr()) != 0) throw py::error_already_set();
}

void set_item(py::dict& d, const char* key, py::handle value) {
    if (PyDict_SetItemString(d.ptr(), key, value.ptr()) != 0) throw py::error_already_set();
}

/// Raises the module's SemanticError as it is at call time (a host may replace it).
[[noreturn]] void raise_semantic_error(const Compilation& c) {
    py::object cls = tarvok::host::attr("SemanticError");
    py::object error = cls(tarvok::host::text(c.report()));
    error.attr("diagnostics") = diagnostic_records(c, true);
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
/// made once, leaf nodes with the same content are one shared dict, a run of
/// three or more operands at one precedence is one "chain" node, and the
/// dicts are filled through the host's C interface.
class Presenter {
  public:
    explicit Presenter(const Compilation& c) : c_(c), texts_(c.ast.texts.size()), strings_(c.ast.texts.size()) {}

    py::dict model() {
        py::dict out = build();
        // The containers go back under the collector's watch all at once (see done()).
        for (PyObject* o : untracked_)
            if (!PyObject_GC_IsTracked(o)) PyObject_GC_Track(o);
        return out;
    }

  private:
    py::dict build() {
        py::list declarations = new_list(c_.model.decls.size());
        for (size_t i = 0; i < c_.model.decls.size(); ++i) put(declarations, i, declaration(c_.model.decls[i]));
        py::dict out = new_dict();
        set(out, "declarations", declarations);
        set(out, "objective", objective());
        py::list constraints = new_list(c_.model.constraints.size());
        for (size_t i = 0; i < c_.model.constraints.size(); ++i)
            put(constraints, i, constraint(c_.model.constraints[i]));
        set(out, "constraints", constraints);
        set(out, "data", data());
        set(out, "warnings", diagnostic_records(c_, false));
        return out;
    }

    const Compilation& c_;
    std::vector<py::object> tuples_;                  ///< host tuples by pool id, built once
    std::vector<py::object> texts_;                   ///< host texts by TextId, built once
    std::vector<py::object> strings_;                 ///< string leaf nodes by TextId
    std::unordered_map<uint64_t, py::object> names_;  ///< name leaf nodes by TextId and kind
    std::unordered_map<uint64_t, py::object> ints_;   ///< int leaf nodes by value
    std::unordered_map<uint64_t, py::object> reals_;  ///< float leaf nodes by bits
    std::array<py::object, 2> booleans_;              ///< boolean leaf nodes
    uint32_t built_ = 0;                              ///< nodes and values built, for `poll`
    /// Finished containers kept from the cyclic garbage collector while the
    /// result is built: a tree of millions of fresh containers would
    /// otherwise be traversed by collection after collection. The tree holds
    /// no cycles, so nothing is lost if building stops half-way.
    std::vector<PyObject*> untracked_;

    template <typename T>
    T& done(T& container) {
        if (PyObject_GC_IsTracked(container.ptr())) {
            PyObject_GC_UnTrack(container.ptr());
            untracked_.push_back(container.ptr());
        }
        return container;
    }
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
        py::dict d = new_dict();
        set(d, "type", literal(type));
        return done(d);
    }

    py::object optional(ExprId id) { return id == kNone ? py::none() : expr(id); }

    py::list list(ExprId id) {
        const Expr& e = ast()[id];
        py::list out = new_list(e.count);
        for (uint32_t i = 0; i < e.count; ++i) put(out, i, expr(ast().links[e.first + i].expr));
        return done(out);
    }

    py::dict binary(const char* op, py::handle left, py::handle right) {
        py::dict d = node("binary");
        set(d, "op", literal(op));
        set(d, "left", left);
        set(d, "right", right);
        return done(d);
    }

    py::list bindings(uint32_t first, uint32_t count) {
        py::list out = new_list(count);
        for (uint32_t i = 0; i < count; ++i) put(out, i, binding(first + i));
        return done(out);
    }

    py::dict binding(uint32_t index) {
        py::dict b = new_dict();
        set(b, "name", text(ast().bindings[index].name));
        set(b, "set", expr(ast().bindings[index].domain));
        return done(b);
    }

    const char* name_kind(const Expr& e) const {
        if (e.ref_kind == RefKind::Binding) return "binding";
        if (e.ref_kind == RefKind::Declaration) return decl_kind(c_.model.decls[e.ref].kind);
        return "unknown";
    }

    /// Lets Ctrl-C through while a large result is built (the GIL is held).
    void poll() {
        if ((++built_ & 4095) == 0 && PyErr_CheckSignals() != 0) throw py::error_already_set();
    }

    // Leaves: one dict per distinct content.

    py::object number(const Number& n) {
        uint64_t bits = 0;
        if (n.is_int)
            bits = static_cast<uint64_t>(n.integer);
        else
            std::memcpy(&bits, &n.real, sizeof bits);
        py::object& shared = (n.is_int ? ints_ : reals_)[bits];
        if (!shared) {
            py::dict d = node("number");
            set(d, "value", n.is_int ? integer(n.integer) : real(n.real));
            shared = d;
        }
        return shared;
    }

    py::object name(const Expr& e) {
        const char* kind = name_kind(e);
        py::object& shared = names_[static_cast<uint64_t>(e.text()) << 8 | name_code(e)];
        if (!shared) {
            py::dict d = node("name");
            set(d, "name", text(e.text()));
            set(d, "kind", literal(kind));
            shared = d;
        }
        return shared;
    }

    uint64_t name_code(const Expr& e) const {
        if (e.ref_kind == RefKind::Binding) return 1;
        if (e.ref_kind == RefKind::Declaration) return 2 + static_cast<uint64_t>(c_.model.decls[e.ref].kind);
        return 0;
    }

    py::object string_leaf(const Expr& e) {
        py::object& shared = strings_[e.text()];
        if (!shared) {
            py::dict d = node("string");
            set(d, "value", text(e.text()));
            shared = d;
        }
        return shared;
    }

    py::object boolean_leaf(const Expr& e) {
        py::object& shared = booleans_[e.flag ? 1 : 0];
        if (!shared) {
            py::dict d = node("boolean");
            set(d, "value", e.flag ? Py_True : Py_False);
            shared = d;
        }
        return shared;
    }

    /// A tuple, set or array literal: its elements in order.
    py::object elements(const char* kind, ExprId id) {
        py::dict d = node(kind);
        set(d, "elements", list(id));
        return done(d);
    }

    py::object chain(const Expr& e) {
        const Link* links = ast().links_of(e);
        if (e.count == 2) return binary(op_text(links[1].op), expr(links[0].expr), expr(links[1].expr));
        // One node for the whole run, built in a loop: a long sum costs no
        // native stack and one list slot per operand.
        py::dict d = node("chain");
        py::list operands = new_list(e.count);
        py::list operators = new_list(e.count - 1);
        for (uint32_t i = 0; i < e.count; ++i) {
            put(operands, i, expr(links[i].expr));
            if (i > 0) put(operators, i - 1, literal(op_text(links[i].op)));
        }
        set(d, "operands", done(operands));
        set(d, "operators", done(operators));
        return done(d);
    }

    py::object aggregate(const Expr& e) {
        py::dict d = node(op_text(e.op));
        set(d, "bindings", bindings(e.first, e.count));
        set(d, "condition", optional(e.condition()));
        set(d, "body", expr(e.body()));
        return done(d);
    }

    /// A node with one or two expressions under names of its own.
    py::object with_parts(const char* kind, std::initializer_list<std::pair<const char*, py::handle>> parts) {
        py::dict d = node(kind);
        for (const auto& [key, value] : parts) set(d, key, value);
        return done(d);
    }

    py::object index(ExprId id, const Expr& e) {
        py::dict d = node("index");
        const Expr& target = ast()[e.target()];
        set(d, "name", text(target.text()));
        set(d, "kind", literal(name_kind(target)));
        set(d, "indices", list(id));
        return done(d);
    }

    py::object expr(ExprId id) {
        poll();
        const Expr& e = ast()[id];
        switch (e.kind) {
        case ExprKind::Number: return number(e.number());
        case ExprKind::String: return string_leaf(e);
        case ExprKind::Bool: return boolean_leaf(e);
        case ExprKind::Name: return name(e);
        case ExprKind::Index: return index(id, e);
        case ExprKind::Field: return with_parts("field", {{"tuple", expr(e.tuple())}, {"field", text(e.text())}});
        case ExprKind::TupleLiteral: return elements("tuple_literal", id);
        case ExprKind::SetLiteral: return elements("set_literal", id);
        case ExprKind::ArrayLiteral: return elements("array_literal", id);
        case ExprKind::Range: return with_parts("range", {{"low", expr(e.low())}, {"high", expr(e.high())}});
        case ExprKind::Unary:
            return with_parts("unary", {{"op", literal(op_text(e.op))}, {"operand", expr(e.operand())}});
        case ExprKind::Chain: return chain(e);
        case ExprKind::Compare: return binary(op_text(e.op), expr(e.left), expr(e.right));
        case ExprKind::In: return binary("in", expr(e.left), expr(e.right));
        case ExprKind::Aggregate: return aggregate(e);
        case ExprKind::Abs:
        case ExprKind::Card:
            return with_parts(e.kind == ExprKind::Abs ? "abs" : "card", {{"argument", expr(e.operand())}});
        }
        return py::none();
    }

    void place(py::dict& d, const Location& at) {
        set(d, "line", integer(at.line));
        set(d, "column", integer(at.column));
    }

    py::dict declaration(const Declaration& decl) {
        py::dict d = new_dict();
        set(d, "name", text(decl.name));
        set(d, "type", literal(decl_kind(decl.kind)));
        if (decl.kind == DeclKind::TupleType) {
            py::list fields = new_list(decl.fields.size());
            for (size_t i = 0; i < decl.fields.size(); ++i) {
                py::dict field = new_dict();
                set(field, "name", text(decl.fields[i].name));
                set(field, "value_type", text_of(type_text(decl.fields[i].type, ast())));
                put(fields, i, done(field));
            }
            set(d, "fields", done(fields));
            place(d, decl.at);
            return done(d);
        }
        set(d, "value_type", text_of(type_text(decl.type, ast())));
        if (decl.kind == DeclKind::Parameter || decl.kind == DeclKind::Dvar) {
            py::list dims = new_list(decl.dims.size());
            for (size_t i = 0; i < decl.dims.size(); ++i) put(dims, i, expr(decl.dims[i]));
            set(d, "dimensions", done(dims));
        }
        switch (decl.kind) {
        case DeclKind::Parameter:
        case DeclKind::Set:
            set(d, "initializer", optional(decl.init));
            set(d, "from_data", decl.init == kNone ? Py_True : Py_False);
            break;
        case DeclKind::Range:
            set(d, "low", expr(ast()[decl.init].low()));
            set(d, "high", expr(ast()[decl.init].high()));
            break;
        case DeclKind::Dvar: {
            set(d, "nonnegative", decl.nonnegative ? Py_True : Py_False);
            if (decl.bounds == kNone) {
                set(d, "bounds", Py_None);
            } else {
                py::dict bounds = new_dict();
                set(bounds, "low", expr(ast()[decl.bounds].low()));
                set(bounds, "high", expr(ast()[decl.bounds].high()));
                set(d, "bounds", done(bounds));
            }
            break;
        }
        case DeclKind::Dexpr: set(d, "expression", expr(decl.init)); break;
        default: break;
        }
        place(d, decl.at);
        return done(d);
    }

    py::object objective() {
        const Objective& o = c_.model.objective;
        if (!o.present) return py::none();
        py::dict d = new_dict();
        set(d, "sense", literal(o.maximize ? "maximize" : "minimize"));
        set(d, "label", o.label == kNone ? py::handle(Py_None) : text(o.label));
        set(d, "expression", expr(o.expr));
        place(d, o.at);
        return done(d);
    }

    py::dict constraint(const Constraint& k) {
        std::vector<uint32_t> chain;
        for (uint32_t f = k.forall; f != kNone; f = c_.model.foralls[f].parent) chain.insert(chain.begin(), f);
        py::list all_bindings = new_list();
        py::object condition = py::none();
        for (uint32_t f : chain) {
            const Forall& forall = c_.model.foralls[f];
            for (uint32_t b = 0; b < forall.binding_count; ++b) append(all_bindings, binding(forall.first_binding + b));
            if (forall.condition == kNone) continue;
            py::object cond = expr(forall.condition);
            condition = condition.is_none() ? cond : py::object(binary("&&", condition, cond));
        }
        py::dict d = new_dict();
        set(d, "label", k.label == kNone ? py::handle(Py_None) : text(k.label));
        set(d, "bindings", done(all_bindings));
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
        return done(d);
    }

    // ------------------------------------------------------------- data ----

    py::object value(const Value& v) {
        poll();
        switch (v.kind) {
        case VKind::Unknown: return py::none();
        case VKind::Int: return integer(v.i);
        case VKind::Float: return real(v.f);
        case VKind::Bool: return py::reinterpret_borrow<py::object>(v.i != 0 ? Py_True : Py_False);
        case VKind::String: return py::reinterpret_borrow<py::object>(text(v.id));
        case VKind::Tuple: {
            if (tuples_.size() <= v.id) tuples_.resize(v.id + 1);
            if (!tuples_[v.id]) {
                const std::vector<Value>& elements = c_.values.tuples[v.id];
                auto t = made<py::tuple>(PyTuple_New(static_cast<Py_ssize_t>(elements.size())));
                for (size_t i = 0; i < elements.size(); ++i)
                    PyTuple_SET_ITEM(t.ptr(), static_cast<Py_ssize_t>(i), value(elements[i]).release().ptr());
                tuples_[v.id] = done(t);
            }
            return tuples_[v.id];
        }
        }
        return py::none();
    }

    py::object domain(const Domain& d) {
        if (d.is_range) {
            py::object high = integer(d.high);
            return py::module_::import("builtins").attr("range")(integer(d.low), high + py::int_(1));
        }
        py::list out = new_list(d.elements.size());
        for (size_t i = 0; i < d.elements.size(); ++i) put(out, i, value(d.elements[i]));
        return done(out);
    }

    py::object cells(const ArrayValue& a, size_t level, size_t& next) {
        uint64_t n = a.dims[level]->size();
        py::list out = new_list(n);
        for (uint64_t i = 0; i < n; ++i)
            put(out, i, level + 1 == a.dims.size() ? value(a.cells[next++]) : cells(a, level + 1, next));
        return done(out);
    }

    py::dict data() {
        py::dict out = new_dict();
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
            if (PyDict_SetItem(out.ptr(), text(d.name).ptr(), v.ptr()) != 0) throw py::error_already_set();
        }
        return done(out);
    }
};

/// The default of MAX_SIZE: the most columns (and rows) a model may expand to.
constexpr long long kDefaultMaxSize = 50'000'000;

/// A size limit as `--max-size` and MAX_SIZE give it: a whole number, at
/// least 1, or None for no limit of the compiler's own. `what` names it in errors.
SizeLimits size_limits(py::handle value, const std::string& what) {
    if (value.is_none()) return {UINT64_MAX, UINT64_MAX, UINT64_MAX};
    if (!tarvok::host::is_exact(value, Kind::Int))
        throw py::type_error(what + " must be a whole number of columns and rows, or None, not " +
                             tarvok::host::type_name(value));
    long long n = tarvok::host::saturated(value);
    if (n < 1) tarvok::host::raise(PyExc_ValueError, what + " must be at least 1, not " + tarvok::host::str_of(value));
    return SizeLimits::of_size(static_cast<uint64_t>(n));
}

/// The size limit as the module's MAX_SIZE stands now.
SizeLimits size_setting() { return size_limits(tarvok::host::attr("MAX_SIZE"), "MAX_SIZE"); }

/// Compiles with the GIL released; Ctrl-C stops the compilation within
/// milliseconds and raises KeyboardInterrupt.
std::unique_ptr<Compilation> compile_interruptibly(std::string_view model, std::string_view data,
                                                   const SizeLimits& sizes) {
    // The C++ runtime keeps its exception state in thread-local storage that
    // it allocates on first use; were that first use a failed allocation,
    // the process would abort instead of raising MemoryError.
    static thread_local volatile int touched = 0;
    touched = std::uncaught_exceptions();  // declared pure: without a use the call would be dropped
    try {
        return tarvok::host::interruptible([&](tarvok::Interrupt* interrupt) {
            CompileOptions options;
            options.interrupt = interrupt;
            options.sizes = sizes;
            return compile(model, data, options);
        });
    } catch (const std::bad_alloc&) {
        tarvok::host::raise(PyExc_MemoryError, "not enough memory to compile the model and data (" +
                                                   std::to_string((model.size() + data.size()) >> 10) + " KB of text)");
    }
}

/// The verdict of `check`: the texts compiled and, when they compile and
/// `expand`, expanded as running the model would (a fault only the expansion
/// meets, such as a product of data beyond what the solver reads, is reported
/// where it is), all with the GIL released and Ctrl-C watched.
std::shared_ptr<tarvok::solver::Source> check_interruptibly(const std::string& model, const std::string& data,
                                                            const SizeLimits& sizes, bool expand) {
    static thread_local volatile int touched = 0;  // see compile_interruptibly
    touched = std::uncaught_exceptions();
    bool compiled = false;
    try {
        return tarvok::host::interruptible([&](tarvok::Interrupt* interrupt) {
            tarvok::solver::InstantiateOptions options;
            options.compile.interrupt = interrupt;
            options.compile.sizes = sizes;
            std::shared_ptr<tarvok::solver::Source> source =
                tarvok::solver::compile_source(model, data, options.compile);
            compiled = true;
            if (expand && source->compilation->ok()) {
                try {
                    tarvok::solver::instantiate(source, options);  // its faults land in the compilation
                } catch (const tarvok::solver::ModelError&) {
                }
            }
            return source;
        });
    } catch (const std::bad_alloc&) {
        if (compiled) tarvok::host::raise(PyExc_MemoryError, "not enough memory to expand the model into a program");
        tarvok::host::raise(PyExc_MemoryError, "not enough memory to compile the model and data (" +
                                                   std::to_string((model.size() + data.size()) >> 10) + " KB of text)");
    }
}

py::dict compile_texts(std::string_view model, std::string_view data) {
    std::unique_ptr<Compilation> c = compile_interruptibly(model, data, size_setting());
    try {
        if (!c->ok()) raise_semantic_error(*c);
        std::vector<ExprInfo>().swap(c->analysis.info);  // the result needs none of it: room for the dicts
        return Presenter(*c).model();
    } catch (const std::bad_alloc&) {
        tarvok::host::raise(PyExc_MemoryError, "not enough memory to build the compiled model");
    }
}

/// A path as a terminal can show it, whatever bytes the file name holds.
std::string shown_path(py::handle path) {
    py::module_ os = py::module_::import("os");
    py::object raw = os.attr("fsencode")(os.attr("fspath")(path));
    return py::str(raw.attr("decode")("utf-8", "replace")).cast<std::string>();
}

/// `tarvok check`'s output: human-readable lines show what a terminal would act on as escapes; JSON keeps it exact.
void write_out(const std::string& text, bool error) {
    py::object stream = py::module_::import("sys").attr(error ? "stderr" : "stdout");
    stream.attr("write")(tarvok::host::text(text + "\n"));
    stream.attr("flush")();
}

void print_out(const std::string& line, bool error) { write_out(tarvok::terminal::shown(line), error); }

std::string json_text(py::handle value) {
    return tarvok::host::str_of(
        py::module_::import("json").attr("dumps")(value, py::arg("indent") = 2, py::arg("ensure_ascii") = false));
}

/// A refusal is one line on stderr, or with --json one object on stdout; status 2.
int refuse_check(const tarvok::compiler::CheckRefusal& refusal, bool as_json) {
    if (!as_json) {
        print_out(refusal.line, true);
    } else {
        py::dict error = new_dict();
        set_item(error, "error", tarvok::host::text(refusal.message));
        set_item(error, "status", integer(2));
        write_out(json_text(error), false);
    }
    return 2;
}

/// The diagnostics of a checked pair, printed; the exit status.
int report_check(const Compilation& c, const std::vector<py::object>& paths, bool as_json) {
    FileNames names{shown_path(paths[0]), paths.size() > 1 ? shown_path(paths[1]) : std::string("data")};
    if (as_json) {
        py::list all = diagnostic_records(c, true);
        for (py::handle r : all) {
            bool model = py::str(r["file"]).cast<std::string>() == "model";
            r[py::str("path")] = paths.size() > 1 || model
                                     ? py::object(tarvok::host::text(model ? names.model : names.data))
                                     : py::object(py::none());
        }
        write_out(json_text(all), false);
        return c.ok() ? 0 : 1;
    }
    std::string report = render_for_files(c.diagnostics, c.model_text, c.data_text, names);
    if (!report.empty()) print_out(report, false);
    if (!c.ok()) return 1;
    print_out(tarvok::compiler::check_ok_line(c.diagnostics.warnings().size()), false);
    return 0;
}

int main_entry(py::object argv) {
    namespace cc = tarvok::compiler;
    py::list args;
    if (argv.is_none()) {
        py::list all(py::module_::import("sys").attr("argv"));
        for (size_t i = 1; i < all.size(); ++i) args.append(all[i]);
    } else {
        args = py::list(argv);
    }
    std::vector<std::optional<std::string>> texts_of_args;
    for (py::handle arg : args)
        texts_of_args.push_back(PyUnicode_Check(arg.ptr()) ? std::optional(tarvok::host::str_of(arg)) : std::nullopt);
    cc::CheckArguments given = cc::read_check_arguments(texts_of_args);
    if (given.help) {
        print_out(cc::check_help(), false);
        return 0;
    }
    if (given.refusal) return refuse_check(*given.refusal, given.json);
    std::optional<SizeLimits> sizes;
    if (given.size) {
        try {
            sizes =
                size_limits(py::module_::import("builtins").attr("int")(tarvok::host::text(*given.size)), "--max-size");
        } catch (py::error_already_set& e) {
            if (!e.matches(PyExc_ValueError) && !e.matches(PyExc_TypeError)) throw;
            return refuse_check(cc::refused_size(*given.size), given.json);
        }
    }
    std::vector<py::object> paths;
    for (std::size_t i : given.paths) paths.push_back(args[i]);
    std::string texts[2];
    for (size_t i = 0; i < paths.size(); ++i) {
        try {
            texts[i] = tarvok::host::read_input_bytes(paths[i]);
        } catch (py::error_already_set& e) {
            if (!e.matches(PyExc_OSError)) throw;
            py::object reason = e.value().attr("strerror");
            std::string why = "cannot read " + shown_path(paths[i]) + ": " +
                              tarvok::host::str_of(reason.is_none() ? e.value() : reason);
            return refuse_check({"tarvok check: " + why, why}, given.json);
        }
    }
    std::shared_ptr<tarvok::solver::Source> source =
        check_interruptibly(texts[0], texts[1], sizes ? *sizes : size_setting(), paths.size() > 1);
    return report_check(*source->compilation, paths, given.json);
}

/// `TVLCompiler`, whose one method compiles a model text with its data text.
void add_compiler_class(py::module_& m) {
    py::class_<TVLCompiler>(m, "TVLCompiler", "Compiler for Tarvok model and data texts.")
        .def(py::init<>(), tarvok::host::signed_doc("__init__", "self", "Create a compiler.").c_str())
        .def(
            "compile_model",
            [](TVLCompiler&, py::object model_text, py::object data_text) -> py::dict {
                tarvok::host::require(model_text, "compile_model", "model_text", Kind::Str);
                data_text = tarvok::host::data_text_of(model_text, data_text, "compile_model");
                tarvok::host::Utf8 model(model_text);
                tarvok::host::Utf8 data(data_text);
                py::dict compiled = compile_texts(model.view(), data.view());
                // The texts themselves, for generators that expand the model again.
                py::dict source = new_dict();
                set_item(source, "model", model_text);
                set_item(source, "data", data_text);
                set_item(compiled, "source", source);
                return compiled;
            },
            py::arg("model_text"), py::arg("data_text"),
            tarvok::host::signed_doc(
                "compile_model", "self, model_text, data_text",
                "Compile a model text together with its data text.\n\n"
                "Returns the compiled model: a dict with \"declarations\", \"objective\", \"constraints\", "
                "\"data\", \"warnings\"\n(diagnostic records) and \"source\" ({\"model\": model_text, \"data\": "
                "data_text}, the texts given); see docs/compiled-model.md.\nA model that would expand to more "
                "than MAX_SIZE columns or rows (or ten times as many nonzeros) is refused\nbefore anything is "
                "built (T0707). Raises SemanticError whose text lists "
                "every error found, one per line as 'model:LINE:COLUMN: message' (or\n'data:...'), each followed "
                "by the offending line and a caret; its diagnostics attribute holds the records.\nRaises "
                "MemoryError when memory runs out and KeyboardInterrupt on Ctrl-C.")
                .c_str());
}

}  // namespace

PYBIND11_MODULE(tarvok_core, m, py::mod_gil_not_used()) {
    py::options options;
    options.disable_function_signatures();
    m.doc() = "The Tarvok compiler: checks a model text and a data text together.";
    tarvok::host::hold_module(m);

    m.attr("SemanticError") = tarvok::host::import_sibling(m, "semantic_error").attr("SemanticError");
    // Read on every compile (and by every expansion of a model): the most columns and rows a model may expand
    // to, and ten times as many nonzeros; None leaves only the hard limits of the expansion.
    m.attr("MAX_SIZE") = py::int_(kDefaultMaxSize);

    add_compiler_class(m);

    tarvok::host::def(m, "_size_limits", "",
                      "The size limit as MAX_SIZE stands now: (columns, rows, nonzeros), None for no limit.", []() {
                          SizeLimits l = size_setting();
                          auto shown = [](uint64_t n) -> py::object {
                              return n == UINT64_MAX ? py::object(py::none()) : py::object(py::int_(n));
                          };
                          return py::make_tuple(shown(l.max_columns), shown(l.max_rows), shown(l.max_nonzeros));
                      });

    tarvok::host::def(m, "diagnostic_codes", "",
                      "List the compiler's diagnostic codes.\n\n"
                      "Returns a list of dicts with \"code\" (like \"T0201\"), \"severity\" (\"error\" or "
                      "\"warning\") and \"format\",\nthe message with {placeholders} for its variable parts.",
                      []() {
                          py::list out;
                          for (const CodeInfo& info : tarvok::compiler::diagnostic_codes()) {
                              py::dict d;
                              d["code"] = py::str(std::string(info.id));
                              d["severity"] = py::str(std::string(severity_text(info.severity)));
                              d["format"] = tarvok::host::text(info.format);
                              out.append(d);
                          }
                          return out;
                      });

    tarvok::host::def(
        m, "main", "argv=None",
        "Check a model file with its data file from the command line.\n\n"
        "argv is [MODEL, DATA, '--json', '--max-size', N] with all but MODEL optional (default: sys.argv[1:]). "
        "Prints the\ndiagnostics as 'PATH:LINE:COLUMN: error: message' (or warning:) and OK when the "
        "pair compiles,\nor with --json the diagnostic records as a JSON list, and returns the exit "
        "status: 0 when the\npair compiles (warnings allowed), 1 when it does not, 2 for wrong "
        "arguments or unreadable files\n(with --json one object: error, status). With a data file the model is "
        "also expanded as running it\nwould, so a fault only the data reveal is reported here too.",
        [](py::object argv) { return main_entry(argv); }, py::arg("argv") = py::none());
}
