"""The expansion's shortcuts against what they stand for: a data table or a
variable indexed by bindings over its own sets is read directly, and must
give the very arrays the general evaluation gives for the same model written
with copies of those sets; a large model's arrays are checked against the
matrix built by hand."""

import numpy as np
import pytest

solver = pytest.importorskip("tarvok.solver")
from tarvok.semantic_error import SemanticError  # noqa: E402

TABLE = """
range C = 3..6;
{string} F = {"north", "east", "south"};
range C2 = 3..6;
{string} F2 = {"north", "east", "south"};
float d[C][F] = ...;
dvar float+ serve[C][F];
dvar boolean open[F];
minimize sum(c in OVER_C, f in OVER_F) d[c][f] * serve[c][f];
subject to {
  forall(c in OVER_C) served: sum(f in OVER_F) serve[c][f] == 1;
  forall(c in OVER_C, f in OVER_F) onlyOpen: serve[c][f] <= d[c][f] * open[f];
  forall(c in OVER_C, f in OVER_F : d[c][f] > 4) far: 2 * serve[c][f] - d[c][f] * open[f] <= d[c][f] / 2;
}
"""
TABLE_DATA = "d = [[1, 2.5, 3], [4, 5, 6], [7.25, 8, 9], [-1, 0, 11]];"

ARRAYS = ["cost", "column_lower", "column_upper", "row_lower", "row_upper", "row_starts", "column_indices", "values"]


def arrays(program):
    return {name: np.array(getattr(program, name)) for name in ARRAYS}


def test_tables_read_directly_match_the_general_evaluation():
    direct = solver.instantiate(TABLE.replace("OVER_C", "C").replace("OVER_F", "F"), TABLE_DATA)
    general = solver.instantiate(TABLE.replace("OVER_C", "C2").replace("OVER_F", "F2"), TABLE_DATA)
    got, want = arrays(direct), arrays(general)
    for name in ARRAYS:
        np.testing.assert_array_equal(got[name], want[name], err_msg=name)
    assert direct.row_names == [n.replace("C2", "C") for n in general.row_names]
    # The cost of serve[c][f] is d[c][f], row by row over C then F.
    np.testing.assert_array_equal(got["cost"][:12], [1, 2.5, 3, 4, 5, 6, 7.25, 8, 9, -1, 0, 11])


def test_a_fault_behind_a_table_is_still_reported_where_it_is():
    model = TABLE.replace("OVER_C", "C").replace("OVER_F", "F").replace("d[c][f] / 2", "d[c][f] / (c - 5)")
    with pytest.raises(SemanticError) as caught:
        solver.instantiate(model, TABLE_DATA)
    # The first instance that divides by zero, found in the same order as without the shortcut.
    assert "divides by '(c - 5)', which is 0, when c = 5, f = \"north\"" in str(caught.value)


@pytest.mark.parametrize("n", [1, 7, 60])
def test_basic_model_against_the_matrix_built_by_hand(n):
    model = """
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
    p = solver.instantiate(model, f"n = {n};")
    cells = n * n
    np.testing.assert_array_equal(p.cost, [2.0] * cells + [1.0] * cells)
    i = np.repeat(np.arange(1, n + 1), n)
    np.testing.assert_array_equal(p.row_lower, np.concatenate([i - 1.0, np.zeros(cells)]))
    assert np.all(np.isinf(p.row_upper))
    k = np.arange(cells)
    np.testing.assert_array_equal(p.row_starts, np.arange(0, 4 * cells + 1, 2))
    np.testing.assert_array_equal(p.column_indices, np.stack([k, k + cells], axis=1).ravel().tolist() * 2)
    np.testing.assert_array_equal(p.values, [1.0, -1.0] * cells + [1.0, 1.0] * cells)
