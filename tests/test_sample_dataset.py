"""The shipped sample set: every reference optimum derived twice here, without
the package (scipy on a hand formulation, and brute force, a closed form,
duality or a separate enumeration), and a Tarvok model of every problem that
reaches it through tarvok.solver, so the descriptions are solvable in our
language."""

import itertools
import json
from fractions import Fraction
from pathlib import Path

import pytest

import tarvok

np = pytest.importorskip("numpy")
optimize = pytest.importorskip("scipy.optimize")

SAMPLE = Path(tarvok.__file__).resolve().parent / "datasets" / "sample.jsonl"
MODELS = Path(__file__).parent / "sample_models"
inf = np.inf


def shipped():
    return {r["id"]: r for r in map(json.loads, SAMPLE.read_text(encoding="utf-8").splitlines())}


def milp(c, A, lo, hi, integrality=None, ub=None, maximize=False):
    c = np.asarray(c, float)
    n = len(c)
    res = optimize.milp(
        -c if maximize else c,
        constraints=[optimize.LinearConstraint(np.asarray(A, float), lo, hi)],
        integrality=np.zeros(n) if integrality is None else np.asarray(integrality),
        bounds=optimize.Bounds(np.zeros(n), np.full(n, inf) if ub is None else ub),
    )
    assert res.status == 0, res
    return -res.fun if maximize else res.fun


def bakery():
    v = milp([3, 5], [[2, 3], [1, 2], [1, 1]], [-inf] * 3, [120, 70, 50], integrality=[1, 1], maximize=True)
    brute = max(
        3 * b + 5 * c for b in range(61) for c in range(41) if 2 * b + 3 * c <= 120 and b + 2 * c <= 70 and b + c <= 50
    )
    return v, brute


def feed_mix():
    # corn x, soy y: x + y >= 800; protein .09x + .6y >= .3(x + y); fibre .02x + .06y <= .05(x + y)
    v = milp([0.3, 0.9], [[1, 1], [-0.21, 0.30], [-0.03, 0.01]], [800, 0, -inf], [inf, inf, 0])
    # Closed form: weight and protein tight, y = 0.7x and x + y = 800; fibre then holds.
    x = Fraction(800) / Fraction(17, 10)
    y = 800 - x
    assert Fraction(2, 100) * x + Fraction(6, 100) * y <= Fraction(5, 100) * 800
    return v, float(Fraction(3, 10) * x + Fraction(9, 10) * y)


def transport():
    cost, supply, demand = [[4, 6, 9], [5, 3, 8]], [40, 60], [30, 35, 35]
    A = [[1 if k // 3 == i else 0 for k in range(6)] for i in range(2)]
    A += [[1 if k % 3 == j else 0 for k in range(6)] for j in range(3)]
    v = milp([cost[k // 3][k % 3] for k in range(6)], A, [-inf, -inf] + demand, supply + [inf] * 3)
    # Integer shipments suffice (the matrix is totally unimodular); the second warehouse sends the rest.
    brute = min(
        sum(cost[0][j] * s for j, s in enumerate(first))
        + sum(cost[1][j] * (demand[j] - s) for j, s in enumerate(first))
        for first in itertools.product(range(31), range(36), range(36))
        if sum(first) <= 40 and 100 - sum(first) <= 60
    )
    return v, brute


def knapsack():
    w, val = [12, 7, 11, 8, 9], [24, 13, 23, 15, 16]
    v = milp(val, [w], [-inf], [26], integrality=[1] * 5, ub=np.ones(5), maximize=True)
    brute = max(
        sum(val[i] for i in s)
        for r in range(6)
        for s in itertools.combinations(range(5), r)
        if sum(w[i] for i in s) <= 26
    )
    return v, brute


def assignment():
    H = [[9, 2, 7, 8], [6, 4, 3, 7], [5, 8, 1, 8], [7, 6, 9, 4]]
    A = [[1 if k // 4 == i else 0 for k in range(16)] for i in range(4)]
    A += [[1 if k % 4 == j else 0 for k in range(16)] for j in range(4)]
    v = milp([H[k // 4][k % 4] for k in range(16)], A, [1] * 8, [1] * 8, integrality=[1] * 16, ub=np.ones(16))
    return v, min(sum(H[i][p[i]] for i in range(4)) for p in itertools.permutations(range(4)))


def furniture():
    profit, carpentry, finishing, wood = [70, 30, 55], [6, 2, 4], [2, 1, 3], [30, 10, 20]
    v = milp(profit, [carpentry, finishing, wood], [-inf] * 3, [240, 100, 1000], integrality=[1] * 3, maximize=True)
    brute = max(
        70 * t + 30 * c + 55 * d
        for t in range(41)
        for c in range(101)
        for d in range(34)
        if 6 * t + 2 * c + 4 * d <= 240 and 2 * t + c + 3 * d <= 100 and 30 * t + 10 * c + 20 * d <= 1000
    )
    return v, brute


def blending():
    # aR, bR, aP, bP: crude A or B in regular or premium
    c = [70 - 40, 70 - 60, 85 - 40, 85 - 60]
    A = [[1, 0, 1, 0], [0, 1, 0, 1], [1, 1, 0, 0], [0, 0, 1, 1], [82 - 88, 98 - 88, 0, 0], [0, 0, 82 - 93, 98 - 93]]
    v = milp(c, A, [-inf, -inf, 3000, 2000, 0, 0], [5000, 4000, inf, inf, inf, inf], maximize=True)
    # The dual, solved on its own, has the same value (strong duality).
    A_ub = np.array([[1, 0, 1, 0], [0, 1, 0, 1], [-1, -1, 0, 0], [0, 0, -1, -1], [6, -10, 0, 0], [0, 0, 11, -5]], float)
    b_ub = np.array([5000, 4000, -3000, -2000, 0, 0], float)
    dual = optimize.linprog(b_ub, A_ub=-A_ub.T, b_ub=-np.array(c, float), bounds=[(0, None)] * 6, method="highs")
    assert dual.status == 0
    return v, dual.fun


def nurses():
    need = [4, 8, 10, 7, 12, 4]
    A = [[1 if (k == p or (k + 1) % 6 == p) else 0 for k in range(6)] for p in range(6)]
    v = milp([1] * 6, A, need, [inf] * 6, integrality=[1] * 6)
    # Exact enumeration on the cycle: fix the last period's starters, then a
    # shortest path over the others (no count above the largest need helps).
    top = max(need) + 1
    best = inf
    for last in range(top):
        cost = {s: s for s in range(top) if s + last >= need[0]}  # starters in period 1
        for p in range(1, 5):
            cost = {
                s: min(c + s for prev, c in cost.items() if prev + s >= need[p])
                for s in range(top)
                if any(prev + s >= need[p] for prev in cost)
            }
        best = min([best] + [c + last for prev, c in cost.items() if prev + last >= need[5]])
    return v, best


def facility():
    fixed, capacity, demand = [1000, 1200, 900], [80, 90, 70], [30, 40, 35, 25]
    ship = [[4, 6, 9, 5], [7, 3, 4, 6], [6, 8, 3, 4]]
    A = [[0] * 3 + [1 if k % 4 == j else 0 for k in range(12)] for j in range(4)]
    A += [
        [-capacity[i] if q == i else 0 for q in range(3)] + [1 if k // 4 == i else 0 for k in range(12)]
        for i in range(3)
    ]
    v = milp(
        fixed + [ship[k // 4][k % 4] for k in range(12)],
        A,
        demand + [-inf] * 3,
        [inf] * 4 + [0] * 3,
        integrality=[1] * 3 + [0] * 12,
        ub=np.array([1] * 3 + [inf] * 12),
    )
    # Every set of open sites, each with its own transport LP.
    best = inf
    for opened in itertools.product([0, 1], repeat=3):
        A_ub = [[1 if k // 4 == i else 0 for k in range(12)] for i in range(3)]
        A_ub += [[-1 if k % 4 == j else 0 for k in range(12)] for j in range(4)]
        b_ub = [capacity[i] * opened[i] for i in range(3)] + [-d for d in demand]
        r = optimize.linprog([ship[k // 4][k % 4] for k in range(12)], A_ub=A_ub, b_ub=b_ub, method="highs")
        if r.status == 0:
            best = min(best, r.fun + sum(f * o for f, o in zip(fixed, opened)))
    return v, best


def investment():
    rates = [0.04, 0.09, 0.07, 0.02]  # bonds, stocks, real estate, savings
    A = [[1, 1, 1, 1], [0, 1, 0, 0], [0, 0, 1, 0], [-1, 1, 0, 0], [0, 0, 0, 1]]
    v = milp(rates, A, [-inf, -inf, -inf, -inf, 10000], [100000, 30000, 25000, 0, inf], maximize=True)
    # By hand: stocks and real estate at their caps, savings at its floor, the rest in bonds (4% beats 2%).
    return v, 0.09 * 30000 + 0.07 * 25000 + 0.04 * 35000 + 0.02 * 10000


DERIVATIONS = {
    f.__name__: f
    for f in (bakery, feed_mix, transport, knapsack, assignment, furniture, blending, nurses, facility, investment)
}


def test_the_shipped_set_is_the_ten_derived_problems():
    records = shipped()
    assert list(records) == list(DERIVATIONS)
    for record in records.values():
        assert set(record) == {"id", "description", "objective"} and len(record["description"]) > 100


@pytest.mark.parametrize("name", list(DERIVATIONS))
def test_reference_optimum_derived_twice(name):
    first, second = DERIVATIONS[name]()
    expected = shipped()[name]["objective"]
    assert first == pytest.approx(second, rel=1e-7, abs=1e-7)
    assert second == pytest.approx(expected, rel=1e-9, abs=1e-9)


@pytest.mark.parametrize("name", list(DERIVATIONS))
def test_a_tarvok_model_reaches_the_reference(name):
    solver = pytest.importorskip("tarvok.solver")
    pytest.importorskip("highspy")
    model = (MODELS / f"{name}.mod").read_text(encoding="utf-8")
    data = (MODELS / f"{name}.dat").read_text(encoding="utf-8")
    result = solver.solve_model(model, data, time_limit=60.0)
    assert result.status is solver.Status.OPTIMAL
    assert result.objective == pytest.approx(shipped()[name]["objective"], rel=1e-6)
