# The frame of the shell tests that run the real program on a virtual
# desktop: a scratch folder as home, the processes started stopped at exit,
# fail() with the program's log, and the desktop helpers.
# Source it as: . "$(dirname "$0")/shell-test.sh" <test name>
test_name="$1"
work="$(mktemp -d)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "$test_name: $*" >&2
  [ -f "$work/app.log" ] && sed 's/^/  app: /' "$work/app.log" >&2
  exit 1
}

export HOME="$work/home" XDG_DATA_HOME="$work/home/data" XDG_CONFIG_HOME="$work/home/config"
export XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# The settings kept beside the tray icon style, for both bundle folders
# (the development build's and the release's):
#   write_appearance 'shortcutKeys=Ctrl+Alt+P' 'panelAppearance=light'
write_appearance() {
  local folder file
  for folder in com-pendrel-publisher-dev com-pendrel-publisher; do
    file="$XDG_CONFIG_HOME/PendrelPublisher/$folder/appearance.conf"
    mkdir -p "${file%/*}"
    printf '[General]\n' >"$file"
    printf '%s\n' "$@" >>"$file"
    chmod a+rw "$file" # sway's test runs the program as another user
  done
}

# The tone of a picture at the given points ("x,y" each): "light" where all
# are 200 or more (grey, 0 to 255), "dark" where all are 50 or less, else
# "mixed". The samples go to $work/samples for failure messages.
image_tone() {
  local image="$1" p v t tone=""
  shift
  : >"$work/samples"
  for p in "$@"; do
    v="$(convert "$image" -crop "1x1+${p%,*}+${p#*,}" -colorspace gray -format '%[fx:int(255*u)]' info:)"
    echo "$p=$v" >>"$work/samples"
    if [ "$v" -ge 200 ]; then t=light; elif [ "$v" -le 50 ]; then t=dark; else t=mixed; fi
    [ -z "$tone" ] || [ "$tone" = "$t" ] || t=mixed
    tone="$t"
  done
  echo "$tone"
}

. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/desktop.sh"
