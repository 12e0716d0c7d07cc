"""The Model Context Protocol server of `tarvok mcp`: tools to check, run, emit, find and generate
Tarvok models, the language and examples as resources, and a prompt that walks an agent through them."""

import logging
from typing import Any, Optional

logger: logging.Logger
#: The tools the server offers, in the order it lists them.
TOOLS: tuple[str, ...]

def create_server() -> Any: ...
def call_tool(name: str, arguments: Optional[dict[str, Any]] = None) -> dict[str, Any]:
    """Run one tool call as the server does and return {"content": text, "structured": object,
    "is_error": bool}; no fault of the call raises. generate_model sends no progress from here."""
    ...

def serve() -> None:
    """Run the MCP server on stdin and stdout until the client closes them."""
    ...

def __dir__() -> list[str]: ...
