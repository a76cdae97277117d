#!/usr/bin/env python3
"""Real-time updates per second of a loop in Python (zhand.Hand) beside the
same loop in C++ (bench/python_rt_loop.cpp, compiled here against the
build's libzhand), each against a zhand-sim of its own at real speed pacing
every byte at the line rate (--pace). The Fingerprint configuration of
bench/wire_rate_bench.cpp (motors "123": "C" and three velocities out, "*"
and twelve feedback bytes back); each update sets three velocities, makes
the update and reads a position. Rounds alternate the two loops.

    bench/python_rt_bench.py [--build build/bench] [--seconds 5] [--rounds 5]

Goal: the Python loop at least 95 % of the C++ driver's rate (the median of
the rounds' ratios). Needs the bench build's libzhand, zhand-sim and Python
module (cmake --build build/bench --target zhand zhand-sim zhand_python).
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
FINGERPRINT_FLAGS = "123FSET LCV 1 LCVC 1 LCPG 0 LFV 1 LFVC 1 LFS 0 LFAP 1 LFDP 1 LFDPC 1"
UPDATE_BYTES = 4 + 13

def compile_loop(build, folder):
    program = Path(folder) / "python_rt_loop"
    subprocess.run([os.environ.get("CXX", "c++"), "-O2", "-std=c++20", f"-I{ROOT / 'driver'}",
                    str(ROOT / "bench" / "python_rt_loop.cpp"), "-o", str(program),
                    f"-L{build / 'lib'}", "-lzhand", f"-Wl,-rpath,{build / 'lib'}", "-pthread"],
                   check=True)
    return program

def cpp_rate(simulator, program, baud, seconds):
    with tempfile.TemporaryDirectory(prefix="zhand-pybench-") as folder:
        sim = simulator.start_sim(folder, speed=1, paced=True)
        try:
            out = subprocess.run([str(program), sim.device, str(baud), str(seconds)],
                                 check=True, capture_output=True, text=True).stdout
            return float(out)
        finally:
            sim.stop()

def python_rate(zhand, simulator, baud, seconds):
    with tempfile.TemporaryDirectory(prefix="zhand-pybench-") as folder:
        sim = simulator.start_sim(folder, speed=1, paced=True)
        try:
            with zhand.Hand(sim.device) as hand:
                hand.command(FINGERPRINT_FLAGS)
                if baud != 9600:
                    hand.set_hand_baud(baud)
                hand.rt_start("123")
                velocity = 0
                updates = 0
                start = time.monotonic()
                end = start + seconds
                while time.monotonic() < end:
                    for motor in "123":
                        hand.rt_set_velocity(motor, velocity)
                    velocity = (velocity + 1) % 50
                    hand.rt_update()
                    hand.rt_get_position("1")
                    updates += 1
                rate = updates / (time.monotonic() - start)
                hand.rt_abort()
                return rate
        finally:
            sim.stop()

def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", type=Path, default=ROOT / "build" / "bench")
    parser.add_argument("--seconds", type=float, default=5.0)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--baud", type=int, nargs="+", default=[9600, 38400])
    args = parser.parse_args()
    sys.path[:0] = [str(args.build / "python"), str(ROOT / "tests" / "python")]
    os.environ.setdefault("ZHAND_SIM", str(args.build / "bin" / "zhand-sim"))
    import simulator
    import zhand

    scratch = tempfile.TemporaryDirectory(prefix="zhand-pybench-")
    program = compile_loop(args.build, scratch.name)
    print(f"load average at the start: {os.getloadavg()[0]:.1f} on {os.cpu_count()} cores")
    print("baud   round  C++ /s   Python /s  Python/C++  Python of wire")
    for baud in args.baud:
        limit = baud / (10 * UPDATE_BYTES)
        ratios = []
        for round_ in range(1, args.rounds + 1):
            cpp = cpp_rate(simulator, program, baud, args.seconds)
            py = python_rate(zhand, simulator, baud, args.seconds)
            ratios.append(py / cpp)
            print(f"{baud:<6} {round_:<6} {cpp:7.1f}  {py:9.1f}  {100 * py / cpp:9.1f} %"
                  f"  {100 * py / limit:9.1f} %")
        median = statistics.median(ratios)
        verdict = "meets the goal" if median >= 0.95 else "BELOW THE GOAL"
        print(f"{baud:<6} median Python/C++ {100 * median:.1f} % (goal >= 95 %): {verdict}")
    print(f"load average at the end: {os.getloadavg()[0]:.1f}")

if __name__ == "__main__":
    main()
