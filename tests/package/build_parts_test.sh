#!/usr/bin/env bash
# The builds by part, configured from this source tree as a user would:
# the driver alone (ZHAND_DRIVER_ONLY) finds nothing but the compiler and
# builds libzhand and nothing else; the station without the report
# (ZHAND_REPORT=OFF) looks up neither cpp-httplib nor Chart.js and has no
# zhand-report. Settings come from the environment: SOURCE_DIR CMAKE.
set -euo pipefail
# shellcheck source=../support/sim_scratch.sh
. "$(dirname "$0")/../support/sim_scratch.sh"
scratch_dir zhand-parts
fail() { echo "FAIL: $*" >&2; exit 1; }
targets() { "$CMAKE" --build "$1" --target help | sed -n 's/^\.\.\. \([^ ]*\).*/\1/p'; }

# Every outside package the other parts look up is made unfindable.
driver=$work/driver
"$CMAKE" -S "$SOURCE_DIR" -B "$driver" -DZHAND_DRIVER_ONLY=ON -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_DISABLE_FIND_PACKAGE_PkgConfig=ON -DCMAKE_DISABLE_FIND_PACKAGE_nlohmann_json=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON \
    -DZHAND_CHART_JS=/nonexistent >"$work/driver.log" 2>&1 || {
    cat "$work/driver.log"; fail "configuring the driver alone"; }
looked=$(grep -v '^CMAKE_DISABLE_FIND_PACKAGE' "$driver/CMakeCache.txt" |
    grep -E 'SQLITE3|LIBPQ|HTTPLIB|nlohmann|GTest|ZHAND_SCDOC' || true)
[ -z "$looked" ] || fail "the driver alone looked up: $looked"
targets "$driver" >"$work/driver.targets"
for target in zhand-station zhand-sim zhand-report results procedures; do
    ! grep -qx "$target" "$work/driver.targets" || fail "the driver alone has the target $target"
done
"$CMAKE" --build "$driver" --target zhand -j2 >"$work/driver-build.log" 2>&1 || {
    cat "$work/driver-build.log"; fail "building the driver alone"; }
ls "$driver"/lib/libzhand.so.* >/dev/null || fail "no libzhand.so"
echo "driver alone: libzhand built, nothing else looked up"

station=$work/station
"$CMAKE" -S "$SOURCE_DIR" -B "$station" -DZHAND_REPORT=OFF -DZHAND_TESTS=OFF \
    -DZHAND_CHART_JS=/nonexistent >"$work/station.log" 2>&1 || {
    cat "$work/station.log"; fail "configuring the station without the report"; }
! grep -q 'HTTPLIB' "$station/CMakeCache.txt" || fail "the station looked up cpp-httplib"
targets "$station" >"$work/station.targets"
for target in zhand-station zhand-sim; do
    grep -qx "$target" "$work/station.targets" || fail "the station build lacks $target"
done
! grep -qx zhand-report "$work/station.targets" || fail "ZHAND_REPORT=OFF still has zhand-report"
echo "station without the report: configured, no cpp-httplib, no Chart.js"
