#!/usr/bin/env bash
# The real program on Xfce's real panel: xfce4-panel 4.18, whose Status Tray
# plugin is the StatusNotifierWatcher and host, with xfconfd and xfwm4 on
# Xvfb and a D-Bus session of its own.
# - The icon is a StatusNotifierItem the watcher lists, drawn on the panel
#   (dark, Xfce's default, and light: both saved to the artifact folder),
#   3:1 at least against it, also when the panel switches between dark and
#   light while the program runs; the item has accessible descriptions.
# - A click opens the panel below the icon, inside the area the Xfce panel
#   leaves free; a second click closes it.
# - A right-click opens the item's menu (the host's menu window, built from
#   what the item exports over dbusmenu).
# - The item's tooltip is the name alone while idle, and says the program
#   needs attention once a capture has failed.
# - Started before the panel, as at login: the panel shows as a window, and
#   once the Xfce panel is up the program registers with its watcher and the
#   window gives way to the icon, which then opens the panel.
# - In an Xfce session (xfsettingsd serving the GTK theme) the panel's look
#   follows the theme: dark with Adwaita-dark at start, light and dark again
#   as the user switches themes while the panel is shown.
# Skips (77) only when the Xfce packages are missing.
# Usage: xfce-tray.sh <pendrel-publisher> <artifact folder>
set -euo pipefail
app="$1"
artifacts="$2"
for tool in xfce4-panel xfwm4 xfsettingsd xfconf-query gdbus import dbus-run-session; do
  command -v "$tool" >/dev/null || { echo "xfce-tray: skipped, $tool is not installed"; exit 77; }
done
xfconfd=/usr/lib/x86_64-linux-gnu/xfce4/xfconf/xfconfd
[ -x "$xfconfd" ] || { echo "xfce-tray: skipped, xfconfd is not installed"; exit 77; }
# A bus of our own that starts nothing by itself: the panel's watcher must
# not meet other tests, and xfconfd is started here.
if [ -z "${PENDREL_OWN_BUS:-}" ]; then
  PENDREL_OWN_BUS=1 exec dbus-run-session --config-file="$(dirname "$0")/quiet-session-bus.conf" -- "$0" "$@"
fi
mkdir -p "$artifacts"
. "$(dirname "$0")/shell-test.sh" xfce-tray
export NO_AT_BRIDGE=1
start_display

# A top panel across the screen: a spacer, then the Status Tray plugin.
channel="$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml"
mkdir -p "$channel"
cat >"$channel/xfce4-panel.xml" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="dark-mode" type="bool" value="true"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="icon-size" type="uint" value="16"/>
      <property name="size" type="uint" value="26"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
        <value type="int" value="2"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="separator">
      <property name="expand" type="bool" value="true"/>
      <property name="style" type="uint" value="0"/>
    </property>
    <property name="plugin-2" type="string" value="systray">
      <property name="square-icons" type="bool" value="true"/>
    </property>
  </property>
</channel>
EOF
"$xfconfd" >"$work/xfconfd.log" 2>&1 &
pids+=($!)
within 10 xfconf-query -c xfce4-panel -p /panels/dark-mode || fail "xfconfd did not start"
xfwm4 --compositor=off --sm-client-disable >"$work/xfwm4.log" 2>&1 &
pids+=($!)
within 10 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' || fail "xfwm4 did not start"

start_xfce_panel() {
  xfce4-panel --sm-client-disable >>"$work/xfce4-panel.log" 2>&1 &
  xfce_panel=$!
  pids+=("$xfce_panel")
}
# The panel and the plugin processes it started.
stop_xfce_panel() {
  local plugins
  plugins="$(pgrep -P "$xfce_panel" || true)"
  # shellcheck disable=SC2086
  stop "$xfce_panel" $plugins
}
stop() { kill "$@" 2>/dev/null || true; wait "$@" 2>/dev/null || true; }
start_app() {
  env "$@" PENDREL_API_BASE_URL=http://127.0.0.1:1 QT_QPA_PLATFORM=xcb "$app" >"$work/app.log" 2>&1 &
  app_pid=$!
  pids+=("$app_pid")
}
# The program's entry in the watcher's list ("bus name/object path").
registered_item() {
  local item pid
  for item in $(gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
    -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems |
    grep -o "'[^']*'" | tr -d "'"); do
    pid="$(gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
      -m org.freedesktop.DBus.GetConnectionUnixProcessID "${item%%/*}" | sed 's/.*uint32 \([0-9]*\).*/\1/')"
    [ "$pid" = "$app_pid" ] && { echo "$item"; return 0; }
  done
  return 1
}
registered() { registered_item >/dev/null; }
# The Xfce panel's window: "width height x y".
xfce_panel_area() {
  xwininfo -root -tree | awk '/"xfce4-panel": \("xfce4-panel"/ {
    split($(NF-1), wh, /[x+]/); split($NF, xy, "+"); if (wh[1] > 100) { print wh[1], wh[2], xy[2], xy[3]; exit } }'
}
# The Status Tray plugin's window inside the panel (not the plugin's
# tooltips, top-level windows of the same process): "width height x y".
tray_area() {
  local pw ph px py
  read -r pw ph px py <<<"$(xfce_panel_area)" || return 1
  xwininfo -root -tree | awk -v top="$py" -v bottom="$((py + ph))" '/"wrapper-2.0": \("wrapper-2.0"/ {
    split($(NF-1), wh, /[x+]/); split($NF, xy, "+");
    if (wh[2] >= 16 && xy[3] >= top && xy[3] + wh[2] <= bottom) { print wh[1], wh[2], xy[2], xy[3]; exit } }'
}
# Something besides the panel's own colour is drawn in the tray: at least 20
# pixels away from the most common colour of the plugin's area.
icon_drawn() {
  local w h x y
  read -r w h x y <<<"$(tray_area)" || return 1
  [ "$w" -ge 16 ] || return 1
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$work/tray.png" 2>/dev/null || return 1
  convert "$work/tray.png" -format %c histogram:info:- | python3 -c '
import re, sys
rows = [(int(m[1]), tuple(int(v) for v in m.group(2, 3, 4)))
        for m in (re.match(r"\s*(\d+):\s*\((\d+),(\d+),(\d+)", l) for l in sys.stdin) if m]
bg = max(rows)[1]
other = sum(n for n, c in rows if max(abs(a - b) for a, b in zip(c, bg)) > 48)
sys.exit(0 if other >= 20 else 1)'
}
# The contrast (WCAG) between the tray's most common colour (the panel)
# and the furthest colour covering at least 12 pixels (the icon's strokes).
icon_contrast() {
  local w h x y
  read -r w h x y <<<"$(tray_area)" || return 1
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$work/contrast.png" 2>/dev/null || return 1
  convert "$work/contrast.png" -format %c histogram:info:- | python3 -c '
import re, sys
def lum(c):
    def ch(v):
        v /= 255
        return v / 12.92 if v <= 0.04045 else ((v + 0.055) / 1.055) ** 2.4
    return 0.2126 * ch(c[0]) + 0.7152 * ch(c[1]) + 0.0722 * ch(c[2])
rows = [(int(m[1]), tuple(int(v) for v in m.group(2, 3, 4)))
        for m in (re.match(r"\s*(\d+):\s*\((\d+),(\d+),(\d+)", l) for l in sys.stdin) if m]
bg = max(rows)[1]
def ratio(c):
    a, b = sorted((lum(c), lum(bg)))
    return (b + 0.05) / (a + 0.05)
print("%.2f %s" % (max([ratio(c) for n, c in rows if n >= 12] + [1.0]), "light" if lum(bg) > 0.5 else "dark"))'
}
# The panel has redrawn in the shade given ($1: light or dark), and the icon
# stands out from it (3:1 at least); the ratio in $work/ratio.
contrast_ok() {
  local r shade
  read -r r shade <<<"$(icon_contrast)" || return 1
  echo "$r" >"$work/ratio"
  [ "$shade" = "$1" ] || return 1
  python3 -c "import sys; sys.exit(0 if float('$r') >= 3 else 1)"
}
ratio() { cat "$work/ratio" 2>/dev/null; }
tray_center() {
  local w h x y
  read -r w h x y <<<"$(tray_area)" || return 1
  echo "$((x + w / 2)) $((y + h / 2))"
}
click_tray() {
  local xy; xy="$(tray_center)"
  # A click within a moment of the popup closing counts as the click that closed it.
  sleep 1
  # shellcheck disable=SC2086
  xdotool mousemove $xy click "${1:-1}"
}
panel_geometry() {
  local id geometry
  for id in $(xdotool search --onlyvisible --name '^Pendrel Publisher$' 2>/dev/null); do
    # Read whole: grep -q leaving early would fail the pipe (pipefail).
    geometry="$(xdotool getwindowgeometry --shell "$id")"
    [[ "$geometry" == *$'\nWIDTH=440\n'* ]] || continue
    echo "$geometry" | tr '\n' ' '
    return 0
  done
  return 1
}
# The menu the host shows: a new visible top-level window of its plugin process.
menu_windows() {
  xwininfo -root -children | awk '/"wrapper-2.0"|\(has no name\)/ && $(NF-1) ~ /^[0-9]+x[0-9]+/ {
    split($(NF-1), wh, /[x+]/); if (wh[1] > 60 && wh[2] > 60) print $1 }' |
    while read -r id; do xwininfo -id "$id" | grep -q 'Map State: IsViewable' && echo "$id"; done
}
menu_open() { [ -n "$(menu_windows)" ]; }
menu_closed() { ! menu_open; }
snapshot() {
  local w h x y
  read -r w h x y <<<"$(xfce_panel_area)"
  import -window root -crop "360x${h}+$((w - 360))+${y}" +repage "$work/strip.png"
  convert "$work/strip.png" -scale 300% "$artifacts/xfce-tray-$1.png"
}

# 1. Started after the panel: a StatusNotifierItem on Xfce's dark panel.
start_xfce_panel
within 20 gdbus introspect --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher ||
  fail "the Xfce panel did not start its StatusNotifierWatcher"
# shellcheck disable=SC2207
pids+=($(pgrep -P "$xfce_panel"))
start_app
within 20 registered || fail "the item did not register with the Xfce panel's watcher"
within 10 icon_drawn || fail "nothing is drawn in the Xfce panel's tray"
within 10 contrast_ok dark || fail "the icon on Xfce's dark panel is $(ratio):1"
dark_ratio="$(ratio)"
snapshot dark

# 1b. The item describes itself to screen readers (GNOME's AppIndicator
# extension asks for both, and logs each one missing).
item="$(registered_item)"
item_property() {
  gdbus call --session -d "${item%%/*}" -o "/${item#*/}" \
    -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem "$1"
}
[ "$(item_property IconAccessibleDesc)" = "(<'Pendrel Publisher'>,)" ] ||
  fail "IconAccessibleDesc: $(item_property IconAccessibleDesc 2>&1)"
[ "$(item_property AttentionAccessibleDesc)" = "(<'Pendrel Publisher — Needs attention'>,)" ] ||
  fail "AttentionAccessibleDesc: $(item_property AttentionAccessibleDesc 2>&1)"

# 1c. The desktop switches the panel to light and back while the program
# runs (as at dawn and dusk): the icon follows, both ways.
xfconf-query -c xfce4-panel -p /panels/dark-mode -s false
within 15 contrast_ok light || fail "after Xfce's panel turned light the icon is $(ratio):1 (it was $dark_ratio:1)"
light_ratio="$(ratio)"
snapshot light
xfconf-query -c xfce4-panel -p /panels/dark-mode -s true
within 15 contrast_ok dark || fail "after Xfce's panel turned dark again the icon is $(ratio):1 (light: $light_ratio:1)"
dark_again_ratio="$(ratio)"
snapshot dark-again
echo "xfce-tray: icon contrast $dark_ratio:1 on the dark panel, $light_ratio:1 after the switch to light, $dark_again_ratio:1 back on dark"

# 2. A click opens the panel under the icon, clear of the Xfce panel.
click_tray
within 10 panel_shown || fail "a click on the icon did not open the panel"
eval "$(panel_geometry)"
read -r _ ph _ py <<<"$(xfce_panel_area)"
read -r ix _ <<<"$(tray_center)"
[ "$Y" -ge $((py + ph)) ] && [ "$Y" -le $((py + ph + 12)) ] ||
  fail "the panel is not right below the Xfce panel (y $Y, Xfce panel ends at $((py + ph)))"
[ "$X" -le "$ix" ] && [ $((X + 440)) -ge "$ix" ] && [ $((X + 440)) -le 1280 ] ||
  fail "the panel ($X..$((X + 440))) is not under the icon ($ix) on the screen"
import -window root "$artifacts/xfce-tray-panel.png" || true
click_tray
within 5 panel_hidden || fail "a second click did not close the panel"

# 3. A right-click opens the host's menu, built from the item's dbusmenu.
item="$(registered_item)"
menu_path="$(gdbus call --session -d "${item%%/*}" -o "/${item#*/}" \
  -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem Menu | grep -o "'/[^']*'" | tr -d "'")"
[ -n "$menu_path" ] || fail "the item exports no menu"
gdbus call --session -d "${item%%/*}" -o "$menu_path" -m com.canonical.dbusmenu.GetLayout -- 0 -1 '[]' |
  grep -q "Quit Pendrel Publisher" || fail "the item's dbusmenu does not hold the program's menu"
click_tray 3
within 10 menu_open || fail "a right-click on the icon opened no menu"
import -window root "$artifacts/xfce-tray-menu.png" || true
xdotool key Escape
within 5 menu_closed || fail "the menu did not close"

# 3b. The tooltip the host shows follows the icon: the name alone while
# idle; a capture that cannot reach the service (nothing listens on the
# address) ends in an error, which needs attention.
tooltip_says() {
  gdbus call --session -d "${item%%/*}" -o "/${item#*/}" \
    -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem ToolTip >"$work/tooltip" || return 1
  grep -q "'$1'" "$work/tooltip"
}
tooltip_says "Pendrel Publisher" || fail "the idle tooltip is not the name: $(cat "$work/tooltip")"
printf 'Tooltip check' | xclip -selection clipboard -loops 1 &
sleep 0.3
PENDREL_API_BASE_URL=http://127.0.0.1:1 QT_QPA_PLATFORM=xcb timeout 30 "$app" --capture >"$work/capture.log" 2>&1 ||
  fail "--capture failed: $(cat "$work/capture.log")"
within 30 tooltip_says "Pendrel Publisher — Needs attention" ||
  fail "after a failed capture the tooltip is $(cat "$work/tooltip")"
[ "$(item_property IconAccessibleDesc)" = "(<'Pendrel Publisher — Needs attention'>,)" ] ||
  fail "IconAccessibleDesc does not follow the tooltip: $(item_property IconAccessibleDesc 2>&1)"

# 4. On a light panel, launched after the switch (the program samples the
# panel's colour once its icon is in place).
stop "$app_pid"
xfconf-query -c xfce4-panel -p /panels/dark-mode -s false
start_app
within 20 registered || fail "the item did not register with the light Xfce panel's watcher"
within 10 icon_drawn || fail "nothing is drawn in the light Xfce panel's tray"
within 10 contrast_ok light || fail "the icon launched on Xfce's light panel is $(ratio):1"
stop "$app_pid"
stop_xfce_panel

# 5. Started before the panel.
start_app
within 10 panel_shown || fail "with no tray the panel was not shown as a window"
start_xfce_panel
within 20 registered || fail "the item did not register with a watcher that appeared after launch"
# shellcheck disable=SC2207
pids+=($(pgrep -P "$xfce_panel"))
within 10 panel_hidden || fail "the window stayed once the icon was in the Xfce panel"
within 10 icon_drawn || fail "nothing is drawn in the tray of an Xfce panel that came after the program"
click_tray
within 10 panel_shown || fail "a click on the late icon did not open the panel"
panel_is_popup || fail "the late icon opened the panel as a window, not as its popup"
eval "$(panel_geometry)"
[ "$Y" -ge $((py + ph)) ] && [ "$Y" -le $((py + ph + 12)) ] && [ $((X + 440)) -le 1280 ] ||
  fail "the late icon's panel is not right below the Xfce panel on the screen (at $X,$Y)"
stop_xfce_panel
echo "xfce-tray: registered with xfce4-panel's watcher, drawn on its dark and light panel, panel at $X,$Y, menu from dbusmenu, late watcher taken"

# 6. An Xfce session's look: Xfce states no colour-scheme preference, its
# users choose a dark GTK theme (xsettings /Net/ThemeName, served by
# xfsettingsd); the panel, shown as a window here, follows it live.
stop "$app_pid"
xfconf-query -c xsettings -p /Net/ThemeName -n -t string -s Adwaita-dark
xfsettingsd --sm-client-disable --no-daemon >"$work/xfsettingsd.log" 2>&1 &
pids+=($!)
look_is() { [ "$(grep -o 'Panel look: .*' "$work/app.log" | tail -1)" = "Panel look: $1 (appearance automatic; desktop prefers $1, from xfce)" ]; }
# The shade of the panel window's most common colour.
panel_shade() {
  local id
  id="$(xdotool search --onlyvisible --name '^Pendrel Publisher$' | head -1)"
  [ -n "$id" ] || return 1
  import -window "$id" "$work/look.png" 2>/dev/null || return 1
  convert "$work/look.png" -format %c histogram:info:- | python3 -c '
import re, sys
rows = [(int(m[1]), tuple(int(v) for v in m.group(2, 3, 4)))
        for m in (re.match(r"\s*(\d+):\s*\((\d+),(\d+),(\d+)", l) for l in sys.stdin) if m]
print("light" if sum(max(rows)[1]) / 3 > 128 else "dark")'
}
looks() { look_is "$1" && [ "$(panel_shade)" = "$1" ]; }
start_app XDG_CURRENT_DESKTOP=XFCE
within 10 panel_shown || fail "with no tray the panel was not shown as a window on Xfce"
within 10 looks dark || fail "with Adwaita-dark the panel is $(panel_shade): $(grep 'Panel look' "$work/app.log" | tail -1)"
convert "$work/look.png" -resize 50% "$artifacts/xfce-look-dark.png"
xfconf-query -c xsettings -p /Net/ThemeName -s Adwaita
within 10 looks light || fail "after the switch to Adwaita the panel is $(panel_shade): $(grep 'Panel look' "$work/app.log" | tail -1)"
convert "$work/look.png" -resize 50% "$artifacts/xfce-look-light.png"
xfconf-query -c xsettings -p /Net/ThemeName -s Greybird-dark
within 10 looks dark || fail "after the switch to Greybird-dark the panel is $(panel_shade): $(grep 'Panel look' "$work/app.log" | tail -1)"
echo "xfce-tray: the panel followed the GTK theme: dark with Adwaita-dark, light with Adwaita, dark with Greybird-dark"
