"""Runs Tarvok models: expands a model and its data into a sparse program and solves it with HiGHS."""

import enum
import os
from collections.abc import Callable, Mapping
from typing import Any, Optional, Sequence

import numpy
import numpy.typing

from .semantic_error import Diagnostic
from .semantic_error import SemanticError as SemanticError

class Status(enum.Enum):
    """How a solve ended; the value is the word the JSON output uses."""

    OPTIMAL = "optimal"
    INFEASIBLE = "infeasible"
    UNBOUNDED = "unbounded"
    INFEASIBLE_OR_UNBOUNDED = "infeasible_or_unbounded"
    TIME_LIMIT = "time_limit"
    ERROR = "error"

class Program:
    """A model expanded into a sparse linear or mixed-integer program.

    Columns are the elements of the decision variables, in declaration order and row by row over each
    variable's index sets; rows are the constraint instances. Arrays are read-only numpy views.
    Names: 'ship[Aalborg][Copenhagen]' for a column, 'label[index values]' for a row; an unlabelled
    constraint is named c<line> (c<line>_<column> when several start on one line).
    """

    @property
    def sense(self) -> str: ...
    @property
    def objective_offset(self) -> float: ...
    @property
    def num_columns(self) -> int: ...
    @property
    def num_rows(self) -> int: ...
    @property
    def num_nonzeros(self) -> int: ...
    @property
    def cost(self) -> numpy.typing.NDArray[numpy.float64]: ...
    @property
    def column_lower(self) -> numpy.typing.NDArray[numpy.float64]: ...
    @property
    def column_upper(self) -> numpy.typing.NDArray[numpy.float64]: ...
    @property
    def integrality(self) -> numpy.typing.NDArray[numpy.uint8]: ...
    @property
    def row_lower(self) -> numpy.typing.NDArray[numpy.float64]: ...
    @property
    def row_upper(self) -> numpy.typing.NDArray[numpy.float64]: ...
    @property
    def row_starts(self) -> numpy.typing.NDArray[numpy.int32]: ...
    @property
    def column_indices(self) -> numpy.typing.NDArray[numpy.int32]: ...
    @property
    def values(self) -> numpy.typing.NDArray[numpy.float64]: ...
    @property
    def column_starts(self) -> numpy.typing.NDArray[numpy.int32]: ...
    @property
    def row_indices(self) -> numpy.typing.NDArray[numpy.int32]: ...
    @property
    def column_values(self) -> numpy.typing.NDArray[numpy.float64]: ...
    def csc(
        self,
    ) -> tuple[
        numpy.typing.NDArray[numpy.int32], numpy.typing.NDArray[numpy.int32], numpy.typing.NDArray[numpy.float64]
    ]:
        """The matrix column by column: (starts, row_indices, values)."""
        ...
    def coo(
        self,
    ) -> tuple[
        numpy.typing.NDArray[numpy.int32], numpy.typing.NDArray[numpy.int32], numpy.typing.NDArray[numpy.float64]
    ]:
        """The matrix as coordinates: (row_indices, column_indices, values)."""
        ...
    @property
    def column_names(self) -> list[str]: ...
    @property
    def column_keys(self) -> list[tuple[str, ...]]: ...
    @property
    def row_names(self) -> list[str]: ...
    @property
    def row_lines(self) -> list[int]: ...
    @property
    def variables(self) -> list[dict[str, Any]]: ...
    @property
    def dexprs(self) -> list[dict[str, Any]]: ...
    @property
    def conflicts(self) -> list[dict[str, Any]]: ...
    @property
    def statistics(self) -> dict[str, Any]: ...
    def solution_values(self, x: Sequence[float]) -> dict[str, Any]:
        """Map a value per column to {variable or dexpr name: value}."""
        ...

class SolveResult:
    """The outcome of solve_model."""

    @property
    def status(self) -> Status: ...
    @property
    def objective(self) -> Optional[float]: ...
    @property
    def values(self) -> dict[str, Any]: ...
    @property
    def nested_values(self) -> dict[str, Any]: ...
    @property
    def statistics(self) -> dict[str, Any]: ...
    @property
    def infeasible_constraints(self) -> list[dict[str, Any]]: ...
    @property
    def message(self) -> Optional[str]: ...
    @property
    def program(self) -> Program: ...
    @property
    def duals(self) -> Optional[dict[str, Any]]: ...
    @property
    def reduced_costs(self) -> Optional[dict[str, Any]]: ...
    @property
    def activities(self) -> Optional[dict[str, Any]]: ...
    @property
    def slacks(self) -> Optional[dict[str, Any]]: ...
    @property
    def ranging(self) -> Optional[dict[str, Any]]: ...
    @property
    def sensitivity_basis(self) -> Optional[str]: ...
    def to_dict(self, *, nested: bool = False) -> dict[str, Any]:
        """The result as JSON-ready data: status, objective, values, infeasible_constraints, message, statistics."""
        ...
    def to_pandas(self) -> dict[str, Any]:
        """The values as pandas objects: {name: Series} for each indexed variable, and each scalar's value."""
        ...
    def to_frame(self, name: str) -> Any:
        """One variable's values as a pandas DataFrame: a column per index ('index 1', ...) and 'value'."""
        ...
    def _repr_html_(self) -> str: ...
    def summary(self) -> str:
        """A readable report: status, objective, the nonzero values grouped by variable with one column per index, the dexprs."""
        ...

class CompiledModel:
    """A model compiled with its data, kept for running."""

    @property
    def ok(self) -> bool: ...
    @property
    def report(self) -> str: ...
    def report_for(self, model_name: str, data_name: str) -> str:
        """The diagnostics as the check command prints them, the texts named model_name and data_name."""
        ...
    @property
    def diagnostics(self) -> list[Diagnostic]: ...
    @property
    def model_text(self) -> str: ...
    @property
    def data_text(self) -> str: ...
    @property
    def program(self) -> Program: ...

def compile(model_text: str, data_text: str | Mapping[str, object]) -> CompiledModel:
    """Compile a model with its data for running, without building the compiled-model dict."""
    ...

def solve_program(
    program: Program,
    *,
    time_limit: Optional[float] = None,
    mip_gap: Optional[float] = None,
    threads: Optional[int] = None,
    log: bool = False,
    sensitivity: bool | str = False,
    solver: str = "highs",
    cancel: Optional[Callable[[], object]] = None,
) -> SolveResult:
    """Solve a Program (from instantiate() or a CompiledModel) with HiGHS and return a SolveResult."""
    ...

def instantiate(model_text: str, data_text: str | Mapping[str, object]) -> Program:
    """Compile a model with its data and expand it into a sparse Program."""
    ...

def solve_model(
    model_text: str,
    data_text: str | Mapping[str, object],
    *,
    time_limit: Optional[float] = None,
    mip_gap: Optional[float] = None,
    threads: Optional[int] = None,
    log: bool = False,
    sensitivity: bool | str = False,
    solver: str = "highs",
    cancel: Optional[Callable[[], object]] = None,
) -> SolveResult:
    """Solve a model with its data using HiGHS and return a SolveResult."""
    ...

def write_model(model_text: str, data_text: str | Mapping[str, object], path: str | os.PathLike[str]) -> None:
    """Write the expanded model as a free-format .mps or an .lp file (by the path's extension)."""
    ...
