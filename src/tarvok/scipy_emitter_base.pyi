"""Base class for generators that translate a compiled Tarvok model into a SciPy script."""

from .semantic_error import SemanticError as SemanticError
