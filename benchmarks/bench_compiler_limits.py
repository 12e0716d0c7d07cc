"""The compiler's bounds, as figures: suggestion work, data names, large
constraint families, the size limit, peak memory, Ctrl-C latency and the time
of 1 MB texts of hostile shapes. The families and hostile texts are measured
without the size limit (MAX_SIZE = None), so that their checks run. Each memory figure comes from a fresh process (its peak RSS
growth); times are the median of a few runs, in CPU seconds.

    python benchmarks/bench_compiler_limits.py
"""

import signal
import statistics
import subprocess
import sys
import textwrap
import time

import tarvok.tarvok_core as tc
from tarvok.tarvok_core import SemanticError, TVLCompiler


def outcome(model, data=""):
    try:
        TVLCompiler().compile_model(model, data)
        return "compiles"
    except SemanticError as error:
        return str(error).splitlines()[0][:110]


def timed(model, data="", runs=3):
    times = []
    for _ in range(runs):
        start = time.process_time()
        result = outcome(model, data)
        times.append(time.process_time() - start)
    return statistics.median(times), result


def suggestions():
    declared = "".join(f"float name{i} = 1;\n" for i in range(20_000))
    unknown = "".join(f"float use{i} = unknown{i};\n" for i in range(2_000))
    seconds, _ = timed(declared + unknown)
    print(
        f"suggestions, 20,000 declared x 2,000 unknown names ({len(declared + unknown) / 1e6:.2f} MB): {seconds:.3f} s"
    )
    declared = "".join(f"float name{i} = 1;\n" for i in range(40_000))
    unknown = "".join(f"float use{i} = unknown{i};\n" for i in range(8_000))
    seconds, _ = timed(declared + unknown)
    print(f"suggestions, 40,000 declared x 8,000 unknown names: {seconds:.3f} s")


def data_names():
    n = 8_000
    model = "".join(f"float p{i} = 1;\n" for i in range(n)) + "dvar float x;\nminimize x;"
    data = "".join(f"q{i} = 1;\n" for i in range(n))
    seconds, _ = timed(model, data)
    print(f"{n:,} data assignments to undeclared names against {n:,} declarations: {seconds:.3f} s")


def family(n, every_binding_needed):
    index = "t - lead[d] - off[c]" if every_binding_needed else "t - lead[d]"
    model = textwrap.dedent(f"""\
        range D = 1..{n}; range C = 1..{n}; range T = 1..{n};
        int lead[D] = ...; int off[C] = ...;
        dvar float+ stock[C][T]; dvar float+ ship[D][C][T];
        subject to {{
          forall(d in D, c in C, t in T: t > 2) arrive: stock[c][t] >= ship[d][c][{index}];
        }}""")
    lead = ["1"] * n
    lead[-1] = str(n)  # too long only for the last depot
    data = f"lead = [{', '.join(lead)}];\noff = [{', '.join(['1'] * n)}];"
    return model, data


def sizes():
    print("models refused by the size limit before anything is built:")
    shapes = {
        "dvar x[1..40000][1..40000]": "dvar float+ x[1..40000][1..40000];\nminimize sum(i in 1..40000) x[i][i];",
        "forall over 1e5 x 1e5": "range I = 1..100000;\ndvar float x[I];\nsubject to {\n"
        "  forall(i in I, j in I) c: x[i] <= j;\n}",
        "condition over 1e4 x 1e4": "range I = 1..10000;\ndvar float x[I];\nsubject to {\n"
        "  forall(i in I, j in I: i < j) c: x[i] <= x[j];\n}",
        "rows of 1e5 terms": "range I = 1..100000;\ndvar float x[I];\nsubject to {\n"
        "  forall(i in 1..10000) c: sum(j in I) x[j] >= i;\n}",
    }
    for label, model in shapes.items():
        seconds, result = timed(model, runs=1)
        print(f"  {label:28} {seconds:6.3f} s  {result[:110]}")


def families():
    print("large forall families, a lead time too long only for the last depot:")
    for n, needed in ((100, False), (300, False), (1000, False), (100, True), (150, True), (180, True), (200, True)):
        seconds, result = timed(*family(n, needed), runs=1)
        reads = "every binding read" if needed else "c read by nothing risky"
        print(f"  {n}^3 = {n**3:>13,} bindings ({reads}): {seconds:6.3f} s  {result[:90]}")


def peak(code):
    script = textwrap.dedent(
        """
        import resource
        from tarvok.tarvok_core import TVLCompiler
        {setup}
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        result = TVLCompiler().compile_model(model, "")
        grown = (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before) / 1024
        print(len(model) / 2**20, grown)
        """
    ).format(setup=code)
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True).stdout
    size, grown = map(float, out.split())
    return size, grown


def memory():
    print("peak memory growth of one compile_model call:")
    shapes = {
        "8 MB 'float a = 1 + 1 + ... + 1;'": 'model = "float a = " + " + ".join(["1"] * 1_999_000) + ";\\ndvar float x;\\nminimize x;"',
        "7.8 MB 'float a = 1+1+...+1;'": 'model = "float a = " + "+".join(["1"] * 3_900_000) + ";\\ndvar float x;\\nminimize x;"',
        "9 MB objective of x[i] terms": 'model = "dvar float x[1..1000];\\nminimize " + "+".join(f"x[{i % 1000 + 1}]" for i in range(1_300_000)) + ";"',
        "9 MB of 250,000 constraints": (
            'model = "dvar float x[1..100];\\nsubject to {\\n" + "\\n".join(f"c{i}: x[{i % 100 + 1}] + 2 * x[{i * 7 % 100 + 1}] '
            '<= {i};" for i in range(250_000)) + "\\n}\\n"'
        ),
    }
    for label, code in shapes.items():
        size, grown = peak(code)
        print(f"  {label:34} {size:5.2f} MiB text: {grown:6.0f} MiB ({grown / size:4.0f}x)")


def interrupt():
    script = textwrap.dedent(
        """
        from tarvok.tarvok_core import TVLCompiler
        model = "float a = " + "+".join(["1"] * 3_900_000) + ";\\ndvar float x;\\nminimize x;"
        print("ready", flush=True)
        try:
            TVLCompiler().compile_model(model, "")
            print("finished", flush=True)
        except KeyboardInterrupt:
            print("interrupted", flush=True)
        """
    )
    latencies = []
    for delay in (0.1, 0.3, 0.6, 0.9):
        with subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE, text=True) as child:
            child.stdout.readline()
            time.sleep(delay)
            child.send_signal(signal.SIGINT)
            sent = time.perf_counter()
            line = child.stdout.readline().strip()
            latencies.append((line, time.perf_counter() - sent))
            child.wait()
    print("Ctrl-C during a 7.8 MB compile: " + ", ".join(f"{line} after {s * 1000:.0f} ms" for line, s in latencies))


def one_megabyte_texts():
    print("1 MB texts of hostile shapes:")
    shapes = {
        "declarations and unknown names": "".join(f"float a{i} = b{i} + c{i};\n" for i in range(45_000)),
        "deep parentheses, repeated": ("float a = " + "(" * 140 + "1" + ")" * 140 + ";\n") * 3_400,
        "one long sum": "dvar float x;\nminimize " + " + ".join(["x"] * 260_000) + ";",
        "garbage bytes": "".join(chr(c) for c in range(1, 0x3000)) * 30,
        "undeclared data names": "dvar float x;\nminimize x;",
        "runaway initializers": "range I = 1..1000;\n"
        + "".join(f"float s{n} = sum(i in I, j in I, k in I) i * j * k;\n" for n in range(18_000))
        + "dvar float x;\nminimize x;",
        "families too large to check": "range I = 1..6000;\ndvar float x[I][1..12000];\nsubject to {\n"
        + "".join(f"  forall(i in I, j in I) c{n}: x[i][j + i - 1] >= {n};\n" for n in range(20_000))
        + "}",
    }
    data = {"undeclared data names": "".join(f"name{i} = {i};\n" for i in range(70_000))}
    for label, model in shapes.items():
        seconds, result = timed(model, data.get(label, ""), runs=1)
        size = (len(model.encode()) + len(data.get(label, "").encode())) / 1e6
        print(f"  {label:32} {size:5.2f} MB: {seconds:6.3f} s  {result[:70]}")


def main():
    suggestions()
    data_names()
    sizes()
    tc.MAX_SIZE = None
    families()
    one_megabyte_texts()
    memory()
    interrupt()


if __name__ == "__main__":
    main()
