#!/usr/bin/env bash
# The demo at a real hand's speed: builds the station and the simulator
# (build/release), then runs the station in ./run against zhand-sim on COM1,
# which moves and talks as a real hand does. Press Enter at the port prompt;
# Ctrl-Q quits the station and stops the simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
scripts/deps.sh build
cmake --preset release >/dev/null
cmake --build --preset release --target zhand-station zhand-sim -j "$(nproc)"
bin=$top/build/release/bin

mkdir -p run
cd run
[ -f Defaults.dat ] || cp "$top/sim/Defaults.dat" .
"$bin/zhand-sim" --port 1 >sim.out 2>&1 &
sim=$!
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -L COM1 ] && break; sleep 0.05; done
status=0
"$bin/zhand-station" || status=$?
exit "$status"
