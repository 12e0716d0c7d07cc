"""The tarvok command."""

from typing import Optional, Sequence

#: The exit statuses of every subcommand, with what each means.
EXIT_STATUSES: dict[int, str]

def main(argv: Optional[Sequence[str]] = None) -> int: ...
