#!/usr/bin/env bash
# End-to-end tests of brom-demo on a virtual X server, with SDL's silent audio driver.
#
#   e2e.sh CASE DEMO SONG HELPERS_DIR OUT_DIR
#
# CASE is one of:
#   scene         a screenshot shows the scene (checked pixel by pixel); Escape then ends it with 0
#   escape        Escape ends the demo with status 0
#   close         a close request to its window ends the demo with status 0
#   missing-song  without the song: "Error loading song" on standard output and status 1
#   no-display    with no display to open: status 1 and nothing on standard output
set -uo pipefail

case_name=$1 demo=$2 song=$3 helpers=$4 out=$5
work=$(mktemp -d)
xvfb_pid="" demo_pid=""

cleanup() {
  [ -n "$demo_pid" ] && kill "$demo_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  for f in "$work"/stdout "$work"/stderr; do
    [ -s "$f" ] && { echo "--- $(basename "$f"):" >&2; cat "$f" >&2; }
  done
  exit 1
}

# A virtual screen of 640 x 400: the 320 x 200 frame shows at exactly twice its size. Xvfb picks
# a free display number itself and tells it on file descriptor 3.
start_x() {
  Xvfb -displayfd 3 -screen 0 640x400x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
  done
  [ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  export DISPLAY=":$(head -n1 "$work/display")"
}

# Runs the demo in its own working directory, with or without the song beside it.
start_demo() {
  mkdir -p "$work/run"
  [ "${1:-with-song}" = with-song ] && cp "$song" "$work/run/brom-boogie.xm"
  (cd "$work/run" && SDL_AUDIODRIVER=dummy exec "$demo" >"$work/stdout" 2>"$work/stderr") &
  demo_pid=$!
}

# Waits up to 15 s for the demo to end; sets `status`.
wait_for_exit() {
  for _ in $(seq 150); do
    kill -0 "$demo_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$demo_pid" 2>/dev/null && fail "the demo did not end"
  wait "$demo_pid"
  status=$?
  demo_pid=""
}

# Waits up to 15 s for the demo's window; sets `window`.
wait_for_window() {
  for _ in $(seq 150); do
    window=$(xdotool search --onlyvisible --name '^test$' 2>/dev/null | tail -n1)
    [ -n "$window" ] && return
    kill -0 "$demo_pid" 2>/dev/null || { wait_for_exit; fail "the demo ended with $status before showing its window"; }
    sleep 0.1
  done
  fail "no window named \"test\" appeared"
}

expect_quiet_exit_zero() {
  wait_for_exit
  [ "$status" -eq 0 ] || fail "status $status, expected 0"
  [ -s "$work/stdout" ] && fail "unexpected standard output"
  echo "ended with status 0"
}

case "$case_name" in
  scene)
    start_x
    start_demo
    wait_for_window
    sleep 5  # the text needs about 1.5 s to come into view
    import -window root "$work/shot.png" || fail "no screenshot"
    mkdir -p "$out" && cp "$work/shot.png" "$out/e2e-screenshot.png"
    convert "$work/shot.png" "$work/shot.ppm" || fail "cannot convert the screenshot"
    "$helpers/check-screenshot" "$work/shot.ppm" || fail "the screenshot does not show the scene (kept as $out/e2e-screenshot.png)"
    xdotool key Escape
    expect_quiet_exit_zero
    ;;
  escape)
    start_x
    start_demo
    wait_for_window
    sleep 1
    xdotool key Escape
    expect_quiet_exit_zero
    ;;
  close)
    start_x
    start_demo
    wait_for_window
    sleep 1
    wait_for_window  # again: a renderer may have replaced the first window
    "$helpers/send-close-request" "$window" || fail "cannot send the close request"
    expect_quiet_exit_zero
    ;;
  missing-song)
    start_x
    start_demo without-song
    wait_for_exit
    [ "$status" -eq 1 ] || fail "status $status, expected 1"
    [ "$(cat "$work/stdout")" = "Error loading song" ] || fail "expected \"Error loading song\" on standard output"
    echo "printed \"Error loading song\" and ended with status 1"
    ;;
  no-display)
    unset DISPLAY WAYLAND_DISPLAY SDL_VIDEODRIVER
    start_demo
    wait_for_exit
    [ "$status" -eq 1 ] || fail "status $status, expected 1"
    [ -s "$work/stdout" ] && fail "unexpected standard output"
    echo "ended with status 1, silently: $(cat "$work/stderr")"
    ;;
  *)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac
