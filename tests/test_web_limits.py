"""`tarvok serve` under the attacks that once froze or littered it, through the real command on 127.0.0.1: an
LLM service that never answers while questions and generations flood in, clients that leave in the middle of
a generation or of their upload, and provider names the table does not know."""

import http.client
import json
import socket
import threading
import time

import pytest

pytest.importorskip("starlette")
pytest.importorskip("uvicorn")
from llm_server import LLMServer, Reply  # noqa: E402
from test_cli import GOOD_DATA, GOOD_MODEL  # noqa: E402
from web_server import post, serving  # noqa: E402

QUESTION = {"question": "Why?", "model": GOOD_MODEL, "data": GOOD_DATA, "llm_model": "gpt-test"}


def open_generation(port):
    """A generation's status, and its stream held open once it asks the LLM (connection and reply; else None)."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    body = json.dumps({"description": "Plan.", "model": "gpt-test"})
    connection.request("POST", "/api/generate", body, {"Content-Type": "application/json"})
    reply = connection.getresponse()
    if reply.status != 200:
        reply.read()
        connection.close()
        return reply.status, None
    seen = b""
    while b'"request"' not in seen:
        seen += reply.fp.readline()
    return reply.status, (connection, reply)


def asked(port):
    """A question sent, its answer not read: the connection."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    connection.request("POST", "/api/feedback", json.dumps(QUESTION), {"Content-Type": "application/json"})
    return connection


def reaching(llm, count):
    """Whether the LLM service has been asked `count` times within a minute."""
    deadline = time.monotonic() + 60
    while len(llm.requests) < count and time.monotonic() < deadline:
        time.sleep(0.05)
    return len(llm.requests) >= count


def leave(stream):
    connection, reply = stream
    connection.sock.shutdown(socket.SHUT_RDWR)
    reply.close()
    connection.close()


@pytest.fixture
def silent_llm():
    """An LLM service that takes every request and never answers (until it stops)."""
    with LLMServer(handler=lambda request: Reply.hang(), hang_limit=120) as server:
        yield server


def test_an_llm_that_never_answers_freezes_nothing(silent_llm, tmp_path):
    with serving(silent_llm, tmp_path / "work") as port:
        generations = [open_generation(port) for _ in range(6)]
        assert sorted(status for status, _ in generations) == [200] * 4 + [429] * 2

        answers = []
        flood = [
            threading.Thread(target=lambda: answers.append(post(port, "/api/feedback", QUESTION, timeout=60)))
            for _ in range(45)
        ]
        for asker in flood:
            asker.start()
        deadline = time.monotonic() + 60
        while len(answers) < 41 and time.monotonic() < deadline:
            time.sleep(0.1)
        # Four questions wait on the LLM; every other one is told to come back.
        assert len(answers) == 41
        assert {status for status, _ in answers} == {429}
        assert answers[0][1]["error"] == "4 questions to the LLM are under way; wait for one to end"

        # The page, a check and a solve are answered all the same.
        page = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
        page.request("GET", "/")
        assert page.getresponse().status == 200
        page.close()
        assert post(port, "/api/check", {"model": GOOD_MODEL, "data": GOOD_DATA}, timeout=10)[1]["ok"] is True
        assert post(port, "/api/run", {"model": GOOD_MODEL, "data": GOOD_DATA}, timeout=10)[0] == 200

        # A provider the table does not know is refused, as the command refuses it, before any request.
        asked = len(silent_llm.requests)
        for path, body in (
            ("/api/generate", {"description": "Plan.", "provider": "acme"}),
            ("/api/feedback", {**QUESTION, "provider": "acme"}),
        ):
            status, answer = post(port, path, body, timeout=10)
            assert status == 400 and answer["error"].startswith("'provider': unknown provider 'acme'; choose openai")
        assert len(silent_llm.requests) == asked

        silent_llm.stop()  # the waiting questions fail, and are answered
        for asker in flood:
            asker.join(30)
        assert sorted(status for status, _ in answers)[-4:] == [502] * 4
        for _, stream in generations:
            if stream:
                leave(stream)


def test_clients_that_leave_free_their_slots_and_leave_no_traceback(silent_llm, tmp_path):
    log = tmp_path / "serve.log"
    with serving(silent_llm, tmp_path / "work", log) as port:
        held = [open_generation(port) for _ in range(4)]
        assert [status for status, _ in held] == [200] * 4
        assert open_generation(port)[0] == 429
        assert reaching(silent_llm, 4)

        # Its LLM request is cut as the client goes: the slot is free long before that request's own timeout.
        leave(held.pop()[1])
        left = time.monotonic()
        while (retry := open_generation(port))[0] == 429 and time.monotonic() - left < 5:
            time.sleep(0.05)
        assert retry[0] == 200
        held.append(retry)

        # So does a question whose client leaves while the LLM keeps it waiting.
        before = len(silent_llm.requests)
        questions = [asked(port) for _ in range(4)]
        assert reaching(silent_llm, before + 4)
        assert post(port, "/api/feedback", QUESTION, timeout=10)[0] == 429
        questions.pop().close()
        left = time.monotonic()
        while True:
            try:
                status = post(port, "/api/feedback", QUESTION, timeout=2)[0]
            except TimeoutError:
                break  # taken: it waits on the LLM
            assert status == 429 and time.monotonic() - left < 5
            time.sleep(0.05)

        # Clients gone in the middle of their upload.
        for path in ("/api/check", "/api/feedback") * 10:
            with socket.create_connection(("127.0.0.1", port), timeout=10) as raw:
                head = f"POST {path} HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                raw.sendall((head + "Content-Length: 4000\r\n\r\n").encode() + b'{"model": "' + b"x" * 1000)
        assert post(port, "/api/check", {"model": GOOD_MODEL, "data": GOOD_DATA}, timeout=10)[1]["ok"] is True
        for _, stream in held:
            leave(stream)
        for connection in questions:
            connection.close()
    printed = log.read_text()
    assert "Traceback" not in printed and len(printed.splitlines()) <= 1 + 20, printed
