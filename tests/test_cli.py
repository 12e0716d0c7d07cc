"""The tarvok command, with the library's entry points replaced by fakes."""

import json
import os
from pathlib import Path

import pytest

from tarvok import _cli


@pytest.fixture
def solve_calls(tg, monkeypatch):
    calls = []

    def fake_solve(prompt, model_file, data_file, **kwargs):
        calls.append({"prompt": prompt, "model_file": model_file, "data_file": data_file, "cwd": os.getcwd(),
                      "library": os.path.realpath("tvl_models"), **kwargs})
        kwargs["progress"]("Iteration 1/5: prompting model")
        return {"iterations": 2, "assessment": "Looks aligned.", "syntax_errors": []}

    monkeypatch.setattr(tg, "generative_solve", fake_solve)
    return calls


def run(capsys, *argv):
    status = _cli.main(list(argv))
    out, err = capsys.readouterr()
    return status, out, err


class TestSolve:
    def test_arguments_reach_the_library(self, tg, solve_calls, capsys, tmp_path, monkeypatch):
        monkeypatch.chdir(tmp_path)
        (tmp_path / "desc.txt").write_text("Ship goods cheaply.", encoding="utf-8")
        status, out, err = run(capsys, "solve", "@desc.txt", "-m", "out/a.mod", "-d", "out/a.dat", "--model",
                               "llama3", "--iterations", "3", "--no-alignment", "--grammar", "code",
                               "--temperature", "0.5")
        assert (status, out) == (0, "Looks aligned.\n")
        assert "Iteration 1/5: prompting model" in err.splitlines()
        call, = solve_calls
        assert call["prompt"] == "Ship goods cheaply."
        assert call["model_file"] == str(tmp_path / "out" / "a.mod")
        assert call["data_file"] == str(tmp_path / "out" / "a.dat")
        assert (call["model_name"], call["iterations"], call["alignment_check"], call["temperature"]) == (
            "llama3", 3, False, 0.5)
        assert call["mode"] is tg.Grammar.CODE and call["llm_provider"] is None and call["few_shot"] is True
        assert os.getcwd() == str(tmp_path)

    def test_defaults(self, tg, solve_calls, capsys, tmp_path, monkeypatch):
        monkeypatch.chdir(tmp_path)
        run(capsys, "solve", "text", "-m", "a.mod", "-d", "a.dat")
        call, = solve_calls
        assert (call["model_name"], call["iterations"], call["alignment_check"], call["temperature"]) == (
            tg.MODEL_NAME, tg.MAX_ITERATIONS, None, None)
        assert call["mode"] is tg.Grammar.BNF

    def test_json_and_stats(self, solve_calls, capsys, tmp_path, monkeypatch):
        monkeypatch.chdir(tmp_path)
        status, out, _ = run(capsys, "solve", "text", "-m", "a.mod", "-d", "a.dat", "--json")
        assert json.loads(out) == {"model_file": str(tmp_path / "a.mod"), "data_file": str(tmp_path / "a.dat"),
                                   "iterations": 2, "syntax_errors": [], "assessment": "Looks aligned."}
        status, out, _ = run(capsys, "solve", "text", "-m", "a.mod", "-d", "a.dat", "--stats")
        assert out.startswith("iterations: 2\nsyntax errors: 0\n") and out.endswith("Looks aligned.\n")

    def test_local_library_is_preferred_to_the_shipped_one(self, solve_calls, capsys, tmp_path, monkeypatch):
        (tmp_path / "tvl_models").mkdir()
        monkeypatch.chdir(tmp_path)
        _, _, err = run(capsys, "solve", "text", "-m", "a.mod", "-d", "a.dat")
        assert solve_calls[0]["cwd"] == str(tmp_path)
        assert f"Few-shot examples from {tmp_path / 'tvl_models'}" in err

    def test_examples_option(self, solve_calls, capsys, tmp_path, monkeypatch):
        library = tmp_path / "lib"
        library.mkdir()
        monkeypatch.chdir(tmp_path)
        run(capsys, "solve", "text", "-m", "a.mod", "-d", "a.dat", "--examples", "lib")
        assert solve_calls[0]["library"] == str(library)
        assert os.getcwd() == str(tmp_path) and not Path(solve_calls[0]["cwd"]).exists()

    def test_shipped_library_otherwise(self, solve_calls, capsys, tmp_path, monkeypatch):
        import tarvok

        monkeypatch.chdir(tmp_path)
        _, _, err = run(capsys, "solve", "text", "-m", "a.mod", "-d", "a.dat")
        assert solve_calls[0]["cwd"] == os.path.dirname(tarvok.__file__)
        assert "shipped library" in err

    def test_missing_examples_folder(self, solve_calls, capsys, tmp_path, monkeypatch):
        monkeypatch.chdir(tmp_path)
        status, _, err = run(capsys, "solve", "text", "-m", "a.mod", "-d", "a.dat", "--examples", "nowhere")
        assert status == 1 and err.startswith("tarvok: error: Examples directory not found") and not solve_calls


class TestFailures:
    def test_error_is_one_line_with_status_1(self, tg, capsys, monkeypatch, tmp_path):
        def broken(*a, **k):
            raise RuntimeError("Failed to parse model response as JSON: x\nResponse: long reply")

        monkeypatch.setattr(tg, "generative_solve", broken)
        monkeypatch.chdir(tmp_path)
        status, out, err = run(capsys, "solve", "t", "-m", "a.mod", "-d", "a.dat", "--no-few-shot")
        assert (status, out) == (1, "")
        assert err == "tarvok: error: Failed to parse model response as JSON: x ...\n"

    def test_interrupt_exits_130(self, tg, capsys, monkeypatch):
        def interrupted(*a, **k):
            raise KeyboardInterrupt

        monkeypatch.setattr(tg, "list_models", interrupted)
        assert run(capsys, "models")[0] == 130

    def test_usage_errors_are_argparse_exits(self, capsys):
        with pytest.raises(SystemExit) as exit_:
            _cli.main(["solve", "text"])
        assert exit_.value.code == 2


class TestFeedback:
    @pytest.fixture
    def pair(self, tmp_path):
        m, d = tmp_path / "a.mod", tmp_path / "a.dat"
        m.write_text("old model")
        d.write_text("old data")
        return m, d

    def patch(self, tg, monkeypatch, reply, compiles=True):
        monkeypatch.setattr(tg, "generative_feedback", lambda *a, **k: reply)

        class Compiler:
            def compile_model(self, model, data):
                if not compiles:
                    raise tg.SemanticError("model:1:1: nope")

        monkeypatch.setattr(tg, "TVLCompiler", Compiler)

    def test_prints_feedback_and_leaves_files(self, tg, monkeypatch, capsys, pair):
        self.patch(tg, monkeypatch, {"feedback": "Fine.", "revised_model": "new", "revised_data": "new d"})
        status, out, err = run(capsys, "feedback", "ok?", "-m", str(pair[0]), "-d", str(pair[1]))
        assert (status, out) == (0, "Fine.\n") and "--apply" in err
        assert pair[0].read_text() == "old model"

    def test_apply_writes_a_compiling_revision(self, tg, monkeypatch, capsys, pair):
        self.patch(tg, monkeypatch, {"feedback": "Fixed.", "revised_model": "new model"})
        status, _, _ = run(capsys, "feedback", "fix it", "-m", str(pair[0]), "-d", str(pair[1]), "--apply")
        assert status == 0
        assert (pair[0].read_text(), pair[1].read_text()) == ("new model", "old data")

    def test_apply_refuses_a_revision_that_does_not_compile(self, tg, monkeypatch, capsys, pair):
        self.patch(tg, monkeypatch, {"feedback": "x", "revised_model": "bad", "revised_data": "bad"}, False)
        status, _, err = run(capsys, "feedback", "q", "-m", str(pair[0]), "-d", str(pair[1]), "--apply")
        assert status == 1 and "model:1:1: nope" in err
        assert pair[0].read_text() == "old model"


def test_models(tg, monkeypatch, capsys):
    seen = []
    monkeypatch.setattr(tg, "list_models", lambda p, m: seen.append((p, m)) or ["b", "a"])
    assert run(capsys, "models", "--provider", "ollama") == (0, "b\na\n", "")
    assert run(capsys, "models", "--json")[1] == '[\n  "b",\n  "a"\n]\n'
    assert seen == [("ollama", tg.MODEL_NAME), (None, tg.MODEL_NAME)]
