"""Numeric arrays given as numpy arrays or nested lists are read packed by `instantiate`: the same program and the
same faults as the data written as text (a read-only mapping proxy takes the text route, and serves as the oracle)."""

import types

import numpy as np
import pytest

import tarvok.solver as solver
from tarvok.semantic_error import SemanticError

MODEL = """int n = ...;
range N = 1..n;
{string} S = ...;
float cost[N][S] = ...;
int pick[S] = ...;
float w[1..2][N][S] = ...;
dvar float+ x[N][S];
minimize sum(i in N, s in S) (cost[i][s] * pick[s] + w[1][i][s] - w[2][i][s]) * x[i][s];
subject to {
  forall(i in N) sum(s in S) x[i][s] >= 1;
}
"""
COST = [[1.5, -0.0, 3], [4, 5.25, 1.25e-7]]
W = [[[0.1, 0.2, 0.3], [1, 2, 3]], [[-1, -2, -3], [7.5, 8.5, 9.5]]]
BASE = {"n": 2, "S": ["a", "b", "c"]}
ARRAYS = ("cost", "row_lower", "row_upper", "column_lower", "column_upper", "row_starts", "column_indices", "values")


def via_text(data):
    """The same data by the text route: a mapping that is no dict is written whole as data text."""
    return types.MappingProxyType(data)


def same_program(a, b):
    for name in ARRAYS:
        np.testing.assert_array_equal(getattr(a, name), getattr(b, name), err_msg=name)
    assert (a.num_rows, a.num_columns, a.objective_offset) == (b.num_rows, b.num_columns, b.objective_offset)


def failure(data):
    with pytest.raises(SemanticError) as raised:
        solver.instantiate(MODEL, data)
    return str(raised.value)


def test_packed_arrays_give_the_program_of_the_data_text():
    text = f'n = 2;\nS = {{"a", "b", "c"}};\ncost = {COST};\npick = [1, 0, 7];\nw = {W};\n'
    expected = solver.instantiate(MODEL, text)
    sources = {
        "float64 and int64 arrays": {"cost": np.array(COST), "pick": np.array([1, 0, 7]), "w": np.array(W)},
        "nested lists, mixed ints and floats": {"cost": COST, "pick": [1, 0, 7], "w": W},
        "tuples": {"cost": tuple(map(tuple, COST)), "pick": (1, 0, 7), "w": W},
        "arrays not C-contiguous": {
            "cost": np.array(COST).T.copy().T,
            "pick": np.array([1, 9, 0, 9, 7])[::2],
            "w": np.asfortranarray(W),
        },
        "int32, read by value": {"cost": COST, "pick": np.array([1, 0, 7], dtype=np.int32), "w": W},
    }
    for name, arrays in sources.items():
        data = {**BASE, **arrays}
        same_program(solver.instantiate(MODEL, data), expected)
        same_program(solver.instantiate(MODEL, via_text(data)), expected)
    whole = np.array([[1, 2, 3], [4, 5, 6]])
    same_program(
        solver.instantiate(MODEL, {**BASE, "cost": whole, "pick": [1, 0, 7], "w": W}),
        solver.instantiate(MODEL, via_text({**BASE, "cost": whole.tolist(), "pick": [1, 0, 7], "w": W})),
    )


def test_the_program_holds_its_own_copy_of_the_numbers():
    cost = np.array(COST)
    program = solver.instantiate(MODEL, {**BASE, "cost": cost, "pick": [1, 0, 7], "w": W})
    before = program.cost.copy()
    cost[:] = 99
    np.testing.assert_array_equal(program.cost, before)


def test_faults_read_as_from_the_data_text():
    good = {"cost": np.array(COST), "pick": [1, 0, 7], "w": W}
    nan = np.array(COST)
    nan[0, 2] = np.nan
    faults = {
        "shape": {"cost": np.ones((3, 2))},
        "dimensions": {"cost": np.ones(6)},
        "floats for ints": {"pick": np.array([1.0, 0.0, 7.0])},
        "NaN": {"cost": nan},
        "infinity in lists": {"cost": [[1, 2, float("inf")], [1, 2, 3]]},
        "ragged": {"cost": [[1, 2], [1, 2, 3]]},
        "a bool": {"cost": [[1, 2, True], [1, 2, 3]]},
        "a string": {"cost": [[1, 2, "x"], [1, 2, 3]]},
        "an int past 64 bits": {"pick": [1, 0, 2**70]},
        "the solver's infinity": {"cost": np.array(COST) * 1e27},
        "a name the model lacks": {"costs": np.ones((2, 3))},
        "a set given numbers": {"S": np.array([1, 2, 3])},
        "another entry wrong": {"n": "two"},
    }
    messages = {}
    for name, change in faults.items():
        data = {**BASE, **good, **change}
        messages[name] = failure(data)
        assert messages[name] == failure(via_text(data)), name
    assert messages["shape"] == "data[\"cost\"]: 'cost' has 3 values but its index range 'N' has 2 elements"
    assert messages["NaN"] == "'cost' holds a number that is not finite"
    assert messages["a bool"] == "data[\"cost\"][0][2]: 'cost' holds floats, but the data gives true"
    assert messages["floats for ints"].startswith("data[\"pick\"][0]: 'pick' holds ints, but the data gives the number")
    with pytest.raises(TypeError, match="not object"):
        solver.instantiate(MODEL, {**BASE, **good, "pick": [1, 0, object()]})
