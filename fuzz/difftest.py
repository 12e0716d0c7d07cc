#!/usr/bin/env python3
"""Differential test of every output of a model against an oracle.

Random small models (sets, ranges, tuples, indexed parameters, scalar and
indexed variables of every domain, bounds that are fractional, negative, equal
or crossing, foralls with conditions, sums, ranges, equalities, repeated and
zero terms, objective constants, both senses, infeasible and unbounded
instances) are solved four ways: tarvok.solver.solve_model (what `tarvok run`
prints), the script `tarvok emit` writes, and the .mps and .lp files
write_model writes, read back by HiGHS. The oracle solves the program the
generator itself built, from its own columns and rows, never from the
package; every way must reach its status and objective, and every point it
returns must satisfy the generator's rows and bounds. The same data given
as a mapping keyed by set elements (a Python tuple for a tuple element) and
as a JSON object (`"<a,1,0.5>"` for one) must state the very program the .dat
text states.

An optimal model's sensitivity figures, from each solver, are checked
against the oracle's program too (a MIP's as its LP with the integer columns
fixed): every constraint has them, each dual is bracketed by the optimum's
slopes when its side moves either way, the duals together leave a column's
cost only where its own bound holds it (LP duality), and at the ends of a
range the optimum lies on the dual's line.

    python fuzz/difftest.py --minutes 10          # a long run, with a time budget
    python fuzz/difftest.py --count 300 --seed 1  # a fixed set of models
    python fuzz/difftest.py --plant highs-mps     # the .mps from HiGHS's own writer
    python fuzz/difftest.py --plant column-duals  # a single-column constraint's dual as its column's reduced cost

The oracle's normal form is the one the package documents: an integer
column's bound within min(1e-9 * max(1, |b|), 1e-6) of an integer is that
integer, any other rounds inward; bounds or row sides that cross make the
program infeasible, and such a program has no file.
"""

import argparse
import contextlib
import io
import json
import math
import os
import random
import sys
import tempfile
import time
from dataclasses import dataclass, field

import highspy
import numpy as np

INF = math.inf

# ------------------------------------------------------------------ models


@dataclass
class Column:
    variable: str
    position: int  # -1 for a scalar variable
    integer: bool
    lower: float
    upper: float


@dataclass
class Case:
    model: str
    data: str
    columns: list
    rows: list = field(default_factory=list)  # ({column: coefficient}, lower, upper)
    names: list = field(default_factory=list)  # per row: (constraint label, its forall values as names write them)
    cost: dict = field(default_factory=dict)
    offset: float = 0.0
    maximize: bool = False
    shapes: dict = field(default_factory=dict)  # variable -> size, or -1 for a scalar
    values: dict = field(default_factory=dict)  # the data by name, as the generator chose it


def number(v):
    """A literal of the language for `v`, in parentheses when negative."""
    text = repr(float(v)) if v != int(v) else str(int(v))
    return f"({text})" if v < 0 else text


def pick_value(rng, fractional=True):
    v = rng.choice([0, 1, 2, 3, 5, -1, -2, 0.5, 1.5, -2.5, 4])
    if fractional and rng.random() < 0.3:
        v += rng.choice([0.25, 0.5, -0.5, 0.7])
    return v


def generate(rng):
    """One random model with its data, and the program it states."""
    n = rng.randint(0, 4)
    strings = ["a", "b", "c", "d"][: rng.randint(1, 3)]
    pairs = [(s, k, pick_value(rng)) for k, s in enumerate(strings, start=1) if rng.random() < 0.8]
    sets = {"I": list(range(1, n + 1)), "S": strings, "T": pairs}
    p = [pick_value(rng) for _ in sets["I"]]
    q = [pick_value(rng) for _ in sets["S"]]
    decl = [
        "int n = ...;",
        "range I = 1..n;",
        "{string} S = ...;",
        "tuple Pair { string s; int k; float w; }",
        "{Pair} T = ...;",
        "float p[I] = ...;",
        "float q[S] = ...;",
        "float u[T] = ...;",
    ]
    data = [
        f"n = {n};",
        "S = {" + ", ".join(f'"{s}"' for s in strings) + "};",
        "T = {" + ", ".join(f'<"{s}", {k}, {w!r}>' for s, k, w in pairs) + "};",
        "p = [" + ", ".join(repr(v) for v in p) + "];",
        "q = [" + ", ".join(repr(v) for v in q) + "];",
        "u = [" + ", ".join(repr(w) for _, _, w in pairs) + "];",
    ]
    case = Case(model="", data="\n".join(data) + "\n", columns=[])
    case.values = {"n": n, "S": strings, "T": pairs, "p": p, "q": q}
    keys = {"I": sets["I"], "S": sets["S"], "T": pairs}
    index_text = {"I": lambda i: str(i), "S": lambda s: f'"{s}"', "T": None}
    key_name = {"I": str, "S": str, "T": lambda t: f"<{t[0]},{t[1]},{float(t[2])!r}>"}
    variables = []  # (name, set or None, [column indices])
    for k in range(rng.randint(1, 4)):
        name = f"v{k}"
        kind = rng.choice(["float", "float+", "int", "int+", "boolean"])
        over = rng.choice([None, None, "I", "S", "T"])
        lower = 0.0 if kind in ("float+", "int+", "boolean") else -INF
        upper = 1.0 if kind == "boolean" else INF
        bounds = ""
        if kind in ("float", "int") and rng.random() < 0.6:
            lo = pick_value(rng)
            hi = rng.choice([lo, lo + abs(pick_value(rng, False)), lo + abs(pick_value(rng)) + 0.5] * 6 + [lo - 0.5])
            bounds = f" in {number(lo)}..{number(hi)}"
            lower, upper = float(lo), float(hi)
        dims = f"[{over}]" if over else ""
        decl.append(f"dvar {kind} {name}{dims}{bounds};")
        members = keys[over] if over else [None]
        first = len(case.columns)
        for pos, _ in enumerate(members):
            case.columns.append(Column(name, pos if over else -1, kind in ("int", "int+", "boolean"), lower, upper))
        case.shapes[name] = len(members) if over else -1
        variables.append((name, over, list(range(first, len(case.columns)))))

    def ref(var, member_pos):
        name, over, cols = var
        if over is None:
            return name, cols[0]
        member = keys[over][member_pos]
        text = index_text[over](member) if over != "T" else None
        return (f"{name}[{text}]" if text else None), cols[member_pos]

    def terms(count):
        """[(coefficient, text, column)] over scalar or fixed-index references."""
        out = []
        for _ in range(count):
            var = rng.choice(variables)
            name, over, cols = var
            if not cols:
                continue
            pos = rng.randrange(len(cols))
            text, col = ref(var, pos)
            if text is None:  # a tuple index is written through a sum below
                continue
            coef = rng.choice([1, 2, -1, 0.5, -3, 0, 1.5])
            out.append((coef, text, col))
            if rng.random() < 0.15:
                out.append((coef, text, col))  # the same term again
        return out

    def linear_text(ts):
        return " + ".join(f"{number(c)} * {t}" for c, t, _ in ts) if ts else "0"

    def add(coefs, ts, sign=1):
        for c, _, col in ts:
            coefs[col] = coefs.get(col, 0) + sign * c

    # The objective.
    case.maximize = rng.random() < 0.5
    obj_terms = terms(rng.randint(0, 3))
    case.offset = float(rng.choice([0, 0, 2.5, -1]))
    sums = []
    for name, over, cols in variables:
        if over == "I" and cols and rng.random() < 0.5:
            sums.append(f"sum(i in I) p[i] * {name}[i]")
            for pos, col in enumerate(cols):
                case.cost[col] = case.cost.get(col, 0) + p[pos]
    add(case.cost, obj_terms)
    has_objective = rng.random() < 0.9
    if has_objective:
        parts = [linear_text(obj_terms)] + sums + ([number(case.offset)] if case.offset else [])
        decl.append(("maximize " if case.maximize else "minimize ") + " + ".join(parts) + ";")
    else:
        case.cost, case.offset, case.maximize = {}, 0.0, False

    constraints = []
    named = []  # per row: (constraint index, label or None, keys)
    for k in range(rng.randint(0, 4)):
        shape = rng.random()
        ts = terms(rng.randint(1, 3))
        coefs = {}
        add(coefs, ts)
        label = f"r{k}: " if rng.random() < 0.5 else ""
        if shape < 0.25:  # a range, whose sides may cross
            lo = pick_value(rng)
            hi = lo + rng.choice([0, 1, 2.5, 3] * 3 + [-1])
            constraints.append(f"{label}{number(lo)} <= {linear_text(ts)} <= {number(hi)};")
            case.rows.append((coefs, float(lo), float(hi)))
            named.append((len(constraints), label[:-2] or None, ()))
        elif shape < 0.6:  # both sides with terms and constants
            right = terms(rng.randint(0, 1))
            add(coefs, right, -1)
            c1, c2 = pick_value(rng), pick_value(rng)
            op = rng.choice(["<=", ">="] * 3 + ["=="])
            constraints.append(f"{label}{linear_text(ts)} + {number(c1)} {op} {linear_text(right)} + {number(c2)};")
            rhs = float(c2 - c1)
            lo, hi = rhs if op != "<=" else -INF, rhs if op != ">=" else INF
            if not ts and right:  # stated the other way round: `c1 op right + c2` reads as `right op' c1 - c2`
                coefs, lo, hi = {j: -a for j, a in coefs.items()}, -hi, -lo
            case.rows.append((coefs, lo, hi))
            named.append((len(constraints), label[:-2] or None, ()))
        else:  # a forall over a set, with a condition
            over = rng.choice(["I", "S", "T"])
            indexed = [v for v in variables if v[1] == over and v[2]]
            cut = rng.choice([None, 1, 2])
            if over == "I":
                cond = f": i != {cut}" if cut else ""
                members = [i for i in sets["I"] if i != cut]
                head = f"forall(i in I{cond}) "
            elif over == "S":
                cond = ' : s != "a"' if cut else ""
                members = [s for s in strings if not (cut and s == "a")]
                head = f"forall(s in S{cond}) "
            else:
                cond = f": t.k >= {cut}" if cut else ""
                members = [t for t in pairs if not cut or t[1] >= cut]
                head = f"forall(t in T{cond}) "
            op = rng.choice(["<=", ">="])
            bound = pick_value(rng)
            fixed = ts if rng.random() < 0.5 or not indexed else []
            parts = [linear_text(fixed)] if fixed else []
            if indexed:
                var = rng.choice(indexed)
                coef = rng.choice([1, -1, 2, 0.5])
                index = {"I": "i", "S": "s", "T": "t"}[over]
                parts.append(f"{number(coef)} * {var[0]}[{index}]")
            if not parts:
                parts = ["0"]
            # The tuple's weight through its field or through an array keyed by the tuple, alternately.
            weight = {"I": "p[i]", "S": "q[s]", "T": "u[t]" if len(constraints) % 2 else "t.w"}[over]
            constraints.append(f"{head}{label}{' + '.join(parts)} {op} {number(bound)} + {weight};")
            for member in members:
                row = {}
                add(row, fixed)
                pos = keys[over].index(member)
                if indexed:
                    row[var[2][pos]] = row.get(var[2][pos], 0) + coef
                w = {"I": lambda: p[pos], "S": lambda: q[pos], "T": lambda: member[2]}[over]()
                rhs = float(bound + w)
                case.rows.append((row, rhs if op == ">=" else -INF, rhs if op == "<=" else INF))
                named.append((len(constraints), label[:-2] or None, (key_name[over](member),)))
    # The tuple-indexed variables take part through a sum.
    for name, over, cols in variables:
        if over == "T" and cols and rng.random() < 0.6:
            cap = pick_value(rng)
            constraints.append(f"sum(t in T) t.w * {name}[t] <= {number(cap)};")
            case.rows.append(({col: pairs[pos][2] for pos, col in enumerate(cols)}, -INF, float(cap)))
            named.append((len(constraints), None, ()))
    # An unlabelled constraint is named after its line: one a line, after the declarations and `subject to {`.
    case.names = [(label or f"c{len(decl) + 1 + at}", keys) for at, label, keys in named]
    text = "\n".join(decl) + "\n"
    if constraints:
        text += "subject to {\n" + "".join(f"  {c}\n" for c in constraints) + "}\n"
    case.model = text
    return case


# ------------------------------------------------------------------ oracle


def inward(bound, lower):
    """An integer column's bound as the documented rule has it."""
    if not math.isfinite(bound):
        return bound
    nearest = round(bound)
    if abs(bound - nearest) <= min(1e-9 * max(1.0, abs(bound)), 1e-6):
        return float(nearest)
    return float(math.ceil(bound) if lower else math.floor(bound))


def arrays(case):
    """The generator's program as arrays, in its normal form: (lower, upper, rows)."""
    lower = [inward(c.lower, True) if c.integer else c.lower for c in case.columns]
    upper = [inward(c.upper, False) if c.integer else c.upper for c in case.columns]
    rows = [({j: a for j, a in coefs.items() if a != 0}, lo, hi) for coefs, lo, hi in case.rows]
    return lower, upper, rows


def cannot_hold(case):
    lower, upper, rows = arrays(case)
    if any(lo > hi + 1e-9 * max(1.0, abs(hi)) for lo, hi in zip(lower, upper)):
        return True
    for coefs, lo, hi in rows:
        if lo > hi + 1e-9 * max(1.0, abs(hi)):
            return True
        if not coefs and not (lo <= 1e-9 and hi >= -1e-9):
            return True
    return False


def highs_of(case, zero_cost=False, rows=None, fixed=None):
    """The generator's program in HiGHS; with `fixed` ({column: value}) an LP with those columns fixed, and with
    `rows` other rows in place of its own."""
    lower, upper, own = arrays(case)
    rows = own if rows is None else rows
    for j, v in (fixed or {}).items():
        lower[j] = upper[j] = v
    h = highspy.Highs()
    h.setOptionValue("output_flag", False)
    n = len(case.columns)
    cost = [0.0 if zero_cost else case.cost.get(j, 0.0) for j in range(n)]
    h.addVars(n, np.array(lower, dtype=float), np.array(upper, dtype=float))
    h.changeColsCost(n, np.arange(n, dtype=np.int32), np.array(cost, dtype=float))
    for j, c in enumerate(case.columns):
        if c.integer and fixed is None:
            h.changeColIntegrality(j, highspy.HighsVarType.kInteger)
    for coefs, lo, hi in rows:
        idx = np.array(list(coefs), dtype=np.int32)
        h.addRow(lo, hi, len(idx), idx, np.array([coefs[j] for j in idx], dtype=float))
    h.changeObjectiveSense(highspy.ObjSense.kMaximize if case.maximize else highspy.ObjSense.kMinimize)
    h.changeObjectiveOffset(case.offset)
    return h


WORDS = {
    "kOptimal": "optimal",
    "kModelEmpty": "optimal",
    "kInfeasible": "infeasible",
    "kUnbounded": "unbounded",
    "kUnboundedOrInfeasible": "infeasible_or_unbounded",
}


def settled(h, again):
    """HiGHS's status for `h`, settled by solving without presolve and then for any feasible
    point (`again()` gives the same program with no objective) when it is left open."""
    h.run()
    status = WORDS.get(h.getModelStatus().name, "error")
    if status == "infeasible_or_unbounded":
        h.setOptionValue("presolve", "off")
        h.run()
        status = WORDS.get(h.getModelStatus().name, "error")
    if status == "infeasible_or_unbounded":
        point = again()
        point.run()
        status = {"optimal": "unbounded", "infeasible": "infeasible"}.get(
            WORDS.get(point.getModelStatus().name), status
        )
    objective = h.getInfo().objective_function_value if status == "optimal" else None
    return status, objective


def oracle(case):
    """(status, objective) of the generator's own program."""
    if cannot_hold(case):
        return "infeasible", None
    if not case.columns:
        return "optimal", case.offset
    return settled(highs_of(case), lambda: highs_of(case, zero_cost=True))


def violation(case, x):
    """What the point `x` breaks, or None."""
    lower, upper, rows = arrays(case)
    for j, (v, lo, hi) in enumerate(zip(x, lower, upper)):
        tolerance = 1e-6 * max(1.0, abs(v))
        if v < lo - tolerance or v > hi + tolerance:
            return f"column {j} = {v} outside {lo}..{hi}"
        if case.columns[j].integer and abs(v - round(v)) > 1e-6:
            return f"integer column {j} = {v}"
    for i, (coefs, lo, hi) in enumerate(rows):
        activity = sum(a * x[j] for j, a in coefs.items())
        tolerance = 1e-6 * max(1.0, abs(activity), max((abs(a * x[j]) for j, a in coefs.items()), default=0))
        if activity < lo - tolerance or activity > hi + tolerance:
            return f"row {i} = {activity} outside {lo}..{hi}"
    return None


def objective_at(case, x):
    return case.offset + sum(c * x[j] for j, c in case.cost.items())


# ------------------------------------------------------------------ sensitivity

MISSING = object()


def lp_optimum(case, rows, fixed):
    """The optimum of the generator's program as an LP over `rows` with the columns in `fixed` fixed; +inf
    (minimising) or -inf (maximising) when nothing is feasible."""
    lower, upper, _ = arrays(case)
    for j, v in fixed.items():
        lower[j] = upper[j] = v
    none = -INF if case.maximize else INF
    if any(lo > hi for lo, hi in zip(lower, upper)):
        return none
    if any(lo > hi or (not coefs and not lo <= 0 <= hi) for coefs, lo, hi in rows):
        return none
    status, objective = settled(
        highs_of(case, rows=rows, fixed=fixed), lambda: highs_of(case, zero_cost=True, rows=rows, fixed=fixed)
    )
    return objective if status == "optimal" else none if status == "infeasible" else None


def figure_of(tree, label, keys):
    """A constraint's figure in a view nested by its forall values; MISSING when it has none."""
    v = tree.get(label, MISSING) if isinstance(tree, dict) else MISSING
    for k in keys:
        v = v.get(k, MISSING) if isinstance(v, dict) else MISSING
    return v


def sensitivity_problems(case, solver, backend, plant=None):
    """What the figures of `backend` get wrong, as lines: each constraint's activity, its dual against finite
    differences of the optimum (any step brackets a right dual, as the optimum is convex or concave in a side),
    the duals together against LP duality (what they leave of a column's cost only its own bound may hold), and
    the optimum at the ends of each range (where the dual must still hold). A MIP's figures are its LP's with the
    integer columns fixed at the solution."""
    way = f"sensitivity-{backend}"
    ranging = backend == "highs"
    try:
        result = solver.solve_model(case.model, case.data, solver=backend, sensitivity=True if ranging else "duals")
    except Exception as e:
        return [f"{way}: raised {type(e).__name__}: {e}"]
    if result.status.value != "optimal" or result.duals is None:
        return [f"{way}: status {result.status.value}, duals {result.duals!r}"]
    x = x_from_values(case, result.nested_values)
    duals = result.duals
    if plant == "column-duals":  # the reduced cost of its column as a single-column constraint's dual
        reduced = x_from_values(case, result.to_dict(nested=True)["reduced_costs"])
        for (coefs, _, _), (label, keys) in zip(case.rows, case.names):
            if len(coefs) == 1 and figure_of(duals, label, keys) is not MISSING:
                path, place = (label, *keys), duals
                for k in path[:-1]:
                    place = place[k]
                place[path[-1]] = reduced[next(iter(coefs))]
    integer = any(c.integer for c in case.columns)
    fixed = {j: float(round(x[j])) for j, c in enumerate(case.columns) if c.integer}
    problems = []
    if result.sensitivity_basis != ("fixed_integers" if integer else "lp"):
        problems.append(f"{way}: basis {result.sensitivity_basis}")
    lower, upper, rows = arrays(case)
    known = {}

    def optimum(i=None, lo=None, hi=None):
        if (i, lo, hi) not in known:
            moved = list(rows)
            if i is not None:
                moved[i] = (rows[i][0], lo, hi)
            known[i, lo, hi] = lp_optimum(case, moved, fixed)
        return known[i, lo, hi]

    base = optimum()
    if base is None or not close(base, result.objective, integer):
        return problems + [f"{way}: the LP of the figures has the optimum {base}, the solve {result.objective}"]
    left_over = {j: case.cost.get(j, 0.0) for j in range(len(case.columns))}
    scale = {j: 1.0 + abs(c) for j, c in left_over.items()}
    for i, ((coefs, lo, hi), (label, keys)) in enumerate(zip(rows, case.names)):
        where = f"{way}: {label}" + "".join(f"[{k}]" for k in keys)
        d, activity = figure_of(duals, label, keys), figure_of(result.activities, label, keys)
        slack = figure_of(result.slacks, label, keys)
        if MISSING in (d, activity, slack):
            problems.append(f"{where} has no figures")
            continue
        own = sum(a * x[j] for j, a in coefs.items())
        if abs(activity - own) > 1e-6 * max([1.0, abs(own)] + [abs(a * x[j]) for j, a in coefs.items()]):
            problems.append(f"{where}: activity {activity}, the point gives {own}")
        for j, a in coefs.items():
            left_over[j] -= d * a
            scale[j] += abs(d * a)
        binds = {
            side: math.isfinite(v) and abs(own - v) <= 1e-6 * max(1.0, abs(v)) for side, v in (("lo", lo), ("hi", hi))
        }
        moving = "both" if lo == hi else "hi" if binds["hi"] else "lo" if binds["lo"] else None
        if moving is None:
            if abs(d) > 1e-7:
                problems.append(f"{where}: dual {d}, but it does not bind")
            if math.isfinite(lo) == math.isfinite(hi):
                continue  # a side alone of two says nothing
            moving = "hi" if math.isfinite(hi) else "lo"
        t0 = hi if moving != "lo" else lo

        def at(t):
            return optimum(i, t if moving != "hi" else lo, t if moving != "lo" else hi)

        if binds["lo"] or binds["hi"]:
            step = 1e-2
            right, left = (at(t0 + step) - base) / step, (base - at(t0 - step)) / step
            low, high = (right, left) if case.maximize else (left, right)
            if not low - 1e-5 * max(1.0, abs(d)) <= d <= high + 1e-5 * max(1.0, abs(d)):
                problems.append(f"{where}: dual {d}, but moving its side changes the optimum at {left} and {right}")
        rng = figure_of(result.ranging["rhs"], label, keys) if ranging else MISSING
        if rng is None and lo == hi:
            continue  # an equation basic at a degenerate vertex: its dual holds on neither side
        if ranging:
            problems += range_problems(where, rng, t0, d, base, at)
    for j, r in left_over.items():
        if abs(r) <= 1e-6 * scale[j] or j in fixed:
            continue
        at_lower = (r > 0) != case.maximize
        bound = lower[j] if at_lower else upper[j]
        if not (math.isfinite(bound) and abs(x[j] - bound) <= 1e-6 * max(1.0, abs(bound))):
            problems.append(
                f"{way}: the duals leave column {j} a reduced cost of {r}, but it is not at its "
                + ("lower" if at_lower else "upper")
                + " bound"
            )
    return problems


def range_problems(where, rng, t0, d, base, at):
    """What is wrong with the range `rng` of a side at `t0` with dual `d`: it must hold `t0`, and the optimum at
    each end (or 10 past `t0` towards an open one) must be the dual's line through `base`."""
    if rng is None or rng is MISSING:
        return [f"{where}: no range"]
    low = -INF if rng["low"] is None else rng["low"]
    high = INF if rng["high"] is None else rng["high"]
    if not low - 1e-9 * max(1.0, abs(t0)) <= t0 <= high + 1e-9 * max(1.0, abs(t0)):
        return [f"{where}: its range [{low}, {high}] leaves out its side {t0}"]
    problems = []
    for end, toward, objective in ((low, -10, "objective_at_low"), (high, 10, "objective_at_high")):
        e = end if math.isfinite(end) else t0 + toward
        if abs(e - t0) <= 1e-9 * max(1.0, abs(t0)):
            continue
        got, want = at(e), base + d * (e - t0)
        if got is None or not abs(got - want) <= 1e-5 * max(1.0, abs(want), abs(d * (e - t0))):
            problems.append(f"{where}: dual {d} in range [{low}, {high}], but the optimum at {e} is {got}, not {want}")
        elif math.isfinite(end) and (
            rng[objective] is None or not abs(rng[objective] - got) <= 1e-5 * max(1.0, abs(got))
        ):
            problems.append(f"{where}: {objective} {rng[objective]}, but the optimum there is {got}")
    return problems


#: Planted errors in the figures alone: the four ways are not run with them.
SENSITIVITY_PLANTS = ("column-duals",)


def sensitivity_backends():
    try:
        import pyscipopt  # noqa: F401
    except ImportError:
        return ["highs"]
    return ["highs", "scip"]


# ------------------------------------------------------------------ the four ways


def x_from_values(case, values):
    x = []
    for c in case.columns:
        v = values[c.variable]
        x.append(float(v if c.position < 0 else v[c.position]))
    return x


def by_api(case, solver):
    result = solver.solve_model(case.model, case.data)
    x = x_from_values(case, result.nested_values) if result.objective is not None else None
    return result.status.value, result.objective, x


def by_script(case, emitter, folder):
    path = os.path.join(folder, "model.py")
    emitter.write_script(case.model, case.data, path)
    with open(path, encoding="utf-8") as f:
        code = compile(f.read(), path, "exec")
    scope = {"__name__": "difftest", "__file__": path}
    with contextlib.redirect_stdout(io.StringIO()):
        exec(code, scope)
        status, x, objective, _ = scope["solve"]()
    return status, None if objective is None else float(objective), None if x is None else [float(v) for v in x]


def by_file(case, solver, folder, suffix, plant=None):
    path = os.path.join(folder, "model" + suffix)
    if os.path.exists(path):
        os.remove(path)
    try:
        if plant == "highs-mps" and suffix == ".mps":
            highs_writer(solver.instantiate(case.model, case.data), path)
        else:
            solver.write_model(case.model, case.data, path)
    except ValueError:
        return "not written", None, None

    def read():
        h = highspy.Highs()
        h.setOptionValue("output_flag", False)
        h.readModel(path)
        return h

    h = read()

    def zero():
        z = read()
        n = z.getNumCol()
        z.changeColsCost(n, np.arange(n, dtype=np.int32), np.zeros(n))
        return z

    status, objective = settled(h, zero)
    if status == "optimal" and h.getNumCol() == 0:
        objective = h.getLp().offset_  # HiGHS reports 0 for a file without columns, whatever its constant
    x = None
    if status == "optimal":
        names = h.getLp().col_names_
        values = dict(zip(names, h.getSolution().col_value))
        program = solver.instantiate(case.model, case.data)
        x = [values.get(file_name(name, suffix)) for name in program.column_names]
        # A column in no row and not in the objective may be left out of an .lp file: any
        # value within its bounds serves.
        used = set(program.column_indices.tolist()) | set(np.flatnonzero(program.cost).tolist())
        for j, v in enumerate(x):
            if v is None and j not in used:
                lo, hi = program.column_lower[j], program.column_upper[j]
                x[j] = float(min(max(0.0, lo), hi))
        if any(v is None for v in x):
            raise ValueError(
                "the file lost a column: " + ", ".join(n for n, v in zip(program.column_names, x) if v is None)
            )
    return status, objective, x


LP_SIGNS = set('!"#$%&(),.;?@_{}~')


def data_forms(case):
    """The generator's data as the other forms the README promises: a mapping keyed by set elements (a
    Python tuple for a tuple element) and a JSON object (keys as texts, a tuple element as "<a,1,0.5>")."""
    v = case.values
    pairs = v["T"]
    mapping = {
        "n": v["n"],
        "S": list(v["S"]),
        "T": [tuple(t) for t in pairs],
        "p": {i: x for i, x in zip(range(1, v["n"] + 1), v["p"])},
        "q": dict(zip(v["S"], v["q"])),
        "u": {tuple(t): t[2] for t in pairs},
    }
    as_json = {
        **mapping,
        "T": [{"s": s, "k": k, "w": w} for s, k, w in pairs],
        "p": {str(i): x for i, x in mapping["p"].items()},
        "u": {f"<{s},{k},{w!r}>": w for s, k, w in pairs},
    }
    return {"mapping": mapping, "json": json.loads(json.dumps(as_json))}


PROGRAM_PARTS = (
    "column_names", "column_lower", "column_upper", "cost", "objective_offset",
    "row_names", "row_lower", "row_upper", "row_starts", "column_indices", "values",
)  # fmt: skip


def program_of(solver, model, data):
    try:
        program = solver.instantiate(model, data)
    except Exception as e:  # the same refusal from every form is agreement too
        return f"{type(e).__name__}: {e}"
    return [np.asarray(getattr(program, part)).tolist() for part in PROGRAM_PARTS]


def form_problems(case, solver):
    """Each data form must state the program the .dat text states."""
    expected = program_of(solver, case.model, case.data)
    return [
        f"data-{name}: the program differs from the .dat's"
        for name, data in data_forms(case).items()
        if program_of(solver, case.model, data) != expected
    ]


def file_name(name, suffix):
    """A column's name as write_model's documented rules make it for the format."""
    if suffix == ".mps":
        return name
    name = name.translate(str.maketrans("[]<>", "(){}"))
    return "".join(ch if (ch.isascii() and ch.isalnum()) or ch in LP_SIGNS else "_" for ch in name)


def highs_writer(program, path):
    """The planted error: the .mps as HiGHS's own writer makes it."""
    h = highspy.Highs()
    h.setOptionValue("output_flag", False)
    n = program.num_columns
    h.passModel(
        n, program.num_rows, program.num_nonzeros, 2, 1 if program.sense == "minimize" else -1,
        program.objective_offset, program.cost, program.column_lower, program.column_upper,
        program.row_lower, program.row_upper, program.row_starts, program.column_indices, program.values,
        np.asarray(program.integrality, dtype=np.int32),
    )  # fmt: skip
    for j, name in enumerate(program.column_names):
        h.passColName(j, name)
    for i, name in enumerate(program.row_names):
        h.passRowName(i, name)
    h.writeModel(path)


def close(a, b, integer):
    if a is None or b is None:
        return a is b
    return abs(a - b) <= (2e-4 if integer else 1e-6) * max(1.0, abs(a), abs(b))


def compare(case, plant=None, folder=None):
    """The disagreements between the oracle and the four ways, as lines."""
    from tarvok import scipy_emitter, solver

    expected, objective = oracle(case)
    integer = any(c.integer for c in case.columns)
    problems = []
    ways = {
        "api": lambda: by_api(case, solver),
        "script": lambda: by_script(case, scipy_emitter, folder),
        "mps": lambda: by_file(case, solver, folder, ".mps", plant),
        "lp": lambda: by_file(case, solver, folder, ".lp", plant),
    }
    if plant in SENSITIVITY_PLANTS:
        ways = {}
    for way, run in ways.items():
        try:
            status, value, x = run()
        except Exception as e:  # a crash is a disagreement too
            problems.append(f"{way}: raised {type(e).__name__}: {e}")
            continue
        if status == "not written":
            # The package also finds conflicts in bounds its single-column rows set.
            if expected != "infeasible":
                problems.append(f"{way}: not written, but the oracle finds it {expected}")
            continue
        if way in ("mps", "lp") and cannot_hold(case):
            problems.append(f"{way}: written, though its sides or bounds cross")
        if status != expected:
            problems.append(f"{way}: status {status}, oracle {expected}")
            continue
        if not close(value, objective, integer):
            problems.append(f"{way}: objective {value}, oracle {objective}")
        if x is not None:
            broken = violation(case, x)
            if broken:
                problems.append(f"{way}: returned point breaks {broken}")
            elif not close(objective_at(case, x), value, integer):
                problems.append(f"{way}: the point's objective is {objective_at(case, x)}, reported {value}")
    if plant is None:
        problems += form_problems(case, solver)
    if expected == "optimal" and case.columns and plant in (None, *SENSITIVITY_PLANTS):
        for backend in sensitivity_backends():
            problems += sensitivity_problems(case, solver, backend, plant)
    return problems


def run(seed, count=None, seconds=None, plant=None, out=sys.stdout):
    """Runs models from `seed` on until `count` or `seconds` is reached; returns (models, failures)."""
    rng = random.Random(seed)
    start = time.monotonic()
    models = 0
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        while (count is None or models < count) and (seconds is None or time.monotonic() - start < seconds):
            case = generate(rng)
            models += 1
            problems = compare(case, plant, folder)
            if problems:
                failures.append((case, problems))
                if out:
                    print(f"--- model {models}:\n{case.model}--- data:\n{case.data}", file=out)
                    for p in problems:
                        print("  " + p, file=out)
    return models, failures


def statuses(seed, count):
    """How often the oracle reaches each status over `count` models from `seed`."""
    rng = random.Random(seed)
    tally = {}
    for _ in range(count):
        status = oracle(generate(rng))[0]
        tally[status] = tally.get(status, 0) + 1
    return tally


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--minutes", type=float, help="stop after this many minutes")
    parser.add_argument("--count", type=int, help="stop after this many models")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument(
        "--plant", choices=["highs-mps", "column-duals"], help="plant a known error to see the oracle catch it"
    )
    args = parser.parse_args(argv)
    if args.minutes is None and args.count is None:
        args.count = 300
    seconds = None if args.minutes is None else args.minutes * 60
    models, failures = run(args.seed, args.count, seconds, args.plant)
    print(f"difftest: {models} models, {len(failures)} with disagreements")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
