"""REQUEST_TIMEOUT (--timeout) bounds a whole request, not each read: a server that sends its answer one
byte every half second is cut at the deadline, for the real openai, google-genai and ollama libraries
against the scripted server, and in the real command."""

import subprocess
import sys
import time

import pytest
from llm_server import gemini_models, gemini_response, ollama_generate, ollama_tags, openai_response

TIMEOUT = 1.2
# The whole answer trickled (the status line too), or the headers at once and then the body.
TRICKLES = [pytest.param(False, id="whole-answer"), pytest.param(True, id="body")]


def cut(call, attempts=1):
    started = time.monotonic()
    with pytest.raises(RuntimeError) as info:
        call()
    took = time.monotonic() - started
    assert TIMEOUT * attempts - 0.1 <= took < (TIMEOUT + 0.8) * attempts, took
    return str(info.value)


TIMED_OUT = (
    f"request timed out: no complete reply within the {TIMEOUT:g} s request timeout (REQUEST_TIMEOUT, --timeout)"
)


@pytest.mark.parametrize("from_body", TRICKLES)
def test_openai(tg, openai_server, no_sleep, from_body):
    openai_server.set_timeout(TIMEOUT)
    openai_server.server.handler = lambda request: openai_response("x" * 200).trickled(0.5, from_body)
    message = cut(lambda: tg._llm_generate_text(tg.LLMProvider.OPENAI, "gpt-test", "p"), attempts=3)
    assert message == "OpenAI request failed after 3 attempts: " + TIMED_OUT
    assert len(openai_server.server.requests) == 3  # each attempt of the package's loop is one bounded request


@pytest.mark.parametrize("from_body", TRICKLES)
def test_ollama(tg, ollama_server, from_body):
    ollama_server.set_timeout(TIMEOUT)
    ollama_server.server.handler = lambda request: ollama_generate("x" * 200).trickled(0.5, from_body)
    assert cut(lambda: tg._ollama_generate_text("m", "p")) == "Ollama " + TIMED_OUT
    ollama_server.server.handler = lambda request: ollama_tags(["llama3"] * 20).trickled(0.5, from_body)
    assert cut(tg.list_ollama_models) == "Failed to list Ollama models: Ollama " + TIMED_OUT


@pytest.mark.parametrize("from_body", TRICKLES)
def test_google_genai(tg, genai_server, from_body):
    genai_server.set_timeout(TIMEOUT)
    genai_server.server.handler = lambda request: gemini_response("x" * 200).trickled(0.5, from_body)
    assert cut(lambda: tg._llm_generate_text(tg.LLMProvider.GOOGLE, "gemini-test", "p")) == "Gemini " + TIMED_OUT
    genai_server.server.handler = lambda request: gemini_models({"models/gemini-a": ["generateContent"]}).trickled()
    assert cut(tg.list_gemini_models) == "Failed to list Gemini models: " + TIMED_OUT


def test_answers_within_the_timeout_come_through(tg, openai_server, ollama_server, genai_server):
    """Bounded, not cut short: a slow start and a connection per request change nothing for an answer in time."""
    for live in (openai_server, ollama_server, genai_server):
        live.set_timeout(TIMEOUT)

    def answer(request):
        reply = {"/v1/responses": openai_response, "/api/generate": ollama_generate}.get(request.path, gemini_response)
        slow = reply("ok")
        slow.delay = TIMEOUT / 2
        return slow

    openai_server.server.handler = answer
    for provider, model in [("OPENAI", "gpt-test"), ("OLLAMA", "llama3"), ("GOOGLE", "gemini-test")]:
        for _ in range(2):  # the second on a fresh connection too
            assert tg._llm_generate_text(getattr(tg.LLMProvider, provider), model, "p") == "ok"
    assert all(r.headers.get("connection") == "close" for r in openai_server.server.requests)


def test_the_command_ends_with_status_5_naming_the_timeout(ollama_server, tmp_path):
    ollama_server.server.handler = lambda request: ollama_generate("x" * 200).trickled(0.5)
    started = time.monotonic()
    done = subprocess.run(
        [sys.executable, "-m", "tarvok", "solve", "Cover demand.", "-m", "p.mod", "-d", "p.dat", "--provider", "ollama",
         "--model", "llama3", "--no-few-shot", "--timeout", "1"],
        cwd=tmp_path, capture_output=True, text=True, timeout=120,
    )  # fmt: skip
    assert done.returncode == 5, done.stderr
    assert done.stderr.splitlines()[-1] == (
        "tarvok: error: Ollama request timed out: no complete reply within the 1 s request timeout "
        "(REQUEST_TIMEOUT, --timeout)"
    )
    assert len(ollama_server.server.requests) == 1
    assert time.monotonic() - started < 1 + 8  # the cut request and the interpreter's start-up
