#!/usr/bin/env bash
# What ./run shows on a machine without a display: the tour runs to the end,
# a screenshot of every step is written and the article's address is told.
# Usage: headless-tour.sh <folder with the built programs> <screenshot folder>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="$(env -u DISPLAY -u WAYLAND_DISPLAY "$here/../../scripts/headless-tour" "$1" "$2" 2>&1)" || {
  printf '%s\n' "$out" >&2; echo "headless-tour: the tour failed" >&2; exit 1; }
printf '%s\n' "$out"
for step in 1-sign-in 2-sign-in-filled 3-signed-in 4-working 5-article-ready; do
  [ "$(file -b --mime-type "$2/$step.png" 2>/dev/null)" = image/png ] || {
    echo "headless-tour: no screenshot of $step" >&2; exit 1; }
done
[ ! -e "$2/failure.png" ] || { echo "headless-tour: a failure screenshot was taken" >&2; exit 1; }
grep -Eq '^tour: done\. The article is at https?://127\.0\.0\.1:[0-9]+/blog/night-trains-are-back$' <<<"$out" || {
  echo "headless-tour: the article's address was not told" >&2; exit 1; }
