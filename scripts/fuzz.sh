#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer and runs each for a bounded time.
#   scripts/fuzz.sh [--junit FILE] [--seconds N]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
junit="" seconds=20
while [ $# -gt 0 ]; do
  case "$1" in
    --junit) junit=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    *) echo "usage: scripts/fuzz.sh [--junit FILE] [--seconds N]" >&2; exit 2 ;;
  esac
done
out=$root/build/fuzz
mkdir -p "$out"
pure=(launcher/command_line.cpp launcher/media/media_format.cpp launcher/media/launcher_config.cpp
      launcher/media/path_text.cpp launcher/vm/variable_expansion.cpp launcher/vm/vm_options.cpp
      tests/host/vm/host_platform.cpp launcher/runtime/tar_archive.cpp)
jdk_include=$(dirname "$(readlink -f "$(command -v javac)")")/../include
cases=""
failed=0
targets=(config_record command_line vmoptions tar_archive)
for target in "${targets[@]}"; do
  binary=$out/${target}_fuzz
  status=passed
  message=""
  if ! clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -I"$root/launcher" -I"$root/tests/host/vm" \
      -I"$jdk_include" -I"$jdk_include/linux" \
      "$root/tests/fuzz/${target}_fuzz.cpp" "${pure[@]/#/$root/}" -o "$binary" 2>"$out/$target.build.log"; then
    status=failed message="build failed"
  else
    mkdir -p "$out/corpus-$target"
    if ! "$binary" -max_total_time="$seconds" -max_len=4096 -rss_limit_mb=1024 -timeout=10 \
        "$out/corpus-$target" >"$out/$target.log" 2>&1; then
      status=failed message="crash or hang: see $out/$target.log"
    fi
  fi
  echo "fuzz: $target $status ${message}"
  tail -n 2 "$out/$target.log" 2>/dev/null | sed 's/^/  /'
  if [ "$status" = failed ]; then
    failed=$((failed + 1))
    cases+="<testcase classname=\"fuzz\" name=\"$target\"><failure message=\"$message\"/></testcase>"
  else
    cases+="<testcase classname=\"fuzz\" name=\"$target\"/>"
  fi
done
if [ -n "$junit" ]; then
  printf '<?xml version="1.0"?>\n<testsuite name="fuzz" tests="%d" failures="%d">%s</testsuite>\n' "${#targets[@]}" "$failed" "$cases" >"$junit"
fi
[ "$failed" -eq 0 ]
