#!/usr/bin/env bash
# Remakes docs/report.png, the picture of the HTML report in the README: a
# week of a small line's text logs imported by zhand-report, the page it
# writes opened in headless Chromium (Debian's chromium), the overview and
# one unit shown.
#
#     scripts/screenshot.sh [OUTPUT.png] [FOLDER]
#
# OUTPUT.png defaults to docs/report.png; FOLDER, when given, keeps the
# logs, results.db and report.html.
set -euo pipefail
out=$(realpath -m "${1:-$(dirname "$0")/../docs/report.png}")
keep=()
[ $# -ge 2 ] && keep=("$(realpath -m "$2")")
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$(nproc)" --target report_screenshot
build/asan/bin/report_screenshot "$out" "${keep[@]}"
