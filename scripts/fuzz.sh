#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build/fuzz and runs each one for
# a fixed time, starting from its seed corpus in fuzz/corpus/<target>.
#
#   scripts/fuzz.sh                     every target for 10 s (what CI runs)
#   scripts/fuzz.sh 3600                every target for an hour
#   scripts/fuzz.sh 600 framing prefs   the named targets for 10 minutes each
#
# Targets: framing get_parameters realtime prefs defaults srecord batch import.
# New inputs the fuzzer finds stay in build/fuzz/corpus/<target>; a failing
# input is written to build/fuzz/findings/ and the script exits 1. To keep a
# finding as a regression test, copy it into fuzz/corpus/<target>/: the
# regular test suite replays every file there (tests fuzz_corpus_<target>).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-10}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(framing get_parameters realtime prefs defaults srecord batch import)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

out=$PWD/build/fuzz
mkdir -p "$out/findings"
failed=()
for target in "${targets[@]}"; do
    work=$out/corpus/$target
    mkdir -p "$work"
    echo "== fuzz_$target for ${seconds}s"
    if ! "$out/bin/fuzz_$target" -max_total_time="$seconds" -max_len=16384 -timeout=60 \
            -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$out/findings/$target-" \
            "$work" "$PWD/fuzz/corpus/$target" 2>"$out/$target.log"; then
        tail -n 40 "$out/$target.log"
        failed+=("$target")
    else
        grep -E '^stat::number_of_executed_units' "$out/$target.log" || true
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "Fuzzing found failures in: ${failed[*]} (inputs in build/fuzz/findings/)" >&2
    exit 1
fi
echo "Fuzzing: no failures in ${targets[*]}"
