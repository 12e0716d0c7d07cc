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


FEASIBLE_MODEL = INFEASIBLE_MODEL.replace("x >= 5", "x >= 1")  # optimal, objective 4
UNBOUNDED_MODEL = "dvar float+ x;\nmaximize gain: x;\n"
# Compiles, but the data make a coefficient too large: only expanding the model finds it.
HUGE_MODEL = "float a = ...;\ndvar float x;\nminimize z: x;\nsubject to { x >= a*1e18*10; }"


@pytest.fixture
def files(tmp_path):
    return str(tmp_path / "m.mod"), str(tmp_path / "d.dat")


@pytest.fixture
def solver():
    pytest.importorskip("highspy")


def prompts_sent(rec):
    return [kw["input_text"] for _, kw in rec.of("_llm_generate_text")]


EXAMPLE = {"description": "An example.", "model": "dvar float+ e;", "data": ""}


class TestLoop:
    def test_off_by_default_leaves_the_loop_as_it_was(self, tg, monkeypatch, files):
        install(tg, monkeypatch, [pair("m1"), verdict(True, "ok")])
        assert tg.EXECUTION_CHECK is False
        stats = tg.generative_solve("p", *files, return_statistics=True)
        assert stats == {"iterations": 1, "assessment": "ok", "syntax_errors": []}

    def test_infeasible_answer_is_revised_before_alignment(self, tg, monkeypatch, files, solver):
        tg.EXECUTION_CHECK = True
        tg.EXECUTION_TIME_LIMIT = 7
        seen = []
        replies = [pair(INFEASIBLE_MODEL, "// d1"), pair(FEASIBLE_MODEL, ""), verdict(True, "fine")]
        rec = install(tg, monkeypatch, replies, few_shots=[EXAMPLE])

        stats = tg.generative_solve("p", *files, return_statistics=True, progress=seen.append)

        sent = prompts_sent(rec)
        assert [sent[0], sent[2]] == ["GEN", "JUDGE:" + FEASIBLE_MODEL]
        for part in (INFEASIBLE_MODEL, "// d1", "An example.", "- need (model line 6): need: x >= 5;"):
            assert part in sent[1]
        assert stats == {
            "iterations": 2,
            "assessment": "fine",
            "syntax_errors": [],
            "solver_status": "optimal",
            "objective": 4.0,
        }
        assert "Execution check on: every compiling model is solved (time limit 7 s)" in seen
        assert "Execution check failed: the solver's verdict is infeasible; revising..." in seen
        assert "Execution check passed: optimal, objective 4.0" in seen
        assert seen[0].startswith("Generating with provider=openai")  # the specified first line stays

    @pytest.mark.parametrize(
        "model, data, status",
        [
            (INFEASIBLE_MODEL, "", "infeasible"),
            (UNBOUNDED_MODEL, "", "unbounded"),
            (HUGE_MODEL, "a = 10;", "error"),
            (FEASIBLE_MODEL, "", None),
        ],
    )
    def test_which_verdicts_count_as_failed(self, tg, monkeypatch, files, solver, model, data, status):
        tg.EXECUTION_CHECK = True
        revised = status is not None
        first = pair(model, data)
        replies = [first, pair(FEASIBLE_MODEL, ""), verdict(True, "b")] if revised else [first, verdict(True, "a")]
        rec = install(tg, monkeypatch, replies)
        stats = tg.generative_solve("p", *files, return_statistics=True)
        assert stats["iterations"] == (2 if revised else 1)
        sent = prompts_sent(rec)
        assert sent[1].startswith("JUDGE:") is not revised
        if revised:
            assert f'ended with the status "{status}"' in sent[1]

    def test_exhausted_on_a_failed_check_asks_for_an_assessment_with_the_verdict(self, tg, monkeypatch, files, solver):
        tg.EXECUTION_CHECK = True
        rec = install(tg, monkeypatch, [pair("m1"), pair(UNBOUNDED_MODEL, "// d"), "It cannot be solved."])
        stats = tg.generative_solve("p", *files, iterations=2, return_statistics=True)
        assert stats == {
            "iterations": 2,
            "assessment": "It cannot be solved.",
            "syntax_errors": [],
            "solver_status": "unbounded",
            "objective": None,
        }
        ((args, _),) = rec.of("_build_final_assessment_prompt")
        assert args[2:4] == (UNBOUNDED_MODEL, "// d")
        [verdict_text] = args[4]
        assert verdict_text.startswith('Solving the model with its data ended with the status "unbounded".')

    def test_statistics_describe_the_final_pair_only(self, tg, monkeypatch, files, solver):
        tg.EXECUTION_CHECK = True
        rec = install(
            tg,
            monkeypatch,
            [pair(FEASIBLE_MODEL, ""), verdict(False, "no"), pair("m2"), "assessed"],
            [None, tg.SemanticError("model:1:1: broken")],
        )
        stats = tg.generative_solve("p", *files, iterations=2, return_statistics=True)
        assert (stats["solver_status"], stats["objective"]) == (None, None)
        assert stats["syntax_errors"] == ["model:1:1: broken"]
        assert len(prompts_sent(rec)) == 4

    def test_alignment_off_stops_after_a_model_that_solves(self, tg, monkeypatch, files, solver):
        tg.EXECUTION_CHECK = True
        rec = install(tg, monkeypatch, [pair(FEASIBLE_MODEL, ""), "assessed"])
        stats = tg.generative_solve("p", *files, alignment_check=False, return_statistics=True)
        assert prompts_sent(rec) == ["GEN", "FINAL:" + FEASIBLE_MODEL]
        assert stats["solver_status"] == "optimal" and stats["objective"] == 4.0


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

    def test_no_time_limit_is_allowed(self, tg, monkeypatch, files, solver):
        tg.EXECUTION_CHECK, tg.EXECUTION_TIME_LIMIT = True, None
        seen = []
        install(tg, monkeypatch, [pair(FEASIBLE_MODEL, ""), verdict(True, "ok")])
        stats = tg.generative_solve("p", *files, return_statistics=True, progress=seen.append)
        assert stats["solver_status"] == "optimal"
        assert "Execution check on: every compiling model is solved (time limit none)" in seen

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
        ok = tg._execute_model(FEASIBLE_MODEL, "")
        assert ok == {"status": "optimal", "objective": 4.0, "message": None, "infeasible_constraints": []}
        tg.TVLCompiler().compile_model(HUGE_MODEL, "a = 10;")
        huge = tg._execute_model(HUGE_MODEL, "a = 10;")
        assert huge["status"] == "error" and huge["message"].startswith(
            "model:4:19: the value of 'a*1e18*10' is at or beyond 1e20, which the solver reads as infinity"
        )
