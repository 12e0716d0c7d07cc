"""run_generation: the loop's one result, its per-call options (which leave the module settings alone), its
events, and the final pair compiled once for everything that runs or writes it."""

import json
import sys
import threading
import types

import pytest
from workflow_fakes import ScriptedCompiler, install, pair, stand_in_llm, verdict

import tarvok.tarvok_core
from tarvok import _cli

GOOD = "dvar float+ x;\nmaximize profit: 3 * x;\nsubject to {\n  cap: x <= 4;\n}\n"
UNUSED = "int n = 2;\n" + GOOD  # compiles, with a warning: 'n' is never used
BROKEN = "dvar float+ x;\nmaximize profit: 3 * y;\n"


@pytest.fixture
def files(tmp_path):
    return str(tmp_path / "m.mod"), str(tmp_path / "d.dat")


class TestResult:
    def test_an_aligned_run(self, tg, monkeypatch, files):
        stand_in_llm(tg, monkeypatch, UNUSED, "", assessment=" Right. ")
        r = tg.run_generation("p", *files, few_shot=False)
        assert (r.model_text, r.data_text, r.model_file, r.data_file) == (UNUSED, "", *files)
        assert (r.iterations, r.compiled, r.syntax_errors, r.aligned, r.assessment) == (1, True, [], True, "Right.")
        assert [d["severity"] for d in r.diagnostics] == ["warning"]  # the final pair compiles with one warning
        assert r.execution is None and r.compiled_model.ok and r.compiled_model.model_text == UNUSED
        assert r.statistics == {"iterations": 1, "assessment": "Right.", "syntax_errors": []}
        assert repr(r) == "<GenerationResult iterations=1 compiled aligned>"

    def test_a_pair_that_never_compiles(self, tg, monkeypatch, files):
        stand_in_llm(tg, monkeypatch, BROKEN, "", assessment="It does not compile.")
        r = tg.run_generation("p", *files, few_shot=False, iterations=2)
        assert (r.iterations, r.compiled, r.aligned) == (2, False, False)
        assert r.syntax_errors == [r.compiled_model.report] and "undeclared name 'y'" in r.syntax_errors[0]
        records = [(d["severity"], d["code"], d["line"], d["column"]) for d in r.diagnostics]
        assert records == [("error", "T0201", 2, 22), ("warning", "T0903", 1, 13)]  # errors, then warnings
        assert r.execute() is None
        with pytest.raises(tg.SemanticError, match="undeclared name 'y'"):
            r.compiled_model.program

    def test_a_replaced_compiler_is_obeyed_and_keeps_no_compiled_model(self, tg, monkeypatch, files):
        install(tg, monkeypatch, [pair("m"), pair("m2"), "x"], [tg.SemanticError("model:1:1: no")])
        r = tg.run_generation("p", *files, alignment_check=False)
        assert ScriptedCompiler.compiled == [("m", "d = 1;"), ("m2", "d = 1;")]
        assert r.compiled and r.aligned is None and r.compiled_model is None and r.diagnostics == []
        assert r.assessment == "x"

    def test_the_final_pair_solves_from_its_own_compile(self, tg, monkeypatch, files):
        pytest.importorskip("highspy")
        stand_in_llm(tg, monkeypatch, GOOD)
        r = tg.run_generation("p", *files, few_shot=False)
        outcome = r.execute(time_limit=10.0)
        assert outcome == {"status": "optimal", "objective": 12.0, "message": None, "infeasible_constraints": []}
        # The execution check's own solve stands for the final pair.
        tg.EXECUTION_CHECK = True
        checked = tg.run_generation("p", *files, few_shot=False)
        assert checked.execution == checked.execute() == outcome
        assert checked.statistics["solver_status"] == "optimal" and checked.statistics["objective"] == 12.0


class TestPerCallOptions:
    def test_options_hold_for_the_call_and_leave_the_settings(self, tg, monkeypatch, files, tmp_path):
        pytest.importorskip("highspy")
        made, seen = [], []
        openai = types.ModuleType("openai")
        openai.OpenAI = lambda **kw: made.append(kw) or object()
        monkeypatch.setitem(sys.modules, "openai", openai)
        monkeypatch.setenv("OPENAI_API_KEY", "k1")
        llm = stand_in_llm(tg, monkeypatch, GOOD)

        def request(**kwargs):
            tg._openai_client()  # as each request asks for it
            seen.append((tg.REQUEST_TIMEOUT, tg.EXECUTION_CHECK, tg.FEW_SHOT_LIBRARY))
            return llm(**kwargs)

        monkeypatch.setattr(tg, "_llm_generate_text", request)
        ranked = []
        monkeypatch.setattr(tg, "rag_rank", lambda **kw: ranked.append(kw) or [])
        r = tg.run_generation(
            "p",
            *files,
            timeout=7,
            execution_check=True,
            execution_time_limit=5,
            few_shot_library=tmp_path,
            embedding_model="my-model",
        )
        assert r.execution["status"] == "optimal"
        assert [m["timeout"] for m in made] == [7.0]  # one client for the call's two requests
        assert seen == [(300.0, False, "tvl_models")] * 2
        assert ranked == [{"query": "p", "models_dir": tmp_path, "top_k": 3, "model_name": "my-model"}]
        made.clear()
        tg.run_generation("p", *files, few_shot=False)
        assert [m["timeout"] for m in made] == [300.0]  # nothing lingers after the call

    def test_each_thread_keeps_its_own_options(self, tg, monkeypatch, tmp_path):
        made = {}
        openai = types.ModuleType("openai")
        openai.OpenAI = lambda **kw: made.setdefault(threading.current_thread().name, kw["timeout"])
        monkeypatch.setitem(sys.modules, "openai", openai)
        monkeypatch.setenv("OPENAI_API_KEY", "k1")
        barrier = threading.Barrier(2, timeout=30)

        def request(**kwargs):
            barrier.wait()  # both calls are inside their loops at once
            tg._openai_client()
            return pair(GOOD, "")

        monkeypatch.setattr(tg, "_llm_generate_text", request)

        def run(timeout):
            folder = tmp_path / str(timeout)
            tg.run_generation(
                "p", folder / "m.mod", folder / "d.dat", few_shot=False, alignment_check=False, timeout=timeout
            )

        threads = [threading.Thread(target=run, args=(t,), name=str(t)) for t in (3.0, 9.0)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(60)
        assert made == {"3.0": 3.0, "9.0": 9.0}

    @pytest.mark.parametrize(
        "option, error",
        [
            ({"timeout": 0}, ValueError),
            ({"timeout": float("inf")}, ValueError),
            ({"timeout": "5"}, TypeError),
            ({"execution_check": 1}, TypeError),
            ({"execution_check": True, "execution_time_limit": -1}, ValueError),
            ({"embedding_model": 3}, TypeError),
            ({"on_event": "print"}, TypeError),
        ],
    )
    def test_unusable_options_are_refused_before_any_request(self, tg, monkeypatch, files, option, error):
        llm = stand_in_llm(tg, monkeypatch, GOOD)
        with pytest.raises(error):
            tg.run_generation("p", *files, few_shot=False, **option)
        assert llm.requests == []


class TestEvents:
    def test_every_step_with_what_it_is_about(self, tg, monkeypatch, files):
        events, lines = [], []
        install(tg, monkeypatch, [pair("m1"), pair("m2"), verdict(True, " ok ")], [tg.SemanticError("e1")])
        r = tg.run_generation("p", *files, on_event=events.append, progress=lines.append, model_name="gpt-x")
        assert r.aligned
        assert [e["text"] for e in events if e["text"]] == lines  # every progress line, in order
        requests = [e for e in events if e["kind"] == "request"]
        assert [(e["step"], e["provider"], e["model"], e["iteration"]) for e in requests] == [
            ("generate", "openai", "gpt-x", 1),
            ("repair", "openai", "gpt-x", 2),
            ("align", "openai", "gpt-x", 2),
        ]
        kinds = [e["kind"] for e in events]
        assert all(kinds[kinds.index("request", i) + 1] == "reply" for i, k in enumerate(kinds) if k == "request")
        (failed,) = [e for e in events if e["kind"] == "compile_failed"]
        assert failed["errors"] == ["e1"] and failed["iteration"] == 1
        (aligned,) = [e for e in events if e["kind"] == "aligned"]
        assert aligned["assessment"] == "ok" and aligned["text"] == "Aligned \u2713 Stopping."

    def test_a_failing_handler_does_not_break_the_loop(self, tg, monkeypatch, files):
        install(tg, monkeypatch, [pair("m"), verdict(True, "fine")])

        def broken(event):
            raise ValueError("handler down")

        assert tg.run_generation("p", *files, on_event=broken).assessment == "fine"


class TestCompileOnce:
    @pytest.fixture
    def compiles(self, monkeypatch):
        """Counts every compile of a model outside the loop: the compiler's, and the solver's from texts or for a
        handle (the loop compiles each attempt in the package itself)."""
        count = []
        solver = pytest.importorskip("tarvok.solver")

        class Counting(tarvok.tarvok_core.TVLCompiler):
            def compile_model(self, *args):
                count.append("TVLCompiler")
                return super().compile_model(*args)

        def counting(name):
            real = getattr(solver, name)
            return lambda *a, **k: count.append(name) or real(*a, **k)

        monkeypatch.setattr(tarvok.tarvok_core, "TVLCompiler", Counting)
        for name in ("compile", "instantiate"):
            monkeypatch.setattr(solver, name, counting(name))
        return count

    def test_solve_run_emit_compiles_the_final_pair_once(self, tg, monkeypatch, compiles, tmp_path, capsys):
        pytest.importorskip("highspy")
        pytest.importorskip("scipy")
        monkeypatch.chdir(tmp_path)
        stand_in_llm(tg, monkeypatch, GOOD)
        argv = ["solve", "p", "-m", "m.mod", "-d", "d.dat", "--no-few-shot", "--run", "--emit", "plan.py", "--json"]
        assert _cli.main(argv) == 0
        out = json.loads(capsys.readouterr().out)
        assert out["run"]["objective"] == 12.0 and out["emitted"] == ["plan.py"]
        assert compiles == []  # --run and --emit use the loop's compiled model

    def test_the_execution_check_solves_each_pair_from_its_own_compile(self, tg, monkeypatch, compiles, files):
        pytest.importorskip("highspy")
        llm = stand_in_llm(tg, monkeypatch, GOOD.replace("x <= 4", "x <= 4;\n  x >= 5"))
        tg.EXECUTION_CHECK = True
        r = tg.run_generation("p", *files, few_shot=False, iterations=2)
        assert r.execution["status"] == "infeasible" and len(llm.requests) == 3
        assert compiles == []  # each pair is solved from its own compile, none made again for solving
