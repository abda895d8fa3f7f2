#!/usr/bin/env bash
# Installs what the builds and tests need on Debian 12, only what is missing.
set -euo pipefail

packages=(cmake make g++ python3 pkg-config libgtest-dev libgmock-dev iproute2 util-linux
          g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
          wine wine32:i386 wine64 clang libclang-rt-14-dev lld llvm mono-mcs ieee-data clang-format
          dpkg-dev help2man lintian python3-pip python3-setuptools python3-wheel python3-venv
          debhelper dh-python osslsigncode openssl twine python3-build mono-runtime man-db)

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
  as_root apt-get update -qq && break
  echo "apt-get update failed (attempt $attempt of 3)" >&2
  sleep $((attempt * 5))
done
install() { as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@"; }
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
