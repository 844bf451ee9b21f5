#!/usr/bin/env bash
# `pendrel-publisher --capture` and `--show`, as a desktop's own shortcut
# runs them: the first starts the program when none runs and captures once it
# is up; later ones hand the action to the running copy over D-Bus and end
# with status 0; a running copy that cannot be reached is an error on stderr
# and a non-zero status.
# Usage: cli-actions.sh <pendrel-publisher>
set -euo pipefail
app="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
# A bus of its own: a copy of the program another test runs at the same time
# would otherwise own the name the hand-over goes to. The bus starts nothing
# on demand (no secret-store prompt, no notification daemon without a display).
if [ -z "${PENDREL_OWN_BUS:-}" ]; then
  PENDREL_OWN_BUS=1 exec dbus-run-session --config-file="$(dirname "$0")/quiet-session-bus.conf" -- "$0" "$@"
fi
. "$(dirname "$0")/shell-test.sh" cli-actions
start_desktop
# Nothing to talk to: the jobs fail, but each keeps the text it was made from.
export PENDREL_API_BASE_URL=http://127.0.0.1:1 QT_QPA_PLATFORM=xcb

"$app" --help >"$work/help.txt"
grep -q -- '--capture' "$work/help.txt" && grep -q -- '--show' "$work/help.txt" \
  || fail "--help does not list --capture and --show"

# Over ssh there is no display: what needs none still answers, with status 0.
nodisplay() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$app" "$@"; }
version="$(sed -n 's/^project(PendrelPublisher VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")"
for row in "--help|^Usage: .*pendrel-publisher \[options\]$" "--version|^Pendrel Publisher $version$" \
  "--check-installation|^Pendrel Publisher $version (.*), resources in .*pendrel-macos_PendrelPublisher\.bundle$"; do
  option="${row%%|*}" expected="${row#*|}" status=0
  nodisplay "$option" >"$work/nodisplay.txt" 2>&1 || status=$?
  [ "$status" -eq 0 ] || fail "$option without a display ended with status $status: $(cat "$work/nodisplay.txt")"
  grep -q -- "$expected" "$work/nodisplay.txt" || fail "$option without a display said: $(cat "$work/nodisplay.txt")"
done
nodisplay --help | grep -q -- '--capture' || fail "--help without a display does not list --capture"
status=0
nodisplay --no-such-option >"$work/nodisplay.txt" 2>&1 || status=$?
[ "$status" -eq 1 ] && grep -q "Unknown option 'no-such-option'" "$work/nodisplay.txt" \
  || fail "an unknown option without a display: status $status, $(cat "$work/nodisplay.txt")"

copy() {
  printf '%s' "$1" | xclip -selection clipboard -loops 0 &
  pids+=($!)
  sleep 0.3
}
# A job in the running copy's state file was made from this text.
job_with() {
  local f
  f="$(find "$XDG_DATA_HOME/PendrelPublisher" -name clipper-state.json 2>/dev/null | head -1)"
  [ -n "$f" ] && jq -e --arg t "$1" 'any(.jobs[]; .clip.text == $t)' "$f"
}

# 1. Nothing runs: this copy starts, and captures once it is up.
first_text="First capture $RANDOM"
copy "$first_text"
"$app" --capture >"$work/app.log" 2>&1 &
first=$!
pids+=("$first")
within 30 job_with "$first_text" || fail "--capture with no copy running did not capture"
within 10 icon_center || fail "the copy started by --capture shows no tray icon"

# 2. A second --capture: the running copy captures, the second one ends.
second_text="Second capture $RANDOM"
copy "$second_text"
status=0
timeout 30 "$app" --capture >"$work/second.log" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "the second --capture ended with status $status: $(cat "$work/second.log")"
within 10 job_with "$second_text" || fail "the running copy did not capture for the second --capture"

# 3. --show opens the running copy's panel.
within 10 panel_shown || fail "a capture did not show the panel"
close_panel || fail "the panel did not close"
status=0
timeout 30 "$app" --show >"$work/show.log" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "--show ended with status $status: $(cat "$work/show.log")"
within 10 panel_shown || fail "--show did not open the running copy's panel"
kill -0 "$first" || fail "the first copy is gone"

# 4. The running copy on a bus this one cannot see (another session), and no
# bus at all: said on stderr, status non-zero, nothing captured.
copy "Never captured"
for bus in other none; do
  status=0
  if [ "$bus" = other ]; then
    timeout 30 dbus-run-session -- "$app" --capture >"$work/unreached.log" 2>&1 || status=$?
  else
    DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" timeout 30 "$app" --capture >"$work/unreached.log" 2>&1 \
      || status=$?
  fi
  [ "$status" -ne 0 ] && [ "$status" -ne 124 ] || fail "$bus bus: status $status, not a failure"
  grep -q "running copy (process $first)" "$work/unreached.log" \
    || fail "$bus bus: stderr does not say which copy was not reached: $(cat "$work/unreached.log")"
done
! job_with "Never captured" || fail "an unreached copy captured"

# 5. The state file is read while the program starts: a new copy started by
# --capture has the earlier jobs and adds its own; a file that does not
# decode is kept aside, and the new copy starts afresh.
state="$(find "$XDG_DATA_HOME/PendrelPublisher" -name clipper-state.json | head -1)"
restart_capturing() {
  kill -TERM "$first"; wait "$first" || true
  copy "$1"
  "$app" --capture >"$work/app.log" 2>&1 &
  first=$!
  pids+=("$first")
}
third_text="Third capture $RANDOM"
restart_capturing "$third_text"
within 30 job_with "$third_text" || fail "the restarted copy did not capture"
job_with "$first_text" && job_with "$second_text" || fail "the restarted copy lost the earlier jobs"
printf '{"jobs": 7, "settings": {}}' >"$state"
fourth_text="Fourth capture $RANDOM"
restart_capturing "$fourth_text"
within 30 job_with "$fourth_text" || fail "the copy started on a file that does not decode did not capture"
! job_with "$first_text" || fail "jobs came from a file that does not decode"
grep -q '"jobs": 7' "$state".unreadable-* || fail "the file that does not decode was not kept aside"
echo "cli-actions: --capture and --show start the program or reach the running copy; an unreachable one is reported;" \
  "a restart keeps the jobs, and a file that does not decode is kept aside"
