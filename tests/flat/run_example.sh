#!/usr/bin/env bash
# Installs this build into a temporary prefix, builds one example against the
# installed library the way a user would, runs it against zhand-sim, and checks
# that the fingers it reports closed further than they opened.
# Usage: run_example.sh c|cmake|python. Settings come from the environment:
# BUILD_DIR EXAMPLES LIBDIR CMAKE CC CXX SAN_FLAGS SAN_RUNTIME.
set -euo pipefail
mode=$1

# shellcheck source=../support/sim_scratch.sh
. "$(dirname "$0")/../support/sim_scratch.sh"
scratch_dir zhand-example

prefix=$work/prefix
if ! "$CMAKE" --install "$BUILD_DIR" --prefix "$prefix" >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    echo "install failed (is everything built?)"
    exit 1
fi
export PKG_CONFIG_PATH=$prefix/$LIBDIR/pkgconfig
export LD_LIBRARY_PATH=$prefix/$LIBDIR

mkdir "$work/run"
cd "$work/run"
start_sim "$prefix/bin/zhand-sim"

case $mode in
c)
    # shellcheck disable=SC2046,SC2086
    "$CC" $SAN_FLAGS -Wall -Wextra -Werror -o grasp "$EXAMPLES/grasp.c" \
        $(pkg-config --cflags --libs zhand)
    ./grasp >out.txt
    ;;
cmake)
    "$CMAKE" -S "$EXAMPLES/cmake" -B build -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_CXX_COMPILER="$CXX" -DCMAKE_CXX_FLAGS="$SAN_FLAGS" \
        -DCMAKE_EXE_LINKER_FLAGS="$SAN_FLAGS" >configure.log 2>&1 || {
        cat configure.log
        exit 1
    }
    "$CMAKE" --build build >build.log 2>&1 || {
        cat build.log
        exit 1
    }
    ./build/grasp >out.txt
    ;;
python)
    LD_PRELOAD=$SAN_RUNTIME ASAN_OPTIONS=detect_leaks=0 python3 "$EXAMPLES/grasp.py" >out.txt
    ;;
*)
    echo "unknown example $mode"
    exit 2
    ;;
esac
cat out.txt

# "closed: F1 a F2 b F3 c" and "opened: F1 d F2 e F3 f": every finger closed
# further than it is open afterwards.
awk '
    $1 == "closed:" { for (i = 1; i <= 3; i++) closed[i] = $(2 * i + 1); seen++ }
    $1 == "opened:" { for (i = 1; i <= 3; i++) opened[i] = $(2 * i + 1); seen++ }
    END {
        if (seen != 2) { print "missing closed/opened lines"; exit 1 }
        for (i = 1; i <= 3; i++)
            if (closed[i] + 0 <= opened[i] + 0) { print "F" i " did not close"; exit 1 }
    }' out.txt
