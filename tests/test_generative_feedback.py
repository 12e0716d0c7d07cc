"""Feedback on an existing model and data pair."""

import json
from pathlib import Path

import pytest
from workflow_fakes import install


@pytest.fixture
def pair_on_disk(tmp_path):
    m, d = tmp_path / "a.mod", tmp_path / "a.dat"
    m.write_text("dvar float x;\n")
    d.write_text("n = 1;\n")
    return str(m), str(d)


@pytest.mark.parametrize(
    "reply",
    [
        {"feedback": "Looks right."},
        {"feedback": "Add a bound.", "revised_model": "dvar float+ x;", "revised_data": "n = 2;"},
        {"feedback": "x", "extra": [1, 2]},
    ],
)
def test_reply_is_returned_as_parsed_and_files_stay(tg, monkeypatch, pair_on_disk, reply):
    install(tg, monkeypatch, [json.dumps(reply)])
    assert tg.generative_feedback("Is it right?", *pair_on_disk) == reply
    model, data = (Path(p).read_text() for p in pair_on_disk)
    assert (model, data) == ("dvar float x;\n", "n = 1;\n")


def test_fenced_reply_and_messages(tg, monkeypatch, pair_on_disk):
    seen = []
    rec = install(tg, monkeypatch, ['```json\n{"feedback": "ok"}\n```'])
    assert tg.generative_feedback("q", *pair_on_disk, progress=seen.append) == {"feedback": "ok"}
    assert seen == ["Generating feedback from LLM", "Feedback received; parsing"]
    assert rec.of("_build_feedback_prompt") == [(("q", "GRAMMAR:BNF", "dvar float x;\n", "n = 1;\n"), {})]
    assert rec.names()[:2] == ["_infer_provider", "_get_grammar_implementation"]


def test_null_reply_gives_none(tg, monkeypatch, pair_on_disk):
    install(tg, monkeypatch, ["null"])
    assert tg.generative_feedback("q", *pair_on_disk) is None


def test_prose_reply(tg, monkeypatch, pair_on_disk):
    install(tg, monkeypatch, ["I think it is fine."])
    with pytest.raises(RuntimeError) as err:
        tg.generative_feedback("q", *pair_on_disk)
    head, response = str(err.value).split("\n")
    assert head.startswith("Failed to parse feedback response as JSON: Expecting value")
    assert response == "Response: I think it is fine."


def test_empty_reply(tg, monkeypatch, pair_on_disk):
    install(tg, monkeypatch, [""])
    with pytest.raises(RuntimeError, match=r"^Empty model response\.$"):
        tg.generative_feedback("q", *pair_on_disk)


@pytest.mark.parametrize("given, sent", [(0.9, 0.0), (None, None)])
def test_temperature(tg, monkeypatch, pair_on_disk, given, sent):
    tg.MAX_OUTPUT_TOKENS = 64
    rec = install(tg, monkeypatch, ['{"feedback": "f"}'])
    tg.generative_feedback("q", *pair_on_disk, temperature=given, stop=["x"], llm_provider="google")
    ((_, kwargs),) = rec.of("_llm_generate_text")
    assert kwargs["temperature"] == sent and kwargs["max_tokens"] == 64 and kwargs["stop"] == ["x"]
    assert rec.of("_infer_provider") == [(("google", "gpt-5"), {})]


def test_missing_data_file_fails_before_any_request(tg, monkeypatch, pair_on_disk, tmp_path):
    rec = install(tg, monkeypatch, ['{"feedback": "f"}'])
    with pytest.raises(FileNotFoundError):
        tg.generative_feedback("q", pair_on_disk[0], str(tmp_path / "missing.dat"))
    assert "_llm_generate_text" not in rec.names()
