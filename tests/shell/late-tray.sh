#!/usr/bin/env bash
# Started before the desktop's tray (as at login, racing the panel), the
# program shows its panel as a window and docks its icon once a tray appears.
# Usage: late-tray.sh <pendrel-publisher>
set -euo pipefail
app="$1"
work="$(mktemp -d)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "late-tray: $*" >&2
  [ -f "$work/app.log" ] && sed 's/^/  app: /' "$work/app.log" >&2
  exit 1
}

export HOME="$work/home" XDG_DATA_HOME="$work/home/data" XDG_CONFIG_HOME="$work/home/config"
export XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

. "$(dirname "$0")/../../scripts/desktop.sh"
start_display
PENDREL_API_BASE_URL=http://127.0.0.1:1 QT_QPA_PLATFORM=xcb "$app" >"$work/app.log" 2>&1 &
pids+=($!)
within 10 panel_shown || fail "with no tray the panel was not shown as a window"

start_tray_host
within 10 icon_center || fail "the icon did not dock in a tray that appeared later"
# The docked icon works: a click hides the panel, the next shows it again.
click_icon() {
  local xy; xy="$(icon_center)"
  sleep 1
  # shellcheck disable=SC2086
  xdotool mousemove $xy click 1
}
click_icon
within 5 panel_hidden || fail "a click on the late icon did not close the panel"
click_icon
within 5 panel_shown || fail "a click on the late icon did not open the panel"
