#!/usr/bin/env bash
# Builds both builds and runs every test: the native unit tests under
# AddressSanitizer and UBSan, then the Wine tests of the real DLL.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"

bash "$root/scripts/build.sh" native
(cd "$root/build/native" && ctest --output-on-failure -j "$(nproc)")

bash "$root/scripts/build.sh" win32
(cd "$root/build/win32" && ctest --output-on-failure)
