#!/usr/bin/env bash
# The real program natively on headless sway whose screen is shorter than
# the panel: the panel window stays within the screen (its content scrolls)
# and follows it when the screen shrinks,
# and the program says that sway offers it no shortcut of its own.
# Where the program has --capture, the user's binding of it works: sway
# configured with `bindsym Mod4+Shift+s exec <program> --capture`, the keys
# pressed through a virtual keyboard with the standard us keymap, capture
# what wl-copy put on the clipboard, and so does --capture typed in a shell.
# The panel opens dark where GNOME's setting, served by the settings portal
# with its GTK back end, prefers dark, and turns light when it changes; its
# pixels read from grim's pictures.
# Skips (77) only when sway, grim or the Wayland development files are missing.
# Signed in (typed through the virtual keyboard) at 1280x800, the panel grows
# to its signed-in height and still fits, its bottom and "Sign out" on the
# screen. Every capture while another window has the focus reads the
# clipboard with one wl-paste run.
# Usage: wayland-sway.sh <pendrel-publisher> <artifact folder> <focus-window> <press-keys> <pendrel-devservice>
set -euo pipefail
app="$1"
artifacts="$2"
focus_window="$3"
press_keys="${4:-}"
service="${5:-}"
for tool in sway swaymsg grim jq setpriv wl-copy wl-paste; do
  command -v "$tool" >/dev/null || { echo "wayland-sway: skipped, $tool is not installed"; exit 77; }
done
[ -n "$press_keys" ] ||
  { echo "wayland-sway: skipped, press-keys was not built (libwayland-dev, libxkbcommon-dev, plasma-wayland-protocols)"; exit 77; }
mkdir -p "$artifacts"
if [ -z "${PENDREL_OWN_BUS:-}" ]; then
  PENDREL_OWN_BUS=1 exec dbus-run-session --config-file="$(dirname "$0")/quiet-session-bus.conf" -- "$0" "$@"
fi
. "$(dirname "$0")/shell-test.sh" wayland-sway
. "$(dirname "$0")/../../scripts/wayland-desktop.sh"
height=520 # the signed-out panel alone is 548 high
bindings=()
if QT_QPA_PLATFORM=offscreen "$app" --help 2>/dev/null | grep -q -- --capture; then
  bindings=("bindsym Mod4+Shift+s exec $(readlink -f "$app") --capture")
fi
start_sway 1280 "$height" "${bindings[@]}"
start_devservice "$service"
# wl-paste as the program finds it, counting its runs (each one takes the
# focus where the compositor has no data-control protocol).
mkdir -p "$work/bin"
printf '#!/bin/sh\necho "$*" >>%s\nexec %s "$@"\n' "$work/wl-paste.calls" "$(command -v wl-paste)" >"$work/bin/wl-paste"
chmod 755 "$work/bin" "$work/bin/wl-paste"
: >"$work/wl-paste.calls"
chmod 666 "$work/wl-paste.calls"

# The look as a sway user with GNOME's settings has it: color-scheme in dconf,
# served by xdg-desktop-portal with its GTK back end, each run as the
# session's user (nothing is started on demand on this bus).
as_user=("${sway_user[@]}" env GSETTINGS_BACKEND=dconf)
"${as_user[@]}" /usr/libexec/dconf-service >"$work/dconf.log" 2>&1 &
pids+=($!)
within 10 bus_has ca.desrt.dconf || fail "dconf did not start"
"${as_user[@]}" gsettings set org.gnome.desktop.interface color-scheme prefer-dark
"${as_user[@]}" /usr/libexec/xdg-desktop-portal-gtk -r >"$work/portal-gtk.log" 2>&1 &
pids+=($!)
# Only the GTK back end, as on a sway system with xdg-desktop-portal-gtk
# (the KDE one's shortcuts would need KDE's daemon).
mkdir -p "$work/portals"
cp /usr/share/xdg-desktop-portal/portals/gtk.portal "$work/portals/"
XDG_DESKTOP_PORTAL_DIR="$work/portals" "${as_user[@]}" /usr/libexec/xdg-desktop-portal -r >"$work/portal.log" 2>&1 &
pids+=($!)
# Asked as the user too: the portal answers no process it cannot look into.
portal_dark() {
  "${as_user[@]}" gdbus call --session -d org.freedesktop.portal.Desktop -o /org/freedesktop/portal/desktop \
    -m org.freedesktop.portal.Settings.Read org.freedesktop.appearance color-scheme | grep -q 'uint32 1>'
}
within 30 portal_dark || fail "the settings portal does not say dark: $(cat "$work/portal.log" "$work/portal-gtk.log")"
# The program runs as the user sway runs as, like everything in a session.
"${sway_user[@]}" env -u QT_QPA_PLATFORM -u DISPLAY PATH="$work/bin:$PATH" PENDREL_API_BASE_URL="$origin" \
  "$app" >"$work/app.log" 2>&1 &
app_pid=$!
pids+=("$app_pid")
# Without a tray the panel opens at launch, as a window of its own.
panel() {
  swaymsg -t get_tree | jq -e '.. | objects | select(.app_id? == "com.pendrel.publisher" and .visible == true)'
}
within 30 panel || fail "the panel window did not appear natively"
sleep 1 # let sway place it
grim "$artifacts/sway-panel.png" 2>/dev/null || true
read -r y h <<<"$(panel | jq -r '"\(.rect.y) \(.rect.height)"' | head -1)"
[ "$y" -ge 0 ] && [ $((y + h)) -le "$height" ] ||
  fail "the panel runs off the ${height}-pixel screen: y $y, height $h"
# The look: dark from the portal at start; light when the setting changes
# while it runs (the GTK back end's SettingChanged). grim's picture of the
# panel, its margins sampled: "dark", "light" or "mixed".
sway_look() {
  local x y w h p v t tone=""
  read -r x y w h <<<"$(panel | jq -r '"\(.rect.x + .window_rect.x) \(.rect.y + .window_rect.y) \(.window_rect.width) \(.window_rect.height)"' | head -1)"
  grim -g "$x,$y ${w}x$h" "$work/sway-look.png" 2>/dev/null || return 1
  image_tone "$work/sway-look.png" "4,4" "$((w - 16)),4" "4,$((h / 2))" "$((w - 16)),$((h / 2))" "4,$((h - 4))" "$((w - 16)),$((h - 4))"
}
sway_look_is() { [ "$(sway_look)" = "$1" ]; }
within 10 grep -q "Panel look: dark (appearance automatic; desktop prefers dark, from portal)" "$work/app.log" ||
  fail "the panel did not take the dark look from the portal"
within 10 sway_look_is dark || fail "the panel's pixels are not dark: $(sway_look) ($(tr '\n' ' ' <"$work/samples"))"
cp "$work/sway-look.png" "$artifacts/sway-panel-dark.png"
"${as_user[@]}" gsettings set org.gnome.desktop.interface color-scheme prefer-light
within 10 grep -q "Panel look: light (appearance automatic; desktop prefers light, from portal)" "$work/app.log" ||
  fail "the panel did not follow the portal's SettingChanged to light"
within 10 sway_look_is light || fail "the panel's pixels are not light: $(sway_look) ($(tr '\n' ' ' <"$work/samples"))"
cp "$work/sway-look.png" "$artifacts/sway-panel-light.png"
echo "wayland-sway: the look dark from the portal at start, light on its SettingChanged (screenshots sway-panel-dark.png, sway-panel-light.png)"
# The screen shrinks (another monitor mode): the panel follows.
height=420
swaymsg output HEADLESS-1 mode "1280x$height" >/dev/null
fits() {
  read -r y h <<<"$(panel | jq -r '"\(.rect.y) \(.rect.height)"' | head -1)"
  [ "$y" -ge 0 ] && [ $((y + h)) -le "$height" ]
}
within 10 fits || fail "the panel did not follow the screen down to $height pixels: y $y, height $h"
grep -q 'Keyboard shortcut: Super+Shift+S is not available' "$work/app.log" ||
  fail "the program did not say the shortcut is unavailable on sway"
echo "wayland-sway: the panel fits (y $y, height $h of $height); screenshot $artifacts/sway-panel.png"

# A laptop's 1280x800: signed in, the panel grows from 548 to the signed-in
# height; sway keeps a window's top where it was, so grown in place its
# bottom would run off the screen.
height=800
swaymsg output HEADLESS-1 mode "1280x$height" >/dev/null
within 10 fits || fail "the panel does not fit the ${height}-pixel screen: y $y, height $h"
read -r _ signed_out_h <<<"$(panel | jq -r '"\(.rect.y) \(.rect.height)"' | head -1)"
swaymsg '[app_id="com.pendrel.publisher"] focus' >/dev/null
# shellcheck disable=SC2046
# The first press of a new virtual keyboard can be lost (its keymap still
# on the way): a key the panel ignores goes first.
"$press_keys" F12 $(type_keys demo@pendrel.test) Return $(type_keys demo) Return 2>>"$work/press-keys.log" ||
  { cat "$work/press-keys.log" >&2; fail "sway refused the virtual keyboard"; }
within 30 grep -q "GET /api/tenants 200" "$work/devservice.log" ||
  { grim "$artifacts/sway-sign-in-failed.png" 2>/dev/null; fail "typing the demo account did not sign in"; }
grown() {
  read -r y h <<<"$(panel | jq -r '"\(.rect.y) \(.rect.height)"' | head -1)"
  [ "$h" -gt $((signed_out_h + 100)) ]
}
within 10 grown || fail "the panel did not grow after signing in (height $h, before $signed_out_h)"
sleep 1 # let sway place it
within 10 fits || fail "the signed-in panel runs off the ${height}-pixel screen: y $y, height $h"
grim "$artifacts/sway-panel-signed-in.png" 2>/dev/null || true
echo "wayland-sway: signed in, the panel grew from $signed_out_h to $h and fits (y $y of $height); screenshot $artifacts/sway-panel-signed-in.png"

if [ ${#bindings[@]} -eq 0 ]; then
  echo "wayland-sway: the key binding and the command line not checked, this program has no --capture"
  exit 0
fi
# Each capture starts while another program's window has the focus, as
# when the user copied there or typed the command in a terminal: the panel
# that the previous capture opened holds it no more. What the window prints
# is what it was typed, so it holds the focus.
QT_QPA_PLATFORM=wayland "$focus_window" >"$work/typed" 2>"$work/focus-window.log" &
pids+=($!)
focus_other() {
  : >"$work/typed"
  swaymsg '[app_id="org.example.FocusWindow"] focus' >/dev/null 2>&1 &&
    "$press_keys" f Return 2>>"$work/press-keys.log" && grep -q '^f' "$work/typed"
}
# The keys the user bound in sway's configuration.
within 20 focus_other || fail "key presses do not reach the other program's window"
copy "Copied on sway"
"$press_keys" Super+Shift+S 2>"$work/press-keys.log" || { cat "$work/press-keys.log" >&2; fail "sway refused the virtual keyboard"; }
within 15 captured || fail "Super+Shift+S bound to --capture in sway did not capture the clipboard"
one_wl_paste_run() {
  [ "$(wc -l <"$work/wl-paste.calls")" -eq "$1" ] &&
    [ "$(tail -1 "$work/wl-paste.calls")" = "--no-newline --type text/plain;charset=utf-8" ]
}
one_wl_paste_run 1 || fail "the capture ran wl-paste other than once: $(cat "$work/wl-paste.calls")"
# The command typed in a shell.
within 20 focus_other || fail "key presses do not reach the other program's window"
copy "Copied on sway, captured from the command line"
"${sway_user[@]}" "$app" --capture >"$work/capture.log" 2>&1 || { cat "$work/capture.log" >&2; fail "--capture failed"; }
within 15 captured || fail "--capture did not capture the clipboard"
one_wl_paste_run 2 || fail "the capture ran wl-paste other than once: $(cat "$work/wl-paste.calls")"
echo "wayland-sway: Super+Shift+S bound in sway and --capture each captured the wl-copy text"

# Other keys chosen (kept in appearance.conf): the program gives the sway
# line for them in sway's notation; bound as it says, they capture.
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
write_appearance 'shortcutKeys=Ctrl+Alt+P'
"${sway_user[@]}" env -u QT_QPA_PLATFORM -u DISPLAY PATH="$work/bin:$PATH" PENDREL_API_BASE_URL="$origin" \
  "$app" >"$work/app.log" 2>&1 &
app_pid=$!
pids+=("$app_pid")
line='bindsym Ctrl+Mod1+p exec pendrel-publisher --capture'
within 30 grep -qF "Keyboard shortcut: Ctrl+Alt+P is not available on this desktop; capture from the panel, or add “$line” to sway's config." "$work/app.log" ||
  fail "the program did not give the sway line for the chosen keys"
# As the user would, with this build's program for pendrel-publisher.
swaymsg "${line/pendrel-publisher/$(readlink -f "$app")}" >/dev/null || fail "sway refused the line: $line"
within 20 focus_other || fail "key presses do not reach the other program's window"
copy "Copied on sway for the chosen keys"
"$press_keys" Ctrl+Alt+P 2>>"$work/press-keys.log" || { cat "$work/press-keys.log" >&2; fail "sway refused the virtual keyboard"; }
within 15 captured || fail "Ctrl+Alt+P bound as the program said did not capture the clipboard"
echo "wayland-sway: the chosen Ctrl+Alt+P, bound with the program's own line ($line), captured"
