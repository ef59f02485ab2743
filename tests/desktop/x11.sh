#!/usr/bin/env bash
# Runs quelm in a real X server (Xvfb) the way a user would: four builds from the keyboard,
# each report box checked by its title and dismissed, the fourth with a typed count, then a
# close request like a window manager's. Checks that quelm exits 0 and, with quelm-inspect,
# that files 1 to 4 exist with the right capacities and were closed cleanly.
# Every wait has a generous limit and fails the test when it runs out; none is a fixed pause.
# Usage: x11.sh <quelm> <quelm-inspect> <screenshot.png>
set -euo pipefail

quelm=$1
inspect=$2
screenshot=$3
here=$(cd "$(dirname "$0")" && pwd)
limit=20

work=$(mktemp -d)
xvfb_pid=
quelm_pid=

# exited <pid>: true once the child has ended (gone, or a zombie waiting to be reaped).
exited() {
  local state
  state=$(ps -o stat= -p "$1") || return 0
  [[ $state == Z* ]]
}

# stop <pid>: ends a child of this script, forcefully if it ignores SIGTERM for ten seconds.
stop() {
  local pid=$1 deadline=$((SECONDS + 10))
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
  kill "$pid" 2>/dev/null || true
  while ! exited "$pid" && [ $SECONDS -lt $deadline ]; do sleep 0.1; done
  exited "$pid" || kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

cleanup() {
  stop "$quelm_pid"
  stop "$xvfb_pid"
  rm -rf "$work"
}

trap cleanup EXIT

die() {
  set +e
  echo "FAIL: $*" >&2
  if [ -n "${DISPLAY:-}" ]; then
    echo "windows on screen:" >&2
    xdotool search --onlyvisible --name '.' 2>/dev/null | while read -r w; do
      echo "  $w '$(xdotool getwindowname "$w" 2>/dev/null)'" >&2
    done
  fi
  [ -f "$work/quelm.log" ] && { echo "quelm's output:" >&2; cat "$work/quelm.log" >&2; }
  exit 1
}

# until_ok <what> <command...>: runs the command every tenth of a second until it succeeds,
# failing the test after $limit seconds.
until_ok() {
  local what=$1
  shift
  local deadline=$((SECONDS + limit))
  until "$@"; do
    [ $SECONDS -lt $deadline ] || die "gave up after ${limit}s waiting for $what"
    sleep 0.1
  done
}

# The X server picks a free display number itself and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
until_ok "Xvfb to start" test -s "$work/display"
export DISPLAY=:$(head -n1 "$work/display")
echo "X server on $DISPLAY"

# A real X11 window, whatever the calling environment asked for.
unset WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb
export XDG_DATA_HOME=$work/data
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

# libxkbcommon-x11 hands strndup a buffer without a closing NUL; strndup reads no further than
# its bound, but ASan's strict string checks flag it, so a sanitizer build runs without them.
if [ -n "${ASAN_OPTIONS:-}" ]; then
  export ASAN_OPTIONS=$ASAN_OPTIONS:strict_string_checks=0
fi
"$quelm" >"$work/quelm.log" 2>&1 &
quelm_pid=$!

# window_named <regex>: prints the id of a visible window whose title matches, waiting for it
# while quelm runs.
window_named() {
  local deadline=$((SECONDS + limit)) found
  until found=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1) && [ -n "$found" ]; do
    exited "$quelm_pid" && { echo "quelm ended early" >&2; return 1; }
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.1
  done
  echo "$found"
}

# gone <regex>: true once no visible window has that title.
gone() {
  ! xdotool search --onlyvisible --name "$1" >/dev/null 2>&1
}

focus() {
  xdotool windowfocus --sync "$1"
}

main=$(window_named '^Quelm File Builder$') || die "no 'Quelm File Builder' window"
echo "window $main: '$(xdotool getwindowname "$main")'"

# build <file> <bars>: presses Space on the focused Build button, checks the report box's
# title and dismisses it with Return.
build() {
  local title="^File $1  Bars $2\$"
  focus "$main"
  xdotool key space
  local box
  box=$(window_named "$title") || die "no report box titled 'File $1  Bars $2'"
  echo "report box $box: '$(xdotool getwindowname "$box")'"
  focus "$box"
  xdotool key Return
  until_ok "the report box of file $1 to close" gone "$title"
}

build 1 10
build 2 10
build 3 10

# Tab moves from Build to the text box; select what is there and type the new count, then
# Tab back to Build.
focus "$main"
xdotool key Tab ctrl+a
xdotool type --delay 50 25
xdotool key Tab
import -window "$main" "$screenshot" || die "could not grab the window"
echo "screenshot: $screenshot"
build 4 25

# Close the window as a window manager would on the user's click; quelm must end by itself.
"$here/wm-close.py" "$main" || die "could not send the close request"
until_ok "quelm to exit" exited "$quelm_pid"
status=0
wait "$quelm_pid" || status=$?
quelm_pid=

[ "$status" -eq 0 ] || die "quelm exited with status $status"
echo "quelm exited with status 0"

# One run folder holding files 1 to 4, each valid, closed, with its bars' capacity.
shopt -s nullglob
runs=("$XDG_DATA_HOME"/Quelm/*/)
[ ${#runs[@]} -eq 1 ] || die "expected one run folder under $XDG_DATA_HOME/Quelm, found ${#runs[@]}"
files=("${runs[0]}"*)
[ ${#files[@]} -gt 0 ] || die "the run folder ${runs[0]} is empty"
"$inspect" --json "${files[@]}" >"$work/inspect.json" || die "quelm-inspect failed: $(cat "$work/inspect.json")"
python3 "$here/check-files.py" "$work/inspect.json" 1:10 2:10 3:10 4:25 ||
  die "the data files are not as built; quelm-inspect said: $(cat "$work/inspect.json")"
echo "files 1 to 4 are valid and closed with capacities 10, 10, 10 and 25"
