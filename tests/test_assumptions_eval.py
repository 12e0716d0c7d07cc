"""eval with the assumptions step: a small set whose references follow known alternative readings, answered by a
stand-in LLM over real compiles and solves; the records keep the readings, the answer is judged when present, and
the summary says how often the right answer was among the shown readings."""

import json
import sys

import pytest
from assumption_fakes import EXAMPLE, LISTED, MORE, AssumingLlm

import tarvok.evaluation as ev

pytest.importorskip("highspy")

DESCRIPTION = (EXAMPLE / "generators.txt").read_text()
ASKED = DESCRIPTION + "\nHow much of that is the cost of the energy alone?"
DATASET = [
    {"id": "as_modelled", "description": DESCRIPTION, "objective": 7500},
    {"id": "running_at_start", "description": DESCRIPTION, "objective": 7000},  # the first alternative's reading
    {"id": "elsewhere", "description": DESCRIPTION, "objective": 1},
    {"id": "energy", "description": ASKED, "objective": 6900},  # the asked quantity, named as answer
]


class ByDescription(AssumingLlm):
    def __call__(self, **kwargs):
        self.listed = MORE if "energy alone" in kwargs["input_text"] else LISTED
        return super().__call__(**kwargs)


@pytest.fixture
def dataset(tmp_path, tg, monkeypatch):
    monkeypatch.setenv("OPENAI_API_KEY", "sk-test")  # the provider check; no request leaves
    monkeypatch.setattr(tg, "_llm_generate_text", ByDescription())
    monkeypatch.setattr(tg, "_gather_few_shots", lambda *a, **k: [])
    path = tmp_path / "set.jsonl"
    path.write_text("".join(json.dumps(r) + "\n" for r in DATASET))
    return path


def test_the_right_answer_among_the_shown_readings(dataset, tmp_path):
    out = tmp_path / "run"
    summary = ev.run_evaluation(str(dataset), str(out), model="gpt-test", provider="openai", progress=False,
                                what_if=True, execution_check=True)  # fmt: skip
    records = {r["id"]: r for r in map(json.loads, (out / "results.jsonl").read_text().splitlines())}
    assert [records[i]["verdict"] for i in ("as_modelled", "running_at_start", "elsewhere", "energy")] == [
        "correct",
        "wrong",
        "wrong",
        "correct",
    ]
    shown = records["running_at_start"]["listed_assumptions"]
    assert [a["kind"] for a in shown] == ["boundary_condition", "interpretation"]
    assert [(a["objective"], a["matches"]) for a in shown] == [(7000.0, True), (8500.0, False)]
    # The energy problem: the alternative only named the asked quantity and became the final model.
    assert records["energy"]["objective"] == 7500.0 and records["energy"]["answer"] == 6900.0
    assert summary["right_among_readings"] == {"total": 4, "correct": 3, "accuracy": 0.75}
    assert [records[i]["right_among_readings"] for i in ("running_at_start", "elsewhere")] == [True, False]
    # The table as data: the main answer and each alternative's, with the files that hold them.
    table = records["running_at_start"]["what_if"]
    assert table["main"] == {"status": "optimal", "objective": 7500.0, "answer": None, "model_file":
                             "running_at_start/model.mod", "data_file": "running_at_start/data.dat", "matches": False}  # fmt: skip
    assert [(a["index"], a["objective"], a["same_answer"], a["matches"]) for a in table["alternatives"]] == [
        (1, 7000.0, False, True),
        (2, 8500.0, False, False),
    ]
    for alt in table["alternatives"]:
        assert (out / alt["model_file"]).read_text() and (out / alt["data_file"]).read_text()
    # The adopted alternative answers as the main pair does: it goes last, after the one that gave no answer.
    energy = records["energy"]["what_if"]["alternatives"]
    assert [(a["index"], a["status"], a["same_answer"]) for a in energy] == [(1, None, False), (2, "optimal", True)]
    assert summary["readings_changing_answer"] == {"total": 6, "problems": 4, "per_problem": 1.5}
    assert summary["with_numbers_not_in_description"] == summary["with_assumptions"]
    assert summary["correct"] == 2
    table = (out / "summary.json").read_text()
    assert '"right_among_readings"' in table


def test_without_the_step_nothing_changes(dataset, tmp_path):
    summary = ev.run_evaluation(str(dataset), str(tmp_path / "plain"), model="gpt-test", provider="openai",
                                progress=False)  # fmt: skip
    assert "right_among_readings" not in summary
    line = json.loads((tmp_path / "plain" / "results.jsonl").read_text().splitlines()[0])
    assert "listed_assumptions" not in line and "answer" not in line


def test_the_command(dataset, tmp_path, capsys):
    from tarvok import _cli

    argv = ["eval", str(dataset), "--out", str(tmp_path / "cmd"), "--model", "gpt-test", "--provider", "openai"]
    assert _cli.main([*argv, "--what-if", "--what-if-max", "1", "--limit", "2", "--json"]) == 0
    summary = json.loads(capsys.readouterr().out)
    assert summary["right_among_readings"] == {"total": 2, "correct": 2, "accuracy": 1.0}
    assert _cli.main(["eval", str(dataset), "--out", str(tmp_path / "bad"), "--what-if-max", "-1"]) == 2
    assert "--what-if-max must be at least 0" in capsys.readouterr().err


def test_the_solver_makes_every_solve_of_the_run(dataset, tmp_path, capsys, monkeypatch, backend):
    from tarvok import _cli

    # The other solver's library cannot be imported: a solve through it would fail the run.
    other = {"highs": "pyscipopt", "scip": "highspy"}[backend]
    monkeypatch.setitem(sys.modules, other, None)
    argv = ["eval", str(dataset), "--out", str(tmp_path / backend), "--model", "gpt-test", "--provider", "openai"]
    assert _cli.main([*argv, "--solver", backend, "--what-if", "--execution-check", "--limit", "2", "--json"]) == 0
    summary = json.loads(capsys.readouterr().out)
    records = {r["id"]: r for r in map(json.loads, (tmp_path / backend / "results.jsonl").read_text().splitlines())}
    # The same optima on every back-end: 7500 as modelled, 7000 and 8500 under the two alternative readings.
    assert records["as_modelled"]["objective"] == 7500.0 and summary["correct"] == 1
    assert [a["objective"] for a in records["running_at_start"]["listed_assumptions"]] == [7000.0, 8500.0]
    assert records["as_modelled"]["run"].get("solver", "highs") == backend


def test_solver_usage_faults(dataset, tmp_path, capsys, monkeypatch):
    from tarvok import _cli

    argv = ["eval", str(dataset), "--out", str(tmp_path / "out"), "--model", "gpt-test"]
    assert _cli.main([*argv, "--solver", "glpk"]) == 2
    assert "argument --solver: invalid choice: 'glpk'" in capsys.readouterr().err
    monkeypatch.setitem(sys.modules, "pyscipopt", None)
    assert _cli.main([*argv, "--solver", "scip"]) == 2
    assert capsys.readouterr().err.strip().splitlines() == [
        "tarvok eval: --solver scip needs the 'pyscipopt' package; install the 'scip' extra: pip install 'tarvok[scip]'"
    ]
    assert not (tmp_path / "out" / "results.jsonl").exists()
    with pytest.raises(ValueError, match=r"^run_evaluation\(\) argument 'solver' must be 'highs' or 'scip', not 'x'$"):
        ev.run_evaluation(str(dataset), str(tmp_path / "api"), model="gpt-test", solver="x")
    with pytest.raises(ValueError, match=r"^run_generation\(\) argument 'solver' must be 'highs' or 'scip', not 1$"):
        __import__("tarvok.tarvok_generative").tarvok_generative.run_generation("p", "m.mod", "d.dat", solver=1)


def test_a_repeat_names_its_files_relative_to_the_run_folder(dataset, tmp_path):
    out = tmp_path / "run"
    ev.run_evaluation(str(dataset), str(out), model="gpt-test", provider="openai", progress=False, what_if=True,
                      execution_check=True, limit=1, repeat=2)  # fmt: skip
    records = [json.loads(line) for line in (out / "results.jsonl").read_text().splitlines()]
    files = sorted(r["what_if"]["main"]["model_file"] for r in records)
    assert files == ["as_modelled/model.mod", "as_modelled/repeat-2/model.mod"]
    for r in records:
        assert all((out / a["model_file"]).is_file() for a in r["what_if"]["alternatives"])
