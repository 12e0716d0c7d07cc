"""Recorded conversations and their replay: the real openai library talking to a scripted server on
127.0.0.1 records every exchange; the provider 'replay' answers from those records without a request."""

import hashlib
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest
from llm_server import Reply, openai_response

import tarvok.evaluation as ev
from tarvok import _cli

MODELS = Path(__file__).parent / "sample_models"
SAMPLE = {
    r["id"]: r
    for r in map(json.loads, (Path(ev.__file__).parent / "datasets" / "sample.jsonl").read_text().splitlines())
}
USAGE = {
    "input_tokens": 120,
    "input_tokens_details": {"cached_tokens": 0},
    "output_tokens": 45,
    "output_tokens_details": {"reasoning_tokens": 0},
    "total_tokens": 165,
}


def pair(name, **replace):
    data = (MODELS / f"{name}.dat").read_text(encoding="utf-8")
    for old, new in replace.items():
        data = data.replace(old, new)
    return json.dumps({"model": (MODELS / f"{name}.mod").read_text(encoding="utf-8"), "data": data})


BROKEN = json.dumps({"model": "dvar float+ x;\nminimize cost: x + y;\n", "data": ""})
# Regular gasoline needs more barrels than both crudes hold: infeasible.
INFEASIBLE_BLEND = pair("blending", **{"min_barrels = [3000,": "min_barrels = [30000,"})


class Scripted:
    """Answers by the kind of request: `pairs` in turn for the generating ones, a verdict for the judge."""

    def __init__(self, *pairs, aligned=True):
        self.pairs, self.aligned = list(pairs), aligned

    def __call__(self, request):
        prompt = request.json["input"]
        if "Assess whether the generated Tarvok model" in prompt:
            text = json.dumps({"aligned": self.aligned, "assessment": "Matches." if self.aligned else "Off."})
        elif "Assess how well" in prompt:
            text = "The model does not compile."
        else:
            text = self.pairs.pop(0) if len(self.pairs) > 1 else self.pairs[0]
        return openai_response(text, usage=USAGE)


def lines(path):
    return [json.loads(line) for line in Path(path).read_text(encoding="utf-8").splitlines()]


def exchanges(records):
    """What a replay must give again: every field but the time taken and the provider that answered."""
    return [{k: v for k, v in r.items() if k not in ("seconds", "provider")} for r in records]


class TestRecording:
    def test_every_exchange_is_one_line_and_a_replay_gives_the_same(self, tg, openai_server, tmp_path):
        server = openai_server.server
        server.handler = Scripted(BROKEN, pair("bakery"))
        description = SAMPLE["bakery"]["description"]
        recorded = tmp_path / "run" / "talk.jsonl"
        result = tg.run_generation(
            description, tmp_path / "m.mod", tmp_path / "d.dat", model_name="gpt-test", temperature=0.7,
            iterations=3, few_shot=False, record=recorded,
        )  # fmt: skip
        assert result.compiled and result.aligned
        first = lines(recorded)
        assert [r["step"] for r in first] == ["generate", "repair", "align"]
        assert [r["temperature"] for r in first] == [0.7, 0.7, 0.0]
        assert [r["prompt"] for r in first] == [r.json["input"] for r in server.requests]
        assert first[1]["reply"] == pair("bakery") and first[0]["provider"] == "openai"
        assert all((r["model"], r["tokens_in"], r["tokens_out"]) == ("gpt-test", 120, 45) for r in first)
        assert all(r["seconds"] >= 0 for r in first)

        asked = len(server.requests)
        tg.REPLAY_PATH = tmp_path / "run"  # a folder: searched for transcripts
        replayed = tmp_path / "again.jsonl"
        again = tg.run_generation(
            description, tmp_path / "m2.mod", tmp_path / "d2.dat", model_name="gpt-test", temperature=0.7,
            iterations=3, few_shot=False, llm_provider="replay", record=replayed,
        )  # fmt: skip
        assert len(server.requests) == asked  # nothing was sent
        assert (again.model_text, again.aligned, again.iterations) == (result.model_text, True, 2)
        assert exchanges(lines(replayed)) == exchanges(first)
        assert {r["provider"] for r in lines(replayed)} == {"replay"}

    def test_a_failed_request_leaves_no_line(self, tg, openai_server, no_sleep, tmp_path):
        openai_server.server.handler = lambda request: Reply.json({"error": {"message": "down"}}, 503)
        recorded = tmp_path / "talk.jsonl"
        with pytest.raises(RuntimeError, match="failed after 3 attempts"):
            tg.run_generation("p", tmp_path / "m.mod", tmp_path / "d.dat", model_name="gpt-test",
                              few_shot=False, record=recorded)  # fmt: skip
        assert not recorded.exists()

    def test_a_transcript_over_the_model_or_data_file_is_refused(self, tg, tmp_path):
        (tmp_path / "d.dat").write_text("n = 1;")
        (tmp_path / "talk.jsonl").symlink_to(tmp_path / "d.dat")
        for record, other in [(tmp_path / "m.mod", "model_file"), (tmp_path / "talk.jsonl", "data_file")]:
            with pytest.raises(ValueError, match=f"^run_generation\\(\\): {other} and record name the same file: "):
                tg.run_generation("p", tmp_path / "m.mod", tmp_path / "d.dat", few_shot=False, record=record)
        assert (tmp_path / "d.dat").read_text() == "n = 1;" and not (tmp_path / "m.mod").exists()

    @pytest.mark.parametrize("layout", ["file/t.jsonl", "file/a/b/t.jsonl", "dangling/a/t.jsonl"])
    def test_a_folder_that_cannot_be_made_is_named_as_os_makedirs_names_it(self, tg, openai_server, tmp_path, layout):
        openai_server.server.handler = Scripted(pair("bakery"))
        (tmp_path / "file").write_text("x")
        (tmp_path / "dangling").symlink_to(tmp_path / "nowhere")
        recorded = tmp_path / layout
        with pytest.raises(OSError) as made:
            os.makedirs(recorded.parent, exist_ok=True)
        with pytest.raises(OSError) as run:
            tg.run_generation("p", tmp_path / "m.mod", tmp_path / "d.dat", model_name="gpt-test",
                              few_shot=False, record=recorded)  # fmt: skip
        assert (type(run.value), run.value.errno, run.value.filename) == (
            type(made.value), made.value.errno, made.value.filename)  # fmt: skip

    def test_a_transcript_that_blocks_leaves_the_other_threads_running(self, tmp_path):
        """A pipe as the transcript, whose reader (a thread of the same process) opens it a second after the run
        starts waiting for one: the run must not hold the interpreter while it waits."""
        script = f"""if True:
            import os, threading, time
            import tarvok.tarvok_generative as tg
            tg._llm_generate_text = lambda **kw: {pair("bakery")!r}
            os.mkfifo("talk.jsonl")
            got = []
            def read():
                time.sleep(1)
                while True:
                    with open("talk.jsonl", "rb") as f:
                        got.append(f.read())
            threading.Thread(target=read, daemon=True).start()
            tg.run_generation("p", "m.mod", "d.dat", model_name="gpt-test", iterations=1, few_shot=False,
                              alignment_check=False, record="talk.jsonl")
            print(got[0].decode())
        """
        done = subprocess.run([sys.executable, "-c", script], cwd=tmp_path, capture_output=True, text=True, timeout=60)
        assert done.returncode == 0, done.stderr
        assert json.loads(done.stdout)["step"] == "generate"


class TestReplay:
    def test_an_unrecorded_prompt_names_step_first_line_and_hash(self, tg, tmp_path):
        book = tmp_path / "a" / "b" / "t.jsonl"
        book.parent.mkdir(parents=True)
        book.write_text(json.dumps({"prompt": "other", "reply": "x"}) + "\n{cut off", encoding="utf-8")
        tg.REPLAY_PATH = str(tmp_path)
        prompt = "First line of it\nsecond"
        with pytest.raises(RuntimeError) as info:
            tg._llm_generate_text(tg.LLMProvider.REPLAY, "m", prompt)
        digest = hashlib.sha256(prompt.encode()).hexdigest()
        assert str(info.value) == (
            f"no recorded reply for the request (first line: 'First line of it', SHA-256 {digest}) in {tmp_path}"
            "; the nearest recorded prompt (of 1) differs first at line 1: recorded 'other', asked 'First line of it'"
        )
        # An error of the run, as an outage is: eval counts it against --stop-after-errors and retries it.
        assert type(info.value).__name__ == "_ReplayMissError" and tg._is_provider_outage(info.value)

    def test_the_last_record_of_a_prompt_wins_across_files(self, tg, tmp_path):
        (tmp_path / "1.jsonl").write_text(
            "".join(json.dumps({"prompt": "p", "reply": r, "model": "m1"}) + "\n" for r in ("old", "older?")),
            encoding="utf-8",
        )
        (tmp_path / "sub").mkdir()
        (tmp_path / "sub" / "2.jsonl").write_text(json.dumps({"prompt": "p", "reply": "new", "model": "m2"}) + "\n")
        (tmp_path / "notes.txt").write_text(json.dumps({"prompt": "p", "reply": "not a transcript"}) + "\n")
        tg.REPLAY_PATH = tmp_path
        assert tg._llm_generate_text(tg.LLMProvider.REPLAY, "m", "p") == "new"
        assert tg.list_replay_models() == ["m1", "m2"] == tg.list_models("replay") and tg._replay_client() == 1
        tg.REPLAY_PATH = tmp_path / "1.jsonl"
        assert tg._llm_generate_text(tg.LLMProvider.REPLAY, "m", "p") == "older?"
        tg.REPLAY_PATH = tmp_path / "nowhere"
        with pytest.raises(RuntimeError, match="replay path not found"):
            tg._replay_client()

    def test_the_command_replays_a_recorded_solve(self, tg, openai_server, tmp_path, monkeypatch, capsys):
        monkeypatch.chdir(tmp_path)
        openai_server.server.handler = Scripted(pair("bakery"))

        def solve(model, data, *more):
            argv = ["solve", SAMPLE["bakery"]["description"], "-m", model, "-d", data, "--model", "gpt-test",
                    "--no-few-shot", "--json", *more]  # fmt: skip
            return _cli.main(argv)

        assert solve("a.mod", "a.dat", "--record", "talk.jsonl") == 0
        first = json.loads(capsys.readouterr().out)
        asked = len(openai_server.server.requests)
        monkeypatch.delenv("OPENAI_API_KEY")
        assert solve("b.mod", "b.dat", "--replay", "talk.jsonl") == 0
        again = json.loads(capsys.readouterr().out)
        assert len(openai_server.server.requests) == asked
        assert (again["aligned"], again["iterations"]) == (first["aligned"], first["iterations"])
        assert (tmp_path / "b.mod").read_text() == (tmp_path / "a.mod").read_text()

        assert solve("c.mod", "c.dat", "--replay", "talk.jsonl", "--provider", "openai") == 2
        assert "cannot go with --provider openai" in capsys.readouterr().out
        for prefix, listed in (([], ["gpt-test"]), (["--prefix", "o"], [])):
            assert _cli.main(["models", "--provider", "replay", "--replay", "talk.jsonl", *prefix]) == 0
            assert capsys.readouterr().out.split() == listed


# Bread 3, cake 6: the best batches (30, 20) now earn 210 instead of 190 (checked by hand at the corners).
RICHER_CAKE = pair("bakery", **{"profit = [3, 5]": "profit = [3, 6]"})


class TestVoting:
    def solve(self, tmp_path, *more):
        argv = ["solve", SAMPLE["bakery"]["description"], "-m", "b.mod", "-d", "b.dat", "--model", "gpt-test",
                "--no-few-shot", "--json", *more]  # fmt: skip
        return _cli.main(argv)

    def test_the_answer_most_samples_reach_is_the_one_written(self, tg, openai_server, tmp_path, monkeypatch, capsys):
        pytest.importorskip("highspy")
        monkeypatch.chdir(tmp_path)
        openai_server.server.handler = Scripted(RICHER_CAKE, pair("bakery"))
        assert self.solve(tmp_path, "--samples", "3") == 0
        out = json.loads(capsys.readouterr().out)
        assert (out["samples"], out["confidence"], out["objective"]) == (3, pytest.approx(2 / 3), pytest.approx(190))
        assert "profit = [3, 5]" in (tmp_path / "b.dat").read_text()
        assert sorted(p.name for p in tmp_path.iterdir()) == ["b.dat", "b.mod"]

        # Without --json the share is printed under the assessment.
        openai_server.server.handler = Scripted(RICHER_CAKE, pair("bakery"))
        argv = ["solve", SAMPLE["bakery"]["description"], "-m", "c.mod", "-d", "c.dat", "--model", "gpt-test",
                "--no-few-shot", "--samples", "3"]  # fmt: skip
        assert _cli.main(argv) == 0
        assert "confidence: 0.67 (2 of 3 samples reach the objective 190.0)" in capsys.readouterr().out

    def test_a_tie_goes_to_fewer_repairs(self, tg, openai_server, tmp_path, monkeypatch, capsys):
        pytest.importorskip("highspy")
        monkeypatch.chdir(tmp_path)
        # The first sample needs a repair to reach 210; the second reaches 190 at once.
        openai_server.server.handler = Scripted(BROKEN, RICHER_CAKE, pair("bakery"))
        assert self.solve(tmp_path, "--samples", "2") == 0
        out = json.loads(capsys.readouterr().out)
        assert (out["confidence"], out["objective"]) == (0.5, pytest.approx(190))
        assert "profit = [3, 5]" in (tmp_path / "b.dat").read_text()

    def test_one_sample_is_the_plain_solve(self, tg, openai_server, tmp_path, monkeypatch, capsys):
        monkeypatch.chdir(tmp_path)
        openai_server.server.handler = Scripted(RICHER_CAKE, pair("bakery"))
        assert self.solve(tmp_path, "--samples", "1") == 0
        out = json.loads(capsys.readouterr().out)
        assert not {"samples", "confidence", "objective"} & out.keys()
        assert "profit = [3, 6]" in (tmp_path / "b.dat").read_text()
        assert self.solve(tmp_path, "--samples", "0") == 2
        assert "--samples must be at least 1" in capsys.readouterr().out


class TestStatuses:
    def test_a_final_model_still_infeasible_ends_with_status_3(self, tg, openai_server, tmp_path, monkeypatch, capsys):
        monkeypatch.chdir(tmp_path)
        openai_server.server.handler = Scripted(INFEASIBLE_BLEND)
        argv = ["solve", SAMPLE["blending"]["description"], "-m", "b.mod", "-d", "b.dat", "--model", "gpt-test",
                "--no-few-shot", "--iterations", "2", "--execution-check"]  # fmt: skip
        assert _cli.main(argv) == 3
        assert "the execution check found it infeasible" in capsys.readouterr().err

    def test_a_missing_key_is_found_before_the_examples_are_ranked(self, tg, monkeypatch, tmp_path, capsys):
        import tarvok.example_ranker as er

        monkeypatch.chdir(tmp_path)
        monkeypatch.delenv("OPENAI_API_KEY", raising=False)
        loaded = []
        monkeypatch.setattr(er, "_load_model", lambda name: loaded.append(name))
        assert _cli.main(["solve", "a plan", "-m", "m.mod", "-d", "d.dat", "--model", "gpt-test"]) == 5
        assert "OPENAI_API_KEY environment variable not set." in capsys.readouterr().err and loaded == []

    @pytest.mark.parametrize(
        "make, outage",
        [
            (lambda: ConnectionError("refused"), True),
            (lambda: TimeoutError("slow"), True),
            (lambda: type("APIStatusError", (Exception,), {"status_code": 503})("bad gateway"), True),
            (lambda: type("APIStatusError", (Exception,), {"status_code": 400})("bad request"), False),
            (lambda: ValueError("no"), False),
        ],
    )
    def test_what_counts_as_a_provider_outage(self, tg, make, outage):
        error = make()
        assert tg._is_provider_outage(error) is outage
        try:
            try:
                raise error
            except Exception:
                raise RuntimeError("request failed")  # noqa: B904 - the context is the point
        except RuntimeError as wrapped:
            assert tg._is_provider_outage(wrapped) is outage


@pytest.fixture
def no_ranking(monkeypatch):
    import tarvok.example_ranker as er

    monkeypatch.setattr(er, "_load_model", lambda name: (_ for _ in ()).throw(OSError("no embeddings here")))


class TestEvaluation:
    def write_set(self, tmp_path, ids):
        path = tmp_path / "set.jsonl"
        path.write_text("".join(json.dumps(SAMPLE[i]) + "\n" for i in ids), encoding="utf-8")
        return path

    def test_provider_errors_stop_the_run_and_are_tried_again(self, tg, openai_server, no_sleep, tmp_path, no_ranking):
        pytest.importorskip("highspy")
        server = openai_server.server
        server.handler = lambda request: Reply.json({"error": {"message": "overloaded"}}, 503)
        path = self.write_set(tmp_path, ["bakery", "transport", "knapsack", "blending"])
        out = tmp_path / "out"
        with pytest.raises(ConnectionError, match="the first 3 problems failed with provider errors"):
            ev.run_evaluation(str(path), str(out), model="gpt-test", progress=False)
        records = lines(out / "results.jsonl")
        assert len(records) == 3 and all(r["provider_error"] and r["correct"] is False for r in records)

        server.handler = Scripted(pair("bakery"))
        kept = ev.run_evaluation(str(path), str(out), model="gpt-test", progress=False, retry_errors=False, limit=3)
        assert (kept["attempted"], kept["provider_errors"], kept["retried"]) == (3, 3, 0)

        summary = ev.run_evaluation(str(path), str(out), model="gpt-test", iterations=1, progress=False, force=True)
        assert (summary["attempted"], summary["provider_errors"], summary["retried"]) == (4, 0, 3)
        assert summary["correct"] == 1  # the bakery's answer is right for the bakery only
        transcript = lines(out / "bakery" / "transcript.jsonl")
        assert [r["step"] for r in transcript] == ["generate", "align"]

        # The whole run replayed from its transcripts gives the same answers, without a request.
        asked = len(server.requests)
        again = ev.run_evaluation(
            str(path), str(tmp_path / "again"), model="gpt-test", iterations=1, progress=False, provider="replay",
            replay=str(out),
        )  # fmt: skip
        assert len(server.requests) == asked and again["correct"] == summary["correct"]
        with pytest.raises(ValueError, match="apart from the output folder"):
            ev.run_evaluation(str(path), str(out / "x"), model="gpt-test", provider="replay", replay=str(out))

    def test_the_command_stops_with_status_5(self, tg, openai_server, no_sleep, tmp_path, capsys, no_ranking):
        pytest.importorskip("highspy")
        openai_server.server.handler = lambda request: Reply.close()
        path = self.write_set(tmp_path, ["bakery", "transport"])
        argv = [str(path), "--out", str(tmp_path / "out"), "--model", "gpt-test", "--stop-after-errors", "2"]
        assert ev.main(argv) == 5
        err = capsys.readouterr().err.strip().splitlines()
        assert err[-1].startswith("tarvok eval: the first 2 problems failed with provider errors")
