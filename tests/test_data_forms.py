"""Every data form the README promises, through `solve_model` and `tarvok run` on each solver: the same
data as a mapping, a JSON object and a CSV folder give the hand-solved optimum."""

import json
import subprocess
import sys

import pytest

import tarvok.solver as solver

# name: (model, mapping, JSON object, CSV files, optimum worked out by hand)
FORMS = {
    # Fractional elements key an array, written however the number is ("0.50", "2").
    "float set keys": (
        "{float} S = ...;\nfloat w[S] = ...;\ndvar float+ x[S];\nminimize sum(s in S) w[s] * x[s];\n"
        "subject to { forall(s in S) x[s] >= s; }\n",
        {"S": [0.5, 1.25, 2.0], "w": {0.5: 2, 1.25: 4, 2.0: 1}},
        {"S": [0.5, 1.25, 2], "w": {"0.5": 2, "1.25": 4, "2": 1}},
        {"S.csv": "s\n0.5\n1.25\n2.0\n", "w.csv": "s,w\n0.50,2\n1.25,4\n2,1\n"},
        0.5 * 2 + 1.25 * 4 + 2 * 1,
    ),
    # A tuple element as a key: a Python tuple, "<a,1>" in JSON and CSV.
    "tuple set keys": (
        "tuple Arc { string src; int n; }\n{Arc} A = ...;\nfloat cost[A] = ...;\ndvar float+ f[A];\n"
        "minimize sum(a in A) cost[a] * f[a];\nsubject to { forall(a in A) f[a] >= a.n; }\n",
        {"A": [("a", 1), ("b", 2)], "cost": {("a", 1): 3, ("b", 2): 5}},
        {"A": [["a", 1], {"src": "b", "n": 2}], "cost": {"<a,1>": 3, '<"b", 2>': 5}},
        {"A.csv": "src,n\na,1\nb,2\n", "cost.csv": 'arc,cost\n"<a,1>",3\n"<b, 2>",5\n'},
        3 * 1 + 5 * 2,
    ),
    # Booleans in any case in CSV.
    "booleans": (
        "{string} P = ...;\nboolean open[P] = ...;\ndvar float+ x[P];\nmaximize sum(p in P) x[p];\n"
        "subject to { forall(p in P: open[p]) x[p] <= 10; forall(p in P: !open[p]) x[p] <= 1; }\n",
        {"P": ["a", "b", "c"], "open": {"a": True, "b": False, "c": True}},
        {"P": ["a", "b", "c"], "open": {"a": True, "b": False, "c": True}},
        {"P.csv": "p\na\nb\nc\n", "open.csv": "p,open\na,true\nb,false\nc,TRUE\n"},
        10 + 1 + 10,
    ),
    # A string set's elements are texts whatever they look like, as elements and as keys.
    "numeric-looking strings": (
        "{string} P = ...;\nfloat w[P] = ...;\ndvar float+ x[P];\nminimize sum(p in P) w[p] * x[p];\n"
        'subject to { forall(p in P) x[p] >= 1; x["2.50"] >= 3; }\n',
        {"P": ["1", "2.50", "nan"], "w": {"1": 1, "2.50": 2, "nan": 4}},
        {"P": ["1", "2.50", "nan"], "w": {"1": 1, "2.50": 2, "nan": 4}},
        {"P.csv": "p\n1\n2.50\nnan\n", "w.csv": "p,w\n1,1\n2.50,2\nnan,4\n"},
        1 + 2 * 3 + 4,
    ),
    # A set the model defines from another keys an array like any other.
    "model-defined set": (
        "{int} K = ...;\n{int} V = K;\nfloat d[V] = ...;\ndvar float+ x[V];\nminimize sum(v in V) v * x[v];\n"
        "subject to { forall(v in V) x[v] >= d[v]; }\n",
        {"K": [3, 7], "d": {7: 2, 3: 5}},
        {"K": [3, 7], "d": {"7": 2, "3": 5}},
        {"K.csv": "k\n3\n7\n", "d.csv": "v,d\n7,2\n3,5\n"},
        3 * 5 + 7 * 2,
    ),
    # An array whose inner set is empty holds nothing: no entries at all.
    "empty inner set": (
        "{string} I = ...;\n{string} J = ...;\nfloat c[I][J] = ...;\nfloat b[I] = ...;\ndvar float+ x[I];\n"
        "minimize sum(i in I) x[i] + sum(i in I, j in J) c[i][j];\nsubject to { forall(i in I) x[i] >= b[i]; }\n",
        {"I": ["a", "b"], "J": [], "c": {}, "b": {"a": 1, "b": 2}},
        {"I": ["a", "b"], "J": [], "c": {}, "b": {"a": 1, "b": 2}},
        {"I.csv": "i\na\nb\n", "J.csv": "j\n", "c.csv": "i,j,c\n", "b.csv": "i,b\na,1\nb,2\n"},
        1 + 2,
    ),
    # CSV cells read as the host reads them: a quoted comma, blanks, underscores, "1e3"; "1__0" is no number.
    "CSV cells": (
        "{string} P = ...;\nfloat w[P] = ...;\nint n = ...;\ndvar float+ x[P];\n"
        "minimize sum(p in P) w[p] * x[p];\nsubject to { forall(p in P) x[p] >= 1; sum(p in P) x[p] >= n; }\n",
        {"P": ["a,b", "1__0", "2.50"], "w": {"a,b": 1000, "1__0": 2.5, "2.50": 10}, "n": 1000},
        {"P": ["a,b", "1__0", "2.50"], "w": {"a,b": 1000, "1__0": 2.5, "2.50": 10}, "n": 1000},
        {
            "P.csv": 'p\r\n"a,b"\r\n1__0\r\n 2.50 \r\n',
            "w.csv": 'p,w\n"a,b",1e3\n1__0, 2.50 \n2.50,1_0\n',
            "n.csv": "n\n1_000\n",
        },
        1000 + 2.5 * 998 + 10,
    ),
}


def tarvok(*argv, cwd):
    return subprocess.run([sys.executable, "-m", "tarvok", *argv], cwd=cwd, capture_output=True, text=True, timeout=120)


@pytest.mark.parametrize("form", FORMS)
def test_each_form_gives_the_optimum(form, backend, tmp_path):
    model, mapping, as_json, tables, optimum = FORMS[form]
    assert solver.solve_model(model, mapping, solver=backend).objective == pytest.approx(optimum)
    (tmp_path / "m.mod").write_text(model)
    (tmp_path / "d.json").write_text(json.dumps(as_json))
    (tmp_path / "tables").mkdir()
    for name, text in tables.items():
        (tmp_path / "tables" / name).write_text(text)
    for data in ("d.json", "tables"):
        done = tarvok("run", "m.mod", data, "--json", "--solver", backend, cwd=tmp_path)
        assert done.returncode == 0, (data, done.stdout, done.stderr)
        assert json.loads(done.stdout)["objective"] == pytest.approx(optimum), data


def test_keys_that_name_no_element_are_refused():
    model, mapping, *_ = FORMS["float set keys"]
    with pytest.raises(solver.SemanticError, match=r"key '0\.75' is not in S"):
        solver.solve_model(model, {**mapping, "w": {0.5: 2, 0.75: 4, 2.0: 1}})
    model, mapping, *_ = FORMS["tuple set keys"]
    with pytest.raises(solver.SemanticError, match=r"key '<a,2>' is not in A"):
        solver.solve_model(model, {**mapping, "cost": {("a", 2): 3, ("b", 2): 5}})
    model, mapping, *_ = FORMS["empty inner set"]
    with pytest.raises(solver.SemanticError, match='no value for "b" of I'):
        solver.solve_model(model, {**mapping, "J": ["j"], "c": {"a": {"j": 1}}})


DIET = (
    "{string} Foods = ...;\nfloat cost[Foods] = ...;\nint need = ...;\ndvar float+ eat[Foods];\n"
    "minimize sum(f in Foods) cost[f] * eat[f];\nsubject to { forall(f in Foods: cost[f] > 100) none: eat[f] <= 0;\n"
    "  enough: sum(f in Foods) eat[f] >= need; }\n"
)


def test_check_and_emit_read_data_as_run_does(tmp_path):
    (tmp_path / "m.mod").write_text(DIET)
    (tmp_path / "d.json").write_text(json.dumps({"Foods": ["bread", "milk"], "cost": {"milk": 2, "bread": 3}}))
    (tmp_path / "tables").mkdir()
    (tmp_path / "tables" / "need.csv").write_text("need\n4\n")
    for command in (["check"], ["emit", "-o", "s.py"], ["run"]):
        done = tarvok(*command, "m.mod", "d.json", "tables", cwd=tmp_path)
        assert done.returncode == 0, (command, done.stdout, done.stderr)
    script = subprocess.run([sys.executable, "s.py"], cwd=tmp_path, capture_output=True, text=True, timeout=120)
    assert json.loads(script.stdout)["objective"] == pytest.approx(8)

    (tmp_path / "tables" / "cost.csv").write_text("food,cost\nbread,x\nmilk,2\n")
    (tmp_path / "e.json").write_text(json.dumps({"Foods": ["bread", "milk"]}))
    for command in (["check"], ["emit", "-o", "s.py"]):
        done = tarvok(*command, "m.mod", "e.json", "tables", cwd=tmp_path)
        assert done.returncode == 1 and "tables/cost.csv:2: error: " in done.stdout, (command, done.stdout)
    twice = tarvok("check", "m.mod", "d.json", "d.json", cwd=tmp_path)
    assert twice.returncode == 1 and "'Foods' is given twice: in d.json and in d.json" in twice.stderr
    # Names assigned in .dat files among several sources are placed in their own files.
    (tmp_path / "a.dat").write_text("need = 4;\n")
    (tmp_path / "b.dat").write_text("\nneed = 5;\n")
    for sources, said in [
        (["a.dat", "b.dat"], "data 'need' is given twice: in a.dat:1 and in b.dat:2"),
        (["e.json", "a.dat", "tables"], "data 'need' is given twice: in a.dat:1 and in tables/need.csv"),
    ]:
        for command in ("check", "run"):
            done = tarvok(command, "m.mod", *sources, cwd=tmp_path)
            assert done.returncode == 1 and said in done.stderr, (command, sources, done.stderr)

    # A model that takes no data is emitted without any.
    (tmp_path / "alone.mod").write_text("dvar float+ x;\nminimize x;\nsubject to { x >= 2; }\n")
    assert tarvok("emit", "alone.mod", "-o", "a.py", cwd=tmp_path).returncode == 0


def test_check_without_data_checks_the_model_alone(tmp_path):
    (tmp_path / "m.mod").write_text(DIET)
    done = tarvok("check", "m.mod", cwd=tmp_path)
    assert done.returncode == 0, done.stdout
    assert done.stdout.splitlines() == ["m.mod: note: no data was given, so the data was not checked", "OK"]
    (tmp_path / "bad.mod").write_text(DIET.replace("cost[f] * eat[f]", "cost[f] * eats[f]"))
    done = tarvok("check", "bad.mod", cwd=tmp_path)
    assert done.returncode == 1 and "undeclared name 'eats'" in done.stdout and "has no value" not in done.stdout


def test_csv_cells_are_numbers_only_as_the_host_reads_them(tmp_path):
    (tmp_path / "m.mod").write_text("float cap = ...;\ndvar float+ x;\nminimize x;\nsubject to { x >= cap; }\n")
    (tmp_path / "t").mkdir()
    for cell, said in [
        ("inf", "'cap' holds a number that is not finite"),
        ("1__0", 'the data gives the string "1__0"'),
    ]:
        (tmp_path / "t" / "cap.csv").write_text(f"cap\n{cell}\n")
        done = tarvok("check", "m.mod", "t", cwd=tmp_path)
        assert done.returncode == 1 and said in done.stdout + done.stderr, (cell, done.stdout, done.stderr)
