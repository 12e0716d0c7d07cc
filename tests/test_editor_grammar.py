"""The TextMate grammar of editors/: valid JSON, regexes that compile, every keyword of the language,
and the scopes it gives to a sample line."""

import json
import re
from pathlib import Path

import pytest

GRAMMAR = Path(__file__).resolve().parent.parent / "editors" / "tarvok.tmLanguage.json"


@pytest.fixture(scope="module")
def grammar():
    return json.loads(GRAMMAR.read_text(encoding="utf-8"))


def rules(node):
    """Every rule of the grammar, nested ones included."""
    if isinstance(node, dict):
        if any(key in node for key in ("match", "begin", "include")):
            yield node
        for value in node.values():
            yield from rules(value)
    elif isinstance(node, list):
        for value in node:
            yield from rules(value)


def test_regexes_compile_and_includes_resolve(grammar):
    assert grammar["scopeName"] == "source.tarvok"
    assert set(grammar["fileTypes"]) == {"mod", "dat"}
    count = 0
    for rule in rules(grammar):
        for key in ("match", "begin", "end"):
            if key in rule:
                re.compile(rule[key])
                count += 1
        if "include" in rule:
            assert rule["include"].lstrip("#") in grammar["repository"], rule["include"]
    assert count > 20


def scopes_of(grammar, text):
    """(token, scope) for the leftmost, first-listed single-line matches: a small TextMate scanner."""
    top = [r for r in rules(grammar["patterns"])]
    flat = []

    def expand(rule):
        if "include" in rule:
            for inner in grammar["repository"][rule["include"][1:]]["patterns"]:
                expand(inner)
        else:
            flat.append(rule)

    for rule in top:
        expand(rule)
    out, pos = [], 0
    while pos < len(text):
        best = None
        for rule in flat:
            m = re.compile(rule.get("match") or rule["begin"]).search(text, pos)
            if m and m.end() > m.start() and (best is None or m.start() < best[0].start()):
                best = (m, rule)
        if best is None:
            break
        m, rule = best
        end = m.end()
        if "begin" in rule:
            # Inside: inner matches (escapes) are skipped over, the first `end` closes.
            inner = [re.compile(r["match"]) for r in rule.get("patterns", [])]
            closing = re.compile(rule["end"])
            while end < len(text):
                skip = next((m2 for m2 in (p.match(text, end) for p in inner) if m2), None)
                if skip:
                    end = skip.end()
                    continue
                close = closing.match(text, end)
                if close:
                    end = close.end()
                    break
                end += 1
        if "name" in rule:
            out.append((text[m.start() : end], rule["name"]))
        for group, capture in rule.get("captures", {}).items():
            if int(group) and m.group(int(group)):
                out.append((m.group(int(group)), capture["name"]))
        pos = max(end, pos + 1)
    return out


def test_every_keyword_of_the_language_is_highlighted(grammar):
    from tarvok.language_server import KEYWORDS

    keyword_rules = grammar["repository"]["keywords"]["patterns"]
    for word in KEYWORDS + ("subject to",):
        scopes = [r["name"] for r in keyword_rules if re.fullmatch(r["match"], word)]
        assert scopes, f"'{word}' is not highlighted"
    # `to` alone is a name (a tuple field, say), not a keyword.
    assert not any(re.fullmatch(r["match"], "to") for r in keyword_rules)


def test_a_model_line_gets_its_scopes(grammar):
    tokens = scopes_of(grammar, 'dvar float+ ship[1..3] in 0..2.5e3; // "not a string"')
    assert ("dvar", "storage.modifier.tarvok") in tokens
    assert ("ship", "variable.other.declaration.tarvok") in tokens
    assert ("1", "constant.numeric.tarvok") in tokens and ("3", "constant.numeric.tarvok") in tokens
    assert ("2.5e3", "constant.numeric.tarvok") in tokens
    assert ("..", "keyword.operator.range.tarvok") in tokens
    assert ('// "not a string"', "comment.line.double-slash.tarvok") in tokens
    tokens = scopes_of(grammar, '  capacity: sum(p in P) x[p] <= cap / 2;  names = {"a\\"b", "c"};')
    assert ("capacity", "entity.name.label.tarvok") in tokens
    assert ("sum", "support.function.tarvok") in tokens
    assert ("<=", "keyword.operator.comparison.tarvok") in tokens
    assert ('"a\\"b"', "string.quoted.double.tarvok") in tokens
