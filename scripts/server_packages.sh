#!/usr/bin/env bash
# Makes the licence server's packages in dist/ and prints their paths:
#   tavsn_<version>-1.dsc, tavsn_<version>.orig.tar.xz,
#   tavsn_<version>-1.debian.tar.xz    the Debian source package (debian/),
#       built here once with dpkg-buildpackage into the binary packages
#   libtavsn-server1, libtavsn-server-dev, tavsn-server, python3-tavsn-server
#       _<version>-1_<arch>.deb (or _all)
#   tavsn_server-<version>-py3-none-manylinux_<x>_<y>_<machine>.whl   the
#       Python module with the library inside it, tagged for the oldest
#       manylinux policy the library's symbol versions meet
#   tavsn_server-<version>.tar.gz      its sdist (builds the library with CMake)
# The wheel takes the library the Debian build made: the server side is
# built once. Everything comes from Debian's packages; nothing is downloaded.
# Files are dated to the last commit. With TAVSN_GPG_KEY set (a key id in the
# caller's keyring), the source package and its .changes are signed with it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"
epoch="${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)}"
export SOURCE_DATE_EPOCH="$epoch"
version="$(sed -n 's/^project(tavsn VERSION \([^ ]*\).*/\1/p' "$root/CMakeLists.txt")"
conf() { sed -n "s/^$1=//p" "$root/scripts/release.conf"; }
multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
work="$root/build/deb"
src="$work/tavsn-$version"
dist="$root/dist"
rm -rf "$work"
mkdir -p "$work" "$dist"

# The upstream tarball: the tracked files, debian/ aside, in name order.
orig="$work/tavsn_$version.orig.tar.xz"
if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
  git -C "$root" ls-files -z -- . ':!:debian' ':!:.ci'
else
  (cd "$root" && find . -path ./build -prune -o -path ./dist -prune -o -path ./debian -prune -o -type f -print0 |
     sed -z 's,^\./,,')
fi | tar -C "$root" --null -T - --sort=name --mtime="@$epoch" --owner=0 --group=0 --numeric-owner \
         --transform="s,^,tavsn-$version/," -cf - | xz -9 >"$orig"
tar -C "$work" -xf "$orig"
cp -r "$root/debian" "$src/"
# The Debian version follows the project's one version number.
printf 'tavsn (%s-1) unstable; urgency=medium\n\n  * New upstream release %s (its changes: changelog.gz beside this file).\n\n -- %s  %s\n' \
       "$version" "$version" "$(conf maintainer)" "$(date -u -R -d "@$epoch")" >"$src/debian/changelog"

sign=(-us -uc)
[ -n "${TAVSN_GPG_KEY:-}" ] && sign=(--sign-key="$TAVSN_GPG_KEY")
if ! (cd "$src" && DEB_BUILD_OPTIONS="parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}" \
        dpkg-buildpackage "${sign[@]}" >"$work/build.log" 2>&1); then
  tail -n 60 "$work/build.log" >&2
  exit 1
fi
for file in "$work"/*.deb "$work"/*.dsc "$work"/*.tar.xz "$work"/*.changes "$work"/*.buildinfo; do
  cp "$file" "$dist/"
done

# The wheel: the module as the package tavsn_server, with the library under
# the SONAME the module looks for beside itself, and the py.typed marker.
wheel="$work/wheel"
mkdir -p "$wheel/tavsn_server"
library="$src/debian/libtavsn-server1/usr/lib/$multiarch/libtavsn_server.so.$version"
cp "$src/debian/python3-tavsn-server/usr/lib/python3/dist-packages/tavsn_server.py" "$wheel/tavsn_server/__init__.py"
cp "$library" "$wheel/tavsn_server/libtavsn_server.so.${version%%.*}"
touch "$wheel/tavsn_server/py.typed"
cp "$root/LICENSE" "$root/README.md" "$wheel/"
platform="$(python3 "$root/scripts/manylinux.py" "$library")"
python3 "$root/scripts/pyproject.py" "$version" "$root/scripts/release.conf" wheel >"$wheel/pyproject.toml"
printf '[bdist_wheel]\npython_tag = py3\nplat_name = %s\n' "$platform" >"$wheel/setup.cfg"
find "$wheel" -exec touch -h -d "@$epoch" {} +
/usr/bin/python3 -m pip wheel --quiet --no-index --no-build-isolation --no-deps --wheel-dir "$dist" "$wheel" >/dev/null

# The sdist: the sources, and a build that makes the library with CMake.
sdist="$work/sdist"
mkdir -p "$sdist"
tar -C "$sdist" -xf "$orig"
mv "$sdist/tavsn-$version" "$sdist/tavsn_server-$version"
(cd "$sdist/tavsn_server-$version" && cp scripts/sdist_setup.py setup.py && cp scripts/sdist_MANIFEST.in MANIFEST.in &&
  python3 scripts/pyproject.py "$version" scripts/release.conf sdist >pyproject.toml)
/usr/bin/python3 -m build --sdist --no-isolation --outdir "$dist" "$sdist/tavsn_server-$version" >"$work/sdist.log" 2>&1 ||
  { tail -n 30 "$work/sdist.log" >&2; exit 1; }
bash "$root/scripts/checksums.sh" "$dist"

ls "$dist"/tavsn_"$version"-1.dsc
ls "$dist"/tavsn_server-"$version"-py3-none-"$platform".whl
ls "$dist"/tavsn_server-"$version".tar.gz
