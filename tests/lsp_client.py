"""A language-server client speaking raw JSON-RPC over a subprocess's stdin and stdout, as editors do:
`Content-Length` framing, requests matched to responses by id, notifications kept in arrival order."""

import itertools
import json
import queue
import subprocess
import threading
import time
from pathlib import Path


def frame(message: dict) -> bytes:
    body = json.dumps(message).encode("utf-8")
    return b"Content-Length: %d\r\n\r\n" % len(body) + body


class LspClient:
    def __init__(self, command, cwd=None, env=None):
        self.process = subprocess.Popen(
            command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=cwd, env=env
        )
        self._ids = itertools.count(1)
        self._responses: dict[int, dict] = {}
        self._notifications: list[dict] = []
        self._seen = 0  # notifications already handed out by next_notification
        self._arrived = threading.Condition()
        self._stderr = queue.Queue()
        self._readers = [
            threading.Thread(target=self._read, daemon=True),
            threading.Thread(target=lambda: [self._stderr.put(line) for line in self.process.stderr], daemon=True),
        ]
        for reader in self._readers:
            reader.start()

    def _read(self):
        out = self.process.stdout
        while True:
            length = None
            while True:
                line = out.readline()
                if not line:
                    with self._arrived:
                        self._arrived.notify_all()
                    return
                if line in (b"\r\n", b"\n"):
                    break
                name, _, value = line.decode("ascii").partition(":")
                if name.lower() == "content-length":
                    length = int(value)
            message = json.loads(out.read(length))
            if "id" in message and "method" in message:  # a request from the server
                self.send({"jsonrpc": "2.0", "id": message["id"], "result": None})
                continue
            with self._arrived:
                if "id" in message:
                    self._responses[message["id"]] = message
                else:
                    self._notifications.append(message)
                self._arrived.notify_all()

    def send(self, message: dict):
        self.send_raw(frame(message))

    def send_raw(self, data: bytes):
        self.process.stdin.write(data)
        self.process.stdin.flush()

    def notify(self, method, params):
        self.send({"jsonrpc": "2.0", "method": method, "params": params})

    def request_raw(self, method, params, timeout=30) -> dict:
        """The whole response: `result` or `error`."""
        number = next(self._ids)
        self.send({"jsonrpc": "2.0", "id": number, "method": method, "params": params})
        return self.response(number, method, timeout)

    def response(self, number, method="a request", timeout=30) -> dict:
        """The response to request `number` (None: one the server could not tell the id of)."""
        deadline = time.monotonic() + timeout
        with self._arrived:
            while number not in self._responses:
                if self.process.poll() is not None:
                    raise AssertionError(f"the server exited ({self.process.returncode}): {self.stderr_text()}")
                left = deadline - time.monotonic()
                assert left > 0, f"no response to {method} within {timeout} s"
                self._arrived.wait(left)
            return self._responses.pop(number)

    def request(self, method, params, timeout=30):
        response = self.request_raw(method, params, timeout)
        assert "error" not in response, response
        return response["result"]

    def next_notification(self, method, uri=None, timeout=30) -> dict:
        """The params of the next notification of `method` (for `uri`) not handed out before."""
        deadline = time.monotonic() + timeout
        with self._arrived:
            while True:
                for i in range(self._seen, len(self._notifications)):
                    n = self._notifications[i]
                    if n["method"] == method and (uri is None or n["params"].get("uri") == uri):
                        del self._notifications[i]
                        return n["params"]
                left = deadline - time.monotonic()
                assert left > 0, f"no {method} for {uri} within {timeout} s"
                assert self.process.poll() is None, f"the server exited: {self.stderr_text()}"
                self._arrived.wait(left)

    def diagnostics(self, uri, timeout=30) -> list[dict]:
        return self.next_notification("textDocument/publishDiagnostics", uri, timeout)["diagnostics"]

    def drop_notifications(self):
        with self._arrived:
            self._notifications.clear()

    def initialize(self, root: Path, capabilities=None):
        result = self.request(
            "initialize",
            {"processId": None, "rootUri": root.as_uri(), "capabilities": capabilities or {}},
        )
        self.notify("initialized", {})
        return result

    def open(self, path: Path, text=None, version=1):
        text = path.read_text(encoding="utf-8") if text is None else text
        self.notify(
            "textDocument/didOpen",
            {"textDocument": {"uri": path.as_uri(), "languageId": "tarvok", "version": version, "text": text}},
        )

    def stderr_text(self) -> str:
        lines = []
        while not self._stderr.empty():
            lines.append(self._stderr.get().decode("utf-8", "replace"))
        return "".join(lines)

    def close(self):
        """Shutdown and exit, as an editor ends a session; the exit status."""
        status = None
        if self.process.poll() is None:
            try:
                self.request("shutdown", None, timeout=10)
                self.notify("exit", None)
                status = self.process.wait(timeout=10)
            except (AssertionError, BrokenPipeError, OSError, subprocess.TimeoutExpired):
                self.process.kill()
        if status is None:
            status = self.process.wait()
        for reader in self._readers:
            reader.join(timeout=10)
        for pipe in (self.process.stdin, self.process.stdout, self.process.stderr):
            try:
                pipe.close()
            except OSError:
                pass
        return status
