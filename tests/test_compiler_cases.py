"""The language cases: every model under compiler_cases (with the .dat of the
same name, if any) states its expected outcome in its header: either
`// expect: compiles`, or one `// expect:` line per diagnostic, in order."""

import pathlib
import re

import pytest

from tarvok.tarvok_core import SemanticError, TVLCompiler

CASES = pathlib.Path(__file__).parent / "compiler_cases"
# The lines of a report that the header lists: diagnostics and the cap notice.
REPORTED = re.compile(r"^((model|data):\d+:\d+: |\(stopped after)")


def expectations(model_text):
    expected = []
    for line in model_text.splitlines():
        if not line.startswith("// expect: "):
            break
        expected.append(line[len("// expect: ") :])
    return expected


def load(name):
    model = (CASES / f"{name}.mod").read_text(encoding="utf-8")
    data_path = CASES / f"{name}.dat"
    data = data_path.read_text(encoding="utf-8") if data_path.exists() else ""
    return model, data


NAMES = sorted(p.stem for p in CASES.glob("*.mod"))


def test_every_case_states_its_outcome():
    assert len(NAMES) >= 30
    for name in NAMES:
        assert expectations(load(name)[0]), f"{name}.mod has no '// expect:' header"
    orphans = {p.stem for p in CASES.glob("*.dat")} - set(NAMES)
    assert not orphans, f"data files without a model: {orphans}"


@pytest.mark.parametrize("name", NAMES)
def test_case(name):
    model, data = load(name)
    expected = expectations(model)
    if expected == ["compiles"]:
        result = TVLCompiler().compile_model(model, data)
        assert isinstance(result, dict)
        return
    with pytest.raises(SemanticError) as raised:
        TVLCompiler().compile_model(model, data)
    reported = [line for line in str(raised.value).splitlines() if REPORTED.match(line)]
    assert reported == expected
