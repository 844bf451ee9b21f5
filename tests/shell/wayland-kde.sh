#!/usr/bin/env bash
# The real program natively on KWin (its virtual back end, headless) with the
# real KDE shortcut daemon KWin serves, xdg-desktop-portal and
# xdg-desktop-portal-kde, on a D-Bus session of its own:
# - the GlobalShortcuts portal's answer is taken for what it is (checked
#   against what kglobalaccel then holds), and the bind is made again when
#   the portal process ends;
# - the program binds Super+Shift+S under the component
#   com.pendrel.publisher, the same one at every launch;
# - Super+Shift+S pressed through KWin's fake input, while a native window
#   of another program has the keyboard focus, captures what wl-copy put on
#   the clipboard; so does kglobalaccel's own invokeShortcut.
# Skips (77) only when the compositor or portal packages are missing.
# - signed in at 1280x800 (the account typed through fake input), the panel
#   grows to its signed-in height and KWin's own account of the window
#   (a KWin script) has its frame within the screen;
# - with Meta+Shift+S held by another component the program names it;
# - on Breeze Dark the panel opens dark, as the KDE portal says, and turns
#   light when Breeze Light is applied, its pixels read from KWin's screenshot.
# Usage: wayland-kde.sh <pendrel-publisher> <tst_portalhotkey> <focus-window> <press-keys> <pendrel-devservice> <artifact folder>
set -euo pipefail
app="$1"
portal_test="$2"
focus_window="$3"
press_keys="${4:-}"
service="${5:-}"
artifacts="${6:-}"
[ -n "$press_keys" ] ||
  { echo "wayland-kde: skipped, press-keys was not built (libwayland-dev, libxkbcommon-dev, plasma-wayland-protocols)"; exit 77; }
for tool in kwin_wayland /usr/libexec/xdg-desktop-portal wl-copy wl-paste gdbus dbus-run-session; do
  command -v "$tool" >/dev/null || { echo "wayland-kde: skipped, $tool is not installed"; exit 77; }
done
[ -x /usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-kde ] ||
  { echo "wayland-kde: skipped, xdg-desktop-portal-kde is not installed"; exit 77; }
# A bus of our own: the portal and KWin's daemon must not meet other tests.
if [ -z "${PENDREL_OWN_BUS:-}" ]; then
  PENDREL_OWN_BUS=1 exec dbus-run-session -- "$0" "$@"
fi
. "$(dirname "$0")/shell-test.sh" wayland-kde
. "$(dirname "$0")/../../scripts/wayland-desktop.sh"
# The session kept at sign-in: KWallet would be started on demand and ask,
# in a window nobody answers, to create a wallet; an unlocked keyring
# answers instead.
mkdir -p "$XDG_CONFIG_HOME"
printf '[Wallet]\nEnabled=false\n' >"$XDG_CONFIG_HOME/kwalletrc"
eval "$(printf 'pendrel-test' | gnome-keyring-daemon --unlock --components=secrets --daemonize)"
[ -z "${GNOME_KEYRING_PID:-}" ] || pids+=("$GNOME_KEYRING_PID")
# KWin offers fake input only to programs whose desktop entry asks for it.
mkdir -p "$XDG_DATA_HOME/applications"
printf '[Desktop Entry]\nType=Application\nName=Key presses for tests\nExec=%s\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n' \
  "$(readlink -f "$press_keys")" >"$XDG_DATA_HOME/applications/pendrel-press-keys.desktop"
# A dark desktop: Breeze Dark chosen in System Settings, which copies the
# scheme's colours into kdeglobals.
cp /usr/share/color-schemes/BreezeDark.colors "$XDG_CONFIG_HOME/kdeglobals"
# KWin's scripts print to its log only with their category on; its screenshot
# interface answers only listed programs, unless told otherwise.
QT_LOGGING_RULES="kwin_scripting.debug=true" KWIN_SCREENSHOT_NO_PERMISSION_CHECKS=1 start_kwin
# What Plasma's startup says of the session: the KDE portal (a Qt program)
# then takes its palette, and with it the colour scheme it reports, from
# kdeglobals through KDE's platform theme.
KDE_SESSION_VERSION=5 dbus-update-activation-environment KDE_SESSION_VERSION
start_portal
start_devservice "$service"
# Another program's window, opened first as on a desktop in use.
QT_QPA_PLATFORM=wayland "$focus_window" >"$work/typed" 2>"$work/focus-window.log" &
pids+=($!)

# 1. The portal on its own.
PENDREL_REAL_PORTAL=1 "$portal_test" realPortal >"$work/portal-test.log" 2>&1 ||
  { cat "$work/portal-test.log" >&2; fail "the program misread the real portal, or did not bind again after it restarted"; }
grep -o 'The real portal.*' "$work/portal-test.log" || true

kglobalaccel() {
  gdbus call --session -d org.kde.kglobalaccel -o "${2:-/kglobalaccel}" -m "$1" "${@:3}"
}
# Meta+Shift+S as kglobalaccel stores keys (Qt's key codes).
super_shift_s=$(( 0x10000000 | 0x02000000 | 0x53 ))
bound_right() {
  kglobalaccel org.kde.KGlobalAccel.allComponents | grep -q "'/component/com_pendrel_publisher'" &&
    kglobalaccel org.kde.KGlobalAccel.shortcut /kglobalaccel \
      "['com.pendrel.publisher', 'capture-clipboard', '', '']" | grep -q "\[$super_shift_s\]"
}
start_app() {
  local expected="${1:-Super+Shift+S captures}"
  # Qt's own choice of platform is left to the program; no X11 server runs.
  env -u QT_QPA_PLATFORM -u DISPLAY PENDREL_API_BASE_URL="$origin" "$app" >"$work/app.log" 2>&1 &
  app_pid=$!
  pids+=("$app_pid")
  within 30 grep -q "Keyboard shortcut: $expected" "$work/app.log" ||
    fail "the program did not report the shortcut bound ($expected)"
}

# Runs a KWin script (JavaScript on stdin); what it prints lands in KWin's log.
kwin_script() {
  local script="$work/script$RANDOM.js" id
  cat >"$script"
  id="$(gdbus call --session -d org.kde.KWin -o /Scripting -m org.kde.kwin.Scripting.loadScript "$script" "${script##*/}" |
    grep -o '[0-9]\+' | head -1)"
  gdbus call --session -d org.kde.KWin -o "/Scripting/Script$id" -m org.kde.kwin.Script.run >/dev/null 2>&1 ||
    gdbus call --session -d org.kde.KWin -o "/$id" -m org.kde.kwin.Script.run >/dev/null
  sleep 0.3
}
# The user clicks the other program's window (the panel, shown at launch
# for want of a tray, may have taken the focus).
focus_other() {
  kwin_script <<'JS'
for (const w of workspace.clientList())
  if (w.caption === "Another program") workspace.activeClient = w;
JS
}

# 2. Bound under the application's component.
start_app
bound_right || fail "kglobalaccel does not hold Meta+Shift+S for com.pendrel.publisher"
components="$(kglobalaccel org.kde.KGlobalAccel.allComponents)"

# 3. Super+Shift+S on the keyboard captures what was copied, while a native
# window of another program has the focus (what it prints is what it was
# typed: the presses reach it, so it holds the focus).
focused() { focus_other && "$press_keys" f Return 2>>"$work/press-keys.log" && grep -q '^f' "$work/typed"; }
within 20 focused || { sort -u "$work/press-keys.log" "$work/focus-window.log" >&2; fail "key presses do not reach the other program's window"; }
copy "Copied on KWin with another window focused"
"$press_keys" Super+Shift+S 2>>"$work/press-keys.log" || { cat "$work/press-keys.log" >&2; fail "KWin refused the key press"; }
within 15 captured || fail "Super+Shift+S pressed over another program's window did not capture the clipboard"

# 4. kglobalaccel's own invocation (what System Settings' test button does).
copy "Copied on KWin"
kglobalaccel org.kde.kglobalaccel.Component.invokeShortcut /component/com_pendrel_publisher capture-clipboard default >/dev/null
within 15 captured || fail "the shortcut did not capture the clipboard"

# 5. The user picks other keys in System Settings (which sets them as a
# foreign shortcut): the program follows, and keeps them at the next launch,
# under the same component.
ctrl_alt_p=$(( 0x04000000 | 0x08000000 | 0x50 ))
kglobalaccel org.kde.KGlobalAccel.setForeignShortcut /kglobalaccel \
  "['com.pendrel.publisher', 'capture-clipboard', '', '']" "[$ctrl_alt_p]" >/dev/null
within 10 grep -q 'Keyboard shortcut: Ctrl+Alt+P captures' "$work/app.log" ||
  fail "the program did not follow the change of keys"
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
start_app 'Ctrl+Alt+P captures'
[ "$(kglobalaccel org.kde.KGlobalAccel.allComponents)" = "$components" ] ||
  fail "a second launch made another component"
echo "wayland-kde: bound under com.pendrel.publisher, Super+Shift+S over another program's window captures the wl-copy text, the user's keys last"

# 6. Signed in on a 1280x800 screen: the panel grows from 548 to the
# signed-in height; KWin keeps a window's top where it was, so grown in
# place its bottom (and "Sign out") would be off the screen.
# The panel's frame and the screen's free area as KWin has them: "x y w h ax ay aw ah".
kwin_panel() {
  kwin_script <<'JS'
for (const w of workspace.clientList()) {
  if (w.caption === "Pendrel Publisher" && !w.minimized) {
    const g = w.frameGeometry, a = workspace.clientArea(KWin.PlacementArea, w);
    print("PANEL " + g.x + " " + g.y + " " + g.width + " " + g.height + " " + a.x + " " + a.y + " " + a.width + " " + a.height);
  }
}
JS
  grep -o 'PANEL .*' "$work/kwin.log" | tail -1 | cut -d' ' -f2-
}
panel_fits() {
  read -r x y w h ax ay aw ah <<<"$(kwin_panel)" || return 1
  [ -n "${ah:-}" ] && [ "$y" -ge "$ay" ] && [ $((y + h)) -le $((ay + ah)) ] && [ "$x" -ge "$ax" ] && [ $((x + w)) -le $((ax + aw)) ]
}
within 10 panel_fits || fail "the signed-out panel does not fit: $(kwin_panel)"
read -r _ _ _ signed_out_h _ <<<"$(kwin_panel)"
# The other program's window had the focus: the user clicks the panel.
kwin_script <<'JS'
for (const w of workspace.clientList())
  if (w.caption === "Pendrel Publisher") workspace.activeClient = w;
JS
# shellcheck disable=SC2046
"$press_keys" F12 $(type_keys demo@pendrel.test) Return $(type_keys demo) Return 2>>"$work/press-keys.log" ||
  { cat "$work/press-keys.log" >&2; fail "KWin refused the key presses"; }
within 30 grep -q "GET /api/tenants 200" "$work/devservice.log" ||
  fail "typing the demo account did not sign in (the other window got: $(tr "\n" " " <"$work/typed"); service: $(tail -3 "$work/devservice.log" | tr "\n" " "))"
grown() { read -r _ _ _ h _ <<<"$(kwin_panel)" && [ "$h" -gt $((signed_out_h + 100)) ]; }
within 10 grown || fail "the panel did not grow after signing in: $(kwin_panel) (before: $signed_out_h high)"
sleep 1
within 10 panel_fits || fail "the signed-in panel runs off the screen: frame and area $(kwin_panel)"
echo "wayland-kde: signed in, the panel's frame grew from $signed_out_h to $(kwin_panel | cut -d' ' -f4) and fits: $(kwin_panel)"

# 6b. The look: dark from the KDE portal's answer at start; light, without a
# restart, when the user picks Breeze Light (kdeglobals rewritten, then the
# change announced as KDE's colour settings announce it: KGlobalSettings'
# notifyChange, PaletteChanged, on which the portal sends SettingChanged).
# KWin's own screenshot of the panel's frame, its margins sampled below the
# title bar: "dark", "light" or "mixed".
kwin_look() {
  local x y w h p v t tone=""
  # The panel on top: the other program's window may have come up over it.
  kwin_script <<'JS'
for (const w of workspace.clientList())
  if (w.caption === "Pendrel Publisher") workspace.activeClient = w;
JS
  read -r x y w h _ <<<"$(kwin_panel)"
  /usr/bin/python3 - "$x" "$y" "$w" "$h" "$work/kwin-shot.ppm" <<'PY' || return 1
import os, sys
from gi.repository import Gio, GLib
x, y, w, h = (int(a) for a in sys.argv[1:5])
r, wfd = os.pipe()
reply, _ = Gio.bus_get_sync(Gio.BusType.SESSION).call_with_unix_fd_list_sync(
    "org.kde.KWin", "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2", "CaptureArea",
    GLib.Variant("(iiuua{sv}h)", (x, y, w, h, {}, 0)), GLib.VariantType("(a{sv})"),
    Gio.DBusCallFlags.NONE, 10000, Gio.UnixFDList.new_from_array([wfd]), None)  # the list owns wfd: closed with it
info = reply.unpack()[0]
with os.fdopen(r, "rb") as f:
    data = f.read()
W, H, stride = info["width"], info["height"], info["stride"]
with open(sys.argv[5], "wb") as out:  # the raw image is 32-bit BGRA
    out.write(b"P6\n%d %d\n255\n" % (W, H))
    for j in range(H):
        row = data[j * stride:j * stride + W * 4]
        out.write(bytes(c for i in range(0, W * 4, 4) for c in (row[i + 2], row[i + 1], row[i])))
PY
  convert "$work/kwin-shot.ppm" "$work/kwin-panel.png"
  image_tone "$work/kwin-panel.png" "4,60" "$((w - 16)),60" "4,$((h / 2))" "$((w - 16)),$((h / 2))" "4,$((h - 4))" "$((w - 16)),$((h - 4))"
}
kwin_look_is() { [ "$(kwin_look)" = "$1" ]; }
# What was seen last, the picture kept with the artifacts.
kwin_seen() {
  mkdir -p "$artifacts"
  cp "$work/kwin-panel.png" "$artifacts/kwin-panel-failed.png" 2>/dev/null || true
  echo "$(kwin_look) ($(tr '\n' ' ' <"$work/samples"))"
}
# The desktop's side first, for a clear failure where KDE's platform theme is missing.
kde_portal_scheme() {
  gdbus call --session -d org.freedesktop.portal.Desktop -o /org/freedesktop/portal/desktop \
    -m org.freedesktop.portal.Settings.Read org.freedesktop.appearance color-scheme
}
kde_portal_scheme | grep -q 'uint32 1>' ||
  fail "the KDE portal does not say Breeze Dark prefers dark ($(kde_portal_scheme)): is plasma-integration installed?"
grep -q "Panel look: dark (appearance automatic; desktop prefers dark, from portal)" "$work/app.log" ||
  fail "the panel did not take Breeze Dark from the KDE portal"
within 10 kwin_look_is dark || fail "the panel's pixels are not dark: $(kwin_seen)"
mkdir -p "$artifacts"
cp "$work/kwin-panel.png" "$artifacts/kwin-panel-dark.png"
cp /usr/share/color-schemes/BreezeLight.colors "$XDG_CONFIG_HOME/kdeglobals"
gdbus emit --session --object-path /KGlobalSettings --signal org.kde.KGlobalSettings.notifyChange 0 0 >/dev/null
within 10 grep -q "Panel look: light (appearance automatic; desktop prefers light, from portal)" "$work/app.log" ||
  fail "the panel did not follow Breeze Light through the KDE portal's SettingChanged"
within 10 kwin_look_is light || fail "the panel's pixels are not light: $(kwin_seen)"
cp "$work/kwin-panel.png" "$artifacts/kwin-panel-light.png"
echo "wayland-kde: the look dark from the KDE portal at start, light on its SettingChanged (screenshots kwin-panel-dark.png, kwin-panel-light.png)"

# 7. Meta+Shift+S held by another component: the program says which.
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
kglobalaccel org.kde.KGlobalAccel.unregister /kglobalaccel "'com.pendrel.publisher'" "'capture-clipboard'" >/dev/null
grabber="['org.example.grabber', 'grab-region', 'Grabber', 'Grab a Region']"
kglobalaccel org.kde.KGlobalAccel.doRegister /kglobalaccel "$grabber" >/dev/null
kglobalaccel org.kde.KGlobalAccel.setShortcut /kglobalaccel "$grabber" "[$super_shift_s]" 6 >/dev/null
start_app 'Super+Shift+S is taken by “Grab a Region” (Grabber)'
echo "wayland-kde: $(grep -o 'Keyboard shortcut: Super+Shift+S is taken.*' "$work/app.log" | tail -1)"

# 8. Other keys chosen in the program's settings (kept in appearance.conf)
# while the Grabber keeps Meta+Shift+S: kglobalaccel holds them for our
# action, and pressed through KWin's fake input they capture.
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
write_appearance 'shortcutKeys=Ctrl+Alt+O'
start_app 'Ctrl+Alt+O captures the clipboard.'
ctrl_alt_o=$(( 0x04000000 | 0x08000000 | 0x4f ))
kglobalaccel org.kde.KGlobalAccel.shortcut /kglobalaccel \
  "['com.pendrel.publisher', 'capture-clipboard', '', '']" | grep -q "\[$ctrl_alt_o\]" ||
  fail "kglobalaccel does not hold the chosen Ctrl+Alt+O for com.pendrel.publisher"
within 20 focused || fail "key presses do not reach the other program's window"
copy "Copied on KWin for the chosen keys"
"$press_keys" Ctrl+Alt+O 2>>"$work/press-keys.log" || { cat "$work/press-keys.log" >&2; fail "KWin refused the key press"; }
within 15 captured || fail "the chosen Ctrl+Alt+O did not capture the clipboard"
echo "wayland-kde: with Super+Shift+S held by the Grabber, the chosen Ctrl+Alt+O is bound and captures"
