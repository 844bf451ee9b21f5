#!/usr/bin/env bash
# The real program on a virtual X11 desktop with a tray host: the tray icon
# appears, a click opens the panel, and Super+Shift+S captures the clipboard.
# Usage: tray-smoke.sh <pendrel-publisher> <artifact folder>
set -euo pipefail
app="$1"
artifacts="$2"
mkdir -p "$artifacts"
. "$(dirname "$0")/shell-test.sh" tray-smoke
start_desktop

# Nothing to talk to: jobs fail, which is all this test needs.
PENDREL_API_BASE_URL=http://127.0.0.1:1 QT_QPA_PLATFORM=xcb "$app" >"$work/app.log" 2>&1 &
pids+=($!)

# 1. The icon is embedded in the tray.
within 10 icon_center || fail "no tray icon appeared"
read -r x y <<<"$(icon_center)"

# 2. A click opens the panel (a 440-wide window). The icon gets a moment
# to settle in the tray first, as it would before anyone reaches it.
sleep 1
xdotool mousemove "$x" "$y" click 1
within 10 panel_shown || fail "a click on the icon did not open the panel"
if command -v import >/dev/null; then import -window root "$artifacts/tray-panel.png" || true; fi
# Placed under the icon (the tray is at the top right), on the screen.
read -r px py pw ph <<<"$(panel_geometry)" || fail "no panel geometry"
[ "$py" -ge $((y + 11)) ] && [ "$py" -le $((y + 24)) ] && [ "$px" -ge 0 ] && [ $((px + pw)) -le 1280 ] \
  && [ "$px" -le "$x" ] && [ "$x" -le $((px + pw)) ] || fail "the panel at $px,$py ${pw}x$ph is not under the icon at $x,$y"

# A second click closes it again (once the panel has settled).
sleep 0.5
xdotool mousemove "$x" "$y" click 1
within 10 panel_hidden || fail "a second click did not close the panel"

# A right click opens the menu, with its entries; Escape closes it.
# The menu: a window of ours over everything (override-redirect), neither
# the icon (22 wide) nor the panel (440 wide).
menu_shown() {
  local id info
  for id in $(xdotool search --onlyvisible --classname pendrel-publisher 2>/dev/null); do
    info="$(xwininfo -id "$id")"
    if grep -q "Override Redirect State: yes" <<<"$info" \
      && awk '/Width:/ { exit !($NF >= 100 && $NF < 400) }' <<<"$info"; then
      return 0
    fi
  done
  return 1
}
sleep 0.5
xdotool mousemove "$x" "$y" click 3
within 10 menu_shown || fail "a right click on the icon did not open the menu"
xdotool key Escape
within 5 eval '! menu_shown' || fail "Escape did not close the menu"

# 3. Super+Shift+S captures the clipboard into a job.
text="Tray smoke test $(date +%s)"
printf '%s' "$text" | xclip -selection clipboard -loops 0 &
pids+=($!)
sleep 0.3
xdotool key super+shift+s
captured() {
  local f
  f="$(find "$XDG_DATA_HOME/PendrelPublisher" -name clipper-state.json 2>/dev/null | head -1)"
  [ -n "$f" ] && grep -q "$text" "$f"
}
within 10 captured || fail "Super+Shift+S did not capture the clipboard"
echo "tray-smoke: icon, panel and shortcut work"
