"""Answer accuracy end to end: the real openai library talking to a scripted
LLM server on 127.0.0.1, the real compiler and HiGHS, real files."""

import json
import os
import signal
import subprocess
import sys
import time
import zlib
from pathlib import Path

import pytest
from llm_server import openai_response

import tarvok.evaluation as ev
import tarvok.example_ranker as er

pytest.importorskip("highspy")
torch = pytest.importorskip("torch")

MODELS = Path(__file__).parent / "sample_models"
SAMPLE_LINES = (Path(ev.__file__).parent / "datasets" / "sample.jsonl").read_text(encoding="utf-8").splitlines()
SAMPLE = {r["id"]: r for r in map(json.loads, SAMPLE_LINES)}


def pair(name, **replace):
    model = (MODELS / f"{name}.mod").read_text(encoding="utf-8")
    data = (MODELS / f"{name}.dat").read_text(encoding="utf-8")
    for old, new in replace.items():
        data = data.replace(old, new)
    return {"model": model, "data": data}


BROKEN = {"model": "dvar float+ x;\nminimize cost: x + y;\n", "data": ""}
# Regular gasoline needs more barrels than both crudes hold: infeasible.
INFEASIBLE_BLEND = pair("blending", **{"min_barrels = [3000,": "min_barrels = [30000,"})


class ScriptedLLM:
    """Answers by the problem a prompt names and the kind of request, so the
    replies do not depend on the order in which concurrent problems ask."""

    def __init__(self, answers, delay=0.0):
        self.answers = answers  # id -> {"first": pair, "after_solver": pair}
        self.delay = delay
        self.by_description = {SAMPLE[i]["description"]: i for i in answers}
        self.asked = []  # (problem id, kind)

    def __call__(self, request):
        prompt = request.json["input"]
        described = prompt.split("<problem_description>\n", 1)[1].split("\n</problem_description>", 1)[0]
        problem = self.by_description[described]
        if "Assess whether the generated Tarvok model" in prompt:
            kind, text = "judge", json.dumps({"aligned": True, "assessment": "Matches the description."})
        elif "Assess how well" in prompt:
            kind, text = "final", "The model does not compile."
        elif "<solver_verdict>" in prompt:
            kind, text = "after_solver", json.dumps(self.answers[problem]["after_solver"])
        else:
            kind, text = "generate", json.dumps(self.answers[problem]["first"])
        self.asked.append((problem, kind))
        reply = openai_response(text)
        reply.delay = self.delay
        return reply


ANSWERS = {
    "bakery": {"first": pair("bakery")},
    "knapsack": {"first": pair("knapsack")},
    "transport": {"first": pair("transport", **{"supply = [40, 60]": "supply = [60, 40]"})},  # a wrong model
    "assignment": {"first": BROKEN},  # never compiles
    "blending": {"first": INFEASIBLE_BLEND, "after_solver": pair("blending")},
}


class WordCounts:
    """A tiny stand-in embedding for the few-shot ranking: hashed word counts."""

    def encode(self, texts, convert_to_tensor, normalize_embeddings, show_progress_bar):
        rows = torch.zeros((len(texts), 64))
        for i, text in enumerate(texts):
            for word in text.lower().split():
                rows[i, zlib.crc32(word.encode()) % 64] += 1.0
        return torch.nn.functional.normalize(rows, dim=1)


def dataset(tmp_path, ids):
    path = tmp_path / "set.jsonl"
    path.write_text("".join(json.dumps(SAMPLE[i]) + "\n" for i in ids), encoding="utf-8")
    return path


def records(out):
    lines = (out / "results.jsonl").read_text(encoding="utf-8").splitlines()
    return {r["id"]: r for r in map(json.loads, lines)}


def without_times(by_id):
    return {i: {k: v for k, v in r.items() if k != "seconds"} for i, r in by_id.items()}


@pytest.fixture
def llm(openai_server, monkeypatch, tg):
    monkeypatch.setattr(er, "_load_model", lambda name: WordCounts())
    scripted = ScriptedLLM(ANSWERS)
    openai_server.server.handler = scripted
    return scripted


def run(path, out, **kwargs):
    return ev.run_evaluation(str(path), str(out), model="gpt-test", iterations=2, progress=False, **kwargs)


def test_accuracy_of_right_and_wrong_answers(llm, tmp_path):
    summary = run(dataset(tmp_path, ["bakery", "knapsack", "transport", "assignment"]), tmp_path / "out")
    assert (summary["total"], summary["correct"], summary["accuracy"]) == (4, 2, 0.5)
    assert (summary["compiled"], summary["solved"], summary["errors"]) == (3, 3, 0)
    got = records(tmp_path / "out")
    assert {i: r["correct"] for i, r in got.items()} == {
        "bakery": True,
        "knapsack": True,
        "transport": False,
        "assignment": False,
    }
    assert got["bakery"]["objective"] == 190 and got["bakery"]["iterations"] == 1
    transport = got["transport"]
    assert transport["status"] == "optimal" and transport["objective"] != pytest.approx(515, rel=1e-4)
    assignment = got["assignment"]
    assert assignment["compiled"] is False and assignment["status"] is None and assignment["iterations"] == 2
    assert "undeclared name 'y'" in assignment["compile_errors"][0]
    folder = tmp_path / "out" / "knapsack"
    assert (folder / "model.mod").read_text() == ANSWERS["knapsack"]["first"]["model"]
    assert "Final model: optimal, objective 51.0" in (folder / "progress.log").read_text()


def test_the_execution_check_turns_an_infeasible_answer_into_a_correct_one(llm, tmp_path):
    path = dataset(tmp_path, ["blending"])
    plain = run(path, tmp_path / "plain")
    checked = run(path, tmp_path / "checked", execution_check=True)

    assert (plain["correct"], checked["correct"]) == (0, 1)
    assert plain["execution_check"] is False and checked["execution_check"] is True
    before, after = records(tmp_path / "plain")["blending"], records(tmp_path / "checked")["blending"]
    assert (before["status"], before["iterations"]) == ("infeasible", 1)
    assert (after["status"], after["objective"], after["iterations"]) == ("optimal", 220000, 2)
    assert llm.asked == [
        ("blending", "generate"),
        ("blending", "judge"),  # without the check
        ("blending", "generate"),
        ("blending", "after_solver"),
        ("blending", "judge"),
    ]
    log = (tmp_path / "checked" / "blending" / "progress.log").read_text()
    assert "Execution check failed: the solver's verdict is infeasible; revising..." in log


def test_the_revision_request_carries_the_solver_verdict(llm, openai_server, tmp_path):
    run(dataset(tmp_path, ["blending"]), tmp_path / "out", execution_check=True)
    revision = next(r.json["input"] for r in openai_server.server.requests if "<solver_verdict>" in r.json["input"])
    verdict = revision.split("<solver_verdict>\n")[1].split("\n</solver_verdict>")[0]
    assert verdict.startswith('Solving the model with its data ended with the status "infeasible".')
    assert "cannot all hold together (an irreducible infeasible subset)" in verdict
    assert "- made[regular] (model line 16): forall(g in Grades) made:" in verdict
    assert INFEASIBLE_BLEND["data"] in revision


def test_jobs_four_gives_what_jobs_one_gives(llm, tmp_path):
    path = dataset(tmp_path, list(ANSWERS))
    one = run(path, tmp_path / "one", jobs=1, execution_check=True)
    four = run(path, tmp_path / "four", jobs=4, execution_check=True)
    assert {k: v for k, v in one.items() if k != "mean_seconds"} == {
        k: v for k, v in four.items() if k != "mean_seconds"
    }
    assert without_times(records(tmp_path / "one")) == without_times(records(tmp_path / "four"))
    assert one["correct"] == 3  # bakery, knapsack, blending
    for folder in ANSWERS:
        for name in ("model.mod", "data.dat"):
            assert (tmp_path / "one" / folder / name).read_text() == (tmp_path / "four" / folder / name).read_text()


def command(args, cwd, **popen):
    env = dict(os.environ, HF_HUB_OFFLINE="1")
    return subprocess.Popen(
        [sys.executable, "-m", "tarvok", "eval", *args],
        cwd=cwd,
        env=env,
        text=True,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        **popen,
    )


@pytest.mark.slow
def test_the_eval_command_and_its_statuses(llm, tmp_path):
    path = dataset(tmp_path, ["bakery", "transport"])
    done = command([str(path), "--out", "out", "--model", "gpt-test", "--iterations", "2", "--json"], tmp_path)
    stdout, stderr = done.communicate(timeout=180)
    assert done.returncode == 0, stderr
    summary = json.loads(stdout)
    assert (summary["total"], summary["correct"], summary["accuracy"]) == (2, 1, 0.5)
    assert json.loads((tmp_path / "out" / "summary.json").read_text()) == summary
    assert "[2/2]" in stderr

    table = command([str(path), "--out", "out", "--model", "gpt-test", "--iterations", "2"], tmp_path)  # all recorded
    stdout, stderr = table.communicate(timeout=180)
    assert table.returncode == 0 and "2 already recorded" in stderr
    assert stdout.splitlines()[1].split()[:6] == ["bakery", "190", "190", "optimal", "yes", "1"]
    assert "Correct 1 of 2 (accuracy 50.0%)" in stdout

    env_without_key = dict(os.environ, OPENAI_API_KEY="")
    missing = subprocess.run(
        [sys.executable, "-m", "tarvok", "eval", str(path), "--out", "other", "--model", "gpt-test"],
        cwd=tmp_path,
        env=env_without_key,
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert missing.returncode == 5 and "OPENAI_API_KEY environment variable not set." in missing.stderr
    assert not (tmp_path / "other").exists()
    bad = subprocess.run(
        [sys.executable, "-m", "tarvok", "eval", "nowhere.jsonl", "--out", "x"],
        cwd=tmp_path,
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert bad.returncode == 2 and "nowhere.jsonl" in bad.stderr


@pytest.mark.slow
def test_an_interrupted_command_resumes_where_it_stopped(llm, tmp_path):
    ids = ["bakery", "knapsack", "transport", "blending"]
    path = dataset(tmp_path, ids)
    llm.delay = 0.4
    first = command([str(path), "--out", "out", "--model", "gpt-test", "--iterations", "2"], tmp_path)
    results = tmp_path / "out" / "results.jsonl"
    # A loaded machine can take minutes to import the ranker's model; wait for the first record however long.
    deadline = time.monotonic() + 600
    while time.monotonic() < deadline and not (results.exists() and results.read_text().count("\n") >= 1):
        assert first.poll() is None, first.communicate()[1]
        time.sleep(0.05)
    first.send_signal(signal.SIGINT)
    _, stderr = first.communicate(timeout=60)
    assert first.returncode == 130, stderr
    assert "interrupted" in stderr
    finished = records(tmp_path / "out")
    assert 1 <= len(finished) < len(ids)

    llm.delay = 0.0
    asked_before = len(llm.asked)
    second = command([str(path), "--out", "out", "--model", "gpt-test", "--iterations", "2", "--json"], tmp_path)
    stdout, stderr = second.communicate(timeout=180)
    assert second.returncode == 0, stderr
    assert {p for p, kind in llm.asked[asked_before:] if kind == "generate"} == set(ids) - set(finished)
    summary = json.loads(stdout)
    assert (summary["total"], summary["attempted"], summary["correct"]) == (4, 4, 2)
    assert {i: r["correct"] for i, r in records(tmp_path / "out").items()} == {
        "bakery": True,
        "knapsack": True,
        "transport": False,
        "blending": False,
    }


@pytest.mark.slow
def test_ctrl_c_at_any_early_moment_ends_with_130(llm, tmp_path):
    """From the command's first instruction on (its imports, options, data set, provider, first request),
    an interrupt is status 130: never a usage error, a traceback or a death by the signal."""
    path = dataset(tmp_path, ["bakery"])
    llm.delay = 10  # the first request waits past every moment tried
    start = "import sys; from tarvok.__main__ import main; print('up', file=sys.stderr, flush=True); sys.exit(main())"

    runs = iter(range(100))

    def interrupted_at(moment):
        out = f"out{next(runs)}"  # a folder of its own: nothing recorded before
        child = subprocess.Popen(
            [sys.executable, "-c", start, "eval", str(path), "--out", out, "--model", "gpt-test"],
            cwd=tmp_path,
            env=dict(os.environ, HF_HUB_OFFLINE="1"),
            text=True,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
        )
        assert child.stderr.readline() == "up\n"  # the interpreter's own start is behind it
        time.sleep(moment)
        child.send_signal(signal.SIGINT)
        _, stderr = child.communicate(timeout=60)
        return child.returncode, stderr

    judged = 0
    for moment in (0.01, 0.03, 0.1, 0.2, 0.3, 0.45, 0.7, 1.5):
        for _ in range(8):
            status, stderr = interrupted_at(moment)
            # On a busy machine the signal may land before the harness line has called the command (still
            # in its print, however long after the moment): a traceback through none of the package's
            # files. Every other run is judged, including one where the interpreter or a library dropped
            # the interrupt ("Exception ignored in"): the command must still stop.
            if "Traceback" in stderr and "tarvok" not in stderr:
                continue
            assert status == 130, (moment, stderr)
            assert "interrupted" in stderr and "Traceback" not in stderr, (moment, stderr)
            assert "Exception ignored" not in stderr, (moment, stderr)
            judged += 1
            break
    assert judged >= 4  # however busy, half the moments reach the command


def test_solve_command_with_the_execution_check(llm, tmp_path):
    done = subprocess.run(
        [
            sys.executable,
            "-m",
            "tarvok",
            "solve",
            SAMPLE["blending"]["description"],
            "-m",
            "b.mod",
            "-d",
            "b.dat",
            "--model",
            "gpt-test",
            "--no-few-shot",
            "--execution-check",
            "--json",
        ],
        cwd=tmp_path,
        capture_output=True,
        text=True,
        timeout=180,
        env=dict(os.environ, HF_HUB_OFFLINE="1"),
    )
    assert done.returncode == 0, done.stderr
    result = json.loads(done.stdout)
    assert (result["iterations"], result["solver_status"], result["objective"]) == (2, "optimal", 220000.0)
    assert "Execution check failed: the solver's verdict is infeasible; revising..." in done.stderr
