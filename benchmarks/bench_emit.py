"""Emitting SciPy scripts: emit time, peak memory and script size (with its
.npz) for every shipped example and for the "basic model" of the
instantiation benchmark at n = 100, 300 and 1000, then the script's own run
time against `tarvok run --json` on the same model (both as fresh processes,
interpreter start and imports included, best of --repeat).

    python benchmarks/bench_emit.py                # everything
    python benchmarks/bench_emit.py --quick        # n = 100 and 300 only
    python benchmarks/bench_emit.py --no-examples  # the basic model only
"""

import argparse
import json
import pathlib
import resource
import subprocess
import sys
import tempfile
import time

# The "basic model" (2n^2 columns, 2n^2 rows, 4n^2 nonzeros) and its sizes, as the instantiation benchmark has them.
from bench_instantiate import BASIC_MODEL, BASIC_SIZES

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "src" / "tarvok" / "tvl_models"


def child(model_path, data_path, script):
    """Emits one script in this process and prints seconds and peak MiB."""
    import numpy  # noqa: F401
    import scipy.sparse  # noqa: F401

    from tarvok import scipy_emitter, tarvok_core  # noqa: F401  (imports are not part of the emit)

    model, data = pathlib.Path(model_path).read_text(), pathlib.Path(data_path).read_text()
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    start = time.perf_counter()
    written = scipy_emitter.write_script(model, data, script)
    seconds = time.perf_counter() - start
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(json.dumps({"seconds": seconds, "peak_mib": max(peak - before, 0) / 1024, "written": written}))


def emit(model_path, data_path, script):
    done = subprocess.run(
        [sys.executable, __file__, "--child", str(model_path), str(data_path), str(script)],
        capture_output=True,
        text=True,
        check=True,
    )
    return json.loads(done.stdout.splitlines()[-1])


def timed(command, repeat):
    """Best wall time of `command` and its JSON output."""
    best, output = float("inf"), None
    for _ in range(repeat):
        start = time.perf_counter()
        done = subprocess.run(command, capture_output=True, text=True)
        best = min(best, time.perf_counter() - start)
        output = json.loads(done.stdout)
    return best, output


def measure(label, model_path, data_path, folder, repeat):
    script = folder / f"{label.replace(' ', '_').replace('=', '')}.py"
    emitted = emit(model_path, data_path, script)
    size = sum(pathlib.Path(p).stat().st_size for p in emitted["written"])
    script_seconds, script_result = timed([sys.executable, str(script)], repeat)
    run_seconds, run_result = timed(
        [sys.executable, "-m", "tarvok", "run", str(model_path), str(data_path), "--json"], repeat
    )
    same = script_result["status"] == run_result["status"] and (
        script_result["objective"] == run_result["objective"]
        or abs(script_result["objective"] - run_result["objective"]) <= 1e-6 * max(1, abs(run_result["objective"]))
    )
    files = "script + npz" if len(emitted["written"]) > 1 else "script"
    print(
        f"{label:24s} {emitted['seconds'] * 1000:10.1f} {emitted['peak_mib']:9.1f} {size / 1024:11.1f} {files:13s}"
        f"{script_seconds:9.2f} {run_seconds:9.2f}  {'same' if same else 'DIFFERENT'}",
        flush=True,
    )


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="the basic model at n = 100 and 300 only")
    parser.add_argument("--no-examples", action="store_true", help="skip the shipped examples")
    parser.add_argument("--repeat", type=int, default=3, help="runs of each script and of tarvok run (best counts)")
    parser.add_argument("--child", nargs=3, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child(*args.child)
        return

    # What both kinds of process spend before any work: their imports.
    scipy_imports = timed(
        [sys.executable, "-c", "import numpy, scipy.sparse; from scipy.optimize import milp; print(0)"], args.repeat
    )[0]
    tarvok_imports = timed([sys.executable, "-c", "import numpy, highspy, tarvok.solver; print(0)"], args.repeat)[0]
    print(
        f"imports alone: a script {scipy_imports:.2f} s (numpy, scipy.sparse, scipy.optimize), "
        f"tarvok run {tarvok_imports:.2f} s (numpy, highspy, tarvok.solver)\n"
    )
    print(
        f"{'model':24s} {'emit ms':>10s} {'peak MiB':>9s} {'size KiB':>11s} {'files':13s}"
        f"{'script s':>9s} {'run s':>9s}  optimum"
    )
    with tempfile.TemporaryDirectory(prefix="tarvok-bench-emit-") as temporary:
        folder = pathlib.Path(temporary)
        if not args.no_examples:
            for example in sorted(p for p in EXAMPLES.iterdir() if p.is_dir()):
                measure(
                    example.name, example / f"{example.name}.mod", example / f"{example.name}.dat", folder, args.repeat
                )
        (folder / "basic.mod").write_text(BASIC_MODEL)
        for n in BASIC_SIZES[:2] if args.quick else BASIC_SIZES:
            (folder / f"basic_{n}.dat").write_text(f"n = {n};\n")
            measure(
                f"basic n={n}", folder / "basic.mod", folder / f"basic_{n}.dat", folder, 1 if n >= 1000 else args.repeat
            )


if __name__ == "__main__":
    main()
