#!/usr/bin/env bash
# Sets up the machine, builds all three presets and runs every test layer:
# host unit tests, Windows unit tests under wine64, the integration tests (wine64 + Xvfb)
# and the 32-bit smoke run. Ends with one line "N passed, N failed"; non-zero on any failure.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/setup.sh || { echo "0 passed, 1 failed"; exit 1; }
if ! scripts/build.sh >build.log 2>&1; then
  tail -n 60 build.log
  echo "0 passed, 1 failed"
  exit 1
fi
grep -E 'warning:' build.log && echo "test: the build printed warnings (see above)"

results=$root/build/test-results
rm -rf "$results"
mkdir -p "$results"

source scripts/wine-env.sh
# One X display for the whole run: Wine's desktop process keeps the display it saw first.
start_virtual_display 77
trap 'wine_stop; kill $xvfb_pid 2>/dev/null' EXIT
# A server left from an earlier run would keep a desktop without this run's display.
wine_stop
wine_prefix_ready

echo "== host unit tests"
ctest --test-dir build/host -j 2 --output-on-failure --output-junit "$results/host.xml" | tail -n 5
echo "== Windows unit tests (wine64)"
ctest --test-dir build/win64 -j 2 --output-on-failure --output-junit "$results/win64.xml" | tail -n 5
echo "== 32-bit build checks (export tables)"
ctest --test-dir build/win32 -j 2 --output-on-failure --output-junit "$results/win32.xml" | tail -n 3
if [ -x scripts/fuzz.sh ]; then
  echo "== fuzz targets (bounded)"
  scripts/fuzz.sh --junit "$results/fuzz.xml"
fi
echo "== integration and 32-bit smoke tests"
/usr/bin/python3 -m pytest -q -p no:cacheprovider tests/integration --junitxml="$results/integration.xml" \
  -o junit_family=xunit1 2>&1 | tail -n 30

/usr/bin/python3 scripts/summarize_results.py "$results"
