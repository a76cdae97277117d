#!/usr/bin/env bash
# Builds and runs every test: the whole suite under AddressSanitizer +
# UndefinedBehaviorSanitizer, then the driver's concurrency tests under
# ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)

cmake -S . -B build/asan -DZHAND_SANITIZE=address -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/asan -j "$jobs"
ctest --test-dir build/asan --output-on-failure -j "$jobs" --timeout 300

cmake -S . -B build/tsan -DZHAND_SANITIZE=thread -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/tsan -j "$jobs" --target concurrency_tests
ctest --test-dir build/tsan --output-on-failure -L concurrency --timeout 300

# The fuzz targets (clang, build/fuzz), each run for 10 s from its seed corpus.
scripts/fuzz.sh 10
