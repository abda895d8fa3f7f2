#!/usr/bin/env bash
# Builds every build and runs every test: the code's style, the native unit tests under
# AddressSanitizer and UBSan, the installed Linux package, the Debian package
# and the Python wheel, then the Wine tests of the 32-bit DLL and of the
# 64-bit one, then the release package and the NuGet package.
# Where the kernel cannot execute 32-bit programs, the 32-bit Wine tests
# report themselves skipped and the 64-bit ones still run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"

# The code's style (.clang-format): checked here, applied by hand with
# clang-format -i.
bash "$root/scripts/check_style.sh"

bash "$root/scripts/build.sh" native
(cd "$root/build/native" && ctest --output-on-failure -j "$(nproc)")

# The Linux package: installed into a scratch prefix and used through
# pkg-config, the tool and the Python module.
bash "$root/scripts/build.sh" linux
(cd "$root/build/linux" && ctest --output-on-failure)

# The Debian package installed with dpkg into a scratch root, the wheel with
# pip into a fresh venv; each used as the install test uses the tree.
made="$(bash "$root/scripts/server_packages.sh" | tail -n 2)"
mapfile -t server <<<"$made"
python3 "$root/tests/package/test_deb.py" "${server[0]}"
python3 "$root/tests/package/test_wheel.py" "${server[1]}" "$root/build/server/tavsn"

# A short fuzzing run of every fuzz target on its seed corpus, 30 s each;
# longer runs are made by hand with the same script.
bash "$root/tests/fuzz/run.sh" "$root/build/fuzz" 30

bash "$root/scripts/build.sh" win32
(cd "$root/build/win32" && ctest --output-on-failure)

bash "$root/scripts/build.sh" win64
(cd "$root/build/win64" && ctest --output-on-failure)

# The release package, and a host project built against it for both
# architectures and run under Wine.
made="$(bash "$root/scripts/package.sh" | tail -n 2)"
mapfile -t release <<<"$made"
python3 "$root/tests/package/test_package.py" --build "$root/build/win64" --package "${release[0]}"
python3 "$root/tests/package/test_nupkg.py" "${release[1]}" "${release[0]}"
