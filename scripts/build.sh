#!/usr/bin/env bash
# Configures and builds one of the builds: native (unit tests under the
# sanitizers), linux (the installable server library and tool, for the
# install prefix PREFIX, default /usr/local), win32 or win64; further
# arguments name the targets to build (all when none). Installs what the
# kind of build needs first (scripts/setup.sh KIND).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
kind="${1:-}"
shift || true
case "$kind" in
  native|linux|win32|win64) bash "$root/scripts/setup.sh" "$kind" ;;
esac
targets=()
for target in "$@"; do targets+=(--target "$target"); done
jobs="$(nproc)"
case "$kind" in
  native) cmake -S "$root" -B "$root/build/native" -DCMAKE_BUILD_TYPE=Debug >/dev/null ;;
  linux)  cmake -S "$root" -B "$root/build/linux" -DCMAKE_BUILD_TYPE=Release -DTAVSN_LINUX_PACKAGE=ON \
                -DCMAKE_INSTALL_PREFIX="${PREFIX:-/usr/local}" \
                -DTAVSN_WARNINGS_AS_ERRORS=ON >/dev/null ;;
  win32)  cmake -S "$root" -B "$root/build/win32" -DCMAKE_BUILD_TYPE=Release \
                -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null ;;
  win64)  cmake -S "$root" -B "$root/build/win64" -DCMAKE_BUILD_TYPE=Release \
                -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" >/dev/null ;;
  *) echo "usage: build.sh native|linux|win32|win64 [target...]" >&2; exit 2 ;;
esac
cmake --build "$root/build/$kind" -j "$jobs" "${targets[@]}"
