"""tarvok.tarvok_core as the host sees it: the compiled-model dict, SemanticError,
argument kinds, the command-line entry and hostile input."""

import inspect
import pathlib

import pytest

from tarvok import semantic_error, tarvok_core
from tarvok.tarvok_core import SemanticError, TVLCompiler

CONTRACT_MODEL = "float a;\nfloat b;\ndvar float x;\nminimize z: a*x;\nsubject to { b*x >= 0; }"
CONTRACT_DATA = "a = 10;\nb= 5;"


def compile_pair(model, data=""):
    return TVLCompiler().compile_model(model, data)


def errors_of(model, data=""):
    with pytest.raises(SemanticError) as raised:
        compile_pair(model, data)
    return str(raised.value)


def test_reply_contract_pair_compiles_to_the_documented_shape():
    result = compile_pair(CONTRACT_MODEL, CONTRACT_DATA)
    assert set(result) == {"declarations", "objective", "constraints", "data", "warnings", "source"}
    assert result["source"]["model"] is CONTRACT_MODEL and result["source"]["data"] is CONTRACT_DATA
    assert [(d["name"], d["type"], d["value_type"]) for d in result["declarations"]] == [
        ("a", "parameter", "float"),
        ("b", "parameter", "float"),
        ("x", "dvar", "float"),
    ]
    assert result["declarations"][0]["line"] == 1
    objective = result["objective"]
    assert (objective["sense"], objective["label"]) == ("minimize", "z")
    assert objective["expression"] == {
        "type": "binary",
        "op": "*",
        "left": {"type": "name", "name": "a", "kind": "parameter"},
        "right": {"type": "name", "name": "x", "kind": "dvar"},
    }
    [constraint] = result["constraints"]
    assert constraint["operator"] == ">=" and constraint["label"] is None and constraint["bindings"] == []
    assert constraint["right"] == {"type": "number", "value": 0}
    # Whole numbers given for float data arrive as floats.
    assert result["data"] == {"a": 10.0, "b": 5.0} and isinstance(result["data"]["a"], float)


def test_expression_nodes_carry_the_shapes_tuple_keys_read():
    model = (
        "tuple Arc { string from; string to; float cost; }\n{Arc} Arcs = ...;\ndvar float+ flow[Arcs];\n"
        'subject to { hub: flow[<"s", "hub", 1.5>] >= 10; }'
    )
    result = compile_pair(model, 'Arcs = {<"s", "hub", 1.5>, <"hub", "t", 2>};')
    index = result["constraints"][0]["left"]
    assert index["type"] == "index" and index["name"] == "flow" and index["kind"] == "dvar"
    assert index["indices"] == [
        {
            "type": "tuple_literal",
            "elements": [
                {"type": "string", "value": "s"},
                {"type": "string", "value": "hub"},
                {"type": "number", "value": 1.5},
            ],
        }
    ]
    assert result["data"]["Arcs"] == [("s", "hub", 1.5), ("hub", "t", 2.0)]
    tuple_decl = result["declarations"][0]
    assert tuple_decl["type"] == "tuple"
    assert [(f["name"], f["value_type"]) for f in tuple_decl["fields"]] == [
        ("from", "string"),
        ("to", "string"),
        ("cost", "float"),
    ]


def test_data_values_by_kind():
    model = (
        "int n = ...;\nrange R = 1..n;\n{string} C = ...;\nfloat d[C][R] = ...;\nboolean on[C] = ...;\n"
        '{int} S = {3, 1};\nint k[R] = [7, 8];\nstring s = "a\\"b";\nfloat total = sum(c in C, r in R) d[c][r];\n'
        "dvar float x;\nminimize x;"
    )
    data = 'n = 2;\nC = {"p", "q"};\nd = [[1, 2], [3, 4.5]];\non = [true, 0];'
    values = compile_pair(model, data)["data"]
    assert values["n"] == 2 and isinstance(values["n"], int)
    assert values["R"] == range(1, 3)
    assert values["C"] == ["p", "q"]
    assert values["d"] == [[1.0, 2.0], [3.0, 4.5]]
    assert values["on"] == [True, False]
    assert values["S"] == [3, 1]  # sets keep their given order
    assert values["k"] == [7, 8]
    assert values["s"] == 'a"b'
    assert values["total"] == 10.5
    assert "x" not in values


def test_constraint_entries_flatten_foralls_and_range_forms():
    model = (
        "range I = 1..3;\ndvar float x[I];\nsubject to {\n  forall(i in I: i > 1) {\n    forall(j in I: j < i)\n"
        "      order: x[j] <= x[i];\n  }\n  band: 1 <= sum(i in I) x[i] <= 5;\n}"
    )
    order, band = compile_pair(model)["constraints"]
    assert order["label"] == "order" and order["line"] == 6
    assert [b["name"] for b in order["bindings"]] == ["i", "j"]
    assert order["bindings"][0]["set"] == {"type": "name", "name": "I", "kind": "range"}
    assert order["condition"]["op"] == "&&"
    assert order["condition"]["left"]["op"] == ">"
    assert band["operator"] == "range"
    assert band["low"] == {"type": "number", "value": 1} and band["high"] == {"type": "number", "value": 5}
    assert band["expression"]["type"] == "sum"


def test_aggregate_binds_over_one_product():
    result = compile_pair(
        "range I = 1..2;\nfloat a[I] = [1, 2];\ndvar float x[I];\ndvar float y;\nminimize sum(i in I) a[i] * x[i] + y;"
    )
    top = result["objective"]["expression"]
    assert top["type"] == "binary" and top["op"] == "+"
    assert top["left"]["type"] == "sum" and top["left"]["body"]["op"] == "*"
    assert top["right"] == {"type": "name", "name": "y", "kind": "dvar"}


def test_runs_of_three_or_more_operands_arrive_as_one_chain():
    terms = 3000
    model = "dvar float x;\ndvar float y;\nminimize " + " + ".join(["x"] * (terms - 1)) + " - 2 * y;"
    expression = compile_pair(model)["objective"]["expression"]
    assert expression["type"] == "chain" and len(expression["operands"]) == terms
    assert expression["operators"] == ["+"] * (terms - 2) + ["-"]
    assert expression["operands"][-1] == {
        "type": "binary",
        "op": "*",
        "left": {"type": "number", "value": 2},
        "right": {"type": "name", "name": "y", "kind": "dvar"},
    }
    # Leaves with the same content are one shared dict: a long text costs one list slot per term.
    assert expression["operands"][0] is expression["operands"][1]


def test_report_lists_every_error_with_its_line_and_caret():
    text = errors_of("float demand = 3;\ndvar float x;\nminimize demnd * x + x * x;", "demand = 4;\nextra = 1;")
    assert text.splitlines() == [
        "model:3:10: undeclared name 'demnd' (did you mean 'demand'?)",
        "    minimize demnd * x + x * x;",
        "             ^",
        "model:3:22: non-linear term 'x * x': a product needs a factor free of decision variables",
        "    minimize demnd * x + x * x;",
        "                         ^",
        "data:1:1: 'demand' already has a value in the model (line 1); remove it from the data, or declare it "
        "with '= ...'",
        "    demand = 4;",
        "    ^",
        "data:2:1: 'extra' is not declared in the model",
        "    extra = 1;",
        "    ^",
    ]


def test_semantic_error_is_the_shared_class():
    assert tarvok_core.SemanticError is semantic_error.SemanticError
    assert issubclass(SemanticError, Exception)
    with pytest.raises(semantic_error.SemanticError):
        compile_pair("dvar float x;\nminimize y;")


def test_fresh_or_reused_instances_keep_no_state():
    compiler = TVLCompiler()
    with pytest.raises(SemanticError):
        compiler.compile_model("dvar float x;\nminimize x * x;", "")
    assert compiler.compile_model(CONTRACT_MODEL, CONTRACT_DATA) == TVLCompiler().compile_model(
        CONTRACT_MODEL, CONTRACT_DATA
    )


class Text(str):
    pass


@pytest.mark.parametrize(
    "model, data, parameter",
    [
        (b"dvar float x;", "", "model_text"),
        (None, "", "model_text"),
        ("", 3, "data_text"),
        (Text("x"), "", "model_text"),
    ],
)
def test_texts_must_be_exactly_str(model, data, parameter):
    with pytest.raises(TypeError, match=f"argument '{parameter}' must be str"):
        TVLCompiler().compile_model(model, data)


def test_texts_are_taken_by_position_or_keyword():
    assert TVLCompiler().compile_model(model_text=CONTRACT_MODEL, data_text=CONTRACT_DATA)["objective"]


def test_signatures_and_docstrings():
    assert str(inspect.signature(TVLCompiler.compile_model)) == "(self, model_text, data_text)"
    assert str(inspect.signature(tarvok_core.main)) == "(argv=None)"
    assert TVLCompiler.compile_model.__doc__.startswith("Compile a model text together with its data text.")
    assert tarvok_core.main.__doc__.startswith("Check a model file with its data file from the command line.")


@pytest.mark.parametrize(
    "model",
    [
        "",
        "   \n// nothing\n",
        "dvar float x;\nminimize " + "(" * 10_000 + "x" + ")" * 10_000 + ";",
        "dvar float x;\nminimize " + "-" * 10_000 + "x;",
        "dvar float x;\nsubject to {" + "forall(i in 1..2) {" * 10_000 + "x >= 0;" + "}" * 10_001,
        'string s = "a\udc80b";\ndvar float x;\nminimize x;',
        "dvar float x;\x00\nminimize x;",
        "float f = " + "9" * 50_000 + ";\nfloat g = 1e99999;\ndvar float x;\nminimize x;",
        'string s = "never closed;\ndvar float x;\n/* and a comment that never ends',
        "range R = 1..9223372036854775807;\nfloat t = sum(i in R) i;\ndvar float x;\nminimize x;",
    ],
    ids=[
        "empty",
        "comment-only",
        "deep-parens",
        "deep-minus",
        "deep-blocks",
        "lone-surrogate",
        "nul",
        "huge-numbers",
        "unterminated",
        "runaway-sum",
    ],
)
def test_hostile_input_ends_in_a_diagnostic(model):
    text = errors_of(model)
    assert text.startswith("model:")
    text.encode("utf-8")  # always printable and encodable


@pytest.mark.slow
def test_ten_megabyte_texts():
    lines = [f"c{i}: x[{i % 100 + 1}] + 2 * x[{i * 7 % 100 + 1}] <= {i};" for i in range(280_000)]
    model = "dvar float x[1..100];\nsubject to {\n" + "\n".join(lines) + "\n}\n"
    assert len(model) > 10_000_000
    assert len(compile_pair(model)["constraints"]) == 280_000
    garbage = "".join(chr(c) for c in range(1, 0x3000)) * 900
    assert len(garbage.encode()) > 10_000_000
    assert "stopped after 20 errors" in errors_of(garbage)


def test_main_prints_ok_or_the_diagnostics_with_their_paths(tmp_path, capsys):
    model, data = tmp_path / "m.mod", tmp_path / "d.dat"
    model.write_text(CONTRACT_MODEL)
    data.write_text(CONTRACT_DATA)
    assert tarvok_core.main([str(model), str(data)]) == 0
    assert capsys.readouterr().out == "OK\n"
    data.write_bytes(b'a = 10;\nb = "\xff";\n')  # not even UTF-8: refused with its place, as every command does
    assert tarvok_core.main([str(model), data]) == 2
    assert capsys.readouterr().err == f"tarvok check: cannot read {data}: not UTF-8: byte 0xff at line 2, column 6\n"


def test_main_arguments(tmp_path, capsys, monkeypatch):
    assert tarvok_core.main([]) == 2
    assert capsys.readouterr().err == "usage: tarvok check MODEL.mod [DATA.dat] [--json] [--max-size N]\n"
    assert tarvok_core.main(["a.mod", "--verbose"]) == 2
    assert "unknown option --verbose" in capsys.readouterr().err
    assert tarvok_core.main([str(tmp_path / "missing.mod"), str(tmp_path / "missing.dat")]) == 2
    assert "cannot read" in capsys.readouterr().err
    model = tmp_path / "m.mod"
    model.write_text("dvar float x;\nminimize x;")
    monkeypatch.setattr("sys.argv", ["tarvok-check", str(model)])  # no data file: the model needs none
    assert tarvok_core.main() == 0
    for size in ("0", "ten", "1.5"):
        assert tarvok_core.main([str(model), "--max-size", size]) == 2
        assert "--max-size must be a whole number, at least 1" in capsys.readouterr().err
    assert tarvok_core.main([str(model), "--max-size"]) == 2
    assert tarvok_core.main([str(model), "--max-size=1", "--json"]) == 0  # one column is all it may have: x fits


def test_front_end_source_ships_in_the_package():
    package = pathlib.Path(tarvok_core.__file__).parent
    source = (package / "tarvok_core.cpp").read_text(encoding="utf-8")
    assert "subject" in source and "forall" in source and "dvar_decl" in source
    assert (package / "docs" / "grammars" / "Tarvok grammar.md").is_file()
    assert (package / "docs" / "grammars" / "Tarvok_GBNF").is_file()
