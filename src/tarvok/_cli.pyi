"""The tarvok command."""

from typing import Optional, Sequence

def main(argv: Optional[Sequence[str]] = None) -> int: ...
