#!/usr/bin/env bash
# Makes the release package dist/tavsn-<version>.zip: the 32-bit and the
# 64-bit DLL and tool, the header, the module-definition files, the MinGW and
# MSVC import libraries, the find_package(tavsn) configuration, the .NET and
# Python bindings, the README and the pages of docs/, the changes and the
# licence. Prints the zip's path, then dist/Tavsn.<version>.nupkg for .NET
# hosts (scripts/nupkg.py) and its path; dist/SHA256SUMS lists every package
# in dist/. The same sources give the same zip and nupkg, byte for byte.
#
# Signing: given a certificate, both DLLs and both tools are signed with
# Authenticode (osslsigncode) before they are packed:
#   TAVSN_SIGN_CERT      the certificate: a PEM file (with TAVSN_SIGN_KEY) or a
#                        PKCS#12 file (.pfx, .p12) holding the key too
#   TAVSN_SIGN_KEY       the PEM private key, for a PEM certificate
#   TAVSN_SIGN_PASSWORD  the password of the key or of the PKCS#12 file
#   TAVSN_SIGN_TIMESTAMP an RFC 3161 timestamp server's URL (optional; without
#                        one the signing time is the last commit's, so the
#                        same sources and key give the same signed files)
# or the same as options: --sign-cert FILE --sign-key FILE
# --sign-password TEXT --sign-timestamp URL. With TAVSN_GPG_KEY set,
# SHA256SUMS is signed with that GnuPG key (SHA256SUMS.asc).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
while [ $# -gt 0 ]; do
  case "$1" in
    --sign-cert) TAVSN_SIGN_CERT="$2" ;;
    --sign-key) TAVSN_SIGN_KEY="$2" ;;
    --sign-password) TAVSN_SIGN_PASSWORD="$2" ;;
    --sign-timestamp) TAVSN_SIGN_TIMESTAMP="$2" ;;
    *) echo "usage: package.sh [--sign-cert FILE [--sign-key FILE] [--sign-password TEXT] [--sign-timestamp URL]]" >&2
       exit 2 ;;
  esac
  shift 2
done
bash "$root/scripts/setup.sh"

for kind in win32 win64; do
  bash "$root/scripts/build.sh" "$kind" tavsn tavsn_main tavsn_msvc_lib >/dev/null
done

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$root/build/win64/CMakeCache.txt")"
name="tavsn-$version"
staging="$root/build/package"
rm -rf "$staging"
for kind in win32 win64; do
  cmake --install "$root/build/$kind" --prefix "$staging/$name" >/dev/null
done
cp "$root/README.md" "$root/CHANGELOG.md" "$root/LICENSE" "$staging/$name/"
epoch="${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)}"

# Authenticode: each binary signed in place, SHA-256, named and linked to
# the project's page.
if [ -n "${TAVSN_SIGN_CERT:-}" ]; then
  case "$TAVSN_SIGN_CERT" in
    *.pfx|*.p12) credentials=(-pkcs12 "$TAVSN_SIGN_CERT") ;;
    *) credentials=(-certs "$TAVSN_SIGN_CERT" -key "${TAVSN_SIGN_KEY:?TAVSN_SIGN_KEY names the key of a PEM certificate}") ;;
  esac
  [ -n "${TAVSN_SIGN_PASSWORD:-}" ] && credentials+=(-pass "$TAVSN_SIGN_PASSWORD")
  if [ -n "${TAVSN_SIGN_TIMESTAMP:-}" ]; then
    when=(-ts "$TAVSN_SIGN_TIMESTAMP")
  else
    when=(-time "$epoch")
  fi
  homepage="$(sed -n 's/^homepage=//p' "$root/scripts/release.conf")"
  for arch in x86 x64; do
    for binary in tavsn.dll tavsn.exe; do
      file="$staging/$name/$arch/bin/$binary"
      osslsigncode sign "${credentials[@]}" "${when[@]}" -h sha256 -n "tavsn" -i "$homepage" \
                   -in "$file" -out "$file.signed" >/dev/null
      mv "$file.signed" "$file"
    done
  done
fi
# Only the files under version control: stray build output stays out.
if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
  (cd "$root" && git ls-files -z bindings docs | xargs -0 cp --parents -t "$staging/$name")
else
  cp -r "$root/bindings" "$root/docs" "$staging/$name/"
fi

# Entries in name order, dated to the last commit, with fixed permissions.
mkdir -p "$root/dist"
python3 - "$staging" "$name" "$root/dist/$name.zip" "$epoch" <<'PYTHON'
import os, sys, time, zipfile
staging, name, zip_path, epoch = sys.argv[1:]
stamp = time.gmtime(int(epoch))[:6]
paths = sorted(os.path.join(folder, file)
               for folder, _, files in os.walk(os.path.join(staging, name)) for file in files)
with zipfile.ZipFile(zip_path, "w") as package:
    for path in paths:
        entry = zipfile.ZipInfo(os.path.relpath(path, staging), stamp)
        entry.external_attr = (0o755 if os.access(path, os.X_OK) else 0o644) << 16
        entry.compress_type = zipfile.ZIP_DEFLATED
        with open(path, "rb") as data:
            package.writestr(entry, data.read())
PYTHON
commit="$(git -C "$root" rev-parse HEAD 2>/dev/null || true)"
python3 "$root/scripts/nupkg.py" "$staging/$name" "$version" "$root/dist/Tavsn.$version.nupkg" "$epoch" "$commit"
bash "$root/scripts/checksums.sh" "$root/dist"
echo "$root/dist/$name.zip"
echo "$root/dist/Tavsn.$version.nupkg"
