"""pytest plugin: the hand as a fixture, and every test's measurements
recorded as a run in the station's results store.

Found through its ``pytest11`` entry point where zhand is installed, or with
``-p zhand.pytest_plugin``. Options: ``--zhand-port`` (a port number 1..9,
opened as the station opens it, or a device path; default 1),
``--zhand-serial``, ``--zhand-operator`` and ``--zhand-results`` (the store,
else ZHAND_RESULTS, else results.db). The fixture ``hand`` is one
zhand.Hand for the session; the fixture ``record`` is one run per test
function, whose test is the test's name::

    def test_close_time(hand, record):
        start = time.monotonic()
        hand.close("1")
        record.measure("F1 close time", time.monotonic() - start, "s", high=1.5)

A measurement outside its limits fails the test when it ends, listing the
failed measurements; the test goes on measuring until then. The run ends
``pass``; ``fail`` after a failed assertion or measurement; ``error`` after
any other exception, a HandError or a lost link; ``aborted`` when the test
is skipped or the session interrupted.
"""
import pytest

import zhand

_state = pytest.StashKey()
_record = pytest.StashKey()
_outcomes = pytest.StashKey()


class _Session:
    """The plugin's state for one pytest session: the hand and the journal,
    each opened when a test first asks for it."""

    def __init__(self, config):
        self.config = config
        self.hand = None
        self.recorder = None

    def option(self, name):
        return self.config.getoption(name)

    def open_recorder(self):
        if self.recorder is None:
            self.recorder = zhand.Recorder(results=self.option("zhand_results"))
        return self.recorder

    def close(self):
        if self.recorder is not None:
            self.recorder.close()  # a run still open ends as aborted
            self.recorder = None
        if self.hand is not None:
            self.hand.close_port()
            self.hand = None


class Record:
    """The run of one test. It starts in the store with its first fact (or
    at the end of a test that records none), so that ``cycle(i, of=n)``
    before anything else gives the run its planned cycles."""

    def __init__(self, session, test):
        self._session = session
        self._test = test
        self._run = None

    @property
    def run(self):
        """The zhand.Run, started if it was not yet."""
        return self._started(0)

    def _started(self, cycles):
        if self._run is None:
            s = self._session
            self._run = s.open_recorder().begin_run(
                self._test, serial=s.option("zhand_serial"),
                operator=s.option("zhand_operator"), cycles=cycles)
        return self._run

    def measure(self, name, value, unit=None, low=None, high=None, *, cycle=None):
        """Records a measurement with its limits; returns its verdict
        ("pass", "fail", or None without limits). A failed one fails the
        test at its end."""
        return self._started(0).measure(name, value, unit, low, high, cycle=cycle)

    def event(self, kind, text, motor=None, cycle=None):
        """Records an event of `kind` with its text."""
        self._started(0).event(kind, text, motor, cycle)

    def cycle(self, i, of=None):
        """The test is in cycle `i` of `of`; later facts belong to it."""
        self._started(of or 0).cycle(i)

    @property
    def failed(self):
        """The measurements outside their limits so far."""
        return [] if self._run is None else self._run.failed


def pytest_addoption(parser):
    group = parser.getgroup("zhand", "ZorvathHand hand and results store")
    group.addoption("--zhand-port", default="1",
                    help="the hand's port: 1..9 (./COMn, else /dev/ttyS<n-1>) or a device path")
    group.addoption("--zhand-serial", default="", help="the hand's serial number for the runs")
    group.addoption("--zhand-operator", default="", help="the operator's initials for the runs")
    group.addoption("--zhand-results", default=None,
                    help="the results store (a file, a postgresql:// URI or off); "
                         "default ZHAND_RESULTS, else results.db")


def pytest_configure(config):
    config.stash[_state] = _Session(config)
    config.addinivalue_line("markers", "zhand: a test of the ZorvathHand")


def pytest_unconfigure(config):
    session = config.stash.get(_state, None)
    if session is not None:
        session.close()


def _port(text):
    return int(text) if text.strip().lstrip("-").isdigit() else text


@pytest.fixture(scope="session")
def hand(pytestconfig):
    """One zhand.Hand for the whole session, on --zhand-port."""
    session = pytestconfig.stash[_state]
    if session.hand is None:
        session.hand = zhand.Hand(_port(session.option("zhand_port")))
    yield session.hand


@pytest.fixture
def record(request):
    """The run of this test in the results store."""
    rec = Record(request.config.stash[_state], request.node.name)
    request.node.stash[_record] = rec
    yield rec


def _failed_text(failed):
    lines = [f"{len(failed)} measurement(s) outside their limits:"]
    lines += [f"  {m}" for m in failed]
    return "\n".join(lines)


def _classify(report, call):
    """The run's outcome from one phase of the test, None when it passed."""
    if report.passed:
        return None
    if report.skipped:
        return "aborted"
    excinfo = call.excinfo
    if excinfo is None or excinfo.errisinstance(AssertionError):
        return "fail"  # an assertion, or measurements outside their limits
    return "error"


def _note_error(rec, call):
    excinfo = call.excinfo
    if excinfo is not None and not excinfo.errisinstance(AssertionError):
        rec.event(excinfo.typename, f"{excinfo.typename}: {excinfo.value}")


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    rec = item.stash.get(_record, None)
    if (rec is None and call.when == "setup" and not report.passed
            and "record" in getattr(item, "fixturenames", ())):
        # Skipped, or stopped by another fixture (the hand's port, say),
        # before `record` was set up: its run is recorded all the same.
        rec = item.stash[_record] = Record(item.config.stash[_state], item.name)
    if rec is None:
        return
    if call.when == "call" and rec.failed:
        text = _failed_text(rec.failed)
        if report.passed:
            report.outcome = "failed"
            report.longrepr = text
        else:
            report.sections.append(("zhand measurements outside their limits", text))
    verdicts = item.stash.setdefault(_outcomes, [])
    verdict = _classify(report, call)
    if verdict == "error":
        _note_error(rec, call)
    verdicts.append(verdict)
    if call.when == "teardown":
        _end_run(item, rec, verdicts, report)


def _end_run(item, rec, verdicts, report):
    session = item.config.stash[_state]
    outcome = next((v for v in verdicts if v is not None), "pass")
    if session.hand is not None and outcome != "aborted" and session.hand.port_open:
        if session.hand.link_lost():
            if outcome != "error":
                rec.event("LINK LOST", "the link to the hand was lost during the test")
            outcome = "error"
    run = rec.run
    # The run's uuid in --junitxml's properties of the test.
    report.user_properties.append(("zhand_run", run.uuid))
    run.end(outcome)
