"""The error raised for Tarvok models and data that do not compile."""

class SemanticError(Exception):
    def __init__(self, message: str, /) -> None: ...
