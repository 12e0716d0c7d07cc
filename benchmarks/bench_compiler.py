"""Compile time of generated Tarvok models of about 1k, 10k and 100k lines with
matching data, through TVLCompiler().compile_model (the result dict included).

Each model is made of independent production-planning blocks (sets, ranges,
parameters, variables, a dexpr, foralls with conditions) and one objective over
all blocks, so every pass of the compiler has work in proportion to the size.
Prints the median of several runs and the time per thousand lines; the growth
should be linear.
"""

import statistics
import sys
import time

from tarvok.tarvok_core import TVLCompiler

PRODUCTS = ["a", "b", "c"]
PERIODS = 4


def block(k):
    model = [
        f"{{string}} P{k} = ...;",
        f"int T{k} = ...;",
        f"range R{k} = 1..T{k};",
        f"float cost{k}[P{k}] = ...;",
        f"float hold{k}[P{k}] = ...;",
        f"float demand{k}[P{k}][R{k}] = ...;",
        f"float cap{k} = ...;",
        f"dvar float+ make{k}[P{k}][R{k}];",
        f"dvar float+ stock{k}[P{k}][R{k}] in 0..cap{k} * 2;",
        f"dexpr float total{k} = sum(p in P{k}, t in R{k}) (cost{k}[p] * make{k}[p][t] + hold{k}[p] * stock{k}[p][t]);",
    ]
    constraints = [
        f"  forall(p in P{k}, t in R{k}: t > 1)",
        f"    balance{k}: stock{k}[p][t] == stock{k}[p][t - 1] + make{k}[p][t] - demand{k}[p][t];",
        f"  forall(p in P{k}) start{k}: stock{k}[p][1] == make{k}[p][1] - demand{k}[p][1];",
        f"  forall(t in R{k}) capacity{k}: sum(p in P{k}) make{k}[p][t] <= cap{k};",
    ]
    quoted = ", ".join(f'"{p}"' for p in PRODUCTS)
    rows = ", ".join(
        "[" + ", ".join(str((k + i * 7 + t * 3) % 50 + 1) for t in range(PERIODS)) + "]" for i in range(len(PRODUCTS))
    )
    data = [
        f"P{k} = {{{quoted}}};",
        f"T{k} = {PERIODS};",
        f"cost{k} = [{k % 9 + 1}, 2.5, 4];",
        f"hold{k} = [0.5, 0.25, 1];",
        f"demand{k} = [{rows}];",
        f"cap{k} = {100 + k % 17};",
    ]
    return model, constraints, data


def generate(lines):
    blocks = max(1, lines // 15)
    model, constraints, data = [], [], []
    for k in range(blocks):
        m, c, d = block(k)
        model += m
        constraints += c
        data += d
    totals = [f"total{k}" for k in range(blocks)]
    objective = ["minimize " + " + ".join(totals[:10])] + [
        "  + " + " + ".join(totals[i : i + 10]) for i in range(10, blocks, 10)
    ]
    objective[-1] += ";"
    text = "\n".join(model + objective + ["subject to {"] + constraints + ["}"]) + "\n"
    return text, "\n".join(data) + "\n"


def measure(model, data, runs):
    """Median wall-clock and CPU seconds of one compile_model call. The result
    is released outside the timed part; CPU time is the steadier figure on a
    machine shared with other work."""
    compiler = TVLCompiler()
    wall, cpu = [], []
    for _ in range(runs):
        start_wall, start_cpu = time.perf_counter(), time.process_time()
        result = compiler.compile_model(model, data)
        cpu.append(time.process_time() - start_cpu)
        wall.append(time.perf_counter() - start_wall)
        del result
    return statistics.median(wall), statistics.median(cpu)


def main():
    print(
        f"{'model lines':>12} {'data lines':>11} {'bytes':>10} {'wall ms':>9} {'cpu ms':>8} {'cpu ms per 1k lines':>20}"
    )
    for target, runs in ((1_000, 21), (10_000, 11), (100_000, 3)):
        model, data = generate(target)
        wall, cpu = measure(model, data, runs)
        lines = model.count("\n")
        print(
            f"{lines:>12} {data.count(chr(10)):>11} {len(model) + len(data):>10} {wall * 1e3:>9.1f} {cpu * 1e3:>8.1f} "
            f"{cpu * 1e6 / lines:>20.2f}"
        )
    return 0


if __name__ == "__main__":
    sys.exit(main())
