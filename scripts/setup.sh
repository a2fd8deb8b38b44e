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
      libz-mingw-w64-dev zlib1g-dev libgtest-dev
      wine wine64 qemu-user-static
      xvfb xdotool x11-apps imagemagick
      clang libclang-rt-14-dev llvm
      python3-pytest openjdk-17-jdk-headless ecj file nlohmann-json3-dev osslsigncode)
# Only the i686 tier needs this one (see install_wine32 below).
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
# wine32:i386 pulls in i386 libraries that are Multi-Arch "same": each must have exactly the
# version of its installed amd64 twin. While the security suite's i386 index is missing (a mirror
# out of step, for days at a time), the i386 candidates come from the main suite only, and amd64
# libraries installed from the security suite are then newer than any i386 candidate. So: prefer
# the main suite (-t bookworm), and for each library the simulated install names as blocking,
# pin both architectures to the main suite's version (a downgrade where needed); repeat until the
# simulation passes. Prints one line saying what it did.
install_wine32() {
  local pins=() round out blocked p version installed added
  for round in 1 2 3 4 5 6 7 8; do
    if out=$($SUDO apt-get install -s -y --no-install-recommends -t bookworm --allow-downgrades \
          wine32:i386 "${pins[@]}" 2>&1) && ! grep -q '^E:' <<<"$out"; then
      if $SUDO apt-get install -y -qq --no-install-recommends -t bookworm --allow-downgrades \
          wine32:i386 "${pins[@]}" >/dev/null 2>&1; then
        if [ ${#pins[@]} -eq 0 ]; then
          echo "setup: installed wine32:i386"
        else
          echo "setup: installed wine32:i386 with the main suite's versions of: ${pins[*]}"
        fi
        return 0
      fi
      break
    fi
    mapfile -t blocked < <(grep -oE 'Depends: [^ ]+:i386' <<<"$out" | awk '{print $2}' | sed 's/:i386$//' | sort -u)
    added=0
    for p in "${blocked[@]}"; do
      version=$(apt-cache -t bookworm policy "$p:i386" 2>/dev/null | awk '/Candidate:/{print $2}')
      installed=$(dpkg-query -W -f='${Version}' "$p:amd64" 2>/dev/null || true)
      if [ -z "$version" ] || [ "$version" = "(none)" ] || [ -z "$installed" ] || [ "$installed" = "$version" ]; then
        continue
      fi
      case " ${pins[*]} " in *" $p:amd64=$version "*) continue ;; esac
      pins+=("$p:amd64=$version" "$p:i386=$version")
      added=1
    done
    [ $added = 1 ] || break
  done
  echo "setup: could not install wine32:i386 (i386 dependencies do not match the installed amd64 versions); the i686 tier will be skipped" >&2
  return 1
}
if [ ${#need_optional[@]} -gt 0 ]; then
  install_wine32 || true
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
