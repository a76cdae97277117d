#!/usr/bin/env bash
# Measures every figure of bench/REPORT.md on this machine (Release build in
# build/bench) and prints them beside their goals:
#   - host time per text exchange and per real-time update against an
#     instant peer (bench/driver_bench);
#   - real-time updates per second with zhand-sim at real speed pacing the
#     wire at 9600 and 38400 baud, the station beside a bare host, as a share
#     of the wire limit (bench/wire_rate_bench);
#   - text exchanges per second of the driver against the unpaced simulator
#     beside a plain pySerial loop (bench/text_rate_bench; needs the Debian
#     package python3-serial);
#   - the station's CPU use, from /proc/<pid>/stat utime+stime, over ten
#     seconds idle at the form, ten seconds paused in a Multi-Axis run, and
#     the nine seconds of the countdown that ends a test (zhand-station in
#     tmux against zhand-sim);
#   - zhand-report html over 10 000 runs and 1 000 000 measurements, and
#     import of 5 000 text logs, as programs (bench/report_bench);
#   - what recording costs a Multi-Axis cycle against the instant simulator,
#     the store off and on (bench/recording_bench);
#   - shipping to a PostgreSQL server of its own beside twenty writing
#     stations (bench/shipping_bench; PostgreSQL's server binaries).
# The machine's load average is printed before and after: the rates depend
# on how soon threads wake up. Takes about ten minutes. The figures also go
# to build/bench/figures.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build/bench
cmake --preset bench >/dev/null
cmake --build --preset bench -j "$(nproc)" --target driver_bench wire_rate_bench text_rate_bench \
    zhand-station zhand-sim report_bench zhand-report recording_bench shipping_bench

exec > >(tee "$out/figures.txt")
echo "== Load average at the start: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"

echo "== Host time per exchange against an instant peer"
"$out/bin/driver_bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
    --benchmark_counters_tabular=true

echo
echo "== Real-time updates per second at real speed on the paced wire" \
    "(goal: of_wire_pct >= 97 at 9600, >= 92 at 38400)"
"$out/bin/wire_rate_bench" --benchmark_repetitions=3 --benchmark_counters_tabular=true

echo
echo "== Text exchanges per second, driver beside a pySerial loop (goal: driver_ratio >= 1.2)"
"$out/bin/text_rate_bench" --benchmark_counters_tabular=true
echo "== Load average after the rates: $(cut -d' ' -f1-3 /proc/loadavg)"

echo
echo "== zhand-report: html over 10 000 runs (goal: under 5 s), import of 5 000 logs (goal: under 10 s)"
"$out/bin/report_bench" --benchmark_counters_tabular=true

echo
echo "== What recording costs a Multi-Axis cycle (goal: the store on under 2 % above it off, paired)"
"$out/bin/recording_bench"
echo "-- where a commit's cost goes"
"$out/bin/recording_bench" --all --rounds 10

echo
echo "== Shipping beside twenty stations (goal: it keeps up with their demand)"
"$out/bin/shipping_bench" --seconds 10

echo
echo "== Station CPU while it waits (goal: below 0.5 % of one core in each state)"
work=$(mktemp -d /tmp/zhand-bench-XXXXXX)
socket=zhand-bench-$$
sim_pid=
cleanup() {
    tmux -L "$socket" kill-server 2>/dev/null || true
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

"$out/bin/zhand-sim" --instant --dir "$work" --speed 100 >"$work/sim.out" &
sim_pid=$!
for _ in $(seq 100); do grep -q ready "$work/sim.out" 2>/dev/null && break; sleep 0.1; done

tmux -L "$socket" -f /dev/null new-session -d -x 80 -y 25 -c "$work" "exec $out/bin/zhand-station"
screen() { tmux -L "$socket" capture-pane -p -t 0; }
keys() { tmux -L "$socket" send-keys -t 0 "$@"; }
wait_for() {  # wait_for TEXT SECONDS
    for _ in $(seq $(($2 * 10))); do screen | grep -qF -- "$1" && return 0; sleep 0.1; done
    echo "the station never showed: $1" >&2
    screen >&2
    exit 1
}
ticks() { awk '{ print $14 + $15 }' "/proc/$station/stat"; }
measure() {  # measure LABEL SECONDS
    local before after
    before=$(ticks)
    sleep "$2"
    after=$(ticks)
    awk -v l="$1" -v t=$((after - before)) -v s="$2" -v hz="$(getconf CLK_TCK)" \
        'BEGIN { p = 100 * t / hz / s; printf "%-34s %5.2f %% of one core over %2d s (%d ticks)  %s\n", l, p, s, t, (p < 0.5 ? "meets the goal" : "ABOVE THE GOAL") }'
}

wait_for "Please select a communications port" 10
station=$(tmux -L "$socket" display -p -t 0 '#{pane_pid}')
keys Enter
wait_for "ZorvathHand Test Application" 30
sleep 1
measure "idle at the form" 10

for _ in 1 2 3 4 5 6; do keys Tab; done
keys -l 1000
keys C-r
wait_for " of 1000, Errors" 60
keys -l p
wait_for "*** PAUSED ***" 30
sleep 1
measure "paused in a Multi-Axis run" 10

keys -l a
wait_for "Press any key to continue [10]" 30
measure "in the countdown" 9
wait_for "ZorvathHand Test Application" 15
keys C-q
