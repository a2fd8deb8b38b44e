# Sourced by the scripts that run Windows programs: the test prefix, the Wine binaries and
# the persistent wineserver. One prefix per build tree, created once.
PATHMERE_ROOT=${PATHMERE_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export WINEPREFIX=${PATHMERE_WINEPREFIX:-$PATHMERE_ROOT/build/wine/prefix}
export WINEDEBUG=${WINEDEBUG:--all}
WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
WINESERVER=/usr/lib/wine/wineserver

# Where 32-bit Linux programs run through qemu-i386 (this kernel cannot start them itself),
# Wine's 32-bit loader stops at once ("failed to map the shared user data") unless qemu reserves
# the whole 32-bit address space up front. Lower values do not work.
if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
  export QEMU_RESERVED_VA=${QEMU_RESERVED_VA:-0xffff0000}
fi

# "64" or "64+32": whether Wine can run 32-bit programs here. A prefix made without its 32-bit
# side lacks the 32-bit system DLLs, so a prefix is made again when this changes.
wine_prefix_kind() {
  if [ -x "$WINE32" ]; then echo "64+32"; else echo "64"; fi
}

# Creates the prefix on first use (under a lock, so parallel tests wait for one creation)
# and makes sure a persistent wineserver serves it.
wine_prefix_ready() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    local kind
    kind=$(wine_prefix_kind)
    if [ ! -f "$WINEPREFIX/.pathmere-ready" ] || [ "$(cat "$WINEPREFIX/.pathmere-ready")" != "$kind" ] \
        || { [ "$kind" = "64+32" ] && [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; }; then
      "$WINESERVER" -k >/dev/null 2>&1 9>&- || true
      rm -rf "$WINEPREFIX"
      echo "wine: creating the test prefix $WINEPREFIX ($kind-bit, a few minutes, once)" >&2
      # Without a display, so that no desktop process outlives the boot and "-w" returns.
      env -u DISPLAY WINEDLLOVERRIDES="mscoree,mshtml=" "$WINE64" wineboot -i >/dev/null 2>&1 </dev/null 9>&-
      # Without a window manager every hide of a window otherwise stalls for 2 s.
      env -u DISPLAY "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null 9>&-
      "$WINESERVER" -w 9>&-
      echo "$kind" >"$WINEPREFIX/.pathmere-ready"
    fi
    # A fresh server starts services.exe and the device hosts with the first program, and
    # they inherit that program's standard handles: start them here, on /dev/null, so that no
    # caller's pipe (ctest's, pytest's) stays open behind a finished test.
    if "$WINESERVER" -p >/dev/null 2>&1 </dev/null 9>&-; then
      "$WINE64" cmd /c exit >/dev/null 2>&1 </dev/null 9>&- || true
    fi
  ) 9>"$WINEPREFIX.lock"
}

wine_stop() {
  [ -d "$WINEPREFIX" ] && "$WINESERVER" -k >/dev/null 2>&1 || true
}

# Starts a virtual X display (the first free number from $1 on), exports DISPLAY and sets
# xvfb_pid. Wine's desktop process keeps the display it saw when it started, so callers stop a
# server left from an earlier run (wine_stop) before their first program.
start_virtual_display() {
  local number=$1
  while [ -e /tmp/.X11-unix/X$number ] || [ -e /tmp/.X$number-lock ]; do
    number=$((number + 1))
  done
  Xvfb :$number -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=:$number
  for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$number ] && break; sleep 0.1; done
}
