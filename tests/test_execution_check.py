"""The loop's opt-in execution check: a compiling pair is solved, and one that
does not solve is sent back with the solver's verdict."""

import sys

import pytest
from workflow_fakes import install, pair, verdict

INFEASIBLE_MODEL = """dvar float+ x;        // amount made
dvar float+ y;
maximize profit: x + y;
subject to {
  limit: x + y <= 4;
  need: x >= 5;
}
"""


@pytest.fixture
def files(tmp_path):
    return str(tmp_path / "m.mod"), str(tmp_path / "d.dat")


def with_solver(tg, monkeypatch, rec, outcomes):
    """Replaces the execution step and the new prompt builder with recording fakes."""
    queue = list(outcomes)

    def execute(model_code, data_code, time_limit=None):
        rec.calls.append(("_execute_model", (model_code, data_code), {"time_limit": time_limit}))
        return queue.pop(0)

    def build(p, g, m, d, result, few_shots=None):
        rec.calls.append(("_build_revision_prompt_execution", (p, g, m, d, result), {"few_shots": few_shots}))
        return "EXEC-FIX:" + m

    monkeypatch.setattr(tg, "_execute_model", execute)
    monkeypatch.setattr(tg, "_build_revision_prompt_execution", build)


def prompts_sent(rec):
    return [kw["input_text"] for _, kw in rec.of("_llm_generate_text")]


def solved(status, objective=None, **extra):
    return {"status": status, "objective": objective, "message": None, "infeasible_constraints": [], **extra}


class TestLoop:
    def test_off_by_default_leaves_the_loop_as_it_was(self, tg, monkeypatch, files):
        rec = install(tg, monkeypatch, [pair("m1"), verdict(True, "ok")])
        with_solver(tg, monkeypatch, rec, [])
        assert tg.EXECUTION_CHECK is False
        stats = tg.generative_solve("p", *files, return_statistics=True)
        assert stats == {"iterations": 1, "assessment": "ok", "syntax_errors": []}
        assert "_execute_model" not in rec.names()

    def test_infeasible_answer_is_revised_before_alignment(self, tg, monkeypatch, files):
        tg.EXECUTION_CHECK = True
        tg.EXECUTION_TIME_LIMIT = 7
        seen = []
        rec = install(tg, monkeypatch, [pair("m1", "d1"), pair("m2"), verdict(True, "fine")], few_shots=[{"x": 1}])
        failure = solved("infeasible", infeasible_constraints=[{"name": "need", "line": 6, "kind": "constraint"}])
        with_solver(tg, monkeypatch, rec, [failure, solved("optimal", 190.0)])

        stats = tg.generative_solve("p", *files, return_statistics=True, progress=seen.append)

        assert prompts_sent(rec) == ["GEN", "EXEC-FIX:m1", "JUDGE:m2"]
        assert stats == {
            "iterations": 2,
            "assessment": "fine",
            "syntax_errors": [],
            "solver_status": "optimal",
            "objective": 190.0,
        }
        ((args, kwargs),) = rec.of("_build_revision_prompt_execution")
        assert args == ("p", "GRAMMAR:BNF", "m1", "d1", failure) and kwargs == {"few_shots": [{"x": 1}]}
        assert [k for _, k in rec.of("_execute_model")] == [{"time_limit": 7}] * 2
        assert "Execution check on: every compiling model is solved (time limit 7 s)" in seen
        assert "Execution check failed: the solver's verdict is infeasible; revising..." in seen
        assert "Execution check passed: optimal, objective 190.0" in seen
        assert seen[0].startswith("Generating with provider=openai")  # the specified first line stays

    @pytest.mark.parametrize(
        "status, revised",
        [
            ("infeasible", True),
            ("unbounded", True),
            ("infeasible_or_unbounded", True),
            ("error", True),
            ("time_limit", False),
            ("optimal", False),
        ],
    )
    def test_which_verdicts_count_as_failed(self, tg, monkeypatch, files, status, revised):
        tg.EXECUTION_CHECK = True
        replies = [pair("m1"), pair("m2"), verdict(True, "b")] if revised else [pair("m1"), verdict(True, "a")]
        rec = install(tg, monkeypatch, replies)
        with_solver(tg, monkeypatch, rec, [solved(status), solved("optimal", 1.0)])
        stats = tg.generative_solve("p", *files, return_statistics=True)
        assert stats["iterations"] == (2 if revised else 1)
        assert prompts_sent(rec)[:2] == (["GEN", "EXEC-FIX:m1"] if revised else ["GEN", "JUDGE:m1"])

    def test_exhausted_on_a_failed_check_asks_for_an_assessment_with_the_verdict(self, tg, monkeypatch, files):
        tg.EXECUTION_CHECK = True
        rec = install(tg, monkeypatch, [pair("m1"), pair("m2"), "It cannot be solved."])
        monkeypatch.setattr(tg, "_build_revision_prompt_execution", lambda *a, **k: "EXEC-FIX")
        outcomes = [solved("unbounded", message="The objective can improve without limit.")] * 2
        monkeypatch.setattr(tg, "_execute_model", lambda m, d, time_limit=None: outcomes.pop())
        stats = tg.generative_solve("p", *files, iterations=2, return_statistics=True)
        assert stats == {
            "iterations": 2,
            "assessment": "It cannot be solved.",
            "syntax_errors": [],
            "solver_status": "unbounded",
            "objective": None,
        }
        ((args, _),) = rec.of("_build_final_assessment_prompt")
        assert args[2:] == (
            "m2",
            "d = 1;",
            [
                'Solving the model with its data ended with the status "unbounded".\n'
                "The objective can improve without limit."
            ],
        )

    def test_statistics_describe_the_final_pair_only(self, tg, monkeypatch, files):
        tg.EXECUTION_CHECK = True
        rec = install(
            tg,
            monkeypatch,
            [pair("m1"), verdict(False, "no"), pair("m2"), "assessed"],
            [None, tg.SemanticError("model:1:1: broken")],
        )
        with_solver(tg, monkeypatch, rec, [solved("optimal", 3.0)])
        stats = tg.generative_solve("p", *files, iterations=2, return_statistics=True)
        assert (stats["solver_status"], stats["objective"]) == (None, None)
        assert stats["syntax_errors"] == ["model:1:1: broken"]

    def test_alignment_off_stops_after_a_model_that_solves(self, tg, monkeypatch, files):
        tg.EXECUTION_CHECK = True
        rec = install(tg, monkeypatch, [pair("m1"), "assessed"])
        with_solver(tg, monkeypatch, rec, [solved("optimal", 2.5)])
        stats = tg.generative_solve("p", *files, alignment_check=False, return_statistics=True)
        assert prompts_sent(rec) == ["GEN", "FINAL:m1"]
        assert stats["solver_status"] == "optimal" and stats["objective"] == 2.5


class TestRefusals:
    @pytest.mark.parametrize(
        "limit, error",
        [("10", TypeError), (True, TypeError), (0, ValueError), (-1.0, ValueError), (float("nan"), ValueError)],
    )
    def test_unusable_time_limit_before_any_request(self, tg, monkeypatch, files, limit, error):
        tg.EXECUTION_CHECK, tg.EXECUTION_TIME_LIMIT = True, limit
        rec = install(tg, monkeypatch, [pair("m1")])
        with pytest.raises(error, match="EXECUTION_TIME_LIMIT"):
            tg.generative_solve("p", *files)
        assert prompts_sent(rec) == []

    def test_no_time_limit_is_allowed(self, tg, monkeypatch, files):
        tg.EXECUTION_CHECK, tg.EXECUTION_TIME_LIMIT = True, None
        rec = install(tg, monkeypatch, [pair("m1"), verdict(True, "ok")])
        with_solver(tg, monkeypatch, rec, [solved("optimal", 0.0)])
        tg.generative_solve("p", *files)
        assert [k for _, k in rec.of("_execute_model")] == [{"time_limit": None}]

    def test_missing_solver_library_is_refused_naming_the_extra(self, tg, monkeypatch, files):
        tg.EXECUTION_CHECK = True
        rec = install(tg, monkeypatch, [pair("m1")])
        monkeypatch.setitem(sys.modules, "highspy", None)
        with pytest.raises(ImportError, match=r"'solve' extra: pip install 'tarvok\[solve\]'"):
            tg.generative_solve("p", *files)
        assert prompts_sent(rec) == []


class TestExecuteModel:
    def test_infeasible_model_names_its_conflicting_constraints(self, tg):
        pytest.importorskip("highspy")
        result = tg._execute_model(INFEASIBLE_MODEL, "", time_limit=10.0)
        assert result["status"] == "infeasible" and result["objective"] is None
        subset = {(c["name"], c["line"], c["kind"]) for c in result["infeasible_constraints"]}
        assert subset == {("limit", 5, "constraint"), ("need", 6, "constraint"), ("y", 2, "bound")}
        prompt = tg._build_revision_prompt_execution("p", "", INFEASIBLE_MODEL, "", result)
        for line in (
            "- limit (model line 5): limit: x + y <= 4;",
            "- need (model line 6): need: x >= 5;",
            "- bound of y (model line 2): dvar float+ y;",
        ):
            assert "\n" + line + "\n" in prompt

    def test_solved_and_data_faults(self, tg):
        pytest.importorskip("highspy")
        ok = tg._execute_model(INFEASIBLE_MODEL.replace("x >= 5", "x >= 1"), "")
        assert ok == {"status": "optimal", "objective": 4.0, "message": None, "infeasible_constraints": []}
        # Compiles, but the data make a coefficient too large: only expanding the model finds it.
        model = "float a = ...;\ndvar float x;\nminimize z: x;\nsubject to { x >= a*1e18*10; }"
        tg.TVLCompiler().compile_model(model, "a = 10;")
        huge = tg._execute_model(model, "a = 10;")
        assert huge["status"] == "error" and huge["message"].startswith(
            "model:4:19: the value of 'a*1e18*10' is at or beyond 1e20, which the solver reads as infinity"
        )
