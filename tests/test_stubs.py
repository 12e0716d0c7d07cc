"""The `.pyi` stubs against the installed modules, checked by mypy's stubtest."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

import tarvok

pytest.importorskip("mypy", reason="mypy is not installed")


@pytest.mark.slow
def test_stubtest_finds_no_mismatch(tmp_path):
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
