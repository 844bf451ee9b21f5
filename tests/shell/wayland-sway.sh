#!/usr/bin/env bash
# The real program natively on headless sway whose screen is shorter than
# the panel: the panel window stays within the screen (its content scrolls)
# and follows it when the screen shrinks,
# and the program says that sway offers it no shortcut of its own.
# Skips (77) only when sway or grim is missing.
# Usage: wayland-sway.sh <pendrel-publisher> <artifact folder>
set -euo pipefail
app="$1"
artifacts="$2"
for tool in sway swaymsg grim jq setpriv; do
  command -v "$tool" >/dev/null || { echo "wayland-sway: skipped, $tool is not installed"; exit 77; }
done
mkdir -p "$artifacts"
if [ -z "${PENDREL_OWN_BUS:-}" ]; then
  PENDREL_OWN_BUS=1 exec dbus-run-session -- "$0" "$@"
fi
. "$(dirname "$0")/shell-test.sh" wayland-sway
. "$(dirname "$0")/../../scripts/wayland-desktop.sh"
height=520 # the signed-out panel alone is 548 high
start_sway 1280 "$height"

env -u QT_QPA_PLATFORM -u DISPLAY PENDREL_API_BASE_URL=http://127.0.0.1:1 "$app" >"$work/app.log" 2>&1 &
pids+=($!)
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
