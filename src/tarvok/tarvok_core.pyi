"""The Tarvok compiler: checks a model text and a data text together.

The TypedDicts below are the compiled-model contract: the exact shape of every
dict that `TVLCompiler.compile_model` returns (docs/compiled-model.md explains
them for people writing code generators). Leaf nodes with the same content may
be one shared dict: treat the result as read-only, or copy it before changing it.
"""

import os
from collections.abc import Mapping
from typing import Literal, Optional, Sequence, TypedDict, Union, type_check_only

from .semantic_error import Diagnostic as Diagnostic
from .semantic_error import DiagnosticNote as DiagnosticNote
from .semantic_error import SemanticError as SemanticError

# ------------------------------------------------------------------ expressions

NameKind = Literal["parameter", "set", "range", "dvar", "dexpr", "binding"]

@type_check_only
class NumberNode(TypedDict):
    type: Literal["number"]
    value: Union[int, float]  # `12` is an int; `3.5`, `.5`, `1e-3` are floats

@type_check_only
class StringNode(TypedDict):
    type: Literal["string"]
    value: str

@type_check_only
class BooleanNode(TypedDict):
    type: Literal["boolean"]
    value: bool

@type_check_only
class NameNode(TypedDict):
    type: Literal["name"]
    name: str
    kind: NameKind  # what the name refers to

@type_check_only
class IndexNode(TypedDict):
    type: Literal["index"]
    name: str  # the indexed declaration (`x[i][j]` and `x[i, j]` alike)
    kind: NameKind
    indices: list["Expression"]

@type_check_only
class FieldNode(TypedDict):
    type: Literal["field"]
    tuple: "Expression"
    field: str

@type_check_only
class TupleLiteralNode(TypedDict):
    type: Literal["tuple_literal"]
    elements: list["Expression"]

@type_check_only
class SetLiteralNode(TypedDict):
    type: Literal["set_literal"]
    elements: list["Expression"]

@type_check_only
class ArrayLiteralNode(TypedDict):
    type: Literal["array_literal"]
    elements: list["Expression"]  # nested array literals for more dimensions

@type_check_only
class RangeNode(TypedDict):
    type: Literal["range"]
    low: "Expression"
    high: "Expression"

@type_check_only
class UnaryNode(TypedDict):
    type: Literal["unary"]
    op: Literal["-", "!"]
    operand: "Expression"

@type_check_only
class BinaryNode(TypedDict):
    """Two operands: arithmetic and logic with exactly two operands, comparisons, `in`."""

    type: Literal["binary"]
    op: Literal["+", "-", "*", "/", "&&", "||", "==", "!=", "<", "<=", ">", ">=", "in"]
    left: "Expression"
    right: "Expression"

@type_check_only
class ChainNode(TypedDict):
    """Three or more operands at one precedence (`a + b - c`, `a * b / c`, `p && q && r`),
    evaluated left to right: operators[k] joins the value so far with operands[k + 1]."""

    type: Literal["chain"]
    operands: list["Expression"]
    operators: list[Literal["+", "-", "*", "/", "&&", "||"]]

@type_check_only
class Binding(TypedDict):
    name: str
    set: "Expression"  # a set or range expression

@type_check_only
class AggregateNode(TypedDict):
    """`sum(i in I, j in J: condition) body`; `min` and `max` alike (over data only)."""

    type: Literal["sum", "min", "max"]
    bindings: list[Binding]
    condition: Optional["Expression"]
    body: "Expression"

@type_check_only
class AbsNode(TypedDict):
    type: Literal["abs"]
    argument: "Expression"

@type_check_only
class CardNode(TypedDict):
    type: Literal["card"]
    argument: "Expression"

Expression = Union[
    NumberNode,
    StringNode,
    BooleanNode,
    NameNode,
    IndexNode,
    FieldNode,
    TupleLiteralNode,
    SetLiteralNode,
    ArrayLiteralNode,
    RangeNode,
    UnaryNode,
    BinaryNode,
    ChainNode,
    AggregateNode,
    AbsNode,
    CardNode,
]

# ----------------------------------------------------------------- declarations

ValueType = str  # "int", "float", "string", "boolean" or the name of a tuple type

@type_check_only
class TupleField(TypedDict):
    name: str
    value_type: ValueType

@type_check_only
class TupleTypeDeclaration(TypedDict):
    name: str
    type: Literal["tuple"]
    fields: list[TupleField]
    line: int
    column: int

@type_check_only
class ParameterDeclaration(TypedDict):
    name: str
    type: Literal["parameter"]
    value_type: ValueType
    dimensions: list[Expression]  # NameNode (a set or range) or RangeNode (`lo..hi`) per dimension
    initializer: Optional[Expression]
    from_data: bool  # no initializer: the value comes from the data text
    line: int
    column: int

@type_check_only
class SetDeclaration(TypedDict):
    name: str
    type: Literal["set"]
    value_type: ValueType  # of the elements
    initializer: Optional[Expression]
    from_data: bool
    line: int
    column: int

@type_check_only
class RangeDeclaration(TypedDict):
    name: str
    type: Literal["range"]
    value_type: Literal["int"]
    low: Expression
    high: Expression
    line: int
    column: int

@type_check_only
class Bounds(TypedDict):
    low: Expression
    high: Expression

@type_check_only
class DvarDeclaration(TypedDict):
    name: str
    type: Literal["dvar"]
    value_type: Literal["float", "int", "boolean"]
    dimensions: list[Expression]
    nonnegative: bool  # `float+`, `int+`
    bounds: Optional[Bounds]  # `in lo..hi`, for every element
    line: int
    column: int

@type_check_only
class DexprDeclaration(TypedDict):
    name: str
    type: Literal["dexpr"]
    value_type: Literal["float", "int"]
    expression: Expression
    line: int
    column: int

Declaration = Union[
    TupleTypeDeclaration, ParameterDeclaration, SetDeclaration, RangeDeclaration, DvarDeclaration, DexprDeclaration
]

# ------------------------------------------------------- objective, constraints

@type_check_only
class Objective(TypedDict):
    sense: Literal["minimize", "maximize"]
    label: Optional[str]
    expression: Expression
    line: int
    column: int

@type_check_only
class Constraint(TypedDict):
    """`left op right`, one per binding of its foralls (outermost first), when `condition` holds."""

    label: Optional[str]  # inside a forall, it names the whole family
    bindings: list[Binding]
    condition: Optional[Expression]  # the foralls' conditions joined with `&&`
    operator: Literal["<=", ">=", "=="]
    left: Expression
    right: Expression
    line: int
    column: int

@type_check_only
class RangeConstraint(TypedDict):
    """`low <= expression <= high`."""

    label: Optional[str]
    bindings: list[Binding]
    condition: Optional[Expression]
    operator: Literal["range"]
    low: Expression
    expression: Expression
    high: Expression
    line: int
    column: int

# ------------------------------------------------------------------------- data

Scalar = Union[int, float, bool, str, tuple]  # a tuple value is a Python tuple of its fields
DataValue = Union[Scalar, list, range]  # sets as lists in their order, ranges as range, arrays as nested lists

@type_check_only
class Source(TypedDict):
    model: str  # the model text given to compile_model, the very object
    data: str

@type_check_only
class CompiledModel(TypedDict):
    declarations: list[Declaration]
    objective: Optional[Objective]
    constraints: list[Union[Constraint, RangeConstraint]]
    data: dict[str, DataValue]  # the value of every parameter, set and range, by name
    warnings: list[Diagnostic]
    source: Source  # the texts, for generators that expand the model again

@type_check_only
class DiagnosticCode(TypedDict):
    code: str
    severity: Literal["error", "warning"]
    format: str

class TVLCompiler:
    """Compiler for Tarvok model and data texts."""

    def __init__(self) -> None: ...
    def compile_model(self, model_text: str, data_text: str | Mapping[str, object]) -> CompiledModel:
        """Compile a model text together with its data text.

        Returns the compiled model; raises SemanticError listing every error as 'model:LINE:COLUMN: message'
        (or 'data:...'), with the structured records in its `diagnostics`; MemoryError when memory runs out,
        KeyboardInterrupt on Ctrl-C.
        """
        ...

#: The most columns and rows a model may expand to (nonzeros: ten times as many), read once at the start of every
#: call that compiles or expands a model; None leaves only the hard limits of the expansion.
MAX_SIZE: Optional[int]

def diagnostic_codes() -> list[DiagnosticCode]:
    """List the compiler's diagnostic codes."""
    ...

def main(argv: Optional[Sequence[Union[str, os.PathLike[str]]]] = None) -> int:
    """Check a model file with its data file from the command line; 0 compiles, 1 does not, 2 usage."""
    ...
