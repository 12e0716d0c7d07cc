"""tarvok.evaluation over the real loop with a stand-in LLM: arguments, data-set problems,
the provider check, resuming, the loop's settings and the progress display."""

import io
import json
import os
import threading

import pytest
from workflow_fakes import PAIR_REQUEST, VERDICT_REQUEST, pair, verdict

import tarvok.evaluation as ev
import tarvok.tarvok_generative as tg

DATASET = [
    {"id": "one", "description": "First problem.", "objective": 10},
    {"id": "two/with slash", "question": "Second problem.", "answer": "20"},
    {"description": "Third problem, no reference.", "objective": "unknown"},
]


def write_jsonl(path, records, extra_lines=()):
    lines = [json.dumps(r) for r in records] + list(extra_lines)
    path.write_text("\n".join(lines) + "\n", encoding="utf-8")
    return path


def read_records(out):
    return [json.loads(line) for line in (out / "results.jsonl").read_text(encoding="utf-8").splitlines()]


@pytest.fixture
def fake_runs(monkeypatch):
    """The real loop, compiler and solver with a stand-in LLM: each problem's model solves to the objective
    `answers` gives its description (default 10.0), or is the model text held there, or its request raises the
    exception held there. `calls` gets (description, example library, thread) as each generation starts."""
    monkeypatch.setenv("OPENAI_API_KEY", "sk-test")
    calls, answers, asking = [], {}, threading.local()

    def gather(problem_description, k=3, models_dir=None, progress=None):
        asking.description = problem_description
        calls.append((problem_description, models_dir, threading.current_thread().name))
        return []

    def llm(input_text, **request):
        answer = answers.get(asking.description, 10.0)
        if isinstance(answer, BaseException):
            raise answer
        if PAIR_REQUEST in input_text:
            solving_to = f"dvar float+ x;\nminimize z: x;\nsubject to {{ x >= {answer!r}; }}\n"
            return pair(answer if isinstance(answer, str) else solving_to, "")
        return verdict(True, "Fine.") if VERDICT_REQUEST in input_text else "Fine."

    monkeypatch.setattr(tg, "_gather_few_shots", gather)
    monkeypatch.setattr(tg, "_llm_generate_text", llm)
    return calls, answers


def run(dataset, out, **kwargs):
    kwargs.setdefault("model", "gpt-test")
    kwargs.setdefault("progress", False)
    return ev.run_evaluation(str(dataset), str(out), **kwargs)


class TestArguments:
    @pytest.mark.parametrize(
        "kwargs, error",
        [
            ({"jobs": 0}, ValueError),
            ({"jobs": 2.0}, TypeError),
            ({"iterations": 0}, ValueError),
            ({"limit": -1}, ValueError),
            ({"rel_tol": -0.1}, ValueError),
            ({"rel_tol": float("inf")}, ValueError),
            ({"rel_tol": "0.1"}, TypeError),
            ({"execution_check": 1}, TypeError),
            ({"provider": 3}, TypeError),
            ({"progress": None}, TypeError),
        ],
    )
    def test_refused_before_anything_runs(self, fake_runs, tmp_path, kwargs, error):
        calls, _ = fake_runs
        dataset = write_jsonl(tmp_path / "set.jsonl", DATASET)
        with pytest.raises(error):
            run(dataset, tmp_path / "out", **kwargs)
        assert calls == [] and not (tmp_path / "out").exists()

    def test_unreadable_data_sets(self, fake_runs, tmp_path):
        with pytest.raises(FileNotFoundError):
            run(tmp_path / "missing.jsonl", tmp_path / "out")
        (tmp_path / "broken.json").write_text('[{"description": "a"},', encoding="utf-8")
        with pytest.raises(ValueError, match=r"cannot use data set .*broken\.json: not a JSON array"):
            run(tmp_path / "broken.json", tmp_path / "out")


class TestRun:
    def test_records_summary_and_folders(self, fake_runs, tmp_path, capsys):
        calls, answers = fake_runs
        answers["Second problem."] = 20.0019
        dataset = write_jsonl(tmp_path / "set.jsonl", DATASET, ['{"description": 5}', "not json"])
        summary = run(dataset, tmp_path / "out", progress=True, iterations=3, rel_tol=1e-4)
        records = {r["id"]: r for r in read_records(tmp_path / "out")}

        assert json.loads((tmp_path / "out" / "summary.json").read_text()) == summary
        seconds = summary.pop("mean_seconds")
        assert seconds >= 0 and seconds == pytest.approx(sum(r["seconds"] for r in records.values()) / 3)
        assert summary == {
            "total": 3,
            "attempted": 3,
            "correct": 2,
            "accuracy": 1.0,  # the problem without a reference is left out
            "compiled": 3,
            "solved": 3,
            "errors": 0,
            "provider_errors": 0,
            "without_reference": 1,
            "skipped_records": 2,
            "rerun": 0,
            "retried": 0,
            "mean_iterations": 1,
            "execution_rate": 1.0,
            "mean_llm_calls": 2,  # the pair and the alignment verdict
            "mean_repair_rounds": 0,
            "tokens_in": None,
            "tokens_out": None,
            "by_class": {},
            "by_agreement": {},
            "with_assumptions": {"total": 0, "correct": 0, "accuracy": None},
            "without_assumptions": {"total": 2, "correct": 2, "accuracy": 1.0},
            "with_numbers_not_in_description": {"total": 0, "correct": 0, "accuracy": None},
            "without_numbers_not_in_description": {"total": 2, "correct": 2, "accuracy": 1.0},
            "dataset": str(dataset),
            "provider": "openai",
            "model": "gpt-test",
            "iterations": 3,
            "execution_check": False,
            "rel_tol": 0.0001,
        }
        assert records["two/with slash"]["correct"] is True  # 0.0019 off 20: within 1e-4 * 20
        assert records["3"]["expected"] is None and records["one"]["expected"] == 10
        assert (records["3"]["verdict"], records["one"]["verdict"]) == ("no_reference", "correct")
        folders = sorted(p.name for p in (tmp_path / "out").iterdir() if p.is_dir())
        assert len(folders) == 3 and "one" in folders and all(f.startswith(("one", "two_with", "3")) for f in folders)
        library = os.path.join(os.path.dirname(ev.__file__), "tvl_models")
        assert [c[1] for c in calls] == [library] * 3
        err = capsys.readouterr().err
        assert f"skipped record 4 (line 4) of {dataset}: 'description' is not a text" in err
        assert "skipped record 5 (line 5)" in err and "[3/3] 3: no_reference (optimal, objective 10.0)" in err

    def test_a_failing_problem_is_recorded_not_fatal(self, fake_runs, tmp_path):
        _, answers = fake_runs
        answers["First problem."] = RuntimeError("Empty model response.")
        summary = run(write_jsonl(tmp_path / "set.jsonl", DATASET), tmp_path / "out")
        assert summary["errors"] == 1 and summary["attempted"] == 3
        record = next(r for r in read_records(tmp_path / "out") if r["id"] == "one")
        assert record["error"] == "RuntimeError: Empty model response." and record["correct"] is False

    def test_limit_and_jobs(self, fake_runs, tmp_path):
        calls, _ = fake_runs
        records = [{"id": f"p{i}", "description": f"Problem {i}.", "objective": 10} for i in range(12)]
        summary = run(write_jsonl(tmp_path / "set.jsonl", records), tmp_path / "out", jobs=4, limit=9)
        assert summary["total"] == 9 and summary["correct"] == 9
        assert sorted(c[0] for c in calls) == sorted(f"Problem {i}." for i in range(9))
        assert {c[2] for c in calls} <= {f"tarvok-eval-{i}" for i in range(1, 5)}

    def test_settings_hold_for_the_run_only(self, fake_runs, tmp_path, monkeypatch):
        calls, answers = fake_runs
        gather, seen = tg._gather_few_shots, []

        def watching(problem_description, **kwargs):
            seen.append((tg.EXECUTION_CHECK, getattr(tg, "FEW_SHOT_LIBRARY", "unset"), os.getcwd()))
            return gather(problem_description, **kwargs)

        monkeypatch.setattr(tg, "_gather_few_shots", watching)
        monkeypatch.delattr(tg, "FEW_SHOT_LIBRARY", raising=False)
        answers["First problem."] = "dvar float+ x;\nminimize z: x;\nsubject to { x >= 3; x <= 1; }\n"
        here = os.getcwd()
        summary = run(write_jsonl(tmp_path / "set.jsonl", DATASET[:1]), tmp_path / "out", execution_check=True,
                      iterations=2)  # fmt: skip
        library = os.path.join(os.path.dirname(ev.__file__), "tvl_models")
        (record,) = read_records(tmp_path / "out")
        # The execution check asked again after the infeasible solve, up to the run's iterations.
        assert (record["iterations"], record["repair_rounds"], record["status"]) == (2, 1, "infeasible")
        assert calls[-1][1] == library and summary["execution_check"] is True
        # The loop gets them as options of its calls: the module settings stay as they are, even meanwhile.
        assert seen == [(False, "unset", here)]
        assert tg.EXECUTION_CHECK is False and not hasattr(tg, "FEW_SHOT_LIBRARY")

        monkeypatch.setattr(tg, "FEW_SHOT_LIBRARY", str(tmp_path), raising=False)  # a library the host chose stays
        run(write_jsonl(tmp_path / "set.jsonl", DATASET[:1]), tmp_path / "out2")
        assert calls[-1][1] == str(tmp_path) and read_records(tmp_path / "out2")[0]["repair_rounds"] == 0
        # A relative name with no such folder here: the shipped library.
        monkeypatch.setattr(tg, "FEW_SHOT_LIBRARY", "tvl_models", raising=False)
        run(write_jsonl(tmp_path / "set.jsonl", DATASET[:1]), tmp_path / "out3")
        assert calls[-1][1] == library and tg.FEW_SHOT_LIBRARY == "tvl_models"

    def test_progress_bar_on_a_terminal(self, fake_runs, tmp_path, monkeypatch):
        pytest.importorskip("tqdm")

        class Terminal(io.StringIO):
            def isatty(self):
                return True

        screen = Terminal()
        monkeypatch.setattr("sys.stderr", screen)
        run(write_jsonl(tmp_path / "set.jsonl", DATASET), tmp_path / "out", progress=True)
        shown = screen.getvalue()
        assert (
            "tarvok eval: 100%" in shown and "3/3" in shown and "accuracy 1/2" in shown
        )  # of the problems with a reference
        assert "[1/3]" not in shown  # the bar, not the lines


class TestPreflightAndResume:
    def test_missing_key_fails_before_any_problem(self, fake_runs, tmp_path, monkeypatch):
        calls, _ = fake_runs
        monkeypatch.delenv("OPENAI_API_KEY")
        with pytest.raises(RuntimeError, match="OPENAI_API_KEY environment variable not set."):
            run(write_jsonl(tmp_path / "set.jsonl", DATASET), tmp_path / "out")
        assert calls == [] and not (tmp_path / "out").exists()

    def test_recorded_ids_are_skipped_and_a_cut_line_is_run_again(self, fake_runs, tmp_path):
        calls, _ = fake_runs
        dataset = write_jsonl(tmp_path / "set.jsonl", DATASET)
        out = tmp_path / "out"
        run(dataset, out, limit=1)
        with open(out / "results.jsonl", "a", encoding="utf-8") as f:
            f.write('{"id": "two/with slash", "expec')  # a run killed while writing this line
        calls.clear()
        summary = run(dataset, out)
        assert [c[0] for c in calls] == ["Second problem.", "Third problem, no reference."]
        assert summary["attempted"] == 3 and summary["correct"] == 1  # 'two' answers 10, not 20
        lines = (out / "results.jsonl").read_text(encoding="utf-8").splitlines()
        assert len(lines) == 4 and lines[1] == '{"id": "two/with slash", "expec'
        calls.clear()
        assert run(dataset, out) == summary and calls == []

    def test_an_interrupt_ends_running_problems_at_their_next_step(self, tmp_path, monkeypatch):
        monkeypatch.setenv("OPENAI_API_KEY", "sk-test")
        monkeypatch.setattr(tg, "_gather_few_shots", lambda *a, **k: [])
        started, ended = threading.Event(), []

        def llm(input_text, progress=None, **kwargs):
            if "Second problem." in input_text:
                started.wait(10)
                raise KeyboardInterrupt  # as Ctrl-C reaches the run
            started.set()
            try:
                for _ in range(1000):
                    progress("a step")
                    threading.Event().wait(0.01)
            except KeyboardInterrupt:
                ended.append("stopped")
                raise
            ended.append("ran to the end")

        monkeypatch.setattr(tg, "_llm_generate_text", llm)
        with pytest.raises(KeyboardInterrupt):
            run(write_jsonl(tmp_path / "set.jsonl", DATASET[:2]), tmp_path / "out", jobs=2)
        workers = [t for t in threading.enumerate() if t.name.startswith("tarvok-eval-")]
        for t in workers:
            t.join(10)
        assert ended == ["stopped"] and not any(t.is_alive() for t in workers)
        assert (tmp_path / "out" / "results.jsonl").read_text() == ""  # neither finished

    def test_interrupt_keeps_finished_records(self, fake_runs, tmp_path):
        calls, answers = fake_runs
        answers["Third problem, no reference."] = KeyboardInterrupt()
        dataset = write_jsonl(tmp_path / "set.jsonl", DATASET)
        with pytest.raises(KeyboardInterrupt):
            run(dataset, tmp_path / "out")
        assert [r["id"] for r in read_records(tmp_path / "out")] == ["one", "two/with slash"]
        assert json.loads((tmp_path / "out" / "summary.json").read_text())["attempted"] == 2
        del answers["Third problem, no reference."]
        calls.clear()
        assert run(dataset, tmp_path / "out")["attempted"] == 3
        assert [c[0] for c in calls] == ["Third problem, no reference."]


class TestCommand:
    def test_no_output_over_an_input(self, fake_runs, tmp_path, capsys):
        """A data set where the run writes (its results, its summary, a problem's folder) is refused untouched;
        so are transcripts to replay that are the output folder by another name."""
        out = tmp_path / "out"
        out.mkdir()
        for name in ("results.jsonl", "summary.json", "one"):
            dataset = write_jsonl(out / name, DATASET[:1])
            before = dataset.read_bytes()
            assert ev.main([str(dataset), "--out", str(out), "--model", "gpt-test"]) == 2, name
            assert f"{out / name}, which the run writes" in capsys.readouterr().err
            assert dataset.read_bytes() == before
            dataset.unlink()
        (tmp_path / "alias").symlink_to(out)  # transcripts to replay, by a link to the folder that rewrites them
        dataset = write_jsonl(tmp_path / "set.jsonl", DATASET[:1])
        assert ev.main([str(dataset), "--out", str(out), "--replay", str(tmp_path / "alias")]) == 2
        assert "must not hold one another" in capsys.readouterr().err

    def test_statuses(self, fake_runs, tmp_path, capsys):
        _, answers = fake_runs
        dataset = write_jsonl(tmp_path / "set.jsonl", DATASET)
        for problem in ("First problem.", "Second problem.", "Third problem, no reference."):
            answers[problem] = RuntimeError("Failed to parse model response as JSON")
        assert ev.main([str(dataset), "--out", str(tmp_path / "out"), "--model", "gpt-test", "--json"]) == 0
        summary = json.loads(capsys.readouterr().out)
        assert (summary["total"], summary["errors"], summary["accuracy"]) == (3, 3, 0)

        useless = write_jsonl(tmp_path / "useless.jsonl", [{"objective": 1}, {"description": ""}])
        assert ev.main([str(useless), "--out", str(tmp_path / "out2")]) == 2
        err = capsys.readouterr().err
        assert "skipped record 1 (line 1)" in err and "no usable problem in" in err

        (tmp_path / "file").write_text("")
        assert ev.main([str(dataset), "--out", str(tmp_path / "file"), "--model", "gpt-test"]) == 2
        assert "cannot write to" in capsys.readouterr().err
        assert ev.main([str(dataset), "--out", str(tmp_path / "x"), "--rel-tol", "-1", "--json"]) == 2
        assert json.loads(capsys.readouterr().out) == {"error": "--rel-tol must be at least 0", "status": 2}
        assert ev.main([str(dataset), "--out", str(tmp_path / "x"), "--provider", "claude"]) == 2
        assert "unknown provider 'claude' (choose openai, google, ollama or replay)" in capsys.readouterr().err
