"""The whole generation loop with real parts: the real openai library talking
to a scripted LLM server, the real compiler, real files, the shipped grammar
document and example library (ranked with a small word-count embedding)."""

import json
import os
import subprocess
import sys
import zlib
from pathlib import Path

import pytest
from llm_server import openai_response

import tarvok
import tarvok.example_ranker as er

torch = pytest.importorskip("torch")

TRANSPORT = """// Ship goods from plants to markets at least cost.
{{string}} Plants = ...;          // where goods are made
{{string}} Markets = ...;         // where goods are sold
float supply[Plants] = ...;     // units each plant can ship
float demand[Markets] = ...;    // units each market needs
float cost[Plants][Markets] = ...;  // cost per unit shipped
dvar float+ ship[Plants][Markets];  // units shipped on each lane

minimize total_cost: sum(p in Plants, m in Markets) cost[p][m] * ship[p][m];
subject to {{
  forall(p in Plants) capacity: sum(m in Markets) ship[p][m] <= supply[p];
  forall(m in Markets) meet: sum(p in Plants) ship[p][m] >= {demand}[m];
{extra}}}
"""
DATA = """Plants = {"Seattle", "Denver"};
Markets = {"Austin", "Boston", "Chicago"};
supply = [350, 600];
demand = [300, 300, 275];
cost = [[2.5, 1.7, 1.8], [2.5, 1.8, 1.4]];
"""
BROKEN = TRANSPORT.format(demand="demnd", extra="")
UNALIGNED = TRANSPORT.format(demand="demand", extra="")
ALIGNED = TRANSPORT.format(
    demand="demand", extra="  forall(m in Markets) balanced: sum(p in Plants) ship[p][m] <= demand[m] + 50;\n"
)
DESCRIPTION = (
    "Two plants ship one product to three markets. Each plant has a supply limit, each market a demand, "
    "and every lane a cost per unit; no market may get more than 50 units above its demand. "
    "Ship at least cost."
)
NOT_ALIGNED = "The model never limits how far a market may be oversupplied."
ALIGNED_TEXT = "  The model matches the description: supply, demand, lane costs and the oversupply limit.  "


class WordCounts:
    """A tiny stand-in embedding: hashed word counts, normalised."""

    def encode(self, texts, convert_to_tensor, normalize_embeddings, show_progress_bar):
        assert convert_to_tensor and normalize_embeddings and not show_progress_bar
        rows = torch.zeros((len(texts), 64))
        for i, text in enumerate(texts):
            for word in text.lower().split():
                rows[i, zlib.crc32(word.encode()) % 64] += 1.0
        return torch.nn.functional.normalize(rows, dim=1)


def reply(model, data=DATA, fenced=False):
    text = json.dumps({"model": model, "data": data})
    return openai_response("```json\n" + text + "\n```" if fenced else text)


def verdict(aligned, assessment):
    return openai_response(json.dumps({"aligned": aligned, "assessment": assessment}))


def diagnostics(model):
    with pytest.raises(tarvok.semantic_error.SemanticError) as err:
        tarvok.tarvok_core.TVLCompiler().compile_model(model, DATA)
    return str(err.value)


@pytest.fixture
def scripted(openai_server):
    server = openai_server.server
    server.queue(
        reply(BROKEN, fenced=True),
        reply(UNALIGNED),
        verdict(False, NOT_ALIGNED),
        reply(ALIGNED),
        verdict(True, ALIGNED_TEXT),
    )
    return server


def test_repair_realign_and_stop(tg, scripted, monkeypatch, tmp_path):
    tarvok.tarvok_core.TVLCompiler().compile_model(ALIGNED, DATA)  # the scripted answer is right
    monkeypatch.setattr(er, "_load_model", lambda name: WordCounts())
    monkeypatch.chdir(Path(tarvok.__file__).parent)  # where "tvl_models" is the shipped library
    model_file, data_file = tmp_path / "run" / "plan.mod", tmp_path / "run" / "plan.dat"
    seen = []

    stats = tg.generative_solve(
        DESCRIPTION, str(model_file), str(data_file), "gpt-test", return_statistics=True, progress=seen.append
    )

    assert stats == {"iterations": 3, "assessment": ALIGNED_TEXT.strip(), "syntax_errors": []}
    assert model_file.read_text() == ALIGNED and data_file.read_text() == DATA
    sent = [r.json for r in scripted.requests]
    assert [r.path for r in scripted.requests] == ["/v1/responses"] * 5
    assert all(body["model"] == "gpt-test" and "temperature" not in body for body in sent)

    generation, repair, judge, realign, judge_again = (body["input"] for body in sent)
    grammar = tg._read_tarvok_grammar()
    assert "--- BEGIN TARVOK SYNTAX IMPLEMENTATION ---\n" + grammar + "\n--- END" in generation
    assert "<few_shot_examples>" in generation and '<example index="3">' in generation
    assert '<description path="tvl_models/' in generation
    assert generation.endswith("</example_output>\n")
    assert repair.startswith("<role>") and "failed due to syntax errors" in repair
    assert "<errors>\n" + repr([diagnostics(BROKEN)]) + "\n</errors>" in repair
    assert "did you mean 'demand'?" in repair and BROKEN in repair
    assert "Assess whether the generated Tarvok model" in judge and UNALIGNED in judge
    assert "<assessment>\n" + NOT_ALIGNED + "\n</assessment>" in realign
    assert ALIGNED in judge_again

    assert seen[0] == "Generating with provider=openai model=gpt-test iterations=5 alignment=on"
    assert seen[1] == "Retrieving few-shot examples (k=3)"
    assert seen[2].startswith("Found 3 few-shot candidates: ['") and seen[2].endswith(".txt']")
    assert seen.count("Syntax/semantic errors found: 1; revising...") == 1
    assert seen.count("Not aligned; revising per assessment") == 1
    assert seen[-2:] == ["Aligned \u2713 Stopping.", "Generation complete"]
    assert f"Wrote files: {model_file} \u2022 {data_file}" in seen


def test_the_solve_command(scripted, tmp_path):
    """The same run through `python -m tarvok solve`, in a fresh interpreter."""
    (tmp_path / "problem.txt").write_text(DESCRIPTION, encoding="utf-8")
    env = dict(os.environ, HF_HUB_OFFLINE="1")
    done = subprocess.run(
        [
            sys.executable,
            "-m",
            "tarvok",
            "solve",
            "@problem.txt",
            "-m",
            "out/plan.mod",
            "-d",
            "out/plan.dat",
            "--model",
            "gpt-test",
            "--no-few-shot",
            "--json",
        ],
        cwd=tmp_path,
        env=env,
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert done.returncode == 0, done.stderr
    result = json.loads(done.stdout)
    # The scripted data's supplies are not in the description: the grounding report names them with their line.
    assumed = result.pop("assumptions")
    assert {"value": "350", "line": 3, "text": "supply = [350, 600];"} in assumed
    assert isinstance(result.pop("conversions"), list)
    assert result == {
        "model_file": str(tmp_path / "out" / "plan.mod"),
        "data_file": str(tmp_path / "out" / "plan.dat"),
        "iterations": 3,
        "syntax_errors": [],
        "assessment": ALIGNED_TEXT.strip(),
        "compiled": True,
        "aligned": True,
        "status": 0,
    }
    progress = done.stderr.splitlines()
    assert progress[0] == "Generating with provider=openai model=gpt-test iterations=5 alignment=on"
    assert "Syntax/semantic errors found: 1; revising..." in progress
    assert (tmp_path / "out" / "plan.mod").read_text() == ALIGNED
    assert len(scripted.requests) == 5

    check = subprocess.run(
        [sys.executable, "-m", "tarvok", "check", "out/plan.mod", "out/plan.dat"],
        cwd=tmp_path,
        capture_output=True,
        text=True,
        timeout=60,
    )
    assert (check.returncode, check.stdout.strip()) == (0, "OK")
