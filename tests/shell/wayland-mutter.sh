#!/usr/bin/env bash
# The real program natively on mutter (headless, as GNOME 43 runs it without
# the shell), with GSettings on a real dconf, on a session bus where no
# GlobalShortcuts portal can be activated:
# - the program says Super+Shift+S is not set up yet, and the settings'
#   "Keyboard shortcut" row offers the setup; after it, the log says so;
# - its "Set Up" button, pressed through AT-SPI (mutter has no input
#   injection a test can aim at a widget), writes GNOME's custom keybinding,
#   read back with the gsettings tool;
# - the keybinding's command, run as GNOME's settings daemon runs it while
#   another program's window has the focus, makes the running copy capture
#   what wl-copy put on the clipboard;
# - the panel's look follows GNOME's color-scheme (read directly, there being
#   no portal): dark at start, light when switched while running, and an
#   Appearance of Light kept on a dark desktop (checked in the log: no
#   screenshot here).
# No screenshot: mutter has no screenshot interface without the shell, and
# its screen-cast one needs PipeWire.
# Skips (77) only when mutter is missing.
# Usage: wayland-mutter.sh <pendrel-publisher> <pendrel-devservice> <focus-window>
set -euo pipefail
app="$(cd "$(dirname "$1")" && pwd -P)/$(basename "$1")"
service="$2"
focus_window="$3"
command -v mutter >/dev/null || { echo "wayland-mutter: skipped, mutter is not installed"; exit 77; }
. "$(dirname "$0")/shell-test.sh" wayland-mutter
. "$(dirname "$0")/../../scripts/wayland-desktop.sh"
a11y() { "$(dirname "$0")/a11y.py" "$app_pid" "$@"; }
start_mutter
! gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
  -m org.freedesktop.DBus.ListActivatableNames | grep -q portal || fail "a desktop portal can be activated"

"$service" --port 0 --data-dir "$work/service" >"$work/devservice.log" 2>&1 &
pids+=($!)
within 10 grep -q '^pendrel-devservice listening on ' "$work/devservice.log" || fail "the service did not start"
origin="$(sed -n 's/^pendrel-devservice listening on //p' "$work/devservice.log")"

# A dark desktop, as GNOME's Appearance page sets it; with no portal here the
# program reads GNOME's setting itself.
gsettings set org.gnome.desktop.interface color-scheme prefer-dark
# Without a tray the panel opens at launch. Accessibility on, as a screen
# reader's session has it.
env -u QT_QPA_PLATFORM -u DISPLAY QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 PENDREL_API_BASE_URL="$origin" \
  "$app" >"$work/app.log" 2>&1 &
app_pid=$!
pids+=("$app_pid")
look_line() { grep -qF "Panel look: $1" "$work/app.log"; }
within 30 look_line "dark (appearance automatic; desktop prefers dark, from gnome)" ||
  fail "the panel did not open dark on a dark GNOME desktop"
# Switched back while it runs: followed through GSettings, no restart.
gsettings set org.gnome.desktop.interface color-scheme prefer-light
within 10 look_line "light (appearance automatic; desktop prefers light, from gnome)" ||
  fail "the panel did not follow GNOME's setting to light"
within 30 grep -q 'Keyboard shortcut: Super+Shift+S is not set up yet: “Set Up” under Keyboard shortcut' "$work/app.log" ||
  fail "the program did not point to the settings' setup on mutter without a portal"
# What it said first is that, not a wait for a desktop that asks nothing.
[ "$(grep -m1 'Keyboard shortcut:' "$work/app.log")" = "$(grep 'Keyboard shortcut:' "$work/app.log" | tail -1)" ] ||
  fail "the first shortcut line was: $(grep -m1 'Keyboard shortcut:' "$work/app.log")"

# 1. Signed in (the settings are part of the signed-in panel).
within 30 a11y fill Email demo@pendrel.test || fail "no Email field reached through AT-SPI"
# Once: with Qt's GTK platform theme installed (as Qt's packages recommend),
# GNOME's desktop name has Qt start GTK, whose own bridge listed the
# process again, as an empty GTK application found before the panel.
[ "$(a11y apps)" = Qt ] || fail "the program is listed on the accessibility bus as: $(a11y apps)"
a11y fill Password demo || fail "no Password field"
a11y press "Sign in to Pendrel" || fail "no sign-in button"
within 20 grep -q 'GET /api/tenants 200' "$work/devservice.log" || fail "signing in did not reach the workspace"

# 2. The row offers the setup; nothing is written before the click.
media_keys=org.gnome.settings-daemon.plugins.media-keys
[ "$(gsettings get $media_keys custom-keybindings)" = "@as []" ] || fail "a keybinding was written before the click"
within 20 a11y has label "Add Super+Shift+S to GNOME's keyboard shortcuts to capture from any app." ||
  fail "the Keyboard shortcut row does not offer the setup"
a11y press "Set Up" || fail "no Set Up button"

# 3. The keybinding, as GNOME's Settings › Keyboard reads it.
custom() {
  gsettings get "$media_keys.custom-keybinding:$path" "$1"
}
within 10 sh -c "gsettings get $media_keys custom-keybindings | grep -q custom0" ||
  fail "the setup did not add a custom keybinding: $(gsettings get $media_keys custom-keybindings)"
path=/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/
[ "$(custom name)" = "'Pendrel Publisher: capture'" ] || fail "keybinding name $(custom name)"
[ "$(custom binding)" = "'<Super><Shift>s'" ] || fail "keybinding keys $(custom binding)"
[ "$(custom command)" = "'$app --capture'" ] || fail "keybinding command $(custom command)"
within 10 a11y has "push button" Remove ||
  fail "the row does not offer to remove what it added"
within 10 grep -q "Keyboard shortcut: Super+Shift+S captures the clipboard through GNOME's keyboard shortcuts." \
  "$work/app.log" || fail "nothing was said after the setup"

# 4. The keys pressed in another program's window: GNOME's settings daemon
# runs the command. Here the test runs it, split as a shell splits it, as
# the daemon does.
within 10 a11y active || fail "the panel never had the focus"
# The stand-in is a Qt program too, without that second listing.
NO_AT_BRIDGE=1 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=wayland "$focus_window" >/dev/null 2>"$work/focus-window.log" &
other_pid=$!
pids+=("$other_pid")
other_focused() { ! a11y active && "$(dirname "$0")/a11y.py" "$other_pid" active; }
within 10 other_focused || fail "another program's window did not take the focus from the panel"
text="Copied on mutter $RANDOM"
wl-copy -- "$text" 2>>"$work/wl-copy.log" # its server outlives mutter at the end
within 10 sh -c 'wl-paste -n | grep -q "Copied on mutter"' || fail "wl-copy did not set the clipboard"
command="$(custom command)"
command="${command#\'}"
eval "set -- ${command%\'}"
status=0
timeout 30 "$@" >"$work/capture.log" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "the keybinding's command ended with status $status: $(cat "$work/capture.log")"
captured() {
  local f
  f="$(find "$XDG_DATA_HOME/PendrelPublisher" -name clipper-state.json 2>/dev/null | head -1)"
  [ -n "$f" ] && jq -e --arg t "$text" 'any(.jobs[]; .clip.text == $t)' "$f"
}
within 15 captured || fail "the running copy did not capture the clipboard for the keybinding's command"
kill -0 "$app_pid" || fail "the running copy is gone"
echo "wayland-mutter: no portal, the row's Set Up wrote the GNOME keybinding, its command captured the wl-copy text"

# 5. Other keys chosen (kept in appearance.conf) that a custom shortcut of
# the user's already has: ours follows the keys, and the program says which
# binding holds them instead of claiming it captures.
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
other=/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom1/
gsettings set "$media_keys.custom-keybinding:$other" name Flameshot
gsettings set "$media_keys.custom-keybinding:$other" command flameshot
gsettings set "$media_keys.custom-keybinding:$other" binding '<Primary><Alt>p'
gsettings set $media_keys custom-keybindings "['$other', '$path']"
# Appearance Light chosen in the same file, on a desktop gone dark: the
# user's choice wins.
gsettings set org.gnome.desktop.interface color-scheme prefer-dark
write_appearance 'shortcutKeys=Ctrl+Alt+P' 'panelAppearance=light'
env -u QT_QPA_PLATFORM -u DISPLAY PENDREL_API_BASE_URL="$origin" "$app" >"$work/app.log" 2>&1 &
app_pid=$!
pids+=("$app_pid")
within 30 look_line "light (appearance light; desktop prefers dark, from gnome)" ||
  fail "the Appearance set to Light did not win over GNOME's dark"
within 30 grep -q 'Keyboard shortcut: Ctrl+Alt+P is already “Flameshot” (your custom shortcuts); choose other keys' "$work/app.log" ||
  fail "the program did not name the binding that holds the chosen keys"
[ "$(custom binding)" = "'<Control><Alt>p'" ] || fail "our keybinding did not follow the chosen keys: $(custom binding)"
echo "wayland-mutter: chosen Ctrl+Alt+P held by the user's Flameshot binding: $(grep -o 'Keyboard shortcut: Ctrl+Alt+P.*' "$work/app.log" | tail -1)"
