#!/usr/bin/env bash
# The main job: sets up the machine, builds every deliverable, packages the sample installer in
# its two forms (carrying its Java runtime; relying on one installed where the shipped search
# list looks), runs each under wine64 with its progress dialog on a virtual X display with a
# real Java VM inside the launcher, and prints a report (stages with their times, which VM ran,
# what it was given, what the Java program printed, exit codes, logs, a screenshot of the
# progress dialog). Non-zero when any stage failed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if [ "${PATHMERE_SKIP_SETUP:-}" != yes ]; then
  scripts/setup.sh
fi
scripts/build.sh

echo
echo "Deliverables:"
for preset in win32 win64; do
  find "build/$preset/bin" -maxdepth 2 \( -name 'pathmere_setup.exe' -o -name 'Nelvar.dll' -o -name 'Pemtrel.dll' -o -name 'Tarvik.dll' \) \
    -not -path '*/phonebook/*' -exec file {} \; | sort
done
find build/host/bin -maxdepth 1 -name 'pathmere-pack' -exec file {} \;

source scripts/wine-env.sh
start_virtual_display ${PATHMERE_DISPLAY:-88}
trap 'wine_stop; kill $xvfb_pid 2>/dev/null' EXIT
wine_stop
wine_prefix_ready

echo
/usr/bin/python3 scripts/main_job.py
