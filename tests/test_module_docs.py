"""What a user reads about the modules: help() and the `.pyi` stubs (checked by mypy's stubtest)."""

import importlib
import os
import pydoc
import subprocess
import sys
from pathlib import Path

import pytest

import tarvok

MODULES = sorted(p.stem for p in Path(tarvok.__file__).parent.glob("*.pyi"))
#: Classes that pybind11 itself makes; their base class is pybind11's own.
PYBIND11_CLASSES = {"tarvok.tarvok_core": "TVLCompiler", "tarvok.solver": "Program|SolveResult"}


@pytest.mark.parametrize("name", MODULES)
def test_help_shows_no_pybind11_internals(name):
    module = importlib.import_module(f"tarvok.{name}")
    text = pydoc.render_doc(module, renderer=pydoc.plaintext)
    assert "function_record" not in text and " method of " not in text
    if f"tarvok.{name}" not in PYBIND11_CLASSES:
        assert "pybind11" not in text


@pytest.mark.slow
def test_stubtest_finds_no_mismatch(tmp_path):
    pytest.importorskip("mypy", reason="mypy is not installed")
    # Stubs are looked up beside the installed package (an editable install keeps them elsewhere).
    env = dict(os.environ, MYPYPATH=str(Path(tarvok.__file__).resolve().parent.parent))
    allowlist = Path(__file__).with_name("stubtest_allowlist.txt")
    done = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "tarvok", "--allowlist", str(allowlist), "--ignore-unused-allowlist"],
        cwd=tmp_path,
        env=env,
        capture_output=True,
        text=True,
        timeout=600,
    )
    assert done.returncode == 0, done.stdout + done.stderr
