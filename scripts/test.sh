#!/usr/bin/env bash
# Builds and runs every test: the whole suite under AddressSanitizer +
# UndefinedBehaviorSanitizer (the Python module's among them, with Debian's
# /usr/bin/python3 -m pytest: ctest -L python), then the driver's
# concurrency tests under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)

cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
ctest --preset tsan

# The fuzz targets (clang, build/fuzz), each run for 10 s from its seed corpus.
scripts/fuzz.sh 10
