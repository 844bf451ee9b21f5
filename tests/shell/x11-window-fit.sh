#!/usr/bin/env bash
# The panel as an ordinary window (no tray) under a real window manager
# (xfwm4, with its title bar and borders) on small X11 screens, 1280x720 and
# 1024x768: the window and its frame are within the screen when it opens,
# and still after signing in (typed into the form) makes the panel grow
# from 548 to 760 pixels.
# Skips (77) only when xfwm4 is missing.
# Usage: x11-window-fit.sh <pendrel-publisher> <pendrel-devservice> <artifact folder>
set -euo pipefail
app="$1"
service="$2"
artifacts="$3"
for tool in xfwm4 xdotool xprop xwininfo import dbus-run-session; do
  command -v "$tool" >/dev/null || { echo "x11-window-fit: skipped, $tool is not installed"; exit 77; }
done
xfconfd=/usr/lib/x86_64-linux-gnu/xfce4/xfconf/xfconfd
[ -x "$xfconfd" ] || { echo "x11-window-fit: skipped, xfconfd is not installed"; exit 77; }
if [ -z "${PENDREL_OWN_BUS:-}" ]; then
  PENDREL_OWN_BUS=1 exec dbus-run-session --config-file="$(dirname "$0")/quiet-session-bus.conf" -- "$0" "$@"
fi
mkdir -p "$artifacts"
. "$(dirname "$0")/shell-test.sh" x11-window-fit
. "$(dirname "$0")/../../scripts/wayland-desktop.sh" # start_devservice
export NO_AT_BRIDGE=1
start_devservice "$service"
"$xfconfd" >"$work/xfconfd.log" 2>&1 &
pids+=($!)

# The panel's frame as the window manager drew it: "top bottom left right"
# edges on the screen, from the client's place and _NET_FRAME_EXTENTS.
frame_edges() {
  local id x y w h l r t b
  id="$(xdotool search --onlyvisible --name '^Pendrel Publisher$' 2>/dev/null | head -1)"
  [ -n "$id" ] || return 1
  # The client's own place on the screen (xdotool's is off under a frame).
  read -r X Y WIDTH HEIGHT <<<"$(xwininfo -id "$id" | awk '/Absolute upper-left X/ {x=$NF}
    /Absolute upper-left Y/ {y=$NF} /Width:/ {w=$NF} /Height:/ {h=$NF} END {print x, y, w, h}')"
  read -r l r t b <<<"$(xprop -id "$id" _NET_FRAME_EXTENTS | sed -n 's/.*= *//p' | tr -d ',')"
  [ -n "${b:-}" ] && [ "$t" -gt 0 ] || return 1 # framed
  echo "$((Y - t)) $((Y + HEIGHT + b)) $((X - l)) $((X + WIDTH + r)) $HEIGHT"
}
fits() {
  local top bottom left right
  read -r top bottom left right h <<<"$(frame_edges)" || return 1
  echo "$top $bottom $left $right $h" >"$work/edges"
  [ "$top" -ge 0 ] && [ "$bottom" -le "$screen_h" ] && [ "$left" -ge 0 ] && [ "$right" -le "$screen_w" ]
}
edges() { cat "$work/edges" 2>/dev/null; }

for screen_size in 1280x720 1024x768; do
  screen_w="${screen_size%x*}" screen_h="${screen_size#*x}"
  start_display
  xvfb="${pids[-1]}"
  xfwm4 --compositor=off --sm-client-disable >"$work/xfwm4.log" 2>&1 &
  wm=$!
  pids+=("$wm")
  within 10 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' || fail "xfwm4 did not start ($screen_size)"
  rm -rf "$XDG_DATA_HOME/PendrelPublisher" # signed out again
  PENDREL_API_BASE_URL="$origin" QT_QPA_PLATFORM=xcb "$app" >"$work/app.log" 2>&1 &
  app_pid=$!
  pids+=("$app_pid")
  within 20 fits || fail "$screen_size: the panel's frame is off the screen when it opens (top bottom left right height: $(edges))"
  read -r _ _ _ _ signed_out_h <<<"$(edges)"
  xdotool search --onlyvisible --name '^Pendrel Publisher$' windowactivate --sync 2>/dev/null || true
  sleep 0.5
  fill_in_demo_account
  xdotool key Return
  grown() { fits; read -r _ _ _ _ h <<<"$(edges)"; [ "$h" -gt "$signed_out_h" ]; }
  within 30 grown || fail "$screen_size: the panel did not grow after signing in (top bottom left right height: $(edges))"
  sleep 1.5 # the window manager has caught up
  within 10 fits || fail "$screen_size: the signed-in panel's frame is off the screen (top bottom left right height: $(edges))"
  import -window root "$artifacts/x11-window-$screen_size.png" 2>/dev/null || true
  echo "x11-window-fit: $screen_size: frame top $(edges | cut -d' ' -f1), bottom $(edges | cut -d' ' -f2) of $screen_h after signing in (window $(edges | cut -d' ' -f5) high, $signed_out_h before)"
  kill "$app_pid" "$wm" 2>/dev/null || true
  wait "$app_pid" "$wm" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
done
