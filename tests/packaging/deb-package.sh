#!/usr/bin/env bash
# Builds the Debian package (scripts/package), checks its fields and files,
# that its dependencies resolve and the packages it recommends exist, that
# lintian has nothing to say about it, that its manual page renders without
# a warning, and that the program it carries starts far enough to load its
# resources. Usage: deb-package.sh <package build folder>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="$(realpath "$1")"
fail() { echo "deb-package: $*" >&2; exit 1; }

"$here/../../scripts/package" "$out" >"$out.log" 2>&1 || { cat "$out.log" >&2; fail "scripts/package failed"; }
deb="$(ls "$out"/pendrel-publisher_*_amd64.deb 2>/dev/null | head -n1)"
[ -n "$deb" ] || fail "no package in $out"
dbgsym="$(ls "$out"/pendrel-publisher-dbgsym_*_amd64.ddeb 2>/dev/null | head -n1)"
[ -n "$dbgsym" ] || fail "no debugging symbols package in $out"
version="$(sed -n 's/^project(PendrelPublisher VERSION \([0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt")"

[ "$(dpkg-deb -f "$deb" Package)" = pendrel-publisher ] || fail "wrong package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "wrong version"
depends="$(dpkg-deb -f "$deb" Depends)"
for lib in qt6-qpa-plugins qt6-wayland wl-clipboard libqt6widgets6 libqt6network6 libqt6dbus6 libqt6keychain1 libxcb1; do
  case "$depends" in *"$lib"*) ;; *) fail "Depends lacks $lib: $depends" ;; esac
done
files="$(dpkg-deb -c "$deb" | awk '{print $NF}')"
for f in ./usr/bin/pendrel-publisher ./usr/share/applications/com.pendrel.publisher.desktop \
         ./usr/share/doc/pendrel-publisher/copyright ./usr/share/doc/pendrel-publisher/changelog.gz \
         ./usr/share/man/man1/pendrel-publisher.1.gz \
         ./usr/share/metainfo/com.pendrel.publisher.metainfo.xml \
         ./usr/share/icons/hicolor/128x128/apps/com.pendrel.publisher.png \
         ./usr/share/pendrel-publisher/pendrel-macos_PendrelPublisher.bundle/Brand/pendrel-symbol.png; do
  grep -qxF "$f" <<<"$files" || fail "the package lacks $f"
done
# Nothing from the build or the tests goes in.
if grep -qE 'devservice|tst_|/lib/.*\.a$' <<<"$files"; then fail "the package carries build or test files"; fi

apt-get install -s "$deb" 2>&1 | grep -q '^Inst pendrel-publisher' || fail "its dependencies do not resolve"
# Every package named in Recommends and Suggests, alternatives included,
# exists in this release (apt-get install -s passes over missing ones).
for p in $(dpkg-deb -f "$deb" Recommends Suggests | sed 's/^[A-Za-z]*://' | tr ',|' '\n\n' | sed 's/(.*)//'); do
  apt-cache show --no-all-versions "$p" >/dev/null 2>&1 || fail "it names $p, which this release does not have"
done

# lintian: no error or warning; and no other tag either (info, pedantic,
# experimental) but those the README lists with the reason it stays.
accepted=()
status=0
tags="$(lintian --fail-on error,warning --pedantic --display-info --display-experimental --show-overrides \
        "$deb" "$dbgsym" 2>"$out/lintian.stderr")" || status=$?
printf '%s\n' "$tags"
# lintian exits with 2 when it found what --fail-on names, 1 when it failed.
case "$status" in 0 | 2) ;; *) cat "$out/lintian.stderr" >&2; fail "lintian did not run (status $status)" ;; esac
if [ "$status" -ne 0 ] || grep -q '^[EW]: ' <<<"$tags"; then fail "lintian reports errors or warnings"; fi
while read -r tag; do
  [ -n "$tag" ] || continue
  printf '%s\n' "${accepted[@]}" | grep -qxF "$tag" || fail "lintian reports $tag, which the README does not list"
done < <(sed -n 's/^[IPX]: [^ ]*: \([^ ]*\).*/\1/p' <<<"$tags")

root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

# The copyright file is machine-readable (DEP-5), which lintian checks only
# in source packages: it names the format, and every licence a Files
# paragraph names is spelled out in a License paragraph.
copyright="$root/usr/share/doc/pendrel-publisher/copyright"
head -n1 "$copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  || fail "the copyright file does not name the DEP-5 format"
undefined="$(awk 'BEGIN { RS = ""; FS = "\n" }
  { name = ""; text = 0
    for (i = 1; i <= NF; i++) if ($i ~ /^License:/) {
      name = $i; sub(/^License:[ \t]*/, "", name); text = (i < NF && $(i + 1) ~ /^ /); break }
    if (name == "") next
    if ($1 ~ /^Files:/ && !text) used[name] = 1; else if ($1 ~ /^License:/ || text) defined[name] = 1 }
  END { for (n in used) if (!(n in defined)) print n }' "$copyright")"
[ -z "$undefined" ] || fail "the copyright file names licences it does not give: $undefined"

# The manual page renders cleanly at a terminal's width and at lintian's,
# and documents every option the program offers.
page="$root/usr/share/man/man1/pendrel-publisher.1.gz"
for width in 80 120; do
  warnings="$(LC_ALL=C.UTF-8 MANWIDTH=$width MANROFFSEQ='' man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)"
  [ -z "$warnings" ] || fail "the manual page renders with warnings at width $width: $warnings"
done
lexgrog "$page" >/dev/null || fail "the manual page has no NAME line that man -k can index"
text="$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null)"
options="$(QT_QPA_PLATFORM=offscreen "$root/usr/bin/pendrel-publisher" --help 2>/dev/null | grep -oE -- '--[a-z][a-z-]*')"
for option in $options; do
  grep -qF -- "$option" <<<"$text" || fail "the manual page does not document $option"
done
report="$(QT_QPA_PLATFORM=offscreen "$root/usr/bin/pendrel-publisher" --check-installation)" \
  || fail "the packaged program failed its check: $report"
case "$report" in *"(com.pendrel.publisher)"*) ;; *) fail "not the production build: $report" ;; esac
echo "$report"
echo "deb-package: $deb ok"
