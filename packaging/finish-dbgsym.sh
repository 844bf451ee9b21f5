#!/usr/bin/env bash
# Rebuilds the -dbgsym package CPack made (see finish-dbgsym.cmake).
# Usage: finish-dbgsym.sh <package.ddeb> <main package.deb>
set -euo pipefail
ddeb="$1"
deb="$2"
tree="$(mktemp -d)"
trap 'rm -rf "$tree"' EXIT
chmod 0755 "$tree"
dpkg-deb -R "$ddeb" "$tree"
name="$(dpkg-deb -f "$ddeb" Package)"
main="$(dpkg-deb -f "$deb" Package)"
find "$tree/usr/lib/debug" -type f -exec chmod 0644 {} +
mkdir -p "$tree/usr/share/doc"
ln -s "$main" "$tree/usr/share/doc/$name"
# Both come from one source, as lintian checks before it accepts that link.
grep -q '^Source:' "$tree/DEBIAN/control" || sed -i "1i Source: $main" "$tree/DEBIAN/control"
(cd "$tree" && find usr -type f | LC_ALL=C sort | xargs -r md5sum) >"$tree/DEBIAN/md5sums"
dpkg-deb --root-owner-group -Zxz -b "$tree" "$ddeb" >/dev/null
