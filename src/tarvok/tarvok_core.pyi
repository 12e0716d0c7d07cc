"""The Tarvok compiler: checks a model text and a data text together."""

import os
from typing import Any, Optional, Sequence

from .semantic_error import SemanticError as SemanticError

class TVLCompiler:
    """Compiler for Tarvok model and data texts."""

    def __init__(self) -> None: ...
    def compile_model(self, model_text: str, data_text: str) -> dict[str, Any]:
        """Compile a model text together with its data text.

        Returns {"declarations": [...], "objective": {...} | None, "constraints": [...], "data": {...},
        "source": {"model": model_text, "data": data_text}};
        raises SemanticError listing every error as 'model:LINE:COLUMN: message' (or 'data:...').
        """
        ...

def main(argv: Optional[Sequence[str | os.PathLike[str]]] = None) -> int:
    """Check a model file with its data file from the command line; 0 compiles, 1 does not, 2 usage."""
    ...
