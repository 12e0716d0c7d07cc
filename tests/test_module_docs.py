"""What a user reads about the modules: help() and the `.pyi` stubs (checked by mypy's stubtest)."""

import importlib
import os
import pydoc
import subprocess
import sys
import sysconfig
from pathlib import Path

import pytest

import tarvok

MODULES = sorted(p.stem for p in Path(tarvok.__file__).parent.glob("*.pyi"))
#: Classes that pybind11 itself makes; their base class is pybind11's own.
PYBIND11_CLASSES = {
    "tarvok.tarvok_core": "TVLCompiler",
    "tarvok.solver": "Program|SolveResult|CompiledModel",
    "tarvok.tarvok_generative": "GenerationResult",
}


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
    # An editable install keeps the stubs outside site-packages; mypy is then told where.
    env = dict(os.environ)
    package_root = Path(tarvok.__file__).resolve().parent.parent
    site = {Path(p).resolve() for p in (sysconfig.get_path("purelib"), sysconfig.get_path("platlib"))}
    if package_root not in site:
        env["MYPYPATH"] = str(package_root)
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
