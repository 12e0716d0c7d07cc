"""Duals, reduced costs, slacks and ranging, checked against figures found another way: the dual LP solved by
SciPy, finite differences of the optimum, and hand-solved examples."""

import _thread
import json
import subprocess
import sys

import numpy as np
import pytest

from tarvok import solver

pytest.importorskip("highspy")
scipy_optimize = pytest.importorskip("scipy.optimize")

TRANSPORT = """{string} P = ...;
{string} M = ...;
float supply[P] = ...;
float demand[M] = ...;
float cost[P][M] = ...;
dvar float+ ship[P][M];
minimize total: sum(p in P, m in M) cost[p][m] * ship[p][m];
subject to {
  forall(p in P) cap: sum(m in M) ship[p][m] <= supply[p];
  forall(m in M) need: sum(p in P) ship[p][m] >= demand[m];
}
"""

SUPPLY = {"a": 55.0, "b": 60.0}
DEMAND = {"x": 30.0, "y": 40.0, "z": 20.0}
COST = {"a": [2.0, 4.0, 5.0], "b": [3.0, 1.0, 7.0]}


def transport_data(supply=SUPPLY, demand=DEMAND):
    return (
        'P = {"a", "b"};\nM = {"x", "y", "z"};\n'
        f"supply = [{supply['a']}, {supply['b']}];\n"
        f"demand = [{demand['x']}, {demand['y']}, {demand['z']}];\n"
        "cost = [[2, 4, 5], [3, 1, 7]];\n"
    )


MIX = """dvar float+ x;
dvar float+ y;
maximize profit: 3*x + 2*y;
subject to {
  cap: x + y <= CAP;
  lim: x <= 3;
  forall(i in 1..2) two: x + i*y <= 10;
}
"""


def mix(cap):
    return MIX.replace("CAP", repr(cap))


def test_transport_duals_are_the_solution_of_the_dual_lp(backend):
    result = solver.solve_model(TRANSPORT, transport_data(), sensitivity="duals", solver=backend)
    assert result.sensitivity_basis == "lp"
    assert result.ranging is None
    # The primal as min c.x, G x <= h, x >= 0 (demand rows negated), built from the data by hand;
    # its dual: max -h.u, -G^T u <= c, u >= 0.
    plants, markets = list(SUPPLY), list(DEMAND)
    c = np.array([COST[p][k] for p in plants for k in range(3)])
    G, h = [], []
    for i, p in enumerate(plants):
        G.append([1.0 if j // 3 == i else 0.0 for j in range(6)])
        h.append(SUPPLY[p])
    for k, m in enumerate(markets):
        G.append([-1.0 if j % 3 == k else 0.0 for j in range(6)])
        h.append(-DEMAND[m])
    G, h = np.array(G), np.array(h)
    dual = scipy_optimize.linprog(h, A_ub=-G.T, b_ub=c, bounds=(0, None), method="highs")
    assert dual.status == 0
    assert -dual.fun == pytest.approx(result.objective)
    u = dual.x
    # A <= row's dual is the objective's change per unit of supply: -u; a >= row's is +u.
    assert result.duals["cap"] == {p: pytest.approx(-u[i], abs=1e-9) for i, p in enumerate(plants)}
    assert result.duals["need"] == {m: pytest.approx(u[2 + k], abs=1e-9) for k, m in enumerate(markets)}
    # Reduced costs are c - A^T y in the model's own shape.
    reduced = c + G.T @ u
    # Keyed by (plant, market) in column order, as values are.
    assert np.allclose(list(result.reduced_costs["ship"].values()), reduced, atol=1e-9)
    ship = np.array(result.nested_values["ship"]).ravel()
    assert list(result.values["ship"].values()) == list(ship)
    assert result.activities["cap"] == {p: pytest.approx(ship[3 * i : 3 * i + 3].sum()) for i, p in enumerate(plants)}
    assert result.slacks["cap"] == {p: pytest.approx(SUPPLY[p] - result.activities["cap"][p]) for p in plants}
    assert all(v == pytest.approx(0) for v in result.slacks["need"].values())


@pytest.mark.parametrize(
    "change",
    [("need", "y", 0.01), ("need", "x", -0.01), ("cap", "a", -0.01)],
)
def test_transport_duals_match_finite_differences(change, backend):
    label, key, step = change
    base = solver.solve_model(TRANSPORT, transport_data(), sensitivity="duals", solver=backend)
    supply, demand = dict(SUPPLY), dict(DEMAND)
    (demand if label == "need" else supply)[key] += step
    moved = solver.solve_model(TRANSPORT, transport_data(supply, demand), solver=backend)
    assert (moved.objective - base.objective) / step == pytest.approx(base.duals[label][key], abs=1e-6)


def test_a_maximisation_reports_what_the_optimum_gains_and_the_ranges_solved_by_hand():
    result = solver.solve_model(mix(4.0), "", sensitivity=True)
    assert result.values == {"x": 3.0, "y": 1.0}
    step = 1e-3
    for cap, sign in ((4.0 + step, 1), (4.0 - step, -1)):
        moved = solver.solve_model(mix(cap), "")
        assert sign * (moved.objective - result.objective) / step == pytest.approx(result.duals["cap"])
    assert result.duals["cap"] == pytest.approx(2.0)
    # `lim` became a bound of x: its dual is x's reduced cost, per unit of that bound.
    assert result.duals["lim"] == pytest.approx(1.0)
    assert result.duals["two"] == {"1": 0.0, "2": 0.0}
    assert result.slacks["two"] == {"1": pytest.approx(6.0), "2": pytest.approx(5.0)}
    # With x = 3 and y = cap - 3: y >= 0 and 3 + 2y <= 10 hold for cap in [3, 6.5].
    rhs = result.ranging["rhs"]["cap"]
    assert (rhs["low"], rhs["high"]) == (pytest.approx(3.0), pytest.approx(6.5))
    assert rhs["leaving_at_high"] == "two[2]"
    # A row that does not bind can move down to its activity, and up without limit.
    assert result.ranging["rhs"]["two"]["2"]["low"] == pytest.approx(5.0)
    assert result.ranging["rhs"]["two"]["2"]["high"] is None
    # y's cost may go from 0 to 3 before x and y trade places in the basis.
    costs = result.ranging["costs"]["y"]
    assert (costs["low"], costs["high"]) == (pytest.approx(0.0), pytest.approx(3.0))
    json.dumps(result.to_dict(), allow_nan=False)


def test_a_mip_reports_the_lp_with_its_integers_fixed(backend):
    model = """dvar int+ n;
dvar float+ y;
maximize v: 5*n + 3*y;
subject to {
  cap: 2*n + y <= 7.5;
  room: y <= 2.2 + 0*n;
}
"""
    result = solver.solve_model(model, "", sensitivity="duals", solver=backend)
    # n = 3 leaves y = 1.5 (19.5); n = 2 would give 10 + 6.6.
    assert result.values == {"n": 3, "y": pytest.approx(1.5)}
    assert result.sensitivity_basis == "fixed_integers"
    assert result.duals == {"cap": pytest.approx(3.0), "room": 0.0}
    assert result.reduced_costs["n"] == pytest.approx(5 - 2 * 3)
    assert "integer columns fixed at the solution" in result.summary()
    plain = solver.solve_model(model, "", solver=backend)
    assert plain.duals is None and plain.sensitivity_basis is None and "duals" not in plain.to_dict()


def test_a_maximisation_has_the_same_duals_on_every_backend(backend):
    result = solver.solve_model(mix(4.0), "", sensitivity="duals", solver=backend)
    assert result.values == {"x": 3.0, "y": 1.0}
    assert (result.duals["cap"], result.duals["lim"]) == (pytest.approx(2.0), pytest.approx(1.0))
    assert result.reduced_costs == {"x": pytest.approx(1.0), "y": pytest.approx(0.0)}


def test_ranging_is_highs_alone():
    pytest.importorskip("pyscipopt")
    with pytest.raises(
        ValueError, match="ranging needs solver='highs'; with solver='scip' ask for sensitivity='duals'"
    ):
        solver.solve_model(mix(4.0), "", sensitivity=True, solver="scip")


def test_the_option_is_checked():
    with pytest.raises(ValueError, match="'sensitivity' must be True, False, 'duals' or 'ranging'"):
        solver.solve_model(mix(4.0), "", sensitivity="all")
    with pytest.raises(TypeError, match="'sensitivity' must be bool or str, not int"):
        solver.solve_program(solver.instantiate(mix(4.0), ""), sensitivity=1)


def test_no_figures_without_an_optimum():
    result = solver.solve_model("dvar float+ x;\nminimize c: x;\nsubject to { low: x <= -1; }\n", "", sensitivity=True)
    assert result.status == solver.Status.INFEASIBLE
    assert result.duals is None and result.ranging is None


def test_the_command_prints_tables_and_json(tmp_path):
    (tmp_path / "t.mod").write_text(TRANSPORT)
    (tmp_path / "t.dat").write_text(transport_data({"a": 70.0, "b": 40.0}))

    def run(*options):
        done = subprocess.run(
            [sys.executable, "-m", "tarvok", "run", "t.mod", "t.dat", *options],
            cwd=tmp_path,
            capture_output=True,
            text=True,
            timeout=120,
        )
        assert done.returncode == 0, done.stderr
        return done.stdout

    text = run("--sensitivity")
    assert "\nconstraint need (line 10)\n" in text and "rhs low" in text
    block = text.split("constraint cap (line 9)\n")[1].split("\n\n")[0].splitlines()
    # Binding rows first: plant b ships all it has, a does not.
    assert block[1].split()[0] == "b" and block[1].endswith("binding")
    assert block[2].split()[0] == "a" and not block[2].endswith("binding")
    assert "reduced cost" in text and "cost high" in text
    data = json.loads(run("--duals", "--json"))
    assert data["sensitivity_basis"] == "lp" and data["ranging"] is None
    assert set(data["duals"]) == {"cap", "need"} and len(data["reduced_costs"]["ship"]) == 2
    assert "duals" not in json.loads(run("--json"))


# ------------------------------------------------- constraints on one variable, which become its bounds

PLANTS = """dvar float+ doors;
dvar float+ windows;
OBJECTIVE;
subject to {
  plantA: doors <= 4;
  plantB: PLANTB;
  plantC: 3*doors + 2*windows <= 18;
}
"""


def plants(plant_b, maximize=True):
    objective = "maximize profit: 3*doors + 5*windows" if maximize else "minimize loss: -3*doors - 5*windows"
    return PLANTS.replace("OBJECTIVE", objective).replace("PLANTB", plant_b)


def optimum(model, solver_name="highs"):
    """The optimum, or None when nothing is feasible."""
    return solver.solve_model(model, "", solver=solver_name).objective


def assert_range_holds(model_at, side, dual, rng, objective):
    """The optimum at each end of `rng` (or 5 past `side` towards an open end) lies on the dual's line."""
    for end, away, reported in ((rng["low"], -5, rng["objective_at_low"]), (rng["high"], 5, rng["objective_at_high"])):
        at = side + away if end is None else end
        if at != side:
            assert optimum(model_at(at)) == pytest.approx(objective + dual * (at - side), abs=1e-6), (at, rng)
        if end is not None:
            assert reported == pytest.approx(objective + dual * (end - side), abs=1e-6), (end, rng)


@pytest.mark.parametrize("maximize", [True, False])
@pytest.mark.parametrize(
    "plant_b, side",
    [("2*windows <= {}", 12), ("-2*windows >= {}", -12), ("2*windows == {}", 12), ("{} >= 2*windows", 12),
     ("0.5*windows <= {}", 3)],
)  # fmt: skip
def test_a_single_variable_constraint_reports_its_own_dual(plant_b, side, maximize, backend):
    model_at = lambda b: plants(plant_b.format(b), maximize)  # noqa: E731
    result = solver.solve_model(model_at(side), "", sensitivity=True if backend == "highs" else "duals", solver=backend)
    assert result.values == {"doors": pytest.approx(2), "windows": pytest.approx(6)}
    step = 1e-2
    slope = (optimum(model_at(side + step)) - optimum(model_at(side - step))) / (2 * step)
    assert result.duals["plantB"] == pytest.approx(slope)
    assert result.duals["plantA"] == 0 and result.slacks["plantA"] == pytest.approx(2)
    assert result.activities["plantB"] == pytest.approx(side) and result.slacks["plantB"] == 0
    if backend == "highs":
        assert_range_holds(model_at, side, slope, result.ranging["rhs"]["plantB"], result.objective)


def test_the_product_mix_duals_solve_the_dual_lp(backend):
    result = solver.solve_model(plants("2*windows <= 12"), "", sensitivity="duals", solver=backend)
    # The dual: min 4a + 12b + 18c with a + 3c >= 3, 2b + 2c >= 5, a, b, c >= 0.
    dual = scipy_optimize.linprog([4, 12, 18], A_ub=[[-1, 0, -3], [0, -2, -2]], b_ub=[-3, -5], method="highs")
    assert dual.fun == pytest.approx(result.objective) == 36
    assert [result.duals[k] for k in ("plantA", "plantB", "plantC")] == pytest.approx(list(dual.x))
    assert result.duals["plantB"] == pytest.approx(1.5)


@pytest.mark.parametrize(
    "constraints, duals",
    [("low: x >= 2;\n  high: x <= 2;", {"low": 2.0, "high": 0.0}), ("cap: x <= 0;", {"cap": 0.0})],
)
def test_a_folded_constraint_takes_the_reduced_cost_only_when_its_own_bound_holds(constraints, duals, backend):
    model = f"dvar float+ x;\nminimize c: 2*x;\nsubject to {{\n  {constraints}\n}}\n"
    result = solver.solve_model(model, "", sensitivity="duals", solver=backend)
    assert result.duals == duals
    # LP duality: the duals times the sides that bind make the optimum (x's own bound 0 adds nothing).
    assert sum(d * result.activities[k] for k, d in result.duals.items()) == pytest.approx(result.objective)


def loose_and_equal(loose=20, twice=10, once=5):
    return (
        "dvar float x in 0..10;\nmaximize c: 2*x;\nsubject to {\n"
        f"  loose: x <= {loose};\n  twice: 2*x <= {twice};\n  once: x <= {once};\n}}\n"
    )


def test_looser_and_equal_bounds_keep_their_figures_and_one_dual(backend):
    sides = {"loose": 20, "twice": 10, "once": 5}
    model_at = lambda name: lambda b: loose_and_equal(**{**sides, name: b})  # noqa: E731
    ranging = backend == "highs"
    result = solver.solve_model(model_at("loose")(20), "", sensitivity=ranging or "duals", solver=backend)
    assert result.activities == {"loose": 5, "twice": 10, "once": 5}
    assert result.slacks == {"loose": 15, "twice": 0, "once": 0}
    # The equal bounds give the dual to the first of them; their sum is the objective.
    assert result.duals == {"loose": 0, "twice": 1, "once": 0}
    step = 1e-2
    for name, side in sides.items():
        up, down = optimum(model_at(name)(side + step)), optimum(model_at(name)(side - step))
        # Maximising, the optimum is concave in a side: a dual lies between the slopes on either side.
        assert (up - result.objective) / step <= result.duals[name] + 1e-9 <= (result.objective - down) / step + 2e-9
        if ranging:
            assert_range_holds(model_at(name), side, result.duals[name], result.ranging["rhs"][name], 10)
    if ranging:
        twice = result.ranging["rhs"]["twice"]
        assert (twice["low"], twice["high"]) == (0, 10)  # down to x's own 0; up, `once` takes over


def degenerate(side):
    return f"dvar float x in 0..2;\ndvar float y in 0..2;\nminimize c: -x - y;\nsubject to {{\n  both: x + y <= {side};\n}}\n"


def test_at_a_degenerate_vertex_a_basic_row_ranges_where_its_dual_holds(backend):
    ranging = backend == "highs"
    result = solver.solve_model(degenerate(4), "", sensitivity=ranging or "duals", solver=backend)
    step = 0.2
    up, down = optimum(degenerate(4 + step)), optimum(degenerate(4 - step))
    assert (down - up) == pytest.approx(step)  # lowering the side costs, raising it gains nothing
    assert (result.objective - down) / step <= result.duals["both"] <= (up - result.objective) / step
    if ranging:
        both = result.ranging["rhs"]["both"]
        assert both["low"] >= 4 - 1e-9 and both["high"] is None
        assert_range_holds(degenerate, 4, result.duals["both"], both, -4)


def test_the_command_reports_every_constraint_with_its_own_figures(tmp_path, backend):
    (tmp_path / "plants.mod").write_text(plants("-2*windows >= -12"))
    (tmp_path / "bounds.mod").write_text(loose_and_equal())
    figures = ["--sensitivity"] if backend == "highs" else ["--duals"]

    def run(*options):
        done = subprocess.run(
            [sys.executable, "-m", "tarvok", "run", *options, "--solver", backend, *figures],
            cwd=tmp_path,
            capture_output=True,
            text=True,
            timeout=120,
        )
        assert done.returncode == 0, done.stderr
        return done.stdout

    data = json.loads(run("plants.mod", "--json"))
    assert data["duals"]["plantB"] == pytest.approx(-1.5) and data["activities"]["plantB"] == pytest.approx(-12)
    if backend == "highs":
        assert (data["ranging"]["rhs"]["plantB"]["low"], data["ranging"]["rhs"]["plantB"]["high"]) == (-18, -6)
    text = run("bounds.mod", "--solution", "bounds.csv")
    for name, note in (("loose", "bound of x"), ("twice", "binding, bound of x"), ("once", "binding, bound of x")):
        assert f"\nconstraint {name} " in text
        assert text.split(f"constraint {name} ")[1].split("\n\n")[0].rstrip().endswith(note)
    rows = (tmp_path / "bounds.csv").read_text().splitlines()
    assert {"duals:loose,0.0", "duals:twice,1.0", "duals:once,0.0", "slacks:loose,15.0"} <= set(rows)


def test_ctrl_c_while_scip_solves_again_for_duals_keeps_the_solution(monkeypatch):
    pyscipopt = pytest.importorskip("pyscipopt")
    runs = []

    class CtrlCOnTheDualsRun(pyscipopt.Model):
        def optimizeNogil(self):
            runs.append(self)
            if len(runs) == 2:  # the LP solved again for its duals
                _thread.interrupt_main()
            return super().optimizeNogil()

    monkeypatch.setattr(pyscipopt, "Model", CtrlCOnTheDualsRun)
    with pytest.raises(KeyboardInterrupt) as stopped:
        solver.solve_model(mix(4.0), "", sensitivity="duals", solver="scip")
    assert len(runs) == 2
    assert stopped.value.result.status == solver.Status.OPTIMAL and stopped.value.result.duals is None
