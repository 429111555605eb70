#!/usr/bin/env bash
# End-to-end tests of brom-demo on a virtual X server, with SDL's silent audio driver.
#
#   e2e.sh CASE DEMO SONG HELPERS_DIR OUT_DIR
#
# CASE is one of:
#   scene          a screenshot shows the scene (checked pixel by pixel); Escape then ends it with 0
#   escape         Escape ends the demo with status 0
#   close          a close request to its window ends the demo with status 0
#   missing-song   without the song: "Error loading song" on standard output and status 1
#   no-display     with no display to open: status 1 and nothing on standard output
#   no-mix-thread  when the mixing thread cannot start: "Error upon initialization." and status 1
# An ending with status 0 must also have stopped the music: its mixing thread joined
# (thread-watch.so, preloaded into every run, tells).
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
# a free display number itself and tells it on file descriptor 3. -noreset: by default the server
# resets whenever its last client leaves (xdpyinfo below, or SDL's own trial connection), and a
# client that connects during the reset is turned away; SDL would then take its "offscreen"
# driver, and on a busy machine that happened.
start_x() {
  Xvfb -displayfd 3 -screen 0 640x400x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
  done
  [ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  export DISPLAY=":$(head -n1 "$work/display")"
  # The number comes when the server listens; wait until it also answers.
  for _ in $(seq 100); do
    xdpyinfo >/dev/null 2>&1 && return
    sleep 0.1
  done
  fail "Xvfb on $DISPLAY does not answer: $(cat "$work/xvfb.log")"
}

# Runs the demo in its own working directory, with or without the song beside it.
start_demo() {
  mkdir -p "$work/run"
  [ "${1:-with-song}" = with-song ] && cp "$song" "$work/run/brom-boogie.xm"
  # In sanitizer builds the leak check is left to the scene's own tests: at the demo's exit the
  # system libraries under SDL (D-Bus, the OpenGL driver) report blocks whose frames cannot be
  # named, built as they are without frame pointers. The thread watch comes before the sanitizer's
  # runtime, so that it sees the thread's own start routine.
  local asan="verify_asan_link_order=0:detect_leaks=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
  local preload="$helpers/thread-watch.so"
  (cd "$work/run" && SDL_AUDIODRIVER=dummy ASAN_OPTIONS="$asan" \
     LD_PRELOAD="$preload" exec "$demo" >"$work/stdout" 2>"$work/stderr") &
  demo_pid=$!
}

# Waits up to 30 s for the demo to end; sets `status`.
wait_for_exit() {
  for _ in $(seq 300); do
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

# Does `$@` every 2 s until the demo ends (at most 30 s): on a busy machine a renderer may still
# replace its first window, and what was sent to that one is lost.
repeat_until_exit() {
  for _ in $(seq 15); do
    "$@"
    for _ in $(seq 20); do
      kill -0 "$demo_pid" 2>/dev/null || return 0
      sleep 0.1
    done
  done
}

send_close_request() {
  window=$(xdotool search --onlyvisible --name '^test$' 2>/dev/null | tail -n1)
  [ -z "$window" ] || "$helpers/send-close-request" "$window"
}

expect_quiet_exit_zero() {
  wait_for_exit
  [ "$status" -eq 0 ] || fail "status $status, expected 0"
  [ -s "$work/stdout" ] && fail "unexpected standard output"
  grep -qx "C++ library threads: 1 started, 1 joined" "$work/stderr" || fail "the mixing thread was not joined"
  echo "ended with status 0, the mixing thread joined"
}

case "$case_name" in
  scene)
    start_x
    start_demo
    wait_for_window
    # Until the first frames are up and the text has come into view (about 1.5 s at 60 frames a
    # second) the check fails; on a busy machine that takes a while, so it is tried for a minute.
    deadline=$((SECONDS + 60))
    while [ $SECONDS -lt $deadline ]; do
      sleep 2
      import -window root "$work/shot.png" || fail "no screenshot"
      convert "$work/shot.png" "$work/shot.ppm" || fail "cannot convert the screenshot"
      "$helpers/check-screenshot" "$work/shot.ppm"
      result=$?
      [ $result -eq 0 ] && break
    done
    mkdir -p "$out" && cp "$work/shot.png" "$out/e2e-screenshot.png"
    [ $result -eq 0 ] || fail "the screenshot does not show the scene (kept as $out/e2e-screenshot.png)"
    repeat_until_exit xdotool key Escape
    expect_quiet_exit_zero
    ;;
  escape)
    start_x
    start_demo
    wait_for_window
    sleep 1
    repeat_until_exit xdotool key Escape
    expect_quiet_exit_zero
    ;;
  close)
    start_x
    start_demo
    wait_for_window
    sleep 1
    repeat_until_exit send_close_request
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
  no-mix-thread)
    start_x
    export BROM_REFUSE_CXX_THREADS=1
    start_demo
    wait_for_exit
    [ "$status" -eq 1 ] || fail "status $status, expected 1"
    [ "$(cat "$work/stdout")" = "Error upon initialization." ] || fail "expected \"Error upon initialization.\" on standard output"
    echo "printed \"Error upon initialization.\" and ended with status 1"
    ;;
  *)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac
