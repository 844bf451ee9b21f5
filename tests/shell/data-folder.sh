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
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
  exec dbus-run-session -- "$0" "$@"
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
echo "data-folder: unusable folders ($(( ${#unusable_cases[@]} )) kinds) are reported, the lock is private, hand-over works, SIGTERM quits cleanly"
