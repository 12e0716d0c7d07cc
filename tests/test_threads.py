"""The compiler, the reply parser and the prompt builders used from 8 threads
at once give exactly what they give on one thread."""

import concurrent.futures
import inspect
import pathlib
import threading

import tarvok
from tarvok.scipy_emitter_base import SciPyCodeGeneratorBase
from tarvok.tarvok_core import SemanticError, TVLCompiler

THREADS = 8
ROUNDS = 20
LIBRARY = pathlib.Path(tarvok.__file__).parent / "tvl_models"
REPLY = 'Here it is:\n```json\n{"model": "dvar float x;\\n", "data": "", "note": "\u00e9 \ud800"}\n```\nBye'
EXAMPLE = {"description": "ship goods", "model": "dvar float x;", "data": "a = 1;", "desc_path": "lib/a.txt"}


def pairs():
    return [(p.read_text(), p.with_suffix(".dat").read_text()) for p in sorted(LIBRARY.glob("*/*.mod"))]


def one_round(tg, cases):
    out = []
    for model, data in cases:
        out.append(TVLCompiler().compile_model(model, data))
        try:
            TVLCompiler().compile_model(model + "\nbroken", data)
        except SemanticError as error:
            out.append(str(error))
    out.append(tg.extract_json_from_markdown(REPLY))
    out.append(tg._json_loads_relaxed(REPLY))
    out.append(tg._build_generation_prompt("p \u2028", "grammar", few_shots=[EXAMPLE]))
    out.append(tg._build_revision_prompt_syntax("p", "g", "m", "d", ["it's", "e\n"], few_shots=[EXAMPLE]))
    out.append(tg._build_final_assessment_prompt("p", "g", "m", "d", ["x"]))
    out.append(str(inspect.signature(tg.generative_solve)))
    out.append(str(inspect.signature(SciPyCodeGeneratorBase)))
    return out


def test_eight_threads_agree_with_one(tg):
    cases = pairs()
    assert len(cases) >= 30
    expected = one_round(tg, cases)
    start = threading.Barrier(THREADS)

    def work(_):
        start.wait()
        return [one_round(tg, cases) for _ in range(ROUNDS)]

    with concurrent.futures.ThreadPoolExecutor(THREADS) as pool:
        results = list(pool.map(work, range(THREADS)))
    for rounds in results:
        for got in rounds:
            assert got == expected
