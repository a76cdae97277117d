#!/usr/bin/env bash
# The soak test: 100000 text exchanges and 100000 real-time updates against
# the simulator, built with AddressSanitizer and UndefinedBehaviorSanitizer
# in build/soak. Fails on any failed exchange, on memory that keeps growing
# (live heap or resident set, measured after the first tenth of each phase)
# and on any leak or memory error AddressSanitizer reports. Takes a few
# minutes; not part of scripts/test.sh.
#
#   scripts/soak.sh                 100000 of each
#   scripts/soak.sh 20000 20000     a shorter run
set -euo pipefail
cd "$(dirname "$0")/.."
exchanges=${1:-100000}
updates=${2:-100000}

cmake --preset soak >/dev/null
cmake --build --preset soak -j "$(nproc)"
# A small quarantine: freed memory held back for use-after-free checks would
# otherwise swell the resident set for the first 256 MiB of frees.
ASAN_OPTIONS=detect_leaks=1:quarantine_size_mb=4:halt_on_error=1 \
    build/soak/bin/survival_soak "$exchanges" "$updates"
