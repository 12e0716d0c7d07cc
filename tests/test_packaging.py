"""What the wheel holds, and one version for the package and its metadata."""

import importlib.metadata
import os
import pathlib
import re
import subprocess
import sys
import zipfile

import pytest

import tarvok

SOURCE_TREE = pathlib.Path(__file__).resolve().parent.parent
PACKAGE = SOURCE_TREE / "src" / "tarvok"
MODULES = sorted(p.stem for p in PACKAGE.glob("*.pyi"))  # one stub per extension module


def source_version():
    return re.search(r'^__version__ = "([^"]+)"', (PACKAGE / "__init__.py").read_text(), re.M).group(1)


def test_the_installed_metadata_has_the_package_version():
    assert importlib.metadata.version("tarvok") == tarvok.__version__ == source_version()


@pytest.fixture(scope="module")
def wheel(tmp_path_factory):
    """A wheel built from the source tree; the build folder is kept under build/, so a rebuild is incremental."""
    out = tmp_path_factory.mktemp("wheel")
    env = dict(os.environ, CMAKE_BUILD_PARALLEL_LEVEL="2")
    subprocess.run(
        [
            sys.executable,
            "-m",
            "pip",
            "wheel",
            str(SOURCE_TREE),
            "--no-deps",
            "--quiet",
            "-w",
            str(out),
            f"-Cbuild-dir={SOURCE_TREE / 'build' / 'wheel'}",
        ],
        check=True,
        env=env,
        capture_output=True,
    )
    [built] = out.glob("tarvok-*.whl")
    with zipfile.ZipFile(built) as archive:
        return archive.namelist(), archive.read(f"tarvok-{source_version()}.dist-info/METADATA").decode()


@pytest.mark.slow
class TestWheel:
    def test_everything_is_inside_the_package(self, wheel):
        names, _ = wheel
        outside = [n for n in names if not n.startswith(("tarvok/", f"tarvok-{source_version()}.dist-info/"))]
        assert outside == []

    def test_modules_python_files_documents_and_examples(self, wheel):
        names, _ = wheel
        for module in MODULES:
            assert [n for n in names if re.fullmatch(rf"tarvok/{module}\.[^/]*\.so", n)], module
        python_files = sorted(
            f"tarvok/{p.name}" for p in PACKAGE.iterdir() if p.suffix in (".py", ".pyi") or p.name == "py.typed"
        )
        assert sorted(n for n in names if re.fullmatch(r"tarvok/[^/]+\.pyi?|tarvok/py\.typed", n)) == python_files
        grammars = sorted(f"tarvok/docs/grammars/{p.name}" for p in (SOURCE_TREE / "docs" / "grammars").iterdir())
        assert sorted(n for n in names if n.startswith("tarvok/docs/")) == grammars
        examples = sorted(
            p.relative_to(PACKAGE.parent).as_posix() for p in (PACKAGE / "tvl_models").rglob("*") if p.is_file()
        )
        assert sorted(n for n in names if n.startswith("tarvok/tvl_models/")) == examples
        assert [n for n in names if n.startswith("tarvok/datasets/")] == ["tarvok/datasets/sample.jsonl"]
        # The one C++ file that ships is the front end the CODE grammar mode reads.
        assert [n for n in names if n.endswith((".cpp", ".hpp"))] == ["tarvok/tarvok_core.cpp"]

    def test_metadata_version(self, wheel):
        _, metadata = wheel
        assert f"\nVersion: {source_version()}\n" in metadata
