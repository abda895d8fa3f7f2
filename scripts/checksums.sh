#!/usr/bin/env bash
# Writes DIST/SHA256SUMS, the SHA-256 of every package in DIST (the release
# zip, the NuGet package, the Debian source and binary packages, the wheel and
# the sdist), for `sha256sum -c SHA256SUMS`; with TAVSN_GPG_KEY set, signs it
# as SHA256SUMS.asc. package.sh and server_packages.sh each call it, so the
# list covers whatever both have made.
set -euo pipefail
dist="$1"
cd "$dist"
shopt -s nullglob
packages=(*.zip *.nupkg *.deb *.dsc *.orig.tar.xz *.debian.tar.xz *.whl *.tar.gz)
rm -f SHA256SUMS SHA256SUMS.asc
[ ${#packages[@]} -eq 0 ] && exit 0
printf '%s\0' "${packages[@]}" | LC_ALL=C sort -z | xargs -0 sha256sum -- >SHA256SUMS
if [ -n "${TAVSN_GPG_KEY:-}" ]; then
  gpg --batch --yes --local-user "$TAVSN_GPG_KEY" --armor --detach-sign --output SHA256SUMS.asc SHA256SUMS
fi
