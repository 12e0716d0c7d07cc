"""The compiler, the reply parser and the prompt builders used from 8 threads
at once give exactly what they give on one thread."""

import concurrent.futures
import inspect
import os
import pathlib
import subprocess
import sys
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


# Thread B asks the command for the models while thread A is inside the generation module's start (held there at
# the creation of its provider Enum): B must wait for that import to end, as the host's own import makes it wait.
IMPORT_RACE = """
import io, contextlib, sys, threading
from tarvok import _cli
go, done, told = threading.Event(), threading.Event(), io.StringIO()
def other():
    go.wait()
    with contextlib.redirect_stderr(told):
        _cli.main(["models", "--provider", "openai", "--model", "gpt-x"])
    done.set()
t = threading.Thread(target=other)
t.start()
def hold(frame, event, arg):
    if event == "call" and frame.f_code.co_name == "_create_" and not go.is_set():
        go.set()
        done.wait(5)
sys.setprofile(hold)
import tarvok.tarvok_generative
sys.setprofile(None)
t.join()
print(told.getvalue(), end="")
"""


def test_a_module_reached_from_another_thread_during_its_import_is_whole():
    env = {k: v for k, v in os.environ.items() if k != "OPENAI_API_KEY"}
    done = subprocess.run([sys.executable, "-c", IMPORT_RACE], capture_output=True, text=True, timeout=120, env=env)
    assert done.stdout == "tarvok: error: OPENAI_API_KEY environment variable not set.\n", done.stdout + done.stderr
