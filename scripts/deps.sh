#!/usr/bin/env bash
# Installs the Debian packages that a part of the work needs, when missing:
#   scripts/deps.sh build   building the station, the simulator, zhand-report,
#                           the manual pages and the packages
#   scripts/deps.sh test    the build's and every test's (the default), and the
#                           benchmarks' (bench/year_bench.sh: curl, time)
#   scripts/deps.sh run     running the station and the simulator built here
# As root it runs apt-get; otherwise it prints the exact command and fails.
set -euo pipefail
build=(cmake g++ make pkg-config dpkg-dev file libsqlite3-dev nlohmann-json3-dev libpq-dev
       libjs-chart.js libcpp-httplib-dev libssl-dev libsodium-dev scdoc pybind11-dev
       python3-dev)
test=("${build[@]}" libgtest-dev libgmock-dev libbenchmark-dev sqlite3 postgresql tmux
      procps python3 python3-serial srecord clang libclang-rt-14-dev faketime chromium
      lintian man-db util-linux python3-pytest openssl curl prometheus time)
run=(libsqlite3-0 libpq5 libstdc++6)
case "${1:-test}" in
    build) packages=("${build[@]}") ;;
    test) packages=("${test[@]}") ;;
    run) packages=("${run[@]}") ;;
    *)
        echo "usage: scripts/deps.sh [build|test|run]" >&2
        exit 2
        ;;
esac
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -eq 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
    echo "Missing packages. Install them with:" >&2
    echo "  sudo apt-get install -y ${missing[*]}" >&2
    exit 1
fi
