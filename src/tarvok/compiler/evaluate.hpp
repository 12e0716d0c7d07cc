// Evaluation of data expressions, shared by the data binding and the
// data-driven checks. Errors that only the data reveals (an index outside its
// set, division by zero, overflow) are reported once per expression, with the
// binding values that led to them.
#pragma once

#include "compiler/analysis.hpp"
#include "compiler/values.hpp"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok::compiler {

class Evaluator {
  public:
    Evaluator(const Ast& ast, const Model& model, const Analysis& analysis, std::string_view model_text, Values& values,
              Diagnostics& diagnostics, Budget& budget);

    /// The value of a scalar data expression; Unknown when it depends on
    /// something unknown, on an error, or the budget ran out.
    Value value(ExprId id);

    /// The set or range an expression denotes, or null.
    std::shared_ptr<const Domain> domain(ExprId id);

    /// `v` in the canonical form of type `t`: ints widened for floats, tuple
    /// fields converted to their declared types.
    Value convert(const Value& v, const ValueType& t);

    /// Where `v` sits in `d`, after conversion to the element type.
    std::optional<uint64_t> position(const Domain& d, const Value& v);

    /// Evaluates the indices of an Index node and checks each against its
    /// dimension; returns the row-major cell offset when all are inside. An
    /// index outside its dimension is reported with `report_index_fault`.
    std::optional<uint64_t> locate(ExprId index_node);

    /// Evaluates index `k` of an Index node alone and reports it when it is
    /// outside its dimension.
    void check_index(ExprId index_node, uint32_t k);

    /// The message for index `k` of the Index node `index_node` having the
    /// value `value`, which is not in its dimension: "index 'd - 1' = 0 of
    /// 'stock' is outside 'Days' (1..3)". Every pass that meets such a fault,
    /// the compiler's checks and the instantiation alike, words it here.
    std::string index_fault_message(ExprId index_node, uint32_t k, const Value& value) const;

    /// Reports that fault once, at the index, with the current binding values.
    void report_index_fault(ExprId index_node, uint32_t k, const Value& value);

    /// Runs `body` for every combination of the bindings `first..first+count`
    /// that satisfies `condition`. `body` returns false to stop; the result
    /// is false when stopped (by `body` or by the budget).
    template <typename Body>
    bool enumerate(uint32_t first, uint32_t count, ExprId condition, Body&& body) {
        return enumerate_from(first, first + count, condition, nullptr, body);
    }

    /// Like `enumerate`, but a binding whose `needed` entry is false takes
    /// only the first value of its domain (and none when its domain is
    /// empty): the caller knows that `body` and `condition` do not depend on
    /// it. The combinations met come in the same order as with `enumerate`,
    /// so the first fault found, and its message, are the same.
    template <typename Body>
    bool enumerate_projected(uint32_t first, uint32_t count, ExprId condition, const std::vector<bool>& needed,
                             Body&& body) {
        return enumerate_from(first, first + count, condition, &needed, body);
    }

    /// Reports `message` at `node` once, with the current binding values
    /// appended (", when i = 2, j = \"A\"").
    void report(ExprId node, Code code, const std::string& message);
    /// The same under the code `Other`, for passes outside the compiler.
    void report(ExprId node, const std::string& message) { report(node, Code::Other, message); }

    /// ", when i = 2, j = \"A\"" for the bindings being enumerated, or "".
    std::string binding_values() const;

    /// The value of a data divisor in a term with decision variables, whose
    /// quotient is never computed here; a zero divisor is reported and gives
    /// Unknown.
    Value divisor(ExprId id);

    /// The current value of a binding while `enumerate` runs.
    const Value& binding_value(uint32_t binding) const { return env_[binding]; }

    /// A value as the language writes it.
    std::string show(const Value& v) const;

    /// The source text of an expression, quoted.
    std::string quoted(ExprId id) const;

    bool truthy(const Value& v) const { return v.kind == VKind::Float ? v.f != 0 : v.i != 0; }

    Budget& budget() { return budget_; }

  private:
    const Ast& ast_;
    const Model& model_;
    const Analysis& analysis_;
    std::string_view source_;
    Values& values_;
    Diagnostics& diagnostics_;
    Budget& budget_;
    std::vector<Value> env_;        ///< per binding: its current value
    std::vector<uint32_t> active_;  ///< bindings being enumerated, outermost first
    std::vector<bool> reported_;

    template <typename Body>
    bool enumerate_from(uint32_t b, uint32_t end, ExprId condition, const std::vector<bool>* needed, Body& body) {
        if (b == end) {
            if (condition != kNone) {
                Value c = value(condition);
                if (!c.known() || !truthy(c)) return !budget_.exhausted;
            }
            return body();
        }
        std::shared_ptr<const Domain> d = domain(ast_.bindings[b].domain);
        if (!d) return !budget_.exhausted;
        uint64_t n = d->size();
        if (needed && !(*needed)[b] && n > 1) n = 1;
        active_.push_back(b);
        bool go = true;
        for (uint64_t i = 0; i < n && go; ++i) {
            if (!budget_.spend())
                go = false;
            else {
                env_[b] = d->at(i);
                go = enumerate_from(b + 1, end, condition, needed, body);
            }
        }
        active_.pop_back();
        return go;
    }

    Value name_value(const Expr& e);
    Value index_value(ExprId id);
    Value field_value(ExprId id);
    Value chain_value(ExprId id);
    Value compare_value(ExprId id);
    Value aggregate_value(ExprId id);
    std::string dimension_text(const Declaration& d, size_t k) const;
};

}  // namespace tarvok::compiler
