#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer and runs each for a bounded time, starting from
# the seed corpus in tests/fuzz/corpus/<target>/ (read only) plus what earlier runs in this
# build directory found.
#   scripts/fuzz.sh [--junit FILE] [--seconds N] [--target NAME]... [--update-corpus]
# --update-corpus minimises the seeds together with what runs in this build directory found
# (libFuzzer -merge=1) and replaces the seeds with the result: run it by hand after a long run
# and commit the corpus. pack_resources's named seeds (tests/fuzz/pack_resources_seeds.py writes
# them: the launcher's resources, version shapes, hostile layouts) are worth keeping by name: add
# a long run's finds to them with `build/fuzz/pack_resources_fuzz -merge=1 -use_counters=0
# tests/fuzz/corpus/pack_resources build/fuzz/corpus-pack_resources` instead.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: scripts/fuzz.sh [--junit FILE] [--seconds N] [--target NAME]... [--update-corpus]"
all_targets=(config_record command_line vmoptions tar_archive pack_inspect pack_resources version_rules search_rules download_transfer)
junit="" seconds=10 update=0
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --junit) junit=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --target) targets+=("$2"); shift 2 ;;
    --update-corpus) update=1; shift ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")
for target in "${targets[@]}"; do
  [ -f "$root/tests/fuzz/${target}_fuzz.cpp" ] || { echo "fuzz: no target $target" >&2; exit 2; }
done
out=$root/build/fuzz
mkdir -p "$out/obj"
: >"$out/library.build.log"
pure=(launcher/command_line.cpp launcher/media/media_format.cpp launcher/config/config_record.cpp launcher/config/launcher_config.cpp
      launcher/base/path_text.cpp launcher/vm/variable_expansion.cpp launcher/vm/vm_options.cpp
      tests/host/vm/host_platform.cpp launcher/runtime/tar_archive.cpp launcher/runtime/version_rules.cpp
      launcher/runtime/search_rules.cpp launcher/runtime/download_transfer.cpp launcher/runtime/sha256.cpp
      tools/pack/pack_media.cpp tools/pack/pack_config.cpp tools/pack/pack_entries.cpp tools/pack/pack_resources.cpp)
jdk_include=$(dirname "$(readlink -f "$(command -v javac)")")/../include
compiler=(clang++)
command -v ccache >/dev/null && compiler=(ccache clang++)
flags=(-std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -I"$root/launcher" -I"$root/tools" -I"$root/tests/host/vm"
       -I"$jdk_include" -I"$jdk_include/linux")

# The product sources are compiled once into an archive; each target links what it uses.
library=$out/libfuzz_pure.a
objects=()
for source in "${pure[@]}"; do objects+=("$out/obj/$(echo "${source%.cpp}" | tr / _).o"); done
# A source that fails to compile leaves its object missing, and with it the archive.
rm -f "$library" "${objects[@]}"
for i in "${!pure[@]}"; do
  [ "$i" -ge "$(nproc)" ] && wait -n
  "${compiler[@]}" "${flags[@]}" -c "$root/${pure[$i]}" -o "${objects[$i]}" 2>>"$out/library.build.log" &
done
wait
ar rcs "$library" "${objects[@]}" 2>>"$out/library.build.log"

cases=""
failed=0
for target in "${targets[@]}"; do
  binary=$out/${target}_fuzz
  seeds=$root/tests/fuzz/corpus/$target
  status=passed
  message=""
  if [ ! -f "$library" ] ||
     ! "${compiler[@]}" "${flags[@]}" "$root/tests/fuzz/${target}_fuzz.cpp" "$library" -lz -o "$binary" \
       >"$out/$target.build.log" 2>&1; then
    status=failed message="build failed: see $out/library.build.log and $out/$target.build.log"
  else
    # The packing tool's readers must stay fast on any input: a crawling one fails the run.
    timeout=10
    case "$target" in pack_*) timeout=2 ;; esac
    options=(-max_total_time="$seconds" -max_len=4096 -rss_limit_mb=1024 -timeout="$timeout" -print_final_stats=1
             -artifact_prefix="$out/$target-")
    [ -f "$root/tests/fuzz/$target.dict" ] && options+=(-dict="$root/tests/fuzz/$target.dict")
    corpora=("$out/corpus-$target")
    [ -d "$seeds" ] && corpora+=("$seeds")
    mkdir -p "$out/corpus-$target"
    if ! "$binary" "${options[@]}" "${corpora[@]}" >"$out/$target.log" 2>&1; then
      status=failed message="crash or hang: see $out/$target.log"
    elif [ "$update" -eq 1 ]; then
      merged=$out/merged-$target
      rm -rf "$merged" && mkdir -p "$merged"
      # Edges only, without hit counts: a few dozen files that reach all a run reached.
      if "$binary" -merge=1 -use_counters=0 -max_len=4096 -rss_limit_mb=1024 -timeout="$timeout" "$merged" "${corpora[@]}" \
          >"$out/$target.merge.log" 2>&1; then
        rm -rf "$seeds" && mkdir -p "$seeds" && cp "$merged"/* "$seeds"/ 2>/dev/null
        echo "fuzz: $target corpus now $(ls "$seeds" | wc -l) files"
      else
        status=failed message="merge failed: see $out/$target.merge.log"
      fi
    fi
  fi
  echo "fuzz: $target $status ${message}"
  # The last status line: executions, coverage (edges and features) and corpus size.
  grep -E '^#[0-9]+.* cov: ' "$out/$target.log" 2>/dev/null | tail -n 1 |
    sed -E 's/^#([0-9]+)[[:space:]]+[A-Z]+[[:space:]]+(cov: [0-9]+ ft: [0-9]+ corp: [^ ]+).*/  \1 runs, \2/'
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
