import pytest

from simulator import start_sim


@pytest.fixture
def sim(tmp_path, monkeypatch):
    """An instant simulator linked as ./COM1 in the test's working folder."""
    monkeypatch.chdir(tmp_path)
    simulator = start_sim(tmp_path)
    yield simulator
    simulator.stop()


@pytest.fixture
def start(tmp_path, monkeypatch):
    """Starts simulators with options of the test's own in its working folder."""
    monkeypatch.chdir(tmp_path)
    started = []

    def starter(**options):
        started.append(start_sim(tmp_path, **options))
        return started[-1]

    yield starter
    for simulator in started:
        simulator.stop()


pytest_plugins = ["pytester"]
