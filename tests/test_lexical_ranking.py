"""Worked examples without the embedding extra: BM25 over the descriptions, the few-shot fallback and
`tarvok rank` in interpreters where sentence-transformers cannot be imported."""

import json
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import tarvok.example_ranker as er

BAKERY = (
    "A bakery makes bread and cakes from flour, sugar and oven hours, each in limited supply. "
    "Bread earns 3 per batch, cakes 5. How many batches of each maximise profit?"
)

# Makes sentence-transformers (and torch) unimportable, as in an installation without the rag extra.
BLOCKER = textwrap.dedent(
    """
    import sys

    class Blocker:
        def find_spec(self, name, path=None, target=None):
            if name.split(".")[0] in ("sentence_transformers", "torch"):
                raise ModuleNotFoundError(f"No module named {name!r}", name=name)
            return None

    sys.meta_path.insert(0, Blocker())
    for loaded in [m for m in sys.modules if m.split(".")[0] in ("sentence_transformers", "torch")]:
        del sys.modules[loaded]
    """
)


def run_blocked(code, cwd, *args):
    return subprocess.run(
        [sys.executable, "-c", BLOCKER + textwrap.dedent(code), *args],
        cwd=cwd,
        capture_output=True,
        text=True,
        timeout=120,
    )


class TestRankLexically:
    def test_a_bakery_ranks_the_production_mix_first(self):
        ranking = er.rank_lexically(BAKERY, top_k=3)
        assert Path(ranking[0]["path"]).name == "production_mix.txt"
        assert list(ranking[0]) == ["path", "score", "preview"]
        assert ranking[0]["score"] > ranking[1]["score"] >= ranking[2]["score"] > 0

    @pytest.mark.parametrize(
        "description, expected",
        [
            ("Ship cement from plants to warehouses at least freight cost.", "transportation.txt"),
            ("How many nurses must start work on each day of the week?", "nurse_scheduling.txt"),
            ("Choose which items to pack in a bag with a weight limit.", "knapsack.txt"),
            ("Blend petrol from components so that octane limits hold.", "fuel_blending.txt"),
        ],
    )
    def test_descriptions_find_their_kind(self, description, expected):
        assert Path(er.rank_lexically(description, top_k=1)[0]["path"]).name == expected

    def test_the_library_and_entries_are_those_of_the_embedding_ranking(self, tmp_path):
        (tmp_path / "sub").mkdir()
        (tmp_path / "a.txt").write_text("ship goods\n" + "x" * 400)
        (tmp_path / "sub" / "b.txt").write_text("store goods and ship them fast")
        (tmp_path / "c.txt").write_text("   \n")  # blank: left out
        ranking = er.rank_lexically("ship", models_dir=tmp_path, top_k=0)
        assert [Path(e["path"]).name for e in ranking] == ["a.txt", "b.txt"]
        assert ranking[0]["preview"] == ("ship goods " + "x" * 400)[:300]
        assert er.rank_lexically("nothing shared", models_dir=str(tmp_path), top_k=1)[0]["score"] == 0.0
        assert er.rank_lexically("ship", models_dir=tmp_path / "sub") != []
        with pytest.raises(FileNotFoundError, match="^Models directory not found: "):
            er.rank_lexically("ship", models_dir=tmp_path / "missing")
        with pytest.raises(TypeError, match="query"):
            er.rank_lexically(b"ship")
        with pytest.raises(TypeError, match="top_k"):
            er.rank_lexically("ship", top_k=True)


def test_few_shots_come_without_sentence_transformers(tmp_path):
    """The Python API from a folder without tvl_models: the shipped library, ranked by words, reaches the prompt."""
    done = run_blocked(
        """
        import json, sys
        import tarvok.tarvok_generative as tg

        messages, prompts = [], []
        shots = tg._gather_few_shots(sys.argv[1], k=2, models_dir=None, progress=messages.append)

        def fake_llm(**kwargs):
            prompts.append(kwargs["input_text"])
            if len(prompts) == 1:
                return json.dumps({"model": "dvar float+ x;\\nminimize x;\\n", "data": ""})
            return json.dumps({"aligned": True, "assessment": "fine"})

        tg._llm_generate_text = fake_llm
        tg.generative_solve(sys.argv[1], "out/m.mod", "out/m.dat", progress=messages.append)
        print(json.dumps({"messages": messages, "shots": [s["desc_path"] for s in shots], "prompt": prompts[0]}))
        """,
        tmp_path,
        BAKERY,
    )
    assert done.returncode == 0, done.stderr
    result = json.loads(done.stdout)
    messages = result["messages"]
    assert messages[0] == "Retrieving few-shot examples (k=2)"
    assert messages[1] == (
        "Embedding model unavailable ('sentence-transformers/all-MiniLM-L6-v2': No module named "
        "'sentence_transformers'); ranking few-shot examples by word overlap (BM25)"
    )
    assert messages[2].startswith("Found 2 few-shot candidates: ['production_mix.txt', ")
    assert [Path(p).name for p in result["shots"]][0] == "production_mix.txt"
    # The loop itself: FEW_SHOT_LIBRARY ("tvl_models") is not here, so the shipped library is ranked.
    assert any(m.startswith("Found 3 few-shot candidates: ['production_mix.txt'") for m in messages)
    assert "We are a small furniture workshop" in result["prompt"]
    assert "RAG disabled (embedding model load failed)" in done.stderr  # the ranker's warning, logged once
    assert done.stderr.count("RAG disabled") == 1


def test_tarvok_rank_works_without_sentence_transformers(tmp_path):
    done = run_blocked(
        """
        import sys
        from tarvok._cli import main

        sys.exit(main(["rank", *sys.argv[1:], "--top-k", "3"]))
        """,
        tmp_path,
        *BAKERY.split(),
    )
    assert done.returncode == 0, done.stderr
    (line,) = done.stderr.splitlines()
    assert line == (
        "tarvok: cannot load the embedding model 'sentence-transformers/all-MiniLM-L6-v2' (No module named "
        "'sentence_transformers'); install the rag extra: pip install \"tarvok[rag]\"; ranking by word overlap "
        "(BM25) instead"
    )
    lines = done.stdout.splitlines()
    assert len(lines) == 3 and lines[0].startswith(" 1. ") and "production_mix.txt  score=" in lines[0]
