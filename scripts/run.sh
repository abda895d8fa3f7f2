#!/usr/bin/env bash
# The main job: builds tavsn.dll and prints this machine's identifiers under
# Wine, from a private Wine prefix that is stopped afterwards.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"

# The 32-bit DLL is the product; a kernel without 32-bit emulation cannot
# start 32-bit Wine, and there the 64-bit build of the same code answers.
build=win32
wine=(wine)
if ! /usr/lib/wine/wineserver32 --version >/dev/null 2>&1; then
  echo "note: this kernel does not run 32-bit programs; showing the 64-bit build's identifiers" >&2
  build=win64
  wine=(/usr/lib/wine/wine64)
  export WINELOADER=/usr/lib/wine/wine64
fi
bash "$root/scripts/build.sh" "$build" tavsn tavsn_main

export WINEPREFIX="$root/build/wine/main-prefix-$build"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$WINEPREFIX")"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
[ -d "$WINEPREFIX" ] || "${wine[@]}" wineboot -i >/dev/null 2>&1
"${wine[@]}" "$root/build/$build/tavsn.exe" "Z:${root//\//\\}\\build\\$build\\tavsn.dll"
