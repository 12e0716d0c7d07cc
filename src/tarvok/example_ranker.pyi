"""Rank the example library's problem descriptions by similarity to a new description."""

import logging
import os
from typing import Any, Optional

logger: logging.Logger

def rank_problem_descriptions(
    query: str,
    models_dir: Optional[str | os.PathLike[str]] = None,
    top_k: int = 10,
    model_name: str = "sentence-transformers/all-MiniLM-L6-v2",
) -> list[dict[str, Any]]: ...
