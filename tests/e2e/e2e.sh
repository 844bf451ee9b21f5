#!/usr/bin/env bash
# The real pendrel-publisher on a virtual X11 desktop against a real
# pendrel-devservice: a tray host (trayer), keys and clicks from xdotool, the
# clipboard from xclip, a private D-Bus session with gnome-keyring and a
# recording notification server, and a recording browser.
# Usage: e2e.sh <folder with the built programs> <artifact folder>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="$(cd "$1" && pwd)"
mkdir -p "$2"
artifacts="$(cd "$2" && pwd)"
rm -f "$artifacts"/e2e-*.png

# A bus, a keyring and a home of our own.
if [ -z "${PENDREL_E2E_SESSION:-}" ]; then
  export PENDREL_E2E_SESSION=1
  exec dbus-run-session -- "$here/../../scripts/with-test-session" "$0" "$bin" "$artifacts"
fi

work="$(mktemp -d)"
pids=()
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  cp "$work"/*.log "$artifacts/" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

step() { echo "e2e: $*"; }
fail() {
  echo "e2e: FAILED: $*" >&2
  shot "failure" || true
  xwininfo -root -tree 2>/dev/null | grep -i pendrel >&2 || true
  for f in app devservice notifications browser; do
    [ -f "$work/$f.log" ] && { echo "--- $f.log" >&2; tail -n 40 "$work/$f.log" >&2; }
  done
  exit 1
}
shot() { import -window root "$artifacts/e2e-$1.png" 2>/dev/null; }

. "$here/../../scripts/desktop.sh"
# A taskbar at the bottom, as on most desktops: the panel opens upwards.
tray_edge=bottom
start_desktop

"$bin/fake-notifications" "$work/notifications.log" >"$work/notifier.out" 2>&1 &
pids+=($!)
within 10 grep -q ready "$work/notifier.out" || fail "the notification server did not start"
touch "$work/notifications.log"

# The browser: every address opened is written down instead.
mkdir -p "$work/path"
cat >"$work/path/xdg-open" <<EOF
#!/bin/sh
printf '%s\n' "\$1" >>"$work/browser.log"
EOF
chmod +x "$work/path/xdg-open"
cp "$work/path/xdg-open" "$work/path/browser"
export PATH="$work/path:$PATH" BROWSER="$work/path/browser"
touch "$work/browser.log"

"$bin/pendrel-devservice" --port 0 --data-dir "$work/service" >"$work/devservice.log" 2>&1 &
pids+=($!)
within 10 grep -q '^pendrel-devservice listening on ' "$work/devservice.log" || fail "the service did not start"
origin="$(sed -n 's/^pendrel-devservice listening on //p' "$work/devservice.log")"
service_state() { curl -fsS "$origin/_dev/state"; }
control() { curl -fsS -X POST "$origin/_dev/$1" >/dev/null; }

state_file="$XDG_DATA_HOME/PendrelPublisher/com-pendrel-publisher-dev/clipper-state.json"
job_count() { jq '(.jobs // []) | length' "$state_file" 2>/dev/null || echo 0; }
# The newest job's field, or nothing.
newest() { jq -r "(.jobs // []) | max_by(.createdAt) | $1 | select(. != null)" "$state_file" 2>/dev/null; }

start_app() {
  PENDREL_API_BASE_URL="$origin" QT_QPA_PLATFORM=xcb "$bin/pendrel-publisher" >>"$work/app.log" 2>&1 &
  app_pid=$!
}
job_done() { [ "$(newest .status)" = "$1" ] && [ "$(newest .processing)" = "false" ]; }

# 1. First launch: the icon, and a click opens the panel.
step "1. first launch"
start_app
within 20 icon_center || fail "no tray icon appeared"
open_panel || fail "a click on the icon did not open the panel"
sleep 0.5
shot "1-first-launch"

# 2. Sign in with the demo account, typed into the panel.
step "2. sign in"
fill_in_demo_account
xdotool key Return
within 20 grep -q 'GET /api/tenants 200' "$work/devservice.log" || fail "signing in did not reach the workspace"
within 10 grep -q 'GET /api/social-accounts 200' "$work/devservice.log" || true
# Signed in, the panel is taller; it grew upwards, above the tray, not over it.
above_tray() {
  local x y w h ix iy
  read -r x y w h <<<"$(panel_geometry)" && read -r ix iy <<<"$(icon_center)" || return 1
  [ "$h" = 760 ] && [ "$y" -ge 0 ] && [ $((y + h)) -le $((iy - 11)) ]
}
within 10 above_tray || fail "the signed-in panel is not above the tray: $(panel_geometry), icon $(icon_center)"
sleep 1
shot "2-signed-in"

# 3. Text on the clipboard and Super+Shift+S: an article, its notification,
# and a click on the notification opens it.
step "3. capture with the shortcut"
close_panel || true
capture_text "End-to-end capture $(date +%s): trains, timetables and the joy of punctual commuting."
has_job() { [ "$(job_count)" -ge 1 ]; }
within 10 has_job || fail "Super+Shift+S made no job"
within 90 job_done success || fail "the captured job did not succeed (status $(newest .status))"
url="$(newest .result.url)"
[ -n "$url" ] || fail "the finished job has no article address"
within 10 grep -q '"summary"' "$work/notifications.log" || fail "no notification was posted"
id="$(jq -r 'select(.body == "Your article is ready. Click to open.") | .id' "$work/notifications.log" | tail -n1)"
[ -n "$id" ] || fail "no success notification: $(cat "$work/notifications.log")"
dbus-send --session --dest=org.freedesktop.Notifications --type=method_call /control \
  test.pendrel.NotificationControl.Invoke "uint32:$id" string:default
within 10 grep -qxF "$url" "$work/browser.log" || fail "activating the notification did not open $url"
shot "3-article-ready"

# 4. A web address through the panel: extracted, saved, and paid for.
step "4. a web address"
before="$(service_state | jq .balance)"
open_panel || fail "the panel did not open"
sleep 0.5
xdotool type --delay 10 "$origin/samples/fast-builds"
xdotool key Return
address_job() { case "$(newest .clip.url)" in *"/samples/fast-builds"*) return 0 ;; *) return 1 ;; esac; }
within 10 address_job || fail "the address made no job"
within 90 job_done success || fail "the address job did not succeed (status $(newest .status))"
after="$(service_state | jq .balance)"
[ "$after" -lt "$before" ] || fail "the balance did not drop ($before -> $after)"
grep -q 'POST /api/documents/extract-text 200' "$work/devservice.log" || fail "nothing was extracted"
shot "4-address-done"
close_panel || true

# 5. Killed in the middle of the transform stage, started again: the job
# goes on from its checkpoints and is saved once.
step "5. SIGKILL mid-job"
articles_before="$(service_state | jq .articles)"
analyze_before="$(grep -c 'POST /api/blog/admin/analyze' "$work/devservice.log" || true)"
control "latency?ms=4000"
capture_text "Killed mid-job $(date +%s): a story about resilient queues that survive a crash."
transforming() { [ "$(newest .step)" = transform ]; }
within 30 transforming || fail "the job never reached the transform stage ($(newest .step))"
sleep 1
kill -9 "$app_pid"; wait "$app_pid" 2>/dev/null || true; app_pid=""
jq -e . "$state_file" >/dev/null || fail "the state file is damaged after SIGKILL"
killed_id="$(newest .id)"
control reset
start_app
within 120 job_done success || fail "the interrupted job did not complete after the restart"
[ "$(newest .id)" = "$killed_id" ] || fail "the restart made a new job instead of resuming"
articles_after="$(service_state | jq .articles)"
[ "$articles_after" -eq $((articles_before + 1)) ] || fail "saved $((articles_after - articles_before)) articles, not one"
analyze_after="$(grep -c 'POST /api/blog/admin/analyze' "$work/devservice.log")"
[ "$analyze_after" -eq $((analyze_before + 1)) ] || fail "analysis ran again after the restart"
jq -e . "$state_file" >/dev/null || fail "the state file is damaged"
shot "5-resumed"

# 6. A second launch hands over to the running one and exits.
step "6. second launch"
close_panel || true
timeout 20 env PENDREL_API_BASE_URL="$origin" QT_QPA_PLATFORM=xcb "$bin/pendrel-publisher" >>"$work/app.log" 2>&1 \
  || fail "the second launch did not exit cleanly"
within 10 panel_shown || fail "the running copy did not show its panel"
kill -0 "$app_pid" || fail "the first copy is gone"
shot "6-handed-over"
close_panel || true

# 7. The session ends mid-job: signed out with the reason, and the failure
# is notified.
step "7. session expired"
control "fail?path=/api/blog/admin/transform&status=401"
capture_text "Expired session $(date +%s): a piece about tokens and their lifetimes."
within 60 job_done error || fail "the job did not fail on the 401 (status $(newest .status))"
within 10 grep -q '"summary":"Article failed"' "$work/notifications.log" || fail "no failure notification"
open_panel || true
sleep 0.5
shot "7-signed-out"
# Signed out: the panel is back at the sign-in form (548 high).
signed_out() { panel_shown 440x548; }
within 10 signed_out || fail "the panel is not the sign-in view after the 401"
control reset
echo "e2e: all seven scenarios passed; screenshots in $artifacts"
