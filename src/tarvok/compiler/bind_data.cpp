// Pass 3, data: gives every parameter, set and range its value, from its
// initializer or from the data text, in declaration order. Reports data
// names the model does not declare, declarations without a value, values of
// the wrong kind, arrays whose length differs from their index set, duplicate
// set elements, and what the evaluation itself finds (division by zero,
// indices outside their set).
#include "compiler/compiler.hpp"

#include "compiler/evaluate.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace tarvok::compiler {

namespace {

std::string plural(const std::string& type) { return type + "s"; }

/// A callable that builds the start of a message, called only when a value
/// does not fit (most values do, and words cost time). It refers to the
/// caller's lambda without owning it, so it cannot be copied or kept: it lives
/// only as a `const Lazy&` parameter, made from the lambda at the call.
class Lazy {
  public:
    template <typename F>
    Lazy(const F& f)  // NOLINT: implicit, so that lambdas pass straight in
        : object_(&f), call_([](const void* o) { return (*static_cast<const F*>(o))(); }) {}
    Lazy(const Lazy&) = delete;
    Lazy& operator=(const Lazy&) = delete;
    std::string operator()() const { return call_(object_); }

  private:
    const void* object_;
    std::string (*call_)(const void*);
};

class DataBinder {
  public:
    DataBinder(const Ast& ast, const Model& model, const DataFile& data, const Analysis& analysis,
               std::string_view model_text, Values& values, Diagnostics& diagnostics, Budget& budget,
               uint64_t steps_per_declaration, uint64_t max_computed, const std::vector<GivenArray>& given,
               bool* given_misfit)
        : ast_(ast), model_(model), data_(data), analysis_(analysis), values_(values), diagnostics_(diagnostics),
          total_(budget), steps_per_declaration_(steps_per_declaration), max_computed_(max_computed),
          evaluator_(ast, model, analysis, model_text, values, diagnostics, budget_), given_misfit_(given_misfit) {
        for (const GivenArray& g : given) {
            std::optional<TextId> name = ast.texts.find(g.name);
            if (!name || !given_.emplace(*name, &g).second) misfit();
        }
    }

    void run() {
        values_.decls.resize(model_.decls.size());
        used_.assign(data_.assignments.size(), false);
        for (uint32_t i = 0; i < data_.assignments.size(); ++i) {
            const DataAssignment& a = data_.assignments[i];
            auto [it, fresh] = assignment_.emplace(a.name, i);
            if (!fresh) {
                used_[i] = true;
                error(Code::AssignedTwice, a.at,
                      "'" + name(a.name) + "' is assigned twice in the data (first on line " +
                          std::to_string(data_.assignments[it->second].at.line) + ")");
            }
        }
        for (uint32_t i = 0; i < model_.decls.size(); ++i) {
            // Each declaration gets its own share of the steps, so that one
            // runaway initializer is blamed alone.
            uint64_t share = std::min(total_.left, steps_per_declaration_);
            budget_ = Budget{share, false, total_.interrupt};
            bind(i);
            total_.left -= share - budget_.left;
        }
        if (!given_.empty()) misfit();  // given under a name no parameter of the model took
        std::vector<std::string_view> data_names;
        for (const Declaration& d : model_.decls)
            if (d.kind == DeclKind::Parameter || d.kind == DeclKind::Set) data_names.push_back(ast_.texts[d.name]);
        std::vector<bool> broken(ast_.texts.size(), false);  // named by a model statement that did not parse
        for (TextId n : model_.broken_names) broken[n] = true;
        for (uint32_t i = 0; i < data_.assignments.size(); ++i) {
            const DataAssignment& a = data_.assignments[i];
            // Suggestions only for errors that are kept: past the cap no name
            // costs a search through the declarations.
            if (used_[i] || broken[a.name] || !diagnostics_.accepting(a.at)) continue;
            std::string_view best = closest_name(ast_.texts[a.name], data_names);
            std::string suggestion = best.empty() ? "" : " (did you mean '" + shown_name(best) + "'?)";
            if (Diagnostic* d = error(Code::NotDeclaredInModel, a.at,
                                      "'" + name(a.name) + "' is not declared in the model" + suggestion))
                if (!best.empty()) d->fix = std::string(best);
        }
    }

  private:
    const Ast& ast_;
    const Model& model_;
    const DataFile& data_;
    const Analysis& analysis_;
    Values& values_;
    Diagnostics& diagnostics_;
    Budget& total_;
    uint64_t steps_per_declaration_;
    uint64_t max_computed_;  ///< values the initializers may make that no text wrote
    uint64_t computed_ = 0;
    Budget budget_;
    Evaluator evaluator_;
    std::unordered_map<TextId, uint32_t> assignment_;
    std::vector<bool> used_;
    std::vector<bool> data_broken_;  ///< per name: named by a data statement that did not parse
    bool* given_misfit_;
    std::unordered_map<TextId, const GivenArray*> given_;  ///< arrays given packed, not yet taken

    void misfit() {
        if (given_misfit_) *given_misfit_ = true;
    }

    Diagnostic* error(Code code, const Location& at, std::string message, uint32_t end = kWordEnd) {
        return diagnostics_.error(code, at, std::move(message), end);
    }
    Diagnostic* error_at(Code code, ExprId id, std::string message) {
        return diagnostics_.error(code, ast_[id].at, std::move(message), ast_[id].end);
    }
    std::string name(TextId id) const { return shown_name(ast_.texts[id]); }
    std::string type_name(const ValueType& t) const { return type_text(t, ast_, model_); }

    /// The data-text entry for a declaration, marked as used.
    const DataAssignment* take_entry(TextId name) {
        auto it = assignment_.find(name);
        if (it == assignment_.end() || used_[it->second]) return nullptr;
        used_[it->second] = true;
        return &data_.assignments[it->second];
    }

    void bind(uint32_t index) {
        const Declaration& d = model_.decls[index];
        if (data_broken_.empty() && !data_.broken_names.empty()) {
            data_broken_.assign(ast_.texts.size(), false);
            for (TextId n : data_.broken_names) data_broken_[n] = true;
        }
        DeclValue& dv = values_.decls[index];
        const DataAssignment* entry = take_entry(d.name);
        if (auto packed = given_.find(d.name); packed != given_.end()) {
            const GivenArray& g = *packed->second;
            given_.erase(packed);
            if (entry || !analysis_.decl_ok[index] || !from_given(d, dv, g)) misfit();
            return;
        }
        if (!analysis_.decl_ok[index]) return;
        std::string quoted = "'" + name(d.name) + "'";
        auto refuse = [&](const std::string& what) {
            if (entry)
                error(Code::DataForNonData, entry->at,
                      quoted + " is " + what + "; the data gives values to parameters and sets only");
        };
        switch (d.kind) {
        case DeclKind::TupleType: return refuse("a tuple type");
        case DeclKind::Dexpr: return refuse("a dexpr");
        case DeclKind::Dvar:
            refuse("a decision variable");
            dimensions(d, dv);
            if (d.bounds != kNone) {
                evaluator_.value(ast_[d.bounds].low());
                evaluator_.value(ast_[d.bounds].high());
            }
            return;
        case DeclKind::Range: {
            if (entry)
                error(Code::DataForRange, entry->at,
                      quoted + " is a range; its bounds are given in the model, not in the data");
            Value low = evaluator_.value(ast_[d.init].low());
            Value high = evaluator_.value(ast_[d.init].high());
            if (!low.known() || !high.known()) return out_of_steps(d);
            dv.set = Domain::range(low.i, high.i);
            dv.known = true;
            return;
        }
        case DeclKind::Parameter:
        case DeclKind::Set: break;
        }
        if (d.kind == DeclKind::Parameter) dimensions(d, dv);
        if (d.init != kNone) {
            if (entry)
                error(Code::ValueInBoth, entry->at,
                      quoted + " already has a value in the model (line " + std::to_string(d.at.line) +
                          "); remove it from the data, or declare it with '= ...'");
            return from_initializer(d, dv);
        }
        if (!entry) {
            if (!data_broken_.empty() && data_broken_[d.name]) return;  // its assignment is there, broken
            std::string example = d.kind == DeclKind::Set ? "{...}" : d.dims.empty() ? "..." : "[...]";
            error(Code::NoValue, d.at,
                  quoted + " has no value: give it one in the data ('" + name(d.name) + " = " + example +
                      ";') or an initializer in the model");
            return;
        }
        from_data(d, dv, entry->value);
    }

    void out_of_steps(const Declaration& d) {
        if (budget_.exhausted && total_.left > 0)  // past the total, the first report stands for all
            error(Code::ValueTakesTooLong, d.at,
                  "computing the value of '" + name(d.name) + "' takes too long; simplify its initializer");
    }

    void dimensions(const Declaration& d, DeclValue& dv) {
        dv.dims_known = true;
        for (ExprId dim : d.dims) {
            std::shared_ptr<const Domain> domain = evaluator_.domain(dim);
            dv.dims_known = dv.dims_known && domain != nullptr;
            dv.dims.push_back(domain);
        }
    }

    /// "its index set 'Cities'", "its index range 'Days'", "its index range 1..3".
    std::string dimension_text(const Declaration& d, size_t k, const Domain& domain) const {
        const Expr& dim = ast_[d.dims[k]];
        if (dim.kind == ExprKind::Name) {
            bool range = dim.ref_kind == RefKind::Declaration && model_.decls[dim.ref].kind == DeclKind::Range;
            return std::string(range ? "its index range '" : "its index set '") + name(dim.text()) + "'";
        }
        return "its index range " + std::to_string(domain.low) + ".." + std::to_string(domain.high);
    }

    // --------------------------------------------------------- initializers

    void from_initializer(const Declaration& d, DeclValue& dv) {
        ValueType type = value_type(d.type);
        std::string quoted = "'" + name(d.name) + "'";
        if (d.kind == DeclKind::Set) return set_from_initializer(d, dv, type);
        if (!d.dims.empty()) {
            if (!dv.dims_known) return;
            auto array = std::make_unique<ArrayValue>();
            array->dims = dv.dims;
            std::vector<uint64_t> rows;
            bool ok = fill(d, d.init, rows, array->cells, false);
            if (budget_.exhausted) return out_of_steps(d);
            if (!ok) return;
            dv.array = std::move(array);
            dv.known = true;
            return;
        }
        Value v = evaluator_.value(d.init);
        if (!v.known()) return out_of_steps(d);
        v = typed(v, type, d.init, [&] { return quoted + " is " + a_value_of(type, ast_, model_); });
        if (!v.known()) return;
        dv.scalar = v;
        dv.known = true;
    }

    void set_from_initializer(const Declaration& d, DeclValue& dv, const ValueType& type) {
        const Expr& init = ast_[d.init];
        auto set = std::make_shared<Domain>();
        set->element = type;
        if (init.kind == ExprKind::SetLiteral) {
            for (uint32_t i = 0; i < init.count; ++i) {
                ExprId element = ast_.links[init.first + i].expr;
                Value v = evaluator_.value(element);
                if (!v.known()) return out_of_steps(d);
                v = evaluator_.convert(v, type);
                if (!set->add(v))
                    error_at(Code::DuplicateElement, element,
                             "'" + name(d.name) + "' lists " + evaluator_.show(v) + " twice");
            }
        } else {
            std::shared_ptr<const Domain> source = evaluator_.domain(d.init);
            if (!source) return out_of_steps(d);
            bool same = source->is_range ? type.base == Base::Int
                                         : source->element.base == type.base && source->element.tuple == type.tuple;
            if (same) {  // `{string} B = A;` shares A's elements; sets never change once made
                dv.set = std::const_pointer_cast<Domain>(source);
                dv.known = true;
                return;
            }
            // A converted copy holds new values, which count against the allowance of the texts.
            computed_ += source->size();
            if (computed_ > max_computed_) {
                error(Code::TooManyElements, d.at,
                      "'" + name(d.name) + "' would hold too many values: the data of a model may hold at most " +
                          std::to_string(max_computed_) + " in all");
                return;
            }
            for (uint64_t i = 0; i < source->size(); ++i) {
                if (!budget_.spend()) return out_of_steps(d);
                set->add(evaluator_.convert(source->at(i), type));
            }
        }
        dv.set = set;
        dv.known = true;
    }

    /// Checks a computed value against the declared type (the type pass has
    /// matched the kinds; booleans still need 0 or 1). `expected` builds the
    /// start of the message and runs only when the value does not fit (most
    /// values do, and words cost time).
    template <typename Expected>
    Value typed(Value v, const ValueType& type, ExprId at, const Expected& expected) {
        v = evaluator_.convert(v, type);
        if (type.base == Base::Boolean && v.kind != VKind::Bool) {
            error_at(Code::NotBoolean, at,
                     expected() + " (0, 1, true or false), but its value is " + evaluator_.show(v));
            return {};
        }
        return v;
    }

    // --------------------------------------------------- arrays given packed

    /// The cells of an array parameter from numbers given packed, when they
    /// are exactly what the data text would give it: the declared shape, ints
    /// for ints, floats short of the solver's infinity. False for anything else, which the data text
    /// then reports.
    bool from_given(const Declaration& d, DeclValue& dv, const GivenArray& g) {
        if (d.kind != DeclKind::Parameter || d.init != kNone || d.dims.size() != g.shape.size()) return false;
        ValueType type = value_type(d.type);
        if (type.base != Base::Float && !(type.base == Base::Int && g.is_int)) return false;
        dimensions(d, dv);
        if (!dv.dims_known) return false;
        for (size_t k = 0; k < g.shape.size(); ++k)
            if (dv.dims[k]->size() != g.shape[k]) return false;
        auto array = std::make_unique<ArrayValue>();
        array->dims = dv.dims;
        uint64_t cells = g.cells();
        array->cells.resize(cells);
        constexpr uint64_t kTickEvery = 4096;
        for (uint64_t start = 0; start < cells; start += kTickEvery) {
            tick(total_.interrupt);
            uint64_t stop = std::min(cells, start + kTickEvery);
            Value* out = array->cells.data();
            if (g.is_int && type.base == Base::Int) {
                for (uint64_t i = start; i < stop; ++i) out[i] = Value::integer(g.integers[i]);
            } else if (g.is_int) {
                for (uint64_t i = start; i < stop; ++i) out[i] = Value::real(static_cast<double>(g.integers[i]));
            } else {
                for (uint64_t i = start; i < stop; ++i) {
                    // The data text refuses a number that is not finite, or one the solver reads as infinity.
                    if (!(std::fabs(g.reals[i]) < kSolverInfinity)) return false;
                    out[i] = Value::real(g.reals[i]);
                }
            }
        }
        dv.array = std::move(array);
        dv.known = true;
        return true;
    }

    // ----------------------------------------------------------- data text

    void from_data(const Declaration& d, DeclValue& dv, ExprId value) {
        ValueType type = value_type(d.type);
        std::string quoted = "'" + name(d.name) + "'";
        const Expr& e = ast_[value];
        if (d.kind == DeclKind::Set) {
            if (e.kind != ExprKind::SetLiteral) {
                error(Code::SetWithoutBraces, e.at,
                      quoted + " is a set; give its elements in braces, as in " +
                          (type.base == Base::String  ? "{\"A\", \"B\"}"
                           : type.base == Base::Tuple ? "{<...>, <...>}"
                                                      : "{1, 2, 3}") +
                          ", not " + given(value));
                return;
            }
            auto set = std::make_shared<Domain>();
            set->element = type;
            bool ok = true;
            for (uint32_t i = 0; i < e.count; ++i) {
                ExprId element = ast_.links[e.first + i].expr;
                Value v = literal(element, type, [&] { return quoted + " holds " + plural_of(type); });
                if (!v.known()) {
                    ok = false;
                    continue;
                }
                if (!set->add(v))
                    error_at(Code::DuplicateElement, element, quoted + " lists " + evaluator_.show(v) + " twice");
            }
            if (!ok) return;
            dv.set = set;
            dv.known = true;
            return;
        }
        if (!d.dims.empty()) {
            if (!dv.dims_known) return;
            auto array = std::make_unique<ArrayValue>();
            array->dims = dv.dims;
            // Room for every cell at once, so that a large table is never
            // copied while it grows; each cell is a node of the data text,
            // so no more than those are ever reserved.
            uint64_t cells = 1;
            for (const auto& dim : dv.dims)
                if (__builtin_mul_overflow(cells, dim ? dim->size() : 0, &cells)) cells = ast_.exprs.size();
            array->cells.reserve(std::min<uint64_t>(cells, ast_.exprs.size()));
            std::vector<uint64_t> rows;
            if (!fill(d, value, rows, array->cells, true)) return;
            dv.array = std::move(array);
            dv.known = true;
            return;
        }
        Value v = literal(value, type, [&] { return quoted + " is " + a_value_of(type, ast_, model_); });
        if (!v.known()) return;
        dv.scalar = v;
        dv.known = true;
    }

    std::string plural_of(const ValueType& t) const {
        if (t.base == Base::Tuple) return "'" + type_name(t) + "' tuples";
        return plural(type_name(t));
    }

    /// How a data value reads in a message.
    std::string given(ExprId id) const {
        const Expr& e = ast_[id];
        switch (e.kind) {
        case ExprKind::Number: {
            Number n = e.number();
            return "the number " + evaluator_.show(n.is_int ? Value::integer(n.integer) : Value::real(n.real));
        }
        case ExprKind::String: return "the string " + evaluator_.show(Value::string(e.text()));
        case ExprKind::Bool: return e.flag ? "true" : "false";
        case ExprKind::ArrayLiteral: return "a list [...]";
        case ExprKind::SetLiteral: return "a set {...}";
        case ExprKind::TupleLiteral: return "a tuple <...>";
        default: return "a value";
        }
    }

    /// A literal of the data text as a value of `type`; `expected` begins
    /// the message ("'n' is an int") when it does not fit.
    Value literal(ExprId id, const ValueType& type, const Lazy& expected) {
        tick(total_.interrupt);
        const Expr& e = ast_[id];
        auto refuse = [&](const std::string& hint = "") {
            error(Code::WrongValueKind, e.at, expected() + ", but the data gives " + given(id) + hint);
            return Value{};
        };
        switch (type.base) {
        case Base::Int:
            if (e.kind != ExprKind::Number) return refuse();
            if (!e.number().is_int) return refuse();
            return Value::integer(e.number().integer);
        case Base::Float:
            if (e.kind != ExprKind::Number) return refuse();
            return Value::real(e.number().is_int ? static_cast<double>(e.number().integer) : e.number().real);
        case Base::Boolean:
            if (e.kind == ExprKind::Bool) return Value::boolean(e.flag);
            if (e.kind == ExprKind::Number && e.number().is_int && (e.number().integer == 0 || e.number().integer == 1))
                return Value::boolean(e.number().integer == 1);
            return refuse(" (a boolean is 0, 1, true or false)");
        case Base::String:
            if (e.kind != ExprKind::String) return refuse(" (strings are written in double quotes)");
            return Value::string(e.text());
        case Base::Tuple: {
            const Declaration& t = model_.decls[type.tuple];
            if (e.kind != ExprKind::TupleLiteral) return refuse(" (tuples are written <...>)");
            if (e.count != t.fields.size()) {
                error(Code::TupleArity, e.at,
                      expected() + ", but this tuple has " + std::to_string(e.count) + " value" +
                          (e.count == 1 ? "" : "s") + " and '" + name(t.name) + "' has " +
                          std::to_string(t.fields.size()) + " fields");
                return {};
            }
            std::vector<Value> elements;
            bool ok = true;
            for (uint32_t i = 0; i < e.count; ++i) {
                ValueType field = value_type(t.fields[i].type);
                auto field_is = [&] {
                    return "field '" + name(t.fields[i].name) + "' of '" + name(t.name) + "' is " +
                           a_value_of(field, ast_, model_);
                };
                Value v = literal(ast_.links[e.first + i].expr, field, field_is);
                ok = ok && v.known();
                elements.push_back(v);
            }
            if (!ok) return {};
            return Value::tuple(values_.tuples.intern(elements));
        }
        case Base::Error:
        case Base::Any: return {};
        }
        return {};
    }

    /// The cells of an array from a (nested) list, checking each level's
    /// length against its dimension. `rows` holds the positions of the
    /// enclosing rows, to name the part in a message.
    bool fill(const Declaration& d, ExprId id, std::vector<uint64_t>& rows, std::vector<Value>& cells, bool data) {
        tick(total_.interrupt);
        const Expr& e = ast_[id];
        size_t level = rows.size();
        const std::vector<std::shared_ptr<const Domain>>& dims = values_.decls[&d - model_.decls.data()].dims;
        auto owner = [&] { return "'" + name(d.name) + "'"; };
        if (level == d.dims.size()) {
            ValueType type = value_type(d.type);
            auto holds = [&] { return owner() + " holds " + plural_of(type); };
            Value v;
            if (data) {
                v = literal(id, type, holds);
            } else {
                v = evaluator_.value(id);
                if (v.known()) v = typed(v, type, id, holds);
            }
            cells.push_back(v);
            return v.known();
        }
        const Domain& domain = *dims[level];
        if (e.kind != ExprKind::ArrayLiteral) {
            if (d.dims.size() == 1) {
                error(Code::ArrayNotList, e.at,
                      owner() + " is an array; give its values as a list in the order of " +
                          dimension_text(d, 0, domain) + ", as in [1, 2, 3], not " + given(id));
            } else {
                std::string order;
                for (size_t k = 0; k < d.dims.size(); ++k)
                    order += (k == 0 ? "" : ", then ") + dimension_text(d, k, *dims[k]);
                error(Code::ArrayNotNested, e.at,
                      owner() + " has " + std::to_string(d.dims.size()) +
                          " dimensions, so its values are a list of lists in the order of " + order +
                          ", as in [[1, 2], [3, 4]]" +
                          (level == 0 ? ", not " + given(id) : "; found " + given(id) + " where a list belongs"));
            }
            return false;
        }
        uint64_t size = domain.size();
        if (e.count != size) {
            std::string part = name(d.name);  // 'dist["B"]' for a row
            for (size_t k = 0; k < level; ++k) part += "[" + evaluator_.show(dims[k]->at(rows[k])) + "]";
            error(Code::ArrayLength, e.at,
                  "'" + part + "' has " + std::to_string(e.count) + " value" + (e.count == 1 ? "" : "s") + " but " +
                      dimension_text(d, level, domain) + " has " + std::to_string(size) + " element" +
                      (size == 1 ? "" : "s"));
            return false;
        }
        bool ok = true;
        for (uint32_t k = 0; k < e.count; ++k) {
            ExprId child = ast_.links[e.first + k].expr;
            rows.push_back(k);
            bool filled = fill(d, child, rows, cells, data);
            rows.pop_back();
            if (!filled) {
                ok = false;
                if (level + 1 < d.dims.size() && ast_[child].kind != ExprKind::ArrayLiteral) break;  // said once
            }
        }
        return ok;
    }
};

}  // namespace

void bind_data(const Ast& ast, const Model& model, const DataFile& data, const Analysis& analysis,
               std::string_view model_text, Values& values, Diagnostics& diagnostics, Budget& budget,
               uint64_t steps_per_declaration, uint64_t max_computed_values,
               const std::vector<GivenArray>& given_arrays, bool* given_misfit) {
    DataBinder(ast, model, data, analysis, model_text, values, diagnostics, budget, steps_per_declaration,
               max_computed_values, given_arrays, given_misfit)
        .run();
}

}  // namespace tarvok::compiler
