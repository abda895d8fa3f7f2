#!/usr/bin/env bash
# Makes the licence server's packages from one Release build for /usr with
# Debian's build flags (build/server), and prints their paths:
#   dist/tavsn-server_<version>_<arch>.deb   the tool, the library, the
#       header, the pkg-config file and the Python module, for dpkg or apt
#   dist/tavsn_server-<version>-py3-none-linux_<machine>.whl   the Python
#       module with the library inside it, for pip
# Everything comes from Debian's packages (dpkg-dev, help2man, the Python
# packaging tools); nothing is downloaded. Files are dated to the last commit.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"
build="$root/build/server"
epoch="${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)}"
export SOURCE_DATE_EPOCH="$epoch"

eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
# Given on every configure (CMake reads the variables only into a new cache);
# CMake has no CPPFLAGS, so _FORTIFY_SOURCE goes with the compilers' flags.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAVSN_LINUX_PACKAGE=ON \
      -DCMAKE_INSTALL_PREFIX=/usr -DTAVSN_WARNINGS_AS_ERRORS=ON \
      -DCMAKE_C_FLAGS="$CPPFLAGS $CFLAGS" -DCMAKE_CXX_FLAGS="$CPPFLAGS $CXXFLAGS" \
      -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" -DCMAKE_SHARED_LINKER_FLAGS="$LDFLAGS" >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
arch="$(dpkg-architecture -qDEB_HOST_ARCH)"
maintainer="tavsn developers <dev@tavsn.invalid>"
mkdir -p "$root/dist"

# The Debian package, laid out in debian/tavsn-server as dpkg-shlibdeps
# expects a package being built.
work="$build/deb"
pkg="$work/debian/tavsn-server"
doc="$pkg/usr/share/doc/tavsn-server"
rm -rf "$work"
DESTDIR="$pkg" cmake --install "$build" --strip >/dev/null
python="$pkg/usr/lib/python3/dist-packages"
mkdir -p "$python" "$doc" "$pkg/usr/share/man/man1" "$pkg/DEBIAN"
mv "$pkg/usr/share/tavsn/python/tavsn_server.py" "$python/"
rm -r "$pkg/usr/share/tavsn"
help2man --no-info --version-string="$version" \
         --name="decode, verify and compare tavsn machine identifiers" "$build/tavsn" |
  gzip -9n >"$pkg/usr/share/man/man1/tavsn.1.gz"
gzip -9nc "$root/CHANGELOG.md" >"$doc/changelog.gz"
printf 'tavsn (%s) unstable; urgency=medium\n\n  * Release %s; see changelog.gz.\n\n -- %s  %s\n' \
       "$version" "$version" "$maintainer" "$(date -u -R -d "@$epoch")" | gzip -9n >"$doc/changelog.Debian.gz"
{
  printf 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n'
  printf 'Upstream-Name: tavsn\n\nFiles: *\nCopyright: %s\nLicense: Expat\n' \
         "$(sed -n 's/^Copyright (c) //p' "$root/LICENSE")"
  sed -n '/^Permission/,$p' "$root/LICENSE" | sed 's/^$/./; s/^/ /'
} >"$doc/copyright"
echo "libtavsn_server ${version%%.*} tavsn-server (>= $version)" >"$pkg/DEBIAN/shlibs"
echo "activate-noawait ldconfig" >"$pkg/DEBIAN/triggers"
cat >"$work/debian/control" <<EOF
Source: tavsn

Package: tavsn-server
Architecture: any
EOF
# Outside a debian/rules build dpkg-shlibdeps warns that the files are not
# in their package's folder, which they are: that one warning is dropped.
depends="$(cd "$work" && dpkg-shlibdeps -O -Sdebian/tavsn-server -xtavsn-server \
           -e debian/tavsn-server/usr/bin/tavsn "debian/tavsn-server/usr/lib/$multiarch/libtavsn_server.so.$version" \
           2> >(grep -v "should already be installed in their package" >&2) | sed -n 's/^shlibs:Depends=//p')"
(cd "$pkg" && find usr -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum) >"$pkg/DEBIAN/md5sums"
cat >"$pkg/DEBIAN/control" <<EOF
Package: tavsn-server
Version: $version
Architecture: $arch
Maintainer: $maintainer
Installed-Size: $(du -sk --exclude=DEBIAN "$pkg" | cut -f1)
Depends: $depends
Suggests: python3
Section: utils
Priority: optional
Description: decode, verify and compare tavsn machine identifiers
 A licence server's side of tavsn, the Windows library that tells a host
 application which machine it runs on: the tavsn tool, which decodes the
 identifiers the library writes, verifies them against a machine's
 inventory facts and compares two of them to a verdict, and the same
 through the C library libtavsn_server (header, pkg-config file) and its
 Python module tavsn_server.
EOF
find "$pkg" -exec touch -h -d "@$epoch" {} +
deb="$root/dist/tavsn-server_${version}_$arch.deb"
dpkg-deb --root-owner-group -Zxz --build "$pkg" "$deb" >/dev/null

# The wheel: the module as the package tavsn_server, with the library, under
# the SONAME the module looks for beside itself, and the py.typed marker.
wheel="$build/wheel"
rm -rf "$wheel"
mkdir -p "$wheel/tavsn_server"
cp "$root/bindings/python/tavsn_server.py" "$wheel/tavsn_server/__init__.py"
cp "$pkg/usr/lib/$multiarch/libtavsn_server.so.$version" "$wheel/tavsn_server/libtavsn_server.so.${version%%.*}"
touch "$wheel/tavsn_server/py.typed"
cp "$root/LICENSE" "$wheel/"
cat >"$wheel/setup.cfg" <<EOF
[metadata]
name = tavsn_server
version = $version
description = Decode, verify and compare tavsn machine identifiers on a licence server
long_description = The Python module of libtavsn_server, the licence-server library of tavsn, with the library inside it.
author = the tavsn developers
license = MIT
license_files = LICENSE
classifiers =
    License :: OSI Approved :: MIT License
    Operating System :: POSIX :: Linux
    Programming Language :: Python :: 3
    Typing :: Typed

[options]
packages = tavsn_server
python_requires = >=3.7
zip_safe = false

[options.package_data]
tavsn_server = py.typed, libtavsn_server.so.*

[bdist_wheel]
python_tag = py3
plat_name = linux_$(uname -m)
EOF
printf '[build-system]\nrequires = ["setuptools", "wheel"]\nbuild-backend = "setuptools.build_meta"\n' >"$wheel/pyproject.toml"
find "$wheel" -exec touch -h -d "@$epoch" {} +
/usr/bin/python3 -m pip wheel --quiet --no-index --no-build-isolation --no-deps \
                 --wheel-dir "$root/dist" "$wheel" >/dev/null
echo "$deb"
ls "$root/dist/tavsn_server-$version-py3-none-linux_$(uname -m).whl"
