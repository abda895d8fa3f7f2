#!/usr/bin/env bash
# Prints the speed and size figures: every identifier export under Wine
# against the bare Windows calls it must make, the SMBIOS table walk of a
# typical and of a worst-case table natively, and the size of tavsn.dll.
# Figures, not a pass/fail test. The 32-bit DLL is measured where the kernel
# runs 32-bit programs, the 64-bit one elsewhere.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"

build=win32
/usr/lib/wine/wineserver32 --version >/dev/null 2>&1 || build=win64
bash "$root/scripts/build.sh" "$build"
bash "$root/scripts/build.sh" native smbios_walk_bench

echo "== exports under Wine ($build build)"
python3 "$root/tests/wine/bench.py" --build "$root/build/$build"
echo "== SMBIOS table walk (native)"
"$root/build/native/tests/bench/smbios_walk_bench"
