#!/usr/bin/env bash
# Sets up the machine, builds all three presets and runs every test layer:
# host unit tests, Windows unit tests under wine64, the integration tests (wine64 + Xvfb)
# and, beside them, the 32-bit tier. Ends with one line "N passed, N failed"; non-zero on any failure.
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

# The 32-bit tier (qemu-user, about a minute per process) runs beside the other layers, in a copy
# of the prefix with its own wineserver and display: neither run sees the other's registry keys,
# temporary files or windows.
i686_prefix=$root/build/wine/prefix-i686
wine_stop
rm -rf "$i686_prefix" "$i686_prefix.lock"
cp -a "$WINEPREFIX" "$i686_prefix"
wine_prefix_ready
(
  export PATHMERE_WINEPREFIX=$i686_prefix WINEPREFIX=$i686_prefix PATHMERE_TIER=i686
  start_virtual_display 90
  trap 'wine_stop; kill $xvfb_pid 2>/dev/null' EXIT
  wine_prefix_ready
  /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/integration --basetemp="$root/build/pytest-i686" \
    --junitxml="$results/i686.xml" -o junit_family=xunit1 >"$results/i686.log" 2>&1
) </dev/null &
i686_job=$!
trap 'kill $i686_job 2>/dev/null; wine_stop; kill $xvfb_pid 2>/dev/null' EXIT

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
echo "== integration tests"
PATHMERE_TIER=64 /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/integration \
  --junitxml="$results/integration.xml" -o junit_family=xunit1 2>&1 | tail -n 30
echo "== 32-bit tier (ran beside the layers above)"
wait $i686_job
tail -n 30 "$results/i686.log"

/usr/bin/python3 scripts/summarize_results.py "$results"
