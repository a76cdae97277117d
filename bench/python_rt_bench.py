#!/usr/bin/env python3
"""Real-time updates per second of a loop in Python (zhand.Hand) beside the
same loop in C++ (bench/python_rt_loop.cpp, compiled here against the
build's libzhand), each against a zhand-sim of its own at real speed pacing
every byte at the line rate (its default). The Fingerprint configuration of
bench/wire_rate_bench.cpp (motors "123": "C" and three velocities out, "*"
and twelve feedback bytes back); each update sets three velocities, makes
the update and reads a position. Rounds alternate the two loops.

    bench/python_rt_bench.py [--build build/bench] [--seconds 2] [--rounds 15] [--instant-too]

Goal: the Python loop at least 95 % of the C++ driver's rate on the paced
wire (the median of the rounds' ratios; the order of the two loops
alternates from round to round). The same pair against the simulator
without pacing (--instant-too) shows what the Python loop costs the host
per update, which the paced wire hides. Needs the bench build's libzhand,
zhand-sim and Python module
(cmake --build build/bench --target zhand zhand-sim zhand_python).
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


def cpp_loop(program):
    def loop(device, baud, seconds):
        out = subprocess.run([str(program), device, str(baud), str(seconds)],
                             check=True, capture_output=True, text=True).stdout
        rate, cpu = out.split()
        return float(rate), float(cpu)
    return loop


def python_loop(zhand):
    def loop(device, baud, seconds):
        with zhand.Hand(device) as hand:
            hand.command(FINGERPRINT_FLAGS)
            if baud != 9600:
                hand.set_hand_baud(baud)
            hand.rt_start("123")
            velocity = 0
            updates = 0
            cpu_start = time.thread_time()
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
            cpu = 1e6 * (time.thread_time() - cpu_start) / updates
            hand.rt_abort()
            return rate, cpu
    return loop


def rate(simulator, loop, paced, baud, seconds):
    """Updates per second of `loop` against a simulator of its own, and the
    calling thread's CPU time per update in microseconds."""
    with tempfile.TemporaryDirectory(prefix="zhand-pybench-") as folder:
        sim = simulator.start_sim(folder, speed=1, paced=paced)
        try:
            return loop(sim.device, baud, seconds)
        finally:
            sim.stop()


def measure(simulator, loops, paced, baud, args):
    wire = baud / (10 * UPDATE_BYTES)
    label = f"{'paced' if paced else 'instant'} {baud}"
    ratios = []
    rates = {"C++": [], "Python": []}
    cpus = {"C++": [], "Python": []}
    for round_ in range(1, args.rounds + 1):
        order = ["C++", "Python"] if round_ % 2 else ["Python", "C++"]
        got = {name: rate(simulator, loops[name], paced, baud, args.seconds) for name in order}
        for name, (value, cpu) in got.items():
            rates[name].append(value)
            cpus[name].append(cpu)
        ratios.append(got["Python"][0] / got["C++"][0])
        print(f"{label:<14} {round_:>5}  {got['C++'][0]:9.1f}  {got['Python'][0]:9.1f}"
              f"  {100 * ratios[-1]:7.1f} %  {got['C++'][1]:8.1f}  {got['Python'][1]:8.1f}")
    cpp, py = (statistics.median(rates[n]) for n in ("C++", "Python"))
    cpp_cpu, py_cpu = (statistics.median(cpus[n]) for n in ("C++", "Python"))
    median = statistics.median(ratios)
    print(f"{label}: medians C++ {cpp:.1f}/s, Python {py:.1f}/s"
          f" ({100 * py / wire:.1f} % of the wire limit {wire:.1f}/s);"
          f" caller CPU per update C++ {cpp_cpu:.1f} us, Python {py_cpu:.1f} us")
    if paced:
        verdict = "meets the goal" if median >= 0.95 else "BELOW THE GOAL"
        print(f"{label}: Python/C++ {100 * median:.1f} % (median of the rounds;"
              f" goal >= 95 %): {verdict}")
    else:
        print(f"{label}: Python/C++ {100 * median:.1f} % (median of the rounds)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", type=Path, default=ROOT / "build" / "bench")
    parser.add_argument("--seconds", type=float, default=2.0)
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--baud", type=int, nargs="*", default=[9600, 38400])
    parser.add_argument("--instant-too", action="store_true",
                        help="also against the simulator without pacing, at 9600 baud")
    args = parser.parse_args()
    sys.path[:0] = [str(args.build / "python"), str(ROOT / "tests" / "python")]
    os.environ.setdefault("ZHAND_SIM", str(args.build / "bin" / "zhand-sim"))
    import simulator
    import zhand

    with tempfile.TemporaryDirectory(prefix="zhand-pybench-") as scratch:
        loops = {"C++": cpp_loop(compile_loop(args.build, scratch)), "Python": python_loop(zhand)}
        print(f"load average at the start: {os.getloadavg()[0]:.1f} on {os.cpu_count()} cores")
        print("simulator      round      C++ /s  Python /s  Python/C++  C++ us  Python us")
        for baud in args.baud:
            measure(simulator, loops, True, baud, args)
        if args.instant_too:
            measure(simulator, loops, False, 9600, args)
        print(f"load average at the end: {os.getloadavg()[0]:.1f}")


if __name__ == "__main__":
    main()
