"""zhand.Hand against zhand-sim on a pty: opening, the operations, the
result codes as HandError, a lost link, the GIL during exchanges and Ctrl-C."""
import ast
import os
import pathlib
import re
import signal
import subprocess
import sys
import threading
import time

import pytest

import zhand


def test_port_number_opens_com_link_and_operations_reach_the_hand(sim):
    with zhand.Hand(1) as hand:
        assert hand.port_open
        hand.close("G")
        closed = hand.get_parameters("G", "P")
        assert len(closed) == 3 and all(p > 10000 for p in closed)
        hand.open("G")
        opened = hand.get_parameters("G", "P")
        assert all(p < 1000 for p in opened)
        hand.move_to("1", 5000)
        assert abs(hand.get_parameters("1", "P")[0] - 5000) < 200
        hand.set_parameter("1", "MCV", 77)
        assert hand.get_parameters("1", "MCV") == [77]
        assert hand.get_parameters("1", "MCV MOV")[0] == 77
        assert hand.command("1FGET MCV") == "77"
        assert hand.reply_text == "77"
        assert hand.command_text == b"1FGET MCV\r"
        assert 0 < hand.temperature() < 100
        hand.home()
        hand.init_hand("GS")
    assert not hand.port_open


@pytest.mark.parametrize("as_path", [str, pathlib.Path])
def test_device_path_opens_that_device(sim, as_path, tmp_path, monkeypatch):
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    monkeypatch.chdir(elsewhere)  # no COM1 here: only the path can reach the hand
    with zhand.Hand(as_path(sim.device)) as hand:
        hand.close("1")
        assert hand.get_parameters("1", "P")[0] > 10000


def test_closed_port_and_second_instance(sim):
    hand = zhand.Hand(1)
    with pytest.raises(zhand.HandError) as second:
        zhand.Hand(1)
    assert second.value.code == -1
    hand.close_port()
    with pytest.raises(zhand.HandError) as closed:
        hand.home()
    assert closed.value.code == -15
    assert str(closed.value) == zhand.error_text(-15)
    with zhand.Hand(1) as again:  # the instance is free once closed
        again.home()


@pytest.mark.parametrize("port", [0, 10, -3, 2**40, "/nonexistent/tty"])
def test_no_port_raises_minus_two(sim, port):
    with pytest.raises(zhand.HandError) as error:
        zhand.Hand(port)
    assert error.value.code == -2
    assert str(error.value) == "Open comm port failed"


@pytest.mark.parametrize("port", [True, 1.5, None])
def test_port_of_another_type_is_refused(sim, port):
    with pytest.raises(TypeError):
        zhand.Hand(port)


# (operation, code): the hand's own ERR n gives n, the driver's checks theirs.
CODES = [
    (lambda h: h.command("XYZ"), 1),
    (lambda h: h.command("1FGET NOSUCH"), 3),
    (lambda h: h.move_to("1", 30001), -18),
    (lambda h: h.incremental_close("G", -1), -18),
    (lambda h: h.command("x" * 5000), -17),
    (lambda h: h.rt_set_velocity("1", 10), -19),
]


@pytest.mark.parametrize("operation,code", CODES)
def test_result_codes_raise_hand_error(sim, operation, code):
    with zhand.Hand(1) as hand:
        with pytest.raises(zhand.HandError) as error:
            operation(hand)
        assert error.value.code == code
        assert str(error.value) == zhand.error_text(code)
        hand.home()  # the hand still answers


def test_hand_error_is_an_exception_that_pickles():
    import pickle

    error = pickle.loads(pickle.dumps(zhand.HandError(-9)))
    assert isinstance(error, Exception)
    assert error.code == -9
    assert str(error) == "Error reading from comm port (or read timeout)"
    assert zhand.HandError(4).args == ("Hand error - check hand manual",)


def hang_up(hand):
    """Asks until the simulator hangs up; the HandError of that exchange."""
    for _ in range(10):
        try:
            hand.home()
        except zhand.HandError as error:
            return error
    pytest.fail("the simulator never hung up")


def test_lost_link_raises_and_comes_back_through_reconnect(start):
    start(faults=["hangup,after=6,down=700"])
    with zhand.Hand(1) as hand:
        hand.home()
        assert not hand.link_lost()
        error = hang_up(hand)
        assert error.code in (-8, -9, -11)
        assert hand.link_lost()
        assert not hand.reconnect()  # the device is not back yet
        deadline = time.monotonic() + 10
        while not hand.reconnect() and time.monotonic() < deadline:
            time.sleep(0.1)
        assert not hand.link_lost()
        hand.reset()
        hand.close("1")
        assert hand.get_parameters("1", "P")[0] > 10000


def test_link_that_never_comes_back_keeps_failing(start):
    start(faults=["hangup,after=6,down=-1"])
    with zhand.Hand(1) as hand:
        codes = [hang_up(hand).code]
        for _ in range(3):
            with pytest.raises(zhand.HandError) as error:
                hand.home()
            codes.append(error.value.code)
        assert all(code in (-8, -9, -11) for code in codes)
        assert hand.link_lost() and not hand.reconnect()


@pytest.mark.parametrize("paced", [False, True])
def test_realtime_loop_moves_the_fingers(start, paced):
    start(paced=paced)
    with zhand.Hand(1) as hand:
        hand.open("G")
        hand.rt_set_flags("123", lcv=True, lfv=True, lfap=True, lfdp=True, lfs=True)
        hand.rt_start("123")
        before = [hand.rt_get_position(m) for m in "123"]
        velocities, deltas = set(), set()
        for _ in range(40 if paced else 200):
            for motor in "123":
                hand.rt_set_velocity(motor, 60)
            hand.rt_update()
            velocities.add(hand.rt_get_velocity("2"))
            deltas.add(hand.rt_get_delta_pos("3"))
        after = [hand.rt_get_position(m) for m in "123"]
        assert all(a > b + 100 for a, b in zip(after, before))
        assert max(velocities) > 0 and max(deltas) > 0
        assert 0 <= hand.rt_get_strain("1") <= 255
        assert hand.rt_get_position("4") == 0  # not started
        with pytest.raises(ValueError):
            hand.rt_get_position("12")
        hand.rt_update(send_control=False, read_feedback=False)
        hand.rt_abort()
        assert hand.command("1FGET P") != ""  # back to text commands


def test_other_threads_run_through_an_exchange(sim):
    ticks = []
    stop = threading.Event()

    def count():
        while not stop.is_set():
            ticks.append(time.monotonic())

    with zhand.Hand(1) as hand:
        counter = threading.Thread(target=count)
        counter.start()
        begin = time.monotonic()
        hand.delay(1000)
        end = time.monotonic()
        stop.set()
        counter.join()
    assert end - begin >= 0.99
    during = [t for t in ticks if begin + 0.1 < t < end - 0.1]
    # Holding the GIL through the delay would leave none at all.
    assert len(during) > 100
    assert during[-1] - during[0] > 0.5


def test_threads_share_one_hand(sim):
    failures = []

    def ask(motor):
        try:
            for _ in range(20):
                hand.get_parameters(motor, "P")
        except Exception as error:  # collected for the assertion below
            failures.append(error)

    with zhand.Hand(1) as hand:
        threads = [threading.Thread(target=ask, args=(m,)) for m in "123"]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    assert failures == []


CTRL_C_CHILD = r"""
import sys, zhand
with zhand.Hand(1) as hand:
    try:
        hand.get_parameters("G", "P")
        print("ready", flush=True)
        while True:
            hand.delay(30)
            hand.get_parameters("G", "P")
    except KeyboardInterrupt:
        print("interrupted", hand.get_parameters("1", "P")[0] >= 0, flush=True)
"""


def test_ctrl_c_between_exchanges_raises_keyboard_interrupt(sim):
    child = subprocess.Popen([sys.executable, "-c", CTRL_C_CHILD], stdout=subprocess.PIPE,
                             text=True, env=os.environ)
    assert child.stdout.readline().strip() == "ready"
    time.sleep(0.3)
    child.send_signal(signal.SIGINT)
    out, _ = child.communicate(timeout=20)
    assert child.returncode == 0
    assert out.strip() == "interrupted True"


SOURCE = pathlib.Path(__file__).resolve().parents[2]
# ZHand members that have no method of their own: the hand-over to the I/O
# thread (a Hand always waits for its exchange), the raw port under the I/O
# thread, the ones the constructor makes, and those with another name.
NOT_METHODS = {"Initialize", "OpenPort", "OpenDevice", "Request", "IsBusy", "WaitDone",
               "ReadBytes", "WriteBytes", "ErrorText", "ZHand"}
RENAMED = {"GetTemperature": "temperature", "ReplyText": "reply_text",
           "CommandText": "command_text"}


def snake(name):
    name = name.replace("RT", "Rt")
    return "".join("_" + c.lower() if c.isupper() else c for c in name).lstrip("_")


def test_every_zhand_operation_has_its_snake_case_method():
    header = (SOURCE / "driver" / "zhand.h").read_text()
    members = set(re.findall(r"^\s+(?:static\s+)?[\w:<>* ]+?\b([A-Z]\w*)\(", header, re.M))
    assert {"Close", "RTUpdate", "GetParameters", "Reconnect"} <= members
    for member in sorted(members - NOT_METHODS):
        name = RENAMED.get(member, snake(member))
        assert hasattr(zhand.Hand, name), f"ZHand::{member} has no Hand.{name}"
    assert zhand.error_text(-2) == "Open comm port failed"


def test_stubs_and_docstrings_cover_the_module():
    stubs = ast.parse((SOURCE / "python" / "zhand" / "_zhand.pyi").read_text())
    classes = {c.name: c for c in stubs.body if isinstance(c, ast.ClassDef)}
    for name in ["Hand", "Run", "Recorder", "Measurement"]:
        cls = getattr(zhand, name)
        assert cls.__module__ == "zhand"
        assert cls.__doc__, name
        public = {n for n in dir(cls) if not n.startswith("_")}
        stubbed = {n.target.id if isinstance(n, ast.AnnAssign) else n.name
                   for n in classes[name].body
                   if isinstance(n, (ast.FunctionDef, ast.AnnAssign))} - {"__init__", "__enter__", "__exit__"}
        assert public == stubbed, name
        undocumented = [n for n in public
                        if callable(getattr(cls, n)) and not getattr(cls, n).__doc__]
        assert undocumented == [], name
