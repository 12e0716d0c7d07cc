"""The tarvok command in this process, with the library's LLM entry points replaced by fakes."""

import json
import os
import re
from pathlib import Path

import pytest
from workflow_fakes import VERDICT_REQUEST, StandInLlm, stand_in_llm

from tarvok import _cli

GOOD_MODEL = "float x = ...;\ndvar float+ y;\nminimize cost: y;\nsubject to {\n  atLeast: y >= x;\n}\n"
GOOD_DATA = "x = 1;\n"
BROKEN_MODEL = "float x = ...;\ndvar float+ y;\nminimize cost: z;\n"


def run(capsys, *argv):
    status = _cli.main(list(argv))
    out, err = capsys.readouterr()
    return status, out, err


@pytest.fixture
def solve_calls(tg, monkeypatch):
    """The loop runs for real with a stand-in LLM that answers `script`: the pair (model, data), judged aligned
    or not, or an LLM failure once the pair is written. Records each request (its keyword arguments, the
    settings, folder and staged model files as they stood while it was made), and what each example gathering
    and grammar reading of the loop was given."""
    requests, gathered, modes = [], [], []
    script = {"model": GOOD_MODEL, "data": GOOD_DATA, "aligned": True, "error": None}
    stand_in = {}

    def request(**kwargs):
        llm = stand_in.setdefault("llm", StandInLlm(assessment="Looks aligned.", **script))
        settings = {"request_timeout": tg.REQUEST_TIMEOUT, "library_setting": getattr(tg, "FEW_SHOT_LIBRARY", None)}
        staged = sorted(Path(p) for p in Path.cwd().rglob("*.mod") if ".tarvok-" in str(p))
        requests.append({"cwd": os.getcwd(), "staged": staged, **settings, **kwargs})
        return llm(**kwargs)

    def gather(prompt, k=None, models_dir=None, progress=None):
        gathered.append({"few_shot_library": models_dir, "cwd": os.getcwd(), "library_setting": tg.FEW_SHOT_LIBRARY})
        return []

    grammar = tg._get_grammar_implementation
    monkeypatch.setattr(tg, "_get_grammar_implementation", lambda mode: modes.append(mode) or grammar(mode))
    monkeypatch.setattr(tg, "_llm_generate_text", request)
    monkeypatch.setattr(tg, "_gather_few_shots", gather)
    return requests, script, gathered, modes


def staging_folders(folder):
    return [p for p in Path(folder).iterdir() if p.name.startswith(".tarvok-")]


class TestSolve:
    def test_arguments_reach_the_library(self, tg, solve_calls, capsys, tmp_path, monkeypatch):
        requests, _, gathered, modes = solve_calls
        monkeypatch.chdir(tmp_path)
        (tmp_path / "desc.txt").write_text("Ship goods cheaply.", encoding="utf-8")
        status, out, err = run(
            capsys,
            "solve",
            "@desc.txt",
            "-m",
            "out/a.mod",
            "-d",
            "out/a.dat",
            "--model",
            "llama3",
            "--iterations",
            "3",
            "--no-alignment",
            "--grammar",
            "code",
            "--temperature",
            "0.5",
            "--timeout",
            "7.5",
        )
        assert (status, out) == (0, "Looks aligned.\n")
        assert "Iteration 1/3: prompting model" in err.splitlines()
        first, last = requests[0], requests[-1]
        assert "Ship goods cheaply." in first["input_text"]
        assert (first["model_name"], first["temperature"]) == ("llama3", 0.5)
        assert first["provider"] == tg._infer_provider(None, "llama3")
        assert modes == [tg.Grammar.CODE] and len(gathered) == 1
        # The loop writes into a staging folder beside the targets, under the targets' names.
        (staged,) = last["staged"]
        assert staged.parent.parent == tmp_path / "out" and staged.name == "a.mod"
        # The timeout is for the call only: the module setting is not touched, not even while the loop runs.
        assert first["request_timeout"] == tg.REQUEST_TIMEOUT == 300.0
        assert (tmp_path / "out" / "a.mod").read_text() == GOOD_MODEL
        assert staging_folders(tmp_path / "out") == [] and os.getcwd() == str(tmp_path)

    def test_defaults(self, tg, solve_calls, capsys, tmp_path, monkeypatch):
        requests, _, _, modes = solve_calls
        monkeypatch.chdir(tmp_path)
        _, _, err = run(capsys, "solve", "text", "-m", "a.mod", "-d", "a.dat")
        assert f"Iteration 1/{tg.MAX_ITERATIONS}: prompting model" in err.splitlines()
        assert (requests[0]["model_name"], requests[0]["temperature"]) == (tg.MODEL_NAME, None)
        assert any(VERDICT_REQUEST in r["input_text"] for r in requests)  # ALIGNMENT_CHECK stands
        assert modes == [tg.Grammar.BNF]

    @pytest.mark.parametrize("where", ["local", "option", "shipped"])
    def test_the_example_library_is_a_setting_not_a_working_directory(
        self, tg, solve_calls, capsys, tmp_path, monkeypatch, where
    ):
        import tarvok

        _, _, gathered, _ = solve_calls
        expected = {
            "local": tmp_path / "tvl_models",
            "option": tmp_path / "lib",
            "shipped": Path(tarvok.__file__).parent / "tvl_models",
        }[where]
        if where != "shipped":
            expected.mkdir()
        monkeypatch.chdir(tmp_path)
        extra = ["--examples", "lib"] if where == "option" else []
        _, _, err = run(capsys, "solve", "text", "-m", "a.mod", "-d", "a.dat", *extra)
        assert gathered[0]["few_shot_library"] == str(expected) and gathered[0]["cwd"] == str(tmp_path)
        assert gathered[0]["library_setting"] == "tvl_models"  # a per-call option, not a setting
        assert f"Few-shot examples from {expected}" in err
        assert tg.FEW_SHOT_LIBRARY == "tvl_models"  # put back afterwards
        assert not any(p.is_symlink() for p in tmp_path.rglob("*"))

    def test_without_an_embedding_model_examples_are_ranked_by_words(self, tg, capsys, tmp_path, monkeypatch):
        import tarvok.example_ranker as er

        name = er.DEFAULT_MODEL_NAME
        monkeypatch.setattr(er, "_model_cache", {name: None})
        monkeypatch.setattr(er, "_load_errors", {name: "No module named 'sentence_transformers'"})
        llm = stand_in_llm(tg, monkeypatch, GOOD_MODEL, GOOD_DATA)
        monkeypatch.chdir(tmp_path)
        status, _, err = run(capsys, "solve", "text", "-m", "a.mod", "-d", "a.dat", "--no-alignment")
        assert status == 0 and len(llm.requests) == 2
        shipped = str(Path(er.__file__).parent / "tvl_models")
        assert (
            f"Few-shot examples from {shipped}" in err
            and "Use the following exemplars" in llm.requests[0]["input_text"]
        )
        assert "install the rag extra" in err and "ranking worked examples by word overlap (BM25) instead" in err
        assert "ranking few-shot examples by word overlap (BM25)" in err  # the loop's own line
        assert tg.rag_rank is er.rank_problem_descriptions  # never replaced

    def test_json_reports_compiled_and_aligned(self, solve_calls, capsys, tmp_path, monkeypatch):
        monkeypatch.chdir(tmp_path)
        status, out, _ = run(capsys, "solve", "text", "-m", "a.mod", "-d", "a.dat", "--json")
        assert status == 0
        assert json.loads(out) == {
            "model_file": str(tmp_path / "a.mod"),
            "data_file": str(tmp_path / "a.dat"),
            "iterations": 1,
            "syntax_errors": [],
            "assessment": "Looks aligned.",
            "compiled": True,
            "aligned": True,
            "assumptions": [],
            "conversions": [],
            "status": 0,
        }
        status, out, _ = run(capsys, "solve", "text", "-m", "a.mod", "-d", "a.dat", "--stats")
        assert out.startswith("iterations: 1\nsyntax errors: 0\ncompiled: yes\naligned: yes\n")

    def test_numbers_the_description_does_not_give_are_reported(self, solve_calls, capsys, tmp_path, monkeypatch):
        _, script, _, _ = solve_calls
        script["model"] = "float rate = ...;\nfloat cap = ...;\n" + GOOD_MODEL
        script["data"] = "x = 12; // at least a dozen\nrate = 0.15;\ncap = 2500;\n"
        monkeypatch.chdir(tmp_path)
        text = "Buy at least 12 units at a 15% discount; the floor is 2.5 thousand."
        status, out, _ = run(capsys, "solve", text, "-m", "a.mod", "-d", "a.dat", "--json")
        report = json.loads(out)
        assert status == 0 and report["assumptions"] == []
        assert report["conversions"] == [
            {"value": "0.15", "line": 2, "text": "rate = 0.15;", "kind": "percentage", "source": "15", "power": 0},
            {"value": "2500", "line": 3, "text": "cap = 2500;", "kind": "scaled", "source": "2.5", "power": 3},
        ]
        status, out, _ = run(capsys, "solve", "Buy 12 units.", "-m", "b.mod", "-d", "b.dat")
        assert status == 0
        assert out.endswith(
            "Looks aligned.\n\nAssumptions (numbers of the data file that the description does not give):\n"
            "  0.15 (line 2: rate = 0.15;)\n  2500 (line 3: cap = 2500;)\n"
        )

    def test_a_pair_never_judged_aligned_is_written_with_status_4(self, solve_calls, capsys, tmp_path, monkeypatch):
        _, script, _, _ = solve_calls
        script["aligned"] = False
        monkeypatch.chdir(tmp_path)
        status, out, err = run(capsys, "solve", "text", "-m", "a.mod", "-d", "a.dat", "--json")
        assert status == 4 and json.loads(out)["aligned"] is False and json.loads(out)["compiled"] is True
        assert err.splitlines()[-1].startswith("tarvok: the model compiles but was never judged aligned")
        assert (tmp_path / "a.mod").read_text() == GOOD_MODEL
        # Without the alignment check a compiling pair is success.
        status, out, _ = run(capsys, "solve", "text", "-m", "a.mod", "-d", "a.dat", "--json", "--no-alignment")
        assert status == 0 and json.loads(out)["aligned"] is None

    def test_a_pair_that_does_not_compile_leaves_the_good_files_alone(self, solve_calls, capsys, tmp_path, monkeypatch):
        _, script, _, _ = solve_calls
        script["model"] = BROKEN_MODEL
        (tmp_path / "a.mod").write_text("good model")
        (tmp_path / "a.dat").write_text("good data")
        monkeypatch.chdir(tmp_path)
        status, out, err = run(capsys, "solve", "text", "-m", "a.mod", "-d", "a.dat", "--json")
        result = json.loads(out)
        assert status == 1 and result["compiled"] is False and result["status"] == 1
        assert (tmp_path / "a.mod").read_text() == "good model" and (tmp_path / "a.dat").read_text() == "good data"
        assert result["failed_model_file"] == str(tmp_path / "a.mod.failed")
        assert (tmp_path / "a.mod.failed").read_text() == BROKEN_MODEL
        assert (tmp_path / "a.dat.failed").read_text() == GOOD_DATA
        last = err.splitlines()[-1]
        assert last.startswith("tarvok: the final model does not compile;") and "are unchanged" in last
        assert str(tmp_path / "a.mod.failed") in last and staging_folders(tmp_path) == []
        # In plain mode the diagnostics follow the assessment, as `check` and `run` print them.
        status, out, _ = run(capsys, "solve", "text", "-m", "a.mod", "-d", "a.dat")
        assert status == 1 and out.startswith("Looks aligned.\n\nmodel:3:16: undeclared name 'z'")

    def test_an_llm_failure_is_status_5_in_one_line(self, solve_calls, capsys, tmp_path, monkeypatch):
        _, script, _, _ = solve_calls
        script["error"] = RuntimeError("Failed to parse model response as JSON: x\nResponse: long reply")
        monkeypatch.chdir(tmp_path)
        status, out, err = run(capsys, "solve", "t", "-m", "a.mod", "-d", "a.dat", "--no-few-shot")
        assert (status, out) == (5, "")
        assert err.splitlines()[-1] == (
            "tarvok: error: Failed to parse model response as JSON: x ...; the last "
            f"attempt is kept in {tmp_path / 'a.mod.failed'} and "
            f"{tmp_path / 'a.dat.failed'}"
        )
        assert not (tmp_path / "a.mod").exists()

    def test_a_move_left_half_done_is_finished_by_the_next_run(self, solve_calls, capsys, tmp_path, monkeypatch):
        _, script, _, _ = solve_calls
        script["model"] = BROKEN_MODEL  # this run fails: what stays is the earlier run's pair, made whole
        stage = tmp_path / ".tarvok-old"
        stage.mkdir()
        (stage / "a.mod").write_text("new model")
        (tmp_path / "a.mod").write_text("old model")
        (tmp_path / "a.dat").write_text("new data")  # moved before the crash
        (tmp_path / "a.mod.tarvok-pending").write_text(
            "# tarvok: a model and data pair is being moved into place.\n"
            f"staged model={stage / 'a.mod'}\nstaged data={stage / 'a.dat'}\n"
            f"model={tmp_path / 'a.mod'}\ndata={tmp_path / 'a.dat'}\n"
        )
        monkeypatch.chdir(tmp_path)
        status, _, err = run(capsys, "solve", "text", "-m", "a.mod", "-d", "a.dat")
        assert status == 1 and "finished moving the pair" in err
        assert (tmp_path / "a.mod").read_text() == "new model" and (tmp_path / "a.dat").read_text() == "new data"
        assert not (tmp_path / "a.mod.tarvok-pending").exists() and not stage.exists()


class TestRefusals:
    """Each is refused with status 2 before the loop (and so any request) starts."""

    @pytest.mark.parametrize(
        "argv, message",
        [
            (["text", "--provider", "claude"], "unknown provider 'claude'; choose openai, google, ollama or replay"),
            (["text", "--iterations", "0"], "--iterations must be at least 1"),
            (["   "], "the description is empty"),
            (["@empty.txt"], "the description is empty"),
            (["@missing.txt"], "cannot read missing.txt"),
            (["text", "--timeout", "0"], "--timeout must be a positive number"),
            (["text", "--examples", "nowhere"], "examples folder not found"),
        ],
    )
    def test_arguments(self, solve_calls, capsys, tmp_path, monkeypatch, argv, message):
        monkeypatch.chdir(tmp_path)
        (tmp_path / "empty.txt").write_text("\n")
        status, out, err = run(capsys, "solve", *argv, "-m", "a.mod", "-d", "a.dat")
        assert (status, out) == (2, "") and err.startswith("tarvok: error: " + message)
        assert solve_calls[0] == [] and not (tmp_path / "a.mod").exists()

    @pytest.mark.parametrize("model, data", [("a.mod", "a.mod"), ("a.mod", "./sub/../a.mod"), ("a.mod", "link.mod")])
    def test_the_same_file_twice(self, solve_calls, capsys, tmp_path, monkeypatch, model, data):
        monkeypatch.chdir(tmp_path)
        (tmp_path / "sub").mkdir()
        (tmp_path / "link.mod").symlink_to(tmp_path / "a.mod")
        status, _, err = run(capsys, "solve", "text", "-m", model, "-d", data)
        assert status == 2 and "the model and data files are the same file" in err and solve_calls[0] == []

    @pytest.mark.parametrize("target", ["blocker/a.mod", "folder"])
    def test_an_unwritable_output_path(self, solve_calls, capsys, tmp_path, monkeypatch, target):
        monkeypatch.chdir(tmp_path)
        (tmp_path / "blocker").write_text("a file where a folder should be")
        (tmp_path / "folder").mkdir()
        status, _, err = run(capsys, "solve", "text", "-m", target, "-d", "a.dat")
        assert status == 2 and err.startswith("tarvok: error: ") and solve_calls[0] == []

    def test_errors_are_json_with_json(self, solve_calls, capsys, tmp_path, monkeypatch):
        monkeypatch.chdir(tmp_path)
        status, out, err = run(capsys, "solve", "text", "-m", "a.mod", "-d", "a.dat", "--provider", "x", "--json")
        assert status == 2 and err == ""
        assert json.loads(out) == {
            "error": "unknown provider 'x'; choose openai, google, ollama or replay",
            "status": 2,
        }
        status, out, _ = run(capsys, "solve", "text", "--json")  # argparse's own errors too
        assert status == 2 and "required: -m/--model-file" in json.loads(out)["error"]

    def test_usage_errors_return_2(self, capsys):
        status, _, err = run(capsys, "solve", "text")
        assert status == 2 and "usage: tarvok solve" in err and "error: the following arguments" in err


class TestFeedback:
    @pytest.fixture
    def pair(self, tmp_path):
        m, d = tmp_path / "a.mod", tmp_path / "a.dat"
        m.write_text(GOOD_MODEL)
        d.write_text(GOOD_DATA)
        return m, d

    @pytest.fixture
    def replies(self, tg, monkeypatch):
        """The replies the stand-in LLM gives, in turn; `asked` counts the requests."""
        script = {"replies": [], "asked": 0}

        def fake_request(**kwargs):
            script["asked"] += 1
            return json.dumps(script["replies"].pop(0))

        monkeypatch.setattr(tg, "_llm_generate_text", fake_request)
        return script

    def test_prints_feedback_and_leaves_files(self, replies, capsys, pair):
        replies["replies"] = [{"feedback": "Fine."}]
        status, out, err = run(capsys, "feedback", "ok?", "-m", str(pair[0]), "-d", str(pair[1]))
        assert (status, out) == (0, "Fine.\n")
        assert err == "Generating feedback from LLM\nFeedback received; parsing\n"

    def test_apply_writes_exactly_the_revision_shown(self, replies, capsys, pair):
        revised = GOOD_MODEL.replace("y >= x", "y >= 2 * x")
        other = GOOD_MODEL.replace("y >= x", "y >= 3 * x")
        replies["replies"] = [
            {"feedback": "Double it.", "revised_model": revised},
            {"feedback": "x", "revised_model": other},
        ]
        argv = ["feedback", "double?", "-m", str(pair[0]), "-d", str(pair[1])]
        status, out, err = run(capsys, *argv)
        assert status == 0 and pair[0].read_text() == GOOD_MODEL
        assert f"--- {pair[0]}\n+++ {pair[0]} (revised)\n" in out
        assert "-  atLeast: y >= x;\n+  atLeast: y >= 2 * x;\n" in out and "--apply" in err

        status, out, err = run(capsys, *argv, "--apply")
        assert status == 0 and replies["asked"] == 1  # no second, different answer
        assert pair[0].read_text() == revised and pair[1].read_text() == GOOD_DATA
        assert Path(f"{pair[0]}.bak").read_text() == GOOD_MODEL and Path(f"{pair[1]}.bak").read_text() == GOOD_DATA
        assert "+  atLeast: y >= 2 * x;\n" in out and "the previous files are in" in err
        assert not Path(f"{pair[0]}.proposed.json").exists()

    def test_a_kept_proposal_for_other_files_is_not_applied(self, replies, capsys, pair):
        revised = GOOD_MODEL.replace("y >= x", "y >= 2 * x")
        replies["replies"] = [{"revised_model": revised}, {"feedback": "now", "revised_model": revised + "\n"}]
        argv = ["feedback", "q", "-m", str(pair[0]), "-d", str(pair[1])]
        run(capsys, *argv)
        pair[1].write_text("x = 5;\n")  # the files changed since
        status, _, _ = run(capsys, *argv, "--apply")
        assert status == 0 and replies["asked"] == 2 and pair[0].read_text() == revised + "\n"

    def test_apply_refuses_a_revision_that_does_not_compile(self, replies, capsys, pair):
        replies["replies"] = [{"feedback": "x", "revised_model": BROKEN_MODEL}]
        status, _, err = run(capsys, "feedback", "q", "-m", str(pair[0]), "-d", str(pair[1]), "--apply")
        assert status == 1 and "undeclared name 'z'" in err and "the files are unchanged" in err
        assert pair[0].read_text() == GOOD_MODEL and not Path(f"{pair[0]}.bak").exists()

    def test_a_missing_file_is_status_2_before_any_request(self, replies, capsys, pair, tmp_path):
        status, _, err = run(capsys, "feedback", "q", "-m", str(pair[0]), "-d", str(tmp_path / "none.dat"))
        assert status == 2 and "cannot read" in err and replies["asked"] == 0


class TestModels:
    @pytest.fixture
    def listed(self, tg, monkeypatch):
        seen = []
        monkeypatch.setattr(tg, "list_models", lambda p, m: seen.append(("list_models", p, m)) or ["b", "a"])
        monkeypatch.setattr(tg, "list_openai_models", lambda prefix: seen.append(("openai", prefix)) or ["o3"])
        monkeypatch.setattr(tg, "list_ollama_models", lambda prefix: seen.append(("ollama", prefix)) or ["q"])
        return seen

    def test_default_prefix_prefix_and_all(self, tg, listed, capsys):
        assert run(capsys, "models", "--provider", "ollama") == (0, "b\na\n", "")
        assert run(capsys, "models", "--json")[1] == '[\n  "b",\n  "a"\n]\n'
        assert run(capsys, "models", "--all")[1] == "o3\n"
        assert run(capsys, "models", "--prefix", "ll", "--provider", "ollama")[1] == "q\n"
        assert listed == [
            ("list_models", "ollama", tg.MODEL_NAME),
            ("list_models", None, tg.MODEL_NAME),
            ("openai", ""),
            ("ollama", "ll"),
        ]
        assert run(capsys, "models", "--all", "--prefix", "x")[0] == 2

    def test_timeout_leaves_the_setting_alone(self, tg, monkeypatch, capsys):
        seen = []
        monkeypatch.setattr(tg, "list_models", lambda p, m: seen.append(tg.REQUEST_TIMEOUT) or ["a"])
        assert run(capsys, "models", "--timeout", "2.5")[0] == 0
        assert seen == [300.0] and tg.REQUEST_TIMEOUT == 300.0  # the timeout is the listing's own

    def test_a_listing_failure_is_status_5(self, tg, monkeypatch, capsys):
        def broken(*a):
            raise RuntimeError("OPENAI_API_KEY environment variable not set.")

        monkeypatch.setattr(tg, "list_models", broken)
        assert run(capsys, "models") == (5, "", "tarvok: error: OPENAI_API_KEY environment variable not set.\n")

    def test_interrupt_exits_130(self, tg, capsys, monkeypatch):
        def interrupted(*a, **k):
            raise KeyboardInterrupt

        monkeypatch.setattr(tg, "list_models", interrupted)
        assert run(capsys, "models")[0] == 130


class TestHelp:
    def test_version(self, capsys):
        import tarvok

        assert run(capsys, "--version") == (0, f"tarvok {tarvok.__version__}\n", "")

    def test_help_names_keys_extras_the_default_model_and_statuses(self, tg, capsys):
        status, out, _ = run(capsys, "--help")
        assert status == 0
        for name in (
            "OPENAI_API_KEY",
            "OPENAI_BASE_URL",
            "GEMINI_API_KEY or GOOGLE_API_KEY",
            "OLLAMA_HOST",
            "TARVOK_EMBEDDING_MODEL",
            f"default model: {tg.MODEL_NAME}",
        ):
            assert name in out
        google = next(line for line in out.splitlines() if line.strip().startswith("google:"))
        assert 'needs the gemini extra (pip install "tarvok[gemini]")' in google
        for code, meaning in _cli.EXIT_STATUSES.items():
            assert re.search(rf"^  {code} +{re.escape(meaning)}$", out, re.M)
        _, solve_help, _ = run(capsys, "solve", "--help")
        assert "OPENAI_API_KEY" in solve_help and "--embedding-model" in solve_help and "--timeout" in solve_help

    def test_the_readme_shows_the_one_exit_status_table(self):
        readme = (Path(__file__).resolve().parent.parent / "README.md").read_text(encoding="utf-8")
        rows = dict(re.findall(r"^\| (\d+) \| (.+) \|$", readme, re.M))
        assert {int(k): v for k, v in rows.items()} == _cli.EXIT_STATUSES


class TestLsp:
    def test_without_pygls_it_says_which_extra_to_install(self, capsys, monkeypatch):
        monkeypatch.setitem(__import__("sys").modules, "pygls", None)
        status, out, err = run(capsys, "lsp", "--stdio")
        assert (status, out) == (2, "")
        assert "tarvok lsp needs the 'pygls' package" in err and "pip install 'tarvok[lsp]'" in err

    def test_help_says_how_editors_start_it(self, capsys):
        status, out, _ = run(capsys, "lsp", "--help")
        assert status == 0 and "--stdio" in out and "docs/editors.md" in out
