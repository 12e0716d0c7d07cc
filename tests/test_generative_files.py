"""The caller's files: replaced whole or not at all, UTF-8 whatever the locale,
never one file as both model and data; and where the few-shot library is."""

import os
import random
import signal
import subprocess
import sys
import textwrap
import time
from pathlib import Path

import pytest
from workflow_fakes import install, pair

TESTS = Path(__file__).resolve().parent


@pytest.fixture
def files(tmp_path):
    return str(tmp_path / "out" / "m.mod"), str(tmp_path / "out" / "d.dat")


class TestNothingLost:
    @pytest.mark.parametrize(
        "second",
        [
            '{"model": "model v2", "data": null}',
            '{"model": "model v2", "data": 5}',
            '{"model": ["model v2"], "data": "data v2"}',
            '{"model": "model v2", "data": "lone \\ud800 surrogate"}',
        ],
    )
    def test_a_reply_that_cannot_be_written_keeps_the_previous_pair(self, tg, monkeypatch, files, second):
        install(tg, monkeypatch, [pair("model v1", "data v1"), second], [tg.SemanticError("e")])
        with pytest.raises((TypeError, UnicodeEncodeError)):
            tg.generative_solve("p", *files, iterations=2)
        assert [Path(f).read_text(encoding="utf-8") for f in files] == ["model v1", "data v1"]
        assert sorted(os.listdir(Path(files[0]).parent)) == ["d.dat", "m.mod"]  # no temporaries left

    def test_links_permissions_and_devices(self, tg, monkeypatch, tmp_path):
        store = tmp_path / "store"
        store.mkdir()
        (store / "real.mod").write_text("old")
        (store / "real.mod").chmod(0o640)
        os.symlink(store / "real.mod", tmp_path / "link.mod")
        install(tg, monkeypatch, [pair("new model", "ignored"), "final"])
        tg.generative_solve("p", str(tmp_path / "link.mod"), os.devnull, alignment_check=False)
        assert (tmp_path / "link.mod").is_symlink() and (store / "real.mod").read_text() == "new model"
        assert (store / "real.mod").stat().st_mode & 0o777 == 0o640
        assert Path(os.devnull).is_char_device()

    def test_a_kill_never_leaves_a_truncated_or_empty_file(self, tmp_path):
        """A writer killed at random moments of a loop of large writes: each file is absent (killed before the
        first write) or holds one complete version."""
        size = 2 << 20
        child = textwrap.dedent(f"""
            import sys
            sys.path.insert(0, {str(TESTS)!r})
            import tarvok.tarvok_generative as tg
            from workflow_fakes import install, pair

            class Patch:
                def setattr(self, obj, name, value):
                    setattr(obj, name, value)

            def version(i, kind):
                return f"// {{kind}} v{{i}}\\n" + "x" * {size} + f"\\n// end {{kind}} v{{i}}\\n"

            install(tg, Patch(), [], [tg.SemanticError("e")] * 100000)
            count = iter(range(100000))
            tg._llm_generate_text = lambda **kw: pair(version(i := next(count), "model"), version(i, "data"))
            tg._build_revision_prompt_syntax = lambda *a, **k: "FIX"
            print("writing", flush=True)
            tg.generative_solve("p", "m.mod", "d.dat", iterations=100000, few_shot=False)
        """)
        for attempt in range(4):
            folder = tmp_path / f"try{attempt}"
            folder.mkdir()
            proc = subprocess.Popen([sys.executable, "-c", child], cwd=folder, stdout=subprocess.PIPE)
            try:
                assert proc.stdout.readline() == b"writing\n"
                time.sleep(random.uniform(0.3, 1.5))
            finally:
                proc.send_signal(signal.SIGKILL)
                proc.wait(timeout=30)
                proc.stdout.close()
            for kind in ("model", "data"):
                path = folder / ("m.mod" if kind == "model" else "d.dat")
                if not path.exists():
                    continue
                text = path.read_text(encoding="utf-8")
                head = text.split("\n", 1)[0]
                assert head.startswith(f"// {kind} v"), head[:40]
                n = head.rsplit("v", 1)[1]
                assert text == f"// {kind} v{n}\n" + "x" * size + f"\n// end {kind} v{n}\n"


class TestSameFile:
    def test_one_file_under_two_names_is_refused_before_any_request(self, tg, monkeypatch, tmp_path):
        monkeypatch.chdir(tmp_path)
        Path("shared.txt").write_text("keep me")
        os.symlink("shared.txt", "soft.txt")
        os.link("shared.txt", "hard.txt")
        rec = install(tg, monkeypatch, [])
        for model_file, data_file in [
            ("x.txt", "x.txt"),
            ("new/x.txt", str(tmp_path / "new" / ".." / "new" / "x.txt")),
            ("shared.txt", "soft.txt"),
            ("hard.txt", Path("shared.txt")),
        ]:
            with pytest.raises(ValueError, match="^generative_solve\\(\\): model_file and data_file name the same"):
                tg.generative_solve("p", model_file, data_file)
        assert "_llm_generate_text" not in rec.names()
        assert sorted(os.listdir()) == ["hard.txt", "shared.txt", "soft.txt"]
        assert Path("shared.txt").read_text() == "keep me"


def test_the_final_assessment_judges_the_files_as_read_back(tg, monkeypatch, files):
    """What the closing assessment reads is the written files' content, not the reply's pair."""
    import builtins
    import io

    real_open = builtins.open

    def reading(path, mode="r", *args, **kwargs):
        if os.fspath(path) == files[0] and "r" in mode and "b" not in mode:
            return io.StringIO("model as the file holds it\n")
        return real_open(path, mode, *args, **kwargs)

    rec = install(tg, monkeypatch, [pair("model\r\nfrom the reply", "d = 1;\r"), "final"])
    monkeypatch.setattr(builtins, "open", reading)
    tg.generative_solve("p", *files, alignment_check=False)
    args, _ = rec.of("_build_final_assessment_prompt")[0]
    assert args[2:4] == ("model as the file holds it\n", "d = 1;\n")


def test_utf8_whatever_the_locale(tmp_path):
    """Under the C locale, without the interpreter's UTF-8 mode, the grammar documents are read and the model
    and data files written and read back as UTF-8."""
    child = textwrap.dedent(f"""
        import locale, sys
        sys.path.insert(0, {str(TESTS)!r})
        import tarvok.tarvok_generative as tg
        from workflow_fakes import install, pair

        class Patch:
            def setattr(self, obj, name, value):
                setattr(obj, name, value)

        print(locale.getpreferredencoding(False))
        grammar = tg._get_grammar_implementation(tg.Grammar.BNF)
        assert any(ord(c) > 127 for c in grammar)  # the document the default mode reads is not ASCII
        tg._get_grammar_implementation(tg.Grammar.CODE)
        rec = install(tg, Patch(), [pair("// d\\u00e9j\\u00e0 vu \\u2713\\nx", "d = 1; // \\u00e9"), "final"])
        tg.generative_solve("p", "m.mod", "d.dat", alignment_check=False)
        args, _ = rec.of("_build_final_assessment_prompt")[0]
        assert args[2:4] == ("// d\\u00e9j\\u00e0 vu \\u2713\\nx", "d = 1; // \\u00e9"), args[2:4]
        install(tg, Patch(), ['{{"feedback": "ok"}}'])
        assert tg.generative_feedback("q", "m.mod", "d.dat") == {{"feedback": "ok"}}
    """)
    env = dict(os.environ, LC_ALL="C", LANG="C", PYTHONUTF8="0", PYTHONCOERCECLOCALE="0", PYTHONIOENCODING="utf-8")
    done = subprocess.run(
        [sys.executable, "-c", child], cwd=tmp_path, env=env, capture_output=True, text=True, timeout=120
    )
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip().lower() not in ("utf-8", "utf8")  # the test means something only then
    assert (tmp_path / "m.mod").read_bytes() == "// d\u00e9j\u00e0 vu \u2713\nx".encode()
    assert (tmp_path / "d.dat").read_bytes() == "d = 1; // \u00e9".encode()


class TestFewShotLibrary:
    def test_the_setting_is_read_at_call_time(self, tg, monkeypatch, files, tmp_path):
        (tmp_path / "tvl_models").mkdir()
        (tmp_path / "examples").mkdir()
        monkeypatch.chdir(tmp_path)
        rec = install(tg, monkeypatch, [pair("m"), "x"] * 4)
        tg.generative_solve("p", *files, alignment_check=False)
        tg.FEW_SHOT_LIBRARY = tmp_path / "examples"
        tg.generative_solve("p", *files, alignment_check=False)
        tg.FEW_SHOT_LIBRARY = None  # the library shipped with the package
        tg.generative_solve("p", *files, alignment_check=False)
        tg.FEW_SHOT_LIBRARY = tmp_path / "missing"  # a folder that is not there: the shipped library too
        tg.generative_solve("p", *files, alignment_check=False)
        assert [k["models_dir"] for _, k in rec.of("_gather_few_shots")] == [
            "tvl_models",
            tmp_path / "examples",
            None,
            None,
        ]
