"""The language cases (compiler_cases/<area>/, described in its README.md): each compiles, or reports exactly
the errors written beside its lines; warnings are held to when a case writes any; a stated objective is the
optimum HiGHS finds."""

import importlib.util

import language_cases
import pytest
from language_cases import OBJECTIVE_TOLERANCE, ROOT, Diagnostic, MalformedCase

from tarvok.tarvok_core import SemanticError, TVLCompiler

NAMES = language_cases.names()
CASES = {name: language_cases.read(name) for name in NAMES}
WITH_OBJECTIVE = [name for name in NAMES if CASES[name].objective is not None]


def test_the_cases_are_grouped_by_area():
    assert len(NAMES) >= 40
    assert {"syntax", "names", "types", "data", "linearity", "instances"} <= {n.split("/")[0] for n in NAMES}
    assert all(n.count("/") == 1 for n in NAMES), "a case lives in one area folder, one level deep"
    orphans = {p.relative_to(ROOT).with_suffix("").as_posix() for p in ROOT.rglob("*.dat")} - set(NAMES)
    assert not orphans, f"data files without a model: {orphans}"
    assert len(WITH_OBJECTIVE) >= 10


@pytest.mark.parametrize("name", NAMES)
def test_case(name):
    case = CASES[name]
    if case.compiles:
        result = TVLCompiler().compile_model(case.model, case.data)
        assert isinstance(result, dict)
        warnings = result["warnings"]
    else:
        with pytest.raises(SemanticError) as raised:
            TVLCompiler().compile_model(case.model, case.data)
        reported = [line for line in str(raised.value).splitlines() if language_cases.REPORTED.match(line)]
        assert reported == case.report
        records = raised.value.diagnostics
        errors = [Diagnostic.of(r) for r in records if r["severity"] == "error"][: len(case.errors)]
        assert [(e.text, e.code) for e in errors] == [(e.text, e.code) for e in case.errors]
        warnings = [r for r in records if r["severity"] == "warning"]
    if case.warnings:
        assert [Diagnostic.of(w) for w in warnings] == list(case.warnings)


@pytest.mark.skipif(importlib.util.find_spec("highspy") is None, reason="the solve extra is not installed")
@pytest.mark.parametrize("name", WITH_OBJECTIVE)
def test_the_stated_objective_is_the_optimum(name, backend):
    from tarvok.solver import Status, solve_model

    case = CASES[name]
    result = solve_model(case.model, case.data, solver=backend)
    assert result.status == Status.OPTIMAL, result.message
    assert abs(result.objective - case.objective) <= OBJECTIVE_TOLERANCE * max(1.0, abs(case.objective))


MODEL = "dvar float x;\nminimize x;\n"


@pytest.mark.parametrize(
    "model, data, refusal",
    [
        ("// expect: model:2:1: undeclared name 'y'\n" + MODEL, "", "write each diagnostic beside its line"),
        ("// expect: compile\n" + MODEL, "", "unknown or repeated expectation"),
        ("// expect: compiles\n// expect: compiles\n" + MODEL, "", "unknown or repeated expectation"),
        ("// expect: objective 3 units\n" + MODEL, "", "is not a finite number"),
        ("// expect: compiles\n// expect: objective 1\n" + MODEL, "", "drop 'compiles'"),
        (MODEL + "// expect: compiles\n", "", "open the model, before all else"),
        ("// expect: compiles\n" + MODEL, "// expect: compiles\n", "open the model, before all else"),
        (MODEL, "", "states no outcome"),
        ("// expect: compiles\n" + MODEL + "//  ^ error[T0201]: undeclared\n", "", "states no errors"),
        (MODEL + "// ^ error: undeclared name 'y'\n", "", "not a well-formed annotation"),
        (MODEL + "// ^ eror[T0201]: undeclared name 'y'\n", "", "not a well-formed annotation"),
        (MODEL + "//   ^ error[T201]: undeclared name 'y'\n", "", "not a well-formed annotation"),
        ("// ^1 error[T0201]: first\n" + MODEL, "", "no line above it"),
        (MODEL + "// v1 error[T0201]: last", "", "no line below it"),
        (MODEL + "//                ^ error[T0201]: far\n", "", "past the end of line 2"),
        (MODEL + "//^5 error[T0201]: there\n", "", "put the caret under column 5"),
        (MODEL + "// end error[T0102]: the end\nx;\n", "", "the last lines of the text"),
        (MODEL, "n = 1;\n// ^ warning: no code\n", "not a well-formed annotation"),
    ],
)
def test_a_malformed_case_is_refused(model, data, refusal):
    with pytest.raises(MalformedCase, match=refusal):
        language_cases.parse("area/case", model, data)


def test_annotations_place_each_diagnostic_where_they_point():
    model = "// expect: notice (stopped after 1 error; fix)\nfloat a = u1; float b =\n"
    model += "//         ^ error[T0201]: first\n// ^1 error[T0108]: at one\n//  v error[T0201]: below\n"
    model += "  x;\n// end error[T0102]: at the end\n"
    case = language_cases.parse("area/case", model, "n = 1;\n//^ warning[T0905]: unused\n")
    assert case.report == [
        "model:2:1: at one",
        "model:2:12: first",
        "model:6:5: below",
        "model:8:1: at the end",
        "(stopped after 1 error; fix)",
    ]
    assert [(w.text, w.code) for w in case.warnings] == [("data:1:3: unused", "T0905")]
