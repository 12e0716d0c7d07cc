"""The JSON API of `tarvok serve`, driven with Starlette's test client: every endpoint on a hand-solved
program, bad and oversized bodies, the generation stream against the scripted OpenAI server, a provider
that fails, and the working folder that nothing escapes."""

import json
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest

pytest.importorskip("starlette")
pytest.importorskip("httpx")
from llm_fixtures import SECRET_KEY  # noqa: E402
from llm_server import openai_error, openai_response  # noqa: E402
from starlette.testclient import TestClient  # noqa: E402
from test_cli import BROKEN_MODEL, GOOD_DATA, GOOD_MODEL  # noqa: E402
from test_mcp_server import LP_DATA, LP_MODEL  # noqa: E402

import tarvok  # noqa: E402
from tarvok import _cli, web  # noqa: E402

LIBRARY = Path(tarvok.__file__).parent / "tvl_models"


@pytest.fixture
def workdir(tmp_path):
    return tmp_path / "work"


@pytest.fixture
def client(workdir, monkeypatch):
    monkeypatch.setenv("TARVOK_EMBEDDING_MODEL", "/nonexistent/embedding-model")
    with TestClient(web.create_app(workdir)) as c:
        yield c


def frames(text):
    """The (event, value) pairs of a stream of server-sent events."""
    out = []
    for block in text.split("\n\n"):
        lines = [line for line in block.split("\n") if line and not line.startswith(":")]
        if not lines:
            continue
        event = next(line[7:] for line in lines if line.startswith("event: "))
        out.append((event, json.loads("\n".join(line[6:] for line in lines if line.startswith("data: ")))))
    return out


def files_under(folder):
    return sorted(str(p.relative_to(folder)) for p in folder.rglob("*") if p.is_file())


KEYED_MODEL = """{string} Goods = ...;
{string} Sites = ...;
dvar float+ x[Goods][Sites];
maximize total: sum(g in Goods, s in Sites) x[g][s];
subject to {
  forall(g in Goods, s in Sites) cap: x[g][s] <= 1;
}
"""


def test_values_are_keyed_by_the_programs_elements_not_column_names(client):
    # A key holding "][" would split wrongly from the name 'x[a][b][north]'.
    data = 'Goods = {"a][b", "c"};\nSites = {"north", "south"};\n'
    solved = client.post("/api/run", json={"model": KEYED_MODEL, "data": data}).json()
    assert solved["values"]["x"] == {"a][b": {"north": 1, "south": 1}, "c": {"north": 1, "south": 1}}


def test_pair_endpoints_answer_as_the_commands_do(client, tmp_path, workdir, capsys):
    checked = client.post("/api/check", json={"model": LP_MODEL, "data": LP_DATA})
    assert checked.status_code == 200 and checked.json() == {"ok": True, "diagnostics": []}

    solved = client.post("/api/run", json={"model": LP_MODEL, "data": LP_DATA}).json()
    # max 3x + 2y with x + y <= 4, x + 3y <= 6, x <= 3: the vertex (3, 1) gives 11, by hand.
    assert solved["status"] == "optimal" and solved["objective"] == pytest.approx(11)
    assert solved["values"]["make"] == pytest.approx({"x": 3, "y": 1})
    (tmp_path / "lp.mod").write_text(LP_MODEL)
    (tmp_path / "lp.dat").write_text(LP_DATA)
    assert _cli.main(["run", str(tmp_path / "lp.mod"), str(tmp_path / "lp.dat"), "--json"]) == 0
    command = json.loads(capsys.readouterr().out)
    assert set(command) == set(solved)
    assert {k: command[k] for k in ("status", "objective", "values", "diagnostics")} == {
        k: solved[k] for k in ("status", "objective", "values", "diagnostics")
    }

    sensitivity = client.post("/api/run", json={"model": LP_MODEL, "data": LP_DATA, "sensitivity": "full"}).json()
    duals = sensitivity["duals"]
    assert 4 * duals["hours"] + 6 * duals["steel"] + 3 * duals["limit"] == pytest.approx(11)
    # Unbounded ranges arrive as text a browser can parse, not as bare Infinity.
    assert "ranging" in sensitivity

    script = client.post("/api/emit", json={"model": LP_MODEL, "data": LP_DATA}).json()
    assert script["file_name"] == "model.py"
    (tmp_path / "lp.py").write_text(script["text"])
    done = subprocess.run([sys.executable, "lp.py"], cwd=tmp_path, capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert json.loads(done.stdout)["objective"] == pytest.approx(11)
    for fmt, piece in (("mps", "ROWS"), ("lp", "st")):
        emitted = client.post("/api/emit", json={"model": LP_MODEL, "data": LP_DATA, "format": fmt}).json()
        assert emitted["file_name"] == f"model.{fmt}" and piece in emitted["text"].split()
    assert files_under(workdir) == []

    broken = client.post("/api/run", json={"model": BROKEN_MODEL, "data": "x = 1;"})
    assert broken.status_code == 422
    assert broken.json()["error"] == "the model does not compile" and broken.json()["status"] == 1
    assert broken.json()["diagnostics"][0]["line"] == 3 and broken.json()["diagnostics"][0]["file"] == "model"
    assert client.post("/api/emit", json={"model": BROKEN_MODEL}).status_code == 422
    unchecked = client.post("/api/check", json={"model": BROKEN_MODEL}).json()
    assert unchecked["ok"] is False and unchecked["diagnostics"][0]["code"]


def test_infeasible_constraints_name_their_lines(client):
    model = "dvar float+ x;\nminimize c: x;\nsubject to {\n  low: x >= 3;\n  high: x <= 1;\n}\n"
    solved = client.post("/api/run", json={"model": model}).json()
    assert solved["status"] == "infeasible"
    assert {(c["name"], c["line"]) for c in solved["infeasible_constraints"]} <= {("low", 4), ("high", 5)}
    assert solved["infeasible_constraints"]


BAD_REQUESTS = [
    # (body as sent, headers, status, a piece of the error)
    (b"{not json", {}, 400, "the body is not JSON"),
    (b"\xff\xfe", {}, 400, "the body is not JSON"),
    (b"[1, 2]", {}, 400, "the body must be a JSON object, not a list"),
    (b"{}", {}, 400, "'model' is required"),
    (json.dumps({"model": 5}).encode(), {}, 400, "'model' must be a string"),
    (json.dumps({"model": "m", "solver": "x"}).encode(), {}, 400, "unknown member 'solver'"),
    (json.dumps({"model": "m", "time_limit": -1}).encode(), {}, 400, "'time_limit' must be a number above 0"),
    (b"[" * 100000 + b"]" * 100000, {}, 400, "the body is not JSON"),
    (b'{"model": "m"}', {"Content-Type": "text/plain"}, 415, "application/json"),
    (b'{"model": "m"}', {"Origin": "http://evil.example"}, 403, "another site"),
]


@pytest.mark.parametrize("body, headers, status, piece", BAD_REQUESTS)
def test_bad_requests_are_answered_and_the_server_goes_on(client, body, headers, status, piece):
    sent = {"Content-Type": "application/json", **headers}
    answer = client.post("/api/run", content=body, headers=sent)
    assert answer.status_code == status
    assert piece in answer.json()["error"]
    assert client.post("/api/check", json={"model": GOOD_MODEL, "data": GOOD_DATA}).json()["ok"] is True


def test_bodies_are_bounded(client):
    huge = "x" * (9 << 20)
    answer = client.post("/api/check", json={"model": huge})
    assert answer.status_code == 413 and "at most" in answer.json()["error"]

    # Without a declared length, the body is cut off where it passes the bound.
    def pieces():
        for _ in range(64):
            yield b" " * (8 << 10)

    streamed = client.post("/api/generate", content=pieces(), headers={"Content-Type": "application/json"})
    assert streamed.status_code == 413
    assert client.post("/api/examples", json={}).status_code == 200


def test_the_page_and_its_files_are_served(client):
    page = client.get("/")
    assert page.status_code == 200 and "Describe" in page.text and 'src="/page/app.js"' in page.text
    for name in ("app.js", "style.css"):
        assert client.get(f"/page/{name}").status_code == 200
    # Nothing from elsewhere: the page works offline.
    assert "http://" not in page.text and "https://" not in page.text
    assert "https://" not in client.get("/page/app.js").text
    assert client.get("/page/../web.pyi").status_code == 404


def test_examples_are_listed_and_ranked(client):
    listed = client.post("/api/examples", json={}).json()["examples"]
    names = [e["name"] for e in listed]
    assert "transportation" in names and names == sorted(names)
    first = next(e for e in listed if e["name"] == "transportation")
    assert first["model"] == (LIBRARY / "transportation" / "transportation.mod").read_text()

    description = (LIBRARY / "transportation" / "transportation.txt").read_text()
    ranked = client.post("/api/examples", json={"description": description, "k": 2}).json()
    assert ranked["ranking"] == "lexical" and ranked["examples"][0]["name"] == "transportation"
    assert len(ranked["examples"]) == 2


def test_generate_streams_each_step_then_the_result(client, openai_server):
    openai_server.server.queue(
        openai_response(json.dumps({"model": GOOD_MODEL, "data": "x = 7;\n"})),
        openai_response(json.dumps({"aligned": True, "assessment": "Matches."})),
    )
    body = {"description": "Cover a demand of 5 units at least cost.", "model": "gpt-test", "iterations": 2}
    answer = client.post("/api/generate", json=body)
    assert answer.status_code == 200 and answer.headers["content-type"].startswith("text/event-stream")
    assert SECRET_KEY not in answer.text
    got = frames(answer.text)
    kinds = [v.get("kind") for e, v in got if e == "step"]
    assert "iteration" in kinds and "request" in kinds and "aligned" in kinds
    event, result = got[-1]
    assert event == "result"
    assert (result["model"], result["data"], result["compiled"], result["aligned"]) == (
        GOOD_MODEL,
        "x = 7;\n",
        True,
        True,
    )
    # 7 is not in the description: the page marks it as assumed.
    assert [(f["text"], f["line"], f["kind"]) for f in result["grounding"]["assumptions"]] == [("7", 1, "assumed")]
    # The loop's files were scratch files of the working folder, gone again.
    assert files_under(Path(client.app.state.workdir)) == []


def test_a_failing_provider_ends_the_stream_and_the_server_goes_on(client, openai_server):
    openai_server.server.queue(*[openai_error(401, f"Incorrect API key provided: {SECRET_KEY}")] * 3)
    answer = client.post("/api/generate", json={"description": "Plan the week.", "model": "gpt-test"})
    event, value = frames(answer.text)[-1]
    assert event == "failed" and value["error"]
    assert SECRET_KEY not in answer.text
    assert client.post("/api/check", json={"model": GOOD_MODEL, "data": GOOD_DATA}).json()["ok"] is True

    openai_server.server.queue(*[openai_error(500, "down")] * 5)
    asked = client.post("/api/feedback", json={"question": "Why?", "model": GOOD_MODEL, "data": GOOD_DATA})
    assert asked.status_code == 502 and asked.json()["error"]


def test_without_a_key_the_page_is_told_so_at_once(client, monkeypatch, llm_server):
    for name in ("OPENAI_API_KEY", "GEMINI_API_KEY", "GOOGLE_API_KEY"):
        monkeypatch.delenv(name, raising=False)
    monkeypatch.setenv("OPENAI_BASE_URL", llm_server.url + "/v1")
    # Before any stream starts, for a generation and a question alike; the provider from the model name too.
    for path, body in (
        ("/api/generate", {"description": "Plan the week.", "model": "gpt-test"}),
        ("/api/feedback", {"question": "Why?", "model": GOOD_MODEL, "llm_model": "gemini-2.5-flash"}),
    ):
        answer = client.post(path, json=body)
        assert answer.status_code == 502 and answer.headers["content-type"] == "application/json"
        assert answer.json()["error"].startswith("no API key is set for ")
    assert "OPENAI_API_KEY" in client.post("/api/generate", json={"description": "x"}).json()["error"]
    assert llm_server.requests == []

    providers = client.post("/api/providers", json={}).json()
    assert providers["iterations"] == 5 and providers["default_model"]
    keys = {p["name"]: p["key_set"] for p in providers["providers"]}
    assert keys["openai"] is False and keys["google"] is False and keys["ollama"] is True
    monkeypatch.setenv("GOOGLE_API_KEY", "k")
    assert {p["name"]: p["key_set"] for p in client.post("/api/providers", json={}).json()["providers"]}["google"]


def test_every_error_is_json(client):
    for answer in (client.get("/api/examples"), client.post("/api/nothing", json={}), client.get("/page/none.js")):
        assert answer.status_code in (404, 405) and answer.headers["content-type"] == "application/json"
        assert answer.json()["error"]
    assert "takes POST" in client.get("/api/examples").json()["error"]


def test_a_cancelled_run_stops_before_its_next_request(tg, tmp_path, openai_server):
    openai_server.server.queue(openai_response(json.dumps({"model": BROKEN_MODEL, "data": "x = 1;\n"})))
    asked = []

    def cancel():
        asked.append(len(openai_server.server.requests))
        return len(openai_server.server.requests) >= 1

    with pytest.raises(RuntimeError, match="the run was cancelled"):
        tg.run_generation(
            "Plan.", tmp_path / "m.mod", tmp_path / "d.dat", model_name="gpt-test", iterations=5, cancel=cancel
        )
    assert len(openai_server.server.requests) == 1 and asked
    with pytest.raises(TypeError, match="'cancel' must be callable"):
        tg.run_generation("Plan.", tmp_path / "m.mod", tmp_path / "d.dat", cancel=3)


def test_a_revision_is_shown_as_a_diff_and_applied_with_backups(client, openai_server, workdir, tmp_path):
    revised = GOOD_MODEL.replace("y >= x", "y >= 2 * x")
    openai_server.server.queue(openai_response(json.dumps({"feedback": "Double it.", "revised_model": revised})))
    asked = client.post("/api/feedback", json={"question": "Double?", "model": GOOD_MODEL, "data": GOOD_DATA}).json()
    assert asked["feedback"] == "Double it." and asked["compiles"] is True
    assert asked["revised_data"] == GOOD_DATA
    assert "-  atLeast: y >= x;\n+  atLeast: y >= 2 * x;\n" in asked["diff"]

    first = client.post("/api/apply", json={"name": "plan", "model": GOOD_MODEL, "data": GOOD_DATA}).json()
    assert first["backup_model_file"] is None
    second = client.post("/api/apply", json={"name": "plan", "model": revised, "data": GOOD_DATA}).json()
    assert (second["model_file"], second["backup_model_file"]) == ("plan.mod", "plan.mod.bak")
    assert (workdir / "plan.mod").read_text() == revised
    assert (workdir / "plan.mod.bak").read_text() == GOOD_MODEL

    broken = client.post("/api/apply", json={"name": "plan", "model": BROKEN_MODEL, "data": GOOD_DATA})
    assert broken.status_code == 422 and (workdir / "plan.mod").read_text() == revised


@pytest.mark.parametrize("name", ["../escape", "/tmp/escape", "a/b", "..", ".bashrc", "x.mod", "", "é"])
def test_names_from_a_request_never_lead_outside_the_working_folder(client, workdir, tmp_path, name):
    before = files_under(tmp_path)
    answer = client.post("/api/apply", json={"name": name, "model": GOOD_MODEL, "data": GOOD_DATA})
    assert answer.status_code == 400 and "'name'" in answer.json()["error"]
    assert files_under(tmp_path) == before


def test_a_link_in_the_working_folder_is_not_followed(client, workdir, tmp_path):
    (tmp_path / "outside.mod").write_text("keep")
    workdir.mkdir(exist_ok=True)
    (workdir / "plan.mod").symlink_to(tmp_path / "outside.mod")
    answer = client.post("/api/apply", json={"name": "plan", "model": GOOD_MODEL, "data": GOOD_DATA})
    assert answer.status_code == 409 and (tmp_path / "outside.mod").read_text() == "keep"


def test_only_requests_to_this_machine_when_bound_to_it(tmp_path):
    with TestClient(web.create_app(tmp_path, loopback_only=True), base_url="http://127.0.0.1:8000") as c:
        assert c.post("/api/check", json={"model": GOOD_MODEL, "data": GOOD_DATA}).status_code == 200
        rebound = c.post("/api/check", json={"model": GOOD_MODEL}, headers={"Host": "evil.example:8000"})
        assert rebound.status_code == 403


def test_the_command_refuses_bad_options_before_serving(capsys, tmp_path):
    (tmp_path / "file").write_text("")
    assert _cli.main(["serve", "--port", "70000"]) == 2
    assert _cli.main(["serve", "--workdir", str(tmp_path / "file")]) == 2
    assert "is not a folder" in capsys.readouterr().err


def test_generation_runs_are_bounded_and_each_ends(client, tg, monkeypatch):
    monkeypatch.setenv("OPENAI_API_KEY", "sk-test")
    release = threading.Event()
    started = []

    def held_request(**request):
        started.append(request["input_text"])
        release.wait(30)
        raise RuntimeError("released")

    monkeypatch.setattr(tg, "_llm_generate_text", held_request)
    monkeypatch.setattr(tg, "_gather_few_shots", lambda *a, **k: [])
    answers = []
    runs = [
        threading.Thread(target=lambda: answers.append(client.post("/api/generate", json={"description": f"p{i}"})))
        for i in range(4)
    ]
    for r in runs:
        r.start()
    deadline = time.monotonic() + 30
    while len(started) < 4 and time.monotonic() < deadline:
        time.sleep(0.05)
    busy = client.post("/api/generate", json={"description": "one more"})
    assert busy.status_code == 429 and "under way" in busy.json()["error"]
    release.set()
    for r in runs:
        r.join(30)
    assert [frames(a.text)[-1][0] for a in answers] == ["failed"] * 4
    # Each run that ended makes room for another.
    assert frames(client.post("/api/generate", json={"description": "again"}).text)[-1] == (
        "failed",
        {"error": "released"},
    )


def test_without_a_workdir_the_app_makes_one_under_the_users_data(tmp_path, monkeypatch):
    monkeypatch.setenv("XDG_DATA_HOME", str(tmp_path / "data"))
    first, second = Path(web.create_app().state.workdir), Path(web.create_app().state.workdir)
    assert first.parent == second.parent == tmp_path / "data" / "tarvok" / "serve"
    assert first != second and first.is_dir() and second.is_dir()
