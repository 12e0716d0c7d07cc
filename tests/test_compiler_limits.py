"""The compiler within bounds of time and memory: Ctrl-C stops a long compile
promptly, memory stays in proportion to the text, allocation failure is a
MemoryError, and texts that used to take quadratic time compile quickly.
Figures belong to benchmarks/bench_compiler_limits.py; the bounds here are
generous and only catch a return of the old behaviour."""

import signal
import subprocess
import sys
import textwrap
import time

import pytest

from tarvok.tarvok_core import SemanticError, TVLCompiler


def run_python(code, **kwargs):
    return subprocess.Popen([sys.executable, "-c", textwrap.dedent(code)], stdout=subprocess.PIPE, text=True,
                            **kwargs)


def test_ctrl_c_stops_a_long_compile_promptly():
    with run_python(
        """
        import time
        from tarvok.tarvok_core import TVLCompiler
        model = "float a = " + "+".join(["1"] * 3_900_000) + ";\\ndvar float x;\\nminimize x;"
        print("ready", flush=True)
        try:
            TVLCompiler().compile_model(model, "")
            print("finished", flush=True)
        except KeyboardInterrupt:
            print("interrupted", flush=True)
            print(sorted(TVLCompiler().compile_model("dvar float x;\\nminimize x;", "")), flush=True)
        """
    ) as child:
        assert child.stdout.readline().strip() == "ready"
        time.sleep(0.2)
        child.send_signal(signal.SIGINT)
        sent = time.perf_counter()
        assert child.stdout.readline().strip() == "interrupted"
        latency = time.perf_counter() - sent
        # The compiler still works afterwards.
        assert child.stdout.readline().strip() == "['constraints', 'data', 'declarations', 'objective', 'warnings']"
        assert child.wait(timeout=30) == 0
    assert latency < 0.5, latency
