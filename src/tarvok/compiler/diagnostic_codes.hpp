// The one table of the compiler's diagnostic codes. Each entry is the code's
// name in C++, its stable identifier, its severity and the format of its
// message: literal text with `{placeholder}` for the parts a message fills in
// (`{{` and `}}` stand for literal braces). The documentation page and the
// Python stub list the identifiers from here, and the tests check that every
// message the compiler produces matches the format of its code.
//
//   T00xx lexical   T01xx syntax    T02xx names      T03xx types and kinds
//   T04xx linearity T05xx data      T06xx data-driven checks    T07xx limits
//   T08xx words and operators from other languages            T09xx warnings
//   T0000 a diagnostic of a pass outside the compiler (the instantiation)
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace tarvok::compiler {

// clang-format off
#define TARVOK_DIAGNOSTIC_CODES(X) \
    X(Other, "T0000", Error, "{message}") \
    \
    X(UnterminatedComment, "T0001", Error, "unterminated comment: '/*' is never closed by '*/'") \
    X(NumberNeedsDigits, "T0002", Error, "a number needs digits after its decimal point: write '{number}0'") \
    X(NumberGluedToName, "T0003", Error, "'{text}' is neither a number nor a name; write a product with '*', as in '{number}*{name}'") \
    X(MalformedNumber, "T0004", Error, "malformed number '{text}'") \
    X(IntTooLarge, "T0005", Error, "the number {number} is too large for an int (the largest is 9223372036854775807); write it as a float, e.g. with a decimal point") \
    X(NumberOutOfRange, "T0006", Error, "the number {number} is out of range") \
    X(UnterminatedString, "T0007", Error, "unterminated string: a string ends with '\"' on the same line") \
    X(UnknownEscape, "T0008", Error, "unknown escape '\\{character}' in a string; the escapes are \\\" \\\\ \\n and \\t") \
    X(InvalidUtf8InString, "T0009", Error, "invalid UTF-8 byte in a string") \
    X(SingleAmpersand, "T0010", Error, "unexpected character '&'; 'and' is written '&&'") \
    X(SingleBar, "T0011", Error, "unexpected character '|'; 'or' is written '||'") \
    X(SingleQuotedString, "T0012", Error, "strings are written in double quotes, as in \"{text}\"") \
    X(StrayQuote, "T0013", Error, "unexpected character '''; strings are written in double quotes") \
    X(InvalidUtf8, "T0014", Error, "invalid UTF-8 byte 0x{hex} in the text") \
    X(UnexpectedCharacter, "T0015", Error, "unexpected character '{character}'{hint}") \
    X(ControlCharacter, "T0016", Error, "unexpected control character (code {number}){hint}") \
    \
    X(Expected, "T0101", Error, "expected {what}, found {token}") \
    X(Unclosed, "T0102", Error, "expected '{closing}' to close the '{opening}' at {line}:{column}, found {token}") \
    X(MissingSemicolon, "T0103", Error, "missing ';' after {token}") \
    X(ExpectedSemicolon, "T0104", Error, "expected ';' after {token}, found {token}") \
    X(ConstraintOutsideBlock, "T0105", Error, "constraints belong inside 'subject to {{ ... }}', after the objective") \
    X(ForallOutsideBlock, "T0106", Error, "'forall' constraints belong inside 'subject to {{ ... }}'") \
    X(ExpectedStatement, "T0107", Error, "expected a declaration, an objective or 'subject to', found {token}") \
    X(DeclarationAfterObjective, "T0108", Error, "declarations must come before the objective{and_subject_to}") \
    X(NonNegativeData, "T0109", Error, "'+' (non-negative) is for decision variables only; state the bound as data") \
    X(BooleanSet, "T0110", Error, "a set holds int, float, string or tuple values, not booleans") \
    X(SetDimensions, "T0111", Error, "a set has no dimensions") \
    X(RangeForm, "T0112", Error, "a range is declared with its bounds, as in 'range Days = 1..n;'") \
    X(DvarType, "T0113", Error, "a decision variable is 'float', 'int' or 'boolean' (found {token})") \
    X(NonNegativeBoolean, "T0114", Error, "'+' applies to float and int variables; a boolean is already 0 or 1") \
    X(DvarValue, "T0115", Error, "a decision variable gets no value; to name an expression write 'dexpr float name = ...;'") \
    X(DvarBoundsForm, "T0116", Error, "bounds of a decision variable are written 'in lo..hi' (or as constraints)") \
    X(DexprType, "T0117", Error, "a dexpr is 'float' or 'int' (found {token})") \
    X(DexprDimensions, "T0118", Error, "a dexpr has no dimensions; write the sum or forall in the constraint instead") \
    X(BindingInDimension, "T0119", Error, "a declaration names only the index set, as in 'x[Cities]', not 'x[c in Cities]'") \
    X(DimensionForm, "T0120", Error, "a dimension is a set name, a range name or 'lo..hi'") \
    X(DimensionComma, "T0121", Error, "each dimension has its own brackets, as in 'dist[Cities][Cities]'") \
    X(BoundsForm, "T0122", Error, "bounds are written 'in lo..hi'") \
    X(ObjectiveAfterConstraints, "T0123", Error, "the objective must come before 'subject to'") \
    X(SecondObjective, "T0124", Error, "a model has only one objective (found a second '{keyword}')") \
    X(ObjectiveIsConstraint, "T0125", Error, "the objective is an expression, not a constraint; constraints go in 'subject to'") \
    X(SecondSubjectTo, "T0126", Error, "a model has only one 'subject to' block; put all constraints in it") \
    X(LabelBeforeForall, "T0127", Error, "a label goes after the forall header, as in 'forall(i in I) name: ...', and names the whole family") \
    X(BlockWithoutForall, "T0128", Error, "a '{{' block of constraints follows a forall header") \
    X(RangeConstraintForm, "T0129", Error, "a range constraint is written 'lo <= expression <= hi'") \
    X(AssignInConstraint, "T0130", Error, "an equality constraint is written with '=='") \
    X(StrictInequality, "T0131", Error, "strict inequalities are not allowed in constraints; use '<=' or '>='") \
    X(NotEqualConstraint, "T0132", Error, "'!=' cannot be a constraint; use '<=', '>=' or '=='") \
    X(IndexedLabel, "T0133", Error, "a constraint label is a plain name (a label inside a forall names the whole family), as in 'capacity: ...'") \
    X(ExpectedRelation, "T0134", Error, "expected '<=', '>=' or '==' in the constraint, found {token}") \
    X(TupleBinding, "T0135", Error, "bind a tuple with one name, as in 'a in Arcs', and use its fields ('a.from')") \
    X(TooManyBindings, "T0136", Error, "at most {count} bindings fit in one header") \
    X(AssignInCondition, "T0137", Error, "a comparison for equality is written '=='") \
    X(ChainedComparison, "T0138", Error, "comparisons cannot be chained; join them with '&&'") \
    X(AggregateWithoutBindings, "T0139", Error, "'{aggregate}' takes bindings, as in '{aggregate}(i in I) cost[i]'") \
    X(IndexNotName, "T0140", Error, "only a declared array can be indexed") \
    X(ListOutsideArray, "T0141", Error, "a list '[...]' can only initialise an array parameter") \
    X(EllipsisInExpression, "T0142", Error, "'...' stands alone after '=' in a declaration, meaning the value is in the data") \
    X(DeclarationInData, "T0143", Error, "the data text holds only assignments such as 'n = 5;'; declarations belong in the model") \
    X(ElementAssignment, "T0144", Error, "an array is given whole, as in 'demand = [10, 20, 30];', not element by element") \
    X(ArithmeticInData, "T0145", Error, "data values are literals; compute derived values in the model") \
    X(NameInData, "T0146", Error, "data values are literals, but '{name}' is a name; write the value itself (or compute it in the model)") \
    X(EllipsisInData, "T0147", Error, "'...' belongs in the model; the data text gives the value itself") \
    X(ExpectedListSeparator, "T0148", Error, "expected ',' or '{closing}' in the '{opening}' opened at {line}:{column}, found {token}") \
    X(EmptyModel, "T0149", Error, "the model is empty: declare its data and decision variables, then an objective and 'subject to {{ ... }}'") \
    \
    X(UndeclaredName, "T0201", Error, "undeclared name '{name}'{suggestion}") \
    X(UsedBeforeDeclaration, "T0202", Error, "'{name}' is used before its declaration (line {line})") \
    X(UsedInOwnDeclaration, "T0203", Error, "'{name}' is used in its own declaration") \
    X(AlreadyDeclared, "T0204", Error, "'{name}' is already declared (line {line}){advice}") \
    X(DuplicateField, "T0205", Error, "the field '{field}' is declared twice in tuple '{tuple}'") \
    X(TupleTypeBeforeDeclaration, "T0206", Error, "tuple type '{name}' is used before its declaration (line {line})") \
    X(UnknownType, "T0207", Error, "unknown type '{name}'{suggestion}") \
    X(NotAType, "T0208", Error, "'{name}' is {kind}, not a type") \
    X(LabelIsDeclaredName, "T0209", Error, "the label '{label}' is already the name of a declaration (line {line}); choose another label") \
    X(DuplicateLabel, "T0210", Error, "the label '{label}' is already used (line {line})") \
    X(BindingShadows, "T0211", Error, "'{name}' is already bound by an enclosing forall, sum, min or max; choose another name") \
    X(BindingIndexed, "T0212", Error, "'{name}' is a binding, not an array, so it cannot be indexed") \
    X(ScalarIndexed, "T0213", Error, "'{name}' is {kind} without dimensions, so it cannot be indexed") \
    X(IndexCount, "T0214", Error, "'{name}' has {count} dimension{s} {dimensions} but {count} {indices} given") \
    X(BindingOutsideAggregate, "T0215", Error, "'{name}' is bound by the '{aggregate}' at {line}:{column}, whose body is one product and ends before this use; parenthesise the body, as in '{aggregate}({binding}) ({body} ...)'") \
    \
    X(VariableWhereData, "T0301", Error, "{kind} '{name}' used where data is required ({context})") \
    X(ArrayWhereNumber, "T0302", Error, "'{expression}' is an array; {what} needs one element, as in '{name}[...]', or a sum over it, as in 'sum(i in I) {name}[i]'") \
    X(NeedsNumber, "T0303", Error, "{what} needs a number, but '{expression}' is {description}") \
    X(FloatCondition, "T0304", Error, "a condition is true or false, but '{expression}' is a float; compare it, as in '{expression} > 0'") \
    X(NotACondition, "T0305", Error, "a condition is true or false, but '{expression}' is {description}") \
    X(IntDimension, "T0306", Error, "a dimension is a set or a range, but '{expression}' is an int; write a range, as in '1..{expression}'") \
    X(NotADimension, "T0307", Error, "a dimension is a set or a range, but '{expression}' is {description}") \
    X(InitializerKind, "T0308", Error, "'{name}' is {type}, but its initializer is {description}") \
    X(SetInitializer, "T0309", Error, "'{name}' is a set; initialise it with a set such as {{1, 2}}, a set or a range, not {description}") \
    X(ElementType, "T0310", Error, "'{name}' holds {type} values, but '{expression}' is {description}") \
    X(DexprIntGetsFloat, "T0311", Error, "dexpr '{name}' is int, but its expression is a float") \
    X(ArrayInitializerForm, "T0312", Error, "'{name}' is an array, so its initializer is a list in index order, as in '[1, 2, 3]'") \
    X(ArrayInitializerNesting, "T0313", Error, "'{name}' has {count} dimensions, so its initializer is a list of lists, one level per dimension, as in '[[1, 2], [3, 4]]'") \
    X(BindingOverInt, "T0314", Error, "'{expression}' is an int, not a set; write a range, as in '{binding} in 1..{expression}'") \
    X(BindingOverNonSet, "T0315", Error, "a binding ranges over a set or a range, but '{expression}' is {description}") \
    X(CardOfNonSet, "T0316", Error, "'card' counts the elements of a set or range, but '{expression}' is {description}") \
    X(TupleTypeAsValue, "T0317", Error, "'{name}' is a tuple type, not a value") \
    X(IndexNotOneValue, "T0318", Error, "{which_index} is one value{element_of}, but '{expression}' is {description}") \
    X(IndexType, "T0319", Error, "{which_index} must be {type}{element_of}, but '{expression}' is {description}") \
    X(FieldOfNonTuple, "T0320", Error, "'{expression}' is {description}, not a tuple, so it has no field '{field}'") \
    X(FieldOfLiteral, "T0321", Error, "a tuple literal has no field names; '.{field}' needs a declared tuple") \
    X(UnknownField, "T0322", Error, "tuple type '{tuple}' has no field '{field}'{suggestion}") \
    X(TupleElement, "T0323", Error, "a tuple holds single values, but '{expression}' is {description}") \
    X(SetElement, "T0324", Error, "a set holds single values, but '{expression}' is {description}") \
    X(MixedSet, "T0325", Error, "the elements of a set have one type, but '{expression}' is {description} among {type} values") \
    X(RangeBound, "T0326", Error, "the bounds of a range are ints, but '{expression}' is {description}") \
    X(NotOperand, "T0327", Error, "'!' needs a condition, but '{expression}' is {description}") \
    X(LogicalOperand, "T0328", Error, "'{operator}' joins conditions, but '{expression}' is {description}") \
    X(StringOrder, "T0329", Error, "strings are compared only with '==' or '!='") \
    X(Incomparable, "T0330", Error, "cannot compare '{expression}' ({description}) with '{expression}' ({description}) using '{operator}'") \
    X(InRightSide, "T0331", Error, "the right side of 'in' is a set or a range, but '{expression}' is {description}") \
    X(InLeftSide, "T0332", Error, "the left side of 'in' is one value, but '{expression}' is {description}") \
    X(InElementType, "T0333", Error, "'{expression}' is {description}, but '{set}' holds {type} values") \
    \
    X(VariableDivisor, "T0401", Error, "non-linear term '{term}': a divisor must be free of decision variables") \
    X(ProductOfVariables, "T0402", Error, "non-linear term '{term}': a product needs a factor free of decision variables") \
    \
    X(AssignedTwice, "T0501", Error, "'{name}' is assigned twice in the data (first on line {line})") \
    X(NotDeclaredInModel, "T0502", Error, "'{name}' is not declared in the model{suggestion}") \
    X(DataForNonData, "T0503", Error, "'{name}' is {kind}; the data gives values to parameters and sets only") \
    X(DataForRange, "T0504", Error, "'{name}' is a range; its bounds are given in the model, not in the data") \
    X(ValueInBoth, "T0505", Error, "'{name}' already has a value in the model (line {line}); remove it from the data, or declare it with '= ...'") \
    X(NoValue, "T0506", Error, "'{name}' has no value: give it one in the data ('{name} = {example};') or an initializer in the model") \
    X(DuplicateElement, "T0507", Error, "'{name}' lists {value} twice") \
    X(NotBoolean, "T0508", Error, "{expected} (0, 1, true or false), but its value is {value}") \
    X(SetWithoutBraces, "T0509", Error, "'{name}' is a set; give its elements in braces, as in {example}, not {given}") \
    X(WrongValueKind, "T0510", Error, "{expected}, but the data gives {given}{hint}") \
    X(TupleArity, "T0511", Error, "{expected}, but this tuple has {count} value{s} and '{tuple}' has {count} fields") \
    X(ArrayNotList, "T0512", Error, "'{name}' is an array; give its values as a list in the order of {dimension}, as in [1, 2, 3], not {given}") \
    X(ArrayNotNested, "T0513", Error, "'{name}' has {count} dimensions, so its values are a list of lists in the order of {dimensions}, as in [[1, 2], [3, 4]]{found}") \
    X(ArrayLength, "T0514", Error, "'{part}' has {count} value{s} but {dimension} has {count} element{s}") \
    \
    X(IndexOutside, "T0601", Error, "index {index} of '{array}' is {outside_or_not_in} {dimension}{when}") \
    X(DivisionByZero, "T0602", Error, "division by zero in data: {what}{when}") \
    X(IntegerOverflow, "T0603", Error, "integer overflow in '{expression}'{when}") \
    X(FloatTooLarge, "T0604", Error, "the value of '{expression}' is too large for a float{when}") \
    X(EmptyMinMax, "T0605", Error, "'{aggregate}' over no elements has no value: '{expression}'{when}") \
    X(BeyondSolverInfinity, "T0606", Error, "{what} is at or beyond 1e20, which the solver reads as infinity; choose units that make it smaller{when}") \
    \
    X(TextTooLarge, "T0701", Error, "the {which} text is too large to compile (more than {count} MB)") \
    X(TooManyParts, "T0702", Error, "the text is too large to compile (more than {count} expression parts)") \
    X(NestedTooDeeply, "T0703", Error, "expression nested too deeply (more than {count} levels)") \
    X(ValueTakesTooLong, "T0704", Error, "computing the value of '{name}' takes too long; simplify its initializer") \
    X(CheckIncomplete, "T0705", Error, "the data checks could not be completed at {what}: they would take more than {count} evaluation steps; use smaller sets, or split it") \
    X(TooManyElements, "T0706", Error, "'{name}' would hold too many values: the data of a model may hold at most {count} in all") \
    X(ModelTooLarge, "T0707", Error, "{what} would have {count}{total}, more than the size limit of {limit}; use smaller sets, or raise the size limit") \
    \
    X(ForeignWord, "T0801", Error, "'{written}' is not {what}; write {fix}") \
    \
    X(ConstraintWithoutVariable, "T0901", Warning, "the constraint{label} mentions no decision variable: the data alone decides whether it holds") \
    X(ObjectiveWithoutVariable, "T0902", Warning, "the objective mentions no decision variable: every solution has the same value") \
    X(UnusedVariable, "T0903", Warning, "decision variable '{name}' is declared but never used") \
    X(UnusedDexpr, "T0904", Warning, "dexpr '{name}' is declared but never used") \
    X(UnusedData, "T0905", Warning, "'{name}' is declared but never used") \
    X(EmptyFamily, "T0906", Warning, "the constraint{label} has no members for this data: no binding values satisfy its forall")

// clang-format on

enum class Severity : uint8_t { Error, Warning, Note };

enum class Code : uint16_t {
#define TARVOK_CODE_ENUM(name, id, severity, format) name,
    TARVOK_DIAGNOSTIC_CODES(TARVOK_CODE_ENUM)
#undef TARVOK_CODE_ENUM
};

struct CodeInfo {
    Code code;
    std::string_view id;  ///< "T0201"
    Severity severity;
    std::string_view format;  ///< the message with `{placeholders}`
};

/// Every code, in the order of the table.
std::span<const CodeInfo> diagnostic_codes();

const CodeInfo& code_info(Code code);

/// "error", "warning" or "note".
std::string_view severity_text(Severity severity);

}  // namespace tarvok::compiler
