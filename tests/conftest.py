import os

import pytest

pytest_plugins = ["llm_fixtures"]


@pytest.fixture(autouse=True, scope="session")
def _kept_vectors_apart(tmp_path_factory):
    """The ranker keeps library vectors in the run's own folder, never in the user's cache."""
    os.environ["TARVOK_CACHE_DIR"] = str(tmp_path_factory.mktemp("kept-vectors"))


def _solver_names():
    from tarvok import solver

    return list(solver._SOLVERS)


@pytest.fixture(params=_solver_names())
def backend(request):
    """Each solver back-end by name; one whose library is missing is skipped."""
    from tarvok import solver

    try:
        solver._check_solver(request.param)
    except ImportError as missing:
        pytest.skip(str(missing))
    return request.param


@pytest.fixture
def tg():
    """The generative module, with its settings restored after each test."""
    import tarvok.tarvok_generative as module

    names = [n for n in dir(module) if n.isupper()]
    saved = {n: getattr(module, n) for n in names}
    yield module
    for n, v in saved.items():
        setattr(module, n, v)
