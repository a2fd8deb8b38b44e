#!/usr/bin/env bash
# Sets up the machine, builds every deliverable and runs the main job: package the sample
# installer and run it under Wine. Until the packaging tool exists it reports the deliverables.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
scripts/build.sh

echo
echo "Deliverables:"
for preset in win32 win64; do
  find "build/$preset/bin" -maxdepth 2 \( -name 'pathmere_setup.exe' -o -name 'Nelvar.dll' -o -name 'Pemtrel.dll' -o -name 'Tarvik.dll' \) \
    -not -path '*/phonebook/*' -exec file {} \; | sort
done
find build/host/bin -maxdepth 1 -name 'pathmere-pack' -exec file {} \;

if [ -x build/host/bin/pathmere-pack ] && [ -f samples/pathmere/config.json ]; then
  source scripts/wine-env.sh
  trap wine_stop EXIT
  wine_prefix_ready
  out=build/sample/pathmere_setup.exe
  mkdir -p build/sample
  build/host/bin/pathmere-pack build --stub build/win32/bin/pathmere_setup.exe \
    --config samples/pathmere/config.json --files samples/pathmere/files -o "$out"
  build/host/bin/pathmere-pack verify "$out"
  echo "run: starting the sample installer (64-bit twin, quiet mode) under Wine"
  twin=build/sample/pathmere_setup64.exe
  build/host/bin/pathmere-pack build --stub build/win64/bin/pathmere_setup.exe \
    --config samples/pathmere/config.json --files samples/pathmere/files -o "$twin"
  set +e
  NIMBO_LOG=yes "$WINE64" "$twin" -q
  echo "run: the installer ended with exit code $?"
fi
