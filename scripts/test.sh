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
export TAVSN_SETUP_DONE=1

# The code's style (.clang-format): checked here, applied by hand with
# clang-format -i.
bash "$root/scripts/check_style.sh"

bash "$root/scripts/build.sh" native
(cd "$root/build/native" && ctest --output-on-failure -j "$(nproc)")

# The Linux package: installed into a scratch prefix and used through
# pkg-config, the tool and the Python module.
bash "$root/scripts/build.sh" linux
(cd "$root/build/linux" && ctest --output-on-failure)

# The Debian source package built with dpkg-buildpackage, its binary
# packages installed with apt into an overlay of this system and purged; the
# wheel with pip into a fresh venv, the sdist built; each used as the install
# test uses the tree.
made="$(bash "$root/scripts/server_packages.sh" | tail -n 3)"
mapfile -t server <<<"$made"
python3 "$root/tests/package/test_deb.py" "${server[0]}"
tool="$(ls -d "$root"/build/deb/tavsn-*/debian/tavsn-server/usr/bin/tavsn)"
python3 "$root/tests/package/test_wheel.py" "${server[1]}" "${server[2]}" "$tool"

# A short fuzzing run of every fuzz target on its seed corpus, 30 s each;
# longer runs are made by hand with the same script.
bash "$root/tests/fuzz/run.sh" "$root/build/fuzz" 30

bash "$root/scripts/build.sh" win32
(cd "$root/build/win32" && ctest --output-on-failure)

bash "$root/scripts/build.sh" win64
(cd "$root/build/win64" && ctest --output-on-failure)

# The release package, signed with a throwaway certificate, and a host
# project built against it for both architectures and run under Wine; the
# signatures checked and the signed binaries compared with the build's.
certificate="$(mktemp -d)"
trap 'rm -rf "$certificate"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=tavsn test signing" \
        -keyout "$certificate/key.pem" -out "$certificate/cert.pem" 2>/dev/null
made="$(TAVSN_SIGN_CERT="$certificate/cert.pem" TAVSN_SIGN_KEY="$certificate/key.pem" \
        bash "$root/scripts/package.sh" | tail -n 2)"
mapfile -t release <<<"$made"
python3 "$root/tests/package/test_package.py" --build "$root/build/win64" --package "${release[0]}" \
        --signed-by "$certificate/cert.pem"
python3 "$root/tests/package/test_nupkg.py" "${release[1]}" "${release[0]}"
(cd "$root/dist" && sha256sum --check --quiet SHA256SUMS)
