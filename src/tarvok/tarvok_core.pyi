"""The Tarvok compiler: checks a model text and a data text together."""

from typing import Any

from .semantic_error import SemanticError as SemanticError

class TVLCompiler:
    def __init__(self) -> None: ...
    def compile_model(self, model_text: str, data_text: str) -> dict[str, Any]: ...
