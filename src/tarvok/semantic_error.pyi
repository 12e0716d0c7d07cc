"""The error raised for Tarvok models and data that do not compile."""

from typing import Literal, Optional, TypedDict, type_check_only

@type_check_only
class DiagnosticNote(TypedDict):
    """A remark attached to a diagnostic, such as where a name was first declared."""

    message: str
    file: Literal["model", "data"]
    line: int
    column: int

@type_check_only
class Diagnostic(TypedDict):
    """One diagnostic of the compiler. Lines and columns are 1-based and count characters; the span
    runs from (line, column) up to, not including, (end_line, end_column). `fix`, when given, is the
    text that replaces the span and mends the fault. The codes are listed in docs/diagnostics.md."""

    severity: Literal["error", "warning", "note"]
    code: str
    file: Literal["model", "data"]
    line: int
    column: int
    end_line: int
    end_column: int
    message: str
    notes: list[DiagnosticNote]
    fix: Optional[str]

class SemanticError(Exception):
    """A Tarvok model or data text that does not compile, or a construct a code generator cannot
    translate. Built from one message text; str() of the error is that text."""

    diagnostics: list[Diagnostic]
    """The compiler's records: its errors in source order, then its warnings. Empty for an error
    built from a text alone."""
    def __init__(self, message: str, /) -> None: ...
