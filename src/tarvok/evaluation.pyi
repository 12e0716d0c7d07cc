"""Answer accuracy on benchmark sets: the generation loop on each word problem, its model solved and compared with the reference optimum."""

import os
from typing import Any, Optional, Sequence

def run_evaluation(
    dataset: Optional[str | os.PathLike[str]],
    out_dir: str | os.PathLike[str],
    *,
    provider: Optional[str] = None,
    model: Optional[str] = None,
    jobs: int = 1,
    iterations: Optional[int] = None,
    execution_check: Optional[bool] = None,
    rel_tol: float = 0.0001,
    limit: Optional[int] = None,
    progress: bool = True,
    force: bool = False,
    replay: Optional[str | os.PathLike[str]] = None,
    retry_errors: bool = True,
    stop_after_errors: int = 3,
    fields: Optional[dict[str, str]] = None,
    alignment_check: Optional[bool] = None,
    repeat: int = 1,
    samples: int = 1,
    assumptions: bool = False,
    what_if: bool = False,
    what_if_max: int = 3,
    solver: str = "highs",
) -> dict[str, Any]:
    """Run the generation loop on every problem of a data set and measure answer accuracy."""
    ...

def main(argv: Optional[Sequence[str]] = None) -> int:
    """Run `tarvok eval` with argv (default: sys.argv[1:]) and return its exit status."""
    ...
