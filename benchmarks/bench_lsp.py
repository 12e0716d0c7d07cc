"""Time from a change to published diagnostics in `tarvok lsp`, for a model of about 2,000 lines
with its data file beside it (the generated production-planning blocks of bench_compiler.py).

The server runs as editors start it (`python -m tarvok lsp` on pipes); the client sends
`textDocument/didChange` and waits for the model's and the data's `publishDiagnostics`. Each
change is a one-character edit sent the way editors send it (an incremental range), alternately
introducing and mending an undeclared name, so half of the rounds publish an error. Prints the
median, the 90th percentile and the worst of each; the target is 50 ms for the model.
"""

import statistics
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))

from bench_compiler import generate  # noqa: E402
from lsp_client import LspClient  # noqa: E402

ROUNDS = 60


def main():
    model, data = generate(2_150)
    lines = model.count("\n")
    # The first use of `cost0` in the text; turning it into `cost0x` and back is the edit.
    line_number = next(i for i, line in enumerate(model.split("\n")) if "cost0[p]" in line)
    column = model.split("\n")[line_number].index("cost0[p]") + len("cost0")
    with tempfile.TemporaryDirectory() as folder:
        root = Path(folder)
        model_path, data_path = root / "plan.mod", root / "plan.dat"
        model_path.write_text(model)
        data_path.write_text(data)
        client = LspClient([sys.executable, "-m", "tarvok", "lsp"], cwd=root)
        try:
            client.initialize(root)
            started = time.perf_counter()
            client.open(model_path)
            first = client.diagnostics(model_path.as_uri())
            opened = time.perf_counter() - started
            client.diagnostics(data_path.as_uri())
            assert first == [], first
            to_model, to_data = [], []
            for n in range(ROUNDS):
                at = {"line": line_number, "character": column}
                change = (
                    {"range": {"start": at, "end": at}, "text": "x"}
                    if n % 2 == 0
                    else {"range": {"start": at, "end": {**at, "character": column + 1}}, "text": ""}
                )
                started = time.perf_counter()
                client.notify(
                    "textDocument/didChange",
                    {"textDocument": {"uri": model_path.as_uri(), "version": n + 2}, "contentChanges": [change]},
                )
                published = client.diagnostics(model_path.as_uri())
                to_model.append(time.perf_counter() - started)
                client.diagnostics(data_path.as_uri())
                to_data.append(time.perf_counter() - started)
                assert bool(published) == (n % 2 == 0), published
        finally:
            client.close()

    def figures(times):
        ordered = sorted(times)
        p90 = ordered[int(0.9 * (len(ordered) - 1))]
        return f"{statistics.median(times) * 1e3:8.1f} {p90 * 1e3:8.1f} {ordered[-1] * 1e3:8.1f}"

    print(f"model: {lines} lines, {len(model)} bytes; data: {data.count(chr(10))} lines, {len(data)} bytes")
    print(f"open to the model's diagnostics: {opened * 1e3:.1f} ms")
    print(f"{'change to diagnostics of':<28} {'median':>8} {'p90':>8} {'max':>8}   (ms, {ROUNDS} changes)")
    print(f"{'  the model':<28} {figures(to_model)}")
    print(f"{'  the data':<28} {figures(to_data)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
