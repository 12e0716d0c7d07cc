// What the semantic passes learn about a parsed model: where every name
// points (stored in the tree itself), the static type and variable
// dependence of every expression, and which statements are sound enough for
// the data-driven checks.
#pragma once

#include "common/interrupt.hpp"
#include "compiler/ast.hpp"
#include "compiler/diagnostics.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace tarvok::compiler {

enum class Base : uint8_t { Error, Int, Float, String, Boolean, Tuple, Any };

/// A scalar type; `tuple` is the declaration of a tuple type, or kNone for a
/// tuple literal that has no declared type of its own.
struct ValueType {
    Base base = Base::Error;
    uint32_t tuple = kNone;
};

/// The shape of what an expression denotes.
enum class Form : uint8_t { Error, Scalar, Set, Array };

struct ExprInfo {
    Form form = Form::Error;
    ValueType type;         ///< the scalar's type, or the element type of a set or array
    uint8_t degree = 0;     ///< 0: constant in the decision variables; 1: linear
    bool variable = false;  ///< mentions a decision variable or a dexpr
};

struct Analysis {
    std::vector<ExprInfo> info;           ///< per expression node
    std::vector<ValueType> binding_type;  ///< per binding
    std::vector<bool> decl_ok;            ///< per declaration: no error in it
    std::vector<bool> constraint_ok;      ///< per constraint (its foralls included)
    bool objective_ok = false;
};

/// The written type as a ValueType.
ValueType value_type(const TypeName& t);

/// "int", "float", "string", "boolean" or the tuple type's name.
std::string type_text(const ValueType& t, const Ast& ast, const Model& model);
std::string type_text(const TypeName& t, const Ast& ast);

/// One value of type `t` in words: "an int", "a float", "a tuple of type 'Arc'",
/// "a tuple" (a literal without a declared type).
std::string a_value_of(const ValueType& t, const Ast& ast, const Model& model);

/// Pass 1, names: binds every name to its declaration or binding, checks
/// declaration order, redeclarations, labels and the number of indices.
void resolve(Ast& ast, Model& model, std::string_view model_text, Diagnostics& diagnostics,
             Interrupt* interrupt = nullptr);

/// Pass 2, types and linearity: computes `Analysis`, checks kinds, tuple
/// fields, data-only contexts and that objective and constraints are linear.
Analysis check_types(const Ast& ast, const Model& model, std::string_view model_text, Diagnostics& diagnostics,
                     Interrupt* interrupt = nullptr);

/// The first decision variable or dexpr named inside `id`, or kNone.
ExprId first_variable(const Ast& ast, const Model& model, ExprId id);

}  // namespace tarvok::compiler
