"""Written .mps and .lp files state the program `tarvok run` solves: read back
by HiGHS they reach the same status and optimum, integer columns stay integer
(and only they), and a program that cannot hold is never written. Optima are
worked out by hand in the comments."""

import subprocess
import sys

import pytest

solver = pytest.importorskip("tarvok.solver")
highspy = pytest.importorskip("highspy")

# `e` and `f` have no entries at all (their constraints became bounds), on
# either side of an integer block. a + b <= 5.5 with integers gives 5; z = 1.5:
# the optimum is 6.5 + 1 = 7.5. An integer `e` in 2.2..2.8 would be infeasible.
EMPTY_COLUMNS = """
dvar int a in 0..3;
dvar float e;
dvar int f;
dvar int b in 0..4;
dvar float z in 0..1.5;
maximize a + b + z + 1;
subject to {
  e >= 2.2;
  e <= 2.8;
  f >= -0.5;
  f <= 4.5;
  a + b <= 5.5;
}
"""

# m in 0.5..10.5 is 1..10 as an integer; -1.5 m - 2 >= -17 allows m <= 10: -10.
FRACTIONAL_BOUNDS = (
    "dvar int m in 0.5..10.5;\ndvar int k in -2..-2;\nminimize -m;\nsubject to {\n  -1.5*m + k >= -17;\n}"
)
# m in 3.6..4.5 is 4..4, so b + m >= 5 needs b = 1: feasible, objective 0.
FEASIBLE = "dvar int b in 0..1;\ndvar int m in 3.6..4.5;\nsubject to {\n  b + m >= 5;\n}"
# A true range, an equation, a free column, a constant: x = 2, y = 1 from
# x + y == 3 and 1 <= x - y <= 2.5 maximizing 2x + y + 4: x - y = 2.5 gives
# x = 2.75, y = 0.25, 5.5 + 0.25 + 4 = 9.75.
RANGED = """
dvar float x;
dvar float y;
maximize 2 * x + y + 4;
subject to {
  sum1: x + y == 3;
  band: 1 <= x - y <= 2.5;
}
"""
CROSSING = "dvar float x in 0..10;\ndvar float y in 0..10;\nsubject to {\n  5 <= x + y <= 3;\n}"


def read_back(path):
    h = highspy.Highs()
    h.setOptionValue("output_flag", False)
    assert h.readModel(str(path)) == highspy.HighsStatus.kOk
    h.run()
    return h


@pytest.mark.parametrize("suffix", [".mps", ".lp"])
@pytest.mark.parametrize(
    ("model", "objective"), [(EMPTY_COLUMNS, 7.5), (FRACTIONAL_BOUNDS, -10), (FEASIBLE, 0), (RANGED, 9.75)]
)
def test_files_read_back_to_the_same_program(tmp_path, suffix, model, objective):
    path = tmp_path / f"model{suffix}"
    solver.write_model(model, "", path)
    h = read_back(path)
    result = solver.solve_model(model, "")
    assert result.status is solver.Status.OPTIMAL and result.objective == pytest.approx(objective)
    assert h.getModelStatus() == highspy.HighsModelStatus.kOptimal
    assert h.getInfo().objective_function_value == pytest.approx(objective)
    program = result.program
    lp = h.getLp()
    # Integrality and bounds by name: the reader may drop or reorder nothing.
    integral = dict(zip(lp.col_names_, [int(v == highspy.HighsVarType.kInteger) for v in lp.integrality_]))
    if not lp.integrality_:
        integral = dict.fromkeys(lp.col_names_, 0)
    assert integral == dict(zip(program.column_names, program.integrality.tolist()))
    bounds = dict(zip(lp.col_names_, zip(lp.col_lower_, lp.col_upper_)))
    assert bounds == dict(zip(program.column_names, zip(program.column_lower, program.column_upper)))


def test_integer_bounds_are_rounded_in_the_program_itself():
    program = solver.instantiate("dvar float g in 0.5..1.5;\n" + FRACTIONAL_BOUNDS, "")
    assert program.column_lower.tolist() == [0.5, 1, -2] and program.column_upper.tolist() == [1.5, 10, -2]


@pytest.mark.parametrize("suffix", [".mps", ".lp"])
def test_a_program_that_cannot_hold_is_not_written(tmp_path, suffix):
    path = tmp_path / f"crossing{suffix}"
    with pytest.raises(ValueError, match=r"cannot hold whatever the variables are: c4 \(line 4\)$"):
        solver.write_model(CROSSING, "", path)
    assert list(tmp_path.iterdir()) == []
    result = solver.solve_model(CROSSING, "")
    assert result.status is solver.Status.INFEASIBLE
    assert result.infeasible_constraints == [{"name": "c4", "line": 4, "kind": "constraint"}]


def test_run_write_warns_instead_of_writing_a_false_file(tmp_path):
    (tmp_path / "m.mod").write_text(CROSSING)
    (tmp_path / "d.dat").write_text("")
    run = [sys.executable, "-m", "tarvok", "run", "m.mod", "d.dat", "--write", "out.mps"]
    done = subprocess.run(run, capture_output=True, text=True, cwd=tmp_path, timeout=120)
    assert done.returncode == 3 and done.stdout.startswith("Status: infeasible\n")
    assert done.stderr == (
        "tarvok run: warning: cannot write out.mps: the program cannot hold whatever the variables are: c4 (line 4)\n"
    )
    assert not (tmp_path / "out.mps").exists()
    (tmp_path / "m.mod").write_text(EMPTY_COLUMNS)
    done = subprocess.run(run, capture_output=True, text=True, cwd=tmp_path, timeout=120)
    assert done.returncode == 0, done.stderr
    assert read_back(tmp_path / "out.mps").getInfo().objective_function_value == pytest.approx(7.5)
