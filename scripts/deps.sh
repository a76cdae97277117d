#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# As root it runs apt-get; otherwise it prints the exact command and fails.
set -euo pipefail
packages=(cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          libsqlite3-dev sqlite3 nlohmann-json3-dev libpq-dev postgresql
          tmux python3 python3-serial srecord clang libclang-rt-14-dev faketime
          chromium libjs-chart.js libcpp-httplib-dev help2man
          pybind11-dev python3-dev python3-pytest)
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
