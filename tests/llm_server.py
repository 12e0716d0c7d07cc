"""A scripted HTTP server on 127.0.0.1 that speaks enough of the OpenAI
Responses/models, Gemini generateContent/models and Ollama generate/tags protocols for the real client
libraries.

Replies come from a per-path queue, then the shared queue, then a handler
function; every request is recorded with its decoded JSON body. Bad servers
are scripted too: garbage bodies, connections closed without an answer or in
the middle of one, answers that never come (until the server stops), and
answers that trickle in a byte at a time.
"""

from __future__ import annotations

import json
import threading
from collections import deque
from dataclasses import dataclass, field
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from typing import Any, Callable, Optional
from urllib.parse import urlsplit


@dataclass
class Request:
    method: str
    path: str
    query: str
    headers: dict[str, str]
    body: bytes
    json: Any = None


@dataclass
class Reply:
    status: int = 200
    body: bytes = b""
    headers: dict[str, str] = field(default_factory=dict)
    # "send" answers; "close" drops the connection unanswered; "truncate"
    # sends the headers and half the body, then drops it; "hang" never answers;
    # "trickle" sends one byte every `interval` seconds (from the status line
    # on, or from the body on with `trickle_from_body`).
    action: str = "send"
    delay: float = 0.0
    interval: float = 0.5
    trickle_from_body: bool = False

    @classmethod
    def json(cls, obj: Any, status: int = 200, **headers: str) -> "Reply":
        return cls(status, json.dumps(obj).encode(), {"Content-Type": "application/json", **headers})

    @classmethod
    def raw(cls, body: bytes, status: int = 200, content_type: str = "application/json") -> "Reply":
        return cls(status, body, {"Content-Type": content_type})

    @classmethod
    def close(cls) -> "Reply":
        return cls(action="close")

    @classmethod
    def truncated(cls, obj: Any) -> "Reply":
        reply = cls.json(obj)
        reply.action = "truncate"
        return reply

    @classmethod
    def hang(cls) -> "Reply":
        return cls(action="hang")

    def trickled(self, interval: float = 0.5, from_body: bool = False) -> "Reply":
        """This answer, sent one byte every `interval` seconds."""
        self.action, self.interval, self.trickle_from_body = "trickle", interval, from_body
        return self


# Protocol bodies -----------------------------------------------------------


def openai_response(text: str, model: str = "gpt-test", **extra: Any) -> Reply:
    """A completed Responses object whose single message carries `text`."""
    return Reply.json(
        {
            "id": "resp_test",
            "object": "response",
            "created_at": 0,
            "status": "completed",
            "model": model,
            "output": [
                {
                    "type": "message",
                    "id": "msg_test",
                    "status": "completed",
                    "role": "assistant",
                    "content": [{"type": "output_text", "text": text, "annotations": []}],
                }
            ],
            "parallel_tool_calls": True,
            "tool_choice": "auto",
            "tools": [],
            **extra,
        }
    )


def openai_error(status: int, message: str, param: Optional[str] = None, code: Optional[str] = None) -> Reply:
    """An error answer; `x-should-retry: false` keeps the library from retrying on its own."""
    body = {"error": {"message": message, "type": "invalid_request_error", "param": param, "code": code}}
    return Reply.json(body, status, **{"x-should-retry": "false"})


def openai_models(ids: list[str]) -> Reply:
    return Reply.json(
        {"object": "list", "data": [{"id": i, "object": "model", "created": 0, "owned_by": "test"} for i in ids]}
    )


def gemini_response(*texts: str) -> Reply:
    """A generateContent answer whose one candidate has a part per text."""
    parts = [{"text": t} for t in texts]
    return Reply.json({"candidates": [{"content": {"parts": parts, "role": "model"}, "finishReason": "STOP"}]})


def gemini_models(methods_by_name: dict[str, list[str]]) -> Reply:
    return Reply.json(
        {"models": [{"name": name, "supportedGenerationMethods": methods} for name, methods in methods_by_name.items()]}
    )


def ollama_generate(text: str, model: str = "llama3") -> Reply:
    return Reply.json(
        {"model": model, "created_at": "2024-01-01T00:00:00Z", "response": text, "done": True, "done_reason": "stop"}
    )


def ollama_tags(tags: list[str]) -> Reply:
    return Reply.json(
        {
            "models": [
                {
                    "name": t,
                    "model": t,
                    "modified_at": "2024-01-01T00:00:00Z",
                    "size": 1,
                    "digest": "0" * 64,
                    "details": {"format": "gguf", "family": "test", "parameter_size": "1B", "quantization_level": "Q4"},
                }
                for t in tags
            ]
        }
    )


def ollama_error(status: int, message: str) -> Reply:
    return Reply.json({"error": message}, status)


# Server --------------------------------------------------------------------


class _Listener(ThreadingHTTPServer):
    # Room for many connections at once (a client with many workers opens one
    # per request): past the default 5, the kernel drops them and each waits
    # a second to try again.
    request_queue_size = 128


class LLMServer:
    """Start with `start()` or a `with` block; `url` is the base address."""

    def __init__(self, handler: Optional[Callable[[Request], Optional[Reply]]] = None, hang_limit: float = 30.0):
        self.handler = handler
        self.hang_limit = hang_limit
        self.requests: list[Request] = []
        self._queue: deque[Reply] = deque()
        self._routes: dict[str, deque[Reply]] = {}
        self._lock = threading.Lock()
        self._stopping = threading.Event()
        self._httpd: Optional[ThreadingHTTPServer] = None
        self._thread: Optional[threading.Thread] = None

    # Scripting

    def queue(self, *replies: Reply) -> "LLMServer":
        """Replies for the next requests, whatever their path."""
        with self._lock:
            self._queue.extend(replies)
        return self

    def route(self, path: str, *replies: Reply) -> "LLMServer":
        """Replies for the next requests to `path`; they go before the shared queue."""
        with self._lock:
            self._routes.setdefault(path, deque()).extend(replies)
        return self

    def requests_to(self, path: str) -> list[Request]:
        with self._lock:
            return [r for r in self.requests if r.path == path]

    @property
    def url(self) -> str:
        assert self._httpd is not None, "server not started"
        host, port = self._httpd.server_address[:2]
        return f"http://{host}:{port}"

    # Life cycle

    def start(self) -> "LLMServer":
        server = self

        class Handler(BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, format: str, *args: Any) -> None:  # quiet
                pass

            def _serve(self) -> None:
                length = int(self.headers.get("Content-Length") or 0)
                body = self.rfile.read(length) if length else b""
                try:
                    decoded = json.loads(body) if body else None
                except ValueError:
                    decoded = None
                parts = urlsplit(self.path)
                request = Request(
                    self.command,
                    parts.path,
                    parts.query,
                    {k.lower(): v for k, v in self.headers.items()},
                    body,
                    decoded,
                )
                reply = server._reply_for(request)
                if reply.delay and server._stopping.wait(reply.delay):
                    reply = Reply.close()
                if reply.action == "hang":
                    server._stopping.wait(server.hang_limit)
                    reply = Reply.close()
                if reply.action == "close":
                    self.close_connection = True
                    return
                if reply.action == "trickle":
                    self._trickle(reply)
                    return
                self.send_response(reply.status)
                for name, value in reply.headers.items():
                    self.send_header(name, value)
                self.send_header("Content-Length", str(len(reply.body)))
                self.end_headers()
                if reply.action == "truncate":
                    self.wfile.write(reply.body[: len(reply.body) // 2])
                    self.wfile.flush()
                    self.close_connection = True
                    return
                self.wfile.write(reply.body)

            def _trickle(self, reply: Reply) -> None:
                self.close_connection = True
                head = f"HTTP/1.1 {reply.status} OK\r\n" + "".join(
                    f"{name}: {value}\r\n"
                    for name, value in {**reply.headers, "Content-Length": str(len(reply.body))}.items()
                )
                raw = (head + "\r\n").encode() + reply.body
                at = len(raw) - len(reply.body) if reply.trickle_from_body else 0
                try:
                    self.wfile.write(raw[:at])
                    for byte in raw[at:]:
                        self.wfile.write(bytes([byte]))
                        self.wfile.flush()
                        if server._stopping.wait(reply.interval):
                            return
                except OSError:  # the client gave up
                    return

            do_GET = do_POST = do_DELETE = do_PUT = _serve

        self._httpd = _Listener(("127.0.0.1", 0), Handler)
        self._httpd.daemon_threads = True
        self._thread = threading.Thread(
            target=self._httpd.serve_forever, args=(0.05,), name="llm-test-server", daemon=True
        )
        self._thread.start()
        return self

    def stop(self) -> None:
        self._stopping.set()
        if self._httpd is not None:
            self._httpd.shutdown()
            self._httpd.server_close()
        if self._thread is not None:
            self._thread.join(timeout=5)

    def __enter__(self) -> "LLMServer":
        return self.start()

    def __exit__(self, *exc: Any) -> None:
        self.stop()

    def _reply_for(self, request: Request) -> Reply:
        with self._lock:
            self.requests.append(request)
            route = self._routes.get(request.path)
            if route:
                return route.popleft()
            if self._queue:
                return self._queue.popleft()
        if self.handler is not None:
            reply = self.handler(request)
            if reply is not None:
                return reply
        return Reply.json(
            {"error": {"message": f"no scripted reply for {request.method} {request.path}"}},
            404,
            **{"x-should-retry": "false"},
        )
