"""The differential tester of fuzz/difftest.py, seeded: a few hundred random
models agree four ways (solve_model, the emitted script, the .mps and .lp
read back) with the oracle built from the generator's own program, their
sensitivity figures on each solver agree with its finite differences, LP
duality and ranges, and planted errors (the .mps from HiGHS's own writer,
which misplaces integer markers and writes crossing ranges; the duals of
single-column constraints as they were once reported) are caught."""

import importlib
import pathlib
import sys

import pytest

pytest.importorskip("highspy")
pytest.importorskip("scipy")

SCRIPT = pathlib.Path(__file__).resolve().parent.parent / "fuzz" / "difftest.py"


@pytest.fixture(scope="module")
def difftest():
    if not SCRIPT.exists():
        pytest.skip("the fuzz folder is not beside the tests")
    sys.path.insert(0, str(SCRIPT.parent))
    try:
        return importlib.import_module("difftest")
    finally:
        sys.path.remove(str(SCRIPT.parent))


def test_the_generator_reaches_every_status(difftest):
    tally = difftest.statuses(7, 300)
    assert set(tally) == {"optimal", "infeasible", "unbounded"} and tally["optimal"] >= 60


def test_every_output_agrees_with_the_oracle(difftest):
    models, failures = difftest.run(seed=2026, count=300, out=None)
    assert models == 300
    assert [problems for _, problems in failures] == []


def test_a_planted_error_is_caught(difftest):
    _, failures = difftest.run(seed=2026, count=150, plant="highs-mps", out=None)
    found = {p.split(":")[0] for _, problems in failures for p in problems}
    assert found == {"mps"}
    assert len(failures) >= 10


def test_a_planted_sensitivity_error_is_caught(difftest):
    _, failures = difftest.run(seed=2026, count=100, plant="column-duals", out=None)
    found = {p.split(":")[0] for _, problems in failures for p in problems}
    assert "sensitivity-highs" in found and found <= {"sensitivity-highs", "sensitivity-scip"}
    assert len(failures) >= 4


def test_the_oracle_rounds_integer_bounds_by_the_documented_rule(difftest):
    assert difftest.inward(0.5, True) == 1 and difftest.inward(10.5, False) == 10
    assert difftest.inward(3 + 1e-12, True) == 3 and difftest.inward(3 + 1e-7, True) == 4
    assert difftest.inward(1e12 + 0.5, True) == 1e12 + 1
