#!/usr/bin/env bash
# Builds the committed tree twice, in two fresh folders a while apart, and compares every shipped
# file byte for byte: the stubs and JNI libraries of the given presets (win64 adds the Windows
# packing tool; default: win32, the shipped architecture, and release-tool, the packing tool). Prints one SHA-256 line per file and folder,
# then "reproducible: N files identical" (exit 0) or the files that differ (exit 1).
# Usage: scripts/check_reproducible.sh [win32] [win64] [release-tool]   (a few minutes per preset)
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(win32 release-tool)
work=$(mktemp -d /tmp/pathmere-repro.XXXXXX)
trap 'rm -rf "$work"' EXIT
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}

shipped() {
  case "$1" in
    win32) echo pathmere_setup.exe Nelvar.dll Pemtrel.dll tarvik1/Tarvik.dll tarvik2/Tarvik.dll ;;
    win64) echo pathmere_setup.exe Nelvar.dll Pemtrel.dll tarvik1/Tarvik.dll tarvik2/Tarvik.dll pathmere-pack.exe ;;
    release-tool) echo pathmere-pack ;;
  esac
}
targets() {
  case "$1" in
    win32) echo pathmere_setup nelvar pemtrel tarvik1 tarvik2 ;;
    win64) echo pathmere_setup nelvar pemtrel tarvik1 tarvik2 pathmere-pack ;;
    release-tool) echo pathmere-pack ;;
  esac
}

for side in first second-build-folder; do
  mkdir -p "$work/$side"
  git archive HEAD | tar -x -C "$work/$side"
  for preset in "${presets[@]}"; do
    (cd "$work/$side" && cmake --preset "$preset" >/dev/null &&
      cmake --build --preset "$preset" -j "$(nproc)" --target $(targets "$preset") >/dev/null)
  done
  sleep 2  # a different clock for the second build
done

differ=0 same=0
for preset in "${presets[@]}"; do
  for file in $(shipped "$preset"); do
    a=$(sha256sum <"$work/first/build/$preset/bin/$file" | cut -d' ' -f1)
    b=$(sha256sum <"$work/second-build-folder/build/$preset/bin/$file" | cut -d' ' -f1)
    echo "$a  $preset/$file (first)"
    echo "$b  $preset/$file (second-build-folder)"
    if [ "$a" = "$b" ]; then same=$((same + 1)); else differ=$((differ + 1)); echo "DIFFERS: $preset/$file"; fi
  done
done
if [ "$differ" -eq 0 ]; then
  echo "reproducible: $same files identical"
else
  echo "not reproducible: $differ of $((same + differ)) files differ"
  exit 1
fi
