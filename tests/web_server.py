"""`tarvok serve` in a subprocess on 127.0.0.1, with the scripted server as its OpenAI service, and plain
HTTP to it."""

import http.client
import json
import os
import socket
import subprocess
import sys
import time
from contextlib import contextmanager

from llm_fixtures import SECRET_KEY


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@contextmanager
def serving(llm_server, workdir, log=None):
    """Yields the port of a running `tarvok serve`; what it prints goes to the file `log` (default: beside
    `workdir`), read once it has stopped."""
    port = free_port()
    env = dict(os.environ)
    env.update(
        OPENAI_API_KEY=SECRET_KEY,
        OPENAI_BASE_URL=llm_server.url + "/v1",
        TARVOK_EMBEDDING_MODEL="/nonexistent/embedding-model",
    )
    log = log or workdir.parent / "serve.log"
    command = [sys.executable, "-m", "tarvok", "serve", "--port", str(port), "--workdir", str(workdir)]
    with open(log, "w") as out:
        server = subprocess.Popen(command, env=env, stdout=out, stderr=subprocess.STDOUT, text=True)
    try:
        deadline = time.monotonic() + 30
        while True:
            try:
                with socket.create_connection(("127.0.0.1", port), timeout=1):
                    break
            except OSError:
                assert server.poll() is None, log.read_text()
                assert time.monotonic() < deadline, "the server did not start"
                time.sleep(0.1)
        yield port
    finally:
        server.terminate()
        try:
            server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()


def post(port, path, body, timeout=30):
    """(status, decoded JSON answer) of one POST."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    connection.request("POST", path, json.dumps(body), {"Content-Type": "application/json"})
    try:
        reply = connection.getresponse()
        return reply.status, json.loads(reply.read())
    finally:
        connection.close()
