#!/usr/bin/env bash
# What a screen reader finds of the panel, read with the real AT-SPI client
# library from the real accessibility bus (at-spi2-core's bus launcher and
# registry, on a session bus of the test's own), with the real program on
# Xvfb: in its window form (no tray) and as the popup a click on the icon
# in trayer opens. Both times the application lists the panel as a frame,
# every focusable control in it has a name and the sign-in form's controls
# are there by name and role; Tab from the e-mail field reaches the password
# field by its name, and a password typed with real keys reaches the bus as
# mask characters only (every event recorded). In the popup, signed in to
# the local development service through AT-SPI, so is the signed-in panel;
# there every switch and button kind does through its accessibility action
# ("Toggle", "Press") what a click does (the state file and the autostart
# entry say so), disclosures are expandable buttons, and a job sent from the
# panel is told as notifications: working, its stages, ready; Escape on an
# open drop-down list closes the list only, the next one the panel. Help
# labels that are controls' descriptions are never left told as shown, on
# signing in nor on opening the popup again: a reader told so reads them
# all in one block on entering Settings.
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

state_has() {
  local f
  f="$(find "$XDG_DATA_HOME/PendrelPublisher" -name clipper-state.json 2>/dev/null | head -1)"
  [ -n "$f" ] && grep -Eq "$1" "$f"
}
has_state() { a11y states "$1" "$2" | tr ' ' '\n' | grep -qx "$3"; }
# Each press on a disclosure, by its action and by the keyboard, is told to
# the reader as it happens, and what it shows or hides follows.
told_disclosure() {
  local how was now
  has_state "push button" "$1" expandable || fail "$1 is not an expandable button: $(a11y states "push button" "$1")"
  for how in "${@:2}"; do
    was=collapsed now=expanded
    has_state "push button" "$1" expanded && was=expanded now=collapsed
    a11y tell-expanded "push button" "$1" "$how" >"$work/told" ||
      fail "$how on $1 was not told:"$'\n'"$(sed 's/^/    /' "$work/told")"
    within 5 has_state "push button" "$1" "$now" || fail "$how on $1 left it $was"
    # What Recent jobs shows or hides follows: the empty history's line.
    if [ "$1" = "Recent jobs" ]; then
      if [ "$now" = expanded ]; then
        within 5 a11y has label "No history yet." || fail "$how on Recent jobs did not show the list"
      else
        within 5 eval '! a11y has label "No history yet."' || fail "$how on Recent jobs did not hide the list"
      fi
    fi
  done
}
# What voice control and switch access do: the widgets' own actions.
reader_actions() {
  local round on shows
  for round in 1 2; do
    on=true
    has_state "check box" Humanize checked && on=false
    a11y act "check box" Humanize Toggle || fail "no Toggle action on Humanize"
    within 5 state_has "\"enableHumanize\" *: *$on" || fail "Toggle on Humanize did not reach the settings (round $round)"
    shows=false
    has_state "check box" Humanize checked && shows=true
    [ "$shows" = "$on" ] || fail "Humanize shows $shows, the settings say $on (round $round)"
  done
  a11y act "check box" "Launch at login" Toggle || fail "no Toggle action on Launch at login"
  sleep 1
  # On only with the entry written; refused, it shows off.
  if has_state "check box" "Launch at login" checked; then
    test -f "$XDG_CONFIG_HOME/autostart/com.pendrel.publisher.desktop" ||
      fail "Launch at login shows on without the autostart entry"
  fi
  told_disclosure "Recent jobs" Press key Press key
  # A capture that fails is told as the panel shows it: each time, also
  # when the message is the one already shown.
  a11y listen 8 notification >"$work/said" &
  local listener=$!
  sleep 2
  a11y press "Use Clipboard" && sleep 1.5 && a11y press "Use Clipboard" && sleep 1.5 && a11y press Extract ||
    fail "no Use Clipboard or Extract button"
  wait "$listener"
  [ "$(grep -c '^Clipboard does not contain text\.$' "$work/said")" = 2 ] && grep -q '^Enter a valid URL\.$' "$work/said" ||
    fail "failed captures were not told:"$'\n'"$(sed 's/^/    /' "$work/said")"
  # A job sent from the panel is told as it goes; slowed down so that its
  # "Logs" can be opened and closed while it works.
  curl -fsS -X POST "$origin/_dev/latency?ms=2500" >/dev/null || fail "the service's latency could not be set"
  a11y listen 45 notification >"$work/said" &
  listener=$!
  sleep 2
  # A text job (nothing to fetch), captured from the clipboard.
  printf 'A short article about screen readers and the people who use them every day.' |
    xclip -selection clipboard &
  pids+=($!)
  sleep 0.5
  a11y press "Use Clipboard" || fail "no Use Clipboard button"
  # Sent on capture with Auto-send on (the default); else by the button.
  sleep 1
  a11y press "Send to Lumenflow" || true
  within 10 a11y has "push button" Logs || fail "no Logs button while the job works"
  told_disclosure Logs Press key
  curl -fsS -X POST "$origin/_dev/reset" >/dev/null || fail "the service's latency could not be reset"
  wait "$listener"
  grep -q '^Working: ' "$work/said" && grep -q '^Ready: ' "$work/said" ||
    fail "a job's progress was not told:"$'\n'"$(sed 's/^/    /' "$work/said")"
}

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
  a11y type-secret demo >"$work/typed" 2>&1 ||
    fail "$form: typing a password, as AT-SPI has it:"$'\n'"$(sed 's/^/    /' "$work/typed")"
  if [ "$form" = popup ]; then
    # What the bus hears of the help labels that signing in shows.
    a11y help-shown 12 >"$work/help" &
    helps=$!
    sleep 2
    a11y fill Email demo@pendrel.test && a11y fill Password demo && a11y press "Sign in to Pendrel" ||
      fail "popup: the sign-in form could not be used through AT-SPI"
    within 30 panel_tree "${signed_in[@]}" ||
      fail "$form: the signed-in panel as AT-SPI has it:"$'\n'"$(sed 's/^/    /' "$work/tree")"
    wait "$helps" || fail "popup: help labels told as shown on signing in:"$'\n'"$(sed 's/^/    /' "$work/help")"
    reader_actions
    # Opened again, to a reader that has read it before.
    close_panel || fail "a click on the icon did not put the panel away"
    a11y help-shown 8 >"$work/help" &
    helps=$!
    sleep 2
    open_panel || open_panel || fail "a click on the icon did not open the panel again"
    wait "$helps" || fail "popup: help labels told as shown on opening again:"$'\n'"$(sed 's/^/    /' "$work/help")"
    # Escape on an open list closes the list; the next puts the panel away.
    a11y focus "combo box" Size || fail "the Size list could not be focused"
    sleep 0.5
    xdotool key alt+Down
    within 5 has_state "combo box" Size expanded || fail "Alt+Down did not open the Size list"
    xdotool key Escape
    within 5 has_state "combo box" Size collapsed || fail "Escape did not close the Size list"
    sleep 0.5
    panel_shown || fail "Escape on the open Size list put the panel away"
    xdotool key Escape
    within 5 panel_hidden || fail "Escape did not put the panel away"
  fi
  kill "$app_pid"
  wait "$app_pid" || true
done
echo "panel-a11y: the panel is in the accessible tree, with names, in both forms"
