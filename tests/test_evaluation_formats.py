"""Benchmark sets as they are published: a CSV in the shape of the cleaned sets, answers written as lists
and with thousands separators, a reference that is no number, classes, and the figures of a run. The run
is replayed from a recorded transcript (tests/fixtures/eval_replay), so the accuracy is what the recorded
replies earn. TARVOK_REFRESH_FIXTURES=1 records that transcript again against the scripted server."""

import csv
import json
import os
from pathlib import Path

import pytest
from llm_server import openai_response

import tarvok.evaluation as ev

HERE = Path(__file__).parent
FIXTURE = HERE / "fixtures" / "eval_replay"
MODELS = HERE / "sample_models"
SAMPLE = {
    r["id"]: r
    for r in map(json.loads, (Path(ev.__file__).parent / "datasets" / "sample.jsonl").read_text().splitlines())
}
USAGE = {"input_tokens": 100, "output_tokens": 40, "total_tokens": 140}

# id, the answer as the set writes it, class; and the pair the scripted LLM answers with.
ROWS = [
    ("bakery", "[190.0]", "LP", "bakery"),  # right, written as a list of one
    ("furniture", "3,000", "IP", "furniture"),  # right, with a thousands separator
    ("blending", "220,000", "LP", "blending-infeasible"),  # the model is infeasible: wrong
    ("knapsack", "not reported", "IP", "knapsack"),  # no usable reference
]


def pair(name):
    base = name.removesuffix("-infeasible")
    data = (MODELS / f"{base}.dat").read_text(encoding="utf-8")
    if name.endswith("-infeasible"):
        data = data.replace("min_barrels = [3000,", "min_barrels = [30000,")
    return json.dumps({"model": (MODELS / f"{base}.mod").read_text(encoding="utf-8"), "data": data})


def write_csv(path, rows=ROWS, header=("id", "question", "answer", "problem_class")):
    with open(path, "w", newline="", encoding="utf-8") as f:
        out = csv.writer(f)
        out.writerow(header)
        for problem, answer, kind, _ in rows:
            out.writerow([problem, SAMPLE[problem]["description"], answer, kind])
    return path


def records(out):
    return {r["id"]: r for r in map(json.loads, (out / "results.jsonl").read_text().splitlines())}


@pytest.fixture
def no_ranking(monkeypatch):
    """The examples are ranked lexically, as without an embedding model, so the prompts do not depend on one."""
    import tarvok.example_ranker as er

    monkeypatch.setattr(er, "_load_model", lambda name: (_ for _ in ()).throw(OSError("no embeddings here")))


def test_a_recorded_run_counts_calls_tokens_and_assumptions(tg, openai_server, tmp_path, no_ranking):
    pytest.importorskip("highspy")
    replies = {SAMPLE[problem]["description"]: pair(name) for problem, _, _, name in ROWS}

    def answer(request):
        prompt = request.json["input"]
        # The description of the problem asked about picks the reply (each prompt quotes exactly one).
        found = [reply for description, reply in replies.items() if description in prompt]
        return openai_response(found[0], usage=USAGE)

    openai_server.server.handler = answer
    dataset = write_csv(tmp_path / "cleaned.csv")
    out = tmp_path / "recorded"
    summary = ev.run_evaluation(
        str(dataset), str(out), model="gpt-test", iterations=1, alignment_check=False, progress=False
    )
    # Each problem: one generation and the closing assessment (no alignment verdict, nothing to repair).
    assert len(openai_server.server.requests) == 8
    assert (summary["mean_llm_calls"], summary["mean_repair_rounds"]) == (2, 0)
    assert (summary["tokens_in"], summary["tokens_out"]) == (800, 320)
    by_id = records(out)
    assert by_id["bakery"]["tokens_in"] == 200 and by_id["bakery"]["llm_calls"] == 2
    assert all(isinstance(r["assumptions"], list) for r in by_id.values())
    if os.environ.get("TARVOK_REFRESH_FIXTURES"):
        FIXTURE.mkdir(parents=True, exist_ok=True)
        with open(FIXTURE / "transcript.jsonl", "w", encoding="utf-8") as f:
            for problem, *_ in ROWS:
                f.write((out / problem / "transcript.jsonl").read_text(encoding="utf-8"))


def test_a_cleaned_csv_replayed_earns_the_recorded_accuracy(tg, tmp_path, no_ranking, capsys):
    pytest.importorskip("highspy")
    dataset = write_csv(tmp_path / "cleaned.csv")
    out = tmp_path / "out"
    argv = [str(dataset), "--out", str(out), "--replay", str(FIXTURE), "--model", "gpt-test", "--iterations", "1"]
    assert ev.main([*argv, "--no-alignment"]) == 0
    table = capsys.readouterr().out
    by_id = records(out)
    assert {i: r["verdict"] for i, r in by_id.items()} == {
        "bakery": "correct",
        "furniture": "correct",
        "blending": "wrong",
        "knapsack": "no_reference",
    }
    assert by_id["blending"]["status"] == "infeasible" and by_id["bakery"]["class"] == "LP"
    summary = json.loads((out / "summary.json").read_text())
    assert (summary["correct"], summary["accuracy"], summary["without_reference"]) == (2, 2 / 3, 1)
    assert summary["by_class"] == {
        "IP": {"total": 1, "correct": 1, "accuracy": 1.0},
        "LP": {"total": 2, "correct": 1, "accuracy": 0.5},
    }
    assert summary["execution_rate"] == 0.75 and summary["mean_llm_calls"] == 2
    assert (summary["tokens_in"], summary["tokens_out"]) == (800, 320)  # as recorded
    judged = summary["with_assumptions"]["total"] + summary["without_assumptions"]["total"]
    assert judged == 3
    assert "Correct 2 of 3 (accuracy 66.7%)" in table and "no_reference" in table
    assert "  LP: 1 of 2 (50.0%)" in table

    # Named fields, and every problem run twice: the same answers each time, so no spread.
    renamed = write_csv(tmp_path / "renamed.csv", header=("key", "text", "optimum", "kind"))
    again = ev.run_evaluation(
        str(renamed), str(tmp_path / "twice"), model="gpt-test", iterations=1, alignment_check=False,
        provider="replay", replay=str(FIXTURE), progress=False, repeat=2,
        fields={"question": "text", "answer": "optimum", "id": "key", "class": "kind"},
    )  # fmt: skip
    assert (again["total"], again["correct"], again["repeats"]) == (8, 4, 2)
    assert again["accuracy_by_repeat"] == [2 / 3, 2 / 3] and again["accuracy_std"] == 0
    assert (tmp_path / "twice" / "bakery" / "repeat-2" / "model.mod").exists()


def test_field_options_and_repeat_are_checked(tg, tmp_path, capsys):
    dataset = write_csv(tmp_path / "cleaned.csv")
    assert ev.main([str(dataset), "--out", str(tmp_path / "o"), "--repeat", "0"]) == 2
    assert "--repeat must be at least 1" in capsys.readouterr().err
    assert ev.main([str(dataset), "--out", str(tmp_path / "o"), "--field-question", ""]) == 2
    with pytest.raises(ValueError, match="fields"):
        ev.run_evaluation(str(dataset), str(tmp_path / "o"), fields={"questions": "x"})
    capsys.readouterr()
    # A named field the records lack: each record is skipped with the name, and no problem is left.
    assert ev.main([str(dataset), "--out", str(tmp_path / "o"), "--field-question", "text"]) == 2
    err = capsys.readouterr().err
    assert "skipped record 1 (line 2)" in err and "no description ('text')" in err and "no usable problem" in err


def test_samples_vote_for_the_objective_most_of_them_reach(tg, openai_server, tmp_path, no_ranking):
    pytest.importorskip("highspy")
    generated = iter([pair("bakery"), pair("furniture"), pair("bakery")])

    def answer(request):
        prompt = request.json["input"]
        closing = "Assess how well" in prompt
        return openai_response("The model fits." if closing else next(generated), usage=USAGE)

    openai_server.server.handler = answer
    dataset = tmp_path / "one.jsonl"
    dataset.write_text(json.dumps(SAMPLE["bakery"]) + "\n", encoding="utf-8")
    out = tmp_path / "voted"
    summary = ev.run_evaluation(
        str(dataset), str(out), model="gpt-test", iterations=1, alignment_check=False, progress=False, samples=3
    )
    record = records(out)["bakery"]
    # Two samples reach 190, one the furniture optimum: the majority's answer, with its share.
    assert (record["objective"], record["verdict"], record["samples"]) == (190, "correct", 3)
    assert record["confidence"] == pytest.approx(2 / 3) and record["sample"] == 1
    assert record["llm_calls"] == 6 and record["tokens_in"] == 600  # every sample's requests
    assert summary["by_agreement"] == {"majority": {"total": 1, "correct": 1, "accuracy": 1.0}}
    assert (out / "bakery" / "sample-2" / "model.mod").exists()
    with pytest.raises(ValueError, match="1 samples instead of 3|3 samples instead of 1"):
        ev.run_evaluation(str(dataset), str(out), model="gpt-test", iterations=1, alignment_check=False, progress=False)


SHIPPED_REPLAY = HERE.parent / "examples" / "sample_replay"
OFFLINE = ["--replay", str(SHIPPED_REPLAY), "--iterations", "1", "--no-alignment"]


def test_the_shipped_replay_of_the_sample_set_runs_offline(tg, openai_server, tmp_path, monkeypatch):
    """The README's offline run: from the package's folder, so that the prompts name the examples as
    tvl_models/..., wherever the package is; ranked by shared words, as when no embedding model loads.
    TARVOK_REFRESH_FIXTURES=1 records it again against the scripted server."""
    pytest.importorskip("highspy")
    monkeypatch.setenv("TARVOK_EMBEDDING_MODEL", "/nonexistent")
    monkeypatch.chdir(Path(ev.__file__).parent)
    if os.environ.get("TARVOK_REFRESH_FIXTURES"):
        replies = {r["description"]: pair(problem) for problem, r in SAMPLE.items()}

        def answer(request):
            found = [reply for description, reply in replies.items() if description in request.json["input"]]
            return openai_response(found[0], usage=USAGE)

        openai_server.server.handler = answer
        recorded = tmp_path / "recorded"
        assert ev.main(["--out", str(recorded), "--model", "gpt-test", *OFFLINE[2:]]) == 0
        SHIPPED_REPLAY.mkdir(exist_ok=True)
        (SHIPPED_REPLAY / "transcript.jsonl").write_text(
            "".join((recorded / problem / "transcript.jsonl").read_text(encoding="utf-8") for problem in SAMPLE),
            encoding="utf-8",
        )
    out = tmp_path / "out"
    assert ev.main(["--out", str(out), *OFFLINE]) == 0
    summary = json.loads((out / "summary.json").read_text())
    assert (summary["correct"], summary["total"], summary["errors"]) == (10, 10, 0)

    # A step the recording lacks (the alignment check) misses: an error of the run, and the run stops after it.
    missed = tmp_path / "missed"
    status = ev.main(["--out", str(missed), *OFFLINE[:-1], "--stop-after-errors", "1"])
    recorded = records(missed)
    assert status != 0 and recorded and all(r["provider_error"] for r in recorded.values())
    assert "the nearest recorded prompt" in next(iter(recorded.values()))["error"]
