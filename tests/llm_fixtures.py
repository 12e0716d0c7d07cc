"""Fixtures for the LLM back-ends: the scripted server, the real client
libraries pointed at it with short timeouts, and a sleep that never waits."""

from __future__ import annotations

import importlib
import sys
import time
from dataclasses import dataclass
from typing import Any, Callable

import pytest
from llm_server import LLMServer

#: The API key the live fixtures hand to the libraries; no text this system
#: produces may contain it.
SECRET_KEY = "sk-test-Zq7RfA93kXw0-secret"


@pytest.fixture
def llm_server():
    """A started scripted server, stopped after the test."""
    with LLMServer(hang_limit=10.0) as server:
        yield server


@pytest.fixture
def no_sleep(monkeypatch):
    """Replaces the host's time.sleep (ours and the libraries'); returns the requested waits."""
    waits: list[float] = []
    monkeypatch.setattr(time, "sleep", waits.append)
    return waits


def _request_timeout_setter(monkeypatch) -> Callable[[float], None]:
    """Sets the module's REQUEST_TIMEOUT, which every client is made with; restored after the test."""
    import tarvok.tarvok_generative as tg

    def set_timeout(seconds: float) -> None:
        monkeypatch.setattr(tg, "REQUEST_TIMEOUT", seconds)

    return set_timeout


@dataclass
class Live:
    """A real client library pointed at the scripted server."""

    server: LLMServer
    module: Any
    #: Sets the timeout, in seconds, of the library's requests from now on.
    set_timeout: Callable[[float], None]


@pytest.fixture
def openai_server(llm_server, monkeypatch, no_sleep):
    """The real `openai` library talking to the scripted server (OPENAI_BASE_URL) with a 2 s timeout."""
    openai = pytest.importorskip("openai")
    monkeypatch.setenv("OPENAI_API_KEY", SECRET_KEY)
    monkeypatch.setenv("OPENAI_BASE_URL", llm_server.url + "/v1")
    for name in ("OPENAI_ORG_ID", "OPENAI_PROJECT_ID", "OPENAI_ADMIN_KEY", "OPENAI_CUSTOM_HEADERS"):
        monkeypatch.delenv(name, raising=False)

    set_timeout = _request_timeout_setter(monkeypatch)
    set_timeout(2.0)
    return Live(llm_server, openai, set_timeout)


@pytest.fixture
def ollama_server(llm_server, monkeypatch):
    """The real `ollama` library, imported afresh with OLLAMA_HOST naming the scripted server.

    The library builds its module-level client when imported, so the
    module is imported anew for the test and the previous one put back after.
    """
    pytest.importorskip("ollama")
    monkeypatch.setenv("OLLAMA_HOST", llm_server.url)
    previous = sys.modules.pop("ollama", None)
    try:
        ollama = importlib.import_module("ollama")
    except BaseException:
        if previous is not None:
            sys.modules["ollama"] = previous
        raise

    set_timeout = _request_timeout_setter(monkeypatch)
    set_timeout(2.0)
    yield Live(llm_server, ollama, set_timeout)
    ollama._client._client.close()  # its pooled connections would be left to the collector
    if previous is not None:
        sys.modules["ollama"] = previous
    else:
        sys.modules.pop("ollama", None)


@pytest.fixture
def genai_server(llm_server, monkeypatch):
    """The real `google.genai` library talking to the scripted server (GOOGLE_GEMINI_BASE_URL), with a 2 s
    timeout; `google.generativeai` is made unimportable so that its successor serves."""
    genai = pytest.importorskip("google.genai")
    monkeypatch.setitem(sys.modules, "google.generativeai", None)
    monkeypatch.setenv("GEMINI_API_KEY", SECRET_KEY)
    monkeypatch.setenv("GOOGLE_GEMINI_BASE_URL", llm_server.url)
    for name in (
        "GOOGLE_API_KEY",
        "GOOGLE_GENAI_USE_VERTEXAI",
        "GOOGLE_GENAI_USE_ENTERPRISE",
        "GOOGLE_GENAI_API_VERSION",
    ):
        monkeypatch.delenv(name, raising=False)
    set_timeout = _request_timeout_setter(monkeypatch)
    set_timeout(2.0)
    return Live(llm_server, genai, set_timeout)
