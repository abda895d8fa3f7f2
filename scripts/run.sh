#!/usr/bin/env bash
# The main job: builds tavsn.dll and prints this machine's identifiers under
# Wine, from a private Wine prefix that is stopped afterwards.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" win32 tavsn tavsn_main

export WINEPREFIX="$root/build/wine/main-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$WINEPREFIX")"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
[ -d "$WINEPREFIX" ] || wineboot -i >/dev/null 2>&1
wine "$root/build/win32/tavsn.exe" "$(winepath -w "$root/build/win32/tavsn.dll")"
