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

# 2. A click opens the panel (a 440-wide window).
xdotool mousemove "$x" "$y" click 1
within 10 panel_shown || fail "a click on the icon did not open the panel"
if command -v import >/dev/null; then import -window root "$artifacts/tray-panel.png" || true; fi

# A second click closes it again (once the panel has settled).
sleep 0.5
xdotool mousemove "$x" "$y" click 1
within 10 panel_hidden || fail "a second click did not close the panel"

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
