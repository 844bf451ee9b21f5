# shellcheck shell=bash disable=SC2154
# Shared by the scripts that drive the real program on a headless Wayland
# compositor (KWin, sway or mutter), the way scripts/desktop.sh does for Xvfb.
# Source it after scripts/desktop.sh (for within()) and after defining
# fail(), $work and the pids array; run inside a private D-Bus session
# (dbus-run-session), except for mutter, which starts a bus of its own.

# Puts "$1 <a unique number>" on the clipboard with wl-copy, in $text.
copy() {
  text="$1 $(date +%s%N)"
  wl-copy -- "$text"
  within 10 sh -c 'wl-paste -n | grep -qF "$0"' "$text" || fail "wl-copy did not set the clipboard"
}
# The program's state file holds $text (a capture of it).
captured() {
  local f
  f="$(find "$XDG_DATA_HOME/PendrelPublisher" -name clipper-state.json 2>/dev/null | head -1)"
  [ -n "$f" ] && grep -qF "$text" "$f"
}

# A runtime folder of our own: the compositor's socket and the D-Bus
# activated services live there.
wayland_runtime() {
  export XDG_RUNTIME_DIR="$work/runtime"
  mkdir -p "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  unset DISPLAY WAYLAND_DISPLAY
}

# Services started by D-Bus activation (the portals) see the session's
# display only once it is handed to the bus.
share_session_environment() {
  dbus-update-activation-environment WAYLAND_DISPLAY XDG_SESSION_TYPE XDG_CURRENT_DESKTOP \
    XDG_RUNTIME_DIR QT_QPA_PLATFORM HOME XDG_CONFIG_HOME XDG_DATA_HOME >/dev/null 2>&1
}

# KWin on its virtual back end, 1280x800 unless told ("WIDTH HEIGHT").
# KWin carries the file capability cap_sys_resource, which a container
# refuses at exec; a plain copy of the binary runs without it.
start_kwin() {
  local width="${1:-1280}" height="${2:-800}"
  wayland_runtime
  cp /usr/bin/kwin_wayland "$work/kwin_wayland"
  "$work/kwin_wayland" --virtual --no-lockscreen --socket pendrel-wl --width "$width" --height "$height" \
    >"$work/kwin.log" 2>&1 &
  pids+=($!)
  within 20 test -S "$XDG_RUNTIME_DIR/pendrel-wl" || fail "KWin did not start"
  export WAYLAND_DISPLAY=pendrel-wl XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=KDE QT_QPA_PLATFORM=wayland
  # KWin serves kglobalaccel itself.
  within 20 bus_has org.kde.kglobalaccel || fail "KWin's kglobalaccel did not appear"
  share_session_environment
}

# The desktop portal, started by activation; waits for GlobalShortcuts.
# It brings the document portal, whose FUSE mount in the runtime folder
# must go before the folder can.
start_portal() {
  trap 'unmount_documents; if declare -F cleanup >/dev/null; then cleanup; fi' EXIT
  within 40 portal_version || fail "the GlobalShortcuts portal did not come up"
}
unmount_documents() {
  if mountpoint -q "$XDG_RUNTIME_DIR/doc" 2>/dev/null; then
    fusermount -u "$XDG_RUNTIME_DIR/doc" 2>/dev/null || umount -l "$XDG_RUNTIME_DIR/doc" 2>/dev/null || true
  fi
}
portal_version() {
  gdbus call --session -d org.freedesktop.portal.Desktop -o /org/freedesktop/portal/desktop \
    -m org.freedesktop.DBus.Properties.Get org.freedesktop.portal.GlobalShortcuts version
}

bus_has() {
  gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
    -m org.freedesktop.DBus.NameHasOwner "$1" | grep -q true
}

# sway on wlroots' headless back end, one output of WIDTH x HEIGHT, no bar,
# and any further configuration lines given after the size.
# sway refuses to run as root, so a root caller runs it as nobody; root
# still reaches its socket. "${sway_user[@]}" runs a command as sway's user
# (what sway's own bindings start runs as that user too).
start_sway() {
  local width="${1:-1280}" height="${2:-800}"
  local extra=("${@:3}")
  wayland_runtime
  sway_user=()
  if [ "$(id -u)" -eq 0 ]; then
    sway_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    chmod 711 "$work"
    chown 65534:65534 "$XDG_RUNTIME_DIR"
    chown -R 65534:65534 "$HOME"
  fi
  printf 'output HEADLESS-1 mode %sx%s\nfloating_modifier none\n' "$width" "$height" >"$work/sway.cfg"
  [ ${#extra[@]} -eq 0 ] || printf '%s\n' "${extra[@]}" >>"$work/sway.cfg"
  chmod 644 "$work/sway.cfg"
  WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman HOME="$XDG_RUNTIME_DIR" \
    "${sway_user[@]}" sway -c "$work/sway.cfg" >"$work/sway.log" 2>&1 &
  pids+=($!)
  within 20 sway_socket || fail "sway did not start"
  WAYLAND_DISPLAY="$(sway_socket)"
  local ipc
  for ipc in "$XDG_RUNTIME_DIR"/sway-ipc.*; do SWAYSOCK="$ipc"; done
  export WAYLAND_DISPLAY SWAYSOCK XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=sway
  within 10 swaymsg -t get_outputs || fail "sway does not answer"
}
sway_socket() {
  local s
  for s in "$XDG_RUNTIME_DIR"/wayland-*; do
    case "$s" in *.lock) ;; *) [ -S "$s" ] && { basename "$s"; return 0; } ;; esac
  done
  return 1
}

# mutter as GNOME 43 runs it, headless with one virtual monitor, on a session
# bus of its own that offers dconf (GSettings) and the accessibility bus but
# no desktop portal: GNOME's portal back end before 48 has no
# GlobalShortcuts. The seat gets a keyboard and a pointer (scripts/mutter-seat).
start_mutter() {
  local width="${1:-1280}" height="${2:-800}"
  wayland_runtime
  export GSETTINGS_BACKEND=dconf
  start_gnome_bus
  mutter --headless --wayland --no-x11 --virtual-monitor "${width}x${height}" --wayland-display pendrel-wl \
    >"$work/mutter.log" 2>&1 &
  pids+=($!)
  within 20 test -S "$XDG_RUNTIME_DIR/pendrel-wl" || fail "mutter did not start"
  export WAYLAND_DISPLAY=pendrel-wl XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME
  within 20 bus_has org.gnome.Mutter.RemoteDesktop || fail "mutter's remote desktop service did not appear"
  "$(dirname "${BASH_SOURCE[0]}")/mutter-seat" >"$work/mutter-seat.log" 2>&1 &
  pids+=($!)
  within 10 grep -q '^ready' "$work/mutter-seat.log" || fail "mutter's seat got no keyboard: $(cat "$work/mutter-seat.log")"
}

# The bus: only the services named here can be activated. Started with the
# scratch home and runtime folder exported, which the services inherit.
start_gnome_bus() {
  local services="$work/bus-services" name
  mkdir -p "$services"
  for name in ca.desrt.dconf org.a11y.Bus; do
    cp "/usr/share/dbus-1/services/$name.service" "$services/"
  done
  cat >"$work/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$work/bus</listen>
  <servicedir>$services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
  # The accessibility bus is this session's (org.a11y.Bus here), for the
  # program and the AT-SPI client alike: a desktop's own, named by the
  # environment the tests were started from, holds neither.
  unset AT_SPI_BUS_ADDRESS
  dbus-daemon --config-file="$work/bus.conf" --nofork >"$work/bus.log" 2>&1 &
  pids+=($!)
  export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/bus"
  within 10 bus_has org.freedesktop.DBus || fail "the session bus did not start"
  # Activated services are the bus's children, not ours: ended with it.
  trap 'end_bus_services; cleanup' EXIT
}
end_bus_services() {
  local name pid
  for name in $(gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
    -m org.freedesktop.DBus.ListNames 2>/dev/null | grep -o "'[a-z][^']*'" | tr -d "'"); do
    pid="$(gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
      -m org.freedesktop.DBus.GetConnectionUnixProcessID "$name" 2>/dev/null | grep -o '[0-9]\+' | tail -1)"
    [ -n "$pid" ] && [ "$pid" != $$ ] && pids+=("$pid")
  done
}

# The press-keys arguments that type $1 (letters, digits, "@" and ".").
type_keys() {
  local text="$1" i c
  for ((i = 0; i < ${#text}; i++)); do
    c="${text:i:1}"
    case "$c" in
      @) echo Shift+2 ;;
      .) echo period ;;
      *) echo "$c" ;;
    esac
  done
}
# The development service on a free port, its address in $origin.
start_devservice() {
  "$1" --port 0 --data-dir "$work/service" >"$work/devservice.log" 2>&1 &
  pids+=($!)
  within 10 grep -q '^pendrel-devservice listening on ' "$work/devservice.log" || fail "the service did not start"
  origin="$(sed -n 's/^pendrel-devservice listening on //p' "$work/devservice.log")"
}
