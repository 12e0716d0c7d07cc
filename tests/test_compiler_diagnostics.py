"""Structured diagnostics: the records SemanticError carries, the one table of
codes and its formats, warnings, and what a multi-error text reports in one go."""

import json
import pathlib
import pickle
import re

import language_cases
import pytest

from tarvok import tarvok_core
from tarvok.tarvok_core import SemanticError, TVLCompiler

CODES = {entry["code"]: entry for entry in tarvok_core.diagnostic_codes()}
RECORD_KEYS = {"severity", "code", "file", "line", "column", "end_line", "end_column", "message", "notes", "fix"}


def format_pattern(fmt):
    """The format of a code as a regular expression: placeholders match any text."""
    parts = re.split(r"(\{\{|\}\}|\{[a-z_]+\})", fmt)
    out = []
    for part in parts:
        if part in ("{{", "}}"):
            out.append(re.escape(part[0]))
        elif part.startswith("{") and part.endswith("}"):
            out.append(".*?")
        else:
            out.append(re.escape(part))
    return re.compile("".join(out), re.S)


def outcome(model, data=""):
    """(error records, warning records) of a compilation."""
    try:
        result = TVLCompiler().compile_model(model, data)
    except SemanticError as error:
        records = error.diagnostics
        return [r for r in records if r["severity"] == "error"], [r for r in records if r["severity"] == "warning"]
    return [], result["warnings"]


def case_texts():
    for name in language_cases.names():
        case = language_cases.read(name)
        yield name, case.model, case.data


def test_the_table_has_unique_codes_and_well_formed_formats():
    assert len(CODES) == len(tarvok_core.diagnostic_codes())
    for code, entry in CODES.items():
        assert re.fullmatch(r"T\d{4}", code)
        assert entry["severity"] in ("error", "warning")
        assert entry["format"] and "{" not in re.sub(r"\{\{|\}\}|\{[a-z_]+\}", "", entry["format"])
    assert all(CODES[c]["severity"] == "warning" for c in CODES if c.startswith("T09"))


@pytest.mark.parametrize("name, model, data", list(case_texts()), ids=[n for n, _, _ in case_texts()])
def test_every_record_matches_its_code_and_its_text(name, model, data):
    errors, warnings = outcome(model, data)
    texts = {"model": model, "data": data}
    for record in errors + warnings:
        assert set(record) == RECORD_KEYS
        entry = CODES[record["code"]]
        assert entry["severity"] == record["severity"]
        assert record["code"] != "T0000", "every compiler diagnostic has a code of its own"
        assert format_pattern(entry["format"]).fullmatch(record["message"]), (record["code"], record["message"])
        assert (record["end_line"], record["end_column"]) >= (record["line"], record["column"])
        lines = texts[record["file"]].split("\n")
        assert record["line"] <= max(len(lines), 1)
        assert record["fix"] is None or isinstance(record["fix"], str)
        for note in record["notes"]:
            assert set(note) == {"message", "file", "line", "column"}
    json.dumps(errors + warnings)  # plain data, ready for --json


def test_semantic_error_keeps_its_text_and_gains_the_records():
    model = "float demand = 3;\ndvar float x;\nminimize demnd * x + x * x;"
    with pytest.raises(SemanticError) as raised:
        TVLCompiler().compile_model(model, "extra = 1;")
    error = raised.value
    heads = [line for line in str(error).splitlines() if re.match(r"(model|data):\d+:\d+: ", line)]
    errors = [r for r in error.diagnostics if r["severity"] == "error"]
    assert heads == [f"{r['file']}:{r['line']}:{r['column']}: {r['message']}" for r in errors]
    undeclared = errors[0]
    assert (undeclared["code"], undeclared["fix"], undeclared["end_column"]) == ("T0201", "demand", 15)
    assert [r["code"] for r in error.diagnostics] == ["T0201", "T0402", "T0502", "T0905"]  # errors, then warnings
    again = pickle.loads(pickle.dumps(error))
    assert str(again) == str(error) and again.diagnostics == error.diagnostics


def test_an_error_built_from_a_text_has_its_own_empty_records():
    first, second = SemanticError("a"), SemanticError("b")
    first.diagnostics.append({"code": "T0000"})
    assert second.diagnostics == [] and str(first) == "a" and first.args == ("a",)


def test_notes_point_at_the_first_declaration():
    errors, _ = outcome("float a = 1;\nint a = 2;\ndvar float x;\nminimize x;")
    [note] = errors[0]["notes"]
    assert (note["line"], note["column"], note["message"]) == (1, 7, "'a' is declared here")


def test_one_round_reports_syntax_names_types_and_data_together():
    model = (
        "{string} Cities = ...;\n"
        "float demand[Cities] = ...;\n"
        "float broken = (1 + ;\n"  # syntax
        "dvar float+ x[Cities];\n"
        "minimize sum(c in Cities) cost[c] * x[c];\n"  # an undeclared name
        "subject to {\n"
        "  forall(c in Cities) x[c] >= demand[c] * broken;\n"  # uses the broken name: no cascade
        '  x["A"] * x["B"] <= 4;\n'  # non-linear
        "  forall(c in Cities) x[c] => 1;\n"  # a slip
        "}\n"
    )
    data = 'Cities = {"A", "B"};\ndemand = [1, 2, 3];\nextra = 4;\nbad = ;\n'
    errors, _ = outcome(model, data)
    assert [(r["file"], r["line"], r["code"]) for r in errors] == [
        ("model", 3, "T0101"),
        ("model", 5, "T0201"),
        ("model", 8, "T0402"),
        ("model", 9, "T0801"),
        ("data", 2, "T0514"),
        ("data", 3, "T0502"),
        ("data", 4, "T0101"),
    ]


def test_a_data_syntax_error_does_not_hide_the_models_faults():
    errors, _ = outcome("int n = ...;\nint m = ...;\ndvar float x;\nminimize y;", "n = 1\nm = ;")
    assert [(r["file"], r["code"]) for r in errors] == [("model", "T0201"), ("data", "T0103"), ("data", "T0101")]


def test_a_statement_cut_short_by_a_limit_stops_the_later_passes():
    # After a nesting limit the rest of the text is unknown: its names must not read as missing.
    deep = "float a = " + "(" * 400 + "1" + ")" * 400 + ";\n"
    errors, _ = outcome(deep + "float b = ...;\ndvar float x;\nminimize b * x;", "b = 1;")
    assert [r["code"] for r in errors] == ["T0703"]


def test_a_huge_identifier_makes_a_short_message():
    name = "q" * 1_000_000
    with pytest.raises(SemanticError) as raised:
        TVLCompiler().compile_model(f"float {name}x = 1;\ndvar float y;\nminimize y * {name};", "")
    [record] = [r for r in raised.value.diagnostics if r["severity"] == "error"]
    assert record["code"] == "T0201" and len(record["message"]) < 120
    assert len(str(raised.value)) < 1000


def test_warnings_never_fail_a_model_and_arrive_with_the_result():
    model = (
        "range I = 1..3;\nfloat unused = 2;\nfloat a[I] = [1, 2, 3];\ndvar float x[I];\ndvar float idle;\n"
        "dexpr float spare = sum(i in I) x[i];\nminimize sum(i in I) a[i] * x[i];\n"
        "subject to {\n  sanity: a[1] <= a[2];\n  forall(i in I: i > 3) never: x[i] >= 1;\n}"
    )
    result = TVLCompiler().compile_model(model, "")
    assert [(w["code"], w["line"]) for w in result["warnings"]] == [
        ("T0905", 2),
        ("T0903", 5),
        ("T0901", 9),
        ("T0906", 10),
    ]
    assert all(w["severity"] == "warning" for w in result["warnings"])  # `spare` is an output: no T0904


def test_no_unused_warnings_when_a_use_may_sit_in_a_broken_statement():
    _, warnings = outcome("float a = 1;\ndvar float x;\nminimize x;\nsubject to {\n  x >= a +;\n}")
    assert warnings == []


def test_the_documentation_lists_every_code_with_its_format():
    page = (pathlib.Path(__file__).parent.parent / "docs" / "diagnostics.md").read_text(encoding="utf-8")
    for code, entry in CODES.items():
        if code == "T0000":
            continue
        row = f"| {code} | {entry['severity']} | `{entry['format'].replace('|', chr(92) + '|')}` |"
        assert row in page, row
