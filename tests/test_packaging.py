"""What the wheel holds, and one version for the package and its metadata."""

import importlib.metadata
import os
import pathlib
import re
import shutil
import subprocess
import sys
import venv
import zipfile

import pytest

import tarvok

SOURCE_TREE = pathlib.Path(__file__).resolve().parent.parent
PACKAGE = SOURCE_TREE / "src" / "tarvok"
MODULES = sorted(p.stem for p in PACKAGE.glob("*.pyi"))  # one stub per extension module
CORES = "libtarvok_cores.so.1"  # every core's code, once, beside the modules
BINDINGS = "libtarvok_bindings.so.1"  # every module's binding code, once, beside the modules

# Imports every module, then prints the files of the process's libraries of cores and binding code.
LOAD_EVERY_MODULE = f"""
import importlib
for name in {MODULES!r}:
    importlib.import_module("tarvok." + name)
with open("/proc/self/maps") as maps:
    print(sorted({{line.split()[-1] for line in maps if line.rstrip().endswith(("/{CORES}", "/{BINDINGS}"))}}))
"""


def source_version():
    return re.search(r'^__version__ = "([^"]+)"', (PACKAGE / "__init__.py").read_text(), re.M).group(1)


def test_the_installed_metadata_has_the_package_version():
    assert importlib.metadata.version("tarvok") == tarvok.__version__ == source_version()


@pytest.mark.skipif(not pathlib.Path("/proc/self/maps").exists(), reason="reads the process's mappings")
def test_every_module_uses_the_one_cores_and_bindings_libraries_beside_it(tmp_path):
    import tarvok.solver

    shown = subprocess.run(
        [sys.executable, "-c", LOAD_EVERY_MODULE], capture_output=True, text=True, check=True, cwd=tmp_path
    )
    folder = pathlib.Path(tarvok.solver.__file__).parent
    assert [pathlib.Path(p) for p in eval(shown.stdout)] == [folder / BINDINGS, folder / CORES]


@pytest.fixture(scope="module")
def wheel_file(tmp_path_factory):
    """The wheel scripts/run-tests built and installed (TARVOK_WHEEL); run alone, one built from the source tree."""
    if os.environ.get("TARVOK_WHEEL"):
        return pathlib.Path(os.environ["TARVOK_WHEEL"])
    out = tmp_path_factory.mktemp("wheel")
    env = dict(os.environ, CMAKE_BUILD_PARALLEL_LEVEL="2")
    subprocess.run(
        [sys.executable, "-m", "pip", "wheel", str(SOURCE_TREE), "--no-deps", "--quiet", "-w", str(out)],
        check=True,
        env=env,
        capture_output=True,
    )
    [built] = out.glob("tarvok-*.whl")
    return built


@pytest.fixture(scope="module")
def wheel(wheel_file):
    with zipfile.ZipFile(wheel_file) as archive:
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

    def test_the_cores_are_there_once_and_no_module_carries_a_copy(self, wheel_file, tmp_path):
        with zipfile.ZipFile(wheel_file) as archive:
            libraries = [n for n in archive.namelist() if re.search(r"\.so(\.\d+)?$", n)]
            archive.extractall(tmp_path, libraries)
        modules = [n for n in libraries if not n.endswith((f"/{CORES}", f"/{BINDINGS}"))]
        assert libraries.count(f"tarvok/{CORES}") == libraries.count(f"tarvok/{BINDINGS}") == 1
        assert len(modules) == len(MODULES)
        if shutil.which("nm") is None:
            pytest.skip("no nm to list the symbols")

        def core_symbols(name):
            """The symbols of the cores (namespace tarvok) that a library defines for others."""
            listed = subprocess.run(
                ["nm", "-D", "--defined-only", str(tmp_path / name)], capture_output=True, text=True, check=True
            )
            return [line.split()[-1] for line in listed.stdout.splitlines() if re.search(r" _ZN[KRO]?6tarvok", line)]

        # A module built with a core's static library defines the core's functions itself.
        assert {name: core_symbols(name) for name in modules} == {name: [] for name in modules}
        assert len(core_symbols(f"tarvok/{CORES}")) > 100
        # The library of binding code lends the modules their starts, and none of the cores' names.
        listed = subprocess.run(
            ["nm", "-D", "--defined-only", str(tmp_path / "tarvok" / BINDINGS)], capture_output=True, text=True
        )
        assert len(re.findall(r"tarvok_start_\w+", listed.stdout)) == len(MODULES)
        assert core_symbols(f"tarvok/{BINDINGS}") == []

    @pytest.mark.skipif(not pathlib.Path("/proc/self/maps").exists(), reason="reads the process's mappings")
    def test_every_module_imports_from_a_fresh_install(self, wheel_file, tmp_path):
        venv.create(tmp_path / "venv", with_pip=False)
        python = tmp_path / "venv" / "bin" / "python"
        subprocess.run(
            [sys.executable, "-m", "pip", "--python", str(python), "install", "--quiet", "--no-deps", str(wheel_file)],
            check=True,
            capture_output=True,
        )
        # Isolated (-I): nothing from this environment or the source tree is on the path.
        shown = subprocess.run(
            [str(python), "-I", "-c", LOAD_EVERY_MODULE], capture_output=True, text=True, check=True, cwd=tmp_path
        )
        libraries = [pathlib.Path(p) for p in eval(shown.stdout)]
        assert [p.name for p in libraries] == [BINDINGS, CORES] and {p.parent.name for p in libraries} == {"tarvok"}
        assert all(p.resolve().is_relative_to((tmp_path / "venv").resolve()) for p in libraries)
        example = PACKAGE / "tvl_models" / "transportation"
        checked = subprocess.run(
            [str(tmp_path / "venv" / "bin" / "tarvok"), "check", "transportation.mod", "transportation.dat"],
            capture_output=True,
            text=True,
            cwd=example,
        )
        assert (checked.returncode, checked.stdout.strip()) == (0, "OK")

    def test_metadata_version(self, wheel):
        _, metadata = wheel
        assert f"\nVersion: {source_version()}\n" in metadata
