#!/usr/bin/env bash
# Makes build/release/pathmere-<version>-linux-x86_64.tar.gz: the packing tool for Linux, both
# stubs, the Java launcher classes, the JNI libraries of both architectures, the configuration
# reference, a README, the licences and SHA256SUMS. The same commit gives the same bytes: file
# times are the commit's (or SOURCE_DATE_EPOCH), owners are 0, entries sorted, gzip without a name
# or time.
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(head -n 1 VERSION)
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 0)}
jobs=$(nproc)

for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs" --target pathmere_setup nelvar pemtrel tarvik1 tarvik2
done
cmake --preset release-tool >/dev/null
cmake --build --preset release-tool -j "$jobs" --target pathmere-pack

name=pathmere-$version-linux-x86_64
stage=build/release/$name
rm -rf "$stage" "build/release/$name.tar.gz"
mkdir -p "$stage"/{bin,java,docs,LICENSES}
install -m 755 build/release-tool/bin/pathmere-pack "$stage/bin/pathmere-pack"
for arch in x86 x64; do
  tree=build/win32/bin
  [ "$arch" = x64 ] && tree=build/win64/bin
  install -D -m 755 "$tree/pathmere_setup.exe" "$stage/stubs/$arch/pathmere_setup.exe"
  for dll in Nelvar.dll Pemtrel.dll tarvik1/Tarvik.dll tarvik2/Tarvik.dll; do
    install -D -m 644 "$tree/$dll" "$stage/jni/$arch/$dll"
  done
done
if [ -f build/release-tool/java/pathmere_launcher.jar ]; then
  install -m 644 build/release-tool/java/pathmere_launcher.jar "$stage/java/tsrlauncher.jar"
else
  install -m 644 samples/pathmere/files/tsrlauncher.jar "$stage/java/tsrlauncher.jar"
fi
install -m 644 docs/configuration.md "$stage/docs/configuration.md"
sed "s/@VERSION@/$version/g" scripts/release/README.md >"$stage/README.md"
chmod 644 "$stage/README.md"
install -m 644 scripts/release/LICENSES.md "$stage/LICENSES/README.md"
for pkg in zlib1g nlohmann-json3-dev mingw-w64-common gcc-mingw-w64-base libssl3; do
  install -m 644 "/usr/share/doc/$pkg/copyright" "$stage/LICENSES/$pkg.txt"
done
(cd "$stage" && find . -type f ! -name SHA256SUMS -printf '%P\n' | LC_ALL=C sort | xargs sha256sum >SHA256SUMS)
chmod 644 "$stage/SHA256SUMS"
find "$stage" -type d -exec chmod 755 {} +

tar --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner --format=gnu \
  -C build/release -cf - "$name" | gzip -n -9 >"build/release/$name.tar.gz"
echo "build/release/$name.tar.gz: $(stat -c %s "build/release/$name.tar.gz") bytes"
