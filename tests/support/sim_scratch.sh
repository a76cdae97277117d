# Sourced by the scripts that use an installed or unpacked copy of the
# programs: a scratch folder removed at exit, with the simulator started in
# it stopped first.
#   scratch_dir NAME     sets $work to a new folder under $TMPDIR
#   start_sim PROGRAM    starts PROGRAM --instant --port 1 --speed 100 in the current
#                        folder and waits for its COM1 link; fails without it
sim=
cleanup_scratch() {
    if [ -n "$sim" ]; then
        kill "$sim" 2>/dev/null || true
        wait "$sim" 2>/dev/null || true
    fi
    rm -rf "$work"
}
scratch_dir() {
    work=$(mktemp -d "${TMPDIR:-/tmp}/$1-XXXXXX")
    trap cleanup_scratch EXIT
}
start_sim() {
    "$1" --instant --port 1 --speed 100 >sim.out 2>&1 &
    sim=$!
    for _ in $(seq 200); do
        [ -L COM1 ] && return 0
        sleep 0.05
    done
    cat sim.out
    echo "zhand-sim did not link COM1" >&2
    exit 1
}
