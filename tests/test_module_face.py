"""The face of tarvok_generative: settings, enumerations, signatures, the
progress channel and strict argument kinds."""

import enum
import inspect
import logging
import subprocess
import sys

import pytest

PUBLIC_DOCS = {
    "generative_solve": "Generate a Tarvok model and data file from a prompt using OpenAI GPT, validate with "
    "tarvok, iterate on errors, and assess alignment.",
    "generative_feedback": "Provide feedback on a given Tarvok model and data file based on a user prompt.",
    "list_models": "Unified helper: returns models for the inferred provider.",
    "list_openai_models": "Return available OpenAI model IDs visible to the API key.",
    "list_gemini_models": "Return available Google Generative AI model names.",
    "list_ollama_models": "Return available local Ollama model tags (e.g., 'llama3:8b-instruct').",
    "extract_json_from_markdown": "Extract JSON object from a Markdown code block if present.",
}

SIGNATURES = {
    "generative_solve": "(prompt, model_file, data_file, model_name='gpt-5', mode=<Grammar.BNF: 2>, iterations=5, "
    "return_statistics=False, alignment_check=None, temperature=None, stop=None, llm_provider='openai', "
    "progress=None, few_shot=True)",
    "generative_feedback": "(prompt, model_file, data_file, model_name='gpt-5', mode=<Grammar.BNF: 2>, "
    "temperature=None, stop=None, llm_provider='openai', progress=None)",
    "extract_json_from_markdown": "(text)",
    "list_models": "(llm_provider=None, model_name='gpt-5')",
    "list_openai_models": "(prefix='gpt')",
    "list_gemini_models": "(prefix='gemini')",
    "list_ollama_models": "(prefix=None)",
    "_notify": "(progress, msg)",
    "_read_file": "(path)",
    "_read_tarvok_GBNF": "()",
    "_read_tarvok_grammar": "()",
    "_read_tarvok_code": "()",
    "_get_grammar_implementation": "(mode)",
    "_safe_read_text": "(path, max_chars=2147483647)",
    "_find_pair_in_folder": "(desc_path)",
    "_gather_few_shots": "(problem_description, k=3, models_dir=None, progress=None)",
    "_json_loads_relaxed": "(text)",
    "_coalesce_response_text": "(resp)",
    "_openai_client": "()",
    "_google_client": "()",
    "_ollama_generate_text": "(model_name, prompt, num_predict=None)",
    "_build_create_params": "(model_name, input_text, max_tokens=None, temperature=None, stop=None)",
    "_infer_provider": "(llm_provider, model_name)",
    "_llm_generate_text": "(provider, model_name, input_text, max_tokens=None, temperature=None, stop=None, "
    "progress=None)",
    "_call_openai_with_retry": "(client, create_params, retries=3, backoff_sec=1.5, progress=None)",
    "_build_generation_prompt": "(prompt, grammar_implementation, few_shots=None)",
    "_build_revision_prompt_syntax": "(prompt, grammar_implementation, model_code, data_code, syntax_errors, "
    "few_shots=None)",
    "_build_revision_prompt_alignment": "(prompt, grammar_implementation, assessment_text, model_code, data_code, "
    "few_shots=None)",
    "_build_alignment_prompt": "(prompt, grammar_implementation, model_code, data_code)",
    "_build_final_assessment_prompt": "(prompt, grammar_implementation, model_code, data_code, syntax_errors)",
    "_build_feedback_prompt": "(user_prompt_text, grammar_implementation, model_code, data_code)",
}


def test_settings_as_shipped(tg):
    assert (tg.MAX_ITERATIONS, tg.MAX_OUTPUT_TOKENS, tg.LLM_PROVIDER, tg.MODEL_NAME) == (5, None, "openai", "gpt-5")
    assert tg.ALIGNMENT_CHECK is True
    assert (tg.FEW_SHOT_TOP_K, tg.FEW_SHOT_MAX_CHARS) == (3, 2**31 - 1)


def test_enumerations_are_plain_enums(tg):
    assert issubclass(tg.LLMProvider, enum.Enum) and not issubclass(tg.LLMProvider, str)
    assert [(m.name, m.value) for m in tg.LLMProvider] == [
        ("OPENAI", "openai"),
        ("GOOGLE", "google"),
        ("OLLAMA", "ollama"),
        ("REPLAY", "replay"),
    ]
    assert tg.LLMProvider.OPENAI != "openai"
    assert issubclass(tg.Grammar, enum.Enum) and not issubclass(tg.Grammar, int)
    assert [(m.name, m.value) for m in tg.Grammar] == [("NONE", 1), ("BNF", 2), ("CODE", 3)]
    assert tg.Grammar.BNF.__module__ == "tarvok.tarvok_generative"


@pytest.mark.parametrize("name", sorted(SIGNATURES))
def test_signature(tg, name):
    assert str(inspect.signature(getattr(tg, name))) == SIGNATURES[name]


@pytest.mark.parametrize("name", sorted(PUBLIC_DOCS))
def test_public_docstring_first_line(tg, name):
    assert getattr(tg, name).__doc__.splitlines()[0] == PUBLIC_DOCS[name]


def test_enum_default_is_the_member(tg):
    for fn in (tg.generative_solve, tg.generative_feedback):
        assert inspect.signature(fn).parameters["mode"].default is tg.Grammar.BNF


def test_assigned_settings_do_not_change_defaults(tg):
    tg.MODEL_NAME = "other"
    tg.MAX_OUTPUT_TOKENS = 77
    assert inspect.signature(tg.generative_solve).parameters["model_name"].default == "gpt-5"
    assert inspect.signature(tg._llm_generate_text).parameters["max_tokens"].default is None


def test_sibling_bindings(tg):
    from tarvok import example_ranker, semantic_error, tarvok_core

    assert tg.TVLCompiler is tarvok_core.TVLCompiler
    assert tg.SemanticError is tarvok_core.SemanticError is semantic_error.SemanticError
    assert issubclass(tg.SemanticError, Exception)
    assert str(tg.SemanticError("line 3: bad")) == "line 3: bad"
    assert tg.rag_rank is example_ranker.rank_problem_descriptions


class TestNotify:
    def test_without_callback_logs_at_debug(self, tg, caplog):
        with caplog.at_level(logging.DEBUG, logger="tarvok.tarvok_generative"):
            assert tg._notify(None, "hello") is None
        assert [(r.name, r.levelno, r.getMessage()) for r in caplog.records] == [
            ("tarvok.tarvok_generative", logging.DEBUG, "hello")
        ]

    def test_callback_only(self, tg, caplog):
        seen = []
        with caplog.at_level(logging.DEBUG, logger="tarvok.tarvok_generative"):
            tg._notify(seen.append, "hi")
        assert seen == ["hi"] and caplog.records == []

    def test_failing_callback_is_ignored(self, tg):
        def boom(msg):
            raise ValueError("callback broke")

        assert tg._notify(boom, "x") is None

    def test_interrupt_passes_through(self, tg):
        def stop(msg):
            raise KeyboardInterrupt

        with pytest.raises(KeyboardInterrupt):
            tg._notify(stop, "x")

    def test_falsy_callback_means_log(self, tg, caplog):
        class Falsy:
            def __bool__(self):
                return False

            def __call__(self, msg):
                raise AssertionError("must not be called")

        with caplog.at_level(logging.DEBUG, logger="tarvok.tarvok_generative"):
            tg._notify(Falsy(), "to the log")
        assert [r.getMessage() for r in caplog.records] == ["to the log"]

    def test_logger_is_replaceable_at_call_time(self, tg, monkeypatch):
        got = []
        monkeypatch.setattr(tg, "logger", type("L", (), {"debug": lambda self, m: got.append(m)})())
        tg._notify(None, "routed")
        assert got == ["routed"]


class TestStrictKinds:
    @pytest.mark.parametrize("fn", ["generative_solve", "generative_feedback"])
    @pytest.mark.parametrize(
        "kwargs, param",
        [
            ({"temperature": 1}, "temperature"),
            ({"temperature": True}, "temperature"),
            ({"stop": ("x",)}, "stop"),
            ({"llm_provider": 3}, "llm_provider"),
        ],
    )
    def test_entry_points_refuse_wrong_kinds(self, tg, fn, kwargs, param):
        with pytest.raises(TypeError, match=param):
            getattr(tg, fn)("p", "m.mod", "d.dat", **kwargs)

    def test_message_names_parameter_and_kinds(self, tg):
        with pytest.raises(TypeError) as err:
            tg.generative_solve("p", "m", "d", temperature=1)
        assert "'temperature'" in str(err.value) and "float" in str(err.value) and "int" in str(err.value)

    def test_text_subclass_refused(self, tg):
        class S(str):
            pass

        with pytest.raises(TypeError, match="must be str"):
            tg.extract_json_from_markdown(S("{}"))
        with pytest.raises(TypeError):
            tg.extract_json_from_markdown(None)

    @pytest.mark.parametrize("fn", ["list_openai_models", "list_gemini_models", "list_ollama_models"])
    def test_listing_prefix(self, tg, fn):
        with pytest.raises(TypeError, match="prefix"):
            getattr(tg, fn)(prefix=b"gpt")

    def test_argument_count_and_unknown_keyword(self, tg):
        with pytest.raises(TypeError):
            tg.extract_json_from_markdown("a", "b")
        with pytest.raises(TypeError):
            tg.generative_solve("p", "m", "d", colour="blue")


def test_positional_and_keyword_calls_agree(tg):
    reply = 'text {"a": 1} more'
    assert tg.extract_json_from_markdown(reply) == tg.extract_json_from_markdown(text=reply) == '{"a": 1}'


def test_internal_calls_use_the_module_attribute(tg, monkeypatch):
    monkeypatch.setattr(tg, "extract_json_from_markdown", lambda text: '{"patched": true}')
    assert tg._json_loads_relaxed("not json") == {"patched": True}


IMPORT_PROBE = """
import sys, threading, time
t0 = time.perf_counter()
import tarvok.tarvok_generative
elapsed = time.perf_counter() - t0
heavy = [m for m in ("openai", "google.generativeai", "ollama", "sentence_transformers", "torch", "logging")
         if m in sys.modules]
print("RESULT", heavy, threading.active_count())
"""


def test_import_is_light():
    out = subprocess.run([sys.executable, "-c", IMPORT_PROBE], check=True, capture_output=True, text=True).stdout
    assert [line for line in out.splitlines() if line.startswith("RESULT")] == ["RESULT [] 1"]


def test_logger_is_the_named_logger_and_assignable(tg, monkeypatch):
    assert tg.logger is logging.getLogger("tarvok.tarvok_generative")
    assert "logger" in dir(tg)
    with pytest.raises(AttributeError, match="no attribute 'nothing_here'"):
        tg.nothing_here
    monkeypatch.setattr(tg, "logger", None)
    assert tg.logger is None
