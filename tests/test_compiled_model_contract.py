"""The compiled-model contract: every dict that compile_model returns has exactly
the keys of its TypedDict in tarvok_core.pyi, and every node type, name kind and
operator it holds is one the stub lists. Checked on every model that compiles in
the cases, the grammar reference and the example library."""

import ast
import pathlib
import re

import language_cases
import pytest

from tarvok import tarvok_core
from tarvok.tarvok_core import TVLCompiler

STUB = pathlib.Path(tarvok_core.__file__).with_name("tarvok_core.pyi")
ERROR_STUB = pathlib.Path(tarvok_core.__file__).with_name("semantic_error.pyi")
ROOT = pathlib.Path(__file__).parent
PACKAGE = pathlib.Path(tarvok_core.__file__).parent


def literal_values(node):
    """The strings of a Literal[...] annotation, or None."""
    if isinstance(node, ast.Subscript) and getattr(node.value, "id", "") == "Literal":
        elements = node.slice.elts if isinstance(node.slice, ast.Tuple) else [node.slice]
        return {e.value for e in elements}
    return None


def typed_dicts(path):
    """{class name: {key: annotation node}} of the TypedDicts of a stub, and its Literal aliases."""
    tree = ast.parse(path.read_text(encoding="utf-8"))
    classes, aliases = {}, {}
    for node in tree.body:
        if isinstance(node, ast.ClassDef) and any(getattr(b, "id", "") == "TypedDict" for b in node.bases):
            classes[node.name] = {s.target.id: s.annotation for s in node.body if isinstance(s, ast.AnnAssign)}
        elif isinstance(node, ast.Assign) and literal_values(node.value):
            aliases[node.targets[0].id] = literal_values(node.value)
    return classes, aliases


CLASSES, ALIASES = typed_dicts(STUB)
CLASSES.update(typed_dicts(ERROR_STUB)[0])
EXPRESSIONS = {
    value: name for name, keys in CLASSES.items() if name.endswith("Node") for value in literal_values(keys["type"])
}
DECLARATIONS = {
    next(iter(literal_values(keys["type"]))): name for name, keys in CLASSES.items() if name.endswith("Declaration")
}


def allowed(cls, key):
    annotation = CLASSES[cls][key]
    if isinstance(annotation, ast.Name) and annotation.id in ALIASES:
        return ALIASES[annotation.id]
    return literal_values(annotation)


def conforms(value, cls, where):
    assert isinstance(value, dict), where
    assert set(value) == set(CLASSES[cls]), (where, cls, set(value) ^ set(CLASSES[cls]))
    for key, item in value.items():
        choices = allowed(cls, key)
        if choices is not None:
            assert item in choices, (where, cls, key, item)


def expression(node, where):
    assert node["type"] in EXPRESSIONS, (where, node["type"])
    cls = EXPRESSIONS[node["type"]]
    conforms(node, cls, where)
    for key, item in node.items():
        if key == "bindings":
            for b in item:
                conforms(b, "Binding", where)
                expression(b["set"], where)
        elif isinstance(item, dict):
            expression(item, where)
        elif isinstance(item, list) and key != "operators":
            for child in item:
                expression(child, where)
    if cls == "ChainNode":
        assert len(node["operators"]) == len(node["operands"]) - 1 >= 2, where


def check_result(result, where):
    conforms(result, "CompiledModel", where)
    for decl in result["declarations"]:
        cls = DECLARATIONS[decl["type"]]
        conforms(decl, cls, where)
        for key in ("initializer", "low", "high", "expression"):
            if decl.get(key) is not None:
                expression(decl[key], where)
        for dim in decl.get("dimensions", []):
            expression(dim, where)
        if decl.get("bounds"):
            conforms(decl["bounds"], "Bounds", where)
        for field in decl.get("fields", []):
            conforms(field, "TupleField", where)
    if result["objective"] is not None:
        conforms(result["objective"], "Objective", where)
        expression(result["objective"]["expression"], where)
    for constraint in result["constraints"]:
        conforms(constraint, "RangeConstraint" if constraint["operator"] == "range" else "Constraint", where)
        for b in constraint["bindings"]:
            conforms(b, "Binding", where)
        for key in ("left", "right", "low", "high", "expression", "condition"):
            if constraint.get(key) is not None:
                expression(constraint[key], where)
    for warning in result["warnings"]:
        conforms(warning, "Diagnostic", where)
    conforms(result["source"], "Source", where)
    for value in result["data"].values():
        assert isinstance(value, (int, float, bool, str, tuple, list, range)), where


def compiling_pairs():
    for name in language_cases.names():
        case = language_cases.read(name)
        if case.compiles:
            yield name, case.model, case.data
    for folder in sorted((PACKAGE / "tvl_models").iterdir()):
        model = folder / f"{folder.name}.mod"
        if model.exists():
            data = model.with_suffix(".dat")
            yield (
                folder.name,
                model.read_text(encoding="utf-8"),
                data.read_text(encoding="utf-8") if data.exists() else "",
            )
    reference = (ROOT.parent / "docs" / "grammars" / "Tarvok grammar.md").read_text(encoding="utf-8")
    blocks = re.findall(r"^```([\w-]*)\n(.*?)^```", reference, flags=re.M | re.S)
    for index, (language, body) in enumerate(blocks):
        if language == "tarvok":
            follows = blocks[index + 1] if index + 1 < len(blocks) else ("", "")
            yield f"reference-{index}", body, follows[1] if follows[0] == "tarvok-data" else ""


PAIRS = list(compiling_pairs())


def test_the_stub_describes_every_node_and_declaration_the_compiler_makes():
    assert set(EXPRESSIONS) == {
        "number",
        "string",
        "boolean",
        "name",
        "index",
        "field",
        "tuple_literal",
        "set_literal",
        "array_literal",
        "range",
        "unary",
        "binary",
        "chain",
        "sum",
        "min",
        "max",
        "abs",
        "card",
    }
    assert set(DECLARATIONS) == {"tuple", "parameter", "set", "range", "dvar", "dexpr"}
    assert len(PAIRS) > 40


@pytest.mark.parametrize("where, model, data", PAIRS, ids=[p[0] for p in PAIRS])
def test_every_result_has_the_documented_shape(where, model, data):
    check_result(TVLCompiler().compile_model(model, data), where)


def test_the_stub_is_valid_python():
    compile(STUB.read_text(encoding="utf-8"), str(STUB), "exec")
