"""Characterises the finger speeds of a ZorvathHand at three closing
velocities, with pytest and the zhand plugin: each finger is closed on its
own at each velocity, its close time is measured against limits and its
speed recorded, one cycle per velocity. The run goes to the station's
results store beside the station's own runs (zhand-report, serve's board).

Against the simulated hand, in a folder of its own (real speed: a finger
at velocity 100 closes in about a second, so the test takes ten seconds):

    zhand-sim --port 1 &
    pytest /path/to/examples/test_finger_speeds.py --zhand-serial HND123 --zhand-operator AB

Against the hand, link its port as COM1 there (ln -s /dev/ttyUSB0 COM1)
or name it: --zhand-port /dev/serial/by-id/.... A close time outside its
limits fails the test when it ends, after every finger has been measured.
"""
import time

VELOCITIES = [100, 150, 200]  # MCV, the closing velocity
FINGERS = ["1", "2", "3"]
SECONDS_AT_100 = 1.0  # a finger closes in about a second at velocity 100
TOLERANCE = 0.2  # of the nominal close time, either way


def close_time(hand, finger):
    start = time.monotonic()
    hand.close(finger)
    return time.monotonic() - start


def test_finger_speeds(hand, record):
    try:
        for cycle, velocity in enumerate(VELOCITIES, start=1):
            record.cycle(cycle, of=len(VELOCITIES))
            hand.set_parameter("G", "MCV", velocity)
            hand.open("G")
            nominal = SECONDS_AT_100 * 100 / velocity
            for finger in FINGERS:
                opened = hand.get_parameters(finger, "P")[0]
                seconds = close_time(hand, finger)
                closed = hand.get_parameters(finger, "P")[0]
                record.measure(f"F{finger} Clse time MCV {velocity}", seconds, "s",
                               low=nominal * (1 - TOLERANCE), high=nominal * (1 + TOLERANCE))
                record.measure(f"F{finger} Clse speed MCV {velocity}",
                               (closed - opened) / seconds, "counts/s")
    finally:
        hand.load_parameters("G")  # the saved velocities back
        hand.open("G")
