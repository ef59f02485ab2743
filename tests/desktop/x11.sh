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
# shellcheck source=x11-support.sh
. "$here/x11-support.sh"

start_x_server

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
"$quelm" >"$program_log" 2>&1 &
program_pid=$!

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
wait_for_exit
[ "$program_status" -eq 0 ] || die "quelm exited with status $program_status"
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
