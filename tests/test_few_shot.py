"""Few-shot gathering in tarvok_generative: pairing descriptions with their
model and data files, and turning ranking hits into complete examples."""

import logging
import os
import pathlib

import pytest


def stand_in_safe_read_text(p, max_chars=2147483647):
    """Faithful stand-in for the tolerant reader."""
    try:
        with open(p, encoding="utf-8", errors="ignore") as f:
            return f.read()[:max_chars].strip()
    except Exception:
        return ""


@pytest.fixture
def fs(tg, monkeypatch):
    monkeypatch.setattr(tg, "_safe_read_text", stand_in_safe_read_text)
    return tg


def example(root, name, description="A problem.", model="dvar float x;", data="a = 1;"):
    folder = pathlib.Path(root, name)
    folder.mkdir(parents=True, exist_ok=True)
    for ext, text in (("txt", description), ("mod", model), ("dat", data)):
        if text is not None:
            (folder / f"{name}.{ext}").write_text(text, encoding="utf-8")
    return folder / f"{name}.txt"


def fake_rank(hits, calls=None):
    def rank(*args, **kwargs):
        if calls is not None:
            calls.append((args, kwargs))
        return [{"path": str(h), "score": 0.5, "preview": ""} for h in hits]

    return rank


class TestPairing:
    def test_same_stem_first_then_first_by_name(self, tg, tmp_path):
        for name in ("b.txt", "a.mod", "b.mod", "a.dat", "B.dat"):
            (tmp_path / name).write_text("x")
        model, data = tg._find_pair_in_folder(tmp_path / "b.txt")
        assert (model, data) == (tmp_path / "b.mod", tmp_path / "B.dat")  # upper case sorts first
        assert isinstance(model, pathlib.Path)

    def test_fallbacks_are_independent_and_missing_gives_none(self, tg, tmp_path):
        (tmp_path / "d.txt").write_text("x")
        (tmp_path / "z.mod").write_text("x")
        (tmp_path / "d.mod").mkdir()  # not a regular file: the fallback is used
        assert tg._find_pair_in_folder(tmp_path / "d.txt") == (tmp_path / "d.mod", None)
        (tmp_path / "d.mod").rmdir()
        assert tg._find_pair_in_folder(tmp_path / "d.txt") == (tmp_path / "z.mod", None)
        assert tg._find_pair_in_folder(tmp_path / "none" / "q.txt") == (None, None)

    @pytest.mark.skipif(os.geteuid() == 0, reason="permissions do not bind the superuser")
    def test_unlistable_folder_raises(self, tg, tmp_path):
        (tmp_path / "q.txt").write_text("x")
        tmp_path.chmod(0o300)
        try:
            with pytest.raises(PermissionError):
                tg._find_pair_in_folder(tmp_path / "q.txt")
        finally:
            tmp_path.chmod(0o700)


class TestGathering:
    def test_no_library_under_the_working_directory(self, fs, tmp_path, monkeypatch, caplog):
        monkeypatch.chdir(tmp_path)
        messages = []
        caplog.set_level(logging.DEBUG, logger="tarvok.tarvok_generative")
        assert fs._gather_few_shots("p", k=3, models_dir="tvl_models", progress=messages.append) == []
        assert messages == [
            "Retrieving few-shot examples (k=3)",
            "Few-shot retrieval failed; continuing without examples",
        ]
        assert "Few-shot retrieval skipped: Models directory not found: tvl_models" in caplog.messages

    def test_hits_become_entries_in_rank_order(self, fs, tmp_path, monkeypatch):
        a = example(tmp_path, "a", description="  First problem.\n", model="model A", data="data A")
        b = example(tmp_path, "b", model=None)  # no .mod anywhere in its folder
        c = example(tmp_path, "c", description="Third", model="model C", data="data C")
        calls, messages = [], []
        monkeypatch.setattr(fs, "rag_rank", fake_rank([c, b, a], calls))
        shots = fs._gather_few_shots("new problem", k=3, models_dir=None, progress=messages.append)
        assert calls == [((), {"query": "new problem", "models_dir": None, "top_k": 3})]
        assert messages == [
            "Retrieving few-shot examples (k=3)",
            "Found 3 few-shot candidates: ['c.txt', 'b.txt', 'a.txt']",
        ]
        assert [s["description"] for s in shots] == ["Third", "First problem."]
        assert list(shots[1]) == ["description", "model", "data", "desc_path", "model_path", "data_path"]
        assert shots[1] == {
            "description": "First problem.",
            "model": "model A",
            "data": "data A",
            "desc_path": str(a),
            "model_path": str(a.with_suffix(".mod")),
            "data_path": str(a.with_suffix(".dat")),
        }

    def test_unusable_files_are_skipped_silently(self, fs, tmp_path, monkeypatch, caplog):
        hits = [
            example(tmp_path, "blank", description="   \n"),
            example(tmp_path, "nomodel", model=""),
            example(tmp_path, "nodata", data=" "),
            example(tmp_path, "good"),
        ]
        monkeypatch.setattr(fs, "rag_rank", fake_rank(hits))
        caplog.set_level(logging.DEBUG, logger="tarvok.tarvok_generative")
        shots = fs._gather_few_shots("p", k=3)
        assert [pathlib.Path(s["desc_path"]).name for s in shots] == ["good.txt"]
        assert not [m for m in caplog.messages if m.startswith("Skipping")]

    @pytest.mark.parametrize("k, kept", [(1, 1), (2, 2), (0, 1), (-2, 1)])
    def test_k_bounds_the_result(self, fs, tmp_path, monkeypatch, k, kept):
        calls = []
        hits = [example(tmp_path, n) for n in ("a", "b", "c")]
        monkeypatch.setattr(fs, "rag_rank", fake_rank(hits, calls))
        assert len(fs._gather_few_shots("p", k=k)) == kept
        assert calls[0][1]["top_k"] == k

    def test_one_failing_hit_is_logged_and_skipped(self, fs, tmp_path, monkeypatch, caplog):
        bad, good = example(tmp_path, "bad"), example(tmp_path, "good")
        real_pair = fs._find_pair_in_folder

        def pair(desc_path):
            if desc_path.name == "bad.txt":
                raise OSError("cannot list folder")
            return real_pair(desc_path)

        monkeypatch.setattr(fs, "_find_pair_in_folder", pair)
        monkeypatch.setattr(fs, "rag_rank", fake_rank([bad, good]))
        caplog.set_level(logging.DEBUG, logger="tarvok.tarvok_generative")
        shots = fs._gather_few_shots("p")
        assert [pathlib.Path(s["desc_path"]).name for s in shots] == ["good.txt"]
        assert "Skipping example due to error: cannot list folder" in caplog.messages

    def test_a_ranking_whose_len_overstates_its_hits(self, fs, tmp_path, monkeypatch, caplog):
        class Overstated(list):
            def __len__(self):
                return 1000  # taken at its word, 10**15 would loop for ever

        monkeypatch.setattr(fs, "rag_rank", lambda **kw: Overstated(fake_rank([example(tmp_path, "a")])()))
        caplog.set_level(logging.DEBUG, logger="tarvok.tarvok_generative")
        assert len(fs._gather_few_shots("p", k=3)) == 1
        assert not [m for m in caplog.messages if m.startswith("Skipping example")]

    @pytest.mark.parametrize("hits", [[{"score": 1.0}], None, [{"path": 3}]])
    def test_malformed_hits_fail_the_retrieval(self, fs, monkeypatch, hits):
        monkeypatch.setattr(fs, "rag_rank", lambda **kw: hits)
        messages = []
        assert fs._gather_few_shots("p", progress=messages.append) == []
        assert messages[-1] == "Few-shot retrieval failed; continuing without examples"

    def test_interrupts_pass_through(self, fs, tmp_path, monkeypatch):
        def interrupted(**kwargs):
            raise KeyboardInterrupt

        monkeypatch.setattr(fs, "rag_rank", interrupted)
        with pytest.raises(KeyboardInterrupt):
            fs._gather_few_shots("p")

        monkeypatch.setattr(fs, "rag_rank", fake_rank([example(tmp_path, "a")]))
        monkeypatch.setattr(fs, "_find_pair_in_folder", lambda p: (_ for _ in ()).throw(SystemExit(3)))
        with pytest.raises(SystemExit):
            fs._gather_few_shots("p")

    def test_default_k_is_the_setting_at_load(self, fs, tmp_path, monkeypatch):
        calls = []
        monkeypatch.setattr(fs, "rag_rank", fake_rank([], calls))
        fs.FEW_SHOT_TOP_K = 7
        fs._gather_few_shots("p")
        assert calls[0][1]["top_k"] == 3
