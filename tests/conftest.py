import pytest

pytest_plugins = ["llm_fixtures"]


@pytest.fixture
def tg():
    """The generative module, with its settings restored after each test."""
    import tarvok.tarvok_generative as module

    names = [n for n in dir(module) if n.isupper()]
    saved = {n: getattr(module, n) for n in names}
    yield module
    for n, v in saved.items():
        setattr(module, n, v)
