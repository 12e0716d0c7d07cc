"""SciPy code generation: turns a compiled Tarvok model into a Python script that solves it with SciPy."""

import os
from typing import Any, ClassVar, Optional

import numpy
import numpy.typing

from .scipy_emitter_base import SciPyCodeGeneratorBase
from .semantic_error import SemanticError as SemanticError
from .solver import Program

class SciPyCodeGenerator(SciPyCodeGeneratorBase):
    """Generator of a SciPy script from a compiled Tarvok model.

    Construct it like the base, SciPyCodeGenerator(ast, data_dict), with `ast` the dict that
    TVLCompiler().compile_model(model_text, data_text) returns and `data_dict` its "data" entry (or
    None). The build steps fill the base's attributes in SciPy's standard form, minimize c @ x
    subject to A_ub @ x <= b_ub, A_eq @ x == b_eq and the bounds, ready for scipy.optimize.linprog
    or milp. A_ub and A_eq are numpy arrays of shape (rows, columns) while rows x columns stays
    within dense_limit, else scipy.sparse.csr_array (a shape of (0, columns) when there are no rows).
    """

    # Filled by the build steps (the base creates them empty).
    var_names: list[str]
    var_indices: dict[str, int]
    bounds: list[tuple[Optional[float], Optional[float]]]
    integrality: list[int]
    c: list[float]
    A_ub: Any  # numpy.ndarray of shape (rows, columns), or scipy.sparse.csr_array past dense_limit cells
    b_ub: list[float]
    A_eq: Any  # as A_ub
    b_eq: list[float]
    tuple_types: dict[str, tuple[str, ...]]

    # Set by the build steps.
    objective_sense: str  # "minimize" or "maximize"
    objective_offset: float
    ub_names: list[str]
    eq_names: list[str]

    program: Optional[Program]
    """The program the numbers come from; None until a build step needs it."""
    npz_arrays: Optional[dict[str, numpy.typing.NDArray[Any]]]
    """After generate_code: the arrays of the .npz file beside the script; empty when the numbers are in the script."""
    inline_limit: ClassVar[int]
    """Most columns, rows or nonzeros written into the script itself (5000)."""
    dense_limit: ClassVar[int]
    """Most cells (rows x columns) of A_ub or A_eq held as a dense numpy array (1,000,000)."""

    def __init__(self, ast: Any, data_dict: Optional[dict[Any, Any]] = None) -> None: ...
    def _load_program(self) -> Program:
        """Return the tarvok.solver.Program the numbers come from, instantiating it on first use."""
        ...
    def _build_variables(self) -> None:
        """Fill var_names, var_indices, bounds, integrality and tuple_types, one entry per column."""
        ...
    def _build_objective(self) -> None:
        """Fill c (negated when the model maximizes), objective_offset and objective_sense."""
        ...
    def _build_constraints(self) -> None:
        """Fill A_ub, b_ub, A_eq, b_eq, ub_names and eq_names in SciPy's standard form."""
        ...
    def generate_code(self) -> str:
        """Run the three build steps and return the script, written from their attributes."""
        ...
    def write(self, path: str | os.PathLike[str]) -> list[str]:
        """Generate the script and write it to `path`; return the paths written."""
        ...

def write_script(model_text: str, data_text: str, path: str | os.PathLike[str]) -> list[str]:
    """Compile a model with its data and write a SciPy script that solves it; return the paths written."""
    ...

def write_program_script(program: Program, path: str | os.PathLike[str]) -> list[str]:
    """Write the SciPy script of a Program that is at hand; return the paths written."""
    ...
