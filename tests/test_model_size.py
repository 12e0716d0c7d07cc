"""A model too large to build is refused before anything is allocated (T0707, located, with its count),
in `check`, `run` and `emit`, with the limit set by `--max-size` or tarvok_core.MAX_SIZE; memory that runs out
anyway is a MemoryError in Python and its own line with status 2 from the command, never "does not compile"."""

import json
import subprocess
import sys
import textwrap

import pytest
from workflow_fakes import stand_in_llm

import tarvok.tarvok_core as tc
from tarvok import _cli
from tarvok.tarvok_core import SemanticError, TVLCompiler

HUGE = "dvar float+ x[1..40000][1..40000];\nminimize sum(i in 1..40000) x[i][i];\n"
REFUSED = (
    "1:13: error: decision variable 'x' would have 1600000000 (1.6e9) elements, more than the size limit of "
    "50000000 (5e7) columns; use smaller sets, or raise the size limit"
)
SMALL = (
    "range I = 1..30;\ndvar float+ x[I];\nminimize sum(i in I) x[i];\nsubject to {\n  forall(i in I) c: x[i] >= 1;\n}\n"
)


def tarvok(*argv, cwd):
    return subprocess.run([sys.executable, "-m", "tarvok", *argv], cwd=cwd, capture_output=True, text=True, timeout=120)


@pytest.fixture
def files(tmp_path):
    (tmp_path / "huge.mod").write_text(HUGE)
    (tmp_path / "small.mod").write_text(SMALL)
    (tmp_path / "empty.dat").write_text("")
    return tmp_path


def test_check_run_and_emit_refuse_a_model_past_the_limit(files):
    check = tarvok("check", "huge.mod", cwd=files)
    assert (check.returncode, check.stdout.splitlines()[0]) == (1, "huge.mod:" + REFUSED)
    record = json.loads(tarvok("check", "huge.mod", "--json", cwd=files).stdout)[0]
    assert (record["code"], record["line"], record["column"]) == ("T0707", 1, 13)

    for command, where in (
        (["run", "small.mod", "empty.dat"], "small.mod:2:13: error:"),
        (["emit", "small.mod", "empty.dat", "-o", "s.py"], "small.mod:2:13: error:"),
    ):
        done = tarvok(*command, "--max-size", "20", cwd=files)
        assert done.returncode == 1, done.stderr
        assert f"{where} decision variable 'x' would have 30 elements, more than the size limit of 20 columns" in (
            done.stdout
        )
    assert not (files / "s.py").exists()
    # A larger limit lets the huge model through the compiler.
    assert tarvok("check", "huge.mod", "--max-size", "2000000000", cwd=files).stdout == "OK\n"


def test_the_limit_given_to_the_command(files, monkeypatch, capsys):
    monkeypatch.chdir(files)
    assert _cli.main(["check", "small.mod", "--max-size", "29"]) == 1
    assert "would have 30 elements, more than the size limit of 29 columns" in capsys.readouterr().out
    assert _cli.main(["check", "small.mod", "--max-size", "30"]) == 0 and capsys.readouterr().out == "OK\n"
    assert tc.MAX_SIZE == 50_000_000  # the command's limit held for the command only
    for command in (["check", "small.mod"], ["run", "small.mod", "empty.dat"], ["emit", "small.mod", "empty.dat",
                    "-o", "s.py"], ["eval", "--out", "o"], ["solve", "x", "-m", "a.mod", "-d", "a.dat"]):  # fmt: skip
        assert _cli.main([*command, "--max-size", "0"]) == 2, command
        assert "--max-size must be at least 1" in capsys.readouterr().err
    assert not (files / "o").exists() and not (files / "a.mod").exists()


def test_a_commands_limit_reaches_the_loop_as_a_value(tg, files, monkeypatch):
    """`solve --max-size` limits the loop's compiles; code running meanwhile (the LLM request) sees MAX_SIZE as
    it was."""
    monkeypatch.chdir(files)
    llm, seen = stand_in_llm(tg, monkeypatch, SMALL, "", aligned=True), []
    monkeypatch.setattr(tg, "_llm_generate_text", lambda **kwargs: seen.append(tc.MAX_SIZE) or llm(**kwargs))
    argv = ["solve", "x", "-m", "a.mod", "-d", "a.dat", "--iterations", "1", "--no-alignment", "--no-few-shot"]
    assert _cli.main([*argv, "--max-size", "29"]) == 1  # the pair has 30 columns
    assert _cli.main(argv) == 0
    assert seen and set(seen) == {50_000_000}


def test_run_writes_the_program_it_expanded_within_its_limit(files, monkeypatch):
    pytest.importorskip("highspy")
    monkeypatch.chdir(files)
    monkeypatch.setattr(tc, "MAX_SIZE", 20)
    assert _cli.main(["run", "small.mod", "empty.dat", "--max-size", "30", "--write", "s.mps"]) == 0
    assert " x[30] OBJ 1" in (files / "s.mps").read_text() and tc.MAX_SIZE == 20


def test_the_module_setting_holds_for_every_expansion(monkeypatch):
    solver = pytest.importorskip("tarvok.solver")
    with pytest.raises(SemanticError) as refused:
        TVLCompiler().compile_model(HUGE, "")
    assert str(refused.value).startswith("model:" + REFUSED.replace(" error:", ""))
    assert refused.value.diagnostics[0]["code"] == "T0707"
    monkeypatch.setattr(tc, "MAX_SIZE", 29)
    for expand in (lambda: TVLCompiler().compile_model(SMALL, ""), lambda: solver.instantiate(SMALL, "")):
        with pytest.raises(SemanticError, match="would have 30 elements, more than the size limit of 29 columns"):
            expand()
    monkeypatch.setattr(tc, "MAX_SIZE", 30)
    assert solver.instantiate(SMALL, "").num_columns == 30
    for value, error in [(0, ValueError), (2.5, TypeError), (True, TypeError), ("30", TypeError)]:
        monkeypatch.setattr(tc, "MAX_SIZE", value)
        with pytest.raises(error, match="MAX_SIZE"):
            TVLCompiler().compile_model(SMALL, "")
    monkeypatch.setattr(tc, "MAX_SIZE", None)  # only the expansion's own hard limits
    assert TVLCompiler().compile_model(HUGE, "")["declarations"][0]["name"] == "x"


def test_memory_that_runs_out_is_its_own_line_and_status_2(files):
    """The real command under an address-space limit set after the imports: the compiler passes the huge model
    (its limit raised), its expansion cannot get the memory. Also a compile that runs out, and Python's view."""
    pytest.importorskip("highspy")
    pytest.importorskip("scipy")
    big_data = "float a[1..3000000] = ...;\ndvar float x;\nminimize x;\n"
    (files / "big_data.mod").write_text(big_data)
    (files / "big_data.dat").write_text("a = [" + ", ".join(["1.5"] * 3_000_000) + "];\n")
    driver = textwrap.dedent(
        """
        import resource, sys
        import highspy, numpy, scipy.optimize
        import tarvok.solver, tarvok.scipy_emitter, tarvok.tarvok_core
        from tarvok import _cli
        soft, hard = resource.getrlimit(resource.RLIMIT_AS)
        def limited(call):
            size = int(open("/proc/self/status").read().split("VmSize:")[1].split()[0]) * 1024
            resource.setrlimit(resource.RLIMIT_AS, (size + 150 * 2**20, hard))
            try:
                return call()
            except MemoryError as e:
                return "MemoryError: " + str(e)
            finally:
                resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
        for argv in (["run", "huge.mod", "empty.dat", "--max-size", "2000000000"],
                     ["emit", "huge.mod", "empty.dat", "-o", "huge.py", "--max-size", "2000000000"],
                     ["check", "big_data.mod", "big_data.dat"]):
            print(limited(lambda: _cli.main(argv)), flush=True)
        tarvok.tarvok_core.MAX_SIZE = None
        print(limited(lambda: tarvok.solver.instantiate(open("huge.mod").read(), "")), flush=True)
        """
    )
    done = subprocess.run([sys.executable, "-c", driver], cwd=files, capture_output=True, text=True, timeout=300)
    assert done.stdout.splitlines() == [
        "2",
        "2",
        "2",
        "MemoryError: not enough memory to expand the model into a program",
    ]
    assert done.stderr.splitlines() == [
        "tarvok: error: not enough memory to expand the model into a program",
        "tarvok: error: not enough memory to expand the model into a program",
        "tarvok: error: not enough memory to compile the model and data (" + done.stderr.split("(")[-1].strip(),
    ], done.stderr
    assert not (files / "huge.py").exists()


def test_the_loop_lets_memory_errors_through(tg, monkeypatch, tmp_path, capsys):
    """An allocation failure while compiling a reply is no compile error to send back to the LLM."""
    replies = iter([json.dumps({"model": SMALL, "data": ""})])
    monkeypatch.setattr(tg, "_llm_generate_text", lambda *a, **k: next(replies))

    class OutOfMemory:
        def compile_model(self, model, data):
            raise MemoryError("not enough memory to compile the model and data (1 KB of text)")

    monkeypatch.setattr(tg, "TVLCompiler", OutOfMemory)
    with pytest.raises(MemoryError):
        tg.generative_solve("p", str(tmp_path / "a.mod"), str(tmp_path / "a.dat"), few_shot=False)
    monkeypatch.setattr(tg, "_llm_generate_text", lambda *a, **k: json.dumps({"model": SMALL, "data": ""}))
    monkeypatch.setenv("OPENAI_API_KEY", "sk-test")
    status = _cli.main(["solve", "p", "-m", str(tmp_path / "b.mod"), "-d", str(tmp_path / "b.dat"), "--no-few-shot"])
    err = capsys.readouterr().err
    assert status == 2
    assert err.splitlines()[-1] == "tarvok: error: not enough memory to compile the model and data (1 KB of text)"
