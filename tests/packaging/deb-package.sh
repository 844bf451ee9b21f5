#!/usr/bin/env bash
# Builds the Debian package (scripts/package), checks its fields and files,
# that its dependencies resolve, and that the program it carries starts far
# enough to load its resources. Usage: deb-package.sh <package build folder>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="$1"
fail() { echo "deb-package: $*" >&2; exit 1; }

"$here/../../scripts/package" "$out" >"$out.log" 2>&1 || { cat "$out.log" >&2; fail "scripts/package failed"; }
deb="$(ls "$out"/pendrel-publisher_*_amd64.deb 2>/dev/null | head -n1)"
[ -n "$deb" ] || fail "no package in $out"
version="$(sed -n 's/^project(PendrelPublisher VERSION \([0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt")"

[ "$(dpkg-deb -f "$deb" Package)" = pendrel-publisher ] || fail "wrong package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "wrong version"
depends="$(dpkg-deb -f "$deb" Depends)"
for lib in qt6-qpa-plugins qt6-wayland wl-clipboard libqt6widgets6 libqt6network6 libqt6dbus6 libqt6keychain1 libxcb1; do
  case "$depends" in *"$lib"*) ;; *) fail "Depends lacks $lib: $depends" ;; esac
done
files="$(dpkg-deb -c "$deb" | awk '{print $NF}')"
for f in ./usr/bin/pendrel-publisher ./usr/share/applications/com.pendrel.publisher.desktop \
         ./usr/share/metainfo/com.pendrel.publisher.metainfo.xml \
         ./usr/share/icons/hicolor/128x128/apps/com.pendrel.publisher.png \
         ./usr/share/pendrel-publisher/pendrel-macos_PendrelPublisher.bundle/Brand/pendrel-symbol.png; do
  grep -qxF "$f" <<<"$files" || fail "the package lacks $f"
done
# Nothing from the build or the tests goes in.
if grep -qE 'devservice|tst_|/lib/.*\.a$' <<<"$files"; then fail "the package carries build or test files"; fi

apt-get install -s "$deb" 2>&1 | grep -q '^Inst pendrel-publisher' || fail "its dependencies do not resolve"

root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
report="$(QT_QPA_PLATFORM=offscreen "$root/usr/bin/pendrel-publisher" --check-installation)" \
  || fail "the packaged program failed its check: $report"
case "$report" in *"(com.pendrel.publisher)"*) ;; *) fail "not the production build: $report" ;; esac
echo "$report"
echo "deb-package: $deb ok"
