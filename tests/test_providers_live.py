"""The real `openai`, `google.genai` and `ollama` libraries against the scripted
server: request shapes, parameter fallback, listing, servers that misbehave,
bounded request time and bounded, key-free messages."""

import logging
import os
import time

import pytest
from llm_fixtures import SECRET_KEY
from llm_server import (
    LLMServer,
    Reply,
    gemini_models,
    gemini_response,
    ollama_error,
    ollama_generate,
    ollama_tags,
    openai_error,
    openai_models,
    openai_response,
)


@pytest.fixture
def our_texts(caplog):
    """Collects every text this module produces: progress lines, its log records and errors."""
    texts = []
    with caplog.at_level(logging.DEBUG, logger="tarvok.tarvok_generative"):
        yield texts
    texts += [r.getMessage() for r in caplog.records if r.name == "tarvok.tarvok_generative"]
    assert not [t for t in texts if SECRET_KEY in t]


def failure_of(call, texts):
    with pytest.raises(Exception) as info:
        call()
    texts.append(str(info.value))
    return info.value


class TestOpenAI:
    def test_signature_filter_and_output_text(self, tg, openai_server, our_texts):
        server = openai_server.server.queue(openai_response("the reply"))
        out = tg._llm_generate_text(tg.LLMProvider.OPENAI, "gpt-test", "prompt", 64, 0.5, ["END"], our_texts.append)
        assert out == "the reply"
        [request] = server.requests
        assert (request.method, request.path) == ("POST", "/v1/responses")
        assert request.json == {"model": "gpt-test", "input": "prompt", "max_output_tokens": 64, "temperature": 0.5}
        assert request.headers["authorization"] == "Bearer " + SECRET_KEY
        assert our_texts == ["[LLM] OpenAI \u2022 gpt-test: sending request", "[LLM] OpenAI: response received"]

    def test_one_client_while_its_settings_hold(self, tg, openai_server, monkeypatch):
        """Requests share the client; a new key, server or timeout makes another; a replaced factory is used."""

        def ask():
            return tg._llm_generate_text(tg.LLMProvider.OPENAI, "gpt-test", "prompt")

        server = openai_server.server.queue(*[openai_response(text) for text in "abc"])
        first = tg._openai_client()
        assert [ask(), ask()] == ["a", "b"] and tg._openai_client() is first
        monkeypatch.setenv("OPENAI_API_KEY", "sk-other")
        assert ask() == "c" and tg._openai_client() is not first
        assert [r.headers["authorization"] for r in server.requests] == ["Bearer " + SECRET_KEY] * 2 + [
            "Bearer sk-other"
        ]
        with LLMServer() as other:
            monkeypatch.setenv("OPENAI_BASE_URL", other.url + "/v1")
            other.queue(openai_response("elsewhere"))
            assert ask() == "elsewhere" and len(server.requests) == 3
            kept = tg._openai_client()
            openai_server.set_timeout(5.0)
            assert tg._openai_client() is not kept
            made = []
            own = openai_server.module.OpenAI(api_key="sk-own", base_url=other.url + "/v1", max_retries=0)
            monkeypatch.setattr(tg, "_openai_client", lambda: made.append(own) or own)
            other.queue(openai_response("own"))
            assert ask() == "own" and made == [own]
            assert other.requests[-1].headers["authorization"] == "Bearer sk-own"

    def test_rejected_parameter_is_stripped_and_retried(self, tg, openai_server, no_sleep, our_texts):
        server = openai_server.server.queue(
            openai_error(
                400,
                "Unsupported parameter: 'max_output_tokens' is not supported with this model.",
                param="max_output_tokens",
            ),
            openai_response("ok"),
        )
        assert tg._llm_generate_text(tg.LLMProvider.OPENAI, "o-test", "p", 32, progress=our_texts.append) == "ok"
        assert [sorted(r.json) for r in server.requests] == [
            ["input", "max_output_tokens", "model"],
            ["input", "model"],
        ]
        assert no_sleep == []
        assert our_texts[1].startswith("[LLM] OpenAI: Error code: 400")
        assert our_texts[2] == "[LLM] OpenAI: retrying without unsupported parameters"

    def test_model_listing(self, tg, openai_server):
        server = openai_server.server.queue(openai_models(["gpt-4o", "o3", "gpt-4o", "gpt-4.1", "text-embedding"]))
        assert tg.list_models() == ["gpt-4.1", "gpt-4o"]
        assert [(r.method, r.path) for r in server.requests] == [("GET", "/v1/models")]

    @pytest.mark.parametrize(
        "reply, error",
        [
            (Reply.raw(b"{garbage"), "OpenAI request failed after 3 attempts: Expecting property name"),
            (Reply.close(), "OpenAI request failed after 3 attempts: Connection error."),
            (Reply.truncated({"output_text": "x" * 200}), "OpenAI request failed after 3 attempts: Connection error."),
            (Reply.hang(), "OpenAI request failed after 3 attempts: request timed out: no complete reply within"),
            (Reply.raw(b"plain words", content_type="text/plain"), "Empty OpenAI response: plain words."),
            (Reply.json({"output": "odd"}), "Empty OpenAI response: Response("),
            (
                openai_error(401, "Incorrect API key provided."),
                "OpenAI request failed after 3 attempts: Error code: 401",
            ),
        ],
    )
    def test_bad_servers_end_in_our_errors(self, tg, openai_server, no_sleep, our_texts, reply, error):
        openai_server.set_timeout(0.2)
        openai_server.server.handler = lambda request: reply
        started = time.monotonic()
        failure = failure_of(
            lambda: tg._llm_generate_text(tg.LLMProvider.OPENAI, "gpt-test", "p", progress=our_texts.append), our_texts
        )
        assert isinstance(failure, RuntimeError) and str(failure).startswith(error)
        assert time.monotonic() - started < 8

    @pytest.mark.parametrize(
        "reply, error",
        [
            (Reply.close(), "Connection error."),
            (Reply.hang(), "request timed out: no complete reply within the 0.2 s request timeout"),
            (Reply.json(None), "'NoneType' object has no attribute"),
        ],
    )
    def test_listing_failures(self, tg, openai_server, our_texts, reply, error):
        openai_server.set_timeout(0.2)
        openai_server.server.handler = lambda request: reply
        failure = failure_of(tg.list_openai_models, our_texts)
        assert isinstance(failure, RuntimeError) and str(failure).startswith("Failed to list OpenAI models: " + error)


class TestOllama:
    def test_generate_through_dispatch(self, tg, ollama_server, our_texts):
        server = ollama_server.server.queue(ollama_generate("hello"), ollama_generate(""))
        assert tg._llm_generate_text(tg.LLMProvider.OLLAMA, "llama3", "p", None, 0.9, ["x"]) == "hello"
        assert tg._ollama_generate_text("llama3", "q", 256) == ""
        assert [(r.path, r.json) for r in server.requests] == [
            ("/api/generate", {"model": "llama3", "prompt": "p", "options": {}, "stream": False}),
            ("/api/generate", {"model": "llama3", "prompt": "q", "options": {"num_predict": 256}, "stream": False}),
        ]

    def test_listing(self, tg, ollama_server):
        server = ollama_server.server.queue(
            ollama_tags(["qwen2.5:7b", "llama3:8b", "qwen2.5:7b"]), ollama_tags(["qwen2.5:7b", "llama3:8b"])
        )
        assert tg.list_ollama_models() == ["llama3:8b", "qwen2.5:7b"]
        assert tg.list_models("Ollama", "gpt-5") == ["llama3:8b", "qwen2.5:7b"]
        assert [(r.method, r.path) for r in server.requests] == [("GET", "/api/tags")] * 2

    @pytest.mark.parametrize(
        "reply, generate_error, listing_error",
        [
            (ollama_error(404, "model 'nope' not found"), "ResponseError", "model 'nope' not found"),
            (Reply.raw(b"<html>"), "JSONDecodeError", "Expecting value"),
            (Reply.close(), "RemoteProtocolError", "Server disconnected"),
            (Reply.hang(), "RuntimeError", "Ollama request timed out"),
            (Reply.json({"done": True}), "RuntimeError", "1 validation error"),
        ],
    )
    def test_bad_servers(self, tg, ollama_server, our_texts, reply, generate_error, listing_error):
        ollama_server.set_timeout(0.2)
        ollama_server.server.handler = lambda request: reply
        failure = failure_of(lambda: tg._ollama_generate_text("m", "p"), our_texts)
        assert type(failure).__name__ == generate_error
        if generate_error == "RuntimeError" and reply.action != "hang":
            assert str(failure) == "Failed to retrieve response text from Ollama response: 'response'"
        failure = failure_of(tg.list_ollama_models, our_texts)
        assert isinstance(failure, RuntimeError)
        assert str(failure).startswith("Failed to list Ollama models: " + listing_error)


class TestGoogleGenai:
    def test_generate_and_list_through_the_successor_library(self, tg, genai_server, our_texts):
        server = genai_server.server.queue(
            gemini_response("an ", "answer"),
            gemini_models(
                {
                    "models/gemini-b": ["generateContent"],
                    "models/gemini-a": ["generateContent"],
                    "models/embed": ["embedContent"],
                    "models/gemini-a ": ["countTokens"],
                }
            ),
        )
        out = tg._llm_generate_text(tg.LLMProvider.GOOGLE, "gemini-test", "prompt", 64, 0.5, ["x"], our_texts.append)
        assert out == "an answer"
        assert tg.list_models("google") == ["gemini-a", "gemini-b"]
        generate, listing = server.requests
        assert (generate.method, generate.path.rsplit("/", 1)[1]) == ("POST", "gemini-test:generateContent")
        assert generate.json == {
            "contents": [{"parts": [{"text": "prompt"}], "role": "user"}],
            "generationConfig": {"temperature": 0.5, "maxOutputTokens": 64},
        }
        assert generate.headers["x-goog-api-key"] == SECRET_KEY
        assert listing.method == "GET" and listing.path.endswith("/models")
        assert our_texts == ["[LLM] Gemini \u2022 gemini-test: sending request", "[LLM] Gemini: response received"]

    def test_errors_name_no_key(self, tg, genai_server, our_texts):
        genai_server.server.handler = lambda request: Reply.json(
            {
                "error": {
                    "code": 401,
                    "message": "API key " + request.headers["x-goog-api-key"] + " not valid",
                    "status": "UNAUTHENTICATED",
                }
            },
            401,
        )
        failure = failure_of(tg.list_gemini_models, our_texts)
        assert str(failure).startswith("Failed to list Gemini models: 401") and "[key hidden]" in str(failure)


class TestBoundedRequests:
    """A server that accepts and never answers costs one request of REQUEST_TIMEOUT per attempt of the
    package's own loop: no hidden retries of the client libraries."""

    def test_openai(self, tg, openai_server, no_sleep, our_texts):
        openai_server.set_timeout(0.3)
        openai_server.server.handler = lambda request: Reply.hang()
        started = time.monotonic()
        failure = failure_of(lambda: tg._llm_generate_text(tg.LLMProvider.OPENAI, "gpt-test", "p"), our_texts)
        assert str(failure) == (
            "OpenAI request failed after 3 attempts: request timed out: no complete reply within the 0.3 s request "
            "timeout (REQUEST_TIMEOUT, --timeout)"
        )
        assert len(openai_server.server.requests) == 3 and no_sleep == [1.5, 3.0]  # none after the last
        assert time.monotonic() - started < 3 * 0.3 + 3

    def test_ollama(self, tg, ollama_server, our_texts):
        ollama_server.set_timeout(0.3)
        ollama_server.server.handler = lambda request: Reply.hang()
        started = time.monotonic()
        assert str(failure_of(lambda: tg._ollama_generate_text("m", "p"), our_texts)).startswith(
            "Ollama request timed out: no complete reply within the 0.3 s request timeout"
        )
        assert str(failure_of(tg.list_ollama_models, our_texts)).startswith("Failed to list Ollama models: ")
        assert len(ollama_server.server.requests) == 2
        assert time.monotonic() - started < 2 * 0.3 + 3

    def test_gemini(self, tg, genai_server, our_texts):
        genai_server.set_timeout(0.3)
        genai_server.server.handler = lambda request: Reply.hang()
        started = time.monotonic()
        failure_of(lambda: tg._llm_generate_text(tg.LLMProvider.GOOGLE, "gemini-test", "p"), our_texts)
        assert len(genai_server.server.requests) == 1
        assert time.monotonic() - started < 0.3 + 3


class TestServerTextInMessages:
    def test_a_megabyte_body_is_cut_and_the_cut_is_named(self, tg, openai_server, our_texts):
        body = "A" * (3 << 20)
        openai_server.server.queue(Reply.raw(body.encode(), content_type="text/plain"))
        failure = failure_of(lambda: tg._llm_generate_text(tg.LLMProvider.OPENAI, "gpt-test", "p"), our_texts)
        assert str(failure) == f"Empty OpenAI response: {'A' * 4000} [... cut after 4000 of {len(body)} characters]."

    def test_a_body_echoing_the_authorization_header_shows_no_key(self, tg, openai_server, no_sleep, our_texts):
        openai_server.server.handler = lambda request: openai_error(
            401, "Incorrect API key provided: " + request.headers["authorization"] + " " + "x" * 10000
        )
        failure = failure_of(
            lambda: tg._llm_generate_text(tg.LLMProvider.OPENAI, "gpt-test", "p", progress=our_texts.append), our_texts
        )
        # The server's text is cut, then the address tried is named.
        url = os.environ["OPENAI_BASE_URL"] + "/responses"
        assert "Bearer [key hidden]" in str(failure) and str(failure).endswith(f" characters] (tried {url})")
        assert len(str(failure)) < 4200
        assert all(len(line) < 4200 for line in our_texts)
        assert sum("Bearer [key hidden]" in line for line in our_texts) >= 3  # each attempt's progress lines

    def test_a_reply_whose_response_is_no_text(self, tg, ollama_server, our_texts):
        ollama_server.server.queue(Reply.json({"model": "m", "response": 5, "done": True}))
        failure = failure_of(lambda: tg._ollama_generate_text("m", "p"), our_texts)
        assert type(failure) is RuntimeError
        assert str(failure).startswith("Failed to retrieve response text from Ollama response: ")
        assert "response" in str(failure)
