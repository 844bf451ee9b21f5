#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop
# expects there; the installed program must find its resources under the
# prefix. Usage: install-tree.sh <build folder>
set -euo pipefail
build="$1"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
fail() { echo "install-tree: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/pendrel-publisher \
         share/pendrel-publisher/pendrel-macos_PendrelPublisher.bundle/Brand/pendrel-symbol.png \
         share/pendrel-publisher/pendrel-macos_PendrelPublisher.bundle/AuthProviders/google-mark.png \
         share/applications/com.pendrel.publisher.desktop \
         share/metainfo/com.pendrel.publisher.metainfo.xml \
         share/icons/hicolor/48x48/apps/com.pendrel.publisher.png \
         share/man/man1/pendrel-publisher.1.gz share/doc/pendrel-publisher/copyright \
         share/icons/hicolor/256x256/apps/com.pendrel.publisher.png; do
  [ -f "$prefix/$f" ] || fail "missing $f"
done
desktop-file-validate "$prefix/share/applications/com.pendrel.publisher.desktop" || fail "desktop entry is not valid"
appstreamcli validate --no-net "$prefix/share/metainfo/com.pendrel.publisher.metainfo.xml" >/dev/null \
  || fail "AppStream metadata is not valid"
grep -q '^Icon=com.pendrel.publisher$' "$prefix/share/applications/com.pendrel.publisher.desktop"
# Taskbars link the windows (WM_CLASS instance: the program name) to the entry.
grep -q "^StartupWMClass=pendrel-publisher$" "$prefix/share/applications/com.pendrel.publisher.desktop" \
  || fail "desktop entry does not name the windows' class"
version="$(sed -n 's/^project(PendrelPublisher VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")"
grep -q "<release version=\"$version\"" "$prefix/share/metainfo/com.pendrel.publisher.metainfo.xml" \
  || fail "metadata does not name release $version"

export QT_QPA_PLATFORM=offscreen
out="$("$prefix/bin/pendrel-publisher" --version)"
[ "$out" = "Pendrel Publisher $version" ] || fail "--version said: $out"
out="$("$prefix/bin/pendrel-publisher" --check-installation)" || fail "--check-installation failed: $out"
echo "$out"
case "$out" in
  *"resources in $prefix/share/pendrel-publisher/pendrel-macos_PendrelPublisher.bundle"*) ;;
  *) [ -d /usr/local/share/pendrel-publisher ] || fail "the installed program used other resources: $out" ;;
esac
# Without its resources the program says where it looked and fails.
rm -rf "$prefix/share/pendrel-publisher"
if err="$("$prefix/bin/pendrel-publisher" --check-installation 2>&1)"; then
  [ -d /usr/local/share/pendrel-publisher ] || fail "a broken installation passed the check"
else
  case "$err" in *"could not load resource bundle from: "*) ;; *) fail "unexpected message: $err" ;; esac
fi
echo "install-tree: ok"
