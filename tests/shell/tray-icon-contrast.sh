#!/usr/bin/env bash
# The real program's tray icon on a real tray host (trayer on Xvfb), once on
# trayer's light default and once tinted as Xfce's dark panel (#2b2b2b): the
# icon's strokes stand out from what the tray draws behind them, 3:1 at least.
# Then a style fixed in the configuration file is obeyed even where it is the
# wrong one: "light" on the light tray gives light strokes.
# Usage: tray-icon-contrast.sh <pendrel-publisher>
set -euo pipefail
app="$1"
. "$(dirname "$0")/shell-test.sh" tray-icon-contrast

# The contrast (WCAG) between the most common colour of the icon's slot (the
# tray) and the furthest colour that covers at least 12 pixels (strokes).
icon_contrast() {
  local x y
  read -r x y <<<"$(icon_center)" || return 1
  import -window root -crop "22x22+$((x - 11))+$((y - 11))" "$work/icon.png" 2>/dev/null || return 1
  convert "$work/icon.png" -format %c histogram:info:- | python3 -c '
import re, sys
def lum(c):
    def ch(v):
        v /= 255
        return v / 12.92 if v <= 0.04045 else ((v + 0.055) / 1.055) ** 2.4
    return 0.2126 * ch(c[0]) + 0.7152 * ch(c[1]) + 0.0722 * ch(c[2])
rows = []
for line in sys.stdin:
    m = re.match(r"\s*(\d+):\s*\((\d+),(\d+),(\d+)", line)
    if m:
        rows.append((int(m[1]), tuple(int(v) for v in m.group(2, 3, 4))))
bg = max(rows)[1]
def ratio(c):
    a, b = sorted((lum(c), lum(bg)))
    return (b + 0.05) / (a + 0.05)
print("%.2f" % max([ratio(c) for n, c in rows if n >= 12] + [1.0]))'
}
contrast_at_least_3() {
  local r
  r="$(icon_contrast)" || return 1
  echo "$r" >"$work/ratio"
  python3 -c "import sys; sys.exit(0 if float('$r') >= 3 else 1)"
}

contrast_below_3() {
  local r
  r="$(icon_contrast)" || return 1
  echo "$r" >"$work/ratio"
  python3 -c "import sys; sys.exit(0 if float('$r') < 3 else 1)"
}

start_display
for tint in light 0x2b2b2b fixed-light; do
  if [ "$tint" = fixed-light ]; then
    write_appearance 'trayIconStyle=light'
  fi
  args=(--edge top --align right --widthtype request --height 24 --SetDockType true)
  [ "$tint" = light ] || [ "$tint" = fixed-light ] || args+=(--transparent true --alpha 0 --tint "$tint")
  # A fresh server now and then refuses the first connection: start again.
  for attempt in 1 2 3; do
    trayer "${args[@]}" >>"$work/trayer.log" 2>&1 &
    tray=$!
    pids+=("$tray")
    tray_up() { kill -0 "$tray" 2>/dev/null && xwininfo -root -name panel; }
    within 10 tray_up && break
    kill "$tray" 2>/dev/null || true
    [ "$attempt" = 3 ] && fail "the tray host did not start ($tint)"
    sleep 0.5
  done
  PENDREL_API_BASE_URL=http://127.0.0.1:1 QT_QPA_PLATFORM=xcb "$app" >"$work/app.log" 2>&1 &
  program=$!
  pids+=("$program")
  # Docking can take a while on a loaded machine (the package build runs beside it).
  within 30 icon_center || fail "no tray icon appeared ($tint tray)"
  if [ "$tint" = fixed-light ]; then
    within 10 contrast_below_3 || fail "the configured light style was not used: $(cat "$work/ratio" 2>/dev/null):1"
  else
    # The icon is drawn again once the program has seen the tray's colour.
    within 10 contrast_at_least_3 || fail "icon contrast on the $tint tray: $(cat "$work/ratio" 2>/dev/null):1"
  fi
  echo "tray-icon-contrast: $tint tray, $(cat "$work/ratio"):1"
  kill "$program" "$tray"
  wait "$program" "$tray" 2>/dev/null || true
done
