"""Results labelled by set elements, the same through Python, --json, --solution CSV and a closed pipe."""

import csv
import json
import os
import subprocess
import sys

import pytest

import tarvok.solver as solver

# Each bound is met at the optimum, so the values are known by hand: take[i] = cap[i], x[p][i] = i, flow[a] = 80.
MODEL = """int n = ...;
range I = 1..n;
{string} P = ...;
tuple Arc { string from; string to; }
{Arc} A = ...;
float cap[I] = ...;
dvar float+ take[I];
dvar float+ x[P][I];
dvar float+ flow[A];
dvar int+ spare;
maximize sum(i in I) take[i] + sum(p in P, i in I) x[p][i] + sum(a in A) flow[a] - spare;
subject to {
  forall(i in I) take[i] <= cap[i];
  forall(p in P, i in I) x[p][i] <= i;
  forall(a in A) flow[a] <= 80;
}
"""
DATA = 'n = 3;\nP = {"<b>", "a"};\nA = {<"Oslo", "Bergen">};\ncap = [4, 5, 6];\n'


def test_python_values_are_keyed_by_elements_and_nested_lists_stay():
    result = solver.solve_model(MODEL, DATA)
    assert result.objective == pytest.approx(15 + 2 * 6 + 80)
    assert result.values == {
        "take": {1: 4.0, 2: 5.0, 3: 6.0},
        "x": {("<b>", 1): 1.0, ("<b>", 2): 2.0, ("<b>", 3): 3.0, ("a", 1): 1.0, ("a", 2): 2.0, ("a", 3): 3.0},
        "flow": {("Oslo", "Bergen"): 80.0},
        "spare": 0,
    }
    assert result.nested_values == {
        "take": [4.0, 5.0, 6.0],
        "x": [[1.0, 2.0, 3.0], [1.0, 2.0, 3.0]],
        "flow": [80.0],
        "spare": 0,
    }
    # JSON: nested objects keyed by the elements as names write them, as the duals are; nested=True the lists.
    d = result.to_dict()
    assert d["values"]["take"] == {"1": 4.0, "2": 5.0, "3": 6.0}
    assert d["values"]["x"]["<b>"] == {"1": 1.0, "2": 2.0, "3": 3.0}
    assert d["values"]["flow"] == {"<Oslo,Bergen>": 80.0}
    assert json.loads(json.dumps(d)) == d
    assert result.to_dict(nested=True)["values"] == result.nested_values

    html = result._repr_html_()
    assert "<caption>optimal, objective 107</caption>" in html
    assert "<td>x</td><td>&lt;b&gt;,2</td><td>2</td>" in html and "<b>" not in html


def test_pandas_views_are_indexed_by_the_sets():
    pd = pytest.importorskip("pandas")
    result = solver.solve_model(MODEL, DATA)
    frames = result.to_pandas()
    assert frames["spare"] == 0
    assert frames["take"].to_dict() == {1: 4.0, 2: 5.0, 3: 6.0}
    assert isinstance(frames["x"].index, pd.MultiIndex)
    assert frames["x"].loc[("a", 3)] == 3.0 and frames["x"].loc["<b>"].sum() == 6.0
    assert list(frames["flow"].items()) == [(("Oslo", "Bergen"), 80.0)]
    frame = result.to_frame("x")
    assert list(frame.columns) == ["index 1", "index 2", "value"]
    assert frame.values.tolist()[1] == ["<b>", 2, 2.0]
    assert result.to_frame("spare").values.tolist() == [[0]]
    with pytest.raises(KeyError):
        result.to_frame("nothing")


def tarvok(*argv, cwd, **streams):
    streams = streams or {"capture_output": True}
    return subprocess.run([sys.executable, "-m", "tarvok", *argv], cwd=cwd, timeout=120, **streams)


def test_command_outputs_are_labelled_and_a_closed_pipe_is_quiet(tmp_path):
    (tmp_path / "m.mod").write_text(MODEL)
    (tmp_path / "m.dat").write_text(DATA)
    done = tarvok("run", "m.mod", "m.dat", "--json", "--solution", "s.csv", cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    assert json.loads(done.stdout)["values"]["x"]["a"] == {"1": 1, "2": 2, "3": 3}
    rows = list(csv.reader((tmp_path / "s.csv").read_text().splitlines()))
    assert ["take", "1", "4.0"] in rows and ["take", "3", "6.0"] in rows and ["x", "<b>", "2", "2.0"] in rows
    assert ["flow", "<Oslo,Bergen>", "80.0"] in rows
    nested = tarvok("run", "m.mod", "m.dat", "--json", "--nested-values", cwd=tmp_path)
    assert json.loads(nested.stdout)["values"]["x"] == [[1, 2, 3], [1, 2, 3]]

    # A reader gone before anything is printed: the file asked for is written all the same, and quietly.
    read_end, write_end = os.pipe()
    os.close(read_end)
    try:
        done = tarvok(
            "run", "m.mod", "m.dat", "--solution", "s.json", cwd=tmp_path, stdout=write_end, stderr=subprocess.PIPE
        )
    finally:
        os.close(write_end)
    assert (done.returncode, done.stderr) == (141, b"")
    assert json.loads((tmp_path / "s.json").read_text())["values"]["take"] == {"1": 4, "2": 5, "3": 6}
