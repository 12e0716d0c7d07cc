"""The matrix column by column (column_starts, row_indices, column_values)
against a transpose of the row-wise arrays made independently by SciPy, on
every shipped model and on shapes where a counting transpose goes wrong:
empty columns at either end, empty rows, no nonzeros at all."""

import pathlib
import threading

import numpy as np
import pytest

solver = pytest.importorskip("tarvok.solver")
sparse = pytest.importorskip("scipy.sparse")

MODELS = pathlib.Path(solver.__file__).parent / "tvl_models"
SHIPPED = sorted(p.name for p in MODELS.iterdir() if p.is_dir())


def assert_columnwise_is_the_transpose(program):
    csr = sparse.csr_matrix(
        (program.values, program.column_indices, program.row_starts), shape=(program.num_rows, program.num_columns)
    )
    want = csr.tocsc()
    want.sort_indices()
    starts, rows, values = program.column_starts, program.row_indices, program.column_values
    assert (starts.dtype, rows.dtype, values.dtype) == (np.int32, np.int32, np.float64)
    np.testing.assert_array_equal(starts, want.indptr)
    np.testing.assert_array_equal(rows, want.indices)
    np.testing.assert_array_equal(values, want.data)
    # csc() is the same matrix as fresh arrays.
    for got, again in zip((starts, rows, values), program.csc()):
        np.testing.assert_array_equal(got, again)


@pytest.mark.parametrize("name", SHIPPED)
def test_shipped_models_transpose_like_scipy(name):
    folder = MODELS / name
    program = solver.instantiate((folder / f"{name}.mod").read_text(), (folder / f"{name}.dat").read_text())
    assert_columnwise_is_the_transpose(program)


@pytest.mark.parametrize(
    "model",
    [
        # Columns without a nonzero first and last, and a row that is a false constant.
        "dvar float a; dvar float x[1..4]; dvar float z;\nminimize a + z;\n"
        "subject to { forall(i in 1..3) x[i] + x[i + 1] >= i; x[4] - x[1] <= 2; 0 >= 1; }",
        # Bounds only: every constraint folded, no nonzeros.
        "dvar float x[1..3];\nminimize sum(i in 1..3) x[i];\nsubject to { forall(i in 1..3) x[i] >= i; }",
        # No columns at all.
        "minimize 0;",
    ],
)
def test_awkward_shapes_transpose_like_scipy(model):
    assert_columnwise_is_the_transpose(solver.instantiate(model, ""))


def test_columnwise_arrays_are_built_once_and_read_only():
    program = solver.instantiate(
        "range N = 1..40;\ndvar float x[N][N];\nminimize sum(i in N, j in N) x[i][j];\n"
        "subject to { forall(i in N) sum(j in N) (i + j) * x[i][j] >= i; "
        "forall(j in N) sum(i in N) x[i][j] <= 100; }",
        "",
    )
    seen = []
    threads = [threading.Thread(target=lambda: seen.append(program.row_indices)) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    # Every reader got a view of the one transpose.
    assert len({a.__array_interface__["data"][0] for a in seen}) == 1
    assert program.row_indices.__array_interface__["data"][0] == seen[0].__array_interface__["data"][0]
    with pytest.raises(ValueError):
        program.column_values[0] = 1
    assert_columnwise_is_the_transpose(program)
