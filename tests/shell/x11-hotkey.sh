#!/usr/bin/env bash
# Runs tst_x11hotkey on a real X server (Xvfb) of its own, where another
# client holds Super+Shift+S and presses come through XTest (xdotool).
# Usage: x11-hotkey.sh <tst_x11hotkey>
set -euo pipefail
test_program="$1"
. "$(dirname "$0")/shell-test.sh" x11-hotkey
start_display
QT_QPA_PLATFORM=xcb "$test_program"
