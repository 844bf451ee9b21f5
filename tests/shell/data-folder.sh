#!/usr/bin/env bash
# A data folder the program cannot use ends it at once with a non-zero
# status and the folder and reason on stderr (and in a window when there is
# a display), instead of passing for a second copy; a second copy with a
# usable folder still hands over to the first, and the instance lock is
# private to the user.
# Usage: data-folder.sh <pendrel-publisher>
set -euo pipefail
app="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
# The hand-over goes over D-Bus.
# A bus of its own: a copy of the program another test runs at the same time
# would otherwise own the name the hand-over goes to. The bus starts nothing
# on demand (no secret-store prompt, no notification daemon without a display).
if [ -z "${PENDREL_OWN_BUS:-}" ]; then
  PENDREL_OWN_BUS=1 exec dbus-run-session --config-file="$(dirname "$0")/quiet-session-bus.conf" -- "$0" "$@"
fi
. "$(dirname "$0")/shell-test.sh" data-folder
mounted=()
immutable=()
release() {
  local m
  for m in "${mounted[@]}"; do umount "$m" 2>/dev/null || true; done
  for m in "${immutable[@]}"; do chattr -i "$m" 2>/dev/null || true; done
  cleanup
}
trap release EXIT
export PENDREL_API_BASE_URL=http://127.0.0.1:1

# Each case prepares a data home ($1 names it) and prints it with the
# reason the system gives.
unusable_cases=()
touch "$work/plain-file"
unusable_cases+=("$work/plain-file/data|Not a directory")
mkdir -p "$work/ro"
if mount --bind "$work/ro" "$work/ro" 2>/dev/null; then
  mounted+=("$work/ro")
  mount -o remount,bind,ro "$work/ro" 2>/dev/null && unusable_cases+=("$work/ro|Read-only file system")
fi
mkdir -p "$work/immutable"
if chattr +i "$work/immutable" 2>/dev/null; then
  immutable+=("$work/immutable")
  unusable_cases+=("$work/immutable|Operation not permitted")
fi
if [ "$(id -u)" -ne 0 ]; then
  mkdir -p "$work/no-write"; chmod 500 "$work/no-write"
  unusable_cases+=("$work/no-write|Permission denied")
fi

for c in "${unusable_cases[@]}"; do
  home="${c%%|*}" reason="${c#*|}"
  status=0
  XDG_DATA_HOME="$home" QT_QPA_PLATFORM=offscreen timeout 30 "$app" >"$work/app.log" 2>&1 || status=$?
  [ "$status" -ne 0 ] && [ "$status" -ne 124 ] || fail "$home: exit status $status, not a failure"
  grep -q "data folder $home/PendrelPublisher/.*$reason" "$work/app.log" \
    || fail "$home: stderr does not name the folder and '$reason'"
done

# Another user's folder and another user's state file, met by the program
# running as a user of its own (root passes every permission check).
other_user_cases=0
# (Each program replaces the one before: the pid is the program's own.)
as_nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups
  env -u DBUS_SESSION_BUS_ADDRESS -u XDG_RUNTIME_DIR HOME="$work/nobody-home" QT_QPA_PLATFORM=offscreen)
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null && "${as_nobody[@]}" test -x "$app" 2>/dev/null; then
  chmod 755 "$work"
  mkdir -p "$work/nobody-home" "$work/others/PendrelPublisher" "$work/mine"
  chown 65534:65534 "$work/nobody-home" "$work/mine"
  # The data folder belongs to someone else.
  status=0
  XDG_DATA_HOME="$work/others" "${as_nobody[@]}" timeout 30 "$app" >"$work/app.log" 2>&1 || status=$?
  [ "$status" -ne 0 ] && [ "$status" -ne 124 ] || fail "another user's folder: exit status $status"
  grep -q "data folder $work/others/PendrelPublisher/.*Permission denied" "$work/app.log" \
    || fail "another user's folder: stderr does not say so"
  # The state file belongs to someone else: kept aside whole, never replaced.
  XDG_DATA_HOME="$work/mine" "${as_nobody[@]}" "$app" >"$work/app.log" 2>&1 &
  pid=$!; pids+=("$pid")
  state_file() { find "$work/mine/PendrelPublisher" -name clipper-state.json | grep .; }
  within 20 state_file || fail "no state file was made"
  kill -TERM "$pid"; wait "$pid" || true
  file="$(state_file)"
  printf '{"precious": true}' >"$file"; chown 0:0 "$file"; chmod 600 "$file"
  XDG_DATA_HOME="$work/mine" "${as_nobody[@]}" "$app" >"$work/app.log" 2>&1 &
  pid=$!; pids+=("$pid")
  aside() { find "$work/mine/PendrelPublisher" -name 'clipper-state.json.unreadable-*' | grep .; }
  within 20 aside || fail "another user's state file was not kept aside"
  owned_by_nobody() { [ "$(stat -c %u "$file" 2>/dev/null)" = 65534 ]; }
  within 20 owned_by_nobody || fail "no new state file in its place"
  kill -TERM "$pid"; wait "$pid" || true
  [ "$(cat "$(aside)")" = '{"precious": true}' ] || fail "another user's state file was changed"
  grep -q "cannot read the state file (.*Permission denied" "$work/app.log" || fail "the log does not say why"
  other_user_cases=2
fi

# With a display the reason is shown in a window, and the program ends once
# it is closed.
start_display
XDG_DATA_HOME="$work/plain-file/data" QT_QPA_PLATFORM=xcb "$app" >"$work/app.log" 2>&1 &
box_pid=$!
pids+=("$box_pid")
message_box() { xdotool search --onlyvisible --name '^Pendrel Publisher$' | head -1 | grep .; }
within 20 message_box || fail "no window tells that the folder cannot be used"
xdotool windowfocus --sync "$(message_box)" key Return
status=0
wait "$box_pid" || status=$?
[ "$status" -ne 0 ] || fail "the program ended with status 0 after the message"

# The first copy holds a private lock; a second copy hands over and ends.
QT_QPA_PLATFORM=offscreen "$app" >"$work/first.log" 2>&1 &
first=$!
pids+=("$first")
lock_file() { find "$XDG_DATA_HOME/PendrelPublisher" -name instance.lock | grep .; }
within 20 lock_file || fail "the first copy made no instance lock"
[ "$(stat -c %a "$(lock_file)")" = 600 ] || fail "instance.lock has mode $(stat -c %a "$(lock_file)"), not 600"
dbus-monitor "interface='com.pendrel.publisher.Instance',member='ShowPanel'" >"$work/monitor.log" 2>&1 &
pids+=($!)
# The monitor is listening once it has been given its name.
within 10 grep -q NameAcquired "$work/monitor.log" || fail "dbus-monitor did not start"
QT_QPA_PLATFORM=offscreen timeout 30 "$app" >"$work/app.log" 2>&1 || fail "the second copy did not end with status 0"
within 10 grep -q 'member=ShowPanel' "$work/monitor.log" || fail "the second copy did not ask the first to show its panel"
kill -0 "$first" || fail "the first copy is gone"
# The session manager's SIGTERM ends it through its normal shutdown.
kill -TERM "$first"
status=0
wait "$first" || status=$?
[ "$status" -eq 0 ] || fail "SIGTERM ended the program with status $status, not through its shutdown"
echo "data-folder: unusable folders ($(( ${#unusable_cases[@]} )) kinds, $other_user_cases of another user) are reported, the lock is private, hand-over works, SIGTERM quits cleanly"
