#!/usr/bin/env bash
# Runs Quelm.exe under Wine in an X server the way a user would. First run: Build from the
# keyboard, the report box's title and text read as a user copies them (Ctrl+C), the box
# dismissed, the window closed like a window manager's close; Quelm.exe must exit 0 and leave
# file 1 of 10 bars, closed cleanly, in a new run folder under %LOCALAPPDATA%\Quelm. Second
# run: the Windows session ends while a report box is open, and the process is then ended as
# Windows ends it; the file must be closed all the same.
# Uses the X server in DISPLAY when one is given, else starts its own; WINEPREFIX must name a
# prefix that is ready. Every wait has a limit.
# Usage: wine-x11.sh <wine64> <Quelm.exe> <quelm-inspect.exe>
set -euo pipefail

wine=$1
quelm=$(realpath "$2")
inspect=$(realpath "$3")
here=$(cd "$(dirname "$0")" && pwd)
# Wine starts slowly the first time in a prefix.
limit=60
# shellcheck source=x11-support.sh
. "$here/x11-support.sh"

[ -n "${WINEPREFIX:-}" ] || die "WINEPREFIX is not set; make test-windows-gui makes the prefix"
[ -n "${DISPLAY:-}" ] || start_x_server

# A Windows path of this prefix as a path here; Wine's answers end in CR LF.
unix_path() {
  timeout "$limit" "$wine" winepath.exe -u "$1" 2>/dev/null | tr -d '\r'
}
local_app_data=$(timeout "$limit" "$wine" cmd.exe /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')
runs_root=$(unix_path "$local_app_data\\Quelm")
[ -n "$runs_root" ] || die "Wine could not say where %LOCALAPPDATA% is"
echo "runs go to $local_app_data\\Quelm ($runs_root)"

run_folders() {
  [ -d "$runs_root" ] && find "$runs_root" -mindepth 1 -maxdepth 1 -type d | sort
  true
}

start_quelm() {
  run_folders >"$work/runs-before"
  "$wine" "$quelm" >"$program_log" 2>&1 &
  program_pid=$!
  main=$(window_named '^Quelm File Builder$') || die "no 'Quelm File Builder' window"
  echo "window $main: '$(xdotool getwindowname "$main")'"
}

# press_build_for_file_one: Space on Build, which has the focus; waits for the report box.
press_build_for_file_one() {
  focus "$main"
  xdotool key space
  box=$(window_named '^File 1  Bars 10$') || die "no report box titled 'File 1  Bars 10'"
  echo "report box $box: '$(xdotool getwindowname "$box")'"
}

# What the clipboard holds. A read waits for the owner's answer, which Wine may never give for
# an empty Windows clipboard; so each read has a deadline of its own.
clipboard() {
  timeout 2 xclip -selection clipboard -o 2>/dev/null | tr -d '\r'
}

# check_the_new_run: exactly one new run folder, holding file 1 of 10 bars, valid and closed.
check_the_new_run() {
  run_folders >"$work/runs-after"
  local new
  new=$(comm -13 "$work/runs-before" "$work/runs-after")
  [ "$(printf '%s' "$new" | grep -c .)" -eq 1 ] ||
    die "expected one new run folder under $runs_root, found: '$new'"
  (cd "$new" && timeout "$limit" "$wine" "$inspect" --json 0001.qdf) \
    >"$work/inspect.json" 2>"$work/inspect.err" ||
    die "quelm-inspect.exe failed on $new: $(cat "$work/inspect.json" "$work/inspect.err")"
  python3 "$here/check-files.py" "$work/inspect.json" 1:10 ||
    die "the run's files are not as built; quelm-inspect said: $(cat "$work/inspect.json")"
  echo "file 1 of 10 bars in '$new' is valid and closed"
}

# First run: build, read the box, close the window.
start_quelm
geometry=$(xdotool getwindowgeometry "$main" | sed -n 's/^ *Geometry: //p')
[ "$geometry" = 267x204 ] || die "the window is $geometry, not 267x204"
press_build_for_file_one
focus "$box"
# Something else on the clipboard first, held until the box takes it over (or the limit); xclip
# says when it holds the clipboard.
(printf 'nothing yet' |
  timeout "$limit" xclip -selection clipboard -i -quiet >"$work/xclip.log" 2>&1 &)
until_ok "xclip to hold the clipboard" grep -q 'Waiting for selection requests' "$work/xclip.log"
xdotool key ctrl+c
expected=$(printf '%s\n' \
  --------------------------- 'File 1  Bars 10' --------------------------- \
  'File 1 has been created and is ready to take 10 bars of data.' --------------------------- \
  'OK   ' ---------------------------)
until_ok "the report box's text on the clipboard" test "$(clipboard)" = "$expected"
echo "the report box says: $(clipboard | sed -n 4p)"
xdotool key Return
until_ok "the report box to close" gone '^File 1  Bars 10$'
"$here/wm-close.py" "$main" || die "could not send the close request"
wait_for_exit
[ "$program_status" -eq 0 ] || die "Quelm.exe exited with status $program_status"
echo "Quelm.exe exited with status 0"
check_the_new_run

# Second run: the session ends while the report box is open. Wine sends WM_QUERYENDSESSION and
# WM_ENDSESSION as Windows does and then ends the process; should it still run, it is ended as
# hard as Windows may.
start_quelm
press_build_for_file_one
timeout "$limit" "$wine" wineboot.exe --end-session >>"$work/wineboot.log" 2>&1 ||
  die "wineboot --end-session failed: $(cat "$work/wineboot.log")"
kill -KILL "$program_pid" 2>/dev/null || true
wait_for_exit
echo "the session ended with the report box open; Quelm.exe was then ended"
check_the_new_run
