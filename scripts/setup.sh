#!/usr/bin/env bash
# Installs the tool chains, Wine and the test tools the build and the tests need.
# Safe to run again: only what is missing is installed.
set -euo pipefail

have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  added_arch=1
fi

# The build and the wine64 tiers need these; a failure to install them fails set-up.
core=(cmake g++ ninja-build pkg-config
      g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
      libz-mingw-w64-dev zlib1g-dev libgtest-dev libssl-dev
      wine wine64 qemu-user-static
      xvfb xdotool x11-apps imagemagick
      clang libclang-rt-14-dev llvm
      python3-pytest openjdk-17-jdk-headless ecj file nlohmann-json3-dev osslsigncode)
# Only the i686 tier needs this one. Its i386 dependencies must match the amd64 versions, so it
# cannot be installed while an i386 index is missing; the tier then says so and is skipped.
optional=(wine32:i386)

missing() { local p; for p in "$@"; do have_pkg "$p" || echo "$p"; done; }
mapfile -t need < <(missing "${core[@]}")
mapfile -t need_optional < <(missing "${optional[@]}")

# apt-get update exits 100 when any index failed (a mirror mid-sync, say) but keeps the ones
# that loaded: retry a few times, then go on with what there is.
update_indexes() {
  local attempt
  for attempt in 1 2 3; do
    if $SUDO apt-get update -qq; then return 0; fi
    echo "setup: package index update failed (attempt $attempt of 3)" >&2
    sleep $((attempt * 5))
  done
  echo "setup: going on with the package indexes that did load" >&2
}

export DEBIAN_FRONTEND=noninteractive
if [ ${#need[@]} -gt 0 ] || [ ${#need_optional[@]} -gt 0 ] || [ -n "${added_arch:-}" ]; then
  update_indexes
fi
if [ ${#need[@]} -gt 0 ]; then
  if ! $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null; then
    echo "setup: could not install: ${need[*]}" >&2
    exit 1
  fi
fi
if [ ${#need_optional[@]} -gt 0 ]; then
  $SUDO apt-get install -y -qq --no-install-recommends "${need_optional[@]}" >/dev/null 2>&1 \
    || echo "setup: could not install ${need_optional[*]}; the i686 tier will be skipped" >&2
fi

# mingw-w64 ships the win32-thread compilers as the default alternative; std::thread needs posix.
for arch in i686 x86_64; do
  for tool in g++ gcc; do
    if [ -x "/usr/bin/$arch-w64-mingw32-$tool-posix" ]; then
      $SUDO update-alternatives --set "$arch-w64-mingw32-$tool" "/usr/bin/$arch-w64-mingw32-$tool-posix" >/dev/null 2>&1 || true
    fi
  done
done

# 32-bit Windows programs run through Wine's i386 loader, which this kernel can only start
# through qemu-user registered for 32-bit ELF with the F (fix binary) flag.
setup_binfmt() {
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    if ! $SUDO mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null; then
      echo "binfmt_misc could not be mounted"
      return 1
    fi
  fi
  if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    if ! printf ':qemu-i386:M::%s:%s:/usr/bin/qemu-i386-static:F\n' "$magic" "$mask" \
        | $SUDO tee /proc/sys/fs/binfmt_misc/register >/dev/null 2>&1; then
      echo "qemu-i386 could not be registered with binfmt_misc"
      return 1
    fi
  fi
}
if binfmt_problem=$(setup_binfmt); then
  echo "setup: qemu-i386 registered for 32-bit programs"
else
  echo "setup: $binfmt_problem; the i686 smoke tier will be skipped"
fi
echo "setup: done"
