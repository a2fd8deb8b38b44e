#!/usr/bin/env bash
# Makes, in build/release/, pathmere-<version>-linux-x86_64.tar.gz and pathmere-<version>-windows.zip:
# each the packing tool for its system, both stubs, the Java launcher classes, the JNI libraries
# of both architectures, the configuration reference, a README, the licences and SHA256SUMS. The
# same commit gives the same bytes: file times are the commit's (or SOURCE_DATE_EPOCH), owners
# are 0, entries sorted, gzip without a name or time, zip entries without extra fields.
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(head -n 1 VERSION)
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 0)}
jobs=$(nproc)

for preset in win32 win64; do
  tool=
  [ "$preset" = win64 ] && tool=pathmere-pack
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs" --target pathmere_setup nelvar pemtrel tarvik1 tarvik2 $tool
done
cmake --preset release-tool >/dev/null
cmake --build --preset release-tool -j "$jobs" --target pathmere-pack

# stage <folder> <tool file> <tool name in bin/> <what the tool runs on>
stage() {
  local dir=$1
  rm -rf "$dir"
  mkdir -p "$dir"/{bin,java,docs,LICENSES}
  install -m 755 "$2" "$dir/bin/$3"
  for arch in x86 x64; do
    tree=build/win32/bin
    [ "$arch" = x64 ] && tree=build/win64/bin
    install -D -m 755 "$tree/pathmere_setup.exe" "$dir/stubs/$arch/pathmere_setup.exe"
    for dll in Nelvar.dll Pemtrel.dll tarvik1/Tarvik.dll tarvik2/Tarvik.dll; do
      install -D -m 644 "$tree/$dll" "$dir/jni/$arch/$dll"
    done
  done
  if [ -f build/release-tool/java/pathmere_launcher.jar ]; then
    install -m 644 build/release-tool/java/pathmere_launcher.jar "$dir/java/tsrlauncher.jar"
  else
    install -m 644 samples/pathmere/files/tsrlauncher.jar "$dir/java/tsrlauncher.jar"
  fi
  install -m 644 docs/configuration.md "$dir/docs/configuration.md"
  sed -e "s/@VERSION@/$version/g" -e "s|@TOOL@|bin/$3|g" -e "s|@RUNS_ON@|$4|g" scripts/release/README.md >"$dir/README.md"
  chmod 644 "$dir/README.md"
  install -m 644 scripts/release/LICENSES.md "$dir/LICENSES/README.md"
  for pkg in zlib1g libz-mingw-w64-dev nlohmann-json3-dev mingw-w64-common gcc-mingw-w64-base; do
    install -m 644 "/usr/share/doc/$pkg/copyright" "$dir/LICENSES/$pkg.txt"
  done
  (cd "$dir" && find . -type f ! -name SHA256SUMS -printf '%P\n' | LC_ALL=C sort | xargs sha256sum >SHA256SUMS)
  chmod 644 "$dir/SHA256SUMS"
  find "$dir" -type d -exec chmod 755 {} +
}

name=pathmere-$version-linux-x86_64
stage "build/release/$name" build/release-tool/bin/pathmere-pack pathmere-pack "Linux x86-64; needs zlib"
rm -f "build/release/$name.tar.gz"
tar --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner --format=gnu \
  -C build/release -cf - "$name" | gzip -n -9 >"build/release/$name.tar.gz"
echo "build/release/$name.tar.gz: $(stat -c %s "build/release/$name.tar.gz") bytes"

name=pathmere-$version-windows
stage "build/release/$name" build/win64/bin/pathmere-pack.exe pathmere-pack.exe "64-bit Windows; needs nothing else"
rm -f "build/release/$name.zip"
python3 scripts/release/make_zip.py "build/release/$name" "build/release/$name.zip"
echo "build/release/$name.zip: $(stat -c %s "build/release/$name.zip") bytes"
