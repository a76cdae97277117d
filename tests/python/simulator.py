"""zhand-sim for the Python tests: started in a folder of its own, linked as
COMn there, stopped at the end. Every test starts it through start_sim, so
the simulator's flags are chosen in one place."""
import os
import re
import signal
import subprocess
import time
from pathlib import Path

SIM = os.environ.get("ZHAND_SIM", "zhand-sim")


def sim_flags(paced):
    """The flags of an instant (unpaced) or a paced simulator (its default)."""
    return [] if paced else ["--instant"]


class Simulator:
    def __init__(self, directory, port=1, speed=100, paced=False, faults=()):
        self.dir = Path(directory)
        self.port = port
        self.out = self.dir / f"sim{port}.out"
        args = [SIM, "--dir", str(self.dir), "--port", str(port), "--speed", str(speed)]
        args += sim_flags(paced)
        for fault in faults:
            args += ["--fault", fault]
        with open(self.out, "w") as out:
            self.process = subprocess.Popen(args, stdout=out, stderr=subprocess.STDOUT)
        self.device = self._wait_ready()

    def _wait_ready(self):
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            text = self.out.read_text()
            if "ready" in text:
                return re.search(r"-> (\S+)", text).group(1)
            if self.process.poll() is not None:
                break
            time.sleep(0.02)
        self.stop()
        raise RuntimeError(f"zhand-sim did not start: {self.out.read_text()}")

    @property
    def link(self):
        return self.dir / f"COM{self.port}"

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def start_sim(directory, **options):
    return Simulator(directory, **options)
