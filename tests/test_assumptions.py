"""The assumptions step: its two prompts as whole texts, the loop with a stand-in LLM over real compiles and solves
(no assumptions, several, a reply that is no list, an alternative that does not compile, the request budget, the
asked quantity), and the command, replaying the shipped example's recorded conversation."""

import json
import os
import subprocess
import sys
from pathlib import Path

import pytest
from assumption_fakes import ALTERNATIVES, DATA, EXAMPLE, LISTED, MAIN, MORE, AssumingLlm
from test_prompts import FEW_SHOT_OPEN, GRAMMAR_CLOSE, GRAMMAR_OPEN, MODEL_DATA_CONTRACT, ROLE  # noqa: F401

LITERATE = "Label all constraints and the objective function meaningfully; thoroughly comment the model to explain the purpose of variables, parameters, objective, and constraints; match these explanations to the problem description by following the predicaments of literate programming.\n"
REFERENCE = "Use the following Tarvok syntax implementation as a reference for valid Tarvok syntax.\n"
ASSUMPTIONS_TASK = (
    "<task>\nList the assumptions the generated Tarvok model and data make where the problem description is silent or ambiguous.\n"
    "For each, give the other reasonable reading and the model or data lines it affects.\n"
    "Look for numbers the data supply that the description does not give, readings of ambiguous phrases, units and scales, conditions at the start or end of a horizon (initial states, final inventories), and a question that asks for a quantity other than the objective's value.\n"
    + REFERENCE
    + "</task>\n\n"
)
ASSUMPTIONS_CONTRACT = (
    '<output_requirements>\n- Return ONLY a JSON list of objects, each with exactly four keys: "assumption", "alternative", "where" and "kind" (all strings).\n'
    '- "assumption" is the reading the model takes, "alternative" the other reasonable reading, "where" the model or data lines it affects, "kind" one of "invented_data", "interpretation", "units", "boundary_condition", "asked_quantity".\n'
    "- List the assumptions that could change the answer, the most consequential first; return [] when the description settles every choice.\n"
    "- No Markdown. No commentary. No additional keys. No trailing commas.\n"
    "- Optional: you MAY wrap the JSON in a ```json fenced block; if you do, the fence must contain only the JSON.\n"
    '</output_requirements>\n\n<json_schema>\n{\n  "type": "array",\n  "items": {\n    "type": "object",\n'
    '    "additionalProperties": false,\n    "required": ["assumption", "alternative", "where", "kind"],\n'
    '    "properties": {\n      "assumption": {"type": "string"},\n      "alternative": {"type": "string"},\n'
    '      "where": {"type": "string"},\n'
    '      "kind": {"enum": ["invented_data", "interpretation", "units", "boundary_condition", "asked_quantity"]}\n'
    "    }\n  }\n}\n</json_schema>\n\n<example_output>\n"
    '[{ "assumption": "Every generator is off before the first period.", "alternative": "Generators may already run when the horizon starts.", "where": "model line 14 (startup)", "kind": "boundary_condition" }]\n'
    "</example_output>\n"
)
WHAT_IF_OPEN = "<task>\nThe previous attempt produced a Tarvok model and data that compile, and they rest on an assumption the problem description does not settle.\n<assumption>\n"
WHAT_IF_GOAL = (
    "\n</alternative>\nRevise the model and data so that they follow the alternative reading instead, keeping every other modeling choice as it is.\n"
    "Change only what the alternative reading requires.\n" + LITERATE + REFERENCE + "</task>\n\n"
)
WHAT_IF_RULES = (
    "<revision_guidelines>\n- Apply the alternative reading and nothing else.\n- Keep syntax strictly valid.\n"
)
ASKED_RULE = "- The alternative concerns the quantity the question asks for: keep the objective and add a decision expression named answer that holds that quantity (dexpr float answer = ...;).\n"
WHAT_IF_CLOSE = "- Return complete model and data strings; do not return diffs.\n</revision_guidelines>\n\n"


class TestPrompts:
    def test_the_assumptions_request(self, tg):
        expected = (
            ROLE + ASSUMPTIONS_TASK + GRAMMAR_OPEN + "G" + GRAMMAR_CLOSE
            + "<inputs>\n<problem_description>\nP\n</problem_description>\n\n<model>\nM\n</model>\n\n<data>\nD\n</data>\n</inputs>\n\n"
            + ASSUMPTIONS_CONTRACT
        )  # fmt: skip
        assert tg._build_assumptions_prompt("P", "G", "M", "D") == expected

    @pytest.mark.parametrize("kind", ["boundary_condition", "asked_quantity"])
    def test_the_request_for_an_alternative(self, tg, kind):
        expected = (
            ROLE + WHAT_IF_OPEN + "A\n</assumption>\n<alternative>\nB" + WHAT_IF_GOAL + GRAMMAR_OPEN + "G" + GRAMMAR_CLOSE
            + "<problem_description>\nP\n</problem_description>\n\n<previous_attempt>\n<model>\nM\n</model>\n\n<data>\nD"
            + "\n</data>\n</previous_attempt>\n\n" + WHAT_IF_RULES + (ASKED_RULE if kind == "asked_quantity" else "")
            + WHAT_IF_CLOSE + MODEL_DATA_CONTRACT
        )  # fmt: skip
        assert tg._build_what_if_prompt("P", "G", "M", "D", "A", "B", kind) == expected
        assert tg._build_what_if_prompt("P", "G", "M", "D", "A", "B") == expected.replace(ASKED_RULE, "")


DESCRIPTION = (EXAMPLE / "generators.txt").read_text()


@pytest.fixture
def files(tmp_path):
    return str(tmp_path / "g.mod"), str(tmp_path / "g.dat")


def run(tg, monkeypatch, files, listed=None, **options):
    llm = AssumingLlm(listed)
    monkeypatch.setattr(tg, "_llm_generate_text", llm)
    result = tg.run_generation(DESCRIPTION, *files, few_shot=False, **options)
    return result, llm.steps


class TestLoop:
    def test_off_by_default_and_no_request_more(self, tg, monkeypatch, files):
        r, steps = run(tg, monkeypatch, files)
        assert steps == ["pair", "align"]
        assert r.assumptions is None and r.what_if is None and r.assumptions_error is None
        assert "assumptions" not in r.statistics

    def test_no_assumptions(self, tg, monkeypatch, files):
        r, steps = run(tg, monkeypatch, files, listed=[], what_if=True)
        assert steps == ["pair", "align", "assumptions"]
        assert r.assumptions == [] and r.what_if == {"main": {"status": None, "objective": None, "answer": None},
                                                      "alternatives": [], "unexplored": 0}  # fmt: skip
        assert not any(p.name.startswith("g.alt") for p in Path(files[0]).parent.iterdir())

    def test_several_alternatives_each_solved_beside_the_main_answer(self, tg, monkeypatch, files):
        pytest.importorskip("highspy")
        r, steps = run(tg, monkeypatch, files, what_if=True)
        assert steps == ["pair", "align", "assumptions", "what_if", "what_if"]
        assert r.assumptions == LISTED
        table = r.what_if
        assert table["main"] == {"status": "optimal", "objective": 7500.0, "answer": None}
        # Hand-solved: no start in hour 1 saves A's 500; a start cost per running hour adds 500 + 500.
        assert [(a["index"], a["status"], a["objective"]) for a in table["alternatives"]] == [
            (1, "optimal", 7000.0),
            (2, "optimal", 8500.0),
        ]
        first = table["alternatives"][0]
        assert first["alternative"] == LISTED[0]["alternative"] and first["kind"] == "boundary_condition"
        assert first["model_file"] == files[0].replace("g.mod", "g.alt1.mod")
        assert Path(first["model_file"]).read_text() == ALTERNATIVES["already running"]
        assert Path(first["data_file"]).read_text() == DATA
        # The run's own pair is the main one, untouched.
        assert Path(files[0]).read_text() == MAIN == r.model_text
        assert r.statistics["what_if"] == table and r.statistics["assumptions"] == LISTED

    def test_an_alternative_that_does_not_compile_and_the_asked_quantity(self, tg, monkeypatch, files):
        pytest.importorskip("highspy")
        r, _ = run(tg, monkeypatch, files, listed=MORE, what_if=True, execution_check=True)
        broken, asked = r.what_if["alternatives"]
        assert broken["compiled"] is False and broken["status"] is None and "pwr" in broken["errors"][0]
        assert Path(broken["model_file"]).read_text() == ALTERNATIVES["in tens"]  # kept for a look
        assert asked["objective"] == 7500.0 and asked["answer"] == 6900.0  # 150*10 + 200*10 + 100*14 + 200*10
        # It only names the asked quantity: it becomes the final pair, its solve the main reading.
        assert asked["adopted"] is True and not broken["adopted"]
        assert r.model_text == Path(files[0]).read_text() == ALTERNATIVES["the energy cost alone"]
        assert r.what_if["main"] == {"status": "optimal", "objective": 7500.0, "answer": 6900.0}
        assert r.execution["answer"] == 6900.0 and r.compiled_model.model_text == r.model_text

    def test_the_budget(self, tg, monkeypatch, files):
        pytest.importorskip("highspy")
        r, steps = run(tg, monkeypatch, files, listed=LISTED + MORE, what_if=True, what_if_max=1)
        assert steps.count("what_if") == 1
        assert len(r.what_if["alternatives"]) == 1 and r.what_if["unexplored"] == 3

    @pytest.mark.parametrize("reply", ["The model looks right to me.", '[{"alternative": "x"}]', ""])
    def test_a_reply_that_is_no_list_keeps_the_run(self, tg, monkeypatch, files, reply):
        r, steps = run(tg, monkeypatch, files, listed=reply, what_if=True)
        assert steps == ["pair", "align", "assumptions"]
        assert r.compiled and r.aligned and r.model_text == MAIN
        assert r.assumptions == [] and r.what_if["alternatives"] == []
        assert r.assumptions_error.startswith("Invalid assumptions response JSON: ")
        assert r.assumptions_error.endswith("\nResponse: " + reply)

    def test_the_data_numbers_the_description_does_not_give(self, tg, monkeypatch, files):
        r, _ = run(tg, monkeypatch, files, listed=[], assumptions=True)
        assert r.what_if is None
        monkeypatch.setattr(tg, "_llm_generate_text", AssumingLlm([]))
        r = tg.run_generation("Two generators meet a demand.", *files, few_shot=False, assumptions=True)
        invented = [a for a in r.assumptions if a["kind"] == "invented_data"]
        assert {a["where"].split(":")[0] for a in invented} >= {"data line 3", "data line 7"}

    def test_generative_solve_reads_the_setting(self, tg, monkeypatch, files):
        monkeypatch.setattr(tg, "_llm_generate_text", AssumingLlm())
        monkeypatch.setattr(tg, "ASSUMPTIONS_CHECK", True)
        stats = tg.generative_solve(DESCRIPTION, *files, few_shot=False, return_statistics=True)
        assert stats["assumptions"] == LISTED and stats["what_if"] is None

    def test_arguments_are_checked_before_any_request(self, tg, monkeypatch, files):
        monkeypatch.setattr(tg, "_llm_generate_text", AssumingLlm())
        with pytest.raises(ValueError, match="what_if_max' must be at least 0"):
            tg.run_generation("p", *files, what_if=True, what_if_max=-1)
        with pytest.raises(TypeError, match="what_if"):
            tg.run_generation("p", *files, what_if="yes")


def command(*argv, cwd):
    env = {**os.environ, "PYTHONIOENCODING": "utf-8"}
    return subprocess.run([sys.executable, "-m", "tarvok", *argv], cwd=cwd, env=env, capture_output=True, text=True)


class TestCommand:
    """The README's example, answered from its recorded conversation."""

    ARGS = ("--replay", str(EXAMPLE / "generators.jsonl"), "--grammar", "none", "--no-few-shot")

    def test_the_worked_example(self, tmp_path):
        pytest.importorskip("highspy")
        desc = "@" + str(EXAMPLE / "generators.txt")
        done = command("solve", desc, "-m", "out/g.mod", "-d", "out/g.dat", *self.ARGS, "--what-if", cwd=tmp_path)
        assert done.returncode == 0, done.stderr
        out = done.stdout
        assert "1. [boundary_condition] Both generators are off before the first hour" in out
        assert "  as modelled, the answer is 7500.0\n" in out
        assert "1. if instead the generators are already running before the first hour, so hour 1 costs no start, " \
               "the answer is 7000.0 [out/g.alt1.mod]" in out  # fmt: skip
        assert "the answer is 8500.0" in out
        assert (tmp_path / "out" / "g.mod").read_text() == MAIN
        assert (tmp_path / "out" / "g.alt2.dat").read_text() == DATA
        assert not [p for p in (tmp_path / "out").iterdir() if p.name.startswith(".tarvok-")]

        done = command("solve", desc, "-m", "j/g.mod", "-d", "j/g.dat", *self.ARGS, "--what-if", "--json",
                       "--what-if-max", "1", cwd=tmp_path)  # fmt: skip
        assert done.returncode == 0, done.stderr
        report = json.loads(done.stdout)
        assert report["assumptions"] == LISTED and report["assumptions_error"] is None
        assert report["what_if"]["main"]["objective"] == 7500.0 and report["what_if"]["unexplored"] == 1
        assert [a["objective"] for a in report["what_if"]["alternatives"]] == [7000.0]
        assert report["what_if"]["alternatives"][0]["model_file"] == str(tmp_path / "j" / "g.alt1.mod")

    def test_refusals_before_any_request(self, tmp_path):
        done = command("solve", "x", "-m", "g.mod", "-d", "g.dat", *self.ARGS, "--what-if-max", "-1", cwd=tmp_path)
        assert done.returncode == 2 and "--what-if-max must be at least 0" in done.stderr
        # An alternative would fall on the data file.
        done = command("solve", "x", "-m", "g", "-d", "g.alt1", *self.ARGS, "--what-if", cwd=tmp_path)
        assert done.returncode == 2 and "the alternative" in done.stderr

    def test_run_reports_the_answer_beside_the_objective(self, tmp_path):
        pytest.importorskip("highspy")
        (tmp_path / "a.mod").write_text(ALTERNATIVES["the energy cost alone"])
        (tmp_path / "a.dat").write_text(DATA)
        done = command("run", "a.mod", "a.dat", cwd=tmp_path)
        assert done.returncode == 0, done.stderr
        assert "Objective: 7500\nAnswer: 6900\n" in done.stdout
        done = command("run", "a.mod", "a.dat", "--json", cwd=tmp_path)
        assert json.loads(done.stdout)["answer"] == 6900.0
