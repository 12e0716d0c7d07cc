"""Data given as Python objects, JSON and CSV folders: each source gives the optimum of the same `.dat`."""

import csv
import json
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import tarvok.solver as solver
import tarvok.tarvok_core as core
from tarvok.semantic_error import SemanticError

EXAMPLE = Path(solver.__file__).parent / "tvl_models" / "transportation"
MODEL = (EXAMPLE / "transportation.mod").read_text()
DAT = (EXAMPLE / "transportation.dat").read_text()
PLANTS = ["Aalborg", "Vejle", "Odense"]
WAREHOUSES = ["Copenhagen", "Aarhus", "Esbjerg", "Randers"]
CAPACITY = [500, 700, 400]
NEED = [350, 450, 300, 250]
FREIGHT = [[210, 110, 190, 60], [150, 70, 80, 90], [100, 120, 110, 140]]


def dict_data():
    return {
        "Plants": PLANTS,
        "Warehouses": tuple(WAREHOUSES),
        "capacity": dict(zip(PLANTS, CAPACITY)),
        "need": NEED,
        "freight": {(p, w): FREIGHT[i][j] for i, p in enumerate(PLANTS) for j, w in enumerate(WAREHOUSES)},
    }


@pytest.fixture(scope="module")
def optimum():
    return solver.solve_model(MODEL, DAT).objective


def test_python_sources_give_the_dat_optimum(optimum):
    sources = {
        "dict": dict_data(),
        "numpy": {**dict_data(), "freight": np.array(FREIGHT), "need": np.array(NEED, dtype=float)},
        "nested dict": {**dict_data(), "freight": {p: dict(zip(WAREHOUSES, row)) for p, row in zip(PLANTS, FREIGHT)}},
    }
    pd = sys.modules.get("pandas")
    try:
        import pandas as pd
    except ImportError:
        pd = None
    if pd is not None:
        sources["pandas"] = {
            **dict_data(),
            "freight": pd.DataFrame(FREIGHT, index=PLANTS, columns=WAREHOUSES),
            "capacity": pd.Series(CAPACITY, index=PLANTS),
            "Plants": pd.Index(PLANTS),
        }
    for name, data in sources.items():
        assert solver.solve_model(MODEL, data).objective == pytest.approx(optimum), name
        assert solver.instantiate(MODEL, data).num_columns == 12, name
        assert solver.compile(MODEL, data).ok, name
    compiled = core.TVLCompiler().compile_model(MODEL, dict_data())
    assert compiled["source"]["data"].startswith('Plants = {"Aalborg", "Vejle", "Odense"};')


def test_write_model_takes_a_mapping(tmp_path):
    path = tmp_path / "t.lp"
    solver.write_model(MODEL, dict_data(), path)
    assert "FreightCost" in path.read_text()


def test_bad_data_is_named():
    with pytest.raises(SemanticError, match=r"^data 'capacity': key 'Odense' is not in Plants$"):
        solver.solve_model(MODEL, {**dict_data(), "Plants": PLANTS[:2]})
    with pytest.raises(SemanticError, match="does not fit|Warehouses"):
        solver.solve_model(MODEL, {**dict_data(), "need": NEED[:3]})
    with pytest.raises(TypeError, match="not object"):
        solver.solve_model(MODEL, {**dict_data(), "need": object()})
    with pytest.raises(TypeError, match="must be str"):
        solver.solve_model(MODEL, 42)


def tarvok(*argv, cwd):
    return subprocess.run([sys.executable, "-m", "tarvok", *argv], cwd=cwd, capture_output=True, text=True, timeout=120)


def write_csv_folder(folder):
    folder.mkdir()

    def table(name, header, rows):
        with open(folder / f"{name}.csv", "w", newline="") as f:
            csv.writer(f).writerows([header, *rows])

    table("Plants", ["plant"], [[p] for p in PLANTS])
    table("Warehouses", ["warehouse"], [[w] for w in WAREHOUSES])
    table("capacity", ["plant", "capacity"], zip(PLANTS, CAPACITY))
    table("need", ["warehouse", "need"], zip(WAREHOUSES, NEED))
    table(
        "freight",
        ["plant", "warehouse", "freight"],
        [[p, w, FREIGHT[i][j]] for i, p in enumerate(PLANTS) for j, w in enumerate(WAREHOUSES)],
    )


def test_command_reads_json_csv_and_merged_data(tmp_path, optimum):
    (tmp_path / "m.mod").write_text(MODEL)
    (tmp_path / "d.json").write_text(
        json.dumps({k: v for k, v in dict_data().items() if k != "freight"} | {"freight": FREIGHT})
    )
    write_csv_folder(tmp_path / "tables")
    (tmp_path / "sets.json").write_text(json.dumps({"Plants": PLANTS, "Warehouses": WAREHOUSES}))
    (tmp_path / "rest").mkdir()
    for name in ("capacity", "need", "freight"):
        (tmp_path / "rest" / f"{name}.csv").write_text((tmp_path / "tables" / f"{name}.csv").read_text())
    for data in (["d.json"], ["tables"], ["sets.json", "rest"]):
        done = tarvok("run", "m.mod", *data, "--json", cwd=tmp_path)
        assert done.returncode == 0, (data, done.stderr)
        assert json.loads(done.stdout)["objective"] == pytest.approx(optimum)

    twice = tarvok("run", "m.mod", "tables", "sets.json", cwd=tmp_path)
    assert twice.returncode == 1
    assert "'Plants' is given twice: in tables/Plants.csv and in sets.json" in twice.stderr

    (tmp_path / "rest" / "capacity.csv").write_text("plant,capacity\nAalborg,500\nVejle,700\nOdensee,400\n")
    bad = tarvok("run", "m.mod", "sets.json", "rest", cwd=tmp_path)
    assert bad.returncode == 1
    assert "rest/capacity.csv: data 'capacity': key 'Odensee' is not in Plants" in bad.stderr

    (tmp_path / "rest" / "need.csv").write_text("warehouse,need\nCopenhagen\n")
    short = tarvok("run", "m.mod", "sets.json", "rest", cwd=tmp_path)
    assert short.returncode == 1 and "rest/need.csv:2:" in short.stderr


def test_command_writes_the_solution(tmp_path, optimum):
    (tmp_path / "m.mod").write_text(MODEL)
    (tmp_path / "m.dat").write_text(DAT)
    done = tarvok("run", "m.mod", "m.dat", "--solution", "out.json", cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    written = json.loads((tmp_path / "out.json").read_text())
    assert written["objective"] == pytest.approx(optimum)
    assert sum(v for row in written["values"]["ship"].values() for v in row.values()) == pytest.approx(sum(NEED))

    done = tarvok("run", "m.mod", "m.dat", "--solution", "out.csv", cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    rows = list(csv.reader((tmp_path / "out.csv").read_text().splitlines()))
    assert rows[0] == ["objective", str(optimum)]
    shipped = sum(float(r[-1]) for r in rows if r[0] == "ship")
    # Each value by the set elements of its keys, as the duals are.
    cost = sum(float(r[-1]) * FREIGHT[PLANTS.index(r[1])][WAREHOUSES.index(r[2])] for r in rows if r[0] == "ship")
    assert shipped == pytest.approx(sum(NEED)) and cost == pytest.approx(optimum)

    for target, status in (("m.dat", 2), ("out.txt", 2)):
        refused = tarvok("run", "m.mod", "m.dat", "--solution", target, cwd=tmp_path)
        assert refused.returncode == status and "--solution" in refused.stderr
    assert (tmp_path / "m.dat").read_text() == DAT


RANGE_MODEL = """int n = ...;
range T = 1..n;
float demand[T] = ...;
dvar float+ make[T];
minimize sum(t in T) t * make[t];
subject to { forall(t in T) meet: make[t] >= demand[t]; }
"""


def test_arrays_over_a_model_range_take_dicts(tmp_path):
    listed = solver.solve_model(RANGE_MODEL, {"n": 3, "demand": [5, 1, 7]})
    keyed = solver.solve_model(RANGE_MODEL, {"n": 3, "demand": {3: 7, 1: 5, 2: 1}})
    assert keyed.values == listed.values == {"make": {1: 5.0, 2: 1.0, 3: 7.0}}
    assert keyed.objective == pytest.approx(5 + 2 + 21)
    with pytest.raises(SemanticError, match=r"^data 'demand': key '4' is not in T$"):
        solver.solve_model(RANGE_MODEL, {"n": 3, "demand": {1: 5, 2: 1, 4: 7}})
    with pytest.raises(SemanticError, match='no value for "2" of T'):
        solver.solve_model(RANGE_MODEL, {"n": 3, "demand": {1: 5, 3: 7}})

    (tmp_path / "m.mod").write_text(RANGE_MODEL)
    (tmp_path / "d.json").write_text(json.dumps({"n": 3, "demand": {"2": 1, "1": 5, "3": 7}}))
    done = tarvok("run", "m.mod", "d.json", "--json", cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    assert json.loads(done.stdout)["values"] == {"make": {"1": 5, "2": 1, "3": 7}}
    (tmp_path / "d.json").write_text(json.dumps({"n": 2, "demand": {"1": 5, "2": 1, "3": 7}}))
    bad = tarvok("run", "m.mod", "d.json", cwd=tmp_path)
    assert bad.returncode == 1 and "d.json: data 'demand': key '3' is not in T" in bad.stderr


def test_csv_solution_carries_the_sensitivity_figures(tmp_path):
    model = RANGE_MODEL.replace("dvar float+ make[T];", "dvar float+ make[T];\ndvar float+ buy[T];")
    model = model.replace("t * make[t];", "(t * make[t] + 10 * buy[t]);").replace("make[t] >=", "make[t] + buy[t] >=")
    (tmp_path / "m.mod").write_text(model)
    (tmp_path / "d.json").write_text(json.dumps({"n": 2, "demand": [4, 6]}))
    done = tarvok("run", "m.mod", "d.json", "--sensitivity", "--solution", "out.csv", cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    rows = list(csv.reader((tmp_path / "out.csv").read_text().splitlines()))
    cells = {tuple(r[:-1]): r[-1] for r in rows}
    # Making at cost t beats buying at 10: each row's dual is t, buying's reduced cost 10 - t.
    assert float(cells[("objective",)]) == pytest.approx(1 * 4 + 2 * 6)
    # Constraint figures are keyed by the forall's values, variable figures by their set elements alike.
    assert float(cells[("duals:meet", "1")]) == pytest.approx(1)
    assert float(cells[("duals:meet", "2")]) == pytest.approx(2)
    assert float(cells[("reduced_costs:make", "2")]) == pytest.approx(0)
    assert float(cells[("reduced_costs:buy", "1")]) == pytest.approx(9)
    assert float(cells[("slacks:meet", "1")]) == pytest.approx(0)
    assert float(cells[("activities:meet", "2")]) == pytest.approx(6)
    assert float(cells[("ranging.costs:buy", "1", "low")]) == pytest.approx(1)
    assert cells[("sensitivity_basis",)] == "lp"
    assert any(r[0].startswith("ranging.costs:make") for r in rows)
    assert any(r[0].startswith("ranging.rhs:meet") for r in rows)

    plain = tarvok("run", "m.mod", "d.json", "--solution", "plain.csv", cwd=tmp_path)
    assert plain.returncode == 0, plain.stderr
    assert all(":" not in r[0] for r in csv.reader((tmp_path / "plain.csv").read_text().splitlines()))


def test_csv_cells_a_spreadsheet_would_run_are_written_as_text(tmp_path):
    evil = "=cmd|' /C calc'!A0"
    (tmp_path / "m.mod").write_text(
        "{string} P = ...;\ndvar float+ x[P];\nminimize sum(p in P) x[p];\n"
        "subject to { forall(p in P) c: x[p] >= 1; }\n"
    )
    (tmp_path / "d.json").write_text(json.dumps({"P": [evil, "@SUM(A1)", "-2+3", "plain"]}))
    done = tarvok("run", "m.mod", "d.json", "--duals", "--solution", "out.csv", cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    rows = list(csv.reader((tmp_path / "out.csv").read_text().splitlines()))
    assert [r for r in rows if r[0] == "x"] == [
        ["x", "'" + evil, "1.0"], ["x", "'@SUM(A1)", "1.0"], ["x", "'-2+3", "1.0"], ["x", "plain", "1.0"]
    ]  # fmt: skip
    assert ["duals:c", "'" + evil, "1.0"] in rows


def test_json_data_with_a_key_given_twice_names_both_places(tmp_path):
    (tmp_path / "m.mod").write_text(MODEL)
    text = (
        '{"Plants": ["Aalborg", "Vejle", "Odense"],\n'
        ' "capacity": {"Aalborg": 500, "Vejle": 700,\n'
        '              "Vejle": 9, "Odense": 400},\n'
        ' "Plants": ["Aalborg"]}\n'
    )
    for twice, message in (
        (text, "data 'capacity' has the key \"Vejle\" twice: in d.json:2 and in d.json:3"),
        (text.replace('"Vejle": 9, ', ""), "data 'Plants' is given twice: in d.json:1 and in d.json:4"),
    ):
        (tmp_path / "d.json").write_text(twice)
        done = tarvok("run", "m.mod", "d.json", cwd=tmp_path)
        assert done.returncode == 1 and message in done.stderr, done.stderr


def test_faults_in_converted_data_name_their_source(tmp_path):
    # A mapping: the entry of the mapping, never a line of the data text written from it.
    wrong = {**dict_data(), "capacity": {"Aalborg": 500, "Vejle": "x", "Odense": 400}}
    with pytest.raises(SemanticError) as raised:
        solver.solve_model(MODEL, wrong)
    assert str(raised.value).startswith('data["capacity"]["Vejle"]: ')
    assert "data:" not in str(raised.value)
    short = solver.compile(MODEL, {**dict_data(), "need": NEED[:3]})
    assert short.report_for("m.mod", "data").startswith('data["need"]: error: ')
    assert short.diagnostics[0]["source"] == 'data["need"]'

    (tmp_path / "m.mod").write_text(MODEL)
    (tmp_path / "d.json").write_text(json.dumps({**dict_data(), "freight": FREIGHT, "need": [1, 2, "three", 4]}))
    done = tarvok("run", "m.mod", "d.json", cwd=tmp_path)
    assert done.returncode == 1
    assert done.stdout.startswith("d.json: need[2]: error: "), done.stdout

    write_csv_folder(tmp_path / "tables")
    (tmp_path / "tables" / "freight.csv").write_text(
        "plant,warehouse,freight\n"
        + "".join(f"{p},{w},{'many' if (p, w) == ('Vejle', 'Esbjerg') else 1}\n" for p in PLANTS for w in WAREHOUSES)
    )
    # Row 8: the header, four rows of Aalborg, then Vejle to Copenhagen, Aarhus, Esbjerg. A .dat before the
    # tables shifts the written text; the row is found all the same.
    (tmp_path / "n.dat").write_text("// nothing but a comment\n")
    for args in (["tables"], ["n.dat", "tables"]):
        done = tarvok("run", "m.mod", *args, cwd=tmp_path)
        assert done.returncode == 1
        assert done.stdout.startswith("tables/freight.csv:8: error: "), (args, done.stdout)
    done = tarvok("run", "m.mod", "tables", "--json", cwd=tmp_path)
    (record,) = json.loads(done.stdout)["diagnostics"]
    assert record["source"] == "tables/freight.csv:8"


def test_tuple_keys_nest_without_touching_the_callers_dicts():
    model = (
        "{string} P = ...;\nint cap[P][1..2] = ...;\ndvar float+ x[P][1..2];\n"
        "maximize sum(p in P, r in 1..2) x[p][r];\nsubject to {\n  forall(p in P, r in 1..2) x[p][r] <= cap[p][r];\n}\n"
    )
    given = {"A": {1: 1}, ("A", 2): 2, ("B", 1.0): 3, ("B", np.int64(2)): 4}
    result = solver.solve_model(model, {"P": ["A", "B"], "cap": given})
    assert result.values["x"] == {("A", 1): 1.0, ("A", 2): 2.0, ("B", 1): 3.0, ("B", 2): 4.0}
    assert given["A"] == {1: 1}  # the key ("A", 2) extends the data, not the dict given under "A"
