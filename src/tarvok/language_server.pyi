"""The language server of `tarvok lsp`: diagnostics, quick fixes, hover, definitions, references,
symbols and completion for Tarvok models (.mod) and their data (.dat)."""

import logging
from typing import Any

logger: logging.Logger
#: The keywords of the language, as the compiler's lexer knows them.
KEYWORDS: tuple[str, ...]

def create_server() -> Any: ...
def serve() -> None: ...
def __dir__() -> list[str]: ...
