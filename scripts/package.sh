#!/usr/bin/env bash
# Makes the release package dist/tavsn-<version>.zip: the 32-bit and the
# 64-bit DLL and tool, the header, the module-definition files, the MinGW and
# MSVC import libraries, the find_package(tavsn) configuration, the .NET and
# Python bindings, the README and the pages of docs/, the changes and the
# licence. Prints the zip's path, then dist/Tavsn.<version>.nupkg for .NET
# hosts (scripts/nupkg.py) and its path. The same sources give the same zip and nupkg, byte for byte.
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
  cmake --install "$root/build/$kind" --prefix "$staging/$name" >/dev/null
done
cp "$root/README.md" "$root/CHANGELOG.md" "$root/LICENSE" "$staging/$name/"
# Only the files under version control: stray build output stays out.
if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
  (cd "$root" && git ls-files -z bindings docs | xargs -0 cp --parents -t "$staging/$name")
else
  cp -r "$root/bindings" "$root/docs" "$staging/$name/"
fi

# Entries in name order, dated to the last commit, with fixed permissions.
epoch="${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)}"
mkdir -p "$root/dist"
python3 - "$staging" "$name" "$root/dist/$name.zip" "$epoch" <<'PYTHON'
import os, sys, time, zipfile
staging, name, zip_path, epoch = sys.argv[1:]
stamp = time.gmtime(int(epoch))[:6]
paths = sorted(os.path.join(folder, file)
               for folder, _, files in os.walk(os.path.join(staging, name)) for file in files)
with zipfile.ZipFile(zip_path, "w") as package:
    for path in paths:
        entry = zipfile.ZipInfo(os.path.relpath(path, staging), stamp)
        entry.external_attr = (0o755 if os.access(path, os.X_OK) else 0o644) << 16
        entry.compress_type = zipfile.ZIP_DEFLATED
        with open(path, "rb") as data:
            package.writestr(entry, data.read())
PYTHON
commit="$(git -C "$root" rev-parse HEAD 2>/dev/null || true)"
url="$(git -C "$root" remote get-url origin 2>/dev/null || true)"
python3 "$root/scripts/nupkg.py" "$staging/$name" "$version" "$root/dist/Tavsn.$version.nupkg" "$epoch" "$commit" "$url"
echo "$root/dist/$name.zip"
echo "$root/dist/Tavsn.$version.nupkg"
