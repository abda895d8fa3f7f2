#!/usr/bin/env bash
# Installs what the builds and tests need on Debian 12, only what is missing.
#   setup.sh               everything any script needs
#   setup.sh KIND...       only what the builds of these kinds need (native,
#                          linux, win32, win64), as scripts/build.sh asks
# With nothing missing it only asks dpkg, and is done in a moment.
set -euo pipefail
# scripts/test.sh sets up everything once and says so to the scripts it runs.
[ "${TAVSN_SETUP_DONE:-}" = 1 ] && exit 0

common=(cmake make g++ python3 pkg-config)
# The machine registry's engines: SQLite's and PostgreSQL's client libraries,
# and Debian's PostgreSQL server, whose cluster the registry's tests start.
registry=(libsqlite3-dev libpq-dev postgresql)
native=(libgtest-dev libgmock-dev mono-mcs clang-format "${registry[@]}")
linux=(ieee-data "${registry[@]}")
windows=(iproute2 util-linux wine wine64 lld llvm)
win32=(g++-mingw-w64-i686 binutils-mingw-w64-i686 wine32:i386)
win64=(g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64)
others=(clang libclang-rt-14-dev dpkg-dev help2man lintian python3-pip python3-setuptools python3-wheel
      python3-venv debhelper dh-python osslsigncode openssl twine python3-build mono-runtime man-db)

packages=("${common[@]}")
if [ $# -eq 0 ]; then
  packages+=("${native[@]}" "${linux[@]}" "${windows[@]}" "${win32[@]}" "${win64[@]}" "${others[@]}")
fi
for kind in "$@"; do
  case "$kind" in
    native) packages+=("${native[@]}") ;;
    linux) packages+=("${linux[@]}") ;;
    win32) packages+=("${windows[@]}" "${win32[@]}") ;;
    win64) packages+=("${windows[@]}" "${win64[@]}") ;;
    *) echo "usage: setup.sh [native|linux|win32|win64...]" >&2; exit 2 ;;
  esac
done

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
fi
# A mirror caught mid-sync fails one index or another; try again, then go on
# with the lists that did arrive rather than install nothing.
for attempt in 1 2 3; do
  as_root apt-get -o DPkg::Lock::Timeout=600 update -qq && break
  echo "apt-get update failed (attempt $attempt of 3)" >&2
  sleep $((attempt * 5))
done
# Several builds on one machine may set up at once: wait for dpkg's lock
# rather than fail on it.
install() {
  as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq "$@"
}
if ! install "${missing[@]}"; then
  # An i386 index the mirror failed to give leaves 32-bit Wine uninstallable
  # beside newer amd64 libraries. Everything else is still needed: install it,
  # and the 32-bit Wine suites report themselves skipped, as on a kernel
  # without 32-bit programs.
  rest=()
  for p in "${missing[@]}"; do [ "$p" = wine32:i386 ] || rest+=("$p"); done
  [ ${#rest[@]} -eq ${#missing[@]} ] && exit 1
  echo "Could not install wine32:i386; the 32-bit Wine suites will be skipped" >&2
  [ ${#rest[@]} -eq 0 ] || install "${rest[@]}"
fi
