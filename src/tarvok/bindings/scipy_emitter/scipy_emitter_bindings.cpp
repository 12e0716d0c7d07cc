// tarvok.scipy_emitter: SciPyCodeGenerator, the generator that turns a
// compiled Tarvok model into a Python script that states and solves it with
// SciPy, and write_script, the whole job from two texts to a file.
//
// The class is a heap type made by the host's `type` on the generator base,
// so Python code subclasses it like any class and every call between its
// operations goes through the instance. The numbers come from the
// instantiation core (tarvok.solver.instantiate's, called in C++); the
// three build steps put them into the base's attributes in SciPy's standard
// form, and generate_code writes the script from those attributes, so the
// script always states what the attributes hold.
#include "bindings/host/arrays.hpp"
#include "bindings/host/emit.hpp"
#include "bindings/host/host.hpp"
#include "bindings/host/module_start.hpp"
#include "bindings/scipy_emitter/generator_face.hpp"
#include "bindings/solver/entries.hpp"
#include "scipy_emitter/generator_checks.hpp"
#include "scipy_emitter/generator_state.hpp"
#include "scipy_emitter/program_script.hpp"
#include "scipy_emitter/script.hpp"
#include "scipy_emitter/standard_form.hpp"
#include "solver/program.hpp"

#include <cmath>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace py = pybind11;
namespace host = tarvok::host;
using namespace tarvok::scipy_emitter;
using host::equals;
using tarvok::solver::Program;

namespace {

host::Kept generator_class(host::modules::scipy_emitter);

[[noreturn]] void raise_semantic_error(const std::string& message) {
    host::raise_new(host::semantic_error_class(), message);
}

/// Imports a library of the 'scipy' extra, or says how to get it.
py::module_ import_extra(const char* name, const char* purpose) { return host::import_extra(name, purpose, "scipy"); }

/// `mapping.get(key)` when `mapping` has a `get`, else None.
py::object get(py::handle mapping, const char* key) {
    if (!py::hasattr(mapping, "get")) return py::none();
    return mapping.attr("get")(key);
}

/// Raises the error that the instance's `factory` makes of `context` and
/// `value` unless `value` is a text the core's `accepts` takes.
void require_translated(py::handle self, py::handle value, bool (*accepts)(std::string_view), const char* factory,
                        const char* context) {
    if (PyUnicode_Check(value.ptr()) && accepts(host::Utf8(value).view())) return;
    host::raise_object(self.attr(factory)(context, value));
}

/// The entries of the list at `mapping[key]`, none when it is missing.
py::iterator entries(py::handle mapping, const char* key) {
    py::object value = get(mapping, key);
    return py::iter(value.is_none() ? py::object(py::list()) : value);
}

// ------------------------------------------------------------ the program

/// Refuses a data_dict other than the one the model was compiled with: the
/// numbers come from the compiled texts, so any other data would be ignored.
void check_data_dict(py::handle self, py::handle ast) {
    py::object given = self.attr("data_dict");
    if (!host::truthy(given)) return;  // none given: the model's own data
    py::object own = get(ast, "data");
    if (given.is(own) || equals(given, own)) return;
    std::vector<std::string> keys;
    if (PyDict_Check(given.ptr()) && PyDict_Check(own.ptr())) {
        py::dict a = py::reinterpret_borrow<py::dict>(given), b = py::reinterpret_borrow<py::dict>(own);
        for (auto item : a)
            if (!b.contains(item.first) || !equals(item.second, b[item.first]))
                keys.push_back(host::str_of(item.first));
        for (auto item : b)
            if (!a.contains(item.first)) keys.push_back(host::str_of(item.first));
    }
    raise_semantic_error(other_data_message(keys));
}

py::object load_program(py::object self) {
    py::object kept = py::getattr(self, "program", py::none());
    if (!kept.is_none()) return kept;
    py::object ast = self.attr("ast");
    py::object source = get(ast, "source");
    py::object model = get(source, "model"), data = get(source, "data");
    if (!PyUnicode_Check(model.ptr()) || !PyUnicode_Check(data.ptr())) raise_semantic_error(std::string(kNoSource));
    check_data_dict(self, ast);
    std::shared_ptr<Program> made = tarvok::solver::bind::instantiate_texts(model, data, "instantiate");
    host::modules::solver.get();  // its start registers the type the program is shown as
    py::object program = py::cast(std::move(made));
    py::setattr(self, "program", program);
    return program;
}

/// The C++ program behind the instance's `_load_program()`: the one kept as `program`, whoever set it.
std::shared_ptr<const Program> program_of(py::object self) {
    return host::cast_or_refuse<std::shared_ptr<Program>>(load_program(std::move(self)),
                                                          "_load_program() must return a tarvok.solver.Program, not ");
}

// ------------------------------------------------------- the build steps

/// Floats for a run of values; equal neighbours share one object.
py::list float_list(const std::vector<double>& values) {
    py::list out(values.size());
    py::object last;
    for (size_t k = 0; k < values.size(); ++k) {
        if (!last || values[k] != values[k - 1] || std::signbit(values[k]) != std::signbit(values[k - 1]))
            last = py::float_(values[k]);
        out[k] = last;
    }
    return out;
}

py::object bound(double v) { return std::isinf(v) ? py::object(py::none()) : py::object(py::float_(v)); }

void build_variables(py::object self) {
    std::shared_ptr<const Program> p = program_of(self);
    for (const tarvok::solver::VariableBlock& b : p->variables) {
        py::object decl = self.attr("find_declaration")(host::text(b.name), "dvar");
        if (decl.is_none()) raise_semantic_error(no_variable_message(b.name));
        require_translated(self, get(decl, "value_type"), translates_value_type, "_unsupported_type_error", "variable");
    }
    uint32_t n = p->columns();
    py::list names(n), bounds(n), integrality(n);
    py::dict indices;
    py::object pair;
    for (uint32_t j = 0; j < n; ++j) {
        py::str name = host::text(p->column_name(j));
        names[j] = name;
        if (!PyDict_SetDefault(indices.ptr(), name.ptr(), py::int_(j).ptr())) throw py::error_already_set();
        if (!pair || p->col_lower[j] != p->col_lower[j - 1] || p->col_upper[j] != p->col_upper[j - 1])
            pair = py::make_tuple(bound(p->col_lower[j]), bound(p->col_upper[j]));
        bounds[j] = pair;
        integrality[j] = py::int_(p->integrality[j]);
    }
    py::dict tuple_types;
    for (py::handle decl : entries(self.attr("ast"), "declarations")) {
        if (!equals(get(decl, "type"), py::str("tuple"))) continue;
        py::list fields;
        for (py::handle field : entries(decl, "fields")) fields.append(get(field, "name"));
        tuple_types[get(decl, "name")] = py::tuple(fields);
    }
    py::setattr(self, "var_names", names);
    py::setattr(self, "var_indices", indices);
    py::setattr(self, "bounds", bounds);
    py::setattr(self, "integrality", integrality);
    py::setattr(self, "tuple_types", tuple_types);
}

void build_objective(py::object self) {
    std::shared_ptr<const Program> p = program_of(self);
    py::object objective = get(self.attr("ast"), "objective");
    if (!objective.is_none())
        require_translated(self, get(objective, "sense"), translates_sense, "_unsupported_type_error", "objective");
    StandardObjective o = standard_objective(*p);
    py::setattr(self, "c", float_list(o.c));
    py::setattr(self, "objective_offset", py::float_(o.offset));
    py::setattr(self, "objective_sense", py::str(o.maximize ? "maximize" : "minimize"));
}

/// A matrix as a numpy array or, past `dense_limit` cells, as a
/// scipy.sparse.csr_array; either has the shape (rows, columns) also when
/// there are no rows, as scipy.optimize.linprog needs.
py::object matrix_object(SparseRows m, uint32_t columns, uint64_t dense_limit) {
    uint64_t rows = m.rows();
    import_extra("numpy", "a constraint matrix");
    if (dense_matrix(rows, columns, dense_limit)) {
        py::array_t<double> dense({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(columns)});
        fill_dense(m, columns, dense.mutable_data());
        return std::move(dense);
    }
    py::module_ sparse = import_extra("scipy.sparse", "a sparse constraint matrix");
    py::tuple parts = py::make_tuple(host::owned_array(std::move(m.values)), host::owned_array(std::move(m.columns)),
                                     host::owned_array(std::move(m.starts)));
    return sparse.attr("csr_array")(parts, py::arg("shape") = py::make_tuple(rows, columns));
}

/// A limit attribute (inline_limit, dense_limit) as a count: an int at least 0.
uint64_t limit(py::handle self, const char* attribute) {
    py::object value = self.attr(attribute);
    if (!PyIndex_Check(value.ptr()))
        throw py::type_error(std::string(attribute) + " must be an int, not " + host::type_name(value));
    py::object whole = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!whole) throw py::error_already_set();
    long long count = host::saturated(whole);
    if (count < 0)
        throw py::value_error(std::string(attribute) + " must be at least 0, not " + host::str_of(py::repr(value)));
    return static_cast<uint64_t>(count);
}

void build_constraints(py::object self) {
    std::shared_ptr<const Program> p = program_of(self);
    for (py::handle constraint : entries(self.attr("ast"), "constraints"))
        require_translated(self, get(constraint, "operator"), translates_operator, "_unsupported_operator_error",
                           "constraint");
    uint64_t dense_limit = limit(self, "dense_limit");
    StandardConstraints s;
    {
        py::gil_scoped_release release;
        s = standard_constraints(*p);
    }
    auto names = [&](const StandardRows& rows) {
        py::list out(rows.origin.size());
        for (size_t i = 0; i < rows.origin.size(); ++i) out[i] = host::text(p->row_name(rows.origin[i].row));
        return out;
    };
    py::setattr(self, "ub_names", names(s.upper));
    py::setattr(self, "eq_names", names(s.equal));
    py::setattr(self, "b_ub", float_list(s.upper.rhs));
    py::setattr(self, "b_eq", float_list(s.equal.rhs));
    py::setattr(self, "A_ub", matrix_object(std::move(s.upper.matrix), p->columns(), dense_limit));
    py::setattr(self, "A_eq", matrix_object(std::move(s.equal.matrix), p->columns(), dense_limit));
}

// ------------------------------------------------- reading the attributes

using Numbers = py::array_t<double, py::array::c_style | py::array::forcecast>;
using Indices = py::array_t<int64_t, py::array::c_style | py::array::forcecast>;

template <typename T>
std::span<const T> span_of(const py::array_t<T, py::array::c_style | py::array::forcecast>& array) {
    return {array.data(), static_cast<size_t>(array.size())};
}

/// The items of the sequence an attribute holds, each read by `read`; a TypeError names the attribute.
template <typename Read>
auto items(py::handle self, const char* attribute, Read read) {
    host::Items all(self.attr(attribute), attribute);
    std::vector<decltype(read(all[0], attribute))> out;
    for (size_t k = 0; k < all.size(); ++k) out.push_back(read(all[k], attribute));
    return out;
}

double number(py::handle item, const char*) { return host::number(item); }

uint8_t flag(py::handle item, const char*) { return host::truthy(item) ? 1 : 0; }

std::string text(py::handle item, const char* attribute) {
    if (!PyUnicode_Check(item.ptr()))
        throw py::type_error(std::string(attribute) + " must hold str, not " + host::type_name(item));
    return std::string(host::Utf8(item).view());
}

std::optional<BoundSides> sides(py::handle item, const char* attribute) {
    host::Items pair(item, attribute);
    if (pair.size() != 2) return std::nullopt;
    auto side = [](py::handle v) { return v.is_none() ? std::nullopt : std::optional<double>(host::number(v)); };
    return BoundSides{side(pair[0]), side(pair[1])};
}

/// Rows from anything with tocsr() (a scipy.sparse matrix or array), a numpy
/// array, or a sequence of rows.
GivenMatrix matrix(py::handle self, const char* attribute) {
    py::object value = self.attr(attribute);
    GivenMatrix m;
    if (py::hasattr(value, "tocsr")) {
        py::object csr = value.attr("tocsr")();
        py::tuple shape = csr.attr("shape");
        m.widths.push_back(shape[1].cast<size_t>());
        Indices starts(csr.attr("indptr")), indices(csr.attr("indices"));
        Numbers data(csr.attr("data"));
        m.rows = rows_of_csr(span_of(starts), span_of(indices), span_of(data), shape[0].cast<size_t>());
    } else if (py::hasattr(value, "__array__")) {
        Numbers dense(value);
        m.dimensions = dense.ndim();
        if (m.dimensions != 2) return m;
        m.widths.push_back(static_cast<size_t>(dense.shape(1)));
        m.rows = rows_of_dense(dense.data(), static_cast<size_t>(dense.shape(0)), m.widths[0]);
    } else {
        std::vector<std::pair<int32_t, double>> row;
        host::Items rows(value, attribute);
        for (size_t i = 0; i < rows.size(); ++i) {
            host::Items cells(rows[i], attribute);
            m.widths.push_back(cells.size());
            for (size_t j = 0; j < cells.size(); ++j)
                if (double v = host::number(cells[j]); v != 0) row.emplace_back(static_cast<int32_t>(j), v);
            m.rows.add_row(row);
        }
    }
    return m;
}

/// The script's input as the attributes hold it, each read once in the order
/// they are named; a fault in them is a ValueError.
ScriptInput script_input(py::handle self, const Program& p) {
    std::size_t length = py::len(self.attr("var_names"));  // a sized sequence
    GeneratorState state{
        .var_names = items(self, "var_names", text),
        .var_names_length = length,
        .bounds = items(self, "bounds", sides),
        .integrality = items(self, "integrality", flag),
        .maximize = equals(self.attr("objective_sense"), py::str("maximize")),
        .objective_offset = host::number(self.attr("objective_offset")),
        .c = items(self, "c", number),
        .a_ub = matrix(self, "A_ub"),
        .b_ub = items(self, "b_ub", number),
        .ub_names = items(self, "ub_names", text),
        .a_eq = matrix(self, "A_eq"),
        .b_eq = items(self, "b_eq", number),
        .eq_names = items(self, "eq_names", text),
        .inline_limit = limit(self, "inline_limit"),
    };
    try {
        return tarvok::scipy_emitter::script_input(p, std::move(state));
    } catch (const AttributeFault& fault) {
        host::raise(PyExc_ValueError, fault.what());
    }
}

// ----------------------------------------------------- generate and write

py::object generate_code(py::object self) {
    py::list lines = self.attr("scipy_code_lines");
    // A second run replaces what the first one added.
    py::object start = py::getattr(self, "_script_start", py::none());
    if (start.is_none()) {
        start = py::int_(py::len(lines));
        py::setattr(self, "_script_start", start);
    } else if (start.cast<size_t>() < py::len(lines)) {
        if (PySequence_DelSlice(lines.ptr(), start.cast<Py_ssize_t>(), PY_SSIZE_T_MAX) != 0)
            throw py::error_already_set();
    }
    self.attr("_build_variables")();
    self.attr("_build_objective")();
    self.attr("_build_constraints")();

    std::shared_ptr<const Program> p = program_of(self);
    ScriptInput in = script_input(self, *p);
    Script script;
    {
        py::gil_scoped_release release;
        script = render_script(std::move(in));
    }
    py::object level = self.attr("indent_level");
    long long base = level.cast<long long>();
    py::object add = self.attr("_add_code_line");
    try {
        for (const Line& line : script.lines) {
            py::setattr(self, "indent_level", py::int_(base + line.indent));
            add(host::text(line.text));
        }
    } catch (...) {
        py::setattr(self, "indent_level", level);
        throw;
    }
    py::setattr(self, "indent_level", level);
    py::setattr(self, "npz_arrays", host::script_arrays(script.arrays));
    return py::str("\n").attr("join")(self.attr("scipy_code_lines")) + py::str("\n");
}

py::list write(py::object self, py::object path) {
    py::object script = host::script_path(path);
    py::object text = self.attr("generate_code")();
    if (!PyUnicode_Check(text.ptr()))
        throw py::type_error("generate_code() must return a str, not " + host::type_name(text));
    return host::write_script_files(script, host::Utf8(text).view(), self.attr("npz_arrays"));
}

/// `write_program_script(program, path)`: the default script of a Program at hand, as `tarvok emit` writes it.
py::list write_program_script(py::object program, py::object path) {
    host::script_path(path);  // refused before any work
    auto p = host::cast_or_refuse<std::shared_ptr<Program>>(
        program, "write_program_script() argument 'program' must be a tarvok.solver.Program, not ");
    return host::write_script(tarvok::emitter::default_output(), *p, path);
}

py::list write_script(py::object model_text, py::object data_text, py::object path) {
    host::require(model_text, "write_script", "model_text", host::Kind::Str);
    host::require(data_text, "write_script", "data_text", host::Kind::Str);
    host::script_path(path);  // refused before any work
    py::object compiler = host::modules::tarvok_core.attr("TVLCompiler")();
    py::object ast = compiler.attr("compile_model")(model_text, data_text);
    py::object generator = generator_class.get()(ast, get(ast, "data"));
    return generator.attr("write")(path);
}

// ------------------------------------------------------------- the class

py::object make_generator(py::module_& m) {
    py::object base = host::modules::scipy_emitter_base.attr("SciPyCodeGeneratorBase");
    py::dict ns;
    ns["__module__"] = m.attr("__name__");
    ns["__qualname__"] = "SciPyCodeGenerator";
    ns["__doc__"] = kGeneratorDoc;
    ns["program"] = py::none();
    ns["npz_arrays"] = py::none();
    ns["inline_limit"] = py::int_(5000);
    ns["dense_limit"] = py::int_(1'000'000);
    py::object type = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyType_Type));
    py::object cls = type("SciPyCodeGenerator", py::make_tuple(base), ns);

    host::add_method(cls, kLoadProgram, &load_program);
    for (auto [face, step] : {std::pair{kBuildVariables, &build_variables},
                              {kBuildObjective, &build_objective},
                              {kBuildConstraints, &build_constraints}})
        host::add_method(cls, face, step);
    host::add_method(cls, kGenerateCode, &generate_code);
    host::add_method(cls, kWrite, &write, py::arg("path"));
    return cls;
}

}  // namespace

void tarvok_start_scipy_emitter(pybind11::module_& m) {
    host::ModuleStart start(
        m, tarvok::host::modules::scipy_emitter,
        "SciPy code generation: turns a compiled Tarvok model into a Python script that solves it with SciPy.");
    m.attr("SemanticError") = host::semantic_error_class();
    m.attr("SciPyCodeGenerator") = generator_class.keep(make_generator(m));
    // The script of a Program that is at hand (compiled and expanded already), with no compile of its own.
    host::def(m, kWriteProgramScript, &write_program_script, py::arg("program"), py::arg("path"));
    host::def(m, kWriteScript, &write_script, py::arg("model_text"), py::arg("data_text"), py::arg("path"));
}
