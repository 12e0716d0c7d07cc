"""`tarvok eval` resumes soundly: a record is reused only for the same question and run, and judged
again; a folder with another run is refused unless forced; one run at a time per folder; folders of
crafted ids never meet. The command's code (in this interpreter, with a stand-in LLM) and, for the
lock, the real command in fresh interpreters."""

import fcntl
import json
import shutil
import signal
import subprocess
import sys
import time

import pytest
import test_evaluation
from llm_server import Reply
from test_evaluation import read_records, write_jsonl

import tarvok._cli as cli
import tarvok.evaluation as ev
import tarvok.tarvok_generative as tg

fake_runs = test_evaluation.fake_runs  # a stand-in LLM: each problem solves to 10, or what `answers` gives

SET = [
    {"id": "a", "description": "Problem a.", "objective": 10},
    {"id": "b", "description": "Problem b.", "objective": 20},
    {"id": "c", "description": "Problem c.", "objective": 30},
]


def eval_command(dataset, out, *extra):
    return cli.main(["eval", str(dataset), "--out", str(out), "--model", "gpt-test", "--iterations", "2", *extra])


def summary_of(out):
    return json.loads((out / "summary.json").read_text(encoding="utf-8"))


def test_a_changed_question_runs_again_and_every_reused_record_is_judged_again(fake_runs, tmp_path, capsys):
    calls, answers = fake_runs
    answers.update({"Problem a.": 10.0, "Problem b.": 20.01, "Problem c.": 31.0})
    dataset = write_jsonl(tmp_path / "set.jsonl", SET)
    assert eval_command(dataset, tmp_path / "out") == 0
    assert [r["correct"] for r in read_records(tmp_path / "out")] == [True, False, False]
    first = {r["id"]: r for r in read_records(tmp_path / "out")}
    assert all(len(r["question_sha256"]) == 64 for r in first.values())
    assert first["a"]["run"] == {"provider": "openai", "model": "gpt-test", "iterations": 2, "execution_check": False}

    # The question of a changes, the reference of c is mended, and the tolerance is wider.
    changed = [dict(SET[0], description="Problem a, reworded."), SET[1], dict(SET[2], objective=31)]
    dataset = write_jsonl(tmp_path / "set.jsonl", changed)
    calls.clear()
    capsys.readouterr()
    assert eval_command(dataset, tmp_path / "out", "--rel-tol", "1e-3", "--json") == 0
    assert [c[0] for c in calls] == ["Problem a, reworded."]  # only the changed question is asked again
    summary = json.loads(capsys.readouterr().out)
    assert (summary["rerun"], summary["correct"], summary["attempted"]) == (1, 3, 3)
    assert summary_of(tmp_path / "out") == summary
    last = {r["id"]: r for r in read_records(tmp_path / "out")}  # the last line of each id is its record
    assert last["b"]["correct"] is True and last["c"]["correct"] is True and last["c"]["expected"] == 31

    # And the table says how many ran again.
    calls.clear()
    assert eval_command(dataset, tmp_path / "out", "--rel-tol", "1e-3") == 0 and calls == []
    assert "Ran 1 problem again" not in capsys.readouterr().out  # nothing changed since


def test_an_old_results_file_still_resumes(fake_runs, tmp_path, capsys):
    calls, answers = fake_runs
    answers["Problem b."] = 20.0
    out = tmp_path / "out"
    out.mkdir()
    old = {"id": "a", "expected": 11, "objective": 10.0, "status": "optimal", "correct": False, "compiled": True,
           "iterations": 1, "compile_errors": [], "seconds": 1.0, "error": None}  # fmt: skip
    (out / "results.jsonl").write_text(json.dumps(old) + "\n", encoding="utf-8")
    dataset = write_jsonl(tmp_path / "set.jsonl", SET[:2])
    assert eval_command(dataset, out) == 0
    assert [c[0] for c in calls] == ["Problem b."]
    summary = summary_of(out)
    assert (summary["correct"], summary["rerun"]) == (2, 0)  # a: judged again against the reference 10


def test_a_folder_with_another_run_is_refused_unless_forced(fake_runs, tmp_path, capsys):
    calls, _ = fake_runs
    dataset = write_jsonl(tmp_path / "set.jsonl", SET)
    assert eval_command(dataset, tmp_path / "out") == 0
    calls.clear()
    capsys.readouterr()
    for extra, says in [
        (["--model", "gpt-other"], "model 'gpt-test' instead of 'gpt-other'"),
        (["--iterations", "3"], "2 iterations instead of 3"),
        (["--execution-check"], "the execution check off instead of on"),
    ]:
        assert eval_command(dataset, tmp_path / "out", *extra) == 2
        err = capsys.readouterr().err
        assert "holds a run made with other settings: " + says in err and "--force" in err, err
        assert calls == []
    with pytest.raises(ValueError, match="other settings"):
        ev.run_evaluation(str(dataset), str(tmp_path / "out"), model="gpt-other", iterations=2, progress=False)

    assert eval_command(dataset, tmp_path / "out", "--model", "gpt-other", "--force", "--json") == 0
    assert sorted(c[0] for c in calls) == ["Problem a.", "Problem b.", "Problem c."]
    assert json.loads(capsys.readouterr().out)["rerun"] == 3
    assert eval_command(dataset, tmp_path / "out", "--model", "gpt-other") == 0  # the folder holds that run now


def test_assumption_options_and_the_solver_belong_to_the_run(fake_runs, tmp_path, capsys):
    calls, _ = fake_runs
    dataset = write_jsonl(tmp_path / "set.jsonl", SET[:1])
    out = tmp_path / "out"
    assert eval_command(dataset, out) == 0  # written without them: resumes a run without them
    assert "assumptions" not in read_records(out)[0]["run"]
    assert eval_command(dataset, out) == 0 and len(calls) == 1
    capsys.readouterr()
    for extra, says in [
        (["--assumptions"], "the assumptions step off instead of on"),
        (["--what-if"], "the assumptions step off instead of on"),
    ]:
        assert eval_command(dataset, out, *extra) == 2
        assert "other settings: " + says in capsys.readouterr().err
    assert eval_command(dataset, out, "--what-if", "--force") == 0 and len(calls) == 2
    assert read_records(out)[-1]["run"]["what_if"] is True
    for extra, says in [
        (["--assumptions"], "the what-if step on instead of off"),
        (["--what-if", "--what-if-max", "1"], "3 what-if requests instead of 1"),
    ]:
        assert eval_command(dataset, out, *extra) == 2, extra
        assert "other settings: " + says in capsys.readouterr().err
    assert eval_command(dataset, out, "--what-if") == 0 and len(calls) == 2  # the same run resumes
    # What-if's cap counts only with what-if.
    assert eval_command(dataset, out, "--assumptions", "--what-if-max", "7", "--force") == 0 and len(calls) == 3
    assert eval_command(dataset, out, "--assumptions") == 0 and len(calls) == 3


def fnv_folder_hash(text):
    h = 14695981039346656037
    for byte in text.encode():
        h = ((h ^ byte) * 1099511628211) % 2**64
    return "-%012x" % (h >> 16)


def test_crafted_ids_never_share_a_folder(fake_runs, tmp_path):
    calls, _ = fake_runs
    folder = "x_y" + fnv_folder_hash("x/y")  # the folder of "x/y"
    ids = ["x/y", folder, folder + fnv_folder_hash(folder), folder.upper()]
    dataset = write_jsonl(tmp_path / "set.jsonl", [{"id": i, "description": f"Problem {i}."} for i in ids])
    assert eval_command(dataset, tmp_path / "out") == 0
    folders = [p.name for p in (tmp_path / "out").iterdir() if p.is_dir()]
    assert len(calls) == len(ids) and len({f.lower() for f in folders}) == len(ids), folders


def test_a_later_repeat_never_writes_through_a_planted_link(tmp_path, monkeypatch):
    """A problem's folder that became a link is the run's own again before a repeat is written inside it."""
    monkeypatch.setenv("OPENAI_API_KEY", "sk-test")
    monkeypatch.setattr(tg, "_gather_few_shots", lambda *a, **k: [])

    def llm(progress=None, **request):
        progress("a step")
        raise RuntimeError("no model")

    monkeypatch.setattr(tg, "_llm_generate_text", llm)
    dataset, out, outside = write_jsonl(tmp_path / "set.jsonl", SET[:1]), tmp_path / "out", tmp_path / "outside"
    outside.mkdir()
    test_evaluation.run(dataset, out, retry_errors=False)
    shutil.rmtree(out / "a")
    (out / "a").symlink_to(outside)
    assert test_evaluation.run(dataset, out, retry_errors=False, repeat=2)["attempted"] == 2
    assert list(outside.iterdir()) == [] and (out / "a" / "repeat-2" / "progress.log").is_file()


def lock_is_held(path):
    with open(path, "a") as f:
        try:
            fcntl.flock(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            return True
        fcntl.flock(f, fcntl.LOCK_UN)
        return False


def test_one_run_per_folder_and_a_killed_run_leaves_no_lock(openai_server, fake_runs, tmp_path):
    openai_server.server.handler = lambda request: Reply.hang()
    dataset = write_jsonl(tmp_path / "set.jsonl", SET[:1])

    def command():
        argv = ["eval", str(dataset), "--out", "out", "--model", "gpt-test", "--provider", "openai"]
        return subprocess.Popen([sys.executable, "-m", "tarvok", *argv], cwd=tmp_path, text=True,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)  # fmt: skip

    first = command()
    try:
        lock = tmp_path / "out" / ".tarvok-eval.lock"
        deadline = time.monotonic() + 60
        while not (lock.exists() and lock_is_held(lock)):
            assert first.poll() is None and time.monotonic() < deadline, first.communicate()
            time.sleep(0.05)
        second = command()
        out, err = second.communicate(timeout=60)
        assert second.returncode == 2, err
        assert err.strip().splitlines()[-1].startswith("tarvok eval: another tarvok eval is running with the output")
        assert (tmp_path / "out" / "results.jsonl").read_text() == ""  # the first run's file, untouched
    finally:
        first.send_signal(signal.SIGKILL)
        first.communicate(timeout=30)
    assert not lock_is_held(lock)
    assert ev.run_evaluation(str(dataset), str(tmp_path / "out"), model="gpt-test", progress=False)["attempted"] == 1
