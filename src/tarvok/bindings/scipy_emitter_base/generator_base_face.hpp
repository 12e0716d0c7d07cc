// The generator base as help() shows it: the class's docstring, the
// instance attributes it sets up and the names, parameters and docstrings
// of its methods.
#pragma once

#include "bindings/scipy_emitter/generator_face.hpp"

#include <utility>

namespace tarvok::scipy_emitter::base {

inline constexpr const char* kBaseDoc =
    "Abstract base class for SciPy code generators.\n\n"
    "Subclasses must implement the required methods.\n\n"
    "The base holds the compiled model (`ast`), its data (`data_dict`), the buffer of\n"
    "generated lines with the current indentation level, the registry of decision\n"
    "variables and the empty pieces of a linear program in SciPy's standard form\n"
    "(`c`, `A_ub`, `b_ub`, `A_eq`, `b_eq`, `bounds`, `integrality`). Concrete\n"
    "generators fill them; the base never does.";

inline constexpr Face kInit{"__init__", "self, ast, data_dict=None",
                            "Set up an empty generator for the compiled model `ast`.\n\n"
                            "`ast` is kept as given. A non-empty `data_dict` is held by reference; an empty\n"
                            "one or None is replaced by a new empty dict, so the caller's empty map is never\n"
                            "written to. Every list and dict set up here is new for this instance."};

/// What each instance starts with after `ast` and `data_dict`, in this order.
enum class Fresh { List, Dict, Zero, ResultsName };
struct Attribute {
    const char* name;
    Fresh value;
};
inline constexpr Attribute kAttributes[] = {
    {"scipy_code_lines", Fresh::List},
    {"indent_level", Fresh::Zero},
    {"var_names", Fresh::List},
    {"var_indices", Fresh::Dict},
    {"bounds", Fresh::List},
    {"c", Fresh::List},
    {"A_eq", Fresh::List},
    {"b_eq", Fresh::List},
    {"A_ub", Fresh::List},
    {"b_ub", Fresh::List},
    {"results_varname", Fresh::ResultsName},
    {"integrality", Fresh::List},
    {"tuple_types", Fresh::Dict},
};

inline constexpr Face kIndent{"_indent", "self",
                              "Return the indentation prefix for the current `indent_level` (four spaces per level)."};
inline constexpr Face kAddCodeLine{
    "_add_code_line", "self, line",
    "Append `line`, prefixed by the instance's `_indent()`, to `scipy_code_lines`.\n\n"
    "The line is kept as given (no trimming, no line terminator); a text holding line\n"
    "breaks is still one entry. A line that is not text is refused and nothing is added."};

/// The operations concrete generators define; the base's own raise NotImplementedError.
inline constexpr Face kAbstract[] = {
    {"generate_code", "self", "Produce the generated script. Concrete generators define the result."},
    {"_build_variables", "self", "Register the decision variables of the model."},
    {"_build_objective", "self", "Build the objective of the model."},
    {"_build_constraints", "self", "Build the constraints of the model."},
};

inline constexpr Face kFindDeclaration{
    "find_declaration", "self, name, decl_type=None",
    "Return the first declaration named `name` (of kind `decl_type` when given), or None."};
inline constexpr Face kFindDeclarations{"find_declarations", "self, name, decl_type=None",
                                        "Return a new list of every declaration named `name` (of kind `decl_type` "
                                        "when given),\nin declaration order."};

/// The private spellings of the declaration look-ups, each calling its public one on the instance.
inline constexpr std::pair<Face, const char*> kAliases[] = {
    {{"_find_decl", "self, name, decl_type=None", "Return the instance's `find_declaration(name, decl_type)`."},
     "find_declaration"},
    {{"_find_decls", "self, name, decl_type=None", "Return the instance's `find_declarations(name, decl_type)`."},
     "find_declarations"},
};

inline constexpr Face kNormalizeIndex{"normalize_index", "idx",
                                      "Return `idx` as a canonical index: lists and tuples become tuples, at every "
                                      "level.\n\nAny other value (text included) is returned unchanged."};
inline constexpr Face kPrivateNormalizeIndex{"_normalize_index", "self, idx",
                                             "Return the instance's `normalize_index(idx)`."};
inline constexpr Face kTupleKey{
    "_tuple_key", "self, elements, env=None",
    "Return the tuple key of the tuple-literal `elements`, names resolved against `env`.\n\n"
    "A name bound in `env` contributes its value, an unbound name itself; numbers and\n"
    "strings contribute their value, nested tuple literals their own key; anything else\n"
    "is taken unchanged. `env` is only read."};
/// The staticmethods that return (not raise) a SemanticError for what a
/// generator cannot translate: "Unsupported {context}{between}{value}{after}".
struct ErrorFactory {
    Face face;
    const char* value;  ///< the second parameter's name
    const char* between;
    const char* after;
};
inline constexpr ErrorFactory kErrorFactories[] = {
    {{"_unsupported_type_error", "context, value",
      "Return (not raise) a SemanticError for a value kind the generator cannot translate."},
     "value",
     " type: ",
     ""},
    {{"_unsupported_operator_error", "context, op",
      "Return (not raise) a SemanticError for an operator the generator cannot translate."},
     "op",
     " operator: '",
     "'"},
};

}  // namespace tarvok::scipy_emitter::base
