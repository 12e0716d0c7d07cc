"""The API key stays out of everything the package stores or shows, also when a hostile server puts it
(or a piece of it) into its replies: `tarvok solve --json`, `tarvok eval`'s records, summary and log,
and every message. The real command (in a fresh interpreter for `solve`; in this one for `eval`, whose
few-shot ranking gets a stand-in embedding) against the scripted server."""

import json
import subprocess
import sys

import pytest
from llm_fixtures import SECRET_KEY
from llm_server import openai_response

# Pieces of the key a server could echo: the whole, a prefix, the middle and the end (each 12+ characters).
PIECES = [SECRET_KEY, SECRET_KEY[:12], SECRET_KEY[5:19], SECRET_KEY[-13:]]


def assert_no_key(text, where):
    shown = [SECRET_KEY[i : i + 12] for i in range(len(SECRET_KEY) - 11) if SECRET_KEY[i : i + 12] in text]
    assert not shown, f"{where} shows {shown}"


def tarvok(*argv, cwd):
    return subprocess.run([sys.executable, "-m", "tarvok", *argv], cwd=cwd, capture_output=True, text=True, timeout=120)


def echoing_pair():
    """A model that does not compile, whose faulty line carries pieces of the key (so diagnostics quote them)."""
    model = f"// {PIECES[1]}\ndvar float+ y;\nminimize cost: y + {PIECES[2]}z;\n"
    return openai_response(json.dumps({"model": model, "data": f"// {PIECES[3]}\n"}))


def test_solve_json_hides_the_key_in_assessment_and_diagnostics(openai_server, tmp_path):
    assessment = f"Your key {PIECES[0]} and {PIECES[2]} leak here."
    openai_server.server.queue(echoing_pair(), openai_response(assessment))
    done = tarvok(
        "solve", "Cover demand.", "-m", "plan.mod", "-d", "plan.dat", "--model", "gpt-test", "--no-few-shot",
        "--iterations", "1", "--json", cwd=tmp_path,
    )  # fmt: skip
    assert done.returncode == 1, done.stderr
    result = json.loads(done.stdout)
    assert "[key hidden]" in result["assessment"] and "[key hidden]" in json.dumps(result)
    assert_no_key(done.stdout, "stdout")
    assert_no_key(done.stderr, "stderr")


def test_eval_records_summary_and_messages_hide_the_key(openai_server, tmp_path, monkeypatch, capfd):
    pytest.importorskip("highspy")
    from test_evaluation_end_to_end import WordCounts

    import tarvok._cli as cli
    import tarvok.example_ranker as er

    monkeypatch.setattr(er, "_load_model", lambda name: WordCounts())

    def reply(request):
        prompt = request.json["input"]
        if "Assess" in prompt:
            return openai_response(f"Assessment quoting {PIECES[0]}.")
        if "demand b" in prompt:  # a reply that is no JSON: the problem's run raises with the reply in its error
            return openai_response(f"no JSON here, only {PIECES[2]} and {PIECES[3]}")
        return echoing_pair()

    openai_server.server.handler = reply
    dataset = tmp_path / "set.jsonl"
    dataset.write_text(
        json.dumps({"id": "a", "description": "Cover demand a.", "objective": 1})
        + "\n"
        + json.dumps({"id": "b", "description": "Cover demand b.", "objective": 1})
        + "\n"
    )
    model = f"gpt-{PIECES[1]}"  # the model name is written into the summary
    monkeypatch.chdir(tmp_path)
    status = cli.main(["eval", str(dataset), "--out", "run", "--model", model, "--provider", "openai",
                       "--iterations", "1"])  # fmt: skip
    stdout, stderr = capfd.readouterr()
    assert status == 0, stderr
    out = tmp_path / "run"
    lines = (out / "results.jsonl").read_text(encoding="utf-8")
    records = {r["id"]: r for r in map(json.loads, lines.splitlines())}
    assert "[key hidden]" in records["a"]["compile_errors"][0] and "[key hidden]" in records["b"]["error"]
    summary = (out / "summary.json").read_text(encoding="utf-8")
    assert json.loads(summary)["model"] == "gpt-[key hidden]"
    for where, text in [
        ("results.jsonl", lines),
        ("summary.json", summary),
        ("stdout", stdout),
        ("stderr", stderr),
        ("a/progress.log", (out / "a" / "progress.log").read_text(encoding="utf-8")),
        ("b/progress.log", (out / "b" / "progress.log").read_text(encoding="utf-8")),
    ]:
        assert_no_key(text, where)
