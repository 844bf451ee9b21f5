# Shared by ./run without a display and the scripts that drive the real
# program on a virtual X11 desktop. Source it after defining fail(), $work
# and the pids array.

# Wait up to $1 seconds for the command to succeed.
within() {
  local seconds="$1"; shift
  local end=$((SECONDS + seconds))
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -ge "$end" ] && return 1
    sleep 0.2
  done
}

# Xvfb with the trayer tray host (at the top, or at $tray_edge); exports DISPLAY.
start_desktop() {
  start_display
  start_tray_host
}
# The screen is 1280x800 unless $screen_size says otherwise ("1024x768").
start_display() {
  # -noreset: by default the server resets whenever its last client leaves,
  # and refuses connections while it does; between two programs of a test
  # (a tray host stopped, the next one started) that made the next one die
  # with "cannot open display".
  rm -f "$work/display"
  Xvfb -displayfd 3 -noreset -screen 0 "${screen_size:-1280x800}x24" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  pids+=($!)
  within 10 test -s "$work/display" || fail "Xvfb did not start"
  export DISPLAY=":$(cat "$work/display")"
  # An X11 session, whatever the one the tests were started from: the
  # program picks its shortcut path by the session type.
  export XDG_SESSION_TYPE=x11
  unset WAYLAND_DISPLAY
}
start_tray_host() {
  local attempt pid
  # On a loaded machine the first connection to a fresh server is now and
  # then refused; the tray host then exits at once and is simply started again.
  for attempt in 1 2 3; do
    trayer --edge "${tray_edge:-top}" --align right --widthtype request --height 24 --SetDockType true >>"$work/trayer.log" 2>&1 &
    pid=$!
    pids+=("$pid")
    tray_host_up() { kill -0 "$pid" 2>/dev/null && xwininfo -root -name panel; }
    within 10 tray_host_up && return 0
    kill "$pid" 2>/dev/null || true
    sleep 0.5
  done
  fail "the tray host did not start"
}

# The centre of the tray icon as "x y".
icon_center() {
  local size position pos width height
  # The icon's window: the panel has the same name and class, but is large.
  read -r size position <<<"$(xwininfo -root -tree |
    awk '/"Pendrel Publisher": \("pendrel-publisher"/ { split($(NF-1), wh, "x"); if (wh[1] < 100) { print $(NF-1), $NF; exit } }')"
  [ -n "${size:-}" ] || return 1
  width="${size%%x*}"; height="${size#*x}"; pos="${position#+}"
  echo "$(( ${pos%%+*} + width / 2 )) $(( ${pos#*+} + height / 2 ))"
}

# A visible panel window, 440 wide, or of the size given ("440x548").
panel_shown() {
  local id
  for id in $(xdotool search --onlyvisible --name '^Pendrel Publisher$' 2>/dev/null); do
    xdotool getwindowgeometry "$id" | grep -q "Geometry: ${1:-440x}" && return 0
  done
  return 1
}
panel_hidden() { ! panel_shown; }
# The visible panel is the popup form (placed by the program, no frame).
panel_is_popup() {
  local id
  for id in $(xdotool search --onlyvisible --name '^Pendrel Publisher$' 2>/dev/null); do
    # Whole outputs: grep -q leaving a pipe early fails it under pipefail.
    [[ "$(xdotool getwindowgeometry "$id")" == *"Geometry: 440x"* ]] &&
      [[ "$(xwininfo -id "$id")" == *"Override Redirect State: yes"* ]] && return 0
  done
  return 1
}

# Click the tray icon to open or close the panel, as a person would.
open_panel() {
  panel_shown && return 0
  local xy
  xy="$(icon_center)" || return 1
  # shellcheck disable=SC2086
  # A click within a moment of the panel closing counts as the click that
  # closed it; give it that moment, as a person would.
  sleep 1
  xdotool mousemove $xy click 1
  within 10 panel_shown
}
close_panel() {
  panel_shown || return 0
  local xy
  xy="$(icon_center)" || return 1
  sleep 0.3
  # shellcheck disable=SC2086
  xdotool mousemove $xy click 1
  within 5 panel_hidden
}
# Put the text on the clipboard and press Super+Shift+S.
capture_text() {
  printf '%s' "$1" | xclip -selection clipboard -loops 1 &
  sleep 0.3
  xdotool key super+shift+s
}

# Type the demo account into the open panel's sign-in form; Return then
# signs in.
fill_in_demo_account() {
  xdotool type --delay 20 "demo@pendrel.test"
  xdotool key Return
  xdotool type --delay 20 "demo"
}

# The visible panel's geometry as "x y width height".
panel_geometry() {
  local id
  for id in $(xdotool search --onlyvisible --name '^Pendrel Publisher$' 2>/dev/null); do
    xwininfo -id "$id" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
      /Width:/ {w=$NF} /Height:/ {h=$NF} END { if (w >= 400) print x, y, w, h; else exit 1 }' && return 0
  done
  return 1
}
