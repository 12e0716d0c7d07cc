"""Building models until HiGHS holds them: Tarvok (compile, expand, pass the
arrays to highspy) against Pyomo (its persistent HiGHS interface loaded) and
linopy (its highspy model built). Prints time and peak memory per size for the
"basic model" and a p-median model, then the expansion time of every shipped
example. Tarvok is measured twice: `tarvok` with its data as a data text,
`tarvok-numpy` with the distance matrix as the numpy array linopy gets. The
data (text, array or lists) exists before each build starts.

Each build runs in a fresh process so that peak memory (max RSS above what the
process held before the build) belongs to that build alone. Pyomo and linopy
are needed only here: pip install pyomo linopy.

    python benchmarks/bench_instantiate.py                 # everything
    python benchmarks/bench_instantiate.py --quick         # the two smaller sizes only
    python benchmarks/bench_instantiate.py --tools tarvok,linopy   # tarvok-numpy rides along with tarvok
    python benchmarks/bench_instantiate.py --repeat 5            # fastest of 5 builds per tool and size
    python benchmarks/bench_instantiate.py --clock cpu           # processor seconds, for a shared machine
"""

import argparse
import json
import pathlib
import subprocess
import sys
import time

BASIC_SIZES = [100, 300, 1000]
MEDIAN_SIZES = [(200, 40, 5), (600, 100, 10), (1500, 200, 20)]  # customers, sites, sites to open

BASIC_MODEL = """
int n = ...;
range N = 1..n;
dvar float x[N][N];
dvar float y[N][N];
minimize sum(i in N, j in N) (2 * x[i][j] + y[i][j]);
subject to {
  forall(i in N, j in N) x[i][j] - y[i][j] >= i - 1;
  forall(i in N, j in N) x[i][j] + y[i][j] >= 0;
}
"""

MEDIAN_MODEL = """
int customers = ...;
int sites = ...;
int p = ...;
range C = 1..customers;
range F = 1..sites;
float d[C][F] = ...;
dvar boolean open[F];
dvar float+ serve[C][F];
minimize sum(c in C, f in F) d[c][f] * serve[c][f];
subject to {
  forall(c in C) served: sum(f in F) serve[c][f] == 1;
  forall(c in C, f in F) onlyOpen: serve[c][f] <= open[f];
  count: sum(f in F) open[f] == p;
}
"""


def distances(customers, sites):
    """A deterministic distance matrix: points on a grid, Manhattan metric."""
    return [
        [abs((c * 37) % 101 - (f * 53) % 101) + abs((c * 17) % 89 - (f * 29) % 89) for f in range(sites)]
        for c in range(customers)
    ]


def median_data_text(customers, sites, p):
    rows = ",\n".join("[" + ", ".join(str(v) for v in row) + "]" for row in distances(customers, sites))
    return f"customers = {customers};\nsites = {sites};\np = {p};\nd = [{rows}];\n"


# --------------------------------------------------------------- builders


def median_data_arrays(customers, sites, p, d):
    return {"customers": customers, "sites": sites, "p": p, "d": d}


def tarvok_build(model, data):
    import highspy

    from tarvok import solver

    program = solver.instantiate(model, data)
    h = highspy._Highs() if hasattr(highspy, "_Highs") else highspy.Highs()
    h.setOptionValue("output_flag", False)
    h.passModel(
        program.num_columns,
        program.num_rows,
        program.num_nonzeros,
        2,
        1 if program.sense == "minimize" else -1,
        program.objective_offset,
        program.cost,
        program.column_lower,
        program.column_upper,
        program.row_lower,
        program.row_upper,
        program.row_starts,
        program.column_indices,
        program.values,
        program.integrality.astype("int32"),
    )
    assert h.getNumCol() == program.num_columns
    return h


def pyomo_basic(n):
    import pyomo.environ as pe

    m = pe.ConcreteModel()
    m.N = pe.RangeSet(1, n)
    m.x = pe.Var(m.N, m.N)
    m.y = pe.Var(m.N, m.N)
    m.obj = pe.Objective(expr=sum(2 * m.x[i, j] + m.y[i, j] for i in m.N for j in m.N))
    m.c1 = pe.Constraint(m.N, m.N, rule=lambda m, i, j: m.x[i, j] - m.y[i, j] >= i - 1)
    m.c2 = pe.Constraint(m.N, m.N, rule=lambda m, i, j: m.x[i, j] + m.y[i, j] >= 0)
    return pyomo_load(m)


def pyomo_median(customers, sites, p, d):
    import pyomo.environ as pe

    m = pe.ConcreteModel()
    m.C = pe.RangeSet(1, customers)
    m.F = pe.RangeSet(1, sites)
    m.open = pe.Var(m.F, domain=pe.Binary)
    m.serve = pe.Var(m.C, m.F, domain=pe.NonNegativeReals)
    m.obj = pe.Objective(expr=sum(d[c - 1][f - 1] * m.serve[c, f] for c in m.C for f in m.F))
    m.served = pe.Constraint(m.C, rule=lambda m, c: sum(m.serve[c, f] for f in m.F) == 1)
    m.only = pe.Constraint(m.C, m.F, rule=lambda m, c, f: m.serve[c, f] <= m.open[f])
    m.count = pe.Constraint(expr=sum(m.open[f] for f in m.F) == p)
    return pyomo_load(m)


def pyomo_load(m):
    try:
        from pyomo.contrib.solver.solvers.highs import Highs
    except ImportError:
        from pyomo.contrib.appsi.solvers.highs import Highs
    opt = Highs()
    opt.set_instance(m)  # the persistent interface now holds the model in highspy
    return opt


def linopy_basic(n):
    import linopy
    import numpy as np
    import xarray as xr

    m = linopy.Model()
    coords = [pd_index(n, "i"), pd_index(n, "j")]
    x = m.add_variables(coords=coords, name="x")
    y = m.add_variables(coords=coords, name="y")
    i = xr.DataArray(np.arange(1, n + 1), coords=[coords[0]])
    m.add_constraints(x - y >= i - 1, name="c1")
    m.add_constraints(x + y >= 0, name="c2")
    m.add_objective((2 * x + y).sum())
    return m.to_highspy()


def linopy_median(customers, sites, p, d):
    import linopy
    import xarray as xr

    m = linopy.Model()
    c, f = pd_index(customers, "c"), pd_index(sites, "f")
    d = xr.DataArray(d, coords=[c, f])
    open_ = m.add_variables(coords=[f], name="open", binary=True)
    serve = m.add_variables(lower=0, coords=[c, f], name="serve")
    m.add_constraints(serve.sum("f") == 1, name="served")
    m.add_constraints(serve - open_ <= 0, name="onlyOpen")
    m.add_constraints(open_.sum() == p, name="count")
    m.add_objective((d * serve).sum())
    return m.to_highspy()


def pd_index(n, name):
    import pandas as pd

    return pd.RangeIndex(1, n + 1, name=name)


def prepared(tool, case, size):
    """The data as it exists before a build: a data text for Tarvok, the
    distance matrix as a numpy array for linopy and `tarvok-numpy`, as lists
    for Pyomo."""
    if case == "basic":
        return {"tarvok": f"n = {size[0]};", "tarvok-numpy": {"n": size[0]}}.get(tool)
    if tool == "tarvok":
        return median_data_text(*size)
    if tool == "pyomo":
        return distances(*size[:2])
    import numpy as np

    d = np.array(distances(*size[:2]), dtype=float)
    return median_data_arrays(*size, d) if tool == "tarvok-numpy" else d


def build(tool, case, size, data):
    if tool.startswith("tarvok"):
        return tarvok_build(BASIC_MODEL if case == "basic" else MEDIAN_MODEL, data)
    if case == "basic":
        return {"pyomo": pyomo_basic, "linopy": linopy_basic}[tool](size[0])
    return {"pyomo": pyomo_median, "linopy": linopy_median}[tool](*size, data)


# ------------------------------------------------------------ measuring


def child(tool, case, size):
    """Runs one build in this process and prints seconds and peak MiB."""
    import resource

    if tool.startswith("tarvok"):
        import highspy  # noqa: F401  (imports are not part of the build)

        from tarvok import solver  # noqa: F401
    elif tool == "pyomo":
        import pyomo.environ  # noqa: F401

        try:
            import pyomo.contrib.solver.solvers.highs  # noqa: F401
        except ImportError:
            import pyomo.contrib.appsi.solvers.highs  # noqa: F401
    else:
        import linopy  # noqa: F401
    data = prepared(tool, case, size)  # the data exists before the build, for every tool alike
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    start, cpu_start = time.perf_counter(), time.process_time()
    build(tool, case, size, data)
    seconds, cpu_seconds = time.perf_counter() - start, time.process_time() - cpu_start
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(json.dumps({"seconds": seconds, "cpu_seconds": cpu_seconds, "peak_mib": max(peak - before, 0) / 1024}))


def measure(tool, case, size, timeout):
    try:
        done = subprocess.run(
            [sys.executable, __file__, "--child", tool, case, json.dumps(size)],
            capture_output=True,
            text=True,
            timeout=timeout,
        )
    except subprocess.TimeoutExpired:
        return None
    if done.returncode != 0:
        sys.stderr.write(done.stderr[-2000:])
        return None
    return json.loads(done.stdout.strip().splitlines()[-1])


def shipped_examples():
    from tarvok import solver

    root = pathlib.Path(solver.__file__).parent / "tvl_models"
    rows = []
    for folder in sorted(p for p in root.iterdir() if p.is_dir()):
        model = (folder / f"{folder.name}.mod").read_text()
        data = (folder / f"{folder.name}.dat").read_text()
        best = None
        for _ in range(20):
            start = time.perf_counter()
            program = solver.instantiate(model, data)
            total = time.perf_counter() - start
            s = program.statistics
            if best is None or total < best[0]:
                best = (total, s["compile_seconds"], s["instantiation_seconds"], s["nonzeros"])
        rows.append((folder.name, *best))
    return rows


def best_of(tool, case, size, timeout, repeat, clock="wall"):
    """The fastest of `repeat` builds, each in its own process, by the wall
    clock or by processor seconds (all threads of the build, which other
    work on a shared machine disturbs far less), with the largest peak
    memory among them."""
    runs = [r for r in (measure(tool, case, size, timeout) for _ in range(repeat)) if r]
    if not runs:
        return None
    key = "cpu_seconds" if clock == "cpu" else "seconds"
    return {"seconds": min(r[key] for r in runs), "peak_mib": max(r["peak_mib"] for r in runs)}


def width(tool, least):
    """The width of a tool's column: its heading's, at least `least`."""
    return max(least, len(tool) + 4)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--child", nargs=3, help=argparse.SUPPRESS)
    parser.add_argument("--tools", default="tarvok,linopy,pyomo")
    parser.add_argument("--quick", action="store_true", help="the two smaller sizes only")
    parser.add_argument("--repeat", type=int, default=3, help="builds per tool and size; the fastest counts")
    parser.add_argument("--timeout", type=float, default=1200, help="seconds one build may take")
    parser.add_argument(
        "--clock", choices=["wall", "cpu"], default="wall", help="time builds by the wall clock or in processor seconds"
    )
    args = parser.parse_args()
    if args.child:
        tool, case, size = args.child
        child(tool, case, json.loads(size))
        return
    tools = args.tools.split(",")
    if "tarvok" in tools and "tarvok-numpy" not in tools:
        tools.insert(tools.index("tarvok") + 1, "tarvok-numpy")
    ours = [t for t in tools if t.startswith("tarvok")]
    others = [t for t in tools if t not in ours]
    pairs = [(t, o) for o in ours for t in others]
    cases = [("basic", [[n] for n in BASIC_SIZES]), ("median", [list(s) for s in MEDIAN_SIZES])]
    # Seconds of every tool, then how many times faster Tarvok is, then peak MiB.
    print(
        f"{'model':8} {'size':>16} {'nonzeros':>10} "
        + " ".join(f"{t + ' s':>{width(t, 9)}}" for t in tools)
        + " "
        + " ".join(f"{t + '/' + o:>19}" for t, o in pairs)
        + " "
        + " ".join(f"{t + ' MiB':>{width(t, 11)}}" for t in tools)
    )
    for case, sizes in cases:
        for size in sizes[:2] if args.quick else sizes:
            nonzeros = 4 * size[0] ** 2 if case == "basic" else 3 * size[0] * size[1] + size[1]
            repeat = 1 if args.repeat < 1 else args.repeat
            got = {t: best_of(t, case, size, args.timeout, 1 if t == "pyomo" else repeat, args.clock) for t in tools}
            seconds = [f"{got[t]['seconds']:{width(t, 9)}.3f}" if got[t] else f"{'—':>{width(t, 9)}}" for t in tools]
            ratios = [
                f"{got[t]['seconds'] / got[o]['seconds']:18.1f}x" if got.get(t) and got.get(o) else f"{'—':>19}"
                for t, o in pairs
            ]
            memory = [f"{got[t]['peak_mib']:{width(t, 11)}.1f}" if got[t] else f"{'—':>{width(t, 11)}}" for t in tools]
            label = "n=%d" % size[0] if case == "basic" else "%dx%d p=%d" % tuple(size)
            print(
                f"{case:8} {label:>16} {nonzeros:>10} "
                + " ".join(seconds)
                + " "
                + " ".join(ratios)
                + " "
                + " ".join(memory),
                flush=True,
            )

    print("\nShipped examples: compile + expand (best of 20)")
    print(f"{'example':26} {'total ms':>9} {'compile ms':>11} {'expand ms':>10} {'nonzeros':>9}")
    for name, total, compile_s, expand_s, nz in shipped_examples():
        print(f"{name:26} {total * 1e3:9.3f} {compile_s * 1e3:11.3f} {expand_s * 1e3:10.3f} {nz:9}")


if __name__ == "__main__":
    main()
