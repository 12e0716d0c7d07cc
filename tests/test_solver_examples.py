"""Every shipped example, solved by tarvok.solver, against an optimum derived here
independently: brute force or a combinatorial algorithm for the small discrete
ones, and a formulation written by hand from the compiled data (solved with
scipy) for the rest."""

import heapq
import itertools
import math
import pathlib

import numpy as np
import pytest

scipy_optimize = pytest.importorskip("scipy.optimize")
solver = pytest.importorskip("tarvok.solver")
from tarvok.tarvok_core import TVLCompiler  # noqa: E402

EXAMPLES = pathlib.Path(solver.__file__).parent / "tvl_models"


def texts(name):
    folder = EXAMPLES / name
    return (folder / f"{name}.mod").read_text(), (folder / f"{name}.dat").read_text()


def by(keys, values):
    """An array of the compiled data keyed by its index set."""
    return dict(zip(keys, values))


def grid(rows, columns, values):
    return {(r, c): values[i][j] for i, r in enumerate(rows) for j, c in enumerate(columns)}


class Formulation:
    """A linear or mixed-integer program written by hand: named variables and
    rows of (name, coefficient) terms."""

    def __init__(self):
        self.index, self.lower, self.upper, self.integer, self.rows = {}, [], [], [], []

    def var(self, name, lower=0.0, upper=math.inf, integer=False):
        self.index[name] = len(self.lower)
        self.lower.append(lower)
        self.upper.append(upper)
        self.integer.append(1 if integer else 0)
        return name

    def row(self, terms, lower=-math.inf, upper=math.inf):
        self.rows.append((list(terms), lower, upper))

    def optimum(self, objective, maximize=False):
        n = len(self.lower)
        c = np.zeros(n)
        for name, coefficient in objective:
            c[self.index[name]] += coefficient
        a = np.zeros((len(self.rows), n))
        for i, (terms, _, _) in enumerate(self.rows):
            for name, coefficient in terms:
                a[i, self.index[name]] += coefficient
        constraints = [scipy_optimize.LinearConstraint(a, [r[1] for r in self.rows], [r[2] for r in self.rows])]
        result = scipy_optimize.milp(
            -c if maximize else c,
            constraints=constraints if self.rows else None,
            integrality=np.array(self.integer),
            bounds=scipy_optimize.Bounds(self.lower, self.upper),
        )
        assert result.success, result.message
        return -result.fun if maximize else result.fun


# ------------------------------------------------------------- enumeration


def knapsack(d):
    items = d["Items"]
    weight, use = by(items, d["weight"]), by(items, d["usefulness"])
    best = 0
    for pick in itertools.product([0, 1], repeat=len(items)):
        chosen = {i for i, p in zip(items, pick) if p}
        if sum(weight[i] for i in chosen) <= d["carryLimit"] and ("Stove" not in chosen or "Fuel" in chosen):
            best = max(best, sum(use[i] for i in chosen))
    return best


def capital_budgeting(d):
    projects, years = d["Projects"], list(d["Years"])
    npv, spend = by(projects, d["npv"]), grid(projects, years, d["spend"])
    budget = by(years, d["budget"])
    best = 0
    for pick in itertools.product([0, 1], repeat=len(projects)):
        f = dict(zip(projects, pick))
        if any(sum(spend[p, y] * f[p] for p in projects) > budget[y] for y in years):
            continue
        if f["TrainingCentre"] > f["ProductionLine"] or f["SolarRoof"] > f["Warehouse"]:
            continue
        if f["SalesOffice"] + f["ElectricFleet"] > 1:
            continue
        best = max(best, sum(npv[p] * f[p] for p in projects))
    return best


def assignment(d):
    people, docs = d["Translators"], d["Documents"]
    hours = grid(people, docs, d["hours"])
    return min(sum(hours[t, doc] for t, doc in zip(people, perm)) for perm in itertools.permutations(docs))


def clinic_p_median(d):
    towns = d["Towns"]
    pop, dist = by(towns, d["population"]), grid(towns, towns, d["distance"])
    return min(
        sum(pop[t] * min(dist[t, c] for c in open_) for t in towns)
        for open_ in itertools.combinations(towns, d["clinicsToOpen"])
    )


def crew_pairing(d):
    pairings, flights = d["Pairings"], list(d["Flights"])
    cost, flies = by(pairings, d["pairingCost"]), grid(pairings, flights, d["flies"])
    best = math.inf
    for pick in itertools.product([0, 1], repeat=len(pairings)):
        if all(sum(flies[p, f] for p, x in zip(pairings, pick) if x) == 1 for f in flights):
            best = min(best, sum(cost[p] for p, x in zip(pairings, pick) if x))
    return best


def set_cover(d):
    sites, hoods = d["Sites"], d["Neighbourhoods"]
    cost, reach = by(sites, d["buildCost"]), grid(sites, hoods, d["reaches"])
    best = math.inf
    for k in range(len(sites) + 1):
        for chosen in itertools.combinations(sites, k):
            if all(any(reach[s, n] for s in chosen) for n in hoods):
                best = min(best, sum(cost[s] for s in chosen))
    return best


def traveling_salesman(d):
    cities, home = d["Cities"], d["home"]
    dist = grid(cities, cities, d["distance"])
    others = [c for c in cities if c != home]
    best = math.inf
    for order in itertools.permutations(others):
        tour = (home, *order, home)
        best = min(best, sum(dist[a, b] for a, b in zip(tour, tour[1:])))
    return best


def shortest_path(d):
    graph = {}
    for origin, to, minutes in d["Roads"]:
        graph.setdefault(origin, []).append((to, minutes))
    done, queue = {}, [(0, d["start"])]
    while queue:
        length, node = heapq.heappop(queue)
        if node in done:
            continue
        done[node] = length
        for to, minutes in graph.get(node, []):
            heapq.heappush(queue, (length + minutes, to))
    return done[d["destination"]]


def max_flow(d):
    capacity = {}
    for origin, to, cap in d["Pipes"]:
        capacity[origin, to] = capacity.get((origin, to), 0) + cap
        capacity.setdefault((to, origin), 0)
    total = 0
    while True:  # augmenting paths, shortest first
        parent, frontier = {d["source"]: None}, [d["source"]]
        while frontier and d["sink"] not in parent:
            nxt = []
            for u in frontier:
                for (a, b), cap in capacity.items():
                    if a == u and cap > 1e-12 and b not in parent:
                        parent[b] = u
                        nxt.append(b)
            frontier = nxt
        if d["sink"] not in parent:
            return total
        path, node = [], d["sink"]
        while parent[node] is not None:
            path.append((parent[node], node))
            node = parent[node]
        push = min(capacity[e] for e in path)
        for a, b in path:
            capacity[a, b] -= push
            capacity[b, a] += push
        total += push


def machine_makespan(d):
    minutes = sorted(d["minutes"], reverse=True)
    presses = d["pressCount"]
    loads = {tuple([0] * presses)}
    for m in minutes:  # every reachable multiset of press loads
        loads = {tuple(sorted(l[:k] + (l[k] + m,) + l[k + 1 :])) for l in loads for k in range(presses)}
    return min(max(l) for l in loads)


def bin_packing(d):
    weights = sorted(d["weight"], reverse=True)
    capacity = d["vanCapacity"]

    def fits(vans):
        loads = [0] * vans

        def place(i):
            if i == len(weights):
                return True
            tried = set()
            for v in range(vans):
                if loads[v] + weights[i] <= capacity and loads[v] not in tried:
                    tried.add(loads[v])
                    loads[v] += weights[i]
                    if place(i + 1):
                        return True
                    loads[v] -= weights[i]
            return False

        return place(0)

    return next(k for k in range(1, d["vanCount"] + 1) if fits(k))


def facility_location(d):
    houses, chains = d["Warehouses"], d["Chains"]
    fixed, through = by(houses, d["fixedCost"]), by(houses, d["throughput"])
    demand, cost = by(chains, d["demand"]), grid(houses, chains, d["delivery"])
    best = math.inf
    for k in range(1, len(houses) + 1):
        for open_ in itertools.combinations(houses, k):
            if sum(through[w] for w in open_) < sum(demand.values()):
                continue
            pairs = [(w, c) for w in open_ for c in chains]
            a_eq = [[1 if pc == c else 0 for (_, pc) in pairs] for c in chains]
            a_ub = [[1 if pw == w else 0 for (pw, _) in pairs] for w in open_]
            lp = scipy_optimize.linprog(
                [cost[p] for p in pairs],
                A_ub=a_ub,
                b_ub=[through[w] for w in open_],
                A_eq=a_eq,
                b_eq=[demand[c] for c in chains],
                bounds=(0, None),
            )
            if lp.status == 0:
                best = min(best, lp.fun + sum(fixed[w] for w in open_))
    return best


def unit_commitment(d):
    units, blocks = d["Units"], list(d["Blocks"])
    low, high = by(units, d["minOutput"]), by(units, d["maxOutput"])
    run, energy = by(units, d["runCost"]), by(units, d["energyCost"])
    total = 0
    for demand in d["demand"]:  # the blocks do not interact
        best = math.inf
        for k in range(1, len(units) + 1):
            for on in itertools.combinations(units, k):
                if sum(high[u] for u in on) < (1 + d["reserveMargin"]) * demand:
                    continue
                lp = scipy_optimize.linprog(
                    [energy[u] for u in on],
                    A_ub=[[-1] * len(on)],
                    b_ub=[-demand],
                    bounds=[(low[u], high[u]) for u in on],
                )
                if lp.status == 0:
                    best = min(best, lp.fun + sum(run[u] for u in on))
        total += best
    assert len(d["demand"]) == len(blocks)
    return total


# ------------------------------------------------------ hand formulations


def aggregate_planning(d):
    months = list(d["Months"])
    sales, bpw = by(months, d["sales"]), d["bikesPerWorker"]
    f = Formulation()
    for m in months:  # built bikes substituted: bikesPerWorker * workers
        f.var(("w", m)), f.var(("h", m), 0, d["maxHires"]), f.var(("f", m)), f.var(("s", m))
    for m in months:
        prev = [(("w", m - 1), -1)] if m > 1 else []
        f.row([(("w", m), 1), (("h", m), -1), (("f", m), 1)] + prev, *(2 * [d["initialWorkers"] if m == 1 else 0]))
        stock_in = [(("s", m - 1), 1)] if m > 1 else []
        rhs = sales[m] - (d["initialStock"] if m == 1 else 0)
        f.row([(("w", m), bpw), (("s", m), -1)] + stock_in, rhs, rhs)
    f.row([(("s", months[-1]), 1)], d["finalStock"])
    return f.optimum(
        [(("w", m), d["wage"]) for m in months]
        + [(("h", m), d["hireCost"]) for m in months]
        + [(("f", m), d["fireCost"]) for m in months]
        + [(("s", m), d["storageCost"]) for m in months]
    )


def alloy_blending(d):
    mats, els = d["Materials"], d["Elements"]
    share = grid(mats, els, d["share"])
    f = Formulation()
    for m, s in zip(mats, d["stock"]):
        f.var(m, 0, s)
    f.row([(m, 1) for m in mats], d["batch"], d["batch"])
    for e, lo, hi in zip(els, d["lowShare"], d["highShare"]):
        f.row([(m, share[m, e]) for m in mats], lo * d["batch"], hi * d["batch"])
    return f.optimum(list(zip(mats, d["cost"])))


def call_center_shifts(d):
    f = Formulation()
    shifts = d["Shifts"]
    for s in shifts:
        f.var(s, integer=True)
    for h, need in zip(range(d["openFrom"], d["openUntil"]), d["agentsNeeded"]):
        f.row([(s, 1) for s in shifts if s[1] <= h < s[1] + s[2]], need)
    share = d["minFullTimeShare"]
    f.row([(s, (1 if s[4] == 1 else 0) - share) for s in shifts], 0)
    return f.optimum([(s, s[3]) for s in shifts])


def cash_planning(d):
    months = list(d["Months"])
    flow = by(months, d["netFlow"])
    last = months[-1]
    f = Formulation()
    for m in months:  # the minimum balance and the last month's rules as bounds
        f.var(("b", m), 0, 0 if m == last else d["creditLine"])
        f.var(("d", m), 0, 0 if m == last else math.inf)
        f.var(("cash", m), d["minBalance"])
    for m in months:
        terms = [(("cash", m), 1), (("b", m), -1), (("d", m), 1)]
        rhs = flow[m] + (d["openingBalance"] if m == 1 else 0)
        if m > 1:
            terms += [(("cash", m - 1), -1), (("b", m - 1), 1 + d["loanRate"]), (("d", m - 1), -1 - d["depositRate"])]
        f.row(terms, rhs, rhs)
    return f.optimum([(("cash", last), 1)], maximize=True)


def crop_planning(d):
    crops = d["Crops"]
    f = Formulation()
    for c in crops:
        f.var(c, d["rotationMinimum"], min(d["land"], d["maizeMaximum"]) if c == "Maize" else d["land"])
    f.row([(c, 1) for c in crops], upper=d["land"])
    f.row(list(zip(crops, d["water"])), upper=d["waterLicence"])
    f.row(list(zip(crops, d["labour"])), upper=d["labourHours"])
    return f.optimum(list(zip(crops, d["profit"])), maximize=True)


def cutting_stock(d):
    widths, patterns = d["Widths"], list(d["Patterns"])
    cut = grid(patterns, widths, d["piecesCut"])
    f = Formulation()
    for p in patterns:
        f.var(p, integer=True)
    for w, need in zip(widths, d["ordered"]):
        f.row([(p, cut[p, w]) for p in patterns], need)
    return f.optimum([(p, 1) for p in patterns])


def diet(d):
    foods, nutrients = d["Foods"], d["Nutrients"]
    content = grid(foods, nutrients, d["content"])
    f = Formulation()
    for food in foods:
        f.var(food, 0, d["maxServings"])
    for n, need in zip(nutrients, d["minNeed"]):
        f.row([(food, content[food, n]) for food in foods], need)
    f.row([(food, content[food, "Calories"]) for food in foods], upper=d["calorieCeiling"])
    return f.optimum(list(zip(foods, d["price"])))


def fuel_blending(d):
    comps, grades = d["Components"], d["Grades"]
    octane, vapour, cost = by(comps, d["octane"]), by(comps, d["vapour"]), by(comps, d["cost"])
    f = Formulation()
    pairs = [(c, g) for c in comps for g in grades]
    for p in pairs:
        f.var(p)
    for c, s in zip(comps, d["stock"]):
        f.row([((c, g), 1) for g in grades], upper=s)
    for g, lo, hi, contract in zip(grades, d["minOctane"], d["maxVapour"], d["contract"]):
        # blend octane >= minimum, written as a weighted average times the volume
        f.row([((c, g), octane[c]) for c in comps] + [((c, g), -lo) for c in comps], 0)
        f.row([((c, g), vapour[c]) for c in comps] + [((c, g), -hi) for c in comps], upper=0)
        f.row([((c, g), 1) for c in comps], contract)
    price = by(grades, d["price"])
    return f.optimum([((c, g), price[g] - cost[c]) for c, g in pairs], maximize=True)


def lot_sizing(d):
    weeks = list(d["Weeks"])
    demand = by(weeks, d["demand"])
    best = math.inf
    for runs in itertools.product([0, 1], repeat=len(weeks)):  # which weeks set up the line
        f = Formulation()
        for w, r in zip(weeks, runs):
            f.var(("fill", w), 0, d["lineCapacity"] * r)
            f.var(("stock", w), 0, 0 if w == weeks[-1] else math.inf)
        for w in weeks:
            prev = [(("stock", w - 1), 1)] if w > 1 else []
            rhs = demand[w] - (d["startStock"] if w == 1 else 0)
            f.row([(("fill", w), 1), (("stock", w), -1)] + prev, rhs, rhs)
        try:
            cost = f.optimum(
                [(("fill", w), d["fillCost"]) for w in weeks] + [(("stock", w), d["holdCost"]) for w in weeks]
            )
        except AssertionError:
            continue
        best = min(best, cost + d["setupCost"] * sum(runs))
    return best


def media_planning(d):
    media = d["Media"]
    cost = by(media, d["adCost"])
    f = Formulation()
    for m, available in zip(media, d["available"]):
        low = d["minSocial"] if m == "Social" else 0
        high = min(available, math.floor(d["maxTvShare"] * d["budget"] / cost[m] + 1e-9)) if m == "TV" else available
        f.var(m, low, high, integer=True)
    f.row([(m, cost[m]) for m in media], upper=d["budget"])
    return f.optimum(list(zip(media, d["reach"])), maximize=True)


def multi_commodity_flow(d):
    f = Formulation()
    links, goods = d["Links"], d["Commodities"]
    for k in goods:
        for link in links:
            f.var((k, link))
    for k in goods:  # one balance row per commodity and station
        _, origin, destination, volume = k
        for s in d["Stations"]:
            net = volume if s == origin else -volume if s == destination else 0
            f.row([((k, l), 1) for l in links if l[0] == s] + [((k, l), -1) for l in links if l[1] == s], net, net)
    for link in links:
        f.row([((k, link), 1) for k in goods], upper=link[2])
    return f.optimum([((k, l), l[3]) for k in goods for l in links])


def multi_period_inventory(d):
    months = list(d["Months"])
    demand = by(months, d["demand"])
    f = Formulation()
    for m in months:
        f.var(("r", m), 0, d["regularCapacity"])
        f.var(("o", m), 0, d["overtimeCapacity"])
        f.var(("s", m), d["finalStock"] if m == months[-1] else 0, d["storeCapacity"])
    for m in months:
        prev = [(("s", m - 1), 1)] if m > 1 else []
        rhs = demand[m] - (d["initialStock"] if m == 1 else 0)
        f.row([(("r", m), 1), (("o", m), 1), (("s", m), -1)] + prev, rhs, rhs)
    return f.optimum(
        [(("r", m), d["regularCost"]) for m in months]
        + [(("o", m), d["overtimeCost"]) for m in months]
        + [(("s", m), d["holdingCost"]) for m in months]
    )


def nurse_scheduling(d):
    days = d["Days"]
    duty = grid(days, days, d["onDuty"])
    f = Formulation()
    for s in days:
        f.var(s, integer=True)
    for day, need in zip(days, d["required"]):
        f.row([(s, duty[s, day]) for s in days], need)
    return f.optimum([(s, 1) for s in days])


def portfolio(d):
    funds, budget = d["Funds"], d["budget"]
    f = Formulation()
    for fund in funds:
        f.var(fund, 0, d["maxShare"] * budget)
    f.row([(x, 1) for x in funds], upper=budget)
    f.row([(x, 1) for x in funds if x in d["HighRisk"]], upper=d["maxHighRisk"] * budget)
    f.row([(x, 1) for x in funds if x in d["Bonds"]], d["minBonds"] * budget)
    for year in d["pastReturn"]:
        f.row(list(zip(funds, year)), -d["maxLoss"] * budget)
    return f.optimum(list(zip(funds, d["expectedReturn"])), maximize=True)


def production_mix(d):
    products, resources = d["Products"], d["Resources"]
    use = grid(products, resources, d["use"])
    f = Formulation()
    for p in products:
        f.var(p, d["tableOrder"] if p == "Table" else 0, d["bookcaseMarket"] if p == "Bookcase" else math.inf)
    for r, available in zip(resources, d["available"]):
        f.row([(p, use[p, r]) for p in products], upper=available)
    return f.optimum(list(zip(products, d["profit"])), maximize=True)


def project_crashing(d):
    acts = d["Activities"]
    normal, shortest = by(acts, d["normalDays"]), by(acts, d["shortestDays"])
    f = Formulation()
    for a in acts:
        f.var(("start", a))
        f.var(("cut", a), 0, normal[a] - shortest[a])
    for before, after in d["Precedences"]:
        f.row([(("start", after), 1), (("start", before), -1), (("cut", before), 1)], normal[before])
    last = d["lastActivity"]
    f.row([(("start", last), 1), (("cut", last), -1)], upper=d["deadline"] - normal[last])
    return f.optimum([(("cut", a), c) for a, c in zip(acts, d["crashCost"])])


def teaching_assistants(d):
    people, groups = d["Assistants"], d["Groups"]
    hours, pref = by(groups, d["hours"]), grid(people, groups, d["preference"])
    f = Formulation()
    for a in people:
        for g in groups:
            f.var((a, g), 0, 1, integer=True)
    for g in groups:
        f.row([((a, g), 1) for a in people], 1, 1)
    for a, contract in zip(people, d["contract"]):
        f.row([((a, g), hours[g]) for g in groups], upper=contract)
    return f.optimum([((a, g), pref[a, g]) for a in people for g in groups], maximize=True)


def transportation(d):
    plants, houses = d["Plants"], d["Warehouses"]
    # as one linprog call over the flattened plant-by-warehouse matrix
    cost = np.array(d["freight"], dtype=float).ravel()
    a_ub = [[1 if i // len(houses) == p else 0 for i in range(cost.size)] for p in range(len(plants))]
    a_ub += [[-1 if i % len(houses) == w else 0 for i in range(cost.size)] for w in range(len(houses))]
    b_ub = list(d["capacity"]) + [-n for n in d["need"]]
    lp = scipy_optimize.linprog(cost, A_ub=a_ub, b_ub=b_ub, bounds=(0, None))
    assert lp.status == 0
    return lp.fun


def transshipment(d):
    links = d["Links"]
    f = Formulation()
    for link in links:
        f.var(link, 0, link[3])
    for factory, out in zip(d["Factories"], d["production"]):
        f.row([(l, 1) for l in links if l[0] == factory], upper=out)
    for depot in d["Depots"]:
        f.row([(l, 1) for l in links if l[1] == depot] + [(l, -1) for l in links if l[0] == depot], 0, 0)
    for customer, need in zip(d["Customers"], d["demand"]):
        f.row([(l, 1) for l in links if l[1] == customer], need)
    return f.optimum([(l, l[2]) for l in links])


INDEPENDENT = {
    "aggregate_planning": aggregate_planning,
    "alloy_blending": alloy_blending,
    "assignment": assignment,
    "bin_packing": bin_packing,
    "call_center_shifts": call_center_shifts,
    "capital_budgeting": capital_budgeting,
    "cash_planning": cash_planning,
    "clinic_p_median": clinic_p_median,
    "crew_pairing": crew_pairing,
    "crop_planning": crop_planning,
    "cutting_stock": cutting_stock,
    "diet": diet,
    "facility_location": facility_location,
    "fuel_blending": fuel_blending,
    "knapsack": knapsack,
    "lot_sizing": lot_sizing,
    "machine_makespan": machine_makespan,
    "max_flow": max_flow,
    "media_planning": media_planning,
    "multi_commodity_flow": multi_commodity_flow,
    "multi_period_inventory": multi_period_inventory,
    "nurse_scheduling": nurse_scheduling,
    "portfolio": portfolio,
    "production_mix": production_mix,
    "project_crashing": project_crashing,
    "set_cover": set_cover,
    "shortest_path": shortest_path,
    "teaching_assistants": teaching_assistants,
    "transportation": transportation,
    "transshipment": transshipment,
    "traveling_salesman": traveling_salesman,
    "unit_commitment": unit_commitment,
}


def test_every_shipped_example_has_an_independent_check():
    assert sorted(INDEPENDENT) == sorted(p.name for p in EXAMPLES.iterdir() if p.is_dir())


def leaves(value):
    return [x for item in value for x in leaves(item)] if isinstance(value, list) else [value]


def shape_of(value):
    return (
        (len(value),) + shape_of(value[0])
        if isinstance(value, list) and value
        else ((0,) if isinstance(value, list) else ())
    )


@pytest.mark.parametrize("name", sorted(INDEPENDENT))
def test_example_optimum(name, backend):
    model, data = texts(name)
    compiled = TVLCompiler().compile_model(model, data)
    expected = INDEPENDENT[name](compiled["data"])
    result = solver.solve_model(model, data, solver=backend)
    assert result.status is solver.Status.OPTIMAL
    assert result.objective == pytest.approx(expected, rel=1e-6, abs=1e-6)
    # Every variable and dexpr is reported, shaped like its index sets.
    program = result.program
    for v in program.variables:
        assert shape_of(result.nested_values[v["name"]]) == v["shape"]
        kinds = {type(x) for x in leaves(result.nested_values[v["name"]])}
        assert kinds <= ({int} if v["integer"] else {float})
    assert all(x["name"] in result.values for x in program.dexprs)
    assert program.statistics["instantiation_seconds"] < 0.5  # generous; the benchmark measures it
