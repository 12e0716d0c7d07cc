"""Cutting JSON out of LLM replies and parsing it."""

import json
import random
import re
import threading
import time

import pytest

FENCE = re.compile(r"```(?:json)?\s*(\{.*\})\s*```", re.DOTALL)


def reference_extract(text):
    """The documented behaviour, written with the host's regex engine."""
    m = FENCE.search(text)
    if m:
        return m.group(1)
    start = text.find("{")
    if start < 0:
        return text
    depth = 0
    for i in range(start, len(text)):
        if text[i] == "{":
            depth += 1
        elif text[i] == "}":
            depth -= 1
            if depth == 0:
                return text[start : i + 1]
    return text


class TestExtract:
    @pytest.mark.parametrize(
        "reply, expected",
        [
            ('```json\n{"a": 1}\n```', '{"a": 1}'),
            ('```\n{"a": 1}\n```', '{"a": 1}'),
            ('```JSON\n{"a": 1}\n```', '{"a": 1}'),  # not the fence; the brace scan finds it
            ('Here: {"a": {"b": 2}} done', '{"a": {"b": 2}}'),
            ('say {"s": "}"} x', '{"s": "}'),  # quotes are not interpreted
            ('```json\n{"a": 1}\n```\ntext\n```json\n{"b": 2}\n```', '{"a": 1}\n```\ntext\n```json\n{"b": 2}'),
            ("no braces at all", "no braces at all"),
            ('{"cut": [1, 2', '{"cut": [1, 2'),
            ("", ""),
            ('```json{"tight":1}```', '{"tight":1}'),
            ('```json\u2003\n{"a": 1}\u3000```', '{"a": 1}'),  # Unicode whitespace counts as \s
            ('x ```json\n{"é": "ü"}\n``` y', '{"é": "ü"}'),
        ],
    )
    def test_cases(self, tg, reply, expected):
        assert tg.extract_json_from_markdown(reply) == expected

    def test_unbalanced_returns_the_very_input(self, tg):
        reply = 'prefix {"a": {'
        assert tg.extract_json_from_markdown(reply) is reply

    def test_lone_surrogates_survive(self, tg):
        assert tg.extract_json_from_markdown('\ud800 {"a": "\udfff"} x') == '{"a": "\udfff"}'

    def test_agrees_with_regex_engine_on_random_replies(self, tg):
        rng = random.Random(20261208)
        pieces = ["```", "json", "JSON", "{", "}", " ", "\n", "\u2003", "x", '"', "`", "\u00e9"]
        for _ in range(20000):
            reply = "".join(rng.choice(pieces) for _ in range(rng.randint(0, 14)))
            assert tg.extract_json_from_markdown(reply) == reference_extract(reply), repr(reply)

    def test_other_threads_run_during_a_long_scan(self, tg):
        """Above a size threshold the scan gives up the host's lock: a ticking thread keeps ticking."""
        text = "{" * (60 << 20)  # unbalanced: the whole text is scanned and returned as it is
        ticks, done = [], threading.Event()

        def tick():
            while not done.is_set():
                ticks.append(time.perf_counter())
                time.sleep(0.001)

        ticker = threading.Thread(target=tick)
        ticker.start()
        try:
            time.sleep(0.05)
            start = time.perf_counter()
            assert tg.extract_json_from_markdown(text) is text
            end = time.perf_counter()
        finally:
            done.set()
            ticker.join()
        during = [t for t in ticks if start < t < end]
        assert end - start > 0.02, "the scan is too quick to tell"
        assert during and during[-1] - during[0] > 0.5 * (end - start)


class TestLoadsRelaxed:
    def test_bare_object_with_whitespace(self, tg):
        assert tg._json_loads_relaxed('  {"model": "m", "data": "d"}\n') == {"model": "m", "data": "d"}

    def test_fenced_object(self, tg):
        assert tg._json_loads_relaxed('```json\n{"aligned": true, "assessment": "ok"}\n```') == {
            "aligned": True,
            "assessment": "ok",
        }

    def test_capital_fence_and_prose(self, tg):
        assert tg._json_loads_relaxed('Sure!\n```JSON\n{"a": 1.5}\n```\nBye') == {"a": 1.5}

    def test_null_is_none(self, tg):
        assert tg._json_loads_relaxed("null") is None

    def test_array_is_refused_with_kind_error(self, tg):
        with pytest.raises(TypeError) as err:
            tg._json_loads_relaxed("[1, 2]")
        assert str(err.value) == "Expected dict, got list"

    @pytest.mark.parametrize("reply, kind", [('"s"', "str"), ("3", "int"), ("2.5", "float"), ("true", "bool")])
    def test_other_kinds(self, tg, reply, kind):
        with pytest.raises(TypeError, match=f"^Expected dict, got {kind}$"):
            tg._json_loads_relaxed(reply)

    @pytest.mark.parametrize(
        "reply",
        ["", "plain prose", 'x {"s": "}"} y', '```json\n{"a": 1}\n```\n```json\n{"b": 2}\n```', '{"cut": [1'],
    )
    def test_decode_errors_propagate(self, tg, reply):
        with pytest.raises(json.JSONDecodeError):
            tg._json_loads_relaxed(reply)

    def test_first_error_is_discarded(self, tg):
        # The first attempt fails (prose); the second succeeds.
        assert tg._json_loads_relaxed('The answer: {"feedback": "fine"}') == {"feedback": "fine"}

    def test_a_long_kind_name_is_cut_at_200_characters(self, tg, monkeypatch):
        Kind = type("\u00e9" * 300, (), {})
        monkeypatch.setattr(json, "loads", lambda text: Kind())
        with pytest.raises(TypeError) as info:
            tg._json_loads_relaxed("{}")
        assert str(info.value) == "Expected dict, got " + "\u00e9" * 200

    def test_interrupt_in_parser_is_not_swallowed(self, tg, monkeypatch):
        def loads(text):
            raise KeyboardInterrupt

        monkeypatch.setattr(json, "loads", loads)
        with pytest.raises(KeyboardInterrupt):
            tg._json_loads_relaxed("{}")
