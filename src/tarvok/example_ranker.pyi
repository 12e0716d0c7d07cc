"""Rank the example library's problem descriptions by similarity to a new description."""

import logging
import os
from pathlib import Path
from typing import Any, Optional, Sequence

logger: logging.Logger
_model_cache: dict[str, Any]
_load_errors: dict[str, str]
DEFAULT_MODEL_NAME: str

class EmbeddingModelUnavailable(AttributeError):
    model_name: str
    reason: str

def rank_problem_descriptions(
    query: str,
    models_dir: Optional[str | os.PathLike[str]] = None,
    top_k: int = 10,
    model_name: str = "sentence-transformers/all-MiniLM-L6-v2",
) -> list[dict[str, Any]]: ...
def rank_lexically(
    query: str,
    models_dir: Optional[str | os.PathLike[str]] = None,
    top_k: int = 10,
) -> list[dict[str, Any]]: ...
def _load_model(model_name: str) -> Optional[Any]: ...
def _iter_description_files(models_dir: str | os.PathLike[str]) -> list[Path]: ...
def _read_text(path: str | os.PathLike[str], max_chars: int = 100000) -> str: ...
def main(argv: Optional[Sequence[str]] = None) -> int: ...
def __dir__() -> list[str]: ...
