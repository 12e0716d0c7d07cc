"""The generate-validate-revise loop, driven by recording fakes."""

import logging
from pathlib import Path

import pytest
from workflow_fakes import ScriptedCompiler, install, pair, verdict


@pytest.fixture
def files(tmp_path):
    return str(tmp_path / "out" / "nested" / "m.mod"), str(tmp_path / "out" / "d.dat")


def prompts_sent(rec):
    return [kw["input_text"] for _, kw in rec.of("_llm_generate_text")]


class TestIterations:
    @pytest.mark.parametrize("given, runs", [(0, 1), (-4, 1), (2.7, 2), ("3", 3), ("many", 4), (None, 4)])
    def test_normalisation(self, tg, monkeypatch, files, given, runs):
        tg.MAX_ITERATIONS = 4
        err = tg.SemanticError("1:1: broken")
        rec = install(tg, monkeypatch, [pair("m")] * runs + ["final words"], [err] * runs)
        stats = tg.generative_solve("p", *files, iterations=given, return_statistics=True, few_shot=False)
        assert stats["iterations"] == runs
        assert len(ScriptedCompiler.compiled) == runs
        assert prompts_sent(rec)[-1] == "FINAL:m"

    def test_fallback_is_not_raised_to_one(self, tg, monkeypatch, files):
        tg.MAX_ITERATIONS = 2
        install(tg, monkeypatch, [pair("a"), pair("b"), "x"], [ValueError("no")] * 2)
        assert tg.generative_solve("p", *files, iterations=[], return_statistics=True)["iterations"] == 2


class TestOutcomes:
    def test_aligned_first_time(self, tg, monkeypatch, files):
        rec = install(tg, monkeypatch, [pair("m1"), verdict(True, "  Good model.\n")])
        assert tg.generative_solve("p", *files) == "Good model."
        stats_rec = install(tg, monkeypatch, [pair("m1"), verdict(True, "ok")])
        stats = tg.generative_solve("p", *files, return_statistics=True)
        assert stats == {"iterations": 1, "assessment": "ok", "syntax_errors": []}
        assert "_build_final_assessment_prompt" not in rec.names() + stats_rec.names()

    def test_alignment_off_asks_for_final_assessment(self, tg, monkeypatch, files):
        seen = []
        rec = install(tg, monkeypatch, [pair("m1"), "  A fair model.  "])
        assert tg.generative_solve("p", *files, alignment_check=False, progress=seen.append) == "A fair model."
        assert "Syntax OK; alignment check disabled. Stopping." in seen
        assert prompts_sent(rec) == ["GEN", "FINAL:m1"]

    def test_compiler_always_rejects(self, tg, monkeypatch, files):
        errors = [tg.SemanticError("model:1:1: first"), tg.SemanticError("model:2:1: second")]
        rec = install(tg, monkeypatch, [pair("m1", "d1"), pair("m2", "d2"), "assessed"], errors)
        stats = tg.generative_solve("p", *files, iterations=2, return_statistics=True)
        assert prompts_sent(rec) == ["GEN", "FIX:m1", "FINAL:m2"]
        assert Path(files[0]).read_text() == "m2" and Path(files[1]).read_text() == "d2"
        assert stats == {"iterations": 2, "assessment": "assessed", "syntax_errors": ["model:2:1: second"]}
        ((args, kwargs),) = rec.of("_build_final_assessment_prompt")
        assert args == ("p", "GRAMMAR:BNF", "m2", "d2", ["model:2:1: second"]) and kwargs == {}

    def test_other_compiler_errors_carry_their_type(self, tg, monkeypatch, files):
        install(tg, monkeypatch, [pair("m"), "x"], [ValueError("bad input")])
        stats = tg.generative_solve("p", *files, iterations=1, return_statistics=True)
        assert stats["syntax_errors"] == ["ValueError: bad input"]

    def test_not_aligned_until_exhausted_keeps_last_verdict(self, tg, monkeypatch, files):
        rec = install(tg, monkeypatch, [pair("m1"), verdict(False, "miss 1"), pair("m2"), verdict(False, " miss 2 ")])
        assert tg.generative_solve("p", *files, iterations=2) == "miss 2"
        assert prompts_sent(rec) == ["GEN", "JUDGE:m1", "ALIGN-FIX:miss 1", "JUDGE:m2"]
        assert "_build_final_assessment_prompt" not in rec.names()

    def test_repair_then_realign_then_aligned(self, tg, monkeypatch, files, caplog):
        seen = []
        rec = install(
            tg,
            monkeypatch,
            [pair("m1"), pair("m2"), verdict(False, "no fixed cost"), pair("m3"), verdict(True, "done")],
            [tg.SemanticError("model:3:7: undeclared name 'x'")],
        )
        with caplog.at_level(logging.DEBUG, logger="tarvok.tarvok_generative"):
            result = tg.generative_solve("p", *files, progress=seen.append)
        assert result == "done"
        m, d = files
        assert seen == [
            "Generating with provider=openai model=gpt-5 iterations=5 alignment=on",
            "Iteration 1/5: prompting model",
            "LLM response parsed (model + data)",
            "Compiling model and data",
            f"Wrote files: {m} \u2022 {d}",
            "Syntax/semantic errors found: 1; revising...",
            "Iteration 2/5: prompting model",
            "LLM response parsed (model + data)",
            "Compiling model and data",
            f"Wrote files: {m} \u2022 {d}",
            "Checking alignment with original prompt...",
            "Not aligned; revising per assessment",
            "Iteration 3/5: prompting model",
            "LLM response parsed (model + data)",
            "Compiling model and data",
            f"Wrote files: {m} \u2022 {d}",
            "Checking alignment with original prompt...",
            "Aligned \u2713 Stopping.",
            "Generation complete",
        ]
        assert [r.getMessage() for r in caplog.records] == [
            "Iteration 1/5",
            "Model and data generated.",
            "Semantic error in model: model:3:7: undeclared name 'x'",
            "Model or data has syntax errors; revising...",
            "Iteration 2/5",
            "Model and data generated.",
            "Checking alignment with original prompt...",
            "Model and data are syntactically valid but NOT aligned with the prompt. Assessment: no fixed cost",
            "Iteration 3/5",
            "Model and data generated.",
            "Checking alignment with original prompt...",
            "Model and data are syntactically valid and aligned with the prompt.",
        ]
        ((args, kwargs),) = rec.of("_build_revision_prompt_syntax")
        assert args == ("p", "GRAMMAR:BNF", "m1", "d = 1;", ["model:3:7: undeclared name 'x'"])
        assert kwargs == {"few_shots": []}
        ((args, kwargs),) = rec.of("_build_revision_prompt_alignment")
        assert args == ("p", "GRAMMAR:BNF", "no fixed cost", "m2", "d = 1;") and kwargs == {"few_shots": []}


class TestFailures:
    @pytest.mark.parametrize("reply", ["", None])
    def test_empty_generation(self, tg, monkeypatch, files, reply):
        install(tg, monkeypatch, [reply])
        with pytest.raises(RuntimeError, match=r"^Empty model response\.$"):
            tg.generative_solve("p", *files)

    def test_empty_alignment(self, tg, monkeypatch, files):
        install(tg, monkeypatch, [pair("m"), ""])
        with pytest.raises(RuntimeError, match=r"^Empty alignment response\.$"):
            tg.generative_solve("p", *files)

    def test_missing_key(self, tg, monkeypatch, files):
        reply = '{"data": "x"}'
        install(tg, monkeypatch, [reply])
        with pytest.raises(RuntimeError) as err:
            tg.generative_solve("p", *files)
        assert str(err.value) == "Failed to parse model response as JSON: 'model'\nResponse: " + reply
        assert isinstance(err.value.__cause__, KeyError)

    def test_unparseable(self, tg, monkeypatch, files):
        install(tg, monkeypatch, ["no json here"])
        with pytest.raises(
            RuntimeError,
            match=r"^Failed to parse model response as JSON: Expecting value.*"
            r"\nResponse: no json here$",
        ):
            tg.generative_solve("p", *files)

    @pytest.mark.parametrize(
        "reply",
        [
            '{"aligned": "false", "assessment": "x"}',
            '{"aligned": 0, "assessment": "x"}',
            '{"aligned": true}',
            '{"aligned": true, "assessment": 3}',
            "null",
        ],
    )
    def test_invalid_verdict(self, tg, monkeypatch, files, reply):
        install(tg, monkeypatch, [pair("m"), reply])
        with pytest.raises(RuntimeError) as err:
            tg.generative_solve("p", *files)
        assert str(err.value) == "Invalid alignment response JSON: " + reply

    def test_unparseable_verdict_propagates_unwrapped(self, tg, monkeypatch, files):
        install(tg, monkeypatch, [pair("m"), "[1]"])
        with pytest.raises(TypeError, match="^Expected dict, got list$"):
            tg.generative_solve("p", *files)

    def test_non_text_model_cannot_be_written(self, tg, monkeypatch, files):
        install(tg, monkeypatch, ['{"model": 5, "data": "d"}'])
        with pytest.raises(TypeError):
            tg.generative_solve("p", *files)

    def test_gather_result_must_be_a_list(self, tg, monkeypatch, files):
        rec = install(tg, monkeypatch, [])
        monkeypatch.setattr(tg, "_gather_few_shots", lambda *a, **k: ("not", "a list"))
        with pytest.raises(TypeError):
            tg.generative_solve("p", *files)
        assert "_llm_generate_text" not in rec.names()

    def test_kind_check_comes_before_any_work(self, tg, monkeypatch, files):
        rec = install(tg, monkeypatch, [])
        with pytest.raises(TypeError, match="temperature"):
            tg.generative_solve("p", *files, temperature=1)
        assert rec.calls == []


class TestRequests:
    def test_temperatures(self, tg, monkeypatch, files):
        rec = install(tg, monkeypatch, [pair("m1"), verdict(False), pair("m2"), "final"], [None, tg.SemanticError("e")])
        tg.generative_solve("p", *files, iterations=2, temperature=0.7)
        assert [kw["temperature"] for _, kw in rec.of("_llm_generate_text")] == [0.7, 0.0, 0.7, 0.2]

    def test_no_temperature_anywhere_when_absent(self, tg, monkeypatch, files):
        rec = install(tg, monkeypatch, [pair("m1"), verdict(False), pair("m2"), "final"], [None, tg.SemanticError("e")])
        tg.generative_solve("p", *files, iterations=2)
        assert [kw["temperature"] for _, kw in rec.of("_llm_generate_text")] == [None] * 4

    def test_call_shapes_and_call_time_settings(self, tg, monkeypatch, files, tmp_path):
        (tmp_path / "tvl_models").mkdir()
        monkeypatch.chdir(tmp_path)
        tg.MAX_OUTPUT_TOKENS = 321
        tg.FEW_SHOT_TOP_K = 5
        shots = [{"description": "x", "model": "m", "data": "d"}]
        rec = install(tg, monkeypatch, [pair("m"), verdict(True)], few_shots=shots)
        callback = [].append
        tg.generative_solve(
            "desc", *files, "llama3", tg.Grammar.CODE, 3, False, None, None, ["END"], "ollama", callback
        )
        assert rec.of("_get_grammar_implementation") == [((tg.Grammar.CODE,), {})]
        assert rec.of("_infer_provider") == [(("ollama", "llama3"), {})]
        assert rec.of("_gather_few_shots") == [(("desc",), {"k": 5, "models_dir": "tvl_models", "progress": callback})]
        assert rec.of("_build_generation_prompt") == [(("desc", "GRAMMAR:CODE"), {"few_shots": shots})]
        args, kwargs = rec.of("_llm_generate_text")[0]
        assert args == () and kwargs == {
            "provider": tg.LLMProvider.OPENAI,
            "model_name": "llama3",
            "input_text": "GEN",
            "max_tokens": 321,
            "temperature": None,
            "stop": ["END"],
            "progress": callback,
        }
        assert rec.of("_build_alignment_prompt") == [(("desc", "GRAMMAR:CODE", "m", "d = 1;"), {})]
        assert ScriptedCompiler.compiled == [("m", "d = 1;")]

    def test_few_shot_off_and_alignment_setting_read_at_call_time(self, tg, monkeypatch, files):
        tg.ALIGNMENT_CHECK = False
        rec = install(tg, monkeypatch, [pair("m"), "final"])
        tg.generative_solve("p", *files, few_shot=False)
        assert "_gather_few_shots" not in rec.names()
        assert rec.of("_build_generation_prompt")[0][1] == {"few_shots": []}
        assert prompts_sent(rec) == ["GEN", "FINAL:m"]

    def test_gather_may_return_none(self, tg, monkeypatch, files):
        rec = install(tg, monkeypatch, [pair("m"), verdict(True)])
        monkeypatch.setattr(tg, "_gather_few_shots", lambda *a, **k: None)
        tg.generative_solve("p", *files)
        assert rec.of("_build_generation_prompt")[0][1] == {"few_shots": None}


class TestFiles:
    def test_bare_names_write_into_the_working_directory(self, tg, monkeypatch, tmp_path):
        monkeypatch.chdir(tmp_path)
        install(tg, monkeypatch, [pair("model text", "data text"), verdict(True)])
        tg.generative_solve("p", "x.mod", "x.dat")
        assert (tmp_path / "x.mod").read_text() == "model text"
        assert (tmp_path / "x.dat").read_text() == "data text"

    def test_final_assessment_reads_the_files_back(self, tg, monkeypatch, files):
        rec = install(tg, monkeypatch, [pair("m\r\nline", "d"), "final"])
        tg.generative_solve("p", *files, alignment_check=False)
        ((args, _),) = rec.of("_build_final_assessment_prompt")
        assert args[2:4] == ("m\nline", "d")  # as text mode reads them back

    def test_empty_final_assessment_is_not_an_error(self, tg, monkeypatch, files):
        install(tg, monkeypatch, [pair("m"), ""])
        assert tg.generative_solve("p", *files, alignment_check=False) == ""

    def test_files_of_earlier_iterations_stay_on_failure(self, tg, monkeypatch, files):
        install(tg, monkeypatch, [pair("first"), ""], [tg.SemanticError("e")])
        with pytest.raises(RuntimeError):
            tg.generative_solve("p", *files)
        assert Path(files[0]).read_text() == "first"


def test_failing_progress_callback_does_not_break_the_loop(tg, monkeypatch, files):
    def bad(msg):
        raise RuntimeError("callback down")

    install(tg, monkeypatch, [pair("m"), verdict(True, "ok")])
    assert tg.generative_solve("p", *files, progress=bad) == "ok"


def test_reply_with_nul_characters_is_reported_whole(tg, monkeypatch, files):
    install(tg, monkeypatch, ["no\0json\0here"])
    with pytest.raises(RuntimeError) as err:
        tg.generative_solve("p", *files)
    assert str(err.value).endswith("\nResponse: no\0json\0here")
    assert isinstance(err.value.__cause__, ValueError)
