#!/usr/bin/env bash
# Started before the desktop's tray (as at login, racing the panel), the
# program shows its panel as a window; once a tray (trayer, XEmbed) appears
# it docks its icon there and the window gives way to it: the icon opens the
# panel from then on. The late StatusNotifierItem host is in xfce-tray.sh.
# Usage: late-tray.sh <pendrel-publisher>
set -euo pipefail
app="$1"
. "$(dirname "$0")/shell-test.sh" late-tray
start_display
PENDREL_API_BASE_URL=http://127.0.0.1:1 QT_QPA_PLATFORM=xcb "$app" >"$work/app.log" 2>&1 &
pids+=($!)
within 10 panel_shown || fail "with no tray the panel was not shown as a window"

start_tray_host
within 10 icon_center || fail "the icon did not dock in a tray that appeared later"
within 5 panel_hidden || fail "the window stayed once the icon was docked"
# The docked icon works: a click shows the panel, the next hides it again.
click_icon() {
  local xy; xy="$(icon_center)"
  sleep 1
  # shellcheck disable=SC2086
  xdotool mousemove $xy click 1
}
click_icon
within 5 panel_shown || fail "a click on the late icon did not open the panel"
panel_is_popup || fail "the late icon opened the panel as a window, not as its popup"
click_icon
within 5 panel_hidden || fail "a click on the late icon did not close the panel"
