#!/usr/bin/env bash
# Makes the release package dist/tavsn-<version>.zip: the 32-bit and the
# 64-bit DLL and tool, the header, the module-definition files, the MinGW and
# MSVC import libraries, the find_package(tavsn) configuration, the .NET and
# Python bindings, the README and the licence. Prints the zip's path.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"

for kind in win32 win64; do
  bash "$root/scripts/build.sh" "$kind" tavsn tavsn_main tavsn_msvc_lib >/dev/null
done

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$root/build/win64/CMakeCache.txt")"
name="tavsn-$version"
staging="$root/build/package"
rm -rf "$staging"
for kind in win32 win64; do
  cmake --install "$root/build/$kind" --prefix "$staging/$name" --strip >/dev/null
done
cp "$root/README.md" "$root/LICENSE" "$staging/$name/"
cp -r "$root/bindings" "$staging/$name/"
find "$staging/$name/bindings" -name __pycache__ -prune -exec rm -rf {} +

mkdir -p "$root/dist"
rm -f "$root/dist/$name.zip"
(cd "$staging" && cmake -E tar cf "$root/dist/$name.zip" --format=zip "$name")
echo "$root/dist/$name.zip"
