"""The real `openai` and `ollama` libraries against the scripted server:
request shapes, parameter fallback, listing, and servers that misbehave."""

import logging
import time

import pytest

from llm_fixtures import SECRET_KEY
from llm_server import Reply, ollama_error, ollama_generate, ollama_tags, openai_error, openai_models, openai_response


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

    def test_rejected_parameter_is_stripped_and_retried(self, tg, openai_server, no_sleep, our_texts):
        server = openai_server.server.queue(
            openai_error(400, "Unsupported parameter: 'max_output_tokens' is not supported with this model.",
                         param="max_output_tokens"),
            openai_response("ok"))
        assert tg._llm_generate_text(tg.LLMProvider.OPENAI, "o-test", "p", 32, progress=our_texts.append) == "ok"
        assert [sorted(r.json) for r in server.requests] == [["input", "max_output_tokens", "model"],
                                                             ["input", "model"]]
        assert no_sleep == []
        assert our_texts[1].startswith("[LLM] OpenAI: Error code: 400")
        assert our_texts[2] == "[LLM] OpenAI: retrying without unsupported parameters"

    def test_model_listing(self, tg, openai_server):
        server = openai_server.server.queue(openai_models(["gpt-4o", "o3", "gpt-4o", "gpt-4.1", "text-embedding"]))
        assert tg.list_models() == ["gpt-4.1", "gpt-4o"]
        assert [(r.method, r.path) for r in server.requests] == [("GET", "/v1/models")]

    @pytest.mark.parametrize("reply, error", [
        (Reply.raw(b"{garbage"), "OpenAI request failed after 3 attempts: Expecting property name"),
        (Reply.close(), "OpenAI request failed after 3 attempts: Connection error."),
        (Reply.truncated({"output_text": "x" * 200}), "OpenAI request failed after 3 attempts: Connection error."),
        (Reply.hang(), "OpenAI request failed after 3 attempts: Request timed out."),
        (Reply.raw(b"plain words", content_type="text/plain"), "Empty OpenAI response: plain words."),
        (Reply.json({"output": "odd"}), "Empty OpenAI response: Response("),
        (openai_error(401, "Incorrect API key provided."), "OpenAI request failed after 3 attempts: Error code: 401"),
    ])
    def test_bad_servers_end_in_our_errors(self, tg, openai_server, no_sleep, our_texts, reply, error):
        openai_server.set_timeout(0.2)
        openai_server.server.handler = lambda request: reply
        started = time.monotonic()
        failure = failure_of(lambda: tg._llm_generate_text(tg.LLMProvider.OPENAI, "gpt-test", "p",
                                                           progress=our_texts.append), our_texts)
        assert isinstance(failure, RuntimeError) and str(failure).startswith(error)
        assert time.monotonic() - started < 8

    @pytest.mark.parametrize("reply, error", [(Reply.close(), "Connection error."), (Reply.hang(), "Request timed out."),
                                              (Reply.json(None), "'NoneType' object has no attribute")])
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
            ("/api/generate", {"model": "llama3", "prompt": "q", "options": {"num_predict": 256}, "stream": False})]

    def test_listing(self, tg, ollama_server):
        server = ollama_server.server.queue(ollama_tags(["qwen2.5:7b", "llama3:8b", "qwen2.5:7b"]),
                                            ollama_tags(["qwen2.5:7b", "llama3:8b"]))
        assert tg.list_ollama_models() == ["llama3:8b", "qwen2.5:7b"]
        assert tg.list_models("Ollama", "gpt-5") == ["llama3:8b", "qwen2.5:7b"]
        assert [(r.method, r.path) for r in server.requests] == [("GET", "/api/tags")] * 2

    @pytest.mark.parametrize("reply, generate_error, listing_error", [
        (ollama_error(404, "model 'nope' not found"), "ResponseError", "model 'nope' not found"),
        (Reply.raw(b"<html>"), "JSONDecodeError", "Expecting value"),
        (Reply.close(), "RemoteProtocolError", "Server disconnected"),
        (Reply.hang(), "ReadTimeout", "timed out"),
        (Reply.json({"done": True}), "RuntimeError", "1 validation error"),
    ])
    def test_bad_servers(self, tg, ollama_server, our_texts, reply, generate_error, listing_error):
        ollama_server.set_timeout(0.2)
        ollama_server.server.handler = lambda request: reply
        failure = failure_of(lambda: tg._ollama_generate_text("m", "p"), our_texts)
        assert type(failure).__name__ == generate_error
        if generate_error == "RuntimeError":
            assert str(failure) == "Failed to retrieve response text from Ollama response: 'response'"
        failure = failure_of(tg.list_ollama_models, our_texts)
        assert isinstance(failure, RuntimeError)
        assert str(failure).startswith("Failed to list Ollama models: " + listing_error)
