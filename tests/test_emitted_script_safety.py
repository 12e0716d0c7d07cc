"""Emitted scripts run only what the emitter writes. Hostile texts (coding declarations, every
character some reader takes as a line end, quotes, backslashes, NUL, lone surrogates, bidi
controls) go into every place a model or data text reaches: comments of each kind, set and tuple
elements, string data, and names and labels where the language allows them. The script must parse
to the very statements the emitter writes for the same model with plain texts, keep its first two
lines fixed, and, when run in an empty folder, write nothing but its own output."""

import ast
import json
import os
import pathlib
import subprocess
import sys

import pytest

pytest.importorskip("numpy")
pytest.importorskip("scipy.optimize")
pytest.importorskip("tarvok.solver")
hypothesis = pytest.importorskip("hypothesis")
from hypothesis import HealthCheck, example, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402
from llm_server import openai_response  # noqa: E402

import tarvok.scipy_emitter as emitter  # noqa: E402
from tarvok.tarvok_core import TVLCompiler  # noqa: E402

FIRST_LINES = [b"#!/usr/bin/env python3", b"# -*- coding: utf-8 -*-"]

# Two towns, an arc each way; at most 5 on an arc, 7 in all, and a town ships only when open.
# The optimum is 7 + 2 = 9.
MODEL = """// {c_open}
{{string}} Towns = ...; // {c_line}
tuple Arc {{ string a; string b; }}
{{Arc}} Arcs = ...;
string note = ...;
/* {c_block} */
dvar float+ {var}[Arcs] in 0..5;
dvar boolean {flag}[Towns];
dexpr float {total} = sum(a in Arcs) {var}[a];
maximize {goal}: {total} + sum(t in Towns) {flag}[t];
subject to {{
  forall(t in Towns) {cap}: sum(a in Arcs: a.a == t) {var}[a] <= 5 * {flag}[t]; // {c_row}
  {limit}: {total} <= 7; /* {c_tail} */
}}
"""
DATA = """/* {c_data_open} */
Towns = {{"{s1}", "{s2}"}}; // {c_data}
Arcs = {{<"{s1}", "{s2}">, <"{s2}", "{s1}">}};
note = "{s3}";
"""
COMMENTS = ["c_open", "c_line", "c_block", "c_row", "c_tail", "c_data_open", "c_data"]
BLOCK_COMMENTS = {"c_block", "c_tail", "c_data_open"}
NAMES = ["var", "flag", "total", "goal", "cap", "limit"]
PLAIN = {
    **dict.fromkeys(COMMENTS, ""),
    **{name: f"n{k}" for k, name in enumerate(NAMES)},
    "s1": "p",
    "s2": "q",
    "s3": "r",
}

# What some reader takes as the end of a line, a string or a comment, or as a coding declaration.
FRAGMENTS = [
    "-*- coding: unicode_escape -*-",
    "# vim: set fileencoding=unicode_escape :",
    "\\u000aimport os\\u000aos.system('touch pwned')",
    "\nimport os; open('pwned', 'w')\n",
    '"""',
    "'''",
    '"',
    "\\",
    "\\\\",
    "\\n",
    "\r",
    "\r\n",
    "\f",
    "\x0b",
    "\x1c",
    "\x1d",
    "\x1e",
    "\x85",
    "\u2028",
    "\u2029",
    "\x00",
    "\x1b]0;title\x07",
    "\x9b2J",
    "\u202e",
    "\u2066",
    "\u2069",
    "\u200f",
    "\ud800",
    "\udcff",
    "\ufeff",
    "*/",
    "/*",
    "//",
    "#",
    "]",
    "[",
    "{",
    "}",
]
LINE_ENDS = "\n\r\x0b\x0c\x1c\x1d\x1e\x85\u2028\u2029"
BIDI = "\u202a\u202b\u202c\u202d\u202e\u2066\u2067\u2068\u2069\u200e\u200f\u061c"
TARVOK_WORDS = set(
    "int float string boolean range tuple dvar dexpr minimize maximize subject to forall sum min max abs card in "
    "true false Towns Arcs Arc note a b t".split()
)
# Words a script uses itself, and Python's own.
PYTHON_WORDS = [
    "__import__",
    "exec",
    "eval",
    "os",
    "sys",
    "None",
    "True",
    "lambda",
    "import",
    "inf",
    "nan",
    "np",
    "milp",
    "main",
    "solve",
    "print",
    "COLUMNS",
    "DATA",
    "OFFSET",
    "names",
    "__file__",
    "x",
]

texts = st.lists(st.one_of(st.sampled_from(FRAGMENTS), st.text(max_size=12)), max_size=5).map("".join)
identifiers = st.one_of(
    st.sampled_from(PYTHON_WORDS), st.from_regex(r"[A-Za-z_][A-Za-z0-9_]{0,10}", fullmatch=True)
).filter(lambda name: name not in TARVOK_WORDS)


def line_comment(text):
    """A text for a // comment: up to the line feed that would end it."""
    return text.replace("\n", " ")


def block_comment(text):
    """A text for a /* */ comment: without the '*/' that would end it."""
    while "*/" in text:
        text = text.replace("*/", "* /")
    return text


def string_literal(text):
    """The text as a Tarvok string literal's inside; strings hold UTF-8 text, so no surrogates."""
    text = "".join(c for c in text if not 0xD800 <= ord(c) <= 0xDFFF)
    return text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n")


@st.composite
def hostile_fills(draw):
    fill = {key: (block_comment if key in BLOCK_COMMENTS else line_comment)(draw(texts)) for key in COMMENTS}
    fill.update(zip(NAMES, draw(st.lists(identifiers, min_size=6, max_size=6, unique=True))))
    values = draw(st.lists(texts.map(string_literal), min_size=3, max_size=3))
    hypothesis.assume(values[0] != values[1])
    fill.update(s1=values[0], s2=values[1], s3=values[2])
    return fill


def pair(fill):
    return MODEL.format(**fill), DATA.format(**fill)


def shape(source):
    """The statements of a script with every text constant made the same."""
    tree = ast.parse(source)
    for node in ast.walk(tree):
        if isinstance(node, ast.Constant) and isinstance(node.value, str):
            node.value = "text"
    return ast.dump(tree)


def check_script(raw, plain_raw):
    assert raw.split(b"\n")[:2] == FIRST_LINES
    text = raw.decode("utf-8")  # strictly: no surrogate, no stray byte
    assert text.splitlines() == text.split("\n")[:-1], "a line end other than \\n"
    kept_out = [c for c in text if c in LINE_ENDS[1:] + BIDI or (c < " " and c != "\n") or "\x7f" <= c <= "\x9f"]
    assert not kept_out
    assert shape(raw) == shape(plain_raw)  # bytes: the host honours a coding declaration


def run_in_empty_folder(script, folder):
    """Runs the script from `folder`; its JSON output and the folder's files afterwards."""
    before = sorted(os.listdir(folder))
    done = subprocess.run([sys.executable, str(script)], cwd=folder, capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert sorted(os.listdir(folder)) == before
    return json.loads(done.stdout)


def plain_script(tmp_path, npz=False):
    path = tmp_path / "plain" / "plan.py"
    path.parent.mkdir(exist_ok=True)
    write(*pair(PLAIN), path, npz)
    return path.read_bytes()


def write(model, data, path, npz):
    if not npz:
        return emitter.write_script(model, data, path)
    ast_ = TVLCompiler().compile_model(model, data)
    generator = emitter.SciPyCodeGenerator(ast_, ast_["data"])
    generator.inline_limit = 0  # the numbers and names go to the .npz beside the script
    return generator.write(path)


# One of everything at once: what the commands read from real files and LLM replies.
EVERYTHING = "".join(FRAGMENTS)
ALL_AT_ONCE = {
    **{key: line_comment(EVERYTHING) for key in COMMENTS},
    **{key: block_comment(EVERYTHING) for key in BLOCK_COMMENTS},
    **dict(zip(NAMES, ["__import__", "exec", "os", "None", "COLUMNS", "main"])),
    "s1": string_literal(EVERYTHING),
    "s2": string_literal(EVERYTHING[::-1]),
    "s3": string_literal("-*- coding: unicode_escape -*-"),
}


def examples(n):
    return settings(
        max_examples=n, database=None, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture]
    )


@examples(100)
@given(fill=hostile_fills(), npz=st.booleans())
@example(fill=ALL_AT_ONCE, npz=False)
@example(fill=ALL_AT_ONCE, npz=True)
def test_hostile_texts_change_no_statement(tmp_path, fill, npz):
    model, data = pair(fill)
    path = tmp_path / "hostile.py"
    write(model, data, path, npz)
    check_script(path.read_bytes(), plain_script(tmp_path, npz))
    # The generator's own text, before any file, is the same script.
    ast_ = TVLCompiler().compile_model(model, data)
    generated = emitter.SciPyCodeGenerator(ast_, ast_["data"]).generate_code()
    if not npz:
        assert generated.encode("utf-8", "surrogatepass") == path.read_bytes()


@pytest.mark.slow
@examples(8)
@given(fill=hostile_fills(), npz=st.booleans())
@example(fill=ALL_AT_ONCE, npz=True)
def test_hostile_scripts_write_nothing_but_their_output(tmp_path_factory, fill, npz):
    folder = tmp_path_factory.mktemp("run")
    script = folder / "plan.py"
    write(*pair(fill), script, npz)
    result = run_in_empty_folder(script, folder)
    assert (result["status"], result["objective"]) == ("optimal", 9.0)
    assert set(result["values"]) == {fill["var"], fill["flag"], fill["total"]}


# ------------------------------------------------------------ the commands


def files_of(fill, folder):
    model, data = pair(fill)
    # The files hold UTF-8 text; a lone surrogate cannot be written as such.
    (folder / "m.mod").write_bytes(model.encode("utf-8", "replace"))
    (folder / "d.dat").write_bytes(data.encode("utf-8", "replace"))


def tarvok(*argv, cwd):
    return subprocess.run([sys.executable, "-m", "tarvok", *argv], cwd=cwd, capture_output=True, text=True, timeout=120)


def test_tarvok_emit_keeps_hostile_texts_in_strings_and_comments(tmp_path):
    files_of(ALL_AT_ONCE, tmp_path)
    (tmp_path / "out").mkdir()
    done = tarvok("emit", "m.mod", "d.dat", "-o", "out/plan.py", cwd=tmp_path)
    assert done.returncode == 0, done.stdout + done.stderr
    check_script((tmp_path / "out" / "plan.py").read_bytes(), plain_script(tmp_path))
    result = run_in_empty_folder(tmp_path / "out" / "plan.py", tmp_path / "out")
    assert result["objective"] == 9.0


def test_tarvok_solve_emit_keeps_an_llm_reply_in_strings_and_comments(openai_server, tmp_path):
    model, data = (t.encode("utf-8", "replace").decode("utf-8") for t in pair(ALL_AT_ONCE))
    openai_server.server.queue(openai_response(json.dumps({"model": model, "data": data})), openai_response("Fine."))
    (tmp_path / "out").mkdir()
    done = tarvok(
        "solve", "Ship between two towns.", "-m", "m.mod", "-d", "d.dat", "--model", "gpt-test", "--no-few-shot",
        "--no-alignment", "--iterations", "1", "--emit", "out/plan.py", cwd=tmp_path,
    )  # fmt: skip
    assert done.returncode == 0, done.stdout + done.stderr
    check_script((tmp_path / "out" / "plan.py").read_bytes(), plain_script(tmp_path))
    assert run_in_empty_folder(tmp_path / "out" / "plan.py", tmp_path / "out")["objective"] == 9.0


# ----------------------------------------------------------- linked scripts


def test_a_linked_script_writes_and_reads_the_npz_beside_the_file_it_really_is(tmp_path):
    real, links = tmp_path / "real", tmp_path / "links"
    real.mkdir()
    links.mkdir()
    (links / "plan.py").symlink_to(real / "solver.py")
    # A stale data file beside the link, from another model, must never be read.
    stale = links / "plan.npz"
    stale.write_bytes(b"not the numbers of this model")
    model, data = pair(PLAIN)
    ast_ = TVLCompiler().compile_model(model, data)
    generator = emitter.SciPyCodeGenerator(ast_, ast_["data"])
    generator.inline_limit = 0
    written = generator.write(links / "plan.py")
    assert [pathlib.Path(p) for p in written] == [links / "plan.py", real / "solver.npz"]
    assert (links / "plan.py").is_symlink() and (real / "solver.npz").is_file()
    assert stale.read_bytes() == b"not the numbers of this model"
    # Run through the link, from a third folder: the numbers come from beside the real file.
    result = run_in_empty_folder(links / "plan.py", tmp_path)
    assert (result["status"], result["objective"]) == ("optimal", 9.0)


def test_tarvok_emit_to_a_link_names_the_npz_it_wrote(tmp_path):
    real = tmp_path / "real"
    real.mkdir()
    (tmp_path / "plan.py").symlink_to(real / "solver.py")
    rows = "\n".join(f"  r{i}: x[{i}] + x[{i + 1}] >= 1;" for i in range(1, 3000))
    (tmp_path / "m.mod").write_text(
        f"dvar float+ x[1..3000];\nminimize sum(i in 1..3000) x[i];\nsubject to {{\n{rows}\n}}\n"
    )
    (tmp_path / "d.dat").write_text("")
    (tmp_path / "plan.npz").write_bytes(b"stale")
    done = tarvok("emit", "m.mod", "d.dat", "-o", "plan.py", cwd=tmp_path)
    assert (done.returncode, done.stdout) == (0, f"Wrote plan.py and {real / 'solver.npz'}\n"), done.stderr
    assert (tmp_path / "plan.npz").read_bytes() == b"stale"
    assert run_in_empty_folder(tmp_path / "plan.py", real)["status"] == "optimal"
