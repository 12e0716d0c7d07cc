"""Requests per second that `tarvok eval --jobs N` keeps a slow provider busy with.

The command runs in its own process (`python -m tarvok eval`) against a scripted
OpenAI-compatible server on 127.0.0.1 that answers every request after a fixed
latency with a correct model for the problem; the data set is the shipped
sample set repeated under fresh ids, each description made distinct by a short
sentence of its own (so that no cache of identical texts flatters a figure),
with few-shot examples ranked on the shipped library (by meaning when the
packaged embedding model is installed).
Each run prints its requests, its wall time (the process's start-up included),
its start-up (from the process's start to the first request's arrival: imports,
the embedding model's load, the library's vectors) and two rates: over the wall
time, and over the span from the first request's arrival to the last reply (the
steady rate the provider sees). The default of 480 problems makes the run long
enough at --jobs 32 (about a minute) that the whole-run rate describes the steady
pace rather than the start-up.

Targets on a 2-core machine at 1 s latency: at least 15 requests/s with
--jobs 32 and at least 7 with --jobs 8.

    python benchmarks/bench_eval_jobs.py [--latency 1.0] [--problems 480] [--jobs 1 8 32]
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))

from llm_server import LLMServer, openai_response  # noqa: E402

import tarvok.evaluation as ev  # noqa: E402

SAMPLE = Path(ev.__file__).parent / "datasets" / "sample.jsonl"
MODELS = ROOT / "tests" / "sample_models"
# Begins the sentence that makes each description of the set its own; the provider answers for the text before it.
MARK = "\n\n(This is problem "


class Provider:
    """Answers each problem's requests with its stored pair after `latency` seconds; notes arrival times."""

    def __init__(self, latency):
        records = [json.loads(line) for line in SAMPLE.read_text(encoding="utf-8").splitlines()]
        self.records = records
        self.pairs = {
            r["description"]: json.dumps(
                {"model": (MODELS / f"{r['id']}.mod").read_text(), "data": (MODELS / f"{r['id']}.dat").read_text()}
            )
            for r in records
        }
        self.latency = latency
        self.arrivals = []
        self.lock = threading.Lock()

    def __call__(self, request):
        with self.lock:
            self.arrivals.append(time.monotonic())
        prompt = request.json["input"]
        described = prompt.split("<problem_description>\n", 1)[1].split("\n</problem_description>", 1)[0]
        reply = openai_response(self.pairs[described.rsplit(MARK, 1)[0]])
        reply.delay = self.latency
        return reply

    def write_set(self, path, count, tag):
        with path.open("w", encoding="utf-8") as f:
            for i in range(count):
                r = self.records[i % len(self.records)]
                distinct = f"{r['description']}{MARK}{tag}-{i} of this set.)"
                f.write(json.dumps(dict(r, id=f"{r['id']}-{tag}-{i}", description=distinct)) + "\n")


def run(provider, server, folder, jobs, count, turn):
    dataset = folder / f"set-{turn}.jsonl"
    provider.write_set(dataset, count, jobs)
    kept = folder / "kept-vectors"  # the first run embeds the library, later ones read its vectors
    warm = kept.is_dir() and any(kept.iterdir())
    env = dict(os.environ, OPENAI_API_KEY="sk-bench", OPENAI_BASE_URL=server.url + "/v1", HF_HUB_OFFLINE="1")
    env["TARVOK_CACHE_DIR"] = str(kept)
    command = [sys.executable, "-m", "tarvok", "eval", str(dataset), "--out", str(folder / f"out-{turn}")]
    command += ["--provider", "openai", "--model", "gpt-bench", "--no-alignment", "--jobs", str(jobs)]
    with provider.lock:
        provider.arrivals.clear()
    start = time.monotonic()
    done = subprocess.run(command, env=env, capture_output=True, text=True)
    wall = time.monotonic() - start
    if done.returncode != 0:
        sys.exit(f"tarvok eval --jobs {jobs} ended with {done.returncode}:\n{done.stderr[-3000:]}")
    summary = json.loads((folder / f"out-{turn}" / "summary.json").read_text(encoding="utf-8"))
    if summary["correct"] != count:
        sys.exit(f"--jobs {jobs}: {summary['correct']} of {count} correct")
    arrivals = sorted(provider.arrivals)
    span = arrivals[-1] + provider.latency - arrivals[0]
    # The library's vectors: read from disk, embedded by this run, or none (ranked by shared words).
    vectors = "kept" if warm else "embedded" if kept.is_dir() and any(kept.iterdir()) else "none"
    return len(arrivals), wall, span, arrivals[0] - start, vectors


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--latency", type=float, default=1.0, help="seconds the provider takes per reply (default 1)")
    parser.add_argument(
        "--problems",
        type=int,
        default=480,
        help="problems for --jobs 8 and more (default 480: long enough that the whole-run rate is the steady pace)",
    )
    parser.add_argument("--jobs", type=int, nargs="+", default=[1, 8, 32], help="--jobs values (default 1 8 32)")
    args = parser.parse_args()

    print(f"load average at start: {os.getloadavg()[0]:.1f} on {os.cpu_count()} cores; latency {args.latency} s")
    print(
        f"{'':<10}{'problems':>9}{'requests':>9}{'wall s':>8}{'start-up s':>11}{'req/s wall':>12}{'req/s span':>12}  vectors"
    )
    provider = Provider(args.latency)
    with tempfile.TemporaryDirectory() as tmp, LLMServer(handler=provider) as server:
        # Each run has its own set and results folder, so a --jobs value may be given twice
        # (the second run of it reads the library's kept vectors).
        for turn, jobs in enumerate(args.jobs):
            # A serial run needs few problems to show its rate.
            count = min(args.problems, max(8, 2 * jobs)) if jobs < 8 else args.problems
            requests, wall, span, startup, vectors = run(provider, server, Path(tmp), jobs, count, turn)
            print(
                f"{'--jobs ' + str(jobs):<10}{count:>9}{requests:>9}{wall:>8.1f}{startup:>11.1f}"
                f"{requests / wall:>12.2f}{requests / span:>12.2f}  {vectors}"
            )
    print("targets at 1 s latency: --jobs 32 at least 15 req/s, --jobs 8 at least 7")


if __name__ == "__main__":
    main()
