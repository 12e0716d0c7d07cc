"""Time the generation loop spends on its own work (everything but waiting for
the LLM): reading the grammar reference, gathering few-shot examples from the
shipped library, building prompts, parsing replies, compiling and writing the
files. The LLM answers instantly from a script; the embedding ranking is
replaced by a fixed hit list (bench_ranking.py times the real one).

Every iteration compiles a shipped example model and is judged not aligned, so
it does the most work an iteration can do: generation request, parse, compile,
write, alignment prompt, verdict, alignment-revision prompt."""

import json
import os
import tempfile
import time
from pathlib import Path

import tarvok
import tarvok.tarvok_generative as tg

LIBRARY = Path(tarvok.__file__).parent / "tvl_models"
EXAMPLE = LIBRARY / "transportation"


def scripted_llm(model, data):
    pair = json.dumps({"model": model, "data": data})
    verdict = json.dumps({"aligned": False, "assessment": "Consider the fixed cost of each lane."})
    state = {"n": 0, "chars": 0}

    def generate(**kwargs):
        state["chars"] += len(kwargs["input_text"])
        text = kwargs["input_text"]
        state["n"] += 1
        return verdict if text.startswith("<role>\nYou are an expert") and "<assessment_focus>" in text else pair

    return generate, state


def run(mode, iterations, out_dir):
    start = time.perf_counter()
    tg.generative_solve(
        "Ship goods from two plants to three markets at least cost.",
        str(out_dir / "m.mod"),
        str(out_dir / "d.dat"),
        mode=mode,
        iterations=iterations,
    )
    return time.perf_counter() - start


def main():
    model = (EXAMPLE / "transportation.mod").read_text()
    data = (EXAMPLE / "transportation.dat").read_text()
    hits = [{"path": str(p)} for p in sorted(LIBRARY.glob("*/*.txt"))[:3]]
    tg.rag_rank = lambda query, models_dir, top_k: hits[:top_k]
    os.chdir(LIBRARY.parent)

    print(f"{'grammar':<8}{'setup ms':>10}{'per iteration ms':>18}{'prompt chars/iter':>19}")
    with tempfile.TemporaryDirectory() as tmp:
        out = Path(tmp)
        for mode in (tg.Grammar.NONE, tg.Grammar.BNF, tg.Grammar.CODE):
            generate, state = scripted_llm(model, data)
            tg._llm_generate_text = generate
            short = min(run(mode, 1, out) for _ in range(5))
            long_ = min(run(mode, 11, out) for _ in range(5))
            per_iteration = (long_ - short) / 10
            chars = state["chars"] / state["n"] * 2  # two requests per iteration
            print(f"{mode.name:<8}{(short - per_iteration) * 1e3:>10.2f}{per_iteration * 1e3:>18.2f}{chars:>19.0f}")


if __name__ == "__main__":
    main()
