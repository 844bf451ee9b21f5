#!/usr/bin/env bash
# What a screen reader finds of the panel, read with the real AT-SPI client
# library from the real accessibility bus (at-spi2-core's bus launcher and
# registry, on a session bus of the test's own), with the real program on
# Xvfb: in its window form (no tray) and as the popup a click on the icon
# in trayer opens. Both times the application lists the panel as a frame,
# every focusable control in it has a name and the sign-in form's controls
# are there by name and role; in the popup, signed in to the local
# development service through AT-SPI, so is the signed-in panel.
# Usage: panel-a11y.sh <pendrel-publisher> <pendrel-devservice>
set -euo pipefail
app="$1"
service="$2"
. "$(dirname "$0")/shell-test.sh" panel-a11y
. "$(dirname "$0")/../../scripts/wayland-desktop.sh" # start_gnome_bus
a11y() { "$(dirname "$0")/a11y.py" "$app_pid" "$@"; }
panel_tree() { a11y panel "$@" >"$work/tree"; }
start_display
start_gnome_bus
# A screen reader is running, as Orca says on starting.
gdbus call --session -d org.a11y.Bus -o /org/a11y/bus -m org.freedesktop.DBus.Properties.Set \
  org.a11y.Status ScreenReaderEnabled '<true>' >/dev/null || fail "the accessibility bus did not start"

"$service" --port 0 --data-dir "$work/service" >"$work/devservice.log" 2>&1 &
pids+=($!)
within 10 grep -q '^pendrel-devservice listening on ' "$work/devservice.log" || fail "the service did not start"
origin="$(sed -n 's/^pendrel-devservice listening on //p' "$work/devservice.log")"

signed_out=("push button=Sign in to Pendrel" "text=Email" "password text=Password")
signed_in=("panel=Settings" "combo box=Author" "panel=Crossposting to Social"
  "check box=Crosspost to Demo Shop (Shopify)" "combo box=Demo Company Page")
for form in window popup; do
  [ "$form" = popup ] && start_tray_host
  QT_QPA_PLATFORM=xcb PENDREL_API_BASE_URL="$origin" "$app" >"$work/app.log" 2>&1 &
  app_pid=$!
  pids+=("$app_pid")
  if [ "$form" = popup ]; then
    within 10 icon_center || fail "no tray icon appeared"
    # Under load a click now and then comes before the icon takes clicks.
    open_panel || open_panel || fail "a click on the icon did not open the panel"
  else
    within 10 panel_shown || fail "with no tray the panel was not shown as a window"
  fi
  within 20 panel_tree "${signed_out[@]}" ||
    fail "$form: the signed-out panel as AT-SPI has it:"$'\n'"$(sed 's/^/    /' "$work/tree")"
  if [ "$form" = popup ]; then
    a11y fill Email demo@pendrel.test && a11y fill Password demo && a11y press "Sign in to Pendrel" ||
      fail "popup: the sign-in form could not be used through AT-SPI"
    within 30 panel_tree "${signed_in[@]}" ||
      fail "$form: the signed-in panel as AT-SPI has it:"$'\n'"$(sed 's/^/    /' "$work/tree")"
  fi
  kill "$app_pid"
  wait "$app_pid" || true
done
echo "panel-a11y: the panel is in the accessible tree, with names, in both forms"
