# What the tests that drive a program in a real X server share; sourced by them.
# Every wait has a limit ($limit seconds) and fails the test when it runs out; none is a fixed
# pause. It gives the sourcing script `work`, a scratch folder removed at exit, and
# `program_log`, the file for the program's output; the script sets `program_pid` once the
# program runs. At exit the program and the X server started here are stopped.

limit=${limit:-20}
xvfb_pid=
program_pid=
work=$(mktemp -d)
program_log=$work/quelm.log

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

die() {
  set +e
  echo "FAIL: $*" >&2
  if [ -n "${DISPLAY:-}" ]; then
    echo "windows on screen:" >&2
    xdotool search --onlyvisible --name '.' 2>/dev/null | while read -r w; do
      echo "  $w '$(xdotool getwindowname "$w" 2>/dev/null)'" >&2
    done
  fi
  [ -n "$program_log" ] && [ -f "$program_log" ] && {
    echo "the program's output:" >&2
    cat "$program_log" >&2
  }
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

# start_x_server: an Xvfb of its own, on a display number it picks itself (written to fd 3);
# sets DISPLAY.
start_x_server() {
  Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  until_ok "Xvfb to start" test -s "$work/display"
  export DISPLAY=:$(head -n1 "$work/display")
  echo "X server on $DISPLAY"
}

# window_named <regex>: prints the id of a visible window whose title matches, waiting for it
# while the program runs.
window_named() {
  local deadline=$((SECONDS + limit)) found
  until found=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1) && [ -n "$found" ]; do
    exited "$program_pid" && { echo "the program ended early" >&2; return 1; }
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

# wait_for_exit: waits (up to $limit seconds) for the program to end, and sets program_status
# to its exit status.
wait_for_exit() {
  until_ok "the program to exit" exited "$program_pid"
  program_status=0
  wait "$program_pid" || program_status=$?
  program_pid=
}

cleanup() {
  stop "$program_pid"
  stop "$xvfb_pid"
  rm -rf "$work"
}
trap cleanup EXIT
