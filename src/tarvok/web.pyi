"""The page of `tarvok serve`: describe a problem, watch the loop, read, solve, ask and revise, download;
and the JSON API it talks to (/api/check, /api/run, /api/emit, /api/generate, /api/feedback,
/api/apply, /api/examples)."""

import logging
import os
from typing import Any, Optional

logger: logging.Logger
#: The paths of the JSON API, in the order the page uses them.
ENDPOINTS: tuple[str, ...]

def default_workdir() -> str:
    """A new folder under the user's data folder ($XDG_DATA_HOME or ~/.local/share)/tarvok/serve/, named
    by the time; it is made when an app uses it."""
    ...

def create_app(workdir: Optional[str | os.PathLike[str]] = None, *, loopback_only: bool = False) -> Any:
    """Make the Starlette app of the page and its API; every file it writes is under workdir (made when
    missing; default_workdir() when None). With loopback_only, requests must name this machine
    (localhost, 127.0.0.1 or [::1]) as their host.

    Raises ImportError when Starlette (the web extra) is missing."""
    ...

def serve(
    host: str = "127.0.0.1", port: int = 8000, open_page: bool = False, workdir: Optional[str | os.PathLike[str]] = None
) -> None:
    """Serve the page with uvicorn until interrupted; open_page opens it in a browser."""
    ...

def __dir__() -> list[str]: ...
