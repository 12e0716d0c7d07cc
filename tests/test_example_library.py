"""The worked examples shipped in the package: complete, described, and
accepted by the real compiler."""

import pathlib
import re

import pytest

import tarvok.example_ranker as er
from tarvok.tarvok_core import TVLCompiler

LIBRARY = pathlib.Path(er.__file__).resolve().parent / "tvl_models"
EXAMPLES = sorted(p.name for p in LIBRARY.iterdir() if p.is_dir()) if LIBRARY.is_dir() else []


def read(name, ext):
    return (LIBRARY / name / f"{name}.{ext}").read_text(encoding="utf-8")


def test_library_ships_with_the_package():
    assert len(EXAMPLES) >= 30
    # The ranker's default directory is this library, and it sees one description per example.
    found = er._iter_description_files(LIBRARY)
    assert [p.parent.name for p in found] == EXAMPLES


@pytest.mark.parametrize("name", EXAMPLES)
def test_example_is_complete_and_compiles(name):
    files = sorted(p.name for p in (LIBRARY / name).iterdir())
    assert files == [f"{name}.dat", f"{name}.mod", f"{name}.txt"]
    description = read(name, "txt")
    assert len(description.split()) >= 40, "a description a user would write, not a title"
    model, data = read(name, "mod"), read(name, "dat")
    TVLCompiler().compile_model(model, data)


@pytest.mark.parametrize("name", EXAMPLES)
def test_objective_and_constraints_are_labelled_and_commented(name):
    model = read(name, "mod")
    code = re.sub(r"//[^\n]*", "", model)
    objective = re.search(r"\b(minimize|maximize)\s+([A-Za-z_]\w*)\s*:", code)
    assert objective, "the objective carries a label"
    block = code[code.index("subject to") :] if "subject to" in code else ""
    # Every statement in the constraint block (ended by ';') begins with a label.
    body = block[block.index("{") + 1 :]
    statements = [s.strip() for s in body.split(";") if s.strip().strip("}").strip()]
    for statement in statements:
        statement = re.sub(r"^[\s{}]*(forall\s*\((?:[^()]|\([^()]*\))*\)\s*\{?\s*)*", "", statement)
        assert re.match(r"[A-Za-z_]\w*\s*:", statement), f"unlabelled constraint: {statement!r}"
    comment_lines = [line for line in model.splitlines() if line.strip().startswith("//") or "//" in line]
    assert len(comment_lines) >= 5
