"""The grammar documents that are pasted into prompts: the Markdown reference
stays small and every example in it compiles; the GBNF grammar is well formed
and accepts exactly what the compiler parses."""

import pathlib
import re

import language_cases
import pytest

from tarvok.tarvok_core import SemanticError, TVLCompiler

GRAMMARS = pathlib.Path(__file__).parent.parent / "docs" / "grammars"
MARKDOWN = GRAMMARS / "Tarvok grammar.md"
GBNF = GRAMMARS / "Tarvok_GBNF"


def fenced_blocks(text):
    """(language, body) of every fenced block, in order."""
    return re.findall(r"^```([\w-]*)\n(.*?)^```", text, flags=re.M | re.S)


def example_pairs():
    """Each `tarvok` block with the `tarvok-data` block right after it (or none)."""
    blocks = fenced_blocks(MARKDOWN.read_text(encoding="utf-8"))
    pairs = []
    for index, (language, body) in enumerate(blocks):
        if language == "tarvok":
            follows = blocks[index + 1] if index + 1 < len(blocks) else ("", "")
            pairs.append((body, follows[1] if follows[0] == "tarvok-data" else ""))
        else:
            assert language == "tarvok-data" and blocks[index - 1][0] == "tarvok", "stray block"
    return pairs


def test_markdown_reference_is_compact():
    assert len(MARKDOWN.read_bytes()) < 12 * 1024
    assert len(example_pairs()) >= 4


@pytest.mark.parametrize("model, data", example_pairs())
def test_every_markdown_example_compiles(model, data):
    TVLCompiler().compile_model(model, data)


# ---------------------------------------------------------------- a GBNF reader and recognizer
# Enough of GBNF to check that the shipped grammar is well formed and accepts what the compiler
# parses: rules become productions over characters, recognised with Earley's algorithm.


_TOKEN = re.compile(
    r"""(?P<space>\s+|\#[^\n]*)
      |(?P<define>::=)
      |(?P<name>[A-Za-z][A-Za-z0-9-]*)
      |(?P<string>"(?:[^"\\]|\\.)*")
      |(?P<cls>\[(?:[^\]\\]|\\.)*\])
      |(?P<op>[()|*+?])""",
    re.X,
)
_ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "\\": "\\", '"': '"', "]": "]", "[": "[", "-": "-", "^": "^"}


def _unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\":
            out.append(_ESCAPES[text[i + 1]])
            i += 2
        else:
            out.append(text[i])
            i += 1
    return out


class CharClass:
    def __init__(self, body):
        self.negated = body.startswith("^")
        chars = _unescape(body[1:] if self.negated else body)
        self.ranges = []
        i = 0
        while i < len(chars):
            if i + 2 < len(chars) and chars[i + 1] == "-":
                self.ranges.append((chars[i], chars[i + 2]))
                i += 3
            else:
                self.ranges.append((chars[i], chars[i]))
                i += 1

    def __contains__(self, c):
        return any(lo <= c <= hi for lo, hi in self.ranges) != self.negated


class Grammar:
    """Rules as productions over nonterminal numbers and terminal matchers."""

    def __init__(self, text):
        tokens, at = [], 0
        while at < len(text):
            m = _TOKEN.match(text, at)
            assert m, f"unreadable grammar text at {text[at : at + 30]!r}"
            if m.lastgroup != "space":
                tokens.append((m.lastgroup, m.group()))
            at = m.end()
        self.names = {}
        self.productions = []  # (lhs, symbols); a symbol is an int (nonterminal) or a matcher
        self.defined = set()
        rules, i = [], 0
        while i < len(tokens):
            assert tokens[i][0] == "name" and tokens[i + 1][0] == "define", f"rule expected at {tokens[i]}"
            j = i + 2
            while j < len(tokens) and not (
                tokens[j][0] == "name" and j + 1 < len(tokens) and tokens[j + 1][0] == "define"
            ):
                j += 1
            rules.append((tokens[i][1], tokens[i + 2 : j]))
            i = j
        for name, body in rules:
            assert name not in self.defined, f"rule {name} defined twice"
            self.defined.add(name)
            lhs = self._nonterminal(name)
            alternatives, rest = self._alternatives(body)
            assert not rest, f"trailing tokens in rule {name}: {rest[:3]}"
            for symbols in alternatives:
                self.productions.append((lhs, symbols))
        self.undefined = {n for n in self.names if n not in self.defined and not n.startswith(" ")}
        self._index()

    def _nonterminal(self, name):
        if name not in self.names:
            self.names[name] = len(self.names)
        return self.names[name]

    def _fresh(self, alternatives):
        lhs = self._nonterminal(f" {len(self.names)}")
        for symbols in alternatives:
            self.productions.append((lhs, symbols))
        return lhs

    def _alternatives(self, tokens):
        alternatives, current = [], []
        while tokens and tokens[0] != ("op", ")"):
            if tokens[0] == ("op", "|"):
                alternatives.append(current)
                current, tokens = [], tokens[1:]
                continue
            symbols, tokens = self._item(tokens)
            current += symbols
        alternatives.append(current)
        return alternatives, tokens

    def _item(self, tokens):
        kind, value = tokens[0]
        tokens = tokens[1:]
        if kind == "name":
            symbols = [self._nonterminal(value)]
        elif kind == "string":
            symbols = [CharClass("\\" + c if c in "\\]^-[" else c) for c in _unescape(value[1:-1])]
        elif kind == "cls":
            symbols = [CharClass(value[1:-1])]
        elif (kind, value) == ("op", "("):
            alternatives, tokens = self._alternatives(tokens)
            assert tokens and tokens[0] == ("op", ")"), "unclosed group"
            tokens = tokens[1:]
            symbols = [self._fresh(alternatives)]
        else:
            raise AssertionError(f"unexpected {value!r}")
        if tokens and tokens[0][0] == "op" and tokens[0][1] in "*+?":
            op = tokens[0][1]
            tokens = tokens[1:]
            inner = self._fresh([symbols]) if len(symbols) != 1 else symbols[0]
            rep = self._nonterminal(f" {len(self.names)}")
            if op == "*":
                self.productions += [(rep, []), (rep, [rep, inner])]
            elif op == "+":
                self.productions += [(rep, [inner]), (rep, [rep, inner])]
            else:
                self.productions += [(rep, []), (rep, [inner])]
            symbols = [rep]
        return symbols, tokens

    def _index(self):
        self.by_lhs = {}
        for index, (lhs, _) in enumerate(self.productions):
            self.by_lhs.setdefault(lhs, []).append(index)
        self.nullable = set()
        changed = True
        while changed:
            changed = False
            for lhs, symbols in self.productions:
                if lhs not in self.nullable and all(isinstance(s, int) and s in self.nullable for s in symbols):
                    self.nullable.add(lhs)
                    changed = True

    def reachable_from(self, start):
        seen, todo = set(), [self.names[start]]
        while todo:
            n = todo.pop()
            if n in seen:
                continue
            seen.add(n)
            for p in self.by_lhs.get(n, []):
                todo += [s for s in self.productions[p][1] if isinstance(s, int)]
        return {name for name, n in self.names.items() if n in seen and not name.startswith(" ")}

    def accepts(self, start, text):
        """Earley recognition of the whole `text` from rule `start`."""
        productions, by_lhs, nullable = self.productions, self.by_lhs, self.nullable
        root = self.names[start]
        chart = [dict() for _ in range(len(text) + 1)]  # item -> None, kept in insertion order

        def add(column, item, agenda):
            if item not in chart[column]:
                chart[column][item] = None
                agenda.append(item)

        for p in by_lhs[root]:
            chart[0][(p, 0, 0)] = None
        for i in range(len(text) + 1):
            agenda = list(chart[i])
            predicted = set()
            while agenda:
                p, dot, origin = agenda.pop()
                symbols = productions[p][1]
                if dot < len(symbols):
                    symbol = symbols[dot]
                    if isinstance(symbol, int):
                        if symbol not in predicted:
                            predicted.add(symbol)
                            for q in by_lhs.get(symbol, ()):
                                add(i, (q, 0, i), agenda)
                        if symbol in nullable:
                            add(i, (p, dot + 1, origin), agenda)
                    elif i < len(text) and text[i] in symbol:
                        chart[i + 1][(p, dot + 1, origin)] = None
                else:
                    lhs = productions[p][0]
                    for q, qdot, qorigin in list(chart[origin]):
                        qsymbols = productions[q][1]
                        if qdot < len(qsymbols) and qsymbols[qdot] == lhs:
                            add(i, (q, qdot + 1, qorigin), agenda)
            if i < len(text) and not chart[i + 1]:
                return False
        return any(
            productions[p][0] == root and dot == len(productions[p][1]) and origin == 0
            for p, dot, origin in chart[len(text)]
        )


@pytest.fixture(scope="module")
def grammar():
    return Grammar(GBNF.read_text(encoding="utf-8"))


def case_pair(name):
    case = language_cases.read(name)
    return case.model, case.data


COMPILING = [name for name in language_cases.names() if language_cases.read(name).compiles]
SYNTAX_ERRORS = [
    "syntax/err_brackets",
    "syntax/err_constraint_ops",
    "syntax/err_order",
    "syntax/err_semicolons",
    "syntax/err_tokens",
    "syntax/err_lexical",
]


def test_gbnf_is_well_formed(grammar):
    assert grammar.undefined == set()
    assert grammar.defined == grammar.reachable_from("root") | grammar.reachable_from("data")


def test_gbnf_accepts_every_compiling_pair(grammar):
    pairs = example_pairs() + [case_pair(name) for name in COMPILING]
    for model, data in pairs:
        TVLCompiler().compile_model(model, data)  # the compiler agrees that the pair is valid
        assert grammar.accepts("root", model), model[:200]
        assert grammar.accepts("data", data), data[:200]


@pytest.mark.parametrize("name", SYNTAX_ERRORS)
def test_gbnf_rejects_what_does_not_parse(grammar, name):
    model, _ = case_pair(name)
    assert not grammar.accepts("root", model)


def test_gbnf_rejects_malformed_data(grammar):
    for data in ['Cities = {"A" "B"};', "cost = [1, 2,];", "n = 2 * 3;", "f = g;", "int n = 3;", "x = 1"]:
        assert not grammar.accepts("data", data), data
        with pytest.raises(SemanticError):
            TVLCompiler().compile_model("dvar float x;\nminimize x;", data)
