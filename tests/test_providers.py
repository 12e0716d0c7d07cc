"""The LLM back-ends against fake client libraries: inference, dispatch,
the OpenAI retry loop, reply extraction, Gemini, Ollama and model listing."""

import logging
import random
import re
import sys
import types
from types import MappingProxyType
from types import SimpleNamespace as NS

import pytest

FALLBACK = ["response_format", "stop", "reasoning", "temperature"]


class FakeResponses:
    """`client.responses` whose `create` plays a script of results and errors."""

    def __init__(self, outcomes):
        self.outcomes = list(outcomes)
        self.calls = []

    def create(self, **kwargs):
        self.calls.append(kwargs)
        outcome = self.outcomes.pop(0)
        if isinstance(outcome, BaseException):
            raise outcome
        return outcome


def client(*outcomes):
    return NS(responses=FakeResponses(outcomes))


def install(monkeypatch, name, **attrs):
    module = types.ModuleType(name)
    module.__dict__.update(attrs)
    monkeypatch.setitem(sys.modules, name, module)
    return module


def fake_genai(monkeypatch, **attrs):
    calls = []
    genai = install(monkeypatch, "google.generativeai", configure=lambda **kw: calls.append(("configure", kw)), **attrs)
    google = install(monkeypatch, "google", generativeai=genai)
    google.__path__ = []
    genai.calls = calls
    return genai


@pytest.fixture
def messages():
    return []


class TestInference:
    @pytest.mark.parametrize(
        "name, model, expected",
        [
            (None, "gemini-1.5-pro", "GOOGLE"),
            ("", "gpt-4o", "OPENAI"),
            ("  Gemini ", "gpt-4o", "GOOGLE"),
            ("anthropic", "qwen2.5:7b", "OLLAMA"),
            (None, "gpt-oss:20b", "OLLAMA"),
            (None, "my-gpt-oss-model", "OLLAMA"),
            (None, "gpt-5", "OPENAI"),
            (None, "Llama3", "OPENAI"),
            (None, "Gemini-pro", "OPENAI"),
            (None, "mistral-large", "OLLAMA"),
            ("openai", "llama3", "OPENAI"),
            ("\u2003OAI\n", "gemini-x", "OPENAI"),
            ("google.generativeai", "gpt-5", "GOOGLE"),
            ("GenAI", "gpt-5", "GOOGLE"),
            ("Ollama", "gpt-5", "OLLAMA"),
        ],
    )
    def test_cases(self, tg, name, model, expected):
        assert tg._infer_provider(name, model) is getattr(tg.LLMProvider, expected)

    @pytest.mark.parametrize(
        "args",
        [
            lambda tg: (tg.LLMProvider.OPENAI, "gpt-5"),
            lambda tg: (1, "gpt-5"),
            lambda tg: (None, None),
            lambda tg: (None, type("S", (str,), {})("gpt-5")),
            lambda tg: (b"openai", "gpt-5"),
        ],
    )
    def test_strict_kinds(self, tg, args):
        with pytest.raises(TypeError, match="_infer_provider"):
            tg._infer_provider(*args(tg))


class TestDispatch:
    def test_member_text_value_is_refused_before_sending(self, tg, monkeypatch):
        monkeypatch.setattr(tg, "_openai_client", lambda: pytest.fail("nothing may be sent"))
        with pytest.raises(ValueError, match="^Unsupported LLM provider: openai$"):
            tg._llm_generate_text("openai", "gpt-5", "hi")

    @pytest.mark.parametrize(
        "bad",
        [dict(temperature=1), dict(max_tokens=True), dict(stop=("x",)), dict(model_name=None), dict(input_text=b"hi")],
    )
    def test_wrong_kinds_refused_before_any_call(self, tg, monkeypatch, bad):
        monkeypatch.setattr(tg, "_openai_client", lambda: pytest.fail("nothing may be sent"))
        kwargs = dict(provider=tg.LLMProvider.OPENAI, model_name="gpt-5", input_text="hi") | bad
        with pytest.raises(TypeError, match=next(iter(bad))):
            tg._llm_generate_text(**kwargs)

    def test_openai_branch_calls_through_the_module(self, tg, monkeypatch, messages):
        calls = []
        monkeypatch.setattr(tg, "_openai_client", lambda *a, **k: calls.append(("client", a, k)) or "CLIENT")
        monkeypatch.setattr(tg, "_build_create_params", lambda *a, **k: calls.append(("build", a, k)) or {"p": 1})
        monkeypatch.setattr(tg, "_call_openai_with_retry", lambda *a, **k: calls.append(("call", a, k)) or "RESP")
        monkeypatch.setattr(tg, "_coalesce_response_text", lambda *a, **k: calls.append(("text", a, k)) or "reply")
        out = tg._llm_generate_text(tg.LLMProvider.OPENAI, "gpt-5", "prompt", 9, 0.5, ["s"], messages.append)
        assert out == "reply"
        assert calls == [
            ("client", (), {}),
            ("build", (), dict(model_name="gpt-5", input_text="prompt", max_tokens=9, temperature=0.5, stop=["s"])),
            ("call", ("CLIENT", {"p": 1}), dict(progress=messages.append)),
            ("text", ("RESP",), {}),
        ]
        assert messages == ["[LLM] OpenAI \u2022 gpt-5: sending request", "[LLM] OpenAI: response received"]

    def test_empty_openai_reply_is_an_error(self, tg, monkeypatch):
        monkeypatch.setattr(tg, "_openai_client", lambda: client(NS(output_text="", id="r1")))
        with pytest.raises(RuntimeError) as info:
            tg._llm_generate_text(tg.LLMProvider.OPENAI, "gpt-5", "hi")
        assert str(info.value) == "Empty OpenAI response: namespace(output_text='', id='r1')."

    @pytest.mark.parametrize(
        "kwargs, settings",
        [({}, {}), (dict(max_tokens=5, temperature=0.2, stop=["x"]), {"max_output_tokens": 5, "temperature": 0.2})],
    )
    def test_gemini_branch(self, tg, monkeypatch, messages, kwargs, settings):
        seen = []

        class Model:
            def __init__(self, *args, **kw):
                seen.append(("model", args, kw))

            def generate_content(self, *args, **kw):
                seen.append(("generate", args, kw))
                return NS(text="answer")

        monkeypatch.setattr(tg, "_google_client", lambda: NS(GenerativeModel=Model))
        assert (
            tg._llm_generate_text(tg.LLMProvider.GOOGLE, "gemini-x", "q", progress=messages.append, **kwargs)
            == "answer"
        )
        options = {"retry": None, "timeout": 300.0}  # the module's timeout, and no retries of the library's
        assert seen == [
            ("model", ("gemini-x",), {}),
            ("generate", ("q",), {"generation_config": settings, "request_options": options}),
        ]
        assert messages == ["[LLM] Gemini \u2022 gemini-x: sending request", "[LLM] Gemini: response received"]

    @pytest.mark.parametrize(
        "response, expected",
        [
            (
                NS(
                    text="",
                    candidates=[
                        NS(content=NS(parts=[NS(text="a"), NS(text=None)])),
                        NS(content=NS(parts=[NS(text="b"), NS(other=1)])),
                    ],
                ),
                "ab",
            ),
            (NS(), ""),
            (NS(text=None, candidates=[]), ""),
            (NS(candidates=[NS(content=None), NS(content=NS(no_parts=1)), NS(content=NS(parts=[NS(text="c")]))]), "c"),
        ],
    )
    def test_gemini_text_extraction(self, tg, monkeypatch, response, expected):
        model = NS(generate_content=lambda *a, **k: response)
        monkeypatch.setattr(tg, "_google_client", lambda: NS(GenerativeModel=lambda name: model))
        assert tg._llm_generate_text(tg.LLMProvider.GOOGLE, "gemini-x", "q") == expected

    def test_gemini_text_errors_other_than_missing_pass_through(self, tg, monkeypatch):
        class Blocked:
            @property
            def text(self):
                raise ValueError("blocked")

        model = NS(generate_content=lambda *a, **k: Blocked())
        monkeypatch.setattr(tg, "_google_client", lambda: NS(GenerativeModel=lambda name: model))
        with pytest.raises(ValueError, match="blocked"):
            tg._llm_generate_text(tg.LLMProvider.GOOGLE, "gemini-x", "q")

    def test_ollama_branch_passes_only_the_limit(self, tg, monkeypatch, messages):
        seen = []
        monkeypatch.setattr(tg, "_ollama_generate_text", lambda *a, **k: seen.append((a, k)) or "")
        assert tg._llm_generate_text(tg.LLMProvider.OLLAMA, "llama3", "q", None, 0.7, ["x"], messages.append) == ""
        assert seen == [((), dict(model_name="llama3", prompt="q", num_predict=None))]
        assert messages == ["[LLM] Ollama \u2022 llama3: generating", "[LLM] Ollama: response received"]


class TestCreateParams:
    def test_defaults_and_order(self, tg):
        assert tg._build_create_params("m", "x") == {"model": "m", "input": "x", "response_format": {"type": "json"}}
        stop = ["END"]
        params = tg._build_create_params("m", "x", 10, 0.0, stop)
        assert list(params) == ["model", "input", "response_format", "max_output_tokens", "temperature", "stop"]
        assert params["stop"] is stop and params["temperature"] == 0.0
        assert "stop" not in tg._build_create_params("m", "x", stop=[])

    @pytest.mark.parametrize(
        "bad",
        [dict(temperature=1), dict(max_tokens=False), dict(max_tokens=1.0), dict(stop="x"), dict(model_name=None)],
    )
    def test_kinds(self, tg, bad):
        with pytest.raises(TypeError, match="_build_create_params"):
            tg._build_create_params(**(dict(model_name="m", input_text="x") | bad))


def reference_strip(msg, params):
    """The stripping step written with the host's own string and regex operations."""
    low, removed = msg.lower(), False
    for k in FALLBACK:
        if k in params and (
            f"unexpected keyword argument '{k}'" in low or f"unsupported parameter: '{k}'" in low or k in low
        ):
            del params[k]
            removed = True
    m = re.search(r"unsupported parameter:\s*'([^']+)'", msg, re.IGNORECASE)
    if m and m.group(1) in params:
        del params[m.group(1)]
        removed = True
    m = re.search(r"parameter\s*'([^']+)'\s*is not supported", msg, re.IGNORECASE)
    if m and m.group(1) in params:
        del params[m.group(1)]
        return True
    return removed


class TestRetry:
    PARAMS = {"model": "m", "input": "x", "response_format": {"type": "json"}, "stop": ["s"], "temperature": 0.1}

    def test_stripped_retry_is_immediate(self, tg, no_sleep, messages):
        c = client(TypeError("Unexpected keyword argument 'response_format'"), "OK")
        params = dict(self.PARAMS)
        assert tg._call_openai_with_retry(c, params, progress=messages.append) == "OK"
        assert [sorted(k) for k in c.responses.calls] == [sorted(params), ["input", "model", "stop", "temperature"]]
        assert params == self.PARAMS and no_sleep == []
        assert messages == [
            "[LLM] OpenAI: Unexpected keyword argument 'response_format'",
            "[LLM] OpenAI: retrying without unsupported parameters",
        ]

    @pytest.mark.parametrize(
        "msg, gone",
        [
            ("the stream stopped", {"stop"}),
            ("Unsupported parameter: 'max_output_tokens' is not supported with this model.", {"max_output_tokens"}),
            ("Parameter 'seed' is not supported", {"seed"}),
            ("bad temperature; reasoning off", {"temperature"}),
        ],
    )
    def test_what_a_message_removes(self, tg, no_sleep, msg, gone):
        params = dict(self.PARAMS, max_output_tokens=5, seed=1)
        c = client(ValueError(msg), "OK")
        tg._call_openai_with_retry(c, MappingProxyType(params))
        assert set(params) - set(c.responses.calls[1]) == gone

    def test_unstrippable_failures_back_off_then_fail(self, tg, no_sleep, messages):
        c = client(*[ConnectionError("boom")] * 3)
        with pytest.raises(RuntimeError) as info:
            tg._call_openai_with_retry(c, {"model": "m"}, progress=messages.append)
        assert str(info.value) == "OpenAI request failed after 3 attempts: boom"
        assert info.value.__cause__ is None and isinstance(info.value.__context__, ConnectionError)
        # No wait after the last attempt: nothing follows it.
        assert no_sleep == [1.5, 3.0] and len(c.responses.calls) == 3
        assert messages[1:-1:2] == [f"[LLM] OpenAI: retry {i}/3 after error: boom" for i in (1, 2)]
        assert messages[-1] == "[LLM] OpenAI: failed after 3 attempts"

    def test_zero_retries_sends_nothing(self, tg, messages):
        c = client()
        with pytest.raises(RuntimeError, match=r"^OpenAI request failed after 0 attempts: None$"):
            tg._call_openai_with_retry(c, {}, 0, progress=messages.append)
        assert messages == ["[LLM] OpenAI: failed after 0 attempts"] and c.responses.calls == []

    def test_falsy_error_and_int_backoff(self, tg, no_sleep, messages):
        class Falsy(Exception):
            def __bool__(self):
                return False

        tg._call_openai_with_retry(client(Falsy("hidden"), "OK"), {}, 2, 2, messages.append)
        assert messages[0] == "[LLM] OpenAI: unknown error" and no_sleep == [2.0]

    def test_interrupt_passes_at_once(self, tg, no_sleep):
        c = client(KeyboardInterrupt(), "OK")
        with pytest.raises(KeyboardInterrupt):
            tg._call_openai_with_retry(c, {})
        assert len(c.responses.calls) == 1

    def test_signature_filter(self, tg, no_sleep):
        sent = []

        def create(*, model, input, temperature=None):
            sent.append(dict(model=model, input=input, temperature=temperature))
            return "OK"

        tg._call_openai_with_retry(NS(responses=NS(create=create)), dict(self.PARAMS))
        assert sent == [{"model": "m", "input": "x", "temperature": 0.1}]

    def test_broken_signature_means_no_filter(self, tg, no_sleep):
        class Opaque:
            calls = []

            @property
            def __signature__(self):
                raise RuntimeError("no signature")

            def __call__(self, **kw):
                self.calls.append(kw)
                return "OK"

        create = Opaque()
        tg._call_openai_with_retry(NS(responses=NS(create=create)), dict(self.PARAMS))
        assert create.calls == [self.PARAMS]

    @pytest.mark.parametrize(
        "args, error",
        [
            (([],), TypeError),
            (({}, True), TypeError),
            (({}, 3, "1"), TypeError),
            (({}, 3, -1.0), ValueError),
            (({}, 3, float("nan")), ValueError),
        ],
    )
    def test_argument_kinds(self, tg, args, error):
        with pytest.raises(error, match="_call_openai_with_retry"):
            tg._call_openai_with_retry(client("OK"), *args)

    def test_stripping_agrees_with_the_host_regex_engine(self, tg, no_sleep):
        keys = FALLBACK + ["model", "seed", "Seed", "top_p", "x y", " seed", "\u00e9", "\ud800"]
        rng = random.Random(5)

        def ws():
            return "".join(rng.choice([" ", "\u2003", "\n", "\u200b", "\t"]) for _ in range(rng.randint(0, 2)))

        def clause():
            head = rng.choice(
                [
                    "unsupported parameter:",
                    "UNSUPPORTED PARAMETER:",
                    "un\u017fupported parameter:",
                    "unsupported  parameter:",
                    "parameter",
                    "PARAMETER",
                    "Parameter",
                    "param\u00e9ter",
                    "unexpected keyword argument ",
                ]
            )
            tail = rng.choice(
                [
                    " is not supported",
                    " \u0130S NOT SUPPORTED",
                    " \u0131s not \u017fupported",
                    " is  not supported",
                    "",
                    " with this model.",
                ]
            )
            name = rng.choice(keys + ["", "other", "STOP"])
            return head + ws() + "'" + name + rng.choice(["'", "", "''"]) + ws() + tail

        for _ in range(600):
            msg = rng.choice(["", "Error: ", "\u00e9 "]) + " ".join(clause() for _ in range(rng.randint(1, 3)))
            expected = dict.fromkeys(keys, 0)
            stripped = reference_strip(msg, expected)
            c = client(ValueError(msg), "OK")
            tg._call_openai_with_retry(c, dict.fromkeys(keys, 0), 2)
            assert (c.responses.calls[1], len(no_sleep) == 0) == (expected, stripped), msg
            no_sleep.clear()


class TestCoalesce:
    @pytest.mark.parametrize(
        "resp, expected",
        [
            (NS(output_text="direct"), "direct"),
            (NS(output_text="", output=[NS(content=[NS(text="A"), NS(text="B")])]), "AB"),
            (NS(output=[NS(text="X")]), "X"),
            (
                NS(
                    output=[
                        NS(content=[{"type": "output_text", "text": "Y"}, {"type": "x"}, {"text": 3}, NS(text=None)])
                    ]
                ),
                "Y",
            ),
            (NS(output=[NS(content=[NS(text=7)])]), 7),  # join fails; the first block is read directly
            (NS(output=[]), ""),
            (NS(output=None), ""),
            (object(), ""),
            (None, ""),
        ],
    )
    def test_shapes(self, tg, resp, expected):
        assert tg._coalesce_response_text(resp) == expected

    def test_output_text_errors_pass_through(self, tg):
        class Bad:
            @property
            def output_text(self):
                raise ValueError("unreadable")

        with pytest.raises(ValueError):
            tg._coalesce_response_text(Bad())


class TestClients:
    def test_openai_client(self, tg, monkeypatch):
        made = []
        install(monkeypatch, "openai", OpenAI=lambda **kw: made.append(kw) or object())
        monkeypatch.setenv("OPENAI_API_KEY", "k1")
        assert tg._openai_client() is tg._openai_client()  # shared while its settings hold
        assert made == [{"api_key": "k1", "timeout": 300.0, "max_retries": 0}]
        tg.REQUEST_TIMEOUT = None  # the library's own timeout; still no retries of its own
        tg._openai_client()
        tg.REQUEST_TIMEOUT = 7
        tg._openai_client()
        assert made[1:] == [{"api_key": "k1", "max_retries": 0}, {"api_key": "k1", "timeout": 7.0, "max_retries": 0}]
        monkeypatch.setenv("OPENAI_API_KEY", "")
        with pytest.raises(RuntimeError, match=r"^OPENAI_API_KEY environment variable not set\.$"):
            tg._openai_client()

    @pytest.mark.parametrize("module", [None, types.ModuleType("openai")])
    def test_openai_missing_is_chained(self, tg, monkeypatch, module):
        monkeypatch.setitem(sys.modules, "openai", module)
        with pytest.raises(RuntimeError, match=r"^openai is not installed\. pip install openai$") as info:
            tg._openai_client()
        assert isinstance(info.value.__cause__, ImportError)

    def test_google_client(self, tg, monkeypatch):
        genai = fake_genai(monkeypatch)
        monkeypatch.setenv("GEMINI_API_KEY", "")
        monkeypatch.delenv("GOOGLE_API_KEY", raising=False)
        with pytest.raises(RuntimeError, match=r"^GEMINI_API_KEY environment variable not set\.$"):
            tg._google_client()
        assert genai.calls == []
        monkeypatch.setenv("GEMINI_API_KEY", "g1")
        assert tg._google_client() is genai and tg._google_client() is genai
        assert genai.calls == [("configure", {"api_key": "g1"})] * 2
        # GOOGLE_API_KEY serves when GEMINI_API_KEY is not set; GEMINI_API_KEY wins when both are.
        monkeypatch.setenv("GOOGLE_API_KEY", "g2")
        tg._google_client()
        monkeypatch.setenv("GEMINI_API_KEY", "")
        tg._google_client()
        assert genai.calls[-2:] == [("configure", {"api_key": "g1"}), ("configure", {"api_key": "g2"})]

    def test_google_missing_is_reported_before_the_key(self, tg, monkeypatch):
        monkeypatch.setitem(sys.modules, "google.generativeai", None)
        monkeypatch.setitem(sys.modules, "google.genai", None)
        monkeypatch.delenv("GEMINI_API_KEY", raising=False)
        with pytest.raises(
            RuntimeError, match=r'^google-genai is not installed\. pip install "tarvok\[gemini\]"$'
        ) as info:
            tg._google_client()
        assert isinstance(info.value.__cause__, ImportError)

    def test_google_genai_serves_when_only_it_is_installed(self, tg, monkeypatch, messages):
        made, generated = [], []
        models = NS(
            generate_content=lambda **kw: (
                generated.append(kw) or NS(text="", candidates=[NS(content=NS(parts=[NS(text="a"), NS(text="b")]))])
            ),
            list=lambda: iter(
                [
                    NS(name="models/gemini-2", supported_actions=["generateContent"]),
                    NS(name="models/gemini-1", supported_actions=["generateContent", "countTokens"]),
                    NS(name="models/gemini-e", supported_actions=["embedContent"]),
                    NS(name="models/gemini-0", supported_actions=None),
                ]
            ),
        )
        genai = install(
            monkeypatch,
            "google.genai",
            Client=lambda **kw: made.append(kw) or NS(models=models),
            types=NS(HttpRetryOptions=object),
        )
        install(monkeypatch, "google", genai=genai).__path__ = []
        monkeypatch.setitem(sys.modules, "google.generativeai", None)
        monkeypatch.setenv("GEMINI_API_KEY", "g1")
        tg.REQUEST_TIMEOUT = 2.5
        assert tg._llm_generate_text(tg.LLMProvider.GOOGLE, "gemini-x", "q", 9, 0.1, progress=messages.append) == "ab"
        assert generated == [
            {"model": "gemini-x", "contents": "q", "config": {"max_output_tokens": 9, "temperature": 0.1}}
        ]
        hooks = made[0]["http_options"].pop("client_args")["event_hooks"]  # they bound each request as a whole
        assert callable(hooks["request"][0])
        assert made == [{"api_key": "g1", "http_options": {"timeout": 2500, "retry_options": {"attempts": 1}}}]
        assert messages == ["[LLM] Gemini \u2022 gemini-x: sending request", "[LLM] Gemini: response received"]
        assert tg.list_gemini_models() == ["gemini-1", "gemini-2"]
        monkeypatch.setenv("GEMINI_API_KEY", "")
        with pytest.raises(RuntimeError, match=r"^GEMINI_API_KEY environment variable not set\.$"):
            tg._google_client()

    @pytest.mark.parametrize(
        "value, error",
        [
            ("300", TypeError),
            (True, TypeError),
            ([1], TypeError),
            (0, ValueError),
            (-1.0, ValueError),
            (float("nan"), ValueError),
            (float("inf"), ValueError),
        ],
    )
    def test_request_timeout_must_be_seconds_or_none(self, tg, monkeypatch, value, error):
        made = []
        install(monkeypatch, "openai", OpenAI=lambda **kw: made.append(kw))
        install(monkeypatch, "ollama", Client=lambda **kw: made.append(kw))
        monkeypatch.setenv("OPENAI_API_KEY", "k1")
        tg.REQUEST_TIMEOUT = value
        for call in (tg._openai_client, lambda: tg._ollama_generate_text("m", "p")):
            with pytest.raises(error, match="^REQUEST_TIMEOUT must be"):
                call()
        assert made == []


class TestOllamaGenerate:
    @pytest.mark.parametrize("num_predict, options", [(None, {}), (256, {"num_predict": 256})])
    def test_options(self, tg, monkeypatch, num_predict, options):
        seen = []
        install(monkeypatch, "ollama", generate=lambda *a, **k: seen.append((a, k)) or {"response": "hi"})
        assert tg._ollama_generate_text("llama3", "p", num_predict) == "hi"
        assert seen == [((), dict(model="llama3", prompt="p", options=options))]

    @pytest.mark.parametrize(
        "result, outcome",
        [
            ({"response": ""}, ""),
            ({"response": None}, ""),
            ({}, "Failed to retrieve response text from Ollama response: 'response'"),
            ({"response": 5}, "Failed to retrieve response text from Ollama response: "),
            (None, "Failed to retrieve response text from Ollama response: "),
        ],
    )
    def test_reading_the_reply(self, tg, monkeypatch, result, outcome):
        install(monkeypatch, "ollama", generate=lambda **k: result)
        if outcome == "":
            assert tg._ollama_generate_text("m", "p") == ""
        else:
            with pytest.raises(RuntimeError, match="^" + re.escape(outcome)):
                tg._ollama_generate_text("m", "p")

    def test_a_client_with_the_timeout_is_made_and_closed(self, tg, monkeypatch):
        events = []

        class Client:
            def __init__(self, **kw):
                events.append(("made", kw))

            def generate(self, **kw):
                events.append(("generate", kw))
                if kw["prompt"] == "fail":
                    raise ConnectionError("down")
                return {"response": "hi"}

            def close(self):
                events.append("closed")

        install(monkeypatch, "ollama", Client=Client)
        assert tg._ollama_generate_text("m", "p") == "hi"
        with pytest.raises(ConnectionError):
            tg._ollama_generate_text("m", "fail")
        tg.REQUEST_TIMEOUT = None
        tg._ollama_generate_text("m", "p")
        sent = {"model": "m", "prompt": "p", "options": {}}
        for event in events[:4]:  # the hooks that bound each request as a whole
            if event[0] == "made":
                assert callable(event[1].pop("event_hooks")["request"][0])
        assert events == [
            ("made", {"timeout": 300.0}),
            ("generate", sent),
            "closed",
            ("made", {"timeout": 300.0}),
            ("generate", dict(sent, prompt="fail")),
            "closed",
            ("made", {}),
            ("generate", sent),
            "closed",
        ]

    def test_library_errors(self, tg, monkeypatch):
        install(monkeypatch, "ollama", generate=lambda **k: (_ for _ in ()).throw(ConnectionError("down")))
        with pytest.raises(ConnectionError, match="down"):
            tg._ollama_generate_text("m", "p")
        monkeypatch.setitem(sys.modules, "ollama", None)
        with pytest.raises(RuntimeError, match=r"^ollama package is not installed\. pip install ollama$") as info:
            tg._ollama_generate_text("m", "p")
        assert isinstance(info.value.__cause__, ImportError)
        with pytest.raises(TypeError, match="num_predict"):
            tg._ollama_generate_text("m", "p", True)


class TestListing:
    def test_openai(self, tg, monkeypatch):
        entries = [
            NS(id="gpt-4o"),
            NS(id="gpt-4o"),
            NS(id="o3"),
            NS(id="text-embedding-3-small"),
            {"id": "gpt-x"},
            NS(id=5),
            NS(id=""),
            {"id": None},
            "gpt-str",
        ]
        page = NS(data=entries)
        monkeypatch.setattr(tg, "_openai_client", lambda: NS(models=NS(list=lambda: page)))
        assert tg.list_openai_models() == ["gpt-4o", "gpt-x"]
        assert (
            tg.list_openai_models("")
            == tg.list_openai_models(None)
            == ["gpt-4o", "gpt-x", "o3", "text-embedding-3-small"]
        )
        page = iter(entries)  # no data attribute: the result itself is iterated
        assert tg.list_openai_models("o") == ["o3"]

    def test_openai_failure_is_not_chained(self, tg, monkeypatch):
        def fail():
            raise ConnectionError("no route")

        monkeypatch.setattr(tg, "_openai_client", lambda: NS(models=NS(list=fail)))
        with pytest.raises(RuntimeError, match="^Failed to list OpenAI models: no route$") as info:
            tg.list_openai_models()
        assert info.value.__cause__ is None

    def test_gemini(self, tg, monkeypatch):
        def model(name, methods=("generateContent",)):
            return NS(name=name, supported_generation_methods=list(methods))

        models = [
            model("models/gemini-1.5-flash"),
            model("models/gemini-1.5-flash"),
            model("models/gemini-2.0"),
            model("models/gemini-emb", ["embedContent"]),
            model("gemini-raw"),
            model(None),
            model("models/other"),
        ]
        monkeypatch.setattr(tg, "_google_client", lambda: NS(list_models=lambda request_options: iter(models)))
        assert tg.list_gemini_models() == ["gemini-1.5-flash", "gemini-2.0"]
        assert tg.list_gemini_models("gemini-1.5") == ["gemini-1.5-flash"]
        assert tg.list_gemini_models("") == ["gemini-1.5-flash", "gemini-2.0", "other"]
        models.append(NS(name="models/gemini-3"))
        with pytest.raises(AttributeError):
            tg.list_gemini_models()

    def test_gemini_failure(self, tg, monkeypatch):
        monkeypatch.setattr(tg, "_google_client", lambda: NS(list_models=lambda **kw: 1 / 0))
        with pytest.raises(RuntimeError, match="^Failed to list Gemini models: division by zero$"):
            tg.list_gemini_models()

    def test_ollama(self, tg, monkeypatch):
        tags = [NS(model="llama3:8b"), NS(model="qwen2.5:7b"), NS(model="qwen2.5:7b")]
        install(monkeypatch, "ollama", list=lambda: {"models": tags})
        assert tg.list_ollama_models() == ["llama3:8b", "qwen2.5:7b"]
        assert tg.list_ollama_models("qwen") == ["qwen2.5:7b"]
        install(monkeypatch, "ollama", list=lambda: {"no": []})
        with pytest.raises(RuntimeError, match="^Failed to list Ollama models: 'models'$"):
            tg.list_ollama_models()
        monkeypatch.setitem(sys.modules, "ollama", types.ModuleType("ollama"))
        with pytest.raises(RuntimeError, match="^ollama package is not installed"):
            tg.list_ollama_models()

    @pytest.mark.parametrize(
        "args, target",
        [
            ((), "list_openai_models"),
            (("Ollama", "gpt-5"), "list_ollama_models"),
            ((None, "gemini-pro"), "list_gemini_models"),
        ],
    )
    def test_unified(self, tg, monkeypatch, args, target):
        for name in ("list_openai_models", "list_gemini_models", "list_ollama_models"):
            monkeypatch.setattr(tg, name, lambda *a, _n=name, **k: [_n, a, k])
        assert tg.list_models(*args) == [target, (), {}]
        monkeypatch.setattr(tg, "_infer_provider", lambda *a: "openai")
        with pytest.raises(ValueError, match="^Unsupported LLM provider: openai$"):
            tg.list_models()


def test_key_never_in_our_texts(tg, monkeypatch, no_sleep, caplog, messages):
    """Every message, log line and error this code writes, across the failing paths."""
    key = "sk-never-shown-123"
    monkeypatch.setenv("OPENAI_API_KEY", key)
    monkeypatch.setenv("GEMINI_API_KEY", key)
    shared = client(*[OSError("refused")] * 4, NS(output_text=""))  # one client while the key holds
    install(monkeypatch, "openai", OpenAI=lambda api_key, **kw: shared)
    fake_genai(
        monkeypatch,
        GenerativeModel=lambda n: NS(generate_content=lambda *a, **k: NS(text="")),
        list_models=lambda **kw: 1 / 0,
    )
    texts = []
    with caplog.at_level(logging.DEBUG, logger="tarvok.tarvok_generative"):
        for call in (
            lambda: tg._llm_generate_text(tg.LLMProvider.OPENAI, "gpt-5", "q", progress=messages.append),
            lambda: tg._llm_generate_text(tg.LLMProvider.OPENAI, "gpt-5", "q"),
            lambda: tg._llm_generate_text(tg.LLMProvider.GOOGLE, "gemini", "q"),
            tg.list_gemini_models,
        ):
            try:
                texts.append(call())
            except Exception as error:
                texts.append(f"{error!r} {error.__cause__!r}")
    texts += messages + [r.getMessage() for r in caplog.records]
    assert len(texts) > 8 and not [t for t in texts if key in t]


def test_one_table_feeds_the_enumeration_the_command_and_the_extras(tg, monkeypatch, capsys):
    """Every provider can be named on the command line, and its missing-library
    error points at a distribution that one of the package's extras installs."""
    from pathlib import Path

    import tomllib

    from tarvok import _cli

    values = [member.value for member in tg.LLMProvider]
    assert _cli.main(["models", "--help"]) == 0
    assert ", ".join(values[:-1]) + " or " + values[-1] in " ".join(capsys.readouterr().out.split())

    pyproject = tomllib.loads((Path(__file__).resolve().parent.parent / "pyproject.toml").read_text())
    extras = {
        re.split(r"[<>=\[]", req)[0] for reqs in pyproject["project"]["optional-dependencies"].values() for req in reqs
    }
    for name in ("OPENAI_API_KEY", "GEMINI_API_KEY"):
        monkeypatch.setenv(name, "key")
    for library in ("openai", "google.generativeai", "google.genai", "ollama"):
        monkeypatch.setitem(sys.modules, library, None)  # importing it fails
    # Gemini's message names the library it was first built on; the extra installs that library's successor,
    # which serves as well.
    successor = {"google-generativeai": "google-genai"}
    for value in values:
        if value == "replay":  # answers from files: no library to install
            continue
        with pytest.raises(RuntimeError, match="is not installed. pip install ") as missing:
            tg.list_models(value)
        named = str(missing.value).rsplit(" ", 1)[1]
        extra = re.fullmatch(r'"tarvok\[(\w+)\]"', named)  # the extra, as --help names it
        assert (extra and extra[1] in pyproject["project"]["optional-dependencies"]) or (
            successor.get(named, named) in extras
        ), value
