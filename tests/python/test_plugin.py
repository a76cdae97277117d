"""zhand.pytest_plugin through pytester: engineers' test files run in a
pytest of their own against zhand-sim, their runs read back from the store."""
import pathlib
import xml.etree.ElementTree as ET

import pytest

from simulator import start_sim
from store import events, measurements, runs

CHECKS = """
import pytest
import zhand

def test_within_limits(hand, record):
    record.cycle(1, of=2)
    hand.close("1")
    record.measure("F1 closed", hand.get_parameters("1", "P")[0], "counts", low=10000, high=20000)
    record.cycle(2, of=2)
    record.event("NOTE", "closed twice", motor="F1")

def test_limits(record):
    record.measure("A", 5, "mm", low=0, high=1)
    record.measure("B", 0.5, "mm", low=0, high=1)
    record.measure("C", -1, "mm", low=0)
    record.measure("D", 3)

def test_assertion(record):
    record.measure("A", 0.5, low=0, high=1)
    assert 1 == 2

def test_assertion_and_limit(record):
    record.measure("A", 7, low=0, high=1)
    assert 1 == 2

def test_exception(record):
    raise RuntimeError("boom")

def test_hand_error(hand, record):
    hand.move_to("1", 40000)

def test_skip(record):
    record.measure("A", 1)
    pytest.skip("not today")

@pytest.mark.skip(reason="marked")
def test_marked(record):
    pass

def test_no_record(hand):
    hand.home()
"""


@pytest.fixture
def bench(pytester, monkeypatch):
    """A folder with the hand linked as COM1, a station name, no store set."""
    monkeypatch.delenv("ZHAND_RESULTS", raising=False)
    monkeypatch.setenv("ZHAND_STATION", "lab-py")
    simulators = []

    def start(**options):
        simulators.append(start_sim(pytester.path, **options))
        return simulators[-1]

    yield start
    for simulator in simulators:
        simulator.stop()


def run_checks(pytester, *args, source=CHECKS):
    pytester.makepyfile(test_checks=source)
    return pytester.runpytest_subprocess("-p", "no:cacheprovider", "--zhand-serial", "HND42",
                                         "--zhand-operator", "CD", *args)


def test_outcomes_measurements_and_junit(pytester, bench):
    bench()
    result = run_checks(pytester, "--junitxml=junit.xml")
    result.assert_outcomes(passed=2, failed=5, skipped=2)
    result.stdout.fnmatch_lines([
        "*2 measurement(s) outside their limits:*",
        "*A = 5.0 mm (limits 0.0 .. 1.0)*",
        "*C = -1.0 mm (limits 0.0 .. -)*",
    ])
    result.stdout.fnmatch_lines(["*zhand measurements outside their limits*", "*A = 7.0*"])
    store = pytester.path / "results.db"
    got = {test: r["outcome"] for test, r in runs(store).items()}
    assert got == {
        "test_within_limits": "pass",
        "test_limits": "fail",
        "test_assertion": "fail",
        "test_assertion_and_limit": "fail",
        "test_exception": "error",
        "test_hand_error": "error",
        "test_skip": "aborted",
        "test_marked": "aborted",
    }
    within = runs(store)["test_within_limits"]
    assert (within["serial"], within["operator"], within["station"]) == ("HND42", "CD", "lab-py")
    assert (within["cycles_planned"], within["cycles_done"], within["errors"]) == (2, 2, 0)
    assert [(m["name"], m["unit"], m["outcome"], m["cycle"])
            for m in measurements(store, "test_within_limits")] == [
        ("F1 closed", "counts", "pass", 1)]
    assert [(e["kind"], e["motor"], e["cycle"]) for e in events(store, "test_within_limits")] == [
        ("NOTE", "F1", 2)]
    # The test went on measuring after its first failed limit.
    assert [(m["name"], m["outcome"]) for m in measurements(store, "test_limits")] == [
        ("A", "fail"), ("B", "pass"), ("C", "fail"), ("D", None)]
    assert runs(store)["test_limits"]["errors"] == 2
    assert [e["kind"] for e in events(store, "test_exception")] == ["RuntimeError"]
    (hand_error,) = events(store, "test_hand_error")
    assert hand_error["kind"] == "HandError"
    assert "Parameter value out of range" in hand_error["text"]

    cases = {c.get("name"): c for c in ET.parse(pytester.path / "junit.xml").iter("testcase")}
    assert cases["test_limits"].find("failure") is not None
    assert cases["test_within_limits"].find("failure") is None
    uuid = {p.get("name"): p.get("value") for p in cases["test_limits"].iter("property")}
    assert uuid["zhand_run"] == runs(store)["test_limits"]["uuid"]


def test_plugin_loads_with_dash_p_without_its_entry_point(pytester, bench, monkeypatch):
    bench()
    monkeypatch.setenv("PYTEST_DISABLE_PLUGIN_AUTOLOAD", "1")
    without = run_checks(pytester, "-k", "within")
    assert without.ret != 0  # no hand and no record fixture without the plugin
    with_p = run_checks(pytester, "-k", "within", "-p", "zhand.pytest_plugin")
    with_p.assert_outcomes(passed=1)
    monkeypatch.delenv("PYTEST_DISABLE_PLUGIN_AUTOLOAD")
    both = run_checks(pytester, "-k", "within", "-p", "zhand.pytest_plugin")
    both.assert_outcomes(passed=1)  # the entry point and -p load it once


def test_store_and_port_options(pytester, bench):
    sim = bench(port=3)
    other = pytester.path / "other.db"
    result = run_checks(pytester, "-k", "within", "--zhand-port", sim.device,
                        "--zhand-results", str(other))
    result.assert_outcomes(passed=1)
    assert runs(other)["test_within_limits"]["outcome"] == "pass"
    assert not (pytester.path / "results.db").exists()
    # No such port: the test errs, and so does its run, with the hand's error.
    run_checks(pytester, "-k", "within", "--zhand-port", "7").assert_outcomes(errors=1)
    store = pytester.path / "results.db"
    assert runs(store)["test_within_limits"]["outcome"] == "error"
    assert [e["text"] for e in events(store, "test_within_limits")] == [
        "HandError: Open comm port failed"]


LOST = """
import zhand

def test_lost_quietly(hand, record):
    for _ in range(10):
        try:
            hand.home()
        except zhand.HandError:
            return
"""

INTERRUPTED = """
def test_interrupted(record):
    record.cycle(1, of=4)
    raise KeyboardInterrupt

def test_never_reached(record):
    pass
"""


def test_lost_link_is_an_error_even_when_caught(pytester, bench):
    bench(faults=["hangup,after=5,down=-1"])
    result = run_checks(pytester, source=LOST)
    result.assert_outcomes(passed=1)
    assert runs(pytester.path / "results.db")["test_lost_quietly"]["outcome"] == "error"
    assert [e["kind"] for e in events(pytester.path / "results.db", "test_lost_quietly")] == [
        "LINK LOST"]


def test_interrupted_session_aborts_the_open_run(pytester, bench):
    result = run_checks(pytester, source=INTERRUPTED)
    assert result.ret == pytest.ExitCode.INTERRUPTED
    got = runs(pytester.path / "results.db")
    assert list(got) == ["test_interrupted"]
    assert (got["test_interrupted"]["outcome"], got["test_interrupted"]["cycles_planned"]) == (
        "aborted", 4)


def test_example_finger_speeds_against_a_hand_with_a_slow_finger(pytester, bench):
    bench(speed=1, faults=["slow:2,factor=2"])
    example = pathlib.Path(__file__).resolve().parents[2] / "examples" / "test_finger_speeds.py"
    result = run_checks(pytester, source=example.read_text())
    result.assert_outcomes(failed=1)
    result.stdout.fnmatch_lines(["*3 measurement(s) outside their limits:*",
                                 "*F2 Clse time MCV 100 = * s*"])
    store = pytester.path / "results.db"
    run = runs(store)["test_finger_speeds"]
    assert (run["outcome"], run["cycles_planned"], run["cycles_done"], run["errors"]) == (
        "fail", 3, 3, 3)
    times = {m["name"]: m for m in measurements(store, "test_finger_speeds")
             if " Clse time " in m["name"]}
    assert len(times) == 9
    for name, m in times.items():
        assert m["outcome"] == ("fail" if name.startswith("F2") else "pass"), name
        assert m["low"] < m["high"] and m["unit"] == "s"
    assert times["F1 Clse time MCV 200"]["cycle"] == 3
