#!/usr/bin/env bash
# The main job: sets up the machine, builds every deliverable, packages the sample installer in
# its two forms (carrying its Java runtime; relying on one installed where the shipped search
# list looks), runs each under wine64 with its progress dialog on a virtual X display against
# the Java runtime double, prints a report (stages with their times, what the VM was given, exit
# codes, logs, a screenshot of the progress dialog) and runs the Java half on the host JDK with
# the same argument array. Non-zero when any stage failed.
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

# A display of its own: Wine's desktop process keeps the display it saw when it started, so a
# server left from an earlier run is stopped first.
display_number=${PATHMERE_DISPLAY:-88}
while [ -e /tmp/.X11-unix/X$display_number ] || [ -e /tmp/.X$display_number-lock ]; do
  display_number=$((display_number + 1))
done
Xvfb :$display_number -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=:$display_number
for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$display_number ] && break; sleep 0.1; done

source scripts/wine-env.sh
trap 'wine_stop; kill $xvfb_pid 2>/dev/null' EXIT
wine_stop
wine_prefix_ready

echo
/usr/bin/python3 scripts/main_job.py
