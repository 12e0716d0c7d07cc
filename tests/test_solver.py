"""tarvok.solver and `tarvok run`: statuses, infeasibility reports, names, arrays,
written files and exit statuses. Optima are checked against values worked out
by hand in the comments."""

import contextlib
import enum
import importlib.util
import inspect
import json
import os
import pathlib
import signal
import subprocess
import sys
import textwrap
import time

import pytest

solver = pytest.importorskip("tarvok.solver")
highspy = pytest.importorskip("highspy")
np = pytest.importorskip("numpy")
from workflow_fakes import stand_in_llm  # noqa: E402

from tarvok import _cli, semantic_error  # noqa: E402
from tarvok.tarvok_core import TVLCompiler  # noqa: E402

SHIPPED = pathlib.Path(solver.__file__).parent / "tvl_models"

# Two products on two machines: max 3a + 2b, a + b <= 4, a + 3b <= 6, a <= 3.
# Vertices: (3, 1) gives 11, (0, 2) gives 4, (3, 0) gives 9: the optimum is 11.
SMALL = """
dvar float+ a;
dvar float+ b;
maximize profit: 3 * a + 2 * b;
subject to {
  hours: a + b <= 4;
  tools: a + 3 * b <= 6;
  cap: a <= 3;
}
"""

# Names that need care in files: spaces, a dash, tuples, negative numbers.
AWKWARD = """
{string} Towns = ...;
tuple Lane { string from; string to; float cost; }
{Lane} Lanes = ...;
range Shift = -1..1;
dvar float+ go[Lanes][Shift];
dvar int+ crews[Towns] in 0..5;
minimize sum(l in Lanes, s in Shift) (l.cost + s) * go[l][s] + sum(t in Towns) 7 * crews[t];
subject to {
  forall(l in Lanes) moved: sum(s in Shift) go[l][s] >= 2;
  forall(t in Towns) staffed: sum(l in Lanes, s in Shift: l.from == t) go[l][s] <= 3 * crews[t];
}
"""
AWKWARD_DATA = """
Towns = {"New York", "x-y"};
Lanes = {<"New York", "x-y", 4>, <"x-y", "New York", 2.5>};
"""
# Each lane moves 2 units at shift -1 (cost - 1 each) and needs one crew of 7 at its origin (2 <= 3 * 1):
# 2 * 3 + 2 * 1.5 + 7 + 7 = 23.


SOLVER = "highs"  # the back-end solve() uses; TestOutcomes runs on each


def solve(model, data="", **options):
    options.setdefault("solver", SOLVER)
    return solver.solve_model(model, data, **options)


class TestFace:
    def test_signatures_and_first_doc_lines(self):
        assert str(inspect.signature(solver.solve_model)) == (
            "(model_text, data_text, *, time_limit=None, mip_gap=None, threads=None, log=False, sensitivity=False, "
            "solver='highs', cancel=None)"
        )
        assert str(inspect.signature(solver.instantiate)) == "(model_text, data_text)"
        assert str(inspect.signature(solver.write_model)) == "(model_text, data_text, path)"
        assert solver.solve_model.__doc__.splitlines()[0] == (
            "Solve a model with its data using HiGHS and return a SolveResult."
        )
        assert solver.SemanticError is semantic_error.SemanticError

    def test_status_is_a_plain_enum_of_the_json_words(self):
        assert issubclass(solver.Status, enum.Enum) and not issubclass(solver.Status, str)
        assert [s.value for s in solver.Status] == [
            "optimal",
            "infeasible",
            "unbounded",
            "infeasible_or_unbounded",
            "time_limit",
            "error",
        ]
        assert solver.Status.OPTIMAL.__module__ == "tarvok.solver"

    @pytest.mark.parametrize(
        "kwargs, error, word",
        [
            ({"time_limit": "1"}, TypeError, "time_limit"),
            ({"time_limit": True}, TypeError, "time_limit"),
            ({"time_limit": 0}, ValueError, "time_limit"),
            ({"mip_gap": -0.1}, ValueError, "mip_gap"),
            ({"mip_gap": float("nan")}, ValueError, "mip_gap"),
            ({"threads": 1.5}, TypeError, "threads"),
            ({"threads": 0}, ValueError, "threads"),
            ({"log": 1}, TypeError, "log"),
        ],
    )
    def test_options_are_checked(self, kwargs, error, word):
        with pytest.raises(error, match=word):
            solve(SMALL, **kwargs)

    def test_texts_must_be_str(self):
        with pytest.raises(TypeError, match="model_text"):
            solver.solve_model(SMALL.encode(), "")
        with pytest.raises(TypeError, match="data_text"):
            solver.instantiate(SMALL, None)

    def test_compile_errors_are_the_compilers_text(self):
        bad = "dvar float x;\nminimize x + y;"
        with pytest.raises(solver.SemanticError) as got:
            solve(bad)
        with pytest.raises(solver.SemanticError) as compiled:
            TVLCompiler().compile_model(bad, "")
        assert str(got.value) == str(compiled.value)
        assert str(got.value).startswith("model:2:14: undeclared name 'y'")

    def test_missing_highspy_names_the_extra(self, monkeypatch):
        monkeypatch.setitem(sys.modules, "highspy", None)
        assert solver.instantiate(SMALL, "").num_rows == 2  # expanding needs no solver
        with pytest.raises(ImportError, match=r"tarvok\[solve\]"):
            solve(SMALL)

    def test_solver_names_are_checked_and_a_missing_library_names_its_extra(self, monkeypatch):
        with pytest.raises(ValueError, match="argument 'solver' must be 'highs' or 'scip', not 'glpk'"):
            solve(SMALL, solver="glpk")
        with pytest.raises(TypeError, match="argument 'solver' must be str, not NoneType"):
            solve(SMALL, solver=None)
        monkeypatch.setitem(sys.modules, "pyscipopt", None)
        with pytest.raises(ImportError, match=r"needs the 'pyscipopt' package; .* pip install 'tarvok\[scip\]'"):
            solve(SMALL, solver="scip")
        # A program settled without a solver needs none.
        assert solve("float k = 2.5;\nminimize 2 * k;", solver="scip").objective == 5


class TestOutcomes:
    @pytest.fixture(autouse=True)
    def on_each_backend(self, backend, monkeypatch):
        monkeypatch.setattr(sys.modules[__name__], "SOLVER", backend)

    def test_optimal_lp_with_values_and_json(self):
        result = solve(SMALL)
        assert result.status is solver.Status.OPTIMAL
        assert result.objective == pytest.approx(11)
        assert result.values == pytest.approx({"a": 3, "b": 1})
        data = json.loads(json.dumps(result.to_dict()))
        assert data["status"] == "optimal" and data["objective"] == pytest.approx(11)
        assert set(data) == {"status", "objective", "values", "infeasible_constraints", "message", "statistics"}
        stats = data["statistics"]
        assert (stats["columns"], stats["rows"], stats["folded_bounds"], stats["mip_gap"]) == (2, 2, 1, None)
        assert "Status: optimal\nObjective: 11\n" in result.summary()

    def test_integer_values_are_ints_in_index_order(self):
        # Packing: best is items 1 and 3 (weights 3 + 4 <= 7, value 5 + 6 = 11); item 2 alone gives 9.
        model = """int w[1..3] = [3, 6, 4];\nint v[1..3] = [5, 9, 6];\ndvar boolean take[1..3];
dvar int+ spare;\nmaximize sum(i in 1..3) v[i] * take[i] - spare;
subject to {\n  sum(i in 1..3) w[i] * take[i] + spare <= 7;\n}"""
        result = solve(model)
        assert result.objective == pytest.approx(11)
        assert result.values == {"take": {1: 1, 2: 0, 3: 1}, "spare": 0}
        assert result.nested_values == {"take": [1, 0, 1], "spare": 0}
        assert all(type(x) is int for x in result.values["take"].values())
        assert result.statistics["mip_gap"] is not None

    def test_infeasible_names_rows_and_the_constraints_behind_bounds(self):
        model = """dvar float+ x;\ndvar float y in 0..4;\nminimize x + y;\nsubject to {
  need: x + y >= 10;\n  capX: x <= 3;\n  spare: x - y <= 100;\n}"""
        result = solve(model)
        assert result.status is solver.Status.INFEASIBLE
        assert result.objective is None and result.values == {}
        assert sorted(result.infeasible_constraints, key=lambda c: c["name"]) == [
            {"name": "capX", "line": 6, "kind": "constraint"},
            {"name": "need", "line": 5, "kind": "constraint"},
            {"name": "y", "line": 2, "kind": "bound"},
        ]
        assert "capX" in result.summary() and "line 5" in result.summary()

    def test_false_constant_constraints_are_reported_without_a_solver(self):
        model = (
            "int n = 3;\ndvar float x;\nminimize x;\nsubject to {\n  forall(i in 1..2) enough: i * n - x + x >= 4;\n}"
        )
        result = solve(model)
        assert result.status is solver.Status.INFEASIBLE
        assert result.infeasible_constraints == [{"name": "enough[1]", "line": 5, "kind": "constraint"}]
        assert result.statistics["solve_seconds"] == 0

    def test_unbounded_and_integer_only_infeasibility(self):
        result = solve("dvar float x;\nmaximize x;\nsubject to {\n  x >= 1;\n}")
        assert result.status is solver.Status.UNBOUNDED and result.objective is None
        # 2k = 1 has no integer solution; the relaxation has one.
        result = solve("dvar int k;\ndvar float y;\nminimize y;\nsubject to {\n  2 * k - y == 1;\n  y == 0;\n}")
        assert result.status is solver.Status.INFEASIBLE

    def test_time_limit_is_not_success(self):
        # A knapsack with 40 items and 15 conflicting capacity rows; the limit stops it at once.
        rows = 15
        weights = [[(i * 37 + r * 11) % 23 + 5 for i in range(40)] for r in range(rows)]
        model = """range I = 1..40;\nrange R = 1..15;\nint w[R][I] = ...;\ndvar boolean pick[I];
maximize sum(i in I) (i % 7 + 3) * pick[i];\nsubject to {\n  forall(r in R) sum(i in I) w[r][i] * pick[i] <= 60;\n}"""
        model = model.replace("(i % 7 + 3)", "(3 + i / 7)")
        result = solve(model, "w = " + json.dumps(weights) + ";", time_limit=1e-6)
        assert result.status is solver.Status.TIME_LIMIT
        assert (result.objective is None) == (result.values == {})
        assert result.to_dict()["status"] == "time_limit"

    def test_thread_counts_may_change_between_solves(self):
        # HiGHS sizes one process-wide pool on the first solve; later counts must not turn into errors.
        assert [solve(SMALL, threads=t).status for t in (1, 2, None, 3)] == [solver.Status.OPTIMAL] * 4

    def test_concurrent_solves_with_different_thread_counts(self):
        # HiGHS sizes a worker pool per calling thread; each thread may ask for another size on every solve.
        from concurrent.futures import ThreadPoolExecutor

        with ThreadPoolExecutor(4) as pool:
            results = list(pool.map(lambda t: solve(SMALL, threads=t), [1, 2, 3, 4] * 5))
        assert {r.status for r in results} == {solver.Status.OPTIMAL}
        assert len({r.objective for r in results}) == 1

    def test_models_without_variables_or_rows(self):
        result = solve("float k = 2.5;\nminimize 2 * k;")
        assert (result.status, result.objective, result.values) == (solver.Status.OPTIMAL, 5, {})
        # An unused variable and an empty index set still give a solution for everything declared.
        result = solve("{string} None = {};\ndvar float x[None];\ndvar float+ unused;\nminimize 1;")
        assert result.status is solver.Status.OPTIMAL and result.values == {"x": {}, "unused": 0}

    def test_numbers_the_solver_reads_as_infinity_are_refused(self):
        with pytest.raises(solver.SemanticError, match=r"model:3:10: the coefficient of 'x' in 'h \* h \* x' is at or"):
            solve("float h = 1e19;\ndvar float x;\nminimize h * h * x;")


class TestProgram:
    def test_arrays_names_and_the_way_back(self):
        program = solver.instantiate(AWKWARD, AWKWARD_DATA)
        assert program.column_names[:3] == [
            "go[<New York,x-y,4.0>][-1]",
            "go[<New York,x-y,4.0>][0]",
            "go[<New York,x-y,4.0>][1]",
        ]
        assert program.column_names[6:] == ["crews[New York]", "crews[x-y]"]
        assert program.row_names == [
            "moved[<New York,x-y,4.0>]",
            "moved[<x-y,New York,2.5>]",
            "staffed[New York]",
            "staffed[x-y]",
        ]
        assert program.row_lines == [10, 10, 11, 11]
        assert list(program.integrality) == [0] * 6 + [1, 1]
        assert list(program.column_upper[6:]) == [5, 5]
        with pytest.raises(ValueError):
            program.cost[0] = 1  # read-only views
        # The three matrix forms agree.
        dense = np.zeros((program.num_rows, program.num_columns))
        for i in range(program.num_rows):
            for k in range(program.row_starts[i], program.row_starts[i + 1]):
                dense[i, program.column_indices[k]] = program.values[k]
        rows, cols, vals = program.coo()
        from_coo = np.zeros_like(dense)
        from_coo[rows, cols] = vals
        starts, row_index, col_vals = program.csc()
        from_csc = np.zeros_like(dense)
        for j in range(program.num_columns):
            from_csc[row_index[starts[j] : starts[j + 1]], j] = col_vals[starts[j] : starts[j + 1]]
        assert (dense == from_coo).all() and (dense == from_csc).all()
        assert dense[2].tolist() == [1, 1, 1, 0, 0, 0, -3, 0]
        x = list(range(8))
        assert program.solution_values(x) == {"go": [[0.0, 1.0, 2.0], [3.0, 4.0, 5.0]], "crews": [6, 7]}
        with pytest.raises(ValueError, match="8 columns"):
            program.solution_values([1.0])

    def test_dexprs_keep_their_linear_form(self):
        program = solver.instantiate("dvar float x;\ndvar float y;\ndexpr float d = 2 * x - y + 3;\nminimize d;", "")
        assert program.dexprs == [
            {"name": "d", "columns": [0, 1], "coefficients": [2.0, -1.0], "constant": 3.0, "line": 3}
        ]
        assert program.cost.tolist() == [2, -1] and program.objective_offset == 3


class TestWrite:
    @pytest.mark.parametrize("suffix", [".lp", ".mps", ".LP"])
    def test_written_file_reads_back_to_the_same_optimum(self, tmp_path, suffix):
        path = tmp_path / f"awkward{suffix}"
        solver.write_model(AWKWARD, AWKWARD_DATA, path)
        h = highspy.Highs()
        h.setOptionValue("output_flag", False)
        assert h.readModel(str(path)) == highspy.HighsStatus.kOk
        h.run()
        assert h.getObjectiveValue() == pytest.approx(23)
        assert solve(AWKWARD, AWKWARD_DATA).objective == pytest.approx(23)
        names = h.getLp().col_names_
        assert len(set(names)) == 8 and not any(" " in n for n in names)

    def test_other_extensions_are_refused(self, tmp_path):
        with pytest.raises(ValueError, match=r"\.mps or \.lp"):
            solver.write_model(SMALL, "", tmp_path / "m.txt")
        assert not (tmp_path / "m.txt").exists()


# ------------------------------------------------------------ the command


def command(*args, cwd=None):
    return subprocess.run([sys.executable, "-m", "tarvok", *args], capture_output=True, text=True, cwd=cwd, timeout=120)


class TestRunCommand:
    def test_shipped_example_table_and_json(self):
        folder = SHIPPED / "transportation"
        done = command("run", str(folder / "transportation.mod"), str(folder / "transportation.dat"))
        assert done.returncode == 0, done.stderr
        assert done.stdout.startswith("Status: optimal\nObjective: 107000\n")
        assert "\nship\n  Plants" in done.stdout
        done = command("run", str(folder / "transportation.mod"), str(folder / "transportation.dat"), "--json")
        data = json.loads(done.stdout)
        assert (done.returncode, data["status"], data["objective"]) == (0, "optimal", 107000)

    def test_exit_statuses(self, tmp_path):
        (tmp_path / "bad.mod").write_text("dvar float x;\nminimize x + y;")
        (tmp_path / "off.mod").write_text("dvar float+ x;\nminimize x;\nsubject to {\n  x <= -1;\n}")
        (tmp_path / "empty.dat").write_text("")
        bad = command("run", "bad.mod", "empty.dat", cwd=tmp_path)
        assert bad.returncode == 1 and "bad.mod:2:14: error: undeclared name 'y'" in bad.stdout
        off = command("run", "off.mod", "empty.dat", "--json", cwd=tmp_path)
        assert off.returncode == 3 and json.loads(off.stdout)["status"] == "infeasible"
        missing = command("run", "nowhere.mod", "empty.dat", cwd=tmp_path)
        assert missing.returncode == 2 and "cannot read nowhere.mod" in missing.stderr

    def test_solver_option(self, tmp_path):
        folder = SHIPPED / "transportation"
        pair = (str(folder / "transportation.mod"), str(folder / "transportation.dat"))
        unknown = command("run", *pair, "--solver", "glpk")
        assert unknown.returncode == 2 and "invalid choice: 'glpk'" in unknown.stderr
        if importlib.util.find_spec("pyscipopt") is None:
            pytest.skip("the scip extra is not installed")
        done = command("run", *pair, "--solver", "scip", "--duals", "--json")
        data = json.loads(done.stdout)
        assert (done.returncode, data["status"], data["objective"]) == (0, "optimal", 107000)
        assert data["duals"]
        ranging = command("run", *pair, "--solver", "scip", "--sensitivity")
        assert ranging.returncode == 2
        assert ranging.stderr.strip().splitlines() == [
            "tarvok: error: --sensitivity needs --solver highs (scip gives no ranging); --duals works with every solver"
        ]

    def test_write_and_verbose(self, tmp_path):
        (tmp_path / "m.mod").write_text(SMALL)
        (tmp_path / "d.dat").write_text("")
        done = command("run", "m.mod", "d.dat", "--write", "out.lp", "--verbose", "--time-limit", "30", cwd=tmp_path)
        assert done.returncode == 0
        assert "hours:" in (tmp_path / "out.lp").read_text()
        assert "HiGHS" in done.stderr and "columns 2" in done.stderr  # the solver log and sizes
        assert "HiGHS" not in done.stdout


def test_solve_run_prints_the_solution(tg, monkeypatch, capsys, tmp_path, backend):
    stand_in_llm(tg, monkeypatch, SMALL)
    monkeypatch.chdir(tmp_path)
    status = _cli.main(
        ["solve", "two products", "-m", "m.mod", "-d", "d.dat", "--no-few-shot", "--no-alignment", "--run"]
        + ["--solver", backend]
    )
    out = capsys.readouterr().out
    assert status == 0 and out.startswith("Fine.\n\nStatus: optimal\nObjective: 11\n")
    status = _cli.main(
        ["solve", "two products", "-m", "m.mod", "-d", "d.dat", "--no-few-shot", "--no-alignment", "--run", "--json"]
    )
    assert json.loads(capsys.readouterr().out)["run"]["objective"] == pytest.approx(11)
    assert os.path.exists("m.mod")


@contextlib.contextmanager
def interrupted_after(code, seconds):
    """Runs `code` in a child that prints "ready" first, sends it Ctrl-C `seconds` later and gives its output;
    the child must then end normally."""
    with subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, text=True) as child:
        assert child.stdout.readline().strip() == "ready"
        time.sleep(seconds)
        child.send_signal(signal.SIGINT)
        yield child.stdout
        assert child.wait(timeout=60) == 0


@pytest.mark.parametrize("name", ["highs", "scip"])
def test_ctrl_c_stops_a_long_solve(name):
    if name != "highs":
        pytest.importorskip("pyscipopt")
    # A market-split instance: forty binaries, five equalities with random coefficients; HiGHS needs far longer
    # than the test waits. Ctrl-C must stop the search, not wait for the time limit.
    code = textwrap.dedent(
        """
        import random
        from tarvok.solver import solve_model
        random.seed(7)
        a = [[random.randint(0, 99) for _ in range(40)] for _ in range(5)]
        model = ("range R = 1..5;\\nrange C = 1..40;\\nint a[R][C] = ...;\\nint b[R] = ...;\\n"
                 "dvar boolean x[C];\\ndvar float+ over[R];\\ndvar float+ under[R];\\n"
                 "minimize sum(i in R) (over[i] + under[i]);\\nsubject to {\\n"
                 "  forall(i in R) split: sum(j in C) a[i][j] * x[j] + over[i] - under[i] == b[i];\\n}")
        data = "a = %s;\\nb = %s;" % (a, [sum(row) // 2 for row in a])
        print("ready", flush=True)
        try:
            print(solve_model(model, data, time_limit=120, solver=SOLVER_NAME).status, flush=True)
        except KeyboardInterrupt:
            print("interrupted", flush=True)
            print(solve_model("dvar float+ y;\\nminimize y;\\nsubject to { y >= 2; }", "").objective, flush=True)
        """
    ).replace("SOLVER_NAME", repr(name))
    with interrupted_after(code, 1.5) as out:
        line = out.readline().strip()
        if line.startswith("pressed CTRL-C"):  # SCIP announces the signal it caught on stdout itself
            line = out.readline().strip()
        assert line == "interrupted"
        assert float(out.readline()) == 2.0  # the module still solves afterwards


def test_ctrl_c_stops_a_long_instantiation():
    # Eight billion bindings whose condition never holds: the compiler has nothing to check in them, the
    # instantiation walks them all unless interrupted.
    code = textwrap.dedent(
        """
        from tarvok.solver import instantiate
        model = ("range R = 1..2000;\\ndvar float+ x[R];\\nminimize sum(i in R) x[i];\\n"
                 "subject to {\\n  forall(i in R, j in R, k in R: i < 0) x[i] >= 1;\\n}")
        print("ready", flush=True)
        try:
            instantiate(model, "")
            print("finished", flush=True)
        except KeyboardInterrupt:
            print("interrupted", flush=True)
            print(instantiate("dvar float+ y;\\nminimize y;", "").num_columns, flush=True)
        """
    )
    with interrupted_after(code, 0.5) as out:
        # The module still works afterwards.
        assert out.readline().strip() == "interrupted"
        assert out.readline().strip() == "1"
