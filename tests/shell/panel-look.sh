#!/usr/bin/env bash
# The panel follows the desktop's light or dark preference live, through the
# real settings portal: xdg-desktop-portal with its GTK back end, which
# serves org.freedesktop.appearance color-scheme from GNOME's setting in
# dconf (Debian 12's portal, 1.16, has only Read, so the program's fallback
# from ReadOne is what runs here). The real program runs as a window (no tray) on Xvfb; the test flips
# the preference with gsettings and reads the window's pixels: its
# background turns dark, then light again, without a restart. Started on
# a dark desktop it opens dark. Then an Appearance fixed in appearance.conf
# ("light") wins over the desktop's dark.
# Skips (77) only when the portal packages are missing.
# Usage: panel-look.sh <pendrel-publisher> <artifact folder>
set -euo pipefail
app="$1"
artifacts="$2"
for tool in /usr/libexec/xdg-desktop-portal /usr/libexec/xdg-desktop-portal-gtk gsettings gdbus import convert xdotool; do
  command -v "$tool" >/dev/null || { echo "panel-look: skipped, $tool is not installed"; exit 77; }
done
# A bus of our own, with the usual activation: dconf and the portal's back
# end are started on demand by it, as on a desktop.
if [ -z "${PENDREL_OWN_BUS:-}" ]; then
  PENDREL_OWN_BUS=1 exec dbus-run-session -- "$0" "$@"
fi
mkdir -p "$artifacts"
. "$(dirname "$0")/shell-test.sh" panel-look
# The document portal, started with the portal, mounts a folder in the runtime folder.
unmount_documents() {
  if mountpoint -q "$XDG_RUNTIME_DIR/doc" 2>/dev/null; then
    fusermount -u "$XDG_RUNTIME_DIR/doc" 2>/dev/null || umount -l "$XDG_RUNTIME_DIR/doc" 2>/dev/null || true
  fi
}
trap 'unmount_documents; cleanup' EXIT
export NO_AT_BRIDGE=1 XDG_CURRENT_DESKTOP=GNOME GSETTINGS_BACKEND=dconf
eval "$(printf 'pendrel-test' | gnome-keyring-daemon --unlock --components=secrets --daemonize)"
[ -z "${GNOME_KEYRING_PID:-}" ] || pids+=("$GNOME_KEYRING_PID")
start_display
# What the bus starts on demand (dconf's writer, the portal's back ends)
# works in this test's home and on its display.
dbus-update-activation-environment HOME XDG_CONFIG_HOME XDG_DATA_HOME XDG_RUNTIME_DIR DISPLAY \
  XDG_CURRENT_DESKTOP GSETTINGS_BACKEND XDG_SESSION_TYPE NO_AT_BRIDGE
gsettings set org.gnome.desktop.interface color-scheme default
/usr/libexec/xdg-desktop-portal-gtk -r >"$work/portal-gtk.log" 2>&1 &
portal_gtk=$!
pids+=("$portal_gtk")
/usr/libexec/xdg-desktop-portal -r >"$work/portal.log" 2>&1 &
portal=$!
pids+=("$portal")
portal_scheme() {
  gdbus call --session -d org.freedesktop.portal.Desktop -o /org/freedesktop/portal/desktop \
    -m org.freedesktop.portal.Settings.Read org.freedesktop.appearance color-scheme
}
within 30 portal_scheme || fail "the settings portal did not answer: $(cat "$work/portal.log" "$work/portal-gtk.log")"

# The panel window's colour at its four corners and halfway down both
# sides (the panel's own background there), as "light", "dark" or "mixed".
panel_look() {
  local id tone points p
  id="$(xdotool search --onlyvisible --name '^Pendrel Publisher$' 2>/dev/null | head -1)"
  [ -n "$id" ] || return 1
  import -window "$id" "$work/panel.png" 2>/dev/null || return 1
  read -r w h <<<"$(identify -format '%w %h' "$work/panel.png")"
  [ "$w" -ge 400 ] || return 1
  # (The right-hand ones clear of the scroll bar.)
  points="3,3 $((w - 12)),3 3,$((h - 4)) $((w - 12)),$((h - 4)) 4,$((h / 2)) $((w - 12)),$((h / 2))"
  tone=""
  image_tone "$work/panel.png" $points
}
look_is() { [ "$(panel_look)" = "$1" ]; }
# What was seen last, for the failure message; the picture stays with the artifacts.
seen() {
  cp "$work/panel.png" "$artifacts/panel-look-failed.png" 2>/dev/null || true
  echo "$(panel_look) ($(tr '\n' ' ' <"$work/samples"))"
}

PENDREL_API_BASE_URL=http://127.0.0.1:1 QT_QPA_PLATFORM=xcb "$app" >"$work/app.log" 2>&1 &
program=$!
pids+=("$program")
# No preference stated, Xvfb's light palette: the light look.
within 30 look_is light || fail "the panel did not open light: $(seen)"
cp "$work/panel.png" "$artifacts/panel-look-light.png"

gsettings set org.gnome.desktop.interface color-scheme prefer-dark
within 10 look_is dark || fail "the panel did not turn dark with the desktop: $(seen)"
cp "$work/panel.png" "$artifacts/panel-look-dark.png"
# From the portal's signal, not from a fallback.
grep -q "Panel look: dark (appearance automatic; desktop prefers dark, from portal)" "$work/app.log" ||
  fail "the dark look did not come from the portal"

gsettings set org.gnome.desktop.interface color-scheme prefer-light
within 10 look_is light || fail "the panel did not turn light again: $(seen)"

# Started on a dark desktop, the program asks the portal (Read here) and
# opens dark.
gsettings set org.gnome.desktop.interface color-scheme prefer-dark
kill "$program"
wait "$program" 2>/dev/null || true
PENDREL_API_BASE_URL=http://127.0.0.1:1 QT_QPA_PLATFORM=xcb "$app" >"$work/app.log" 2>&1 &
program=$!
pids+=("$program")
within 30 look_is dark || fail "the panel did not open dark on a dark desktop: $(seen)"
grep -q "Panel look: dark (appearance automatic; desktop prefers dark, from portal)" "$work/app.log" ||
  fail "the portal's answer at start was not read"

# The user's choice in the configuration file beats the desktop's dark.
kill "$program"
wait "$program" 2>/dev/null || true
write_appearance 'panelAppearance=light'
PENDREL_API_BASE_URL=http://127.0.0.1:1 QT_QPA_PLATFORM=xcb "$app" >"$work/app.log" 2>&1 &
program=$!
pids+=("$program")
within 30 look_is light || fail "the Appearance set to Light was not kept on a dark desktop: $(seen)"

# A portal without a back end for the setting (its folder of back ends
# empty): GNOME's setting itself, read at start and followed through GSettings.
kill "$program" "$portal" "$portal_gtk"
wait "$program" "$portal" "$portal_gtk" 2>/dev/null || true
rm -f "$XDG_CONFIG_HOME"/PendrelPublisher/*/appearance.conf
mkdir -p "$work/no-portals"
XDG_DESKTOP_PORTAL_DIR="$work/no-portals" /usr/libexec/xdg-desktop-portal -r >"$work/portal.log" 2>&1 &
pids+=($!)
portal_without_setting() {
  gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
    -m org.freedesktop.DBus.NameHasOwner org.freedesktop.portal.Desktop | grep -q true && ! portal_scheme
}
within 30 portal_without_setting || fail "the portal without back ends did not come up"
PENDREL_API_BASE_URL=http://127.0.0.1:1 QT_QPA_PLATFORM=xcb "$app" >"$work/app.log" 2>&1 &
program=$!
pids+=("$program")
within 30 look_is dark || fail "the panel did not open dark from GNOME's setting: $(seen)"
grep -q "desktop prefers dark, from gnome" "$work/app.log" || fail "the dark look did not come from GNOME's setting"
gsettings set org.gnome.desktop.interface color-scheme prefer-light
within 10 look_is light || fail "the panel did not follow GNOME's setting to light: $(seen)"
echo "panel-look: light, dark from the portal's signal, light again; dark from the portal at start;" \
  "Appearance Light kept; GNOME's setting followed without the portal's"
